#include "select/unit_masks.h"

void maskWindowScalar(const std::uint16_t* units, std::uint16_t separator,
                      std::uint16_t quote, WindowMasks* masks) {
  WindowMasks m;
  for (std::size_t k = 0; k < kMaskWindow; ++k) {
    const std::uint64_t bit = std::uint64_t{1} << k;
    const std::uint16_t u = units[k];
    if (u == 0x000A) m.line_feed |= bit;
    if (u == separator) m.separator |= bit;
    if (u == quote) m.quote |= bit;
    if ((u & 0xFC00) == 0xD800) m.surrogate |= bit;
  }
  *masks = m;
}
