#include "select/unit_masks.h"

#include "platform/platform.h"

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

// Where a block's byte masks are kept, and the quote parity carried from
// window to window while they are made.
struct ByteMaskOut {
  std::size_t n;
  std::uint64_t* line_feed;
  std::uint64_t* separators;
  std::uint64_t* quote_parity;
  std::uint64_t* sjis_leads;
  std::uint64_t carry = 0;  // all ones after an odd number of quotes

  // Keeps window w's masks: the bits past n cleared, the quotes turned
  // into their parity from the block's start.
  void keep(std::size_t w, std::uint64_t lf, std::uint64_t sep,
            std::uint64_t quotes, std::uint64_t leads) {
    if ((w + 1) * kMaskWindow > n) {
      const std::uint64_t valid = (std::uint64_t{1} << (n % kMaskWindow)) - 1;
      lf &= valid;
      sep &= valid;
      quotes &= valid;
      leads &= valid;
    }
    line_feed[w] = lf;
    separators[w] = sep;
    if (sjis_leads != nullptr) sjis_leads[w] = leads;
    const std::uint64_t parity = prefixParity(quotes) ^ carry;
    quote_parity[w] = parity;
    carry = std::uint64_t{0} - (parity >> 63);
  }
};

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

// The bytes of 64 in Shift_JIS's range of lead bytes: XOR A0 puts both
// ranges (81..9F, E0..FC) at 21..5C, compared as signed bytes.
inline std::uint64_t leadRange16(const __m128i* v) {
  std::uint64_t mask = 0;
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i x = _mm_xor_si128(v[part], _mm_set1_epi8(-0x60));
    const __m128i in_range =
        _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x20)),
                      _mm_cmplt_epi8(x, _mm_set1_epi8(0x5D)));
    mask |=
        std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(in_range))}
        << (16 * part);
  }
  return mask;
}

void maskByteBlock16(const std::uint8_t* bytes, std::uint8_t separator,
                     std::uint8_t quote, ByteMaskOut* out) {
  const std::size_t windows = (out->n + kMaskWindow - 1) / kMaskWindow;
  const bool leads = out->sjis_leads != nullptr;
  const __m128i lf = _mm_set1_epi8(0x0A);
  const __m128i sep = _mm_set1_epi8(static_cast<char>(separator));
  const __m128i quo = _mm_set1_epi8(static_cast<char>(quote));
  for (std::size_t w = 0; w < windows; ++w) {
    __m128i v[4];
    for (unsigned part = 0; part < 4; ++part) {
      v[part] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
          bytes + w * kMaskWindow + 16 * part));
    }
    out->keep(w, equalBytes16(v, lf), equalBytes16(v, sep),
              equalBytes16(v, quo), leads ? leadRange16(v) : 0);
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

// How far ahead of the window being classified its bytes are asked for:
// a block usually comes straight from the file's pages in memory, not from
// a cache.
constexpr std::size_t kPrefetchAhead = 2048;

// The same as leadRange16, 32 bytes at a time.
__attribute__((target("avx2"))) inline std::uint64_t leadRange32(__m256i low,
                                                                 __m256i high) {
  const __m256i flip = _mm256_set1_epi8(-0x60);
  const __m256i above = _mm256_set1_epi8(0x20);
  const __m256i below = _mm256_set1_epi8(0x5D);
  const __m256i x = _mm256_xor_si256(low, flip);
  const __m256i y = _mm256_xor_si256(high, flip);
  const __m256i in_low = _mm256_and_si256(_mm256_cmpgt_epi8(x, above),
                                          _mm256_cmpgt_epi8(below, x));
  const __m256i in_high = _mm256_and_si256(_mm256_cmpgt_epi8(y, above),
                                           _mm256_cmpgt_epi8(below, y));
  return std::uint64_t{
             static_cast<std::uint32_t>(_mm256_movemask_epi8(in_low))} |
         std::uint64_t{
             static_cast<std::uint32_t>(_mm256_movemask_epi8(in_high))}
             << 32;
}

