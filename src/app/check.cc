// pelmora-check reads what pelmora reads, through pelmora's own code: the
// option parser and its settlement, the wide file's detection, the table
// search and the engine. It differs from a run in what it does with the
// result: reports are collected in memory and shown, the table search and
// the preparation stop nothing, the wide and narrow files are opened for
// reading alone, and the engine scans a sample into memory. So it writes
// no file, and what it shows is what the run would meet.
#include "app/check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/check_text.h"
#include "app/run.h"
#include "diagnostics/error_text.h"
#include "options/final_effect.h"
#include "options/guide.h"
#include "options/hyphen_term.h"
#include "options/settings_file.h"
#include "platform/platform.h"
#include "select/sample_fields.h"
#include "select/select_utf16.h"
#include "tables/survivor_utf16.h"
#include "tables/table_format.h"

namespace {

using check_text::characterName;
using check_text::fromBytes;

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

// What is printed, section by section, so that a stop inside the shared
// code (a surro.txt number that stops every run) still leaves what was
// found up to it on the screen.
class Page {
 public:
  void line(const std::string& text = std::string()) {
    text_ += text;
    text_ += '\n';
  }
  /// A labelled line, its text wrapped under itself.
  void item(const std::string& label, const std::string& text) {
    wrapped(padded(label), std::string(kItemIndent + 1, ' '), text);
  }
  /// A labelled line never wrapped, for a name: where a name is cut, the
  /// reader cannot tell.
  void name(const std::string& label, const std::string& text) {
    line(padded(label) + text);
  }
  /// Text wrapped at blanks to kWidth characters, the first line after
  /// `first`, the others after `next`.
  void wrapped(const std::string& first, const std::string& next,
               const std::string& text) {
    std::string out = first;
    std::size_t column = characters(first);
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find(' ', at);
      if (end == std::string::npos) end = text.size();
      const std::string word = text.substr(at, end - at);
      const std::size_t length = characters(word);
      if (column + length > kWidth && column > characters(next)) {
        out += "\n" + next;
        column = characters(next);
      } else if (at > 0) {
        out += ' ';
        ++column;
      }
      out += word;
      column += length;
      at = end + 1;
    }
    line(out);
  }

 private:
  static constexpr std::size_t kItemIndent = 16;
  static std::string padded(const std::string& label) {
    std::string text = "  " + label;
    if (text.size() < kItemIndent) text.resize(kItemIndent, ' ');
    return text + " ";
  }
  static constexpr std::size_t kWidth = 78;
  // UTF-8 characters, not bytes: every byte but a continuation byte.
  static std::size_t characters(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
      count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
  }

 public:
  void flush() {
    if (!text_.empty()) {
      (void)platform::writeStandardOutput(text_.data(), text_.size());
    }
    text_.clear();
  }

 private:
  std::string text_;
};

struct Check {
  Page page;
  std::vector<std::string> reports;
  std::vector<std::string> warnings;
};

Check* g_check = nullptr;

// The shared code stopped, as it stops a run: the run would end here too.
void onStop() {
  if (g_check == nullptr) return;
  Page& page = g_check->page;
  page.line();
  page.line("Verdict");
  const std::string last =
      g_check->reports.empty() ? std::string() : g_check->reports.back();
  page.line("  pelmora would stop here, reporting " + fromBytes(last) +
            " (exit code 1).");
  page.flush();
}

std::string quoted(const std::string& bytes) {
  return "\"" + fromBytes(bytes) + "\"";
}

std::string commandLine(const std::vector<std::string>& arguments) {
  std::string text = "pelmora";
  for (const std::string& argument : arguments) {
    const bool plain = !argument.empty() &&
                       argument.find_first_of(" \t\"'") == std::string::npos;
    text += " " + (plain ? fromBytes(argument) : quoted(argument));
  }
  return text;
}

template <class Integer>
std::string number(Integer value) {
  return std::to_string(value);
}

