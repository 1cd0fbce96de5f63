// Cell output.
#include "cell_output.h"

#include <cstdio>
#include <string>

#include "code_page.h"
#include "mode.h"

#include "tcp.h"

// Process-wide switch for UTF-8 echo; 0 keeps every byte as it is stored.
int tcputf8;

namespace tcplib {

const char *Utf8Of(int byte) {
  switch (byte & 0xFF) {
    case 0x82: return "\xC3\xA9";  // e acute
    case 0xA0: return "\xC3\xA1";  // a acute
    case 0xA1: return "\xC3\xAD";  // i acute
    case 0xA2: return "\xC3\xB3";  // o acute
    case 0xA3: return "\xC3\xBA";  // u acute
    case 0xA4: return "\xC3\xB1";  // n with tilde
    case 0xA5: return "\xC3\x91";  // N with tilde
    case 0xA6: return "\xC2\xAA";  // feminine ordinal
    case 0xA7: return "\xC2\xBA";  // masculine ordinal
    case 0xAB: return "\xC2\xBD";  // one half
    case 0xAC: return "\xC2\xBC";  // one quarter
    default: return nullptr;
  }
}

void WriteCell(int byte) {
  if (tcputf8 != 0 && ModeOn(TCP_MODE_TEXT) && (byte & 0xFF) >= 128) {
    std::string utf8;
    AppendUtf8(UnicodeOfCp437(byte), &utf8);
    std::fputs(utf8.c_str(), stdout);
    return;
  }
  const char *utf8 = tcputf8 != 0 ? Utf8Of(byte) : nullptr;
  if (utf8 != nullptr) {
    std::fputs(utf8, stdout);
  } else {
    std::putchar(byte);
  }
}

void WriteCells(const char *text) {
  if (tcputf8 == 0) {
    std::fputs(text, stdout);
    return;
  }
  for (; *text != '\0'; ++text) WriteCell(static_cast<unsigned char>(*text));
}

}  // namespace tcplib
