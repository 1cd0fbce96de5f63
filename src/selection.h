// Which records and lines a query prints, and what it prints of them.
//
// A query argument names a header ('h') or detail ('d') field by a
// two-character number, the character printed after the field, and an
// optional search text that the field must contain, in any case, within its
// defined length. A record with present detail lines is accepted line by
// line; a record without is accepted by its header. A first search text that
// begins with '*' accepts everything.
#ifndef QUERY_SELECTION_H_
#define QUERY_SELECTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "record_values.h"

// One query argument: letter, two-character field number, separator, search text.
struct QueryArgument {
  std::string text;        // the argument as given, for messages
  char letter = '\0';      // 'h'/'H' header, 'd'/'D' detail; anything else prints nothing
  int field = 0;
  bool has_separator = false;
  char separator = '\0';
  std::string search;      // lower-cased; empty means no condition

  bool IsHeader() const { return letter == 'h' || letter == 'H'; }
  bool IsDetail() const { return letter == 'd' || letter == 'D'; }
};

// Parses one argument. Missing characters mean no separator and no search text.
QueryArgument ParseQueryArgument(std::string_view text);

// The argument that names `field` of the header (`letter` 'h') or a detail
// line ('d'), prints `separator` after it ('\0' for none) and searches for
// `search`: what ParseQueryArgument gives for its text.
QueryArgument MakeQueryArgument(char letter, int field, char separator, std::string_view search);

// ASCII lower case; every other byte unchanged.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// True when `needle` (already lower-cased, not empty) occurs case-insensitively
// in the first `length` characters of `text`.
bool MatchesField(std::string_view text, int length, std::string_view needle);

class SearchMemo;

class Selection {
 public:
  Selection();
  explicit Selection(std::vector<QueryArgument> arguments);
  // The selection the command line's argument texts give.
  static Selection FromText(const std::vector<std::string>& texts);

  const std::vector<QueryArgument>& arguments() const { return arguments_; }
  // The indexes of the arguments with a search text, in order.
  const std::vector<size_t>& searched_arguments() const { return searched_; }
  // Names these arguments: selections with equal ids have equal arguments
  // (a copy keeps its original's id). Never 0.
  uint64_t id() const { return id_; }
  // The field numbers whose search texts decide acceptance.
  std::vector<int> SearchedFields() const;
  // The text the key shortcut looks for in H, blank-padded to `key_length`;
  // empty when no shortcut applies (a search text on any later argument, or
  // none on the first).
  std::string KeyShortcutProbe(int key_length) const;

  // Whether a record without present lines is printed, judged by its header.
  bool AcceptsHeaderOnly(const Form& form, const RecordValues& values) const;
  // Whether present detail line `line` is printed. With `memo` (planned for
  // this selection), a search on a field fetched from a lookup table takes
  // the verdict remembered for its table record, or remembers it.
  bool AcceptsLine(const Form& form, const RecordValues& values, int line, SearchMemo* memo = nullptr) const;

  // Messages for arguments whose field number its part lacks, or that have
  // no two-digit number: they are read all the same.
  std::vector<std::string> Warnings(const Form& form) const;

 private:
  std::vector<QueryArgument> arguments_;
  std::vector<size_t> searched_;  // indexes of the arguments with a search text
  bool accept_all_ = false;       // the first search text begins with '*'
  bool shortcut_ = false;         // only the first argument has a search text
  uint64_t id_;
};

#endif  // QUERY_SELECTION_H_