std::string flagMeaning(char letter) {
  switch (letter) {
    case 'F':
      return "the next plain argument is the narrow file";
    case '_':
      return "the next plain argument is taken and used by nothing";
    case 'K':
      return "the table's name comes from set_dravikson.txt only";
    case 'b':
      return "the narrow output goes through binary.tmp";
    case 'G':
      return "pelmora shows its guide and converts nothing";
    case 'V':
      return "pelmora shows its version and converts nothing";
    case 'L':
      return "LF line ends, but only once -0 is cleared (-LF does both)";
    case 'y':
      return "binary.tmp is kept after -t or -b";
    case 'D':
      return "the table is looked for in its fixed place only";
    case '$':
      return "control characters are dropped from Field-N";
    case 't':
      return "the wide file is given this run's time through binary.tmp";
    case 'M':
      return "data.txt notes which table was used";
    case 'z':
      return "standard output when no narrow file is named";
    case '0':
      return "CR LF line ends";
    case 'Z':
      return "field numbers up to 3071";
    case 'u':
      return "no effect";
    case 'q':
      return "a separator inside quotes is dropped, not kept (not \"quiet\")";
    case 'x':
      return "half-width katakana are replaced";
    case '%':
      return "voiced sound marks are dropped";
    case 'p':
      return "the letters H and I are dropped from Field-N";
    default:
      return std::string();
  }
}

std::string numberMeaning(char letter, std::int32_t value, std::int32_t limit) {
  const std::string field = "Field-" + number(value);
  std::string meaning;
  switch (letter) {
    case 'j':
      return field;
    case 'c':
      meaning = field + " when -j is absent or not below the field limit";
      break;
    case 'o':
      meaning = field + " without control characters (not \"output\")";
      break;
    case 'k':
      meaning = field + " with half-width katakana replaced";
      break;
    case 'd':
      meaning = field + " without voiced sound marks";
      break;
    case 'e':
      meaning = "the first decimal number of " + field;
      break;
    case 'n':
      meaning = "the first integer of " + field;
      break;
    default:
      return "a number of no effect";
  }
  if (value >= limit) {
    meaning += "; " + number(value) + " is not below the field limit " +
               number(limit) + ", so it chooses nothing";
  }
  return meaning;
}

std::string characterOption(char letter) {
  switch (letter) {
    case 'S':
    case 's':
      return "the separator";
    case 'W':
    case 'w':
      return "the quote";
    case 'A':
    case 'a':
      return "the katakana replacement";
    default:
      return "the decimal completion character";
  }
}

struct ReadingContext {
  std::int32_t limit;
  std::string narrow_name;
  std::size_t last_narrow_token;  // in reading order
  bool f_named;
};

