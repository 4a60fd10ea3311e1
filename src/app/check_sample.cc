// What pelmora-check shows of the wide file: its coding, the first line in
// fields, the warnings its first lines give, and the engine's narrow lines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/check_sections.h"
#include "app/check_text.h"
#include "options/final_effect.h"
#include "select/sample_fields.h"
#include "select/select_utf16.h"
#include "select/wide_coding.h"
#include "tables/survivor_utf16.h"
#include "tables/table_format.h"

namespace check_text {
namespace {

// The sample the engine scans: the head of the wide file, cut at the last
// line end within it. It holds the first lines of any export, and costs no
// more to read than the probe of the coding.
constexpr std::int64_t kSampleBytes = std::int64_t{64} << 10;
constexpr std::size_t kShownNarrowLines = 5;
// The first line's fields shown one a line; Field-N is shown in any case.
constexpr std::size_t kShownFields = 30;
// Characters of a field shown before it is cut.
constexpr std::size_t kShownFieldCharacters = 60;
// Characters without a code named one by one.
constexpr std::size_t kNamedNoCode = 5;

std::string codingText(const Selecting& selecting) {
  const wide_coding::Start& start = selecting.wideStart();
  if (selecting.wideBytes() == 0) return "empty (read as UTF-16LE)";
  switch (start.coding) {
    case WideCoding::kUtf16Le:
      return start.mark_bytes > 0 ? "UTF-16LE, with its mark FF FE"
                                  : "UTF-16LE, without a mark";
    case WideCoding::kUtf16Be:
      return "UTF-16BE, with its mark FE FF";
    case WideCoding::kUtf8:
      if (start.mark_bytes > 0) return "UTF-8, with its mark EF BB BF";
      return start.ascii_head ? "ASCII alone (read as UTF-8)"
                              : "UTF-8, without a mark";
    case WideCoding::kShiftJis:
      return "Shift_JIS (code page 932)";
  }
  return std::string();
}

std::string fieldText(const std::u16string& field) {
  if (field.empty()) return "(empty)";
  std::u16string head = field.substr(0, kShownFieldCharacters);
  std::string text = fromUnits(head);
  if (field.size() > head.size()) text += " ...";
  return text;
}

// The characters of Field-N that the engine of `column` writes as "?".
std::size_t countNoCode(const std::u16string& field, const Selecting& selecting,
                        Column column, std::vector<std::uint32_t>* named) {
  if (column != Column::kPlain && column != Column::kFiltered) return 0;
  const SurvivorsUTF16& table = *selecting.table();
  const TableEntry* entries = table.entries();
  std::size_t count = 0;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const std::uint32_t unit = field[i];
    std::uint32_t character = unit;
    const std::uint32_t next = i + 1 < field.size() ? field[i + 1] : 0;
    const bool pair =
        unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF;
    if (pair) character = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
    if (entries[unit].kind == table_format::kListedHighKind) {
      if (i + 1 < field.size()) ++i;
      if (table.pair(unit, next, 1) != 0) continue;
    } else if (entries[unit].kind != table_format::kSingleLowKind ||
               unit < 0x80) {
      continue;
    } else {
      // The filter drops what it drops before a "?" could be written.
      if (column == Column::kFiltered &&
          selecting.replacementByte(unit) == Selecting::kDrop) {
        continue;
      }
      if (pair) ++i;
    }
    ++count;
    if (named->size() < kNamedNoCode) named->push_back(character);
  }
  return count;
}

}  // namespace

void showWide(const FinalEffects& effects, Selecting* selecting, Sample* sample,
              Page* page) {
  page->line("Wide file " + quoted(effects.wideName()));
  if (selecting->wideBytes() < 0) {
    page->item("cannot be read", "it is missing, or may not be read (229)");
    page->line();
    return;
  }
  page->item("coding", codingText(*selecting));
  page->item("size", number(selecting->wideBytes()) + " bytes");
  if (selecting->isWorkbook()) {
    page->item("workbook",
               "it begins as an .xlsx, .ods or .xls file does, "
               "not as an export (246)");
    page->line();
    return;
  }
  sample->end = selecting->sampleEnd(kSampleBytes);
  sample->read = sample->end >= 0 &&
                 selecting->decodeHead(sample->end, &sample->units) &&
                 splitSample(sample->units, selecting->table()->entries(),
                             effects.separatorChar(), effects.quoteChar(),
                             effects.quotedSeparatorIgnored(), &sample->fields);
  if (!sample->read) {
    page->item("first line", "cannot be read");
    page->line();
    return;
  }
  page->item("sample", "the first " + number(sample->fields.lines.size()) +
                           " lines (" + number(sample->end) + " bytes)");
  if (sample->fields.lines.empty()) {
    page->line();
    return;
  }
  const std::vector<std::u16string>& first = sample->fields.lines.front();
  const std::size_t n = static_cast<std::size_t>(effects.fieldNumber());
  page->item("first line",
             number(first.size()) + (first.size() == 1 ? " field" : " fields") +
                 ", split by " + characterName(effects.separatorChar()) +
                 "; Field-N marked with >");
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (i >= kShownFields && i + 1 != n) continue;
    page->line(std::string(i + 1 == n ? "   > " : "     ") + "Field-" +
               number(i + 1) + "  " + fieldText(first[i]));
  }
  if (first.size() > kShownFields) page->line("     ...");
  if (n > first.size()) {
    page->line("   > Field-" + number(effects.fieldNumber()) +
               "  (the first line has no such field)");
  }
  page->line();
}

