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

// Where Field-N of the plain and filtered columns is read straight from its
// UTF-8 bytes: each of wide_coding::commonCharacter()'s characters turned
// into its narrow bytes through `unit_output`, up to the first character
// that is of another kind or needs the full rules. Gives the bytes consumed.
inline std::size_t writeUtf8Run(const std::uint16_t* unit_output,
                                const std::uint8_t* in, std::size_t n,
                                std::uint8_t*& out) {
  std::uint8_t* at = out;
  std::size_t i = 0;
  while (i < n) {
    std::uint32_t unit = 0;
    const std::size_t length =
        wide_coding::commonCharacter(in + i, n - i, &unit);
    if (length == 0) break;
    const std::uint16_t v = unit_output[unit];
    if (v == kFullRules) break;
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
    at += 1 + ((std::uint32_t{v} + 0xFF00) >> 16);
    i += length;
  }
  out = at;
  return i;
}

// For each byte, where its code's entry is in a Shift_JIS output table
// (buildSjisOutput): the byte's own entry, or for a lead byte its row in
// the low half and 0xFF in the high half, so that the second byte picks the
// entry in that row and the code's length is 1 + the high half's low bit.
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

// Where Field-N of the plain and filtered columns is read straight from its
// Shift_JIS bytes: each code's narrow bytes from `sjis_output`, one lookup
// and no branch on its length, up to the first code that needs the full
// rules or that n (> 0) cuts. Gives the bytes consumed.
inline std::size_t writeSjisRun(const std::uint16_t* sjis_output,
                                const std::uint8_t* in, std::size_t n,
                                std::uint8_t*& out) {
  const SjisSteps& steps = kSjisSteps;
  std::uint8_t* at = out;
  const std::uint8_t* p = in;
  // Up to the last byte a code's second byte is read with the first; the
  // last byte is a code of its own, or a lead byte that the full rules take.
  const std::uint8_t* const last = in + n - 1;
  while (p < last) {
    const std::uint32_t step = steps.of[p[0]];
    const std::uint32_t lead = step >> 16;
    const std::uint16_t v = sjis_output[(step & 0xFFFF) + (p[1] & lead)];
    if (v == kFullRules) break;
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
    at += 1 + ((std::uint32_t{v} + 0xFF00) >> 16);
    p += 1 + (lead & 1);
  }
  if (p == last && steps.of[p[0]] < 0x10000) {
    const std::uint16_t v = sjis_output[p[0]];
    if (v != kFullRules) {
      at[0] = static_cast<std::uint8_t>(v);
      at[1] = static_cast<std::uint8_t>(v >> 8);
      at += 1 + ((std::uint32_t{v} + 0xFF00) >> 16);
      ++p;
    }
  }
  out = at;
  return static_cast<std::size_t>(p - in);
}

}  // namespace scanners

#endif  // PELMORA_SELECT_UTF8_FEED_H_
