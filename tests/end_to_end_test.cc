// Runs the built query on stores written into a temporary directory and
// compares its exact output and exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// Form 'inv': header 0 code (6), 1 amount (10), 2 name (8); three detail
// lines of 0 article (4) and 1 text (6). L_h = 3*6 + 1 + 24 = 43, L_d = 16.
constexpr char kForm[] =
    "3 3 2 0\n"
    "1 1 6 0\n1 10 10 3\n1 30 8 0\n"
    "5 1 4 0\n5 10 6 0\n"
    "6 1 4 0\n6 10 6 0\n"
    "7 1 4 0\n7 10 6 0\n";

std::string Pad(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

std::string HeadRecord(const std::string& code, const std::string& amount, const std::string& name,
                       std::vector<int> pointers) {
  std::string r = Pad(code, 6) + Pad(amount, 10) + Pad(name, 8);
  char p[16];
  for (int v : pointers) {
    std::snprintf(p, sizeof p, "%6d", v);
    r += p;
  }
  return r + "\n";
}

std::string DocRecord(const std::string& article, const std::string& text) {
  return Pad(article, 4) + Pad(text, 6) + "00000\n";
}

std::string Info(int n) {
  char b[16];
  std::snprintf(b, sizeof b, "%12d", n);
  return b;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("inv", kForm);
    dir_.Write("HEAD", HeadRecord("A00001", "12.50", "Alfa", {0, 1, -1}) +
                           HeadRecord("B00002", "7.00", "Beta", {-1, -1, -1}) +
                           HeadRecord("C00003", "99.90", "Gamma", {2, 3, 4}));
    dir_.Write("DOC", DocRecord("tor", "red") + DocRecord("nut", "blue") +
                          DocRecord("TOR", "green") + DocRecord("", "gone") +
                          DocRecord("bolt", "Tornil"));
    dir_.Write("H", "A00001B00002C00003");
    dir_.Write("INFO", Info(3));
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "inv");
    return RunQueryIn(dir_.path(), args);
  }
  TempDir dir_;
};

