// Unit tests of the formula module: the reading of formula files, assembly
// and the postfix evaluator, on value buffers filled by hand.
#include "formula.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Eval(std::string_view formula, int* code = nullptr) {
  char storage[kCalculatedCapacity];
  FieldBuffer out{storage, 0, kCalculatedCapacity};
  int r = EvaluatePostfix(formula, &out);
  if (code != nullptr) *code = r;
  return std::string(out.text());
}

std::string Printf(double v) {
  char b[kCalculatedCapacity];
  std::snprintf(b, sizeof b, "%.2lf", v);
  return b;
}

std::string Formatted(double v) {
  char b[kCalculatedCapacity];
  return std::string(b, FormatResult(v, b));
}

// The tokens of an assembled formula, for comparison with hand-written lists:
// runs of digits and '.', and single other characters; blanks separate.
std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> tokens;
  bool in_number = false;
  for (char c : text) {
    bool number_char = (c >= '0' && c <= '9') || c == '.';
    if (number_char && in_number) {
      tokens.back() += c;
    } else if (number_char) {
      tokens.emplace_back(1, c);
    } else if (c != ' ') {
      tokens.emplace_back(1, c);
    }
    in_number = number_char;
  }
  return tokens;
}

// Header: 0 code (6), 1 and 2 unused, 3 (4), 4 (4), 5 (5), 6 calculated,
// 7 (1), 8 and 9 calculated, 10 stored (8). Three detail lines of 0 (4),
// 1 (4), 2 (5), 3 (5), 4 (4), 5 calculated; line 2's field 4 is calculated
// too, and its field 5 is not.
constexpr char kForm[] =
    "11 3 6 0\n"
    "1 1 6 0\n1 1 1 0\n1 1 1 0\n1 1 4 3\n1 1 4 0\n1 1 5 3\n1 1 8 30\n1 1 1 0\n"
    "1 1 4 30\n1 1 8 30\n1 1 8 0\n"
    "2 1 4 0\n2 1 4 0\n2 1 5 0\n2 1 5 0\n2 1 4 0\n2 1 8 30\n"
    "3 1 4 0\n3 1 4 0\n3 1 5 0\n3 1 5 0\n3 1 4 0\n3 1 8 30\n"
    "4 1 4 0\n4 1 4 0\n4 1 5 0\n4 1 5 0\n4 1 4 30\n4 1 8 0\n";

// Header field 6 computes to -2.50 from its own line, so that the worked
// examples see a negative value produced by another calculated field.
constexpr char kMinusLine[] = "h06 0 2.50 -\n";

class FormulaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Status s = ParseFormDefinition("t", kForm, &form_);
    ASSERT_TRUE(s.ok()) << s.message();
    values_.Init(form_);
    SetHead(3, "2.50");
    SetHead(4, "4   ");
    SetHead(5, "10.00");
    SetHead(7, "0");
    for (int line = 0; line < 3; ++line) {
      SetDoc(line, 2, "3    ");
      SetDoc(line, 3, "1.5  ");
    }
  }
  void SetHead(int f, const std::string& text) { values_.head(f).Assign(text.data(), text.size()); }
  void SetDoc(int line, int f, const std::string& text) {
    values_.doc(line, f).Assign(text.data(), text.size());
  }
  std::string Head(int f) { return std::string(values_.head(f).text()); }
  std::string Doc(int line, int f) { return std::string(values_.doc(line, f).text()); }
  void Load(const std::string& text) {
    warnings_.clear();
    formulas_.LoadText(form_, "t.c0", text, &warnings_);
  }
  // Loads `file`, computes the header and line 0, and returns header field 8.
  std::string H08(const std::string& file) {
    Load(file);
    formulas_.ComputeHeader(&values_);
    formulas_.ComputeLine(0, &values_);
    return Head(8);
  }

  Form form_;
  RecordValues values_;
  Formulas formulas_;
  std::vector<std::string> warnings_;
};

