// The scanners behind the engines: the rules that turn the code units of
// the wide file into the narrow bytes of Field-N, one block at a time.
// Internal to the selection engine; included by selection_engine.cc only.
#ifndef PELMORA_SELECT_FIELD_SCANNERS_H_
#define PELMORA_SELECT_FIELD_SCANNERS_H_

#include <cstddef>
#include <cstdint>

#include "select/select_utf16.h"
#include "select/unit_masks.h"
#include "tables/survivor_utf16.h"

namespace scanners {

constexpr std::uint16_t kLf = 0x000A;
constexpr std::uint16_t kCr = 0x000D;
constexpr std::uint32_t kNoHigh = 0xD840;
// The class-table entries that the number columns change while they run.
constexpr std::size_t kMinusEntry = 0x2D;  // "-"
constexpr std::size_t kPointEntry = 0x2E;  // "."

// What every scanner reads from the prepared object.
struct Settings {
  const TableEntry* entries;
  const SurvivorsUTF16* table;
  const std::uint8_t* classes;  // 224 entries
  std::int64_t field_number;
  std::uint16_t separator;
  std::uint16_t quote;
  bool quoted_separator_dropped;
  bool crlf;
  std::uint8_t completion;
  bool listed_surrogates;  // the table has kind-3 entries
  // Line feed, separator and quote are single kind-0 units that cannot be
  // mistaken for one another, so windows of units can be classified by
  // comparing values alone.
  bool windows_usable;
  // The digits are kind-0 units that are neither separator nor quote, so a
  // run of them inside a number is copied without the full rules.
  bool digits_plain;
  // Inside Field-N of the plain and filtered columns: what each unit writes
  // (see unitOutputOf), or nullptr for the number columns.
  const std::uint16_t* unit_output;
  // Inside Field-N of the number columns, before the number: 0 for the
  // units that are passed over there, 1 for those that need the full rules.
  const std::uint8_t* before_number;
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

// The byte a unit of kind 0 writes. A unit that fits in a byte is that
// byte, so bytes widened one by one come back unchanged. A wider one has no
// code: its low byte could be a line feed, a separator or the lead byte of
// a kanji that swallows the next character, so it writes the default
// character instead, one per unit (so "??" for an unlisted pair).
inline std::uint8_t byteOfUncoded(std::uint32_t unit) {
  return unit > 0xFF ? Selecting::kNoCodeByte
                     : static_cast<std::uint8_t>(unit);
}

inline std::uint8_t classOf(const std::uint8_t* classes, std::uint32_t value) {
  return value < Selecting::kClassTableSize ? classes[value]
                                            : Selecting::kDrop;
}

// The state every scanner keeps from unit to unit, and the pass over the
// units outside Field-N that both families share.
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
  // The state a line feed leaves outside a pair; true when it ended the
  // first line, of which nothing carries into the second.
  bool lineFeed(const Settings& s) {
    field = 1;
    target = s.field_number == 1;
    if (!first_line) return false;
    first_line = false;
    quoted = false;
    return true;
  }
  bool atLineStart(const Settings& s) const {
    return field == 1 && target == (s.field_number == 1) && !pending &&
           !first_line;
  }
};

// The most units one call of a scanner's feed() takes; the engine's read
// block is no larger.
constexpr std::size_t kMaxBlockUnits = std::size_t{1} << 15;

// The masks of one block of units, a window of 64 units per entry, each
// unit classified once however often the scanner passes it.
struct BlockMasks {
  static constexpr std::size_t kWindows = kMaxBlockUnits / kMaskWindow;
  std::uint64_t line_feed[kWindows];
  std::uint64_t separator[kWindows];
  // Bit k: the parity of the quotes from the start of the block up to and
  // including unit k of the window, so that whether a unit stands inside
  // quotes takes one look however far back the scan last stopped.
  std::uint64_t quote_parity[kWindows];
  std::uint64_t surrogate[kWindows];
  std::size_t units = 0;

  // Classifies units[0..n), n <= kMaxBlockUnits. The units must be readable
  // up to the next multiple of 64; the bits past n are cleared.
  void compute(const Settings& s, const std::uint16_t* from, std::size_t n) {
    if (narrowedMasksUsable(s.separator, s.quote)) {
      fill<true>(s, from, n);
    } else {
      fill<false>(s, from, n);
    }
  }

  // The parity of the quotes in units [0, i] of the block; false for i < 0.
  bool parityThrough(std::ptrdiff_t i) const {
    if (i < 0) return false;
    const std::size_t at = static_cast<std::size_t>(i);
    return ((quote_parity[at / kMaskWindow] >> (at % kMaskWindow)) & 1) != 0;
  }

