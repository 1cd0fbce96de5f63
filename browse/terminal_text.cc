#include "terminal_text.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>

namespace {

bool IsControl(unsigned byte) { return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F); }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool IsUtf8Name(const std::string& codeset) {
  const std::string lower = Lower(codeset);
  return lower == "utf-8" || lower == "utf8";
}

// One character through `cd`, or "" when it cannot be converted.
std::string ConvertOne(iconv_t cd, std::string_view in) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string input(in);
  char out[16];
  char* in_ptr = input.data();
  size_t in_left = input.size();
  char* out_ptr = out;
  size_t out_left = sizeof out;
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) || in_left != 0) return "";
  return std::string(out, static_cast<size_t>(out_ptr - out));
}

// Whether the UTF-8 sequence `bytes` is a C0 or C1 control character.
bool IsUtf8Control(std::string_view bytes) {
  if (bytes.size() == 1) return IsControl(static_cast<unsigned char>(bytes[0]));
  return bytes.size() == 2 && static_cast<unsigned char>(bytes[0]) == 0xC2 &&
         static_cast<unsigned char>(bytes[1]) < 0xA0;
}

// The length of the well-formed UTF-8 character at the start of `text`, 0
// when there is none.
size_t Utf8CharLength(std::string_view text) {
  const unsigned lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
  }
  const unsigned second = static_cast<unsigned char>(text.size() > 1 ? text[1] : 0);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90)) {
    return 0;  // overlong, surrogate or beyond U+10FFFF
  }
  return length;
}

}  // namespace

bool ParseStoreEncoding(std::string_view name, StoreEncoding* encoding) {
  const std::string lower = Lower(name);
  if (lower == "cp437" || lower == "ibm437") {
    *encoding = StoreEncoding::kCp437;
  } else if (lower == "latin1" || lower == "iso-8859-1") {
    *encoding = StoreEncoding::kLatin1;
  } else if (lower == "utf8" || lower == "utf-8") {
    *encoding = StoreEncoding::kUtf8;
  } else {
    return false;
  }
  return true;
}

TerminalText::TerminalText() {
  for (unsigned b = 0; b < 256; ++b) bytes_[b] = IsControl(b) ? "?" : std::string(1, static_cast<char>(b));
}

bool TerminalText::Make(StoreEncoding store, const std::string& codeset, TerminalText* text, std::string* why) {
  TerminalText made;
  made.utf8_store_ = store == StoreEncoding::kUtf8;
  made.utf8_terminal_ = IsUtf8Name(codeset);
  const char* from = store == StoreEncoding::kCp437 ? "CP437" : store == StoreEncoding::kLatin1 ? "ISO-8859-1" : "UTF-8";
  iconv_t cd = iconv_open(codeset.c_str(), from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *why = std::string("cannot convert from ") + from + " to " + codeset;
    return false;
  }
  for (unsigned b = 0x80; b < 256 && !made.utf8_store_; ++b) {
    std::string out = ConvertOne(cd, std::string(1, static_cast<char>(b)));
    bool control = made.utf8_terminal_ ? IsUtf8Control(out)
                                       : std::any_of(out.begin(), out.end(), [](char c) {
                                           return IsControl(static_cast<unsigned char>(c));
                                         });
    made.bytes_[b] = out.empty() || control ? "?" : out;
  }
  iconv_close(cd);
  *text = std::move(made);
  return true;
}

std::string TerminalText::Convert(std::string_view stored) const {
  if (utf8_store_) return ConvertUtf8(stored);
  std::string out;
  out.reserve(stored.size());
  for (char c : stored) out += bytes_[static_cast<unsigned char>(c)];
  return out;
}

// A UTF-8 store: well-formed characters pass to a UTF-8 terminal (controls
// as '?'); a terminal of another encoding gets ASCII, '?' for the rest;
// each malformed byte shows as '?'.
std::string TerminalText::ConvertUtf8(std::string_view stored) const {
  std::string out;
  while (!stored.empty()) {
    size_t length = Utf8CharLength(stored);
    std::string_view one = stored.substr(0, std::max<size_t>(length, 1));
    if (length == 0 || IsUtf8Control(one) || (!utf8_terminal_ && length > 1)) {
      out += '?';
    } else {
      out += one;
    }
    stored.remove_prefix(one.size());
  }
  return out;
}