TEST_F(FormulaTest, WorkedExamples) {
  struct Row {
    const char* line;
    std::vector<std::string> tokens;
    const char* result;
  };
  const Row rows[] = {
      {"h08 h03 h04 *", {"2.50", "4", "*"}, "10.00"},
      {"h08 h06 h04 *", {"0", "2.50", "-", "4", "*"}, "-10.00"},
      {"h08 h05 h04 -", {"10.00", "4", "-"}, "6.00"},
      {"h08 h05 h04 /", {"10.00", "4", "/"}, "2.50"},
      {"h08 h03 h04 h05 + *", {"2.50", "4", "10.00", "+", "*"}, "35.00"},
      {"h08 h03 h04 * 100 /", {"2.50", "4", "*", "100", "/"}, "0.10"},
      {"h08 h03 h07 /", {"2.50", "0", "/"}, "/BY0"},
      {"h08 h03 h04 %", {"2.50", "4", "%"}, "2.50"},
      {"h08 h03 h04", {"2.50", "4"}, "2.50"},
      {"h08 h03", {"2.50"}, "2.50"},
      {"h08 h04h03 *", {"4", "2.50", "*"}, "10.00"},
      {"h08 h07 h06 *", {"0", "0", "2.50", "-", "*"}, "-0.00"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(H08(std::string(kMinusLine) + row.line + "\n"), row.result);
    EXPECT_EQ(Tokens(formulas_.Assembled(-1, 8, values_)), row.tokens);
    EXPECT_EQ(warnings_, std::vector<std::string>());
  }
  Load("d05 d02 d03 * h05 +\n");
  formulas_.ComputeHeader(&values_);
  formulas_.ComputeLine(0, &values_);
  EXPECT_EQ(Doc(0, 5), "14.50");
  EXPECT_EQ(Tokens(formulas_.Assembled(0, 5, values_)),
            (std::vector<std::string>{"3", "1.5", "*", "10.00", "+"}));
}

TEST_F(FormulaTest, ShortFormulasAndOperatorsWithoutBlanks) {
  EXPECT_EQ(H08("h08 1 3 /"), "0.33");
  EXPECT_EQ(H08("h08 2 3"), "2.00");
  EXPECT_EQ(H08("h08 5"), "5.00");
  EXPECT_EQ(H08("h08 h03 h04*"), "10.00");
  EXPECT_EQ(H08("h08 h03 h07 / h04 *"), "/BY0");
}

TEST_F(FormulaTest, LastLineForATargetWinsAndOtherLettersAreInert) {
  EXPECT_EQ(H08("h08 1\nh08 2\n"), "2.00");
  EXPECT_EQ(H08("h08 1\nH08 2\n"), "1.00");  // case-sensitive
  EXPECT_EQ(H08("h08 1\nd08 2\n"), "1.00");  // a detail line does not reach the header
  EXPECT_EQ(warnings_, std::vector<std::string>{
                           "t.c0 line 2: detail field 8 is not a calculated field on any detail "
                           "line; the line never applies"});
  EXPECT_EQ(formulas_.entries().size(), 2u);
}

TEST_F(FormulaTest, HeaderRuleRewritesOnlyALeadingMinusAndDetailRuleNone) {
  SetHead(10, "3-2");
  EXPECT_EQ(H08("h08 h10"), "3.00");  // '-' not first: an operator with one value, ignored
  EXPECT_EQ(formulas_.Assembled(-1, 8, values_), " 3-2");
  // In a detail formula a negative value enters unchanged: '-' then 2.50.
  Load(std::string(kMinusLine) + "d05 10 h06 +\n");
  formulas_.ComputeHeader(&values_);
  formulas_.ComputeLine(0, &values_);
  EXPECT_EQ(formulas_.Assembled(0, 5, values_), " 10 -2.50 +");
  EXPECT_EQ(Doc(0, 5), "12.50");  // '-' finds one value and is ignored; then 10 + 2.50
  // In a header formula 'd' is an ordinary character: an operator discarding 4.
  EXPECT_EQ(H08("h08 h03 h04 d02"), "2.50");
}

TEST_F(FormulaTest, CalculatedFieldsGoInFieldOrderAndSeeEarlierRecordsOtherwise) {
  const std::string file = "h09 h08 2 *\nh08 h09 1 +\nh06 h06 1 +\n";
  Load(file);
  formulas_.ComputeHeader(&values_);
  // h08 saw h09 still empty: " 1 +" is 1 with '+' ignored; h09 then saw this h08.
  EXPECT_EQ(Head(8), "1.00");
  EXPECT_EQ(Head(9), "2.00");
  EXPECT_EQ(Head(6), "1.00");  // its own empty text plus 1
  formulas_.ComputeHeader(&values_);
  EXPECT_EQ(Head(8), "3.00");  // the previous record's h09 + 1
  EXPECT_EQ(Head(9), "6.00");
  EXPECT_EQ(Head(6), "2.00");
}

TEST_F(FormulaTest, DetailFormulasFollowEachLinesOwnTypesAndSeeTheirOwnLine) {
  SetDoc(1, 2, "7");
  SetDoc(2, 2, "9");
  SetDoc(2, 5, "kept");
  Load("d05 h03 d02 *\nd04 d02 1 +\n");
  formulas_.ComputeHeader(&values_);
  for (int line = 0; line < 3; ++line) formulas_.ComputeLine(line, &values_);
  EXPECT_EQ(Doc(0, 5), "7.50");
  EXPECT_EQ(Doc(1, 5), "17.50");
  EXPECT_EQ(Doc(2, 5), "kept");  // not a calculated field on line 2
  EXPECT_EQ(Doc(2, 4), "10.00");  // calculated on line 2 only
  EXPECT_EQ(Doc(0, 4), "");
}

TEST_F(FormulaTest, FieldWithoutAnApplyingLineGetsZero) {
  SetHead(8, "stale");
  SetHead(9, "stale");
  EXPECT_EQ(H08("h09 7\n"), "0.00");
  EXPECT_EQ(Head(9), "7.00");
  Load("");
  formulas_.ComputeHeader(&values_);
  EXPECT_EQ(Head(9), "0.00");
  EXPECT_EQ(warnings_, std::vector<std::string>());
}

TEST_F(FormulaTest, ResultsAreNotFittedToTheFieldLength) {
  EXPECT_EQ(H08("h08 250"), "250.00");  // field 8 is 4 characters long
  EXPECT_EQ(H08("h08 1000000000000000000000 1000000000 *"), "1000000000000000019884624838656.00");
}

TEST_F(FormulaTest, CarriageReturnIsAnOperatorAndIsReportedOnce) {
  EXPECT_EQ(H08("h08 h03 h04 *\r\nh09 1\r\n"), "0.00");
  EXPECT_EQ(Head(9), "0.00");
  EXPECT_EQ(warnings_, std::vector<std::string>{
                           "t.c0 line 1: the formula holds a carriage return (as do 1 more lines); "
                           "it is an operator that discards the value on top of the stack"});
}

TEST_F(FormulaTest, ReferencesOutsideThePartAddNothingAndAreReported) {
  EXPECT_EQ(H08("h08 2 h50 3 *"), "6.00");
  EXPECT_EQ(H08("h08 2 3 *h"), "6.00");
  EXPECT_EQ(H08("h08 4 h3"), "4.00");  // one character left: header field 3
  EXPECT_EQ(H08("h08 4 h3 *"), "10.00");  // 'h3 ' reads as 3, the blank consumed
  Load("d05 d25 2 +\nh08 1 h-1 +\nh09 h0x\nh06 5h\n");
  EXPECT_EQ(warnings_,
            (std::vector<std::string>{
                "t.c0 line 1: reference 'd25' names detail field 25, which the form does not "
                "have; it adds nothing",
                "t.c0 line 2: reference 'h-1' is not followed by two digits; it is read as "
                "header field -1",
                "t.c0 line 2: reference 'h-1' names header field -1, which the form does not "
                "have; it adds nothing",
                "t.c0 line 3: reference 'h0x' is not followed by two digits; it is read as "
                "header field 0",
                "t.c0 line 4: reference letter 'h' at the end of the formula; it adds nothing"}));
  formulas_.ComputeHeader(&values_);
  formulas_.ComputeLine(0, &values_);
  EXPECT_EQ(Doc(0, 5), "2.00");
  EXPECT_EQ(Head(8), "1.00");
  EXPECT_EQ(Head(6), "5.00");
}

// ---- Reading formula files

TEST(ReadFormulaLinesTest, SplitsLetterTargetAndText) {
  std::vector<FormulaEntry> lines = ReadFormulaEntries("h08 h03 h04 *   \nd04 1 2\r\nH12 x");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].section, 'h');
  EXPECT_EQ(lines[0].target, 8);
  EXPECT_EQ(lines[0].text, " h03 h04 *");  // trailing blanks dropped, the leading one kept
  EXPECT_EQ(lines[1].text, " 1 2\r");      // a carriage return stays in the text
  EXPECT_EQ(lines[2].section, 'H');
  EXPECT_EQ(lines[2].target, 12);
  EXPECT_EQ(lines[2].text, " x");  // the last line needs no line feed
  EXPECT_EQ(lines[2].line_number, 3);
}

