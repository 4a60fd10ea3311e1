#include "reference_select.h"

#include <cstddef>
#include <set>

namespace reference {
namespace {

constexpr std::uint16_t kLf = 0x0A;
constexpr std::uint16_t kCr = 0x0D;

// The engines keep their replacement bytes with 0x07 as the mark of a
// dropped byte, so a byte whose replacement is BEL never survives a lookup
// there: a BEL in the filtered selection and a katakana replacement of 0x07
// vanish. README.md says nothing of it; the model follows the engines so
// that the comparisons hold, and stays the one place that shows it.
constexpr int kBel = 0x07;

bool isDigit(std::uint32_t unit) { return unit >= '0' && unit <= '9'; }

}  // namespace

int replacement(const Settings& s, std::uint32_t value) {
  // The rules reach the last half-width katakana: beyond it (one-byte codes
  // 0xFD..0xFF, units without a code in the filtered selection) nothing is
  // written.
  if (value > 0xDF) return kDropped;
  int out = static_cast<int>(value);
  if (value <= 0xA0) {
    const bool digit = isDigit(value);
    if (s.engine == Engine::kDecimal) {
      if (!digit && value != '-' && value != '.') return kDropped;
    } else if (s.engine == Engine::kInteger) {
      if (!digit && value != '-') return kDropped;
    } else if (s.drop_control && (value < 0x20 || value > 0x7E)) {
      return kDropped;
    }
    if (s.omit_hi && (value == 'H' || value == 'I')) return kDropped;
  } else if (s.replace_katakana) {
    out = s.katakana;
  } else if (s.drop_sound_marks && (value == 0xDE || value == 0xDF)) {
    return kDropped;
  }
  return out == kBel ? kDropped : out;
}

Result select(const std::string& wide, const CodeTable& codes,
              const Settings& s) {
  std::vector<std::uint16_t> units(wide.size() / 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<std::uint16_t>(
        static_cast<std::uint8_t>(wide[2 * i]) |
        (static_cast<std::uint8_t>(wide[2 * i + 1]) << 8));
  }
  const bool bom = !units.empty() && units[0] == 0xFEFF;
  // The supplementary characters surro.txt can accept, and their high
  // halves by index: asked for every unit of inputs of megabytes.
  std::set<std::uint32_t> listed;
  std::vector<std::uint8_t> listed_high(0x10000);
  for (std::uint32_t cp : s.listed) {
    if (cp < 0x20000 || cp > 0x3FFFF) continue;
    listed.insert(cp);
    listed_high[0xD800 + ((cp - 0x10000) >> 10)] = 1;
  }
  const bool numbers =
      s.engine == Engine::kDecimal || s.engine == Engine::kInteger;

  int replaced[0x100];
  for (std::uint32_t b = 0; b < 0x100; ++b) replaced[b] = replacement(s, b);

  Result r;
  r.narrow.reserve(2 * units.size());
  auto put = [&r](std::uint32_t byte) {
    r.narrow += static_cast<char>(static_cast<std::uint8_t>(byte));
  };
  // A unit without a code inside Field-N of the plain or filtered selection.
  auto text = [&](std::uint32_t unit) {
    if (s.engine == Engine::kFiltered &&
        (unit > 0xFF || replaced[unit] == kDropped)) {
      return;
    }
    put(unit > 0x7F ? '?' : unit);
  };

  std::int64_t field = 1;
  bool quoted = false, first_line = true;
  // The number columns: the number of this line has begun, has its point,
  // or is over.
  bool begun = false, point = false, over = false;
  for (std::size_t i = bom ? 1 : 0; i < units.size(); ++i) {
    const std::uint32_t u = units[i];
    const bool in_field = field == s.field && !over;
    if (listed_high[u] != 0) {
      // The unit after a listed high half is its low half, whatever it is;
      // one that completes no listed character has no code: "??".
      if (i + 1 == units.size()) break;
      const std::uint32_t low = units[++i];
      if (numbers) {
        if (in_field && begun) over = true;
      } else if (in_field) {
        const bool pair =
            low >= 0xDC00 && low <= 0xDFFF &&
            listed.count(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)) != 0;
        put(pair ? 0x81 : '?');
        put(pair ? 0x51 : '?');
      }
      continue;
    }
    const Code& c = codes[u];
    if (c.length != 0) {
      // A unit with a code is text, even one equal to the separator or the
      // quote, and no part of a number.
      if (numbers) {
        if (in_field && begun) over = true;
      } else if (in_field && c.length == 2) {
        put(c.first);
        put(c.second);
      } else if (in_field) {
        const int b = replaced[c.first];
        if (b != kDropped) put(static_cast<std::uint32_t>(b));
      }
      continue;
    }
    if (u == kLf) {
      if (s.engine == Engine::kDecimal && !point) {
        put('.');
        put(s.completion);
      }
      if (s.crlf) put(kCr);
      put(kLf);
      ++r.lines;
      field = 1;
      begun = point = over = false;
      // A quote left open on the first line closes with it.
      if (first_line) quoted = false;
      first_line = false;
    } else if (u == kCr) {
      // dropped wherever it stands
    } else if (u == s.quote) {
      quoted = !quoted;
    } else if (u == s.separator && !quoted) {
      if (!numbers && in_field) text(u);
      ++field;
    } else if (u == s.separator) {
      if (s.quoted_separator_dropped) continue;
      if (numbers) {
        if (in_field && begun) over = true;
      } else if (in_field) {
        text(u);
      }
    } else if (!in_field) {
      // outside Field-N
    } else if (!numbers) {
      text(u);
    } else if (isDigit(u) || (u == '-' && !begun) ||
               (s.engine == Engine::kDecimal && u == '.' && !point)) {
      put(u);
      begun = true;
      point = point || u == '.';
    } else if (begun) {
      over = true;
    }
  }
  return r;
}

}  // namespace reference
