// Lookups: planning which fields each record resolves, finding keys
// (scans, then an index), fetching descriptions, and filling key and derived
// fields of headers and detail lines. Reading the keys is lookup_keys.cc's.
#include "lookup_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "file_io.h"
#include "short_copy.h"
#include "store_files.h"

namespace {

// Table files up to this size are read whole once; larger ones are read
// with one positioned read per description.
constexpr int64_t kMaxTableInMemory = 64 << 20;
constexpr int kPositionedReadsBeforeLoading = 64;

// Writes `text` into `out` left-aligned, blank-padded or cut to `width`;
// text that then begins with a digit loses its trailing blanks.
void FillDerived(std::string_view text, int width, FieldBuffer* out) {
  size_t w = static_cast<size_t>(std::max(width, 0));
  w = std::min<size_t>(w, out->capacity);
  size_t n = std::min(text.size(), w);
  CopyShort(out->data, text.data(), n);
  if (n < w) std::memset(out->data + n, ' ', w - n);
  if (w > 0 && out->data[0] >= '0' && out->data[0] <= '9') {
    while (w > 0 && out->data[w - 1] == ' ') --w;
  }
  out->size = static_cast<uint32_t>(w);
}

// A table is indexed once its scans have compared this many times its keys:
// about what building the index costs, so a run never pays much more than
// twice the cheaper of the two.
constexpr uint64_t kScansPerKeyBeforeIndex = 4;
// Tables this small are indexed at once: their scans cost little, and
// neither does building the index.
constexpr int64_t kKeysIndexedAtOnce = 64;

}  // namespace

LookupTables::LookupTables() = default;

std::string LookupTables::PathOf(const std::string& name) const { return StoreFilePath(store_dir_, name); }
LookupTables::~LookupTables() = default;

// ---- SharedLookups

template <class T, class Key>
SharedLookups::Entry<T>* SharedLookups::EntryFor(std::map<Key, std::unique_ptr<Entry<T>>>* entries,
                                                 const Key& key) {
  std::lock_guard<std::mutex> lock(entries_mutex_);
  std::unique_ptr<Entry<T>>& entry = (*entries)[key];
  if (!entry) entry = std::make_unique<Entry<T>>();
  return entry.get();
}

template <class T>
std::shared_ptr<const T> SharedLookups::Get(Entry<T>* entry, const std::function<std::shared_ptr<const T>()>& make) {
  if (entry->ready.load(std::memory_order_acquire)) return entry->value;
  std::lock_guard<std::mutex> lock(entry->building);
  if (!entry->ready.load(std::memory_order_relaxed)) {
    std::shared_ptr<const T> made = make();
    if (!made) return nullptr;  // nothing to share: the next reader tries again
    entry->value = std::move(made);
    entry->ready.store(true, std::memory_order_release);
  }
  return entry->value;
}

std::shared_ptr<const KeyIndex> SharedLookups::Index(int table, size_t length,
                                                     const std::function<std::unique_ptr<KeyIndex>()>& build) {
  return Get<KeyIndex>(EntryFor(&indexes_, std::make_pair(table, length)),
                       [&]() -> std::shared_ptr<const KeyIndex> { return build(); });
}

std::shared_ptr<const KeyIndex> SharedLookups::BuiltIndex(int table, size_t length) {
  Entry<KeyIndex>* entry = EntryFor(&indexes_, std::make_pair(table, length));
  return entry->ready.load(std::memory_order_acquire) ? entry->value : nullptr;
}

std::shared_ptr<const SharedLookups::Contents> SharedLookups::TableContents(
    int table, const std::function<std::shared_ptr<const Contents>()>& read) {
  return Get<Contents>(EntryFor(&contents_, table), read);
}

// ---- LookupTables

Status LookupTables::Load(const Form& form, const std::string& store_dir, SharedLookups* shared) {
  store_dir_ = store_dir;
  shared_ = shared;
  form_ = &form;
  memory_used_ = 0;
  deferred_tables_ = 0;
  index_error_ = Status::Ok();
  tables_.clear();
  tables_.resize(form.tables.size());
  for (int f = 0; f < form.header_count; ++f) {
    const FieldDef& def = form.ph[f];
    if (!IsKeyType(def.type)) continue;
    Status s = LoadKeys(KeyTable(def.type), def.length, /*header_field=*/true);
    if (!s.ok()) return s;
    LimitDeferredTables(tables_[KeyTable(def.type)].get());
  }
  for (int f = 0; f < form.field_count && form.line_count > 0; ++f) {
    const FieldDef& def = form.detail(0, f);
    if (!IsKeyType(def.type)) continue;
    Status s = LoadKeys(KeyTable(def.type), def.length, /*header_field=*/false);
    if (!s.ok()) return s;
    LimitDeferredTables(tables_[KeyTable(def.type)].get());
  }
  PlanHeader();
  PlanLines();
  return index_error_;
}


