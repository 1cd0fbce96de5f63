#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "lookup.h"

namespace {

std::unique_ptr<KeyIndex> IndexOfTwoKeys() {
  KeyCache keys;
  keys.Assign({'A', 'B', 'C', 'D'}, 2, 2);
  return std::make_unique<KeyIndex>(keys, 2);
}

// Readers that ask for one index at once get the one index, built once.
TEST(SharedLookupsTest, AnIndexIsBuiltOnceForEveryReaderAskingAtOnce) {
  SharedLookups shared;
  std::atomic<int> builds{0};
  std::vector<std::shared_ptr<const KeyIndex>> got(4);
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&, r] {
      got[r] = shared.Index(1, 2, [&] {
        ++builds;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return IndexOfTwoKeys();
      });
    });
  }
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(builds.load(), 1);
  for (const auto& index : got) {
    ASSERT_EQ(index, got[0]);
    EXPECT_EQ(index->Find("CD"), 1);
  }
  EXPECT_EQ(shared.BuiltIndex(1, 2), got[0]);
  EXPECT_EQ(shared.BuiltIndex(1, 3), nullptr) << "another comparison length is another index";
}

// While one reader builds an index, the others go on: asking whether it is
// built does not wait, and neither does reading another table whole.
TEST(SharedLookupsTest, BuildingOneIndexHoldsUpNoReaderThatNeedsSomethingElse) {
  SharedLookups shared;
  std::mutex mutex;
  std::condition_variable changed;
  bool building = false;
  bool release = false;
  std::thread builder([&] {
    shared.Index(1, 2, [&] {
      std::unique_lock<std::mutex> lock(mutex);
      building = true;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
      return IndexOfTwoKeys();
    });
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return building; });
  }
  EXPECT_EQ(shared.BuiltIndex(1, 2), nullptr);
  auto contents = shared.TableContents(2, [] {
    auto read = std::make_shared<SharedLookups::Contents>();
    read->bytes = LargeBuffer(3);
    read->size = 3;
    return std::shared_ptr<const SharedLookups::Contents>(read);
  });
  ASSERT_NE(contents, nullptr);
  EXPECT_EQ(contents->size, 3u);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  builder.join();
  EXPECT_NE(shared.BuiltIndex(1, 2), nullptr);
}

// A table too large to hold is not remembered as absent: the next reader
// that reaches it tries again (the file may have shrunk since).
TEST(SharedLookupsTest, ATableNotHeldIsAskedForAgain) {
  SharedLookups shared;
  int reads = 0;
  auto not_held = [&] {
    ++reads;
    return std::shared_ptr<const SharedLookups::Contents>();
  };
  EXPECT_EQ(shared.TableContents(3, not_held), nullptr);
  EXPECT_EQ(shared.TableContents(3, not_held), nullptr);
  EXPECT_EQ(reads, 2);
}

}  // namespace
