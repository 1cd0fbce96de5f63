// The benchmark's options, its stores and the questions it asks of them:
// each question as a job for the query, and for awk where awk answers it.
#ifndef BENCH_BENCH_QUESTIONS_H_
#define BENCH_BENCH_QUESTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "peer_queries.h"
#include "process_timing.h"
#include "store_gen.h"

struct Options {
  int runs = 5;
  std::string data_dir = BENCH_DATA_DIR;
  std::string awk = "mawk";
  std::string query = QUERY_BINARY;
  std::string script = JOIN_AWK;
  std::string engine;  // how to name the engine measured; empty: ask git
  std::string yardstick_dir, yardstick_awk;  // another store and its awk join, optional
  std::vector<std::string> point_dirs;        // more stores to time the point query on
  bool check_only = false;
  bool small = false;  // check only, on small stores
  int threads = 0;     // --threads N for every query run; 0: the option is not passed
  bool threads_compare = false;  // also time the join on one thread beside `threads`
  std::string node = "node";     // runs the DuckDB peer
  std::string duckdb_script = DUCKDB_RUN;
};

// ---- Stores

struct Store {
  std::string dir;
  StoreParams params;
  StoreStats stats;
};

struct StoreShape {
  int64_t documents;
  int lines;
  int64_t keys;  // of each table
  bool shuffled = false;  // DOC records out of document order (bench_store --shuffle-doc)
};

// The store of `shape`, written unless the data directory already holds it.
bool GetStore(const Options& o, const StoreShape& shape, Store* store);

// ---- The questions

// The query on form fac with `fields` in `dir`, given --threads `threads`
// when that is positive (before the form, where the query takes it), else
// given --threads as the options say.
Job QueryJob(const Options& o, const std::string& dir, const std::vector<std::string>& fields,
             int threads = -1);
// The full-scan join, by the query and by awk.
Job JoinQuery(const Options& o, const Store& s, int threads = -1);
Job JoinAwk(const Options& o, const Store& s);
// The header search on every document.
Job HeaderQuery(const Options& o, const Store& s);
Job HeaderAwk(const Options& o, const Store& s);
// The key of the last document, and the key shortcut to it: the header
// index is read to its end.
std::string LastKey(const Store& s);
Job KeyQuery(const Options& o, const Store& s);
Job KeyAwk(const Options& o, const Store& s);
// Another invoice store with its own awk join, such as the yardstick the
// performance issue names.
Job YardstickQuery(const Options& o);
Job YardstickAwk(const Options& o);
// The point query: the last document by its key.
Job PointQuery(const Options& o, const Store& s);
// The same fields of every document, without the shortcut: the lines of the
// last document are what the point query must print.
Job PointScan(const Options& o, const Store& s);
// Store `s` as the SQLite and DuckDB peers see it, and how DuckDB is run.
PeerStore PeerOf(const Store& s);
DuckdbRunner DuckdbOf(const Options& o);

#endif  // BENCH_BENCH_QUESTIONS_H_
