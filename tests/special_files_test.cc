// Every store, table and index file of the example store replaced in turn by
// a link to a device, a FIFO, a directory or a file of /proc: each query ends
// promptly, with a message naming the file or with the output of a store
// without that optional file, within bounded memory, and the rest of the
// store stays as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "query.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

enum class Planted { kDevZero, kDevUrandom, kFifo, kDirectory, kProcMem };

const char* Describe(Planted p) {
  switch (p) {
    case Planted::kDevZero: return "/dev/zero";
    case Planted::kDevUrandom: return "/dev/urandom";
    case Planted::kFifo: return "a FIFO";
    case Planted::kDirectory: return "a directory";
    case Planted::kProcMem: return "/proc/self/mem";
  }
  return "";
}

// Test listings show a case by what is planted rather than as raw bytes.
void PrintTo(Planted p, std::ostream* os) { *os << Describe(p); }

class SpecialFilesTest : public ::testing::TestWithParam<Planted> {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_.File(entry.path().filename().string()));
  }
  void Plant(const std::string& name) {
    fs::remove(dir_.File(name));
    switch (GetParam()) {
      case Planted::kDevZero: fs::create_symlink("/dev/zero", dir_.File(name)); break;
      case Planted::kDevUrandom: fs::create_symlink("/dev/urandom", dir_.File(name)); break;
      case Planted::kFifo: ASSERT_EQ(mkfifo(dir_.File(name).c_str(), 0644), 0); break;
      case Planted::kDirectory: fs::create_directory(dir_.File(name)); break;
      case Planted::kProcMem: fs::create_symlink("/proc/self/mem", dir_.File(name)); break;
    }
  }
  void Restore(const std::string& name) {
    fs::remove_all(dir_.File(name));
    fs::copy_file(fs::path(QUERY_EXAMPLES_DIR) / name, dir_.File(name));
  }
  // Runs a query that uses every file: the key shortcut (H), a header key
  // (clients.db and its key index clients) and a detail key (articles.db).
  RunResult Run() {
    const auto start = std::chrono::steady_clock::now();
    RunResult r = RunQueryIn(dir_.path(), {"fac", "h00;000107", "h02;", "d01;", "d04;"});
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(seconds.count(), 10.0) << "a query that should end at once";
    EXPECT_LT(r.status, 128) << "killed by signal " << r.status - 128;
    return r;
  }
  TempDir dir_;
};

TEST_P(SpecialFilesTest, RequiredFilesAreRefusedNamingThem) {
  for (const std::string name : {"INFO", "HEAD", "DOC", "fac", "clients.db", "articles.db"}) {
    SCOPED_TRACE(name);
    Plant(name);
    RunResult r = Run();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    Restore(name);
  }
}

TEST_P(SpecialFilesTest, OptionalIndexesAreTakenAsAbsent) {
  const RunResult baseline = Run();
  ASSERT_EQ(baseline.status, 0);
  for (const std::string name : {"H", "clients"}) {
    SCOPED_TRACE(name);
    Plant(name);
    RunResult r = Run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, baseline.out);
    EXPECT_EQ(r.err, "");
    Restore(name);
  }
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "kilobytes at most, of the largest query";
}

INSTANTIATE_TEST_SUITE_P(Planted, SpecialFilesTest,
                         ::testing::Values(Planted::kDevZero, Planted::kDevUrandom, Planted::kFifo,
                                           Planted::kDirectory, Planted::kProcMem),
                         [](const ::testing::TestParamInfo<Planted>& info) {
                           std::string name = Describe(info.param);
                           std::string id;
                           for (char c : name)
                             if (std::isalnum(static_cast<unsigned char>(c))) id += c;
                           return id;
                         });

// A FIFO planted as a store, table, index or form file is refused without
// being opened: a writer blocked in opening its other end stays blocked,
// where an open for reading would have released it.
TEST(UnopenedFilesTest, AFifoInAnyFilesPlaceIsNeverOpened) {
  for (const std::string name : {"HEAD", "DOC", "H", "clients.db", "clients", "articles.db", "fac.c0"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir.File(entry.path().filename().string()));
    fs::remove(dir.File(name));
    ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0644), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      alarm(20);
      const int fd = open(dir.File(name).c_str(), O_WRONLY);
      _exit(fd >= 0 ? 0 : 1);
    }
    RunQueryIn(dir.path(), {"fac", "h00;000107", "h02;", "d01;", "d04;"});
    int status = 0;
    EXPECT_EQ(waitpid(writer, &status, WNOHANG), 0) << "the query opened the FIFO";
    kill(writer, SIGKILL);
    waitpid(writer, &status, 0);
  }
}

// A HEAD that grows once the query has started: the records INFO counts are
// examined, whatever is appended after them.
TEST(GrowingStoreTest, RecordsAppendedToHeadDuringTheRunAreNotExamined) {
  TempDir dir;
  for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
    fs::copy_file(entry.path(), dir.File(entry.path().filename().string()));
  const RunResult before = RunQueryIn(dir.path(), {"fac", "h00;"});
  ScopedChdir in(dir.path());
  Query query;
  ASSERT_TRUE(query.Start("fac", {"h00;"}).ok());
  const std::string head = dir.Read("HEAD");
  dir.Write("HEAD", head + head);
  const std::string out_path = dir.File("out");
  const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  {
    Output out(fd);
    ASSERT_TRUE(query.Run(&out).ok());
  }
  close(fd);
  EXPECT_EQ(dir.Read("out"), before.out);
  EXPECT_TRUE(query.warnings().empty());
}

}  // namespace
