// The mode for today's terminals.
#include "mode.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "key_decoder.h"
#include "screen.h"
#include "state.h"
#include "tcp.h"

namespace tcplib {

namespace {

constexpr int kEscape = 0x1B;
constexpr int kReferenceRows = 24;  // the table's message row counts on 24 lines
constexpr int kDefaultRows = 24;
constexpr int kDefaultColumns = 80;

LibraryState g_state;
ModeState &g_mode = g_state.mode;

bool IsParameterOrIntermediate(int byte) { return byte >= 0x20 && byte <= 0x3F; }
bool IsFinal(int byte) { return byte >= 0x40 && byte <= 0x7E; }

void Remember(unsigned char *sequence, int *length, int byte) {
  if (*length < kMaxEscapeSequence) sequence[*length] = static_cast<unsigned char>(byte);
  ++*length;
}

// The rest of a CSI sequence after ESC [: parameters and intermediates, then
// a final byte. A byte of neither kind belongs to the next key.
int ReadCsi(const std::function<int(int)> &read_byte, const std::function<void(int)> &push_back,
            int wait_ms, unsigned char *sequence, int *length) {
  for (;;) {
    int byte = read_byte(wait_ms);
    if (byte == EOF || byte == kTimedOut) return -1;
    if (IsFinal(byte)) {
      Remember(sequence, length, byte);
      return *length <= kMaxEscapeSequence ? 1 : -1;
    }
    if (!IsParameterOrIntermediate(byte)) {
      push_back(byte);
      return -1;
    }
    Remember(sequence, length, byte);
  }
}

// Drains the wake-up pipe.
void DrainWakePipe() {
  if (g_mode.wake_pipe[0] < 0) return;
  char sink[64];
  while (read(g_mode.wake_pipe[0], sink, sizeof sink) > 0) {
  }
}

void WakeUp() {
  int saved = errno;
  g_mode.resized = 1;
  if (g_mode.wake_pipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(g_mode.wake_pipe[1], &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

void OnWindowChange(int) { WakeUp(); }

bool OpenWakePipe() {
  if (g_mode.wake_pipe[0] >= 0) return true;
  int fds[2];
  if (pipe(fds) != 0) return false;
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  g_mode.wake_pipe[0] = fds[0];
  g_mode.wake_pipe[1] = fds[1];
  return true;
}

// Takes SIGWINCH while its action is the default, so that a resize wakes a
// wait for a key.
void TakeWindowChange() {
  if (g_mode.winch_taken || !OpenWakePipe()) return;
  struct sigaction found {};
  if (sigaction(SIGWINCH, nullptr, &found) != 0 || found.sa_handler != SIG_DFL) return;
  struct sigaction ours {};
  ours.sa_handler = OnWindowChange;
  ours.sa_flags = SA_RESTART;
  sigemptyset(&ours.sa_mask);
  g_mode.winch_taken = sigaction(SIGWINCH, &ours, nullptr) == 0;
}

// Gives SIGWINCH its default action back when the handler is still ours.
void GiveBackWindowChange() {
  if (!g_mode.winch_taken) return;
  struct sigaction found {};
  if (sigaction(SIGWINCH, nullptr, &found) == 0 && found.sa_handler == OnWindowChange) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(SIGWINCH, &default_action, nullptr);
  }
  g_mode.winch_taken = false;
}

void PushBack(int byte) {
  if (g_mode.ahead_count < kMaxReadAhead) g_mode.ahead[g_mode.ahead_count++] = byte;
}

// The next byte of standard input, EOF, kTimedOut after `timeout_ms` (-1:
// no limit), or kResized when `wake` and the window changed.
int ReadByte(int timeout_ms, bool wake) {
  if (g_mode.ahead_count > 0) {
    int byte = g_mode.ahead[0];
    std::memmove(g_mode.ahead, g_mode.ahead + 1, sizeof(int) * static_cast<size_t>(--g_mode.ahead_count));
    return byte;
  }
  wake = wake && ModeOn(TCP_MODE_SCREEN);
  for (;;) {
    if (wake && g_mode.resized != 0) return kResized;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_mode.wake_pipe[0], POLLIN, 0}};
    int n = poll(fds, wake && g_mode.wake_pipe[0] >= 0 ? 2 : 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return kTimedOut;
    if (n > 0 && fds[0].revents == 0) {
      // The wake-up: seen at the loop's top; a stale byte without its flag
      // is drained so that the wait does not spin.
      if (g_mode.resized == 0) DrainWakePipe();
      continue;
    }
    std::clearerr(stdin);
    return std::getchar();
  }
}

}  // namespace

ModeState &Mode() { return g_mode; }

LibraryState &State() { return g_state; }

bool ModeOn(int flag) { return (g_mode.flags & flag) != 0; }

int ReadEscapeSequence(const std::function<int(int)> &read_byte,
                       const std::function<void(int)> &push_back, int escape_ms,
                       unsigned char *sequence, int *length) {
  *length = 0;
  Remember(sequence, length, kEscape);
  int byte = read_byte(escape_ms);
  if (byte == EOF || byte == kTimedOut) return 0;
  if (byte != '[' && byte != 'O') {
    push_back(byte);
    return 0;
  }
  Remember(sequence, length, byte);
  // The rest of a sequence comes in the same burst; allow a slow link too.
  const int wait_ms = std::max(escape_ms, kDefaultEscapeMs);
  if (byte == '[') return ReadCsi(read_byte, push_back, wait_ms, sequence, length);
  byte = read_byte(wait_ms);
  if (byte == EOF || byte == kTimedOut) return -1;
  if (byte < 0x20 || byte > 0x7E) {
    push_back(byte);
    return -1;
  }
  Remember(sequence, length, byte);
  return 1;
}

int CodeOfSequence(const char (&table)[40][10], int tics, const unsigned char *sequence, int length) {
  if (length < 1 || length > 9) return TCP_KEY_UNKNOWN;
  unsigned char other[9];
  std::memcpy(other, sequence, static_cast<size_t>(length));
  bool has_other = length == 3 && (other[1] == '[' || other[1] == 'O');
  if (has_other) other[1] = other[1] == '[' ? 'O' : '[';
  const int end = std::min(tics, 40);
  const unsigned char *candidates[2] = {sequence, has_other ? other : nullptr};
  for (const unsigned char *candidate : candidates) {
    if (candidate == nullptr) continue;
    for (int entry = 6; entry < end; ++entry) {
      if (static_cast<int>(strnlen(table[entry], 9)) == length &&
          std::memcmp(table[entry], candidate, static_cast<size_t>(length)) == 0) {
        return SequenceCode(entry, candidate[length - 1]);
      }
    }
  }
  return TCP_KEY_UNKNOWN;
}

int ReadModeKey(bool *ended) {
  *ended = false;
  int first = ReadByte(-1, true);
  if (first == kResized) {
    g_mode.resized = 0;
    DrainWakePipe();
    return TCP_KEY_RESIZE;
  }
  if (first == EOF) {
    *ended = std::feof(stdin) || std::ferror(stdin);
    return -1;
  }
  if (first == kEscape && ModeOn(TCP_MODE_KEYS)) {
    unsigned char sequence[kMaxEscapeSequence];
    int length = 0;
    int kind = ReadEscapeSequence([](int wait) { return ReadByte(wait, false); }, PushBack, g_mode.escape_ms, sequence, &length);
    if (kind == 0) return KEY_ESCAPE;
    g_mode.last_length = length;
    std::memcpy(g_mode.last_sequence, sequence, static_cast<size_t>(std::min(length, kMaxEscapeSequence)));
    if (kind < 0) return TCP_KEY_UNKNOWN;
    return CodeOfSequence(tc, TICS, sequence, length);
  }
  bool given = false;
  return DecodeKey(tc, TICS, [&] {
    if (!given) {
      given = true;
      return first;
    }
    int byte = ReadByte(-1, false);
    return byte < 0 ? EOF : byte;
  });
}

long long WindowYear(long long year, int this_year) {
  if (year < 0 || year > 99) return year;
  long long candidate = (this_year / 100) * 100 + year;
  if (candidate > this_year + 49) candidate -= 100;
  if (candidate < this_year - 50) candidate += 100;
  return candidate;
}

int ThisYear() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (localtime_r(&now, &parts) == nullptr) return 2000;
  return parts.tm_year + 1900;
}

}  // namespace tcplib


