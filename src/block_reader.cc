// Buffered positioned reads over one file of the record store.
#include "block_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "file_io.h"

namespace {

// The first window of a file: small, since a run may read a record or two.
constexpr size_t kFirstWindow = 1 << 14;
// Refills that jump, counted before the reader decides how to follow them.
constexpr int64_t kJumpsBeforeAdapting = 64;
// What a read at a place beyond the memory for whole files takes: a page.
constexpr size_t kJumpBlock = 4096;

// What the files held whole in memory may take together, for every reader
// of the process (the threads of a walk, the requests of a service).
constexpr uint64_t kInMemoryForAllReaders = uint64_t{512} << 20;

// The process's state in this module: the bytes of files that readers hold
// whole in memory now, against kInMemoryForAllReaders.
std::atomic<uint64_t> bytes_held_in_memory{0};

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

BlockReader::~BlockReader() {
  Hold(0);
  if (fd_ >= 0) close(fd_);
}

Status BlockReader::Open(const std::string& path, size_t block_size) {
  std::string why;
  fd_ = OpenRegularFile(path, O_RDONLY, &why, LinkRule::kFollowIfSameOwner);
  if (fd_ < 0) return Status::Error(path + " cannot be opened for reading: " + why);
  capacity_ = std::max<size_t>(block_size, 1);
  fill_size_ = std::min(capacity_, kFirstWindow);
  buffer_ = LargeBuffer(fill_size_);
  return Status::Ok();
}

int64_t BlockReader::FileSize() const {
  struct stat st;
  return fd_ >= 0 && fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

bool BlockReader::Fill() {
  if (position_ >= window_start_ && position_ < window_start_ + window_size_) return true;
  if ((position_ >= known_end_ && !Grew()) || position_ < 0 || fd_ < 0) return false;
  if (adapting_) {
    NoteRefill();
    if (position_ >= window_start_ && position_ < window_start_ + window_size_) return true;
    if (position_ >= known_end_) return false;
  }
  // A run that goes on past its first window gets the whole buffer at once.
  if (fill_size_ > buffer_.size()) buffer_ = LargeBuffer(capacity_);
  size_t want = fill_size_;
  if (read_end_ > position_ && static_cast<uint64_t>(read_end_ - position_) < want)
    want = std::max(static_cast<size_t>(read_end_ - position_), std::min(kFirstWindow, fill_size_));
  ssize_t n = LockedReadAt(buffer_.data(), want, position_);
  window_start_ = position_;
  window_size_ = std::max<ssize_t>(n, 0);
  if (static_cast<size_t>(window_size_) < want) known_end_ = position_ + window_size_;
  fill_size_ = std::min(capacity_, fill_size_ * 2);
  return window_size_ > 0;
}

void BlockReader::NoteRefill() {
  const int64_t window_end = window_start_ + window_size_;
  const bool onward = window_size_ > 0 && position_ >= window_end &&
                      position_ - window_end < static_cast<int64_t>(fill_size_);
  ++refills_;
  if (!onward && !walk_beginning_) ++jumps_;
  walk_beginning_ = false;
  if (jumps_ < kJumpsBeforeAdapting || jumps_ * 4 < refills_) return;
  adapting_ = false;
  const int64_t size = FileSize();
  if (size > 0 && static_cast<uint64_t>(size) <= max_in_memory_ && Hold(static_cast<uint64_t>(size))) {
    LoadWhole(size);
  } else {
    capacity_ = fill_size_ = kJumpBlock;
  }
}

uint64_t BlockReader::BytesHeldInMemory() { return bytes_held_in_memory.load(); }

bool BlockReader::Hold(uint64_t bytes) {
  if (bytes <= held_) {
    bytes_held_in_memory -= held_ - bytes;
    held_ = bytes;
    return true;
  }
  const uint64_t more = bytes - held_;
  uint64_t now = bytes_held_in_memory.load();
  do {
    if (now + more > kInMemoryForAllReaders) return false;
  } while (!bytes_held_in_memory.compare_exchange_weak(now, now + more));
  held_ = bytes;
  return true;
}

void BlockReader::ReadPageAtAPlace() {
  Hold(0);
  whole_ = false;
  buffer_ = LargeBuffer(kJumpBlock);
  capacity_ = fill_size_ = kJumpBlock;
  window_start_ = 0;
  window_size_ = 0;
}

void BlockReader::LoadWhole(int64_t size) {
  // Held whole because the walk jumps about in it.
  buffer_ = LargeBuffer(static_cast<size_t>(size), PageUse::kReadAtRandom);
  const ssize_t n = LockedReadAt(buffer_.data(), static_cast<size_t>(size), 0);
  whole_ = true;
  capacity_ = fill_size_ = static_cast<size_t>(size);
  window_start_ = 0;
  window_size_ = std::max<ssize_t>(n, 0);
  // What the file held when it was read is all the run sees of it.
  known_end_ = window_size_;
}

ssize_t BlockReader::LockedReadAt(char* out, size_t n, int64_t offset) {
  // A lock that cannot be had (a file system without locks, a dead writer's
  // change that cannot be rolled back) leaves the read unlocked.
  const bool locked = lock_ != nullptr && lock_->Lock().ok();
  const ssize_t got = ReadAt(fd_, out, n, offset);
  if (locked) lock_->Unlock();
  return got;
}

bool BlockReader::Grew() {
  const int64_t size = lock_ != nullptr ? FileSize() : 0;
  if (size <= known_end_) return false;
  known_end_ = INT64_MAX;
  if (whole_) {
    if (Hold(static_cast<uint64_t>(size))) {
      LoadWhole(size);
    } else {
      ReadPageAtAPlace();
    }
  }
  return true;
}

size_t BlockReader::ReadFieldSlowly(char* out, size_t max, size_t* text_length, bool* at_end) {
  size_t copied = 0;
  *at_end = false;
  while (copied < max) {
    if (!Fill()) {
      *at_end = copied == 0;
      break;
    }
    const char* p = buffer_.data() + (position_ - window_start_);
    size_t n = std::min<size_t>(window_start_ + window_size_ - position_, max - copied);
    const void* nl = std::memchr(p, '\n', n);
    if (nl != nullptr) n = static_cast<size_t>(static_cast<const char*>(nl) - p) + 1;
    std::memcpy(out + copied, p, n);
    copied += n;
    position_ += static_cast<int64_t>(n);
    if (nl != nullptr) break;
  }
  const void* nul = std::memchr(out, '\0', copied);
  *text_length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - out) : copied;
  return copied;
}

bool BlockReader::ReadIntegerField(int width, int64_t* value) {
  char copy[16];
  const char* field;
  size_t n = static_cast<size_t>(width);
  const int64_t offset = position_ - window_start_;
  if (offset >= 0 && offset + width <= window_size_) {
    field = buffer_.data() + offset;  // the usual case: no copy
    position_ += width;
  } else {
    n = ReadRaw(copy, n);
    field = copy;
  }
  size_t i = 0;
  while (i < n && IsSpace(static_cast<unsigned char>(field[i]))) ++i;
  bool negative = false;
  if (i < n && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  const size_t digits = i;
  int64_t v = 0;
  for (; i < n && field[i] >= '0' && field[i] <= '9'; ++i) v = v * 10 + (field[i] - '0');
  if (i == digits) return false;
  *value = negative ? -v : v;
  return true;
}

size_t BlockReader::ReadRaw(char* out, size_t max) {
  size_t copied = 0;
  while (copied < max && Fill()) {
    const char* p = buffer_.data() + (position_ - window_start_);
    size_t n = std::min<size_t>(window_start_ + window_size_ - position_, max - copied);
    std::memcpy(out + copied, p, n);
    copied += n;
    position_ += static_cast<int64_t>(n);
  }
  return copied;
}

