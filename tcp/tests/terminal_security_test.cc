// The terminal library against planted files and hostile values: untrusted
// table files, links and FIFOs where the user file goes, remote addresses
// that are no names, and formats asking for huge fields.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "control_format.h"
#include "harness.h"
#include "tcp.h"
#include "terminal_table.h"

namespace {

class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/tcp_security_XXXXXX";
    path_ = mkdtemp(name);
  }
  ~Scratch() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string File(const std::string &name) const { return path_ + "/" + name; }
  // Writes a table with TICS 24 and entry 0 "T", then sets its mode.
  std::string Table(const std::string &name, mode_t mode) const {
    std::string path = File(name);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite("\x18\0\0T\0\xff", 1, 6, f);
    std::fclose(f);
    chmod(path.c_str(), mode);
    return path;
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

void ClearTable() {
  std::memset(tc, 0, sizeof tc);
  TICS = start = cmpar = 0;
}

// Loads `path` over an empty table: true when anything was taken from it,
// checking that a refused table changed nothing.
bool Loads(const std::string &path) {
  ClearTable();
  bool loaded = tcplib::LoadTable(path.c_str());
  EXPECT_EQ(loaded, TICS == 24 && std::strcmp(tc[0], "T") == 0) << path;
  return loaded;
}

int Status(std::string *reason = nullptr) {
  char text[80];
  int status = tcpstat(text, sizeof text);
  if (reason != nullptr) *reason = text;
  return status;
}

TEST(TableTrustTest, OwnTableWritableByNoOneElseIsLoaded) {
  Scratch dir;
  EXPECT_TRUE(Loads(dir.Table("t", 0644)));
  EXPECT_EQ(Status(), 0);
  EXPECT_TRUE(Loads(dir.Table("r", 0400)));
}

TEST(TableTrustTest, TableWritableByGroupOrOthersCountsAsRefused) {
  Scratch dir;
  std::string reason;
  EXPECT_FALSE(Loads(dir.Table("all", 0666)));
  EXPECT_EQ(Status(&reason), 2);
  EXPECT_EQ(reason, "the table is writable by group or others");
  EXPECT_FALSE(Loads(dir.Table("group", 0664)));
  EXPECT_FALSE(Loads(dir.Table("others", 0602)));
}

TEST(TableTrustTest, AnotherUsersTableIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  Scratch dir;
  std::string path = dir.Table("t", 0644);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  std::string reason;
  EXPECT_FALSE(Loads(path));
  EXPECT_EQ(Status(&reason), 2);
  EXPECT_EQ(reason, "the table belongs to another user");
}

TEST(TableTrustTest, LinksAreNotFollowedAnywhereOnThePath) {
  Scratch dir;
  std::string good = dir.Table("good", 0644);
  ASSERT_EQ(symlink(good.c_str(), dir.File("link").c_str()), 0);
  EXPECT_FALSE(Loads(dir.File("link")));
  EXPECT_EQ(Status(), 2);
  ASSERT_EQ(mkdir(dir.File("real").c_str(), 0755), 0);
  dir.Table("real/t", 0644);
  ASSERT_EQ(symlink("real", dir.File("linked_dir").c_str()), 0);
  EXPECT_TRUE(Loads(dir.File("real/t")));
  EXPECT_FALSE(Loads(dir.File("linked_dir/t")));
  EXPECT_EQ(Status(), 2);
}

// Another account could replace a table in a directory it may write, unless
// the directory is sticky, as /tmp is.
TEST(TableTrustTest, DirectoryWritableByOthersMustBeSticky) {
  Scratch dir;
  ASSERT_EQ(mkdir(dir.File("open").c_str(), 0755), 0);
  dir.Table("open/t", 0644);
  chmod(dir.File("open").c_str(), 0777);
  EXPECT_FALSE(Loads(dir.File("open/t")));
  EXPECT_EQ(Status(), 2);
  chmod(dir.File("open").c_str(), 01777);
  EXPECT_TRUE(Loads(dir.File("open/t")));
}

// A folder another account made first (such as /tmp/dev) is named in the
// reason with what is wrong with it, so the user learns what to remove.
TEST(TableTrustTest, RefusedFolderIsNamedWithWhatIsWrongWithIt) {
  Scratch dir;
  std::string reason;
  ASSERT_EQ(mkdir(dir.File("open").c_str(), 0755), 0);
  dir.Table("open/t", 0644);
  chmod(dir.File("open").c_str(), 0777);
  EXPECT_FALSE(Loads(dir.File("open/t")));
  EXPECT_EQ(Status(&reason), 2);
  EXPECT_EQ(reason, "the folder '" + dir.File("open") + "' may be written by other users");
  ASSERT_EQ(symlink("open", dir.File("linked").c_str()), 0);
  EXPECT_FALSE(Loads(dir.File("linked/t")));
  EXPECT_EQ(Status(&reason), 2);
  EXPECT_EQ(reason, "'" + dir.File("linked") + "' is a symbolic link");
  dir.Table("plain", 0644);
  EXPECT_FALSE(Loads(dir.File("plain/t")));
  EXPECT_EQ(Status(&reason), 2);
  EXPECT_EQ(reason, "'" + dir.File("plain") + "' is no folder");
}

TEST(TableTrustTest, FolderOfAnotherUserIsNamedWithItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "changing a folder's owner needs root";
  Scratch dir;
  ASSERT_EQ(mkdir(dir.File("dev").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("dev/pts").c_str(), 0755), 0);
  dir.Table("dev/pts/3", 0644);
  ASSERT_EQ(chown(dir.File("dev").c_str(), 65534, 65534), 0);
  std::string reason;
  EXPECT_FALSE(Loads(dir.File("dev/pts/3")));
  EXPECT_EQ(Status(&reason), 2);
  std::string expected = "the folder '" + dir.File("dev") + "' belongs to another user (uid 65534";
  EXPECT_EQ(reason.substr(0, expected.size()), expected) << reason;
}

TEST(TableTrustTest, MissingTableAndShortReasonBuffer) {
  Scratch dir;
  EXPECT_FALSE(Loads(dir.File("none")));
  EXPECT_EQ(Status(), 1);
  EXPECT_FALSE(Loads(dir.File("no_dir/none")));
  EXPECT_EQ(Status(), 1);
  dir.Table("t", 0666);
  Loads(dir.File("t"));
  char text[8];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(tcpstat(text, 4), 2);
  EXPECT_STREQ(text, "the");
  EXPECT_EQ(text[4], '#');
  EXPECT_EQ(tcpstat(nullptr, 0), 2);
}

// The name tcp(1) gives the user file today for REMOTE_ADDR `remote`.
std::string TodaysName(const char *remote) {
  char name[30];
  if (!tcplib::UserFileName(getlogin(), remote, std::time(nullptr), name)) return "";
  return name;
}

ChildRun OpenUser(const Scratch &dir, const char *remote) {
  return RunInChild("", [&] {
    chdir(dir.path().c_str());
    setenv("REMOTE_ADDR", remote, 1);
    umask(022);
    tcp(1);
    std::printf("%s", user);
  }, 5);
}

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(UserFileLinkTest, DanglingLinkCreatesNothingAtItsTarget) {
  Scratch dir;
  mkdir(dir.File("user").c_str(), 0755);
  std::string name = TodaysName("10.0.0.1");
  ASSERT_EQ(symlink(dir.File("planted").c_str(), dir.File(name).c_str()), 0);
  ChildRun run = OpenUser(dir, "10.0.0.1");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(Exists(dir.File("planted")));
  // A link to an existing file is refused as well, leaving the file alone.
  std::FILE *f = std::fopen(dir.File("planted").c_str(), "w");
  std::fclose(f);
  EXPECT_EQ(OpenUser(dir, "10.0.0.1").status, 2);
}

TEST(UserFileLinkTest, UserDirectoryThatIsALinkIsRefused) {
  Scratch dir;
  mkdir(dir.File("elsewhere").c_str(), 0755);
  ASSERT_EQ(symlink("elsewhere", dir.File("user").c_str()), 0);
  EXPECT_EQ(OpenUser(dir, "10.0.0.1").status, 2);
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir.File("elsewhere") + "')\"").c_str()), 0);
}