__attribute__((target("avx2"))) void maskByteBlock32(const std::uint8_t* bytes,
                                                     std::uint8_t separator,
                                                     std::uint8_t quote,
                                                     ByteMaskOut* out) {
  const std::size_t windows = (out->n + kMaskWindow - 1) / kMaskWindow;
  const bool leads = out->sjis_leads != nullptr;
  const __m256i lf = _mm256_set1_epi8(0x0A);
  const __m256i sep = _mm256_set1_epi8(static_cast<char>(separator));
  const __m256i quo = _mm256_set1_epi8(static_cast<char>(quote));
  for (std::size_t w = 0; w < windows; ++w) {
    const std::uint8_t* at = bytes + w * kMaskWindow;
    _mm_prefetch(reinterpret_cast<const char*>(at) + kPrefetchAhead,
                 _MM_HINT_T0);
    const __m256i low =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i high =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    out->keep(w, equalBytes32(low, high, lf), equalBytes32(low, high, sep),
              equalBytes32(low, high, quo), leads ? leadRange32(low, high) : 0);
  }
}

// 32 lanes of all ones or zeros, from two vectors of 16-bit lanes, as a
// 32-bit mask in the units' order: the pack interleaves the halves of its
// two vectors, which the permutation puts back.
__attribute__((target("avx2"))) inline std::uint64_t laneMask32(__m256i a,
                                                                __m256i b) {
  const __m256i packed =
      _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(packed));
}

__attribute__((target("avx2"))) inline __m256i highHalves32(__m256i v) {
  return _mm256_cmpeq_epi16(
      _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xFC00))),
      _mm256_set1_epi16(static_cast<short>(0xD800)));
}

// Both ways of classifying units, as classifyWindow does with SSE2:
// kNarrowed saturates 32 units to 32 bytes once and compares the bytes.
// kSwapped: the units are in the other byte order, each swapped once
// loaded.
template <bool kNarrowed, bool kSwapped>
__attribute__((target("avx2"))) void maskUnitBlock32(
    const std::uint16_t* units, std::size_t n, std::uint16_t separator,
    std::uint16_t quote, bool surrogates, std::uint64_t* line_feed,
    std::uint64_t* separators, std::uint64_t* quote_parity,
    std::uint64_t* surrogate) {
  const __m256i values[3] = {
      kNarrowed ? _mm256_set1_epi8(0x0A) : _mm256_set1_epi16(0x000A),
      kNarrowed ? _mm256_set1_epi8(static_cast<char>(separator))
                : _mm256_set1_epi16(static_cast<short>(separator)),
      kNarrowed ? _mm256_set1_epi8(static_cast<char>(quote))
                : _mm256_set1_epi16(static_cast<short>(quote))};
  const std::size_t windows = (n + kMaskWindow - 1) / kMaskWindow;
  std::uint64_t carry = 0;  // all ones after an odd number of quotes
  for (std::size_t w = 0; w < windows; ++w) {
    const __m256i* at = reinterpret_cast<const __m256i*>(units + w * 64);
    _mm_prefetch(reinterpret_cast<const char*>(at) + kPrefetchAhead,
                 _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(at) + kPrefetchAhead + 64,
                 _MM_HINT_T0);
    __m256i v[4];
    for (unsigned i = 0; i < 4; ++i) v[i] = _mm256_loadu_si256(at + i);
    if (kSwapped) {
      const __m256i order = _mm256_setr_epi8(
          1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5,
          4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
      for (__m256i& x : v) x = _mm256_shuffle_epi8(x, order);
    }
    std::uint64_t found[3];  // line feeds, separators, quotes
    if (kNarrowed) {
      const __m256i low =
          _mm256_permute4x64_epi64(_mm256_packus_epi16(v[0], v[1]), 0xD8);
      const __m256i high =
          _mm256_permute4x64_epi64(_mm256_packus_epi16(v[2], v[3]), 0xD8);
      for (unsigned k = 0; k < 3; ++k) {
        found[k] =
            std::uint64_t{static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(low, values[k])))} |
            std::uint64_t{static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(high, values[k])))}
                << 32;
      }
    } else {
      for (unsigned k = 0; k < 3; ++k) {
        found[k] = laneMask32(_mm256_cmpeq_epi16(v[0], values[k]),
                              _mm256_cmpeq_epi16(v[1], values[k])) |
                   laneMask32(_mm256_cmpeq_epi16(v[2], values[k]),
                              _mm256_cmpeq_epi16(v[3], values[k]))
                       << 32;
      }
    }
    std::uint64_t high = 0;
    if (surrogates) {
      const __m256i h[4] = {highHalves32(v[0]), highHalves32(v[1]),
                            highHalves32(v[2]), highHalves32(v[3])};
      const __m256i any = _mm256_or_si256(_mm256_or_si256(h[0], h[1]),
                                          _mm256_or_si256(h[2], h[3]));
      // Nearly every window of real text has none.
      if (!_mm256_testz_si256(any, any)) {
        high = laneMask32(h[0], h[1]) | laneMask32(h[2], h[3]) << 32;
      }
    }
    if (w + 1 == windows && n % kMaskWindow != 0) {
      const std::uint64_t valid = (std::uint64_t{1} << (n % kMaskWindow)) - 1;
      for (std::uint64_t& f : found) f &= valid;
      high &= valid;
    }
    line_feed[w] = found[0];
    separators[w] = found[1];
    surrogate[w] = high;
    const std::uint64_t parity = prefixParity(found[2]) ^ carry;
    quote_parity[w] = parity;
    carry = std::uint64_t{0} - (parity >> 63);
  }
}

