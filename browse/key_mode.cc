#include "key_mode.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
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

void OnResize(int) { RequestRedraw(); }

void OnContinue(int signal_number) {
  if (continue_action.sa_handler != SIG_DFL && continue_action.sa_handler != SIG_IGN &&
      (continue_action.sa_flags & SA_SIGINFO) == 0) {
    continue_action.sa_handler(signal_number);
  }
  RequestRedraw();
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
  tcpkeysoff();
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
