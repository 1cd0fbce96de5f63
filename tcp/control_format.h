// Control-string formatter for terminal table entries 1 to 3.
//
// Entry 1 (cursor address) is a format taking the row and the column as int
// arguments, entries 2 and 3 (message frame) formats with no arguments. The
// table comes from a file anyone may plant in /tmp, so these formats never
// reach printf: this formatter understands only what cursor and attribute
// strings need and writes everything else literally.
//
// Understood: "%%"; the conversions d, i, u, o, x, X and c, with an optional
// argument position "n$", the flags - + space # 0 and ', a width and a
// precision (digits, or '*' / "*m$" taking an int argument), and the length
// modifiers h and hh. For such formats the output is byte for byte what
// printf gives with the same int arguments. Any other conversion (%s, %n,
// %f, %ld, ...), and any conversion that would need an argument beyond those
// given, is written literally, as the characters of the format. A width or
// precision above 255, written or taken from an argument, counts as 255
// (where printf would pad further), which no real terminal's format reaches.
#ifndef TCP_CONTROL_FORMAT_H_
#define TCP_CONTROL_FORMAT_H_

#include <cstdio>
#include <span>
#include <string_view>

namespace tcplib {

// Writes `format` with the int arguments `args` to `out`.
void WriteControl(std::FILE *out, std::string_view format, std::span<const int> args);

}  // namespace tcplib

#endif  // TCP_CONTROL_FORMAT_H_
