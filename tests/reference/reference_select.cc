#include "reference_select.h"

#include <cstddef>
#include <fstream>
#include <iterator>
#include <map>
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

// The code points a UTF-8 sequence of n bytes may stand for.
constexpr std::uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};

std::size_t lengthOf(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The bits of the lead byte that belong to the code point.
std::uint32_t leadBits(std::uint8_t lead, std::size_t n) {
  return lead & (n == 1 ? 0x7Fu : 0xFFu >> (n + 1));
}

bool isCodePoint(std::uint32_t cp, std::size_t n) {
  return cp >= kLeast[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

// Whether the first k bytes of a sequence of n bytes can still end as a
// character: the least and the most they can become bound what it is.
bool viable(const std::uint8_t* p, std::size_t k, std::size_t n) {
  std::uint32_t least = leadBits(p[0], n);
  for (std::size_t i = 1; i < k; ++i) {
    if ((p[i] & 0xC0) != 0x80) return false;
    least = least << 6 | (p[i] & 0x3Fu);
  }
  std::uint32_t most = least;
  for (std::size_t i = k; i < n; ++i) {
    least <<= 6;
    most = most << 6 | 0x3F;
  }
  for (std::uint32_t cp : {least, most, kLeast[n], std::uint32_t{0x10FFFF},
                           std::uint32_t{0xD7FF}, std::uint32_t{0xE000}}) {
    if (cp >= least && cp <= most && isCodePoint(cp, n)) return true;
  }
  return false;
}

// UTF-8 to code units, one U+FFFD per maximal subpart that is no
// character. *cut_at_end: the only fault is a viable head at the end.
std::vector<std::uint16_t> fromUtf8(const std::string& text,
                                    std::size_t* faults, bool* cut_at_end) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t size = text.size();
  std::vector<std::uint16_t> units;
  *faults = 0;
  *cut_at_end = false;
  for (std::size_t i = 0; i < size;) {
    const std::size_t n = lengthOf(p[i]);
    std::size_t k = n != 0 && viable(p + i, 1, n) ? 1 : 0;
    while (k > 0 && k < n && i + k < size && viable(p + i, k + 1, n)) ++k;
    if (n == 0 || k < n) {
      units.push_back(0xFFFD);
      ++*faults;
      *cut_at_end = *faults == 1 && n != 0 && i + k == size;
      i += k == 0 ? 1 : k;
      continue;
    }
    std::uint32_t cp = leadBits(p[i], n);
    for (std::size_t j = 1; j < n; ++j) cp = cp << 6 | (p[i + j] & 0x3Fu);
    if (cp < 0x10000) {
      units.push_back(static_cast<std::uint16_t>(cp));
    } else {
      units.push_back(
          static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
    }
    i += n;
  }
  return units;
}

// The valid multi-byte characters and the faults of UTF-8 in a window; a
// viable head that the window's end cuts is neither.
void countUtf8(const std::string& window, std::size_t* valid,
               std::size_t* invalid) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(window.data());
  const std::size_t size = window.size();
  *valid = *invalid = 0;
  for (std::size_t i = 0; i < size;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = lengthOf(p[i]);
    std::size_t k = n != 0 && viable(p + i, 1, n) ? 1 : 0;
    while (k > 0 && k < n && i + k < size && viable(p + i, k + 1, n)) ++k;
    if (n != 0 && k == n) {
      ++*valid;
      i += n;
    } else if (n != 0 && k > 0 && i + k == size) {
      return;
    } else {
      ++*invalid;
      i += k == 0 ? 1 : k;
    }
  }
}

// Shift_JIS through the reverse table, each code by its first record.
std::vector<std::uint16_t> fromShiftJis(const std::string& text) {
  static const std::map<std::uint16_t, std::uint16_t> codes = [] {
    std::ifstream in(PELMORA_DATA_DIR "/MS932~UTF16.bin", std::ios::binary);
    const std::string table((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
    std::map<std::uint16_t, std::uint16_t> first;
    for (std::size_t at = 0; at + 4 <= table.size(); at += 4) {
      const auto b = [&](std::size_t k) {
        return static_cast<std::uint8_t>(table[at + k]);
      };
      const auto code =
          static_cast<std::uint16_t>(b(1) == 0 ? b(0) : b(0) << 8 | b(1));
      first.emplace(code, static_cast<std::uint16_t>(b(2) | b(3) << 8));
    }
    return first;
  }();
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  std::vector<std::uint16_t> units;
  for (std::size_t i = 0; i < text.size();) {
    const std::uint8_t b = p[i];
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    std::uint16_t code = b;
    std::size_t length = 1;
    if (lead) {
      const std::uint8_t t = i + 1 < text.size() ? p[i + 1] : 0;
      if (t < 0x40 || t == 0x7F || t > 0xFC) {
        units.push_back(0xFFFD);
        ++i;
        continue;
      }
      code = static_cast<std::uint16_t>(b << 8 | t);
      length = 2;
    }
    const auto found = codes.find(code);
    units.push_back(found == codes.end() ? 0xFFFD : found->second);
    i += length;
  }
  return units;
}

}  // namespace

std::vector<std::uint16_t> decodeWide(const std::string& wide) {
  const auto starts = [&wide](const char* mark) {
    return wide.compare(0, std::string(mark).size(), mark) == 0;
  };
  std::size_t faults = 0;
  bool cut = false;
  if (starts("\xEF\xBB\xBF")) return fromUtf8(wide.substr(3), &faults, &cut);
  const bool big = starts("\xFE\xFF");
  std::size_t from = big || starts("\xFF\xFE") ? 2 : 0;
  const std::string head = wide.substr(0, 64 * 1024);
  if (from == 0 && !head.empty() && head.find('\0') == std::string::npos) {
    // UTF-8 or Shift_JIS, from 64 KiB at the first byte past ASCII.
    std::size_t high = 0;
    while (high < wide.size() && static_cast<std::uint8_t>(wide[high]) < 0x80) {
      ++high;
    }
    if (high == wide.size()) return fromUtf8(wide, &faults, &cut);
    std::size_t valid = 0;
    std::size_t invalid = 0;
    countUtf8(high < head.size() ? head : wide.substr(high, 64 * 1024), &valid,
              &invalid);
    return invalid * 9 <= valid ? fromUtf8(wide, &faults, &cut)
                                : fromShiftJis(wide);
  }
  std::vector<std::uint16_t> units;
  for (; from + 1 < wide.size(); from += 2) {
    const auto first = static_cast<std::uint8_t>(wide[from]);
    const auto second = static_cast<std::uint8_t>(wide[from + 1]);
    units.push_back(static_cast<std::uint16_t>(big ? first << 8 | second
                                                   : second << 8 | first));
  }
  return units;
}

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
  const std::vector<std::uint16_t> units = decodeWide(wide);
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
  for (std::size_t i = 0; i < units.size(); ++i) {
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
