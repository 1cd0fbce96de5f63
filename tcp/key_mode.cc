// Key mode.
#include "key_mode.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "state.h"
#include "tcp.h"

namespace tcplib {

namespace {

// The signals whose handlers give the terminal its mode back.
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT};
constexpr int kHandledCount = sizeof kHandledSignals / sizeof kHandledSignals[0];

static_assert(kHandledCount == kKeyModeSignals);

// The key-mode fields live in the library's state (state.h). They are
// written only outside the handlers, and only while no handler is installed
// or keys_active is 0, so a handler always reads a whole mode.

// Sets `mode` on standard input with SIGTTOU blocked, so that a process in
// the background is not stopped for it.
void SetModeUnstopped(const termios &mode) {
  sigset_t ttou, before;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  sigprocmask(SIG_BLOCK, &ttou, &before);
  tcsetattr(STDIN_FILENO, TCSANOW, &mode);
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

void SetAction(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int other : kHandledSignals) {
    if (other != SIGCONT) sigaddset(&action.sa_mask, other);
  }
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

void Unblock(int signal_number) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// SIGINT, SIGTERM, SIGHUP: restore, then end the process by the signal.
void OnEndingSignal(int signal_number) {
  if (State().keys_active) SetModeUnstopped(State().saved_mode);
  SetAction(signal_number, SIG_DFL);
  raise(signal_number);
  Unblock(signal_number);  // the default action happens here
}

// SIGTSTP: restore, stop, and on waking take the signal over again.
void OnStop(int signal_number) {
  int saved_errno = errno;
  if (State().keys_active) SetModeUnstopped(State().saved_mode);
  SetAction(signal_number, SIG_DFL);
  raise(signal_number);
  Unblock(signal_number);  // the process stops here until SIGCONT
  SetAction(signal_number, OnStop);
  errno = saved_errno;
}

// SIGCONT: key mode again, unless another process group has the terminal.
void OnContinue(int) {
  int saved_errno = errno;
  pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (State().keys_active && (foreground == -1 || foreground == getpgrp())) {
    tcsetattr(STDIN_FILENO, TCSANOW, &State().key_mode);
  }
  errno = saved_errno;
}

void (*HandlerFor(int signal_number))(int) {
  if (signal_number == SIGTSTP) return OnStop;
  if (signal_number == SIGCONT) return OnContinue;
  return OnEndingSignal;
}

void RestoreAtExit() { tcpkeysoff(); }

// Installs a handler for each signal whose action is the default.
void TakeOverSignals() {
  for (int k = 0; k < kHandledCount; ++k) {
    if (State().taken_over[k]) continue;
    struct sigaction current {};
    sigaction(kHandledSignals[k], nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    SetAction(kHandledSignals[k], HandlerFor(kHandledSignals[k]));
    State().taken_over[k] = true;
  }
}

// True when the action of signal `k` is still the handler TakeOverSignals
// installed, not one the program set after it.
bool StillOurs(int k) {
  struct sigaction current {};
  if (sigaction(kHandledSignals[k], nullptr, &current) != 0) return false;
  return (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == HandlerFor(kHandledSignals[k]);
}

// Gives each signal taken over its default action back, unless the program
// has since installed an action of its own, which stays.
void GiveBackSignals() {
  for (int k = 0; k < kHandledCount; ++k) {
    if (!State().taken_over[k]) continue;
    if (StillOurs(k)) SetAction(kHandledSignals[k], SIG_DFL);
    State().taken_over[k] = false;
  }
}

}  // namespace

termios KeyModeOf(const termios &found, int options) {
  termios mode = found;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  if ((options & TCP_KEYS_SIGNALS) != 0) mode.c_lflag |= ISIG;
  mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
  if ((options & TCP_KEYS_FLOW) != 0) mode.c_iflag |= IXON;
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  return mode;
}

}  // namespace tcplib

int tcpkeys(int options) {
  using namespace tcplib;
  termios found;
  if (tcgetattr(STDIN_FILENO, &found) != 0) return -1;
  bool was_active = State().keys_active != 0;
  State().keys_active = 0;  // the handlers leave the modes alone while they change
  if (!was_active) State().saved_mode = found;
  State().key_mode = KeyModeOf(State().saved_mode, options);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &State().key_mode) != 0) {
    SetModeUnstopped(State().saved_mode);
    GiveBackSignals();
    return -1;
  }
  if (!State().exit_handler_installed) State().exit_handler_installed = std::atexit(RestoreAtExit) == 0;
  TakeOverSignals();
  State().keys_active = 1;
  return 0;
}

void tcpkeysoff(void) {
  using namespace tcplib;
  if (!State().keys_active) return;
  State().keys_active = 0;
  SetModeUnstopped(State().saved_mode);
  GiveBackSignals();
}
