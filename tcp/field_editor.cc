// Field editor.
#include "field_editor.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "cell_output.h"
#include "code_page.h"
#include "mode.h"
#include "screen.h"
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
  int exit_key = 0;     // the caller's one more ending key
  std::string original; // the text on entry, put back when a refused date is left

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
  // In the mode's date part: whether `code` leaves a refused date as it was.
  bool LeavesRefusedDate(int code) const;
};

void Bell() { std::putchar(kBell); }

// The message of a refused part: the program's (tcpdatemsg) in the mode's
// date part when it set one, else the described one.
const char *DateMessage(DateFault fault) {
  int part = static_cast<int>(fault);
  const char *own = Mode().date_messages[part - 1];
  if (ModeOn(TCP_MODE_DATES) && own[0] != '\0') return own;
  return kDateMessages[part];
}

// Keeps `key`, just read by getin1, as the key the next getin1 returns.
void KeepKey(int key) {
  ModeState &mode = Mode();
  mode.has_pending_key = true;
  mode.pending_key = key;
  mode.pending_ended = tcpeof() != 0;
}

// Replaces `display` by a run of '*' as wide as the field when it is wider.
void FitNumber(char *display, int width) {
  if (static_cast<int>(std::strlen(display)) <= width) return;
  int stars = std::min(width, PUNTO_OUTPUT_SIZE - 1);
  std::memset(display, '*', static_cast<size_t>(stars));
  display[stars] = '\0';
}

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
  if (IsDateType(type) && ModeOn(TCP_MODE_DATES)) {
    accepted = code >= '0' && code <= '9';
  } else if (!IsNumericType(type) && ModeOn(TCP_MODE_TEXT)) {
    accepted = (code >= 32 && code <= 126) || (code >= 128 && code <= 255);
  } else if (!IsNumericType(type)) {
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
    if (ModeOn(TCP_MODE_NUMBERS)) FitNumber(display, width);
    pos(row, column);
    std::printf("%*.*s", width, width, display);
  }
  if (IsDateType(type) && text[0] != '\0' && code != kKeepTextKey) code = FinishDate(code);
  std::fflush(stdout);
  return code;
}

bool FieldEditor::LeavesRefusedDate(int code) const {
  return ModeOn(TCP_MODE_DATES) && (code == KEY_ESCAPE || code == exit_key || code == TCP_KEY_END ||
                                    code == TCP_KEY_RESIZE);
}

int FieldEditor::FinishDate(int code) {
  Date date;
  DateFault fault = ModeOn(TCP_MODE_DATES) ? CheckDateWindowed(text, &date, ThisYear()) : CheckDate(text, &date);
  if (fault != DateFault::kNone && LeavesRefusedDate(code)) {
    std::strcpy(text, original.c_str());  // the entry text fits the buffer it came in
    pos(row, column);
    WriteCells(text);
    return code;
  }
  if (fault != DateFault::kNone) {
    coment(DateMessage(fault));
    int next = getin1();
    if (ModeOn(TCP_MODE_DATES)) KeepKey(next);
    return kDateRefused;
  }
  pos(row, column);
  if (ModeOn(TCP_MODE_TEXT)) {
    std::fputs(DateDisplay(date, width + 2).c_str(), stdout);
  } else {
    std::printf("%.2d/%.2d/%d", date.day, date.month, date.year);
  }
  std::snprintf(text, 9, "%.2d%.2d%d", date.day, date.month, date.year);
  return code;
}

// Flushes the output and reads a key; false at the end of input.
bool ReadKey(int *code) {
  std::fflush(stdout);
  *code = getin1();
  return tcpeof() == 0;
}

// In the mode's text part with UTF-8 echo: the code page 437 byte of the
// UTF-8 letter whose first byte `lead` (a getin1 code) is, reading the rest
// of it; -1 when it is none the code page holds, -2 at the end of input.
// `lead` that begins no UTF-8 sequence comes back as it is.
int ReadUtf8Letter(int lead) {
  int length = Utf8Length(lead & 0xFF);
  if (lead >= 0 || length == 0) return lead;
  unsigned char bytes[4] = {static_cast<unsigned char>(lead & 0xFF)};
  for (int k = 1; k < length; ++k) {
    int next;
    if (!ReadKey(&next)) return -2;
    if (next >= 0 || next < -128) return -1;  // no continuation byte: the sequence is refused
    bytes[k] = static_cast<unsigned char>(next & 0xFF);
  }
  int code_point = DecodeUtf8(bytes, length);
  int byte = code_point < 0 ? 0 : Cp437OfUnicode(code_point);
  return byte != 0 ? byte : -1;
}

// Whether `code` ends editing in the mode's text part: the keys set by
// tcpendkeys (by default the described ones but '\\' and '~'), extended
// keys and the mode's own codes.
bool IsModeEndingKey(int code) {
  const ModeState &mode = Mode();
  if (code > 200) return true;
  if (mode.end_key_count < 0) return IsEndingKey(code) && code != '\\' && code != kCaseToggleKey;
  return std::find(mode.end_keys, mode.end_keys + mode.end_key_count, code) != mode.end_keys + mode.end_key_count;
}

}  // namespace

