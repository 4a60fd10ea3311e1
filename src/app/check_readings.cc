// How pelmora-check tells the readings of the option parser: what each
// token did, in the words of the README's option table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/check_sections.h"
#include "app/check_text.h"
#include "options/final_effect.h"
#include "options/hyphen_term.h"

namespace check_text {
namespace {

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

}  // namespace

// How each argument and settings line was read; warns about clusters that
// hold a letter which changes files.
void showReadings(const HyphenTerms& terms, const FinalEffects::Values& values,
                  const std::vector<std::string>& reports, Page* out,
                  std::vector<std::string>* warnings) {
  Page& page = *out;
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
  for (const std::string& report : reports) {
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
        const char* what = token.letter == 't'   ? "copies the wide file to "
                                                   "binary.tmp and sets its "
                                                   "time"
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
      warnings->push_back(
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

}  // namespace check_text
