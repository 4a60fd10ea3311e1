#include "select/output_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "select/output_sinks.h"
#include "test_support.h"

namespace {

void put(OutputBlocks& blocks, const std::string& text) {
  ASSERT_TRUE(blocks.reserve(text.size()));
  std::memcpy(blocks.cursor(), text.data(), text.size());
  blocks.advance(blocks.cursor() + text.size());
}

std::string bytesOf(const OutputBlocks& blocks) {
  std::string all;
  EXPECT_TRUE(blocks.forEach([&all](const std::uint8_t* data, std::size_t n) {
    all.append(reinterpret_cast<const char*>(data), n);
    return true;
  }));
  return all;
}

// The moves are written out: the cursor goes with the blocks, and the
// object moved from is empty and can be written again, never through a
// cursor into blocks it no longer has.
TEST(OutputBlocksTest, MovesTakeTheCursorAlongAndLeaveTheSourceEmpty) {
  OutputBlocks first;
  put(first, "abc");
  OutputBlocks second(std::move(first));
  EXPECT_EQ(first.size(), 0);
  EXPECT_EQ(first.cursor(), nullptr);
  put(second, "de");
  EXPECT_EQ(bytesOf(second), "abcde");

  put(first, "xy");
  OutputBlocks third;
  put(third, "old");
  third = std::move(second);
  EXPECT_EQ(second.size(), 0);
  EXPECT_EQ(bytesOf(third), "abcde");
  ASSERT_TRUE(third.append(std::move(first)));
  EXPECT_EQ(first.size(), 0);
  put(third, "!");
  EXPECT_EQ(bytesOf(third), "abcdexy!");
  EXPECT_EQ(third.size(), 8);
}

// The first block is smaller than the later ones: the bytes that go
// across it into the next blocks, and a request larger than any block,
// are all kept, in order.
TEST(OutputBlocksTest, BytesPastTheFirstBlockStayInOrder) {
  OutputBlocks blocks;
  std::string expected;
  for (std::size_t piece : {std::size_t{1} << 20, std::size_t{3},
                            std::size_t{5} << 20, std::size_t{1} << 21}) {
    ASSERT_TRUE(blocks.reserve(piece));
    for (std::size_t i = 0; i < piece; ++i) {
      blocks.cursor()[i] = static_cast<std::uint8_t>(expected.size() + i);
    }
    blocks.advance(blocks.cursor() + piece);
    for (std::size_t i = 0; i < piece; ++i) {
      expected.push_back(static_cast<char>(expected.size()));
    }
  }
  EXPECT_EQ(blocks.size(), static_cast<std::int64_t>(expected.size()));
  EXPECT_TRUE(bytesOf(blocks) == expected);
}

}  // namespace

// Held output keeps its order once it has overflowed into the scratch file:
// a small part after a large one must not slip back into the memory before
// it (the narrow file would get the parts out of order).
TEST(HeldOutputTest, PartsAfterTheOverflowStayInOrder) {
  const testing_support::ScratchFolder folder;
  HeldOutput held("narrow.txt");
  const std::size_t first = HeldOutput::kInMemoryBytes - 10;
  const std::string parts[] = {std::string(first, 'a'), std::string(20, 'b'),
                               std::string(5, 'c'), std::string(30, 'd')};
  std::string want;
  for (const std::string& part : parts) {
    ASSERT_TRUE(held.take(reinterpret_cast<const std::uint8_t*>(part.data()),
                          part.size()));
    want += part;
  }
  platform::File narrow;
  platform::OutputOpening how;
  ASSERT_EQ(narrow.openOutput("narrow.txt", &how), platform::Status::kOk);
  ASSERT_TRUE(held.writeTo(&narrow));
  ASSERT_EQ(narrow.close(), platform::Status::kOk);
  EXPECT_TRUE(folder.read("narrow.txt") == want);
}