TEST(UserFileLinkTest, FifoOrDirectoryAsTheUserFileIsRefusedWithoutBlocking) {
  Scratch dir;
  mkdir(dir.File("user").c_str(), 0755);
  std::string name = TodaysName("10.0.0.1");
  ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0644), 0);
  EXPECT_EQ(OpenUser(dir, "10.0.0.1").status, 2);  // 128 + SIGKILL if it blocked
  unlink(dir.File(name).c_str());
  mkdir(dir.File(name).c_str(), 0755);
  EXPECT_EQ(OpenUser(dir, "10.0.0.1").status, 2);
}

std::string Read(const std::string &path) {
  std::string bytes;
  if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<char>(c));
    std::fclose(f);
  }
  return bytes;
}

// Plants today's user file for 10.0.0.1 holding "planted", with `mode`.
std::string PlantUserFile(const Scratch &dir, mode_t mode) {
  mkdir(dir.File("user").c_str(), 0755);
  std::string path = dir.File(TodaysName("10.0.0.1"));
  std::FILE *f = std::fopen(path.c_str(), "w");
  std::fputs("planted", f);
  std::fclose(f);
  chmod(path.c_str(), mode);
  return path;
}

TEST(UserFileLinkTest, FileOthersMayWriteIsRefusedAsALinkIs) {
  for (mode_t mode : {0666, 0620, 0602}) {
    Scratch dir;
    std::string path = PlantUserFile(dir, mode);
    ChildRun run = OpenUser(dir, "10.0.0.1");
    EXPECT_EQ(run.status, 2) << std::oct << mode;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read(path), "planted");
  }
  Scratch dir;
  PlantUserFile(dir, 0644);  // the user's own file, as tcp makes it
  EXPECT_EQ(OpenUser(dir, "10.0.0.1").status, 0);
}