TEST(ReadFormulaLinesTest, TargetIsAtMostTwoCharactersAfterWhiteSpace) {
  std::vector<FormulaEntry> lines = ReadFormulaEntries("h123 4\nh 7 1\nh-5\nhx 1\nh\n09 2\n");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].target, 12);
  EXPECT_EQ(lines[0].text, "3 4");
  EXPECT_EQ(lines[1].target, 7);
  EXPECT_EQ(lines[1].text, " 1");
  EXPECT_EQ(lines[2].target, -5);
  EXPECT_FALSE(lines[3].has_target);
  EXPECT_EQ(lines[3].text, "x 1");
  // The target scan skips line ends too: line 5's letter takes its target from line 6.
  EXPECT_EQ(lines[4].target, 9);
  EXPECT_EQ(lines[4].text, " 2");
  EXPECT_EQ(lines[4].line_number, 5);
  EXPECT_EQ(lines[4].text_line_number, 6);
}

TEST(ReadFormulaLinesTest, EmptyLineSwallowsTheNextLineIntoAnInertEntry) {
  std::vector<FormulaEntry> lines = ReadFormulaEntries("h08 1\n\nh09 2\nh06 3\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].section, '\n');
  EXPECT_FALSE(lines[1].has_target);
  EXPECT_EQ(lines[1].text, "h09 2");
  EXPECT_EQ(lines[2].section, 'h');
  EXPECT_EQ(lines[2].target, 6);
  EXPECT_EQ(lines[2].line_number, 4);
}

TEST(ReadFormulaLinesTest, NulEndsTheText) {
  std::vector<FormulaEntry> lines = ReadFormulaEntries(std::string_view("h08 1 2\0 +\nh09 3\n", 17));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, " 1 2");
  EXPECT_TRUE(lines[0].had_nul);
  EXPECT_EQ(lines[1].target, 9);
}

