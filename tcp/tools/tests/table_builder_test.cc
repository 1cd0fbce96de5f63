// Tables built from capabilities: rules on made-up terminals, and whole
// tables for real terminals of the system's database, worked out by hand
// from `infocmp -1 NAME`.
#include "table_builder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "terminfo_source.h"

namespace tcptable {
namespace {

// An ANSI-like terminal with everything the builder reads.
Capabilities Ansi() {
  Capabilities caps;
  caps.name = "test-ansi";
  caps.lines = 24;
  caps.strings = {{"clear", "\x1b[H\x1b[2J"}, {"cup", "\x1b[%i%p1%d;%p2%dH"}, {"smso", "\x1b[7m"},
                  {"rmso", "\x1b[27m"},       {"smacs", "\x1b(0"},            {"rmacs", "\x1b(B"},
                  {"acsc", "jjkkllmmqqxx"},   {"kbs", "\x7f"},                {"kcuu1", "\x1b[A"},
                  {"kcud1", "\x1b[B"},        {"kcub1", "\x1b[D"},            {"kcuf1", "\x1b[C"},
                  {"kf1", "\x1bOP"},          {"kf2", "\x1bOQ"}};
  return caps;
}

bool Noted(const Built &built, const std::string &text) {
  for (const std::string &note : built.notes)
    if (note.find(text) != std::string::npos) return true;
  return false;
}

TEST(TableBuilder, EntryOverTheLimitsIsLeftEmptyAndNamedTheRestWritten) {
  Capabilities caps = Ansi();
  caps.strings["kf3"] = "\x1b[1234567~";  // 10 bytes
  BuildOptions options;
  options.overrides = {{24, std::string("\x1b[\xff~")}, {25, std::string("a\0b", 3)}};
  Built built = BuildTable(caps, options);
  EXPECT_EQ(built.table.entries[23], "");
  EXPECT_TRUE(Noted(built, "entry 23 (extended 203 F3) left empty: '\\E[1234567~' 10 bytes"));
  EXPECT_TRUE(Noted(built, "entry 24 (extended 204 F4) left empty")) << "0xFF";
  EXPECT_TRUE(Noted(built, "entry 25 (extended 205 F5) left empty")) << "byte 0";
  EXPECT_EQ(built.table.entries[22], "\x1bOQ");
  EXPECT_EQ(built.table.tics, 23);  // the table ends after its last filled entry
  EXPECT_EQ(built.table.entries.size(), 23u);
}

TEST(TableBuilder, CursorKeysTakeTheirNormalModeFormWhenSmkxSetsApplicationMode) {
  Capabilities caps = Ansi();
  caps.strings["kcuu1"] = "\x1bOA";
  caps.strings["khome"] = "\x1bOH";
  caps.strings["kend"] = "\x1bOF";
  caps.strings["smkx"] = "\x1b[?1h\x1b=";
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[7], "\x1b[A");
  EXPECT_EQ(built.table.entries[33], "\x1b[H");
  EXPECT_EQ(built.table.entries[34], "\x1b[F");
  EXPECT_EQ(built.table.entries[21], "\x1bOP") << "F1 is the same in both modes";

  caps.strings["smkx"] = "\x1b=";  // keypad only: the cursor keys stay as described
  built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[7], "\x1bOA");
  caps.strings.erase("smkx");
  EXPECT_EQ(BuildTable(caps, {}).table.entries[7], "\x1bOA");
}

TEST(TableBuilder, MessageRowFromLinesWithAFallbackAndAnOverride) {
  Capabilities caps = Ansi();
  EXPECT_EQ(BuildTable(caps, {}).table.entries[5], "\x17");
  caps.lines = -1;
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[5], "\x17");
  EXPECT_TRUE(Noted(built, "test-ansi gives no number of lines: messages go to row 23 of 24 lines"));
  BuildOptions options;
  options.lines = 50;
  EXPECT_EQ(BuildTable(caps, options).table.entries[5], "\x31");
  options.lines = 1;  // row 0 is the empty entry
  EXPECT_EQ(BuildTable(caps, options).table.entries[5], "");
  caps.lines = 200;
  built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[5], "");
  EXPECT_TRUE(Noted(built, "entry 5 (TC_MSG_ROW) left empty"));
}

TEST(TableBuilder, MessageFrameFallsBackToReverseVideoAndDoublesPercent) {
  Capabilities caps = Ansi();
  caps.strings.erase("smso");
  caps.strings["rev"] = "\x1b[7m$<2>";
  caps.strings["sgr0"] = "\x1b[0%m";
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[2], "\x1b[7m");
  EXPECT_EQ(built.table.entries[3], "\x1b[0%%m");
}

