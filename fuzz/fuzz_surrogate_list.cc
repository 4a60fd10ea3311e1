// The input as surro.txt: SurvivorsUTF16::survivors() on a fresh table,
// compared with a model of the list reading. The one stop the list may
// cause (an eight-digit number from 80000000 up) must happen exactly when
// the model expects it; every other input must mark exactly the listed
// characters of U+20000..U+3FFFF and nothing else.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "tables/survivor_utf16.h"

namespace {

constexpr const char* kTarget = "fuzz_surrogate_list";

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Parse {
  std::size_t digits = 0;
  std::uint32_t value = 0;
  bool stops = false;
};

Parse parseHex(const std::string& line) {
  Parse p;
  while (p.digits < line.size() && digitValue(line[p.digits]) >= 0) {
    ++p.digits;
  }
  if (p.digits > 8) return p;  // ignored: the list keeps to eight digits
  if (p.digits == 8 && digitValue(line[0]) >= 8) {
    p.stops = true;
    return p;
  }
  for (std::size_t i = 0; i < p.digits; ++i) {
    p.value = p.value * 16 + static_cast<std::uint32_t>(digitValue(line[i]));
  }
  return p;
}

struct Model {
  std::set<std::uint32_t> listed;
  bool stops = false;
};

Model readList(const std::string& text) {
  Model m;
  auto take = [&m](const std::string& line) {
    const Parse p = parseHex(line);
    if (p.stops) {
      m.stops = true;
      return false;
    }
    if (p.digits <= 8 && p.value >= 0x20000 && p.value <= 0x3FFFF) {
      m.listed.insert(p.value);
    }
    return true;
  };
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    if (line.empty()) return m;  // an empty line ends the list
    if (!take(line)) return m;
    line.clear();
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  if (!line.empty()) take(line);
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enterWorkFolder();
  fuzzing::tidyWorkFolder();
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzzing::writeFile(kSurrogateListFileName, text);
  const Model expected = readList(text);

  auto table = std::make_unique<SurvivorsUTF16>();

  // The parse on its own, on the input's first characters.
  {
    const std::string head = text.substr(0, 12);
    const Parse want = parseHex(head);
    bool stopped = false;
    std::size_t digits = 0;
    std::uint32_t value = 0;
    try {
      value = table->hexadecimal_sequence_to_integer(head.data(), head.size(),
                                                     &digits);
    } catch (const fuzzing::FuzzStop&) {
      stopped = true;
    }
    if (stopped != want.stops) {
      fuzzing::finding(kTarget, stopped ? "the parse stopped unexpectedly"
                                        : "the parse did not stop");
    }
    if (!stopped &&
        (digits != want.digits || (want.digits <= 8 && value != want.value))) {
      fuzzing::finding(kTarget, "the parse of " + fuzzing::hex(head) +
                                    " gave " + std::to_string(value));
    }
  }

  bool stopped = false;
  SurvivorList result = SurvivorList::kRead;
  try {
    result = table->survivors();
  } catch (const fuzzing::FuzzStop&) {
    stopped = true;
  }
  if (stopped != expected.stops) {
    fuzzing::finding(kTarget, stopped ? "the list stopped unexpectedly"
                                      : "the list did not stop");
  }
  if (stopped) return 0;
  if (result != SurvivorList::kRead)
    fuzzing::finding(kTarget, "a readable list failed");

  static std::array<TableEntry, 0x10000> entries;
  entries.fill(TableEntry{0, 0, 0, 0});
  std::set<std::uint32_t> rows;
  for (std::uint32_t cp : expected.listed) {
    const std::uint32_t high = 0xD800 + ((cp - 0x10000) >> 10);
    entries[high] = TableEntry{table_format::kListedHighKind,
                               static_cast<std::uint8_t>(high - 0xD840), 0, 0};
    rows.insert(high - 0xD840);
  }
  if (std::memcmp(table->entries(), entries.data(),
                  sizeof(TableEntry) * entries.size()) != 0) {
    fuzzing::finding(kTarget, "the table marks other units than the list");
  }

  // Every cell of a listed row, and one cell per row elsewhere.
  for (std::uint32_t row = 0; row < SurvivorsUTF16::kPairRows; ++row) {
    const std::uint32_t high = 0xD840 + row;
    const bool full = rows.count(row) != 0;
    const std::uint32_t step = full ? 1 : 1021;
    for (std::uint32_t column = 0; column < 1024; column += step) {
      const std::uint32_t cp = 0x20000 + (row << 10) + column;
      const bool listed = expected.listed.count(cp) != 0;
      const std::uint32_t low = 0xDC00 + column;
      if (table->pair(high, low, 1) != (listed ? 0x81 : 0) ||
          table->pair(high, low, 2) != (listed ? 0x51 : 0) ||
          table->pair(high, low, 0) != 0 || table->pair(high, low, 3) != 0) {
        fuzzing::finding(kTarget,
                         "pair() of U+" + std::to_string(cp) + " is wrong");
      }
    }
  }
  return 0;
}
