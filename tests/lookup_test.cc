#include "lookup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "test_util.h"

namespace {

// ---- The index agrees with a front-to-back scan

KeyCache MakeKeys(const std::vector<std::string>& keys, size_t key_length) {
  std::vector<char> slots(keys.size() * key_length, '\0');
  for (size_t i = 0; i < keys.size(); ++i)
    std::memcpy(slots.data() + i * key_length, keys[i].data(), std::min(key_length, keys[i].size()));
  KeyCache cache;
  cache.Assign(std::move(slots), key_length, static_cast<int64_t>(keys.size()));
  return cache;
}

TEST(KeyIndexTest, AgreesWithALinearScanOnDuplicatesBlanksAndNuls) {
  std::mt19937 rng(7);
  const std::string alphabet = std::string("ab ", 3) + std::string(1, '\0');
  for (size_t key_length : {1u, 3u, 6u, 30u}) {
    std::vector<std::string> keys;
    for (int i = 0; i < 400; ++i) {
      std::string k;
      for (size_t j = 0; j < key_length; ++j) k += alphabet[rng() % alphabet.size()];
      keys.push_back(k);
    }
    KeyCache cache = MakeKeys(keys, key_length);
    for (size_t length : {size_t{0}, size_t{1}, key_length / 2, key_length, key_length + 4}) {
      KeyIndex index(cache, length);
      for (int probe = 0; probe < 300; ++probe) {
        std::string text;
        size_t n = rng() % (key_length + 3);
        for (size_t j = 0; j < n; ++j) text += "ab "[rng() % 3];  // field text has no NUL
        ASSERT_EQ(index.Find(text), cache.ScanFor(text, length))
            << "key length " << key_length << " compared over " << length << " text '" << text << "'";
      }
    }
  }
}

TEST(KeyIndexTest, FirstEqualSlotWinsAndComparisonStopsAtNul) {
  KeyCache cache = MakeKeys({"ab", std::string("a\0", 2), "ab", "a"}, 2);
  KeyIndex two(cache, 2);
  EXPECT_EQ(two.Find("ab"), 0);
  EXPECT_EQ(two.Find("a"), 1);   // "a\0" equals "a" over two characters
  EXPECT_EQ(two.Find("abc"), 0);  // compared over two characters only
  KeyIndex one(cache, 1);
  EXPECT_EQ(one.Find("a"), 0);
  EXPECT_EQ(one.Find("b"), -1);
}

// ---- Key and derived fields through the query

// Form 'f': header 0 number (4); 1 client key (6) into clients.db (table 1,
// 80-byte records, description at 6, 30 bytes); 2 derived city (8) from table
// 1 at 36; 3 derived credit (8) from table 2 at 8, 4 bytes; 4 agent key (6)
// into credit.db (table 2, 13-byte records). Two detail lines: 0 article key
// (4) into arts.db (table 3, 20-byte records), 1 derived description (10).
constexpr char kForm[] =
    "5 2 2 0\n"
    "1 1 4 0\n"
    "1 6 6 50 clients.db 80 6 30\n"
    "1 40 8 40 1 36 20\n"
    "1 50 8 41 1 8 4\n"
    "1 60 6 51 credit.db 13 8 4\n"
    "2 1 4 52 arts.db 20 4 12\n"
    "2 6 10 42 0 4 12\n"
    "3 1 4 52\n"
    "3 6 10 42\n";

std::string Rec(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

class LookupEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("f", kForm);
    dir_.Write("clients.db", Rec("C00001ACME S.A." + std::string(21, ' ') + "Madrid", 79) + "\n" +
                                 Rec("C00002Beta SL" + std::string(23, ' ') + "00123", 79) + "\n");
    dir_.Write("credit.db", "C00001  5000\nC00003  7777\n");
    dir_.Write("arts.db", Rec("A001Tornillo", 19) + "\n" + Rec("A002Tuerca", 19) + "\n");
    dir_.Write("H", "");
  }
  // One record per client key, each with detail lines A002 and A009.
  void WriteStore(const std::vector<std::string>& clients) {
    std::string head, doc;
    int p = 0;
    for (size_t i = 0; i < clients.size(); ++i) {
      char ptr[32];
      std::snprintf(ptr, sizeof ptr, "%6d%6d", p, p + 1);
      head += Rec(std::to_string(1000 + i), 4) + Rec(clients[i], 6) + "A00000" + ptr + "\n";
      doc += "A002    x\nA009    y\n";
      p += 2;
    }
    dir_.Write("HEAD", head);
    dir_.Write("DOC", doc);
    dir_.Write("INFO", "           " + std::to_string(clients.size()));
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "f");
    return RunQueryIn(dir_.path(), args);
  }
  TempDir dir_;
};