using tcplib::g_mode;

int tcpmode(int flags) {
  int before = g_mode.flags;
  g_mode.flags = flags & TCP_MODE_MODERN;
  if ((g_mode.flags & (TCP_MODE_KEYS | TCP_MODE_SCREEN)) != 0 && (before & (TCP_MODE_KEYS | TCP_MODE_SCREEN)) == 0) {
    std::setvbuf(stdin, nullptr, _IONBF, 0);
  }
  if ((g_mode.flags & TCP_MODE_SCREEN) != 0) {
    tcplib::TakeWindowChange();
  } else {
    tcplib::GiveBackWindowChange();
  }
  return before;
}

void tcpesctime(int milliseconds) { g_mode.escape_ms = std::clamp(milliseconds, 0, tcplib::kMaxEscapeMs); }

namespace tcplib {
namespace {

bool TerminalSize(int fd, int *rows, int *columns) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return false;
  *rows = size.ws_row;
  *columns = size.ws_col;
  return true;
}

// A positive number from the environment variable `name`, else `fallback`.
int EnvironmentNumber(const char *name, int fallback) {
  const char *text = std::getenv(name);
  if (text == nullptr) return fallback;
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value <= 0 || value > 10000) return fallback;
  return static_cast<int>(value);
}

}  // namespace
}  // namespace tcplib

