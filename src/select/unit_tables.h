// The per-run lookup tables of the scanners: for each of the 65,536 code
// units what it writes inside Field-N, or whether it needs the full rules,
// decided once per run instead of once per unit; and the facts about the
// conversion table that let the scanners take their short cuts.
#ifndef PELMORA_SELECT_UNIT_TABLES_H_
#define PELMORA_SELECT_UNIT_TABLES_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tables/survivor_utf16.h"

namespace scanners {

/// Entries of each unit table: one per code unit.
inline constexpr std::size_t kUnitTableEntries = 0x10000;

/// The table lists some high surrogate (kind 3).
bool hasListedSurrogates(const TableEntry* entries);
/// Line feed, separator and quote are single kind-0 units that cannot be
/// mistaken for one another (Settings::windows_usable).
bool windowsUsable(const TableEntry* entries, std::uint16_t separator,
                   std::uint16_t quote);
/// The digits are kind-0 units that are neither separator nor quote
/// (Settings::digits_plain).
bool digitsPlain(const TableEntry* entries, std::uint16_t separator,
                 std::uint16_t quote);

/// Settings::unit_output of the plain (filter false) and filtered columns;
/// nullptr when memory ran out.
std::unique_ptr<std::uint16_t[]> buildUnitOutput(
    const TableEntry* entries, const std::uint8_t* replacement_bytes,
    std::uint16_t separator, std::uint16_t quote, bool filter);
/// Entries of a Shift_JIS output table: the one-byte codes by their byte,
/// then a row of 256 for each lead byte (by sjisLeadIndex), by second byte.
inline constexpr std::size_t kSjisOutputEntries = 256 * (1 + 60);

/// What each Shift_JIS code writes inside Field-N: the unit_output entry of
/// its unit, so that a code takes one lookup where it took two. A lead
/// byte's row holds kFullRules at the bytes that are no second byte, which
/// the full rules decode (the lead byte alone is U+FFFD).
void buildSjisOutput(const std::uint16_t* unit_output,
                     std::uint16_t* sjis_output);

/// Settings::before_number of the number columns; nullptr when memory ran
/// out.
std::unique_ptr<std::uint8_t[]> buildBeforeNumber(
    const TableEntry* entries, const std::uint8_t* replacement_bytes,
    std::uint16_t separator, std::uint16_t quote);

}  // namespace scanners

#endif  // PELMORA_SELECT_UNIT_TABLES_H_
