// The navigator on the example store: moves, the key, and searches that
// select exactly the documents and lines the command-line query prints.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "navigator.h"
#include "engine.h"
#include "record_values.h"

namespace {

class NavigatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    saved_dir_ = here;
    ASSERT_EQ(chdir(QUERY_EXAMPLES_DIR), 0);
    std::vector<std::string> warnings;
    Status s = Engine::Load({".", "fac"}, &engine_, &warnings);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  void TearDown() override { ASSERT_EQ(chdir(saved_dir_.c_str()), 0); }

  static std::string Shown(const Navigator& nav) { return std::string(nav.values().HeaderText(0)); }

  std::string saved_dir_;
  std::unique_ptr<Engine> engine_;
};

std::vector<QueryArgument> Arguments(const std::vector<std::string>& texts) {
  std::vector<QueryArgument> arguments;
  for (const std::string& text : texts) arguments.push_back(ParseQueryArgument(text));
  return arguments;
}

// What the command-line query prints for `texts`, run in the example store.
std::string CommandLineOutput(const std::vector<std::string>& texts) {
  std::string command = std::string("cd '") + QUERY_EXAMPLES_DIR + "' && '" + QUERY_BINARY + "' fac";
  for (const std::string& text : texts) command += " '" + text + "'";
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// The line the query would print for line `line` (-1: the header alone) of
// the record `values` hold, as its output writes it.
std::string LineAsPrinted(const RecordValues& values, const std::vector<QueryArgument>& arguments, int line) {
  std::string out;
  for (const QueryArgument& arg : arguments) {
    if (arg.IsHeader()) out += values.HeaderText(arg.field);
    if (arg.IsDetail() && line >= 0) out += values.DetailText(line, arg.field);
    if (arg.has_separator) out += arg.separator;
  }
  return out + "\n";
}

// Walks every match with Next and writes what the query would print for
// the documents and lines shown, in order.
std::string BrowsedOutput(const Engine& engine, const std::vector<std::string>& texts) {
  const std::vector<QueryArgument> arguments = Arguments(texts);
  Navigator navigator(engine);
  bool found = false;
  EXPECT_TRUE(navigator.Search(arguments, &found).ok());
  std::string out;
  bool moved = found;
  while (moved) {
    bool any_line = false;
    for (int line = 0; line < engine.form().line_count; ++line) {
      if (!navigator.LinePresent(line)) continue;
      any_line = true;
      if (navigator.PrintsLine(line)) out += LineAsPrinted(navigator.values(), arguments, line);
    }
    if (!any_line) out += LineAsPrinted(navigator.values(), arguments, -1);
    EXPECT_TRUE(navigator.Next(&moved).ok());
  }
  return out;
}

TEST_F(NavigatorTest, WithoutSearchMovesThroughEveryDocumentAndStopsAtTheEnds) {
  Navigator nav(*engine_);
  bool moved = false;
  ASSERT_TRUE(nav.Search({}, &moved).ok());
  EXPECT_EQ(nav.current(), 0);
  EXPECT_EQ(Shown(nav), "000101");
  ASSERT_TRUE(nav.Previous(&moved).ok());
  EXPECT_FALSE(moved);
  EXPECT_EQ(Shown(nav), "000101");
  ASSERT_TRUE(nav.Next(&moved).ok());
  EXPECT_TRUE(moved);
  EXPECT_EQ(Shown(nav), "000102");
  ASSERT_TRUE(nav.Last(&moved).ok());
  EXPECT_EQ(nav.current(), 11);
  EXPECT_EQ(Shown(nav), "000112");
  ASSERT_TRUE(nav.Next(&moved).ok());
  EXPECT_FALSE(moved);
  EXPECT_EQ(nav.current(), 11);
  ASSERT_TRUE(nav.First(&moved).ok());
  EXPECT_TRUE(moved);
  EXPECT_EQ(Shown(nav), "000101");
}

TEST_F(NavigatorTest, SearchSelectsTheDocumentsAndLinesTheCommandLineQueryPrints) {
  const std::vector<std::vector<std::string>> searches = {
      {"d01;tornillo", "h00;", "d00;"},          // detail lines by description
      {"h01;acme", "d02;500", "h00;", "d01;"},   // header and detail together
      {"h00;000107", "d01;"},                    // the key shortcut through H
      {"h00;0001", "d00;"},                      // no key equals it: every record is tested
      {"h07;by0", "h00;"},                       // a calculated field
      {"h00;*", "d01;cable", "h01;"},            // '*' first accepts everything
      {"h01;x99999", "h00;", "d00;"},            // a client missing from its table
      {"h02;madrid", "d03;0,05", "h00;"},        // a text no stored value holds
      {"d00;a0000001", "d04;", "h04;"},
  };
  for (const auto& texts : searches) {
    SCOPED_TRACE(texts[0] + " " + texts[1]);
    const std::string expected = CommandLineOutput(texts);
    EXPECT_EQ(BrowsedOutput(*engine_, texts), expected);
  }
  EXPECT_NE(CommandLineOutput({"d01;tornillo", "h00;"}), "");  // the comparison is not empty
}

TEST_F(NavigatorTest, NextMatchReadsOnlyRecordsNotYetExamined) {
  Navigator nav(*engine_);
  bool found = false;
  ASSERT_TRUE(nav.Search(Arguments({"d01;tornillo"}), &found).ok());
  ASSERT_TRUE(found);
  EXPECT_EQ(nav.records_read(), nav.current() + 1);  // the first match: nothing beyond it read
  bool moved = true;
  while (moved) ASSERT_TRUE(nav.Next(&moved).ok());
  // Every record once, and the last match once more to show it again.
  EXPECT_EQ(nav.records_read(), engine_->record_count() + 1);
  const int64_t before = nav.records_read();
  ASSERT_TRUE(nav.Previous(&moved).ok());
  ASSERT_TRUE(nav.Next(&moved).ok());
  EXPECT_TRUE(moved);
  EXPECT_EQ(nav.records_read(), before + 2);  // only the two documents shown
}

TEST_F(NavigatorTest, PreviousAndLastWithASearchStayOnMatches) {
  Navigator nav(*engine_);
  bool moved = false;
  ASSERT_TRUE(nav.Search(Arguments({"d01;tornillo"}), &moved).ok());
  EXPECT_EQ(Shown(nav), "000101");
  ASSERT_TRUE(nav.Last(&moved).ok());
  EXPECT_TRUE(moved);
  EXPECT_EQ(Shown(nav), "000111");
  EXPECT_EQ(nav.match_number(), 4);
  ASSERT_TRUE(nav.Previous(&moved).ok());
  EXPECT_EQ(Shown(nav), "000109");
  ASSERT_TRUE(nav.First(&moved).ok());
  EXPECT_EQ(Shown(nav), "000101");
  ASSERT_TRUE(nav.Previous(&moved).ok());
  EXPECT_FALSE(moved);
}

TEST_F(NavigatorTest, SearchWithoutMatchesShowsNothing) {
  Navigator nav(*engine_);
  bool found = true;
  ASSERT_TRUE(nav.Search(Arguments({"d01;no such article"}), &found).ok());
  EXPECT_FALSE(found);
  EXPECT_EQ(nav.current(), -1);
  bool moved = true;
  ASSERT_TRUE(nav.Next(&moved).ok());
  EXPECT_FALSE(moved);
}

TEST_F(NavigatorTest, KeyFindsItsDocumentAndEndsTheSearch) {
  Navigator nav(*engine_);
  bool found = false;
  ASSERT_TRUE(nav.Search(Arguments({"d01;tornillo"}), &found).ok());
  ASSERT_TRUE(nav.GoToKey("000107", &found).ok());
  EXPECT_TRUE(found);
  EXPECT_FALSE(nav.searching());
  EXPECT_EQ(nav.current(), 6);
  EXPECT_EQ(Shown(nav), "000107");
  bool moved = false;
  ASSERT_TRUE(nav.Next(&moved).ok());
  EXPECT_EQ(Shown(nav), "000108");  // every document again, from there
}

TEST_F(NavigatorTest, UnknownKeyLeavesTheDocumentShown) {
  Navigator nav(*engine_);
  bool found = false;
  ASSERT_TRUE(nav.Search({}, &found).ok());
  bool moved = false;
  ASSERT_TRUE(nav.Next(&moved).ok());
  ASSERT_TRUE(nav.GoToKey("999999", &found).ok());
  EXPECT_FALSE(found);
  EXPECT_EQ(nav.current(), 1);
  EXPECT_EQ(Shown(nav), "000102");  // its values are read again, not the probe's
}

TEST_F(NavigatorTest, NavigatorsOnOneEngineKeepTheirOwnDocumentAndSearch) {
  Navigator browsing(*engine_);
  bool found = false;
  ASSERT_TRUE(browsing.Search({}, &found).ok());
  bool moved = false;
  ASSERT_TRUE(browsing.Next(&moved).ok());
  Navigator probe(*engine_);
  ASSERT_TRUE(probe.Search(Arguments({"d01;tornillo"}), &found).ok());
  ASSERT_TRUE(probe.Last(&moved).ok());
  EXPECT_EQ(Shown(probe), "000111");
  // The probe's reads and search leave the other navigator's values and
  // its walk through every document as they were.
  EXPECT_EQ(Shown(browsing), "000102");
  EXPECT_FALSE(browsing.searching());
  const std::vector<bool> lines = browsing.LinesShown();
  for (int line = 0; line < engine_->form().line_count; ++line) {
    EXPECT_EQ(lines[static_cast<size_t>(line)], browsing.LinePresent(line)) << line;
  }
  ASSERT_TRUE(browsing.Next(&moved).ok());
  EXPECT_EQ(Shown(browsing), "000103");
  // Moved into the probe's place, the search goes on where it stood.
  browsing = std::move(probe);
  ASSERT_TRUE(browsing.Previous(&moved).ok());
  EXPECT_EQ(Shown(browsing), "000109");
}

}  // namespace
