// Store text to UTF-8. The store holds single-byte text; programs that hand
// it to the web or to JSON readers need valid UTF-8 instead. A converter is
// a table of the 256 bytes' UTF-8 forms, built once through iconv and then
// read by any number of threads.
#ifndef QUERY_TEXT_ENCODING_H_
#define QUERY_TEXT_ENCODING_H_

#include <array>
#include <map>
#include <string>
#include <string_view>

#include "status.h"

enum class TextEncoding {
  kCp437,   // IBM PC code page 437: the letters the field editor composes
  kLatin1,  // ISO 8859-1
  kUtf8,    // already UTF-8; invalid sequences are replaced
};

// "cp437", "latin1" or "utf8" (also "utf-8"); false for anything else.
bool ParseTextEncoding(std::string_view name, TextEncoding* encoding);
// The IANA charset name of the encoding, for a Content-Type header.
const char* CharsetName(TextEncoding encoding);

class Utf8Converter {
 public:
  // Builds the table for `encoding`; fails, naming the encoding, when iconv
  // does not know it.
  static Status Make(TextEncoding encoding, Utf8Converter* converter);

  // Appends `bytes` as UTF-8 to `out`. Every byte becomes one character:
  // control bytes stay control characters (the writers that place text
  // escape them); under kUtf8 a byte that does not begin or continue a valid
  // sequence becomes U+FFFD.
  void Append(std::string_view bytes, std::string* out) const;
  std::string Convert(std::string_view bytes) const;

  // The store's bytes for UTF-8 `utf8` (a search text typed on a page);
  // false when `utf8` is not valid UTF-8 or holds a character the store's
  // encoding has no byte for.
  bool FromUtf8(std::string_view utf8, std::string* bytes) const;

 private:
  TextEncoding encoding_ = TextEncoding::kCp437;
  std::array<std::string, 256> table_;  // each byte's UTF-8 form
  std::map<std::string, char, std::less<>> reverse_;  // UTF-8 form to byte, 0x80 and above
};

#endif  // QUERY_TEXT_ENCODING_H_
