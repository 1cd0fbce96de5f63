// Loading lookup-table keys, indexing them, and resolving key and derived
// fields of headers and detail lines.
#include "lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "file_io.h"

namespace {

// Table files up to this size are read whole once; larger ones are read
// with one positioned read per description.
constexpr int64_t kMaxTableInMemory = 64 << 20;
constexpr size_t kLoadBlock = 1 << 20;
constexpr int kPositionedReadsBeforeLoading = 64;

uint64_t HashBytes(std::string_view s) {
  uint64_t h = 0x243F6A8885A308D3ull ^ s.size();
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
  }
  uint64_t w = 0;
  if (i < s.size()) std::memcpy(&w, s.data() + i, s.size() - i);
  h ^= w;
  // Final avalanche, so that keys sharing their first bytes spread over all buckets.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

// Writes `text` into `out` left-aligned, blank-padded or cut to `width`;
// text that then begins with a digit loses its trailing blanks.
void FillDerived(std::string_view text, int width, FieldBuffer* out) {
  size_t w = static_cast<size_t>(std::max(width, 0));
  w = std::min<size_t>(w, out->capacity);
  size_t n = std::min(text.size(), w);
  if (n > 0) std::memcpy(out->data, text.data(), n);  // empty text may have no data pointer
  std::memset(out->data + n, ' ', w - n);
  if (w > 0 && out->data[0] >= '0' && out->data[0] <= '9') {
    while (w > 0 && out->data[w - 1] == ' ') --w;
  }
  out->size = static_cast<uint32_t>(w);
}

}  // namespace

// ---- KeyCache

void KeyCache::Assign(std::vector<char> slots, size_t key_length, int64_t count) {
  slots_ = std::move(slots);
  key_length_ = key_length;
  count_ = count;
}

std::string_view KeyCache::Key(int64_t i, size_t length) const {
  const char* p = slots_.data() + static_cast<size_t>(i) * key_length_;
  size_t n = std::min(length, key_length_);
  const void* nul = std::memchr(p, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - p);
  return {p, n};
}

int64_t KeyCache::ScanFor(std::string_view text, size_t length) const {
  text = text.substr(0, std::min(length, text.size()));
  for (int64_t i = 0; i < count_; ++i) {
    if (Key(i, length) == text) return i;
  }
  return -1;
}

// ---- KeyIndex

KeyIndex::KeyIndex(const KeyCache& keys, size_t length) : length_(length) {
  // Slots are kept as 32-bit numbers; no table that fits in memory comes near.
  const int64_t count = std::min<int64_t>(keys.count(), UINT32_MAX - 1);
  size_t size = 16;
  while (size < static_cast<size_t>(count) * 2) size *= 2;
  buckets_.assign(size, Bucket());
  mask_ = size - 1;
  // Keys go in by batches whose buckets are fetched together, in slot order
  // so that the first slot of a repeated key keeps it.
  constexpr int64_t kBatch = 16;
  std::string_view batch[kBatch];
  uint64_t hashes[kBatch];
  for (int64_t first = 0; first < count; first += kBatch) {
    const int64_t n = std::min(kBatch, count - first);
    for (int64_t j = 0; j < n; ++j) {
      batch[j] = keys.Key(first + j, length);
      hashes[j] = HashBytes(batch[j]);
      __builtin_prefetch(&buckets_[hashes[j] & mask_], 1);
    }
    for (int64_t j = 0; j < n; ++j) Insert(batch[j], hashes[j], first + j);
  }
}

void KeyIndex::Insert(std::string_view key, uint64_t hash, int64_t slot) {
  const uint32_t tag = TagOf(hash, key);
  for (size_t b = hash & mask_;; b = (b + 1) & mask_) {
    Bucket& bucket = buckets_[b];
    if (bucket.slot == 0) {
      bucket.tag = tag;
      bucket.slot = static_cast<uint32_t>(slot + 1);
      if (key.size() <= 8) {
        bucket.key = Packed(key);
      } else {
        bucket.key = long_keys_.size();
        const uint32_t size = static_cast<uint32_t>(key.size());
        long_keys_.append(reinterpret_cast<const char*>(&size), sizeof size);
        long_keys_.append(key);
      }
      return;
    }
    if (bucket.tag == tag && Holds(bucket, key)) return;  // the first slot keeps the key
  }
}

int64_t KeyIndex::Find(std::string_view text) const {
  text = text.substr(0, std::min(length_, text.size()));
  const uint64_t h = HashBytes(text);
  const uint32_t tag = TagOf(h, text);
  for (size_t b = h & mask_; buckets_[b].slot != 0; b = (b + 1) & mask_) {
    const Bucket& bucket = buckets_[b];
    if (bucket.tag == tag && Holds(bucket, text)) return static_cast<int64_t>(bucket.slot) - 1;
  }
  return -1;
}

