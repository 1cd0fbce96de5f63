// Screen output and the debug trace.
#include "tcp.h"

int debug = 0;

int dbgr(int flag, const char *message) {
  (void)message;
  if (debug == 0 && flag != 0) return 0;
  return 0;
}
