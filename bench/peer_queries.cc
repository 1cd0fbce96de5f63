#include "peer_queries.h"

#include <string>
#include <vector>

// ---- SQLite, the indexed peer

std::string SqliteDb(const std::string& dir) { return dir + "/bench.sqlite"; }

// Imports the store's files into SQLite as they are (one row per line), then
// cuts them into columns and indexes the keys: what a user moving the store
// into a database would do. The derived texts are cut and padded as the form
// says when the tables are built, and the present lines listed.
Job SqliteImport(const PeerStore& s) {
  std::vector<std::string> argv = {"sqlite3", "-batch", SqliteDb(s.dir), ".mode ascii",
                                   ".separator \"\\037\" \"\\n\""};
  for (const char* file : {"HEAD", "DOC", "clients.db", "articles.db"}) {
    std::string table = std::string("raw_") + (file[0] == 'c' ? "clients" : file[0] == 'a' ? "articles" : file);
    argv.push_back("CREATE TABLE " + table + "(line TEXT);");
    argv.push_back(std::string(".import ") + file + " " + table);
  }
  std::string lines;
  for (int l = 0; l < s.lines; ++l) {
    if (l > 0) lines += " UNION ALL ";
    lines += "SELECT n, " + std::to_string(l) + ", CAST(substr(line, " + std::to_string(38 + 6 * l) +
             ", 6) AS INTEGER) FROM head";
  }
  const std::string digit_trim = "CASE WHEN substr(x, 1, 1) BETWEEN '0' AND '9' THEN rtrim(x, ' ') ELSE x END";
  argv.insert(argv.end(), {
      "CREATE TABLE head(n INTEGER PRIMARY KEY, num TEXT, client TEXT, amount REAL, discount REAL, line TEXT);",
      "INSERT INTO head SELECT rowid - 1, substr(line, 1, 8), substr(line, 9, 7), CAST(substr(line, 24, 11) AS REAL), "
      "CAST(substr(line, 35, 3) AS REAL), line FROM raw_HEAD ORDER BY rowid;",
      "CREATE INDEX head_num ON head(num);",
      "CREATE TABLE lines(n INTEGER, l INTEGER, p INTEGER, PRIMARY KEY (n, l)) WITHOUT ROWID;",
      lines.empty() ? std::string("DELETE FROM lines;") : "INSERT INTO lines " + lines + ";",
      "DELETE FROM lines WHERE p < 0;",
      "CREATE TABLE doc(p INTEGER PRIMARY KEY, art TEXT, qty REAL, price REAL);",
      "INSERT INTO doc SELECT rowid - 1, substr(line, 1, 8), CAST(substr(line, 9, 5) AS REAL), "
      "CAST(substr(line, 14, 9) AS REAL) FROM raw_DOC ORDER BY rowid;",
      // The first record of a key wins, as in the query's lookups.
      "CREATE TABLE clients(code TEXT PRIMARY KEY, h02 TEXT);",
      "INSERT OR IGNORE INTO clients SELECT substr(line, 1, 7), (SELECT " + digit_trim +
          " FROM (SELECT substr(line, 8, 24) AS x)) FROM raw_clients ORDER BY rowid;",
      "CREATE TABLE articles(code TEXT PRIMARY KEY, d01 TEXT);",
      "INSERT OR IGNORE INTO articles SELECT substr(line, 1, 8), (SELECT " + digit_trim +
          " FROM (SELECT substr(line, 9, 30) AS x)) FROM raw_articles ORDER BY rowid;",
      "DROP TABLE raw_HEAD; DROP TABLE raw_DOC; DROP TABLE raw_clients; DROP TABLE raw_articles;",
      "VACUUM;"});
  return {s.dir, argv};
}

