// The shared file access: the mapped walk over a file in pieces, positioned
// reads, whole-file reads and the refusal of what is no regular file.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <pthread.h>

#include "test_util.h"

namespace {

// Bytes that differ from piece to piece, so a piece handed over twice, out
// of order or from the wrong offset shows.
std::string NumberedBytes(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

struct Walk {
  std::string seen;
  std::vector<size_t> sizes;
  size_t stop_after = SIZE_MAX;  // pieces
  int fd = -1;
  off_t truncate_to = -1;  // after the first piece
};

bool Collect(const char* bytes, size_t n, void* context) {
  Walk* walk = static_cast<Walk*>(context);
  if (walk->truncate_to >= 0 && walk->sizes.empty()) {
    EXPECT_EQ(ftruncate(walk->fd, walk->truncate_to), 0);
  }
  walk->seen.append(bytes, n);
  walk->sizes.push_back(n);
  return walk->sizes.size() >= walk->stop_after;
}

class MappedWalkTest : public ::testing::Test {
 protected:
  // The test program stands for a program that opts into mapped reads.
  void SetUp() override { ASSERT_TRUE(EnableMappedReads()); }
  int Open(const std::string& bytes) {
    dir_.Write("f", bytes);
    fd_ = open(dir_.File("f").c_str(), O_RDWR);
    return fd_;
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
  }
  TempDir dir_;
  int fd_ = -1;
};

TEST_F(MappedWalkTest, HandsOverEveryPieceInOrderAcrossWindowsWithAShortLastOne) {
  // Pieces that do not divide the 1 MiB window, over more than three windows.
  const std::string bytes = NumberedBytes((3 << 20) + 12345);
  for (size_t piece : {size_t{8}, size_t{1000}, size_t{65536}, size_t{(1 << 20) + 3}}) {
    SCOPED_TRACE(piece);
    const int fd = Open(bytes);
    ASSERT_GE(fd, 0);
    Walk walk;
    EXPECT_EQ(VisitMapped(fd, static_cast<int64_t>(bytes.size()), piece, Collect, &walk),
              static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(walk.seen, bytes);
    for (size_t i = 0; i + 1 < walk.sizes.size(); ++i) ASSERT_EQ(walk.sizes[i], piece);
    EXPECT_EQ(walk.sizes.back(), bytes.size() % piece == 0 ? piece : bytes.size() % piece);
    close(fd);
    fd_ = -1;
  }
}

TEST_F(MappedWalkTest, StopsAtThePieceVisitAsksAndCountsIt) {
  const std::string bytes = NumberedBytes(3 << 20);
  ASSERT_GE(Open(bytes), 0);
  Walk walk;
  walk.stop_after = 3;
  EXPECT_EQ(VisitMapped(fd_, static_cast<int64_t>(bytes.size()), 4096, Collect, &walk), 3 * 4096);
  EXPECT_EQ(walk.seen, bytes.substr(0, 3 * 4096));
}

TEST_F(MappedWalkTest, OnlyTheSizeGivenIsVisited) {
  const std::string bytes = NumberedBytes(100000);
  ASSERT_GE(Open(bytes), 0);
  Walk walk;
  EXPECT_EQ(VisitMapped(fd_, 5000, 4096, Collect, &walk), 5000);
  EXPECT_EQ(walk.seen, bytes.substr(0, 5000));
}

TEST_F(MappedWalkTest, NothingToMapIsRefusedWithoutVisiting) {
  ASSERT_GE(Open("abc"), 0);
  Walk walk;
  EXPECT_EQ(VisitMapped(fd_, 0, 8, Collect, &walk), -1);
  EXPECT_EQ(VisitMapped(fd_, 3, 0, Collect, &walk), -1);
  EXPECT_EQ(VisitMapped(-1, 3, 8, Collect, &walk), -1);
  EXPECT_TRUE(walk.sizes.empty());
}

TEST_F(MappedWalkTest, AFileThatShrinksEndsTheWalkWhereItNowEnds) {
  const std::string bytes = NumberedBytes(3 << 20);
  ASSERT_GE(Open(bytes), 0);
  Walk walk;
  walk.fd = fd_;
  walk.truncate_to = (1 << 20) + 100000;  // inside the second window
  const int64_t done = VisitMapped(fd_, static_cast<int64_t>(bytes.size()), 4096, Collect, &walk);
  // The walk ends within the page that holds the new end: what the file
  // still holds comes whole, the rest of that page as zero bytes.
  const int64_t page = sysconf(_SC_PAGESIZE);
  ASSERT_GE(done, 0);
  EXPECT_LE(done, (walk.truncate_to + page - 1) / page * page);
  const size_t kept = static_cast<size_t>(std::min<int64_t>(done, walk.truncate_to));
  EXPECT_EQ(walk.seen.substr(0, kept), bytes.substr(0, kept));
  EXPECT_EQ(walk.seen.find_first_not_of('\0', kept), std::string::npos);
  // Positioned reads going on from there come up short at the new end.
  char rest[8192];
  EXPECT_EQ(ReadAt(fd_, rest, sizeof rest, done),
            std::max<int64_t>(0, std::min<int64_t>(sizeof rest, walk.truncate_to - done)));
}

TEST_F(MappedWalkTest, NothingIsMappedOnAThreadWhereBusErrorsAreBlocked) {
  ASSERT_GE(Open(NumberedBytes(8192)), 0);
  sigset_t bus, saved;
  sigemptyset(&bus);
  sigaddset(&bus, SIGBUS);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &bus, &saved), 0);
  Walk walk;
  const int64_t done = VisitMapped(fd_, 8192, 4096, Collect, &walk);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_EQ(done, -1);
  EXPECT_TRUE(walk.sizes.empty());
}

TEST(ReadAtTest, ReadsWhatIsThereAndComesUpShortOnlyAtTheEnd) {
  TempDir dir;
  const std::string bytes = NumberedBytes(10000);
  dir.Write("f", bytes);
  const int fd = open(dir.File("f").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string out(4000, '\0');
  EXPECT_EQ(ReadAt(fd, out.data(), out.size(), 3000), 4000);
  EXPECT_EQ(out, bytes.substr(3000, 4000));
  EXPECT_EQ(ReadAt(fd, out.data(), out.size(), 9000), 1000);
  EXPECT_EQ(out.substr(0, 1000), bytes.substr(9000));
  EXPECT_EQ(ReadAt(fd, out.data(), out.size(), 20000), 0);
  close(fd);
}

TEST(ReadWholeFileTest, ReadsUpToTheLimitAndRefusesWhatIsNoRegularFile) {
  TempDir dir;
  dir.Write("f", "0123456789");
  std::string out;
  EXPECT_EQ(ReadWholeFile(dir.File("f"), &out, 10), ReadResult::kOk);
  EXPECT_EQ(out, "0123456789");
  EXPECT_EQ(ReadWholeFile(dir.File("f"), &out, 9), ReadResult::kTooLarge);
  EXPECT_EQ(ReadWholeFile(dir.File("none"), &out, 10), ReadResult::kMissing);
  EXPECT_EQ(ReadWholeFile(dir.path(), &out, 10), ReadResult::kNotRegular);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadWholeFile(dir.File("fifo"), &out, 10), ReadResult::kNotRegular);  // never blocks
#ifdef __linux__
  EXPECT_EQ(ReadWholeFile("/proc/self/status", &out, 1 << 20), ReadResult::kPseudoFile);
#endif
}

TEST(OpenRegularFileTest, GivesAReasonForWhatItRefuses) {
  TempDir dir;
  dir.Write("f", "x");
  std::string why;
  const int fd = OpenRegularFile(dir.File("f"), O_RDONLY, &why);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  EXPECT_EQ(OpenRegularFile(dir.path(), O_RDONLY, &why), -1);
  EXPECT_FALSE(why.empty());
  why.clear();
  EXPECT_EQ(OpenRegularFile(dir.File("none"), O_RDONLY, &why), -1);
  EXPECT_FALSE(why.empty());
}

}  // namespace
