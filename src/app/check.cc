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

#include "app/check_sections.h"
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
using check_text::number;
using check_text::Page;
using check_text::quoted;
using check_text::Sample;

struct Check {
  Page page;
  std::vector<std::string> reports;
  std::vector<std::string> warnings;
};

Check* g_check = nullptr;

// The shared code stopped, as it stops a run: the run would end here too.
void onStop();

// While a check runs, the reports of the shared code go to it (a run that
// only looks leaves no err file), and a stop shows what was found.
class Collecting {
 public:
  explicit Collecting(Check* check) {
    g_check = check;
    diagnostics::collectReports(&check->reports);
    diagnostics::setStopHook(&onStop);
  }
  ~Collecting() {
    diagnostics::setStopHook(nullptr);
    diagnostics::collectReports(nullptr);
    g_check = nullptr;
  }
  Collecting(const Collecting&) = delete;
  Collecting& operator=(const Collecting&) = delete;
};

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

std::string commandLine(const std::vector<std::string>& arguments) {
  std::string text = "pelmora";
  for (const std::string& argument : arguments) {
    const bool plain = !argument.empty() &&
                       argument.find_first_of(" \t\"'") == std::string::npos;
    text += " " + (plain ? fromBytes(argument) : quoted(argument));
  }
  return text;
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
  page.wrapped("  ", "  ", text);
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
  const Collecting collecting(&check);
  page.line(commandLine(arguments));
  page.line();
  if (arguments[0].empty()) return derivationCheck(&page);

  HyphenTerms terms;
  terms.recordReadings();
  terms.prepareTerms(arguments);
  terms.parse();
  const FinalEffects::Values values = settleOptions(terms);
  check_text::showReadings(terms, values, check.reports, &page,
                           &check.warnings);
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
  // What the run reports from here on depends on where it stops.
  const auto before_preparation =
      static_cast<std::ptrdiff_t>(check.reports.size());
  const TableSearch search =
      selecting.prepareInspection(effects, effects.wideName());
  showFileSteps(effects, search.found, &page);
  Sample sample;
  check_text::showWide(effects, &selecting, &sample, &page);
  showTable(search, &page);
  const int narrow_refusal = narrowRefusal(effects, selecting, &page);
  page.flush();

  const bool readable = selecting.wideBytes() >= 0;
  const bool table = search.refusal == 0;
  bool scanned = false;
  if (sample.read) {
    check_text::warnAboutSample(effects, selecting, column, table, sample,
                                &check.warnings);
    const LineEnd line_end = effects.crlfLines() || effects.narrowName().empty()
                                 ? LineEnd::kCrLf
                                 : LineEnd::kLf;
    scanned = table && selecting.scanToMemory(column, line_end, sample.end,
                                              &sample.narrow);
  }

  // The refusals in the order the run meets them, with the reports it
  // would make up to there.
  std::string text;
  int exit_code = 1;
  std::vector<std::string>& reports = check.reports;
  if (readable && selecting.isWorkbook()) {
    // Refused before the table is looked for.
    reports.resize(static_cast<std::size_t>(before_preparation));
    reports.push_back("Reset() error-246: " + effects.wideName());
    text =
        "pelmora would refuse the workbook (246) and write nothing "
        "(exit code 1): save the sheet as an export first.";
  } else if (search.refusal != 0) {
    if (!readable) {
      reports.insert(reports.begin() + before_preparation,
                     {"Reset() error-229: " + effects.wideName(),
                      "SetLength() error-222: -1"});
    }
    reports.push_back(search.refusal_message);
    text = "pelmora would stop without a table (" + number(search.refusal) +
           ") and write nothing (exit code 1).";
  } else if (!readable) {
    // Reported before the table search, which still runs.
    reports.insert(reports.begin() + before_preparation,
                   {"Reset() error-229: " + effects.wideName(),
                    "SetLength() error-222: -1"});
    text =
        "pelmora would not find the wide file, or could not read it "
        "(229), and would write nothing (exit code -1, 255 in a POSIX "
        "shell). Check the name and the order of the arguments.";
  } else if (narrow_refusal != 0) {
    reports.push_back("Rewrite() error-" + number(narrow_refusal) + ": " +
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
    check_text::showNarrowLines(sample.narrow, &page);
    page.flush();
  }
  return exit_code;
}
