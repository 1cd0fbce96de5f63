// Which document browse shows: walks the documents the query's arguments
// would print, in store order, through the engine's own reading and
// matching. Each navigator has its own reader on the engine, its own
// selection and its own range, so two navigators never disturb each other.
//
// Without search texts every document is one the query prints, and moves go
// straight to their record. With search texts the documents found so far
// are remembered, so going back costs nothing and going forward never reads
// a record twice: a move beyond the last match found reads on from the
// first record not yet examined and stops at the next match.
#ifndef BROWSE_NAVIGATOR_H_
#define BROWSE_NAVIGATOR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "record_values.h"
#include "selection.h"
#include "status.h"

class Navigator {
 public:
  // `engine` must outlive the navigator. The navigator's reader is opened on
  // it by the first Search (GoToRecord and GoToKey search too); a store that
  // cannot be opened is that call's failure.
  explicit Navigator(const Engine& engine);

  // Sets the search arguments (those without search text change nothing)
  // and shows the first document the query would print with them. `found`
  // is false when there is none; the navigator then shows nothing.
  Status Search(std::vector<QueryArgument> arguments, bool* found);
  // Moves; `moved` false when there is no such document (the one shown
  // stays, and is read again, so its values are current).
  Status First(bool* moved);
  Status Last(bool* moved);
  Status Next(bool* moved);
  Status Previous(bool* moved);
  // Shows the first document the query with the single argument
  // 'h00;<key>' would print (through the header index when it holds the
  // key, as the query's key shortcut), and ends any search. `found` false
  // leaves the navigator as it was.
  Status GoToKey(const std::string& key, bool* found);

  // Moves `count` documents forward (backward when negative), stopping at
  // the first or last; `moved` false when already there.
  Status Page(int64_t count, bool* moved);
  // Shows record `n` (found by its key), ending any search; `found` false,
  // and the navigator as it was, when `n` lies outside the store.
  Status GoToRecord(int64_t n, bool* found);

  // Reads the record shown again, so that its values are those stored now.
  Status Refresh();

  bool searching() const { return searching_; }
  // The record shown, -1 when none.
  int64_t current() const { return current_; }
  // Position of the record shown among the matches found (0 first).
  int64_t match_number() const { return searching_ ? static_cast<int64_t>(at_) : current_; }
  // Records read from the store so far, for tests of what is reread.
  int64_t records_read() const { return records_read_; }

  // ---- The record last read (the one shown while current() >= 0); only
  // after the first Search.

  // Its values, every calculated field computed.
  const RecordValues& values() const { return reader_->values(); }
  // Whether its detail line `line` is present.
  bool LinePresent(int line) const { return reader_->LinePresent(line); }
  // Whether the query with the search in force prints its present line `line`.
  bool PrintsLine(int line) const;
  // The record count the navigator's reader sees (the engine's before the
  // reader is opened).
  int64_t record_count() const { return reader_open_ ? reader_->record_count() : engine_->record_count(); }
  // The detail lines the screen shows of the document shown: the present
  // ones, and during a search only those the search prints. All false (one
  // per line of the form) when no document is shown.
  std::vector<bool> LinesShown() const;

 private:
  // Opens the reader, once.
  Status OpenReader();
  // Reads record n and computes every field of it, as the query's output
  // would print them. `beyond_head`: HEAD no longer holds record n.
  Status ReadWholeRecord(int64_t n, bool* beyond_head);
  // Whether the query prints the record last read: its header when it has
  // no present line, otherwise at least one of its lines.
  bool PrintsRecord() const;
  // Reads record n; `prints` tells whether the query prints it. A record
  // HEAD no longer holds ends the store there.
  Status Examine(int64_t n, bool* prints);
  // Reads on from scanned_end_ to the next match; false at the end.
  Status ScanToNextMatch(bool* found);
  // Reads the record shown again, so that values() are its.
  Status Show(int64_t n);

  const Engine* engine_;
  // Held by pointer so that a navigator can be moved (a search's probe
  // replaces the navigator in use).
  std::unique_ptr<RecordReader> reader_;
  bool reader_open_ = false;
  Selection selection_;           // the search in force, as the query takes it
  bool searching_ = false;
  std::vector<int64_t> matches_;  // matches found, in store order
  size_t at_ = 0;                 // index in matches_ of the record shown
  int64_t scanned_end_ = 0;       // records below this have been examined
  RecordRange range_;             // the records the selection examines
  int64_t current_ = -1;
  int64_t records_read_ = 0;
};

#endif  // BROWSE_NAVIGATOR_H_
