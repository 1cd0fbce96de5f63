// The opt-in mode (tcpmode): keys by the escape grammar, the window-sized
// message row, the date window, fitted numbers, UTF-8 typing and the end code.
#include "mode.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "field_editor.h"
#include "harness.h"
#include "tcp.h"

namespace {

// The readable table with the arrows and Home as an xterm sends them.
void SetKeyTable() {
  SetReadableTable();
  SetEntry(TC_KEY_NEWLINE, "\r");
  SetEntry(TC_KEY_LEFT, "\x1b[D");
  SetEntry(TC_KEY_RIGHT, "\x1b[C");
  SetEntry(TC_KEY_ESCAPE, "\x1b");
  SetEntry(22, "\x1b[H");
  TICS = 40;
}

// The key codes getin1 gives for `input` in `flags`, until the end of input
// (included), each followed by ','.
std::string Keys(int flags, const std::string &input) {
  ChildRun run = RunInChild(input, [flags] {
    SetKeyTable();
    tcpmode(flags);
    for (int k = 0; k < 20; ++k) {
      int key = getin1();
      std::printf("%d,", key);
      if (tcpeof()) break;
    }
  });
  return run.out;
}

struct Edited {
  int result = 0;
  std::string text;
  std::string out;
};

// Edits a field at (1, 5) in `flags` with the key table, typing `keys`.
Edited Edit(int flags, int width, int type, const std::string &text, const std::string &keys,
            int exit_key = 0, bool utf8 = false) {
  ChildRun run = RunInChild(keys, [&] {
    SetKeyTable();
    tcpmode(flags);
    tcputf8 = utf8 ? 1 : 0;
    char buffer[300] = "";
    std::strcpy(buffer, text.c_str());
    int result = input(1, 5, width, type, buffer, exit_key);
    std::printf("\n#%d|%s", result, buffer);
  });
  Edited e;
  size_t mark = run.out.rfind("\n#");
  if (mark == std::string::npos) return e;
  e.out = run.out.substr(0, mark);
  std::string tail = run.out.substr(mark + 2);
  e.result = std::stoi(tail);
  e.text = tail.substr(tail.find('|') + 1);
  return e;
}

TEST(ModeKeysTest, SequencesTheTableDoesNotNameComeBackAsOneUnknownKey) {
  const std::string unknown = std::to_string(TCP_KEY_UNKNOWN);
  // Shift-Tab, Ctrl-Left, an F key in SS3 form, then Left.
  EXPECT_EQ(Keys(TCP_MODE_KEYS, "\x1b[Z\x1b[1;5D\x1bOR\x1b[Dx"),
            unknown + "," + unknown + "," + unknown + ",21,120,-1,");
  // Without the mode the same bytes are typed as text.
  EXPECT_NE(Keys(0, "\x1b[Z").find("90,"), std::string::npos);
}

TEST(ModeKeysTest, TheLastSequenceCanBeAskedFor) {
  ChildRun run = RunInChild("\x1b[5~\x1b[1;5D", [] {
    SetKeyTable();
    tcpmode(TCP_MODE_KEYS);
    char text[5];
    std::printf("%d ", tcplastseq(text, sizeof text));
    std::printf("%d ", getin1());
    std::printf("%d %s ", tcplastseq(text, sizeof text), text + 1);
    getin1();
    std::printf("%d %s", tcplastseq(text, sizeof text), text + 1);
  });
  EXPECT_EQ(run.out, "0 300 4 [5~ 6 [1;");
}

TEST(ModeKeysTest, ApplicationAndNormalCursorFormsAreTheSameKey) {
  EXPECT_EQ(Keys(TCP_MODE_KEYS, "\x1bOD\x1bOC\x1bOH"), "21,6,202,-1,");
}

TEST(ModeKeysTest, EscapeDoesNotEatTheKeyAfterIt) {
  EXPECT_EQ(Keys(TCP_MODE_KEYS, "\x1b\x1b[D"), "27,21,-1,");
  EXPECT_EQ(Keys(TCP_MODE_KEYS, "\x1bx"), "27,120,-1,");
  EXPECT_EQ(Keys(TCP_MODE_KEYS, "\x1b"), "27,-1,");
  // A sequence cut by a control byte: unknown, and the byte is the next key.
  EXPECT_EQ(Keys(TCP_MODE_KEYS, "\x1b[1\r"), std::to_string(TCP_KEY_UNKNOWN) + ",10,-1,");
}

TEST(ModeKeysTest, OverlongSequencesAreReadToTheirEndAndRefused) {
  std::string input = "\x1b[" + std::string(100, '1') + "~a";
  EXPECT_EQ(Keys(TCP_MODE_KEYS, input), std::to_string(TCP_KEY_UNKNOWN) + ",97,-1,");
}

// Keys read from a pipe that the parent writes in two parts, `pause_ms` apart.
std::string KeysFromPipe(const std::string &first, const std::string &second, int pause_ms,
                         int escape_ms) {
  int to_child[2], from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) return "pipe";
  pid_t child = fork();
  if (child == 0) {
    alarm(10);
    dup2(to_child[0], 0);
    close(to_child[1]);
    SetKeyTable();
    tcpmode(TCP_MODE_KEYS);
    if (escape_ms >= 0) tcpesctime(escape_ms);
    std::string keys;
    for (int key; (key = getin1()) != -1;) keys += std::to_string(key) + ",";
    ssize_t ignored = write(from_child[1], keys.data(), keys.size());
    (void)ignored;
    _exit(0);
  }
  close(to_child[0]);
  close(from_child[1]);
  ssize_t ignored = write(to_child[1], first.data(), first.size());
  usleep(static_cast<useconds_t>(pause_ms) * 1000);
  ignored = write(to_child[1], second.data(), second.size());
  (void)ignored;
  close(to_child[1]);
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = read(from_child[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  close(from_child[0]);
  waitpid(child, nullptr, 0);
  return out;
}

TEST(ModeKeysTest, ALoneEscapeComesBackAfterTheEscapeTime) {
  // Escape, then Left a while later: two keys, not a cancelled form.
  EXPECT_EQ(KeysFromPipe("\x1b", "\x1b[D", 200, -1), "27,21,");
  EXPECT_EQ(KeysFromPipe("\x1b", "[D", 200, -1), "27,91,68,");
  // A longer escape time joins the same bytes into Left.
  EXPECT_EQ(KeysFromPipe("\x1b", "[D", 100, 1000), "21,");
}

TEST(ModeKeysTest, InputNeverTypesAnUnknownSequence) {
  Edited e = Edit(TCP_MODE_KEYS, 10, 0, "", "a\x1b[Zb\x1b[1;5D\x1b[4~c\r");
  EXPECT_EQ(e.text, "abc");
  EXPECT_EQ(e.result, KEY_NEWLINE);
  // Escape then Left: the Escape ends the field and Left is left unread.
  e = Edit(TCP_MODE_KEYS, 10, 0, "ab", "\x1b\x1b[D");
  EXPECT_EQ(e.result, KEY_ESCAPE);
}

TEST(ModeScreenTest, MessageRowIsCountedFromTheBottomOfTheWindow) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    setenv("LINES", "40", 1);
    setenv("COLUMNS", "30", 1);
    std::printf("%d|", tcpmsgrow());
    tcpmode(TCP_MODE_SCREEN);
    std::printf("%d|", tcpmsgrow());
    int rows = 0, columns = 0;
    int told = tcpsize(&rows, &columns);
    std::printf("%d %d %d|", told, rows, columns);
    coment("HELLO");
    std::printf("|");
    coment("A MESSAGE MUCH WIDER THAN THE WINDOW IS");
    std::printf("|");
    tcpclearmsg();
  });
  EXPECT_EQ(run.out, "23|39|-1 40 30|" + At(39, 1) + "<" + std::string(11, ' ') + "HELLO" +
                         std::string(12, ' ') + ">|" + At(39, 1) + "<A MESSAGE MUCH WIDER THAN TH>|" +
                         At(39, 0) + std::string(30, ' '));
}

