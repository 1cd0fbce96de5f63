// The terminal mode browse runs in: keys one at a time, without echo, and
// the terminal always put back as it was.
//
// The mode itself is the terminal library's key mode (tcpkeys); this module
// adds the redraw requests of a resized or continued window.
#ifndef BROWSE_KEY_MODE_H_
#define BROWSE_KEY_MODE_H_

#include <string>

// Puts the terminal on standard input in key-at-a-time mode without echo,
// signal keys kept, and arranges that it is restored: by LeaveKeyMode, at
// exit, and on SIGINT, SIGTERM, SIGHUP and SIGQUIT (which then end the
// process as they would have) and SIGTSTP (the mode is set again when the
// process continues, and the screen drawn again). Signals the process ignores stay
// ignored. False, with nothing changed, when standard input is no terminal.
bool EnterKeyMode();

// Sets the bytes written to standard output when SIGINT, SIGTERM or SIGHUP
// ends browse, before the terminal is restored: the cursor below the form
// (at most 64 bytes are kept). Async-signal-safe to use from the handler.
void SetLeavingBytes(const std::string& bytes);

// Restores the terminal mode saved by EnterKeyMode; does nothing when none
// is saved. Safe to call more than once.
void LeaveKeyMode();

// A descriptor that turns readable when the window has changed size or the
// process has continued after a stop, so that the screen is drawn again;
// -1 before EnterKeyMode. TakeRedrawRequest empties it and tells whether
// there was a request.
int RedrawDescriptor();
bool TakeRedrawRequest();

// The size of the terminal on standard output (else standard input) through
// TIOCGWINSZ; false when neither tells it.
bool WindowSize(int* rows, int* columns);

#endif  // BROWSE_KEY_MODE_H_
