// From a terminal's capabilities to its terminal table.
#include "table_builder.h"

#include <algorithm>
#include <optional>

#include "cursor_translation.h"

namespace tcptable {

namespace {

constexpr const char *kStringNames[] = {
    "clear", "cup",   "smso",  "rmso",  "rev",   "sgr0",  "smacs", "rmacs", "enacs", "acsc",
    "smkx",  "kbs",   "kcuu1", "kcud1", "kcub1", "kcuf1", "kf1",   "kf2",   "kf3",   "kf4",
    "kf5",   "kf6",   "kf7",   "kf8",   "kf9",   "kf10",  "kf11",  "kf12",  "khome", "kend",
    "kich1", "kdch1", "kpp",   "knp"};

// Key entries and the capability each takes: 6-10, 21, 22-38.
struct KeyEntry {
  int entry;
  const char *capability;
  const char *key;  // the key's name for messages
};
constexpr KeyEntry kKeys[] = {
    {6, "kbs", "Backspace"}, {7, "kcuu1", "up"},      {8, "kcud1", "down"},     {9, "kcub1", "left"},
    {10, "kcuf1", "right"},  {21, "kf1", "F1"},       {22, "kf2", "F2"},        {23, "kf3", "F3"},
    {24, "kf4", "F4"},       {25, "kf5", "F5"},       {26, "kf6", "F6"},        {27, "kf7", "F7"},
    {28, "kf8", "F8"},       {29, "kf9", "F9"},       {30, "kf10", "F10"},      {31, "kf11", "F11"},
    {32, "kf12", "F12"},     {33, "khome", "Home"},   {34, "kend", "End"},      {35, "kich1", "Insert"},
    {36, "kdch1", "Delete"}, {37, "kpp", "PgUp"},     {38, "knp", "PgDn"}};

// The line-drawing characters of the pieces 13 to 18, in the database's
// names: corners top right, top left, bottom left, bottom right, then the
// side and the top or bottom.
constexpr char kLinePieces[] = "klmjxq";
constexpr const char *kPlainPieces[] = {"+", "+", "+", "+", "|", "-"};

std::string Label(int entry) { return "entry " + std::to_string(entry) + " (" + EntryName(entry) + ")"; }

const std::string *Find(const Capabilities &caps, const char *name) {
  auto it = caps.strings.find(name);
  return it == caps.strings.end() ? nullptr : &it->second;
}

// A string written as a format without arguments: '%' doubled.
std::string AsFormat(const std::string &text) {
  std::string out;
  for (char c : StripPadding(text)) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

void SetCursor(const Capabilities &caps, Built &built) {
  const std::string *cup = Find(caps, "cup");
  if (cup == nullptr) {
    built.notes.push_back(Label(1) + " left empty: " + caps.name + " has no cursor address (cup)");
    return;
  }
  CursorFormat cursor = TranslateCursor(*cup);
  if (!cursor.ok) {
    built.notes.push_back(Label(1) + " left empty: the cursor address '" + Escape(*cup) +
                          "' cannot be expressed: it " + cursor.reason);
    return;
  }
  built.table.entries[1] = cursor.format;
  built.table.start = cursor.start;
  built.table.cmpar = cursor.cmpar;
}

void SetMessageFrame(const Capabilities &caps, Built &built) {
  const std::string *on = Find(caps, "smso");
  const std::string *off = Find(caps, "rmso");
  if (on == nullptr || off == nullptr) {
    on = Find(caps, "rev");
    off = Find(caps, "sgr0");
  }
  if (on == nullptr || off == nullptr) {
    built.notes.push_back("entries 2 and 3 (message frame) left empty: " + caps.name +
                          " has neither standout (smso, rmso) nor reverse video (rev, sgr0)");
    return;
  }
  built.table.entries[2] = AsFormat(*on);
  built.table.entries[3] = AsFormat(*off);
}

void SetMessageRow(const Capabilities &caps, const BuildOptions &options, Built &built) {
  int lines = options.lines > 0 ? options.lines : caps.lines;
  if (lines <= 0) {
    lines = 24;
    built.notes.push_back(caps.name +
                          " gives no number of lines: messages go to row 23 of 24 lines (--lines N to change)");
  }
  int row = lines - 1;
  if (row > 127) {
    built.notes.push_back(Label(5) + " left empty (row 0): row " + std::to_string(row) +
                          " does not fit in a signed byte");
    return;
  }
  if (row > 0) built.table.entries[5] = std::string(1, static_cast<char>(row));
}

void SetBox(const Capabilities &caps, const BuildOptions &options, Built &built) {
  const std::string *smacs = Find(caps, "smacs");
  const std::string *rmacs = Find(caps, "rmacs");
  const std::string *acsc = Find(caps, "acsc");
  std::string pieces;
  if (!options.plain_box && smacs != nullptr && rmacs != nullptr && acsc != nullptr) {
    for (const char *p = kLinePieces; *p != '\0'; ++p) {
      for (size_t i = 0; i + 1 < acsc->size(); i += 2) {
        if ((*acsc)[i] == *p) {
          pieces += (*acsc)[i + 1];
          break;
        }
      }
    }
  }
  if (pieces.size() == 6) {
    const std::string *enacs = Find(caps, "enacs");
    std::string begin = StripPadding(enacs != nullptr ? *enacs + *smacs : *smacs);
    std::string end = StripPadding(*rmacs);
    // Line drawing needs all of it: pieces without the switch would show
    // as letters. So what does not fit falls back to a plain box.
    std::optional<std::string> problem = EntryProblem(begin);
    if (!problem) problem = EntryProblem(end);
    if (!problem && pieces.find_first_of(std::string("\0\xff", 2)) != std::string::npos)
      problem = "a piece is a byte 0 or 0xFF";
    if (!problem) {
      built.table.entries[11] = begin;
      built.table.entries[12] = end;
      for (int k = 0; k < 6; ++k) built.table.entries[13 + k] = std::string(1, pieces[k]);
      return;
    }
    built.notes.push_back(caps.name + "'s line drawing does not fit the table ('" + Escape(begin) + "', '" +
                          Escape(end) + "': " + *problem + "): boxes are drawn with + - |");
  } else if (!options.plain_box) {
    built.notes.push_back(caps.name + " has no line drawing (smacs, rmacs, acsc): boxes are drawn with + - |");
  }
  for (int k = 0; k < 6; ++k) built.table.entries[13 + k] = kPlainPieces[k];
}

void SetKeys(const Capabilities &caps, const BuildOptions &options, Built &built) {
  const std::string *smkx = Find(caps, "smkx");
  std::string missing;
  for (const KeyEntry &key : kKeys) {
    if (key.entry >= options.entries) continue;
    const std::string *sequence = Find(caps, key.capability);
    if (sequence == nullptr || sequence->empty()) {
      missing += (missing.empty() ? "" : ", ") + std::string(key.key);
      continue;
    }
    bool cursor_key = (key.entry >= 7 && key.entry <= 10) || key.entry == 33 || key.entry == 34;
    built.table.entries[key.entry] = cursor_key && smkx != nullptr ? NormalModeKey(*sequence, *smkx) : *sequence;
  }
  if (!missing.empty())
    built.notes.push_back(caps.name + " names no sequence for " + missing + ": their entries are left empty");
}

// Empties every entry that breaks the table's limits, naming it. The
// message frame goes as a pair: an "on" without its "off" would leave the
// rest of the screen in standout.
void CheckLimits(Built &built) {
  std::vector<std::string> &e = built.table.entries;
  for (int n = 0; n < kEntries; ++n) {
    if (auto problem = EntryProblem(e[n])) {
      built.notes.push_back(Label(n) + " left empty: '" + Escape(e[n]) + "' " + *problem);
      e[n].clear();
      if ((n == 2 || n == 3) && !e[5 - n].empty()) {
        built.notes.push_back(Label(5 - n) + " left empty with it");
        e[5 - n].clear();
      }
    }
  }
}

// Names key entries that the decoder can never complete because a lower
// scanned entry begins like them (the lower one always wins).
void CheckShadowed(Built &built) {
  const std::vector<std::string> &e = built.table.entries;
  for (const KeyEntry &key : kKeys) {
    if (key.entry >= static_cast<int>(e.size()) || e[key.entry].empty()) continue;
    const std::string &mine = e[key.entry];
    for (int lower = 6; lower < key.entry; ++lower) {
      const std::string &other = e[lower];
      if (other.empty()) continue;
      size_t common = std::min(other.size(), mine.size());
      if (other.compare(0, common, mine, 0, common) == 0) {
        built.notes.push_back(Label(key.entry) + " '" + Escape(mine) + "' is never decoded: " + Label(lower) +
                              " '" + Escape(other) + "' begins the same way and wins");
        break;
      }
    }
  }
}

}  // namespace

std::span<const char *const> StringCapabilityNames() { return kStringNames; }

std::string NormalModeKey(const std::string &key, const std::string &smkx) {
  bool application_cursor = StripPadding(smkx).find("\x1B[?1h") != std::string::npos;
  if (application_cursor && key.size() == 3 && key[0] == '\x1B' && key[1] == 'O' &&
      std::string_view("ABCDHF").find(key[2]) != std::string_view::npos)
    return std::string("\x1B[") + key[2];
  return key;
}

Built BuildTable(const Capabilities &caps, const BuildOptions &options) {
  Built built;
  built.table.entries.assign(kEntries, std::string());
  if (const std::string *clear = Find(caps, "clear")) built.table.entries[0] = StripPadding(*clear);
  SetCursor(caps, built);
  SetMessageFrame(caps, built);
  SetMessageRow(caps, options, built);
  SetKeys(caps, options, built);
  SetBox(caps, options, built);
  for (const auto &[entry, bytes] : options.overrides) {
    if (entry >= 0 && entry < kEntries) built.table.entries[entry] = bytes;
  }
  CheckLimits(built);
  int count = std::clamp(options.entries, 0, kEntries);
  while (count > 0 && built.table.entries[count - 1].empty()) --count;
  built.table.entries.resize(count);
  built.table.tics = count;
  CheckShadowed(built);
  return built;
}

}  // namespace tcptable
