// The query driver: parses query arguments, loads the form, its tables and
// formulas and the store, chooses the records to examine, and prints one line
// per matching record or detail line.
#ifndef QUERY_QUERY_H_
#define QUERY_QUERY_H_

#include <cstdint>
#include <cstring>
#include <memory>
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
  explicit Output(int fd) : fd_(fd), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}
  // Output gathered in memory, appended to `*memory`.
  explicit Output(std::string* memory)
      : memory_(memory), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}
  ~Output() { Flush(); }
  void Append(std::string_view text) {
    if (size_ + text.size() > kCapacity) {
      Flush();
      // Text larger than the buffer goes out as it is.
      if (text.size() > kCapacity) return Write(text.data(), text.size());
    }
    if (!text.empty()) std::memcpy(buffer_.get() + size_, text.data(), text.size());
    size_ += text.size();
  }
  void Put(char c) {
    if (size_ >= kCapacity) Flush();
    buffer_[size_++] = c;
  }
  void Flush() {
    Write(buffer_.get(), size_);
    size_ = 0;
  }
  // The error number of the first write that failed, 0 while none has.
  int write_error() const { return write_error_; }

 private:
  static constexpr size_t kCapacity = 1 << 16;
  // Writes all of [bytes, bytes + n), or up to a failure, which it records.
  void Write(const char* bytes, size_t n);
  int fd_ = -1;
  std::string* memory_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t size_ = 0;
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
  // Walks records [first, end) only. A record HEAD no longer holds ends the
  // walk there, and its number is put in `head_ended_at` (-1 when none).
  Status RunRange(int64_t first, int64_t end, Output* out, int64_t* head_ended_at);
  // The warning Run gives when HEAD ends at record n.
  static std::string HeadShrankWarning(int64_t n);
  // True when what a record prints depends on that record alone, so that
  // ranges of records may be walked apart, in any order, by separate
  // queries. False when some formula reads a calculated field that still
  // holds an earlier record's text, or a detail line's field 0 (whose text
  // decides whether the line is present) is not read from the store.
  bool RecordsIndependent() const;

  // ---- Record by record, for programs that show records instead of
  // printing them (browse). After Start, these take the record loop's steps
  // one record at a time, with the same reading and the same matching.

  // Replaces the query arguments and sets the record range anew, the key
  // shortcut included, as Start sets them for its arguments.
  void SetArguments(std::vector<QueryArgument> arguments);
  const Form& form() const { return form_; }
  int64_t record_count() const { return store_.record_count(); }
  // The first record at or after n that holds data (see Store).
  int64_t NextRecordWithData(int64_t n) const { return store_.NextRecordWithData(n); }
  // The records the current arguments examine: [first_record, end_record).
  int64_t first_record() const { return first_record_; }
  int64_t end_record() const { return end_record_; }
  // Reads record n and resolves it whole: lookups and every calculated
  // field, those Start deferred included. `beyond_head` as in Run: HEAD no
  // longer holds record n, which is then not resolved.
  Status ReadWholeRecord(int64_t n, bool* beyond_head);
  // The values of the record last read.
  const RecordValues& values() const { return values_; }
  // Whether detail line `line` of the record last read is present.
  bool LinePresent(int line) const {
    return line >= 0 && line < static_cast<int>(pointers_.size()) && pointers_[static_cast<size_t>(line)] >= 0;
  }
  // Whether Run would print the record last read: its header when it has
  // no present line, otherwise at least one of its lines.
  bool PrintsRecord() const;
  // Whether Run would print present line `line` of the record last read.
  bool PrintsLine(int line) const { return AcceptsLine(line); }

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
