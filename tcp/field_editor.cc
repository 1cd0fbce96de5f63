// Field editor.
#include "field_editor.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "cell_output.h"
#include "tcp.h"

// Process-wide switch: while 0, numeric fields are drawn with four blanks
// after their underscores. Nothing in the library sets it.
int ddoc;

namespace tcplib {

namespace {

constexpr int kBell = 7;
constexpr int kAccentKey = '\'';
constexpr int kCaseToggleKey = '~';
constexpr int kKeepTextKey = 17;  // as the exit key, leaves a date as typed
constexpr long long kScanLimit = 1000000000000LL;  // scanned numbers saturate here

const char *const kDateMessages[] = {
    "",
    "\aERROR EN CAMPO FECHA  -  NO ACEPTA DIA",
    "\aERROR EN CAMPO FECHA  -  NO ACEPTA MES",
    "\aERROR EN CAMPO FECHA  -  NO ACEPTA ANO",
};

bool IsNumericType(int type) { return type >= 1 && type <= 5; }
bool IsDateType(int type) { return type == 8 || type == 9; }

// Reads an integer as scanf's "%Nd" does: blanks skipped, then at most
// `max_chars` characters (0: any number) of an optional sign and digits.
// False when no digit comes.
bool ScanInt(const char *&p, int max_chars, long long *value) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  int limit = max_chars > 0 ? max_chars : 1 << 30;
  int used = 0;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p++ == '-';
    ++used;
  }
  long long n = 0;
  int digits = 0;
  for (; used < limit && *p >= '0' && *p <= '9'; ++p, ++used, ++digits) {
    n = std::min(n * 10 + (*p - '0'), kScanLimit);
  }
  if (digits == 0) return false;
  *value = negative ? -n : n;
  return true;
}

// The editing state of one call of input, over the caller's buffer.
struct FieldEditor {
  int row = 0;          // screen row of the field's first cell
  int column = 0;       // screen column of the field's first cell
  int width = 0;        // cells of the field, 0 to 255
  int type = 0;         // field type: 0 text, 1-5 numeric, 8-9 date, other text
  char *text = nullptr; // the caller's buffer: the whole text, NUL-terminated
  int cursor = 0;       // characters of the text left of the cursor
  int right_count = 0;  // characters of the text right of the cursor
  std::string right;    // copy of the text right of the cursor (while right_count > 0)
  bool point = false;   // a numeric field's text holds a '.'

  bool Full() const { return cursor + right_count >= width; }
  void Draw();
  void ToggleCase();
  void Edit(int code);
  void MoveRight();
  void MoveLeft();
  void DeleteLeft();
  void Insert(int code);
  // Moves the terminal cursor back to it after the right-hand text was
  // written, and joins that text to the buffer again.
  void RestoreRight();
  int Finish(int code);
  int FinishDate(int code);
};

void Bell() { std::putchar(kBell); }

void FieldEditor::Draw() {
  pos(row, column);
  for (int k = 0; k < width; ++k) std::putchar('_');
  if (IsDateType(type)) std::fputs("  ", stdout);
  if (IsNumericType(type) && ddoc == 0) std::fputs("    ", stdout);
  pos(row, column);
  WriteCells(text);
  cursor = static_cast<int>(std::strlen(text));
  right_count = 0;
  point = IsNumericType(type) && std::strchr(text, '.') != nullptr;
}

void FieldEditor::ToggleCase() {
  if (right_count == 0) return;
  unsigned char c = static_cast<unsigned char>(text[cursor]);
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) text[cursor] = static_cast<char>(c ^ 0x20);
}

void FieldEditor::MoveRight() {
  if (right_count == 0) return Bell();
  --right_count;
  WriteCell(static_cast<unsigned char>(text[cursor]));
  ++cursor;
  right.assign(right_count > 0 ? text + cursor : "");
}

void FieldEditor::MoveLeft() {
  if (cursor == 0) return Bell();
  ++right_count;
  right.assign(text + cursor - 1);
  --cursor;
  std::putchar('\b');
}

void FieldEditor::DeleteLeft() {
  if (cursor == 0) return Bell();
  char deleted = text[cursor - 1];
  if (right_count == 0) std::fputs("\b_\b", stdout);
  --cursor;
  if (deleted == '.') point = false;
  text[cursor] = '\0';
  if (right_count > 0) {
    std::putchar('\b');
    WriteCells(right.c_str());
    std::putchar('_');
    RestoreRight();
  }
}

void FieldEditor::Insert(int code) {
  text[cursor++] = static_cast<char>(code);
  text[cursor] = '\0';
  WriteCell(code);
  if (right_count > 0) {
    WriteCells(right.c_str());
    RestoreRight();
  }
}

void FieldEditor::RestoreRight() {
  pos(row, column + cursor);
  std::strcat(text, right.c_str());
}

