#include "select/wide_coding.h"

#include "platform/platform.h"

#include <cstring>

#include "select/sjis_decoding.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define PELMORA_HAVE_SSSE3_PATH 1
#include <tmmintrin.h>
#endif

namespace wide_coding {
namespace {

bool hostIsLittleEndian() {
  const std::uint16_t probe = 1;
  std::uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// The length a lead byte announces and the range its second byte must be
// in (the later ones are 80..BF): what keeps out overlong forms,
// surrogates and code points past U+10FFFF. 0: no lead byte.
struct Lead {
  int length;
  std::uint8_t low;
  std::uint8_t high;
};

Lead leadOf(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// The bytes of the sequence at in[0] that are valid so far, up to its
// length; *complete when it is whole.
std::size_t validPart(const std::uint8_t* in, std::size_t n, const Lead& lead,
                      bool* complete) {
  std::size_t k = 1;
  for (; k < static_cast<std::size_t>(lead.length) && k < n; ++k) {
    const std::uint8_t low = k == 1 ? lead.low : 0x80;
    const std::uint8_t high = k == 1 ? lead.high : 0xBF;
    if (in[k] < low || in[k] > high) break;
  }
  *complete = k == static_cast<std::size_t>(lead.length);
  return k;
}

// A stretch of UTF-8 decoded on its own: bytes in[i..n) to out[o..);
// `look` is how far bytes may be read ahead (the block's end).
struct Stream {
  const std::uint8_t* in;
  std::size_t i;
  std::size_t n;
  std::size_t look;
  std::uint16_t* out;
  std::size_t o;
  bool last;  // the file ends at n: a cut sequence there is no character
  bool done;
};

inline void oneCharacter(Stream& s);

// Decodes ASCII eight bytes at a time, then one character; marks the
// stream done at its end, or at a sequence its end cuts unless `last`.
inline void slowStep(Stream& s) {
  while (s.i + 8 <= s.n) {
    std::uint64_t eight;
    std::memcpy(&eight, s.in + s.i, 8);
    if ((eight & 0x8080808080808080u) != 0) break;
    for (std::size_t k = 0; k < 8; ++k) s.out[s.o + k] = s.in[s.i + k];
    s.i += 8;
    s.o += 8;
  }
  if (s.i == s.n) {
    s.done = true;
    return;
  }
  oneCharacter(s);
}

// One character at s.in[s.i], s.i < s.n.
inline void oneCharacter(Stream& s) {
  const std::uint8_t b = s.in[s.i];
  if (b < 0x80) {
    s.out[s.o++] = b;
    ++s.i;
    return;
  }
  const Lead lead = leadOf(b);
  if (lead.length == 0) {
    s.out[s.o++] = kReplacement;
    ++s.i;
    return;
  }
  bool complete = false;
  const std::size_t valid = validPart(s.in + s.i, s.n - s.i, lead, &complete);
  if (!complete) {
    // Cut by the end of the block, the rest may follow in the next one.
    if (s.i + valid == s.n && !s.last) {
      s.done = true;
      return;
    }
    s.out[s.o++] = kReplacement;
    s.i += valid;
    return;
  }
  std::uint32_t cp = b & (0x7Fu >> lead.length);
  const std::size_t length = static_cast<std::size_t>(lead.length);
  for (std::size_t k = 1; k < length; ++k) {
    cp = (cp << 6) | (s.in[s.i + k] & 0x3Fu);
  }
  s.i += length;
  if (cp < 0x10000) {
    s.out[s.o++] = static_cast<std::uint16_t>(cp);
  } else {
    cp -= 0x10000;
    s.out[s.o++] = static_cast<std::uint16_t>(0xD800 + (cp >> 10));
    s.out[s.o++] = static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// The usual characters one at a time, with the stream in registers, up to
// the end or a character that needs slowStep.
inline void commonRun(Stream& s) {
  const std::uint8_t* in = s.in;
  const std::size_t n = s.n;
  std::uint16_t* out = s.out;
  std::size_t i = s.i;
  std::size_t o = s.o;
  while (i < n) {
    std::uint32_t unit = 0;
    const std::size_t length = commonCharacter(in + i, n - i, &unit);
    if (length == 0) break;
    out[o++] = static_cast<std::uint16_t>(unit);
    i += length;
  }
  s.i = i;
  s.o = o;
}

#if PELMORA_HAVE_SSSE3_PATH
// Kana, kanji and ASCII, the whole of most exports, four characters at a
// time: which of the first 12 bytes start three-byte characters (E1..EC,
// EE..EF: any two continuation bytes make a character) picks the
// lengths of the next four characters, and with them a shuffle that puts
// each character's bytes into a 32-bit lane of its own. Anything else (E0,
// ED, two- and four-byte forms, invalid bytes) is left to the loop that
// takes one character at a time.
struct FourCharacters {
  alignas(16) std::uint8_t shuffle[16];
  // What the marker bits of each character's bytes add to its lane, plus
  // the bias of the signed pack: subtracted, it leaves the unit minus 0x8000.
  alignas(16) std::int32_t offset[4];
  std::uint16_t ascii;  // the ASCII bytes these four characters must have
  std::uint16_t continuation;  // and their continuation bytes
  std::uint16_t range;         // the bytes they take
};

// The bytes four characters take, apart from the rest: the next group's
// start waits for it, and 4 KiB stay in the fastest cache.
std::uint8_t g_used[4096];

const FourCharacters* fourCharacterTable() {
  static const FourCharacters* const table = [] {
    static FourCharacters built[4096] = {};
    for (unsigned leads = 0; leads < 4096; ++leads) {
      FourCharacters& e = built[leads];
      unsigned at = 0;
      for (unsigned k = 0; k < 4; ++k) {
        std::uint8_t* lane = e.shuffle + 4 * k;
        // Bytes of a lane: the last, the middle and the first byte of the
        // character, then zero (a shuffle index of 0x80 gives zero).
        lane[3] = 0x80;
        if ((leads >> at & 1u) != 0) {
          lane[0] = static_cast<std::uint8_t>(at + 2);
          lane[1] = static_cast<std::uint8_t>(at + 1);
          lane[2] = static_cast<std::uint8_t>(at);
          // 1110xxxx 10xxxxxx 10xxxxxx: E0 << 12 + 80 << 6 + 80.
          e.offset[k] = 0xE2080 + 0x8000;
          e.continuation |= static_cast<std::uint16_t>(3u << (at + 1));
          at += 3;
        } else {
          lane[0] = static_cast<std::uint8_t>(at);
          lane[1] = 0x80;
          lane[2] = 0x80;
          e.offset[k] = 0x8000;
          e.ascii |= static_cast<std::uint16_t>(1u << at);
          at += 1;
        }
      }
      g_used[leads] = static_cast<std::uint8_t>(at);
      e.range = static_cast<std::uint16_t>((1u << at) - 1);
    }
    return built;
  }();
  return table;
}

const bool g_ssse3 = platform::processorHasSsse3();

// One group of four characters at s.in[s.i], when 16 bytes are there to
// look at and the group is of the kinds above; false leaves it alone.
__attribute__((target("ssse3"), always_inline)) inline bool fourCharacters(
    Stream& s, const FourCharacters* table) {
  if (s.i + 16 > s.look) return false;
  const __m128i v =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.in + s.i));
  const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
  if (high == 0 && s.i + 16 <= s.n) {
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.out + s.o),
                     _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.out + s.o + 8),
                     _mm_unpackhi_epi8(v, zero));
    s.i += 16;
    s.o += 16;
    return true;
  }
  // Leads E0..EF; E0 and ED limit their second byte, and go the slow way.
  const unsigned leads =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
          _mm_and_si128(v, _mm_set1_epi8(-0x10)), _mm_set1_epi8(-0x20)))) &
      0xFFF;
  const unsigned follows =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
          _mm_and_si128(v, _mm_set1_epi8(-0x40)), _mm_set1_epi8(-0x80))));
  const unsigned special = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(-0x20)),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8(-0x13)))));
  const FourCharacters& e = table[leads];
  const std::size_t used = g_used[leads];
  if ((~high & e.range) != e.ascii || (follows & e.range) != e.continuation ||
      (special & e.range) != 0 || s.i + used > s.n) {
    return false;
  }
  const __m128i lanes = _mm_shuffle_epi8(
      v, _mm_load_si128(reinterpret_cast<const __m128i*>(e.shuffle)));
  // last + middle * 64 in one 16-bit half, first in the other, then
  // + first * 4096: the character's bytes with their marker bits, which
  // the offset takes away again.
  const __m128i pairs = _mm_maddubs_epi16(lanes, _mm_set1_epi32(0x00014001));
  const __m128i biased =
      _mm_sub_epi32(_mm_madd_epi16(pairs, _mm_set1_epi32(0x10000001)),
                    _mm_load_si128(reinterpret_cast<const __m128i*>(e.offset)));
  // Four 32-bit lanes to four 16-bit units: a signed pack after the bias.
  _mm_storel_epi64(
      reinterpret_cast<__m128i*>(s.out + s.o),
      _mm_xor_si128(_mm_packs_epi32(biased, biased), _mm_set1_epi16(-0x8000)));
  s.i += used;
  s.o += 4;
  return true;
}

