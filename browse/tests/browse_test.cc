// The browser with a fake screen: keys in, the terminal's bytes out, on the
// example store and the readable terminal table of the library's tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <regex>
#include <string>

#include "browser.h"
#include "engine.h"
#include "harness.h"
#include "masks.h"
#include "tcp.h"

namespace {

// Runs browse's key loop in a child over `keys` (ended by end of input) on a
// screen of `size`; the child then writes "#" and the document shown, the
// match number and whether a search is in force.
ChildRun Browse(const std::string& keys, ScreenSize size = {24, 80},
               const std::function<void()>& add_entries = [] {}) {
  return RunInChild(keys, [size, &add_entries] {
    SetReadableTable();
    add_entries();
    if (chdir(QUERY_EXAMPLES_DIR) != 0) _exit(3);
    std::unique_ptr<Engine> engine;
    std::vector<std::string> warnings;
    if (!Engine::Load({".", "fac"}, &engine, &warnings).ok()) _exit(4);
    std::vector<std::string> header_mask, detail_mask;
    if (!LoadMask("fac.0", &header_mask).ok() || !LoadMask("fac.1", &detail_mask).ok()) _exit(5);
    Browser browser(*engine, header_mask, detail_mask, size);
    if (!browser.Start().ok()) _exit(6);
    bool done = false;
    while (!done) {
      if (!browser.HandleKey(getin1(), &done).ok()) _exit(7);
    }
    std::printf("#%lld %lld %d", static_cast<long long>(browser.navigator().current()),
                static_cast<long long>(browser.navigator().match_number()),
                browser.navigator().searching() ? 1 : 0);
  });
}

// The part of the output after the last time `marker` was written.
std::string After(const std::string& out, const std::string& marker) {
  size_t at = out.rfind(marker);
  return at == std::string::npos ? std::string() : out.substr(at);
}

// Joins pieces (GCC 12 warns falsely on "literal" + std::string).
std::string Cat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

std::string Ending(const ChildRun& run) { return run.out.substr(run.out.rfind('#')); }

TEST(BrowserTest, DrawsTheFirstInvoiceWithMasksFieldsFrameAndStatus) {
  ChildRun run = Browse("");
  ASSERT_EQ(run.status, 0);
  const std::string& out = run.out;
  EXPECT_NE(out.find(At(0, 1) + "FACTURA"), std::string::npos);              // mask over the frame
  EXPECT_NE(out.find(At(6, 1) + "ARTICULO"), std::string::npos);             // detail mask
  EXPECT_NE(out.find(At(1, 1) + "000101"), std::string::npos);               // field 0
  EXPECT_NE(out.find(At(1, 10) + "C00001|ACME S.A."), std::string::npos);    // key and description
  EXPECT_NE(out.find(At(1, 60) + "05/01/2024"), std::string::npos);          // date
  EXPECT_NE(out.find(At(3, 10) + "  1.250,00"), std::string::npos);          // punto, 2 decimals
  EXPECT_NE(out.find(At(4, 10) + "    1.187,50"), std::string::npos);        // calculated, as numbers
  EXPECT_NE(out.find(At(7, 10) + "Tornillo 4x20 zincado   "), std::string::npos);
  EXPECT_NE(out.find(At(10, 1) + "        "), std::string::npos);            // absent line: blanks
  EXPECT_NE(out.find(At(0, 0) + "2"), std::string::npos);              // the frame's corner
  EXPECT_NE(out.find(At(11, 70) + "4"), std::string::npos);
  EXPECT_NE(out.find(At(23, 0) + "<"), std::string::npos);
  EXPECT_NE(out.find("000101  1 of 12"), std::string::npos);
  EXPECT_EQ(Ending(run), "#0 0 0");
}

TEST(BrowserTest, DownAndUpMoveOneDocumentAndRedrawOnlyTheValues) {
  ChildRun run = Browse(std::string("\n\n") + char(KEY_CTRL_Z));
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(Ending(run), "#1 1 0");
  std::string last = After(run.out, At(1, 1) + "000102");
  EXPECT_NE(last.find("000102  2 of 12"), std::string::npos);
  EXPECT_EQ(last.find("FACTURA"), std::string::npos);  // the masks are not drawn again
  EXPECT_NE(run.out.find(At(1, 1) + "000103"), std::string::npos);
}

TEST(BrowserTest, FirstLastAndTheirExtendedKeys) {
  EXPECT_EQ(Ending(Browse("l")), "#11 11 0");
  EXPECT_EQ(Ending(Browse("lf")), "#0 0 0");
  EXPECT_EQ(Ending(Browse("\nL")), "#11 11 0");
  // Extended keys 202 and 203: table entries 22 and 23 (here F2 and F3).
  auto function_keys = [] {
    SetEntry(22, "\x1bOQ");
    SetEntry(23, "\x1bOR");
    TICS = 24;
  };
  EXPECT_EQ(Ending(Browse("\x1bOR", {24, 80}, function_keys)), "#11 11 0");
  EXPECT_EQ(Ending(Browse("\x1bOR\x1bOQ", {24, 80}, function_keys)), "#0 0 0");
}

TEST(BrowserTest, KeyTypedInFieldZerosPlaceShowsItsDocument) {
  ChildRun run = Browse("k000107\n");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(Ending(run), "#6 6 0");
  EXPECT_NE(run.out.find(At(1, 1) + "______"), std::string::npos);  // the field editor in field 0
  EXPECT_NE(run.out.find("000107  7 of 12"), std::string::npos);
  EXPECT_NE(Browse("k424242\n").out.find("no document has the key 424242"), std::string::npos);
}

TEST(BrowserTest, KeyMustBeWholeNotPartOfOne) {
  ChildRun run = Browse("\nk00010\n");
  EXPECT_EQ(Ending(run), "#1 1 0");
  EXPECT_NE(run.out.find("no document has the key 00010"), std::string::npos);
}

TEST(BrowserTest, HomeEndAndThePageKeysByTheirUsualSequencesOrTheTable) {
  auto mode = [] { tcpmode(TCP_MODE_KEYS); };
  EXPECT_EQ(Ending(Browse("\x1b[6~", {24, 80}, mode)), "#10 10 0");
  EXPECT_EQ(Ending(Browse("\x1b[6~\x1b[6~\x1b[5~", {24, 80}, mode)), "#1 1 0");
  EXPECT_EQ(Ending(Browse("\x1b[F", {24, 80}, mode)), "#11 11 0");
  EXPECT_EQ(Ending(Browse("\x1b[4~\x1bOH", {24, 80}, mode)), "#0 0 0");
  // Entries 33 (Home), 34 (End), 37 (PgUp) and 38 (PgDn) of a table.
  auto table = [] {
    SetEntry(33, "#H");
    SetEntry(34, "#E");
    SetEntry(37, "#U");
    SetEntry(38, "#D");
    TICS = 40;
  };
  EXPECT_EQ(Ending(Browse("#E", {24, 80}, table)), "#11 11 0");
  EXPECT_EQ(Ending(Browse("#E#H", {24, 80}, table)), "#0 0 0");
  EXPECT_EQ(Ending(Browse("#D#U\n", {24, 80}, table)), "#1 1 0");
}

TEST(BrowserTest, EscapeThenDownIsTwoKeysInTheMode) {
  // Escape leaves the search prompt; the Down after it is a key of its own.
  ChildRun run = Browse("s\x1b\x1b[B", {24, 80}, [] {
    SetEntry(TC_KEY_NEWLINE, "\x1b[B");
    TICS = 40;
    tcpmode(TCP_MODE_KEYS);
  });
  EXPECT_EQ(Ending(run), "#1 1 0");
}

// Tab to detail field 1 of line 0: nine header fields and detail field 0.
std::string ToDescription() { return std::string(10, '\t'); }

TEST(BrowserTest, SearchWalksOnlyMatchingDocumentsAndShowsOnlyMatchingLines) {
  ChildRun run = Browse(Cat({"s", ToDescription(), "tornillo\x04\n"}));
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(Ending(run), "#3 1 1");  // the second match, 000104
  const std::string shown = After(run.out, At(1, 1) + "000104");
  EXPECT_NE(shown.find("Tornillo hexagonal M8"), std::string::npos);
  EXPECT_EQ(shown.find("Arandela"), std::string::npos);  // 000104's other line is blank
  EXPECT_NE(shown.find("match 2"), std::string::npos);
}

TEST(BrowserTest, EscapeWhileTypingKeepsTheSearchAsItWas) {
  ChildRun run = Browse(Cat({"s", ToDescription(), "tornillo\x1b"}));
  EXPECT_EQ(Ending(run), "#0 0 0");
}

TEST(BrowserTest, SearchWithoutMatchesSaysSoAndKeepsTheDocument) {
  ChildRun run = Browse(Cat({"\ns", ToDescription(), "zzz\x04"}));
  EXPECT_EQ(Ending(run), "#1 1 0");
  EXPECT_NE(run.out.find("no document matches"), std::string::npos);
}

TEST(BrowserTest, EmptyTextsEndTheSearch) {
  std::string clear(8, char(KEY_BACKSPACE));
  ChildRun run = Browse(Cat({"s", ToDescription(), "tornillo\x04\ns", ToDescription(), clear, "\x04"}));
  EXPECT_EQ(Ending(run), "#0 0 0");
}

TEST(BrowserTest, SmallScreenNeverWritesBeyondItsEdgeAndNamesHiddenFieldsOnce) {
  // No box begin and end strings, so every write after a cursor address is
  // a run of cells on that row.
  ChildRun small = RunInChild("\n", [] {
    SetReadableTable();
    tc[TC_BOX_BEGIN][0] = '\0';
    tc[TC_BOX_END][0] = '\0';
    if (chdir(QUERY_EXAMPLES_DIR) != 0) _exit(3);
    std::unique_ptr<Engine> engine;
    std::vector<std::string> warnings;
    if (!Engine::Load({".", "fac"}, &engine, &warnings).ok()) _exit(4);
    std::vector<std::string> header_mask, detail_mask;
    LoadMask("fac.0", &header_mask);
    LoadMask("fac.1", &detail_mask);
    Browser browser(*engine, header_mask, detail_mask, {9, 40});
    browser.Start();
    bool done = false;
    while (!done) browser.HandleKey(getin1(), &done);
  });
  ASSERT_EQ(small.status, 0);
  const std::regex write("\\[(\\d+);(\\d+)\\]([^\\[]*)");
  int writes = 0;
  for (auto it = std::sregex_iterator(small.out.begin(), small.out.end(), write); it != std::sregex_iterator();
       ++it) {
    const int row = std::stoi((*it)[1]);
    const int column = std::stoi((*it)[2]);
    std::string cells = (*it)[3];
    std::erase(cells, '<');
    std::erase(cells, '>');
    EXPECT_LT(row, 9);
    EXPECT_LE(column + static_cast<int>(cells.size()), 40) << row << ";" << column << " " << cells;
    ++writes;
  }
  EXPECT_GT(writes, 20);
  const std::string named = "not on the screen: h03 h08";
  const size_t first = small.out.find(named);
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(small.out.find(named, first + 1), std::string::npos);  // once, not again after a move
  EXPECT_NE(small.out.find("000102  2 of"), std::string::npos);
}

TEST(BrowserTest, ResizeLaysTheFormOutAgain) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    if (chdir(QUERY_EXAMPLES_DIR) != 0) _exit(3);
    std::unique_ptr<Engine> engine;
    std::vector<std::string> warnings;
    if (!Engine::Load({".", "fac"}, &engine, &warnings).ok()) _exit(4);
    std::vector<std::string> header_mask, detail_mask;
    LoadMask("fac.0", &header_mask);
    LoadMask("fac.1", &detail_mask);
    Browser browser(*engine, header_mask, detail_mask, {24, 80});
    browser.Start();
    std::printf("#RESIZE");
    browser.Resize({9, 40});
  });
  const std::string after = After(run.out, "#RESIZE");
  EXPECT_NE(after.find(At(1, 1) + "000101"), std::string::npos);
  EXPECT_EQ(after.find(At(1, 60)), std::string::npos);  // the date is off this screen
  EXPECT_NE(after.find(At(8, 0) + "<"), std::string::npos);  // message on the last row
  EXPECT_NE(after.find("not on the screen"), std::string::npos);
}

}  // namespace
