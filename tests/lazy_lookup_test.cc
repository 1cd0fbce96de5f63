// Keys read only as lookups need them, H searched block by block, and the
// one-record reads of the key shortcut: whatever reaches a key or a record
// late, or in the last block of its file, prints what reading everything at
// start-up printed.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <pthread.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lookup.h"
#include "test_util.h"

namespace {

// ---- The scan of keys read so far

TEST(KeyScanTest, ScansOfAnyRangeAgreeWithComparingEachKeyAsText) {
  std::mt19937 rng(5);
  const std::string alphabet = std::string("ab ", 3) + std::string(1, '\0');
  for (size_t key_length : {1u, 4u, 7u, 8u, 11u}) {
    std::vector<char> slots;
    const int64_t count = 300;
    for (int64_t i = 0; i < count * static_cast<int64_t>(key_length); ++i)
      slots.push_back(alphabet[rng() % alphabet.size()]);
    KeyCache keys;
    keys.Assign(slots, key_length, count);
    for (size_t length : {size_t{0}, size_t{3}, key_length, key_length + 2}) {
      for (int probe = 0; probe < 200; ++probe) {
        std::string text;
        const size_t n = rng() % (key_length + 3);
        for (size_t j = 0; j < n; ++j) text += "ab "[rng() % 3];
        const int64_t from = static_cast<int64_t>(rng() % count);
        const int64_t to = from + static_cast<int64_t>(rng() % (count - from + 1));
        int64_t expected = -1;
        const std::string_view wanted = std::string_view(text).substr(0, std::min(length, text.size()));
        for (int64_t i = from; i < to && expected < 0; ++i)
          if (keys.Key(i, length) == wanted) expected = i;
        ASSERT_EQ(keys.ScanFor(text, length, from, to), expected)
            << "key length " << key_length << " over " << length << " text '" << text << "' in ["
            << from << ", " << to << ")";
      }
    }
  }
}

TEST(KeyScanTest, KeysAreReadableOnlyAsFarAsTheyAreLoaded) {
  KeyCache keys;
  keys.Start(3, 4);
  std::memcpy(keys.Extend(2), "AAABBB", 6);
  EXPECT_EQ(keys.loaded(), 2);
  EXPECT_EQ(keys.ScanFor("BBB", 3), 1);
  std::memcpy(keys.Extend(9), "CCCBBB", 6);  // only the two slots left
  EXPECT_EQ(keys.loaded(), 4);
  EXPECT_EQ(keys.ScanFor("BBB", 3, 2, 4), 3);
  EXPECT_EQ(keys.ScanFor("BBB", 3), 1);  // the first equal key wins
}

// ---- Through the query, on a store whose files span many blocks

// Form 'f': h00 number (8, the H key); h01 client key (7) into cl.db (table 1,
// 20-byte records, description of 10 at 7; key index 'cl'); one detail line:
// d00 article key (8) into ar.db (table 2, 24-byte records, no key index),
// d01 description (12 at 8), derived.
constexpr char kForm[] =
    "2 1 2 0\n"
    "1 1 8 0\n"
    "1 10 7 50 cl.db 20 7 10\n"
    "2 1 8 51 ar.db 24 8 12\n"
    "2 10 12 41 0 8 12\n";

constexpr int kClients = 20000;    // a key index of 140,000 bytes: three blocks
constexpr int kArticles = 10000;   // a table of 240,000 bytes: four blocks
constexpr int kDocuments = 10000;  // an H of 80,000 bytes: two blocks
constexpr int kFirstLine = 999;    // records before this one have no line
constexpr int kDuplicateSlot = 9000;  // holds the key of slot 5 again

std::string Printf(const char* format, int v) {
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// The client key of record n: every 50th is missing from cl.db.
std::string ClientOf(int n) { return Printf(n % 50 == 0 ? "X%06d" : "C%06d", (n * 7919) % kClients); }
// The article key of record n: the first line needs the last article, the
// next two the key held twice and the key its second holder lacks; every
// 37th key is missing from ar.db.
std::string ArticleOf(int n) {
  if (n == kFirstLine) return Printf("A%07d", kArticles - 1);
  if (n == kFirstLine + 1) return Printf("A%07d", 5);
  if (n == kFirstLine + 2) return Printf("A%07d", kDuplicateSlot);
  return Printf(n % 37 == 0 ? "Z%07d" : "A%07d", (n * 104729) % kArticles);
}

class LazyLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string clients, client_keys, articles, head, doc, h;
    for (int i = 0; i < kClients; ++i) {
      const std::string key = Printf("C%06d", i);
      clients += key + Printf("N%06d   ", i) + "  \n";
      client_keys += key;
    }
    for (int i = 0; i < kArticles; ++i) {
      const std::string key = i == kDuplicateSlot ? Printf("A%07d", 5) : Printf("A%07d", i);
      articles += key + Printf("Desc%08d", i) + "   \n";
    }
    int pointer = 0;
    for (int n = 0; n < kDocuments; ++n) {
      const std::string number = Printf("%08d", n);
      h += number;
      if (n < kFirstLine) {
        head += number + ClientOf(n) + "    -1\n";
      } else {
        head += number + ClientOf(n) + Printf("%6d", pointer++) + "\n";
        doc += ArticleOf(n) + "     \n";
      }
    }
    dir_.Write("f", kForm);
    dir_.Write("cl.db", clients);
    dir_.Write("cl", client_keys);
    dir_.Write("ar.db", articles);
    dir_.Write("HEAD", head);
    dir_.Write("DOC", doc);
    dir_.Write("H", h);
    dir_.Write("INFO", Printf("%12d", kDocuments));
  }

