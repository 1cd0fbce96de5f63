#include "store.h"
#include "header_index.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

class BlockReaderTest : public ::testing::Test {
 protected:
  void Open(const std::string& bytes, size_t block = 4) {
    dir_.Write("f", bytes);
    ASSERT_TRUE(reader_.Open(dir_.File("f"), block).ok());
  }
  std::string Field(size_t max, bool* at_end) {
    char buf[64];
    size_t text_length;
    size_t n = reader_.ReadField(buf, max, &text_length, at_end);
    return std::string(buf, n).substr(0, text_length);
  }
  TempDir dir_;
  BlockReader reader_;
};

TEST_F(BlockReaderTest, FieldReadsStopAfterALineEndAndAcrossBlocks) {
  Open("abcdefgh\nxyz");
  bool at_end;
  EXPECT_EQ(Field(6, &at_end), "abcdef");
  EXPECT_EQ(Field(6, &at_end), "gh\n");  // stops after the line end
  EXPECT_EQ(Field(6, &at_end), "xyz");   // short at the end of the file
  EXPECT_FALSE(at_end);
  EXPECT_EQ(Field(6, &at_end), "");
  EXPECT_TRUE(at_end);
  EXPECT_EQ(Field(0, &at_end), "");
  EXPECT_FALSE(at_end);  // a zero-length field is empty, not the end
}

TEST_F(BlockReaderTest, FieldTextEndsAtANulInMemoryAndAcrossBlocks) {
  Open(std::string("ab\0cdefg\0h", 11), 64);
  bool at_end;
  EXPECT_EQ(Field(5, &at_end), "ab");
  EXPECT_EQ(Field(6, &at_end), "efg");
  BlockReader small;
  dir_.Write("g", std::string("abcde\0fg", 8));
  ASSERT_TRUE(small.Open(dir_.File("g"), 4).ok());
  char buf[16];
  size_t text_length;
  EXPECT_EQ(small.ReadField(buf, 8, &text_length, &at_end), 8u);
  EXPECT_EQ(text_length, 5u);
}

// Fields in memory are copied eight bytes a step until a word holds a line
// feed or a NUL: wherever those fall, the read must stop after the line feed,
// the text end at the first NUL, and nothing past the bytes read be written.
TEST_F(BlockReaderTest, FieldReadsInMemoryStopWhereverTheLineEndAndNulFall) {
  for (size_t max = 0; max <= 24; ++max) {
    for (size_t nl = 0; nl <= 25; ++nl) {
      for (size_t nul : {size_t{0}, size_t{3}, size_t{8}, size_t{17}, size_t{30}}) {
        std::string bytes(32, 'a');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
        if (nl < bytes.size()) bytes[nl] = '\n';
        if (nul < bytes.size() && nul != nl) bytes[nul] = '\0';
        BlockReader reader;
        dir_.Write("w", bytes);
        ASSERT_TRUE(reader.Open(dir_.File("w"), 4096).ok());
        reader.Seek(0);
        char warm[1];
        size_t ignored;
        bool at_end;
        reader.ReadField(warm, 1, &ignored, &at_end);  // fills the window
        reader.Seek(0);
        char out[40];
        std::memset(out, '#', sizeof out);
        size_t text_length = 99;
        const size_t n = reader.ReadField(out, max, &text_length, &at_end);
        const size_t want_n = nl < max ? nl + 1 : max;
        const size_t want_text = nul < want_n && nul != nl ? nul : want_n;
        ASSERT_EQ(n, want_n) << max << " " << nl << " " << nul;
        EXPECT_EQ(text_length, want_text) << max << " " << nl << " " << nul;
        EXPECT_EQ(std::string(out, n), bytes.substr(0, n));
        EXPECT_EQ(std::string(out + n, sizeof out - n), std::string(sizeof out - n, '#'));
      }
    }
  }
}

// A walk's end keeps windows from reading past it, but reads anywhere, up
// to it, across it and past it, still give the file's bytes.
TEST_F(BlockReaderTest, ReadsGiveTheFileWhereverTheWalksEndLies) {
  std::string bytes(300000, ' ');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + (i * 7) % 26);
  dir_.Write("f", bytes);
  for (int64_t end : {int64_t{0}, int64_t{100}, int64_t{20000}, int64_t{123457}, int64_t{299990}}) {
    SCOPED_TRACE(end);
    BlockReader reader;
    ASSERT_TRUE(reader.Open(dir_.File("f"), 1 << 18).ok());
    reader.SetReadEnd(end);
    for (int64_t at = 0; at + 50 <= static_cast<int64_t>(bytes.size()); at += 4999) {
      reader.Seek(at);
      const char* got = reader.Take(50);
      ASSERT_NE(got, nullptr) << at;
      ASSERT_EQ(std::string(got, 50), bytes.substr(static_cast<size_t>(at), 50)) << at;
    }
  }
}

