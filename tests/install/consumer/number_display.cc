// A C++ program built by CMake on the installed package: it shows numbers
// the way the field editor does and reads a cursor format from the table.
#include <cstdio>
#include <cstring>
#include <string>

#include "tcp.h"

// The constants stay compile-time ints to C++ callers and mix in arithmetic.
static_assert(TC_KEY_ESCAPE + 1 + KEY_EXTENDED_BASE == 202, "entry 22 gives 202");
constexpr int kLastEntry = TC_KEY_ESCAPE + 18;

std::string Display(const char* text, int decimals) {
  char output[PUNTO_OUTPUT_SIZE];
  punto(text, output, decimals);
  return output;
}

int main() {
  const char* const numbers[] = {"1234567.891", "999.996", "12345678901", "abc"};
  for (const char* text : numbers) std::printf("%s -> %s\n", text, Display(text, 2).c_str());
  std::strcpy(tc[TC_CURSOR], "(%d;%d)");
  cmpar = 10;
  pos(1, kLastEntry);
  std::printf("\n");
  return 0;
}
