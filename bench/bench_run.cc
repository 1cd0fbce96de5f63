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

#include "bench_questions.h"
#include "output_checks.h"
#include "peer_queries.h"
#include "process_timing.h"
#include "report_format.h"
#include "store_gen.h"

namespace {

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

// The least number of rounds the threads section takes, whatever --runs
// says: its runs are short and spread wide (a two-thread join on a shared
// machine takes anything from 46 to 67 ms), so the medians of a few rounds
// move by a tenth from one report to the next. A multiple of the six orders
// in which a round can take its three kinds of run.
constexpr int kThreadRoundsAtLeast = 24;

// The least number of rounds of the point query beside sqlite3's, whatever
// --runs says: both take about two milliseconds, within a tenth of each
// other, and the median of seven runs of either moves by that much.
constexpr int kPointRoundsAtLeast = 51;

// Times the join on one thread and on `o.threads` side by side and prints
// both rows; returns the speed-up of o.threads over one thread (wall time).
double PrintThreads(const Options& o, const Store& s, int64_t join_lines, double* ceiling) {
  std::printf("\n## Threads (the full-scan join; query --threads N)\n\n"
              "| threads | join ms | CPU ms | present lines/s | lines out/s | speed-up |\n"
              "|---|---|---|---|---|---|\n");
  const Job one = JoinQuery(o, s, 1);
  const Job many = JoinQuery(o, s, o.threads);
  // Beside the two, as many one-thread runs as threads at once: what each
  // costs then against alone is what the machine gives a second busy core
  // (shared caches and memory, a lower clock), whatever the program.
  std::vector<Sample> alone, threaded, together;
  RunOnce(one, "/dev/null");
  RunOnce(many, "/dev/null");
  // Each round takes the three kinds in another of their six orders: a run
  // is slower after a one-thread run than after a run that kept every core
  // busy (on a virtual machine, by 2% to 3%), and in one fixed order each
  // kind would always follow the same one.
  const int rounds = (std::max(o.runs, kThreadRoundsAtLeast) + 5) / 6 * 6;
  int order[] = {0, 1, 2};
  for (int r = 0; r < rounds; ++r) {
    for (int kind : order) {
      if (kind == 0) alone.push_back(RunTimed(one));
      if (kind == 1) threaded.push_back(RunTimed(many));
      if (kind == 2)
        for (const Sample& x : RunTogether(one, o.threads)) together.push_back(x);
    }
    std::next_permutation(std::begin(order), std::end(order));
  }
  const Summary r[] = {Summarize(alone), Summarize(threaded)};
  const int counts[] = {1, o.threads};
  for (int i = 0; i < 2; ++i)
    std::printf("| %d | %s | %s | %s | %s | %s |\n", counts[i], Spread(r[i]).c_str(), Ms(r[i].cpu).c_str(),
                Millions(static_cast<double>(s.stats.present_lines) / r[i].median).c_str(),
                Millions(static_cast<double>(join_lines) / r[i].median).c_str(),
                FineRatio(r[0].median / r[i].median).c_str());
  const Summary side = Summarize(together);
  *ceiling = side.cpu > 0 ? o.threads * r[0].cpu / side.cpu : 0;
  std::printf("\n%d one-thread runs started together took %s ms of CPU each (%s ms wall), against %s ms alone: "
              "the machine's ceiling for %d threads is about %s, where the threads would cost no more than "
              "the runs beside each other. Each of those runs does the whole join, reading the same bytes at "
              "the same time; threads that split one join read different bytes, and what does not split "
              "(starting the process, loading the engine) stays whole, so this ceiling is an upper bound.\n",
              o.threads, Ms(side.cpu).c_str(), Spread(side).c_str(), Ms(r[0].cpu).c_str(), o.threads,
              FineRatio(*ceiling).c_str());
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
  const std::vector<Summary> q = MeasureInPairs({JoinQuery(o, s), DuckdbJoin(DuckdbOf(o), PeerOf(s), report),
                                                 PointQuery(o, s), DuckdbPoint(DuckdbOf(o), PeerOf(s), report)},
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
    "  --runs N      timed runs per measurement (default 5); medians are reported; the point\n"
    "                query beside sqlite3 takes at least 51\n"
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
    "                default 2), in at least 24 rounds whatever --runs says, each in another order\n"
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
    std::vector<Summary> q = Measure({JoinQuery(o, main_store), SqliteJoin(PeerOf(main_store))}, o.runs);
    for (const Summary& point : Measure({PointQuery(o, main_store), SqlitePoint(PeerOf(main_store))},
                                        std::max(o.runs, kPointRoundsAtLeast)))
      q.push_back(point);
    const char* names[] = {"full-scan join", "point query (last key)"};
    for (int i = 0; i < 2; ++i)
      std::printf("| %s | %s | %s | %s | %s | %s |\n", names[i], Spread(q[2 * i]).c_str(),
                  Ms(q[2 * i].cpu).c_str(), Spread(q[2 * i + 1]).c_str(), Ms(q[2 * i + 1].cpu).c_str(),
                  Ratio(q[2 * i + 1].median / q[2 * i].median).c_str());
  }

  double duckdb_ratio = -1;
  if (!duckdb_version.empty() && duckdb_import.status == 0)
    duckdb_ratio = PrintDuckdb(o, main_store, duckdb_version, duckdb_import);
  double thread_ceiling = 0;
  const double thread_speedup = o.threads_compare ? PrintThreads(o, main_store, join_lines, &thread_ceiling) : 0;
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
                 FineRatio(thread_speedup) + " (the machine's ceiling " + FineRatio(thread_ceiling) + ")",
                 thread_speedup >= 1.8});
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
               (rss_growth < 0 ? "" : "+") + Mb(rss_growth) + " MiB", rss_growth < 2.0});
  PrintVerdicts(v);
  if (!same) std::printf("\nTHE OUTPUT CHECK FAILED: see above.\n");
  return same ? 0 : 1;
}
