// Searching the header index H for the key shortcut.
#include "header_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "file_io.h"

namespace {

// The first of keys [0, count) of `keys` (`key` bytes each) equal to
// `probe`, or -1. The first eight bytes are compared as one word.
int64_t FindKey(const char* keys, int64_t count, size_t key, const char* probe) {
  if (key >= 8) {
    uint64_t head;
    std::memcpy(&head, probe, 8);
    auto equal = [&](const char* k) {
      uint64_t word;
      std::memcpy(&word, k, 8);
      return word == head && std::memcmp(k + 8, probe + 8, key - 8) == 0;
    };
    int64_t i = 0;
    // Four keys a step, with one branch while none of their first words matches.
    for (; i + 4 <= count; i += 4, keys += 4 * key) {
      uint64_t w[4];
      for (int j = 0; j < 4; ++j) std::memcpy(&w[j], keys + j * key, 8);
      if (((w[0] == head) | (w[1] == head) | (w[2] == head) | (w[3] == head)) == 0) continue;
      for (int j = 0; j < 4; ++j)
        if (equal(keys + j * key)) return i + j;
    }
    for (; i < count; ++i, keys += key)
      if (equal(keys)) return i;
    return -1;
  }
  for (int64_t i = 0; i < count; ++i, keys += key) {
    if (keys[0] == probe[0] && std::memcmp(keys, probe, key) == 0) return i;
  }
  return -1;
}

// H is searched in blocks that stay in the processor's cache: the search
// touches each byte once, so a larger block would only cost more memory to
// fill. A large H is mapped instead of read: copying it costs the kernel more
// than the search itself.
constexpr size_t kHeaderIndexBlock = 1 << 16;
constexpr int64_t kMapHeaderIndexFrom = 1 << 18;

// The state of a search of H, block by block.
struct HeaderSearch {
  const char* probe;
  size_t key;
  int64_t limit;
  int64_t index = 0;   // keys searched
  int64_t found = -1;

  // Searches the whole keys of one block; true once the search is over.
  bool Block(const char* bytes, size_t n) {
    // A short last key never equals a probe.
    const int64_t whole = std::min<int64_t>(static_cast<int64_t>(n / key), limit - index);
    const int64_t at = FindKey(bytes, whole, key, probe);
    if (at >= 0) found = index + at;
    index += whole;
    return found >= 0 || index >= limit;
  }
};

}  // namespace

int64_t FindInHeaderIndex(const std::string& path, std::string_view probe, int key_length,
                          int64_t limit) {
  if (key_length <= 0 || probe.size() < static_cast<size_t>(key_length)) return -1;
  std::string why;
  int fd = OpenRegularFile(path, O_RDONLY, &why, LinkRule::kFollowIfSameOwner);
  if (fd < 0) return -1;
  const size_t key = static_cast<size_t>(key_length);
  const size_t block_size = std::max<size_t>(key, kHeaderIndexBlock / key * key);
  HeaderSearch search{probe.data(), key, limit};
  int64_t offset = 0;
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  // A sparse H (its size set by truncate, say) is read only where it holds
  // data: its holes hold zero bytes, which no key of a query equals.
  const bool sparse = known && st.st_size > 0 && NextHoleOffset(fd, 0) < st.st_size;
  if (known && !sparse && st.st_size >= kMapHeaderIndexFrom && limit > 0) {
    const int64_t mapped = VisitMapped(
        fd, st.st_size, block_size,
        [](const char* bytes, size_t n, void* context) { return static_cast<HeaderSearch*>(context)->Block(bytes, n); },
        &search);
    // From the last whole key the mapping held (its end, or the block where
    // a page H no longer holds was met), blocks are read: they find the end
    // of the file as it now stands.
    if (mapped > 0) offset = search.index * static_cast<int64_t>(key);
  }
  if (search.found < 0 && search.index < limit) {
    const auto block = std::make_unique_for_overwrite<char[]>(block_size);
    while (true) {
      if (sparse) {
        const int64_t data = NextDataOffset(fd, offset);
        if (data < 0) break;
        if (data - offset >= static_cast<int64_t>(key)) {
          search.index = data / static_cast<int64_t>(key);
          offset = search.index * static_cast<int64_t>(key);
          if (search.index >= limit) break;
        }
      }
      ssize_t n = ReadAt(fd, block.get(), block_size, offset);
      if (n <= 0) break;
      offset += n;
      if (search.Block(block.get(), static_cast<size_t>(n)) || static_cast<size_t>(n) < block_size) break;
    }
  }
  close(fd);
  return search.found;
}
