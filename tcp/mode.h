// The mode for today's terminals (tcpmode and its companions in tcp.h): the
// library's state for it in one struct, the key reader that sees whether a
// byte is waiting, and the escape-sequence grammar.
//
// The key reader reads standard input one byte at a time (tcpmode makes it
// unbuffered) and polls before each byte, so that a lone Escape is told
// from the start of a sequence by a timeout, and so that a resize can wake
// a wait. Bytes read ahead and not used are kept for the next key, in
// order. The resize wake-up is a pipe that the SIGWINCH handler (or
// tcpresized) writes one byte to; both are async-signal-safe.
#ifndef TCP_MODE_H_
#define TCP_MODE_H_

#include <csignal>
#include <functional>

namespace tcplib {

inline constexpr int kDefaultEscapeMs = 40;
inline constexpr int kMaxEscapeMs = 5000;
inline constexpr int kMaxEndKeys = 32;
inline constexpr int kMaxReadAhead = 16;  // bytes kept for the next key
inline constexpr int kMaxEscapeSequence = 32;  // bytes of an escape sequence kept

// The state of the mode. One instance lives for the process.
struct ModeState {
  int flags = 0;                      // TCP_MODE_* parts switched on
  int escape_ms = kDefaultEscapeMs;   // wait after an Escape for its sequence
  int ahead[kMaxReadAhead] = {};      // bytes read and not yet used, oldest first
  int ahead_count = 0;                // bytes in `ahead`
  bool has_pending_key = false;       // a whole key is kept for the next getin1
  int pending_key = 0;                // that key (its code)
  bool pending_ended = false;         // that key was the end of input
  char date_messages[3][80] = {};     // day, month, year messages; "" = default
  int end_keys[kMaxEndKeys] = {};     // ending keys set by tcpendkeys
  int end_key_count = -1;             // -1: the default ending keys
  int wake_pipe[2] = {-1, -1};        // read end, write end (non-blocking)
  unsigned char last_sequence[kMaxEscapeSequence] = {};  // the last escape sequence read
  int last_length = 0;                // its length (bytes kept: at most kMaxEscapeSequence)
  volatile std::sig_atomic_t resized = 0;  // the window changed; not yet told
  bool winch_taken = false;           // the library's SIGWINCH handler is installed
};

// The one state of the mode.
ModeState &Mode();

// True when part `flag` of the mode is on.
bool ModeOn(int flag);

// Results of a byte source besides bytes 0 to 255 and EOF.
inline constexpr int kTimedOut = -2;
inline constexpr int kResized = -3;

// Reads an escape sequence after its ESC byte: `read_byte(timeout_ms)` gives
// the next byte, EOF or kTimedOut; `push_back(byte)` keeps a byte that
// belongs to the next key. Writes the whole sequence, ESC included, into
// `sequence` (at most kMaxEscapeSequence bytes kept) and its length into
// `length`. Returns 1 for a complete CSI or SS3 sequence, 0 for a lone
// Escape (nothing, or no sequence, followed within the escape time), -1 for
// a sequence cut off or too long.
int ReadEscapeSequence(const std::function<int(int)> &read_byte,
                       const std::function<void(int)> &push_back, int escape_ms,
                       unsigned char *sequence, int *length);

// The key code of the sequence of `length` bytes by the table `table`
// (entries 6 to `tics` - 1, compared whole); a CSI sequence ESC [ X with
// one final byte also matches an entry ESC O X and the other way round.
// TCP_KEY_UNKNOWN when no entry matches.
int CodeOfSequence(const char (&table)[40][10], int tics, const unsigned char *sequence, int length);

// The key the mode's reader gives next (a getin1 code), with `ended` set at
// the end of input. Used by getin1 while TCP_MODE_KEYS or TCP_MODE_SCREEN is on.
int ReadModeKey(bool *ended);

// A date's year window: a year of 0 to 99 becomes the year of that ending
// nearest to `this_year` (from this_year - 50 to this_year + 49); other
// years stay.
long long WindowYear(long long year, int this_year);

// The current calendar year.
int ThisYear();

}  // namespace tcplib

#endif  // TCP_MODE_H_
