#include "terminal_table.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "harness.h"
#include "tcp.h"

namespace {

// A temporary directory, removed with what it holds at the end.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/tcp_test_XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string File(const std::string &name) const { return path_ + "/" + name; }
  std::string Write(const std::string &name, const std::string &bytes) const {
    std::FILE *f = std::fopen(File(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return File(name);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

void ClearTable() {
  std::memset(tc, 0, sizeof tc);
  TICS = start = cmpar = 0;
}

TEST(LoadTableTest, LoadsHeaderAndEntries) {
  ScratchDir dir;
  ClearTable();
  ASSERT_TRUE(tcplib::LoadTable(dir.Write("t", Bytes({24, 0, 0, 65, 0, 66, 0, 255})).c_str()));
  EXPECT_EQ(TICS, 24);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(cmpar, 0);
  EXPECT_STREQ(tc[0], "A");
  EXPECT_STREQ(tc[1], "B");
  for (int e = 2; e < 40; ++e) EXPECT_STREQ(tc[e], "") << e;

  // Without the final 0xFF the same; after it nothing is read.
  ClearTable();
  tcplib::LoadTable(dir.Write("t", Bytes({24, 1, 32, 65, 0, 0, 66, 0})).c_str());
  EXPECT_EQ(start, 1);
  EXPECT_EQ(cmpar, 32);
  EXPECT_STREQ(tc[0], "A");
  EXPECT_STREQ(tc[1], "");  // two zero bytes: an empty entry
  EXPECT_STREQ(tc[2], "B");
  ClearTable();
  tcplib::LoadTable(dir.Write("t", Bytes({24, 0, 0, 65, 0, 255, 66, 0})).c_str());
  EXPECT_STREQ(tc[0], "A");
  EXPECT_STREQ(tc[1], "");
}

TEST(LoadTableTest, HeaderBytesAreSignedAndMissingOnesReadAsMinusOne) {
  ScratchDir dir;
  ClearTable();
  tcplib::LoadTable(dir.Write("t", Bytes({0xC8, 0xFF, 0x80})).c_str());
  EXPECT_EQ(TICS, -56);
  EXPECT_EQ(start, -1);
  EXPECT_EQ(cmpar, -128);
  tcplib::LoadTable(dir.Write("t", Bytes({5})).c_str());
  EXPECT_EQ(TICS, 5);
  EXPECT_EQ(start, -1);
  EXPECT_EQ(cmpar, -1);
  ClearTable();
  std::strcpy(tc[0], "keep");
  tcplib::LoadTable(dir.Write("t", "").c_str());
  EXPECT_EQ(TICS, -1);
  EXPECT_STREQ(tc[0], "keep");
}

TEST(LoadTableTest, LoadsOverTheOldTable) {
  ScratchDir dir;
  ClearTable();
  std::strcpy(tc[1], "WXYZ");
  std::strcpy(tc[5], "old");
  // The last entry has no terminator of its own: the rest of its slot stays.
  tcplib::LoadTable(dir.Write("t", Bytes({30, 0, 0, 'a', 0, 'c', 'd'})).c_str());
  EXPECT_STREQ(tc[0], "a");
  EXPECT_STREQ(tc[1], "cdYZ");
  EXPECT_STREQ(tc[5], "old");
}

TEST(LoadTableTest, StaysWithinFortyEntriesOfNineBytes) {
  ScratchDir dir;
  ClearTable();
  std::string file = Bytes({127, 0, 0});
  file += "0123456789ABCDEF" + Bytes({0});  // 16 bytes: the first 9 are kept
  for (int e = 1; e < 60; ++e) file += std::string("e") + std::to_string(e) + Bytes({0});
  tcplib::LoadTable(dir.Write("t", file).c_str());
  EXPECT_EQ(TICS, 127);
  EXPECT_STREQ(tc[0], "012345678");
  EXPECT_STREQ(tc[1], "e1");
  EXPECT_STREQ(tc[39], "e39");
  // Every entry stays terminated even when a file keeps writing into it.
  ClearTable();
  tcplib::LoadTable(dir.Write("t", Bytes({30, 0, 0}) + std::string(100000, 'x')).c_str());
  EXPECT_STREQ(tc[0], "xxxxxxxxx");
  EXPECT_STREQ(tc[1], "");
}

TEST(LoadTableTest, OnlyARegularFileIsATable) {
  ScratchDir dir;
  ClearTable();
  std::strcpy(tc[0], "keep");
  EXPECT_FALSE(tcplib::LoadTable(dir.File("missing").c_str()));
  EXPECT_FALSE(tcplib::LoadTable(dir.path().c_str()));
  EXPECT_FALSE(tcplib::LoadTable("/dev/zero"));
  // A FIFO with no writer would block a plain open for ever.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  std::string fifo = dir.File("fifo");
  ChildRun run = RunInChild("", [&] { std::printf("%d", tcplib::LoadTable(fifo.c_str())); }, 5);
  EXPECT_EQ(run.out, "0");
  EXPECT_STREQ(tc[0], "keep");
  EXPECT_EQ(TICS, 0);
}

TEST(TablePathTest, SlashAfterTmpAndNullForNoTerminal) {
  EXPECT_EQ(tcplib::TablePath("/dev/pts/3"), "/tmp//dev/pts/3");
  EXPECT_EQ(tcplib::TablePath(nullptr), "/tmp/(null)");
}

// tcp reads the table of the terminal on standard input.
TEST(TcpTest, LoadsTheTableOfTheTerminalOnStandardInput) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminals here";
  grantpt(master);
  unlockpt(master);
  std::string slave = ptsname(master);
  std::string table = "/tmp" + slave;
  std::string dirs = table.substr(0, table.rfind('/'));
  std::FILE *f = nullptr;
  for (int attempt = 0; f == nullptr && attempt < 20; ++attempt) {
    std::system(("mkdir -p '" + dirs + "'").c_str());
    f = std::fopen(table.c_str(), "wb");
  }
  ASSERT_NE(f, nullptr);
  std::string bytes = Bytes({23, 1, 0, 0, 'C', '%', 'd', ',', '%', 'd', 0, 255});
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  ChildRun run = RunInChild("", [&] {
    int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    dup2(fd, 0);
    fuser = 7;
    tcp(0);
    std::printf("%d %d %d|", TICS, start, fuser);
    pos(2, 3);
  });
  unlink(table.c_str());
  rmdir(dirs.c_str());
  rmdir("/tmp/dev");
  close(master);
  EXPECT_EQ(run.out, "23 1 0|C3,4");
}

struct tm SixDecember() {
  struct tm day = {};
  day.tm_year = 2024 - 1900;
  day.tm_mon = 11;
  day.tm_mday = 6;
  day.tm_hour = 12;
  day.tm_isdst = -1;
  return day;
}

std::string UserName(const char *login, const char *remote, int mday = 6) {
  struct tm day = SixDecember();
  day.tm_mday = mday;
  char name[30];
  std::memset(name, '#', sizeof name);
  if (!tcplib::UserFileName(login, remote, mktime(&day), name)) return "refused";
  return name;
}

TEST(UserFileNameTest, LoginCutOrFilledToSixThenTheDate) {
  EXPECT_EQ(UserName("clerk", "1.2.3.4"), "user/clerk  Dec  6");
  EXPECT_EQ(UserName("administrator", nullptr, 16), "user/admini Dec 16");
  EXPECT_EQ(UserName("abcdef", nullptr), "user/abcdef Dec  6");
  EXPECT_EQ(UserName("abcdef/../x", nullptr), "user/abcdef Dec  6");
}

TEST(UserFileNameTest, RemoteAddressWhenThereIsNoLogin) {
  EXPECT_EQ(UserName(nullptr, "192.168.10.20"), "user/192.168.10.20 Dec  6");
  EXPECT_EQ(UserName("(null)", "10.0.0.1"), "user/10.0.0.1 Dec  6");
  EXPECT_EQ(UserName(nullptr, nullptr), "user/(null) Dec  6");
  EXPECT_EQ(UserName(nullptr, "12345678901234567"), "user/12345678901234567 Dec  6");
}

TEST(UserFileNameTest, RefusesSlashesAndControlBytes) {
  EXPECT_EQ(UserName(nullptr, "10.0.0.1\n"), "refused");
  EXPECT_EQ(UserName(nullptr, "../../etc/x"), "refused");
  EXPECT_EQ(UserName(nullptr, "/x"), "refused");
  EXPECT_EQ(UserName("ab/cd", nullptr), "refused");
}

// Runs tcp(1) in `dir` with REMOTE_ADDR `remote`; prints fuser's offset.
ChildRun OpenUser(const ScratchDir &dir, const char *remote) {
  return RunInChild("", [&] {
    chdir(dir.path().c_str());
    setenv("REMOTE_ADDR", remote, 1);
    umask(022);
    tcp(1);
    std::printf("%s|%ld", user, static_cast<long>(lseek(fuser, 0, SEEK_CUR)));
  });
}

TEST(UserFileTest, CreatedWithDataModeThenReopenedAtItsEnd) {
  ScratchDir dir;
  mkdir(dir.File("user").c_str(), 0755);
  ChildRun first = OpenUser(dir, "10.0.0.1");
  ASSERT_EQ(first.status, 0);
  std::string name = first.out.substr(0, first.out.find('|'));
  EXPECT_EQ(first.out, name + "|0");
  struct stat st;
  ASSERT_EQ(stat(dir.File(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  dir.Write(name, "abc");
  ChildRun second = OpenUser(dir, "10.0.0.1");
  EXPECT_EQ(second.out, name + "|3");
  std::FILE *f = std::fopen(dir.File(name).c_str(), "rb");
  char content[8] = {};
  std::fread(content, 1, sizeof content - 1, f);
  std::fclose(f);
  EXPECT_STREQ(content, "abc");
}

TEST(UserFileTest, ExitsWithTwoWhenTheFileCannotBeOpened) {
  ScratchDir dir;
  ChildRun run = OpenUser(dir, "10.0.0.1");  // no directory "user"
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
}

TEST(UserFileTest, ExitsWithTwoForARemoteAddressThatIsNoName) {
  if (getlogin() != nullptr) GTEST_SKIP() << "a login name takes precedence here";
  ScratchDir dir;
  mkdir(dir.File("user").c_str(), 0755);
  mkdir(dir.File("user/x").c_str(), 0755);
  EXPECT_EQ(OpenUser(dir, "x/../../escaped").status, 2);
  EXPECT_EQ(OpenUser(dir, "x/y").status, 2);
  EXPECT_EQ(OpenUser(dir, "10.0.0.1\x1b[2J").status, 2);
  EXPECT_EQ(std::system(("test -z \"$(find '" + dir.path() + "' -type f)\"").c_str()), 0);
}

TEST(UserFileTest, NoUserFileWhenNotAsked) {
  ScratchDir dir;
  ChildRun run = RunInChild("", [&] {
    chdir(dir.path().c_str());
    fuser = 9;
    tcp(0);
    std::printf("%d", fuser);
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0");
}

}  // namespace