TEST_F(LookupEndToEndTest, HeaderKeyShowsDescriptionOrBlanksAndDerivedFieldsFollow) {
  dir_.Write("credit.db", "C00001  5000\nC00002  Bilb\n");
  WriteStore({"C00001", "C00009", "C00002"});
  RunResult r = Run({"h01;", "h02;", "h03;", "h04;"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "C00001|ACME S.A.                     ;Madrid  ;5000;A00000    ;\n"
            "C00001|ACME S.A.                     ;Madrid  ;5000;A00000    ;\n"
            "C00009                              ;        ;        ;A00000    ;\n"
            "C00009                              ;        ;        ;A00000    ;\n"
            "C00002|Beta SL                       ;00123;Bilb    ;A00000    ;\n"
            "C00002|Beta SL                       ;00123;Bilb    ;A00000    ;\n");
}

TEST_F(LookupEndToEndTest, DerivedLookupThatMissesNeverShowsAnotherRecordsText) {
  // C00002 is in clients.db but not in credit.db: its credit is empty, not 5000.
  WriteStore({"C00001", "C00002"});
  EXPECT_EQ(Run({"h00;", "h03;"}).out, "1000;5000;\n1000;5000;\n1001;        ;\n1001;        ;\n");
}

TEST_F(LookupEndToEndTest, LaterDerivedFieldsOfAMissingKeyLookUpTheirOwnTables) {
  // C00003 is missing from clients.db: the city (first derived) is emptied
  // without a lookup; the credit (second) is looked up in credit.db and found.
  WriteStore({"C00003"});
  EXPECT_EQ(Run({"h01;", "h02;", "h03;"}).out,
            "C00003                              ;        ;7777;\n"
            "C00003                              ;        ;7777;\n");
}

TEST_F(LookupEndToEndTest, DetailKeyFieldsKeepTheirTextAndFillDerivedFields) {
  WriteStore({"C00001"});
  EXPECT_EQ(Run({"d00;", "d01;"}).out, "A002;Tuerca    ;\nA009;          ;\n");
  // A search on a header key field looks only at the key, never at the description.
  EXPECT_EQ(Run({"h01;acme", "d00;"}).out, "");
  EXPECT_EQ(Run({"h01;c00001", "d00;"}).out,
            "C00001|ACME S.A.                     ;A002;\n"
            "C00001|ACME S.A.                     ;A009;\n");
}

// The key lookups of a record are made while its reading is prefetched and
// kept for resolving it: each line must get its own key's text, whichever
// lines the records before had present.
TEST_F(LookupEndToEndTest, EachRecordsLinesGetTheirOwnKeysWhateverLinesCameBefore) {
  dir_.Write("HEAD", Rec("1000", 4) + "C00001" + "A00000" + "     0      " + "\n" +
                         Rec("1001", 4) + "C00009" + "A00000" + "           1" + "\n" +
                         Rec("1002", 4) + "C00002" + "A00000" + "     2     3" + "\n" +
                         Rec("1003", 4) + "C00001" + "A00000" + "     4     5" + "\n");
  dir_.Write("DOC", "A001    x\nA002    y\nA009    z\nA001    w\nA002    v\n    blank\n");
  dir_.Write("INFO", "           4");
  RunResult r = Run({"h00;", "h01;", "d00;", "d01;"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "1000;C00001|ACME S.A.                     ;A001;Tornillo  ;\n"
            "1001;C00009                              ;A002;Tuerca    ;\n"
            "1002;C00002|Beta SL                       ;A009;          ;\n"
            "1002;C00002|Beta SL                       ;A001;Tornillo  ;\n"
            "1003;C00001|ACME S.A.                     ;A002;Tuerca    ;\n");
}

TEST_F(LookupEndToEndTest, KeyIndexFileIsPreferredOverTheTableFile) {
  // The key index says record 0 holds C00002: its description comes from record 0.
  dir_.Write("clients", "C00002C00001");
  WriteStore({"C00002"});
  EXPECT_EQ(Run({"h01;"}).out, "C00002|ACME S.A.                     ;\nC00002|ACME S.A.                     ;\n");
}

TEST_F(LookupEndToEndTest, EmptyKeyIndexMakesEveryLookupMiss) {
  dir_.Write("clients", "");
  WriteStore({"C00001"});
  EXPECT_EQ(Run({"h01;"}).out,
            "C00001                              ;\nC00001                              ;\n");
}

TEST_F(LookupEndToEndTest, MissingTableForAHeaderKeyStopsWithTheSystemMessage) {
  std::remove(dir_.File("clients.db").c_str());
  WriteStore({"C00001"});
  RunResult r = Run({"h01;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "rddbr : Cannot open =clients.db= 1\r\n");
  EXPECT_EQ(r.err, "query: lookup table 'clients.db' (table 1) cannot be opened: No such file or directory\n");
}

TEST_F(LookupEndToEndTest, MissingTableForADetailKeyStopsWithTheSystemMessage) {
  std::remove(dir_.File("arts.db").c_str());
  WriteStore({"C00001"});
  RunResult r = Run({"h01;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "rddbr : Cannot open arts.db\r\n");
}

TEST_F(LookupEndToEndTest, TableFileMissingWhenADescriptionIsNeededIsAnError) {
  dir_.Write("clients", "C00001");
  std::remove(dir_.File("clients.db").c_str());
  WriteStore({"C00001"});
  RunResult r = Run({"h01;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "query: lookup table 'clients.db' (table 1) cannot be opened to read a description: "
            "No such file or directory\n");
}

TEST_F(LookupEndToEndTest, KeysAreLoadedOnceWithTheFirstKeyLength) {
  // Two key fields name table 1; the first has length 3, so keys are 3 bytes
  // long and the 6-character field compares 'C00' against 'C00001'.
  dir_.Write("f",
             "2 0 0 0\n"
             "1 1 3 50 clients.db 80 6 5\n"
             "1 5 6 50 clients.db 80 6 5\n");
  dir_.Write("HEAD", "C00C00001\n");
  dir_.Write("DOC", "");
  std::remove(dir_.File("credit.db").c_str());
  dir_.Write("INFO", "1");
  EXPECT_EQ(Run({"h00;", "h01;"}).out, "C00|ACME ;C00001     ;\n");
}

TEST_F(LookupEndToEndTest, TablesAboveElevenAndLongKeysWork) {
  std::string key(30, 'K');
  dir_.Write("f", "1 0 0 0\n1 1 30 80 big.db 40 30 9\n");
  dir_.Write("big.db", key + "Described" + "\n");
  dir_.Write("HEAD", key + "\n");
  dir_.Write("DOC", "");
  dir_.Write("INFO", "1");
  EXPECT_EQ(Run({"h00;"}).out, key + "|Described;\n");
}

TEST_F(LookupEndToEndTest, LargeTableFilesAreReadInBlocksAndByPosition) {
  // A sparse 70 MB table: too large to hold whole, so keys are read in blocks
  // and descriptions by positioned reads.
  dir_.Write("f", "1 0 0 0\n1 1 6 50 huge.db 100 6 9\n");
  const off_t records = 700000;
  {
    FILE* f = std::fopen(dir_.File("huge.db").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("K00001First    ", f);
    std::fseek(f, (records - 1) * 100, SEEK_SET);
    std::fputs("K00002Last     ", f);
    std::fseek(f, records * 100 - 1, SEEK_SET);
    std::fputc('\n', f);
    std::fclose(f);
  }
  dir_.Write("HEAD", "K00002\nK00001\nK00003\n");
  dir_.Write("DOC", "");
  dir_.Write("INFO", "3");
  EXPECT_EQ(Run({"h00;"}).out, "K00002|Last     ;\nK00001|First    ;\nK00003         ;\n");
}

}  // namespace
