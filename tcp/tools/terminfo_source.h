// A terminal's capabilities from the system's terminal database, through
// ncurses' terminfo interface. The only module that includes term.h.
#ifndef TCP_TOOLS_TERMINFO_SOURCE_H_
#define TCP_TOOLS_TERMINFO_SOURCE_H_

#include <optional>
#include <string>

#include "table_builder.h"

namespace tcptable {

// Reads the capabilities BuildTable needs for the terminal `name` (not
// empty). Never ends the process: when the database has no such terminal,
// or cannot be read, returns nullopt with `error` set to a sentence naming
// the terminal.
std::optional<Capabilities> ReadCapabilities(const std::string &name, std::string *error);

}  // namespace tcptable

#endif  // TCP_TOOLS_TERMINFO_SOURCE_H_