TEST_F(FormulaTest, OddLinesAreReportedWithFileAndLine) {
  Load("h08 1\n\nh09 2\nh8 3\nh\n");
  EXPECT_EQ(warnings_,
            (std::vector<std::string>{
                "t.c0 line 2: empty line; line 3 after it is read as part of an inert entry and "
                "never applies",
                "t.c0 line 4: the target '8' after 'h' is not two digits; it is read as field 8",
                "t.c0 line 5: no target field number after 'h'; the line never applies"}));
  formulas_.ComputeHeader(&values_);
  EXPECT_EQ(Head(8), "3.00");
  EXPECT_EQ(Head(9), "0.00");  // its line was swallowed
  Load("h07 1\nh99 1\n \nh08 1\n");
  EXPECT_EQ(warnings_,
            (std::vector<std::string>{
                "t.c0 line 1: header field 7 is not a calculated field; the line never applies",
                "t.c0 line 2: header field 99 is not a calculated field; the line never applies",
                "t.c0 line 3: begins with white space, so it is an inert entry and never "
                "applies; line 4 is read as part of it"}));
}

TEST_F(FormulaTest, ManyOddLinesGiveACountAfterTwenty) {
  std::string file;
  for (int i = 0; i < 25; ++i) file += "h07 1\n";
  Load(file);
  ASSERT_EQ(warnings_.size(), 21u);
  EXPECT_EQ(warnings_.back(), "t.c0: 5 more warnings not shown");
}

// ---- The evaluator

