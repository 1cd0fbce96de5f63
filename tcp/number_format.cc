// Number display format.
#include "number_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tcp.h"

static_assert(tcplib::LongestDisplay(tcplib::kMaxDecimals) + 1 == PUNTO_OUTPUT_SIZE);

namespace tcplib {

namespace {

void WriteStars(char *output, int decimals) {
  int length = LongestDisplay(decimals);
  std::memset(output, '*', length);
  output[length] = '\0';
}

}  // namespace

}  // namespace tcplib

int punto(const char *text, char *output, int decimals) {
  double value = 0;
  std::sscanf(text, "%lf", &value);  // nothing read leaves 0
  output[0] = '\0';
  if (text[0] == '\0') return 1;
  decimals = std::clamp(decimals, 0, tcplib::kMaxDecimals);
  if (std::isnan(value)) value = 0;
  // A negative zero is not below 0: it keeps its sign through "%f" ("-0").
  bool negative = value < 0;
  if (negative) value = -value;
  if (std::isinf(value)) {
    tcplib::WriteStars(output, decimals);
    return 1;
  }
  char fixed[400];  // the largest double has 309 integer digits
  int length = std::snprintf(fixed, sizeof fixed, "%.*f", decimals, value);
  int digits = decimals > 0 ? length - decimals - 1 : length;
  if (digits > tcplib::kMaxIntegerDigits) {
    tcplib::WriteStars(output, decimals);
    return 1;
  }
  // Group the integer part: a leading group of 1 to 3 digits, then threes.
  char *out = output;
  if (negative) *out++ = '-';
  int lead = digits - 3 * ((digits - 1) / 3);
  std::memcpy(out, fixed, lead);
  out += lead;
  for (int k = lead; k < digits; k += 3) {
    *out++ = '.';
    std::memcpy(out, fixed + k, 3);
    out += 3;
  }
  if (decimals > 0) {
    *out++ = ',';
    std::memcpy(out, fixed + digits + 1, decimals);
    out += decimals;
  }
  *out = '\0';
  return 1;
}