std::string tokenMeaning(const TokenReading& token, TermReading::Source source,
                         const ReadingContext& context, bool last_narrow) {
  using Kind = TokenReading::Kind;
  using Skip = TokenReading::Skip;
  const std::string head = std::string("-") + token.letter;
  switch (token.kind) {
    case Kind::kWideName:
      return source == TermReading::Source::kSettingsLine
                 ? "the wide file: a settings line that does not begin with "
                   "\"-\" names a file, as if it came first on the command "
                   "line"
                 : "the wide file";
    case Kind::kNarrowName:
      if (context.f_named) return "not used: the name after -F is the narrow";
      return last_narrow ? "the narrow file"
                         : "not used: a later plain argument replaces it";
    case Kind::kFName:
      return "the narrow file (named after -F)";
    case Kind::kUnderscoreName:
      return "taken by -_ and used by nothing";
    case Kind::kFlagSet:
      return head + " set: " + flagMeaning(token.letter);
    case Kind::kFlagCleared:
      return head + " cleared" +
             (token.letter == 'F' ? ", and any -F name forgotten" : "");
    case Kind::kNumber:
      if (token.value == -1) {
        return head + " with a number that does not fit 32 bits (214): " +
               "the option counts as not given";
      }
      return numberMeaning(token.letter, token.value, context.limit);
    case Kind::kRange:
      return "a range option of no effect";
    case Kind::kCharacterCode:
      if (token.value == 0) {
        return characterOption(token.letter) +
               " gets no character (code 0), so it is \"_\" unless " +
               "the lower-case form names one";
      }
      return characterOption(token.letter) + ": " +
             characterName(static_cast<std::uint8_t>(token.value));
    case Kind::kCharacterText:
      return characterOption(token.letter) + ": " +
             characterName(static_cast<std::uint8_t>(token.value)) +
             (token.token.size() > 3 ? " (only the first character counts)"
                                     : "");
    case Kind::kSkipped:
      break;
  }
  switch (token.skip) {
    case Skip::kEmpty:
      return "skipped: an empty argument";
    case Skip::kNoLetter:
      return "skipped: no option letter";
    case Skip::kFlagWithText:
      return "skipped: " + head + " is a flag and takes nothing after it" +
             (source == TermReading::Source::kSettingsLine
                  ? " (-LF, -CRLF, --out, --help, -VC and clusters work on "
                    "the command line only)"
                  : "");
    case Skip::kNoNumber:
      return "skipped: " + head + " needs its number right after it, as in " +
             head + "2";
    case Skip::kNoCharacter:
      return "skipped: " + head + " needs a character after it, as in " + head +
             ";";
    case Skip::kNoEffect:
      return "skipped: an option of no effect";
    case Skip::kUnknownLetter:
    case Skip::kNone:
      break;
  }
  return "skipped: there is no option " + fromBytes(head) +
         " (options are case-sensitive)";
}

// How each argument and settings line was read; warns about clusters that
// hold a letter which changes files.
void showReadings(const HyphenTerms& terms, const FinalEffects::Values& values,
                  Check* check) {
  Page& page = check->page;
  const std::vector<TermReading>& readings = terms.readings();
  ReadingContext context{terms.fieldNumberLimit(), values.narrowName, 0,
                         !terms.listName(1).empty()};
  std::size_t position = 0;
  for (const TermReading& reading : readings) {
    for (const TokenReading& token : reading.tokens) {
      if (token.kind == TokenReading::Kind::kNarrowName) {
        context.last_narrow_token = position;
      }
      ++position;
    }
  }

  page.line("How each argument was read");
  bool settings_shown = false;
  for (const std::string& report : check->reports) {
    if (report.find("error-148") != std::string::npos) {
      page.line(
          "  set_pelmora.txt: none here, or unreadable (148): no "
          "settings lines");
      settings_shown = true;
    }
  }
  position = 0;
  for (const TermReading& reading : readings) {
    const bool settings = reading.source == TermReading::Source::kSettingsLine;
    if (settings && !settings_shown) {
      page.line("  set_pelmora.txt, read before the arguments:");
      settings_shown = true;
    }
    std::string label = settings ? "  line " + number(reading.number)
                                 : "  argument " + number(reading.number);
    label +=
        ": " + (reading.text.empty() && settings ? std::string()
                                                 : fromBytes(reading.text));
    if (reading.form == TermReading::Form::kNotRead) {
      page.line(label + (reading.text.empty()
                             ? "(empty): the lines after it are not read"
                             : "  not read (after an empty line)"));
      continue;
    }
    std::string letters;
    for (const TokenReading& token : reading.tokens) {
      letters += " " + fromBytes(token.token);
    }
    const bool one =
        reading.tokens.size() == 1 && reading.form == TermReading::Form::kWhole;
    if (reading.form == TermReading::Form::kCluster) {
      page.line(label + "  a cluster, read letter by letter as" + letters);
    } else if (reading.form == TermReading::Form::kRewritten) {
      page.line(label + "  stands for" + letters);
    }
    std::string cluster_letters;
    for (const TokenReading& token : reading.tokens) {
      const std::string meaning =
          tokenMeaning(token, reading.source, context,
                       position == context.last_narrow_token);
      ++position;
      if (one) {
        page.wrapped(label + "  ", "      ", meaning);
      } else {
        page.wrapped("      " + fromBytes(token.token) + "  ", "        ",
                     meaning);
      }
      if (reading.form == TermReading::Form::kCluster &&
          token.kind == TokenReading::Kind::kFlagSet) {
        const char* what = token.letter == 't'   ? "rewrites the wide file "
                                                   "through binary.tmp"
                           : token.letter == 'b' ? "sends the output through "
                                                   "binary.tmp"
                           : token.letter == 'F' ? "makes the next plain "
                                                   "argument the narrow file"
                                                 : nullptr;
        if (what != nullptr) {
          cluster_letters += std::string(cluster_letters.empty() ? "" : "; ") +
                             "-" + token.letter + " " + what;
        }
      }
    }
    if (!cluster_letters.empty()) {
      // -S\t left unquoted in a POSIX shell arrives as -St.
      const TokenReading& head = reading.tokens.front();
      const bool lost_escape =
          head.kind == TokenReading::Kind::kCharacterCode && head.value == 0;
      const std::string text = fromBytes(reading.text);
      const std::string escape = text.substr(0, 2) + "\\" + text.substr(2, 1);
      check->warnings.push_back(
          text + " is a cluster of one-letter options, and it holds letters " +
          "that change files: " + cluster_letters +
          (lost_escape ? ". A POSIX shell takes the backslash out of an "
                         "unquoted " +
                             escape + " and leaves " + text + ": write '" +
                             escape + "' in quotes."
                       : ". Was a number or a character meant, as in -j2 or "
                         "'-S\\t'?"));
    }
  }
  page.line();
}

