// Runs the built query on a store whose form has calculated header and
// detail fields, and compares its exact output.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// Form 'fac': header 0 code (6), 1 quantity (5), 2 price (8), 3 factor (4),
// then calculated 4 total (only 4 long), 5 total / factor, 6 and 7. Three
// detail lines of 0 article (4), 1 text (4), 2 quantity (4), 3 price (6),
// then calculated 4 and 5. L_h = 3*6 + 1 + 23 = 42, L_d = 6 + 18 = 24.
constexpr char kForm[] =
    "8 3 6 0\n"
    "1 1 6 0\n1 10 5 0\n1 20 8 0\n1 30 4 0\n2 1 4 30\n2 10 8 30\n2 20 8 30\n2 30 8 30\n"
    "5 1 4 0\n5 5 4 0\n5 10 4 0\n5 15 6 0\n5 25 8 30\n5 35 8 30\n"
    "6 1 4 0\n6 5 4 0\n6 10 4 0\n6 15 6 0\n6 25 8 30\n6 35 8 30\n"
    "7 1 4 0\n7 5 4 0\n7 10 4 0\n7 15 6 0\n7 25 8 30\n7 35 8 30\n";

// h06 comes before h07 in field order, so it sees the previous record's h07.
constexpr char kFormulas[] =
    "h04 h01 h02 *\n"
    "h05 h04 h03 /\n"
    "h06 h07 1 +\n"
    "h07 h01 2 *\n"
    "d04 d02 d03 *\n"
    "d05 h03 d02 *\n";

std::string Pad(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

std::string HeadRecord(const std::string& code, const std::string& quantity,
                       const std::string& price, const std::string& factor,
                       std::vector<int> pointers) {
  std::string r = Pad(code, 6) + Pad(quantity, 5) + Pad(price, 8) + Pad(factor, 4);
  char p[16];
  for (int v : pointers) {
    std::snprintf(p, sizeof p, "%6d", v);
    r += p;
  }
  return r + "\n";
}

std::string DocRecord(const std::string& article, const std::string& text,
                      const std::string& quantity, const std::string& price) {
  return Pad(article, 4) + Pad(text, 4) + Pad(quantity, 4) + Pad(price, 6) + "00000\n";
}

class FormulaEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("fac", kForm);
    dir_.Write("fac.c0", kFormulas);
    dir_.Write("HEAD", HeadRecord("A00001", "10", "25.00", "2", {0, 1, 2}) +
                           HeadRecord("B00002", "3", "1.50", "0", {-1, -1, -1}) +
                           HeadRecord("C00003", "-4", "2.50", "4", {-1, 3, -1}));
    dir_.Write("DOC", DocRecord("tor", "a", "2", "1.25") + DocRecord("nut", "b", "3", "0.50") +
                          DocRecord("bol", "c", "10", "0.10") +
                          DocRecord("was", "d", "5", "2.00"));
    dir_.Write("H", "A00001B00002C00003");
    dir_.Write("INFO", "           3");
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "fac");
    return RunQueryIn(dir_.path(), args);
  }
  TempDir dir_;
};

TEST_F(FormulaEndToEndTest, HeaderFormulasInFieldOrderWithThePreviousRecordRule) {
  RunResult r = Run({"h00;*", "h04;", "h05;", "h06;", "h07;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // 250.00 does not fit field 4's four characters and is printed whole; h06
  // is the previous record's h07 plus 1; a negative quantity enters the
  // header formula as zero minus its magnitude.
  EXPECT_EQ(r.out,
            "A00001;250.00;125.00;1.00;20.00;\n"
            "A00001;250.00;125.00;1.00;20.00;\n"
            "A00001;250.00;125.00;1.00;20.00;\n"
            "B00002;4.50;/BY0;21.00;6.00;\n"
            "C00003;-10.00;-2.50;7.00;-8.00;\n");
}

TEST_F(FormulaEndToEndTest, DetailFormulasGiveOneResultPerPresentLine) {
  EXPECT_EQ(Run({"h00;", "d00;", "d04;", "d05;"}).out,
            "A00001;tor ;2.50;4.00;\n"
            "A00001;nut ;1.50;6.00;\n"
            "A00001;bol ;1.00;20.00;\n"
            "B00002;;;;\n"
            "C00003;was ;10.00;20.00;\n");
}

TEST_F(FormulaEndToEndTest, ResultsAreSearchedLikeAnyFieldText) {
  EXPECT_EQ(Run({"h00;", "h05;by0"}).out, "B00002;/BY0;\n");
  EXPECT_EQ(Run({"h00;", "d05;20.0"}).out, "A00001;20.00;\nC00003;20.00;\n");
  // The search looks only at the field's four characters: '250.'.
  EXPECT_EQ(Run({"h00;", "h04;50.0"}).out, "");
  EXPECT_EQ(Run({"h00;", "h04;50."}).out, "A00001;250.00;\nA00001;250.00;\nA00001;250.00;\n");
}

TEST_F(FormulaEndToEndTest, CarriageReturnLineGivesZeroAndAWarning) {
  dir_.Write("fac.c0", "h07 h01 2 *\r\n");
  RunResult r = Run({"h00;", "h07;", "h04;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "A00001;0.00;0.00;\nA00001;0.00;0.00;\nA00001;0.00;0.00;\n"
            "B00002;0.00;0.00;\nC00003;0.00;0.00;\n");
  EXPECT_EQ(r.err,
            "query: fac.c0 line 1: the formula holds a carriage return; it is an operator that "
            "discards the value on top of the stack\n");
}

TEST_F(FormulaEndToEndTest, MissingFormulaFileMeansNoFormulas) {
  std::remove(dir_.File("fac.c0").c_str());
  RunResult r = Run({"h00;*", "h04;", "d05;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "A00001;0.00;0.00;\nA00001;0.00;0.00;\nA00001;0.00;0.00;\n"
            "B00002;0.00;;\nC00003;0.00;0.00;\n");
}

TEST_F(FormulaEndToEndTest, UnreadableFormulaFileIsAnError) {
  std::remove(dir_.File("fac.c0").c_str());
  ASSERT_EQ(mkdir(dir_.File("fac.c0").c_str(), 0755), 0);
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: formula file 'fac.c0' cannot be opened: not a regular file\n");
}

TEST_F(FormulaEndToEndTest, OddLinesAreReportedAndTheRestStillApplies) {
  dir_.Write("fac.c0", "h04 h01 h02 *\n\nh07 1\nh05 h04 2 /\n");
  RunResult r = Run({"h00;", "h04;", "h05;", "h07;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "query: fac.c0 line 2: empty line; line 3 after it is read as part of an inert "
            "entry and never applies\n");
  EXPECT_EQ(r.out,
            "A00001;250.00;125.00;0.00;\nA00001;250.00;125.00;0.00;\nA00001;250.00;125.00;0.00;\n"
            "B00002;4.50;2.25;0.00;\nC00003;-10.00;-5.00;0.00;\n");
}

}  // namespace
