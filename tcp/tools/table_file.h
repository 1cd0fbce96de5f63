// The terminal table file as bytes: building it, reading it back, and
// showing it readably. The format is table_format.h's, which the library's
// loader reads too; a file tcp-table writes always ends with its byte 0xFF.
//
// An entry holds at most 9 bytes, none of them 0 or 0xFF; there are at most
// 40 entries. Strings are shown and typed in the terminal database's escapes:
// \E for Escape, ^X for a control byte, ^? for 0x7F, \s for a space, \\ and
// \^ for themselves, \ooo (three octal digits) for any other byte outside
// printable ASCII.
#ifndef TCP_TOOLS_TABLE_FILE_H_
#define TCP_TOOLS_TABLE_FILE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table_format.h"

namespace tcptable {

// The format's limits, as the library's loader reads them (table_format.h).
inline constexpr int kEntries = tcpformat::kEntries;
inline constexpr int kMaxEntryBytes = tcpformat::kMaxEntryBytes;
inline constexpr size_t kMaxFileBytes = tcpformat::kMaxFileBytes;

struct Table {
  int tics = 0;
  int start = 0;
  int cmpar = 0;
  std::vector<std::string> entries;  // entry 0 on; at most kEntries
};

// Why `entry` cannot stand in a table (too long, holds a byte 0 or 0xFF),
// or nullopt when it can.
std::optional<std::string> EntryProblem(std::string_view entry);

// The file bytes of `table`: header, every entry with its byte 0, and 0xFF.
// The table's entries must all pass EntryProblem, its flags fit a signed
// byte and it must have at most kEntries entries.
std::string Serialize(const Table &table);

// Reads file bytes the way the library loads them: a header byte missing or
// 0xFF reads as -1, entries end at a byte 0, the table at 0xFF or the end.
// Anything the library would not load as it stands (more than 40 entries,
// an entry over 9 bytes, a last entry without its byte 0, no 0xFF, bytes
// after it) is reported in `problems`; entries are kept whole.
struct Parsed {
  Table table;
  std::vector<std::string> problems;
};
Parsed Parse(std::string_view bytes);

// A short name of entry `n` (0 to 39), e.g. "TC_CURSOR" or "extended 202".
std::string EntryName(int n);

// `text` in the escapes above; Unescape reverses it and also reads \e, \n,
// \r, \t, \b, \f, \0 (the byte 0x80, as the database writes a byte 0) and
// \, and \: . Unescape gives nullopt, with `error` set, on a malformed
// escape.
std::string Escape(std::string_view text);
std::optional<std::string> Unescape(std::string_view text, std::string *error);

// The readable form that --dump prints: the three flags, then one line per
// entry ("  1  TC_CURSOR            \E[%d;%dH"), then any problems.
std::string Dump(const Parsed &parsed);

}  // namespace tcptable

#endif  // TCP_TOOLS_TABLE_FILE_H_
