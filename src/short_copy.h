// Copying the few bytes of a field without a call: most field texts,
// descriptions and printed pieces are a few dozen bytes or less, where a
// call to memcpy costs more than the copy.
#ifndef QUERY_SHORT_COPY_H_
#define QUERY_SHORT_COPY_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies exactly `n` bytes from `from` to `to` (which must not overlap):
// up to 32 with two overlapping moves, more through memcpy.
inline void CopyShort(char* to, const char* from, size_t n) {
  if (n >= 16 && n <= 32) {
    char head[16], tail[16];
    std::memcpy(head, from, 16);
    std::memcpy(tail, from + n - 16, 16);
    std::memcpy(to, head, 16);
    std::memcpy(to + n - 16, tail, 16);
  } else if (n >= 8 && n < 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4 && n < 8) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n > 0) {  // an empty text may have no data pointer
    std::memcpy(to, from, n);
  }
}

#endif  // QUERY_SHORT_COPY_H_