// The slips a first day meets, told from the sample.
void warnAboutSample(const FinalEffects& effects, const Selecting& selecting,
                     Column column, bool table_loaded, const Sample& sample,
                     std::vector<std::string>* warnings) {
  const std::vector<std::vector<std::u16string>>& lines = sample.fields.lines;
  if (!sample.read || lines.empty()) return;
  const std::size_t n = static_cast<std::size_t>(effects.fieldNumber());
  const std::u16string first_units =
      sample.units.substr(0, sample.units.find(u'\n'));
  const std::uint8_t separator = effects.separatorChar();
  if (separator != '\t' && first_units.find(u'\t') != std::u16string::npos &&
      first_units.find(static_cast<char16_t>(separator)) ==
          std::u16string::npos) {
    const bool comma = separator == ',';
    warnings->push_back(
        std::string("The first line holds tabs and no ") +
        (comma ? "comma" : characterName(separator)) + ", but the separator " +
        "is " + (comma ? "the comma" : characterName(separator)) +
        ": this looks like a tab export, whose lines would each be one "
        "field. Give '-S\\t' (quoted in a POSIX shell), or a line -S\\t in "
        "set_pelmora.txt.");
  }
  if (sample.fields.first_line_left_open && lines.size() > 1) {
    warnings->push_back(
        "A quote is still open at the end of the first line. The scan closes "
        "it there, so the quote that was meant to close it opens one "
        "instead, and every later quote reads the wrong way round.");
  }
  bool all_empty = true;
  std::size_t closed = 0;
  std::size_t no_code = 0;
  std::vector<std::uint32_t> named;
  for (const std::vector<std::u16string>& line : lines) {
    if (n <= line.size() && !line[n - 1].empty()) all_empty = false;
    if (n < line.size()) ++closed;
    if (n <= line.size() && table_loaded) {
      no_code += countNoCode(line[n - 1], selecting, column, &named);
    }
  }
  const std::string field = "Field-" + number(effects.fieldNumber());
  const std::string count =
      number(lines.size()) + " sampled line" + (lines.size() == 1 ? "" : "s");
  if (all_empty) {
    warnings->push_back(
        field + " is empty or missing on " +
        (lines.size() == 1 ? "the one sampled line"
                           : "every one of the " + count) +
        ": the narrow file would hold empty lines. Check the field number "
        "and the separator.");
  }
  if (closed > 0 && (column == Column::kPlain || column == Column::kFiltered)) {
    warnings->push_back(
        field + " is followed by another field on " + number(closed) +
        " of the " + count + ", so those narrow lines end with the separator " +
        characterName(effects.separatorChar()) +
        ": the plain and filtered columns write Field-N with the separator "
        "that closes it.");
  }
  const std::vector<std::u16string>& header = lines.front();
  if (n <= header.size() && !header[n - 1].empty()) {
    warnings->push_back(
        "Line 1 is converted like every other line: its " + field + ", \"" +
        fieldText(header[n - 1]) +
        "\", becomes the narrow file's first line, a header row included.");
  }
  if (no_code > 0) {
    std::string which;
    for (const std::uint32_t character : named) {
      std::u16string units;
      if (character >= 0x10000) {
        units.push_back(
            static_cast<char16_t>(0xD800 + ((character - 0x10000) >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + (character & 0x3FF)));
      } else {
        units.push_back(static_cast<char16_t>(character));
      }
      which += (which.empty() ? "" : ", ") + fromUnits(units) + " " +
               codePoint(character);
    }
    warnings->push_back(
        number(no_code) + " character" + (no_code == 1 ? "" : "s") + " of " +
        field + " in the sample " + (no_code == 1 ? "has" : "have") +
        " no code in the table and would be written as "
        "\"?\": " +
        which + (no_code > named.size() ? ", ..." : "") +
        " (a character beyond U+FFFF becomes the low line when surro.txt "
        "lists it).");
  }
}

void showNarrowLines(const std::string& narrow, Page* page) {
  page->line("First narrow lines, shown as UTF-8");
  std::size_t shown = 0;
  std::size_t at = 0;
  while (shown < kShownNarrowLines && at < narrow.size()) {
    std::size_t end = narrow.find('\n', at);
    std::string line = narrow.substr(
        at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? narrow.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++shown;
    page->line("  " + number(shown) + "  " +
               (line.empty() ? "(empty)" : fromShiftJis(line)));
  }
  if (shown == 0) page->line("  (none: the sample holds no text)");
}

}  // namespace check_text
