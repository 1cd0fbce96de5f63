#include "form.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

Form Parse(const std::string& text) {
  Form form;
  Status s = ParseFormDefinition("f", text, &form);
  EXPECT_TRUE(s.ok()) << s.message();
  return form;
}

std::string ParseError(const std::string& text) {
  Form form;
  Status s = ParseFormDefinition("f", text, &form);
  EXPECT_FALSE(s.ok());
  return s.message();
}

constexpr char kClientForm[] =
    "4 2 2 0\n"
    "1 10 6 50 clients.db 80 6 30\n"
    "2 10 20 40 0 36 20\n"
    "3 10 10 0\n"
    "4 10 12 30\n"
    "6 1 8 0\n"
    "6 10 10 3\n"
    "7 1 8 0\n"
    "7 10 10 3\n";

TEST(FormTest, ComputesRecordLengthsAndTableOfTheWorkedExample) {
  Form form = Parse(kClientForm);
  EXPECT_EQ(form.header_count, 4);
  EXPECT_EQ(form.line_count, 2);
  EXPECT_EQ(form.field_count, 2);
  EXPECT_EQ(form.header_record_length, 29);
  EXPECT_EQ(form.detail_record_length, 24);
  const TableDesc* t = form.table(1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->file_name, "clients.db");
  EXPECT_EQ(t->record_length, 80);
  EXPECT_EQ(t->description_offset, 6);
  EXPECT_EQ(t->description_size, 30);
  EXPECT_EQ(form.ph[0].offset, 6);  // the key field keeps a copy of offset and size
  EXPECT_EQ(form.ph[0].size, 30);
  EXPECT_EQ(form.ph[1].source, 0);
  EXPECT_EQ(form.ph[1].offset, 36);
  EXPECT_EQ(form.ph[1].size, 20);
  EXPECT_EQ(form.table(2), nullptr);
}

TEST(FormTest, ExtrasFollowOnlyLineZeroDefinitions) {
  // Line 1 has a key and a derived type but no extras: the next token is a row.
  Form form = Parse(
      "0 2 2 0\n"
      "1 1 8 51 arts.db 60 8 30\n"
      "1 10 20 41 0 8 20\n"
      "2 1 4 51\n"
      "2 10 20 41\n");
  EXPECT_EQ(form.detail(1, 0).type, 51);
  EXPECT_EQ(form.detail(1, 0).offset, 0);
  EXPECT_EQ(form.detail(1, 1).row, 2);
  EXPECT_EQ(form.detail(0, 1).size, 20);
  // Line 0's stored widths alone decide the detail record length.
  EXPECT_EQ(form.detail_record_length, 6 + 8);
  EXPECT_EQ(form.header_record_length, 6 * 2 + 1);
}

TEST(FormTest, NoDetailLinesAndInertTypesAddNothing) {
  Form form = Parse("3 0 0 0  1 1 5 0  1 1 7 35  1 1 9 30");
  EXPECT_EQ(form.header_record_length, 1 + 5);
  EXPECT_EQ(form.detail_record_length, 6);
}

TEST(FormTest, LastKeyFieldNamingATableSetsItsDescriptor) {
  Form form = Parse("2 0 0 0  1 1 6 50 a.db 80 6 30  1 1 6 50 b.db 40 2 10");
  const TableDesc* t = form.table(1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->file_name, "b.db");
  EXPECT_EQ(t->record_length, 40);
  EXPECT_EQ(form.header_record_length, 1 + 12);
}

TEST(FormTest, TablesAboveElevenAreSupported) {
  Form form = Parse("1 0 0 0  1 1 6 70 big.db 10 6 4");
  ASSERT_NE(form.table(21), nullptr);
  EXPECT_EQ(form.table(21)->file_name, "big.db");
}

TEST(FormTest, NumbersMayRunIntoTheNextTokenAsScanfReadsThem) {
  Form form = Parse("1 0 0 0 1 1 6 50clients.db 80 6 30");
  EXPECT_EQ(form.table(1)->file_name, "clients.db");
}

TEST(FormTest, MalformedDefinitionsNameTheFieldAtFault) {
  EXPECT_NE(ParseError("").find("the counts at the start"), std::string::npos);
  EXPECT_NE(ParseError("2 0 0 0  1 1 6 0  1 1").find("header field 1: expected a number for the length, found the end of the file"),
            std::string::npos);
  EXPECT_NE(ParseError("1 0 0 0  1 1 x 0").find("header field 0: expected a number for the length, found 'x'"),
            std::string::npos);
  EXPECT_NE(ParseError("1 0 0 0  1 1 -4 0").find("the length -4 is out of range"), std::string::npos);
  EXPECT_NE(ParseError("-1 0 0 0").find("header field count -1 is out of range"), std::string::npos);
  EXPECT_NE(ParseError("1 0 0 0  1 1 6 50").find("missing the table file name"), std::string::npos);
  EXPECT_NE(ParseError("0 1 1 0  1 1 70000 0").find("detail line 0 field 0: the length 70000"),
            std::string::npos);
  EXPECT_NE(ParseError("1 0 0 0  1 1 6 50 t.db 0 1 1").find("table record length 0 is out of range"),
            std::string::npos);
}

TEST(FormTest, LoadFormReportsAMissingDefinitionFile) {
  TempDir dir;
  Form form;
  Status s = LoadForm(dir.File("nothing"), &form);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("nothing' cannot be opened"), std::string::npos);
  EXPECT_EQ(s.exit_status(), 1);
}

TEST(FormTest, LoadFormNeedsNoMasks) {
  TempDir dir;
  dir.Write("f", "1 0 0 0 1 1 4 0");
  Form form;
  ASSERT_TRUE(LoadForm(dir.File("f"), &form).ok());
  EXPECT_EQ(form.ph.size(), 1u);
}

}  // namespace