std::string columnText(Column column, const FinalEffects& effects) {
  switch (column) {
    case Column::kPlain:
      return "plain: Field-N as it stands, with the separator that closes it";
    case Column::kFiltered: {
      std::string dropped;
      if (effects.dropControl()) dropped = "control characters";
      if (effects.omitHI()) {
        dropped +=
            std::string(dropped.empty() ? "" : " and ") + "the letters H and I";
      }
      return "filtered: Field-N without " + dropped +
             ", with the separator that closes it";
    }
    case Column::kDecimal:
      return "decimal: the first decimal number of Field-N; one without a "
             "point gets \".\" and " +
             characterName(effects.completionChar());
    case Column::kInteger:
      return "integer: the first integer of Field-N";
  }
  return std::string();
}

void showSettled(const HyphenTerms& terms, const FinalEffects& effects,
                 Column column, Page* page) {
  page->line("Settled options");
  page->item("column", columnText(column, effects));
  bool any_field = false;
  for (const char letter : {'j', 'c', 'o', 'k', 'd', 'e', 'n'}) {
    if (terms.numberValue(letter) != -1) any_field = true;
  }
  page->item("field",
             "Field-" + number(effects.fieldNumber()) +
                 (any_field ? "" : " (no field option in force: the limit)"));
  page->item("separator", characterName(effects.separatorChar()));
  page->item("quote", characterName(effects.quoteChar()) +
                          (effects.quotedSeparatorIgnored()
                               ? "; a separator inside quotes is dropped (-q)"
                               : "; a separator inside quotes is text"));
  page->item("line ends",
             effects.narrowName().empty()
                 ? std::string("CR LF (standard output always has them)")
             : effects.crlfLines() ? std::string("CR LF")
                                   : std::string("LF"));
  page->item("katakana", effects.replaceKatakana()
                             ? "half-width katakana become " +
                                   characterName(effects.katakanaChar())
                             : std::string("kept"));
  page->item("sound marks", effects.dropCombining()
                                ? "half-width voiced sound marks dropped"
                                : "kept");
  page->item("wide file", effects.wideName().empty()
                              ? std::string("none named")
                              : quoted(effects.wideName()));
  page->item("narrow file", effects.narrowName().empty()
                                ? std::string("standard output")
                                : quoted(effects.narrowName()));
  page->line();
}

