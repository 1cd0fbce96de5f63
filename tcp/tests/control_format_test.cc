#include "control_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Format(const std::string &format, std::vector<int> args) {
  char *data = nullptr;
  size_t size = 0;
  std::FILE *out = open_memstream(&data, &size);
  tcplib::WriteControl(out, format, args);
  std::fclose(out);
  std::string bytes(data, size);
  std::free(data);
  return bytes;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string Printf(const std::string &format, int a, int b) {
  char buffer[256];
  int n = std::snprintf(buffer, sizeof buffer, format.c_str(), a, b);
  return std::string(buffer, n);
}
#pragma GCC diagnostic pop

// Every combination of flags, width, precision, length and conversion that a
// cursor or attribute string may use gives what printf gives.
TEST(ControlFormatTest, MatchesPrintfForEveryIntegerConversion) {
  const char *widths[] = {"", "1", "4", "*"};
  const char *precisions[] = {"", ".", ".0", ".3", ".*"};
  const char *lengths[] = {"", "h", "hh"};
  const int values[] = {0, 1, -1, 7, 42, 255, 300, 70000, INT_MAX, INT_MIN};
  int checked = 0;
  for (int flags = 0; flags < 32; ++flags) {
    std::string flag_text;
    for (int k = 0; k < 5; ++k) {
      if (flags & (1 << k)) flag_text += "-+ #0"[k];
    }
    for (const char *width : widths) {
      for (const char *precision : precisions) {
        for (const char *length : lengths) {
          for (char conversion : std::string("diouxXc")) {
            // Arguments for '*' come first, so only one '*' is combined.
            if (std::string(width) == "*" && std::string(precision) == ".*") continue;
            std::string directive = "%" + flag_text + width + precision + length + conversion;
            bool star = std::string(width) == "*" || std::string(precision) == ".*";
            for (int value : values) {
              for (int amount : {3, -3}) {
                int a = star ? amount : value, b = star ? value : 5;
                // Without '*' a second conversion shows that one argument was taken.
                std::string format = "a" + directive + (star ? "" : "|%d");
                ASSERT_EQ(Format(format, {a, b}), Printf(format, a, b)) << format << " " << a;
                ++checked;
              }
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

TEST(ControlFormatTest, CursorStringsOfRealTerminals) {
  EXPECT_EQ(Format("\x1b[%d;%dH", {3, 11}), "\x1b[3;11H");
  EXPECT_EQ(Format("\x1b=%c%c", {34, 37}), "\x1b=\"%");
  EXPECT_EQ(Format("\x1b[%2$d;%1$dH", {3, 11}), "\x1b[11;3H");
  EXPECT_EQ(Format("%c%c", {0, 65}), std::string("\0A", 2));
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%5%", {}), "%");
}

TEST(ControlFormatTest, OtherConversionsAreWrittenLiterally) {
  EXPECT_EQ(Format("%s%n", {1, 2}), "%s%n");
  EXPECT_EQ(Format("%p|%f", {1, 2}), "%p|%f");
  EXPECT_EQ(Format("%ld,%d", {1, 2}), "%ld,1");
  EXPECT_EQ(Format("%5y", {1, 2}), "%5y");
  EXPECT_EQ(Format("ab%", {}), "ab%");
  EXPECT_EQ(Format("ab%-5", {}), "ab%-5");
}

TEST(ControlFormatTest, ConversionsBeyondTheArgumentsAreWrittenLiterally) {
  EXPECT_EQ(Format("\x1b[%d;%dH", {}), "\x1b[%d;%dH");
  EXPECT_EQ(Format("%d,%d,%d", {1, 2}), "1,2,%d");
  EXPECT_EQ(Format("%3$d", {1, 2}), "%3$d");
  EXPECT_EQ(Format("%*d", {4}), "%*d");
  EXPECT_EQ(Format("%.*x", {}), "%.*x");
  EXPECT_EQ(Format("%99999999$d", {1, 2}), "%99999999$d");
}

}  // namespace