TEST_F(BlockReaderTest, SeekBeyondTheEndReadsNothing) {
  Open("abc");
  bool at_end;
  reader_.Seek(100);
  EXPECT_EQ(Field(3, &at_end), "");
  EXPECT_TRUE(at_end);
  reader_.Seek(1);
  EXPECT_EQ(Field(3, &at_end), "bc");
}

// Records of a file walked in a scattered order, as the lines of a store
// whose documents were entered in turns: every read gives the record's bytes
// before, while and after the reader changes how it reads, in memory or a
// page at a place, and reads at and past the end still end.
TEST_F(BlockReaderTest, ScatteredReadsGiveTheSameBytesWhicheverWayTheFileIsRead) {
  constexpr int kRecords = 20000;
  std::string bytes;
  for (int i = 0; i < kRecords; ++i) {
    char record[16];
    std::snprintf(record, sizeof record, "%09d\n", i);
    bytes += record;
  }
  for (uint64_t in_memory : {uint64_t{1} << 30, uint64_t{1000}}) {
    SCOPED_TRACE(in_memory);
    dir_.Write("f", bytes);
    BlockReader reader;
    ASSERT_TRUE(reader.Open(dir_.File("f"), 4096).ok());  // windows far smaller than the file
    reader.AdaptToJumps(in_memory);
    auto Field = [&](size_t max, bool* at_end) {
      char buf[64];
      size_t text_length;
      const size_t n = reader.ReadField(buf, max, &text_length, at_end);
      return std::string(buf, n).substr(0, text_length);
    };
    uint64_t state = 12345;
    for (int step = 0; step < 5000; ++step) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const int64_t record = static_cast<int64_t>((state >> 33) % kRecords);
      reader.Seek(record * 10);
      bool at_end;
      char expected[16];
      std::snprintf(expected, sizeof expected, "%09d\n", static_cast<int>(record));
      ASSERT_EQ(Field(10, &at_end), expected) << "step " << step;
    }
    // Held whole in memory only where the room allowed it, and counted.
    EXPECT_EQ(BlockReader::BytesHeldInMemory(), in_memory > bytes.size() ? bytes.size() : 0u);
    bool at_end;
    reader.Seek(static_cast<int64_t>(bytes.size()) - 3);
    EXPECT_EQ(Field(10, &at_end), "99\n");
    reader.Seek(static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(Field(10, &at_end), "");
    EXPECT_TRUE(at_end);
  }
  // Every reader gave its room back.
  EXPECT_EQ(BlockReader::BytesHeldInMemory(), 0u);
}

// A reader given chunks of records reads a part of the file, skips what
// other readers take, and reads on: the first refill of each chunk is no
// jump about the file, and such a walk keeps its windows, where the same
// reads without being told of the chunks take the file for one walked by
// jumps and hold it whole.
TEST_F(BlockReaderTest, ChunksBegunAsWalksAreNotTakenForJumps) {
  constexpr size_t kBlock = 4096;
  constexpr int kChunks = 150;  // more than the jumps that make a reader adapt
  const std::string bytes(kChunks * 4 * kBlock, 'x');
  dir_.Write("f", bytes);
  for (const bool told : {true, false}) {
    SCOPED_TRACE(told);
    BlockReader reader;
    ASSERT_TRUE(reader.Open(dir_.File("f"), kBlock).ok());
    reader.AdaptToJumps(uint64_t{1} << 30);
    for (int chunk = 0; chunk < kChunks; ++chunk) {
      if (told) reader.BeginWalk();
      // Two windows of this chunk, then on to the next but one.
      for (size_t at = 0; at < 2 * kBlock; at += 64) {
        reader.Seek(static_cast<int64_t>(chunk * 4 * kBlock + at));
        ASSERT_NE(reader.Take(64), nullptr);
      }
    }
    EXPECT_EQ(BlockReader::BytesHeldInMemory(), told ? 0u : bytes.size());
  }
}