namespace {

// Cents of the non-negative double m × 2^e, rounded as printf's "%.2f"
// rounds the exact binary value (half to even). SQLite's own printf rounds
// some values whose exact expansion lies just below a half cent upwards,
// so the totals are formatted from the exact mantissa and exponent.
std::string Cents(const std::string& m, const std::string& e) {
  const std::string scaled = "(" + m + " * 100)";
  const std::string q = "(" + scaled + " >> -" + e + ")";
  const std::string r = "(" + scaled + " - (" + q + " << -" + e + "))";
  const std::string half = "(1 << -" + e + ")";
  return "CASE WHEN " + e + " >= 0 THEN " + scaled + " << " + e + " ELSE " + q + " + (CASE WHEN " + r +
         " * 2 > " + half + " OR (" + r + " * 2 = " + half + " AND (" + q +
         " & 1) = 1) THEN 1 ELSE 0 END) END";
}

// The present lines of the documents chosen by `where`, in store order:
// n, l, num, h02, art, d01 and the totals h06 and d04 as doubles hx and dx.
// SQLite and DuckDB both read it.
std::string PeerRows(const std::string& where) {
  return "SELECT l.n AS n, l.l AS l, h.num AS num, coalesce(c.h02, printf('%-24s', '')) AS h02, d.art AS art,"
         " coalesce(a.d01, printf('%-30s', '')) AS d01,"
         " (h.amount - h.amount * h.discount / 100.0) * 1.21 AS hx, d.qty * d.price AS dx"
         " FROM lines l JOIN head h ON h.n = l.n JOIN doc d ON d.p = l.p"
         " LEFT JOIN clients c ON c.code = h.client LEFT JOIN articles a ON a.code = d.art"
         " WHERE substr(d.art, 1, 1) <> ' '" + where;
}

// The same lines as `fields` over num, h02, art, d01 and the totals h06 and
// d04 as text, in SQLite.
std::string SqliteLines(const std::string& fields, const std::string& where) {
  const std::string exact = "SELECT *, ieee754_mantissa(hx) AS hm, ieee754_exponent(hx) AS he,"
                            " ieee754_mantissa(dx) AS dm, ieee754_exponent(dx) AS de FROM (" +
                            PeerRows(where) + ")";
  const std::string cents =
      "SELECT *, " + Cents("hm", "he") + " AS hc, " + Cents("dm", "de") + " AS dc FROM (" + exact + ")";
  return "SELECT " + fields + " FROM (SELECT *, printf('%d.%02d', hc / 100, hc % 100) AS h06,"
         " printf('%d.%02d', dc / 100, dc % 100) AS d04 FROM (" + cents + ")) ORDER BY n, l;";
}

}  // namespace

// The full-scan join of the benchmark in SQL.
Job SqliteJoin(const PeerStore& s) {
  return {s.dir, {"sqlite3", "-batch", SqliteDb(s.dir),
                  SqliteLines("num || ';' || h02 || ';' || h06 || ';' || art || ';' || d01 || ';' || d04"
                              " || ';' || d01 || ';'",
                              " AND instr(lower(coalesce(a.d01, '')), 'tornillo') > 0")}};
}

// The point query (the last document by its key) in SQL, through the index on the number.
Job SqlitePoint(const PeerStore& s) {
  return {s.dir, {"sqlite3", "-batch", SqliteDb(s.dir),
                  SqliteLines("num || ';' || h02 || ';' || d01 || ';' || d04 || ';'",
                              " AND h.num = '" + s.last_key + "'")}};
}

// ---- DuckDB, the columnar peer (bench/duckdb_run.mjs, run by node)

std::string DuckdbDb(const std::string& dir) { return dir + "/bench.duckdb"; }

namespace {

// Runs `statements` on the database of `s`, printing the last one's rows;
// with `report_path`, its time inside DuckDB goes there (Job::report_path).
Job DuckdbJob(const DuckdbRunner& o, const PeerStore& s, const std::vector<std::string>& statements,
              const std::string& report_path = "") {
  Job job{s.dir, {o.node, o.script}};
  if (!report_path.empty()) job.argv.push_back("--time");
  job.argv.push_back(DuckdbDb(s.dir));
  job.argv.insert(job.argv.end(), statements.begin(), statements.end());
  job.report_path = report_path;
  return job;
}

// A store file as a table of its records, numbered from 1 in file order.
std::string DuckdbRaw(const std::string& table, const std::string& file) {
  return "CREATE TABLE " + table + " AS SELECT i, line FROM (SELECT generate_subscripts(p, 1) AS i,"
         " unnest(p) AS line FROM (SELECT string_split(content, chr(10)) AS p FROM read_text('" +
         file + "'))) WHERE line <> '';";
}

}  // namespace