void FieldEditor::Edit(int code) {
  switch (code) {
    case KEY_RIGHT: return MoveRight();
    case KEY_BACKSPACE: return DeleteLeft();
    case KEY_LEFT: return MoveLeft();
    default: break;
  }
  if (Full()) return Bell();
  bool accepted;
  if (!IsNumericType(type)) {
    accepted = code >= 32 && code <= 172;
  } else if (code == '-') {
    accepted = cursor == 0 && text[0] != '-';
  } else if (code == '.') {
    accepted = !point;
  } else {
    accepted = code >= '0' && code <= '9';
  }
  if (!accepted) return Bell();
  if (IsNumericType(type) && code == '.') point = true;
  Insert(code);
}

int FieldEditor::Finish(int code) {
  if (IsNumericType(type)) {
    char display[PUNTO_OUTPUT_SIZE] = "";
    if (text[0] != '\0') punto(text, display, type - 1);
    pos(row, column);
    std::printf("%*.*s", width, width, display);
  }
  if (IsDateType(type) && text[0] != '\0' && code != kKeepTextKey) code = FinishDate(code);
  std::fflush(stdout);
  return code;
}

int FieldEditor::FinishDate(int code) {
  Date date;
  DateFault fault = CheckDate(text, &date);
  if (fault != DateFault::kNone) {
    coment(kDateMessages[static_cast<int>(fault)]);
    getin1();
    return kDateRefused;
  }
  pos(row, column);
  std::printf("%.2d/%.2d/%d", date.day, date.month, date.year);
  std::snprintf(text, 9, "%.2d%.2d%d", date.day, date.month, date.year);
  return code;
}

// Flushes the output and reads a key; false at the end of input.
bool ReadKey(int *code) {
  std::fflush(stdout);
  *code = getin1();
  return !(*code == -1 && (std::feof(stdin) || std::ferror(stdin)));
}

}  // namespace

DateFault CheckDate(const char *text, Date *date) {
  long long day = 0, month = 0, year = 0, part;
  const char *p = text;
  if (ScanInt(p, 2, &part)) {
    day = part;
    if (ScanInt(p, 2, &part)) {
      month = part;
      if (ScanInt(p, 0, &part)) year = part;
    }
  }
  if (year <= 14) {
    year += 2000;
  } else if (year <= 99) {
    year += 1900;
  }
  bool bad_year = year <= 1900 || year > 9999;
  bool bad_month = month < 1 || month > 12;
  bool short_month = month == 4 || month == 6 || month == 9 || month == 11;
  bool leap = !bad_year && year % 4 == 0;
  bool bad_day = day < 1 || day > 31 || (short_month && day > 30) ||
                 (month == 2 && (day > 29 || (day == 29 && !leap)));
  long long int_year = std::clamp<long long>(year, INT_MIN, INT_MAX);
  *date = Date{static_cast<int>(day), static_cast<int>(month), static_cast<int>(int_year)};
  if (bad_day) return DateFault::kDay;
  if (bad_month) return DateFault::kMonth;
  if (bad_year) return DateFault::kYear;
  return DateFault::kNone;
}

int AccentedKey(int key) {
  switch (key) {
    case '2': return 0xAB;  // one half
    case '4': return 0xAC;  // one quarter
    case 'A': return 0xA6;  // feminine ordinal
    case 'N': return 0xA5;  // N with tilde
    case 'O': return 0xA7;  // masculine ordinal
    case 'a': return 0xA0;  // a acute
    case 'e': return 0x82;  // e acute
    case 'i': return 0xA1;  // i acute
    case 'n': return 0xA4;  // n with tilde
    case 'o': return 0xA2;  // o acute
    case 'u': return 0xA3;  // u acute
    default: return 0;
  }
}

bool IsEndingKey(int code) {
  switch (code) {
    case 1: case 4: case 9: case KEY_NEWLINE: case 12: case 13: case 20: case 25:
    case KEY_CTRL_Z: case KEY_ESCAPE: case '\\': case kCaseToggleKey:
      return true;
    default:
      return code > 200;
  }
}

}  // namespace tcplib

int input(int row, int column, int width, int type, char *text, int exit_key) {
  tcplib::FieldEditor editor;
  editor.row = row;
  editor.column = column;
  editor.width = std::clamp(width, 0, tcplib::kMaxFieldWidth);
  editor.type = type;
  editor.text = text;
  editor.Draw();
  int code;
  for (;;) {
    if (!tcplib::ReadKey(&code)) break;
    if (code == tcplib::kAccentKey) {
      int second;
      if (!tcplib::ReadKey(&second)) break;
      int accented = tcplib::AccentedKey(second);
      if (accented == 0) tcplib::Bell();
      code = accented != 0 ? accented : second;
    }
    if (code == ':') code = ';';
    if (code == tcplib::kCaseToggleKey && type == 0 && text[0] != '\0') {
      editor.ToggleCase();
      code = KEY_RIGHT;
    }
    if (tcplib::IsEndingKey(code) || code == exit_key) return editor.Finish(code);
    editor.Edit(code);
  }
  return editor.Finish(KEY_ESCAPE);  // the end of input
}
