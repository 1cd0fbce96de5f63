// The query driver: parses query arguments, loads the form, its tables and
// formulas and the store, chooses the records to examine, and prints one line
// per matching record or detail line.
#ifndef QUERY_QUERY_H_
#define QUERY_QUERY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "formula.h"
#include "lookup.h"
#include "status.h"
#include "store.h"

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

// ASCII lower case; every other byte unchanged.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// True when `needle` (already lower-cased, not empty) occurs case-insensitively
// in the first `length` characters of `text`.
bool MatchesField(std::string_view text, int length, std::string_view needle);

// Output through one large buffer written to a file descriptor.
class Output {
 public:
  explicit Output(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }
  ~Output() { Flush(); }
  void Append(std::string_view text) {
    if (buffer_.size() + text.size() > kCapacity) Flush();
    buffer_.append(text);
  }
  void Put(char c) {
    if (buffer_.size() >= kCapacity) Flush();
    buffer_.push_back(c);
  }
  void Flush();
  // The error number of the first write that failed, 0 while none has.
  int write_error() const { return write_error_; }

 private:
  static constexpr size_t kCapacity = 1 << 16;
  int fd_;
  std::string buffer_;
  int write_error_ = 0;
};

class Query {
 public:
  // Everything before the record loop: parses the arguments, loads the form,
  // formulas, lookup keys and the store, and applies the key shortcut.
  Status Start(const std::string& form_path, const std::vector<std::string>& arguments);
  // Messages for standard error gathered by Start and Run (odd input that is
  // not fatal); Run adds one when HEAD shrinks while it is read.
  const std::vector<std::string>& warnings() const { return warnings_; }
  // Walks the records in range and prints the matches.
  Status Run(Output* out);

 private:
  void ApplyKeyShortcut();
  void WarnAboutFieldNumbers();
  Status ReadRecord(int64_t n, bool* has_detail, bool* beyond_head);
  void PrintHeaderOnly(Output* out);
  void PrintLines(Output* out);
  bool AcceptsHeaderOnly() const;
  bool AcceptsLine(int line) const;
  void PrintLine(int line, Output* out);

  Form form_;
  Formulas formulas_;
  LookupTables lookups_;
  Store store_;
  RecordValues values_;
  std::vector<QueryArgument> arguments_;
  std::vector<std::string> warnings_;
  std::vector<int64_t> pointers_;  // detail pointers of the current record; -1 absent
  int last_searched_ = 0;          // largest argument index with a search text, else 0
  bool accept_all_ = false;        // the first search text begins with '*'
  std::vector<const QueryArgument*> searched_;  // arguments with a search text
  int64_t first_record_ = 0;
  int64_t end_record_ = 0;
};

#endif  // QUERY_QUERY_H_