void KeyIndex::Prefetch(std::string_view text) const {
  text = text.substr(0, std::min(length_, text.size()));
  __builtin_prefetch(&buckets_[HashBytes(text) & mask_]);
}

// ---- LookupTables

struct LookupTables::Table {
  int number = 0;
  const TableDesc* desc = nullptr;
  KeyCache keys;
  std::vector<std::pair<int, std::unique_ptr<KeyIndex>>> indexes;  // by comparison length

  // Where descriptions come from, opened at the first description needed.
  bool file_opened = false;
  std::string contents;  // the whole file, when small
  int fd = -1;           // otherwise read per description
  int positioned_reads = 0;
  std::vector<char> scratch;

  ~Table() {
    if (fd >= 0) close(fd);
  }
};

struct LookupTables::DerivedPlan {
  int field;                    // the derived field filled
  int table;                    // its table number
  const KeyIndex* index;        // nullptr: the table has no keys
  int offset;                   // of the fetched text inside a table record
  int size;                     // bytes fetched
  int width;                    // the derived field's length on this line
};

struct LookupTables::KeyPlan {
  int field;                    // the key field
  int table;
  const KeyIndex* index;
  int length;                   // key length compared
  int description_size;         // header only: S of the table
  int description_offset;
  std::vector<DerivedPlan> derived;  // in field order
};

LookupTables::LookupTables() = default;
LookupTables::~LookupTables() = default;

Status LookupTables::Load(const Form& form) {
  form_ = &form;
  tables_.clear();
  tables_.resize(form.tables.size());
  for (int f = 0; f < form.header_count; ++f) {
    const FieldDef& def = form.ph[f];
    if (!IsKeyType(def.type)) continue;
    Status s = LoadKeys(KeyTable(def.type), def.length, /*header_field=*/true);
    if (!s.ok()) return s;
  }
  for (int f = 0; f < form.field_count && form.line_count > 0; ++f) {
    const FieldDef& def = form.detail(0, f);
    if (!IsKeyType(def.type)) continue;
    Status s = LoadKeys(KeyTable(def.type), def.length, /*header_field=*/false);
    if (!s.ok()) return s;
  }
  PlanHeader();
  PlanLines();
  return Status::Ok();
}

namespace {

// Slots of `key_length` bytes, zero-filled, for keys read from `bytes`: key i
// is the `key_length` bytes at i * stride (the last one may be short).
std::vector<char> SlotsFrom(std::string_view bytes, size_t stride, size_t key_length,
                            int64_t* count) {
  *count = key_length == 0 ? 0 : static_cast<int64_t>((bytes.size() + stride - 1) / stride);
  std::vector<char> slots(static_cast<size_t>(*count) * key_length, '\0');
  for (int64_t i = 0; i < *count; ++i) {
    size_t at = static_cast<size_t>(i) * stride;
    size_t n = std::min(key_length, bytes.size() - at);
    std::memcpy(slots.data() + static_cast<size_t>(i) * key_length, bytes.data() + at, n);
  }
  return slots;
}

}  // namespace

Status LookupTables::LoadKeys(int number, int key_length, bool header_field) {
  if (!tables_[number]) {
    tables_[number] = std::make_unique<Table>();
    tables_[number]->number = number;
    tables_[number]->desc = form_->table(number);
  }
  Table& t = *tables_[number];
  if (t.keys.count() != 0) return Status::Ok();
  const size_t length = static_cast<size_t>(key_length);
  const std::string& name = t.desc->file_name;

  // The packed key index, when the table has one, is preferred.
  if (name.size() > 3) {
    std::string bytes;
    if (ReadWholeFile(name.substr(0, name.size() - 3), &bytes) == ReadResult::kOk) {
      int64_t count;
      std::vector<char> slots = SlotsFrom(bytes, std::max<size_t>(length, 1), length, &count);
      t.keys.Assign(std::move(slots), length, count);
      return Status::Ok();
    }
  }

  std::string why;
  const int fd = OpenRegularFile(name, O_RDONLY, &why);
  if (fd < 0) {
    std::string where = "lookup table '" + name + "' (table " + std::to_string(number) +
                        ") cannot be opened: " + why;
    if (header_field)
      return Status::Error(where)
          .WithStdout("rddbr : Cannot open =" + name + "= " + std::to_string(number) + "\r\n")
          .WithPause(1);
    return Status::Error(where).WithStdout("rddbr : Cannot open " + name + "\r\n");
  }
  ReadKeysFromTable(fd, &t, length);
  return Status::Ok();
}

