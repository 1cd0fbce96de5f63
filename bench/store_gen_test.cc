// The benchmark store generator: the same parameters give the same bytes,
// and the query reads every document and line that the statistics count.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store_gen.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/bench-store-test-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the built query in `dir` and returns its standard output.
std::string RunQuery(const std::string& dir, const std::string& arguments) {
  std::string command = "cd '" + dir + "' && '" QUERY_BINARY "' fac " + arguments;
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, p)) > 0) out.append(block, n);
    pclose(p);
  }
  return out;
}

StoreParams Small(uint64_t seed) {
  StoreParams p;
  p.documents = 300;
  p.lines = 3;
  p.clients = 40;
  p.articles = 60;
  p.seed = seed;
  return p;
}

TEST(StoreGenTest, SameParametersGiveTheSameBytesAndAnotherSeedOthers) {
  TempDir a, b, c;
  StoreStats stats;
  std::string error;
  ASSERT_TRUE(WriteStore(Small(5), a.path(), &stats, &error)) << error;
  ASSERT_TRUE(WriteStore(Small(5), b.path(), &stats, &error)) << error;
  ASSERT_TRUE(WriteStore(Small(6), c.path(), &stats, &error)) << error;
  for (const char* file : {"fac", "fac.c0", "INFO", "HEAD", "DOC", "H", "clients.db", "clients",
                           "articles.db", kStatsFile}) {
    EXPECT_EQ(ReadFile(a.path() + "/" + file), ReadFile(b.path() + "/" + file)) << file;
  }
  EXPECT_NE(ReadFile(a.path() + "/HEAD"), ReadFile(c.path() + "/HEAD"));
  EXPECT_NE(ReadFile(a.path() + "/clients.db"), ReadFile(c.path() + "/clients.db"));
}

TEST(StoreGenTest, FilesHaveTheRecordLengthsTheFormImplies) {
  TempDir dir;
  StoreStats stats;
  std::string error;
  const StoreParams p = Small(7);
  ASSERT_TRUE(WriteStore(p, dir.path(), &stats, &error)) << error;
  EXPECT_EQ(stats.present_lines + stats.absent_lines + stats.deleted_lines, p.documents * p.lines);
  // HEAD: 37 bytes of header fields, a 6-byte pointer per line, a line feed.
  EXPECT_EQ(fs::file_size(dir.path() + "/HEAD"), static_cast<uintmax_t>(p.documents * (37 + 6 * p.lines + 1)));
  // DOC: 22 bytes of line fields and a 6-byte trailer, for every line not absent.
  EXPECT_EQ(fs::file_size(dir.path() + "/DOC"),
            static_cast<uintmax_t>((stats.present_lines + stats.deleted_lines) * 28));
  EXPECT_EQ(ReadFile(dir.path() + "/H").substr(0, 16), InvoiceNumber(0) + InvoiceNumber(1));
  EXPECT_EQ(fs::file_size(dir.path() + "/clients.db"), static_cast<uintmax_t>(p.clients * 72));
  EXPECT_EQ(fs::file_size(dir.path() + "/clients"), static_cast<uintmax_t>(p.clients * 7));
  EXPECT_EQ(fs::file_size(dir.path() + "/articles.db"), static_cast<uintmax_t>(p.articles * 64));
  EXPECT_EQ(ReadFile(dir.path() + "/INFO"), "         300");

  StoreParams read_params;
  StoreStats read_stats;
  ASSERT_TRUE(ReadStats(dir.path(), &read_params, &read_stats));
  EXPECT_EQ(read_params.seed, 7u);
  EXPECT_EQ(read_stats.present_lines, stats.present_lines);
}

TEST(StoreGenTest, QueryPrintsOneLinePerPresentLineAndPerRecordWithout) {
  TempDir dir;
  StoreStats stats;
  std::string error;
  StoreParams p = Small(8);
  p.lines = 1;  // about 16% of the documents then have no present line
  ASSERT_TRUE(WriteStore(p, dir.path(), &stats, &error)) << error;
  ASSERT_GT(stats.documents_without_lines, 0);
  ASSERT_GT(stats.deleted_lines + stats.absent_lines, 0);
  const std::string out = RunQuery(dir.path(), "'h00;' 'd00;'");
  int64_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, stats.present_lines + stats.documents_without_lines);
  EXPECT_EQ(out.substr(0, 9), InvoiceNumber(0) + ";");
  // One line per document (one detail line each at most): "key|name" when
  // the client is in clients.db, else the key and 30 blanks.
  std::istringstream headers(RunQuery(dir.path(), "'h01|'"));
  int found = 0, missing = 0;
  for (std::string line; std::getline(headers, line);) {
    if (line[0] == 'C') {
      EXPECT_EQ(line.size(), 7u + 1 + 30 + 1) << line;
      EXPECT_EQ(line[7], '|') << line;
      ++found;
    } else {
      EXPECT_EQ(line[0], 'X') << line;
      EXPECT_EQ(line.substr(7), std::string(30, ' ') + "|");
      ++missing;
    }
  }
  EXPECT_EQ(found + missing, p.documents);
  EXPECT_GT(missing, 0);
}

