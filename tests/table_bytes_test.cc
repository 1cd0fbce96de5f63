// Lookup tables held in memory: whole, or a column of each record, either
// way giving what a positioned read of the file gives.
#include "table_bytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "test_util.h"

namespace {

// What a positioned read of `size` bytes at `position` of `file` gives.
std::string ReadOf(const std::string& file, int64_t position, int size) {
  if (position >= static_cast<int64_t>(file.size())) return "";
  return file.substr(static_cast<size_t>(position), static_cast<size_t>(size));
}

// Random files of records; columns that start anywhere in a record, run into
// the next one or past the end of the file, over NUL bytes or none. Every
// part of every record's column must read as the file reads.
TEST(TableBytesTest, ColumnsAndWholeFilesReadAsPositionedReadsOfTheFile) {
  TempDir dir;
  std::mt19937 random(2024);
  for (int round = 0; round < 60; ++round) {
    const int64_t record_length = 1 + static_cast<int64_t>(random() % 90);
    const int64_t records = static_cast<int64_t>(random() % 3000);
    std::string file(static_cast<size_t>(records * record_length + random() % 7), ' ');
    const bool with_nul = round % 3 == 0;
    for (char& c : file) c = static_cast<char>(with_nul && random() % 500 == 0 ? 0 : 'A' + random() % 26);
    dir.Write("table", file);
    const int fd = open(dir.File("table").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const int64_t first = static_cast<int64_t>(random() % static_cast<uint32_t>(record_length));
    const int64_t width = 1 + static_cast<int64_t>(random() % static_cast<uint32_t>(record_length + 10));
    const auto columns = ReadTableColumns(fd, record_length, first, width, int64_t{1} << 30);
    const auto whole = ReadWholeTable(fd, record_length, int64_t{1} << 30);
    close(fd);
    ASSERT_NE(columns, nullptr);
    ASSERT_NE(whole, nullptr);
    const bool file_has_nul = file.find('\0') != std::string::npos;
    EXPECT_EQ(whole->nul_free, !file_has_nul);
    if (!columns->nul_free) {
      EXPECT_TRUE(file_has_nul);
    }
    for (int64_t slot = 0; slot < records + 2; ++slot) {
      const int offset = static_cast<int>(first + static_cast<int64_t>(random() % static_cast<uint32_t>(width)));
      const int size = 1 + static_cast<int>(random() % static_cast<uint32_t>(first + width - offset));
      const std::string want = ReadOf(file, slot * record_length + offset, size);
      ASSERT_EQ(std::string(columns->At(slot, offset, size)), want)
          << "round " << round << " slot " << slot << " offset " << offset << " size " << size;
      ASSERT_EQ(std::string(whole->At(slot, offset, size)), want);
    }
    // A column is held in less memory than the file when it is narrower
    // than a record.
    if (width < record_length && records > 0) {
      EXPECT_LT(columns->size, file.size());
    }
  }
}

TEST(TableBytesTest, FilesOverTheLimitOrColumnsWiderThanABlockAreNotHeld) {
  TempDir dir;
  dir.Write("table", std::string(4096, 'x'));
  const int fd = open(dir.File("table").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadWholeTable(fd, 64, 4095), nullptr);
  EXPECT_EQ(ReadTableColumns(fd, 64, 0, 8, 4095), nullptr);
  EXPECT_EQ(ReadTableColumns(fd, 1 << 20, 0, (1 << 18) + 1, 1 << 30), nullptr);
  EXPECT_NE(ReadTableColumns(fd, 64, 8, 36, 4096), nullptr);
  close(fd);
}

}  // namespace
