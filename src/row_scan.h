// Walking a selection's records with one reader, a slice at a time.
//
// A scan examines the records a selection names, in increasing order, and
// hands every line the query would print to a callback: the record number
// and the detail line (-1 for a record printed by its header alone), with
// the reader's values complete for that row. It can stop after a number of
// records and go on later from where it stopped, so a caller streams a large
// result, or pages through it, without holding it.
#ifndef QUERY_ROW_SCAN_H_
#define QUERY_ROW_SCAN_H_

#include <cstdint>
#include <functional>

#include "engine.h"
#include "selection.h"
#include "status.h"

class RowScan {
 public:
  // What the scan does after a row.
  enum class Next {
    kContinue,    // the record's further rows, then further records
    kNextRecord,  // none of this record's further rows; go on with the next record
    kStop,        // none of this record's further rows; stop (Step returns)
  };
  // Called for each printed row; the next Step starts at the next record.
  using RowCallback = std::function<Next(int64_t record, int line)>;

  // The scan of `selection` over the records `reader` sees (an open reader:
  // a store that grew since `engine` was loaded is walked to its new end),
  // starting at record `from`. The key shortcut narrows the scan to the one
  // record H names for it, as the query does. `engine`, `reader` and
  // `selection` must outlive the scan.
  RowScan(const Engine& engine, RecordReader* reader, const Selection& selection, int64_t from = 0);

  // Examines up to `max_records` records, calling `on_row` for each row
  // printed. A failed read of a lookup table is returned as it is.
  Status Step(int64_t max_records, const RowCallback& on_row);

  bool done() const { return next_ >= end_; }
  // The next record to examine: where a later scan continues.
  int64_t next_record() const { return next_; }
  // Records examined so far (records in holes of a sparse store not counted).
  int64_t examined() const { return examined_; }
  int64_t end() const { return end_; }
  // The record at which HEAD was found to end early (it shrank while being
  // read), which ended the scan; -1 while it has not.
  int64_t head_ended_at() const { return head_ended_at_; }

 private:
  // Examines one record; `*stop` when the callback asked to stop.
  Status Examine(int64_t n, const RowCallback& on_row, bool* stop);

  const Engine& engine_;
  RecordReader* reader_;
  const Selection& selection_;
  int64_t next_ = 0;
  int64_t end_ = 0;
  int64_t examined_ = 0;
  int64_t head_ended_at_ = -1;
};

#endif  // QUERY_ROW_SCAN_H_
