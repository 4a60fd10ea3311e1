#include "select/unit_tables.h"

#include <new>

#include "select/replacement_bytes.h"
#include "select/scan_settings.h"
#include "select/sjis_decoding.h"
#include "tables/table_format.h"

namespace scanners {

bool hasListedSurrogates(const TableEntry* entries) {
  for (std::uint32_t unit = 0xD800; unit < 0xDC00; ++unit) {
    if (entries[unit].kind == table_format::kListedHighKind) return true;
  }
  return false;
}

bool windowsUsable(const TableEntry* entries, std::uint16_t separator,
                   std::uint16_t quote) {
  return separator != quote && separator != kLf && separator != kCr &&
         quote != kLf && quote != kCr && entries[kLf].kind == 0 &&
         entries[separator].kind == 0 && entries[quote].kind == 0;
}

bool digitsPlain(const TableEntry* entries, std::uint16_t separator,
                 std::uint16_t quote) {
  bool plain = static_cast<unsigned>(separator - '0') >= 10 &&
               static_cast<unsigned>(quote - '0') >= 10;
  for (std::uint16_t digit = '0'; digit <= '9'; ++digit) {
    plain = plain && entries[digit].kind == 0;
  }
  return plain;
}

std::unique_ptr<std::uint16_t[]> buildUnitOutput(
    const TableEntry* entries, const std::uint8_t* replacement_bytes,
    std::uint16_t separator, std::uint16_t quote, bool filter) {
  std::unique_ptr<std::uint16_t[]> unit_output(
      new (std::nothrow) std::uint16_t[kUnitTableEntries]);
  if (!unit_output) return nullptr;
  for (std::uint32_t unit = 0; unit < kUnitTableEntries; ++unit) {
    const TableEntry& e = entries[unit];
    std::uint16_t v = kFullRules;
    if (e.kind == table_format::kDoubleKind) {
      v = twoBytesOf(e.first, e.second);
    } else if (e.kind == table_format::kSingleHighKind) {
      std::uint8_t value = replacementOf(replacement_bytes, e.first);
      if (value != kDropByte) v = value;
    } else if (e.kind == table_format::kListedHighKind || unit == kLf ||
               unit == quote || unit == separator || unit == kCr ||
               (filter &&
                replacementOf(replacement_bytes, unit) == kDropByte)) {
      v = kFullRules;  // line ends, quotes, fields, pairs; nothing written
    } else {
      v = byteOfUncoded(unit);  // decided here, not in the scan
    }
    unit_output[unit] = v;
  }
  return unit_output;
}

void buildSjisOutput(const std::uint16_t* unit_output,
                     std::uint16_t* sjis_output) {
  static_assert(kSjisOutputEntries == 256 * (1 + wide_coding::kSjisLeads),
                "a row per lead byte");
  for (std::size_t b = 0; b < 256; ++b) {
    sjis_output[b] = unit_output[wide_coding::kSjisSingle[b]];
  }
  for (std::size_t lead = 0; lead < 256; ++lead) {
    const auto l = static_cast<std::uint8_t>(lead);
    if (!wide_coding::isSjisLead(l)) continue;
    std::uint16_t* row =
        sjis_output + 256 * (1 + wide_coding::sjisLeadIndex(l));
    for (std::size_t trail = 0; trail < 256; ++trail) {
      const auto t = static_cast<std::uint8_t>(trail);
      row[trail] =
          wide_coding::isSjisTrail(t)
              ? unit_output
                    [wide_coding::kSjisDouble[wide_coding::sjisLeadIndex(l) *
                                                  wide_coding::kSjisTrails +
                                              wide_coding::sjisTrailIndex(t)]]
              : kFullRules;
    }
  }
}

std::unique_ptr<std::uint8_t[]> buildBeforeNumber(
    const TableEntry* entries, const std::uint8_t* replacement_bytes,
    std::uint16_t separator, std::uint16_t quote) {
  std::unique_ptr<std::uint8_t[]> before_number(
      new (std::nothrow) std::uint8_t[kUnitTableEntries]);
  if (!before_number) return nullptr;
  for (std::uint32_t unit = 0; unit < kUnitTableEntries; ++unit) {
    const std::uint8_t kind = entries[unit].kind;
    bool full;
    if (kind == table_format::kDoubleKind ||
        kind == table_format::kSingleHighKind) {
      full = false;  // no number yet, so nothing ends
    } else if (kind == table_format::kListedHighKind) {
      full = true;
    } else if (unit == kLf || unit == quote || unit == separator ||
               unit == '-' || unit == '.') {
      full = true;  // line ends, quotes, fields; "-" and "." change
    } else {
      full =
          unit <= 0xA0 && replacementOf(replacement_bytes, unit) != kDropByte;
    }
    before_number[unit] = full ? 1 : 0;
  }
  return before_number;
}

}  // namespace scanners
