#include "select/unit_masks.h"

#if defined(__SSE2__) || defined(_M_X64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define PELMORA_HAVE_SSE2 1
#include <emmintrin.h>
#endif

void maskWindowScalar(const std::uint16_t* units, std::uint16_t separator,
                      std::uint16_t quote, WindowMasks* masks) {
  WindowMasks m;
  for (std::size_t k = 0; k < kMaskWindow; ++k) {
    const std::uint64_t bit = std::uint64_t{1} << k;
    const std::uint16_t u = units[k];
    if (u == 0x000A) m.line_feed |= bit;
    if (u == separator) m.separator |= bit;
    if (u == quote) m.quote |= bit;
    if ((u & 0xFC00) == 0xD800) m.surrogate |= bit;
  }
  *masks = m;
}

#if PELMORA_HAVE_SSE2

namespace {

// 16 units (two vectors) to a 16-bit mask of the lanes equal to `value`.
inline std::uint64_t equalMask16(__m128i a, __m128i b, __m128i value) {
  __m128i packed = _mm_packs_epi16(_mm_cmpeq_epi16(a, value),
                                   _mm_cmpeq_epi16(b, value));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(packed));
}

}  // namespace

void maskWindow(const std::uint16_t* units, std::uint16_t separator,
                std::uint16_t quote, bool surrogates, WindowMasks* masks) {
  const __m128i lf = _mm_set1_epi16(0x000A);
  const __m128i sep = _mm_set1_epi16(static_cast<short>(separator));
  const __m128i quo = _mm_set1_epi16(static_cast<short>(quote));
  const __m128i high_bits = _mm_set1_epi16(static_cast<short>(0xFC00));
  const __m128i high_half = _mm_set1_epi16(static_cast<short>(0xD800));
  WindowMasks m;
  for (unsigned part = 0; part < 4; ++part) {
    const auto* at = reinterpret_cast<const __m128i*>(units + 16 * part);
    __m128i a = _mm_loadu_si128(at);
    __m128i b = _mm_loadu_si128(at + 1);
    const unsigned shift = 16 * part;
    m.line_feed |= equalMask16(a, b, lf) << shift;
    m.separator |= equalMask16(a, b, sep) << shift;
    m.quote |= equalMask16(a, b, quo) << shift;
    if (surrogates) {
      m.surrogate |= equalMask16(_mm_and_si128(a, high_bits),
                                 _mm_and_si128(b, high_bits), high_half)
                     << shift;
    }
  }
  *masks = m;
}

#else

void maskWindow(const std::uint16_t* units, std::uint16_t separator,
                std::uint16_t quote, bool surrogates, WindowMasks* masks) {
  maskWindowScalar(units, separator, quote, masks);
  if (!surrogates) masks->surrogate = 0;
}

#endif
