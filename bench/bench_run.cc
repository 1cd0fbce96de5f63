// bench_run: the whole-process benchmark of the query tool.
//
//   bench_run [--runs N] [--data DIR] [--awk PROGRAM] [--query PATH [--engine TEXT]]
//             [--yardstick DIR AWKFILE] [--point DIR]... [--check-only | --small-check]
//             [--threads N] [--threads-compare] [--node PATH]
//
// (`bench_run --help` says what each option does.)
//
// Writes the benchmark stores it needs under the data directory (reusing
// those already there), checks that the query and bench/join.awk print the
// same bytes for every question, then times whole processes, start-up
// included: the query and, for the headline questions, the awk join on the
// same stores, run alternately so that both see the same machine load. It
// prints medians, present detail lines per second, peak resident memory and
// the ratio to awk as Markdown tables, then how cost grows with documents,
// lines and table sizes, the point query (one document by its key), the
// indexed and columnar peers (SQLite and DuckDB, where installed), the join
// on one thread beside several (--threads-compare), the join on a store
// whose DOC records are out of document order, and where the figures stand
// against the targets.
//
// Exit status: 0 when every output check passed, 1 when one failed (the
// figures are still printed), 2 when the benchmark could not run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "peer_queries.h"
#include "process_timing.h"
#include "store_gen.h"

