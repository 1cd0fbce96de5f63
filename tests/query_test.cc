#include "query.h"

#include <gtest/gtest.h>

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

}  // namespace
