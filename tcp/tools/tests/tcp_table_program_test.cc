// The tcp-table program as a user runs it: exit statuses, messages, what
// is written, and the ANSI example table reproduced byte for byte.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "terminfo_source.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

mode_t Mode(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    char scratch[] = "/tmp/tcp-table-program.XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    dir_ = scratch;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Runs tcp-table with `arguments` (shell words) and standard input from
  // /dev/null.
  Outcome Tool(const std::string &arguments) {
    std::string command = std::string("'") + TCP_TABLE_PROGRAM + "' " + arguments + " </dev/null >'" + dir_ +
                          "/out' 2>'" + dir_ + "/err'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(dir_ + "/out"), Read(dir_ + "/err")};
  }
  static bool HasTerminal(const char *name) {
    std::string error;
    return tcptable::ReadCapabilities(name, &error).has_value();
  }

  std::string dir_;
};

TEST_F(Program, ReproducesTheAnsiExampleTableForXtermByteForByte) {
  if (!HasTerminal("xterm")) GTEST_SKIP() << "no xterm in the terminal database";
  ASSERT_EQ(std::system(("sh '" ANSI_TABLE_SCRIPT "' '" + dir_ + "/ansi'").c_str()), 0);
  Outcome run = Tool("-T xterm --plain-box --entries 23 --entry '3=\\E[m' --output '" + dir_ + "/made'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read(dir_ + "/made"), Read(dir_ + "/ansi"));
  EXPECT_EQ(Read(dir_ + "/ansi").size(), 75u);  // the script did write it
}

TEST_F(Program, DumpShowsATableReadably) {
  ASSERT_EQ(std::system(("sh '" ANSI_TABLE_SCRIPT "' '" + dir_ + "/ansi'").c_str()), 0);
  Outcome run = Tool("--dump '" + dir_ + "/ansi'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "TICS 23  start 1  cmpar 0\n"
            "  0  clear screen           \\E[H\\E[2J\n"
            "  1  TC_CURSOR              \\E[%d;%dH\n"
            "  2  TC_MSG_ON              \\E[7m\n"
            "  3  TC_MSG_OFF             \\E[m\n"
            "  4  unused\n"
            "  5  TC_MSG_ROW             ^W  (row 23)\n"
            "  6  TC_KEY_BACKSPACE       ^?\n"
            "  7  TC_KEY_CTRL_Z          \\E[A\n"
            "  8  TC_KEY_NEWLINE         \\E[B\n"
            "  9  TC_KEY_LEFT            \\E[D\n"
            " 10  TC_KEY_RIGHT           \\E[C\n"
            " 11  TC_BOX_BEGIN\n"
            " 12  TC_BOX_END\n"
            " 13  TC_BOX_TOP_RIGHT       +\n"
            " 14  TC_BOX_TOP_LEFT        +\n"
            " 15  TC_BOX_BOTTOM_LEFT     +\n"
            " 16  TC_BOX_BOTTOM_RIGHT    +\n"
            " 17  TC_BOX_VERTICAL        |\n"
            " 18  TC_BOX_HORIZONTAL      -\n"
            " 19  unused\n"
            " 20  unused\n"
            " 21  TC_KEY_ESCAPE          \\EOP\n"
            " 22  extended 202 F2        \\EOQ\n");
  run = Tool("--dump '" + dir_ + "/none'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("tcp-table: cannot open '" + dir_ + "/none'"), std::string::npos) << run.err;
  run = Tool("--dump '" + dir_ + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("is no regular file"), std::string::npos) << run.err;
}

TEST_F(Program, UnknownTerminalIsNamedAndNothingIsWritten) {
  Outcome run = Tool("-T no-such-terminal-xyz --output '" + dir_ + "/made'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tcp-table: the terminal database has no terminal 'no-such-terminal-xyz'\n");
  EXPECT_FALSE(Exists(dir_ + "/made"));
  run = Tool("-T no-such-terminal-xyz");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(Program, UnwritableTargetsFailWithoutWritingElsewhere) {
  Outcome run = Tool("-T vt100 --output '" + dir_ + "/missing/made'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("tcp-table: cannot open the folder '" + dir_ + "/missing'"), std::string::npos)
      << run.err;
  run = Tool("-T vt100 --install");  // standard input is /dev/null
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("tcp-table: standard input is no terminal"), std::string::npos) << run.err;
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir_ + "' | grep -v -x -e out -e err)\"").c_str()), 0);
}

