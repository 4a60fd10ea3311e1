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

using fuzzing::finding;

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

struct Parse {
  std::size_t digits = 0;
  std::uint32_t value = 0;
  bool stops = false;
};

Parse parseHex(const std::string& line) {
  Parse p;
  while (p.digits < line.size() && digitValue(line[p.digits]) >= 0) ++p.digits;
  if (p.digits > 8) return p;  // ignored: the list keeps to eight digits
  p.stops = p.digits == 8 && digitValue(line[0]) >= 8;
  for (std::size_t i = 0; i < p.digits && !p.stops; ++i) {
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
  // False when the list ends at this line.
  auto take = [&m](const std::string& line) {
    const Parse p = parseHex(line);
    if (p.digits <= 8 && !p.stops && p.value >= 0x20000 && p.value <= 0x3FFFF) {
      m.listed.insert(p.value);
    }
    m.stops = p.stops;
    return !line.empty() && !p.stops;
  };
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line += text[i];
      continue;
    }
    if (!take(line)) return m;  // an empty line ends the list too
    line.clear();
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  if (!line.empty()) take(line);
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enter("fuzz_surrogate_list");
  const std::string text = fuzzing::text(data, size);
  fuzzing::writeFile(kSurrogateListFileName, text);
  const Model expected = readList(text);
  auto table = std::make_unique<SurvivorsUTF16>();

  // The parse on its own, on the input's first characters.
  const std::string head = text.substr(0, 12);
  const Parse want = parseHex(head);
  std::size_t digits = 0;
  std::uint32_t value = 0;
  const bool parse_stopped = fuzzing::stops([&] {
    value = table->hexadecimal_sequence_to_integer(head.data(), head.size(),
                                                   &digits);
  });
  if (parse_stopped != want.stops) {
    finding(parse_stopped ? "the parse stopped unexpectedly"
                          : "the parse did not stop");
  }
  if (!parse_stopped &&
      (digits != want.digits || (want.digits <= 8 && value != want.value))) {
    finding("the parse of " + fuzzing::hex(head) + " gave " +
            std::to_string(value));
  }

  SurvivorList result = SurvivorList::kRead;
  const bool stopped = fuzzing::stops([&] { result = table->survivors(); });
  if (stopped != expected.stops) {
    finding(stopped ? "the list stopped unexpectedly"
                    : "the list did not stop");
  }
  if (stopped) return 0;
  if (result != SurvivorList::kRead) finding("a readable list failed");

  static std::array<TableEntry, 0x10000> entries;
  entries.fill(TableEntry{0, 0, 0, 0});
  std::set<std::uint32_t> rows;
  for (std::uint32_t cp : expected.listed) {
    const std::uint32_t row = (cp - 0x20000) >> 10;
    entries[0xD840 + row] = TableEntry{table_format::kListedHighKind,
                                       static_cast<std::uint8_t>(row), 0, 0};
    rows.insert(row);
  }
  if (std::memcmp(table->entries(), entries.data(),
                  sizeof(TableEntry) * entries.size()) != 0) {
    finding("the table marks other units than the list");
  }
  // Every cell of a listed row, and one cell per row elsewhere.
  for (std::uint32_t row = 0; row < SurvivorsUTF16::kPairRows; ++row) {
    const std::uint32_t step = rows.count(row) != 0 ? 1 : 1021;
    for (std::uint32_t column = 0; column < 1024; column += step) {
      const std::uint32_t cp = 0x20000 + (row << 10) + column;
      const bool listed = expected.listed.count(cp) != 0;
      const std::uint32_t high = 0xD840 + row, low = 0xDC00 + column;
      if (table->pair(high, low, 1) != (listed ? 0x81 : 0) ||
          table->pair(high, low, 2) != (listed ? 0x51 : 0) ||
          table->pair(high, low, 0) != 0 || table->pair(high, low, 3) != 0) {
        finding("pair() of U+" + std::to_string(cp) + " is wrong");
      }
    }
  }
  return 0;
}