TEST(EvaluatePostfixTest, ReturnsOneOnlyForDivisionByZeroOfEitherSign) {
  int code = -1;
  EXPECT_EQ(Eval("1 3 /", &code), "0.33");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Eval("2 0 /", &code), "/BY0");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(Eval("2 0 0 1 - * /", &code), "/BY0");  // 0 * -1 is -0
  EXPECT_EQ(code, 1);
  EXPECT_EQ(Eval("2 0.00 / 1 1 1 1 1", &code), "/BY0");
  EXPECT_EQ(Eval("0 0 1 - *"), "-0.00");
  EXPECT_EQ(Eval("0 0.001 -"), "-0.00");
}

TEST(EvaluatePostfixTest, OperatorsFindingTooFewValuesAreIgnored) {
  EXPECT_EQ(Eval(""), "0.00");
  EXPECT_EQ(Eval("+ - * / %"), "0.00");
  EXPECT_EQ(Eval("5 +"), "5.00");
  EXPECT_EQ(Eval("- 5"), "5.00");
  EXPECT_EQ(Eval("1 2 - - - 3 +"), "2.00");
  EXPECT_EQ(Eval("1 2 + + + + * /"), "3.00");
  EXPECT_EQ(Eval("5 %"), "0.00");      // the only value discarded: slot 0 holds 0
  EXPECT_EQ(Eval("5 % % % 7"), "7.00");
  EXPECT_EQ(Eval("5 % 0 /"), "0.00");  // '/' finds one value: no division at all
}

TEST(EvaluatePostfixTest, EveryOtherCharacterIsAnOperatorThatDiscards) {
  EXPECT_EQ(Eval("2 3\t"), "2.00");
  EXPECT_EQ(Eval("2 3\r"), "2.00");
  EXPECT_EQ(Eval("2,5"), "5.00");  // ',' discards 2, then 5 takes slot 0
  EXPECT_EQ(Eval("2 3\xe9"), "2.00");
  EXPECT_EQ(Eval("2 3 4 /BY0"), "0.00");  // a "/BY0" value: '/', then 'B' and 'Y' discard
  EXPECT_EQ(Eval("7 1.5e3 *"), "21.00");   // 'e' discards 1.5; then 7 * 3
}

TEST(EvaluatePostfixTest, NumberTokensReadTheirLongestLeadingNumber) {
  EXPECT_EQ(Eval("1.2.3"), "1.20");
  EXPECT_EQ(Eval(".5 2 *"), "1.00");
  EXPECT_EQ(Eval("5. 2 *"), "10.00");
  EXPECT_EQ(Eval(". 3 +"), "3.00");  // a lone '.' pushes 0
  EXPECT_EQ(Eval("..5 1 +"), "1.00");
  EXPECT_EQ(Eval("0.125"), "0.12");  // halfway cases round as printf rounds
  EXPECT_EQ(Eval("0.375"), "0.38");
  const std::string digits = "123456789012345678901234567890.987654321";
  EXPECT_EQ(Eval(digits), Printf(std::strtod(digits.c_str(), nullptr)));
  const std::string zeros(400, '0');
  EXPECT_EQ(Eval(std::string("1").append(zeros)), "inf");
  volatile double infinity = HUGE_VAL;  // computed at run time, as the evaluator does
  EXPECT_EQ(Eval(std::string("1").append(zeros).append(" 0 *")), Printf(infinity * 0.0));
  EXPECT_EQ(Eval(std::string("0.").append(zeros).append("1 1 +")), "1.00");
  EXPECT_EQ(Eval(std::string("1 0.").append(zeros).append("1 /")), "/BY0");  // underflows to 0
}

// Number tokens of every shape up to 18 characters (the fast reading takes
// up to 15 digits, the general one the rest) read as strtod reads their
// longest leading number, alone and multiplied by a second token.
TEST(EvaluatePostfixTest, RandomNumberTokensReadAsStrtodReadsThem) {
  uint64_t state = 12345;
  auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<unsigned>(state >> 33);
  };
  auto token = [&] {
    std::string t;
    const unsigned length = 1 + next() % 18;
    for (unsigned i = 0; i < length; ++i) t += next() % 8 == 0 ? '.' : static_cast<char>('0' + next() % 10);
    return t;
  };
  auto value = [](const std::string& t) {
    // strtod of the longest leading decimal: up to a second point.
    const size_t second_point = t.find('.', t.find('.') + 1);
    const std::string number = t.substr(0, second_point);
    return number == "." ? 0.0 : std::strtod(number.c_str(), nullptr);
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = token();
    const std::string b = token();
    ASSERT_EQ(Eval(a), Printf(value(a))) << a;
    ASSERT_EQ(Eval(" " + a + "  " + b + " *"), Printf(value(a) * value(b))) << a << " " << b;
  }
}