namespace {

constexpr uint64_t kSeed = 3;

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

std::string StoreName(const StoreParams& p) {
  return "d" + std::to_string(p.documents) + "-l" + std::to_string(p.lines) + "-k" +
         std::to_string(p.clients) + (p.shuffle_doc ? "-shuffled" : "");
}

struct StoreShape {
  int64_t documents;
  int lines;
  int64_t keys;  // of each table
  bool shuffled = false;  // DOC records out of document order (bench_store --shuffle-doc)
};

// The store of `shape`, written unless the data directory already holds it.
bool GetStore(const Options& o, const StoreShape& shape, Store* store) {
  StoreParams want;
  want.documents = shape.documents;
  want.lines = shape.lines;
  want.clients = shape.keys;
  want.articles = shape.keys;
  want.seed = kSeed;
  want.shuffle_doc = shape.shuffled;
  store->dir = o.data_dir + "/" + StoreName(want);
  StoreParams have;
  if (ReadStats(store->dir, &have, &store->stats) && have.documents == want.documents &&
      have.lines == want.lines && have.clients == want.clients &&
      have.articles == want.articles && have.seed == want.seed &&
      have.shuffle_doc == want.shuffle_doc) {
    store->params = have;
    return true;
  }
  std::printf("writing store %s ...", store->dir.c_str());
  std::fflush(stdout);
  const double start = Now();
  std::string error;
  if (!WriteStore(want, store->dir, &store->stats, &error)) {
    std::printf(" failed: %s\n", error.c_str());
    return false;
  }
  store->params = want;
  std::printf(" %.1f s\n", Now() - start);
  return true;
}

// ---- The questions

// The query on form fac with `fields` in `dir`, given --threads `threads`
// when that is positive (before the form, where the query takes it), else
// given --threads as the options say.
Job QueryJob(const Options& o, const std::string& dir, const std::vector<std::string>& fields,
             int threads = -1) {
  if (threads < 0) threads = o.threads;
  Job job{dir, {o.query}};
  if (threads > 0) job.argv.insert(job.argv.end(), {"--threads", std::to_string(threads)});
  job.argv.push_back("fac");
  job.argv.insert(job.argv.end(), fields.begin(), fields.end());
  return job;
}

Job JoinQuery(const Options& o, const Store& s, int threads = -1) {
  return QueryJob(o, s.dir, {"h00;", "h02;", "h06;", "d00;", "d01;", "d04;", "d01;tornillo"}, threads);
}
Job JoinAwk(const Options& o, const Store& s) {
  return {s.dir, {o.awk, "-v", "mode=join", "-v", "want=tornillo", "-f", o.script}};
}
Job HeaderQuery(const Options& o, const Store& s) {
  return QueryJob(o, s.dir, {"h00;", "h01;", "h02;", "h06;", "h02;norte"});
}
Job HeaderAwk(const Options& o, const Store& s) {
  return {s.dir, {o.awk, "-v", "mode=header", "-v", "want=norte", "-f", o.script}};
}
// The key shortcut to the last document: the header index is read to its end.
std::string LastKey(const Store& s) { return InvoiceNumber(s.params.documents - 1); }
Job KeyQuery(const Options& o, const Store& s) {
  return QueryJob(o, s.dir, {"h00;" + LastKey(s), "h01;", "h06;", "d00;", "d01;", "d04;"});
}
Job KeyAwk(const Options& o, const Store& s) {
  return {s.dir, {o.awk, "-v", "mode=key", "-v", "key=" + LastKey(s), "-f", o.script}};
}

// Another invoice store with its own awk join, such as the yardstick the
// performance issue names.
Job YardstickQuery(const Options& o) {
  return QueryJob(o, o.yardstick_dir, {"h00;", "h02;", "d01;", "d04;", "d01;tornillo"});
}
Job YardstickAwk(const Options& o) {
  return {o.yardstick_dir, {o.awk, "-v", "want=tornillo", "-f", o.yardstick_awk}};
}

// The point query of the performance issue: one document by its key, the
// last, so that the header index is searched to its end.
Job PointQuery(const Options& o, const Store& s) {
  return QueryJob(o, s.dir, {"h00;" + LastKey(s), "h02;", "d01;", "d04;"});
}
// The same fields of every document, without the shortcut: the lines of the
// last document are what the point query must print.
Job PointScan(const Options& o, const Store& s) {
  return QueryJob(o, s.dir, {"h00;", "h02;", "d01;", "d04;"});
}

// Store `s` as the SQLite and DuckDB peers see it.
PeerStore PeerOf(const Store& s) { return {s.dir, s.params.lines, LastKey(s)}; }
DuckdbRunner DuckdbOf(const Options& o) { return {o.node, o.duckdb_script}; }

// The standard output of a shell command, trailing blanks and line feeds cut.
std::string CommandOutput(const std::string& command);

// ---- Output check

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
        return got ? "'" + s.substr(0, 200) + "'" : std::string("(end of output)");
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
           const std::string& peer = "awk", int64_t* lines_out = nullptr) {
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
bool CheckSqlite(const Options& o, const Store& s, Sample* import = nullptr) {
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
bool CheckDuckdb(const Options& o, const Store& s, Sample* import = nullptr) {
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
              int64_t* join_lines = nullptr) {
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

// ---- Report

std::string Ms(double seconds) {
  char b[32];
  std::snprintf(b, sizeof b, seconds < 0.1 ? "%.1f" : "%.0f", seconds * 1000);
  return b;
}

std::string Spread(const Summary& s) {
  return Ms(s.median) + " (" + Ms(s.min) + "–" + Ms(s.max) + ")" + (s.failed ? " FAILED" : "");
}

std::string Millions(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f M", v / 1e6);
  return b;
}

std::string Mb(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

std::string Ratio(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f×", v);
  return b;
}

std::string Thousands(int64_t v) {
  std::string digits = std::to_string(v), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char b[512];
    while (std::fgets(b, sizeof b, p) != nullptr) out += b;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

void PrintMachine(const Options& o) {
  // The engine is src/: name the last commit that changed it.
  std::string engine = o.engine;
  if (engine.empty() && o.query == QUERY_BINARY) {
    engine = CommandOutput("git -C '" SOURCE_DIR "' log -1 --format=%h -- src 2>/dev/null");
    if (engine.empty()) engine = "unknown";
    engine = "src/ as of commit " + engine;
    if (!CommandOutput("git -C '" SOURCE_DIR "' status --porcelain -uno -- src 2>/dev/null").empty())
      engine += " plus uncommitted changes";
    engine += ", " BUILD_TYPE " build";
  }
  std::string awk_version = CommandOutput("'" + o.awk + "' -W version 2>/dev/null | head -1");
  if (awk_version.empty()) awk_version = CommandOutput("'" + o.awk + "' --version 2>/dev/null | head -1");
  if (engine.empty()) {
    std::printf("- engine: %s\n", o.query.c_str());
  } else {
    std::printf("- engine: %s, %s\n", engine.c_str(), o.query.c_str());
  }
  std::printf("- awk: %s (%s) running %s\n", o.awk.c_str(),
              awk_version.empty() ? "version unknown" : awk_version.c_str(), o.script.c_str());
  std::printf("- machine: %ld cores, %s; load average at start %s\n", sysconf(_SC_NPROCESSORS_ONLN),
              CpuModel().c_str(), CommandOutput("cut -d' ' -f1-3 /proc/loadavg").c_str());
  std::printf("- wall times in ms: median of %d runs (fastest–slowest), whole process\n", o.runs);
}

// One row of a headline table: the query against awk on one question.
struct Headline {
  std::string question;
  const Store* store;
  Summary query, awk;
  bool per_line;  // report present lines per second
};

void PrintHeadlines(const std::vector<Headline>& rows) {
  std::printf(
      "\n| question | store | query ms | CPU ms | lines/s | RSS MiB | awk ms | awk CPU ms | "
      "awk RSS MiB | awk ÷ query | in CPU time |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Headline& r : rows) {
    const StoreParams& p = r.store->params;
    std::printf("| %s | %s docs × %d lines, %s present | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
                r.question.c_str(), Thousands(p.documents).c_str(), p.lines,
                Thousands(r.store->stats.present_lines).c_str(), Spread(r.query).c_str(),
                Ms(r.query.cpu).c_str(),
                r.per_line ? Millions(r.store->stats.present_lines / r.query.median).c_str() : "—",
                Mb(r.query.rss).c_str(), Spread(r.awk).c_str(), Ms(r.awk.cpu).c_str(),
                Mb(r.awk.rss).c_str(), Ratio(r.awk.median / r.query.median).c_str(),
                Ratio(r.awk.cpu / r.query.cpu).c_str());
  }
}

struct Verdict {
  std::string target, measured;
  bool met;
};

void PrintVerdicts(const std::vector<Verdict>& verdicts) {
  std::printf("\n| target | measured | |\n|---|---|---|\n");
  for (const Verdict& v : verdicts)
    std::printf("| %s | %s | %s |\n", v.target.c_str(), v.measured.c_str(),
                v.met ? "met" : "**missed**");
}

// Times the join on one thread and on `o.threads` side by side and prints
// both rows; returns the speed-up of o.threads over one thread (wall time).
double PrintThreads(const Options& o, const Store& s, int64_t join_lines) {
  std::printf("\n## Threads (the full-scan join; query --threads N)\n\n"
              "| threads | join ms | CPU ms | present lines/s | lines out/s | speed-up |\n"
              "|---|---|---|---|---|---|\n");
  const std::vector<Summary> r = Measure({JoinQuery(o, s, 1), JoinQuery(o, s, o.threads)}, o.runs);
  const int counts[] = {1, o.threads};
  for (size_t i = 0; i < r.size(); ++i)
    std::printf("| %d | %s | %s | %s | %s | %s |\n", counts[i], Spread(r[i]).c_str(), Ms(r[i].cpu).c_str(),
                Millions(static_cast<double>(s.stats.present_lines) / r[i].median).c_str(),
                Millions(static_cast<double>(join_lines) / r[i].median).c_str(),
                Ratio(r[0].median / r[i].median).c_str());
  return r[0].median / r[1].median;
}

// Times the join on `shuffled` beside `ordered`, the same store with its DOC
// records in document order, and prints both rows. Out of order, each line
// may cost a read of its own, so the pair is timed at most 3 times.
void PrintShuffled(const Options& o, const Store& ordered, const Store& shuffled) {
  const int runs = std::min(o.runs, 3);
  std::printf("\n## Detail lines out of document order (the full-scan join; median of %d runs)\n\n"
              "| DOC records | join ms | CPU ms | system CPU share | present lines/s | ÷ in order |\n"
              "|---|---|---|---|---|---|\n", runs);
  const std::vector<Summary> r = Measure({JoinQuery(o, ordered), JoinQuery(o, shuffled)}, runs);
  const char* names[] = {"in document order", "shuffled (bench_store --shuffle-doc)"};
  for (size_t i = 0; i < r.size(); ++i)
    std::printf("| %s | %s | %s | %s | %s | %s |\n", names[i], Spread(r[i]).c_str(), Ms(r[i].cpu).c_str(),
                r[i].cpu > 0 ? (std::to_string(static_cast<int>(100 * r[i].system_cpu / r[i].cpu)) + "%").c_str() : "—",
                Millions(static_cast<double>(ordered.stats.present_lines) / r[i].median).c_str(),
                Ratio(r[i].median / r[0].median).c_str());
}

// Times the query and DuckDB on the join and the point query and prints
// both; returns DuckDB's own query time for the join over the query's wall
// time (-1 when DuckDB reported no time).
double PrintDuckdb(const Options& o, const Store& s, const std::string& version, const Sample& import) {
  const std::string threads = CommandOutput("'" + o.node + "' '" + o.duckdb_script +
                                            "' :memory: \"SELECT current_setting('threads')\" 2>/dev/null");
  std::printf("\n## Against DuckDB %s (same store, imported; import %.1f s, not counted; DuckDB on %s "
              "threads)\n\n"
              "| question | query ms | CPU ms | DuckDB query time ms | node process ms | process CPU ms | "
              "DuckDB query time ÷ query |\n|---|---|---|---|---|---|---|\n",
              version.c_str(), import.seconds, threads.empty() ? "?" : threads.c_str());
  const std::string report = o.data_dir + "/duckdb-time.err";
  const std::vector<Summary> q = Measure({JoinQuery(o, s), DuckdbJoin(DuckdbOf(o), PeerOf(s), report), PointQuery(o, s),
                                          DuckdbPoint(DuckdbOf(o), PeerOf(s), report)},
                                         o.runs);
  std::remove(report.c_str());
  const char* names[] = {"full-scan join", "point query (last key)"};
  for (int i = 0; i < 2; ++i) {
    const Summary& query = q[2 * i];
    const Summary& duck = q[2 * i + 1];
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", names[i], Spread(query).c_str(), Ms(query.cpu).c_str(),
                duck.reported >= 0 ? Ms(duck.reported).c_str() : "—", Spread(duck).c_str(),
                Ms(duck.cpu).c_str(), duck.reported >= 0 ? Ratio(duck.reported / query.median).c_str() : "—");
  }
  std::printf("\nDuckDB query time is measured inside the node process around the query's call, until its "
              "whole result is read into DuckDB's chunks; the node process adds node's and DuckDB's start, "
              "opening the database and printing the rows.\n");
  return q[1].reported >= 0 ? q[1].reported / q[0].median : -1;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--runs" && value(&v)) {
      o->runs = std::atoi(v.c_str());
      if (o->runs < 1) return false;
    } else if (a == "--data" && value(&v)) {
      o->data_dir = v;
    } else if (a == "--awk" && value(&v)) {
      o->awk = v;
    } else if (a == "--query" && value(&v)) {
      o->query = v;
    } else if (a == "--engine" && value(&v)) {
      o->engine = v;
    } else if (a == "--yardstick" && value(&o->yardstick_dir) && value(&o->yardstick_awk)) {
      if (o->yardstick_awk[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        o->yardstick_awk = std::string(cwd != nullptr ? cwd : ".") + "/" + o->yardstick_awk;
        std::free(cwd);
      }
    } else if (a == "--point" && value(&v)) {
      o->point_dirs.push_back(v);
    } else if (a == "--check-only") {
      o->check_only = true;
    } else if (a == "--small-check") {
      o->small = true;
    } else if (a == "--threads" && value(&v)) {
      o->threads = std::atoi(v.c_str());
      if (o->threads < 1) return false;
    } else if (a == "--threads-compare") {
      o->threads_compare = true;
    } else if (a == "--node" && value(&v)) {
      o->node = v;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

constexpr char kUsage[] =
    "usage: bench_run [--runs N] [--data DIR] [--awk PROGRAM] [--query PATH [--engine TEXT]]\n"
    "                 [--yardstick DIR AWKFILE] [--point DIR]... [--check-only | --small-check]\n"
    "                 [--threads N] [--threads-compare] [--node PATH]\n"
    "  --runs N      timed runs per measurement (default 5); medians are reported\n"
    "  --data DIR    where the stores are written and reused (default " BENCH_DATA_DIR ")\n"
    "  --awk PROGRAM the awk that runs bench/join.awk (default mawk)\n"
    "  --query PATH  the query binary to measure (default the one built beside this)\n"
    "  --engine TEXT how to name that binary's engine in the report (a commit, say)\n"
    "  --yardstick DIR AWKFILE\n"
    "                also time, on the invoice store in DIR, query fac 'h00;' 'h02;' 'd01;'\n"
    "                'd04;' 'd01;tornillo' against AWKFILE run with -v want=tornillo\n"
    "  --point DIR   also time the point query query fac 'h00;KEY' 'h02;' 'd01;' 'd04;' for\n"
    "                the last document of the invoice store in DIR (may be repeated)\n"
    "  --check-only  only check that the query and awk print the same bytes\n"
    "  --small-check the same check on stores of a few thousand documents\n"
    "  --threads N   run every query as query --threads N fac ... (an engine with a parallel scan)\n"
    "  --threads-compare\n"
    "                also time the join on --threads 1 beside --threads N (N from --threads,\n"
    "                default 2)\n"
    "  --node PATH   the node that runs the DuckDB peer, bench/duckdb_run.mjs (default node)\n";

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (mkdir(o.data_dir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "bench_run: cannot create %s: %s\n", o.data_dir.c_str(),
                 std::strerror(errno));
    return 2;
  }
  if (CommandOutput("command -v '" + o.awk + "'").empty()) {
    std::fprintf(stderr, "bench_run: '%s' not found; install it or name another awk with --awk\n",
                 o.awk.c_str());
    return 2;
  }

  if (o.threads_compare && o.threads == 0) o.threads = 2;

  if (o.small) {
    // The same checks on small stores of the same shapes: seconds, for the test suite.
    Store lines, no_lines, one_line, shuffled;
    if (!GetStore(o, {2000, 5, 500}, &lines) || !GetStore(o, {2000, 0, 500}, &no_lines) ||
        !GetStore(o, {5000, 1, 500}, &one_line) || !GetStore(o, {2000, 5, 500, true}, &shuffled))
      return 2;
    if (o.threads > 0 && !QueryTakesThreads(o, lines)) return 2;
    bool same = CheckAll(o, lines, no_lines, one_line);
    same &= CheckShuffled(o, lines, shuffled);
    if (!CommandOutput("command -v sqlite3").empty()) same &= CheckSqlite(o, lines);
    std::string why;
    if (!DuckdbVersion(o, &why).empty()) {
      same &= CheckDuckdb(o, lines);
    } else {
      std::printf("- %s: DuckDB is not checked\n", why.c_str());
    }
    return same ? 0 : 1;
  }

  // Every store, written (or found) before anything is timed. The headline
  // store is shaped like the 200,000-document invoice store of the
  // performance issue. DOC can hold at most 1,000,000 records (a detail
  // pointer has 6 characters), so the million-document store has one line
  // per document and the line series uses 100,000 documents.
  const StoreShape shapes[] = {
      {200000, 5, 50000}, {200000, 0, 50000}, {1000000, 1, 50000},           // headlines
      {50000, 5, 50000},  {100000, 5, 50000},                                // documents
      {100000, 0, 50000}, {100000, 1, 50000}, {100000, 3, 50000}, {100000, 9, 50000},  // lines
      {200000, 5, 5000},  {200000, 5, 500000},                               // table sizes
      {200000, 5, 50000, true}};                                             // DOC out of order
  std::vector<Store> stores;
  for (const StoreShape& shape : shapes) {
    stores.emplace_back();
    if (!GetStore(o, shape, &stores.back())) return 2;
  }
  auto store = [&](int64_t documents, int lines, int64_t keys, bool shuffled = false) -> const Store& {
    for (const Store& s : stores)
      if (s.params.documents == documents && s.params.lines == lines && s.params.clients == keys &&
          s.params.shuffle_doc == shuffled)
        return s;
    std::abort();  // every shape used below is in `shapes`
  };
  const Store& main_store = store(200000, 5, 50000);
  const Store& header_store = store(200000, 0, 50000);
  const Store& million = store(1000000, 1, 50000);
  const Store& shuffled_store = store(200000, 5, 50000, true);
  if (o.threads > 0 && !QueryTakesThreads(o, main_store)) return 2;

  int64_t join_lines = 0;
  bool same = CheckAll(o, main_store, header_store, million, &join_lines);
  same &= CheckShuffled(o, main_store, shuffled_store);
  Store yardstick;
  if (!o.yardstick_dir.empty()) {
    if (!DescribeStore(o, o.yardstick_dir, &yardstick)) {
      std::fprintf(stderr, "bench_run: %s does not hold a store the query reads\n",
                   o.yardstick_dir.c_str());
      return 2;
    }
    same &= Check(o, "yardstick", YardstickQuery(o), YardstickAwk(o));
  }
  // SQLite, where installed: a database built from the headline store, the
  // import timed once and apart from the questions.
  const bool have_sqlite = !CommandOutput("command -v sqlite3").empty();
  Sample import;
  if (have_sqlite) {
    same &= CheckSqlite(o, main_store, &import);
  } else {
    std::printf("- sqlite3 is not installed: SQLite is not measured\n");
  }
  // DuckDB, where node and the package are installed, likewise.
  std::string no_duckdb;
  const std::string duckdb_version = DuckdbVersion(o, &no_duckdb);
  Sample duckdb_import;
  if (!duckdb_version.empty()) {
    same &= CheckDuckdb(o, main_store, &duckdb_import);
  } else {
    std::printf("- %s: DuckDB is not measured\n", no_duckdb.c_str());
  }
  std::vector<Store> point_stores;
  for (const std::string& dir : o.point_dirs) {
    point_stores.emplace_back();
    if (!DescribeStore(o, dir, &point_stores.back())) {
      std::fprintf(stderr, "bench_run: %s does not hold a store the query reads\n", dir.c_str());
      return 2;
    }
    same &= CheckPoint(o, "point-" + std::to_string(point_stores.size() + 1), point_stores.back());
  }
  if (o.check_only) return same ? 0 : 1;

  std::printf("\n## Whole-process timings\n\n");
  PrintMachine(o);
  std::vector<Headline> headlines;
  auto headline = [&](const std::string& question, const Store& s, const Job& q, const Job& a,
                      bool per_line) {
    std::vector<Summary> r = Measure({q, a}, o.runs);
    headlines.push_back({question, &s, r[0], r[1], per_line});
  };
  headline("full-scan join", main_store, JoinQuery(o, main_store), JoinAwk(o, main_store), true);
  headline("header-only records", header_store, HeaderQuery(o, header_store),
           HeaderAwk(o, header_store), false);
  headline("key shortcut, last key", million, KeyQuery(o, million), KeyAwk(o, million), false);
  headline("start-up (shortcut, last key)", main_store, KeyQuery(o, main_store),
           KeyAwk(o, main_store), false);
  if (!o.yardstick_dir.empty()) {
    headline("yardstick join (" + o.yardstick_awk.substr(o.yardstick_awk.rfind('/') + 1) + ")",
             yardstick, YardstickQuery(o), YardstickAwk(o), true);
  }
  PrintHeadlines(headlines);
  std::printf("\nThe full-scan join prints %s lines: %s lines out/s (lines printed ÷ wall time).\n",
              Thousands(join_lines).c_str(),
              Millions(static_cast<double>(join_lines) / headlines[0].query.median).c_str());
  const Summary floor = Summarize({RunOnce({"/", {"true"}}, "/dev/null")});
  std::printf("\nCPU ms is user + system time. Peak RSS counts the program's own pages (a process "
              "that does nothing shows %.1f MiB here).\n", floor.rss);

  // How cost grows: the query alone. Each series is measured as one batch,
  // its stores taken in turn, so that a burst of load elsewhere spreads over
  // the rows instead of landing on one. Ratios between rows use CPU time,
  // which such load disturbs less than wall time.
  std::printf("\n## Growth with documents (5 lines, tables of 50,000 keys)\n\n"
              "| documents | present lines | join ms | CPU ms | lines/s | RSS MiB | CPU ÷ previous |\n"
              "|---|---|---|---|---|---|---|\n");
  const int64_t doc_counts[] = {50000, 100000, 200000};
  std::vector<Job> jobs;
  for (int64_t docs : doc_counts) jobs.push_back(JoinQuery(o, store(docs, 5, 50000)));
  std::vector<Summary> r = Measure(jobs, o.runs);
  std::vector<double> doc_ratios;
  for (size_t i = 0; i < r.size(); ++i) {
    const Store& s = store(doc_counts[i], 5, 50000);
    if (i > 0) doc_ratios.push_back(r[i].cpu / r[i - 1].cpu);
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", Thousands(doc_counts[i]).c_str(),
                Thousands(s.stats.present_lines).c_str(), Spread(r[i]).c_str(),
                Ms(r[i].cpu).c_str(), Millions(s.stats.present_lines / r[i].median).c_str(),
                Mb(r[i].rss).c_str(), i > 0 ? Ratio(doc_ratios.back()).c_str() : "");
  }
  const double rss_growth = r.back().rss - r.front().rss;

  std::printf("\n## Growth with detail lines (100,000 documents, tables of 50,000 keys)\n\n"
              "| lines per document | present lines | join ms | CPU ms | lines/s | CPU µs per document |\n"
              "|---|---|---|---|---|---|\n");
  const int line_counts[] = {0, 1, 3, 5, 9};
  jobs.clear();
  for (int lines : line_counts) jobs.push_back(JoinQuery(o, store(100000, lines, 50000)));
  r = Measure(jobs, o.runs);
  for (size_t i = 0; i < r.size(); ++i) {
    const Store& s = store(100000, line_counts[i], 50000);
    std::printf("| %d | %s | %s | %s | %s | %.2f |\n", line_counts[i],
                Thousands(s.stats.present_lines).c_str(), Spread(r[i]).c_str(),
                Ms(r[i].cpu).c_str(),
                line_counts[i] > 0 ? Millions(s.stats.present_lines / r[i].median).c_str() : "—",
                r[i].cpu * 1e6 / static_cast<double>(s.params.documents));
  }

  // The start-up query loads the same tables as the join, so the join's
  // time less the start-up's is the time of the record loop and its lookups.
  std::printf("\n## Growth with table size (200,000 documents × 5 lines; both tables)\n\n"
              "| keys per table | join ms | start-up ms | join − start-up, CPU ms | loop lines/s | RSS MiB |\n"
              "|---|---|---|---|---|---|\n");
  const int64_t key_counts[] = {5000, 50000, 500000};
  jobs.clear();
  for (int64_t keys : key_counts) {
    jobs.push_back(JoinQuery(o, store(200000, 5, keys)));
    jobs.push_back(KeyQuery(o, store(200000, 5, keys)));
  }
  r = Measure(jobs, o.runs);
  std::vector<double> table_loop;
  for (size_t i = 0; i < std::size(key_counts); ++i) {
    const Store& s = store(200000, 5, key_counts[i]);
    const Summary& join = r[2 * i];
    const Summary& startup = r[2 * i + 1];
    const double loop = join.cpu - startup.cpu;
    std::printf("| %s | %s | %s | %s | %s | %s |\n", Thousands(key_counts[i]).c_str(),
                Spread(join).c_str(), Spread(startup).c_str(), Ms(loop).c_str(),
                Millions(s.stats.present_lines / loop).c_str(),
                Mb(std::max(join.rss, startup.rss)).c_str());
    table_loop.push_back(loop);
  }

  // The point query: one document by its key. Its time is start-up, which
  // must grow with what the query touches, not with the store.
  std::printf("\n## Point query (the last document by its key; 'h00;KEY' 'h02;' 'd01;' 'd04;')\n\n"
              "| store | query ms | CPU ms | RSS MiB |\n|---|---|---|---|\n");
  std::vector<const Store*> point_list = {&main_store, &million};
  for (const Store& s : point_stores) point_list.push_back(&s);
  jobs.clear();
  for (const Store* s : point_list) jobs.push_back(PointQuery(o, *s));
  const std::vector<Summary> points = Measure(jobs, o.runs);
  for (size_t i = 0; i < points.size(); ++i) {
    const Store& s = *point_list[i];
    std::printf("| %s docs × %d lines (%s) | %s | %s | %s |\n", Thousands(s.params.documents).c_str(),
                s.params.lines, s.dir.substr(s.dir.rfind('/') + 1).c_str(), Spread(points[i]).c_str(),
                Ms(points[i].cpu).c_str(), Mb(points[i].rss).c_str());
  }

  if (have_sqlite && import.status == 0) {
    std::printf("\n## Against SQLite %s (same store, indexed; import %.1f s, not counted)\n\n"
                "| question | query ms | CPU ms | sqlite3 ms | sqlite3 CPU ms | sqlite3 ÷ query |\n"
                "|---|---|---|---|---|---|\n",
                CommandOutput("sqlite3 --version | cut -d' ' -f1").c_str(), import.seconds);
    const std::vector<Summary> q = Measure({JoinQuery(o, main_store), SqliteJoin(PeerOf(main_store)),
                                            PointQuery(o, main_store), SqlitePoint(PeerOf(main_store))},
                                           o.runs);
    const char* names[] = {"full-scan join", "point query (last key)"};
    for (int i = 0; i < 2; ++i)
      std::printf("| %s | %s | %s | %s | %s | %s |\n", names[i], Spread(q[2 * i]).c_str(),
                  Ms(q[2 * i].cpu).c_str(), Spread(q[2 * i + 1]).c_str(), Ms(q[2 * i + 1].cpu).c_str(),
                  Ratio(q[2 * i + 1].median / q[2 * i].median).c_str());
  }

  double duckdb_ratio = -1;
  if (!duckdb_version.empty() && duckdb_import.status == 0)
    duckdb_ratio = PrintDuckdb(o, main_store, duckdb_version, duckdb_import);
  const double thread_speedup = o.threads_compare ? PrintThreads(o, main_store, join_lines) : 0;
  PrintShuffled(o, main_store, shuffled_store);

  std::printf("\n## Against the targets\n");
  const Headline& join = headlines[0];
  const double ratio = join.awk.median / join.query.median;
  const double rate = main_store.stats.present_lines / join.query.median;
  std::vector<Verdict> v;
  v.push_back({"full-scan join ≥ 20× faster than awk", Ratio(ratio), ratio >= 20});
  v.push_back({"full-scan join ≥ 6 M present lines/s", Millions(rate) + " lines/s", rate >= 6e6});
  if (duckdb_ratio >= 0)
    v.push_back({"full-scan join ≥ 4× faster than DuckDB's query time", Ratio(duckdb_ratio), duckdb_ratio >= 4});
  if (o.threads_compare)
    v.push_back({"full-scan join on " + std::to_string(o.threads) + " threads ≥ 1.8× faster than on one",
                 Ratio(thread_speedup), thread_speedup >= 1.8});
  const Headline& header = headlines[1];
  const double header_ratio = header.awk.median / header.query.median;
  v.push_back({"header-only records ≥ 10× faster than awk", Ratio(header_ratio), header_ratio >= 10});
  v.push_back({"point query on 200,000 documents ≤ 3 ms", Ms(points[0].median) + " ms",
               points[0].median <= 0.003});
  v.push_back({"point query on 1,000,000 documents ≤ 5 ms", Ms(points[1].median) + " ms",
               points[1].median <= 0.005});
  if (!o.yardstick_dir.empty()) {
    const Headline& y = headlines.back();
    const double y_ratio = y.awk.median / y.query.median;
    const double y_rate = static_cast<double>(y.store->stats.present_lines) / y.query.median;
    v.push_back({"yardstick join ≥ 20× faster than its awk", Ratio(y_ratio), y_ratio >= 20});
    v.push_back({"yardstick join ≥ 6 M present lines/s", Millions(y_rate) + " lines/s",
                 y_rate >= 6e6});
  }
  v.push_back({"shortcut on 1,000,000 documents < 20 ms", Ms(headlines[2].query.median) + " ms",
               headlines[2].query.median < 0.020});
  v.push_back({"start-up < 15 ms", Ms(headlines[3].query.median) + " ms",
               headlines[3].query.median < 0.015});
  bool doubling = true;
  std::string ratios;
  for (double d : doc_ratios) {
    doubling &= std::fabs(d - 2) <= 0.4;
    ratios += (ratios.empty() ? "" : ", ") + Ratio(d);
  }
  v.push_back({"doubling documents doubles the time (±20%; CPU time)", ratios, doubling});
  const double spread = *std::max_element(table_loop.begin(), table_loop.end()) /
                        *std::min_element(table_loop.begin(), table_loop.end());
  v.push_back({"table size does not change lookup time (record loop CPU, 5,000 to 500,000 keys)",
               "slowest ÷ fastest " + Ratio(spread), spread <= 1.2});
  v.push_back({"peak memory does not grow with HEAD and DOC (50,000 → 200,000 documents)",
               "+" + Mb(rss_growth) + " MiB", rss_growth < 2.0});
  PrintVerdicts(v);
  if (!same) std::printf("\nTHE OUTPUT CHECK FAILED: see above.\n");
  return same ? 0 : 1;
}
