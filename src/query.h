// A query as one object: an engine loaded from the working directory, the
// selection its arguments make, and one reader. The command line and the
// tests use it; programs that share an engine between threads, cursors or
// requests (browse, query-serve) use engine.h directly.
#ifndef QUERY_QUERY_H_
#define QUERY_QUERY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "form.h"
#include "output.h"
#include "record_values.h"
#include "selection.h"
#include "status.h"

class Query {
 public:
  // Everything before the record loop: parses the arguments, loads the form,
  // formulas, lookup tables and the store, and applies the key shortcut.
  Status Start(const std::string& form_path, const std::vector<std::string>& arguments);
  // Messages for standard error gathered by Start and Run (odd input that is
  // not fatal); Run adds one when HEAD shrinks while it is read.
  const std::vector<std::string>& warnings() const { return warnings_; }
  // Walks the records in range and prints the matches.
  Status Run(Output* out);

  const Engine& engine() const { return *engine_; }
  const Selection& selection() const { return selection_; }
  const Form& form() const { return engine_->form(); }
  int64_t record_count() const { return reader_.record_count(); }
  // The records the current arguments examine: [first_record, end_record).
  int64_t first_record() const { return range_.first; }
  int64_t end_record() const { return range_.end; }
  // The first record at or after n that holds data (see RecordReader).
  int64_t NextRecordWithData(int64_t n) const { return reader_.NextRecordWithData(n); }

  // ---- Record by record, for programs that show records instead of
  // printing them (browse). After Start, these take the record loop's steps
  // one record at a time, with the same reading and the same matching.

  // Replaces the query arguments and sets the record range anew, the key
  // shortcut included, as Start sets them for its arguments.
  void SetArguments(std::vector<QueryArgument> arguments);
  // Reads record n and resolves it whole: lookups and every calculated
  // field, those Start deferred included. `beyond_head` as in Run: HEAD no
  // longer holds record n, which is then not resolved.
  Status ReadWholeRecord(int64_t n, bool* beyond_head);
  // The values of the record last read.
  const RecordValues& values() const { return reader_.values(); }
  // Whether detail line `line` of the record last read is present.
  bool LinePresent(int line) const { return reader_.LinePresent(line); }
  // Whether Run would print the record last read: its header when it has
  // no present line, otherwise at least one of its lines.
  bool PrintsRecord() const;
  // Whether Run would print present line `line` of the record last read.
  bool PrintsLine(int line) const { return selection_.AcceptsLine(form(), values(), line); }

 private:
  std::unique_ptr<Engine> engine_;
  Selection selection_;
  RecordReader reader_;
  RecordRange range_;
  std::vector<std::string> warnings_;
};

#endif  // QUERY_QUERY_H_
