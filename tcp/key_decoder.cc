// Key decoder.
#include "key_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mode.h"
#include "state.h"
#include "tcp.h"

namespace tcplib {

namespace {

constexpr int kFirstKeyEntry = 6;  // entries below 6 are no key sequences
constexpr int kMaxSequence = 9;    // bytes of the longest entry

int AsSigned(int byte) { return static_cast<signed char>(byte); }

// The lowest-numbered entry of [6, end) that begins with the `count` bytes of
// `collected`, or -1. An entry shorter than them never matches, so an empty
// entry matches nothing.
int FirstMatch(const char (&table)[40][10], int end, const unsigned char *collected, int count) {
  for (int entry = kFirstKeyEntry; entry < end; ++entry) {
    int length = static_cast<int>(strnlen(table[entry], kMaxSequence));
    if (length >= count && std::memcmp(table[entry], collected, count) == 0) return entry;
  }
  return -1;
}

}  // namespace

int SequenceCode(int entry, int last_byte) {
  switch (entry) {
    case TC_KEY_BACKSPACE: return KEY_BACKSPACE;
    case TC_KEY_CTRL_Z: return KEY_CTRL_Z;
    case TC_KEY_NEWLINE: return KEY_NEWLINE;
    case TC_KEY_LEFT: return KEY_LEFT;
    case TC_KEY_RIGHT: return KEY_RIGHT;
    case TC_KEY_ESCAPE: return KEY_ESCAPE;
    default: break;
  }
  // Box pieces and entries 19 and 20 give their own last byte.
  if (entry < TC_KEY_ESCAPE) return AsSigned(last_byte);
  return entry + KEY_EXTENDED_BASE;
}

int DecodeKey(const char (&table)[40][10], int tics, const std::function<int()> &read_byte) {
  int end = std::min(tics, 40);
  int last = read_byte();
  if (last == EOF) return -1;
  unsigned char collected[kMaxSequence];
  collected[0] = static_cast<unsigned char>(last);
  int count = 1;
  for (;;) {
    int entry = FirstMatch(table, end, collected, count);
    if (entry < 0) return AsSigned(last);
    if (static_cast<int>(strnlen(table[entry], kMaxSequence)) == count) {
      return SequenceCode(entry, last);
    }
    // The entry is longer than `count` (so count < 9): wait for its next byte.
    int failed = 0;
    int byte;
    while ((byte = read_byte()) == EOF || byte == 0) {
      if (++failed == kFailedTriesLimit) return AsSigned(last);
    }
    last = byte;
    collected[count++] = static_cast<unsigned char>(byte);
  }
}

}  // namespace tcplib

namespace {

// The described reader: every read is a fresh attempt, the stream's
// end-of-file mark cleared first, so a terminal read that timed out can be
// retried.
int ReadTableKey(bool *ended) {
  int key = tcplib::DecodeKey(tc, TICS, [] {
    std::clearerr(stdin);
    return std::getchar();
  });
  *ended = key == -1 && (std::feof(stdin) || std::ferror(stdin));
  return key;
}

}  // namespace

// After getin1 has returned -1, feof(stdin) tells the end of input from a
// byte 0xFF. The mode's parts change where the key comes from and what the
// end of input returns.
int getin1() {
  tcplib::ModeState &mode = tcplib::Mode();
  int key;
  bool ended;
  if (mode.has_pending_key) {
    mode.has_pending_key = false;
    key = mode.pending_key;
    ended = mode.pending_ended;
  } else if (tcplib::ModeOn(TCP_MODE_KEYS | TCP_MODE_SCREEN)) {
    key = tcplib::ReadModeKey(&ended);
  } else {
    key = ReadTableKey(&ended);
  }
  tcplib::State().input_ended = ended;
  if (ended && tcplib::ModeOn(TCP_MODE_END)) return TCP_KEY_END;
  return key;
}

int tcpeof(void) { return tcplib::State().input_ended ? 1 : 0; }
