#include "output.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::string Joined(const OutputBlocks& blocks) {
  std::string text;
  for (const OutputBlocks::Block& block : blocks.filled) text.append(block.bytes.get(), block.size);
  return text;
}

// A chunk's output handed over as buffers holds every byte in order, a
// piece larger than a buffer included, and a second chunk fills the
// buffers the first one gave back instead of allocating new ones.
TEST(OutputTest, BlocksHoldTheBytesInOrderAndAreFilledAgainOnceRecycled) {
  OutputBlocks blocks;
  std::string expected;
  {
    Output out(&blocks);
    for (int i = 0; i < 20000; ++i) {
      const std::string line = std::to_string(i) + ";x;\n";
      out.Append(line);
      expected += line;
    }
    const std::string large(Output::kCapacity * 2 + 5, 'L');
    out.Append(large);
    expected += large;
    out.Put('\n');
    expected += '\n';
  }
  EXPECT_EQ(Joined(blocks), expected);

  std::set<const char*> first_buffers;
  for (const OutputBlocks::Block& block : blocks.filled) first_buffers.insert(block.bytes.get());
  const size_t buffers = first_buffers.size() + blocks.spare.size();
  blocks.Recycle();
  EXPECT_TRUE(blocks.filled.empty());
  {
    Output out(&blocks);
    out.Append("again\n");
  }
  EXPECT_EQ(Joined(blocks), "again\n");
  EXPECT_EQ(blocks.filled.size() + blocks.spare.size(), buffers) << "no buffer was allocated anew";
  EXPECT_EQ(first_buffers.count(blocks.filled[0].bytes.get()), 1u);
}

}  // namespace
