// Bit masks over windows of 64 code units: which units are line feeds,
// separators, quotes or surrogates. The engines use them to pass over the
// fields they do not select without looking at every unit.
#ifndef PELMORA_SELECT_UNIT_MASKS_H_
#define PELMORA_SELECT_UNIT_MASKS_H_

#include <cstddef>
#include <cstdint>

/// Units per mask window: one bit each in a 64-bit word.
inline constexpr std::size_t kMaskWindow = 64;

/// Bit k describes unit k of the window.
struct WindowMasks {
  std::uint64_t line_feed = 0;
  std::uint64_t separator = 0;
  std::uint64_t quote = 0;
  std::uint64_t surrogate = 0;  ///< 0xD800..0xDBFF (high halves)
};

/// Fills the masks for units[0..63], using the processor's vector unit
/// where the build has one. The surrogate mask is left 0 unless asked for.
void maskWindow(const std::uint16_t* units, std::uint16_t separator,
                std::uint16_t quote, bool surrogates, WindowMasks* masks);

/// The same with plain scalar code; the reference the fast one must match.
void maskWindowScalar(const std::uint16_t* units, std::uint16_t separator,
                      std::uint16_t quote, WindowMasks* masks);

/// Bit k of the result is the parity of the set bits 0..k of x.
inline std::uint64_t prefixParity(std::uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

/// The index of the lowest set bit; x must not be 0.
inline unsigned lowestBit(std::uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<unsigned>(__builtin_ctzll(x));
#else
  unsigned k = 0;
  while ((x & 1) == 0) {
    x >>= 1;
    ++k;
  }
  return k;
#endif
}

/// The number of set bits.
inline unsigned bitCount(std::uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<unsigned>(__builtin_popcountll(x));
#else
  unsigned n = 0;
  for (; x != 0; x &= x - 1) ++n;
  return n;
#endif
}

#endif  // PELMORA_SELECT_UNIT_MASKS_H_
