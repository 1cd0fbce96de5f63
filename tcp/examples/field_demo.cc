// Edits an amount (two decimals) and a date, then shows what was stored.
// A refused date is edited again, unless the input has ended. Entry 0 of the
// terminal table is taken as the terminal's clear-screen string.
#include <cstdio>

#include "tcp.h"

int main() {
  tcp(0);
  tcpkeys(TCP_KEYS_SIGNALS);  // no terminal (keys from a file): nothing to set
  char amount[13] = "";
  char date[9] = "";
  std::fputs(tc[0], stdout);
  pos(4, 2);
  std::fputs("AMOUNT", stdout);
  pos(6, 2);
  std::fputs("DATE", stdout);
  int amount_key = input(4, 12, 12, 3, amount, 0);
  int date_key;
  while ((date_key = input(6, 12, 8, 8, date, 0)) == 101 && !tcpeof()) {
  }
  pos(10, 0);
  std::printf("AMOUNT=%s DATE=%s KEYS=%d,%d\n", amount, date, amount_key, date_key);
  if (tcpeof()) return 1;
  pos(11, 0);
  std::fputs("PRESS A KEY", stdout);
  std::fflush(stdout);
  getin1();
  return 0;
}
