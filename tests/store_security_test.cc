// Hostile stores and arguments: a record count far beyond HEAD, a HEAD that
// shrinks while it is read, sizes near the largest file, devices planted as
// INFO, and argument text that would forge or drive what reads stderr.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "query.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

class StoreSecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_.File(entry.path().filename().string()));
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "fac");
    return RunQueryIn(dir_.path(), args);
  }
  RunResult Baseline(std::vector<std::string> args) {
    TempDir clean;
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), clean.File(entry.path().filename().string()));
    args.insert(args.begin(), "fac");
    return RunQueryIn(clean.path(), args);
  }
  void Replace(const std::string& name) { fs::remove(dir_.File(name)); }
  TempDir dir_;
};

TEST_F(StoreSecurityTest, TwelveDigitCountOverASmallHeadCostsOnlyWhatHeadHolds) {
  dir_.Write("INFO", "999999999999");
  // With no search text every examined record prints a line: only HEAD's 12.
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline({"h00;"}).out);
  EXPECT_EQ(r.err,
            "query: INFO counts 999999999999 records, but HEAD holds 12; only those 12 are examined\n");
  dir_.Write("HEAD", "");
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: INFO counts 999999999999 records, but HEAD holds 0; none is examined\n");
}

TEST_F(StoreSecurityTest, HeadThatShrinksDuringTheRunEndsItWithAWarning) {
  ScopedChdir in(dir_.path());
  Query query;
  ASSERT_TRUE(query.Start("fac", {"h00;"}).ok());
  // Five of the twelve records remain once the query has started.
  ASSERT_EQ(truncate("HEAD", 5 * 64), 0);
  const std::string out_path = dir_.File("out");
  const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    Output out(fd);
    ASSERT_TRUE(query.Run(&out).ok());
  }
  close(fd);
  // The same as a store whose INFO counts the five records left.
  dir_.Write("INFO", "           5");
  EXPECT_EQ(dir_.Read("out"), Run({"h00;"}).out);
  ASSERT_FALSE(query.warnings().empty());
  EXPECT_EQ(query.warnings().back(),
            "HEAD shrank while it was read and now holds only 5 records; the rest are not examined");
}

// A HEAD of 2^63-1 bytes, sparse, where a filesystem allows one that large:
// the count of records it holds is worked out without overflow.
// Sets the size of `path` without writing: the new bytes are a hole.
bool Resize(const std::string& path, off_t size) {
  const int fd = open(path.c_str(), O_WRONLY);
  const bool done = fd >= 0 && ftruncate(fd, size) == 0;
  if (fd >= 0) close(fd);
  return done;
}

// True when the file system of `path` reports holes (SEEK_HOLE before the
// end of a file made sparse).
bool ReportsHoles(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const off_t hole = lseek(fd, 0, SEEK_HOLE);
  const off_t end = lseek(fd, 0, SEEK_END);
  close(fd);
  return hole >= 0 && hole < end;
}

