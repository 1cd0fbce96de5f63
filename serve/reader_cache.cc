#include "reader_cache.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

struct Stamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const std::string& path) {
  struct stat st;
  Stamp stamp;
  if (stat(path.c_str(), &st) != 0) return stamp;
  stamp = {true, st.st_dev, st.st_ino, st.st_size, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
  return stamp;
}

std::string StorePath(const ServedForm& form, const char* name) {
  const std::string& dir = form.engine->options().store_dir;
  return dir.empty() || dir == "." ? std::string(name) : dir + "/" + name;
}

struct Kept {
  std::shared_ptr<const ServedForm> form;  // keeps the engine the reader reads
  Stamp info;
  Stamp head;
  std::unique_ptr<RecordReader> reader;
};

thread_local std::vector<Kept> kept;

}  // namespace

Status LendReader(const std::shared_ptr<const ServedForm>& form, RecordReader** reader) {
  const Stamp info = StampOf(StorePath(*form, "INFO"));
  const Stamp head = StampOf(StorePath(*form, "HEAD"));
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
