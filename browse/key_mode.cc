#include "key_mode.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

namespace {

termios saved_mode;
volatile sig_atomic_t mode_saved = 0;
int redraw_pipe[2] = {-1, -1};

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void SetKeyMode() {
  termios keys = saved_mode;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &keys);
}

// Only async-signal-safe calls from here on.
void RestoreMode() {
  if (mode_saved) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
}

void RequestRedraw() {
  const int saved_errno = errno;
  if (redraw_pipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(redraw_pipe[1], &byte, 1);
    (void)ignored;
  }
  errno = saved_errno;
}

// Restores the terminal, then lets the signal do what it does by default.
void OnEndingSignal(int signal_number) {
  RestoreMode();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Restores the terminal and stops; once continued, sets the key mode again
// and asks for the screen to be drawn again.
void OnStop(int) {
  const int saved_errno = errno;
  RestoreMode();
  signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);
  // Continued.
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  struct sigaction again {};
  again.sa_handler = OnStop;
  again.sa_flags = SA_RESTART;
  sigemptyset(&again.sa_mask);
  sigaction(SIGTSTP, &again, nullptr);
  if (mode_saved) SetKeyMode();
  RequestRedraw();
  errno = saved_errno;
}

void OnResize(int) { RequestRedraw(); }

void Install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;  // key reads go on after a resize
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

bool EnterKeyMode() {
  if (mode_saved) return true;
  if (tcgetattr(STDIN_FILENO, &saved_mode) != 0) return false;
  if (redraw_pipe[0] < 0 && pipe(redraw_pipe) == 0) {
    for (int fd : redraw_pipe) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  // A signal ignored from the start (browse run under nohup, say) stays so.
  for (int s : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    Install(s, OnEndingSignal);
  }
  Install(SIGTSTP, OnStop);
  Install(SIGWINCH, OnResize);
  mode_saved = 1;
  static bool at_exit_set = false;
  if (!at_exit_set) at_exit_set = std::atexit(LeaveKeyMode) == 0;
  SetKeyMode();
  return true;
}

void LeaveKeyMode() {
  if (!mode_saved) return;
  RestoreMode();
  mode_saved = 0;
  for (int s : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == OnEndingSignal) signal(s, SIG_DFL);
  }
  signal(SIGTSTP, SIG_DFL);
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