TEST_F(BlockReaderTest, PointerFieldsAreReadSixBytesAtATime) {
  // A negative pointer followed by a six-digit one must not run together.
  Open("    -1100274     3  +42\n 12 ab     x  -");
  int64_t v = 0;
  ASSERT_TRUE(reader_.ReadIntegerField(6, &v));
  EXPECT_EQ(v, -1);
  ASSERT_TRUE(reader_.ReadIntegerField(6, &v));
  EXPECT_EQ(v, 100274);
  ASSERT_TRUE(reader_.ReadIntegerField(6, &v));
  EXPECT_EQ(v, 3);
  ASSERT_TRUE(reader_.ReadIntegerField(6, &v));
  EXPECT_EQ(v, 42);
  ASSERT_TRUE(reader_.ReadIntegerField(6, &v));  // "\n 12 a": white space includes the line end
  EXPECT_EQ(v, 12);
  EXPECT_FALSE(reader_.ReadIntegerField(6, &v));  // "b     ": no digits
  EXPECT_FALSE(reader_.ReadIntegerField(6, &v));  // "x  -" at the end: no digits
  EXPECT_FALSE(reader_.ReadIntegerField(6, &v));  // nothing left
}

TEST(FieldBufferTest, TextEndsAtTheFirstNulAndAtTheCapacity) {
  char storage[8];
  FieldBuffer b{storage, 0, 5};
  b.Assign("ab\0cd", 5);
  EXPECT_EQ(b.text(), "ab");
  b.Assign("abcdefgh", 8);
  EXPECT_EQ(b.text(), "abcde");
}

TEST(HeaderIndexTest, FindsTheFirstEqualKeyWithinTheLimit) {
  TempDir dir;
  dir.Write("H", "k00001k00002k00002k0");
  EXPECT_EQ(FindInHeaderIndex(dir.File("H"), "k00002", 6, 100), 1);
  EXPECT_EQ(FindInHeaderIndex(dir.File("H"), "k00002", 6, 1), -1);   // beyond the record count
  EXPECT_EQ(FindInHeaderIndex(dir.File("H"), "k0    ", 6, 100), -1);  // a short last key never matches
  EXPECT_EQ(FindInHeaderIndex(dir.File("H"), "k00001xyz", 6, 100), 0);
  EXPECT_EQ(FindInHeaderIndex(dir.File("missing"), "k00001", 6, 100), -1);
  EXPECT_EQ(FindInHeaderIndex(dir.File("H"), "", 0, 100), -1);  // no key length, no keys
}

TEST(RecordValuesTest, SizesKeyAndCalculatedFieldsForWhatTheyReceive) {
  Form form;
  ASSERT_TRUE(ParseFormDefinition("f", "3 1 2 0  1 1 6 50 t.db 80 6 30  1 1 4 30  1 1 0 35  1 1 3 0  1 1 2 30",
                                  &form).ok());
  RecordValues values;
  values.Init(form);
  EXPECT_EQ(values.head(0).capacity, 6u + 1 + 30);
  EXPECT_EQ(values.head(1).capacity, 4u + kCalculatedCapacity);
  EXPECT_EQ(values.head(2).capacity, 0u);
  EXPECT_EQ(values.doc(0, 1).capacity, 2u + kCalculatedCapacity);
  EXPECT_EQ(values.HeaderText(7), "");
  EXPECT_EQ(values.DetailText(0, -1), "");
}

// Writes a store whose records hold `fields` four by four as their
// pointers, reads each record's pointers in turn, and expects of each what
// a field read gives.
void ExpectPointersReadAsFieldReads(const std::vector<std::string>& fields) {
  TempDir dir;
  // Header: one stored field of 2 bytes, then four 6-byte pointers.
  Form form;
  ASSERT_TRUE(ParseFormDefinition("f", "1 4 1 0\n1 1 2 0\n2 1 1 0\n3 1 1 0\n4 1 1 0\n5 1 1 0\n", &form).ok());
  ASSERT_EQ(fields.size() % 4, 0u);
  std::string head;
  for (size_t i = 0; i < fields.size(); i += 4) {
    head += "ab";
    for (size_t j = 0; j < 4; ++j) head += fields[i + j];
    head += "\n";
  }
  dir.Write("HEAD", head);
  dir.Write("DOC", "");
  dir.Write("INFO", std::to_string(fields.size() / 4));
  dir.Write("plain", head);
  ScopedChdir in(dir.path());
  Store store;
  ASSERT_TRUE(store.Open(form).ok());
  RecordValues values;
  values.Init(form);
  BlockReader reference;
  ASSERT_TRUE(reference.Open("plain", 4096).ok());
  std::vector<int64_t> pointers;
  for (size_t r = 0; r < fields.size() / 4; ++r) {
    store.ReadHeader(static_cast<int64_t>(r), &values);
    store.ReadPointers(&pointers);
    ASSERT_EQ(pointers.size(), 4u);
    for (size_t j = 0; j < 4; ++j) {
      reference.Seek(static_cast<int64_t>(r * 27 + 2 + 6 * j));
      int64_t want = 0;
      if (!reference.ReadIntegerField(6, &want)) want = -1;
      ASSERT_EQ(pointers[j], want) << "'" << fields[r * 4 + j] << "'";
    }
  }
}

