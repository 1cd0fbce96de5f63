#include "form_registry.h"

#include <set>

#include "escape.h"
#include "file_stamp.h"
#include "masks.h"
#include "store_files.h"

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int64_t KeyMemo::Find(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = records_.find(key);
  return it == records_.end() ? -1 : it->second;
}

void KeyMemo::Remember(const std::string& key, int64_t record) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (records_.size() >= kMaxKeys) records_.clear();
  records_[key] = record;
}

bool IsServableName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  // Names the service's own routes take.
  return name != "api" && name != "static" && name != "favicon.ico";
}

struct FormRegistry::Slot {
  std::string name;
  std::string form_path;
  std::string store_dir;
  mutable std::mutex mutex;               // guards current and stamps
  std::shared_ptr<const ServedForm> current;
  std::vector<std::pair<std::string, FileStamp>> stamps;  // the files watched, as last seen

  // The files whose change reloads the form, as `engine` names them.
  std::vector<std::string> WatchedFiles(const Engine* engine) const {
    std::vector<std::string> files = {form_path, form_path + ".0", form_path + ".1", form_path + ".c0",
                                      StoreFilePath(store_dir, kInfoFile), StoreFilePath(store_dir, kHeaderIndexFile)};
    if (engine == nullptr) return files;
    std::set<std::string> tables;
    for (const TableDesc& table : engine->form().tables)
      if (table.named) tables.insert(StoreFilePath(store_dir, table.file_name));
    files.insert(files.end(), tables.begin(), tables.end());
    return files;
  }

  std::vector<std::pair<std::string, FileStamp>> Stamp(const Engine* engine) const {
    std::vector<std::pair<std::string, FileStamp>> stamps;
    for (std::string& file : WatchedFiles(engine)) {
      FileStamp stamp = StampOf(file);
      stamps.emplace_back(std::move(file), stamp);
    }
    return stamps;
  }

  Status Load(std::shared_ptr<const ServedForm>* loaded, std::vector<std::string>* warnings) const {
    EngineOptions options;
    options.store_dir = store_dir;
    options.form_path = form_path;
    std::unique_ptr<Engine> engine;
    Status s = Engine::Load(options, &engine, warnings);
    if (!s.ok()) return s;
    auto form = std::make_shared<ServedForm>();
    form->name = name;
    s = LoadMask(form_path + ".0", &form->header_mask);
    if (s.ok()) s = LoadMask(form_path + ".1", &form->detail_mask);
    if (!s.ok()) return s;
    // The first reader opened on an engine takes over the files the load
    // opened, and with them the record count as it was then; a reader
    // opened and dropped here takes them, so every request's reader opens
    // the store afresh and sees it as it is (grown, or gone).
    { RecordReader spare; (void)spare.Open(*engine); }
    form->engine = std::move(engine);
    *loaded = std::move(form);
    return Status::Ok();
  }
};

FormRegistry::~FormRegistry() = default;

Status FormRegistry::Open(const std::string& store_dir, const std::vector<std::string>& forms,
                          std::unique_ptr<FormRegistry>* registry, std::vector<std::string>* warnings) {
  std::unique_ptr<FormRegistry> r(new FormRegistry());
  r->store_dir_ = store_dir;
  std::set<std::string> seen;
  for (const std::string& form : forms) {
    auto slot = std::make_unique<Slot>();
    slot->name = BaseName(form);
    slot->form_path = form.find('/') == std::string::npos ? StoreFilePath(store_dir, form) : form;
    slot->store_dir = store_dir;
    if (!IsServableName(slot->name))
      return Status::Error("form '" + EscapeControlBytes(form) +
                           "': its name must be letters, digits, '_', '-' or '.', and not api or static");
    if (!seen.insert(slot->name).second)
      return Status::Error("form '" + EscapeControlBytes(form) + "': a form of that name is served already");
    std::shared_ptr<const ServedForm> loaded;
    Status s = slot->Load(&loaded, warnings);
    if (!s.ok()) return Status::Error("form '" + EscapeControlBytes(form) + "': " + s.message());
    slot->stamps = slot->Stamp(loaded->engine.get());
    slot->current = std::move(loaded);
    r->slots_.push_back(std::move(slot));
  }
  *registry = std::move(r);
  return Status::Ok();
}

std::shared_ptr<const ServedForm> FormRegistry::Find(std::string_view name) const {
  for (const auto& slot : slots_) {
    if (slot->name != name) continue;
    std::lock_guard<std::mutex> lock(slot->mutex);
    return slot->current;
  }
  return nullptr;
}

std::vector<std::string> FormRegistry::names() const {
  std::vector<std::string> names;
  for (const auto& slot : slots_) names.push_back(slot->name);
  return names;
}

void FormRegistry::Refresh(std::vector<std::string>* messages) {
  for (const auto& slot : slots_) {
    std::shared_ptr<const ServedForm> current = Find(slot->name);
    auto stamps = slot->Stamp(current->engine.get());
    {
      std::lock_guard<std::mutex> lock(slot->mutex);
      if (stamps == slot->stamps) continue;
      slot->stamps = stamps;
    }
    std::shared_ptr<const ServedForm> loaded;
    std::vector<std::string> warnings;
    Status s = slot->Load(&loaded, &warnings);
    if (!s.ok()) {
      messages->push_back("form '" + slot->name + "' not reloaded, the last one loaded stays: " + s.message());
      continue;
    }
    std::lock_guard<std::mutex> lock(slot->mutex);
    slot->current = std::move(loaded);
    messages->push_back("form '" + slot->name + "' reloaded");
  }
}