// Four quarters of the block side by side, so that the processor works on
// the others while one waits for its next group's length.
__attribute__((target("ssse3"))) void decodeFourStreams(Stream* s) {
  const FourCharacters* table = fourCharacterTable();
  while (!s[0].done || !s[1].done || !s[2].done || !s[3].done) {
    if (!s[0].done && !fourCharacters(s[0], table)) slowStep(s[0]);
    if (!s[1].done && !fourCharacters(s[1], table)) slowStep(s[1]);
    if (!s[2].done && !fourCharacters(s[2], table)) slowStep(s[2]);
    if (!s[3].done && !fourCharacters(s[3], table)) slowStep(s[3]);
  }
}

// One short piece, four characters at a time where it can.
__attribute__((target("ssse3"))) void decodePieceFour(Stream& s) {
  const FourCharacters* table = fourCharacterTable();
  while (!s.done) {
    if (!fourCharacters(s, table)) slowStep(s);
  }
}
#endif

}  // namespace

std::size_t decodeCharacter(const std::uint8_t* in, std::size_t n,
                            std::uint16_t* out, std::size_t* units) {
  Stream one{in, 0, n, n, out, 0, true, false};
  oneCharacter(one);
  *units = one.o;
  return one.i;
}

std::size_t decodeUtf8Piece(const std::uint8_t* in, std::size_t n,
                            std::uint16_t* out) {
  Stream piece{in, 0, n, n + kPieceReadAhead, out, 0, true, false};
#if PELMORA_HAVE_SSSE3_PATH
  if (g_ssse3) {
    decodePieceFour(piece);
    return piece.o;
  }
#endif
  while (!piece.done) {
    commonRun(piece);
    slowStep(piece);
  }
  return piece.o;
}

