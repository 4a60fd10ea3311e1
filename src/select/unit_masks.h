// Bit masks over windows of 64 code units: which units are line feeds,
// separators, quotes or surrogates. The engines use them to pass over the
// fields they do not select without looking at every unit.
#ifndef PELMORA_SELECT_UNIT_MASKS_H_
#define PELMORA_SELECT_UNIT_MASKS_H_

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define PELMORA_HAVE_SSE2 1
#include <emmintrin.h>
#endif

/// Units per mask window: one bit each in a 64-bit word.
inline constexpr std::size_t kMaskWindow = 64;

/// Bit k describes unit k of the window.
struct WindowMasks {
  std::uint64_t line_feed = 0;
  std::uint64_t separator = 0;
  std::uint64_t quote = 0;
  std::uint64_t surrogate = 0;  ///< 0xD800..0xDBFF (high halves)
};

/// Fills the masks for units[0..63] with plain scalar code: the reference
/// that maskWindow must match.
void maskWindowScalar(const std::uint16_t* units, std::uint16_t separator,
                      std::uint16_t quote, WindowMasks* masks);

/// The masks of bytes[0..n) of UTF-8, bit k of a word for byte k of its
/// window of 64, with the widest vectors the processor has: line feeds,
/// separators, and in `quote_parity` the parity of the quotes from the
/// block's start through each byte, all in one pass; the bytes must be
/// readable up to the next multiple of 64, and the bits past n are cleared. For
/// an ASCII separator and quote: a byte below 0x80 is always a character of its
/// own in UTF-8, never part of another, so comparing bytes finds exactly the
/// line feeds, separators and quotes. There are no surrogates to mark (a
/// four-byte character is decoded to both halves at once). With `sjis_leads` it
/// also gives, per window, the bytes in Shift_JIS's range of lead bytes
/// (81..9F, E0..FC).
void maskByteBlock(const std::uint8_t* bytes, std::size_t n,
                   std::uint8_t separator, std::uint8_t quote,
                   std::uint64_t* line_feed, std::uint64_t* separators,
                   std::uint64_t* quote_parity,
                   std::uint64_t* sjis_leads = nullptr);

/// The masks of a whole block, units[0..n), a window of 64 units per entry
/// of each array, with AVX2: line feeds, separators, listed high halves
/// (0 unless `surrogates`), and in `quote_parity` bit k the parity of the
/// quotes from the block's start through unit k. The units must be readable
/// up to the next multiple of 64; the bits past n are cleared. `swapped`:
/// the units are stored in the other byte order (UTF-16BE read where it
/// lies). False, with nothing done, where the processor or the build has no
/// AVX2.
/// maskUnitBlockAvx2() takes units in the other byte order on this
/// processor.
bool unitMasksTakeSwappedUnits();
bool maskUnitBlockAvx2(const std::uint16_t* units, std::size_t n,
                       std::uint16_t separator, std::uint16_t quote,
                       bool surrogates, std::uint64_t* line_feed,
                       std::uint64_t* separators, std::uint64_t* quote_parity,
                       std::uint64_t* surrogate, bool swapped = false);

#if PELMORA_HAVE_SSE2

namespace unit_masks_detail {
// 16 units (two vectors) to a 16-bit mask of the lanes equal to `value`.
inline std::uint64_t equalMask16(__m128i a, __m128i b, __m128i value) {
  __m128i packed =
      _mm_packs_epi16(_mm_cmpeq_epi16(a, value), _mm_cmpeq_epi16(b, value));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(packed));
}

// The lanes of 8 units that hold high halves (0xD800..0xDBFF), as a vector
// of all-ones and all-zeros lanes.
inline __m128i highHalves(__m128i v) {
  return _mm_cmpeq_epi16(
      _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFC00))),
      _mm_set1_epi16(static_cast<short>(0xD800)));
}

// The high halves among 64 units (eight vectors) as a 64-bit mask.
inline std::uint64_t highHalfMask64(const __m128i* v) {
  std::uint64_t mask = 0;
  for (unsigned part = 0; part < 4; ++part) {
    __m128i packed =
        _mm_packs_epi16(highHalves(v[2 * part]), highHalves(v[2 * part + 1]));
    mask |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(packed))}
            << (16 * part);
  }
  return mask;
}

