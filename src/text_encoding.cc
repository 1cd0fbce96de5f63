#include "text_encoding.h"

#include <iconv.h>

#include <cstddef>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

const char* IconvName(TextEncoding encoding) {
  return encoding == TextEncoding::kLatin1 ? "ISO-8859-1" : "CP437";
}

// One byte through iconv; false when iconv cannot convert it.
bool ConvertByte(iconv_t cd, unsigned char byte, std::string* out) {
  char in[1] = {static_cast<char>(byte)};
  char buffer[8];
  char* in_ptr = in;
  size_t in_left = 1;
  char* out_ptr = buffer;
  size_t out_left = sizeof buffer;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) return false;
  out->assign(buffer, static_cast<size_t>(out_ptr - buffer));
  return true;
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
size_t ValidSequenceLength(std::string_view s) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

void AppendValidUtf8(std::string_view bytes, std::string* out) {
  while (!bytes.empty()) {
    const size_t n = ValidSequenceLength(bytes);
    if (n == 0) {
      out->append(kReplacement);
      bytes.remove_prefix(1);
    } else {
      out->append(bytes.substr(0, n));
      bytes.remove_prefix(n);
    }
  }
}

}  // namespace

bool ParseTextEncoding(std::string_view name, TextEncoding* encoding) {
  if (name == "cp437") {
    *encoding = TextEncoding::kCp437;
  } else if (name == "latin1") {
    *encoding = TextEncoding::kLatin1;
  } else if (name == "utf8" || name == "utf-8") {
    *encoding = TextEncoding::kUtf8;
  } else {
    return false;
  }
  return true;
}

const char* CharsetName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kCp437: return "IBM437";
    case TextEncoding::kLatin1: return "ISO-8859-1";
    case TextEncoding::kUtf8: return "utf-8";
  }
  return "utf-8";
}

Status Utf8Converter::Make(TextEncoding encoding, Utf8Converter* converter) {
  converter->encoding_ = encoding;
  if (encoding == TextEncoding::kUtf8) return Status::Ok();
  iconv_t cd = iconv_open("UTF-8", IconvName(encoding));
  if (cd == reinterpret_cast<iconv_t>(-1))
    return Status::Error(std::string("cannot convert from ") + IconvName(encoding) + " to UTF-8 (iconv)");
  for (int byte = 0; byte < 256; ++byte) {
    std::string& entry = converter->table_[static_cast<size_t>(byte)];
    if (!ConvertByte(cd, static_cast<unsigned char>(byte), &entry)) entry = kReplacement;
    if (byte >= 0x80 && entry != kReplacement) converter->reverse_.emplace(entry, static_cast<char>(byte));
  }
  iconv_close(cd);
  return Status::Ok();
}

void Utf8Converter::Append(std::string_view bytes, std::string* out) const {
  if (encoding_ == TextEncoding::kUtf8) return AppendValidUtf8(bytes, out);
  for (char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out->push_back(c);
    } else {
      out->append(table_[byte]);
    }
  }
}

std::string Utf8Converter::Convert(std::string_view bytes) const {
  std::string out;
  Append(bytes, &out);
  return out;
}

bool Utf8Converter::FromUtf8(std::string_view utf8, std::string* bytes) const {
  bytes->clear();
  while (!utf8.empty()) {
    const size_t n = ValidSequenceLength(utf8);
    if (n == 0) return false;
    if (n == 1 || encoding_ == TextEncoding::kUtf8) {
      bytes->append(utf8.substr(0, n));
    } else {
      const auto it = reverse_.find(utf8.substr(0, n));
      if (it == reverse_.end()) return false;
      bytes->push_back(it->second);
    }
    utf8.remove_prefix(n);
  }
  return true;
}
