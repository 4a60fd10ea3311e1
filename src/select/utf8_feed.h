// The scanners' way through a block of UTF-8: the masks are taken from the
// bytes themselves, and only what the full rules must see (Field-N, and the
// first line) is decoded into code units. The fields passed over, most of a
// wide file, are never decoded at all.
#ifndef PELMORA_SELECT_UTF8_FEED_H_
#define PELMORA_SELECT_UTF8_FEED_H_

#include <cstddef>
#include <cstdint>

#include "select/block_masks.h"
#include "select/scan_settings.h"
#include "select/wide_coding.h"

namespace scanners {

// Scans bytes[0..n) of UTF-8, which end where a character ends (or where
// the file does) and are readable up to the next multiple of 64 and at
// least wide_coding::kPieceReadAhead bytes past n, and writes their bytes
// from out on; returns the new end. scan_piece(piece, count, out) runs the
// full rules over count bytes that end where a character ends, and returns
// the new end; the other two are passOver()'s. The number columns scan
// this way, a piece being Field-N up to its end; the plain and filtered
// columns read Field-N a character at a time (writeCommonUtf8).
//
// Any cut between an ASCII byte and the next one is a cut between
// characters, even among invalid bytes (a maximal invalid part never takes
// an ASCII byte), so the pieces decode just as the whole block would. No
// piece ends inside a surrogate pair either: both halves come from one
// four-byte character.
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
// bytes: each wide_coding::commonCharacter() turned into its narrow bytes
// through `unit_output`, up to the first character that is of another
// kind or needs the full rules. Gives the bytes consumed.
inline std::size_t writeCommonUtf8(const std::uint16_t* unit_output,
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

}  // namespace scanners

#endif  // PELMORA_SELECT_UTF8_FEED_H_
