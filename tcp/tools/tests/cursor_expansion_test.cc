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

std::string Expanded(const std::string &cup, int row, int column) {
  const char *out = tiparm(cup.c_str(), row, column);
  return out != nullptr ? StripPadding(out) : std::string("(none)");
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

}  // namespace
}  // namespace tcptable
