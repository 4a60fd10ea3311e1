#include "select/unit_masks.h"

#if PELMORA_HAVE_SSE2 && defined(__GNUC__) && \
    (defined(__x86_64__) || defined(__i386__))
#define PELMORA_HAVE_AVX2_PATH 1
#include <immintrin.h>
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

namespace {

#if PELMORA_HAVE_SSE2
// The equal bytes of 64 as a 64-bit mask, 16 bytes at a time.
inline std::uint64_t equalBytes16(const __m128i* v, __m128i value) {
  std::uint64_t mask = 0;
  for (unsigned part = 0; part < 4; ++part) {
    mask |= std::uint64_t{static_cast<std::uint32_t>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(v[part], value)))}
            << (16 * part);
  }
  return mask;
}

void maskByteWindows16(const std::uint8_t* bytes, std::size_t windows,
                       std::uint8_t separator, std::uint8_t quote,
                       std::uint64_t* line_feed, std::uint64_t* separators,
                       std::uint64_t* quotes) {
  const __m128i lf = _mm_set1_epi8(0x0A);
  const __m128i sep = _mm_set1_epi8(static_cast<char>(separator));
  const __m128i quo = _mm_set1_epi8(static_cast<char>(quote));
  for (std::size_t w = 0; w < windows; ++w) {
    __m128i v[4];
    for (unsigned part = 0; part < 4; ++part) {
      v[part] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
          bytes + w * kMaskWindow + 16 * part));
    }
    line_feed[w] = equalBytes16(v, lf);
    separators[w] = equalBytes16(v, sep);
    quotes[w] = equalBytes16(v, quo);
  }
}
#endif

#if PELMORA_HAVE_AVX2_PATH
// The same, 32 bytes at a time.
__attribute__((target("avx2"))) inline std::uint64_t equalBytes32(
    __m256i low, __m256i high, __m256i value) {
  return std::uint64_t{static_cast<std::uint32_t>(
             _mm256_movemask_epi8(_mm256_cmpeq_epi8(low, value)))} |
         std::uint64_t{static_cast<std::uint32_t>(
             _mm256_movemask_epi8(_mm256_cmpeq_epi8(high, value)))}
             << 32;
}

__attribute__((target("avx2"))) void maskByteWindows32(
    const std::uint8_t* bytes, std::size_t windows, std::uint8_t separator,
    std::uint8_t quote, std::uint64_t* line_feed, std::uint64_t* separators,
    std::uint64_t* quotes) {
  const __m256i lf = _mm256_set1_epi8(0x0A);
  const __m256i sep = _mm256_set1_epi8(static_cast<char>(separator));
  const __m256i quo = _mm256_set1_epi8(static_cast<char>(quote));
  for (std::size_t w = 0; w < windows; ++w) {
    const std::uint8_t* at = bytes + w * kMaskWindow;
    const __m256i low =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i high =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    line_feed[w] = equalBytes32(low, high, lf);
    separators[w] = equalBytes32(low, high, sep);
    quotes[w] = equalBytes32(low, high, quo);
  }
}

const bool g_avx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

}  // namespace

void maskByteWindows(const std::uint8_t* bytes, std::size_t windows,
                     std::uint8_t separator, std::uint8_t quote,
                     std::uint64_t* line_feed, std::uint64_t* separators,
                     std::uint64_t* quotes) {
#if PELMORA_HAVE_AVX2_PATH
  if (g_avx2) {
    maskByteWindows32(bytes, windows, separator, quote, line_feed, separators,
                      quotes);
    return;
  }
#endif
#if PELMORA_HAVE_SSE2
  maskByteWindows16(bytes, windows, separator, quote, line_feed, separators,
                    quotes);
#else
  for (std::size_t w = 0; w < windows; ++w) {
    line_feed[w] = separators[w] = quotes[w] = 0;
    for (std::size_t k = 0; k < kMaskWindow; ++k) {
      const std::uint8_t b = bytes[w * kMaskWindow + k];
      line_feed[w] |= std::uint64_t{b == 0x0A} << k;
      separators[w] |= std::uint64_t{b == separator} << k;
      quotes[w] |= std::uint64_t{b == quote} << k;
    }
  }
#endif
}
