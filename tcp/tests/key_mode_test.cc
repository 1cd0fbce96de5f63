#include "key_mode.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "tcp.h"

namespace {

// A pseudo-terminal whose slave becomes the standard input of a child. The
// parent keeps both ends, reads the slave's mode, and steps the child along
// through two pipes.
class PtyChild {
 public:
  PtyChild() {
    signal(SIGPIPE, SIG_IGN);  // a go for a child that died fails, not the test
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (pipe(to_parent_) != 0 || pipe(to_child_) != 0) slave_ = -1;
  }
  ~PtyChild() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    for (int fd : {master_, slave_, to_parent_[0], to_parent_[1], to_child_[0], to_child_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  bool Ready() const { return slave_ >= 0; }

  // Starts `body` in a child of its own process group, with the slave as its
  // standard input and `Step` to wait for the parent. It ends with _exit(0)
  // unless `body` ends it otherwise.
  void Start(const std::function<void(PtyChild &)> &body) {
    child_ = fork();
    if (child_ == 0) {
      alarm(20);
      setpgid(0, 0);
      dup2(slave_, STDIN_FILENO);
      body(*this);
      _exit(0);
    }
    // Only the child writes to the parent and reads from it, so that a child
    // that died shows as the end of its pipe instead of a wait for ever.
    close(to_parent_[1]);
    close(to_child_[0]);
    to_parent_[1] = to_child_[0] = -1;
  }
  // In the child: tells the parent it got this far and waits for its go.
  void Step() {
    char byte = 's';
    if (write(to_parent_[1], &byte, 1) != 1 || read(to_child_[0], &byte, 1) != 1) _exit(3);
  }
  // In the parent: waits until the child has reached its next Step.
  bool Reached() {
    char byte;
    return read(to_parent_[0], &byte, 1) == 1;
  }
  void Go() {
    char byte = 'g';
    EXPECT_EQ(write(to_child_[1], &byte, 1), 1);
  }
  termios Mode() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
  }
  // Waits for the child to end; its exit status, or 128 + the signal.
  int Wait() {
    int status = 0;
    waitpid(child_, &status, 0);
    child_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid() const { return child_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  int to_parent_[2] = {-1, -1};
  int to_child_[2] = {-1, -1};
  pid_t child_ = -1;
};

bool IsKeyMode(const termios &mode) {
  return (mode.c_lflag & (ICANON | ECHO)) == 0 && mode.c_cc[VMIN] == 1 && mode.c_cc[VTIME] == 0;
}

// Line editing, echo, signal keys and flow control as a new terminal has them.
bool IsLineMode(const termios &mode) {
  return (mode.c_lflag & (ICANON | ECHO | ISIG)) == (ICANON | ECHO | ISIG) &&
         (mode.c_iflag & IXON) != 0;
}

bool SameMode(const termios &a, const termios &b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

// Polls the slave's mode for up to 5 seconds.
bool EventuallyKeyMode(const PtyChild &pty) {
  for (int k = 0; k < 500; ++k) {
    if (IsKeyMode(pty.Mode())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(KeyModeOfTest, ClearsLineEditingAndEchoAndKeepsTheRest) {
  termios found{};
  found.c_lflag = ICANON | ECHO | ISIG | IEXTEN | ECHOE;
  found.c_iflag = IXON | ICRNL;
  found.c_oflag = OPOST | ONLCR;
  found.c_cc[VMIN] = 0;
  found.c_cc[VTIME] = 5;
  termios plain = tcplib::KeyModeOf(found, 0);
  EXPECT_EQ(plain.c_lflag, static_cast<tcflag_t>(IEXTEN | ECHOE));
  EXPECT_EQ(plain.c_iflag, static_cast<tcflag_t>(ICRNL));
  EXPECT_EQ(plain.c_oflag, found.c_oflag);
  EXPECT_TRUE(IsKeyMode(plain));
  termios kept = tcplib::KeyModeOf(found, TCP_KEYS_SIGNALS | TCP_KEYS_FLOW);
  EXPECT_EQ(kept.c_lflag, static_cast<tcflag_t>(ISIG | IEXTEN | ECHOE));
  EXPECT_EQ(kept.c_iflag, static_cast<tcflag_t>(IXON | ICRNL));
  // The options turn the keys on even where the terminal had them off.
  found.c_lflag = 0;
  found.c_iflag = 0;
  EXPECT_NE(tcplib::KeyModeOf(found, TCP_KEYS_SIGNALS).c_lflag & ISIG, 0u);
  EXPECT_NE(tcplib::KeyModeOf(found, TCP_KEYS_FLOW).c_iflag & IXON, 0u);
}

TEST(KeyModeTest, EnterAndLeaveOnAPseudoTerminal) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  termios original = pty.Mode();
  ASSERT_TRUE(IsLineMode(original));
  pty.Start([](PtyChild &self) {
    if (tcpkeys(0) != 0) _exit(4);
    self.Step();
    if (tcpkeys(TCP_KEYS_SIGNALS | TCP_KEYS_FLOW) != 0) _exit(5);  // again, in key mode
    self.Step();
    tcpkeysoff();
    self.Step();
    tcpkeysoff();  // outside key mode: nothing
    _exit(0);
  });
  ASSERT_TRUE(pty.Reached());
  termios keys = pty.Mode();
  EXPECT_TRUE(IsKeyMode(keys));
  EXPECT_EQ(keys.c_lflag & ISIG, 0u);
  EXPECT_EQ(keys.c_iflag & IXON, 0u);
  EXPECT_EQ(keys.c_iflag & ICRNL, original.c_iflag & ICRNL);
  pty.Go();
  ASSERT_TRUE(pty.Reached());
  keys = pty.Mode();
  EXPECT_TRUE(IsKeyMode(keys));
  EXPECT_NE(keys.c_lflag & ISIG, 0u);
  EXPECT_NE(keys.c_iflag & IXON, 0u);
  pty.Go();
  ASSERT_TRUE(pty.Reached());
  // The second call did not take key mode for the mode to restore.
  EXPECT_TRUE(SameMode(pty.Mode(), original));
  pty.Go();
  EXPECT_EQ(pty.Wait(), 0);
  EXPECT_TRUE(SameMode(pty.Mode(), original));
}

TEST(KeyModeTest, NoTerminalGivesMinusOneAndChangesNothing) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  pty.Start([](PtyChild &) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    if (tcpkeys(0) != -1) _exit(4);
    struct sigaction action {};
    sigaction(SIGINT, nullptr, &action);
    _exit(action.sa_handler == SIG_DFL ? 0 : 5);
  });
  EXPECT_EQ(pty.Wait(), 0);
}

TEST(KeyModeTest, ExitRestoresTheMode) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  termios original = pty.Mode();
  pty.Start([](PtyChild &self) {
    if (tcpkeys(TCP_KEYS_SIGNALS) != 0) _exit(4);
    self.Step();
    std::exit(7);
  });
  ASSERT_TRUE(pty.Reached());
  EXPECT_TRUE(IsKeyMode(pty.Mode()));
  pty.Go();
  EXPECT_EQ(pty.Wait(), 7);
  EXPECT_TRUE(SameMode(pty.Mode(), original));
}

TEST(KeyModeTest, EndingSignalsRestoreAndStillEndTheProcess) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    PtyChild pty;
    ASSERT_TRUE(pty.Ready());
    termios original = pty.Mode();
    pty.Start([](PtyChild &self) {
      if (tcpkeys(TCP_KEYS_SIGNALS) != 0) _exit(4);
      self.Step();
      for (;;) pause();
    });
    ASSERT_TRUE(pty.Reached());
    ASSERT_TRUE(IsKeyMode(pty.Mode()));
    kill(pty.pid(), signal_number);
    EXPECT_EQ(pty.Wait(), 128 + signal_number) << signal_number;
    EXPECT_TRUE(SameMode(pty.Mode(), original)) << signal_number;
  }
}

TEST(KeyModeTest, StopRestoresAndContinueEntersKeyModeAgain) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  termios original = pty.Mode();
  pty.Start([](PtyChild &self) {
    if (tcpkeys(TCP_KEYS_SIGNALS) != 0) _exit(4);
    self.Step();
    self.Step();  // the stop and continue happen while this waits
    termios mode{};
    tcgetattr(STDIN_FILENO, &mode);
    std::exit(IsKeyMode(mode) ? 0 : 5);
  });
  ASSERT_TRUE(pty.Reached());
  ASSERT_TRUE(IsKeyMode(pty.Mode()));
  kill(pty.pid(), SIGTSTP);
  int status = 0;
  ASSERT_EQ(waitpid(pty.pid(), &status, WUNTRACED), pty.pid());
  ASSERT_TRUE(WIFSTOPPED(status));
  EXPECT_TRUE(SameMode(pty.Mode(), original));
  kill(pty.pid(), SIGCONT);
  EXPECT_TRUE(EventuallyKeyMode(pty));
  pty.Go();  // the wait for it was restarted, not ended
  ASSERT_TRUE(pty.Reached());
  pty.Go();
  EXPECT_EQ(pty.Wait(), 0);
  EXPECT_TRUE(SameMode(pty.Mode(), original));
}

TEST(KeyModeTest, SignalsTheProgramIgnoresOrHandlesAreLeftAlone) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  pty.Start([](PtyChild &self) {
    signal(SIGHUP, SIG_IGN);
    signal(SIGTERM, [](int) { _exit(9); });
    if (tcpkeys(TCP_KEYS_SIGNALS) != 0) _exit(4);
    self.Step();  // SIGHUP arrives meanwhile and is ignored
    self.Step();  // SIGTERM arrives meanwhile: the program's handler runs
    _exit(0);
  });
  ASSERT_TRUE(pty.Reached());
  kill(pty.pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pty.Go();
  ASSERT_TRUE(pty.Reached());
  EXPECT_TRUE(IsKeyMode(pty.Mode()));
  kill(pty.pid(), SIGTERM);
  EXPECT_EQ(pty.Wait(), 9);
}

TEST(KeyModeTest, LeavingGivesTheSignalsTheirDefaultActionAgain) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  pty.Start([](PtyChild &) {
    if (tcpkeys(0) != 0) _exit(4);
    tcpkeysoff();
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT}) {
      struct sigaction action {};
      sigaction(signal_number, nullptr, &action);
      if (action.sa_handler != SIG_DFL) _exit(5);
    }
    _exit(0);
  });
  EXPECT_EQ(pty.Wait(), 0);
}

