// A query's record walk spread over several threads.
//
// The record range is cut into chunks of consecutive records. Worker threads,
// each with a reader of its own on the one engine, take the chunks in turn
// and print each one's matches into buffers of its own. The output is
// written in record order by one worker at a time: the one printing the
// earliest chunk not yet written, straight from its buffers as it fills
// them; a chunk printed before its turn waits in its buffers. The output is
// byte for byte what one thread prints, a failure (a record HEAD no longer
// holds, a lookup table that cannot be read, a failed write) stops the run
// where one thread would have stopped it, and at most a few chunks per
// worker are held in memory at once.
#ifndef QUERY_PARALLEL_RUN_H_
#define QUERY_PARALLEL_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine.h"
#include "output.h"
#include "selection.h"
#include "status.h"

// The least number of records in range for which more than one thread is
// used: below it, starting threads costs more than it saves.
constexpr int64_t kMinRecordsPerThread = 8192;

// The threads a walk of `range` uses when `wanted` are asked for: 1 for a
// small range, a single record (the key shortcut), or records whose output
// depends on earlier records.
int ThreadsFor(const Engine& engine, RecordRange range, int wanted);

// Walks `range` on `threads` worker threads, each with its own reader of
// `engine`, and writes the matches of `selection` to `out` in record order;
// the workers write to `out` one at a time, and the caller may use it again
// once this returns.
// Warnings of the walk (HEAD that shrank) are added to `warnings`.
Status RunParallel(const Engine& engine, const Selection& selection, RecordRange range, int threads, Output* out,
                   std::vector<std::string>* warnings);

// The number of processors this process may run on; at least 1.
int AvailableProcessors();

#endif  // QUERY_PARALLEL_RUN_H_