// Asked once: the answer cannot change while the process runs.
bool hasAvx2() {
  static const bool avx2 = platform::processorHasAvx2();
  return avx2;
}
#endif

}  // namespace

bool unitMasksTakeSwappedUnits() {
#if PELMORA_HAVE_AVX2_PATH
  return hasAvx2();
#else
  return false;
#endif
}

bool maskUnitBlockAvx2(const std::uint16_t* units, std::size_t n,
                       std::uint16_t separator, std::uint16_t quote,
                       bool surrogates, std::uint64_t* line_feed,
                       std::uint64_t* separators, std::uint64_t* quote_parity,
                       std::uint64_t* surrogate, bool swapped) {
#if PELMORA_HAVE_AVX2_PATH
  if (!hasAvx2()) return false;
  const bool narrowed = narrowedMasksUsable(separator, quote);
  auto mask = swapped    ? narrowed ? maskUnitBlock32<true, true>
                                    : maskUnitBlock32<false, true>
                 : narrowed ? maskUnitBlock32<true, false>
                         : maskUnitBlock32<false, false>;
  mask(units, n, separator, quote, surrogates, line_feed, separators,
       quote_parity, surrogate);
  return true;
#else
  (void)units, (void)n, (void)separator, (void)quote, (void)surrogates;
  (void)line_feed, (void)separators, (void)quote_parity, (void)surrogate;
  (void)swapped;
  return false;
#endif
}

void maskByteBlock(const std::uint8_t* bytes, std::size_t n,
                   std::uint8_t separator, std::uint8_t quote,
                   std::uint64_t* line_feed, std::uint64_t* separators,
                   std::uint64_t* quote_parity, std::uint64_t* sjis_leads) {
  ByteMaskOut out{n, line_feed, separators, quote_parity, sjis_leads};
#if PELMORA_HAVE_AVX2_PATH
  if (hasAvx2()) {
    maskByteBlock32(bytes, separator, quote, &out);
    return;
  }
#endif
#if PELMORA_HAVE_SSE2
  maskByteBlock16(bytes, separator, quote, &out);
#else
  for (std::size_t w = 0; w * kMaskWindow < n; ++w) {
    std::uint64_t found[4] = {};  // line feeds, separators, quotes, leads
    for (std::size_t k = 0; k < kMaskWindow; ++k) {
      const std::uint8_t b = bytes[w * kMaskWindow + k];
      found[0] |= std::uint64_t{b == 0x0A} << k;
      found[1] |= std::uint64_t{b == separator} << k;
      found[2] |= std::uint64_t{b == quote} << k;
      found[3] |=
          std::uint64_t{(b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)}
          << k;
    }
    out.keep(w, found[0], found[1], found[2], found[3]);
  }
#endif
}
