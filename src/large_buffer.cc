#include "large_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// `bytes` rounded up to a multiple of `unit`, a power of two.
size_t RoundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) & ~(unit - 1); }
size_t RoundUpToHugePage(size_t bytes) { return RoundUp(bytes, kHugePage); }

// How many bytes from the start of a mapped buffer of `bytes` ask for huge
// pages. Only the whole huge pages the buffer fills: a huge page for the
// tail of a buffer, or for a buffer smaller than one, would be cleared whole
// on its first touch, bytes the run never uses. A buffer read at random
// places also takes one for a tail of half a huge page or more, which then
// wastes less than it saves in missed page translations.
size_t HugePagedBytes(size_t bytes, PageUse use) {
  if (use == PageUse::kFilledAsNeeded) return 0;
  const size_t whole_pages = bytes & ~(kHugePage - 1);
  if (use == PageUse::kReadAtRandom && bytes - whole_pages >= kHugePage / 2) return RoundUpToHugePage(bytes);
  return whole_pages;
}

}  // namespace

void* AllocateLarge(size_t bytes, PageUse use) {
  if (bytes < kLargeBufferThreshold) {
    // Whole cache lines: a buffer one thread fills and others read (a
    // table's keys or its index) then shares no line with memory a thread
    // writes as it walks, which would take the line from every other
    // processor's cache at each write.
    void* p = std::aligned_alloc(kCacheLineBytes, RoundUp(bytes > 0 ? bytes : 1, kCacheLineBytes));
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }
  if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  const size_t length = RoundUpToHugePage(bytes);
  // One huge page more than needed, so that an aligned run of `length`
  // bytes lies inside; the ends outside it are given back.
  void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t first = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (first + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > first) munmap(mapped, aligned - first);
  const uintptr_t end = first + length + kHugePage;
  if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
  void* memory = reinterpret_cast<void*>(aligned);
  // Advice only: a kernel without huge pages leaves ordinary memory.
  const size_t huge = HugePagedBytes(bytes, use);
  if (huge > 0) madvise(memory, huge, MADV_HUGEPAGE);
  return memory;
}

void FreeLarge(void* memory, size_t bytes) noexcept {
  if (memory == nullptr) return;
  if (bytes < kLargeBufferThreshold) {
    std::free(memory);
    return;
  }
  munmap(memory, RoundUpToHugePage(bytes));
}
