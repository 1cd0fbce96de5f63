// Control-string formatter.
#include "control_format.h"

#include <climits>
#include <cstring>

namespace tcplib {

namespace {

constexpr long long kNumberLimit = INT_MAX;  // argument positions saturate here
// Widths and precisions saturate here: no terminal needs more, and a table
// planted with "%9999999d" would otherwise write megabytes per cursor move.
constexpr long long kAmountLimit = 255;

// One conversion as printf reads it.
struct Conversion {
  bool left = false;        // '-': pad on the right
  bool plus = false;        // '+': sign on non-negative signed values
  bool space = false;       // ' ': blank before non-negative signed values
  bool alternate = false;   // '#': 0 before octal, 0x before hexadecimal
  bool zero = false;        // '0': pad with zeros after sign and prefix
  long long width = 0;      // minimum field width
  long long precision = -1; // minimum digits; -1 when not given
  int narrow = 0;           // 0 int, 1 short (h), 2 char (hh)
  char conversion = 0;      // d i u o x X c or %
  int value = 0;            // the argument converted
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the decimal digits at f[i], moving i past them.
long long ReadNumber(std::string_view f, size_t &i) {
  long long n = 0;
  for (; i < f.size() && IsDigit(f[i]); ++i) {
    n = n * 10 + (f[i] - '0');
    if (n > kNumberLimit) n = kNumberLimit;
  }
  return n;
}

// An argument position "n$" at f[i]: returns n and moves past it, or returns
// 0 and leaves i where it was.
long long ReadPosition(std::string_view f, size_t &i) {
  size_t j = i;
  if (j >= f.size() || f[j] < '1' || f[j] > '9') return 0;
  long long n = ReadNumber(f, j);
  if (j >= f.size() || f[j] != '$') return 0;
  i = j + 1;
  return n;
}

// The argument at `position` (1-based), or the next in order when it is 0.
// False when there is no such argument.
bool TakeArgument(std::span<const int> args, long long position, size_t &next, int &value) {
  size_t index = position > 0 ? static_cast<size_t>(position - 1) : next++;
  if (index >= args.size()) return false;
  value = args[index];
  return true;
}

bool ReadFlag(char c, Conversion &s) {
  switch (c) {
    case '-': s.left = true; return true;
    case '+': s.plus = true; return true;
    case ' ': s.space = true; return true;
    case '#': s.alternate = true; return true;
    case '0': s.zero = true; return true;
    case '\'': return true;  // grouping: none in the "C" locale
    default: return false;
  }
}

// A width or precision: digits, or '*' with an optional "m$" taking an int
// argument. False when that argument is missing.
bool ReadAmount(std::string_view f, size_t &i, std::span<const int> args, size_t &next,
                long long &amount, bool &from_argument) {
  from_argument = i < f.size() && f[i] == '*';
  if (!from_argument) {
    amount = ReadNumber(f, i);
    return true;
  }
  ++i;
  int value;
  if (!TakeArgument(args, ReadPosition(f, i), next, value)) return false;
  amount = value;
  return true;
}

// Reads the conversion after a '%' at f[i], moving i past its last
// character. False when it must be written literally: an unknown or missing
// conversion, or an argument beyond those given.
bool ReadConversion(std::string_view f, size_t &i, std::span<const int> args, size_t &next, Conversion &s) {
  long long position = ReadPosition(f, i);
  while (i < f.size() && ReadFlag(f[i], s)) ++i;
  bool from_argument;
  if (!ReadAmount(f, i, args, next, s.width, from_argument)) return false;
  if (s.width < 0) {  // a negative '*' width means '-' and its magnitude
    s.left = true;
    s.width = -s.width;
  }
  if (i < f.size() && f[i] == '.') {
    ++i;
    if (!ReadAmount(f, i, args, next, s.precision, from_argument)) return false;
    if (s.precision < 0) s.precision = -1;  // a negative '*' precision counts as none
  }
  if (s.width > kAmountLimit) s.width = kAmountLimit;
  if (s.precision > kAmountLimit) s.precision = kAmountLimit;
  for (; s.narrow < 2 && i < f.size() && f[i] == 'h'; ++i) ++s.narrow;
  if (i >= f.size()) return false;
  s.conversion = f[i++];
  switch (s.conversion) {
    case '%':
      return true;
    case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': case 'c':
      return TakeArgument(args, position, next, s.value);
    default:
      return false;
  }
}

void Repeat(std::FILE *out, char c, long long count) {
  for (; count > 0; --count) std::putc(c, out);
}

void WriteCharacter(std::FILE *out, const Conversion &s) {
  if (!s.left) Repeat(out, ' ', s.width - 1);
  std::putc(static_cast<unsigned char>(s.value), out);
  if (s.left) Repeat(out, ' ', s.width - 1);
}

void WriteInteger(std::FILE *out, const Conversion &s) {
  bool is_signed = s.conversion == 'd' || s.conversion == 'i';
  bool negative = false;
  unsigned long long magnitude;
  if (is_signed) {
    long long v = s.narrow == 2 ? static_cast<signed char>(s.value)
                : s.narrow == 1 ? static_cast<short>(s.value) : s.value;
    negative = v < 0;
    magnitude = static_cast<unsigned long long>(negative ? -v : v);
  } else {
    magnitude = s.narrow == 2 ? static_cast<unsigned char>(s.value)
              : s.narrow == 1 ? static_cast<unsigned short>(s.value)
                              : static_cast<unsigned int>(s.value);
  }
  unsigned base = s.conversion == 'o' ? 8 : (s.conversion == 'x' || s.conversion == 'X') ? 16 : 10;
  const char *symbols = s.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

  char digits[24];  // least significant first
  int count = 0;
  bool non_zero = magnitude != 0;
  if (non_zero || s.precision != 0) {
    do {
      digits[count++] = symbols[magnitude % base];
      magnitude /= base;
    } while (magnitude != 0);
  }
  long long zeros = s.precision > count ? s.precision - count : 0;
  if (s.conversion == 'o' && s.alternate && zeros == 0 && (count == 0 || digits[count - 1] != '0')) {
    zeros = 1;
  }
  const char *prefix = "";
  if (is_signed) {
    prefix = negative ? "-" : s.plus ? "+" : s.space ? " " : "";
  } else if (s.alternate && non_zero && base == 16) {
    prefix = s.conversion == 'X' ? "0X" : "0x";
  }
  long long length = static_cast<long long>(std::strlen(prefix)) + zeros + count;
  long long pad = s.width > length ? s.width - length : 0;
  bool zero_pad = s.zero && !s.left && s.precision < 0;

  if (!s.left && !zero_pad) Repeat(out, ' ', pad);
  std::fputs(prefix, out);
  if (zero_pad) Repeat(out, '0', pad);
  Repeat(out, '0', zeros);
  while (count > 0) std::putc(digits[--count], out);
  if (s.left) Repeat(out, ' ', pad);
}

}  // namespace

void WriteControl(std::FILE *out, std::string_view format, std::span<const int> args) {
  size_t next = 0;  // the next argument taken in order
  size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      std::putc(format[i++], out);
      continue;
    }
    size_t begin = i++;
    Conversion s;
    if (!ReadConversion(format, i, args, next, s)) {
      std::fwrite(format.data() + begin, 1, i - begin, out);
    } else if (s.conversion == '%') {
      std::putc('%', out);
    } else if (s.conversion == 'c') {
      WriteCharacter(out, s);
    } else {
      WriteInteger(out, s);
    }
  }
}

}  // namespace tcplib