TEST(UserFileLinkTest, FileOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  Scratch dir;
  std::string path = PlantUserFile(dir, 0644);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  EXPECT_EQ(OpenUser(dir, "10.0.0.1").status, 2);
  EXPECT_EQ(Read(path), "planted");
}

// Under umask 000 the file is still made writable by its user alone, so the
// next run of the day accepts it.
TEST(UserFileLinkTest, FileMadeUnderAnOpenUmaskIsReopened) {
  Scratch dir;
  mkdir(dir.File("user").c_str(), 0755);
  for (int run = 0; run < 2; ++run) {
    ChildRun child = RunInChild("", [&] {
      umask(0);
      int fd = tcplib::OpenUserFile(dir.File("user/f").c_str());
      std::printf("%d", fd >= 0 ? 1 : 0);
    });
    EXPECT_EQ(child.out, "1") << "run " << run;
  }
  struct stat st;
  ASSERT_EQ(stat(dir.File("user/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(UserFileLinkTest, RegularFileOpenedAtItsEnd) {
  Scratch dir;
  mkdir(dir.File("user").c_str(), 0755);
  int fd = tcplib::OpenUserFile(dir.File("user/f").c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "abc", 3), 3);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  close(fd);
  fd = tcplib::OpenUserFile(dir.File("user/f").c_str());
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 3);
  close(fd);
}

std::string NameFor(const char *remote) {
  char name[30];
  std::time_t day = 1733486400;  // a Friday, 6 December 2024, at noon UTC
  if (!tcplib::UserFileName(nullptr, remote, day, name)) return "refused";
  return std::string(name, std::strlen(name) - 7);  // without the date
}

TEST(RemoteAddressNameTest, LongAddressesGetDistinctDigests) {
  const char *full = "2001:0db8:85a3:0000:0000:8a2e:0370:7334";
  std::string digest = NameFor(full);
  ASSERT_EQ(digest.size(), 5u + 17u);
  EXPECT_EQ(digest.substr(0, 6), "user/~");
  EXPECT_EQ(digest.find_first_not_of("0123456789abcdef", 6), std::string::npos);
  EXPECT_NE(NameFor("2001:0db8:85a3:0000:0000:8a2e:0370:7335"), digest);
  EXPECT_NE(NameFor("123456789012345678"), NameFor("123456789012345679"));
  EXPECT_EQ(NameFor(full), digest);  // the same address, the same file
  EXPECT_EQ(NameFor("12345678901234567"), "user/12345678901234567");
  EXPECT_EQ(NameFor("fe80::1"), "user/fe80::1");
}

TEST(RemoteAddressNameTest, DigestFormIsNoAddress) {
  EXPECT_EQ(NameFor("~0123456789abcdef"), "refused");
  EXPECT_EQ(NameFor("~"), "refused");
}

TEST(RemoteAddressNameTest, ControlBytesAreRefused) {
  EXPECT_EQ(NameFor("10.0.0.1\n"), "refused");
  EXPECT_EQ(NameFor("\x1b]0;x\a"), "refused");
  EXPECT_EQ(NameFor("1\x7f"), "refused");
  EXPECT_EQ(NameFor("\t"), "refused");
}

TEST(RemoteAddressNameTest, C1ControlsAndBytesThatAreNoUtf8AreRefused) {
  for (const char *remote : {"\x85", "10.0.0.1\x9b", "\xc2\x85", "1\xc2\x9b[2J", "\xff", "\xc3",
                             "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xf0\x9f\x98"}) {
    EXPECT_EQ(NameFor(remote), "refused") << remote;
  }
  EXPECT_EQ(NameFor("caf\xc3\xa9"), "user/caf\xc3\xa9");
  EXPECT_EQ(NameFor("\xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80"), "user/\xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80");
}

TEST(RemoteAddressNameTest, TcpCreatesTheDigestNamedFile) {
  if (getlogin() != nullptr) GTEST_SKIP() << "a login name takes precedence here";
  Scratch dir;
  mkdir(dir.File("user").c_str(), 0755);
  const char *full = "2001:0db8:85a3:0000:0000:8a2e:0370:7334";
  ChildRun run = OpenUser(dir, full);
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, 23), "user/" + tcplib::RemoteAddressName(full) + " ");
  EXPECT_TRUE(Exists(dir.File(run.out)));
}