// highHalfMask64(), after the check whether there are any high halves at
// all, which nearly always ends the matter.
inline std::uint64_t surrogateMask(const __m128i* v) {
  __m128i any = highHalves(v[0]);
  for (unsigned i = 1; i < 8; ++i) any = _mm_or_si128(any, highHalves(v[i]));
  return _mm_movemask_epi8(any) == 0 ? 0 : highHalfMask64(v);
}

// Both ways of classifying a window: kNarrowed narrows 16 units to 16 bytes
// with saturation once (0x0100..0x7FFF become 0xFF, 0x8000..0xFFFF 0x00),
// so that each value then takes one compare where it took two.
template <bool kNarrowed>
inline void classifyWindow(const std::uint16_t* units, std::uint16_t separator,
                           std::uint16_t quote, bool surrogates,
                           WindowMasks* masks) {
  const __m128i values[3] = {
      kNarrowed ? _mm_set1_epi8(0x0A) : _mm_set1_epi16(0x000A),
      kNarrowed ? _mm_set1_epi8(static_cast<char>(separator))
                : _mm_set1_epi16(static_cast<short>(separator)),
      kNarrowed ? _mm_set1_epi8(static_cast<char>(quote))
                : _mm_set1_epi16(static_cast<short>(quote))};
  __m128i v[8];
  for (unsigned i = 0; i < 8; ++i) {
    v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 8 * i));
  }
  std::uint64_t found[3] = {0, 0, 0};  // line feeds, separators, quotes
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i a = v[2 * part];
    const __m128i b = v[2 * part + 1];
    const __m128i bytes = kNarrowed ? _mm_packus_epi16(a, b) : a;
    for (unsigned k = 0; k < 3; ++k) {
      const std::uint64_t bits =
          kNarrowed ? std::uint64_t{static_cast<std::uint32_t>(
                          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, values[k])))}
                    : equalMask16(a, b, values[k]);
      found[k] |= bits << (16 * part);
    }
  }
  masks->line_feed = found[0];
  masks->separator = found[1];
  masks->quote = found[2];
  masks->surrogate = surrogates ? surrogateMask(v) : 0;
}
}  // namespace unit_masks_detail

/// Fills the masks for units[0..63] with the processor's vector unit. The
/// surrogate mask is left 0 unless asked for.
inline void maskWindow(const std::uint16_t* units, std::uint16_t separator,
                       std::uint16_t quote, bool surrogates,
                       WindowMasks* masks) {
  unit_masks_detail::classifyWindow<false>(units, separator, quote, surrogates,
                                           masks);
}

/// True when maskWindowNarrowed() can classify units for this separator
/// and quote: narrowing maps every unit above 0xFF to 0x00 or 0xFF, so those
/// two byte values would match units they are not.
inline bool narrowedMasksUsable(std::uint16_t separator, std::uint16_t quote) {
  return separator >= 0x01 && separator <= 0xFE && quote >= 0x01 &&
         quote <= 0xFE;
}

/// maskWindow() for a separator and quote that narrowedMasksUsable()
/// accepts, with one compare per value and 16 units.
inline void maskWindowNarrowed(const std::uint16_t* units,
                               std::uint16_t separator, std::uint16_t quote,
                               bool surrogates, WindowMasks* masks) {
  unit_masks_detail::classifyWindow<true>(units, separator, quote, surrogates,
                                          masks);
}

#else

/// Without a vector unit the scalar masks serve.
inline void maskWindow(const std::uint16_t* units, std::uint16_t separator,
                       std::uint16_t quote, bool surrogates,
                       WindowMasks* masks) {
  maskWindowScalar(units, separator, quote, masks);
  if (!surrogates) masks->surrogate = 0;
}

inline bool narrowedMasksUsable(std::uint16_t, std::uint16_t) { return false; }

inline void maskWindowNarrowed(const std::uint16_t* units,
                               std::uint16_t separator, std::uint16_t quote,
                               bool surrogates, WindowMasks* masks) {
  maskWindow(units, separator, quote, surrogates, masks);
}

#endif

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

#endif  // PELMORA_SELECT_UNIT_MASKS_H_
