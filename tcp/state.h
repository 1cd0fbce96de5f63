// The library's own process-wide state, in one struct behind the C API.
//
// The described variables (tc, TICS, start, cmpar, user, fuser, debug, ddoc,
// tcputf8) stay C variables: programs read and write them by name. What the
// library keeps for itself besides them lives here, one instance for the
// process, zero (or as initialised below) at start. The key-mode fields are
// read by signal handlers: they are written only while no handler acts on
// them (see key_mode.h).
#ifndef TCP_STATE_H_
#define TCP_STATE_H_

#include <termios.h>

#include <csignal>

#include "mode.h"

namespace tcplib {

inline constexpr int kKeyModeSignals = 5;  // SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT

struct LibraryState {
  // The last table load, for tcpstat: 0 loaded, 1 missing, 2 refused, and
  // a short reason (it may name a path).
  int table_status = 1;
  char table_reason[256] = "no table loaded yet";

  // The last getin1 met the end of standard input (or a read error).
  bool input_ended = false;

  // Key mode (tcpkeys).
  termios saved_mode{};                          // the mode found by the first tcpkeys
  termios key_mode{};                            // the mode tcpkeys sets
  volatile std::sig_atomic_t keys_active = 0;    // in key mode: the handlers act
  bool taken_over[kKeyModeSignals] = {};         // tcpkeys installed a handler for the signal
  bool exit_handler_installed = false;           // the atexit restore is registered

  // The mode for today's terminals (tcpmode).
  ModeState mode;
};

// The one state of the library.
LibraryState &State();

}  // namespace tcplib

#endif  // TCP_STATE_H_
