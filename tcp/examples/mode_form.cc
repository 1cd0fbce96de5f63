// The form of form_demo.cc written for today's terminals: it switches the
// library's whole mode on, so keys the table does not name are never typed,
// a lone Escape is a key of its own, messages go to the bottom row of the
// window whatever its size, the form is drawn again when the window changes,
// typed UTF-8 letters are kept as code page 437, and the end of input has
// its own code.
//
// Keys, with the table of tcp/examples/ansi_table.sh: Tab, Enter and Down go
// to the next field (Enter on the date saves); Up goes back; Escape or F1
// cancels. A refused date is shown on the message row; the key that
// dismisses the message is kept and typed into the date.
//
// Ends with status 0 when the form is saved or cancelled, 1 at the end of
// input, and 2 when standard input is a terminal without a usable table.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tcp.h"

namespace {

constexpr int kFieldColumn = 14;

struct Field {
  const char *label;
  int row;
  int width;
  int type;  // as for input: 0 text, 3 two decimals, 8 date
  char *text;
};

bool LocaleIsUtf8() {
  static const char *const kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char *name : kNames) {
    const char *value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    return std::strstr(value, "UTF-8") != nullptr || std::strstr(value, "utf8") != nullptr ||
           std::strstr(value, "utf-8") != nullptr || std::strstr(value, "UTF8") != nullptr;
  }
  return false;
}

void DrawForm(const Field *fields, int count) {
  std::fputs(tc[0], stdout);
  box(1, 2, 9, 45);
  pos(2, 4);
  std::fputs("CUSTOMER", stdout);
  for (int k = 0; k < count; ++k) {
    pos(fields[k].row, 4);
    std::fputs(fields[k].label, stdout);
    tcpshow(fields[k].row, kFieldColumn, fields[k].width, fields[k].type, fields[k].text);
  }
  pos(11, 2);
  std::fputs("TAB/DOWN NEXT  UP PREVIOUS  ENTER ON DATE SAVES  ESC CANCELS", stdout);
  std::fflush(stdout);
}

// Leaves key mode and shows the outcome below the form.
void Finish(const char *outcome, const Field *fields, int count) {
  tcpkeysoff();
  pos(13, 0);
  std::fputs(outcome, stdout);
  for (int k = 0; k < count; ++k) {
    std::printf(" %s=", fields[k].label);
    for (const char *c = fields[k].text; *c != '\0'; ++c) {
      unsigned char byte = static_cast<unsigned char>(*c);
      if (byte >= 32 && byte < 127) {
        std::putchar(byte);
      } else {
        std::printf("\\x%02X", byte);
      }
    }
  }
  std::putchar('\n');
  std::fflush(stdout);
}

}  // namespace

int main() {
  tcp(0);
  if (tcpstat(nullptr, 0) != 0 && isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "tcp_mode_form: no usable terminal table; make one with: tcp-table --install\n");
    return 2;
  }
  tcpmode(TCP_MODE_MODERN);
  tcpkeys(TCP_KEYS_SIGNALS);
  tcputf8 = LocaleIsUtf8() ? 1 : 0;

  char name[21] = "";
  char amount[13] = "";
  char date[9] = "";
  const Field fields[] = {
      {"NAME", 4, 20, 0, name},
      {"AMOUNT", 5, 12, 3, amount},
      {"DATE", 6, 8, 8, date},
  };
  constexpr int kCount = sizeof fields / sizeof fields[0];
  DrawForm(fields, kCount);

  int current = 0;
  for (;;) {
    const Field &field = fields[current];
    int key = input(field.row, kFieldColumn, field.width, field.type, field.text, 0);
    if (key != 101) tcpclearmsg();
    if (key == TCP_KEY_END) {
      Finish("END OF INPUT", fields, kCount);
      return 1;
    }
    if (key == TCP_KEY_RESIZE) {
      DrawForm(fields, kCount);
    } else if (key == KEY_ESCAPE) {
      Finish("CANCELLED", fields, kCount);
      return 0;
    } else if (key == KEY_NEWLINE || key == 13) {
      if (current == kCount - 1) {
        Finish("SAVED", fields, kCount);
        return 0;
      }
      ++current;
    } else if (key == '\t') {
      current = (current + 1) % kCount;
    } else if (key == KEY_CTRL_Z && current > 0) {
      --current;
    }
    // A refused date (101) is edited again: its message stays until then.
  }
}