std::size_t decodeUtf8(const std::uint8_t* in, std::size_t n, bool last,
                       std::uint16_t* out, UnitRuns* runs) {
#if PELMORA_HAVE_SSSE3_PATH
  // Quarters cut where a character starts (no continuation byte), so that
  // each decodes as the whole would: a sequence never reaches across. Each
  // quarter's units go where its bytes begin: a unit per byte at most.
  if (g_ssse3 && n >= 256) {
    std::size_t cut[5] = {0, 0, 0, 0, n};
    bool cuttable = true;
    for (std::size_t k = 1; k < 4; ++k) {
      std::size_t at = n * k / 4;
      while (at < n * k / 4 + 4 && (in[at] & 0xC0) == 0x80) ++at;
      cuttable = cuttable && (in[at] & 0xC0) != 0x80;
      cut[k] = at;
    }
    if (cuttable) {
      Stream quarters[4];
      for (std::size_t k = 0; k < 4; ++k) {
        quarters[k] = Stream{in,  cut[k], cut[k + 1],    n,
                             out, cut[k], k < 3 || last, false};
      }
      decodeFourStreams(quarters);
      runs->count = 4;
      for (std::size_t k = 0; k < 4; ++k) {
        runs->begin[k] = cut[k];
        runs->units[k] = quarters[k].o - cut[k];
      }
      return quarters[3].i;
    }
  }
#endif
  Stream whole{in, 0, n, n, out, 0, last, false};
  while (!whole.done) {
    commonRun(whole);
    slowStep(whole);
  }
  runs->count = 1;
  runs->begin[0] = 0;
  runs->units[0] = whole.o;
  return whole.i;
}

std::size_t wholeUtf8(const std::uint8_t* in, std::size_t n) {
  // A cut sequence has at most three bytes, and starts at a lead byte: no
  // sequence reaches back past an ASCII byte or another lead.
  for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
    const std::size_t at = n - back;
    if ((in[at] & 0xC0) == 0x80) continue;
    const Lead lead = leadOf(in[at]);
    if (lead.length == 0) return n;
    bool complete = false;
    const std::size_t valid = validPart(in + at, back, lead, &complete);
    return !complete && valid == back ? at : n;
  }
  return n;
}

Start detect(const std::uint8_t* head, std::size_t n) {
  if (n >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    return {WideCoding::kUtf8, 3, false};
  }
  if (n >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    return {WideCoding::kUtf16Be, 2, false};
  }
  if (n >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    return {WideCoding::kUtf16Le, 2, false};
  }
  // Every UTF-16LE export holds zero bytes (its line ends, separators and
  // digits). An empty file has no text either way.
  if (n == 0 || std::memchr(head, 0, n) != nullptr) return {};
  if (firstHighByte(head, n) == n) return {WideCoding::kUtf8, 0, true};
  return {utf8OrShiftJis(head, n), 0, false};
}