 private:
  template <bool kNarrowed>
  void fill(const Settings& s, const std::uint16_t* from, std::size_t n) {
    units = n;
    const std::size_t windows = (n + kMaskWindow - 1) / kMaskWindow;
    const std::size_t tail = n % kMaskWindow;
    std::uint64_t carry = 0;  // all ones after an odd number of quotes
    for (std::size_t w = 0; w < windows; ++w) {
      WindowMasks m;
      if (kNarrowed) {
        maskWindowNarrowed(from + w * kMaskWindow, s.separator, s.quote,
                           s.listed_surrogates, &m);
      } else {
        maskWindow(from + w * kMaskWindow, s.separator, s.quote,
                   s.listed_surrogates, &m);
      }
      if (tail != 0 && w + 1 == windows) {
        const std::uint64_t valid = (std::uint64_t{1} << tail) - 1;
        m.line_feed &= valid;
        m.separator &= valid;
        m.quote &= valid;
        m.surrogate &= valid;
      }
      line_feed[w] = m.line_feed;
      separator[w] = m.separator;
      surrogate[w] = m.surrogate;
      const std::uint64_t parity = prefixParity(m.quote) ^ carry;
      quote_parity[w] = parity;
      carry = std::uint64_t{0} - (parity >> 63);
    }
  }
};

// Consumes units from i on while the scanner is outside Field-N, using the
// block's masks: only unquoted separators and line feeds are visited.
// Returns where the full rules must take over: after the separator or line
// feed that made Field-N begin, or at a surrogate; n when the block is done.
// on_line_end(out) writes what a line feed writes outside Field-N;
// on_field_begins() is called when Field-N begins at a separator.
template <class LineEnd, class FieldBegins>
std::size_t passOver(const Settings& s, LineState& st, const BlockMasks& masks,
                     std::size_t i, std::uint8_t*& out, LineEnd on_line_end,
                     FieldBegins on_field_begins) {
  const std::size_t n = masks.units;
  // Nothing that passes here changes whether a quote is open except the
  // quotes themselves, so unit k is inside quotes when the quotes of the
  // block through k, taken against those through i - 1, differ from the
  // state at i.
  const bool flipped =
      st.quoted != masks.parityThrough(static_cast<std::ptrdiff_t>(i) - 1);
  const std::uint64_t flip = flipped ? ~std::uint64_t{0} : 0;
  // Whether a quote is open just before unit `at`.
  auto openBefore = [&masks, flipped](std::size_t at) {
    return masks.parityThrough(static_cast<std::ptrdiff_t>(at) - 1) !=
           flipped;
  };
  while (i < n) {
    const std::size_t w = i / kMaskWindow;
    const std::size_t base = w * kMaskWindow;
    const std::uint64_t from_here = ~std::uint64_t{0} << (i - base);
    const std::uint64_t line_feed = masks.line_feed[w];
    std::uint64_t usable = from_here;
    const std::uint64_t surrogate = masks.surrogate[w] & from_here;
    if (surrogate != 0) {
      usable &= (std::uint64_t{1} << lowestBit(surrogate)) - 1;
    }
    const std::uint64_t inside = masks.quote_parity[w] ^ flip;
    const std::uint64_t unquoted_separators = masks.separator[w] & ~inside;
    std::uint64_t left = usable;  // bits not yet consumed
    for (;;) {
      // Once the field count has reached N without Field-N being selected
      // (its number has ended), no separator can matter before the line
      // ends: only line feeds are visited then, and the count stays at N.
      std::uint64_t events = line_feed;
      if (st.field < s.field_number) events |= unquoted_separators;
      events &= left;
      if (events == 0) break;
      const unsigned k = lowestBit(events);
      left &= ~((std::uint64_t{2} << k) - 1);  // 2 << 63 wraps to 0: all
      bool begins;
      if (((line_feed >> k) & 1) != 0) {
        out = on_line_end(out);
        st.field = 1;
        begins = s.field_number == 1;
      } else {
        ++st.field;
        begins = st.field == s.field_number;
        if (begins) on_field_begins();
      }
      if (begins) {
        st.target = true;
        st.quoted = ((inside >> k) & 1) != 0;
        return base + k + 1;
      }
    }
    if (surrogate != 0) {
      const std::size_t at = base + lowestBit(surrogate);
      st.quoted = openBefore(at);
      return at;
    }
    i = base + kMaskWindow;
  }
  st.quoted = openBefore(n);
  return n;
}

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
    const std::uint16_t* table = s_.unit_output;
    if (s_.windows_usable) masks_.compute(s_, units, n);
    std::size_t i = 0;
    while (i < n) {
      if (st_.target && !st_.pending && table != nullptr) {
        // Most units of Field-N just turn into their bytes.
        while (i < n) {
          const std::uint16_t v = table[units[i]];
          if (v == kFullRules) break;
          out[0] = static_cast<std::uint8_t>(v);
          out[1] = static_cast<std::uint8_t>(v >> 8);
          // 1 + (a second byte is there), without a branch to mispredict
          // on text that mixes kana, kanji and ASCII.
          out += 1 + ((std::uint32_t{v} + 0xFF00) >> 16);
          ++i;
        }
        if (i == n) break;
      } else if (!st_.target && !st_.pending && !st_.first_line &&
                 s_.windows_usable) {
        i = passOver(
            s_, st_, masks_, i, out,
            [this](std::uint8_t* at) { return lineEnd(at); }, [] {});
        if (i == n) break;
        if (st_.target) continue;
      }
      out = step(units[i], out);
      ++i;
    }
    return out;
  }

 private:
  std::uint8_t* lineEnd(std::uint8_t* out) {
    ++st_.lines;
    if (s_.crlf) *out++ = 0x0D;
    *out++ = 0x0A;
    return out;
  }

  std::uint8_t* put(std::uint32_t unit, std::uint8_t* out) const {
    // The filter's class table drops every unit above 0xDF, so only the
    // plain column writes a unit above 0xFF here.
    if (!kFilter || classOf(s_.classes, unit) != Selecting::kDrop) {
      *out++ = byteOfUncoded(unit);
    }
    return out;
  }

  // The full rules for one unit.
  std::uint8_t* step(std::uint32_t unit, std::uint8_t* out) {
    if (st_.pending) {
      // The unit after a listed high surrogate is its low half, even LF.
      if (st_.target) {
        *out++ = s_.table->pair(high_, unit, 1);
        *out++ = s_.table->pair(high_, unit, 2);
      }
      st_.pending = false;
      return out;
    }
    const TableEntry& e = s_.entries[unit];
    switch (e.kind) {
      case SurvivorsUTF16::kDoubleKind:
        if (st_.target) {
          *out++ = e.first;
          *out++ = e.second;
        }
        return out;
      case SurvivorsUTF16::kSingleHighKind:
        if (st_.target) {
          std::uint8_t value = classOf(s_.classes, e.first);
          if (value != Selecting::kDrop) *out++ = value;
        }
        return out;
      case SurvivorsUTF16::kListedHighKind:
        high_ = unit;
        st_.pending = true;
        return out;
      default:
        break;
    }
    if (unit == kLf) {
      out = lineEnd(out);
      if (st_.lineFeed(s_)) high_ = kNoHigh;
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
  std::uint32_t high_ = kNoHigh;
  BlockMasks masks_;
};

// Decimal (kDecimal true) and integer extraction: the first number of
// Field-N on every line, a decimal without a point completed with "." and
// the completion character.
template <bool kDecimal>
class NumberScanner {
 public:
  explicit NumberScanner(const Settings& s) : s_(s) {
    copyClasses();
    st_.target = s.field_number == 1;
    if (st_.target) resetNumberEntries();
  }
  // Scans from just after a line feed that was no low half, the first line
  // being over; open_quote says whether a quote was open there.
  NumberScanner(const Settings& s, bool open_quote) : s_(s) {
    copyClasses();
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
    std::size_t i = 0;
    while (i < n) {
      if (!st_.target && !st_.pending && !st_.first_line &&
          s_.windows_usable) {
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
        classes_[kMinusEntry] = Selecting::kDrop;
        continue;
      }
      out = step(units[i], out);
      ++i;
    }
    return out;
  }

 private:
  static bool isDigit(std::uint32_t unit) { return unit - '0' < 10; }

  // Each scanner changes the entries of "-" and "." in a copy of its own,
  // so that scanners of different parts of a file can run side by side.
  void copyClasses() {
    for (std::size_t i = 0; i < Selecting::kClassTableSize; ++i) {
      classes_[i] = s_.classes[i];
    }
  }

  void resetNumberEntries() {
    classes_[kMinusEntry] = '-';
    if (kDecimal) classes_[kPointEntry] = '.';
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
    if (kind == SurvivorsUTF16::kDoubleKind ||
        kind == SurvivorsUTF16::kSingleHighKind) {
      if (st_.target && begun_) st_.target = false;
      return out;
    }
    if (kind == SurvivorsUTF16::kListedHighKind) {
      st_.pending = true;
      return out;
    }
    if (unit == kLf) {
      out = lineEnd(out);
      (void)st_.lineFeed(s_);
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
      // whatever the class table says about their low byte. (The digits are
      // always number characters: the class table keeps them.)
      std::uint8_t value = unit > 0xA0 ? Selecting::kDrop : classes_[unit];
      if (value == Selecting::kDrop) {
        if (begun_) st_.target = false;
      } else {
        *out++ = static_cast<std::uint8_t>(unit);
        begun_ = true;
        if (unit == '.') {
          point_ = true;
          classes_[kPointEntry] = Selecting::kDrop;
        }
        classes_[kMinusEntry] = Selecting::kDrop;
      }
    }
    return out;
  }

  const Settings& s_;
  LineState st_;
  bool begun_ = false;
  bool point_ = false;
  std::uint8_t classes_[Selecting::kClassTableSize];
  BlockMasks masks_;
};

}  // namespace scanners

#endif  // PELMORA_SELECT_FIELD_SCANNERS_H_
