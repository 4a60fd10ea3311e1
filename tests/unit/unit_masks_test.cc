#include "select/unit_masks.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/platform.h"

namespace {

TEST(UnitMasksTest, VectorMasksMatchTheScalarOnes) {
  // Values that narrowing to bytes could confuse with the separator, the
  // quote or a line feed: 0x00FF and 0x0100 both become 0xFF, 0x8000 and
  // 0x0000 both 0x00, and units whose low or high byte is one of them.
  const std::uint16_t values[] = {
      0x000A, 0x002C, 0x0022, 0x0009, 0xD800, 0xDBFF, 0xDC00, 0xD7FF,
      0x2C2C, 0x0A0A, 0x8022, 0x220A, 0xFFFF, 0x0000, 0x6F22, 0x00FE,
      0x00FF, 0x0100, 0x7FFF, 0x8000, 0x010A, 0x092C, 0x00A0, 0xFF09};
  const std::pair<std::uint16_t, std::uint16_t> pairs[] = {
      {0x2C, 0x22}, {0x09, 0x22}, {0x01, 0xFE},
      {0xFE, 0x2C}, {0x00, 0x22}, {0xFF, 0x22}};
  std::uint64_t seed = 12345;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint16_t> units(kMaskWindow);
    // Surrogates are rare in real text: most windows have none at all.
    const bool no_surrogates = round % 3 != 0;
    for (auto& u : units) {
      do {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        u = values[(seed >> 33) % std::size(values)];
      } while (no_surrogates && (u & 0xFC00) == 0xD800);
    }
    const auto [separator, quote] = pairs[round % std::size(pairs)];
    WindowMasks slow;
    maskWindowScalar(units.data(), separator, quote, &slow);
    for (bool narrowed : {false, true}) {
      if (narrowed && !narrowedMasksUsable(separator, quote)) continue;
      WindowMasks fast;
      auto mask = narrowed ? maskWindowNarrowed : maskWindow;
      mask(units.data(), separator, quote, true, &fast);
      ASSERT_EQ(fast.line_feed, slow.line_feed) << round << narrowed;
      ASSERT_EQ(fast.separator, slow.separator) << round << narrowed;
      ASSERT_EQ(fast.quote, slow.quote) << round << narrowed;
      ASSERT_EQ(fast.surrogate, slow.surrogate) << round << narrowed;
      mask(units.data(), separator, quote, false, &fast);
      ASSERT_EQ(fast.surrogate, 0u);
    }
  }
#if PELMORA_HAVE_SSE2
  EXPECT_TRUE(narrowedMasksUsable(0x09, 0x22));
#endif
  EXPECT_FALSE(narrowedMasksUsable(0x00, 0x22));
  EXPECT_FALSE(narrowedMasksUsable(0x2C, 0xFF));
}

// The masks of UTF-8 bytes, as wide as the processor allows, against a
// byte-by-byte comparison: bytes with the separator's, the quote's or the
// line feed's low bits but the high bit set must never count; the quote
// parity is carried from window to window and nothing past n is marked.
TEST(UnitMasksTest, ByteMasksMatchAComparisonOfEachByte) {
  const std::uint8_t values[] = {0x0A, 0x2C, 0x22, 0x09, 0x8A, 0xAC,
                                 0xA2, 0x89, 0xE3, 0x81, 0x00, 0xFF};
  std::uint64_t seed = 54321;
  for (int round = 0; round < 2000; ++round) {
    const std::size_t windows = 1 + round % 4;
    std::vector<std::uint8_t> bytes(windows * kMaskWindow);
    for (auto& b : bytes) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      b = values[(seed >> 33) % std::size(values)];
    }
    const std::size_t n = bytes.size() - (seed >> 20) % kMaskWindow;
    const std::uint8_t separator = round % 2 == 0 ? 0x2C : 0x09;
    std::vector<std::uint64_t> line_feed(windows), separators(windows),
        parity(windows);
    maskByteBlock(bytes.data(), n, separator, 0x22, line_feed.data(),
                  separators.data(), parity.data());
    bool open = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::uint64_t bit = std::uint64_t{1} << (i % kMaskWindow);
      const std::size_t w = i / kMaskWindow;
      const bool in = i < n;
      if (in && bytes[i] == 0x22) open = !open;
      ASSERT_EQ((line_feed[w] & bit) != 0, in && bytes[i] == 0x0A) << round;
      ASSERT_EQ((separators[w] & bit) != 0, in && bytes[i] == separator) << i;
      if (in) ASSERT_EQ((parity[w] & bit) != 0, open) << round << " " << i;
    }
  }
}

