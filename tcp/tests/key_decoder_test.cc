#include "key_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "tcp.h"

namespace {

// The table of the decoder examples: arrows as ESC [ A/B/D/C, DEL as
// backspace, ESC O P as Escape and ESC O Q as the first extended key.
struct Table {
  char entries[40][10] = {};
  int tics = 23;
  Table() {
    Set(6, "\x7f");
    Set(7, "\x1b[A");
    Set(8, "\x1b[B");
    Set(9, "\x1b[D");
    Set(10, "\x1b[C");
    Set(21, "\x1bOP");
    Set(22, "\x1bOQ");
  }
  void Set(int entry, const char *bytes) { std::strncpy(entries[entry], bytes, 9); }
};

// Bytes of a scripted input; -1 stands for one read at the end of input.
struct Script {
  std::vector<int> bytes;
  size_t next = 0;
  int reads = 0;
  int Read() {
    ++reads;
    return next < bytes.size() ? bytes[next++] : EOF;
  }
};

// Decodes one key from `input`, which ends after its bytes; `left` receives
// the bytes not read.
int Decode(const Table &table, const std::string &input, std::string *left = nullptr,
           int *reads = nullptr) {
  Script script;
  for (unsigned char c : input) script.bytes.push_back(c);
  int code = tcplib::DecodeKey(table.entries, table.tics, [&] { return script.Read(); });
  if (left != nullptr) left->assign(input, std::min(script.next, input.size()));
  if (reads != nullptr) *reads = script.reads;
  return code;
}

TEST(KeyDecoderTest, SequencesOfTheTableGiveTheirCodes) {
  Table t;
  EXPECT_EQ(Decode(t, "\x1b[A"), KEY_CTRL_Z);
  EXPECT_EQ(Decode(t, "\x1b[B"), KEY_NEWLINE);
  EXPECT_EQ(Decode(t, "\x1b[D"), KEY_LEFT);
  EXPECT_EQ(Decode(t, "\x1b[C"), KEY_RIGHT);
  EXPECT_EQ(Decode(t, "\x7f"), KEY_BACKSPACE);
  EXPECT_EQ(Decode(t, "\x1bOP"), KEY_ESCAPE);
  EXPECT_EQ(Decode(t, "\x1bOQ"), 202);
  t.Set(39, "\x1b[24~");
  t.tics = 40;
  EXPECT_EQ(Decode(t, "\x1b[24~"), 219);
}

TEST(KeyDecoderTest, PlainBytesComeBackSigned) {
  Table t;
  std::string left;
  EXPECT_EQ(Decode(t, "xy", &left), 'x');
  EXPECT_EQ(left, "y");  // only the key's own bytes are read
  EXPECT_EQ(Decode(t, "\x15"), 21);
  EXPECT_EQ(Decode(t, "\xe1"), -31);
  EXPECT_EQ(Decode(t, "\xff"), -1);
  EXPECT_EQ(Decode(t, ""), -1);
}

TEST(KeyDecoderTest, UnknownSequenceGivesItsLastByte) {
  Table t;
  std::string left;
  EXPECT_EQ(Decode(t, "\x1b[Zq", &left), 'Z');
  EXPECT_EQ(left, "q");
  EXPECT_EQ(Decode(t, "\x1bx"), 'x');
}

TEST(KeyDecoderTest, SequenceWaitEndsAfterFiftyFailedTries) {
  Table t;
  int reads = 0;
  EXPECT_EQ(Decode(t, "\x1b", nullptr, &reads), 27);
  EXPECT_EQ(reads, 51);
  // Zero bytes are failed tries too; the count restarts at every wait.
  std::string zeros(49, '\0');
  EXPECT_EQ(Decode(t, "\x1b" + zeros + "[" + zeros + "A"), KEY_CTRL_Z);
  EXPECT_EQ(Decode(t, "\x1b" + zeros + std::string("\0[A", 3)), 27);
}

TEST(KeyDecoderTest, LowestEntryWinsAndShadowsLaterOnes) {
  Table t;
  t.Set(8, "\x1b[A");  // the same as entry 7: never completed
  EXPECT_EQ(Decode(t, "\x1b[A"), KEY_CTRL_Z);
  Table u;
  u.Set(23, "\x1b[");  // a beginning of entry 7: never completed
  u.tics = 24;
  EXPECT_EQ(Decode(u, "\x1b[A"), KEY_CTRL_Z);
  EXPECT_EQ(Decode(u, "\x1b[Z"), 'Z');
}

TEST(KeyDecoderTest, BoxPiecesGiveTheirLastByte) {
  Table t;
  t.Set(13, "k");
  t.Set(18, "\x1b[q");
  EXPECT_EQ(Decode(t, "k"), 'k');
  EXPECT_EQ(Decode(t, "\x1b[q"), 'q');
  t.Set(19, "\x1b[\xe9");
  EXPECT_EQ(Decode(t, "\x1b[\xe9"), -23);
}

TEST(KeyDecoderTest, TicsLimitsTheScan) {
  Table t;
  t.tics = 0;
  EXPECT_EQ(Decode(t, "\x1b[A"), 27);
  t.tics = -1;
  EXPECT_EQ(Decode(t, "\x7f"), 127);
  t.tics = 9;  // entries 6 to 8 only
  EXPECT_EQ(Decode(t, "\x1b[B"), KEY_NEWLINE);
  EXPECT_EQ(Decode(t, "\x1b[D"), 'D');
  t.tics = 127;  // never past entry 39
  EXPECT_EQ(Decode(t, "\x1bOQ"), 202);
}

TEST(KeyDecoderTest, ZeroByteWithAnEmptyEntryComesBackAtOnce) {
  Table t;  // entries 11 to 20 are empty
  std::string left;
  int reads = 0;
  EXPECT_EQ(Decode(t, std::string("\0abc", 4), &left, &reads), 0);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(left, "abc");
}

TEST(KeyDecoderTest, NeverCollectsMoreThanNineBytes) {
  Table t;
  // Ten bytes in an entry slot: only the first nine count.
  std::memcpy(t.entries[22], "\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b", 10);
  std::string left;
  EXPECT_EQ(Decode(t, std::string(12, '\x1b'), &left), 202);
  EXPECT_EQ(left.size(), 3u);
}

TEST(GetinTest, ReadsStandardInputAndReportsItsEnd) {
  ChildRun run = RunInChild("\x1b[D\x1b", [] {
    std::memset(tc, 0, sizeof tc);
    std::strcpy(tc[TC_KEY_LEFT], "\x1b[D");
    TICS = 23;
    int left = getin1();
    int escape = getin1();  // alone before the end: 50 failed tries
    bool escape_at_end = std::feof(stdin);
    int end = getin1();
    std::printf("%d %d %d %d %d", left, escape, escape_at_end, end, std::feof(stdin) != 0);
  });
  EXPECT_EQ(run.out, "21 27 1 -1 1");
}

TEST(GetinTest, ByteFFIsNoEndOfInput) {
  ChildRun run = RunInChild("\xff", [] {
    int key = getin1();
    std::printf("%d %d", key, std::feof(stdin) != 0);
  });
  EXPECT_EQ(run.out, "-1 0");
}

}  // namespace

TEST(TcpeofTest, TellsTheEndOfInputFromKeysAndFromByteFF) {
  ChildRun run = RunInChild("a\xff\x1b", [] {
    std::memset(tc, 0, sizeof tc);
    std::strcpy(tc[TC_KEY_LEFT], "\x1b[D");
    TICS = 23;
    int before = tcpeof();
    int a = getin1();
    int after_a = tcpeof();
    int ff = getin1();
    int after_ff = tcpeof();
    int escape = getin1();  // its sequence wait meets the end, but a key came
    int after_escape = tcpeof();
    int end = getin1();
    int after_end = tcpeof();
    int again = getin1();
    std::printf("%d %d%d %d%d %d%d %d%d %d%d", before, a, after_a, ff, after_ff, escape,
                after_escape, end, after_end, again, tcpeof());
  });
  EXPECT_EQ(run.out, "0 970 -10 270 -11 -11");
}