// A record's pointers are read in one step each when they are blanks then
// digits; every other text must read as a field read reads it.
TEST(StoreTest, PointersReadInMemoryAsAFieldReadReadsThem) {
  const std::string alphabet = "   0123456789-+\t!/:\x90";
  uint32_t state = 99;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
  std::vector<std::string> fields = {"     0", "000000", "999999", "    -1", "  12  ", "1     ", " 1 2  ", "      ",
                                     "  +42 ", "\t  123", "12345 ", " !1234", "  /123", "  :123"};
  while (fields.size() < 4000) {
    std::string f(6, ' ');
    const size_t blanks = next() % 7;
    for (size_t i = blanks; i < 6; ++i) f[i] = next() % 4 == 0 ? alphabet[next() % alphabet.size()] : "0123456789"[next() % 10];
    fields.push_back(f);
  }
  ExpectPointersReadAsFieldReads(fields);
}

// A pointer that is the last one plus one, in the same form, is read by
// comparing it with the last one's text counted up: across carries, leading
// zeros, absent lines, jumps and texts of other forms between, each must
// read as a field read reads it.
TEST(StoreTest, PointersThatFollowTheLastReadAsAFieldReadReadsThem) {
  ExpectPointersReadAsFieldReads({
      "     8", "     9", "    10", "    11", "    -1", "    12", "   099", "   100", "000998", "000999",
      "001000", "  1001", "  1002", " 1003 ", "  1004", "  1005", "+ 1006", "  1006", "  1008", "  1009",
      " 99998", " 99999", "100000", "100001", "999998", "999999", "     0", "     1", "    -1", "    -1",
      "     2", "     3", "    04", "    05", "     6", "  \t  7", "     8", "   9  ", "    10", "    11",
      "     9", "    20", "    99", "   200", "     7", "     8", "     9", "    20",
      "    98", "    99", "   200", "   101"});
}

// A detail line's stored fields are copied out of its record in one piece:
// each must get its own bytes, on lines whose stored fields differ, and the
// buffers of the fields between them (calculated here) must keep their text.
TEST(StoreTest, DetailLinesFillEachStoredFieldAndNoOther) {
  TempDir dir;
  // Header: a 2-byte number. Line 0: 3 stored, 2 calculated, 4 stored, 2
  // stored; line 1: 3 stored, 4 stored, 2 calculated, 2 stored (its record
  // is as long, the bytes cut otherwise).
  Form form;
  ASSERT_TRUE(ParseFormDefinition("f",
                                  "1 2 4 0\n1 1 2 0\n"
                                  "1 1 3 0\n1 1 2 30\n1 1 4 0\n1 1 2 0\n"
                                  "1 1 3 0\n1 1 4 0\n1 1 2 30\n1 1 2 0\n",
                                  &form).ok());
  dir.Write("HEAD", "01     0     1\n");
  dir.Write("DOC", "abcDEFGhi     \nxyzWXYZuv     \n");
  dir.Write("INFO", "1");
  ScopedChdir in(dir.path());
  Store store;
  ASSERT_TRUE(store.Open(form).ok());
  RecordValues values;
  values.Init(form);
  values.doc(0, 1).Assign("c0", 2);
  values.doc(1, 2).Assign("c1", 2);
  store.ReadHeader(0, &values);
  std::vector<int64_t> pointers;
  store.ReadPointers(&pointers);
  ASSERT_EQ(pointers, (std::vector<int64_t>{0, 1}));
  ASSERT_TRUE(store.ReadDetailLine(0, pointers[0], &values));
  ASSERT_TRUE(store.ReadDetailLine(1, pointers[1], &values));
  EXPECT_EQ(values.DetailText(0, 0), "abc");
  EXPECT_EQ(values.DetailText(0, 1), "c0");
  EXPECT_EQ(values.DetailText(0, 2), "DEFG");
  EXPECT_EQ(values.DetailText(0, 3), "hi");
  EXPECT_EQ(values.DetailText(1, 0), "xyz");
  EXPECT_EQ(values.DetailText(1, 1), "WXYZ");
  EXPECT_EQ(values.DetailText(1, 2), "c1");
  EXPECT_EQ(values.DetailText(1, 3), "uv");
}

