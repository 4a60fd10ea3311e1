#include "select/wide_coding.h"

#include <cstring>

namespace wide_coding {
namespace {

bool hostIsLittleEndian() {
  const std::uint16_t probe = 1;
  std::uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// The length a lead byte announces and the range its second byte must be
// in (the later ones are 80..BF): what keeps out overlong forms,
// surrogates and code points past U+10FFFF. 0: no lead byte.
struct Lead {
  int length;
  std::uint8_t low;
  std::uint8_t high;
};

Lead leadOf(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// The bytes of the sequence at in[0] that are valid so far, up to its
// length; *complete when it is whole.
std::size_t validPart(const std::uint8_t* in, std::size_t n, const Lead& lead,
                      bool* complete) {
  std::size_t k = 1;
  for (; k < static_cast<std::size_t>(lead.length) && k < n; ++k) {
    const std::uint8_t low = k == 1 ? lead.low : 0x80;
    const std::uint8_t high = k == 1 ? lead.high : 0xBF;
    if (in[k] < low || in[k] > high) break;
  }
  *complete = k == static_cast<std::size_t>(lead.length);
  return k;
}

}  // namespace

std::size_t decodeUtf8(const std::uint8_t* in, std::size_t n, bool last,
                       std::uint16_t* out, std::size_t* units) {
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < n) {
    // Exports are mostly ASCII: eight bytes at a time while they last.
    while (i + 8 <= n) {
      std::uint64_t eight;
      std::memcpy(&eight, in + i, 8);
      if ((eight & 0x8080808080808080u) != 0) break;
      for (std::size_t k = 0; k < 8; ++k) out[o + k] = in[i + k];
      i += 8;
      o += 8;
    }
    if (i == n) break;
    const std::uint8_t b = in[i];
    if (b < 0x80) {
      out[o++] = b;
      ++i;
      continue;
    }
    const Lead lead = leadOf(b);
    if (lead.length == 0) {
      out[o++] = kReplacement;
      ++i;
      continue;
    }
    bool complete = false;
    const std::size_t valid = validPart(in + i, n - i, lead, &complete);
    if (!complete) {
      // Cut by the end of the block, the rest may follow in the next one.
      if (i + valid == n && !last) break;
      out[o++] = kReplacement;
      i += valid;
      continue;
    }
    std::uint32_t cp = b & (0x7F >> lead.length);
    const std::size_t length = static_cast<std::size_t>(lead.length);
    for (std::size_t k = 1; k < length; ++k) {
      cp = (cp << 6) | (in[i + k] & 0x3Fu);
    }
    i += length;
    if (cp < 0x10000) {
      out[o++] = static_cast<std::uint16_t>(cp);
    } else {
      cp -= 0x10000;
      out[o++] = static_cast<std::uint16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  *units = o;
  return i;
}

Start detect(const std::uint8_t* head, std::size_t n) {
  if (n >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    return {WideCoding::kUtf8, 3};
  }
  if (n >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    return {WideCoding::kUtf16Be, 2};
  }
  if (n >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    return {WideCoding::kUtf16Le, 2};
  }
  // Every UTF-16LE export holds zero bytes (its line ends, separators and
  // digits); a head without one that decodes without a replacement is
  // taken as UTF-8. An empty file has no text either way.
  if (n == 0 || std::memchr(head, 0, n) != nullptr) return {};
  std::size_t i = 0;
  while (i < n) {
    if (head[i] < 0x80) {
      ++i;
      continue;
    }
    const Lead lead = leadOf(head[i]);
    if (lead.length == 0) return {};
    bool complete = false;
    const std::size_t valid = validPart(head + i, n - i, lead, &complete);
    // A sequence cut by the end of the head may go on past it.
    if (!complete && i + valid != n) return {};
    i += valid;
  }
  return {WideCoding::kUtf8, 0};
}

void toHostOrder(WideCoding coding, std::uint16_t* units, std::size_t n) {
  if ((coding == WideCoding::kUtf16Le) == hostIsLittleEndian()) return;
  for (std::size_t i = 0; i < n; ++i) {
    units[i] = static_cast<std::uint16_t>((units[i] >> 8) | (units[i] << 8));
  }
}

}  // namespace wide_coding
