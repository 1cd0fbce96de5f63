// Code page 437, the single-byte encoding field text is stored in, and its
// UTF-8 form: pure functions that the field editor (typed letters, echo) and
// programs showing stored text use.
#ifndef TCP_CODE_PAGE_H_
#define TCP_CODE_PAGE_H_

#include <string>

namespace tcplib {

// The Unicode code point of the code page 437 byte `byte` (0 to 255); bytes
// below 128 are ASCII.
int UnicodeOfCp437(int byte);

// The code page 437 byte (128 to 255) that holds `code_point`, or 0 when the
// code page has no such character. Code points below 128 give 0 as well:
// they are their own bytes.
int Cp437OfUnicode(int code_point);

// Appends the UTF-8 form of `code_point` (0 to 0x10FFFF) to `out`.
void AppendUtf8(int code_point, std::string *out);

// The number of bytes of a UTF-8 sequence whose first byte is `lead` (2 to
// 4), or 0 when `lead` begins none.
int Utf8Length(int lead);

// The code point of the `length` bytes of `bytes`, or -1 when they are no
// well-formed UTF-8 sequence (continuation bytes, overlong or surrogate forms).
int DecodeUtf8(const unsigned char *bytes, int length);

}  // namespace tcplib

#endif  // TCP_CODE_PAGE_H_