TEST_F(StoreSecurityTest, SparseHeadAndIndexCostOnlyTheDataTheyHold) {
  const off_t ten_tib = off_t{10} << 40;
  ASSERT_TRUE(Resize(dir_.File("HEAD"), ten_tib));
  if (!ReportsHoles(dir_.File("HEAD"))) GTEST_SKIP() << "the file system reports no holes";
  dir_.Write("INFO", "999999999999");
  // The twelve records written, and none of the 2^40 / 64 empty ones: no
  // ";;" line for the zero bytes after the data either.
  RunResult r = Run({"h00;", "h01;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline({"h00;", "h01;"}).out);
  EXPECT_EQ(r.err, "query: HEAD is a sparse file: 999999999987 of the 999999999999 records INFO counts "
                   "lie in holes or past its data, and are not examined\n");
  // A search that matches nothing, with a sparse H too: the key shortcut
  // reads only H's data.
  ASSERT_TRUE(Resize(dir_.File("H"), ten_tib));
  r = Run({"h00;zzzzzz"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Run({"h00;000107"});
  EXPECT_EQ(r.out, Baseline({"h00;000107"}).out);
  // The checker and the JSON rows cost only the data too, and the rows'
  // warning comes once.
  r = RunQueryIn(dir_.path(), {"--check", "fac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("HEAD is a sparse file"), std::string::npos) << r.out.substr(0, 400);
  r = RunQueryIn(dir_.path(), {"--format=json", "fac", "h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("HEAD is a sparse file"), r.err.rfind("HEAD is a sparse file")) << r.err;
}

TEST_F(StoreSecurityTest, RecordsInAHoleBetweenDataAreSkippedAndCounted) {
  // HEAD: the twelve records, a hole of 1 MiB, the twelve records again.
  const std::string head = dir_.Read("HEAD");
  ASSERT_EQ(head.size() % 64, 0u);
  const off_t gap = off_t{1} << 20;
  const int fd = open(dir_.File("HEAD").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, head.data(), head.size(), static_cast<off_t>(head.size()) + gap),
            static_cast<ssize_t>(head.size()));
  close(fd);
  if (!ReportsHoles(dir_.File("HEAD"))) GTEST_SKIP() << "the file system reports no holes";
  const int64_t records = (static_cast<int64_t>(head.size()) * 2 + gap) / 64;
  dir_.Write("INFO", std::to_string(records));
  RunResult r = Run({"h00;", "h01;"});
  const std::string once = Baseline({"h00;", "h01;"}).out;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, once + once);
  // Only the records that lie wholly in the hole are left out; the hole's
  // edges fall in the blocks written, whose records are examined.
  EXPECT_NE(r.err.find("query: HEAD is a sparse file: "), std::string::npos) << r.err;
}

// A store whose files are links to another user's files: the query, run by
// that other user (a web server's account, say), must not print them.
TEST_F(StoreSecurityTest, StoreFilesThatLinkToAnotherUsersFileAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "making a file of another user needs root";
  const uid_t other = 65534;
  for (const std::string name : {"INFO", "HEAD", "DOC", "H"}) {
    SCOPED_TRACE(name);
    const std::string real = dir_.File(name + ".real");
    fs::rename(dir_.File(name), real);
    ASSERT_EQ(chown(real.c_str(), other, other), 0);
    fs::create_symlink(real, dir_.File(name));  // the link is root's
    RunResult r = Run({"h00;000107", "h01;"});
    if (name == "H") {
      // The index is optional: the query scans the store instead.
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, Baseline({"h00;000107", "h01;"}).out);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("query: " + name + " cannot be opened"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("a symbolic link owned by user 0 to a file of user 65534"), std::string::npos)
          << r.err;
      EXPECT_EQ(r.out, name == "INFO" ? "No permission ... \r\n" : "");
    }
    // A link to a file of its own owner is followed.
    ASSERT_EQ(chown(real.c_str(), 0, 0), 0);
    r = Run({"h00;000107", "h01;"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Baseline({"h00;000107", "h01;"}).out);
    fs::remove(dir_.File(name));
    fs::rename(real, dir_.File(name));
  }
}

TEST(StoreSizeTest, HeadOfTheLargestFileSizeIsCountedWithoutOverflow) {
  const std::string dir = "/dev/shm/query-store-size-" + std::to_string(getpid());
  if (mkdir(dir.c_str(), 0700) != 0) GTEST_SKIP() << "no /dev/shm to hold a sparse file";
  for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
    fs::copy_file(entry.path(), dir + "/" + entry.path().filename().string());
  const int fd = open((dir + "/HEAD").c_str(), O_WRONLY);
  const bool grown = fd >= 0 && ftruncate(fd, INT64_MAX) == 0;
  if (fd >= 0) close(fd);
  RunResult r;
  if (grown) r = RunQueryIn(dir, {"fac", "h00;000101"});
  fs::remove_all(dir);
  if (!grown) GTEST_SKIP() << "the filesystem refuses a file of 2^63-1 bytes";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "000101;\n000101;\n000101;\n");
}

TEST_F(StoreSecurityTest, InfoThatIsADeviceOrFifoIsRefusedBeforeAnyWrite) {
  for (const char* target : {"/dev/null", "/dev/zero"}) {
    SCOPED_TRACE(target);
    Replace("INFO");
    fs::create_symlink(target, dir_.File("INFO"));
    RunResult r = Run({"h00;"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "query: INFO cannot be opened for reading and writing: not a regular file\n");
  }
  // A FIFO with no writer opened for writing would block or feed a reader.
  Replace("INFO");
  ASSERT_EQ(mkfifo(dir_.File("INFO").c_str(), 0644), 0);
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: INFO cannot be opened for reading and writing: not a regular file\n");
  Replace("INFO");
  fs::create_symlink("/proc/self/environ", dir_.File("INFO"));
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "query: INFO cannot be opened for reading and writing: a file of the proc or sys "
            "pseudo-filesystem\n");
}

TEST_F(StoreSecurityTest, ControlBytesOfArgumentsAreEscapedInEveryMessage) {
  // A forged log line and a terminal title sequence, in a field number the
  // form lacks and as a separator.
  RunResult r = Run({"h99;x\nquery: all clear\x1b]0;owned\x07", "h0\t"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "query: argument 'h99;x\\x0aquery: all clear\\x1b]0;owned\\x07' names header field 99, "
            "but the form has 9 header fields; it reads as empty text\n"
            "query: argument 'h0\\x09' has no two-digit field number after its letter; it reads "
            "as header field 0 without a separator\n");
}

#if defined(__SANITIZE_ADDRESS__)
#define QUERY_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUERY_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

// Runs the query in `dir` under an address-space limit of `kilobytes` (unused
// where the address sanitizer, which needs the address space, skips its tests).
[[maybe_unused]] RunResult RunUnderAddressLimit(const TempDir& dir, const std::string& arguments, long kilobytes) {
  const std::string command = "cd '" + dir.path() + "' && ulimit -v " + std::to_string(kilobytes) +
                              " && exec '" + QUERY_BINARY + "' " + arguments + " > out 2> err";
  const int status = std::system(command.c_str());
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = dir.Read("out");
  r.err = dir.Read("err");
  return r;
}

// Under a 256 MB address-space limit a form whose values need 983 MB cannot
// have its buffers: the query says so and exits 1, never killed or aborted.
TEST(MemoryLimitTest, AllocationBeyondTheAddressSpaceLimitEndsWithAMessage) {
#ifdef QUERY_UNDER_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
#else
  TempDir dir;
  std::string form = "30000 0 0 0\n";
  for (int f = 0; f < 30000; ++f) form += "0 0 32767 0\n";
  dir.Write("f", form);
  dir.Write("INFO", "1");
  dir.Write("HEAD", "abc");
  dir.Write("DOC", "");
  RunResult r = RunUnderAddressLimit(dir, "f 'h00;'", 262144);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: out of memory\n");
#endif
}

// Forms and formula files that declare enormous counts or sizes stop with
// their message under a 512 MB limit: the limits are checked before anything
// of that size is allocated.
TEST(MemoryLimitTest, EnormousDeclarationsStopWithTheirMessageBeforeAllocating) {
#ifdef QUERY_UNDER_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
#else
  TempDir dir;
  dir.Write("INFO", "1");
  dir.Write("HEAD", "abc");
  dir.Write("DOC", "");
  struct Case {
    std::string form;
    std::string message;
  };
  std::string wide = "40000 0 0 0\n";
  for (int f = 0; f < 40000; ++f) wide += "1 1 32767 0\n";
  const std::vector<Case> cases = {
      {"2147483647 0 0 0\n", "header field count 2147483647 exceeds the limit of 100000"},
      {"1 100000 10000 0\n", "detail line count times field count exceeds 1000000"},
      {wide, "beyond the limit of 1 GiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    dir.Write("f", c.form);
    RunResult r = RunUnderAddressLimit(dir, "f 'h00;'", 524288);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // A formula naming a 32,767-byte field 40 times.
  dir.Write("f", "2 0 0 0\n1 1 32767 0\n2 1 10 30\n");
  std::string formula = "h01";
  for (int i = 0; i < 40; ++i) formula += "h00";
  dir.Write("f.c0", formula + "\n");
  RunResult r = RunUnderAddressLimit(dir, "f 'h00;'", 524288);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("beyond the limit of 1 MiB for a formula"), std::string::npos) << r.err;
#endif
}

}  // namespace
