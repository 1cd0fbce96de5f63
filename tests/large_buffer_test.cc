#include "large_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
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

// Small buffers interleaved with other heap allocations, as a worker makes
// them while it builds a table the other threads then read, share no cache
// line with each other or with anything else.
TEST(LargeBufferTest, SmallBuffersShareNoCacheLine) {
  std::vector<LargeBuffer> buffers;
  std::vector<std::unique_ptr<char[]>> others;
  for (size_t size : {size_t{1}, size_t{7}, size_t{100}, size_t{129}, size_t{4000}, size_t{65537}}) {
    for (int i = 0; i < 8; ++i) {
      buffers.emplace_back(size);
      others.push_back(std::make_unique<char[]>(24));
    }
  }
  auto lines = [](const void* p, size_t n) {
    const uintptr_t first = reinterpret_cast<uintptr_t>(p) / kCacheLineBytes;
    return std::make_pair(first, (reinterpret_cast<uintptr_t>(p) + std::max<size_t>(n, 1) - 1) / kCacheLineBytes);
  };
  for (size_t i = 0; i < buffers.size(); ++i) {
    const auto [first, last] = lines(buffers[i].data(), buffers[i].size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffers[i].data()) % kCacheLineBytes, 0u);
    for (size_t j = 0; j < buffers.size(); ++j) {
      if (j == i) continue;
      const auto [other_first, other_last] = lines(buffers[j].data(), buffers[j].size());
      EXPECT_TRUE(last < other_first || other_last < first) << i << " and " << j;
    }
    for (const auto& other : others) {
      const auto [other_first, other_last] = lines(other.get(), 24);
      EXPECT_TRUE(last < other_first || other_last < first) << i;
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

// Whether the kernel may back the mapping that holds `address` with huge
// pages, as /proc/self/smaps says; -1 when it does not say.
int HugePagesEligible(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2 && line.find('-') < 17) {
      inside = at >= begin && at < end;
    } else if (inside && line.rfind("THPeligible:", 0) == 0) {
      return std::atoi(line.c_str() + 12);
    }
  }
  return -1;
}

// Whether the kernel gives huge pages where a program asks for them, and
// only there.
bool HugePagesOnRequest() {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(mode, modes);
  return modes.find("[madvise]") != std::string::npos;
}

// A buffer filled only as far as a run needs never asks for huge pages, so
// that a small run never waits for the kernel to gather one; a buffer filled
// whole does. Checked where huge pages are given on request only.
TEST(LargeBufferTest, OnlyBuffersFilledWholeAskForHugePages) {
  if (!HugePagesOnRequest()) GTEST_SKIP() << "huge pages are not given on request here";
  LargeBuffer whole(size_t{4} << 20);
  LargeBuffer as_needed(size_t{4} << 20, PageUse::kFilledAsNeeded);
  EXPECT_EQ(HugePagesEligible(whole.data()), 1);
  EXPECT_EQ(HugePagesEligible(as_needed.data()), 0);
}

// Only the whole 2 MiB pieces of a buffer ask for huge pages: a piece the
// buffer fills only in part would be cleared whole on its first touch.
TEST(LargeBufferTest, OnlyWholeHugePagesOfABufferAskForThem) {
  if (!HugePagesOnRequest()) GTEST_SKIP() << "huge pages are not given on request here";
  constexpr size_t kHuge = size_t{2} << 20;
  LargeBuffer small(kLargeBufferThreshold);
  LargeBuffer under_one(kHuge - 4096);
  LargeBuffer one_and_a_half(kHuge + kHuge / 2);
  EXPECT_EQ(HugePagesEligible(small.data()), 0);
  EXPECT_EQ(HugePagesEligible(under_one.data()), 0);
  EXPECT_EQ(HugePagesEligible(one_and_a_half.data()), 1);
  EXPECT_EQ(HugePagesEligible(one_and_a_half.data() + kHuge), 0);
}

// A buffer read at random places takes a huge page for a tail of half a
// huge page or more as well, so that its lookups seldom miss the page
// translations; a shorter tail, and a buffer of less than half a huge
// page, still take small pages.
TEST(LargeBufferTest, BuffersReadAtRandomAskForHugePagesOverTailsOfHalfAPageOrMore) {
  if (!HugePagesOnRequest()) GTEST_SKIP() << "huge pages are not given on request here";
  constexpr size_t kHuge = size_t{2} << 20;
  LargeBuffer quarter(kHuge / 4, PageUse::kReadAtRandom);
  LargeBuffer three_quarters(kHuge - kHuge / 4, PageUse::kReadAtRandom);
  LargeBuffer and_a_quarter(kHuge + kHuge / 4, PageUse::kReadAtRandom);
  LargeBuffer and_a_half(kHuge + kHuge / 2, PageUse::kReadAtRandom);
  EXPECT_EQ(HugePagesEligible(quarter.data()), 0);
  EXPECT_EQ(HugePagesEligible(three_quarters.data()), 1);
  EXPECT_EQ(HugePagesEligible(and_a_quarter.data()), 1);
  EXPECT_EQ(HugePagesEligible(and_a_quarter.data() + kHuge), 0);
  EXPECT_EQ(HugePagesEligible(and_a_half.data() + kHuge), 1);

  // Containers of that kind keep the advice as they grow.
  std::vector<uint64_t, LargeAllocator<uint64_t, PageUse::kReadAtRandom>> words(kHuge / 2 / sizeof(uint64_t) + 1);
  EXPECT_EQ(HugePagesEligible(words.data()), 1);
}

}  // namespace
