// What every scanner reads (the settings of one run) and keeps (the state of
// the current line), with the rules for one unit that all scanners share.
#ifndef PELMORA_SELECT_SCAN_SETTINGS_H_
#define PELMORA_SELECT_SCAN_SETTINGS_H_

#include <cstddef>
#include <cstdint>

#include "select/replacement_bytes.h"
#include "tables/survivor_utf16.h"

namespace scanners {

constexpr std::uint16_t kLf = 0x000A;
constexpr std::uint16_t kCr = 0x000D;
// The replacement-byte entries that the number columns change while they
// run.
constexpr std::size_t kMinusEntry = 0x2D;  // "-"
constexpr std::size_t kPointEntry = 0x2E;  // "."

// What every scanner reads from the prepared object.
struct Settings {
  const TableEntry* entries = nullptr;
  const SurvivorsUTF16* table = nullptr;
  const std::uint8_t* replacement_bytes = nullptr;  // kReplacementTableSize
  std::int64_t field_number = 0;
  std::uint16_t separator = ',';
  std::uint16_t quote = '"';
  bool quoted_separator_dropped = false;
  bool crlf = true;
  std::uint8_t completion = '0';
  bool listed_surrogates = false;  // the table has kind-3 entries
  // Line feed, separator and quote are single kind-0 units that cannot be
  // mistaken for one another, so windows of units can be classified by
  // comparing values alone.
  bool windows_usable = false;
  // The wide file is UTF-8 and windows_usable, with an ASCII separator and
  // quote: its masks are taken from its bytes, and only what the full rules
  // must see is decoded.
  bool utf8_bytes = false;
  // The same for Shift_JIS, with a separator and a quote below 40, which no
  // second byte of a code can be.
  bool sjis_bytes = false;
  // The digits are kind-0 units that are neither separator nor quote, so a
  // run of them inside a number is copied without the full rules.
  bool digits_plain = false;
  // Inside Field-N of the plain and filtered columns: what each unit writes
  // (see unit_tables.h), or nullptr for the number columns and small files.
  const std::uint16_t* unit_output = nullptr;
  // The same for each Shift_JIS code read as bytes (buildSjisOutput), or
  // nullptr where unit_output is or the file is no Shift_JIS.
  const std::uint16_t* sjis_output = nullptr;
  // unit_output by each unit's bytes in the other order, for UTF-16BE read
  // where it lies in a mapped file (the masks then swap each unit as they
  // load it); nullptr where it is not read so.
  const std::uint16_t* swapped_output = nullptr;
  // The most threads the scan may take (0: one per processor): fewer when
  // other work of the run goes on beside it.
  std::size_t most_threads = 0;
  // Inside Field-N of the number columns, before the number: 0 for the
  // units that are passed over there, 1 for those that need the full rules;
  // nullptr for the other columns and small files.
  const std::uint8_t* before_number = nullptr;
};

// unit_output entries: the bytes a unit writes inside Field-N, the first in
// the low half, a second one (never 0 in a two-byte code) in the high half;
// kFullRules for the units that need the full rules instead, which also
// covers the few that write nothing. Two bytes an entry keep the table in
// half the cache of a wider one.
constexpr std::uint16_t kFullRules = 0xFFFF;

inline std::uint16_t twoBytesOf(std::uint8_t first, std::uint8_t second) {
  const std::uint16_t v =
      static_cast<std::uint16_t>(first | (std::uint32_t{second} << 8));
  return second == 0 ? kFullRules : v;  // 0xFFFF is kFullRules itself
}

// The byte a unit of kind 0 writes. An ASCII unit is its own byte. Any
// other has no code: its own byte would be the lead byte of a kanji that
// swallows the next character or a half-width katakana, and the low byte of
// a wider one could be a line feed or a separator, so it writes the default
// character instead, one per unit (so "??" for an unlisted pair).
inline std::uint8_t byteOfUncoded(std::uint32_t unit) {
  return unit > 0x7F ? kNoCodeByte : static_cast<std::uint8_t>(unit);
}

// The state every scanner keeps from unit to unit.
struct LineState {
  std::int64_t field = 1;
  bool target = false;
  bool quoted = false;
  bool pending = false;
  bool first_line = true;
  std::int64_t lines = 0;

  // The state right after a line feed that was no low half of a pair, once
  // the first line is over: only whether a quote is open carries across.
  void startLineAfterLineFeed(const Settings& s, bool open_quote) {
    field = 1;
    target = s.field_number == 1;
    quoted = open_quote;
    pending = false;
    first_line = false;
  }
  // The state a line feed leaves outside a pair. The first line ends with
  // its quotes closed: nothing of it carries into the second.
  void lineFeed(const Settings& s) {
    field = 1;
    target = s.field_number == 1;
    if (!first_line) return;
    first_line = false;
    quoted = false;
  }
  bool atLineStart(const Settings& s) const {
    return field == 1 && target == (s.field_number == 1) && !pending &&
           !first_line;
  }
};

}  // namespace scanners

#endif  // PELMORA_SELECT_SCAN_SETTINGS_H_
