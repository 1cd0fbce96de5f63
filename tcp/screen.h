// Screen output and the debug trace: pos, mens, coment, box and dbgr (tcp.h).
//
// Every terminal code comes from the terminal table; the routines send:
//
//   entry 1  (TC_CURSOR)         cursor address, formatted with row and column
//   entry 2  (TC_MSG_ON)         before a message, formatted with no arguments
//   entry 3  (TC_MSG_OFF)        after a message, formatted with no arguments
//   entry 5  (TC_MSG_ROW)        not sent: its first byte is the message row
//   entry 11 (TC_BOX_BEGIN)      before a box, as plain text
//   entry 12 (TC_BOX_END)        after a box
//   entries 13 to 16             the corners: top right, top left, bottom
//                                left, bottom right
//   entry 17 (TC_BOX_VERTICAL)   one piece of a side
//   entry 18 (TC_BOX_HORIZONTAL) one piece of the top or bottom
//
// Formats go through the control-string formatter, never printf. Output is
// left in the standard output buffer; only mens (and so coment and dbgr)
// flushes it.
#ifndef TCP_SCREEN_H_
#define TCP_SCREEN_H_

#include <string_view>

namespace tcplib {

inline constexpr int kMessageWidth = 78;  // a message line spans columns 1 to 78
inline constexpr unsigned kDebugPauseSeconds = 2;

// Entry `entry` of the terminal table, at most its first 9 bytes.
std::string_view Entry(int entry);

// Writes `count` blanks to standard output.
void WriteBlanks(long long count);

}  // namespace tcplib

#endif  // TCP_SCREEN_H_
