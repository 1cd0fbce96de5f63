// The benchmark's peers, SQLite and DuckDB: the jobs that build their
// databases from an invoice store and ask them the benchmark's questions
// (the full-scan join and the point query), printing what the query
// prints, byte for byte.
#ifndef BENCH_PEER_QUERIES_H_
#define BENCH_PEER_QUERIES_H_

#include <string>

#include "process_timing.h"

// A store as the peers see it.
struct PeerStore {
  std::string dir;       // the store's directory, where the databases go too
  int lines = 0;         // detail lines per document
  std::string last_key;  // the invoice number the point query asks for
};

// How DuckDB is run: node with bench/duckdb_run.mjs.
struct DuckdbRunner {
  std::string node;
  std::string script;
};

// ---- SQLite (the sqlite3 shell)

// The database built from the store in `dir`, beside its files.
std::string SqliteDb(const std::string& dir);
// Imports the store into SQLite, indexed on its keys.
Job SqliteImport(const PeerStore& s);
Job SqliteJoin(const PeerStore& s);
Job SqlitePoint(const PeerStore& s);

// ---- DuckDB

// The database built from the store in `dir`, beside its files.
std::string DuckdbDb(const std::string& dir);
// Imports the store into DuckDB.
Job DuckdbImport(const DuckdbRunner& o, const PeerStore& s);
// With `report_path`, the query's time inside DuckDB goes there
// (Job::report_path).
Job DuckdbJoin(const DuckdbRunner& o, const PeerStore& s, const std::string& report_path = "");
Job DuckdbPoint(const DuckdbRunner& o, const PeerStore& s, const std::string& report_path = "");

#endif  // BENCH_PEER_QUERIES_H_
