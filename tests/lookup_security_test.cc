// Lookup tables and key indexes that are hostile: sizes that overflow or pass
// the memory limit, and keys chosen to collide in the index.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lookup.h"
#include "test_util.h"

namespace {

// Makes `path` a sparse file of the largest of `sizes` the file system
// accepts, returning that size, or 0 when it accepts none.
int64_t MakeSparse(const std::string& path, const std::vector<int64_t>& sizes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 0;
  int64_t made = 0;
  for (int64_t size : sizes) {
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
      made = size;
      break;
    }
  }
  close(fd);
  return made;
}

const std::vector<int64_t> kHugeSizes = {INT64_MAX, int64_t{1} << 62, int64_t{1} << 60,
                                         int64_t{1} << 44, int64_t{1} << 40, int64_t{1} << 34};

class HugeTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("HEAD", "K00002\n");
    dir_.Write("DOC", "");
    dir_.Write("INFO", "1");
  }
  TempDir dir_;
};

TEST_F(HugeTableTest, SparseTablesBeyondTheLimitAreRefusedNamingTheFile) {
  // One-byte records make the key bytes overflow 64 bits at the largest
  // sizes; 100-byte records give counts that fit but are far past the limit.
  for (const char* record_length : {"1", "100"}) {
    SCOPED_TRACE(std::string("record length ") + record_length);
    dir_.Write("f", std::string("1 0 0 0\n1 1 6 50 huge.db ") + record_length + " 6 9\n");
    const int64_t size = MakeSparse(dir_.File("huge.db"), kHugeSizes);
    if (size == 0) GTEST_SKIP() << "the file system refuses sparse files of these sizes";
    SCOPED_TRACE("table of " + std::to_string(size) + " bytes");
    RunResult r = RunQueryIn(dir_.path(), {"f", "h00;"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("query: lookup table 'huge.db': its "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("beyond the limit of 1 GiB for lookup keys"), std::string::npos) << r.err;
  }
}

TEST_F(HugeTableTest, SparseKeyIndexBeyondTheLimitIsRefusedNamingTheFile) {
  dir_.Write("f", "1 0 0 0\n1 1 6 50 huge.db 100 6 9\n");
  dir_.Write("huge.db", "K00002Last     \n");
  const int64_t size = MakeSparse(dir_.File("huge"), kHugeSizes);
  if (size == 0) GTEST_SKIP() << "the file system refuses sparse files of these sizes";
  RunResult r = RunQueryIn(dir_.path(), {"f", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("query: key index 'huge': its "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("beyond the limit of 1 GiB for lookup keys"), std::string::npos) << r.err;
}

TEST_F(HugeTableTest, RecordsLongerThanAReadBlockGiveTheirKeysAndDescriptions) {
  // Three sparse records of 30 MB: the table is too large to hold, and each
  // key is read alone.
  const int64_t record = 30000000;
  dir_.Write("f", "1 0 0 0\n1 1 6 50 long.db " + std::to_string(record) + " 6 9\n");
  {
    FILE* f = std::fopen(dir_.File("long.db").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 3; ++i) {
      std::fseek(f, static_cast<long>(i * record), SEEK_SET);
      std::fprintf(f, "K0000%dRecord %d ", i + 1, i + 1);
    }
    std::fseek(f, static_cast<long>(3 * record - 1), SEEK_SET);
    std::fputc('\n', f);
    std::fclose(f);
  }
  dir_.Write("HEAD", "K00003\nK00001\nK00009\n");
  dir_.Write("INFO", "3");
  RunResult r = RunQueryIn(dir_.path(), {"f", "h00;"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "K00003|Record 3 ;\nK00001|Record 1 ;\nK00009         ;\n");
}

// ---- Keys chosen to collide

// The inverse of an odd number modulo 2^64.
uint64_t Inverse(uint64_t c) {
  uint64_t x = c;
  for (int i = 0; i < 6; ++i) x *= 2 - c * x;
  return x;
}

// The 8-byte key an unseeded hash (multiply and shift per word, then a fixed
// avalanche) sends to `hash`: every step of it can be undone.
uint64_t KeyWithFixedHash(uint64_t hash) {
  uint64_t x = hash;
  x ^= x >> 33;
  x *= Inverse(0xc4ceb9fe1a85ec53ull);
  x ^= x >> 33;
  x *= Inverse(0xff51afd7ed558ccdull);
  x ^= x >> 33;
  x ^= x >> 32;
  x *= Inverse(0x9E3779B97F4A7C15ull);
  return x ^ (0x243F6A8885A308D3ull ^ 8);
}

TEST(KeyIndexSeedTest, KeysCollidingUnderAFixedHashSpreadAndAreFound) {
  // 20000 keys that a fixed hash puts in one bucket of a 65536-bucket index:
  // built by linear probing that costs about 2 * 10^8 probes.
  std::vector<char> slots;
  std::vector<std::string> keys;
  for (uint64_t i = 1; keys.size() < 20000; ++i) {
    const uint64_t w = KeyWithFixedHash(i << 16);
    char bytes[8];
    std::memcpy(bytes, &w, 8);
    if (std::memchr(bytes, '\0', 8) != nullptr) continue;  // a NUL would cut the key
    keys.emplace_back(bytes, 8);
    slots.insert(slots.end(), bytes, bytes + 8);
  }
  KeyCache cache;
  cache.Assign(std::move(slots), 8, static_cast<int64_t>(keys.size()));
  const KeyIndex index(cache, 8);
  EXPECT_LT(index.extra_probes(), 4 * keys.size());
  for (size_t i = 0; i < keys.size(); i += 97) EXPECT_EQ(index.Find(keys[i]), cache.ScanFor(keys[i], 8));
  EXPECT_EQ(index.Find("absent!!"), -1);
}

TEST(KeyIndexSeedTest, KeysSharingStructureSpreadAndAreFound) {
  // Keys differing only in one byte, or in their last word; short keys are
  // hashed as one word, longer ones word by word.
  for (size_t key_length : {3u, 5u, 8u, 9u, 16u, 25u}) {
    std::vector<char> slots;
    std::vector<std::string> keys;
    for (int i = 0; i < 30000; ++i) {
      std::string k(key_length, 'x');
      k[key_length - 1] = static_cast<char>('A' + i % 26);
      k[key_length / 2] = static_cast<char>('a' + (i / 26) % 26);
      k[0] = static_cast<char>('0' + i / 676);
      keys.push_back(k);
      slots.insert(slots.end(), k.begin(), k.end());
    }
    KeyCache cache;
    cache.Assign(std::move(slots), key_length, static_cast<int64_t>(keys.size()));
    const KeyIndex index(cache, key_length);
    EXPECT_LT(index.extra_probes(), 4 * keys.size()) << "key length " << key_length;
    for (size_t i = 0; i < keys.size(); i += 101)
      EXPECT_EQ(index.Find(keys[i]), cache.ScanFor(keys[i], key_length));
  }
}

TEST(KeyIndexSeedTest, TheSeedIsFixedWithinAProcess) {
  EXPECT_EQ(KeyIndex::Hash("C00001"), KeyIndex::Hash("C00001"));
  EXPECT_NE(KeyIndex::Hash("C00001"), KeyIndex::Hash("C00002"));
}

}  // namespace