  // What 'h00;' 'h01;' 'd00;' 'd01;' prints for record n.
  static std::string Expected(int n) {
    const std::string client = ClientOf(n);
    std::string line = Printf("%08d", n) + ";" + client;
    const int c = std::stoi(client.substr(1));
    if (client[0] == 'C') {
      line += '|';
      line += Printf("N%06d   ", c);
    } else {
      line += std::string(10, ' ');
    }
    line += ";";
    if (n < kFirstLine) return line + ";;\n";
    const std::string article = ArticleOf(n);
    int slot = article[0] == 'A' ? std::stoi(article.substr(1)) : -1;
    if (slot == kDuplicateSlot) slot = -1;  // its key is 5's, found at slot 5
    return line + article + ";" + (slot >= 0 ? Printf("Desc%08d", slot) : std::string(12, ' ')) + ";\n";
  }

  RunResult Run(const std::string& first) { return RunQueryIn(dir_.path(), {"f", first, "h01;", "d00;", "d01;"}); }

  TempDir dir_;
};

TEST_F(LazyLookupTest, FullScanReadsTablesFirstNeededLateAcrossBlocksAndIndexes) {
  std::string expected;
  for (int n = 0; n < kDocuments; ++n) expected += Expected(n);
  RunResult r = Run("h00;");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, expected);
}

TEST_F(LazyLookupTest, KeyShortcutPrintsWhatTheFullScanPrintsForItsRecord) {
  // The first record; the first to need the article table, for its last key;
  // the key held twice, and the key its second holder lacks; the last key of
  // H, in its last block.
  for (int n : {0, kFirstLine, kFirstLine + 1, kFirstLine + 2, kDocuments / 2, kDocuments - 1}) {
    RunResult r = Run("h00;" + Printf("%08d", n));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Expected(n)) << "record " << n;
  }
}

TEST_F(LazyLookupTest, ProbeAbsentFromHExaminesEveryRecord) {
  // '0000999' is no key of H once blank-filled to eight characters, so every
  // record is examined and those whose number holds it are printed.
  std::string expected;
  for (int n = 0; n < kDocuments; ++n)
    if (Printf("%08d", n).find("0000999") != std::string::npos) expected += Expected(n);
  RunResult r = Run("h00;0000999");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(Run("h00;99999999").out, "");
}

TEST_F(LazyLookupTest, KeyIndexShorterThanItsTableHoldsOnlyItsOwnKeys) {
  // A key index of two blocks' keys for a table of 20,000: keys past its end
  // miss, however far the scan reads.
  std::string keys;
  for (int i = 0; i < 5000; ++i) keys += Printf("C%06d", i);
  dir_.Write("cl", keys);
  RunResult r = Run("h00;00000001");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string client = ClientOf(1);  // C007919: not among the 5,000 keys
  EXPECT_EQ(r.out, "00000001;" + client + std::string(10, ' ') + ";;;\n");
}