// A handler the program installs after tcpkeys is the program's: leaving
// key mode, by tcpkeysoff or at exit, does not reset it to the default.
TEST(KeyModeTest, LeavingKeepsHandlersTheProgramInstalledAfterKeyMode) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  pty.Start([](PtyChild &self) {
    if (tcpkeys(TCP_KEYS_SIGNALS) != 0) _exit(4);
    signal(SIGTERM, [](int) { _exit(9); });
    tcpkeysoff();
    struct sigaction action {};
    sigaction(SIGINT, nullptr, &action);
    if (action.sa_handler != SIG_DFL) _exit(5);  // still the library's
    self.Step();  // SIGTERM arrives meanwhile: the program's handler runs
    _exit(0);
  });
  ASSERT_TRUE(pty.Reached());
  kill(pty.pid(), SIGTERM);
  EXPECT_EQ(pty.Wait(), 9);
}

// Registered before tcpkeys, so it runs after the library's exit handler.
void ExitWithTheTermActionFound() {
  struct sigaction action {};
  sigaction(SIGTERM, nullptr, &action);
  _exit(action.sa_handler == SIG_IGN ? 0 : 5);
}

TEST(KeyModeTest, ExitKeepsHandlersTheProgramInstalledAfterKeyMode) {
  PtyChild pty;
  ASSERT_TRUE(pty.Ready());
  termios original = pty.Mode();
  pty.Start([](PtyChild &) {
    std::atexit(ExitWithTheTermActionFound);
    if (tcpkeys(TCP_KEYS_SIGNALS) != 0) _exit(4);
    signal(SIGTERM, SIG_IGN);
    std::exit(7);
  });
  EXPECT_EQ(pty.Wait(), 0);
  EXPECT_TRUE(SameMode(pty.Mode(), original));
}

}  // namespace
