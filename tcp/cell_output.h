// Cell output: how the field editor writes the characters of a field.
//
// Each stored byte takes one screen cell. While `tcputf8` (tcp.h) is 0 every
// byte is written as it is; otherwise (in the mode's text part) every byte
// from 128 up is written as the UTF-8 of its code page 437 character, and
// (outside it) the eleven code page 437 characters the
// apostrophe composes are written as their UTF-8 sequences, which a UTF-8
// terminal shows in one cell each, so the editor's cursor arithmetic (one
// cell per byte) holds either way.
#ifndef TCP_CELL_OUTPUT_H_
#define TCP_CELL_OUTPUT_H_

namespace tcplib {

// The UTF-8 sequence of the code page 437 byte `byte` when it is one of the
// eleven composed characters, otherwise nullptr.
const char *Utf8Of(int byte);

// Writes the character stored as `byte` to standard output.
void WriteCell(int byte);

// Writes the characters of the NUL-terminated `text` to standard output.
void WriteCells(const char *text);

}  // namespace tcplib

#endif  // TCP_CELL_OUTPUT_H_