TEST(EvaluatePostfixTest, LongFormulasHaveNoFixedLimits) {
  std::string formula;
  for (int i = 0; i < 200; ++i) formula += "1 ";
  for (int i = 0; i < 199; ++i) formula += "+ ";
  EXPECT_EQ(Eval(formula), "200.00");
  // Values stacked beyond the old depth keep their own slots.
  formula.clear();
  for (int i = 1; i <= 60; ++i) formula += std::to_string(i) + " ";
  for (int i = 0; i < 58; ++i) formula += "% ";
  formula += "-";
  EXPECT_EQ(Eval(formula), "-1.00");
}

TEST(EvaluatePostfixTest, NumberTokensRunAcrossPieces) {
  PostfixEvaluator e;
  char storage[kCalculatedCapacity];
  FieldBuffer out{storage, 0, kCalculatedCapacity};
  for (int round = 0; round < 2; ++round) {  // the second round reuses the storage
    e.Reset();
    for (std::string_view piece : {"1", "", "2.", "5", " 2", "*"}) e.Feed(piece);
    EXPECT_EQ(e.Finish(&out), 0);
    EXPECT_EQ(out.text(), "25.00");
  }
  e.Reset();
  e.Feed("4 0 /");
  EXPECT_TRUE(e.stopped());
  e.Feed("9");
  EXPECT_EQ(e.Finish(&out), 1);
  EXPECT_EQ(out.text(), "/BY0");
  e.Reset();
  e.Feed("3");
  EXPECT_EQ(e.Finish(&out), 0);
  EXPECT_EQ(out.text(), "3.00");
}

