// A translated cursor address, written by the library's own formatter with
// the coordinates pos sends, gives the bytes the terminal database's own
// expansion of the original gives, for every row and column tried.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <curses.h>
#include <term.h>

#include "control_format.h"
#include "cursor_translation.h"

namespace tcptable {
namespace {

// The database's expansion, padding dropped. It cannot hold a byte 0 and
// writes %c of 0 as 0x80, which stands for the byte 0 the library sends.
std::string Expanded(const std::string &cup, int row, int column) {
  const char *out = tiparm(cup.c_str(), row, column);
  if (out == nullptr) return "(none)";
  std::string text = StripPadding(out);
  for (char &c : text)
    if (c == '\x80') c = '\0';
  return text;
}

std::string Written(const CursorFormat &cursor, int row, int column) {
  // pos: both + 1 when start is set, otherwise both + cmpar.
  int offset = cursor.start != 0 ? 1 : cursor.cmpar;
  const int coordinates[2] = {row + offset, column + offset};
  char *buffer = nullptr;
  size_t size = 0;
  std::FILE *out = open_memstream(&buffer, &size);
  tcplib::WriteControl(out, cursor.format, coordinates);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(CursorExpansion, TranslationWritesWhatTheDatabaseWouldSend) {
  const char *cups[] = {
      "\x1b[%i%p1%d;%p2%dH",               // xterm, screen, tmux, linux
      "\x1b[%i%p1%d;%p2%dH$<5>",           // vt100
      "\x1bY%p1%' '%+%c%p2%' '%+%c",       // vt52
      "\x1b=%p1%{32}%+%c%p2%{32}%+%c",     // the same offset written as a number
      "\x1b=%i%p1%' '%+%c%p2%' '%+%c",     // %i and an offset
      "\x1b[%i%p2%d;%p1%dH",               // column first
      "\x1b&a%p1%02dy%p2%03dC",            // widths and zero fill
      "%p1%:-4d|%p2%x|%p2%X|%p1%o",        // flags, hex, octal, a coordinate twice
      "%%%p1%d%%%p2%d",                    // literal percent signs
  };
  for (const char *cup : cups) {
    CursorFormat cursor = TranslateCursor(cup);
    ASSERT_TRUE(cursor.ok) << cup << ": " << cursor.reason;
    for (int row = 0; row < 60; row += 7) {
      for (int column = 0; column < 200; column += 13) {
        ASSERT_EQ(Written(cursor, row, column), Expanded(cup, row, column))
            << cup << " at " << row << "," << column << " via " << cursor.format;
      }
    }
  }
}

// Made-up strings in the parameter language: a cursor address of random
// shape, now and then with a random piece thrown in. Whatever the
// translation accepts must expand the same way; the rest is refused with a
// reason.
TEST(CursorExpansion, RandomStringsAreCarriedOverExactlyOrRefused) {
  const char *texts[] = {"", ";", "H", "\x1b[", "\x1b=", "%%", "Y", "\x01"};
  const char *offsets[] = {"", "", "%{32}%+", "%' '%+", "%{1}%+", "%{7}%+"};
  const char *conversions[] = {"%d", "%c", "%2d", "%03d", "%x", "%:-3d", "%o", "%.2d"};
  const char *noise[] = {"%i", "%d", "%c", "%+", "%{3}", "%?", "%t", "%;", "%-", "%p3", "$<2>", "%s", "%p1", "%"};
  unsigned state = 12345;
  auto pick = [&state](int n) {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) % static_cast<unsigned>(n));
  };
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string cup = pick(2) ? "%i" : "";
    int first = 1 + pick(2);
    std::string offset = offsets[pick(6)];
    for (int param : {first, 3 - first}) {
      cup += texts[pick(8)];
      cup += "%p" + std::to_string(param) + (pick(4) ? offset : offsets[pick(6)]) + conversions[pick(8)];
    }
    cup += texts[pick(8)];
    if (pick(3) == 0) cup.insert(static_cast<size_t>(pick(static_cast<int>(cup.size()) + 1)), noise[pick(14)]);
    CursorFormat cursor = TranslateCursor(cup);
    if (!cursor.ok) {
      EXPECT_FALSE(cursor.reason.empty()) << cup;
      continue;
    }
    ++accepted;
    for (int row : {0, 5, 23}) {
      for (int column : {0, 9, 79}) {
        ASSERT_EQ(Written(cursor, row, column), Expanded(cup, row, column))
            << cup << " at " << row << "," << column << " via " << cursor.format;
      }
    }
  }
  EXPECT_GT(accepted, 5000);
}

}  // namespace
}  // namespace tcptable
