#include "select/unit_masks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(UnitMasksTest, VectorMasksMatchTheScalarOnes) {
  const std::uint16_t values[] = {0x000A, 0x002C, 0x0022, 0x0009, 0xD800,
                                  0xDBFF, 0xDC00, 0xD7FF, 0x2C2C, 0x0A0A,
                                  0x8022, 0x220A, 0xFFFF, 0x0000, 0x6F22};
  std::uint64_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint16_t> units(kMaskWindow);
    for (auto& u : units) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      u = values[(seed >> 33) % std::size(values)];
    }
    const std::uint16_t separator = round % 2 ? 0x2C : 0x09;
    WindowMasks fast;
    WindowMasks slow;
    maskWindow(units.data(), separator, 0x22, true, &fast);
    maskWindowScalar(units.data(), separator, 0x22, &slow);
    ASSERT_EQ(fast.line_feed, slow.line_feed);
    ASSERT_EQ(fast.separator, slow.separator);
    ASSERT_EQ(fast.quote, slow.quote);
    ASSERT_EQ(fast.surrogate, slow.surrogate);
    maskWindow(units.data(), separator, 0x22, false, &fast);
    ASSERT_EQ(fast.surrogate, 0u);
  }
}

TEST(UnitMasksTest, PrefixParityAndBitHelpers) {
  EXPECT_EQ(prefixParity(0), 0u);
  EXPECT_EQ(prefixParity(1), ~std::uint64_t{0});
  EXPECT_EQ(prefixParity(0b1001), 0b0111u);
  EXPECT_EQ(prefixParity(std::uint64_t{1} << 63), std::uint64_t{1} << 63);
  EXPECT_EQ(lowestBit(std::uint64_t{1} << 63), 63u);
  EXPECT_EQ(lowestBit(0b1100), 2u);
  EXPECT_EQ(bitCount(~std::uint64_t{0}), 64u);
  EXPECT_EQ(bitCount(0b1011), 3u);
}

}  // namespace