// Reads the key at the start of every record of the table file. A small file
// is read whole and kept for its descriptions; a large one in blocks of
// records, and stays open for positioned reads of descriptions.
void LookupTables::ReadKeysFromTable(int fd, Table* t, size_t key_length) {
  struct stat st;
  const int64_t size = fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
  const size_t stride = static_cast<size_t>(t->desc->record_length);
  int64_t count = 0;
  if (size <= kMaxTableInMemory) {
    t->contents.resize(static_cast<size_t>(size));
    const ssize_t n = ReadAt(fd, t->contents.data(), t->contents.size(), 0);
    t->contents.resize(static_cast<size_t>(std::max<ssize_t>(n, 0)));
    close(fd);
    std::vector<char> slots = SlotsFrom(t->contents, stride, key_length, &count);
    t->keys.Assign(std::move(slots), key_length, count);
    t->file_opened = true;
    return;
  }
  count = key_length == 0 ? 0 : (size + static_cast<int64_t>(stride) - 1) / static_cast<int64_t>(stride);
  std::vector<char> slots(static_cast<size_t>(count) * key_length, '\0');
  const size_t per_block = std::max<size_t>(1, kLoadBlock / stride);
  std::vector<char> block(per_block * stride + key_length);
  for (int64_t first = 0; first < count; first += static_cast<int64_t>(per_block)) {
    const ssize_t got = ReadAt(fd, block.data(), block.size(), first * static_cast<int64_t>(stride));
    if (got <= 0) break;
    const int64_t in_block = std::min<int64_t>(static_cast<int64_t>(per_block), count - first);
    for (int64_t j = 0; j < in_block; ++j) {
      const size_t at = static_cast<size_t>(j) * stride;
      if (at >= static_cast<size_t>(got)) break;
      const size_t n = std::min(key_length, static_cast<size_t>(got) - at);
      std::memcpy(slots.data() + static_cast<size_t>(first + j) * key_length, block.data() + at, n);
    }
  }
  t->keys.Assign(std::move(slots), key_length, count);
  t->fd = fd;
  t->file_opened = true;
}

const KeyIndex* LookupTables::IndexFor(int number, int length) {
  if (number <= 0 || number >= static_cast<int>(tables_.size()) || !tables_[number]) return nullptr;
  Table& t = *tables_[number];
  if (t.keys.count() == 0) return nullptr;
  for (auto& [l, index] : t.indexes)
    if (l == length) return index.get();
  t.indexes.emplace_back(length, std::make_unique<KeyIndex>(t.keys, static_cast<size_t>(std::max(length, 0))));
  return t.indexes.back().second.get();
}

void LookupTables::PlanHeader() {
  header_plan_.clear();
  for (int f = 0; f < form_->header_count; ++f) {
    const FieldDef& def = form_->ph[f];
    if (!IsKeyType(def.type)) continue;
    const int table = KeyTable(def.type);
    const TableDesc* desc = form_->table(table);
    KeyPlan key{f, table, IndexFor(table, def.length), def.length,
                desc ? desc->description_size : 0, desc ? desc->description_offset : 0, {}};
    for (int r = 0; r < form_->header_count; ++r) {
      const FieldDef& d = form_->ph[r];
      if (!IsDerivedType(d.type) || d.source != f) continue;
      const int from = DerivedTable(d.type);
      key.derived.push_back({r, from, IndexFor(from, def.length), d.offset, d.size, d.length});
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
      KeyPlan key{f, table, IndexFor(table, def.length), def.length, 0, 0, {}};
      // Line 0's definitions say which fields are derived from this key and how.
      const int compared = form_->detail(0, f).length;
      for (int r = 0; r < form_->field_count; ++r) {
        const FieldDef& d = form_->detail(0, r);
        if (!IsDerivedType(d.type) || d.source != f) continue;
        const int from = DerivedTable(d.type);
        key.derived.push_back({r, from, IndexFor(from, compared), d.offset, d.size,
                               form_->detail(line, r).length});
      }
      line_plans_[static_cast<size_t>(line)].push_back(std::move(key));
    }
  }
}