void showFileSteps(const FinalEffects& effects, const std::string& table,
                   Page* page) {
  const bool out = effects.narrowName().empty();
  const bool temporary =
      !out && (effects.refreshWide() || effects.temporaryRoute());
  std::string not_given;
  const auto step = [&](const char* option, bool given,
                        const std::string& what) {
    if (given) {
      page->item(option, what);
    } else {
      not_given += std::string(not_given.empty() ? "" : " ") + option;
    }
  };
  page->line("What -t, -b, -y and -M do to which file");
  step("-t", effects.refreshWide(),
       out ? "no effect with standard output"
           : quoted(effects.wideName()) +
                 " is copied to binary.tmp, checked, and given this run's "
                 "time; its bytes stay as they are (a file you may not write "
                 "is refused: 193)");
  step("-b", effects.temporaryRoute(),
       out ? "no effect with standard output"
           : "the output is written into binary.tmp, then copied to " +
                 quoted(effects.narrowName()));
  step("-y", effects.keepTemporary(),
       temporary ? "binary.tmp is kept afterwards"
                 : "no effect: no binary.tmp is made");
  if (temporary && !effects.keepTemporary()) {
    page->item("binary.tmp", "removed afterwards (-y would keep it)");
  }
  step("-M", effects.tableReport(),
       "data.txt is emptied, then gets \"" + fromBytes(table) +
           " is primarily accessible to Pelmora.\"" +
           (out ? "; with standard output it is not shown"
                : ", shown at the end"));
  if (!not_given.empty()) page->item("not given", not_given);
  page->line();
}

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
  std::string text = check_text::fromUnits(head);
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

struct Sample {
  bool read = false;
  std::int64_t end = 0;
  std::u16string units;
  SampleFields fields;
  std::string narrow;
};

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

void showTable(const TableSearch& search, Page* page) {
  const std::string fixed =
      platform::fixedTablePath(table_format::kTableFileName);
  page->line("Conversion table");
  const auto where = [&fixed](const std::string& place) {
    if (place == fixed) return " (the fixed place)";
    if (place == table_format::kTableFileName) return " (the current folder)";
    if (place == kTableSettingsFileName) return " (names the table, -K)";
    return "";
  };
  if (search.refusal == 0) {
    page->name("found", quoted(search.found) + where(search.found));
  } else {
    page->item("none",
               search.refusal == 240
                   ? "the table found cannot be read (240)"
                   : "no place holds it (" + number(search.refusal) + ")");
  }
  for (const std::string& place : search.tried) {
    if (place != search.found) {
      page->name("not found", quoted(place) + where(place));
    }
  }
  page->line();
}

int narrowRefusal(const FinalEffects& effects, const Selecting& selecting,
                  Page* page) {
  const std::string name = effects.narrowName();
  if (name.empty()) return 0;
  page->line("Narrow file " + quoted(name));
  platform::File file;
  int refusal = 0;
  if (file.openRead(name) == platform::Status::kOk) {
    refusal = selecting.narrowRefusal(&file, false, name, kSettingsFile);
    if (refusal == 0) page->item("exists", "it will be overwritten");
  } else if (platform::fileExists(name)) {
    refusal = selecting.narrowRefusal(nullptr, true, name, kSettingsFile);
    if (refusal == 0) {
      page->item("exists",
                 "but cannot be read here: a folder, a device, or "
                 "a file you may not read (244 when it may be "
                 "written, 215 when not)");
    }
  } else {
    page->item("missing", "it will be created");
  }
  if (refusal == 243) {
    page->item("refused", "it is the wide file itself (243)");
  } else if (refusal == 244) {
    page->item("refused",
               "it holds an export in a Unicode coding, not an "
               "earlier narrow file: are the names swapped? (244)");
  } else if (refusal == 245) {
    page->item("refused",
               "it is a file the run reads: the table, "
               "set_pelmora.txt, surro.txt or set_dravikson.txt "
               "(245)");
  }
  page->line();
  return refusal;
}

