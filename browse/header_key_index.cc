#include "header_key_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kReadChunk = 1 << 20;

bool IsPadding(char c) { return c == ' ' || c == '\0'; }

// Reads up to `want` bytes of `fd` into `out`, a chunk at a time.
bool ReadUpTo(int fd, size_t want, std::string* out, std::string* why) {
  out->clear();
  while (out->size() < want) {
    const size_t have = out->size();
    out->resize(have + std::min(kReadChunk, want - have));
    const ssize_t n = read(fd, &(*out)[have], out->size() - have);
    out->resize(have + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
  }
  return true;
}

}  // namespace

std::string_view TrimmedKey(std::string_view text) {
  while (!text.empty() && IsPadding(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsPadding(text.back())) text.remove_suffix(1);
  return text;
}

bool HeaderKeyIndex::Load(const std::string& path, int key_length, int64_t records, std::string* why) {
  if (key_length <= 0 || records < 0) {
    *why = "header field 0 has no length";
    return false;
  }
  const int64_t most = std::min<int64_t>(records, std::numeric_limits<uint32_t>::max());
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *why = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *why = path + " is no regular file";
    return false;
  }
  const size_t want = static_cast<size_t>(std::min<int64_t>(most * key_length, st.st_size));
  std::string error;
  bool read_ok = ReadUpTo(fd, want, &keys_, &error);
  close(fd);
  if (!read_ok) {
    *why = "cannot read " + path + ": " + error;
    return false;
  }
  key_length_ = key_length;
  order_.resize(keys_.size() / static_cast<size_t>(key_length));
  for (size_t k = 0; k < order_.size(); ++k) order_[k] = static_cast<uint32_t>(k);
  std::stable_sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) {
    return TrimmedKey(KeyOf(a)) < TrimmedKey(KeyOf(b));
  });
  return true;
}

std::string_view HeaderKeyIndex::KeyOf(int64_t record) const {
  return std::string_view(keys_).substr(static_cast<size_t>(record) * static_cast<size_t>(key_length_),
                                        static_cast<size_t>(key_length_));
}

int64_t HeaderKeyIndex::Find(std::string_view key) const {
  key = TrimmedKey(key);
  if (key.empty()) return -1;
  auto at = std::lower_bound(order_.begin(), order_.end(), key,
                             [this](uint32_t record, std::string_view wanted) { return TrimmedKey(KeyOf(record)) < wanted; });
  if (at == order_.end() || TrimmedKey(KeyOf(*at)) != key) return -1;
  return *at;
}
