#include "field_editor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "harness.h"
#include "tcp.h"

namespace {

constexpr int kRow = 1, kColumn = 5;

struct Edit {
  int result = -2;
  std::string text;  // the buffer on return
  std::string out;   // what the editor wrote
  bool intact = true;  // nothing written past the buffer's size
};

// Edits a field at (1, 5) with the readable table (no key sequences: every
// byte is its own key code) in a child, typing `keys` and then meeting the
// end of input. The buffer has `size` bytes.
Edit RunInput(int width, int type, const std::string &text, const std::string &keys,
              int exit_key = 0, size_t size = 0) {
  if (size == 0) size = std::max<size_t>(width + 1, 9);
  ChildRun run = RunInChild(keys, [&] {
    SetReadableTable();
    char buffer[1024];
    std::memset(buffer, '#', sizeof buffer);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    int result = input(kRow, kColumn, width, type, buffer, exit_key);
    bool intact = true;
    for (size_t k = size; k < sizeof buffer; ++k) intact = intact && buffer[k] == '#';
    std::printf("\n#%d|%d|%s", result, intact, buffer);
  });
  Edit edit;
  size_t mark = run.out.rfind("\n#");
  if (mark == std::string::npos) return edit;
  edit.out = run.out.substr(0, mark);
  std::string tail = run.out.substr(mark + 2);
  edit.result = std::stoi(tail);
  edit.intact = tail[tail.find('|') + 1] == '1';
  edit.text = tail.substr(tail.find('|', tail.find('|') + 1) + 1);
  return edit;
}

// What drawing the field writes: underscores, the blanks of its type, the text.
std::string Drawn(int width, int type, const std::string &text) {
  std::string blanks = type == 8 || type == 9 ? "  " : (type >= 1 && type <= 5) ? "    " : "";
  return At(kRow, kColumn) + std::string(width, '_') + blanks + At(kRow, kColumn) + text;
}

std::string MessageLine(const std::string &message) {
  int half = (static_cast<int>(message.size()) + 1) / 2;
  return At(23, 1) + "<" + std::string(39 - half, ' ') + message +
         std::string(39 + half - message.size(), ' ') + ">";
}

TEST(InputTest, TypesEchoesAndReturnsTheEndingKey) {
  Edit e = RunInput(10, 0, "", "ab:c\r");
  EXPECT_EQ(e.result, 13);
  EXPECT_EQ(e.text, "ab;c");
  EXPECT_EQ(e.out, Drawn(10, 0, "") + "ab;c");
  for (int key : {1, 4, 9, 10, 12, 20, 25, 26, 27, 92}) {
    e = RunInput(5, 0, "", std::string("x") + static_cast<char>(key));
    EXPECT_EQ(e.result, key);
    EXPECT_EQ(e.text, "x");
  }
  EXPECT_EQ(RunInput(5, 1, "", "\\").result, 92);
  EXPECT_EQ(RunInput(5, 8, "", "\\").result, 92);
}

TEST(InputTest, ExtendedKeysEndEditing) {
  ChildRun run = RunInChild("a\x1bOQ", [] {
    SetReadableTable();
    std::strcpy(tc[22], "\x1bOQ");
    TICS = 23;
    char text[6] = "";
    std::printf("|%d", input(0, 0, 5, 0, text, 0));
  });
  EXPECT_EQ(run.out.substr(run.out.find('|')), "|202");
}

TEST(InputTest, AccentsComposeCodePage437Bytes) {
  Edit e = RunInput(20, 0, "", "'2'4'A'N'O'a'e'i'n'o'u\r");
  EXPECT_EQ(e.text, "\xab\xac\xa6\xa5\xa7\xa0\x82\xa1\xa4\xa2\xa3");
  EXPECT_EQ(e.out, Drawn(20, 0, "") + e.text);
  e = RunInput(20, 0, "", "'x''\r");
  EXPECT_EQ(e.text, "x'");
  EXPECT_EQ(e.out, Drawn(20, 0, "") + "\ax\a'");
  e = RunInput(20, 0, "", "'\r");
  EXPECT_EQ(e.result, 13);
  EXPECT_EQ(e.out, Drawn(20, 0, "") + "\a");
  EXPECT_EQ(RunInput(5, 1, "", "'e\r").out, Drawn(5, 1, "") + "\a" + At(1, 5) + "     ");
}

TEST(InputTest, RefusedKeysRingTheBell) {
  // Byte 0xE1 reads as -31 and byte 0xAD as -83: negative codes are refused.
  Edit e = RunInput(5, 0, "", "\xe1\xad\x15\x08\x06\x11\r");
  EXPECT_EQ(e.out, Drawn(5, 0, "") + "\a\a\a\a\a\a");
  EXPECT_EQ(e.text, "");
}

TEST(InputTest, CaseToggleSwapsTheLetterUnderTheCursorAndMovesOn) {
  Edit e = RunInput(10, 0, "abc", "\x15\x15\x15~x\r");
  EXPECT_EQ(e.text, "Axbc");
  EXPECT_EQ(e.out, Drawn(10, 0, "abc") + "\b\b\b" + "A" + "xbc" + At(1, 7));
  e = RunInput(10, 0, "a1", "\x15~\r");
  EXPECT_EQ(e.text, "a1");
  EXPECT_EQ(e.out, Drawn(10, 0, "a1") + "\b1");
  e = RunInput(10, 0, "abc", "~\r");
  EXPECT_EQ(e.text, "abc");
  EXPECT_EQ(e.out, Drawn(10, 0, "abc") + "\a");
  EXPECT_EQ(RunInput(10, 0, "", "~").result, 126);
  EXPECT_EQ(RunInput(10, 1, "12", "~").result, 126);
  EXPECT_EQ(RunInput(10, 9, "", "~").result, 126);
}

TEST(InputTest, ExitKeyIsTestedBeforeTheEditingKeys) {
  Edit e = RunInput(10, 0, "abc", "\x08", KEY_BACKSPACE);
  EXPECT_EQ(e.result, 8);
  EXPECT_EQ(e.text, "abc");
  e = RunInput(8, 8, "311299", "\x11", 17);
  EXPECT_EQ(e.result, 17);
  EXPECT_EQ(e.text, "311299");
  EXPECT_EQ(e.out, Drawn(8, 8, "311299"));
  e = RunInput(8, 8, "", "\x11\x1b");
  EXPECT_EQ(e.result, 27);
  EXPECT_EQ(e.out, Drawn(8, 8, "") + "\a");
}

TEST(InputTest, FullFieldRefusesCharactersButNotTheEditingKeys) {
  Edit e = RunInput(3, 0, "abc", "d\x08" "d\r");
  EXPECT_EQ(e.text, "abd");
  EXPECT_EQ(e.out, Drawn(3, 0, "abc") + "\a" + "\b_\b" + "d");
  e = RunInput(3, 0, "abc", "\x15\x15z\x06\x06\x06\r");
  EXPECT_EQ(e.out, Drawn(3, 0, "abc") + "\b\b\a" + "bc\a");
}

TEST(InputTest, InsertAndDeleteInTheMiddle) {
  Edit e = RunInput(10, 0, "ac", "\x15" "b\x08\r");
  EXPECT_EQ(e.text, "ac");
  EXPECT_EQ(e.out, Drawn(10, 0, "ac") + "\b" + "bc" + At(1, 7) + "\bc_" + At(1, 6));
  e = RunInput(10, 0, "ac", "\x15" "b\r");
  EXPECT_EQ(e.text, "abc");
}

TEST(InputTest, NumericFieldRulesForMinusAndPoint) {
  EXPECT_EQ(RunInput(8, 1, "", "5-\x15-\x15-a\r").text, "-5");
  EXPECT_EQ(RunInput(8, 1, "", "5-\x15-\x15-a\r").out,
            Drawn(8, 1, "") + "5\a\b-5" + At(1, 6) + "\b\a\a" + At(1, 5) + "      -5");
  EXPECT_EQ(RunInput(8, 2, "", "1..2\x08\x08.5\r").text, "1.5");
  EXPECT_EQ(RunInput(8, 2, "12.5", ".\r").out, Drawn(8, 2, "12.5") + "\a" + At(1, 5) + "    12,5");
  EXPECT_EQ(RunInput(3, 1, "123", "-\r").out, Drawn(3, 1, "123") + "\a" + At(1, 5) + "123");
}

TEST(InputTest, NumericFieldIsRedrawnThroughPuntoCutToTheWidth) {
  Edit e = RunInput(12, 3, "1234567.891", "\r");
  EXPECT_EQ(e.text, "1234567.891");
  EXPECT_EQ(e.out, Drawn(12, 3, "1234567.891") + At(1, 5) + "1.234.567,89");
  EXPECT_EQ(RunInput(7, 1, "1234567", "\r").out, Drawn(7, 1, "1234567") + At(1, 5) + "1.234.5");
  EXPECT_EQ(RunInput(7, 2, "", "\x1b").out, Drawn(7, 2, "") + At(1, 5) + "       ");
  EXPECT_EQ(RunInput(12, 3, "123456789012", "\r").out,
            Drawn(12, 3, "123456789012") + At(1, 5) + "************");
}

TEST(InputTest, NumericFieldWithoutBlanksWhileDdocIsSet) {
  ChildRun run = RunInChild("\r", [] {
    SetReadableTable();
    ddoc = 1;
    char text[4] = "7";
    input(0, 0, 3, 1, text, 0);
  });
  EXPECT_EQ(run.out, At(0, 0) + "___" + At(0, 0) + "7" + At(0, 0) + "  7");
}

TEST(InputTest, ValidDatesAreRedrawnAndStored) {
  struct Case {
    const char *typed, *shown, *stored;
  } cases[] = {
      {"311299", "31/12/1999", "31121999"}, {"010114", "01/01/2014", "01012014"},
      {"010115", "01/01/1915", "01011915"}, {"0101", "01/01/2000", "01012000"},
      {"290200", "29/02/2000", "29022000"}, {"29022100", "29/02/2100", "29022100"},
      {" 1 1-5", "01/01/1995", "01011995"}, {"31129999", "31/12/9999", "31129999"},
  };
  for (const Case &c : cases) {
    Edit e = RunInput(8, 8, "", std::string(c.typed) + "\r");
    EXPECT_EQ(e.result, 13) << c.typed;
    EXPECT_EQ(e.text, c.stored) << c.typed;
    EXPECT_EQ(e.out, Drawn(8, 8, "") + c.typed + At(1, 5) + c.shown) << c.typed;
  }
  Edit escaped = RunInput(8, 9, "010199", "\x1b");
  EXPECT_EQ(escaped.result, 27);
  EXPECT_EQ(escaped.text, "01011999");
  Edit empty = RunInput(8, 8, "", "\r");
  EXPECT_EQ(empty.result, 13);
  EXPECT_EQ(empty.out, Drawn(8, 8, ""));
}

TEST(InputTest, RefusedDatesShowTheirMessageWaitForAKeyAndGive101) {
  const std::string day = "\aERROR EN CAMPO FECHA  -  NO ACEPTA DIA";
  const std::string month = "\aERROR EN CAMPO FECHA  -  NO ACEPTA MES";
  const std::string year = "\aERROR EN CAMPO FECHA  -  NO ACEPTA ANO";
  struct Case {
    const char *typed;
    const std::string &message;
  } cases[] = {
      {"290201", day},    {"300200", day},   {"310400", day},    {"011300", month},
      {"0101150", year},  {"000000", day},   {"01001900", month}, {"01011900", year},
      {"1+110000", year}, {"29021000", day}, {"2902-99", day},   {"3213", day},
      {"abc", day},
  };
  for (const Case &c : cases) {
    Edit e = RunInput(8, 8, "", std::string(c.typed) + "\rk");
    EXPECT_EQ(e.result, 101) << c.typed;
    EXPECT_EQ(e.text, c.typed) << c.typed;
    EXPECT_EQ(e.out, Drawn(8, 8, "") + c.typed + MessageLine(c.message)) << c.typed;
    EXPECT_TRUE(e.intact) << c.typed;
  }
}

TEST(InputTest, EndOfInputEndsAsEscape) {
  Edit e = RunInput(5, 0, "", "ab");
  EXPECT_EQ(e.result, 27);
  EXPECT_EQ(e.text, "ab");
  EXPECT_EQ(RunInput(5, 0, "", "'").result, 27);
  EXPECT_EQ(RunInput(5, 2, "", "12").out, Drawn(5, 2, "") + "12" + At(1, 5) + " 12,0");
  e = RunInput(8, 8, "", "3213");
  EXPECT_EQ(e.result, 101);
  e = RunInput(8, 8, "", "3112");
  EXPECT_EQ(e.result, 27);
  EXPECT_EQ(e.text, "31122000");
}

TEST(InputTest, TcpeofTellsARefusedDateFromTheEndOfInput) {
  auto refused = [](const std::string &keys) {
    return RunInChild(keys, [] {
      SetReadableTable();
      char date[9] = "";
      int result = input(kRow, kColumn, 8, 8, date, 0);
      std::printf("\n#%d %d", result, tcpeof());
    }).out;
  };
  std::string out = refused("3213\rk");  // a key acknowledges the message
  EXPECT_EQ(out.substr(out.rfind("\n#")), "\n#101 0");
  out = refused("3213\r");  // the message's key wait meets the end
  EXPECT_EQ(out.substr(out.rfind("\n#")), "\n#101 1");
  out = refused("3213");  // the end of input ends editing, then the wait
  EXPECT_EQ(out.substr(out.rfind("\n#")), "\n#101 1");
  out = refused("31121999\r");
  EXPECT_EQ(out.substr(out.rfind("\n#")), "\n#13 0");
}

// Edits with UTF-8 echo on; otherwise as RunInput.
Edit RunUtf8Input(int width, const std::string &text, const std::string &keys) {
  tcputf8 = 1;
  Edit e = RunInput(width, 0, text, keys);
  tcputf8 = 0;
  return e;
}

TEST(Utf8EchoTest, AccentedLettersAreWrittenAsUtf8AndStoredAsCodePage437) {
  Edit e = RunUtf8Input(20, "", "'2'4'A'N'O'a'e'i'n'o'u\r");
  EXPECT_EQ(e.text, "\xab\xac\xa6\xa5\xa7\xa0\x82\xa1\xa4\xa2\xa3");
  EXPECT_EQ(e.out, Drawn(20, 0, "") +
                       "\u00bd\u00bc\u00aa\u00d1\u00ba\u00e1\u00e9\u00ed\u00f1\u00f3\u00fa");
}

TEST(Utf8EchoTest, EveryRedrawOfTheTextIsTranslatedAndPlainBytesStay) {
  // Initial text: drawn translated, except a code page 437 byte the
  // apostrophe does not compose (0x81), which stays as it is.
  Edit e = RunUtf8Input(10, "\x82\x81x", "\r");
  EXPECT_EQ(e.out, Drawn(10, 0, "\u00e9\x81x"));
  EXPECT_EQ(e.text, "\x82\x81x");
  // Insert and delete before an accented letter rewrite it; moving right over
  // it writes it again: one cell each time, so the positions stay the same.
  e = RunUtf8Input(10, "a\x82", "\x15\x15z\b\x06\r");
  EXPECT_EQ(e.text, "a\x82");
  EXPECT_EQ(e.out, Drawn(10, 0, "a\u00e9") + "\b\b" + "z" + "a\u00e9" + At(kRow, kColumn + 1) +
                       "\b" + "a\u00e9_" + At(kRow, kColumn) + "a");
  // The switch off: the same keys write the stored bytes.
  Edit plain = RunInput(10, 0, "a\x82", "\x15\x15z\b\x06\r");
  EXPECT_EQ(plain.text, e.text);
  EXPECT_EQ(plain.out, Drawn(10, 0, "a\x82") + "\b\bza\x82" + At(kRow, kColumn + 1) + "\ba\x82_" +
                           At(kRow, kColumn) + "a");
}

TEST(InputTest, LongInitialTextIsKeptAndTheFieldCountsAsFull) {
  Edit e = RunInput(3, 0, "abcdef", "x\x08\r", 0, 7);
  EXPECT_EQ(e.text, "abcde");
  EXPECT_EQ(e.out, Drawn(3, 0, "abcdef") + "\a\b_\b");
  EXPECT_TRUE(e.intact);
  // A stored date in a field of six cells keeps its century.
  e = RunInput(6, 8, "31121999", "\r", 0, 9);
  EXPECT_EQ(e.result, 13);
  EXPECT_EQ(e.text, "31121999");
}

TEST(InputTest, WidthsAbove255CountAs255) {
  Edit e = RunInput(300, 0, std::string(254, 'a'), "bcd\r", 0, 256);
  EXPECT_EQ(e.text, std::string(254, 'a') + "b");
  EXPECT_TRUE(e.intact);
  EXPECT_EQ(e.out, Drawn(255, 0, std::string(254, 'a')) + "b\a\a");
  e = RunInput(-4, 0, "", "a\r", 0, 1);
  EXPECT_EQ(e.out, Drawn(0, 0, "") + "\a");
  EXPECT_EQ(e.text, "");
}

// The drawing must reach the terminal before the editor waits for a key.
TEST(InputTest, OutputIsFlushedBeforeEachKeyIsAwaited) {
  int keys[2];
  ASSERT_EQ(pipe(keys), 0);
  char out_name[] = "/tmp/tcp_flush_XXXXXX";
  int out = mkstemp(out_name);
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    alarm(10);
    close(keys[1]);
    dup2(keys[0], 0);
    dup2(out, 1);
    SetReadableTable();
    char text[6] = "";
    input(0, 0, 5, 0, text, 0);
    _exit(0);
  }
  close(keys[0]);
  auto size_reaches = [&](off_t size) {
    for (int k = 0; k < 200; ++k) {
      struct stat st;
      fstat(out, &st);
      if (st.st_size >= size) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  size_t drawn = Drawn(5, 0, "").size() - At(kRow, kColumn).size() * 2 + At(0, 0).size() * 2;
  EXPECT_TRUE(size_reaches(drawn));
  ASSERT_EQ(write(keys[1], "x", 1), 1);
  EXPECT_TRUE(size_reaches(drawn + 1));
  ASSERT_EQ(write(keys[1], "\r", 1), 1);
  close(keys[1]);
  waitpid(child, nullptr, 0);
  close(out);
  unlink(out_name);
}

TEST(CheckDateTest, ReadsPartsAsScanfDoesAndAppliesTheWindow) {
  tcplib::Date date;
  EXPECT_EQ(tcplib::CheckDate("-1-1-1", &date), tcplib::DateFault::kDay);
  EXPECT_EQ(tcplib::CheckDate("1 2 3", &date), tcplib::DateFault::kNone);
  EXPECT_EQ(date.year, 2003);
  EXPECT_EQ(tcplib::CheckDate("0102-99999999999999999999", &date), tcplib::DateFault::kYear);
  EXPECT_EQ(tcplib::CheckDate("010299999999999999999999", &date), tcplib::DateFault::kYear);
  EXPECT_EQ(tcplib::CheckDate("01029999x", &date), tcplib::DateFault::kNone);
  EXPECT_EQ(date.year, 9999);
}

}  // namespace