namespace {

// The valid multi-byte sequences of UTF-8 in window[0..n) and its maximal
// invalid subparts; a sequence that the end cuts counts as neither.
void countUtf8(const std::uint8_t* window, std::size_t n,
               std::size_t* valid_sequences, std::size_t* invalid_parts) {
  *valid_sequences = 0;
  *invalid_parts = 0;
  std::size_t i = 0;
  while (i < n) {
    if (window[i] < 0x80) {
      ++i;
      continue;
    }
    const Lead lead = leadOf(window[i]);
    if (lead.length == 0) {
      ++*invalid_parts;
      ++i;
      continue;
    }
    bool complete = false;
    const std::size_t valid = validPart(window + i, n - i, lead, &complete);
    if (complete) {
      ++*valid_sequences;
    } else if (i + valid == n) {
      return;  // the window's end cut it: it may be whole in the file
    } else {
      ++*invalid_parts;
    }
    i += valid;
  }
}

}  // namespace

WideCoding utf8OrShiftJis(const std::uint8_t* window, std::size_t n) {
  std::size_t valid_sequences = 0;
  std::size_t invalid_parts = 0;
  countUtf8(window, n, &valid_sequences, &invalid_parts);
  return invalid_parts * 9 <= valid_sequences ? WideCoding::kUtf8
                                              : WideCoding::kShiftJis;
}

bool isUnicodeExport(const std::uint8_t* head, std::size_t n) {
  const Start start = detect(head, n);
  if (start.mark_bytes != 0) return true;
  if (n > 0 && start.coding == WideCoding::kUtf16Le) {
    for (std::size_t i = 0; i + 1 < n; i += 2) {
      if ((head[i] == 0x0A && head[i + 1] == 0) ||
          (head[i] == 0 && head[i + 1] == 0x0A)) {
        return true;
      }
    }
    return false;
  }
  std::size_t valid_sequences = 0;
  std::size_t invalid_parts = 0;
  countUtf8(head, n, &valid_sequences, &invalid_parts);
  return invalid_parts == 0 && valid_sequences > 0;
}

bool isWorkbook(const std::uint8_t* head, std::size_t n) {
  static const std::uint8_t kZip[4] = {0x50, 0x4B, 0x03, 0x04};
  static const std::uint8_t kCompound[4] = {0xD0, 0xCF, 0x11, 0xE0};
  return n >= 4 && (std::memcmp(head, kZip, 4) == 0 ||
                    std::memcmp(head, kCompound, 4) == 0);
}

std::size_t firstHighByte(const std::uint8_t* in, std::size_t n) {
  // Eight bytes a step: a word of ASCII has no high bit anywhere.
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    std::uint64_t words[4];
    std::memcpy(words, in + i, sizeof words);
    if (((words[0] | words[1] | words[2] | words[3]) & kHigh) != 0) break;
  }
  for (; i < n; ++i) {
    if (in[i] >= 0x80) return i;
  }
  return n;
}

std::size_t wholeShiftJis(const std::uint8_t* in, std::size_t n) {
  // A byte below 40 is never a second byte, so a character begins after
  // it; from there the codes are read forward to the end.
  std::size_t i = n;
  while (i > 0 && in[i - 1] >= 0x40) --i;
  while (i + 1 < n) {
    i += isSjisLead(in[i]) && isSjisTrail(in[i + 1]) ? 2u : 1u;
  }
  return i + 1 == n && isSjisLead(in[i]) ? i : n;
}

std::size_t decodeShiftJis(const std::uint8_t* in, std::size_t n, bool last,
                           std::uint16_t* out, std::size_t* units) {
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < n) {
    const std::uint8_t b = in[i];
    if (!isSjisLead(b)) {
      out[o++] = kSjisSingle[b];
      ++i;
      continue;
    }
    if (i + 1 == n && !last) break;  // its second byte is in the next block
    if (i + 1 < n && isSjisTrail(in[i + 1])) {
      out[o++] = kSjisDouble[sjisLeadIndex(b) * kSjisTrails +
                             sjisTrailIndex(in[i + 1])];
      i += 2;
      continue;
    }
    out[o++] = kReplacement;
    ++i;
  }
  *units = o;
  return i;
}

void toHostOrder(WideCoding coding, std::uint16_t* units, std::size_t n) {
  if ((coding == WideCoding::kUtf16Le) == hostIsLittleEndian()) return;
  for (std::size_t i = 0; i < n; ++i) {
    units[i] = static_cast<std::uint16_t>((units[i] >> 8) | (units[i] << 8));
  }
}

}  // namespace wide_coding
