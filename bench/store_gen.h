// A deterministic invoice store for benchmarks.
//
// WriteStore fills a directory with a complete store of form `fac`: the form
// and its formula file, INFO, HEAD, DOC, the header index H, and two lookup
// tables. The same parameters always give the same bytes, on any machine: the
// random numbers come from our own generator, never from the standard
// library's distributions, whose results differ between implementations.
//
// Form `fac` (record layouts are in bench/README.md):
//   header  0 invoice number, 8 digits (the key kept in H)
//           1 client code, key into clients.db (which has the key index `clients`)
//           2 client name, derived from clients.db, cut to 24 characters
//           3 date ddmmyyyy   4 amount   5 discount %   6 total (formula)
//   lines   0 article code, key into articles.db (no key index)
//           1 description, derived from articles.db, cut to 30 characters
//           2 quantity   3 unit price   4 line total (formula)
// About 2% of client codes and 1% of article codes are missing from their
// tables, 15% of detail lines are absent (pointer -1) and 1% are present but
// deleted (their article code is blank).
//
// Lines point into DOC in order, as in a store filled by appending
// documents. With `shuffle_doc` the same DOC records are written in a
// deterministic random order and the pointers rewritten to match, as in a
// store whose lines were added later or whose documents were entered in
// turns: every question then prints the same bytes as on the ordered store.
#ifndef QUERY_BENCH_STORE_GEN_H_
#define QUERY_BENCH_STORE_GEN_H_

#include <cstdint>
#include <string>

struct StoreParams {
  int64_t documents = 200000;
  int lines = 5;              // detail lines per document, 0 to 99
  int64_t clients = 50000;    // keys of clients.db, 1 to 999,999
  int64_t articles = 50000;   // keys of articles.db, 1 to 9,999,999
  uint64_t seed = 3;
  bool shuffle_doc = false;   // DOC records in a random order (see above)
};

// What WriteStore wrote; `present_lines` are the detail lines the query
// examines (pointer not negative and article code not blank).
struct StoreStats {
  int64_t documents = 0;
  int64_t present_lines = 0;
  int64_t absent_lines = 0;    // pointer -1
  int64_t deleted_lines = 0;   // in DOC, but with a blank article code
  int64_t documents_without_lines = 0;  // no present line: header-only records
  int64_t bytes = 0;           // all files written
};

// The file, inside a store directory, where WriteStore records its
// parameters and statistics, one "name value" pair per line.
constexpr char kStatsFile[] = "bench.stats";

// Checks the parameters; empty when they are usable, else what is wrong.
std::string CheckParams(const StoreParams& params);

// Writes the store into `dir` (created if missing; files are replaced) and
// the statistics file. False with `error` set when a file cannot be written
// or the parameters are out of range. A shuffled store holds its whole DOC
// in memory while writing it (28 bytes a record, 28 MB at most).
bool WriteStore(const StoreParams& params, const std::string& dir, StoreStats* stats,
                std::string* error);

// The statistics file's text for `params` and `stats`.
std::string FormatStats(const StoreParams& params, const StoreStats& stats);

// Reads the statistics file of `dir`. False when it is missing, was written
// by another version of the generator, or lacks a value. A file without
// `shuffle_doc` (written before stores could be shuffled) is an ordered store.
bool ReadStats(const std::string& dir, StoreParams* params, StoreStats* stats);

// The invoice number (header field 0, the key in H) of document `n`.
std::string InvoiceNumber(int64_t n);

#endif  // QUERY_BENCH_STORE_GEN_H_
