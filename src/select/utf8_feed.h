// The scanners' way through a block of UTF-8 or Shift_JIS: the masks are
// taken from the bytes themselves, and only what the full rules must see
// (Field-N, and the first line) is decoded into code units. The fields
// passed over, most of a wide file, are never decoded at all.
#ifndef PELMORA_SELECT_UTF8_FEED_H_
#define PELMORA_SELECT_UTF8_FEED_H_

#include <cstddef>
#include <cstdint>

#include "select/block_masks.h"
#include "select/scan_settings.h"
#include "select/sjis_decoding.h"
#include "select/wide_coding.h"

namespace scanners {

// How the characters of each byte coding are decoded where they are read:
// character() any one, into one or two units; piece() a stretch that ends
// where a character ends, into units, giving their count.
struct Utf8Bytes {
  static std::size_t character(const std::uint8_t* in, std::size_t n,
                               std::uint16_t* units, std::size_t* count) {
    return wide_coding::decodeCharacter(in, n, units, count);
  }
  static std::size_t piece(const std::uint8_t* in, std::size_t n,
                           std::uint16_t* out) {
    return wide_coding::decodeUtf8Piece(in, n, out);
  }
  static std::size_t writeRun(const std::uint16_t* table,
                              const BlockMasks& masks,
                              const std::uint8_t* bytes, std::size_t i,
                              std::size_t n, std::uint8_t*& out);
};

// Every Shift_JIS code is one unit, through the table.
struct SjisBytes {
  static std::size_t character(const std::uint8_t* in, std::size_t n,
                               std::uint16_t* units, std::size_t* count) {
    *count = 1;
    return wide_coding::sjisCharacter(in, n, units);
  }
  static std::size_t piece(const std::uint8_t* in, std::size_t n,
                           std::uint16_t* out) {
    std::size_t units = 0;
    (void)wide_coding::decodeShiftJis(in, n, true, out, &units);
    return units;
  }
  static std::size_t writeRun(const std::uint16_t* table,
                              const BlockMasks& masks,
                              const std::uint8_t* bytes, std::size_t i,
                              std::size_t n, std::uint8_t*& out);
};

// Scans bytes[0..n) of UTF-8 or Shift_JIS, which end where a character
// ends (or where the file does) and are readable up to the next multiple of 64
// and at least wide_coding::kPieceReadAhead bytes past n, and writes their
// bytes from out on; returns the new end. scan_piece(piece, count, out) runs
// the full rules over count bytes that end where a character ends, and returns
// the new end; the other two are passOver()'s. The number columns scan
// this way, a piece being Field-N up to its end; the plain and filtered
// columns read Field-N where it stands (writeUtf8Run, writeSjisRun).
//
// In UTF-8 any cut between an ASCII byte and the next one is a cut between
// characters, even among invalid bytes (a maximal invalid part never takes
// an ASCII byte), and in Shift_JIS any cut after a byte below 40 (no second
// byte of a code is one), which line feeds, separators and quotes are
// then; so the pieces decode just as the whole block would. No piece ends
// inside a surrogate pair either: both halves come from one character.
template <class ScanPiece, class LineEnd, class FieldBegins>
std::uint8_t* feedUtf8(const Settings& s, LineState& st, BlockMasks& masks,
                       const std::uint8_t* bytes, std::size_t n,
                       std::uint8_t* out, ScanPiece scan_piece,
                       LineEnd on_line_end, FieldBegins on_field_begins) {
  masks.computeUtf8(s, bytes, n);
  std::size_t i = 0;
  while (i < n) {
    if (!st.target && !st.pending && !st.first_line) {
      i = passOver(s, st, masks, i, out, on_line_end, on_field_begins);
      continue;
    }
    const std::size_t end = fieldEndAfter(masks, i, st.quoted);
    out = scan_piece(bytes + i, end - i, out);
    i = end;
  }
  return out;
}

// The second bytes of the Shift_JIS codes among 64 bytes, from the bytes
// in the range of lead bytes: in a run of them, every other byte from the
// run's first one leads, and the byte after a lead is its second byte,
// whatever its range. *carry: the last byte of the previous 64 led (in),
// and the last of these does (out). The sum carries each run that starts on
// an odd bit past its end, which flips its alternation.
inline std::uint64_t sjisSeconds(std::uint64_t leads, std::uint64_t* carry) {
  constexpr std::uint64_t kEven = 0x5555555555555555u;
  leads &= ~*carry;
  const std::uint64_t follows_lead = leads << 1 | *carry;
  const std::uint64_t odd_starts = leads & ~kEven & ~follows_lead;
  const std::uint64_t sum = odd_starts + leads;
  *carry = sum < leads ? 1 : 0;
  return (kEven ^ (sum << 1)) & follows_lead;
}

// The narrow bytes of one table entry that is no kFullRules.
inline std::uint8_t* putOutputEntry(std::uint16_t v, std::uint8_t* at) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  // 1 + (a second byte is there), without a branch to mispredict on text
  // that mixes kana, kanji and ASCII.
  return at + 1 + ((std::uint32_t{v} + 0xFF00) >> 16);
}

