// The scanner of the plain and filtered columns: the units of the wide file
// in, the narrow bytes of Field-N of every line out, one block at a time.
#ifndef PELMORA_SELECT_FIELD_SCANNER_H_
#define PELMORA_SELECT_FIELD_SCANNER_H_

#include <cstddef>
#include <cstdint>

#include "select/block_masks.h"
#include "select/replacement_bytes.h"
#include "select/scan_settings.h"
#include "select/unit_tables.h"
#include "select/utf8_feed.h"
#include "tables/table_format.h"
#include "tables/survivor_utf16.h"

namespace scanners {

// Plain selection (kFilter false) and filtered selection (kFilter true):
// Field-N of every line with the separator that closes it, quotes removed.
template <bool kFilter>
class FieldScanner {
 public:
  explicit FieldScanner(const Settings& s) : s_(s) {
    st_.target = s.field_number == 1;
  }
  // Scans from just after a line feed that was no low half, the first line
  // being over; open_quote says whether a quote was open there.
  FieldScanner(const Settings& s, bool open_quote) : s_(s) {
    st_.startLineAfterLineFeed(s, open_quote);
  }

  std::int64_t lines() const { return st_.lines; }
  // True when the units scanned so far ended just like such a line feed;
  // *open_quote then says whether a quote is open.
  bool endsAtLineStart(bool* open_quote) const {
    *open_quote = st_.quoted;
    return st_.atLineStart(s_);
  }

  // Scans n units and writes their bytes from out on; returns the new end.
  std::uint8_t* feed(const std::uint16_t* units, std::size_t n,
                     std::uint8_t* out) {
    if (s_.windows_usable) masks_.compute(s_, units, n);
    return scan<false>(units, n, out, s_.windows_usable);
  }

  // Whether feedSwapped() can take the blocks of this scan.
  static constexpr bool kReadsSwappedUnits = true;
  bool readsSwappedUnits() const {
    return s_.swapped_output != nullptr && s_.windows_usable;
  }
  // feed() for n units in the other byte order, read where they lie.
  std::uint8_t* feedSwapped(const std::uint16_t* units, std::size_t n,
                            std::uint8_t* out) {
    masks_.computeSwapped(s_, units, n);
    return scan<true>(units, n, out, true);
  }

  // Whether feedBytes() can take the blocks of this scan.
  bool readsBytes() const { return s_.utf8_bytes || s_.sjis_bytes; }
  // feed() for n bytes of UTF-8 or Shift_JIS (see feedUtf8 in
  // utf8_feed.h): the fields passed over are never decoded, and Field-N is
  // read where it stands.
  std::uint8_t* feedBytes(const std::uint8_t* bytes, std::size_t n,
                          std::uint16_t* /*units*/, std::uint8_t* out) {
    if (!s_.sjis_bytes) {
      return feedBytesOf<Utf8Bytes>(s_.unit_output, bytes, n, out);
    }
    return feedBytesOf<SjisBytes>(s_.sjis_output, bytes, n, out);
  }

 private:
  // Most characters of Field-N are written straight from their bytes
  // through `table` (Decoding::writeRun), the rest by the full rules.
  template <class Decoding>
  std::uint8_t* feedBytesOf(const std::uint16_t* table,
                            const std::uint8_t* bytes, std::size_t n,
                            std::uint8_t* out) {
    masks_.computeUtf8(s_, bytes, n);
    std::size_t i = 0;
    while (i < n) {
      if (st_.target && !st_.pending && table != nullptr) {
        i = Decoding::writeRun(table, masks_, bytes, i, n, out);
        if (i == n) break;
      } else if (!st_.target && !st_.pending && !st_.first_line) {
        i = passOver(
            s_, st_, masks_, i, out,
            [this](std::uint8_t* at) { return lineEnd(at); }, [] {});
        if (i == n) break;
        if (st_.target) continue;
      }
      // One character by the full rules: both halves of a pair at once.
      if (bytes[i] < 0x80) {
        out = step(bytes[i], out);
        ++i;
        continue;
      }
      std::uint16_t units[2];
      std::size_t count = 0;
      i += Decoding::character(bytes + i, n - i, units, &count);
      for (std::size_t k = 0; k < count; ++k) out = step(units[k], out);
    }
    return out;
  }

