// Writing, reading and rolling back the journal.
#include "store_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "file_io.h"
#include "store_lock.h"

namespace {

constexpr char kMagic[] = "store-journal 1";
// A journal holds a record or two and a key; anything larger is not ours.
constexpr size_t kMaxJournalSize = size_t{256} << 20;

uint64_t Fnv1a(const char* bytes, size_t n) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ull;
  return h;
}

// Reads the decimal integers of one line at `*at`, moving past it.
bool ReadNumbers(const std::string& bytes, size_t* at, std::vector<int64_t>* numbers, size_t count) {
  size_t end = bytes.find('\n', *at);
  if (end == std::string::npos) return false;
  const std::string line = bytes.substr(*at, end - *at);
  *at = end + 1;
  const char* p = line.c_str();
  numbers->clear();
  for (size_t i = 0; i < count; ++i) {
    char* next = nullptr;
    long long v = std::strtoll(p, &next, 10);
    if (next == p) return false;
    numbers->push_back(v);
    p = next;
  }
  return *p == '\0';
}

}  // namespace

std::string EncodeJournal(const Journal& j) {
  char line[160];
  std::snprintf(line, sizeof line, "%s\n%" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %zu\n", kMagic, j.sizes[0],
                j.sizes[1], j.sizes[2], j.sizes[3], j.pieces.size());
  std::string out = line;
  for (const JournalPiece& p : j.pieces) {
    std::snprintf(line, sizeof line, "%d %" PRId64 " %zu\n", static_cast<int>(p.file), p.offset, p.old_bytes.size());
    out += line;
    out += p.old_bytes;
    out += '\n';
  }
  std::snprintf(line, sizeof line, "end %016" PRIx64 "\n", Fnv1a(out.data(), out.size()));
  return out + line;
}

bool DecodeJournal(const std::string& bytes, Journal* j) {
  const size_t end = bytes.rfind("end ");
  if (end == std::string::npos || bytes.size() != end + 21 || bytes.back() != '\n') return false;
  char sum[17];
  std::snprintf(sum, sizeof sum, "%016" PRIx64, Fnv1a(bytes.data(), end));
  if (bytes.compare(end + 4, 16, sum) != 0) return false;
  const size_t magic_length = std::strlen(kMagic);
  if (bytes.compare(0, magic_length, kMagic) != 0 || bytes.size() <= magic_length || bytes[magic_length] != '\n')
    return false;
  size_t at = magic_length + 1;
  std::vector<int64_t> n;
  if (!ReadNumbers(bytes, &at, &n, 5) || n[4] < 0) return false;
  for (int i = 0; i < 4; ++i) j->sizes[i] = n[i];
  j->pieces.clear();
  for (int64_t i = 0; i < n[4]; ++i) {
    std::vector<int64_t> p;
    if (!ReadNumbers(bytes, &at, &p, 3) || p[0] < 0 || p[0] > 3 || p[1] < 0 || p[2] < 0) return false;
    const size_t length = static_cast<size_t>(p[2]);
    if (length > end - at || end - at - length < 1 || bytes[at + length] != '\n') return false;
    j->pieces.push_back({static_cast<StoreFile>(p[0]), p[1], bytes.substr(at, length)});
    at += length + 1;
  }
  return at == end;
}

bool JournalExists(const std::string& dir) {
  struct stat st;
  return fstatat(AT_FDCWD, (dir + "/" + kJournalFile).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

namespace {

Status RestorePieces(StoreIo* io, const Journal& j, bool touched[4]) {
  for (const JournalPiece& p : j.pieces) {
    if (!io->has(p.file)) continue;
    Status s = io->Write(p.file, p.offset, p.old_bytes);
    if (!s.ok()) return s;
    touched[static_cast<int>(p.file)] = true;
  }
  for (int f = 0; f < 4; ++f) {
    const StoreFile file = static_cast<StoreFile>(f);
    if (j.sizes[f] < 0 || !io->has(file) || io->Size(file) <= j.sizes[f]) continue;
    Status s = io->Truncate(file, j.sizes[f]);
    if (!s.ok()) return s;
    touched[f] = true;
  }
  return Status::Ok();
}

}  // namespace

Status RollBackLocked(StoreIo* io) {
  if (!io->OpenJournal()) {
    if (errno == ENOENT) return Status::Ok();
    if (errno == EINVAL)
      return Status::Error(std::string(kJournalFile) +
                           " is no regular file, so no journal this program wrote; it is left as it is, and the "
                           "store is not read or written until it is gone");
    return Status::Error(std::string(kJournalFile) + " cannot be opened as the store's journal (" + std::strerror(errno) +
                         "); it is left as it is, and the store is not written until it is gone");
  }
  std::string bytes;
  const int64_t size = io->Size(StoreFile::kJournal);
  if (size < 0 || static_cast<uint64_t>(size) > kMaxJournalSize)
    return Status::Error(std::string(kJournalFile) + " is not a journal this program wrote; it is left as it is");
  Status s = io->Read(StoreFile::kJournal, 0, static_cast<size_t>(size), &bytes);
  if (!s.ok()) return s;
  Journal j;
  if (DecodeJournal(bytes, &j)) {
    bool touched[4] = {false, false, false, false};
    if (!(s = RestorePieces(io, j, touched)).ok()) return s;
    for (int f = 0; f < 4; ++f)
      if (touched[f] && !(s = io->Flush(static_cast<StoreFile>(f))).ok()) return s;
  }
  // A journal that is not whole was cut short while it was written, before
  // the change touched any store file.
  if (!(s = io->RemoveJournal()).ok()) return s;
  return io->FlushDirectory();
}

Status RollBackStore(const std::string& dir, const StepHook* hook) {
  StoreIo io;
  Status s = io.Open(dir);
  if (!s.ok()) return Status::Error("the store's unfinished change cannot be rolled back: " + s.message());
  io.SetHook(hook);
  const int fd = io.fd(StoreFile::kInfo);
  if (!SetStoreLock(fd, StoreLockByte::kWriters, LockMode::kExclusive, true) ||
      !SetStoreLock(fd, StoreLockByte::kReaders, LockMode::kExclusive, true))
    return Status::Error("INFO in " + dir + " cannot be locked: " + std::strerror(errno));
  s = RollBackLocked(&io);
  // Closing INFO's descriptor in io's destructor lets both locks go.
  return s;
}
