#include "reader_cache.h"

#include <string>
#include <vector>

#include "file_stamp.h"
#include "store_files.h"

namespace {

struct Kept {
  std::shared_ptr<const ServedForm> form;  // keeps the engine the reader reads
  FileStamp info;
  FileStamp head;
  std::unique_ptr<RecordReader> reader;
};

thread_local std::vector<Kept> kept;

}  // namespace

Status LendReader(const std::shared_ptr<const ServedForm>& form, RecordReader** reader) {
  const std::string& dir = form->engine->options().store_dir;
  const FileStamp info = StampOf(StoreFilePath(dir, kInfoFile));
  const FileStamp head = StampOf(StoreFilePath(dir, kHeadFile));
  if (!info.exists) return Status::Error("the store's INFO cannot be seen");
  Kept* slot = nullptr;
  for (Kept& k : kept)
    if (k.form->name == form->name) slot = &k;
  if (slot != nullptr && slot->form == form && slot->info == info && slot->head == head) {
    *reader = slot->reader.get();
    return Status::Ok();
  }
  auto fresh = std::make_unique<RecordReader>();
  Status s = fresh->Open(*form->engine);
  if (!s.ok()) return s;
  if (slot == nullptr) slot = &kept.emplace_back();
  *slot = {form, info, head, std::move(fresh)};
  *reader = slot->reader.get();
  return Status::Ok();
}