  // The units of a block, the masks of which are computed when pass_over;
  // kSwapped: in the other byte order.
  template <bool kSwapped>
  std::uint8_t* scan(const std::uint16_t* units, std::size_t n,
                     std::uint8_t* out, bool pass_over) {
    const std::uint16_t* table = kSwapped ? s_.swapped_output : s_.unit_output;
    std::size_t i = 0;
    while (i < n) {
      if (st_.target && !st_.pending && table != nullptr) {
        // Most units of Field-N just turn into their bytes.
        i += writeUnitRun(table, units + i, n - i, out);
        if (i == n) break;
      } else if (!st_.target && !st_.pending && !st_.first_line && pass_over) {
        i = passOver(
            s_, st_, masks_, i, out,
            [this](std::uint8_t* at) { return lineEnd(at); }, [] {});
        if (i == n) break;
        if (st_.target) continue;
      }
      const std::uint16_t unit =
          kSwapped ? static_cast<std::uint16_t>(units[i] >> 8 | units[i] << 8)
                   : units[i];
      out = step(unit, out);
      ++i;
    }
    return out;
  }

  // Writes the bytes of units[0..) up to the first that needs the full
  // rules, or n; gives how many units it took.
  static std::size_t writeUnitRun(const std::uint16_t* table,
                                  const std::uint16_t* units, std::size_t n,
                                  std::uint8_t*& out) {
    std::uint8_t* at = out;
    std::size_t i = 0;
    for (; i < n; ++i) {
      const std::uint16_t v = table[units[i]];
      if (v == kFullRules) break;
      at = putOutputEntry(v, at);
    }
    out = at;
    return i;
  }

  std::uint8_t* lineEnd(std::uint8_t* out) {
    ++st_.lines;
    if (s_.crlf) *out++ = 0x0D;
    *out++ = 0x0A;
    return out;
  }

  std::uint8_t* put(std::uint32_t unit, std::uint8_t* out) const {
    // The filter's drop comes first; a unit it keeps is written as in the
    // plain column, "?" from 0x80 up.
    if (!kFilter || replacementOf(s_.replacement_bytes, unit) != kDropByte) {
      *out++ = byteOfUncoded(unit);
    }
    return out;
  }

  // The full rules for one unit.
  std::uint8_t* step(std::uint32_t unit, std::uint8_t* out) {
    if (st_.pending) {
      // The unit after a listed high surrogate is its low half, even LF.
      // Two units that make no listed character have no code: "??", as
      // any unlisted pair, never the zero bytes the pair lookup gives.
      if (st_.target) {
        const std::uint8_t first = s_.table->pair(high_, unit, 1);
        *out++ = first == 0 ? kNoCodeByte : first;
        *out++ = first == 0 ? kNoCodeByte : s_.table->pair(high_, unit, 2);
      }
      st_.pending = false;
      return out;
    }
    const TableEntry& e = s_.entries[unit];
    switch (e.kind) {
      case table_format::kDoubleKind:
        if (st_.target) {
          *out++ = e.first;
          *out++ = e.second;
        }
        return out;
      case table_format::kSingleHighKind:
        if (st_.target) {
          std::uint8_t value = replacementOf(s_.replacement_bytes, e.first);
          if (value != kDropByte) *out++ = value;
        }
        return out;
      case table_format::kListedHighKind:
        high_ = unit;
        st_.pending = true;
        return out;
      default:
        break;
    }
    if (unit == kLf) {
      out = lineEnd(out);
      st_.lineFeed(s_);
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == s_.quote) {
      st_.quoted = !st_.quoted;
    } else if (unit == s_.separator) {
      if (!st_.quoted) {
        if (st_.target) out = put(unit, out);
        ++st_.field;
        st_.target = st_.field == s_.field_number;
      } else if (!s_.quoted_separator_dropped && st_.target) {
        out = put(unit, out);
      }
    } else if (st_.target) {
      out = put(unit, out);
    }
    return out;
  }

  const Settings& s_;
  LineState st_;
  // The listed high surrogate that set st_.pending, read only while
  // pending: the unit after it is its low half.
  std::uint32_t high_ = 0;
  BlockMasks masks_;
};

}  // namespace scanners

#endif  // PELMORA_SELECT_FIELD_SCANNER_H_
