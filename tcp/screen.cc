// Screen output and the debug trace.
#include "screen.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control_format.h"
#include "mode.h"
#include "tcp.h"

// Process-wide switch of the debug trace; nothing in the library sets it.
int debug;

namespace tcplib {

std::string_view Entry(int entry) { return {tc[entry], strnlen(tc[entry], 9)}; }

void WriteBlanks(long long count) {
  for (; count > 0; --count) std::putchar(' ');
}

namespace {

void WritePlain(int entry) {
  std::string_view text = Entry(entry);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void WriteHorizontal(int row, int left, int right) {
  pos(row, left);
  for (long long k = static_cast<long long>(right) - left; k > 0; --k) WritePlain(TC_BOX_HORIZONTAL);
}

}  // namespace

}  // namespace tcplib

using tcplib::Entry;
using tcplib::WritePlain;

void pos(int row, int column) {
  if (start != 0) {
    row += 1;
    column += 1;
  } else if (cmpar != 0) {
    row += cmpar;
    column += cmpar;
  }
  const int coordinates[2] = {row, column};
  tcplib::WriteControl(stdout, Entry(TC_CURSOR), coordinates);
}

namespace tcplib {
namespace {

// The message line: entry 2, `message` centred in `width` cells (cut to
// them), entry 3.
void WriteFittedMessage(const char *message, int row, int width) {
  long long length = std::min<long long>(static_cast<long long>(std::strlen(message)), width);
  long long before = (width - length) / 2;
  pos(row, 1);
  WriteControl(stdout, Entry(TC_MSG_ON), {});
  WriteBlanks(before);
  std::fwrite(message, 1, static_cast<size_t>(length), stdout);
  WriteBlanks(width - before - length);
  WriteControl(stdout, Entry(TC_MSG_OFF), {});
  std::fflush(stdout);
}

}  // namespace
}  // namespace tcplib

// The line is a right-aligned empty field of 39 - h columns and the message
// left-aligned in 39 + h columns, h being half the length rounded up. A
// negative first width reads as a left-aligned field of its magnitude, so a
// message of 79 or more characters still starts after blanks. In the mode's
// screen part the line spans the window's columns 1 to its last but one.
int mens(const char *message, int row) {
  if (tcplib::ModeOn(TCP_MODE_SCREEN)) {
    int columns = 0;
    tcpsize(nullptr, &columns);
    tcplib::WriteFittedMessage(message, row, std::max(1, columns - 2));
    return 0;
  }
  long long length = static_cast<long long>(std::strlen(message));
  long long half = (length + 1) / 2;
  long long first = tcplib::kMessageWidth / 2 - half;
  long long second = tcplib::kMessageWidth / 2 + half;
  pos(row, 1);
  tcplib::WriteControl(stdout, Entry(TC_MSG_ON), {});
  tcplib::WriteBlanks(first < 0 ? -first : first);
  std::fputs(message, stdout);
  tcplib::WriteBlanks(second - length);
  tcplib::WriteControl(stdout, Entry(TC_MSG_OFF), {});
  std::fflush(stdout);
  return 0;
}

void coment(const char *message) { mens(message, tcpmsgrow()); }

// The order is fixed: both horizontal runs, the top corners, the sides row by
// row, the bottom corners.
void box(int top, int left, int bottom, int right) {
  WritePlain(TC_BOX_BEGIN);
  tcplib::WriteHorizontal(top, left, right);
  tcplib::WriteHorizontal(bottom, left, right);
  pos(top, left);
  WritePlain(TC_BOX_TOP_LEFT);
  pos(top, right);
  WritePlain(TC_BOX_TOP_RIGHT);
  for (long long r = static_cast<long long>(top) + 1; r < bottom; ++r) {
    pos(static_cast<int>(r), left);
    WritePlain(TC_BOX_VERTICAL);
    pos(static_cast<int>(r), right);
    WritePlain(TC_BOX_VERTICAL);
  }
  pos(bottom, left);
  WritePlain(TC_BOX_BOTTOM_LEFT);
  pos(bottom, right);
  WritePlain(TC_BOX_BOTTOM_RIGHT);
  WritePlain(TC_BOX_END);
}

int dbgr(int flag, const char *message) {
  if (debug == 0 && flag != 0) return 0;
  coment(message);
  if (flag != 0) {
    if (getin1() == KEY_ESCAPE) std::exit(1);
  } else {
    sleep(tcplib::kDebugPauseSeconds);
  }
  return 0;
}
