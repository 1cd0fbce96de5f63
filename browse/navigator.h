// Which document browse shows: walks the documents the query's current
// arguments would print, in store order, through the engine's own reading
// and matching.
//
// Without search texts every document is one the query prints, and moves go
// straight to their record. With search texts the documents found so far
// are remembered, so going back costs nothing and going forward never reads
// a record twice: a move beyond the last match found reads on from the
// first record not yet examined and stops at the next match.
#ifndef BROWSE_NAVIGATOR_H_
#define BROWSE_NAVIGATOR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "query.h"
#include "status.h"

class Navigator {
 public:
  // `query` has been started; it must outlive the navigator.
  explicit Navigator(Query* query) : query_(query) {}

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

  // Reads the record shown again with the navigator's own arguments set in
  // the query, after something else has used the query.
  Status Refresh();

  bool searching() const { return searching_; }
  // The record shown, -1 when none.
  int64_t current() const { return current_; }
  // Position of the record shown among the matches found (0 first).
  int64_t match_number() const { return searching_ ? static_cast<int64_t>(at_) : current_; }
  // Records read from the store so far, for tests of what is reread.
  int64_t records_read() const { return records_read_; }

 private:
  // Reads record n; `prints` tells whether the query prints it. A record
  // HEAD no longer holds ends the store there.
  Status Examine(int64_t n, bool* prints);
  // Reads on from scanned_end_ to the next match; false at the end.
  Status ScanToNextMatch(bool* found);
  // Reads the record shown again, so that the query's values are its.
  Status Show(int64_t n);

  Query* query_;
  std::vector<QueryArgument> arguments_;  // the search in force
  bool searching_ = false;
  std::vector<int64_t> matches_;  // matches found, in store order
  size_t at_ = 0;                 // index in matches_ of the record shown
  int64_t scanned_end_ = 0;       // records below this have been examined
  int64_t first_ = 0;             // the range the arguments examine
  int64_t end_ = 0;
  int64_t current_ = -1;
  int64_t records_read_ = 0;
};

#endif  // BROWSE_NAVIGATOR_H_