// The AVX2 masks of whole blocks against maskWindowScalar, the quote
// parity carried from window to window, and nothing past the block's end;
// every other round the same units are given in the other byte order.
TEST(UnitMasksTest, Avx2BlockMasksMatchTheScalarOnes) {
  if (!platform::processorHasAvx2()) GTEST_SKIP() << "no AVX2";
  const std::uint16_t values[] = {0x000A, 0x0009, 0x002C, 0x0022, 0xD800,
                                  0xDBFF, 0xDC00, 0x00FF, 0xFF00, 0x8000,
                                  0x0100, 0x0000, 0x0A0A, 0x3042, 0x0041};
  const std::pair<std::uint16_t, std::uint16_t> pairs[] = {
      {0x09, 0x22}, {0x2C, 0x22}, {0xFF, 0x22}, {0x2C, 0x00}, {0x3042, 0x0A0A}};
  std::uint64_t seed = 777;
  std::vector<std::uint16_t> units(4 * kMaskWindow);
  for (int round = 0; round < 600; ++round) {
    for (auto& u : units) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      u = values[(seed >> 33) % std::size(values)];
    }
    const std::size_t n = 1 + (seed >> 20) % units.size();
    const auto [separator, quote] = pairs[round % std::size(pairs)];
    const bool surrogates = round % 2 == 0;
    const bool swapped = round % 4 < 2;
    std::vector<std::uint16_t> stored = units;
    if (swapped) {
      for (auto& u : stored) u = static_cast<std::uint16_t>(u >> 8 | u << 8);
    }
    std::uint64_t masks[4][4];  // line feed, separator, parity, surrogate
    ASSERT_TRUE(maskUnitBlockAvx2(stored.data(), n, separator, quote,
                                  surrogates, masks[0], masks[1], masks[2],
                                  masks[3], swapped));
    bool parity = false;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t w = i / kMaskWindow;
      const unsigned k = i % kMaskWindow;
      WindowMasks slow;
      maskWindowScalar(units.data() + w * kMaskWindow, separator, quote, &slow);
      parity = parity != (((slow.quote >> k) & 1) != 0);
      const std::uint64_t want[4] = {slow.line_feed, slow.separator,
                                     parity ? ~std::uint64_t{0} : 0,
                                     surrogates ? slow.surrogate : 0};
      for (int m = 0; m < 4; ++m) {
        ASSERT_EQ((masks[m][w] >> k) & 1, (want[m] >> k) & 1)
            << round << " " << m << " " << i;
      }
    }
    if (n % kMaskWindow != 0) {
      const std::uint64_t past = ~std::uint64_t{0} << (n % kMaskWindow);
      for (int m : {0, 1, 3}) EXPECT_EQ(masks[m][n / kMaskWindow] & past, 0u);
    }
  }
}

TEST(UnitMasksTest, PrefixParityAndBitHelpers) {
  EXPECT_EQ(prefixParity(0), 0u);
  EXPECT_EQ(prefixParity(1), ~std::uint64_t{0});
  EXPECT_EQ(prefixParity(0b1001), 0b0111u);
  EXPECT_EQ(prefixParity(std::uint64_t{1} << 63), std::uint64_t{1} << 63);
  EXPECT_EQ(lowestBit(std::uint64_t{1} << 63), 63u);
  EXPECT_EQ(lowestBit(0b1100), 2u);
}

}  // namespace
