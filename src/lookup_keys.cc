// Reading the keys of lookup tables: counting them at start-up from the key
// index file or the table file, and reading them block by block as the
// lookups need them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "file_io.h"
#include "lookup_table.h"

namespace {

// Keys are read in blocks of about this many bytes of their file.
constexpr size_t kKeyBlock = 1 << 16;
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
  const int fd = t.descriptions == DescriptionSource::kPositioned ? t.fd : OpenRegularFile(PathOf(name), O_RDONLY, &why);
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
  if (!t->KeysPending() || t->counted_as_waiting) return;
  if (deferred_tables_ < kMaxDeferredTables) {
    ++deferred_tables_;
    t->counted_as_waiting = true;
    return;
  }
  const bool read_from_table_file = t->key_source == KeySource::kTableFile;
  while (t->KeysPending()) ReadMoreKeys(t);
  if (read_from_table_file && t->fd >= 0) {
    close(t->fd);
    t->fd = -1;
    t->descriptions = DescriptionSource::kClosed;
  }
}

// Counts the keys of the key index file, keys of `key_length` bytes packed
// end to end, by its size at opening, and keeps it open for them to be read.
// A file that cannot be opened leaves `opened` false, for the table file to
// be read.
Status LookupTables::OpenKeyIndexFile(const std::string& index_name, Table* t, size_t key_length,
                                      bool* opened) {
  std::string why;
  const int fd = OpenRegularFile(PathOf(index_name), O_RDONLY, &why);
  if (fd < 0) return Status::Ok();
  const int64_t size = FileSize(fd);
  const uint64_t count = KeysIn(size, std::max<size_t>(key_length, 1), key_length);
  Status s = Reserve(index_name, count, key_length, "key index");
  if (!s.ok()) {
    close(fd);
    return s;
  }
  t->keys.Start(key_length, static_cast<int64_t>(count));
  t->key_source_size = size;
  if (count > 0) {
    t->key_fd = fd;
    t->key_source = KeySource::kKeyIndexFile;
  } else {
    close(fd);
  }
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
  t->key_source_size = size;
  t->fd = fd;
  t->descriptions = DescriptionSource::kPositioned;
  if (count > 0) {
    t->key_fd = fd;
    t->key_source = KeySource::kTableFile;
  }
  return Status::Ok();
}

void LookupTables::ReadMoreKeys(Table* t) {
  KeyCache& keys = t->keys;
  const size_t key_length = keys.key_length();
  const int64_t first = keys.loaded();
  if (t->key_source == KeySource::kExhausted || t->key_source == KeySource::kNone) {
    // What the file no longer holds reads as empty keys.
    const int64_t n = keys.count() - first;
    std::memset(keys.Extend(n), '\0', static_cast<size_t>(n) * key_length);
  } else if (t->key_source == KeySource::kKeyIndexFile) {
    // Packed keys: read straight into the slots, never past the size at opening.
    const int64_t n = static_cast<int64_t>(std::max<size_t>(kKeyBlock / key_length, 1));
    char* slots = keys.Extend(n);
    const size_t room = static_cast<size_t>(keys.loaded() - first) * key_length;
    const int64_t at = first * static_cast<int64_t>(key_length);
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), t->key_source_size - at));
    const size_t got = static_cast<size_t>(std::max<ssize_t>(ReadAt(t->key_fd, slots, want, at), 0));
    if (got < want) t->key_source = KeySource::kExhausted;
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
      if (at >= bytes) t->key_source = KeySource::kExhausted;
      if (copied > 0) std::memcpy(slot, key_block_.data() + at, copied);
      if (copied < key_length) std::memset(slot + copied, '\0', key_length - copied);
    }
  }
  if (keys.loaded() == keys.count()) t->CloseKeySource();
}


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