TEST_F(EndToEndTest, PrintsEveryPresentLineAndHeaderOnlyRecords) {
  RunResult r = Run({"h00;", "d00|", "d01;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "A00001;tor |red   ;\n"
            "A00001;nut |blue  ;\n"
            "B00002;|;\n"  // no detail: 'd' arguments print only their separators
            "C00003;TOR |green ;\n"
            "C00003;bolt|Tornil;\n");  // the blank line prints nothing
}

// A record is copied field by field at once only when it holds no NUL and
// no line feed, which is checked sixteen bytes at a time: a NUL anywhere in
// the header's 24 bytes must still end that field's text there.
TEST_F(EndToEndTest, ANulAnywhereInARecordEndsItsFieldThere) {
  const std::string fields = Pad("Z00009", 6) + Pad("123.45", 10) + Pad("Zeta", 8);
  for (size_t at = 0; at < fields.size(); ++at) {
    std::string bad = fields;
    bad[at] = '\0';
    dir_.Write("HEAD", bad + "    -1    -1    -1\n");
    dir_.Write("INFO", Info(1));
    const size_t begins[] = {0, 6, 16, 24};
    std::string want;
    for (int f = 0; f < 3; ++f) {
      const size_t end = at >= begins[f] && at < begins[f + 1] ? at : begins[f + 1];
      want += fields.substr(begins[f], end - begins[f]) + ";";
    }
    const RunResult r = Run({"h00;", "h01;", "h02;"});
    EXPECT_EQ(r.out, want + "\n") << "NUL at " << at;
  }
}

TEST_F(EndToEndTest, SearchIsCaseInsensitiveAndPerLine) {
  EXPECT_EQ(Run({"h00;", "d00;tor"}).out, "A00001;tor ;\nC00003;TOR ;\n");
  EXPECT_EQ(Run({"h00;", "d01;TORNIL"}).out, "C00003;Tornil;\n");
  // A present line must match; the header alone never suffices.
  EXPECT_EQ(Run({"h00;", "h02;alfa", "d00;zzz"}).out, "");
  // 'd' search in a record without detail tests the header field of its number.
  EXPECT_EQ(Run({"h00;", "d02;bet"}).out, "B00002;;\n");
}

TEST_F(EndToEndTest, StarInTheFirstArgumentAcceptsEverything) {
  EXPECT_EQ(Run({"h00;*", "d00;nomatch"}).out,
            "A00001;tor ;\nA00001;nut ;\nB00002;;\nC00003;TOR ;\nC00003;bolt;\n");
}

TEST_F(EndToEndTest, KeyShortcutReadsOnlyTheRecordWithThatKey) {
  EXPECT_EQ(Run({"h00;c00003", "d00;"}).out, "C00003;TOR ;\nC00003;bolt;\n");
  // The shortcut compares with header field 0's keys whatever field the argument names;
  // the one record found must still match its own field.
  EXPECT_EQ(Run({"h02;c00003"}).out, "");
  // Stored keys with capitals are not found by the probe; the full scan finds the record.
  dir_.Write("H", "a00001b00002c00003");
  EXPECT_EQ(Run({"h00;c00003", "d00;"}).out, "C00003;TOR ;\nC00003;bolt;\n");
}

TEST_F(EndToEndTest, ShortcutRecordMayDifferFromTheIndexAndStillBeChecked) {
  dir_.Write("H", "x00001x00002c00001");  // key 'c00001' is record 2 in H
  EXPECT_EQ(Run({"h00;c00001"}).out, "");  // record 2 holds C00003
  // The probe 'c0000 ' is no key: the full scan finds the text in C00003.
  EXPECT_EQ(Run({"h00;c0000"}).out, "C00003;\nC00003;\n");
}

TEST_F(EndToEndTest, LaterSearchTextDisablesTheShortcut) {
  dir_.Write("H", "a00001a00001a00001");
  EXPECT_EQ(Run({"h00;b00002", "h02;beta"}).out, "B00002;Beta    ;\n");
}

TEST_F(EndToEndTest, NoSearchTextExaminesEveryRecordEvenWithABlankKeyInTheIndex) {
  dir_.Write("H", "      B00002C00003");
  EXPECT_EQ(Run({"h00;"}).out, "A00001;\nA00001;\nB00002;\nC00003;\nC00003;\n");
}

TEST_F(EndToEndTest, WithoutAnIndexEveryRecordIsExamined) {
  std::remove(dir_.File("H").c_str());
  EXPECT_EQ(Run({"h00;b00002"}).out, "B00002;\n");
}

TEST_F(EndToEndTest, RecordCountComesFromTheFirstTwelveBytesOfInfo) {
  dir_.Write("INFO", "           2trailing");
  EXPECT_EQ(Run({"h00;"}).out, "A00001;\nA00001;\nB00002;\n");
}

TEST_F(EndToEndTest, RecordsAndPointersBeyondTheFilesReadAsEmpty) {
  dir_.Write("HEAD", HeadRecord("A00001", "1", "x", {0, 99, 1}));
  dir_.Write("INFO", Info(2));
  // DOC record 99 does not exist: that line is absent. Record 1 does not
  // exist: the count is cut to the one record HEAD holds.
  EXPECT_EQ(Run({"h00;", "d00;"}).out, "A00001;tor ;\nA00001;nut ;\n");
}

TEST_F(EndToEndTest, FieldNumbersOutsideThePartPrintNothingAndNeverMatch) {
  RunResult r = Run({"h00;", "h07;", "d09;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "A00001;;;\nA00001;;;\nB00002;;;\nC00003;;;\nC00003;;;\n");
  EXPECT_EQ(r.err,
            "query: argument 'h07;' names header field 7, but the form has 3 header fields; it "
            "reads as empty text\n"
            "query: argument 'd09;' names detail field 9, but the form has 2 fields per detail "
            "line; it reads as empty text\n");
  EXPECT_EQ(Run({"h00;", "h07;x"}).out, "");
}

TEST_F(EndToEndTest, OtherLettersRejectLinesButTestTheHeaderWithoutDetail) {
  EXPECT_EQ(Run({"h00;", "x02;beta"}).out, "B00002;;\n");
  EXPECT_EQ(Run({"h00;", "x02;alfa"}).out, "");
}

TEST_F(EndToEndTest, NoQueryArgumentPrintsAnEmptyLinePerMatch) {
  EXPECT_EQ(Run({}).out, "\n\n\n\n\n");
}

TEST_F(EndToEndTest, CompletedQueryExitsZeroWhetherOrNotAnythingMatched) {
  RunResult r = Run({"h00;nothing-like-this"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(EndToEndTest, MissingDefinitionFileIsAFailure) {
  RunResult r = RunQueryIn(dir_.path(), {"nosuchform", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: form 'nosuchform' cannot be opened: no such file\n");
}

TEST_F(EndToEndTest, MissingInfoPrintsTheSystemMessageAndFails) {
  std::remove(dir_.File("INFO").c_str());
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No permission ... \r\n");
  EXPECT_NE(r.err.find("query: INFO cannot be opened for reading and writing"), std::string::npos);
}

TEST_F(EndToEndTest, MissingHeadOrDocIsAFailureNamingTheFile) {
  std::remove(dir_.File("DOC").c_str());
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: DOC cannot be opened for reading: No such file or directory\n");
}

TEST_F(EndToEndTest, MalformedFormIsAFailureNamingTheField) {
  dir_.Write("inv", "3 3 2 0\n1 1 6 0\n1 10 ten 3\n");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: form 'inv', header field 1: expected a number for the length, found 'ten'\n");
}

TEST_F(EndToEndTest, OutputThatCannotBeWrittenIsAFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  // The shell redirection makes every write fail with "No space left on device".
  std::string command = std::string("cd '") + dir_.path() + "' && '" + QUERY_BINARY +
                        "' inv 'h00;' > /dev/full 2> err";
  int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(dir_.Read("err"), "query: cannot write the output: No space left on device\n");
}

TEST(CommandLineTest, UsageHelpAndVersion) {
  TempDir dir;
  RunResult r = RunQueryIn(dir.path(), {});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "usage: query [--threads N] <form> <query argument>...\n");
  r = RunQueryIn(dir.path(), {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: query", 0), 0u);
  r = RunQueryIn(dir.path(), {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("query ", 0), 0u);
}

}  // namespace