// The slips a first day meets, told from the sample.
void warnAboutSample(const FinalEffects& effects, const Selecting& selecting,
                     Column column, bool table_loaded, const Sample& sample,
                     Check* check) {
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
    check->warnings.push_back(
        std::string("The first line holds tabs and no ") +
        (comma ? "comma" : characterName(separator)) + ", but the separator " +
        "is " + (comma ? "the comma" : characterName(separator)) +
        ": this looks like a tab export, whose lines would each be one "
        "field. Give '-S\\t' (quoted in a POSIX shell), or a line -S\\t in "
        "set_pelmora.txt.");
  }
  if (sample.fields.first_line_left_open && lines.size() > 1) {
    check->warnings.push_back(
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
    check->warnings.push_back(
        field + " is empty or missing on " +
        (lines.size() == 1 ? "the one sampled line"
                           : "every one of the " + count) +
        ": the narrow file would hold empty lines. Check the field number "
        "and the separator.");
  }
  if (closed > 0 && (column == Column::kPlain || column == Column::kFiltered)) {
    check->warnings.push_back(
        field + " is followed by another field on " + number(closed) +
        " of the " + count + ", so those narrow lines end with the separator " +
        characterName(effects.separatorChar()) +
        ": the plain and filtered columns write Field-N with the separator "
        "that closes it.");
  }
  const std::vector<std::u16string>& header = lines.front();
  if (n <= header.size() && !header[n - 1].empty()) {
    check->warnings.push_back(
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
      which += (which.empty() ? "" : ", ") + check_text::fromUnits(units) +
               " " + check_text::codePoint(character);
    }
    check->warnings.push_back(
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
               (line.empty() ? "(empty)" : check_text::fromShiftJis(line)));
  }
  if (shown == 0) page->line("  (none: the sample holds no text)");
}

int derivationCheck(Page* page) {
  page->line(
      "An empty first argument: pelmora derives UTF16~MS932.bin from "
      "MS932~UTF16.bin in this folder and does nothing else.");
  platform::File source;
  const bool readable =
      source.openRead(table_format::kSourceFileName) == platform::Status::kOk;
  page->line(readable ? "MS932~UTF16.bin is here: the derivation would run "
                        "(exit code 0)."
                      : "MS932~UTF16.bin cannot be read here: the derivation "
                        "would fail (209, exit code 1).");
  page->flush();
  return readable ? 0 : 1;
}

int verdict(Check* check, const std::string& text, int exit_code) {
  Page& page = check->page;
  if (!check->warnings.empty()) {
    page.line("Warnings");
    for (const std::string& warning : check->warnings) {
      page.wrapped("  ! ", "    ", warning);
    }
    page.line();
  }
  page.line("Reports the run would leave, one err file each");
  if (check->reports.empty()) page.line("  none");
  for (const std::string& report : check->reports) {
    page.line("  " + fromBytes(report));
  }
  page.line();
  page.line("Verdict");
  page.line("  " + text);
  page.flush();
  return exit_code;
}

}  // namespace

std::string checkUsage() {
  return std::string("pelmora-check ") + kPelmoraVersion +
         "\n"
         "\n"
         "Usage: pelmora-check [pelmora's arguments]\n"
         "\n"
         "Shows how pelmora would read the same arguments in this folder, and\n"
         "what the run would do, without running it: how each argument and\n"
         "each line of set_pelmora.txt is taken, the settled options, what\n"
         "happens to which file, the wide file's coding and first line, the\n"
         "table, the refusal the run would meet, warnings about common slips\n"
         "and the first five narrow lines, as UTF-8. It writes no file.\n"
         "\n"
         "Exit code: 0 when pelmora would convert the wide file, 1 when it\n"
         "would not (a refusal, no table, no wide file, the guide).\n"
         "\n"
         "Example: pelmora-check -j2 '-S\\t' wide.txt narrow.txt\n";
}

