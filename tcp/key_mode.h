// Key mode: tcpkeys and tcpkeysoff (tcp.h) put the terminal on standard
// input into key-at-a-time input without echo, and make sure it gets its
// mode back however the process ends or stops.
//
// The mode found on entry is saved once. It is restored by tcpkeysoff, by an
// atexit handler (return from main and exit), and by handlers for the
// signals that would otherwise leave the terminal without echo: SIGINT,
// SIGTERM and SIGHUP restore, take the default action back and raise the
// signal again, so the process ends as it would have; SIGTSTP restores and
// stops the process; SIGCONT enters key mode again when the process is in
// the foreground (or standard input is not its controlling terminal). Only
// signals whose action is the default on entry are taken over, and leaving
// key mode gives the default action back only to a signal whose handler is
// still the library's: one the program installed since stays.
//
// The handlers call only async-signal-safe functions (tcsetattr, tcgetpgrp,
// getpgrp, sigaction, sigprocmask, raise) on state written before they are
// installed, and keep errno. A restore blocks SIGTTOU meanwhile, so that a
// process in the background can still restore instead of being stopped.
// The handlers restart interrupted reads, so a stop and continue while a
// key is awaited does not end the input.
#ifndef TCP_KEY_MODE_H_
#define TCP_KEY_MODE_H_

#include <termios.h>

namespace tcplib {

// The key mode for `options` (TCP_KEYS_SIGNALS, TCP_KEYS_FLOW) made from the
// mode `found`: ICANON and ECHO off, ISIG and IXON on only when the options
// keep them, VMIN 1 and VTIME 0, everything else as found.
termios KeyModeOf(const termios &found, int options);

}  // namespace tcplib

#endif  // TCP_KEY_MODE_H_
