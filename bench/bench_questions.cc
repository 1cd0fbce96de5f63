// The benchmark's stores and the questions it asks of them.
#include "bench_questions.h"

#include <cstdio>

namespace {

// The seed of every store the benchmark writes, so that runs compare the same data.
constexpr uint64_t kSeed = 3;

std::string StoreName(const StoreParams& p) {
  std::string name = "d";
  name += std::to_string(p.documents);
  name += "-l";
  name += std::to_string(p.lines);
  name += "-k";
  name += std::to_string(p.clients);
  if (p.shuffle_doc) name += "-shuffled";
  return name;
}

}  // namespace

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

// The query on form fac with `fields` in `dir`, given --threads `threads`
// when that is positive (before the form, where the query takes it), else
// given --threads as the options say.
Job QueryJob(const Options& o, const std::string& dir, const std::vector<std::string>& fields,
             int threads) {
  if (threads < 0) threads = o.threads;
  Job job{dir, {o.query}};
  if (threads > 0) job.argv.insert(job.argv.end(), {"--threads", std::to_string(threads)});
  job.argv.push_back("fac");
  job.argv.insert(job.argv.end(), fields.begin(), fields.end());
  return job;
}

Job JoinQuery(const Options& o, const Store& s, int threads) {
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