// Writes the characters of bytes[i..n) that wide_coding::commonCharacter()
// takes through `unit_output`, up to the first one that is of another kind,
// needs the full rules or is cut by n; gives where it stopped. (A mask of
// the characters' starts, as writeSjisRun has, measured slower here: most
// of a UTF-8 field's characters are three bytes long, which the branch on
// the first byte predicts well.)
inline std::size_t writeUtf8Run(const std::uint16_t* unit_output,
                                const std::uint8_t* bytes, std::size_t i,
                                std::size_t n, std::uint8_t*& out) {
  std::uint8_t* at = out;
  while (i < n) {
    std::uint32_t unit = 0;
    const std::size_t length =
        wide_coding::commonCharacter(bytes + i, n - i, &unit);
    if (length == 0) break;
    const std::uint16_t v = unit_output[unit];
    if (v == kFullRules) break;
    at = putOutputEntry(v, at);
    i += length;
  }
  out = at;
  return i;
}

// For each byte, where its code's entry is in a Shift_JIS output table
// (buildSjisOutput): the byte's own entry, or for a lead byte its row in
// the low half and 0xFF in the high half, so that the second byte picks the
// entry in that row.
struct SjisSteps {
  std::uint32_t of[256];
};
constexpr SjisSteps makeSjisSteps() {
  SjisSteps steps{};
  for (unsigned b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    steps.of[b] = wide_coding::isSjisLead(byte)
                      ? static_cast<std::uint32_t>(
                            256 * (1 + wide_coding::sjisLeadIndex(byte))) |
                            0xFF0000u
                      : b;
  }
  return steps;
}
inline constexpr SjisSteps kSjisSteps = makeSjisSteps();

// Writes the codes of bytes[i..n) of Shift_JIS, each with one lookup in
// `sjis_output`, up to the first one that needs the full rules or that n
// cuts; gives where it stopped. bytes is the block, readable up to the
// next multiple of 64 past n; i is where a code starts. A code's length is
// known only once its first byte is read, and a loop that steps by it waits
// on that read every code; the starts of the codes come from the lead
// bytes of 64 at a time instead (`leads`, the block's masks of them, and
// sjisSeconds), and the loop steps from one
// to the next, reading each code beside it. (The lead byte and second byte
// that make no code, which would upset the starts after them, need the
// full rules, which stop the run there.)
inline std::size_t writeSjisRun(const std::uint16_t* sjis_output,
                                const std::uint64_t* leads,
                                const std::uint8_t* bytes, std::size_t i,
                                std::size_t n, std::uint8_t*& out) {
  std::uint8_t* at = out;
  std::uint64_t carry = 0;
  for (std::size_t base = i & ~(kMaskWindow - 1); base < n;
       base += kMaskWindow) {
    const std::uint8_t* window = bytes + base;
    const std::uint64_t from =
        base < i ? ~std::uint64_t{0} << (i - base) : ~std::uint64_t{0};
    std::uint64_t starts =
        ~sjisSeconds(leads[base / kMaskWindow] & from, &carry) & from;
    if (n - base < kMaskWindow) {
      starts &= (std::uint64_t{1} << (n - base)) - 1;
    }
    while (starts != 0) {
      const unsigned k = lowestBit(starts);
      const std::uint32_t step = kSjisSteps.of[window[k]];
      const std::uint32_t lead = step >> 16;
      const std::uint16_t v =
          sjis_output[(step & 0xFFFF) + (window[k + 1] & lead)];
      // A lead byte at n is cut from its second byte.
      if (v == kFullRules || base + k + 1 + (lead & 1) > n) {
        out = at;
        return base + k;
      }
      at = putOutputEntry(v, at);
      starts &= starts - 1;
    }
  }
  out = at;
  return n;
}

// writeRun(table, bytes, i, n, out): Field-N from bytes[i] on, through
// the coding's table, up to where the full rules take over.
inline std::size_t Utf8Bytes::writeRun(const std::uint16_t* table,
                                       const BlockMasks&,
                                       const std::uint8_t* bytes, std::size_t i,
                                       std::size_t n, std::uint8_t*& out) {
  return writeUtf8Run(table, bytes, i, n, out);
}
inline std::size_t SjisBytes::writeRun(const std::uint16_t* table,
                                       const BlockMasks& masks,
                                       const std::uint8_t* bytes, std::size_t i,
                                       std::size_t n, std::uint8_t*& out) {
  return writeSjisRun(table, masks.sjis_lead, bytes, i, n, out);
}

}  // namespace scanners

#endif  // PELMORA_SELECT_UTF8_FEED_H_
