// The Shift_JIS (code page 932) decoding of wide files: which bytes lead a
// two-byte code, which may follow them, and the code unit of every code,
// from the table the build generates out of data/MS932~UTF16.bin
// (tools/make_sjis_decoding.py).
#ifndef PELMORA_SELECT_SJIS_DECODING_H_
#define PELMORA_SELECT_SJIS_DECODING_H_

#include <cstddef>
#include <cstdint>

namespace wide_coding {

/// Lead bytes 81..9F and E0..FC; second bytes 40..7E and 80..FC.
inline constexpr std::size_t kSjisLeads = 60;
inline constexpr std::size_t kSjisTrails = 188;

/// The unit of each one-byte code; U+FFFD for a byte that has none (lead
/// bytes included: they never stand alone).
extern const std::uint16_t kSjisSingle[256];
/// The unit of each two-byte code, by sjisLeadIndex() * kSjisTrails +
/// sjisTrailIndex(); U+FFFD for a code that has none.
extern const std::uint16_t kSjisDouble[kSjisLeads * kSjisTrails];

constexpr bool isSjisLead(std::uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool isSjisTrail(std::uint8_t b) {
  return b >= 0x40 && b <= 0xFC && b != 0x7F;
}
constexpr std::size_t sjisLeadIndex(std::uint8_t lead) {
  return lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
}
constexpr std::size_t sjisTrailIndex(std::uint8_t trail) {
  return trail < 0x7F ? trail - 0x40u : trail - 0x80u + 63u;
}

/// The one character at in[0] (n > 0) of Shift_JIS that ends where a
/// character ends (or where the file does): its unit in *unit (U+FFFD for
/// a lead byte without its second byte, or a code without a unit), and the
/// bytes it took.
inline std::size_t sjisCharacter(const std::uint8_t* in, std::size_t n,
                                 std::uint16_t* unit) {
  const std::uint8_t b = in[0];
  if (!isSjisLead(b)) {
    *unit = kSjisSingle[b];
    return 1;
  }
  if (n >= 2 && isSjisTrail(in[1])) {
    *unit = kSjisDouble[sjisLeadIndex(b) * kSjisTrails + sjisTrailIndex(in[1])];
    return 2;
  }
  *unit = 0xFFFD;
  return 1;
}

/// The bytes of in[0..n), which begins where a character begins, before a
/// lead byte that the end cuts from its second byte: n when there is none.
std::size_t wholeShiftJis(const std::uint8_t* in, std::size_t n);

}  // namespace wide_coding

#endif  // PELMORA_SELECT_SJIS_DECODING_H_