TEST(TableBuilder, LineDrawingWithEnacsOrAPlainBox) {
  Capabilities caps = Ansi();
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[11], "\x1b(0");
  EXPECT_EQ(built.table.entries[13], "k");
  EXPECT_EQ(built.table.entries[18], "q");
  caps.strings["enacs"] = "\x1b)0";
  caps.strings["smacs"] = "\x0e";
  caps.strings["acsc"] = "jAkBlCmDqExF";  // the terminal's own characters
  built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[11], "\x1b)0\x0e");
  const char *pieces[] = {"B", "C", "D", "A", "F", "E"};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(built.table.entries[13 + k], pieces[k]) << 13 + k;

  caps.strings["acsc"] = "jjkkllmmqq";  // no side piece: no line drawing at all
  built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[11], "");
  EXPECT_EQ(built.table.entries[17], "|");
  EXPECT_TRUE(Noted(built, "no line drawing"));

  BuildOptions plain;
  plain.plain_box = true;
  built = BuildTable(Ansi(), plain);
  EXPECT_EQ(built.table.entries[11], "");
  EXPECT_EQ(built.table.entries[13], "+");
  EXPECT_FALSE(Noted(built, "no line drawing")) << "asked for, so not worth a note";
}

TEST(TableBuilder, LineDrawingThatDoesNotFitFallsBackToAPlainBox) {
  Capabilities caps = Ansi();
  caps.strings["enacs"] = "\x1b(B\x1b)0\x1b[?1h";  // with smacs 11 bytes
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[11], "");
  EXPECT_EQ(built.table.entries[12], "");
  EXPECT_EQ(built.table.entries[13], "+") << "no letters without the switch";
  EXPECT_TRUE(Noted(built, "test-ansi's line drawing does not fit the table"));
}

TEST(TableBuilder, MessageFrameIsDroppedAsAPair) {
  Capabilities caps = Ansi();
  caps.strings["rmso"] = "\x1b[27m\x1b[0;10m";  // 12 bytes
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[3], "");
  EXPECT_EQ(built.table.entries[2], "") << "standout on, never off";
  EXPECT_TRUE(Noted(built, "entry 2 (TC_MSG_ON) left empty with it"));
}

TEST(TableBuilder, UnexpressibleCursorLeavesEntryOneEmptyAndTheRest) {
  Capabilities caps = Ansi();
  caps.strings["cup"] = "%?%p1%t\x1b[%p1%d%;";
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[1], "");
  EXPECT_EQ(built.table.start, 0);
  EXPECT_TRUE(Noted(built, "entry 1 (TC_CURSOR) left empty: the cursor address"));
  EXPECT_EQ(built.table.entries[2], "\x1b[7m");
}

TEST(TableBuilder, MissingKeysAreNamedOnceAndTheirEntriesEmpty) {
  Capabilities caps = Ansi();
  caps.strings.erase("kcuf1");
  caps.strings["khome"] = "\x1b[1~";
  Built built = BuildTable(caps, {});
  EXPECT_EQ(built.table.entries[10], "");
  EXPECT_EQ(built.table.entries[33], "\x1b[1~");
  EXPECT_TRUE(Noted(built, "test-ansi names no sequence for right, F3, F4"));
  EXPECT_TRUE(Noted(built, "F12, End, Insert, Delete, PgUp, PgDn: their entries are left empty"));
}

TEST(TableBuilder, KeysThatCanNeverBeDecodedAreNamed) {
  Capabilities caps = Ansi();
  caps.strings["kf3"] = "\x1b[A";  // the up arrow's sequence, lower, wins
  Built built = BuildTable(caps, {});
  EXPECT_TRUE(Noted(built, "entry 23 (extended 203 F3) '\\E[A' is never decoded: entry 7 (TC_KEY_CTRL_Z)"));
  EXPECT_EQ(built.table.entries[23], "\x1b[A") << "kept: it harms nothing";
}

TEST(TableBuilder, EntryCountLimitsTheTableAndTics) {
  BuildOptions options;
  options.entries = 22;
  Built built = BuildTable(Ansi(), options);
  EXPECT_EQ(built.table.tics, 22);
  EXPECT_EQ(built.table.entries.size(), 22u);
  EXPECT_FALSE(Noted(built, "F3")) << "keys beyond the table are not missed";
}

// ---------------------------------------------------------------------------
// Real terminals. Each expected table lists entries 0 to 38 as worked out
// from `infocmp -1 NAME` of Debian's ncurses-base 6.4.