int64_t LookupTables::Find(Finder* finder, std::string_view text) {
  if (finder->index) return finder->index->Find(text);
  // Another reader's index answers as this reader's scans would.
  if (shared_ != nullptr && (finder->index = shared_->BuiltIndex(finder->table->number, finder->length)))
    return finder->index->Find(text);
  Table& t = *finder->table;
  KeyCache& keys = t.keys;
  int64_t found = keys.ScanFor(text, finder->length);
  while (found < 0 && keys.loaded() < keys.count()) {
    const int64_t from = keys.loaded();
    ReadMoreKeys(&t);
    found = keys.ScanFor(text, finder->length, from, keys.loaded());
  }
  // The keys this lookup compared: up to its match, or every key read.
  finder->compared += static_cast<uint64_t>(found >= 0 ? found + 1 : keys.loaded());
  if (finder->compared >= kScansPerKeyBeforeIndex * static_cast<uint64_t>(keys.count())) {
    auto build = [&]() {
      while (keys.loaded() < keys.count()) ReadMoreKeys(&t);
      return std::make_unique<KeyIndex>(keys, finder->length);
    };
    finder->index = shared_ != nullptr ? shared_->Index(t.number, finder->length, build) : build();
  }
  return found;
}

// The finder of table `number` over `length`, made at the first field that
// needs it, its index charged to the memory limit although it is built only
// once lookups call for it; nullptr for a table without keys.
LookupTables::Finder* LookupTables::FinderFor(int number, int length) {
  if (number <= 0 || number >= static_cast<int>(tables_.size()) || !tables_[number]) return nullptr;
  Table& t = *tables_[number];
  if (t.keys.count() == 0) return nullptr;
  const size_t compared = static_cast<size_t>(std::max(length, 0));
  for (auto& finder : t.finders)
    if (finder->length == compared) return finder.get();
  const uint64_t bytes =
      KeyIndex::BytesFor(static_cast<uint64_t>(t.keys.count()), t.keys.key_length(), compared);
  if (bytes > kLookupMemoryLimitBytes - memory_used_) {
    if (index_error_.ok())
      index_error_ = Status::Error("lookup table '" + t.desc->file_name + "': an index of its " +
                                   std::to_string(t.keys.count()) + " keys compared over " +
                                   std::to_string(compared) + " bytes needs " + DescribeBytes(bytes) +
                                   " more, beyond the limit of 1 GiB for lookup keys");
    return nullptr;
  }
  memory_used_ += bytes;
  auto finder = std::make_unique<Finder>();
  finder->table = &t;
  finder->length = compared;
  if (t.keys.count() <= kKeysIndexedAtOnce) {
    while (t.keys.loaded() < t.keys.count()) ReadMoreKeys(&t);
    finder->index = std::make_unique<KeyIndex>(t.keys, compared);
  }
  t.finders.push_back(std::move(finder));
  return t.finders.back().get();
}

void LookupTables::PlanHeader() {
  header_plan_.clear();
  for (int f = 0; f < form_->header_count; ++f) {
    const FieldDef& def = form_->ph[f];
    if (!IsKeyType(def.type)) continue;
    const int table = KeyTable(def.type);
    const TableDesc* desc = form_->table(table);
    KeyPlan key{f, table, FinderFor(table, def.length), def.length,
                desc ? desc->description_size : 0, desc ? desc->description_offset : 0, {}};
    for (int r = 0; r < form_->header_count; ++r) {
      const FieldDef& d = form_->ph[r];
      if (!IsDerivedType(d.type) || d.source != f) continue;
      const int from = DerivedTable(d.type);
      key.derived.push_back({r, from, FinderFor(from, def.length), d.offset, d.size, d.length});
    }
    header_plan_.push_back(std::move(key));
  }
}

