// The pieces that put store text in front of strangers: encodings, the row
// formats, HTML escaping, page tokens, display numbers, argument checks.
#include <gtest/gtest.h>

#include "display_value.h"
#include "html.h"
#include "request_parse.h"
#include "row_format.h"
#include "text_encoding.h"

namespace {

Utf8Converter Converter(TextEncoding encoding) {
  Utf8Converter converter;
  EXPECT_TRUE(Utf8Converter::Make(encoding, &converter).ok());
  return converter;
}

std::string Csv(std::string_view cell) {
  std::string out;
  AppendCsvCell(cell, &out);
  return out;
}

std::string Json(std::string_view text) {
  std::string out;
  AppendJsonString(text, &out);
  return out;
}

TEST(Encoding, Cp437LettersBecomeUtf8AndComeBack) {
  const Utf8Converter cp437 = Converter(TextEncoding::kCp437);
  EXPECT_EQ(cp437.Convert("Nu\xA4" "ez \x82\x81\xA5 ABC"), "Nuñez éüÑ ABC");
  std::string bytes;
  ASSERT_TRUE(cp437.FromUtf8("Nuñez é", &bytes));
  EXPECT_EQ(bytes, "Nu\xA4" "ez \x82");
  EXPECT_FALSE(cp437.FromUtf8("5 €", &bytes)) << "code page 437 has no euro sign";
  EXPECT_FALSE(cp437.FromUtf8("\xC3", &bytes)) << "a cut sequence is no text";
}

TEST(Encoding, Latin1AndUtf8Stores) {
  EXPECT_EQ(Converter(TextEncoding::kLatin1).Convert("Nu\xF1" "ez"), "Nuñez");
  const Utf8Converter utf8 = Converter(TextEncoding::kUtf8);
  EXPECT_EQ(utf8.Convert("Nuñez"), "Nuñez");
  // A byte that begins no valid sequence, a sequence cut by the field's
  // length, an overlong form and a surrogate each become U+FFFD.
  EXPECT_EQ(utf8.Convert("a\xFF" "b\xC3"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(utf8.Convert("\xC0\xAF\xED\xA0\x80"),
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  TextEncoding encoding;
  EXPECT_FALSE(ParseTextEncoding("ebcdic", &encoding));
}

TEST(RowFormat, CsvQuotesWhatRfc4180AsksAndDefusesFormulas) {
  EXPECT_EQ(Csv("plain text "), "plain text ");
  EXPECT_EQ(Csv("a,b"), "\"a,b\"");
  EXPECT_EQ(Csv("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(Csv("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(Csv("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
  EXPECT_EQ(Csv("+cmd"), "\"'+cmd\"");
  EXPECT_EQ(Csv("@SUM(A1)"), "\"'@SUM(A1)\"");
  EXPECT_EQ(Csv("-1+2"), "\"'-1+2\"");
  EXPECT_EQ(Csv("\tx"), "\"'\tx\"");
  // Numbers are data: a negative amount keeps its sign untouched.
  EXPECT_EQ(Csv("-12.50"), "-12.50");
  EXPECT_EQ(Csv("+7"), "+7");
}

TEST(RowFormat, JsonStringsEscapeControlBytesQuotesAndMarkup) {
  EXPECT_EQ(Json("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(Json("\x1b[31m\x07\n"), "\"\\u001b[31m\\u0007\\u000a\"");
  EXPECT_EQ(Json("</script>&"), "\"\\u003c/script\\u003e\\u0026\"");
  EXPECT_EQ(Json("ñ"), "\"ñ\"");
}

TEST(RowFormat, RepeatedIdsTakeTheirOccurrenceNumber) {
  const std::vector<QueryArgument> arguments = {ParseQueryArgument("h00;"), ParseQueryArgument("H00|"),
                                                ParseQueryArgument("d 1;"), ParseQueryArgument("h00")};
  EXPECT_EQ(ColumnIds(arguments), (std::vector<std::string>{"h00", "h00#2", "d01", "h00#3"}));
}

TEST(Html, EscapesMarkupQuotesAndShowsControlBytes) {
  EXPECT_EQ(Html("<script>a&b</script>"), "&lt;script&gt;a&amp;b&lt;/script&gt;");
  EXPECT_EQ(Html("\"x\" 'y'"), "&quot;x&quot; &#39;y&#39;");
  EXPECT_EQ(Html("\x1b\x07\x7f"), "\xE2\x90\x9B\xE2\x90\x87\xE2\x90\xA1");
  EXPECT_EQ(UrlEncode("a b/ñ?&"), "a%20b%2F%C3%B1%3F%26");
}

TEST(PageToken, RoundTripsAndRefusesWhatTheServiceNeverGives) {
  std::vector<int64_t> starts;
  RequestError error;
  ASSERT_TRUE(ParsePageToken("0.120.455", &starts, &error));
  EXPECT_EQ(starts, (std::vector<int64_t>{0, 120, 455}));
  EXPECT_EQ(FormatPageToken(starts), "0.120.455");
  ASSERT_TRUE(ParsePageToken("", &starts, &error));
  EXPECT_TRUE(starts.empty());
  for (const char* bad : {"x", "1..2", "5.3", "-1", "1.", ".1", "1234567890123456789", "1 2"}) {
    EXPECT_FALSE(ParsePageToken(bad, &starts, &error)) << bad;
    EXPECT_EQ(error.error, "bad page token");
  }
  std::string long_trail = "0";
  for (size_t i = 0; i < kMaxPageTrail; ++i) long_trail += ".1";
  EXPECT_FALSE(ParsePageToken(long_trail, &starts, &error));
}

TEST(DisplayValue, StoredAndCalculatedNumbersShareOneForm) {
  FieldDef amount;
  amount.type = 3;  // two decimals
  FieldDef calculated;
  calculated.type = kCalculatedType;
  FieldDef date;
  date.type = 8;
  FieldDef text;
  EXPECT_EQ(DisplayValue(amount, "   1250.00"), "1.250,00");
  EXPECT_EQ(DisplayValue(calculated, "1187.50"), "1.187,50");
  EXPECT_EQ(DisplayValue(calculated, "-1234567.891"), "-1.234.567,89");
  EXPECT_EQ(DisplayValue(calculated, "/BY0"), "/BY0");
  EXPECT_EQ(DisplayValue(amount, "      "), "");
  EXPECT_EQ(DisplayValue(date, "05012024"), "05/01/2024");
  EXPECT_EQ(DisplayValue(text, "Madrid   "), "Madrid");
}

class ArgumentsTest : public ::testing::Test {
 protected:
  ArgumentsTest() {
    form_.header_count = 3;
    form_.field_count = 2;
    EXPECT_TRUE(Utf8Converter::Make(TextEncoding::kCp437, &converter_).ok());
  }
  bool Parse(const std::vector<std::string>& texts) {
    return ParseArguments(texts, form_, converter_, &selection_, &error_);
  }
  Form form_;
  Utf8Converter converter_;
  Selection selection_;
  RequestError error_;
};

TEST_F(ArgumentsTest, AcceptsTheQuerysArgumentsInTheStoresBytes) {
  ASSERT_TRUE(Parse({"h00;", "d01;Nuñez", "h 2"}));
  ASSERT_EQ(selection_.arguments().size(), 3u);
  EXPECT_EQ(selection_.arguments()[1].search, "nu\xA4" "ez");
  EXPECT_FALSE(selection_.arguments()[2].has_separator);
}

TEST_F(ArgumentsTest, RefusesWhatTheQueryWouldMisread) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                  // nothing asked
      {"x00;"},                            // no such section
      {"h0;"},                             // one digit
      {"h03;"},                            // beyond the header
      {"d02;"},                            // beyond a line
      {"h00;5 €"},                         // not in code page 437
      {"h00;" + std::string(100, 'a')},    // longer than the query's slot
      {std::string("h00;\0", 5)},          // a NUL
  };
  for (const auto& texts : bad) {
    EXPECT_FALSE(Parse(texts)) << (texts.empty() ? "(none)" : texts[0]);
    EXPECT_EQ(error_.status, 400);
  }
  EXPECT_FALSE(Parse(std::vector<std::string>(kMaxArguments + 1, "h00;")));
}

}  // namespace
