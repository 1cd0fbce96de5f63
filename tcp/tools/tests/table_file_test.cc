// Table bytes, their readable form, and writing them safely.
#include "table_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "file_install.h"
#include "tcp.h"
#include "terminal_table.h"

namespace tcptable {
namespace {

// The table of tcp/examples/ansi_table.sh.
const char kAnsiLiteral[] =
    "\x17\x01\x00"
    "\x1b[H\x1b[2J\0\x1b[%d;%dH\0\x1b[7m\0\x1b[m\0\0\x17\0\x7f\0"
    "\x1b[A\0\x1b[B\0\x1b[D\0\x1b[C\0\0\0+\0+\0+\0+\0|\0-\0\0\0\x1bOP\0\x1bOQ\0\xff";
const std::string kAnsiBytes(kAnsiLiteral, sizeof kAnsiLiteral - 1);

TEST(TableFile, SerializeAndParseAreInverse) {
  Parsed parsed = Parse(kAnsiBytes);
  EXPECT_TRUE(parsed.problems.empty());
  EXPECT_EQ(parsed.table.tics, 23);
  EXPECT_EQ(parsed.table.start, 1);
  ASSERT_EQ(parsed.table.entries.size(), 23u);
  EXPECT_EQ(parsed.table.entries[1], "\x1b[%d;%dH");
  EXPECT_EQ(parsed.table.entries[4], "");
  EXPECT_EQ(Serialize(parsed.table), kAnsiBytes);
}

TEST(TableFile, ParseReadsLikeTheLoaderAndReportsWhatItWouldNotLoad) {
  Parsed parsed = Parse(std::string("\xc8\xff", 2));
  EXPECT_EQ(parsed.table.tics, -56);
  EXPECT_EQ(parsed.table.start, -1);
  EXPECT_EQ(parsed.table.cmpar, -1);
  EXPECT_FALSE(parsed.problems.empty());

  parsed = Parse(std::string("\x17\x01\x00" "A\0B", 6));
  ASSERT_EQ(parsed.table.entries.size(), 2u);
  EXPECT_EQ(parsed.table.entries[1], "B");
  ASSERT_EQ(parsed.problems.size(), 2u);
  EXPECT_EQ(parsed.problems[0], "the last entry has no byte 0 after it");
  EXPECT_EQ(parsed.problems[1], "no byte 0xFF ends the table");

  parsed = Parse(std::string("\x17\x01\x00" "0123456789\0\xff" "xy", 17));
  EXPECT_EQ(parsed.table.entries[0], "0123456789");
  ASSERT_EQ(parsed.problems.size(), 2u);
  EXPECT_EQ(parsed.problems[0], "2 bytes after the byte 0xFF are not read");
  EXPECT_EQ(parsed.problems[1], "entry 0 has 10 bytes, more than 9");

  parsed = Parse(std::string("\x30\0\0", 3) + std::string(41, '\0'));
  EXPECT_EQ(parsed.table.entries.size(), 41u);
  EXPECT_NE(std::find(parsed.problems.begin(), parsed.problems.end(), "41 entries, more than 40"),
            parsed.problems.end());
  EXPECT_NE(std::find(parsed.problems.begin(), parsed.problems.end(), "TICS 48 is above 40"),
            parsed.problems.end());
}

TEST(TableFile, EscapesRoundTripEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string error;
  EXPECT_EQ(Unescape(Escape(all), &error), all) << error;
  EXPECT_EQ(Escape("\x1b[A \x7f\x08^\\\x80"), "\\E[A\\s^?^H\\^\\\\\\200");
  EXPECT_EQ(Unescape("\\e[%d^[^a\\,\\:\\0", &error), "\x1b[%d\x1b\x01,:\x80");
  for (const char *bad : {"\\q", "^", "\\", "^1", "\\12"}) {
    EXPECT_FALSE(Unescape(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(TableFile, DumpShowsEveryEntryByNumberAndName) {
  std::string dump = Dump(Parse(kAnsiBytes));
  std::istringstream lines(dump);
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 24u);
  EXPECT_EQ(got[0], "TICS 23  start 1  cmpar 0");
  EXPECT_EQ(got[2], "  1  TC_CURSOR              \\E[%d;%dH");
  EXPECT_EQ(got[5], "  4  unused");
  EXPECT_EQ(got[6], "  5  TC_MSG_ROW             ^W  (row 23)");
  EXPECT_EQ(got[7], "  6  TC_KEY_BACKSPACE       ^?");
  EXPECT_EQ(got[23], " 22  extended 202 F2        \\EOQ");
  EXPECT_EQ(Dump(Parse(std::string("\x17\x01\x00" "A", 4))),
            "TICS 23  start 1  cmpar 0\n"
            "  0  clear screen           A\n"
            "note: the last entry has no byte 0 after it\n"
            "note: no byte 0xFF ends the table\n");
}

// What --dump shows is what the library loads: the same flags, and the same
// entries once the loader's limits (9 bytes, 40 entries) are applied.
TEST(TableFile, ParseAgreesWithTheLibrarysLoaderOnRandomFiles) {
  char folder[] = "/tmp/tcp-table-parse.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/table";
  const char alphabet[] = {'\0', '\0', '\0', 'A', 'B', '\x1b', '[', '\x7f', '\x80', '\x17', '\xff'};
  unsigned state = 4321;
  auto pick = [&state](unsigned n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    unsigned length = pick(160);
    for (unsigned k = 0; k < length; ++k) {
      char c = alphabet[pick(sizeof alphabet)];
      if (c == '\xff' && pick(8) != 0) c = 'C';  // an end now and then
      bytes += c;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    std::memset(tc, 0, sizeof tc);
    TICS = start = cmpar = 0;
    ASSERT_TRUE(tcplib::LoadTable(path.c_str())) << tcplib::LastTableReason();
    Parsed parsed = Parse(bytes);
    EXPECT_EQ(parsed.table.tics, TICS) << round;
    EXPECT_EQ(parsed.table.start, start) << round;
    EXPECT_EQ(parsed.table.cmpar, cmpar) << round;
    for (int n = 0; n < kEntries; ++n) {
      std::string expected = n < static_cast<int>(parsed.table.entries.size())
                                 ? parsed.table.entries[n].substr(0, kMaxEntryBytes)
                                 : std::string();
      EXPECT_EQ(std::string(tc[n], strnlen(tc[n], sizeof tc[n])), expected) << "round " << round << " entry " << n;
    }
  }
  std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}

// ---------------------------------------------------------------------------
// Writing. Each test works in a folder of its own under /tmp.

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    char scratch[] = "/tmp/tcp-table-test.XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    root_ = scratch;
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

  static std::string Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<std::string> Names(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
      while (dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static mode_t Mode(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
  }

  std::string root_;
};

TEST_F(Install, CreatesTheFoldersAndAFileOfMode0644WithNothingElseLeft) {
  std::string path = root_ + "//dev/pts/7";  // the doubled slash of "/tmp/" + "/dev/pts/7"
  ASSERT_EQ(InstallFile(path, kAnsiBytes), std::nullopt);
  EXPECT_EQ(Read(root_ + "/dev/pts/7"), kAnsiBytes);
  EXPECT_EQ(Mode(root_ + "/dev/pts/7") & 07777, 0644u);
  EXPECT_TRUE(S_ISDIR(Mode(root_ + "/dev/pts")));
  EXPECT_EQ((Mode(root_ + "/dev") & 07777) & ~0755u, 0u);
  // Again over the table it wrote: replaced, and still one file.
  ASSERT_EQ(InstallFile(path, "new"), std::nullopt);
  EXPECT_EQ(Read(root_ + "/dev/pts/7"), "new");
  EXPECT_EQ(Names(root_ + "/dev/pts"), std::vector<std::string>{"7"});
}

TEST_F(Install, RefusesAPlantedSymbolicLinkAtTheTargetAndLeavesItsTargetAlone) {
  ASSERT_EQ(mkdir((root_ + "/pts").c_str(), 0755), 0);
  std::ofstream(root_ + "/victim") << "precious";
  ASSERT_EQ(symlink((root_ + "/victim").c_str(), (root_ + "/pts/7").c_str()), 0);
  auto error = InstallFile(root_ + "/pts/7", kAnsiBytes);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("'" + root_ + "/pts/7' is a symbolic link"), std::string::npos) << *error;
  EXPECT_EQ(Read(root_ + "/victim"), "precious");
  EXPECT_EQ(Names(root_ + "/pts"), std::vector<std::string>{"7"});
}

TEST_F(Install, RefusesASymbolicLinkInPlaceOfAFolder) {
  ASSERT_EQ(mkdir((root_ + "/elsewhere").c_str(), 0755), 0);
  ASSERT_EQ(symlink((root_ + "/elsewhere").c_str(), (root_ + "/dev").c_str()), 0);
  auto error = InstallFile(root_ + "/dev/pts/7", kAnsiBytes);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("'" + root_ + "/dev' is a symbolic link"), std::string::npos) << *error;
  EXPECT_TRUE(Names(root_ + "/elsewhere").empty());
}

TEST_F(Install, RefusesFoldersOthersMayWriteAndWhatIsNoFileOrFolder) {
  ASSERT_EQ(mkdir((root_ + "/open").c_str(), 0755), 0);
  ASSERT_EQ(chmod((root_ + "/open").c_str(), 0777), 0);
  auto error = InstallFile(root_ + "/open/7", "x");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("may be written by others"), std::string::npos) << *error;
  EXPECT_TRUE(Names(root_ + "/open").empty());

  std::ofstream(root_ + "/plain") << "x";
  error = InstallFile(root_ + "/plain/7", "x");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("is no folder"), std::string::npos) << *error;

  ASSERT_EQ(mkfifo((root_ + "/fifo").c_str(), 0644), 0);
  error = InstallFile(root_ + "/fifo", "x");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("is no regular file"), std::string::npos) << *error;
  EXPECT_TRUE(InstallFile("relative/7", "x"));
  EXPECT_TRUE(InstallFile(root_ + "/../7", "x"));
}

TEST_F(Install, RefusesAFolderOrFileOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  ASSERT_EQ(mkdir((root_ + "/theirs").c_str(), 0755), 0);
  ASSERT_EQ(chown((root_ + "/theirs").c_str(), 12345, 12345), 0);
  auto error = InstallFile(root_ + "/theirs/pts/7", "x");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("the folder '" + root_ + "/theirs' belongs to another user (uid 12345)"),
            std::string::npos)
      << *error;
  EXPECT_TRUE(Names(root_ + "/theirs").empty());