void LookupTables::PlanLines() {
  line_plans_.assign(static_cast<size_t>(form_->line_count), {});
  for (int line = 0; line < form_->line_count; ++line) {
    for (int f = 0; f < form_->field_count; ++f) {
      const FieldDef& def = form_->detail(line, f);
      if (!IsKeyType(def.type)) continue;
      const int table = KeyTable(def.type);
      KeyPlan key{f, table, FinderFor(table, def.length), def.length, 0, 0, {}};
      // Line 0's definitions say which fields are derived from this key and how.
      const int compared = form_->detail(0, f).length;
      for (int r = 0; r < form_->field_count; ++r) {
        const FieldDef& d = form_->detail(0, r);
        if (!IsDerivedType(d.type) || d.source != f) continue;
        const int from = DerivedTable(d.type);
        key.derived.push_back({r, from, FinderFor(from, compared), d.offset, d.size,
                               form_->detail(line, r).length});
      }
      line_plans_[static_cast<size_t>(line)].push_back(std::move(key));
    }
  }
}

std::optional<LookupTables::FetchSource> LookupTables::DetailFetchSource(int line, int field) const {
  if (line < 0 || line >= form_->line_count || field < 0 || field >= form_->field_count) return std::nullopt;
  // A field of another type on this line (a calculated one, say) is
  // written after its fetch.
  if (!IsDerivedType(form_->detail(line, field).type)) return std::nullopt;
  for (const KeyPlan& key : line_plans_[static_cast<size_t>(line)]) {
    for (const DerivedPlan& d : key.derived) {
      if (d.field != field || d.finder == nullptr) continue;
      return FetchSource{d.table, d.offset, d.size, d.width, tables_[d.table]->keys.count()};
    }
  }
  return std::nullopt;
}

int LookupTables::PrefetchedKeyOf(int line, int field) const {
  if (line < 0 || line >= form_->line_count) return -1;
  const std::vector<KeyPlan>& plan = line_plans_[static_cast<size_t>(line)];
  for (size_t k = 0; k < plan.size(); ++k) {
    for (const DerivedPlan& d : plan[k].derived)
      if (d.field == field && d.finder != nullptr) return d.finder == plan[k].finder ? static_cast<int>(k) : -1;
  }
  return -1;
}

bool LookupTables::FetchesFromMemory(int table) const {
  return table > 0 && table < static_cast<int>(tables_.size()) && tables_[table] && tables_[table]->InMemory();
}

// Reads `size` bytes at `offset` of record `slot` of the table file; a read
// that comes up short keeps what it found, and text ends at a NUL.
Status LookupTables::Fetch(int number, int64_t slot, int offset, int size, std::string_view* text) {
  *text = {};
  if (size <= 0) return Status::Ok();
  Table& t = *tables_[number];
  if (t.descriptions == DescriptionSource::kClosed) {
    Status s = OpenDescriptions(number, &t);
    if (!s.ok()) return s;
  }
  // A run that needs many descriptions from a small table is served from
  // memory; one that needs a few (a single record, say) reads just those.
  if (!t.InMemory() && ++t.positioned_reads == kPositionedReadsBeforeLoading) HoldInMemory(&t);
  size_t n;
  const char* bytes;
  if (t.InMemory()) {
    const std::string_view held = t.contents->At(slot, offset, size);
    n = held.size();
    bytes = held.data();
  } else {
    const int64_t position = slot * t.desc->record_length + offset;
    t.scratch.resize(static_cast<size_t>(size));
    n = static_cast<size_t>(std::max<ssize_t>(ReadAt(t.fd, t.scratch.data(), t.scratch.size(), position), 0));
    bytes = t.scratch.data();
  }
  if (t.descriptions != DescriptionSource::kInMemoryNulFree) {
    const void* nul = std::memchr(bytes, '\0', n);
    if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
  }
  *text = {bytes, n};
  return Status::Ok();
}

Status LookupTables::OpenDescriptions(int number, Table* table) {
  const std::string& name = table->desc->file_name;
  std::string why;
  const int fd = OpenRegularFile(PathOf(name), O_RDONLY, &why);
  if (fd < 0)
    return Status::Error("lookup table '" + name + "' (table " + std::to_string(number) +
                         ") cannot be opened to read a description: " + why);
  table->fd = fd;
  table->descriptions = DescriptionSource::kPositioned;
  return Status::Ok();
}

void LookupTables::HoldInMemory(Table* table) {
  Table& t = *table;
  auto read = [&]() { return ReadForFetches(t); };
  t.contents = shared_ != nullptr ? shared_->TableContents(t.number, read) : read();
  if (!t.contents) return;
  t.descriptions = t.contents->nul_free ? DescriptionSource::kInMemoryNulFree : DescriptionSource::kInMemory;
  // The descriptor stays open while keys are still read through it.
  if (t.key_fd != t.fd) {
    close(t.fd);
    t.fd = -1;
  }
}