TEST_F(Program, OutputRefusesADeviceOrFifoAndLeavesItInPlace) {
  if (!HasTerminal("vt100")) GTEST_SKIP() << "no vt100 in the terminal database";
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0644), 0);
  Outcome run = Tool("-T vt100 --output '" + dir_ + "/fifo'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.substr(run.err.find("tcp-table: '")),
            "tcp-table: '" + dir_ + "/fifo' is no regular file\n");
  EXPECT_TRUE(S_ISFIFO(Mode(dir_ + "/fifo")));
  // A link to a FIFO is replaced, as any link is; the FIFO stays.
  ASSERT_EQ(symlink((dir_ + "/fifo").c_str(), (dir_ + "/link").c_str()), 0);
  EXPECT_EQ(Tool("-T vt100 --output '" + dir_ + "/link'").status, 0);
  EXPECT_TRUE(S_ISREG(Mode(dir_ + "/link")));
  EXPECT_TRUE(S_ISFIFO(Mode(dir_ + "/fifo")));
  if (geteuid() != 0) return;  // a device node needs root
  ASSERT_EQ(mknod((dir_ + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  EXPECT_EQ(Tool("-T vt100 --output '" + dir_ + "/null'").status, 1);
  EXPECT_TRUE(S_ISCHR(Mode(dir_ + "/null")));
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir_ + "' | grep -v -x -e out -e err -e fifo -e link -e null)\"").c_str()), 0);
}

// The example script writes the ANSI table only where tcp-table --install
// would: through no link, into no folder another account may change.
TEST_F(Program, AnsiExampleScriptRefusesLinksAndFoldersOthersMayWrite) {
  auto script = [&](const std::string &target) {
    std::string command = "umask 000; sh '" ANSI_TABLE_SCRIPT "' '" + target + "' 2>'" + dir_ + "/err'";
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  ASSERT_EQ(script(dir_ + "/table"), 0);
  EXPECT_EQ(Mode(dir_ + "/table") & 07777, 0644u);  // one the library loads
  std::ofstream(dir_ + "/victim") << "precious";
  ASSERT_EQ(symlink((dir_ + "/victim").c_str(), (dir_ + "/link").c_str()), 0);
  EXPECT_EQ(script(dir_ + "/link"), 1);
  EXPECT_EQ(Read(dir_ + "/err"), "ansi_table.sh: '" + dir_ + "/link' is a symbolic link; nothing written\n");
  EXPECT_EQ(Read(dir_ + "/victim"), "precious");
  ASSERT_EQ(mkdir((dir_ + "/open").c_str(), 0777), 0);
  ASSERT_EQ(chmod((dir_ + "/open").c_str(), 0777), 0);
  EXPECT_EQ(script(dir_ + "/open/table"), 1);
  EXPECT_NE(Read(dir_ + "/err").find("the folder '" + dir_ + "/open' may be written by others"),
            std::string::npos);
  ASSERT_EQ(symlink((dir_ + "/open").c_str(), (dir_ + "/dev").c_str()), 0);
  EXPECT_EQ(script(dir_ + "/dev/table"), 1);
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0644), 0);
  EXPECT_EQ(script(dir_ + "/fifo"), 1);
  EXPECT_TRUE(S_ISFIFO(Mode(dir_ + "/fifo")));
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir_ + "/open')\"").c_str()), 0);
  if (geteuid() != 0) return;  // giving a folder away needs root
  ASSERT_EQ(mkdir((dir_ + "/theirs").c_str(), 0755), 0);
  ASSERT_EQ(chown((dir_ + "/theirs").c_str(), 12345, 12345), 0);
  EXPECT_EQ(script(dir_ + "/theirs/table"), 1);
  EXPECT_NE(Read(dir_ + "/err").find("belongs to another user (uid 12345)"), std::string::npos);
}

TEST_F(Program, NotesGoToStandardErrorAndTheTableIsStillWritten) {
  if (!HasTerminal("vt100")) GTEST_SKIP() << "no vt100 in the terminal database";
  Outcome run = Tool("-T vt100");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "tcp-table: vt100 names no sequence for F11, F12, Home, End, Insert, Delete, PgUp, PgDn: "
            "their entries are left empty\n");
  EXPECT_EQ(run.out.substr(0, 3), std::string("\x1f\x01\x00", 3));  // TICS 31, start 1
  EXPECT_EQ(run.out.back(), '\xff');
}

TEST_F(Program, UsageErrorsExitTwo) {
  for (const char *arguments : {"--bogus", "-T", "--lines 0", "--entries 41", "--entry 40=x", "--entry 3",
                                "--entry '3=\\q'", "--install --output x", "--dump x --plain-box"}) {
    Outcome run = Tool(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_EQ(run.err.rfind("tcp-table: ", 0), 0u) << arguments << ": " << run.err;
    EXPECT_NE(run.err.find("usage: tcp-table"), std::string::npos) << arguments;
  }
}

}  // namespace

namespace {

TEST_F(Program, RefusesATerminalWithoutCursorAddressing) {
  if (!HasTerminal("dumb")) GTEST_SKIP() << "the terminal database has no dumb";
  Outcome o = Tool("-T dumb --output '" + dir_ + "/table'");
  EXPECT_EQ(o.status, 1);
  EXPECT_FALSE(Exists(dir_ + "/table"));
  EXPECT_NE(o.err.find("dumb has no cursor addressing"), std::string::npos) << o.err;
  // A cursor address given by hand makes a table after all.
  o = Tool("-T dumb --entry '1=\\E[%d;%dH' --output '" + dir_ + "/table'");
  EXPECT_EQ(o.status, 0) << o.err;
}

}  // namespace
