// Hostile form, formula and store files: pseudo-filesystem links, files too
// large to read, forms that ask for more memory than any real one, formulas
// whose assembled text would grow without bound.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formula.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

class FormSecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_.File(entry.path().filename().string()));
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "fac");
    return RunQueryIn(dir_.path(), args);
  }
  void LinkTo(const std::string& name, const std::string& target) {
    fs::remove(dir_.File(name));
    fs::create_symlink(target, dir_.File(name));
  }
  // Makes `name` a sparse file of `size` bytes: no disk and no memory.
  void MakeSparse(const std::string& name, off_t size) {
    fs::remove(dir_.File(name));
    int fd = open(dir_.File(name).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
  }
  TempDir dir_;
};

TEST_F(FormSecurityTest, FilesOfTheProcFilesystemAreRefusedNamingTheFile) {
  const std::vector<std::string> args = {"h00;000107", "d01;"};
  struct Case {
    std::string file;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"HEAD", "query: HEAD cannot be opened for reading: a file of the proc or sys pseudo-filesystem\n"},
      {"DOC", "query: DOC cannot be opened for reading: a file of the proc or sys pseudo-filesystem\n"},
      {"fac", "query: form 'fac' cannot be opened: a file of the proc or sys pseudo-filesystem\n"},
      {"clients.db",
       "query: lookup table 'clients.db' (table 1) cannot be opened to read a description: a file "
       "of the proc or sys pseudo-filesystem\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string saved = dir_.Read(c.file);
    LinkTo(c.file, "/proc/self/environ");
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out.find("PATH="), std::string::npos);
    fs::remove(dir_.File(c.file));
    dir_.Write(c.file, saved);
  }
}

TEST_F(FormSecurityTest, KeyIndexAndHeaderIndexOnProcAreNeverRead) {
  const std::vector<std::string> args = {"h00;000107", "d01;"};
  const RunResult baseline = Run(args);
  ASSERT_EQ(baseline.status, 0);
  // A header index there is as good as none: every record is examined.
  LinkTo("H", "/proc/self/environ");
  RunResult r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, baseline.out);
  // A key index there is passed over like one that cannot be opened: the
  // keys come from the table file itself.
  LinkTo("clients", "/proc/self/environ");
  r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, baseline.out);
  EXPECT_EQ(r.err, "");
}

TEST_F(FormSecurityTest, ScreenMasksAreNeverRead) {
  const RunResult baseline = Run({"h00;000107"});
  // A 1 GiB mask costs nothing: the query does not open it.
  MakeSparse("fac.0", off_t{1} << 30);
  LinkTo("fac.1", "/proc/self/environ");
  RunResult r = Run({"h00;000107"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, baseline.out);
  EXPECT_EQ(r.err, "");
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "kilobytes";
}

TEST_F(FormSecurityTest, DefinitionAndFormulaFilesBeyond16MiBAreRefused) {
  MakeSparse("fac", (off_t{16} << 20) + 1);
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("form 'fac'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("16 MiB"), std::string::npos) << r.err;

  fs::remove(dir_.File("fac"));
  fs::copy_file(fs::path(QUERY_EXAMPLES_DIR) / "fac", dir_.File("fac"));
  MakeSparse("fac.c0", (off_t{16} << 20) + 1);
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: formula file 'fac.c0' is larger than the 16 MiB a formula file may hold\n");
}

// 40,000 header fields of 32,767 bytes: 1.3 GB of values.
TEST_F(FormSecurityTest, FormWhoseFieldsNeedMoreThan1GiBIsRefusedBeforeAnyAllocation) {
  std::string form = "40000 0 0 0\n";
  for (int f = 0; f < 40000; ++f) form += "1 1 32767 0\n";
  dir_.Write("huge", form);
  RunResult r = RunQueryIn(dir_.path(), {"huge", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: form 'huge', its fields: their values need 1310680000 bytes of room, "
                   "beyond the limit of 1 GiB\n");
}

TEST_F(FormSecurityTest, NumbersOutOfRangeAreReportedAsWritten) {
  dir_.Write("big", "1 0 0 0\n1 1 99999999999999999999 0\n");
  RunResult r = RunQueryIn(dir_.path(), {"big"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: form 'big', header field 0: the length 99999999999999999999 is out of "
                   "range (0 to 32767)\n");
  dir_.Write("big", "-12345678901234567890 0 0 0\n");
  r = RunQueryIn(dir_.path(), {"big"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-12345678901234567890"), std::string::npos) << r.err;
}

// A header of one 32,767-byte text field and a calculated field whose formula
// names it 33 times: 1,081,311 bytes assembled.
TEST_F(FormSecurityTest, FormulaThatCouldAssembleBeyond1MiBIsRefusedNamingItsLine) {
  dir_.Write("long", "2 0 0 0\n1 1 32767 0\n2 1 10 30\n");
  std::string formula = "h01";
  for (int i = 0; i < 33; ++i) formula += " h00";
  dir_.Write("long.c0", "h01 h00\n" + formula + "\n");
  RunResult r = RunQueryIn(dir_.path(), {"long", "h01;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("formula file 'long.c0', line 2"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 MiB"), std::string::npos) << r.err;
  // Thirty references fit, and so does a line that never applies.
  formula = "h01";
  for (int i = 0; i < 30; ++i) formula += " h00";
  dir_.Write("long.c0", "x01" + formula.substr(3) + " h00 h00 h00 h00\n" + formula + "\n");
  r = RunQueryIn(dir_.path(), {"long", "h01;"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// Each formula under its own limit, but a detail calculated field on many
// lines: the work of one record is the sum over every line, and it is bounded.
TEST_F(FormSecurityTest, FormulasWhoseSumOverOneRecordPassesTheLimitAreRefused) {
  auto form_with_lines = [](int lines) {
    std::string form = "1 " + std::to_string(lines) + " 2 0\n1 1 6 0\n";
    for (int s = 0; s < lines; ++s) form += "1 1 32767 0\n1 1 10 30\n";
    return form;
  };
  std::string formula = "d01";
  for (int i = 0; i < 30; ++i) formula += " d00";  // about 983,000 bytes a line
  dir_.Write("many.c0", formula + "\n");
  dir_.Write("INFO", "0");  // the limit is checked at load time, before any record
  dir_.Write("many", form_with_lines(80));
  RunResult r = RunQueryIn(dir_.path(), {"many", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("formula file 'many.c0': the formulas that apply to one record"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("beyond the limit of 64 MiB for a record"), std::string::npos) << r.err;
  // Sixty lines of the same formula stay within the limit.
  dir_.Write("many", form_with_lines(60));
  r = RunQueryIn(dir_.path(), {"many", "h00;"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(FormSecurityTest, HeaderIndexWithSwappedKeysReadsTheRecordWhereTheKeyStands) {
  // The shortcut takes the key's place in H for the record number, as H is
  // described: a swapped key sends it to another record, which does not hold
  // the search text, so nothing is printed and the query still succeeds.
  const std::string h = dir_.Read("H");
  const size_t key = 6;
  const size_t at = h.find("000107");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(at % key, 0u);
  const size_t other = at == 0 ? key : 0;
  std::string swapped = h;
  swapped.replace(at, key, h.substr(other, key));
  swapped.replace(other, key, h.substr(at, key));
  fs::remove(dir_.File("H"));
  dir_.Write("H", swapped);
  RunResult r = Run({"h00;000107", "d01;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

}  // namespace
