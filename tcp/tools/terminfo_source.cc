// A terminal's capabilities from the system's terminal database.
#include "terminfo_source.h"

#include <unistd.h>

#include <cstdio>

#include <curses.h>
#include <term.h>
// term.h names capabilities as macros; this one would hide a field below.
#undef lines

namespace tcptable {

std::optional<Capabilities> ReadCapabilities(const std::string &name, std::string *error) {
  int status = 0;
  // The database's number of lines, not the current window's nor LINES.
  use_env(FALSE);
  // Descriptor -1: only the description is read; nothing is sent to or
  // asked of any terminal, and a failure comes back in `status`.
  if (setupterm(name.c_str(), -1, &status) != OK) {
    *error = status == 0 ? "the terminal database has no terminal '" + name + "'"
                         : "cannot read the terminal database for the terminal '" + name + "'";
    return std::nullopt;
  }
  Capabilities caps;
  caps.name = name;
  for (const char *capability : StringCapabilityNames()) {
    // tigetstr takes a non-const name in older ncurses.
    const char *value = tigetstr(const_cast<char *>(capability));
    if (value != nullptr && value != reinterpret_cast<const char *>(-1)) caps.strings[capability] = value;
  }
  int line_count = tigetnum(const_cast<char *>("lines"));
  caps.lines = line_count > 0 ? line_count : -1;
  del_curterm(cur_term);
  cur_term = nullptr;
  return caps;
}

}  // namespace tcptable