bool LookupTables::FetchSpan(int number, int64_t* first, int64_t* end) const {
  bool any = false;
  auto take = [&](int offset, int size) {
    if (size <= 0) return;
    *first = any ? std::min<int64_t>(*first, offset) : offset;
    *end = any ? std::max<int64_t>(*end, int64_t{offset} + size) : int64_t{offset} + size;
    any = true;
  };
  auto of_key = [&](const KeyPlan& key, bool header) {
    if (header && key.table == number) take(key.description_offset, key.description_size);
    for (const DerivedPlan& d : key.derived)
      if (d.table == number) take(d.offset, d.size);
  };
  for (const KeyPlan& key : header_plan_) of_key(key, true);
  for (const std::vector<KeyPlan>& plan : line_plans_)
    for (const KeyPlan& key : plan) of_key(key, false);
  return any;
}

void LookupTables::PrepareForLongWalk(int part, int parts) {
  if (shared_ == nullptr || parts <= 0) return;
  // This reader's own tables first, while the others build theirs; then
  // the others' tables, which are then ready or nearly so: waiting for
  // them costs less than looking keys up by scanning in the meantime,
  // which would read their keys again.
  for (const bool own : {true, false})
    for (const std::unique_ptr<Table>& table : tables_)
      if (table && (table->number % parts == part) == own) PrepareTable(table.get());
}

void LookupTables::PrepareTable(Table* table) {
  Table& t = *table;
  for (const std::unique_ptr<Finder>& finder : t.finders) {
    if (finder->index) continue;
    const size_t length = finder->length;
    auto build = [&]() {
      while (t.keys.loaded() < t.keys.count()) ReadMoreKeys(&t);
      return std::make_unique<KeyIndex>(t.keys, length);
    };
    finder->index = shared_->Index(t.number, length, build);
  }
  int64_t first, end;
  if (!t.InMemory() && FetchSpan(t.number, &first, &end) &&
      (t.descriptions != DescriptionSource::kClosed || OpenDescriptions(t.number, &t).ok()))
    HoldInMemory(&t);
}

std::shared_ptr<const SharedLookups::Contents> LookupTables::ReadForFetches(const Table& t) const {
  const int64_t record_length = t.desc->record_length;
  int64_t first, end;
  if (FetchSpan(t.number, &first, &end) && end - first < record_length) {
    if (auto columns = ReadTableColumns(t.fd, record_length, first, end - first, kMaxTableInMemory)) return columns;
  }
  return ReadWholeTable(t.fd, record_length, kMaxTableInMemory);
}

// Fills the derived fields of one key. Only the first derived field of a
// missing header key skips its lookup; a lookup that misses gives empty text,
// never what an earlier record fetched from the table.
Status LookupTables::ResolveDerived(const KeyPlan& key, int64_t key_slot, bool reuse_slot,
                                    std::string_view key_text, RecordValues* values, int line) {
  bool missing = key_slot < 0;
  for (const DerivedPlan& d : key.derived) {
    std::string_view fetched;
    int64_t slot = -1;
    if (!missing) {
      // A derived field of the key's own table, compared over the same
      // length, finds the slot the key lookup found.
      slot = reuse_slot && d.finder == key.finder ? key_slot
             : d.finder != nullptr                ? Find(d.finder, key_text)
                                                  : -1;
      if (slot >= 0 && !tables_[d.table]->FetchInMemoryNulFree(slot, d.offset, d.size, &fetched)) {
        Status s = Fetch(d.table, slot, d.offset, d.size, &fetched);
        if (!s.ok()) return s;
      }
    }
    if (line < 0) {
      FillDerived(fetched, d.width, &values->head(d.field));
      missing = false;  // a header key's status becomes filled
    } else {
      FillDerived(fetched, d.width, &values->doc(line, d.field));
      values->SetFetchedRecord(line, d.field, slot);
    }
  }
  return Status::Ok();
}

