// The terminal table file's format, the one description that the library's
// loader (terminal_table.cc) and the generator tcp-table (tools/) share:
//
//   byte 0, 1, 2   TICS, start, cmpar as signed bytes (a missing one reads as -1)
//   then           entry 0, entry 1, ... each its bytes and a byte 0
//   end            the first byte 0xFF, or the end of the file
//
// ScanTable reads file bytes by these rules and nothing else; what each
// reader does with an entry too long or too many (the loader cuts and
// drops, tcp-table reports) is its own.
#ifndef TCP_TABLE_FORMAT_H_
#define TCP_TABLE_FORMAT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tcpformat {

inline constexpr int kEntries = 40;             // entries a table holds at most
inline constexpr int kMaxEntryBytes = 9;        // bytes an entry holds at most
inline constexpr int kHeaderBytes = 3;          // TICS, start, cmpar
inline constexpr size_t kMaxFileBytes = 4096;   // bytes of a table file read at most
inline constexpr unsigned char kEntryEnd = 0x00;
inline constexpr unsigned char kTableEnd = 0xFF;

struct Scan {
  int tics = -1;   // the header bytes as signed bytes; -1 where the file
  int start = -1;  // ends before them (a byte 0xFF reads as -1 too)
  int cmpar = -1;
  std::vector<std::string> entries;  // every entry, whole, in file order
  bool last_unterminated = false;    // the file ended inside the last entry
  bool ended = false;                // a byte 0xFF ended the table
  size_t bytes_after_end = 0;        // bytes after that byte 0xFF
};

// `bytes` (at most kMaxFileBytes of a file, as a reader read them) by the
// rules above.
Scan ScanTable(std::string_view bytes);

}  // namespace tcpformat

#endif  // TCP_TABLE_FORMAT_H_