// Reads `size` bytes at `offset` of record `slot` of the table file; a read
// that comes up short keeps what it found, and text ends at a NUL.
Status LookupTables::Fetch(int number, int64_t slot, int offset, int size, std::string_view* text) {
  *text = {};
  if (size <= 0) return Status::Ok();
  Table& t = *tables_[number];
  const std::string& name = t.desc->file_name;
  if (!t.file_opened) {
    std::string why;
    const int fd = OpenRegularFile(name, O_RDONLY, &why);
    if (fd < 0)
      return Status::Error("lookup table '" + name + "' (table " + std::to_string(number) +
                           ") cannot be opened to read a description: " + why);
    t.fd = fd;
    t.file_opened = true;
  }
  // A run that needs many descriptions from a small table is served from
  // memory; one that needs a few (a single record, say) reads just those.
  if (t.fd >= 0 && ++t.positioned_reads == kPositionedReadsBeforeLoading) {
    struct stat st;
    if (fstat(t.fd, &st) == 0 && st.st_size <= kMaxTableInMemory) {
      t.contents.resize(static_cast<size_t>(st.st_size));
      const ssize_t n = ReadAt(t.fd, t.contents.data(), t.contents.size(), 0);
      t.contents.resize(static_cast<size_t>(std::max<ssize_t>(n, 0)));
      close(t.fd);
      t.fd = -1;
    }
  }
  const int64_t position = slot * t.desc->record_length + offset;
  size_t n;
  const char* bytes;
  if (t.fd < 0) {
    const int64_t end = static_cast<int64_t>(t.contents.size());
    n = position >= end ? 0 : static_cast<size_t>(std::min<int64_t>(size, end - position));
    bytes = t.contents.data() + (n > 0 ? position : 0);
  } else {
    t.scratch.resize(static_cast<size_t>(size));
    n = static_cast<size_t>(std::max<ssize_t>(ReadAt(t.fd, t.scratch.data(), t.scratch.size(), position), 0));
    bytes = t.scratch.data();
  }
  const void* nul = std::memchr(bytes, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
  *text = {bytes, n};
  return Status::Ok();
}

// Fills the derived fields of one key. Only the first derived field of a
// missing header key skips its lookup; a lookup that misses gives empty text,
// never what an earlier record fetched from the table.
Status LookupTables::ResolveDerived(const KeyPlan& key, int64_t key_slot, bool reuse_slot,
                                    std::string_view key_text, RecordValues* values, int line) {
  bool missing = key_slot < 0;
  for (const DerivedPlan& d : key.derived) {
    std::string_view fetched;
    if (!missing) {
      // A derived field of the key's own table, compared over the same
      // length, finds the slot the key lookup found.
      int64_t slot = reuse_slot && d.index == key.index ? key_slot
                     : d.index != nullptr               ? d.index->Find(key_text)
                                                        : -1;
      if (slot >= 0) {
        Status s = Fetch(d.table, slot, d.offset, d.size, &fetched);
        if (!s.ok()) return s;
      }
    }
    FillDerived(fetched, d.width, line < 0 ? &values->head(d.field) : &values->doc(line, d.field));
    if (line < 0) missing = false;  // a header key's status becomes filled
  }
  return Status::Ok();
}

Status LookupTables::ResolveHeader(RecordValues* values) {
  for (const KeyPlan& key : header_plan_) {
    FieldBuffer& field = values->head(key.field);
    const int64_t slot = key.index != nullptr ? key.index->Find(field.text()) : -1;
    const uint32_t field_size_before = field.size;
    const size_t size = static_cast<size_t>(std::max(key.description_size, 0));
    if (slot >= 0 && size > 0) {
      std::string_view description;
      Status s = Fetch(key.table, slot, key.description_offset, key.description_size, &description);
      if (!s.ok()) return s;
      // "key|description", the description blank-padded or cut to its size.
      char* p = field.data + field.size;
      *p++ = '|';
      size_t n = std::min(description.size(), size);
      if (n > 0) std::memcpy(p, description.data(), n);
      std::memset(p + n, ' ', size - n);
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

Status LookupTables::ResolveLine(int line, RecordValues* values) {
  for (const KeyPlan& key : line_plans_[static_cast<size_t>(line)]) {
    std::string_view text = values->doc(line, key.field).text();
    const int64_t slot = key.index != nullptr ? key.index->Find(text) : -1;
    Status s = ResolveDerived(key, slot, /*reuse_slot=*/true, text, values, line);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

void LookupTables::PrefetchKeys(int line, const RecordValues& values) const {
  const std::vector<KeyPlan>& plan = line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)];
  for (const KeyPlan& key : plan) {
    if (key.index == nullptr) continue;
    key.index->Prefetch(line < 0 ? values.HeaderText(key.field) : values.DetailText(line, key.field));
  }
}

void LookupTables::PrefetchRecords(int line, const RecordValues& values) const {
  const std::vector<KeyPlan>& plan = line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)];
  for (const KeyPlan& key : plan) {
    if (key.index == nullptr) continue;
    const int64_t slot =
        key.index->Find(line < 0 ? values.HeaderText(key.field) : values.DetailText(line, key.field));
    if (slot < 0) continue;
    const Table& t = *tables_[key.table];
    const int64_t length = static_cast<int64_t>(t.contents.size());
    if (line < 0 && key.description_size > 0) {
      const int64_t position = slot * t.desc->record_length + key.description_offset;
      if (position < length) __builtin_prefetch(t.contents.data() + position);
    }
    for (const DerivedPlan& d : key.derived) {
      const int64_t position = slot * t.desc->record_length + d.offset;
      if (d.index == key.index && position < length) __builtin_prefetch(t.contents.data() + position);
    }
  }
}
