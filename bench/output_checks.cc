// bench_run's output checks.
#include "output_checks.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

#include "report_format.h"

namespace {

// Compares two files line by line; empty when equal, else where they part.
std::string FirstDifference(const std::string& a_path, const std::string& b_path,
                            const std::string& b_name = "awk") {
  std::ifstream a(a_path, std::ios::binary), b(b_path, std::ios::binary);
  if (!a || !b) return "cannot read the outputs";
  std::string la, lb;
  for (int64_t n = 1;; ++n) {
    const bool ga = static_cast<bool>(std::getline(a, la));
    const bool gb = static_cast<bool>(std::getline(b, lb));
    if (!ga && !gb) break;
    if (ga != gb || la != lb) {
      auto shown = [](bool got, const std::string& s) {
        if (!got) return std::string("(end of output)");
        std::string quoted = "'";
        quoted.append(s, 0, 200);
        quoted += '\'';
        return quoted;
      };
      return "line " + std::to_string(n) + ":\n      query: " + shown(ga, la) + "\n      " +
             (b_name + ":").append(std::max<size_t>(7, b_name.size() + 1) - b_name.size(), ' ') +
             shown(gb, lb);
    }
  }
  // Equal lines; a missing final line feed is the only difference left.
  a.clear();
  b.clear();
  a.seekg(0, std::ios::end);
  b.seekg(0, std::ios::end);
  return a.tellg() == b.tellg() ? "" : "the outputs differ in their final line feed";
}

int64_t CountLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  int64_t n = 0;
  std::string line;
  while (std::getline(in, line)) ++n;
  return n;
}

}  // namespace

// Describes a store another program wrote: documents from INFO, lines from
// the form, present lines counted by the query itself ('d00;' prints the
// bare separator for a record without present lines).
bool DescribeStore(const Options& o, const std::string& dir, Store* s) {
  s->dir = dir;
  std::ifstream info(dir + "/INFO"), form(dir + "/fac");
  int64_t fields = 0;
  if (!(info >> s->params.documents) || !(form >> fields >> s->params.lines)) return false;
  const std::string out = o.data_dir + "/present-lines.out";
  if (RunOnce(QueryJob(o, dir, {"d00;"}), out).status != 0) return false;
  std::ifstream in(out);
  s->stats.present_lines = 0;
  for (std::string line; std::getline(in, line);) s->stats.present_lines += line != ";";
  std::remove(out.c_str());
  return true;
}

// Runs the query and the awk join (or another peer, named `peer`) once each
// and compares their outputs; `lines_out`, when given, receives how many
// lines the query printed.
bool Check(const Options& o, const std::string& name, const Job& query, const Job& awk,
           const std::string& peer, int64_t* lines_out) {
  const std::string base = o.data_dir + "/check-" + name;
  Sample q = RunOnce(query, base + ".query.out", base + ".query.err");
  Sample a = RunOnce(awk, base + ".awk.out", base + ".awk.err");
  std::string diff;
  if (q.status != 0) diff = "the query exited with status " + std::to_string(q.status);
  if (a.status != 0) diff = peer + " exited with status " + std::to_string(a.status);
  if (diff.empty()) diff = FirstDifference(base + ".query.out", base + ".awk.out", peer);
  if (diff.empty()) {
    const int64_t lines = CountLines(base + ".query.out");
    if (lines_out != nullptr) *lines_out = lines;
    std::printf("- %-10s same output, %" PRId64 " lines\n", name.c_str(), lines);
    for (const char* suffix : {".query.out", ".query.err", ".awk.out", ".awk.err"})
      std::remove((base + suffix).c_str());
    return true;
  }
  std::printf("- %-10s DIFFERENT OUTPUT, %s\n    (outputs kept in %s.*)\n", name.c_str(),
              diff.c_str(), base.c_str());
  return false;
}

// Checks that the point query prints, for its document, the lines the full
// scan prints for it.
bool CheckPoint(const Options& o, const std::string& name, const Store& s) {
  const std::string base = o.data_dir + "/check-" + name;
  Sample q = RunOnce(PointQuery(o, s), base + ".point.out");
  Sample a = RunOnce(PointScan(o, s), base + ".scan.out");
  std::string diff;
  if (q.status != 0 || a.status != 0) diff = "a query exited with a status other than 0";
  std::string point, scan;
  {
    std::ifstream in(base + ".point.out");
    for (std::string line; std::getline(in, line);) point += line + "\n";
  }
  {
    const std::string prefix = LastKey(s) + ";";
    std::ifstream in(base + ".scan.out");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(prefix, 0) == 0) scan += line + "\n";
  }
  if (diff.empty() && (point.empty() || point != scan))
    diff = point.empty() ? "the point query printed nothing" : "the point query's lines differ";
  std::remove((base + ".point.out").c_str());
  std::remove((base + ".scan.out").c_str());
  if (diff.empty()) {
    std::printf("- %-10s point query prints its document's lines of the full scan\n", name.c_str());
    return true;
  }
  std::printf("- %-10s POINT QUERY WRONG: %s\n", name.c_str(), diff.c_str());
  return false;
}

