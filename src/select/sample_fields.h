// The fields of the first lines of a wide file, read by the rules the
// scanners follow, for pelmora-check to show them as text. The narrow bytes
// themselves always come from the engines (Selecting::scanToMemory); this
// only tells where each field begins and ends.
#ifndef PELMORA_SELECT_SAMPLE_FIELDS_H_
#define PELMORA_SELECT_SAMPLE_FIELDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tables/survivor_utf16.h"

/// The lines of a sample split into fields.
struct SampleFields {
  /// Each line's fields, Field-1 first, as text: quotes removed, CR dropped,
  /// a separator inside quotes kept (dropped with -q). A last line without
  /// its line feed is there too, unless it is empty.
  std::vector<std::vector<std::u16string>> lines;
  /// A quote was still open where the first line ended. The scan closes it
  /// there, so the quote that was meant to close it opens one instead.
  bool first_line_left_open = false;
};

/// Splits `units` (the head of a wide file, decoded) as the plain scan reads
/// them: a line feed ends a line, even inside quotes (the quote then stays
/// open into the next line, except after the first line); a separator that
/// is no part of a quoted text ends a field; the quote character opens and
/// closes quoted text and is no part of a field. Units the table `entries`
/// converts (kinds 1, 2 and 3, and the unit after a listed high surrogate)
/// are text whatever their value. False when memory ran out.
[[nodiscard]] bool splitSample(const std::u16string& units,
                               const TableEntry* entries,
                               std::uint16_t separator, std::uint16_t quote,
                               bool quoted_separator_dropped,
                               SampleFields* sample);

#endif  // PELMORA_SELECT_SAMPLE_FIELDS_H_
