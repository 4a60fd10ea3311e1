// What a wide file is written in, told once from its first bytes, and the
// decoding of its blocks into the UTF-16 code units the scanners read.
// Spreadsheets save "Unicode text" as UTF-16LE, "CSV UTF-8" as UTF-8 with a
// mark, and Excel's own "CSV" on a Japanese Windows as Shift_JIS (code page
// 932); other programs write UTF-8 without a mark, a few UTF-16BE. The same
// text gives the same units, and so the same narrow file, in all of them.
#ifndef PELMORA_SELECT_WIDE_CODING_H_
#define PELMORA_SELECT_WIDE_CODING_H_

#include <cstddef>
#include <cstdint>

enum class WideCoding { kUtf16Le, kUtf16Be, kUtf8, kShiftJis };

namespace wide_coding {

/// How much of a file without a mark is looked at to tell UTF-8 from
/// UTF-16LE.
inline constexpr std::size_t kProbeBytes = std::size_t{64} << 10;
/// What stands for a UTF-8 sequence that is not one.
inline constexpr std::uint16_t kReplacement = 0xFFFD;

/// What the first bytes of a file tell.
struct Start {
  WideCoding coding = WideCoding::kUtf16Le;
  /// The bytes of the byte-order mark, skipped: 0, 2 or 3.
  std::int64_t mark_bytes = 0;
  /// No mark, and only ASCII bytes (none zero): UTF-8 so far, which reads
  /// ASCII as Shift_JIS does; a file that goes on past the head is told
  /// by its first byte of 0x80 or above (firstHighByte, utf8OrShiftJis).
  bool ascii_head = false;
};

/// `head` holds the first n bytes of the file: kProbeBytes of them, or the
/// whole file when it is shorter. EF BB BF is UTF-8, FE FF UTF-16BE, FF FE
/// UTF-16LE. Without a mark: no byte at all, or a zero byte, is UTF-16LE,
/// as it always was (every UTF-16LE export holds zero bytes); a head that
/// holds a byte of 0x80 or above is told by utf8OrShiftJis; one of ASCII
/// alone is UTF-8, with ascii_head set.
Start detect(const std::uint8_t* head, std::size_t n);

/// UTF-8 or Shift_JIS, for a file without a mark and without zero bytes,
/// told from a window of up to kProbeBytes that starts at its first byte of
/// 0x80 or above or at its start: UTF-8 when the window's invalid UTF-8
/// parts (maximal invalid subparts) are at most a ninth of its valid
/// multi-byte sequences (a sequence that the window's end cuts is not
/// counted), else Shift_JIS. Japanese Shift_JIS text is almost never valid
/// UTF-8, and a UTF-8 export with a stray byte stays UTF-8.
WideCoding utf8OrShiftJis(const std::uint8_t* window, std::size_t n);

/// The first bytes of an export in a Unicode coding, which no narrow file
/// Pelmora writes begins with (it writes Shift_JIS): a byte-order mark;
/// UTF-16 without one (detect() finds a zero byte, and a UTF-16 line feed,
/// 0A 00 or 00 0A, stands at an even offset); or valid UTF-8 (a sequence
/// cut by the end allowed) that holds at least one multi-byte character.
/// ASCII alone, as an earlier narrow file may be, is none.
bool isUnicodeExport(const std::uint8_t* head, std::size_t n);

/// A workbook, not an export: .xlsx and .ods files begin PK 03 04 (a zip
/// archive), .xls files D0 CF 11 E0 (a compound document).
bool isWorkbook(const std::uint8_t* head, std::size_t n);

/// Where the first byte of 0x80 or above is in in[0..n): n when none.
std::size_t firstHighByte(const std::uint8_t* in, std::size_t n);

/// The bytes one position of the scan takes: a code unit (2) or a byte (1).
inline std::int64_t positionBytes(WideCoding coding) {
  return coding == WideCoding::kUtf8 || coding == WideCoding::kShiftJis ? 1 : 2;
}

/// Decodes Shift_JIS (code page 932) into UTF-16 code units, one per code
/// and so at most one per byte, into out (room for n units); *units says
/// how many. Gives the bytes consumed: a lead byte at the end is left for
/// the next block, unless `last`. A lead byte (81..9F, E0..FC) and a second
/// byte (40..7E, 80..FC) are one code; a lead byte followed by anything
/// else, or by nothing, is one U+FFFD and the byte after it is read on its
/// own; every other byte is a one-byte code. A code the table has no unit
/// for is one U+FFFD.
std::size_t decodeShiftJis(const std::uint8_t* in, std::size_t n, bool last,
                           std::uint16_t* out, std::size_t* units);

/// Where decodeUtf8 put the units: runs of `out`, in the text's order.
struct UnitRuns {
  std::size_t count;
  std::size_t begin[4];
  std::size_t units[4];
};

/// Decodes UTF-8 into UTF-16 code units, at most one unit per byte, into
/// out (room for n units), in up to four runs that a reader takes in order:
/// stretches of the block are decoded side by side, each into the room its
/// own bytes would need. Gives the bytes consumed: a sequence cut at the end
/// is left for the next block, unless `last`. Every maximal invalid subpart
/// becomes one kReplacement, as the Unicode standard recommends, and no byte
/// ever becomes anything else.
std::size_t decodeUtf8(const std::uint8_t* in, std::size_t n, bool last,
                       std::uint16_t* out, UnitRuns* runs);

/// The usual characters of a Japanese export, decoded without the general
/// checks: ASCII, and the two- and three-byte forms that take any
/// continuation bytes (C2..DF, E1..EC, EE, EF). Gives the length of the
/// character at in[0] (of n > 0 bytes) with its unit in *unit, or 0 when it
/// is of another kind or cut by n: E0 and ED limit their second byte,
/// F0..F4 make pairs, and the rest are invalid (decodeCharacter decides).
inline std::size_t commonCharacter(const std::uint8_t* in, std::size_t n,
                                   std::uint32_t* unit) {
  const std::uint32_t b = in[0];
  // Kana and kanji first, the most of a Japanese field. XOR 0x80 turns a
  // continuation byte into its six bits, below 0x40.
  if (b - 0xE1u < 0x0Fu && b != 0xED) {
    if (n < 3) return 0;
    const std::uint32_t second = in[1] ^ 0x80u;
    const std::uint32_t third = in[2] ^ 0x80u;
    if ((second | third) >= 0x40) return 0;
    *unit = (b & 0x0Fu) << 12 | second << 6 | third;
    return 3;
  }
  if (b < 0x80) {
    *unit = b;
    return 1;
  }
  if (b - 0xC2u < 0x1Eu && n >= 2) {
    const std::uint32_t second = in[1] ^ 0x80u;
    if (second >= 0x40) return 0;
    *unit = (b & 0x1Fu) << 6 | second;
    return 2;
  }
  return 0;
}

/// How far past a piece decodeUtf8Piece may read.
inline constexpr std::size_t kPieceReadAhead = 16;

/// Decodes a piece of UTF-8 that ends where a character ends, or where the
/// file does (a sequence cut there is one kReplacement), as decodeUtf8
/// would, into out[0..) in one run; gives the units. in must be readable
/// kPieceReadAhead bytes past n: a short piece, a field, is decoded four
/// characters at a time all the same.
std::size_t decodeUtf8Piece(const std::uint8_t* in, std::size_t n,
                            std::uint16_t* out);

/// Decodes the one character at in[0] (n > 0) of UTF-8 that ends where a
/// character ends, as decodeUtf8 would: one or two units into out,
/// *units of them. Gives the bytes it took.
std::size_t decodeCharacter(const std::uint8_t* in, std::size_t n,
                            std::uint16_t* out, std::size_t* units);

/// The bytes of in[0..n) before a sequence that the end cuts (a lead byte
/// with fewer continuation bytes than it announces, all valid so far): n
/// when there is none. decodeUtf8 without `last` stops just there.
std::size_t wholeUtf8(const std::uint8_t* in, std::size_t n);

/// Puts units that were read as bytes of `coding` (UTF-16LE or UTF-16BE)
/// into the host's order.
void toHostOrder(WideCoding coding, std::uint16_t* units, std::size_t n);

}  // namespace wide_coding

#endif  // PELMORA_SELECT_WIDE_CODING_H_
