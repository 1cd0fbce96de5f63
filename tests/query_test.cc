#include "query.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "test_util.h"

namespace {

TEST(QueryArgumentTest, ParsesLetterFieldSeparatorAndLowerCasedSearch) {
  QueryArgument a = ParseQueryArgument("d03 AbC\xC9");
  EXPECT_EQ(a.letter, 'd');
  EXPECT_EQ(a.field, 3);
  EXPECT_TRUE(a.has_separator);
  EXPECT_EQ(a.separator, ' ');
  EXPECT_EQ(a.search, "abc\xC9");  // only A to Z change
  EXPECT_TRUE(a.IsDetail());
}

TEST(QueryArgumentTest, ShortArgumentsHaveNoSeparatorAndNoSearch) {
  QueryArgument a = ParseQueryArgument("h 5");
  EXPECT_EQ(a.field, 5);
  EXPECT_FALSE(a.has_separator);
  EXPECT_TRUE(a.search.empty());
  EXPECT_EQ(ParseQueryArgument("h1").field, 1);
  EXPECT_EQ(ParseQueryArgument("h").field, 0);
  EXPECT_EQ(ParseQueryArgument("").letter, '\0');
  EXPECT_EQ(ParseQueryArgument("h-1;").field, -1);
  EXPECT_EQ(ParseQueryArgument("hx1;").field, 0);
  QueryArgument s = ParseQueryArgument("h01;");
  EXPECT_TRUE(s.has_separator);
  EXPECT_TRUE(s.search.empty());
}

TEST(QueryArgumentTest, SearchTextsAreNotLimitedInLength) {
  std::string longer(300, 'X');
  EXPECT_EQ(ParseQueryArgument("h01;" + longer).search, std::string(300, 'x'));
}

TEST(MatchTest, MatchesCaseInsensitivelyWithinTheDefinedLength) {
  EXPECT_TRUE(MatchesField("xxABCxx", 7, "abc"));
  EXPECT_FALSE(MatchesField("ab", 2, "abc"));
  EXPECT_FALSE(MatchesField("xxABCxx", 4, "abc"));  // must lie wholly inside the first L
  EXPECT_TRUE(MatchesField("xxABCxx", 5, "abc"));
  EXPECT_FALSE(MatchesField("C00001|ACME S.A.", 6, "acme"));  // a description is never searched
  EXPECT_TRUE(MatchesField("aab", 3, "ab"));
  EXPECT_FALSE(MatchesField("", 0, "a"));
  EXPECT_FALSE(MatchesField("abc", -3, "a"));
}

// The search looks at eight or sixteen candidate positions at a time; every position,
// either case of a letter, and the characters that differ from a letter's
// case in bit 5 only must come out as a byte-by-byte comparison has them.
TEST(MatchTest, AgreesWithAByteByByteComparisonWhereverTheNeedleLies) {
  auto reference = [](std::string_view text, std::string_view needle) {
    for (size_t at = 0; at + needle.size() <= text.size(); ++at) {
      size_t j = 0;
      while (j < needle.size() && LowerAscii(text[at + j]) == needle[j]) ++j;
      if (j == needle.size()) return true;
    }
    return false;
  };
  const std::string alphabet = std::string("tTo@`x 4\x14\xd4\xf4O", 12);
  const std::string needles[] = {"t", "to", "tot", "@", "`", "4", "\x14", "\xf4t", "ttttttttt", "o@", "4o", "tottot"};
  uint32_t state = 12345;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 4000; ++round) {
    std::string text(next() % 41, ' ');
    for (char& c : text) c = alphabet[next() % alphabet.size()];
    for (const std::string& needle : needles) {
      const int length = static_cast<int>(next() % 45);
      const std::string_view within = std::string_view(text).substr(0, std::min<size_t>(length, text.size()));
      ASSERT_EQ(MatchesField(text, length, needle), reference(within, needle))
          << "text '" << text << "' length " << length << " needle '" << needle << "'";
    }
  }
  // One needle at every position of a text longer than a word.
  for (size_t at = 0; at < 20; ++at) {
    std::string text(20, 'x');
    text[at] = 'T';
    EXPECT_TRUE(MatchesField(text, 20, "t")) << at;
    EXPECT_FALSE(MatchesField(text, static_cast<int>(at), "t")) << at;
    text[at] = static_cast<char>('t' ^ 0x80);
    EXPECT_FALSE(MatchesField(text, 20, "t")) << at;
  }
}

// Output gathers into a fixed buffer and writes a text larger than it
// directly: the bytes must come out whole and in order either way.
TEST(OutputTest, WritesEveryByteInOrderWhateverTheSizesOfTheTexts) {
  TempDir dir;
  std::string expected;
  {
    const int fd = open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    Output out(fd);
    for (size_t size : {size_t{0}, size_t{5}, size_t{65535}, size_t{1}, size_t{65536}, size_t{200000},
                        size_t{3}, size_t{70000}}) {
      std::string text(size, static_cast<char>('a' + size % 26));
      if (!text.empty()) text[0] = '<';
      out.Append(text);
      out.Put('|');
      expected += text + "|";
    }
    out.Flush();
    EXPECT_EQ(out.write_error(), 0);
    close(fd);
  }
  EXPECT_EQ(dir.Read("out"), expected);
}

}  // namespace