// Assembling into text and evaluating it must give what evaluating piece by
// piece gives, whatever the field texts hold.
TEST_F(FormulaTest, StreamedEvaluationMatchesTheAssembledText) {
  std::mt19937 random(12345);
  const std::string alphabet = "0123456789. .-+*/%h";
  auto pick = [&](int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s += alphabet[random() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    for (int f : {3, 4, 5, 7, 10}) SetHead(f, pick(static_cast<int>(random() % 6)));
    std::string file = "h08 " + pick(static_cast<int>(random() % 10)) + " h03" +
                       pick(static_cast<int>(random() % 4)) + "h04h05 h10 " +
                       pick(static_cast<int>(random() % 6)) + "h07\n";
    Load(file);
    std::string assembled = formulas_.Assembled(-1, 8, values_);
    formulas_.ComputeHeader(&values_);
    ASSERT_EQ(Head(8), Eval(assembled)) << file << " -> " << assembled;
  }
}

// The same for a detail formula, whose references to both parts are
// followed by literal text that may or may not continue a number.
TEST_F(FormulaTest, StreamedDetailEvaluationMatchesTheAssembledText) {
  std::mt19937 random(54321);
  const std::string alphabet = "0123456789. .-+*/%";
  auto pick = [&](int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s += alphabet[random() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    for (int f : {0, 1, 2, 3}) SetDoc(0, f, pick(static_cast<int>(random() % 5)));
    for (int f : {3, 4}) SetHead(f, pick(static_cast<int>(random() % 4)));
    std::string file = "d05 " + pick(static_cast<int>(random() % 4)) + "d00" +
                       pick(static_cast<int>(random() % 3)) + "d01d02 h03" +
                       pick(static_cast<int>(random() % 3)) + "d03" +
                       pick(static_cast<int>(random() % 3)) + "h04\n";
    Load(file);
    std::string assembled = formulas_.Assembled(0, 5, values_);
    formulas_.ComputeLine(0, &values_);
    ASSERT_EQ(Doc(0, 5), Eval(assembled)) << file << " -> " << assembled;
  }
}

// Formulas whose references stand apart from the literal digits (blanks or
// operators on both sides) are read once at load; they must still give what
// the assembled text gives, whatever the fields hold: signs, several numbers,
// operators, nothing at all.
TEST_F(FormulaTest, FormulasReadOnceAtLoadMatchTheAssembledText) {
  std::mt19937 random(777);
  const std::string field_alphabet = "0123456789. .-+*/%x";
  const std::string literal_alphabet = "0123456789. .-+*/%";
  auto pick = [&](const std::string& alphabet, int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s += alphabet[random() % alphabet.size()];
    return s;
  };
  // Literal text that cannot touch a reference's number: it begins and ends
  // with a blank or an operator.
  auto apart = [&]() {
    const std::string ends = " -+*/%";
    return std::string(1, ends[random() % ends.size()]) + pick(literal_alphabet, static_cast<int>(random() % 6)) +
           std::string(1, ends[random() % ends.size()]);
  };
  for (int round = 0; round < 400; ++round) {
    for (int f : {3, 4, 5, 7, 10}) SetHead(f, pick(field_alphabet, static_cast<int>(random() % 7)));
    for (int f : {0, 1, 2, 3}) SetDoc(0, f, pick(field_alphabet, static_cast<int>(random() % 6)));
    std::string header = "h08 " + pick(literal_alphabet, static_cast<int>(random() % 4)) + apart() + "h03" +
                         apart() + "h04" + apart() + "h05" + apart() + "h10" + apart() + "h07";
    std::string detail = "d05 d00" + apart() + "h03" + apart() + "d02" + apart() + "d03" + apart() +
                         pick(literal_alphabet, static_cast<int>(random() % 4));
    Load(header + "\n" + detail + "\n");
    const std::string head_text = formulas_.Assembled(-1, 8, values_);
    const std::string line_text = formulas_.Assembled(0, 5, values_);
    formulas_.ComputeHeader(&values_);
    formulas_.ComputeLine(0, &values_);
    ASSERT_EQ(Head(8), Eval(head_text)) << header << " -> " << head_text;
    ASSERT_EQ(Doc(0, 5), Eval(line_text)) << detail << " -> " << line_text;
  }
}

TEST(FormatResultTest, MatchesPrintf) {
  const double tricky[] = {0.0,   -0.0,   -0.004, 0.004, 0.005, 0.015, 0.125, 0.375, 2.675,
                           -0.005, 0.995, 9.995, 1e13 + 0.125, 3.9999999999999e13, 4e13, 4.5e13, 1e15,
                           -1e15, 123456.785, 0.0049999999999999999, 99.999, -99.995,
                           1.005, -1.005, 1e300,  -1e300, 1e-300, 5e-324,
                           std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                           HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan("")};
  for (double v : tricky) EXPECT_EQ(Formatted(v), Printf(v)) << v;
  std::mt19937_64 random(42);
  for (int i = 0; i < 20000; ++i) {
    double v;
    uint64_t bits = random();
    std::memcpy(&v, &bits, sizeof v);
    ASSERT_EQ(Formatted(v), Printf(v)) << bits;
    double cents = static_cast<double>(static_cast<int64_t>(random() % 2000001) - 1000000) / 1000;
    ASSERT_EQ(Formatted(cents), Printf(cents)) << cents;
    // Ordinary amounts with arbitrary fractions, halves of cents included.
    double amount = (static_cast<double>(random() % 2000000001) - 1e9) / 8192.0;
    ASSERT_EQ(Formatted(amount), Printf(amount)) << amount;
    double product = static_cast<double>(random() % 100000) * 0.001 * static_cast<double>(random() % 1000);
    ASSERT_EQ(Formatted(product), Printf(product)) << product;
  }
}

TEST(EvaluatePostfixTest, NumberTokensReadExactlyAsStrtodReadsThem) {
  std::mt19937 rng(11);
  const char digits[] = "0123456789";
  for (int round = 0; round < 20000; ++round) {
    std::string token;
    const int length = 1 + static_cast<int>(rng() % 24);
    const int point = static_cast<int>(rng() % (length + 2)) - 1;  // sometimes none
    for (int i = 0; i < length; ++i) token += i == point ? '.' : digits[rng() % 10];
    if (rng() % 7 == 0) token += '.' + std::string(1, digits[rng() % 10]);  // a second point
    char scratch[kCalculatedCapacity], expected[512];
    FieldBuffer result{scratch, 0, kCalculatedCapacity};
    EvaluatePostfix(token, &result);
    std::snprintf(expected, sizeof expected, "%.2lf", std::strtod(token.c_str(), nullptr));
    ASSERT_EQ(std::string(result.text()), expected) << "token " << token;
  }
}

// Deferring the calculated fields that only the output reads must leave the
// same text in every field that is printed as computing all of them for every
// record: random forms, formula files and records, some of them printed.
TEST(DeferredFieldsTest, PrintedFieldsMatchComputingEverythingEveryRecord) {
  std::mt19937 rng(5);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 300; ++round) {
    const int header_count = 3 + pick(5), lines = 1 + pick(3), fields = 2 + pick(4);
    char counts[64];
    std::snprintf(counts, sizeof counts, "%d %d %d 0\n", header_count, lines, fields);
    std::string definition = counts;
    for (int f = 0; f < header_count; ++f) definition += pick(2) ? "1 1 6 30\n" : "1 1 6 0\n";
    for (int i = 0; i < lines * fields; ++i) definition += pick(2) ? "1 1 6 30\n" : "1 1 6 0\n";
    Form form;
    ASSERT_TRUE(ParseFormDefinition("r", definition, &form).ok());

    std::string file;
    for (int n = pick(6); n > 0; --n) {
      const bool header = pick(2) == 0;
      auto digit = [&](int n) { return static_cast<char>('0' + pick(n)); };
      file += header ? 'h' : 'd';
      file += '0';
      file += digit(header ? header_count : fields);
      for (int t = 1 + pick(4); t > 0; --t) {
        switch (pick(4)) {
          case 0: file += " h0"; file += digit(header_count); break;
          case 1: file += header ? " 2" : " d0"; if (!header) file += digit(fields); break;
          case 2: file += ' '; file += digit(9); break;
          default: file += ' '; file += "+-*/"[pick(4)]; break;
        }
      }
      file += "\n";
    }
    std::vector<int> searched;
    if (pick(3) == 0) searched.push_back(pick(header_count));

    Formulas eager, deferred;
    eager.LoadText(form, "r.c0", file, nullptr);
    deferred.LoadText(form, "r.c0", file, nullptr);
    deferred.DeferFieldsReadOnlyByOutput(form, searched);
    RecordValues a, b;
    a.Init(form);
    b.Init(form);
    for (int record = 0; record < 6; ++record) {
      auto set = [&](FieldBuffer& x, FieldBuffer& y) {
        char v[8];
        const int n = std::snprintf(v, sizeof v, "%d", pick(40) - 10);
        x.Assign(v, static_cast<size_t>(n));
        y.Assign(v, static_cast<size_t>(n));
      };
      for (int f = 0; f < header_count; ++f)
        if (form.ph[f].type != kCalculatedType) set(a.head(f), b.head(f));
      for (int l = 0; l < lines; ++l)
        for (int f = 0; f < fields; ++f)
          if (form.detail(l, f).type != kCalculatedType) set(a.doc(l, f), b.doc(l, f));
      eager.ComputeHeader(&a);
      deferred.ComputeHeader(&b);
      std::vector<bool> present(static_cast<size_t>(lines));
      for (int l = 0; l < lines; ++l) {
        present[static_cast<size_t>(l)] = pick(4) != 0;
        if (!present[static_cast<size_t>(l)]) continue;
        eager.ComputeLine(l, &a);
        deferred.ComputeLine(l, &b);
      }
      const bool printed = pick(2) == 0;
      if (printed) deferred.ComputeDeferredHeader(&b);
      for (int f = 0; f < header_count && printed; ++f)
        ASSERT_EQ(a.head(f).text(), b.head(f).text()) << file << "header " << f;
      for (int l = 0; l < lines; ++l) {
        if (!present[static_cast<size_t>(l)] || !printed || pick(2) == 0) continue;
        deferred.ComputeDeferredLine(l, &b);
        for (int f = 0; f < fields; ++f)
          ASSERT_EQ(a.doc(l, f).text(), b.doc(l, f).text()) << file << "line " << l << " field " << f;
      }
      // Field 0 of a line decides whether the line is blank: never deferred.
      for (int l = 0; l < lines; ++l) ASSERT_EQ(a.doc(l, 0).text(), b.doc(l, 0).text()) << file;
    }
  }
}

}  // namespace