TEST(ModeScreenTest, ATableRowAboveTheBottomStaysAsFarAboveIt) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    SetEntry(TC_MSG_ROW, "\x15");  // row 21: two above the bottom of 24
    setenv("LINES", "50", 1);
    tcpmode(TCP_MODE_SCREEN);
    std::printf("%d", tcpmsgrow());
  });
  EXPECT_EQ(run.out, "47");
}

TEST(ModeScreenTest, AResizeEndsInputWithTheResizeCode) {
  ChildRun run = RunInChild("abc\r", [] {
    SetKeyTable();
    tcpmode(TCP_MODE_SCREEN);
    raise(SIGWINCH);  // the library's handler: the process is not ended
    char text[11] = "x";
    std::printf("|%d %s|", input(1, 5, 10, 0, text, 0), text);
    std::printf("%d", getin1());
  });
  EXPECT_NE(run.out.find("|301 x|97"), std::string::npos) << run.out;
  run = RunInChild("", [] {
    tcpmode(TCP_MODE_SCREEN);
    tcpresized();
    std::printf("%d", getin1());
  });
  EXPECT_EQ(run.out, "301");
}

TEST(ModeScreenTest, SignalHandlerIsTakenOnlyFromTheDefaultAndGivenBack) {
  ChildRun run = RunInChild("", [] {
    signal(SIGWINCH, SIG_IGN);
    tcpmode(TCP_MODE_SCREEN);
    struct sigaction found {};
    sigaction(SIGWINCH, nullptr, &found);
    std::printf("%d ", found.sa_handler == SIG_IGN);
    signal(SIGWINCH, SIG_DFL);
    tcpmode(0);
    tcpmode(TCP_MODE_SCREEN);
    tcpmode(0);
    sigaction(SIGWINCH, nullptr, &found);
    std::printf("%d", found.sa_handler == SIG_DFL);
  });
  EXPECT_EQ(run.out, "1 1");
}

