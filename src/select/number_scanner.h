// The scanner of the decimal and integer columns: the units of the wide file
// in, the first number of Field-N of every line out, one block at a time.
#ifndef PELMORA_SELECT_NUMBER_SCANNER_H_
#define PELMORA_SELECT_NUMBER_SCANNER_H_

#include <cstddef>
#include <cstdint>

#include "select/block_masks.h"
#include "select/replacement_bytes.h"
#include "select/scan_settings.h"
#include "select/utf8_feed.h"
#include "tables/table_format.h"
#include "tables/survivor_utf16.h"

namespace scanners {

// Decimal (kDecimal true) and integer extraction: the first number of
// Field-N on every line, a decimal without a point completed with "." and
// the completion character.
template <bool kDecimal>
class NumberScanner {
 public:
  explicit NumberScanner(const Settings& s) : s_(s) {
    copyReplacementBytes();
    st_.target = s.field_number == 1;
    if (st_.target) resetNumberEntries();
  }
  // Scans from just after a line feed that was no low half, the first line
  // being over; open_quote says whether a quote was open there.
  NumberScanner(const Settings& s, bool open_quote) : s_(s) {
    copyReplacementBytes();
    st_.startLineAfterLineFeed(s, open_quote);
    if (st_.target) resetNumberEntries();
  }

  std::int64_t lines() const { return st_.lines; }
  // True when the units scanned so far ended just like such a line feed;
  // *open_quote then says whether a quote is open.
  bool endsAtLineStart(bool* open_quote) const {
    *open_quote = st_.quoted;
    return st_.atLineStart(s_) && !begun_ && !point_;
  }

  std::uint8_t* feed(const std::uint16_t* units, std::size_t n,
                     std::uint8_t* out) {
    if (s_.windows_usable) masks_.compute(s_, units, n);
    return scan(units, n, out, s_.windows_usable);
  }
  // UTF-16BE is swapped into the read block for the number columns.
  static constexpr bool kReadsSwappedUnits = false;

  // Whether feedBytes() can take the blocks of this scan.
  bool readsBytes() const { return s_.utf8_bytes || s_.sjis_bytes; }
  // feed() for n bytes of UTF-8 or Shift_JIS (see feedUtf8 in
  // utf8_feed.h), with room for n units in `units`.
  std::uint8_t* feedBytes(const std::uint8_t* bytes, std::size_t n,
                          std::uint16_t* units, std::uint8_t* out) {
    return s_.sjis_bytes ? feedBytesOf<SjisBytes>(bytes, n, units, out)
                         : feedBytesOf<Utf8Bytes>(bytes, n, units, out);
  }

 private:
  template <class Decoding>
  std::uint8_t* feedBytesOf(const std::uint8_t* bytes, std::size_t n,
                            std::uint16_t* units, std::uint8_t* out) {
    return scanners::feedUtf8(
        s_, st_, masks_, bytes, n, out,
        [this, units](const std::uint8_t* piece, std::size_t count,
                      std::uint8_t* at) {
          return scan(units, Decoding::piece(piece, count, units), at, false);
        },
        [this](std::uint8_t* at) { return lineEnd(at); },
        [this] { fieldBegins(); });
  }

  // The units of a block, the masks of which are computed when pass_over.
  std::uint8_t* scan(const std::uint16_t* units, std::size_t n,
                     std::uint8_t* out, bool pass_over) {
    std::size_t i = 0;
    while (i < n) {
      if (!st_.target && !st_.pending && !st_.first_line && pass_over) {
        i = passOver(
            s_, st_, masks_, i, out,
            [this](std::uint8_t* at) { return lineEnd(at); },
            [this] { fieldBegins(); });
        if (i == n) break;
        if (st_.target) continue;
      } else if (st_.target && !st_.pending && !begun_ &&
                 s_.before_number != nullptr &&
                 s_.before_number[units[i]] == 0) {
        // Text ahead of the number is passed over.
        do {
          ++i;
        } while (i < n && s_.before_number[units[i]] == 0);
        continue;
      } else if (st_.target && !st_.pending && s_.digits_plain &&
                 isDigit(units[i])) {
        // A run of digits: each is written, and "-" can no longer start
        // the number.
        do {
          *out++ = static_cast<std::uint8_t>(units[i]);
          ++i;
        } while (i < n && isDigit(units[i]));
        begun_ = true;
        replacements_[kMinusEntry] = kDropByte;
        continue;
      }
      out = step(units[i], out);
      ++i;
    }
    return out;
  }