int tcpsize(int *rows, int *columns) {
  int r = 0, c = 0;
  bool told = tcplib::TerminalSize(STDOUT_FILENO, &r, &c) || tcplib::TerminalSize(STDIN_FILENO, &r, &c);
  if (!told) {
    r = tcplib::EnvironmentNumber("LINES", tcplib::kDefaultRows);
    c = tcplib::EnvironmentNumber("COLUMNS", tcplib::kDefaultColumns);
  }
  if (rows != nullptr) *rows = r;
  if (columns != nullptr) *columns = c;
  return told ? 0 : -1;
}

int tcpmsgrow(void) {
  int table_row = static_cast<signed char>(tc[TC_MSG_ROW][0]);
  if (!tcplib::ModeOn(TCP_MODE_SCREEN)) return table_row;
  if (tc[TC_MSG_ROW][0] == '\0') table_row = tcplib::kReferenceRows - 1;
  int rows = 0;
  tcpsize(&rows, nullptr);
  int from_bottom = std::max(0, tcplib::kReferenceRows - 1 - table_row);
  return std::max(0, rows - 1 - from_bottom);
}

void tcpclearmsg(void) {
  int columns = 80;
  if (tcplib::ModeOn(TCP_MODE_SCREEN)) tcpsize(nullptr, &columns);
  pos(tcpmsgrow(), 0);
  tcplib::WriteBlanks(columns);
  std::fflush(stdout);
}

void tcpdatemsg(const char *day, const char *month, const char *year) {
  const char *given[3] = {day, month, year};
  for (int k = 0; k < 3; ++k) {
    if (given[k] == nullptr) continue;
    std::snprintf(g_mode.date_messages[k], sizeof g_mode.date_messages[k], "%s", given[k]);
  }
}

void tcpendkeys(const int *codes, int count) {
  if (count < 0 || codes == nullptr) {
    g_mode.end_key_count = -1;
    return;
  }
  g_mode.end_key_count = std::min(count, tcplib::kMaxEndKeys);
  std::copy(codes, codes + g_mode.end_key_count, g_mode.end_keys);
}

void tcpresized(void) { tcplib::WakeUp(); }

int tcplastseq(char *buffer, int size) {
  if (buffer != nullptr && size > 0) {
    int kept = std::min({g_mode.last_length, tcplib::kMaxEscapeSequence, size - 1});
    std::memcpy(buffer, g_mode.last_sequence, static_cast<size_t>(kept));
    buffer[kept] = '\0';
  }
  return g_mode.last_length;
}

int tcpentry(int entry, const char *bytes) {
  if (entry < 0 || entry >= 40 || bytes == nullptr) return -1;
  std::memset(tc[entry], 0, sizeof tc[entry]);
  std::memcpy(tc[entry], bytes, strnlen(bytes, 9));
  return 0;
}
