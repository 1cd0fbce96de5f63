// Field display and screen layout: what shows in which cells, and what a
// window smaller than the form cuts or leaves out.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "field_text.h"
#include "form.h"
#include "layout.h"
#include "masks.h"

namespace {

FieldDef Def(int row, int column, int length, int type) {
  FieldDef d;
  d.row = static_cast<int16_t>(row);
  d.column = static_cast<int16_t>(column);
  d.length = static_cast<int16_t>(length);
  d.type = static_cast<int16_t>(type);
  return d;
}

Form ExampleForm() {
  Form form;
  Status s = LoadForm(std::string(QUERY_EXAMPLES_DIR) + "/fac", &form);
  EXPECT_TRUE(s.ok()) << s.message();
  return form;
}

std::vector<std::string> Mask(const char* name) {
  std::vector<std::string> lines;
  Status s = LoadMask(std::string(QUERY_EXAMPLES_DIR) + "/" + name, &lines);
  EXPECT_TRUE(s.ok()) << s.message();
  return lines;
}

TEST(FieldTextTest, NumbersShowThroughPuntoRightAlignedWithTypeMinusOneDecimals) {
  EXPECT_EQ(DisplayText(Def(0, 0, 10, 3), "   1250.00", 10), "  1.250,00");
  EXPECT_EQ(DisplayText(Def(0, 0, 5, 1), "  500", 5), "  500");
  EXPECT_EQ(DisplayText(Def(0, 0, 12, 3), "1234567.891", 12), "1.234.567,89");
  EXPECT_EQ(DisplayText(Def(0, 0, 6, 3), "", 6), "      ");
}

TEST(FieldTextTest, NumberTooWideForItsCellsShowsStarsNotCutDigits) {
  EXPECT_EQ(DisplayText(Def(0, 0, 6, 3), "1234567.89", 6), "******");
}

TEST(FieldTextTest, DatesShowAsDayMonthYearAndOddDatesAsStored) {
  EXPECT_EQ(DisplayText(Def(0, 0, 8, 8), "05012024", 10), "05/01/2024");
  EXPECT_EQ(DisplayText(Def(0, 0, 8, 9), "31129999", 10), "31/12/9999");
  EXPECT_EQ(DisplayText(Def(0, 0, 8, 8), "5-1-24", 10), "5-1-24    ");
}

TEST(FieldTextTest, TextIsCutOrPaddedAndControlBytesNeverReachTheTerminal) {
  EXPECT_EQ(DisplayText(Def(0, 0, 4, 0), "abcdef", 4), "abcd");
  EXPECT_EQ(DisplayText(Def(0, 0, 6, 0), "a\x1b[2Jb", 6), "a?[2Jb");
}

TEST(FieldTextTest, CalculatedValuesShowAsStoredNumbersDo) {
  EXPECT_EQ(DisplayText(Def(0, 0, 4, 30), "1.5", 6), "  1,50");
  EXPECT_EQ(DisplayText(Def(0, 0, 12, 30), "1187.50", 12), "    1.187,50");
  EXPECT_EQ(DisplayText(Def(0, 0, 12, 30), "-1234567.5", 12), "************");
  EXPECT_EQ(DisplayText(Def(0, 0, 6, 30), "/BY0", 6), "  /BY0");
}

TEST(FieldTextTest, ANumberCutAtTheScreensEdgeShowsStarsNotCutDigits) {
  const FieldDef number = Def(0, 0, 6, 3);
  EXPECT_EQ(CutAtEdge(number, DisplayText(number, "0.02", 6), 5), "*****");
  EXPECT_EQ(CutAtEdge(number, DisplayText(number, "0.02", 6), 6), "  0,02");
  const FieldDef text = Def(0, 0, 6, 0);
  EXPECT_EQ(CutAtEdge(text, DisplayText(text, "abcdef", 6), 4), "abcd");
  // Only blanks lost at the edge: nothing to hide.
  EXPECT_EQ(CutAtEdge(text, DisplayText(text, "ab", 6), 4), "ab  ");
}

TEST(FieldTextTest, HeaderKeyTakesItsDescriptionToo) {
  Form form = ExampleForm();
  EXPECT_EQ(DisplayWidth(form, form.ph[1], true), 6 + 1 + 30);
  EXPECT_EQ(DisplayWidth(form, form.detail(0, 0), false), 8);  // detail key: its code only
  EXPECT_EQ(DisplayWidth(form, form.ph[3], true), 10);         // a date
}

TEST(LayoutTest, ExampleFormFitsAnEightyByTwentyFourScreen) {
  Form form = ExampleForm();
  Layout layout = MakeLayout(form, Mask("fac.0"), Mask("fac.1"), {24, 80}, 23);
  EXPECT_EQ(layout.message_row, 23);
  EXPECT_TRUE(layout.hidden.empty()) << layout.hidden;
  for (const Placement& p : layout.header) EXPECT_TRUE(p.shown && p.width == p.full_width);
  for (const Placement& p : layout.detail) EXPECT_TRUE(p.shown && p.width == p.full_width);
  EXPECT_TRUE(layout.frame);
  EXPECT_EQ(layout.frame_bottom, 11);  // one below the last detail line (row 10)
  EXPECT_EQ(layout.frame_right, 70);   // one right of the date, columns 60 to 69
  // The detail mask follows the header mask's six lines.
  bool heading = false;
  for (const MaskRun& run : layout.mask) heading = heading || (run.row == 6 && run.text == "ARTICULO");
  EXPECT_TRUE(heading);
}

TEST(LayoutTest, SmallWindowCutsAtItsEdgeAndNamesTheFieldsLeftOut) {
  Form form = ExampleForm();
  Layout layout = MakeLayout(form, Mask("fac.0"), Mask("fac.1"), {9, 40}, 23);
  EXPECT_EQ(layout.message_row, 8);  // the table's row 23 is off this screen
  EXPECT_FALSE(layout.header[3].shown);  // the date, column 60
  EXPECT_FALSE(layout.header[8].shown);  // boxes, column 50
  EXPECT_TRUE(layout.header[1].shown);
  EXPECT_EQ(layout.header[1].width, 30);  // columns 10 to 39 of 37
  EXPECT_TRUE(layout.detail_at(0, 4, form.field_count).row == 7);
  EXPECT_FALSE(layout.detail_at(0, 3, form.field_count).shown);  // column 41
  EXPECT_FALSE(layout.detail_at(1, 0, form.field_count).shown);  // row 8: the message row
  EXPECT_EQ(layout.hidden, "h03 h08 line 0: d03 d04 line 1: d00 d01 d02 d03 d04 line 2: d00 d01 d02 d03 d04 "
                           "line 3: d00 d01 d02 d03 d04");
  for (const MaskRun& run : layout.mask) {
    EXPECT_LT(run.row, layout.message_row);
    EXPECT_LE(run.column + static_cast<int>(run.text.size()), 40) << run.text;
  }
  EXPECT_FALSE(layout.frame);  // it would cross the cut values
}

class MaskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("browse-mask-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::filesystem::path dir_;
};

TEST_F(MaskFileTest, MissingMaskIsEmpty) {
  std::vector<std::string> lines{"old"};
  EXPECT_TRUE(LoadMask(Path("none.0"), &lines).ok());
  EXPECT_TRUE(lines.empty());
}

TEST_F(MaskFileTest, ControlBytesBecomeBlanks) {
  std::ofstream(Path("m.0")) << "A\tB\x1b[2J\r\n\nC";
  std::vector<std::string> lines;
  ASSERT_TRUE(LoadMask(Path("m.0"), &lines).ok());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "A B [2J ");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "C");
}

TEST_F(MaskFileTest, OversizedDirectoryAndPseudoFileMasksAreRefusedByName) {
  std::ofstream(Path("big.0")) << std::string(kMaxMaskSize + 1, '_');
  std::vector<std::string> lines;
  Status s = LoadMask(Path("big.0"), &lines);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("big.0"), std::string::npos);
  std::ofstream(Path("fits.0")) << std::string(kMaxMaskSize, '_');
  EXPECT_TRUE(LoadMask(Path("fits.0"), &lines).ok());

  std::filesystem::create_directory(Path("dir.0"));
  s = LoadMask(Path("dir.0"), &lines);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("dir.0"), std::string::npos);

  std::filesystem::create_symlink("/proc/self/environ", Path("env.1"));
  s = LoadMask(Path("env.1"), &lines);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("env.1"), std::string::npos);
}

}  // namespace
