/* Its own `start` and `debug` beside the library's. */
#define TCP_PREFIXED_NAMES
#include "tcp.h"

#include <stdio.h>

int start = 7;
int debug = 8;

int main(void) {
  char shown[PUNTO_OUTPUT_SIZE];
  punto("1234.5", shown, 2);
  printf("%s %d %d %d\n", shown, start, debug, tcp_start);
  return 0;
}
