// The terminal library's fuzz targets, as plain functions (see
// engine_targets.h for how they are run). They reset the library's
// process-wide table before each input, send standard output to /dev/null
// while they run, and read keys from a scratch file put in place of standard
// input; none of them sleeps or waits for a terminal.
#ifndef QUERY_FUZZ_TCP_TARGETS_H_
#define QUERY_FUZZ_TCP_TARGETS_H_

#include <string_view>

// A terminal table file, loaded and then written through: cursor addresses,
// messages and boxes at small coordinates. Sections: the table file, the
// login name, the value of REMOTE_ADDR (for the user file name; a section
// "-" stands for none), then coordinate bytes.
void FuzzTerminalTable(std::string_view data);

// Arbitrary bytes through the key decoder. Sections: a terminal table file,
// then the key bytes. Decoding them from memory and through getin1 on
// standard input must give the same codes.
void FuzzKeyDecoder(std::string_view data);

// punto: the first byte is the number of decimals (a signed byte), the rest
// the text, cut at a NUL byte.
void FuzzPunto(std::string_view data);

// The field editor. Sections: four bytes (width, type, exit key, and ddoc in
// bit 0 and tcputf8 in bit 1 of the fourth), the initial text, the keys
// typed, and optionally a terminal table file.
void FuzzFieldEditor(std::string_view data);

#endif  // QUERY_FUZZ_TCP_TARGETS_H_
