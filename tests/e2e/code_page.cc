#include "code_page.h"

#include <cstdint>
#include <map>
#include <utility>

#include "file_bytes.h"
#include "reverse_table.h"

namespace e2e {
namespace {

struct Tables {
  // A code is one byte, or lead byte << 8 | trail byte.
  std::map<std::uint32_t, char16_t> to_unit;
  std::map<char16_t, std::uint32_t> to_code;
};

// Of two codes for one character Windows writes the lowest, but the
// NEC-selected copies of the IBM extension (lead bytes 0xED, 0xEE) last.
int preference(std::uint32_t code) {
  const std::uint32_t lead = code >> 8;
  return (lead == 0xED || lead == 0xEE) ? 1 : 0;
}

const Tables& tables() {
  static const Tables loaded = [] {
    Tables t;
    for (const harness::ReverseRecord& record : harness::reverseRecords(
             harness::projectFile(PELMORA_DATA_DIR "/MS932~UTF16.bin"))) {
      const std::uint32_t code = record.code();
      const char16_t unit = static_cast<char16_t>(record.unit);
      t.to_unit.emplace(code, unit);
      auto [known, added] = t.to_code.emplace(unit, code);
      if (!added &&
          std::make_pair(preference(code), code) <
              std::make_pair(preference(known->second), known->second)) {
        known->second = code;
      }
    }
    return t;
  }();
  return loaded;
}

void appendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string utf8FromCodePage932(const std::string& bytes) {
  const Tables& t = tables();
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    if (first < 0x80) {
      out.push_back(static_cast<char>(first));
      continue;
    }
    if (i + 1 < bytes.size()) {
      const std::uint32_t pair = static_cast<std::uint32_t>(first) << 8 |
                                 static_cast<unsigned char>(bytes[i + 1]);
      auto found = t.to_unit.find(pair);
      if (found != t.to_unit.end()) {
        appendUtf8(found->second, &out);
        ++i;
        continue;
      }
    }
    auto single = t.to_unit.find(first);
    appendUtf8(single != t.to_unit.end() ? single->second : U'\u30FB', &out);
  }
  return out;
}

std::string codePage932FromUtf8(const std::string& text) {
  const Tables& t = tables();
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto first = static_cast<unsigned char>(text[i]);
    char32_t c = first;
    std::size_t length = 1;
    if (first >= 0xF0) {
      length = 4;
    } else if (first >= 0xE0) {
      c = first & 0x0F;
      length = 3;
    } else if (first >= 0xC0) {
      c = first & 0x1F;
      length = 2;
    }
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
      c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += length;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    auto found =
        c > 0xFFFF ? t.to_code.end() : t.to_code.find(static_cast<char16_t>(c));
    if (found == t.to_code.end()) {
      out.push_back('?');
      continue;
    }
    const std::uint32_t code = found->second;
    if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
  return out;
}

}  // namespace e2e