struct Expected {
  const char *name;
  int tics;
  std::vector<std::string> entries;
};

// Test listings show a case by its terminal's name, not by the bytes of the
// struct, whose pointers change from build to build.
void PrintTo(const Expected &expected, std::ostream *os) { *os << expected.name; }

std::vector<std::string> XtermEntries() {
  return {"\x1b[H\x1b[2J", "\x1b[%d;%dH", "\x1b[7m", "\x1b[27m", "", "\x17",
          "\x7f", "\x1b[A", "\x1b[B", "\x1b[D", "\x1b[C",
          "\x1b(0", "\x1b(B", "k", "l", "m", "j", "x", "q", "", "",
          "\x1bOP", "\x1bOQ", "\x1bOR", "\x1bOS", "\x1b[15~", "\x1b[17~", "\x1b[18~", "\x1b[19~",
          "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~",
          "\x1b[H", "\x1b[F", "\x1b[2~", "\x1b[3~", "\x1b[5~", "\x1b[6~"};
}

// screen and tmux: clear without the 2, line drawing through G1 set up by
// enacs, Home and End as ESC [ 1 ~ and ESC [ 4 ~.
std::vector<std::string> ScreenEntries(const char *standout_on, const char *standout_off) {
  std::vector<std::string> e = XtermEntries();
  e[0] = "\x1b[H\x1b[J";
  e[2] = standout_on;
  e[3] = standout_off;
  e[11] = "\x1b(B\x1b)0\x0e";
  e[12] = "\x0f";
  e[33] = "\x1b[1~";
  e[34] = "\x1b[4~";
  return e;
}

std::vector<std::string> LinuxEntries() {
  std::vector<std::string> e = ScreenEntries("\x1b[7m", "\x1b[27m");
  e[11] = "\x1b)0\x0e";  // enacs is ESC ) 0 alone
  const char *f1_to_f5[] = {"\x1b[[A", "\x1b[[B", "\x1b[[C", "\x1b[[D", "\x1b[[E"};
  for (int k = 0; k < 5; ++k) e[21 + k] = f1_to_f5[k];
  return e;  // entry 5 is the 24-line fallback: linux has no lines
}

std::vector<std::string> Vt100Entries() {
  std::vector<std::string> e = ScreenEntries("\x1b[7m", "\x1b[m");  // padding dropped
  e[6] = "\x08";
  const char *f5_to_f10[] = {"\x1bOt", "\x1bOu", "\x1bOv", "\x1bOl", "\x1bOw", "\x1bOx"};
  for (int k = 0; k < 6; ++k) e[25 + k] = f5_to_f10[k];
  e.resize(31);  // no F11, F12 nor the editing keys
  return e;
}

class RealTerminal : public ::testing::TestWithParam<Expected> {};

TEST_P(RealTerminal, TableMatchesTheHandWorkedOne) {
  const Expected &expected = GetParam();
  std::string error;
  std::optional<Capabilities> caps = ReadCapabilities(expected.name, &error);
  if (!caps) GTEST_SKIP() << error;
  Built built = BuildTable(*caps, {});
  EXPECT_EQ(built.table.tics, expected.tics);
  EXPECT_EQ(built.table.start, 1);
  EXPECT_EQ(built.table.cmpar, 0);
  ASSERT_EQ(built.table.entries.size(), expected.entries.size());
  for (size_t n = 0; n < expected.entries.size(); ++n)
    EXPECT_EQ(built.table.entries[n], expected.entries[n]) << expected.name << " entry " << n;
}

INSTANTIATE_TEST_SUITE_P(
    Database, RealTerminal,
    ::testing::Values(Expected{"xterm", 39, XtermEntries()}, Expected{"xterm-256color", 39, XtermEntries()},
                      Expected{"screen", 39, ScreenEntries("\x1b[3m", "\x1b[23m")},
                      Expected{"tmux-256color", 39, ScreenEntries("\x1b[7m", "\x1b[27m")},
                      Expected{"linux", 39, LinuxEntries()}, Expected{"vt100", 31, Vt100Entries()}),
    [](const ::testing::TestParamInfo<Expected> &info) {
      std::string name = info.param.name;
      for (char &c : name)
        if (c == '-') c = '_';
      return name;
    });

TEST(TerminfoSource, UnknownTerminalIsAnErrorNamingIt) {
  std::string error;
  EXPECT_FALSE(ReadCapabilities("no-such-terminal-xyz", &error));
  EXPECT_NE(error.find("'no-such-terminal-xyz'"), std::string::npos) << error;
}

}  // namespace
}  // namespace tcptable