int runCheck(const std::vector<std::string>& arguments) {
  Check check;
  Page& page = check.page;
  if (arguments.empty() ||
      (arguments.size() == 1 && arguments[0] == "--help")) {
    page.line(checkUsage().substr(0, checkUsage().size() - 1));
    page.flush();
    return arguments.empty() ? 1 : 0;
  }
  g_check = &check;
  // Reports go to memory: a run that only looks leaves no err file.
  diagnostics::collectReports(&check.reports);
  diagnostics::setStopHook(&onStop);
  page.line(commandLine(arguments));
  page.line();
  if (arguments[0].empty()) return derivationCheck(&page);

  HyphenTerms terms;
  terms.recordReadings();
  terms.prepareTerms(arguments);
  terms.parse();
  const FinalEffects::Values values = settleOptions(terms);
  showReadings(terms, values, &check);
  if (terms.flag('G') || terms.flag('V')) {
    return verdict(&check,
                   std::string("pelmora would show its ") +
                       (terms.flag('G') ? "guide" : "version") +
                       " and write version.txt, converting nothing (exit "
                       "code 1).",
                   1);
  }
  const FinalEffects effects(values);
  const Column column = chooseColumn(effects);
  showSettled(terms, effects, column, &page);
  if (effects.wideName().empty()) {
    return verdict(&check,
                   "No wide file is named: pelmora would show its version "
                   "and convert nothing (exit code 1).",
                   1);
  }
  page.flush();

  Selecting selecting;
  selecting.buildReplacementBytes(effects);
  const TableSearch search =
      selecting.prepareInspection(effects, effects.wideName());
  showFileSteps(effects, search.found, &page);
  Sample sample;
  showWide(effects, &selecting, &sample, &page);
  showTable(search, &page);
  const int narrow_refusal = narrowRefusal(effects, selecting, &page);
  page.flush();

  const bool readable = selecting.wideBytes() >= 0;
  const bool table = search.refusal == 0;
  bool scanned = false;
  if (sample.read) {
    warnAboutSample(effects, selecting, column, table, sample, &check);
    const LineEnd line_end = effects.crlfLines() || effects.narrowName().empty()
                                 ? LineEnd::kCrLf
                                 : LineEnd::kLf;
    scanned = table && selecting.scanToMemory(column, line_end, sample.end,
                                              &sample.narrow);
  }

  // The refusals in the order the run meets them.
  std::string text;
  int exit_code = 1;
  if (readable && selecting.isWorkbook()) {
    check.reports.push_back("Reset() error-246: " + effects.wideName());
    text =
        "pelmora would refuse the workbook (246) and write nothing "
        "(exit code 1): save the sheet as an export first.";
  } else if (search.refusal != 0) {
    check.reports.push_back(search.refusal_message);
    text = "pelmora would stop without a table (" + number(search.refusal) +
           ") and write nothing (exit code 1).";
  } else if (!readable) {
    check.reports.push_back("Reset() error-229: " + effects.wideName());
    text =
        "pelmora would not find the wide file, or could not read it "
        "(229), and would write nothing (exit code -1, 255 in a POSIX "
        "shell). Check the name and the order of the arguments.";
  } else if (narrow_refusal != 0) {
    check.reports.push_back("Rewrite() error-" + number(narrow_refusal) + ": " +
                            effects.narrowName());
    text = "pelmora would refuse the narrow file (" + number(narrow_refusal) +
           ") and write nothing (exit code 1).";
  } else {
    exit_code = 0;
    text = "pelmora would convert " + quoted(effects.wideName()) + " to " +
           (effects.narrowName().empty() ? std::string("standard output")
                                         : quoted(effects.narrowName()));
    // A report such as 214 lets the run go on, but not end as a success.
    text += diagnostics::finishedExitCode() == 0
                ? " (exit code 0)."
                : ", and end with exit code 1 for the number that does not "
                  "fit (214).";
  }
  verdict(&check, text, exit_code);
  // A refused run writes nothing, so it has no lines to show.
  if (scanned && exit_code == 0) {
    page.line();
    showNarrowLines(sample.narrow, &page);
    page.flush();
  }
  return exit_code;
}
