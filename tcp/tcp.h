// tcp: a small library for character terminals.
//
// Everything a terminal program needs goes through a per-terminal table of
// control strings and key sequences; the library knows no terminal's codes of
// its own. The query tool uses only the debug trace `dbgr`, which is silent
// while `debug` is 0.
#ifndef TCP_TCP_H_
#define TCP_TCP_H_

// Process-wide switch for the debug trace; 0 at start, nothing in the system sets it.
extern int debug;

// Debug trace. With `debug` 0 and a non-zero flag it does nothing and returns 0.
int dbgr(int flag, const char *message);

#endif  // TCP_TCP_H_
