// The masks of one block of code units and the pass over the units outside
// Field-N that uses them: only unquoted separators and line feeds are looked
// at there, 64 units at a time.
#ifndef PELMORA_SELECT_BLOCK_MASKS_H_
#define PELMORA_SELECT_BLOCK_MASKS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "select/scan_settings.h"
#include "select/unit_masks.h"

namespace scanners {

// The most units (or bytes of UTF-8) one call of a scanner's feed() takes;
// the engine's read block is no larger.
constexpr std::size_t kMaxBlockUnits = std::size_t{1} << 16;

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
  // Shift_JIS read as bytes: the bytes in the range of lead bytes.
  std::uint64_t sjis_lead[kWindows];
  std::size_t units = 0;

  // Classifies units[0..n), n <= kMaxBlockUnits. The units must be readable
  // up to the next multiple of 64; the bits past n are cleared.
  void compute(const Settings& s, const std::uint16_t* from, std::size_t n) {
    if (maskUnitBlockAvx2(from, n, s.separator, s.quote, s.listed_surrogates,
                          line_feed, separator, quote_parity, surrogate)) {
      units = n;
      return;
    }
    if (narrowedMasksUsable(s.separator, s.quote)) {
      fill(n, [&s, from](std::size_t at, WindowMasks* m) {
        maskWindowNarrowed(from + at, s.separator, s.quote, s.listed_surrogates,
                           m);
      });
    } else {
      fill(n, [&s, from](std::size_t at, WindowMasks* m) {
        maskWindow(from + at, s.separator, s.quote, s.listed_surrogates, m);
      });
    }
  }

  // compute() for units in the other byte order, where
  // unitMasksTakeSwappedUnits().
  void computeSwapped(const Settings& s, const std::uint16_t* from,
                      std::size_t n) {
    (void)maskUnitBlockAvx2(from, n, s.separator, s.quote, s.listed_surrogates,
                            line_feed, separator, quote_parity, surrogate,
                            true);
    units = n;
  }

  // Classifies bytes[0..n) of UTF-8 for settings with utf8_bytes, a bit
  // per byte, on the same terms as compute(), in one pass with the widest
  // vectors there are.
  void computeUtf8(const Settings& s, const std::uint8_t* from, std::size_t n) {
    maskByteBlock(from, n, static_cast<std::uint8_t>(s.separator),
                  static_cast<std::uint8_t>(s.quote), line_feed, separator,
                  quote_parity, s.sjis_bytes ? sjis_lead : nullptr);
    std::memset(surrogate, 0,
                (n + kMaskWindow - 1) / kMaskWindow * sizeof surrogate[0]);
    units = n;
  }

  // The parity of the quotes in units [0, i] of the block; false for i < 0.
  bool parityThrough(std::ptrdiff_t i) const {
    if (i < 0) return false;
    const std::size_t at = static_cast<std::size_t>(i);
    return ((quote_parity[at / kMaskWindow] >> (at % kMaskWindow)) & 1) != 0;
  }

 private:
  template <class Classify>
  void fill(std::size_t n, Classify classify) {
    units = n;
    const std::size_t windows = (n + kMaskWindow - 1) / kMaskWindow;
    const std::size_t tail = n % kMaskWindow;
    std::uint64_t carry = 0;  // all ones after an odd number of quotes
    for (std::size_t w = 0; w < windows; ++w) {
      WindowMasks m;
      classify(w * kMaskWindow, &m);
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
  auto open_before = [&masks, flipped](std::size_t at) {
    return masks.parityThrough(static_cast<std::ptrdiff_t>(at) - 1) != flipped;
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
      st.quoted = open_before(at);
      return at;
    }
    i = base + kMaskWindow;
  }
  st.quoted = open_before(n);
  return n;
}

// Where the full rules can hand back to passOver() once more: just after
// the next line feed or unquoted separator from unit i on, a quote being
// open at i when `quoted`; n when the block has neither.
inline std::size_t fieldEndAfter(const BlockMasks& masks, std::size_t i,
                                 bool quoted) {
  const std::size_t n = masks.units;
  const bool flipped =
      quoted != masks.parityThrough(static_cast<std::ptrdiff_t>(i) - 1);
  const std::uint64_t flip = flipped ? ~std::uint64_t{0} : 0;
  for (std::size_t w = i / kMaskWindow; w * kMaskWindow < n; ++w) {
    const std::size_t base = w * kMaskWindow;
    std::uint64_t events =
        masks.line_feed[w] |
        (masks.separator[w] & ~(masks.quote_parity[w] ^ flip));
    if (base < i) events &= ~std::uint64_t{0} << (i - base);
    if (events != 0) return base + lowestBit(events) + 1;
  }
  return n;
}

}  // namespace scanners

#endif  // PELMORA_SELECT_BLOCK_MASKS_H_
