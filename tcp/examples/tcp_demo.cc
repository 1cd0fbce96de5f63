// Shows a box, a message and a note on the message row, then reports the
// code of the key pressed.
//
// Entry 0 of the terminal table is read by no library routine; this program
// takes it as the terminal's clear-screen string.
#include <cstdio>

#include "tcp.h"

int main() {
  tcp(0);
  tcpkeys(TCP_KEYS_SIGNALS);  // no terminal (keys from a file): nothing to set
  std::fputs(tc[0], stdout);
  box(2, 10, 5, 30);
  pos(3, 12);
  std::fputs("INSIDE THE BOX", stdout);
  mens("HELLO FROM TCP", 8);
  coment("PRESS A KEY");
  int key = getin1();
  pos(10, 0);
  std::printf("KEY %d\n", key);
  return 0;
}
