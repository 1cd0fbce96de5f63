// Loading lookup-table keys, indexing them, and resolving key and derived
// fields of headers and detail lines.
#include "lookup.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include "file_io.h"

namespace {

// Table files up to this size are read whole once; larger ones are read
// with one positioned read per description.
constexpr int64_t kMaxTableInMemory = 64 << 20;
constexpr int kPositionedReadsBeforeLoading = 64;

// The seed of the key hash, drawn once per process, so that no one choosing
// the keys of a table can make them collide.
struct HashSeed {
  uint64_t k[4];
  HashSeed() {
    size_t got = 0;
    while (got < sizeof k) {
      const ssize_t n = getrandom(reinterpret_cast<char*>(k) + got, sizeof k - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got < sizeof k) {
      std::random_device device;
      for (uint64_t& word : k) word = (static_cast<uint64_t>(device()) << 32) ^ device();
    }
  }
};

const HashSeed& Seed() {
  static const HashSeed seed;
  return seed;
}

// The high and low halves of the 128-bit product folded together: a fast
// mixer that, with secret inputs, leaves no structure to aim collisions at.
inline uint64_t Fold(uint64_t a, uint64_t b) {
  __extension__ typedef unsigned __int128 Wide;
  const Wide r = static_cast<Wide>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

uint64_t HashBytes(std::string_view s) {
  const uint64_t* k = Seed().k;
  uint64_t h = k[0] ^ s.size();
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = Fold(w ^ k[1], h ^ k[2]);
  }
  uint64_t w = 0;
  if (i < s.size()) std::memcpy(&w, s.data() + i, s.size() - i);
  h = Fold(w ^ k[1] ^ 0x9E3779B97F4A7C15ull, h ^ k[3]);
  return Fold(h ^ k[0], k[3] ^ 0xff51afd7ed558ccdull);
}

// "3.1 GB": a byte count for a message.
std::string DescribeBytes(uint64_t bytes) {
  char text[32];
  if (bytes >= 1000000000ull)
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
  else if (bytes >= 1000000ull)
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  else
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  return text;
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
  Start(key_length, count);
  std::memcpy(Extend(count), slots.data(), std::min(slots.size(), static_cast<size_t>(count) * key_length));
}

void KeyCache::Start(size_t key_length, int64_t count) {
  // Within the memory limit the slots fit; their pages are touched only as
  // keys are read.
  slots_ = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(count) * key_length + 1);
  key_length_ = key_length;
  count_ = count;
  loaded_ = 0;
}

char* KeyCache::Extend(int64_t n) {
  n = std::min(n, count_ - loaded_);
  char* first = slots_.get() + static_cast<size_t>(loaded_) * key_length_;
  loaded_ += n;
  return first;
}

std::string_view KeyCache::Key(int64_t i, size_t length) const {
  const char* p = slots_.get() + static_cast<size_t>(i) * key_length_;
  size_t n = std::min(length, key_length_);
  const void* nul = std::memchr(p, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - p);
  return {p, n};
}

namespace {

// The first key of slots [from, to) at `p` onward, `stride` bytes apart,
// whose first `n` bytes are `text` and, when `needs_end`, whose next byte is
// a NUL. The first kHead bytes are compared as one word before the rest.
template <size_t kHead>
int64_t ScanKeys(const char* p, size_t stride, int64_t from, int64_t to, std::string_view text,
                 bool needs_end) {
  uint64_t want = 0;
  std::memcpy(&want, text.data(), kHead);
  const size_t n = text.size();
  for (int64_t i = from; i < to; ++i, p += stride) {
    uint64_t got = 0;
    std::memcpy(&got, p, kHead);
    if (got != want) continue;
    if (n > kHead && std::memcmp(p + kHead, text.data() + kHead, n - kHead) != 0) continue;
    if (!needs_end || p[n] == '\0') return i;
  }
  return -1;
}

}  // namespace

int64_t KeyCache::ScanFor(std::string_view text, size_t length, int64_t from, int64_t to) const {
  text = text.substr(0, std::min(length, text.size()));
  const size_t width = std::min(length, key_length_);
  // A key as compared holds no NUL and at most `width` bytes.
  if (text.size() > width || text.find('\0') != std::string_view::npos) return -1;
  const size_t n = text.size();
  // A key of `width` bytes equals the text when its bytes do; a shorter text
  // needs the key to end, at a NUL, right after it.
  const bool needs_end = n < width;
  to = std::min(to, loaded_);
  if (from >= to) return -1;
  const char* p = slots_.get() + static_cast<size_t>(from) * key_length_;
  if (n == 0) {
    for (int64_t i = from; i < to; ++i, p += key_length_)
      if (!needs_end || p[0] == '\0') return i;
    return -1;
  }
  if (n >= 8) return ScanKeys<8>(p, key_length_, from, to, text, needs_end);
  if (n >= 4) return ScanKeys<4>(p, key_length_, from, to, text, needs_end);
  return ScanKeys<1>(p, key_length_, from, to, text, needs_end);
}

// ---- KeyIndex

namespace {

// Buckets for `count` keys: a power of two, at least twice the count.
uint64_t BucketsFor(uint64_t count) {
  uint64_t size = 16;
  while (size < count * 2) size *= 2;
  return size;
}

}  // namespace

uint64_t KeyIndex::BytesFor(uint64_t count, size_t key_length, size_t length) {
  // Beyond this no index fits in memory, and the sums below cannot overflow.
  if (count > (uint64_t{1} << 40)) return UINT64_MAX;
  uint64_t bytes = BucketsFor(count) * sizeof(Bucket);
  const uint64_t compared = std::min(key_length, length);
  if (compared > 8) bytes += count * (sizeof(uint32_t) + compared);
  return bytes;
}

uint64_t KeyIndex::Hash(std::string_view key) { return HashBytes(key); }

KeyIndex::KeyIndex(const KeyCache& keys, size_t length) : length_(length) {
  // Slots are kept as 32-bit numbers; the memory limit keeps tables far below.
  const int64_t count = std::min<int64_t>(keys.loaded(), UINT32_MAX - 1);
  const size_t size = static_cast<size_t>(BucketsFor(static_cast<uint64_t>(count)));
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
  for (size_t b = hash & mask_;; b = (b + 1) & mask_, ++extra_probes_) {
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

int64_t KeyIndex::Find(std::string_view text) const { return Find(text, HashOf(text)); }

uint64_t KeyIndex::HashOf(std::string_view text) const {
  return HashBytes(text.substr(0, std::min(length_, text.size())));
}

int64_t KeyIndex::Find(std::string_view text, uint64_t h) const {
  text = text.substr(0, std::min(length_, text.size()));
  const uint32_t tag = TagOf(h, text);
  for (size_t b = h & mask_; buckets_[b].slot != 0; b = (b + 1) & mask_) {
    const Bucket& bucket = buckets_[b];
    if (bucket.tag == tag && Holds(bucket, text)) return static_cast<int64_t>(bucket.slot) - 1;
  }
  return -1;
}

// ---- LookupTables

namespace {

// Keys are read in blocks of about this many bytes of their file.
constexpr size_t kKeyBlock = 1 << 16;
// A table is indexed once its scans have compared this many times its keys:
// about what building the index costs, so a run never pays much more than
// twice the cheaper of the two.
constexpr uint64_t kScansPerKeyBeforeIndex = 4;
// Tables this small are indexed at once: their scans cost little, and
// neither does building the index.
constexpr int64_t kKeysIndexedAtOnce = 64;
// At most this many tables keep their key files open for keys read later;
// the keys of any further table are read at start-up, so that a form naming
// thousands of tables never runs out of descriptors.
constexpr int kMaxDeferredTables = 64;

// Copies `n` keys of kLength bytes lying `stride` bytes apart into
// consecutive slots: a copy of fixed size, no call per key.
template <size_t kLength>
void CopyKeysOf(char* slots, const char* from, size_t stride, int64_t n) {
  for (int64_t j = 0; j < n; ++j, slots += kLength, from += stride) std::memcpy(slots, from, kLength);
}

using CopyKeysFunction = void (*)(char*, const char*, size_t, int64_t);
template <size_t... kLengths>
constexpr std::array<CopyKeysFunction, sizeof...(kLengths)> CopiersFor(std::index_sequence<kLengths...>) {
  return {&CopyKeysOf<kLengths>...};
}
constexpr auto kCopiers = CopiersFor(std::make_index_sequence<17>{});

void CopyKeys(char* slots, const char* from, size_t stride, size_t key_length, int64_t n) {
  if (key_length < kCopiers.size()) return kCopiers[key_length](slots, from, stride, n);
  for (int64_t j = 0; j < n; ++j, slots += key_length, from += stride) std::memcpy(slots, from, key_length);
}

}  // namespace

struct LookupTables::Table {
  int number = 0;
  const TableDesc* desc = nullptr;
  KeyCache keys;
  std::vector<std::unique_ptr<Finder>> finders;  // one per comparison length

  // Where the keys not yet read come from: the key index file (keys packed
  // end to end) or the table file (a key at the start of every record), as
  // far as its size at opening says.
  int key_fd = -1;
  bool keys_in_table = false;
  int64_t key_source_size = 0;
  bool key_source_short = false;  // a read came up short: the rest are empty keys
  bool deferred = false;          // counted among the tables whose keys wait

  // Where descriptions come from, opened at the first description needed.
  bool file_opened = false;
  int fd = -1;
  bool in_memory = false;  // `contents` holds the whole file
  bool contents_nul_free = false;  // `contents` holds no NUL byte
  std::string contents;
  int positioned_reads = 0;
  std::vector<char> scratch;

  void CloseKeySource() {
    if (key_fd >= 0 && key_fd != fd) close(key_fd);
    key_fd = -1;
  }
  bool KeysPending() const { return keys.loaded() < keys.count(); }
  ~Table() {
    CloseKeySource();
    if (fd >= 0) close(fd);
  }
};

// The lookups in one table over one comparison length: scans of the keys
// read so far until they have cost what an index costs, then the index.
struct LookupTables::Finder {
  Table* table = nullptr;
  size_t length = 0;
  std::unique_ptr<KeyIndex> index;
  uint64_t compared = 0;  // keys the scans have compared
};

struct LookupTables::DerivedPlan {
  int field;                    // the derived field filled
  int table;                    // its table number
  Finder* finder;               // nullptr: the table has no keys
  int offset;                   // of the fetched text inside a table record
  int size;                     // bytes fetched
  int width;                    // the derived field's length on this line
};

struct LookupTables::KeyPlan {
  int field;                    // the key field
  int table;
  Finder* finder;
  int length;                   // key length compared
  int description_size;         // header only: S of the table
  int description_offset;
  std::vector<DerivedPlan> derived;  // in field order
  // What the prefetches of the current record found, for its resolving:
  // the key's hash (from PrefetchKeys) and the slot of its first lookup
  // (from PrefetchRecords), each valid while its flag is set.
  mutable uint64_t hash = 0;
  mutable int64_t slot = -1;
  mutable bool hashed = false;
  mutable bool found = false;
};

LookupTables::LookupTables() = default;
LookupTables::~LookupTables() = default;

Status LookupTables::Load(const Form& form) {
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

namespace {

// The number of keys in a file of `size` bytes with a key every `stride`
// bytes (the last record may be short).
uint64_t KeysIn(int64_t size, size_t stride, size_t key_length) {
  if (key_length == 0 || size <= 0) return 0;
  const uint64_t bytes = static_cast<uint64_t>(size);
  return bytes / stride + (bytes % stride != 0 ? 1 : 0);
}

int64_t FileSize(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

// Charges `count` keys of `key_length` bytes from `file` to the memory
// limit, refusing them when they, with an index over them, would pass it.
Status LookupTables::Reserve(const std::string& file, uint64_t count, size_t key_length,
                             const char* what) {
  uint64_t keys;
  uint64_t total;
  const bool overflow = __builtin_mul_overflow(count, key_length, &keys) ||
                        __builtin_add_overflow(keys, KeyIndex::BytesFor(count, key_length, key_length),
                                               &total) ||
                        __builtin_add_overflow(total, memory_used_, &total);
  if (overflow || total > kLookupMemoryLimitBytes) {
    const std::string need = overflow ? "more than can be counted" : DescribeBytes(total - memory_used_);
    return Status::Error(std::string(what) + " '" + file + "': its " + std::to_string(count) +
                         " keys of " + std::to_string(key_length) + " bytes and their index need " +
                         need + (memory_used_ > 0 ? " (with those of other tables)" : "") +
                         ", beyond the limit of 1 GiB for lookup keys");
  }
  memory_used_ += keys;
  return Status::Ok();
}

Status LookupTables::LoadKeys(int number, int key_length, bool header_field) {
  if (!tables_[number]) {
    tables_[number] = std::make_unique<Table>();
    tables_[number]->number = number;
    tables_[number]->desc = form_->table(number);
  }
  Table& t = *tables_[number];
  if (t.keys.count() != 0) return Status::Ok();
  // A table that came out empty is opened again for the next field naming it.
  t.CloseKeySource();
  const size_t length = static_cast<size_t>(key_length);
  const std::string& name = t.desc->file_name;

  // The packed key index, when the table has one, is preferred.
  if (name.size() > 3) {
    bool opened = false;
    Status s = OpenKeyIndexFile(name.substr(0, name.size() - 3), &t, length, &opened);
    if (!s.ok() || opened) return s;
  }

  std::string why;
  const int fd = t.file_opened ? t.fd : OpenRegularFile(name, O_RDONLY, &why);
  if (fd < 0) {
    std::string where = "lookup table '" + name + "' (table " + std::to_string(number) +
                        ") cannot be opened: " + why;
    if (header_field)
      return Status::Error(where)
          .WithStdout("rddbr : Cannot open =" + name + "= " + std::to_string(number) + "\r\n")
          .WithPause(1);
    return Status::Error(where).WithStdout("rddbr : Cannot open " + name + "\r\n");
  }
  return OpenKeysInTable(fd, &t, length);
}

// Reads the keys of table `t` whole now when too many tables already wait
// to be read; a table file read so is closed again until a description
// needs it, as a key index is.
void LookupTables::LimitDeferredTables(Table* t) {
  if (!t->KeysPending() || t->deferred) return;
  if (deferred_tables_ < kMaxDeferredTables) {
    ++deferred_tables_;
    t->deferred = true;
    return;
  }
  while (t->KeysPending()) ReadMoreKeys(t);
  if (t->keys_in_table && t->fd >= 0) {
    close(t->fd);
    t->fd = -1;
    t->file_opened = false;
  }
}

// Counts the keys of the key index file, keys of `key_length` bytes packed
// end to end, by its size at opening, and keeps it open for them to be read.
// A file that cannot be opened leaves `opened` false, for the table file to
// be read.
Status LookupTables::OpenKeyIndexFile(const std::string& index_name, Table* t, size_t key_length,
                                      bool* opened) {
  std::string why;
  const int fd = OpenRegularFile(index_name, O_RDONLY, &why);
  if (fd < 0) return Status::Ok();
  const int64_t size = FileSize(fd);
  const uint64_t count = KeysIn(size, std::max<size_t>(key_length, 1), key_length);
  Status s = Reserve(index_name, count, key_length, "key index");
  if (!s.ok()) {
    close(fd);
    return s;
  }
  t->keys.Start(key_length, static_cast<int64_t>(count));
  t->keys_in_table = false;
  t->key_source_size = size;
  t->key_source_short = false;
  if (count > 0) t->key_fd = fd; else close(fd);
  *opened = true;
  return Status::Ok();
}

// Counts the keys of the table file, one at the start of every record, and
// keeps it open for them and for descriptions.
Status LookupTables::OpenKeysInTable(int fd, Table* t, size_t key_length) {
  const int64_t size = FileSize(fd);
  const size_t stride = static_cast<size_t>(t->desc->record_length);
  const uint64_t count = KeysIn(size, stride, key_length);
  Status s = Reserve(t->desc->file_name, count, key_length, "lookup table");
  if (!s.ok()) {
    if (fd != t->fd) close(fd);
    return s;
  }
  t->keys.Start(key_length, static_cast<int64_t>(count));
  t->keys_in_table = true;
  t->key_source_size = size;
  t->key_source_short = false;
  t->fd = fd;
  t->file_opened = true;
  t->key_fd = count > 0 ? fd : -1;
  return Status::Ok();
}

void LookupTables::ReadMoreKeys(Table* t) {
  KeyCache& keys = t->keys;
  const size_t key_length = keys.key_length();
  const int64_t first = keys.loaded();
  if (t->key_source_short || t->key_fd < 0) {
    // What the file no longer holds reads as empty keys.
    const int64_t n = keys.count() - first;
    std::memset(keys.Extend(n), '\0', static_cast<size_t>(n) * key_length);
  } else if (!t->keys_in_table) {
    // Packed keys: read straight into the slots, never past the size at opening.
    const int64_t n = static_cast<int64_t>(std::max<size_t>(kKeyBlock / key_length, 1));
    char* slots = keys.Extend(n);
    const size_t room = static_cast<size_t>(keys.loaded() - first) * key_length;
    const int64_t at = first * static_cast<int64_t>(key_length);
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), t->key_source_size - at));
    const size_t got = static_cast<size_t>(std::max<ssize_t>(ReadAt(t->key_fd, slots, want, at), 0));
    if (got < want) t->key_source_short = true;
    std::memset(slots + got, '\0', room - got);
  } else {
    const size_t stride = static_cast<size_t>(t->desc->record_length);
    const int64_t per_block = stride >= kKeyBlock ? 1 : static_cast<int64_t>(kKeyBlock / stride);
    char* slots = keys.Extend(per_block);
    const int64_t n = keys.loaded() - first;
    // Records longer than a block: read just each key.
    const size_t span = stride >= kKeyBlock ? key_length : static_cast<size_t>(per_block) * stride + key_length;
    key_block_.resize(span);
    const ssize_t got = ReadAt(t->key_fd, key_block_.data(), span, first * static_cast<int64_t>(stride));
    const size_t bytes = static_cast<size_t>(std::max<ssize_t>(got, 0));
    // Keys that lie whole in what was read, then any cut short.
    const int64_t whole = bytes < key_length ? 0 : std::min<int64_t>(n, static_cast<int64_t>((bytes - key_length) / stride) + 1);
    CopyKeys(slots, key_block_.data(), stride, key_length, whole);
    for (int64_t j = whole; j < n; ++j) {
      char* slot = slots + static_cast<size_t>(j) * key_length;
      const size_t at = static_cast<size_t>(j) * stride;
      const size_t copied = at < bytes ? std::min(key_length, bytes - at) : 0;
      if (at >= bytes) t->key_source_short = true;
      if (copied > 0) std::memcpy(slot, key_block_.data() + at, copied);
      if (copied < key_length) std::memset(slot + copied, '\0', key_length - copied);
    }
  }
  if (keys.loaded() == keys.count()) t->CloseKeySource();
}

int64_t LookupTables::Find(Finder* finder, std::string_view text) {
  if (finder->index) return finder->index->Find(text);
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
    while (keys.loaded() < keys.count()) ReadMoreKeys(&t);
    finder->index = std::make_unique<KeyIndex>(keys, finder->length);
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
  if (!t.in_memory && ++t.positioned_reads == kPositionedReadsBeforeLoading) {
    struct stat st;
    if (fstat(t.fd, &st) == 0 && st.st_size <= kMaxTableInMemory) {
      t.contents.resize(static_cast<size_t>(st.st_size));
      const ssize_t n = ReadAt(t.fd, t.contents.data(), t.contents.size(), 0);
      t.contents.resize(static_cast<size_t>(std::max<ssize_t>(n, 0)));
      t.in_memory = true;
      t.contents_nul_free = std::memchr(t.contents.data(), '\0', t.contents.size()) == nullptr;
      // The descriptor stays open while keys are still read through it.
      if (t.key_fd != t.fd) {
        close(t.fd);
        t.fd = -1;
      }
    }
  }
  const int64_t position = slot * t.desc->record_length + offset;
  size_t n;
  const char* bytes;
  if (t.in_memory) {
    const int64_t end = static_cast<int64_t>(t.contents.size());
    n = position >= end ? 0 : static_cast<size_t>(std::min<int64_t>(size, end - position));
    bytes = t.contents.data() + (n > 0 ? position : 0);
  } else {
    t.scratch.resize(static_cast<size_t>(size));
    n = static_cast<size_t>(std::max<ssize_t>(ReadAt(t.fd, t.scratch.data(), t.scratch.size(), position), 0));
    bytes = t.scratch.data();
  }
  if (!(t.in_memory && t.contents_nul_free)) {
    const void* nul = std::memchr(bytes, '\0', n);
    if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
  }
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
      int64_t slot = reuse_slot && d.finder == key.finder ? key_slot
                     : d.finder != nullptr                ? Find(d.finder, key_text)
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
    const int64_t slot = FindKey(key, field.text());
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
    const int64_t slot = FindKey(key, text);
    Status s = ResolveDerived(key, slot, /*reuse_slot=*/true, text, values, line);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

// The slot of the key's own lookup: the one PrefetchRecords found for this
// record when it could, else found now.
int64_t LookupTables::FindKey(const KeyPlan& key, std::string_view text) {
  if (key.found) {
    key.found = false;
    return key.slot;
  }
  return key.finder != nullptr ? Find(key.finder, text) : -1;
}

void LookupTables::PrefetchKeys(int line, const RecordValues& values) const {
  const std::vector<KeyPlan>& plan = line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)];
  for (const KeyPlan& key : plan) {
    key.hashed = false;
    key.found = false;
    if (key.finder == nullptr || !key.finder->index) continue;
    const KeyIndex& index = *key.finder->index;
    key.hash = index.HashOf(line < 0 ? values.HeaderText(key.field) : values.DetailText(line, key.field));
    key.hashed = true;
    index.Prefetch(key.hash);
  }
}

// The lookup done here is the one resolving would do: between the two
// nothing writes a key field (resolving writes a header key's own field only
// after its lookup), and an index, once built, never changes.
void LookupTables::PrefetchRecords(int line, const RecordValues& values) const {
  const std::vector<KeyPlan>& plan = line < 0 ? header_plan_ : line_plans_[static_cast<size_t>(line)];
  for (const KeyPlan& key : plan) {
    key.found = false;
    if (key.finder == nullptr || !key.finder->index) continue;
    const KeyIndex& index = *key.finder->index;
    const std::string_view text = line < 0 ? values.HeaderText(key.field) : values.DetailText(line, key.field);
    const int64_t slot = key.hashed ? index.Find(text, key.hash) : index.Find(text);
    key.hashed = false;
    key.slot = slot;
    key.found = true;
    if (slot < 0) continue;
    const Table& t = *tables_[key.table];
    if (!t.in_memory) continue;
    const int64_t length = static_cast<int64_t>(t.contents.size());
    if (line < 0 && key.description_size > 0) {
      const int64_t position = slot * t.desc->record_length + key.description_offset;
      if (position < length) __builtin_prefetch(t.contents.data() + position);
    }
    for (const DerivedPlan& d : key.derived) {
      const int64_t position = slot * t.desc->record_length + d.offset;
      if (d.finder == key.finder && position < length) __builtin_prefetch(t.contents.data() + position);
    }
  }
}