Status LookupTables::ResolveHeader(RecordValues* values, const PrefetchedPart& prefetched,
                                   std::vector<int>* missing) {
  for (size_t k = 0; k < header_plan_.size(); ++k) {
    const KeyPlan& key = header_plan_[k];
    FieldBuffer& field = values->head(key.field);
    const int64_t slot = FindKey(key, field.text(), prefetched.keys[k]);
    if (slot < 0 && missing != nullptr) missing->push_back(key.field);
    const uint32_t field_size_before = field.size;
    const size_t size = static_cast<size_t>(std::max(key.description_size, 0));
    if (slot >= 0 && size > 0) {
      std::string_view description;
      if (!tables_[key.table]->FetchInMemoryNulFree(slot, key.description_offset, key.description_size,
                                                    &description)) {
        Status s = Fetch(key.table, slot, key.description_offset, key.description_size, &description);
        if (!s.ok()) return s;
      }
      // "key|description", the description blank-padded or cut to its size.
      char* p = field.data + field.size;
      *p++ = '|';
      size_t n = std::min(description.size(), size);
      CopyShort(p, description.data(), n);
      if (n < size) std::memset(p + n, ' ', size - n);
      field.size += static_cast<uint32_t>(1 + size);
    } else if (slot < 0 && size > 0 && field.size == static_cast<uint32_t>(key.length)) {
      std::memset(field.data + field.size, ' ', size);
      field.size += static_cast<uint32_t>(size);
    }
    // The rewrite only appends, so the compared prefix is unchanged when the
    // key was read at its full length.
    const bool reuse = field_size_before >= static_cast<uint32_t>(key.length);
    Status s = ResolveDerived(key, slot, reuse, field.text(), values, -1);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status LookupTables::ResolveLine(int line, RecordValues* values, const PrefetchedPart& prefetched,
                                 std::vector<int>* missing) {
  const std::vector<KeyPlan>& plan = line_plans_[static_cast<size_t>(line)];
  for (size_t k = 0; k < plan.size(); ++k) {
    const KeyPlan& key = plan[k];
    std::string_view text = values->doc(line, key.field).text();
    const int64_t slot = FindKey(key, text, prefetched.keys[k]);
    if (slot < 0 && missing != nullptr) missing->push_back(key.field);
    Status s = ResolveDerived(key, slot, /*reuse_slot=*/true, text, values, line);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

inline int64_t LookupTables::FindKey(const KeyPlan& key, std::string_view text,
                                     const PrefetchedPart::Key& prefetched) {
  if (prefetched.stage == PrefetchedPart::Key::kFound) return prefetched.slot;
  return key.finder != nullptr ? Find(key.finder, text) : -1;
}

void LookupTables::SizePrefetched(int line, PrefetchedPart* prefetched) const {
  prefetched->keys.assign((line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)]).size(),
                          PrefetchedPart::Key());
}

void LookupTables::PrefetchKeys(int line, const RecordValues& values, PrefetchedPart* prefetched) const {
  const std::vector<KeyPlan>& plan = line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)];
  PrefetchedPart::Key* found_keys = prefetched->keys.data();
  for (size_t k = 0; k < plan.size(); ++k) {
    const KeyPlan& key = plan[k];
    PrefetchedPart::Key& found = found_keys[k];
    found.stage = PrefetchedPart::Key::kNothing;
    if (key.finder == nullptr || !key.finder->index) continue;
    const KeyIndex& index = *key.finder->index;
    found.hash = index.HashOf(line < 0 ? values.HeaderText(key.field) : values.DetailText(line, key.field));
    found.stage = PrefetchedPart::Key::kHashed;
    index.Prefetch(found.hash);
  }
}

// The lookup done here is the one resolving would do: between the two
// nothing writes a key field (resolving writes a header key's own field only
// after its lookup), and an index, once built, never changes.
void LookupTables::PrefetchRecords(int line, const RecordValues& values, PrefetchedPart* prefetched) const {
  const std::vector<KeyPlan>& plan = line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)];
  PrefetchedPart::Key* found_keys = prefetched->keys.data();
  for (size_t k = 0; k < plan.size(); ++k) {
    const KeyPlan& key = plan[k];
    PrefetchedPart::Key& found = found_keys[k];
    if (key.finder == nullptr || !key.finder->index) {
      found.stage = PrefetchedPart::Key::kNothing;
      continue;
    }
    const KeyIndex& index = *key.finder->index;
    const std::string_view text = line < 0 ? values.HeaderText(key.field) : values.DetailText(line, key.field);
    const int64_t slot =
        found.stage == PrefetchedPart::Key::kHashed ? index.Find(text, found.hash) : index.Find(text);
    found.slot = slot;
    found.stage = PrefetchedPart::Key::kFound;
    if (slot < 0) continue;
    const Table& t = *tables_[key.table];
    if (!t.InMemory()) continue;
    if (line < 0 && key.description_size > 0) {
      if (const char* at = t.contents->Address(slot, key.description_offset)) __builtin_prefetch(at);
    }
    for (const DerivedPlan& d : key.derived) {
      if (d.finder != key.finder || d.size <= 0) continue;
      if (const char* at = t.contents->Address(slot, d.offset)) __builtin_prefetch(at);
    }
  }
}