// Builds the SQLite database of `s` afresh, timing the import into
// `import`, and checks that SQLite prints the query's bytes for the join and
// the point query.
bool CheckSqlite(const Options& o, const Store& s, Sample* import) {
  std::remove(SqliteDb(s.dir).c_str());
  const Sample built = RunOnce(SqliteImport(PeerOf(s)), "/dev/null", o.data_dir + "/sqlite-import.err");
  if (import != nullptr) *import = built;
  if (built.status != 0) {
    std::printf("- sqlite     IMPORT FAILED (status %d; see %s/sqlite-import.err)\n", built.status,
                o.data_dir.c_str());
    return false;
  }
  bool same = Check(o, "sqlite", JoinQuery(o, s), SqliteJoin(PeerOf(s)), "sqlite3");
  same &= Check(o, "sqlite-key", PointQuery(o, s), SqlitePoint(PeerOf(s)), "sqlite3");
  return same;
}

// DuckDB's version through bench/duckdb_run.mjs; empty, with `why` set,
// when node or the package is missing.
std::string DuckdbVersion(const Options& o, std::string* why) {
  if (CommandOutput("command -v '" + o.node + "'").empty()) {
    *why = o.node + " is not installed";
    return "";
  }
  const std::string version =
      CommandOutput("'" + o.node + "' '" + o.duckdb_script + "' --version 2>/dev/null");
  if (version.empty()) *why = "@duckdb/node-api is not installed (run npm ci in bench/)";
  return version;
}

// CheckSqlite for DuckDB: builds bench.duckdb afresh, timing the import
// into `import`, and checks that DuckDB prints the query's bytes.
bool CheckDuckdb(const Options& o, const Store& s, Sample* import) {
  std::remove(DuckdbDb(s.dir).c_str());
  std::remove((DuckdbDb(s.dir) + ".wal").c_str());
  const Sample built = RunOnce(DuckdbImport(DuckdbOf(o), PeerOf(s)), "/dev/null", o.data_dir + "/duckdb-import.err");
  if (import != nullptr) *import = built;
  if (built.status != 0) {
    std::printf("- duckdb     IMPORT FAILED (status %d; see %s/duckdb-import.err)\n", built.status,
                o.data_dir.c_str());
    return false;
  }
  bool same = Check(o, "duckdb", JoinQuery(o, s), DuckdbJoin(DuckdbOf(o), PeerOf(s)), "duckdb");
  same &= Check(o, "duckdb-key", PointQuery(o, s), DuckdbPoint(DuckdbOf(o), PeerOf(s)), "duckdb");
  return same;
}

// The join on a store with its DOC records shuffled prints the bytes it
// prints on the same store in order.
bool CheckShuffled(const Options& o, const Store& ordered, const Store& shuffled) {
  return Check(o, "shuffled", JoinQuery(o, shuffled), JoinQuery(o, ordered), "ordered");
}

// Whether the query takes --threads; says why not when it does not.
bool QueryTakesThreads(const Options& o, const Store& s) {
  const std::string err = o.data_dir + "/threads-probe.err";
  const Sample probe = RunOnce(QueryJob(o, s.dir, {"h00;" + LastKey(s), "h02;"}, 1), "/dev/null", err);
  if (probe.status == 0) {
    std::remove(err.c_str());
    return true;
  }
  std::fprintf(stderr, "bench_run: %s does not take --threads (exit status %d; see %s)\n",
               o.query.c_str(), probe.status, err.c_str());
  return false;
}

// Checks every question: the join and the header search on `lines` (a
// store with detail lines), the header search on `no_lines`, and the key
// shortcut to the last document of `lines` and of `one_line`.
// `join_lines`, when given, receives how many lines the join printed.
bool CheckAll(const Options& o, const Store& lines, const Store& no_lines, const Store& one_line,
              int64_t* join_lines) {
  std::printf("\n## Output check (query and %s print the same bytes)\n\n", o.awk.c_str());
  bool same = Check(o, "join", JoinQuery(o, lines), JoinAwk(o, lines), "awk", join_lines);
  same &= Check(o, "header", HeaderQuery(o, no_lines), HeaderAwk(o, no_lines));
  same &= Check(o, "per-line", HeaderQuery(o, lines), HeaderAwk(o, lines));
  same &= Check(o, "shortcut", KeyQuery(o, one_line), KeyAwk(o, one_line));
  same &= Check(o, "start-up", KeyQuery(o, lines), KeyAwk(o, lines));
  same &= CheckPoint(o, "point", lines);
  same &= CheckPoint(o, "point-1", one_line);
  return same;
}
