// Bad input to the terminal library that its own tests leave out: a table
// file longer than the loader reads, and field widths outside the editor's
// range. The rest of the terminal library's rows in doc/bad_input.md name
// tests in tcp/tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "field_editor.h"
#include "fuzz_util.h"
#include "tcp.h"
#include "terminal_table.h"
#include "test_util.h"

namespace {

void ClearTable() {
  std::memset(tc, 0, sizeof tc);
  TICS = start = cmpar = 0;
}

TEST(TerminalTableBadInputTest, BytesPastTheReadLimitAreNotLoaded) {
  TempDir dir;
  ClearTable();
  // Entry 0 "a", then an entry of 5,000 bytes that is cut to 9, then entry 2
  // "b", which begins past the 4,096 bytes the loader reads.
  std::string file("\x10\x00\x00", 3);
  file += std::string("a\0", 2) + std::string(5000, 'x') + std::string("\0b\0", 3);
  dir.Write("t", file);
  ASSERT_TRUE(tcplib::LoadTable(dir.File("t").c_str()));
  EXPECT_STREQ(tc[0], "a");
  EXPECT_STREQ(tc[1], "xxxxxxxxx");
  EXPECT_STREQ(tc[2], "");
}

// Runs the field editor on `keys` with stdout sent to /dev/null.
int Edit(int width, int type, std::vector<char>* text, const std::string& keys) {
  TempDir dir;
  dir.Write("keys", keys);
  EXPECT_NE(std::freopen(dir.File("keys").c_str(), "rb", stdin), nullptr);
  StdoutToNull quiet;
  return input(1, 1, width, type, text->data(), 0);
}

TEST(FieldEditorBadInputTest, NegativeWidthIsAFullFieldOfNoCells) {
  ClearTable();
  std::vector<char> text(1, '\0');  // the room a width of 0 needs
  EXPECT_EQ(Edit(-7, 0, &text, "abc\n"), KEY_NEWLINE);
  EXPECT_STREQ(text.data(), "");
  std::vector<char> number(1, '\0');
  EXPECT_EQ(Edit(-1, 3, &number, "12\x1b"), KEY_ESCAPE);
  EXPECT_STREQ(number.data(), "");
}

TEST(FieldEditorBadInputTest, WideFieldTakesNoMoreThan255Characters) {
  ClearTable();
  std::vector<char> text(1001, '\0');  // a caller sized for its width of 1,000
  EXPECT_EQ(Edit(1000, 0, &text, std::string(600, 'k') + "\n"), KEY_NEWLINE);
  EXPECT_EQ(std::strlen(text.data()), 255u);
}

}  // namespace
