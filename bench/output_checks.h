// bench_run's output checks: before anything is timed, the query and each
// peer (awk, SQLite, DuckDB) must print the same bytes for every question.
#ifndef BENCH_OUTPUT_CHECKS_H_
#define BENCH_OUTPUT_CHECKS_H_

#include <cstdint>
#include <string>

#include "bench_questions.h"
#include "process_timing.h"

// Describes a store another program wrote: documents from INFO, lines from
// the form, present lines counted by the query itself.
bool DescribeStore(const Options& o, const std::string& dir, Store* s);
// Runs the query and the awk join (or another peer, named `peer`) once each
// and compares their outputs; `lines_out`, when given, receives how many
// lines the query printed.
bool Check(const Options& o, const std::string& name, const Job& query, const Job& awk,
           const std::string& peer = "awk", int64_t* lines_out = nullptr);
// Checks that the point query prints, for its document, the lines the full
// scan prints for it.
bool CheckPoint(const Options& o, const std::string& name, const Store& s);
// Builds the SQLite database of `s` afresh, timing the import into
// `import`, and checks that SQLite prints the query's bytes for the join and
// the point query.
bool CheckSqlite(const Options& o, const Store& s, Sample* import = nullptr);
// DuckDB's version through bench/duckdb_run.mjs; empty, with `why` set,
// when node or the package is missing.
std::string DuckdbVersion(const Options& o, std::string* why);
// CheckSqlite for DuckDB.
bool CheckDuckdb(const Options& o, const Store& s, Sample* import = nullptr);
// The join on a store with its DOC records shuffled prints the bytes it
// prints on the same store in order.
bool CheckShuffled(const Options& o, const Store& ordered, const Store& shuffled);
// Whether the query takes --threads; says why not when it does not.
bool QueryTakesThreads(const Options& o, const Store& s);
// Checks every question: the join and the header search on `lines` (a
// store with detail lines), the header search on `no_lines`, and the key
// shortcut to the last document of `lines` and of `one_line`.
// `join_lines`, when given, receives how many lines the join printed.
bool CheckAll(const Options& o, const Store& lines, const Store& no_lines, const Store& one_line,
              int64_t* join_lines = nullptr);

#endif  // BENCH_OUTPUT_CHECKS_H_
