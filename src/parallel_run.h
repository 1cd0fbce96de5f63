// A query's record walk spread over several threads.
//
// The record range is cut into chunks of consecutive records. Worker threads,
// each with a query of its own started from the same form and arguments, take
// the chunks in turn and print each one's matches into a buffer of its own;
// the calling thread writes the buffers out in record order. The output is
// byte for byte what one thread prints, a failure (a record HEAD no longer
// holds, a lookup table that cannot be read, a failed write) stops the run
// where one thread would have stopped it, and at most a few chunks per
// worker are held in memory at once.
#ifndef QUERY_PARALLEL_RUN_H_
#define QUERY_PARALLEL_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "query.h"
#include "status.h"

// The least number of records in range for which more than one thread is
// used: below it, starting threads costs more than it saves.
constexpr int64_t kMinRecordsPerThread = 8192;

// The threads a run over `started`'s record range uses when `wanted` are
// asked for: 1 for a small range, a single record (the key shortcut), or
// records whose output depends on earlier records.
int ThreadsFor(const Query& started, int wanted);

// Walks `started`'s record range on `threads` worker threads and writes the
// matches to `out` in record order. `form` and `arguments` are those
// `started` was started with; each worker starts its own query from them.
// Warnings of the walk (HEAD that shrank) are added to `warnings`.
Status RunParallel(const Query& started, const std::string& form, const std::vector<std::string>& arguments,
                   int threads, Output* out, std::vector<std::string>* warnings);

// The number of processors this process may run on; at least 1.
int AvailableProcessors();

#endif  // QUERY_PARALLEL_RUN_H_
