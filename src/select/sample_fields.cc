#include "select/sample_fields.h"

#include <new>

#include "tables/table_format.h"

namespace {

constexpr std::uint16_t kLf = 0x000A;
constexpr std::uint16_t kCr = 0x000D;

// The one unit rule of FieldScanner::step() that decides where fields and
// lines end, without the bytes it writes.
struct Splitter {
  const TableEntry* entries;
  std::uint16_t separator;
  std::uint16_t quote;
  bool quoted_separator_dropped;
  SampleFields* sample;

  bool quoted = false;
  bool pending = false;
  bool first_line = true;
  std::vector<std::u16string> line{std::u16string()};

  void endLine() {
    sample->lines.push_back(std::move(line));
    line.assign(1, std::u16string());
    // The first line ends with its quotes closed; later ones carry theirs.
    if (first_line) {
      sample->first_line_left_open = quoted;
      quoted = false;
      first_line = false;
    }
  }

  void step(std::uint16_t unit) {
    if (pending) {
      // The low half of a listed character, whatever its value.
      line.back().push_back(unit);
      pending = false;
      return;
    }
    const std::uint8_t kind = entries[unit].kind;
    if (kind != table_format::kSingleLowKind) {
      line.back().push_back(unit);
      pending = kind == table_format::kListedHighKind;
      return;
    }
    if (unit == kLf) {
      endLine();
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == quote) {
      quoted = !quoted;
    } else if (unit == separator && !quoted) {
      line.emplace_back();
    } else if (unit != separator || !quoted_separator_dropped) {
      line.back().push_back(unit);
    }
  }
};

}  // namespace

bool splitSample(const std::u16string& units, const TableEntry* entries,
                 std::uint16_t separator, std::uint16_t quote,
                 bool quoted_separator_dropped, SampleFields* sample) {
  *sample = SampleFields();
  try {
    Splitter splitter{entries, separator, quote, quoted_separator_dropped,
                      sample};
    for (const char16_t unit : units) {
      splitter.step(static_cast<std::uint16_t>(unit));
    }
    const bool open_end =
        splitter.line.size() > 1 || !splitter.line.front().empty();
    if (open_end) splitter.endLine();
  } catch (const std::bad_alloc&) {
    *sample = SampleFields();
    return false;
  }
  return true;
}