  static bool isDigit(std::uint32_t unit) { return unit - '0' < 10; }

  // Each scanner changes the entries of "-" and "." in a copy of its own,
  // so that scanners of different parts of a file can run side by side.
  void copyReplacementBytes() {
    for (std::size_t i = 0; i < kReplacementTableSize; ++i) {
      replacements_[i] = s_.replacement_bytes[i];
    }
  }

  void resetNumberEntries() {
    replacements_[kMinusEntry] = '-';
    if (kDecimal) replacements_[kPointEntry] = '.';
  }

  void fieldBegins() {
    resetNumberEntries();
    begun_ = false;
    point_ = false;
  }

  // What a line feed writes, and the number state it ends.
  std::uint8_t* lineEnd(std::uint8_t* out) {
    if (kDecimal && !point_) {
      *out++ = '.';
      *out++ = s_.completion;
    }
    if (s_.crlf) *out++ = 0x0D;
    *out++ = 0x0A;
    ++st_.lines;
    // A line's number never leaks into the next line's completion.
    begun_ = false;
    point_ = false;
    if (s_.field_number == 1) resetNumberEntries();
    return out;
  }

  std::uint8_t* step(std::uint32_t unit, std::uint8_t* out) {
    if (st_.pending) {
      // A surrogate pair ends a number that has begun.
      st_.pending = false;
      if (st_.target && begun_) st_.target = false;
      return out;
    }
    const std::uint8_t kind = s_.entries[unit].kind;
    if (kind == table_format::kDoubleKind ||
        kind == table_format::kSingleHighKind) {
      if (st_.target && begun_) st_.target = false;
      return out;
    }
    if (kind == table_format::kListedHighKind) {
      st_.pending = true;
      return out;
    }
    if (unit == kLf) {
      out = lineEnd(out);
      st_.lineFeed(s_);
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == s_.quote) {
      st_.quoted = !st_.quoted;
    } else if (unit == s_.separator && !st_.quoted) {
      ++st_.field;
      st_.target = st_.field == s_.field_number;
      if (st_.target) fieldBegins();
    } else if (unit == s_.separator) {
      if (!s_.quoted_separator_dropped && st_.target && begun_) {
        st_.target = false;
      }
    } else if (st_.target) {
      // Units above 0xA0 without a table entry are no number characters,
      // whatever the replacement bytes say about their low byte. (The
      // digits are always number characters: the replacement bytes keep
      // them. They keep nothing but digits, "-" and ".", so the unit
      // written here is always ASCII.)
      std::uint8_t value = unit > 0xA0 ? kDropByte : replacements_[unit];
      if (value == kDropByte) {
        if (begun_) st_.target = false;
      } else {
        *out++ = static_cast<std::uint8_t>(unit);
        begun_ = true;
        if (unit == '.') {
          point_ = true;
          replacements_[kPointEntry] = kDropByte;
        }
        replacements_[kMinusEntry] = kDropByte;
      }
    }
    return out;
  }

  const Settings& s_;
  LineState st_;
  bool begun_ = false;
  bool point_ = false;
  std::uint8_t replacements_[kReplacementTableSize];
  BlockMasks masks_;
};

}  // namespace scanners

#endif  // PELMORA_SELECT_NUMBER_SCANNER_H_