DateFault CheckDate(const char *text, Date *date) { return CheckDateWindowed(text, date, 0); }

DateFault CheckDateWindowed(const char *text, Date *date, int this_year) {
  long long day = 0, month = 0, year = 0, part;
  const char *p = text;
  if (ScanInt(p, 2, &part)) {
    day = part;
    if (ScanInt(p, 2, &part)) {
      month = part;
      if (ScanInt(p, 0, &part)) year = part;
    }
  }
  if (this_year != 0 && year >= 0) {
    year = WindowYear(year, this_year);
  } else if (year <= 14) {
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

std::string DateDisplay(const Date &date, int cells) {
  char display[32];
  std::snprintf(display, sizeof display, "%.2d/%.2d/%d", date.day, date.month, date.year);
  if (static_cast<int>(std::strlen(display)) > cells) {
    std::snprintf(display, sizeof display, "%.2d/%.2d/%.2d", date.day, date.month, date.year % 100);
  }
  if (static_cast<int>(std::strlen(display)) > cells) return std::string(static_cast<size_t>(std::max(cells, 0)), '*');
  return display;
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

namespace {

// kLetter: a typed UTF-8 letter as its code page 437 byte (128 to 255),
// which is never an ending key though its value may equal one's code.
enum class Translated { kKey, kLetter, kRefused, kEnded };

// Turns the key just read into the key the field sees, reading more keys
// for a composed accent or a UTF-8 letter. A refused key has had its bell.
Translated TranslateKey(int *code, int type, const char *text, tcplib::FieldEditor *editor) {
  using namespace tcplib;
  const bool text_mode = ModeOn(TCP_MODE_TEXT);
  const bool utf8_typing = text_mode && tcputf8 != 0;
  if (*code == TCP_KEY_UNKNOWN && ModeOn(TCP_MODE_KEYS)) {
    Bell();
    return Translated::kRefused;
  }
  if (utf8_typing && *code < 0) {
    int letter = ReadUtf8Letter(*code);
    if (letter == -2) return Translated::kEnded;
    if (letter == -1) Bell();
    *code = letter;
    if (letter == -1) return Translated::kRefused;
    return letter >= 128 ? Translated::kLetter : Translated::kKey;
  }
  if (*code == kAccentKey && !utf8_typing) {
    int second;
    if (!ReadKey(&second)) return Translated::kEnded;
    int accented = AccentedKey(second);
    if (accented == 0) Bell();
    *code = accented != 0 ? accented : second;
  }
  if (text_mode) return Translated::kKey;
  if (*code == ':') *code = ';';
  if (*code == kCaseToggleKey && type == 0 && text[0] != '\0') {
    editor->ToggleCase();
    *code = KEY_RIGHT;
  }
  return Translated::kKey;
}

}  // namespace

int input(int row, int column, int width, int type, char *text, int exit_key) {
  tcplib::FieldEditor editor;
  editor.row = row;
  editor.column = column;
  editor.width = std::clamp(width, 0, tcplib::kMaxFieldWidth);
  editor.type = type;
  editor.text = text;
  editor.exit_key = exit_key;
  if (tcplib::ModeOn(TCP_MODE_DATES)) editor.original = text;
  editor.Draw();
  const bool mode_keys = tcplib::ModeOn(TCP_MODE_TEXT);
  int code;
  for (;;) {
    if (!tcplib::ReadKey(&code)) break;
    Translated translated = TranslateKey(&code, type, text, &editor);
    if (translated == Translated::kEnded) break;
    if (translated == Translated::kRefused) continue;
    if (translated == Translated::kLetter) {
      editor.Edit(code);
      continue;
    }
    bool ends = mode_keys ? tcplib::IsModeEndingKey(code) : tcplib::IsEndingKey(code);
    if (ends || code == exit_key || code == TCP_KEY_RESIZE || code == TCP_KEY_END) return editor.Finish(code);
    editor.Edit(code);
  }
  const int ended = tcplib::ModeOn(TCP_MODE_END) ? static_cast<int>(TCP_KEY_END) : static_cast<int>(KEY_ESCAPE);
  return editor.Finish(ended);  // the end of input
}

void tcpshow(int row, int column, int width, int type, const char *text) {
  using namespace tcplib;
  width = std::clamp(width, 0, kMaxFieldWidth);
  pos(row, column);
  if (IsNumericType(type)) {
    char display[PUNTO_OUTPUT_SIZE] = "";
    if (text[0] != '\0') punto(text, display, type - 1);
    FitNumber(display, width);
    std::printf("%*s", width, display);
    return;
  }
  Date date;
  int cells = width;
  std::string shown = text;
  if (IsDateType(type)) {
    cells = width + 2;
    if (std::strlen(text) == 8 && CheckDate(text, &date) == DateFault::kNone) shown = DateDisplay(date, cells);
  }
  int written = 0;
  for (; written < cells && written < static_cast<int>(shown.size()); ++written) {
    WriteCell(static_cast<unsigned char>(shown[static_cast<size_t>(written)]));
  }
  WriteBlanks(cells - written);
}