// The records of a file of fixed-length records, sorted.
std::vector<std::string> SortedRecords(const std::string& bytes, size_t length) {
  std::vector<std::string> records;
  for (size_t at = 0; at + length <= bytes.size(); at += length) records.push_back(bytes.substr(at, length));
  std::sort(records.begin(), records.end());
  return records;
}

TEST(StoreGenTest, ShuffledStoreHoldsTheSameDocRecordsInAnotherOrder) {
  TempDir ordered, shuffled, again;
  StoreStats stats, shuffled_stats;
  std::string error;
  StoreParams p = Small(9);
  ASSERT_TRUE(WriteStore(p, ordered.path(), &stats, &error)) << error;
  p.shuffle_doc = true;
  ASSERT_TRUE(WriteStore(p, shuffled.path(), &shuffled_stats, &error)) << error;
  ASSERT_TRUE(WriteStore(p, again.path(), &shuffled_stats, &error)) << error;
  const std::string doc = ReadFile(ordered.path() + "/DOC");
  const std::string shuffled_doc = ReadFile(shuffled.path() + "/DOC");
  EXPECT_NE(doc, shuffled_doc);
  EXPECT_EQ(SortedRecords(doc, 28), SortedRecords(shuffled_doc, 28));
  EXPECT_NE(ReadFile(ordered.path() + "/HEAD"), ReadFile(shuffled.path() + "/HEAD"));
  EXPECT_EQ(fs::file_size(ordered.path() + "/HEAD"), fs::file_size(shuffled.path() + "/HEAD"));
  EXPECT_FALSE(fs::exists(shuffled.path() + "/HEAD.shuffled"));
  // The order is part of the store's definition: the same on every run.
  EXPECT_EQ(shuffled_doc, ReadFile(again.path() + "/DOC"));
  EXPECT_EQ(ReadFile(shuffled.path() + "/HEAD"), ReadFile(again.path() + "/HEAD"));
  EXPECT_EQ(shuffled_stats.present_lines, stats.present_lines);

  StoreParams read_params;
  StoreStats read_stats;
  ASSERT_TRUE(ReadStats(shuffled.path(), &read_params, &read_stats));
  EXPECT_TRUE(read_params.shuffle_doc);
  ASSERT_TRUE(ReadStats(ordered.path(), &read_params, &read_stats));
  EXPECT_FALSE(read_params.shuffle_doc);
}

TEST(StoreGenTest, StatisticsWrittenBeforeShufflingExistedNameAnOrderedStore) {
  TempDir dir;
  StoreParams p = Small(12);
  p.shuffle_doc = true;
  std::string stats = FormatStats(p, StoreStats());
  const size_t at = stats.find("shuffle_doc 1\n");
  ASSERT_NE(at, std::string::npos);
  stats.erase(at, std::strlen("shuffle_doc 1\n"));
  std::ofstream(dir.path() + "/" + kStatsFile) << stats;
  StoreParams read_params;
  StoreStats read_stats;
  ASSERT_TRUE(ReadStats(dir.path(), &read_params, &read_stats));
  EXPECT_FALSE(read_params.shuffle_doc);
  EXPECT_EQ(read_params.seed, 12u);
}

TEST(StoreGenTest, QueryPrintsTheSameBytesOnTheShuffledStoreAsOnTheOrderedOne) {
  TempDir ordered, shuffled;
  StoreStats stats;
  std::string error;
  StoreParams p = Small(10);
  p.documents = 4000;  // DOC (about 470 KB) then spans more than one of the query's read windows
  p.lines = 5;
  ASSERT_TRUE(WriteStore(p, ordered.path(), &stats, &error)) << error;
  p.shuffle_doc = true;
  ASSERT_TRUE(WriteStore(p, shuffled.path(), &stats, &error)) << error;
  const char* const questions[] = {
      "'h00;' 'h02;' 'h06;' 'd00;' 'd01;' 'd04;' 'd01;tornillo'",  // the benchmark's join
      "'h00;' 'd00;' 'd02;' 'd03;'",                               // every present line
      "'h00;00003999' 'h02;' 'd01;' 'd04;'",                       // the point query
  };
  for (const char* question : questions) {
    const std::string want = RunQuery(ordered.path(), question);
    EXPECT_NE(want, "") << question;
    EXPECT_EQ(RunQuery(shuffled.path(), question), want) << question;
  }
}

TEST(StoreGenTest, RefusesParametersOutOfRange) {
  StoreParams p;
  p.lines = 100;
  EXPECT_NE(CheckParams(p), "");
  p = StoreParams();
  p.clients = 0;
  EXPECT_NE(CheckParams(p), "");
  TempDir dir;
  StoreStats stats;
  std::string error;
  EXPECT_FALSE(WriteStore(p, dir.path(), &stats, &error));
  EXPECT_NE(error, "");
  EXPECT_FALSE(fs::exists(dir.path() + "/" + kStatsFile));
}

}  // namespace
