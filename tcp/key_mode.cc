// Key mode.
#include "key_mode.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tcp.h"

namespace tcplib {

namespace {

// The signals whose handlers give the terminal its mode back.
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT};
constexpr int kHandledCount = sizeof kHandledSignals / sizeof kHandledSignals[0];

// Written only outside the handlers, and only while no handler is installed
// or `active` is 0, so a handler always reads a whole mode.
termios saved_mode;            // the mode found by the first tcpkeys
termios key_mode;              // the mode tcpkeys sets
volatile sig_atomic_t active;  // in key mode: the handlers act
bool taken_over[kHandledCount];  // tcpkeys installed a handler for the signal
bool exit_handler_installed;

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
  if (active) SetModeUnstopped(saved_mode);
  SetAction(signal_number, SIG_DFL);
  raise(signal_number);
  Unblock(signal_number);  // the default action happens here
}

// SIGTSTP: restore, stop, and on waking take the signal over again.
void OnStop(int signal_number) {
  int saved_errno = errno;
  if (active) SetModeUnstopped(saved_mode);
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
  if (active && (foreground == -1 || foreground == getpgrp())) {
    tcsetattr(STDIN_FILENO, TCSANOW, &key_mode);
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
    if (taken_over[k]) continue;
    struct sigaction current {};
    sigaction(kHandledSignals[k], nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    SetAction(kHandledSignals[k], HandlerFor(kHandledSignals[k]));
    taken_over[k] = true;
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
    if (!taken_over[k]) continue;
    if (StillOurs(k)) SetAction(kHandledSignals[k], SIG_DFL);
    taken_over[k] = false;
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
  bool was_active = active != 0;
  active = 0;  // the handlers leave the modes alone while they change
  if (!was_active) saved_mode = found;
  key_mode = KeyModeOf(saved_mode, options);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &key_mode) != 0) {
    SetModeUnstopped(saved_mode);
    GiveBackSignals();
    return -1;
  }
  if (!exit_handler_installed) exit_handler_installed = std::atexit(RestoreAtExit) == 0;
  TakeOverSignals();
  active = 1;
  return 0;
}

void tcpkeysoff(void) {
  using namespace tcplib;
  if (!active) return;
  active = 0;
  SetModeUnstopped(saved_mode);
  GiveBackSignals();
}
