// The query's print loop: walks a range of records with one reader and
// prints, for each record or detail line the selection accepts, one line of
// the fields its arguments name.
#ifndef QUERY_PRINT_LOOP_H_
#define QUERY_PRINT_LOOP_H_

#include <cstdint>
#include <string>

#include "engine.h"
#include "output.h"
#include "selection.h"
#include "status.h"

// Walks the records of `range` that hold data and prints the matches to
// `out`. A record HEAD no longer holds ends the walk there, and its number
// is put in `head_ended_at` (-1 when none). A lookup table that cannot be
// read is a failure; what was printed before it stays printed.
Status PrintMatches(RecordReader* reader, const Form& form, const Selection& selection, RecordRange range,
                    Output* out, int64_t* head_ended_at);

// Prints one output line of the record `values` hold: for each argument its
// field's text (the header's, or detail line `line`'s; a detail argument
// prints no text in a line of header fields only, `line` -1) and its
// separator, then a line feed.
void PrintRow(const Selection& selection, const RecordValues& values, int line, Output* out);

// The warning a walk gives when HEAD ends at record n.
std::string HeadShrankWarning(int64_t n);

#endif  // QUERY_PRINT_LOOP_H_
