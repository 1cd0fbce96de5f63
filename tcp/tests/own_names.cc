// A source file of a program with globals of its own under the names the
// library describes: it asks for the library's tcp_ names instead.
#define TCP_PREFIXED_NAMES
#include "tcp.h"

int start = 41;
int debug = 42;
char user[8] = "mine";

int OwnStart() { return start; }
int OwnDebug() { return debug; }
int LibraryStart() { return tcp_start; }
int LibraryDebug() { return tcp_debug; }
