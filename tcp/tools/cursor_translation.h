// Cursor addressing: from the terminal database's parameter language to the
// terminal table's cursor format.
//
// The database writes the cursor address `cup` in a small stack language
// (%p1 pushes the row, %p2 the column, %i counts both from 1, %d and %c
// print, %{n} and %'c' push constants, %+ adds). The table's entry 1 is a
// format receiving the row and the column as two ints, row first, that the
// library adjusts by the table's `start` (both + 1) or `cmpar` (both + n).
// So a cup string can be carried over when each coordinate is printed with
// the same offset and the rest is plain text. Padding ($<5>) is dropped.
#ifndef TCP_TOOLS_CURSOR_TRANSLATION_H_
#define TCP_TOOLS_CURSOR_TRANSLATION_H_

#include <string>
#include <string_view>

namespace tcptable {

struct CursorFormat {
  bool ok = false;
  std::string format;  // the table's entry 1, a format with row, column
  int start = 0;       // the table's start flag: 1 when the offset is 1
  int cmpar = 0;       // any other offset (with start 0)
  std::string reason;  // why the string cannot be expressed, when !ok
};

// Translates the cup string `cup`. Coordinates printed in the order column,
// row use argument positions ("%2$d;%1$d"). Fails, with a reason, on
// conditionals, variables, arithmetic other than adding a constant, string
// output, the two coordinates printed with different offsets, an offset
// outside a signed byte, and a format that prints neither coordinate.
CursorFormat TranslateCursor(std::string_view cup);

// Removes every padding mark $<...> (digits, '.', '*' and '/' inside) from
// a database string; other '$' are kept.
std::string StripPadding(std::string_view text);

}  // namespace tcptable

#endif  // TCP_TOOLS_CURSOR_TRANSLATION_H_
