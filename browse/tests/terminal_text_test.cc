// Stored text on the terminal: the store's encoding converted, controls as
// '?'; the keys browse knows beyond the table; the message row's fitting;
// the header index in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "browser.h"
#include "header_key_index.h"
#include "terminal_text.h"

namespace {

TerminalText Made(StoreEncoding store, const std::string& codeset) {
  TerminalText text;
  std::string why;
  EXPECT_TRUE(TerminalText::Make(store, codeset, &text, &why)) << why;
  return text;
}

TEST(TerminalTextTest, CodePage437LettersReachAUtf8TerminalAsLetters) {
  TerminalText text = Made(StoreEncoding::kCp437, "UTF-8");
  EXPECT_EQ(text.Convert("M\xa0laga"), "M\xc3\xa1laga");
  EXPECT_EQ(text.Convert("\x9b"), "\xc2\xa2");  // cp437's cent sign, no control there
  EXPECT_EQ(text.Convert("a\x1b[2Jb\x7f"), "a?[2Jb?");
}

TEST(TerminalTextTest, EightBitControlsNeverReachTheTerminal) {
  // Latin-1 0x9B is CSI: as stored it would clear the screen.
  EXPECT_EQ(Made(StoreEncoding::kLatin1, "UTF-8").Convert("\x9b" "2J\xe9"), "?2J\xc3\xa9");
  EXPECT_EQ(Made(StoreEncoding::kLatin1, "ISO-8859-1").Convert("\x9b" "2J\xe9"), "?2J\xe9");
  EXPECT_EQ(Made(StoreEncoding::kUtf8, "UTF-8").Convert("\xc2\x9b" "2J\xc3\xa9"), "?2J\xc3\xa9");
  // Without conversion, as stored, but 0x80 to 0x9F as '?' too.
  EXPECT_EQ(TerminalText().Convert("\x9b" "2J\x85\xa0"), "?2J?\xa0");
}

TEST(TerminalTextTest, CharactersTheTerminalLacksShowAsQuestionMarks) {
  EXPECT_EQ(Made(StoreEncoding::kCp437, "ANSI_X3.4-1968").Convert("M\xa0laga"), "M?laga");
  EXPECT_EQ(Made(StoreEncoding::kUtf8, "ISO-8859-1").Convert("M\xc3\xa1laga"), "M?laga");
  // Malformed UTF-8: one '?' a byte.
  EXPECT_EQ(Made(StoreEncoding::kUtf8, "UTF-8").Convert("a\xc3z\xff"), "a?z?");
}

TEST(TerminalTextTest, EncodingNamesAndUnknownCodesets) {
  StoreEncoding e;
  EXPECT_TRUE(ParseStoreEncoding("CP437", &e));
  EXPECT_EQ(e, StoreEncoding::kCp437);
  EXPECT_TRUE(ParseStoreEncoding("latin1", &e));
  EXPECT_EQ(e, StoreEncoding::kLatin1);
  EXPECT_TRUE(ParseStoreEncoding("utf-8", &e));
  EXPECT_EQ(e, StoreEncoding::kUtf8);
  EXPECT_FALSE(ParseStoreEncoding("ebcdic", &e));
  TerminalText text;
  std::string why;
  EXPECT_FALSE(TerminalText::Make(StoreEncoding::kCp437, "NO-SUCH-CODESET", &text, &why));
  EXPECT_NE(why.find("NO-SUCH-CODESET"), std::string::npos);
}

TEST(BrowseKeyTest, UsualSequencesOfHomeEndAndThePageKeys) {
  for (const char* home : {"\x1b[H", "\x1bOH", "\x1b[1~", "\x1b[7~"}) EXPECT_EQ(BrowseKey(TCP_KEY_UNKNOWN, home), kKeyHome);
  for (const char* end : {"\x1b[F", "\x1bOF", "\x1b[4~", "\x1b[8~"}) EXPECT_EQ(BrowseKey(TCP_KEY_UNKNOWN, end), kKeyEnd);
  EXPECT_EQ(BrowseKey(TCP_KEY_UNKNOWN, "\x1b[5~"), kKeyPageUp);
  EXPECT_EQ(BrowseKey(TCP_KEY_UNKNOWN, "\x1b[6~"), kKeyPageDown);
  EXPECT_EQ(BrowseKey(TCP_KEY_UNKNOWN, "\x1b[1;5D"), TCP_KEY_UNKNOWN);
  EXPECT_EQ(BrowseKey('q', "\x1b[H"), 'q');  // a named key stays itself
}

TEST(FitMessageTest, NotesAreCutAtWholePartsAndTheKeyListStaysWhole) {
  EXPECT_EQ(FitMessage("note  000101  1 of 12", "KEYS", 40), "note  000101  1 of 12  KEYS");
  EXPECT_EQ(FitMessage("no previous document  000101  1 of 12", "KEYS", 38), "no previous document  000101  KEYS");
  EXPECT_EQ(FitMessage("", "KEYS", 10), "KEYS");
  // Too narrow for both: the note alone.
  EXPECT_EQ(FitMessage("not on the screen: h03", "A LONG KEY LIST", 25), "not on the screen: h03");
  EXPECT_EQ(FitMessage("x", "KEYS", 0), "");
}

class HeaderKeyIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/browse-h-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name;
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string path_;
};

TEST_F(HeaderKeyIndexTest, FindsTheWholeKeyOnlyAndTheFirstOfEqualKeys) {
  Write("000101" "000102" "  0107" "000102" "ABC   ");
  HeaderKeyIndex index;
  std::string why;
  ASSERT_TRUE(index.Load(path_, 6, 5, &why)) << why;
  EXPECT_EQ(index.Find("000102"), 1);
  EXPECT_EQ(index.Find("0107"), 2);
  EXPECT_EQ(index.Find(" ABC "), 4);
  EXPECT_EQ(index.Find("00010"), -1);  // part of a key finds nothing
  EXPECT_EQ(index.Find(""), -1);
  EXPECT_EQ(index.Find("999999"), -1);
}

TEST_F(HeaderKeyIndexTest, AShortFileHoldsTheKeysItCoversAndBadInputIsRefused) {
  Write("000101" "0001");
  HeaderKeyIndex index;
  std::string why;
  ASSERT_TRUE(index.Load(path_, 6, 100, &why));
  EXPECT_EQ(index.size(), 1);
  EXPECT_EQ(index.Find("0001"), -1);
  EXPECT_FALSE(HeaderKeyIndex().Load(path_, 0, 5, &why));
  EXPECT_FALSE(HeaderKeyIndex().Load(path_ + ".missing", 6, 5, &why));
  EXPECT_FALSE(HeaderKeyIndex().Load("/tmp", 6, 5, &why));
}

TEST_F(HeaderKeyIndexTest, AMissingKeyAmongAMillionIsToldInMilliseconds) {
  std::string keys;
  keys.reserve(8000000);
  char key[9];
  for (int n = 0; n < 1000000; ++n) {
    std::snprintf(key, sizeof key, "%08lld", (n * 7919LL) % 1000000);
    keys.append(key, 8);
  }
  Write(keys);
  HeaderKeyIndex index;
  std::string why;
  ASSERT_TRUE(index.Load(path_, 8, 1000000, &why));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(index.Find("xxxxxxxx"), -1);
  EXPECT_EQ(index.Find("00007919"), 1);
  const auto spent = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count(), 50);
}

}  // namespace
