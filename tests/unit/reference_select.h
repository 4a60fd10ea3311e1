// A plain reference implementation of the selection rules, to test the engines.
// It goes code unit by code unit, kept apart from the engines so that their
// fast paths can be checked against it.
#ifndef PELMORA_TESTS_UNIT_REFERENCE_SELECT_H_
#define PELMORA_TESTS_UNIT_REFERENCE_SELECT_H_

#include <array>
#include <cstdint>
#include <string>

#include "select/select_utf16.h"
#include "tables/survivor_utf16.h"

namespace reference {

struct Options {
  Column column = Column::kPlain;
  std::int64_t field = 1;
  std::uint16_t separator = ',';
  std::uint16_t quote = '"';
  bool quoted_separator_dropped = false;
  bool crlf = true;
  std::uint8_t completion = '0';
};

/// The narrow bytes for the code units from `start` on; `classes` is the
/// class table as the options built it (a copy: the number columns change
/// two of its entries while they run).
std::string select(const std::u16string& units, std::size_t start,
                   const SurvivorsUTF16& table,
                   std::array<std::uint8_t, 224> classes, const Options& o);

}  // namespace reference

#endif  // PELMORA_TESTS_UNIT_REFERENCE_SELECT_H_
