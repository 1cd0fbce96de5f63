// Copying the few bytes of a field without a call: most field texts,
// descriptions and printed pieces are a few dozen bytes or less, where a
// call to memcpy costs more than the copy.
#ifndef QUERY_SHORT_COPY_H_
#define QUERY_SHORT_COPY_H_

#include <cstddef>
#include <cstring>

// Copies `n` bytes, kWidth <= n <= 2 * kWidth, as two moves of kWidth
// bytes that overlap in the middle.
template <size_t kWidth>
inline void CopyTwoOverlapping(char* to, const char* from, size_t n) {
  char head[kWidth], tail[kWidth];
  std::memcpy(head, from, kWidth);
  std::memcpy(tail, from + n - kWidth, kWidth);
  std::memcpy(to, head, kWidth);
  std::memcpy(to + n - kWidth, tail, kWidth);
}

// Copies exactly `n` bytes from `from` to `to` (which must not overlap):
// up to 32 with two overlapping moves, more through memcpy.
inline void CopyShort(char* to, const char* from, size_t n) {
  if (n >= 16 && n <= 32) {
    CopyTwoOverlapping<16>(to, from, n);
  } else if (n >= 8 && n < 16) {
    CopyTwoOverlapping<8>(to, from, n);
  } else if (n >= 4 && n < 8) {
    CopyTwoOverlapping<4>(to, from, n);
  } else if (n > 0) {  // an empty text may have no data pointer
    std::memcpy(to, from, n);
  }
}

#endif  // QUERY_SHORT_COPY_H_
