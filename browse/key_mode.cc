#include "key_mode.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "tcp.h"

namespace {

int redraw_pipe[2] = {-1, -1};
bool in_key_mode = false;
// The SIGCONT action found when key mode began (the library's own, which
// sets key mode again), run before a redraw is asked for.
struct sigaction continue_action {};
// SIGQUIT was at its default action on entry and OnQuit handles it.
bool quit_taken_over = false;

void RequestRedraw() {
  const int saved_errno = errno;
  if (redraw_pipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(redraw_pipe[1], &byte, 1);
    (void)ignored;
  }
  errno = saved_errno;
}

// The bytes that put the cursor below the form, written when a signal ends
// browse: two buffers, so that one is complete while the other is filled.
constexpr size_t kLeavingSize = 64;
char leaving[2][kLeavingSize];
size_t leaving_length[2] = {0, 0};
volatile sig_atomic_t leaving_current = 0;
// The actions found for the ending signals (the library's, which restore the
// terminal and end the process), run after the cursor is moved.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction ending_actions[3] {};
bool ending_taken[3] = {false, false, false};

void OnResize(int) {
  RequestRedraw();
  tcpresized();  // wakes a key the library awaits
}

void OnEnding(int signal_number) {
  const int at = leaving_current;
  ssize_t ignored = write(STDOUT_FILENO, leaving[at], leaving_length[at]);
  (void)ignored;
  for (size_t k = 0; k < 3; ++k) {
    if (kEndingSignals[k] != signal_number) continue;
    const struct sigaction& found = ending_actions[k];
    if ((found.sa_flags & SA_SIGINFO) == 0 && found.sa_handler != SIG_DFL && found.sa_handler != SIG_IGN) {
      found.sa_handler(signal_number);
    }
  }
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void OnContinue(int signal_number) {
  if (continue_action.sa_handler != SIG_DFL && continue_action.sa_handler != SIG_IGN &&
      (continue_action.sa_flags & SA_SIGINFO) == 0) {
    continue_action.sa_handler(signal_number);
  }
  RequestRedraw();
  tcpresized();
}

// SIGQUIT (Ctrl-\): the terminal mode back, then the default action (end
// with a core dump) as if browse had not caught it.
void OnQuit(int signal_number) {
  tcpkeysoff();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);  // the default action happens here
}

void Install(int signal_number, void (*handler)(int), struct sigaction* previous) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;  // key reads go on after a resize
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, previous);
}

}  // namespace

bool EnterKeyMode() {
  if (in_key_mode) return true;
  if (redraw_pipe[0] < 0 && pipe(redraw_pipe) == 0) {
    for (int fd : redraw_pipe) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  // The library's key mode, with Ctrl-C and Ctrl-Z still sending signals:
  // it restores the terminal at exit and on SIGINT, SIGTERM, SIGHUP and
  // SIGTSTP, and sets key mode again on SIGCONT.
  if (tcpkeys(TCP_KEYS_SIGNALS) != 0) return false;
  in_key_mode = true;
  Install(SIGWINCH, OnResize, nullptr);
  Install(SIGCONT, OnContinue, &continue_action);
  struct sigaction quit {};
  sigaction(SIGQUIT, nullptr, &quit);
  quit_taken_over = (quit.sa_flags & SA_SIGINFO) == 0 && quit.sa_handler == SIG_DFL;
  if (quit_taken_over) Install(SIGQUIT, OnQuit, nullptr);
  // Signals that end browse: the cursor below the form first. One the
  // program ignores stays ignored.
  for (size_t k = 0; k < 3; ++k) {
    struct sigaction found {};
    sigaction(kEndingSignals[k], nullptr, &found);
    ending_taken[k] = (found.sa_flags & SA_SIGINFO) != 0 || found.sa_handler != SIG_IGN;
    if (ending_taken[k]) Install(kEndingSignals[k], OnEnding, &ending_actions[k]);
  }
  return true;
}

void LeaveKeyMode() {
  if (!in_key_mode) return;
  in_key_mode = false;
  sigaction(SIGCONT, &continue_action, nullptr);
  if (quit_taken_over) {
    struct sigaction quit {};
    sigaction(SIGQUIT, nullptr, &quit);
    if ((quit.sa_flags & SA_SIGINFO) == 0 && quit.sa_handler == OnQuit) signal(SIGQUIT, SIG_DFL);
    quit_taken_over = false;
  }
  for (size_t k = 0; k < 3; ++k) {
    if (ending_taken[k]) sigaction(kEndingSignals[k], &ending_actions[k], nullptr);
    ending_taken[k] = false;
  }
  tcpkeysoff();
}

void SetLeavingBytes(const std::string& bytes) {
  const int next = 1 - leaving_current;
  leaving_length[next] = std::min(bytes.size(), kLeavingSize);
  std::memcpy(leaving[next], bytes.data(), leaving_length[next]);
  leaving_current = next;
}

int RedrawDescriptor() { return redraw_pipe[0]; }

bool TakeRedrawRequest() {
  if (redraw_pipe[0] < 0) return false;
  bool requested = false;
  char bytes[64];
  while (read(redraw_pipe[0], bytes, sizeof bytes) > 0) requested = true;
  return requested;
}

bool WindowSize(int* rows, int* columns) {
  for (int fd : {STDOUT_FILENO, STDIN_FILENO}) {
    winsize size {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
      *rows = size.ws_row;
      *columns = size.ws_col;
      return true;
    }
  }
  return false;
}
