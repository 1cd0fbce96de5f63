// A form of three fields in a box: a name (text, 20 cells), an amount (two
// decimals, 12 cells) and a date (8 cells, typed ddmmyy or ddmmyyyy).
//
// Keys, with the table of tcp/examples/ansi_table.sh: Tab goes to the next
// field (from the date back to the name); Enter and the down arrow (both
// KEY_NEWLINE) go to the next field and, on the date, save the form; the up
// arrow (KEY_CTRL_Z) goes to the previous field; F1, or Escape pressed
// twice, cancels (KEY_ESCAPE). Left, right and Delete edit within a field.
// A refused date is shown on the message row and edited again.
//
// Ends with status 0 when the form is saved or cancelled, 1 at the end of
// input (nothing is saved), and 2 when standard input is a terminal without
// a usable table: without one the form cannot be placed on the screen, and
// the arrows, which begin with the Escape byte, would cancel it. With keys
// from a file or pipe the program runs without a table, to be scripted.
//
// On a UTF-8 terminal (LC_ALL, LC_CTYPE or LANG naming UTF-8) accented
// letters are echoed as UTF-8; the fields keep code page 437 bytes, which
// the closing summary shows as \xNN.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tcp.h"

namespace {

constexpr int kFieldColumn = 14;
constexpr int kLastRow = 23;  // blanked after a refused date's message

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

// Tells the user on stderr that the table is missing or refused and how to
// make one. True when the program cannot go on (keys come from a terminal).
bool ReportMissingTable() {
  char reason[100];
  if (tcpstat(reason, sizeof reason) == 0) return false;
  const char *tty = ttyname(STDIN_FILENO);
  std::fprintf(stderr,
               "tcp_form_demo: no terminal table /tmp%s (%s); "
               "make one for this terminal with: tcp-table --install\n",
               tty != nullptr ? tty : "/(null)", reason);
  return isatty(STDIN_FILENO) != 0;
}

void DrawForm(const Field *fields, int count) {
  std::fputs(tc[0], stdout);
  box(1, 2, 9, 45);
  pos(2, 4);
  std::fputs("CUSTOMER", stdout);
  for (int k = 0; k < count; ++k) {
    pos(fields[k].row, 4);
    std::fputs(fields[k].label, stdout);
    pos(fields[k].row, kFieldColumn);
    for (int cell = 0; cell < fields[k].width; ++cell) std::putchar('_');
  }
  pos(11, 2);
  std::fputs("TAB/DOWN NEXT  UP PREVIOUS  ENTER ON DATE SAVES  F1 CANCELS", stdout);
}

// Blanks the message row, where a refused date's message stays otherwise.
void ClearMessageRow() {
  int row = static_cast<signed char>(tc[TC_MSG_ROW][0]);
  pos(row != 0 ? row : kLastRow, 0);
  std::printf("%79s", "");
}

// Writes `text` with every byte outside printable ASCII as \xNN.
void PrintStored(const char *text) {
  for (; *text != '\0'; ++text) {
    unsigned char c = static_cast<unsigned char>(*text);
    if (c >= 32 && c < 127) {
      std::putchar(c);
    } else {
      std::printf("\\x%02X", c);
    }
  }
}

// Leaves key mode and shows the outcome below the form.
void Finish(const char *outcome, const Field *fields, int count) {
  tcpkeysoff();
  pos(13, 0);
  std::fputs(outcome, stdout);
  for (int k = 0; k < count; ++k) {
    std::printf(" %s=", fields[k].label);
    PrintStored(fields[k].text);
  }
  std::putchar('\n');
  std::fflush(stdout);
}

}  // namespace

int main() {
  tcp(0);
  if (ReportMissingTable()) return 2;
  tcpkeys(TCP_KEYS_SIGNALS);  // no terminal (keys from a file): nothing to set
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
    if (tcpeof()) {
      Finish("END OF INPUT", fields, kCount);
      std::fprintf(stderr, "tcp_form_demo: end of input; the form is not saved\n");
      return 1;
    }
    if (key == 101) {  // refused date: its message was shown and a key read
      ClearMessageRow();
      continue;
    }
    if (key == KEY_ESCAPE) {
      Finish("CANCELLED", fields, kCount);
      return 0;
    }
    if (key == KEY_NEWLINE || key == 13) {
      if (current == kCount - 1) {
        Finish("SAVED", fields, kCount);
        return 0;
      }
      ++current;
    } else if (key == '\t') {
      current = (current + 1) % kCount;
    } else if (key == KEY_CTRL_Z) {
      if (current > 0) --current;
    }
    // Any other ending key (Ctrl-A, Ctrl-D, '\', an F key ...) stays put.
  }
}