TEST(LazyLookupLongRecordsTest, RecordsLongerThanABlockAreReadOneKeyAtATime) {
  TempDir dir;
  // Three 70,000-byte records; the key wanted is in the last.
  std::string table;
  for (const char* key : {"K1", "K2", "K3"}) {
    std::string record = std::string(key) + "desc-" + key;
    record.resize(69999, '.');
    table += record + "\n";
  }
  dir.Write("big.db", table);
  dir.Write("f", "2 0 0 0\n1 1 2 0\n1 4 2 50 big.db 70000 2 7\n");
  dir.Write("HEAD", "01K3\n02K9\n");
  dir.Write("DOC", "");
  dir.Write("H", "0102");
  dir.Write("INFO", "           2");
  RunResult r = RunQueryIn(dir.path(), {"f", "h00;", "h01;"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "01;K3|desc-K3;\n02;K9       ;\n");
}

TEST(LazyLookupManyTablesTest, AFormOfHundredsOfTablesRunsWithinAFewHundredDescriptors) {
  // 300 header key fields, each naming its own table of 100 keys with a key
  // index: keys read later must not hold a descriptor per table.
  TempDir dir;
  const int tables = 300;
  std::string form = std::to_string(tables + 1) + " 0 0 0\n1 1 4 0\n";
  std::string record = "0001";
  for (int t = 1; t <= tables; ++t) {
    std::string name = "t";
    name += std::to_string(t);
    form += "1 1 4 ";
    form += std::to_string(49 + t);
    form += " " + name;
    form += t == 1 ? ".db 8 4 3\n" : ".db 8 4 0\n";
    std::string table, keys;
    for (int k = 0; k < 100; ++k) {
      const std::string key = Printf("K%03d", k);
      table += key + Printf("%03d", k + t) + "\n";
      keys += key;
    }
    dir.Write(name + ".db", table);
    dir.Write(name, keys);
    record += "K099";
  }
  dir.Write("f", form);
  dir.Write("HEAD", record + "\n");
  dir.Write("DOC", "");
  dir.Write("H", "0001");
  dir.Write("INFO", "           1");
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 200);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  RunResult r = RunQueryIn(dir.path(), {"f", "h00;", "h01;", "h99;"});
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0001;K099|100;K099;\n");
}

// ---- H mapped while another process cuts it

TEST(HeaderIndexSearchTest, HShrinkingAndGrowingDuringTheSearchNeverKillsTheQuery) {
  // An H of 4 MB, mapped by the search, cut to nothing and restored over and
  // over while queries search it for a key it lacks: each query must end
  // normally, having found nothing or, where H was whole, nothing either.
  TempDir dir;
  const int records = 500000;
  std::string head, h;
  head.reserve(static_cast<size_t>(records) * 9);
  h.reserve(static_cast<size_t>(records) * 8);
  for (int n = 0; n < records; ++n) {
    const std::string number = Printf("%08d", n);
    head += number + "\n";
    h += number;
  }
  dir.Write("f", "1 0 0 0\n1 1 8 0\n");
  dir.Write("HEAD", head);
  dir.Write("DOC", "");
  dir.Write("H", h);
  dir.Write("INFO", Printf("%12d", records));
  const int fd = open(dir.File("H").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  std::atomic<bool> stop{false};
  std::thread cutter([&] {
    while (!stop) {
      if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(h.size())) != 0) break;
    }
  });
  int ended_normally = 0;
  // The last half of the queries start with SIGBUS blocked in the mask they
  // inherit: the search must not map H then.
  sigset_t bus, saved;
  sigemptyset(&bus);
  sigaddset(&bus, SIGBUS);
  for (int run = 0; run < 40; ++run) {
    if (run == 20) {
      ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &bus, &saved), 0);
    }
    RunResult r = RunQueryIn(dir.path(), {"f", "h00;zzzzzzzz"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    ended_normally += r.status == 0;
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  stop = true;
  cutter.join();
  close(fd);
  EXPECT_EQ(ended_normally, 40);
}

}  // namespace
