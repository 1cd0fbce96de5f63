#include "escape.h"

std::string EscapeControlBytes(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char byte : text) {
    const unsigned char c = static_cast<unsigned char>(byte);
    if (c >= 32 && c < 127) {
      out += byte;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
