// From a terminal's capabilities to its terminal table.
//
// A pure function over the capability strings and numbers of one terminal
// (as the terminal database holds them), so that it can be tested without
// the database. What goes where:
//
//   0      clear                    (read by no routine; programs clear with it)
//   1      cup, translated          start / cmpar from its offset
//   2, 3   smso, rmso               (rev and sgr0 when there is no smso)
//   5      lines - 1                (24 lines when the terminal has no lines)
//   6-10   kbs kcuu1 kcud1 kcub1 kcuf1
//   11-18  enacs+smacs, rmacs, and the acsc pieces for k l m j x q,
//          or nothing, nothing, + + + + | - (a plain box)
//   21     kf1
//   22-32  kf2 ... kf12             extended codes 202 ... 212
//   33-38  khome kend kich1 kdch1 kpp knp   extended codes 213 ... 218
//
// The library sends no keypad-transmit string, so the keys arrive as the
// terminal sends them in its normal mode. A terminal whose smkx sets
// application cursor mode (ESC [ ? 1 h) describes its cursor keys, Home and
// End as they are in that mode (ESC O A); their normal-mode form, ESC [ A,
// is the one the table gets.
#ifndef TCP_TOOLS_TABLE_BUILDER_H_
#define TCP_TOOLS_TABLE_BUILDER_H_

#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "table_file.h"

namespace tcptable {

struct Capabilities {
  std::string name;                            // the terminal's name, for messages
  std::map<std::string, std::string> strings;  // by capability name; absent when missing
  int lines = -1;                              // -1 when the terminal has none
};

struct BuildOptions {
  bool plain_box = false;  // + - | even where line drawing exists
  int lines = 0;           // when above 0, the screen's lines instead of the database's
  int entries = kEntries;  // write at most entries 0 to entries - 1 (and TICS at most this)
  std::vector<std::pair<int, std::string>> overrides;  // entry number, bytes; applied last
};

struct Built {
  Table table;
  std::vector<std::string> notes;  // one line each, for stderr
};

// The table for `caps`. Every entry is checked against the table's limits;
// one that does not fit is left empty and named in `notes`, as is every
// capability that cannot be expressed and every key that is missing. The
// table ends after its last non-empty entry, and TICS is its entry count.
Built BuildTable(const Capabilities &caps, const BuildOptions &options);

// The string capabilities BuildTable reads.
std::span<const char *const> StringCapabilityNames();

// `key`, a key's sequence in the database, as the terminal sends it in
// normal mode (see above): "\EOA" becomes "\E[A" when `smkx` sets
// application cursor mode; anything else is returned unchanged.
std::string NormalModeKey(const std::string &key, const std::string &smkx);

}  // namespace tcptable

#endif  // TCP_TOOLS_TABLE_BUILDER_H_
