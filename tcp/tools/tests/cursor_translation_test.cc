// Cursor addresses from the terminal database's parameter language.
#include "cursor_translation.h"

#include <gtest/gtest.h>

namespace tcptable {
namespace {

struct Case {
  const char *cup;
  const char *format;
  int start;
  int cmpar;
};

TEST(CursorTranslation, CarriesOverTheCommonForms) {
  const Case cases[] = {
      {"\x1b[%i%p1%d;%p2%dH", "\x1b[%d;%dH", 1, 0},             // ANSI, counted from 1
      {"\x1b[%i%p1%d;%p2%dH$<5>", "\x1b[%d;%dH", 1, 0},         // padding dropped
      {"\x1b[%p1%d;%p2%dH", "\x1b[%d;%dH", 0, 0},               // counted from 0
      {"\x1b=%p1%' '%+%c%p2%' '%+%c", "\x1b=%c%c", 0, 32},      // characters with an offset
      {"\x1b=%p1%{32}%+%c%p2%{32}%+%c", "\x1b=%c%c", 0, 32},    // the same with %{}
      {"\x1b=%i%p1%' '%+%c%p2%' '%+%c", "\x1b=%c%c", 0, 33},    // %i on top of the offset
      {"\x1b[%i%p2%d;%p1%dH", "\x1b[%2$d;%1$dH", 1, 0},         // column first
      {"\x1b&a%p1%02dy%p2%03dC", "\x1b&a%02dy%03dC", 0, 0},     // widths and zero fill
      {"%p1%:-3d|%p2%x", "%-3d|%x", 0, 0},                      // flags after ':', hex
      {"%%%p1%d%%%p2%d", "%%%d%%%d", 0, 0},                     // a literal percent
      {"\x1b[%i%p1%d;%p2%d;%{7}%dH", "\x1b[%d;%d;7H", 1, 0},    // a printed constant
      {"%i%i%p1%d;%p2%d", "%d;%d", 1, 0},                       // %i raises once only
  };
  for (const Case &c : cases) {
    CursorFormat f = TranslateCursor(c.cup);
    ASSERT_TRUE(f.ok) << c.cup << ": " << f.reason;
    EXPECT_EQ(f.format, c.format) << c.cup;
    EXPECT_EQ(f.start, c.start) << c.cup;
    EXPECT_EQ(f.cmpar, c.cmpar) << c.cup;
  }
}

TEST(CursorTranslation, RefusesWhatTheTableCannotExpressWithAReason) {
  const std::pair<const char *, const char *> cases[] = {
      {"%?%p1%{8}%<%t\x1b[%p1%d%e%;", "conditional"},
      {"%p1%d%p3%d", "parameter 3"},
      {"%p1%{1}%+%d;%p2%d", "different offsets"},
      {"%p1%d%i;%p2%d", "different offsets"},  // %i raises only what is pushed after it
      {"\x1b[%p1%dH", "does not print the column"},
      {"\x1b[H", "neither"},
      {"%p1%s%p2%s", "string"},
      {"%p1%Pa%ga%d%p2%d", "variable"},
      {"%p1%{1}%-%d%p2%d", "arithmetic"},
      {"%p1%p2%+%d", "adds the row and the column"},
      {"%d%p1%d%p2%d", "never pushed"},
      {"%p1%d%p2%d%", "lone"},
      {"%p1%{200}%+%c%p2%{200}%+%c", "signed byte"},
      {"%p1%z%p2%d", "unknown"},
      {"%p1%$<2>d%p2%d", "unknown"},  // padding inside an operation is none
      {"%p1%9999999999d%p2%d", "width above 255"},
  };
  for (const auto &[cup, reason] : cases) {
    CursorFormat f = TranslateCursor(cup);
    EXPECT_FALSE(f.ok) << cup;
    EXPECT_NE(f.reason.find(reason), std::string::npos) << cup << ": " << f.reason;
  }
}

TEST(CursorTranslation, ControlBytesInTheTextStayText) {
  CursorFormat f = TranslateCursor("\x01\x02%p1%d\x01%p2%d");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.format, "\x01\x02%d\x01%d");
}

TEST(StripPadding, DropsOnlyPaddingMarks) {
  EXPECT_EQ(StripPadding("\x1b[H\x1b[J$<50>"), "\x1b[H\x1b[J");
  EXPECT_EQ(StripPadding("a$<2.5*/>b$<1>"), "ab");
  EXPECT_EQ(StripPadding("$5 $<x> $<3"), "$5 $<x> $<3");
}

}  // namespace
}  // namespace tcptable
