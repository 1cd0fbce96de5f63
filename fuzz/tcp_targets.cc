// The terminal library's fuzz targets; see tcp_targets.h.
#include "tcp_targets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "field_editor.h"
#include "fuzz_util.h"
#include "key_decoder.h"
#include "tcp.h"
#include "terminal_table.h"

namespace {

// Empties the table and the switches, then loads `file` as a table file when
// it is not empty.
void ResetTable(std::string_view file) {
  std::memset(tc, 0, sizeof tc);
  TICS = 0;
  start = 0;
  cmpar = 0;
  ddoc = 0;
  tcputf8 = 0;
  debug = 0;
  if (file.empty()) return;
  WriteFile("table", file);
  tcplib::LoadTable("table");
  // TICS may say anything up to 127; the decoder must not look past entry 39.
  for (const char (&entry)[10] : tc)
    Check(std::memchr(entry, '\0', sizeof entry) != nullptr, "a table entry without its terminator");
}

// Puts the bytes `keys` in place of standard input.
void KeysOnStdin(std::string_view keys) {
  WriteFile("keys", keys);
  Check(std::freopen("keys", "rb", stdin) != nullptr, "cannot put keys on standard input");
}

// A byte of `bytes` at `i`, as a small coordinate; 0 past the end.
int Coordinate(std::string_view bytes, size_t i) {
  return i < bytes.size() ? static_cast<signed char>(bytes[i]) : 0;
}

const char* NameOrNull(const std::string& s) { return s == "-" ? nullptr : s.c_str(); }

}  // namespace

void FuzzTerminalTable(std::string_view data) {
  InScratch here("tcp");
  StdoutToNull quiet;
  std::vector<std::string_view> sections = Sections(data);
  ResetTable(sections[0]);

  if (sections.size() > 2) {
    const std::string login(sections[1]), remote(sections[2]);
    char name[tcplib::kUserNameSize];
    if (tcplib::UserFileName(NameOrNull(login), NameOrNull(remote), 0, name)) {
      Check(std::memchr(name, '\0', sizeof name) != nullptr, "a user file name without its end");
      Check(std::strncmp(name, "user/", 5) == 0 && std::strchr(name + 5, '/') == nullptr,
            "a user file name outside the directory user");
    }
  }
  // Coordinates stay within a screen or so: they come from the program, not
  // from the table, and a box of a billion rows is the caller's business.
  const std::string_view xy = sections.size() > 3 ? sections[3] : std::string_view("\x05\x0a");
  pos(Coordinate(xy, 0), Coordinate(xy, 1));
  const std::string message(sections.size() > 1 ? sections[1].substr(0, 200) : "MENSAJE");
  mens(message.c_str(), Coordinate(xy, 2));
  coment(message.c_str());
  const int top = Coordinate(xy, 3) % 30, left = Coordinate(xy, 4);
  box(top, left, top + Coordinate(xy, 5) % 30, left + Coordinate(xy, 6));
  dbgr(1, message.c_str());  // silent: debug is 0
}

void FuzzKeyDecoder(std::string_view data) {
  InScratch here("tcp");
  std::vector<std::string_view> sections = Sections(data);
  ResetTable(sections[0]);
  const std::string_view keys = sections.size() > 1 ? sections[1] : data;

  // From memory: every call takes at least one byte until the end.
  std::vector<int> from_memory;
  size_t next = 0;
  auto read_byte = [&]() -> int {
    return next < keys.size() ? static_cast<unsigned char>(keys[next++]) : EOF;
  };
  for (;;) {
    const size_t before = next;
    const int code = tcplib::DecodeKey(tc, TICS, read_byte);
    Check(code >= -128 && code <= 255, "a key code out of range");
    if (code == -1 && before == keys.size()) break;
    Check(next > before, "a key read no byte");
    from_memory.push_back(code);
  }
  // Through getin1 on standard input, the same codes.
  KeysOnStdin(keys);
  for (int expected : from_memory) Check(getin1() == expected, "getin1 and DecodeKey disagree");
  Check(getin1() == -1 && std::feof(stdin), "getin1 goes on past the end of input");
}

void FuzzPunto(std::string_view data) {
  const int decimals = data.empty() ? 2 : static_cast<signed char>(data[0]);
  std::string text(data.empty() ? data : data.substr(1));
  text = text.substr(0, text.find('\0'));
  // Exactly the room the contract asks for, so that ASan sees a byte more.
  std::vector<char> output(PUNTO_OUTPUT_SIZE, '\x7f');
  Check(punto(text.c_str(), output.data(), decimals) == 1, "punto returns other than 1");
  const size_t length = strnlen(output.data(), output.size());
  Check(length < output.size(), "punto output without its end");
  for (size_t i = 0; i < length; ++i)
    Check(std::strchr("0123456789.,-*", output[i]) != nullptr, "punto writes a stray character");
  if (text.empty()) Check(length == 0, "punto shows something for an empty text");
}

void FuzzFieldEditor(std::string_view data) {
  InScratch here("tcp");
  StdoutToNull quiet;
  std::vector<std::string_view> sections = Sections(data);
  const std::string_view params = sections[0];
  auto param = [&](size_t i) { return i < params.size() ? static_cast<signed char>(params[i]) : 0; };
  ResetTable(sections.size() > 3 ? sections[3] : std::string_view());
  const int width = param(0) * 2;  // -256 to 254; the editor takes up to 255
  const int type = (param(1) & 0x7f) % 12;
  const int exit_key = param(2);
  ddoc = param(3) & 1;
  tcputf8 = (param(3) >> 1) & 1;
  const std::string initial(sections.size() > 1 ? sections[1].substr(0, sections[1].find('\0')) : "");
  KeysOnStdin(sections.size() > 2 ? sections[2] : std::string_view());

  // The room the contract asks for and not a byte more: the width and its
  // terminator, 9 for a date, and the initial text with its terminator.
  size_t room = std::max<size_t>(initial.size(), static_cast<size_t>(std::max(width, 0))) + 1;
  if (type == 8 || type == 9) room = std::max<size_t>(room, 9);
  std::vector<char> text(room, '\0');
  std::memcpy(text.data(), initial.c_str(), initial.size() + 1);
  const int code = input(3, 7, width, type, text.data(), exit_key);
  Check(strnlen(text.data(), room) < room, "the field text lost its end");
  if ((type == 8 || type == 9) && code != tcplib::kDateRefused && text[0] != '\0' &&
      !(code == exit_key && code == 17)) {
    Check(std::strlen(text.data()) == 8 &&
              std::all_of(text.data(), text.data() + 8, [](char c) { return c >= '0' && c <= '9'; }),
          "an accepted date not stored as ddmmyyyy");
  }
}