// The import of SqliteImport in DuckDB: the files read as they are, one row
// per record, then cut into the same columns, the derived texts cut and
// padded as the form says (first record of a key wins), the present lines
// listed and the invoice number indexed. DuckDB joins by hashing, so the
// other keys need no index.
Job DuckdbImport(const DuckdbRunner& o, const PeerStore& s) {
  const std::string digit_trim = "CASE WHEN substr(x, 1, 1) BETWEEN '0' AND '9' THEN rtrim(x, ' ') ELSE x END";
  return DuckdbJob(o, s, {
      DuckdbRaw("raw_head", "HEAD"), DuckdbRaw("raw_doc", "DOC"),
      DuckdbRaw("raw_clients", "clients.db"), DuckdbRaw("raw_articles", "articles.db"),
      "CREATE TABLE head AS SELECT i - 1 AS n, substr(line, 1, 8) AS num, substr(line, 9, 7) AS client,"
      " CAST(substr(line, 24, 11) AS DOUBLE) AS amount, CAST(substr(line, 35, 3) AS DOUBLE) AS discount,"
      " line FROM raw_head ORDER BY i;",
      "CREATE INDEX head_num ON head(num);",
      "CREATE TABLE lines AS SELECT n, l, p FROM (SELECT n, l, CAST(substr(line, 38 + 6 * l, 6) AS INTEGER)"
      " AS p FROM head, range(" + std::to_string(s.lines) + ") r(l)) WHERE p >= 0 ORDER BY n, l;",
      "CREATE TABLE doc AS SELECT i - 1 AS p, substr(line, 1, 8) AS art, CAST(substr(line, 9, 5) AS DOUBLE)"
      " AS qty, CAST(substr(line, 14, 9) AS DOUBLE) AS price FROM raw_doc ORDER BY i;",
      "CREATE TABLE clients AS SELECT code, " + digit_trim + " AS h02 FROM (SELECT i, substr(line, 1, 7)"
      " AS code, substr(line, 8, 24) AS x FROM raw_clients) QUALIFY row_number() OVER (PARTITION BY code"
      " ORDER BY i) = 1;",
      "CREATE TABLE articles AS SELECT code, " + digit_trim + " AS d01 FROM (SELECT i, substr(line, 1, 8)"
      " AS code, substr(line, 9, 30) AS x FROM raw_articles) QUALIFY row_number() OVER (PARTITION BY code"
      " ORDER BY i) = 1;",
      "DROP TABLE raw_head; DROP TABLE raw_doc; DROP TABLE raw_clients; DROP TABLE raw_articles;",
      "CHECKPOINT;"});
}

namespace {

// SqliteLines in DuckDB. Its printf rounds the exact binary value of a
// double as "%.2f" does (half to even), unlike SQLite's, so the totals need
// no taking apart; the output check would tell if a version did otherwise.
std::string DuckdbLines(const std::string& fields, const std::string& where) {
  return "SELECT " + fields + " FROM (SELECT *, printf('%.2f', hx) AS h06, printf('%.2f', dx) AS d04"
         " FROM (" + PeerRows(where) + ")) ORDER BY n, l;";
}

}  // namespace

// The join and the point query in DuckDB.
Job DuckdbJoin(const DuckdbRunner& o, const PeerStore& s, const std::string& report_path) {
  return DuckdbJob(o, s, {DuckdbLines("num || ';' || h02 || ';' || h06 || ';' || art || ';' || d01 || ';' || d04"
                                      " || ';' || d01 || ';'",
                                      " AND instr(lower(coalesce(a.d01, '')), 'tornillo') > 0")},
                   report_path);
}
Job DuckdbPoint(const DuckdbRunner& o, const PeerStore& s, const std::string& report_path) {
  return DuckdbJob(o, s, {DuckdbLines("num || ';' || h02 || ';' || d01 || ';' || d04 || ';'",
                                      " AND h.num = '" + s.last_key + "'")},
                   report_path);
}

