// The terminal table file as bytes: building it, reading it back, and
// showing it readably.
#include "table_file.h"

#include <cstdio>

namespace tcptable {

namespace {

// The keys tcp-table puts in entries 22 to 39 (the last is left free).
const char *const kExtendedKeys[kEntries - 22] = {
    "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
    "Home", "End", "Insert", "Delete", "PgUp", "PgDn", "-"};

const char *const kNames[22] = {
    "clear screen",        "TC_CURSOR",        "TC_MSG_ON",          "TC_MSG_OFF",
    "unused",              "TC_MSG_ROW",       "TC_KEY_BACKSPACE",   "TC_KEY_CTRL_Z",
    "TC_KEY_NEWLINE",      "TC_KEY_LEFT",      "TC_KEY_RIGHT",       "TC_BOX_BEGIN",
    "TC_BOX_END",          "TC_BOX_TOP_RIGHT", "TC_BOX_TOP_LEFT",    "TC_BOX_BOTTOM_LEFT",
    "TC_BOX_BOTTOM_RIGHT", "TC_BOX_VERTICAL",  "TC_BOX_HORIZONTAL",  "unused",
    "unused",              "TC_KEY_ESCAPE"};

std::string Octal(unsigned char c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\%03o", c);
  return buffer;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

std::optional<std::string> Malformed(std::string *error, std::string what) {
  *error = std::move(what);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> EntryProblem(std::string_view entry) {
  if (entry.size() > kMaxEntryBytes)
    return std::to_string(entry.size()) + " bytes, more than the " + std::to_string(kMaxEntryBytes) +
           " an entry holds";
  for (char c : entry) {
    if (c == '\0') return std::string("holds a byte 0, which would end the entry");
    if (static_cast<unsigned char>(c) == 0xFF) return std::string("holds a byte 0xFF, which would end the table");
  }
  return std::nullopt;
}

std::string Serialize(const Table &table) {
  std::string bytes;
  bytes += static_cast<char>(table.tics);
  bytes += static_cast<char>(table.start);
  bytes += static_cast<char>(table.cmpar);
  for (const std::string &entry : table.entries) {
    bytes += entry;
    bytes += '\0';
  }
  bytes += '\xFF';
  return bytes;
}

Parsed Parse(std::string_view bytes) {
  Parsed parsed;
  const tcpformat::Scan scan = tcpformat::ScanTable(bytes);
  parsed.table.tics = scan.tics;
  parsed.table.start = scan.start;
  parsed.table.cmpar = scan.cmpar;
  parsed.table.entries = scan.entries;
  if (bytes.size() < tcpformat::kHeaderBytes) parsed.problems.push_back("the file ends inside the three header bytes");
  if (scan.last_unterminated) parsed.problems.push_back("the last entry has no byte 0 after it");
  if (!scan.ended) parsed.problems.push_back("no byte 0xFF ends the table");
  if (scan.ended && scan.bytes_after_end > 0)
    parsed.problems.push_back(std::to_string(scan.bytes_after_end) + " bytes after the byte 0xFF are not read");
  if (parsed.table.entries.size() > kEntries)
    parsed.problems.push_back(std::to_string(parsed.table.entries.size()) + " entries, more than " +
                              std::to_string(kEntries));
  for (size_t n = 0; n < parsed.table.entries.size(); ++n) {
    if (parsed.table.entries[n].size() > kMaxEntryBytes)
      parsed.problems.push_back("entry " + std::to_string(n) + " has " +
                                std::to_string(parsed.table.entries[n].size()) + " bytes, more than " +
                                std::to_string(kMaxEntryBytes));
  }
  if (parsed.table.tics > kEntries)
    parsed.problems.push_back("TICS " + std::to_string(parsed.table.tics) + " is above " +
                              std::to_string(kEntries));
  return parsed;
}

std::string EntryName(int n) {
  if (n < 0 || n >= kEntries) return "beyond the table";
  if (n < 22) return kNames[n];
  return "extended " + std::to_string(n + 180) + " " + kExtendedKeys[n - 22];
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == 27) {
      out += "\\E";
    } else if (c < 32) {
      out += '^';
      out += static_cast<char>(c + 64);
    } else if (c == 127) {
      out += "^?";
    } else if (c == ' ') {
      out += "\\s";
    } else if (c == '\\' || c == '^') {
      out += '\\';
      out += ch;
    } else if (c > 127) {
      out += Octal(c);
    } else {
      out += ch;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text, std::string *error) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '^') {
      if (++i >= text.size()) return Malformed(error, "a '^' at the end");
      char k = text[i];
      if (k == '?') {
        out += '\x7F';
      } else if (k >= '@' && k <= '_') {
        out += static_cast<char>(k - 64);
      } else if (k >= 'a' && k <= 'z') {
        out += static_cast<char>(k - 96);
      } else {
        return Malformed(error, std::string("^") + k + " is no control character");
      }
      continue;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= text.size()) return Malformed(error, "a '\\' at the end");
    char k = text[i];
    switch (k) {
      case 'E': case 'e': out += '\x1B'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 's': out += ' '; break;
      case '\\': case '^': case ',': case ':': out += k; break;
      default:
        if (IsOctal(k) && i + 2 < text.size() && IsOctal(text[i + 1]) && IsOctal(text[i + 2])) {
          int value = (k - '0') * 64 + (text[i + 1] - '0') * 8 + (text[i + 2] - '0');
          out += static_cast<char>(value == 0 ? 0x80 : value);
          i += 2;
        } else if (k == '0') {
          out += '\x80';
        } else {
          return Malformed(error, std::string("\\") + k + " is no escape");
        }
    }
  }
  return out;
}

std::string Dump(const Parsed &parsed) {
  const Table &t = parsed.table;
  std::string out = "TICS " + std::to_string(t.tics) + "  start " + std::to_string(t.start) + "  cmpar " +
                    std::to_string(t.cmpar) + "\n";
  char line[96];
  for (size_t n = 0; n < t.entries.size(); ++n) {
    std::string name = EntryName(static_cast<int>(n));
    if (t.entries[n].empty()) {
      std::snprintf(line, sizeof line, "%3zu  %s", n, name.c_str());
    } else {
      std::snprintf(line, sizeof line, "%3zu  %-22s ", n, name.c_str());
    }
    out += line;
    out += Escape(t.entries[n]);
    if (n == 5 && !t.entries[n].empty())
      out += "  (row " + std::to_string(static_cast<signed char>(t.entries[n][0])) + ")";
    out += '\n';
  }
  for (const std::string &problem : parsed.problems) out += "note: " + problem + "\n";
  return out;
}

}  // namespace tcptable