TEST(ModeDatesTest, TwoDigitYearsFollowToday) {
  tcplib::Date date;
  EXPECT_EQ(tcplib::CheckDateWindowed("150324", &date, 2026), tcplib::DateFault::kNone);
  EXPECT_EQ(date.year, 2024);
  tcplib::CheckDateWindowed("150399", &date, 2026);
  EXPECT_EQ(date.year, 1999);
  tcplib::CheckDateWindowed("150375", &date, 2026);
  EXPECT_EQ(date.year, 2075);
  tcplib::CheckDateWindowed("150376", &date, 2026);
  EXPECT_EQ(date.year, 1976);
  tcplib::CheckDateWindowed("01010", &date, 2026);
  EXPECT_EQ(date.year, 2000);
  tcplib::CheckDateWindowed("01011850", &date, 2026);
  EXPECT_EQ(date.year, 1850);  // four digits stay, and stay refused
  // The described mapping is kept without the mode.
  tcplib::CheckDate("150324", &date);
  EXPECT_EQ(date.year, 1924);
}

TEST(ModeDatesTest, OnlyDigitsAreTypedAndTheYearIsWindowed) {
  Edited e = Edit(TCP_MODE_DATES, 8, 8, "", "1a5/0324\r");
  EXPECT_EQ(e.result, KEY_NEWLINE);
  EXPECT_EQ(e.text.substr(0, 4), "1503");
  EXPECT_EQ(e.text.size(), 8u);
  EXPECT_EQ(e.text.substr(4, 2), "20");
  EXPECT_EQ(std::count(e.out.begin(), e.out.end(), '\a'), 2);
}

TEST(ModeDatesTest, CancelAndExitKeysPutARefusedDateBack) {
  Edited e = Edit(TCP_MODE_DATES, 8, 8, "01012020", std::string(8, '\x08') + "3202\x1b");
  EXPECT_EQ(e.result, KEY_ESCAPE);
  EXPECT_EQ(e.text, "01012020");
  EXPECT_EQ(e.out.find("ERROR"), std::string::npos);
  e = Edit(TCP_MODE_DATES, 8, 8, "", "3202\x04", 4);
  EXPECT_EQ(e.result, 4);
  EXPECT_EQ(e.text, "");
}

TEST(ModeDatesTest, TheKeyThatDismissesTheMessageIsKept) {
  ChildRun run = RunInChild("3202\rx", [] {
    SetKeyTable();
    tcpmode(TCP_MODE_DATES);
    tcpdatemsg("BAD DAY", nullptr, nullptr);
    char text[9] = "";
    std::printf("|%d %s|", input(1, 5, 8, 8, text, 0), text);
    std::printf("%d", getin1());
  });
  EXPECT_NE(run.out.find("BAD DAY"), std::string::npos);
  EXPECT_NE(run.out.find("|101 3202|120"), std::string::npos) << run.out;
}

TEST(ModeNumbersTest, AValueWiderThanItsFieldShowsAsStars) {
  Edited e = Edit(TCP_MODE_NUMBERS, 12, 3, "-1234567.89", "\r");
  EXPECT_EQ(e.out.substr(e.out.rfind(At(1, 5))), At(1, 5) + "************");
  e = Edit(0, 12, 3, "-1234567.89", "\r");
  EXPECT_EQ(e.out.substr(e.out.rfind(At(1, 5))), At(1, 5) + "-1.234.567,8");
  e = Edit(TCP_MODE_NUMBERS, 12, 3, "1234567.89", "\r");
  EXPECT_EQ(e.out.substr(e.out.rfind(At(1, 5))), At(1, 5) + "1.234.567,89");
}

