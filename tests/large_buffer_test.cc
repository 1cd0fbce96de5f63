#include "large_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>


namespace {

// Every byte of a buffer below, at and above the huge-page threshold, and
// past a huge page, can be written and read back; mapped buffers start on a
// huge-page boundary, so that the kernel can back them with huge pages.
TEST(LargeBufferTest, EveryByteOfBuffersOfEverySizeIsUsable) {
  for (size_t size : {size_t{1}, size_t{4096}, kLargeBufferThreshold - 1, kLargeBufferThreshold,
                      (size_t{2} << 20) + 3}) {
    LargeBuffer buffer(size);
    ASSERT_EQ(buffer.size(), size);
    std::memset(buffer.data(), 0x5a, size);
    EXPECT_EQ(buffer.data()[0], 0x5a);
    EXPECT_EQ(buffer.data()[size - 1], 0x5a);
    if (size >= kLargeBufferThreshold) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.data()) % (size_t{2} << 20), 0u) << size;
    }
  }
}

TEST(LargeBufferTest, AnEmptyBufferHasAPointerAndAMovedOneOwnsItsBytesAlone) {
  LargeBuffer empty(0);
  EXPECT_NE(empty.data(), nullptr);
  EXPECT_EQ(empty.size(), 0u);

  LargeBuffer first(kLargeBufferThreshold);
  std::memset(first.data(), 'a', first.size());
  LargeBuffer second(std::move(first));
  EXPECT_EQ(first.size(), 0u);
  EXPECT_EQ(second.data()[kLargeBufferThreshold - 1], 'a');
  LargeBuffer third(16);
  third = std::move(second);
  EXPECT_EQ(third.size(), kLargeBufferThreshold);
  EXPECT_EQ(third.data()[0], 'a');
}

// Growing across the threshold moves the contents from the heap to a
// mapping and on to larger mappings without losing a byte.
TEST(LargeBufferTest, ContainersKeepTheirContentsAsTheyGrowPastTheThreshold) {
  std::vector<uint32_t, LargeAllocator<uint32_t>> numbers;
  for (uint32_t i = 0; i < 300000; ++i) numbers.push_back(i * 7u);
  for (uint32_t i = 0; i < 300000; i += 997) ASSERT_EQ(numbers[i], i * 7u);
}

}  // namespace
