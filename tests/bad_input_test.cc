// The inventory of bad input (doc/bad_input.md): each way a file or argument
// the query reads can be malformed, run through the built query on a copy of
// the example store, with the exact message, output and exit status. Rows of
// the inventory name the test that checks them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "form.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

// A copy of examples/invoices; each test breaks one file of it.
class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_.File(entry.path().filename().string()));
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "fac");
    return RunQueryIn(dir_.path(), args);
  }
  void Remove(const std::string& name) { fs::remove(dir_.File(name)); }
  // Puts a directory where the file `name` belongs.
  void MakeDirectory(const std::string& name) {
    Remove(name);
    fs::create_directory(dir_.File(name));
  }
  // The query's output on the untouched example store.
  RunResult Baseline(std::vector<std::string> args) {
    TempDir clean;
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), clean.File(entry.path().filename().string()));
    args.insert(args.begin(), "fac");
    return RunQueryIn(clean.path(), args);
  }
  TempDir dir_;
};

std::string FormError(const std::string& text) {
  Form form;
  Status s = ParseFormDefinition("f", text, &form);
  EXPECT_FALSE(s.ok()) << "accepted: " << text;
  return s.message();
}

// ---- Form definition file

TEST(BadFormTest, NumbersTooLongForAnyEntryAreOutOfRangeNotOverflowed) {
  // Twenty digits exceed a long; reading them must neither overflow nor wrap
  // into an acceptable value.
  EXPECT_NE(FormError("99999999999999999999 0 0 0").find("header field count"), std::string::npos);
  EXPECT_NE(FormError("1 0 0 0  1 1 -99999999999999999999 0").find("the length"), std::string::npos);
  EXPECT_NE(FormError("1 0 0 0  1 1 6 50 t.db 99999999999999999999 0 0").find("table record length"),
            std::string::npos);
}

TEST_F(BadInputTest, ControlBytesInAFormAreShownNotPrintedRaw) {
  dir_.Write("fac", std::string("9 4\0 5 0\n", 10));
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "query: form 'fac', the counts at the start: expected a number for the detail field "
            "count, found '\\x00'\n");
  dir_.Write("fac", "9 4 5 0\n1 1 \x1b[2J 0\n");
  EXPECT_EQ(Run({"h00;"}).err,
            "query: form 'fac', header field 0: expected a number for the length, found "
            "'\\x1b[2J'\n");
}

// ---- INFO

TEST_F(BadInputTest, HugeRecordCountIsCutToTheRecordsInHead) {
  // Twelve nines once made the query walk a trillion records beyond HEAD.
  dir_.Write("INFO", "999999999999");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline({"h00;"}).out);
  EXPECT_EQ(r.err,
            "query: INFO counts 999999999999 records, but HEAD holds 12; the records beyond the "
            "end of HEAD are not read\n");
  // A last record cut short still counts: its fields hold what is there.
  std::string head = dir_.Read("HEAD");
  dir_.Write("HEAD", head.substr(0, head.size() - 60));
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("HEAD holds 12;"), std::string::npos);
  dir_.Write("HEAD", "");
  r = Run({"h00;"});
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("HEAD holds 0;"), std::string::npos);
}

// ---- Query arguments

TEST_F(BadInputTest, FieldNumbersThatAreNotTwoDigitsAreReadButSaid) {
  // 'hxx;' reads as header field 0, 'h5;x' as field 5 with the separator 'x'
  // and no search text: stdout as before, and stderr says what was read.
  RunResult r = Run({"h00;000101", "hxx;", "h5;x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline({"h00;000101", "h00;", "h05x"}).out);
  EXPECT_EQ(r.err,
            "query: argument 'hxx;' has no two-digit field number after its letter; it reads as "
            "header field 0 with the separator ';'\n"
            "query: argument 'h5;x' has no two-digit field number after its letter; it reads as "
            "header field 5 with the separator 'x'\n");
  r = Run({"h00;000101", "d", "h 1;", "d04"});
  EXPECT_EQ(r.out, Baseline({"h00;000101", "d00", "h01;", "d04"}).out);
  EXPECT_EQ(r.err,
            "query: argument 'd' has no two-digit field number after its letter; it reads as "
            "detail field 0 without a separator\n");
}

}  // namespace