  std::ofstream(root_ + "/7") << "theirs";
  ASSERT_EQ(chown((root_ + "/7").c_str(), 12345, 12345), 0);
  error = InstallFile(root_ + "/7", "x");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("belongs to another user"), std::string::npos) << *error;
  EXPECT_EQ(Read(root_ + "/7"), "theirs");
}

TEST_F(Install, OutputReplacesALinkInsteadOfWritingThroughIt) {
  std::ofstream(root_ + "/victim") << "precious";
  ASSERT_EQ(symlink((root_ + "/victim").c_str(), (root_ + "/table").c_str()), 0);
  ASSERT_EQ(WriteFileReplacing(root_ + "/table", kAnsiBytes), std::nullopt);
  EXPECT_EQ(Read(root_ + "/victim"), "precious");
  EXPECT_TRUE(S_ISREG(Mode(root_ + "/table")));
  EXPECT_EQ(Mode(root_ + "/table") & 07777, 0644u);
  EXPECT_EQ(Read(root_ + "/table"), kAnsiBytes);
  EXPECT_EQ(Names(root_), (std::vector<std::string>{"table", "victim"}));
  EXPECT_TRUE(WriteFileReplacing(root_ + "/missing/table", "x"));
  EXPECT_TRUE(WriteFileReplacing(root_, "x"));
}

}  // namespace
}  // namespace tcptable
