// Key decoder: turns the byte sequences a terminal's keys send into key codes.
//
// The sequences are entries 6 to TICS - 1 of the terminal table (at most 40
// entries of at most 9 bytes). `DecodeKey` is the whole algorithm over a
// table and a byte source; `getin1` (tcp.h) runs it over `tc`, `TICS` and the
// buffered standard input.
//
// Decoding: a byte that begins no entry comes back as itself, as a signed
// byte. Otherwise bytes are collected while the lowest-numbered entry that
// begins with them is longer than they are; when they equal that entry the
// entry's key code comes back, and when no entry begins with them the last
// byte read does. While more bytes are awaited, a byte 0 or the end of input
// is a failed try; after 50 in a row the last byte read comes back. An empty
// entry begins with nothing, so a byte 0 read first comes back as 0.
#ifndef TCP_KEY_DECODER_H_
#define TCP_KEY_DECODER_H_

#include <functional>

namespace tcplib {

inline constexpr int kFailedTriesLimit = 50;  // failed tries ending a sequence wait

// Decodes one key from the bytes `read_byte` returns (0 to 255, or EOF at the
// end of input), using entries 6 to `tics` - 1 of `table` (never past entry
// 39; an entry's tenth byte is never read). Returns the key code, or -1 when
// the first read is the end of input.
int DecodeKey(const char (&table)[40][10], int tics, const std::function<int()> &read_byte);

// The key code of a completed sequence of entry `entry` whose last byte is
// `last_byte`.
int SequenceCode(int entry, int last_byte);

}  // namespace tcplib

#endif  // TCP_KEY_DECODER_H_
