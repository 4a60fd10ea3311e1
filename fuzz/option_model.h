// A plain second reading of the option rules, for the option fuzz targets.
// It covers the settings file, the token list, the token interpretation and
// the settlement, to check HyphenTerms and settleOptions against. It favours
// being obviously right over being fast.
#ifndef PELMORA_FUZZ_OPTION_MODEL_H_
#define PELMORA_FUZZ_OPTION_MODEL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "options/final_effect.h"
#include "options/hyphen_term.h"

namespace option_model {

inline constexpr char kFlags[] = "F_KbGVLyD$tMz0Zuqx%p";
inline constexpr char kNumbers[] = "jcokdenP}{";

struct Store {
  std::string tableName;
  std::vector<std::string> tokens;
  std::array<bool, 20> flags{};
  std::array<std::int32_t, 10> numbers{};
  // separator, quote, katakana, completion
  std::array<std::int32_t, 4> codes{{',', '"', '_', '0'}};
  std::array<std::string, 4> literals{{"_", "_", "_", "_"}};
  std::string wide, second, fName, underscore;
  bool plainTaken = false;

  Store() { numbers.fill(-1); }

  static int flagIndex(char c) {
    for (int i = 0; i < 20; ++i) {
      if (kFlags[i] == c) return i;
    }
    return -1;
  }
  static int numberIndex(char c) {
    for (int i = 0; i < 10; ++i) {
      if (kNumbers[i] == c) return i;
    }
    return -1;
  }
  bool flag(char c) const {
    const int i = flagIndex(c);
    return i >= 0 && flags[static_cast<std::size_t>(i)];
  }
  std::int32_t limit() const { return flag('Z') ? 3071 : 255; }
  std::int32_t number(char c) const {
    const int i = numberIndex(c);
    return i >= 0 ? numbers[static_cast<std::size_t>(i)] : -1;
  }
  std::int32_t field(char c) const {
    const std::int32_t value = number(c);
    return value == -1 ? limit() : value;
  }
  std::uint8_t settled(std::size_t option) const {
    if (literals[option] != "_") {
      return static_cast<std::uint8_t>(literals[option][0]);
    }
    if (codes[option] != 0) return static_cast<std::uint8_t>(codes[option]);
    return '_';
  }
};

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// The settings file's option lines (up to 64, up to the first empty one)
/// and its first line; `present` false means no file.
inline std::vector<std::string> settingsLines(bool present,
                                              const std::string& content,
                                              std::string* table_name) {
  std::vector<std::string> lines;
  table_name->clear();
  if (!present) return lines;
  std::vector<std::string> all;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    std::string line;
    if (end == std::string::npos) {
      line = content.substr(start);
      start = content.size();
    } else {
      line = content.substr(start, end - start);
      // A CR is part of the line end only in front of its LF.
      if (!line.empty() && line.back() == '\r') line.pop_back();
      start = end + 1;
    }
    all.push_back(line);
  }
  if (all.empty()) return lines;
  *table_name = all[0];
  for (std::size_t i = 1; i < all.size() && i <= 64; ++i) {
    std::string line = all[i].substr(0, 256);
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) line.resize(tab);
    if (line.empty()) break;
    lines.push_back(line);
  }
  return lines;
}

inline void expand(const std::string& a, std::vector<std::string>* out) {
  if (a.size() < 3) {
    out->push_back(a);
  } else if (a == "-CRLF") {
    out->push_back("-0");
  } else if (a == "--help" || a == "-VC") {
    out->push_back("-G");
  } else if (a == "-LF") {
    out->push_back("-0-");
    out->push_back("-L");
  } else if (a == "--out") {
    out->push_back("-F-");
    out->push_back("-z");
  } else if (a[0] != '-') {
    out->push_back(a);
  } else if (a[2] < ' ' || a[2] > '~') {  // not printable ASCII
    out->push_back(a);
  } else if (a[2] == '-' || a[2] == '\\' || isDigit(a[2])) {
    out->push_back(a);
  } else if (a[1] == 'w' || a[1] == 's' || a[1] == 'a' || a[1] == 'h') {
    out->push_back(a);
  } else {
    for (std::size_t i = 1; i < a.size(); ++i) {
      out->push_back(std::string("-") + a[i]);
    }
  }
}

inline std::int32_t toInteger(const std::string& digits) {
  if (digits.empty()) return -1;
  std::int64_t value = 0;
  for (char c : digits) {
    if (!isDigit(c)) return -1;
    value = value * 10 + (c - '0');
    if (value > 2147483647) return -1;
  }
  return static_cast<std::int32_t>(value);
}

inline std::size_t trailingDigits(const std::string& s) {
  std::size_t n = 0;
  while (n < s.size() && isDigit(s[s.size() - 1 - n])) ++n;
  return n;
}

