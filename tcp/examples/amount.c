/* Edits one amount with two decimals on the terminal's own table, and prints
   what was typed. The example of tcp(3), in C. */
#include <stdio.h>
#include <tcp.h>

int main(void) {
  char amount[13] = "";                /* width + 1 bytes */
  int key;

  tcp(0);                              /* the table of this terminal */
  tcpkeys(TCP_KEYS_SIGNALS);           /* keys one at a time, no echo */
  pos(4, 2);
  fputs("AMOUNT", stdout);
  key = input(4, 12, 12, 3, amount, 0);      /* two decimals */
  coment(tcpeof() || key == KEY_ESCAPE ? "CANCELLED" : "SAVED");
  tcpkeysoff();
  printf("\n%s\n", amount);
  return 0;
}