// A reader walking chunks of the records stops reading DOC ahead where the
// next record's first line lies. That place only bounds reading ahead:
// whether the lines follow their documents, come in the opposite order (the
// next record's lines lie before the chunk's), or the next record has none,
// every line must read as it is stored.
TEST(StoreTest, ChunkedWalksReadEveryLineWhereverTheNextRecordsLinesLie) {
  constexpr int kRecords = 3000;
  constexpr int64_t kChunk = 700;
  Form form;
  ASSERT_TRUE(ParseFormDefinition("f", "1 2 1 0\n1 1 2 0\n1 1 40 0\n1 1 40 0\n", &form).ok());
  auto line_text = [](int record, int line) {
    std::string text = "record " + std::to_string(record) + " line " + std::to_string(line);
    text.resize(40, ' ');  // the field's whole width
    return text;
  };
  for (const std::string order : {"in order", "reversed", "every third without lines"}) {
    SCOPED_TRACE(order);
    const bool reversed = order == "reversed";
    const bool gaps = order == "every third without lines";
    std::string head, doc;
    int64_t next_line = 0;
    std::vector<std::string> lines(2 * kRecords);
    for (int r = 0; r < kRecords; ++r) {
      char fields[48];
      const bool none = gaps && r % 3 == 1;
      const int64_t first = reversed ? 2 * (kRecords - 1 - r) : next_line;
      if (none) {
        std::snprintf(fields, sizeof fields, "%6s%6s", "", "");
      } else {
        std::snprintf(fields, sizeof fields, "%6lld%6lld", static_cast<long long>(first),
                      static_cast<long long>(first + 1));
        lines[static_cast<size_t>(first)] = line_text(r, 0);
        lines[static_cast<size_t>(first) + 1] = line_text(r, 1);
        if (!reversed) next_line += 2;
      }
      head += std::string("r") + static_cast<char>('a' + r % 26) + fields + "\n";
    }
    for (const std::string& l : lines)
      if (!l.empty()) doc += l + "     \n";
    TempDir dir;
    dir.Write("HEAD", head);
    dir.Write("DOC", doc);
    dir.Write("INFO", std::to_string(kRecords));
    ScopedChdir in(dir.path());
    Store store;
    ASSERT_TRUE(store.Open(form).ok());
    RecordValues values;
    values.Init(form);
    std::vector<int64_t> pointers;
    // The chunks one of two readers takes, then those of the other.
    for (const int64_t parity : {0, 1}) {
      for (int64_t first = parity * kChunk; first < kRecords; first += 2 * kChunk) {
        const int64_t end = std::min<int64_t>(first + kChunk, kRecords);
        store.ExpectRecordsBefore(end);
        for (int64_t r = first; r < end; ++r) {
          store.ReadHeader(r, &values);
          store.ReadPointers(&pointers);
          if (gaps && r % 3 == 1) {
            ASSERT_EQ(pointers, (std::vector<int64_t>{-1, -1})) << r;
            continue;
          }
          for (int line = 0; line < 2; ++line) {
            ASSERT_TRUE(store.ReadDetailLine(line, pointers[static_cast<size_t>(line)], &values)) << r;
            ASSERT_EQ(values.DetailText(line, 0), line_text(static_cast<int>(r), line)) << r;
          }
        }
      }
    }
  }
}

TEST(StoreTest, ClosesEveryFileItOpened) {
  TempDir dir;
  dir.Write("INFO", "1");
  dir.Write("HEAD", "abc\n");
  dir.Write("DOC", "");
  Form form;
  ASSERT_TRUE(ParseFormDefinition("f", "1 0 0 0 1 1 3 0", &form).ok());
  ScopedChdir in(dir.path());
  const int before = dup(0);
  close(before);
  {
    Store store;
    ASSERT_TRUE(store.Open(form).ok());
  }
  const int after = dup(0);
  close(after);
  EXPECT_EQ(after, before);  // the lowest free descriptor is free again
}

}  // namespace
