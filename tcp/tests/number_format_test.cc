#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tcp.h"

namespace {

std::string Punto(const char *text, int decimals) {
  char output[64];
  std::memset(output, '#', sizeof output);
  EXPECT_EQ(punto(text, output, decimals), 1);
  // Nothing may be written past the terminator's byte.
  size_t length = std::strlen(output);
  EXPECT_LT(length, static_cast<size_t>(PUNTO_OUTPUT_SIZE)) << text;
  for (size_t k = length + 1; k < sizeof output; ++k) EXPECT_EQ(output[k], '#') << text;
  return output;
}

TEST(PuntoTest, WorkedExamples) {
  struct Case {
    const char *text;
    int decimals;
    const char *output;
  } cases[] = {
      {"1234567.891", 2, "1.234.567,89"}, {"-1234.5", 1, "-1.234,5"},
      {"999", 0, "999"},                  {"1000", 0, "1.000"},
      {"123456", 0, "123.456"},           {"1234567890", 0, "1.234.567.890"},
      {"12345678901", 0, "12.345.678.901"}, {"-12345678901", 2, "-12.345.678.901,00"},
      {"1000000", 3, "1.000.000,000"},    {"12.3", 4, "12,3000"},
      {"7", 1, "7,0"},                    {"0", 3, "0,000"},
      {"0.5", 0, "0"},                    {"1.5", 0, "2"},
      {"999.996", 2, "1.000,00"},         {"-0.004", 2, "-0,00"},
      {"1e3", 0, "1.000"},                {"abc", 2, "0,00"},
      {"-", 0, "0"},                      {"1234.5.6", 2, "1.234,50"},
      {"", 2, ""},
  };
  for (const Case &c : cases) EXPECT_EQ(Punto(c.text, c.decimals), c.output) << c.text;
}

TEST(PuntoTest, EdgesOfTheGroupingAndOfTheText) {
  EXPECT_EQ(Punto("   ", 0), "0");
  EXPECT_EQ(Punto("   ", 2), "0,00");
  EXPECT_EQ(Punto("999999", 0), "999.999");
  EXPECT_EQ(Punto("999999999", 0), "999.999.999");
  EXPECT_EQ(Punto("-0", 0), "-0");
  EXPECT_EQ(Punto("  +42.25", 1), "42,2");  // a tie goes to the even digit
  EXPECT_EQ(Punto("99999999999.994", 2), "99.999.999.999,99");
}

TEST(PuntoTest, ValuesBeyondElevenIntegerDigitsShowStarsOfTheLongestLength) {
  EXPECT_EQ(Punto("123456789012", 2), std::string(18, '*'));
  EXPECT_EQ(Punto("-123456789012", 0), std::string(15, '*'));
  EXPECT_EQ(Punto("99999999999.996", 2), std::string(18, '*'));  // rounds to 12 digits
  EXPECT_EQ(Punto("1e30", 4), std::string(20, '*'));
  EXPECT_EQ(Punto("1e308", 4), std::string(20, '*'));
  EXPECT_EQ(Punto("1e999", 1), std::string(17, '*'));  // out of range: infinite
  EXPECT_EQ(Punto("inf", 2), std::string(18, '*'));
  EXPECT_EQ(Punto("-infinity", 0), std::string(15, '*'));
}

TEST(PuntoTest, NotANumberShowsAsZero) {
  EXPECT_EQ(Punto("nan", 2), "0,00");
  EXPECT_EQ(Punto("-nan", 0), "0");
}

TEST(PuntoTest, DecimalsOutsideZeroToFourAreClamped) {
  EXPECT_EQ(Punto("1.23456789", 9), "1,2346");
  EXPECT_EQ(Punto("1.23456789", 1000), "1,2346");
  EXPECT_EQ(Punto("-12345678901.5", 99), "-12.345.678.901,5000");
  EXPECT_EQ(Punto("1234.6", -3), "1.235");
  EXPECT_EQ(Punto("", -3), "");
}

}  // namespace