inline std::int32_t escape(const std::string& token) {
  const std::string v = token.size() > 2 ? token.substr(2) : std::string();
  if (v.empty()) return 0;
  if (v[0] != '\\') return static_cast<unsigned char>(v[0]);
  if (v == "\\A") return '<';
  if (v == "\\l") return '|';
  if (v == "\\s") return ' ';
  if (v == "\\t") return '\t';
  if (v == "\\v") return '>';
  if (v.size() >= 2 && v[1] == 'x') {
    // Looked up in "x00x01...xFF": what follows the x, up to two
    // characters, must start an entry.
    static const char hex[] = "0123456789ABCDEF";
    const std::string want = v.substr(2, 2);
    for (int value = 0; value < 256; ++value) {
      const std::string entry{hex[value >> 4], hex[value & 15]};
      if (entry.compare(0, want.size(), want) == 0) return value;
    }
    return 0;
  }
  if (v == "\\\xCD") return '<';
  return ',';
}

inline void interpret(Store& s, const std::string& t) {
  if (t[0] != '-') {
    bool& f = s.flags[static_cast<std::size_t>(Store::flagIndex('F'))];
    bool& u = s.flags[static_cast<std::size_t>(Store::flagIndex('_'))];
    if (f) {
      s.fName = t;
      f = false;
    } else if (u) {
      s.underscore = t;
      u = false;
    } else if (!s.plainTaken) {
      s.wide = t;
      s.plainTaken = true;
    } else {
      s.second = t;
    }
    return;
  }
  const int flag = t.size() >= 2 ? Store::flagIndex(t[1]) : -1;
  if (t.size() == 2 && flag >= 0) {
    s.flags[static_cast<std::size_t>(flag)] = true;
    return;
  }
  if (t.size() >= 3 && t[2] == '-' && flag >= 0) {
    s.flags[static_cast<std::size_t>(flag)] = false;
    if (t[1] == 'F') s.fName.clear();
    if (t[1] == '_') s.underscore.clear();
    return;
  }
  if (t.size() >= 3 && isDigit(t[2])) {
    const std::size_t n = trailingDigits(t);
    const std::string prefix = t.substr(0, t.size() - n);
    const int number = prefix.size() == 2 ? Store::numberIndex(prefix[1]) : -1;
    if (prefix.size() == 2 && number >= 0) {
      s.numbers[static_cast<std::size_t>(number)] =
          toInteger(t.substr(t.size() - n));
      return;
    }
    // A range: -I and -~ are read by nobody; only their being consumed
    // (and the reports of their numbers) matters.
    const std::string core =
        prefix.empty() ? std::string() : prefix.substr(0, prefix.size() - 1);
    const std::size_t lower = trailingDigits(core);
    const std::string range_prefix =
        lower == 0 ? prefix : core.substr(0, core.size() - lower);
    if (range_prefix == "-I" || range_prefix == "-~") return;
  }
  if (t.size() >= 3 && (t[2] == '0' || t[2] == '1') &&
      (t[1] == '@' || t[1] == 'E')) {
    return;
  }
  static const char escaped[] = "SWAH";
  static const char literal[] = "swah";
  for (std::size_t i = 0; i < 4; ++i) {
    if (t.size() >= 2 && t[1] == escaped[i]) {
      s.codes[i] = escape(t);
      if (s.codes[i] != 0) return;
    }
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (t.size() >= 3 && t[1] == literal[i]) {
      s.literals[i] = t.substr(2);
      s.codes[i] = 0;
    }
  }
}

inline Store parse(const std::vector<std::string>& arguments, bool settings,
                   const std::string& content) {
  Store s;
  const std::vector<std::string> lines =
      settingsLines(settings, content, &s.tableName);
  s.tokens.push_back("-0");
  for (const std::string& line : lines) s.tokens.push_back(line);
  for (const std::string& a : arguments) expand(a, &s.tokens);
  for (const std::string& t : s.tokens) {
    if (!t.empty()) interpret(s, t);
  }
  return s;
}

inline FinalEffects::Values settle(const Store& s) {
  FinalEffects::Values v;
  const std::int32_t limit = s.limit();
  v.completionChar = s.settled(3);
  v.katakanaChar = s.settled(2);
  v.quoteChar = s.settled(1);
  v.separatorChar = s.settled(0);
  v.dropControl = s.flag('$');
  v.dropCombining = s.flag('%');
  v.replaceKatakana = s.flag('x');
  if (s.field('e') < limit) {
    v.decimalExtraction = true;
    v.fieldNumber = s.field('e');
  } else if (s.field('n') < limit) {
    v.integerExtraction = true;
    v.fieldNumber = s.field('n');
  } else if (s.field('d') < limit) {
    v.dropCombining = true;
    v.fieldNumber = s.field('d');
  } else if (s.field('k') < limit) {
    v.replaceKatakana = true;
    v.fieldNumber = s.field('k');
  } else if (s.field('o') < limit) {
    v.dropControl = true;
    v.fieldNumber = s.field('o');
  } else if (s.number('c') != -1 && s.number('c') < limit) {
    v.fieldNumber = s.number('j') != -1 && s.number('j') < limit
                        ? s.number('j')
                        : s.number('c');
  } else {
    v.fieldNumber = s.number('j') != -1 ? s.number('j') : limit;
  }
  if (!s.fName.empty()) {
    v.narrowName = s.fName;
  } else if (!s.second.empty()) {
    v.narrowName = s.second;
  } else {
    v.narrowName = s.flag('z') ? std::string() : std::string("pelmora.txt");
  }
  v.crlfLines = !s.flag('L') || s.flag('0');
  v.refreshWide = s.flag('t');
  v.keepTemporary = s.flag('y');
  v.noTableSearch = s.flag('D');
  v.omitHI = s.flag('p');
  v.quotedSeparatorIgnored = s.flag('q');
  v.tableFromSettings = s.flag('K');
  v.temporaryRoute = s.flag('b');
  v.tableReport = s.flag('M');
  v.wideName = s.wide;
  return v;
}

