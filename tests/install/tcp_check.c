/* A C program on the installed terminal library: numbers through punto, the
 * constants, the process-wide state as pos and getin1 read it, the end of
 * input, and the field editor (which needs the C++ runtime at link time).
 * Its keys come from standard input: the test sends ESC [ D, then x. */
#include <stdio.h>
#include <string.h>

#include "tcp.h"

static void show_number(const char *text, int decimals) {
  char output[PUNTO_OUTPUT_SIZE];
  punto(text, output, decimals);
  printf("punto %s %d [%s]\n", text, decimals, output);
}

int main(void) {
  char reason[64];
  char text[6] = "ab";
  int key;

  show_number("1234567.891", 2);
  show_number("-0.004", 2);
  show_number("", 2);
  printf("entries %d %d %d %d %d %d\n", TC_CURSOR, TC_MSG_ROW, TC_KEY_LEFT, TC_BOX_BEGIN,
         TC_BOX_HORIZONTAL, TC_KEY_ESCAPE);
  printf("keys %d %d %d %d %d %d %d\n", KEY_BACKSPACE, KEY_CTRL_Z, KEY_NEWLINE, KEY_LEFT,
         KEY_RIGHT, KEY_ESCAPE, KEY_EXTENDED_BASE);
  printf("tcpstat %d\n", tcpstat(reason, (int)sizeof reason));
  printf("tcpkeys %d\n", tcpkeys(TCP_KEYS_SIGNALS | TCP_KEYS_FLOW));

  strcpy(tc[TC_CURSOR], "<%d,%d>");
  start = 1;
  printf("pos ");
  pos(2, 3);
  printf("\n");

  TICS = 23;
  strcpy(tc[TC_KEY_LEFT], "\033[D");
  key = getin1();
  printf("key %d eof %d\n", key, tcpeof());
  key = getin1();
  printf("key %d eof %d\n", key, tcpeof());
  key = getin1();
  printf("key %d eof %d\n", key, tcpeof());

  printf("input ");
  key = input(4, 1, 5, 0, text, 0);
  printf("\ninput %d [%s]\n", key, text);
  return 0;
}