std::string Format(const std::string &format, std::vector<int> args) {
  char *data = nullptr;
  size_t size = 0;
  std::FILE *out = open_memstream(&data, &size);
  tcplib::WriteControl(out, format, args);
  std::fclose(out);
  std::string bytes(data, size);
  std::free(data);
  return bytes;
}

TEST(ControlFormatLimitTest, WidthsAndPrecisionsStopAt255) {
  EXPECT_EQ(Format("%9999999d", {7}), std::string(254, ' ') + "7");
  EXPECT_EQ(Format("%.9999999d", {7}), std::string(254, '0') + "7");
  EXPECT_EQ(Format("%-9999999d|", {7}), "7" + std::string(254, ' ') + "|");
  EXPECT_EQ(Format("%*d", {1000000, 7}), std::string(254, ' ') + "7");
  EXPECT_EQ(Format("%*d|", {-1000000, 7}), "7" + std::string(254, ' ') + "|");
  EXPECT_EQ(Format("%.*x", {1000000, 255}), std::string(253, '0') + "ff");
  EXPECT_EQ(Format("%9999999c", {'A'}), std::string(254, ' ') + "A");
  EXPECT_EQ(Format("%255d", {7}), std::string(254, ' ') + "7");
  EXPECT_EQ(Format("%254d", {7}), std::string(253, ' ') + "7");
}

}  // namespace
