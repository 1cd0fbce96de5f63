// The table file's format as both readers (the loader and tcp-table) see it.
#include "table_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tcpformat::ScanTable;

TEST(TableFormatTest, HeaderEntriesAndTheEndByte) {
  tcpformat::Scan scan = ScanTable(std::string("\x28\x01\xfe" "ab\0\0c\0\xff" "xy", 12));
  EXPECT_EQ(scan.tics, 40);
  EXPECT_EQ(scan.start, 1);
  EXPECT_EQ(scan.cmpar, -2);
  EXPECT_EQ(scan.entries, (std::vector<std::string>{"ab", "", "c"}));
  EXPECT_TRUE(scan.ended);
  EXPECT_EQ(scan.bytes_after_end, 2u);
  EXPECT_FALSE(scan.last_unterminated);
}

TEST(TableFormatTest, ShortFilesAndAnEntryTheFileEndsInside) {
  tcpformat::Scan scan = ScanTable(std::string("\x05", 1));
  EXPECT_EQ(scan.tics, 5);
  EXPECT_EQ(scan.start, -1);
  EXPECT_EQ(scan.cmpar, -1);
  EXPECT_TRUE(scan.entries.empty());
  EXPECT_FALSE(scan.ended);
  scan = ScanTable(std::string("\0\0\0" "abcdefghijkl", 15));
  EXPECT_EQ(scan.entries, (std::vector<std::string>{"abcdefghijkl"}));  // whole: cutting is the reader's
  EXPECT_TRUE(scan.last_unterminated);
  EXPECT_EQ(ScanTable(std::string("\xff\xff\xff\xff", 4)).tics, -1);
}

}  // namespace