/// Parses with HyphenTerms (the settings file must already be in place, or
/// absent), settles, and compares every query and value with the model.
inline void check(const char* target, const std::vector<std::string>& args,
                  bool settings, const std::string& content) {
  const Store want = parse(args, settings, content);
  const FinalEffects::Values settled_want = settle(want);

  HyphenTerms terms;
  terms.prepareTerms(args);
  terms.parse();
  auto fail = [target](const std::string& what) {
    fuzzing::finding(target, what);
  };

  if (terms.tokens() != want.tokens) {
    std::string text = "token lists differ:";
    for (const std::string& t : terms.tokens()) text += " [" + t + "]";
    text += "\n  expected:";
    for (const std::string& t : want.tokens) text += " [" + t + "]";
    fail(text);
  }
  if (terms.tableName() != want.tableName) fail("table name differs");
  for (const char* f = kFlags; *f != '\0'; ++f) {
    if (terms.flag(*f) != want.flag(*f)) {
      fail(std::string("flag -") + *f + " differs");
    }
  }
  if (terms.flag('a') || terms.flag('\0')) fail("a flag that does not exist");
  for (const char* n = kNumbers; *n != '\0'; ++n) {
    if (terms.numberValue(*n) != want.number(*n)) {
      fail(std::string("number -") + *n + " is " +
           std::to_string(terms.numberValue(*n)) + ", expected " +
           std::to_string(want.number(*n)));
    }
  }
  for (char f : std::string("jcokden")) {
    if (terms.fieldOption(f) != want.field(f)) {
      fail(std::string("field option -") + f + " differs");
    }
  }
  if (terms.fieldOption('P') != -1) fail("-P answered as a field option");
  if (terms.fieldNumberLimit() != want.limit()) fail("field limit differs");
  if (terms.separatorChar() != want.settled(0) ||
      terms.quoteChar() != want.settled(1) ||
      terms.katakanaChar() != want.settled(2) ||
      terms.completionChar() != want.settled(3)) {
    fail("a character option differs");
  }
  if (terms.wideName() != want.wide) fail("wide name differs");
  if (terms.secondPlainArgument() != want.second) fail("second name differs");
  if (terms.listName(1) != want.fName) fail("-F name differs");
  if (terms.listName(2) != want.underscore) fail("-_ name differs");
  for (const std::string& t : want.tokens) {
    const std::int32_t code = terms.decodeEscape(t);
    if (code != escape(t)) fail("escape of [" + t + "] differs");
    if (code < 0 || code > 255) fail("escape outside a byte");
  }

  const FinalEffects::Values got = settleOptions(terms);
  const FinalEffects::Values& w = settled_want;
  if (got.decimalExtraction && got.integerExtraction) {
    fail("both number extractions settled");
  }
  if (got.crlfLines != w.crlfLines) {
    fail("line ends differ");
  }
  if (got.decimalExtraction != w.decimalExtraction ||
      got.integerExtraction != w.integerExtraction ||
      got.dropControl != w.dropControl ||
      got.dropCombining != w.dropCombining ||
      got.replaceKatakana != w.replaceKatakana) {
    fail("column flags differ");
  }
  if (got.fieldNumber != w.fieldNumber) {
    fail("field number " + std::to_string(got.fieldNumber) + ", expected " +
         std::to_string(w.fieldNumber));
  }
  if (got.wideName != w.wideName || got.narrowName != w.narrowName) {
    fail("file names differ");
  }
  if (got.completionChar != w.completionChar ||
      got.katakanaChar != w.katakanaChar || got.quoteChar != w.quoteChar ||
      got.separatorChar != w.separatorChar) {
    fail("settled characters differ");
  }
  if (got.refreshWide != w.refreshWide ||
      got.keepTemporary != w.keepTemporary ||
      got.noTableSearch != w.noTableSearch || got.omitHI != w.omitHI ||
      got.quotedSeparatorIgnored != w.quotedSeparatorIgnored ||
      got.tableFromSettings != w.tableFromSettings ||
      got.temporaryRoute != w.temporaryRoute ||
      got.tableReport != w.tableReport) {
    fail("plain flags differ");
  }
  FinalEffects effects{FinalEffects::Values(got)};
  if (effects.fieldNumber() != got.fieldNumber ||
      effects.narrowName() != got.narrowName) {
    fail("FinalEffects does not keep its values");
  }
}

}  // namespace option_model

#endif  // PELMORA_FUZZ_OPTION_MODEL_H_