TEST(ModeTextTest, TypedUtf8LettersAreStoredAsCodePage437) {
  Edited e = Edit(TCP_MODE_TEXT, 10, 0, "", "M\xc3\xa1laga\xe2\x82\xac\xc3\x9f\r", 0, true);
  EXPECT_EQ(e.text, "M\xa0laga\xe1");  // the euro sign is not in the code page
  EXPECT_NE(e.out.find("M\xc3\xa1laga\a\xc3\x9f"), std::string::npos);
  // A stray continuation byte or a cut sequence is refused.
  e = Edit(TCP_MODE_TEXT, 10, 0, "", "\xa1x\xc3y\r", 0, true);
  EXPECT_EQ(e.text, "x");
}

TEST(ModeTextTest, ColonBackslashAndTildeAreTypedAndEndingKeysAreSettable) {
  Edited e = Edit(TCP_MODE_TEXT, 10, 0, "", "a:b\\c~\r");
  EXPECT_EQ(e.text, "a:b\\c~");
  EXPECT_EQ(e.result, KEY_NEWLINE);
  ChildRun run = RunInChild("a\tb\x04", [] {
    SetKeyTable();
    tcpmode(TCP_MODE_TEXT);
    const int ends[] = {4};
    tcpendkeys(ends, 1);
    char text[11] = "";
    std::printf("|%d %s", input(1, 5, 10, 0, text, 0), text);
  });
  EXPECT_NE(run.out.find("|4 ab"), std::string::npos);
}

TEST(ModeTextTest, ADateIsDrawnWithinItsField) {
  Edited e = Edit(TCP_MODE_TEXT, 6, 8, "150324", "\r");
  EXPECT_EQ(e.out.substr(e.out.rfind(At(1, 5))), At(1, 5) + "15/03/24");
}

TEST(ModeEndTest, InputReturnsItsOwnEndCodeSoALoopCannotSpin) {
  ChildRun run = RunInChild("", [] {
    SetKeyTable();
    tcpmode(TCP_MODE_END | TCP_MODE_DATES);
    char text[9] = "3202";
    int calls = 0, key;
    while ((key = input(1, 5, 8, 8, text, 0)) == 101 && calls < 100) ++calls;
    std::printf("|%d %d %d|%d", key, calls, tcpeof(), getin1());
  });
  EXPECT_NE(run.out.find("|302 0 1|302"), std::string::npos) << run.out;
}

TEST(ModeTest, SwitchingTheModeOffGivesTheDescribedBehaviourBack) {
  ChildRun run = RunInChild("\x1b[Z", [] {
    SetKeyTable();
    std::printf("%d ", tcpmode(TCP_MODE_MODERN));
    std::printf("%d ", tcpmode(0));
    for (int k = 0; k < 3; ++k) std::printf("%d,", getin1());
  });
  EXPECT_EQ(run.out, "0 63 90,-1,-1,");  // the described decoder: Shift-Tab types Z
}

TEST(ShowTest, DrawsValuesWithoutEditing) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    tcpshow(1, 5, 12, 3, "1234.5");
    tcpshow(1, 5, 6, 3, "1234567");
    tcpshow(1, 5, 8, 8, "15032024");
    tcpshow(1, 5, 6, 8, "15032024");
    tcpshow(1, 5, 5, 0, "abcdefg");
    tcpshow(1, 5, 5, 0, "ab");
  });
  EXPECT_EQ(run.out, At(1, 5) + "    1.234,50" + At(1, 5) + "******" + At(1, 5) + "15/03/2024" +
                         At(1, 5) + "15/03/24" + At(1, 5) + "abcde" + At(1, 5) + "ab   ");
}

TEST(EntryTest, WritesOneEntryBoundedAndRefusesBadNumbers) {
  ChildRun run = RunInChild("", [] {
    std::printf("%d %d %d ", tcpentry(5, "\x10"), tcpentry(40, "x"), tcpentry(-1, "x"));
    tcpentry(1, "0123456789ABC");
    std::printf("%s %d", tc[1], tcpmsgrow());
  });
  EXPECT_EQ(run.out, "0 -1 -1 012345678 16");
}

}  // namespace
