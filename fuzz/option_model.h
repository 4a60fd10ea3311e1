// A plain second reading of the option rules (settings file, token list,
// interpretation, settlement) to check HyphenTerms and settleOptions against.
// It favours being obviously right over being fast.
#ifndef PELMORA_FUZZ_OPTION_MODEL_H_
#define PELMORA_FUZZ_OPTION_MODEL_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "options/final_effect.h"
#include "options/hyphen_term.h"

namespace option_model {

using Values = FinalEffects::Values;

inline constexpr char kFlags[] = "F_KbGVLyD$tMz0Zuqx%p";
inline constexpr char kNumbers[] = "jcokdenP}{";
inline constexpr char kFields[] = "jcokden";

inline bool in(const char* set, char c) {
  return c != '\0' && std::strchr(set, c) != nullptr;
}
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

struct Store {
  std::string tableName, wide, second, fName, underscore;
  std::vector<std::string> tokens;
  std::map<char, bool> flags;
  std::map<char, std::int32_t> numbers;
  // Indexed alike: separator, quote, katakana, completion.
  std::array<std::int32_t, 4> codes{{',', '"', '_', '0'}};
  std::array<std::string, 4> literals{{"_", "_", "_", "_"}};
  bool plainTaken = false;

  bool flag(char c) const { return flags.count(c) != 0 && flags.at(c); }
  std::int32_t number(char c) const {
    return numbers.count(c) != 0 ? numbers.at(c) : -1;
  }
  std::int32_t limit() const { return flag('Z') ? 3071 : 255; }
  std::int32_t field(char c) const {
    return number(c) == -1 ? limit() : number(c);
  }
  std::uint8_t settled(std::size_t option) const {
    if (literals[option] != "_") {
      return static_cast<std::uint8_t>(literals[option][0]);
    }
    return static_cast<std::uint8_t>(codes[option] != 0 ? codes[option] : '_');
  }
};

/// The settings file's first line and its option lines (up to 64, each cut
/// at 256 characters and at a tab, up to the first empty one).
inline std::vector<std::string> settingsLines(const std::string& content,
                                              std::string* table_name) {
  std::vector<std::string> all, lines;
  for (std::size_t start = 0; start < content.size();) {
    const std::size_t end = std::min(content.find('\n', start), content.size());
    std::string line = content.substr(start, end - start);
    // A CR is part of the line end only in front of its LF.
    if (end < content.size() && !line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    all.push_back(line);
    start = end + 1;
  }
  if (!all.empty()) *table_name = all[0];
  for (std::size_t i = 1; i < all.size() && i <= 64; ++i) {
    const std::string line = all[i].substr(0, 256);
    if (line.empty() || line[0] == '\t') break;
    lines.push_back(line.substr(0, line.find('\t')));
  }
  return lines;
}

inline void expand(const std::string& a, std::vector<std::string>* out) {
  static const std::map<std::string, std::vector<std::string>> kWhole = {
      {"-CRLF", {"-0"}},
      {"--help", {"-G"}},
      {"-VC", {"-G"}},
      {"-LF", {"-0-", "-L"}},
      {"--out", {"-F-", "-z"}}};
  if (kWhole.count(a) != 0) {
    out->insert(out->end(), kWhole.at(a).begin(), kWhole.at(a).end());
  } else if (a.size() < 3 || a[0] != '-' || a[2] < ' ' || a[2] > '~' ||
             a[2] == '-' || a[2] == '\\' || isDigit(a[2]) || in("wsah", a[1])) {
    out->push_back(a);
  } else {
    for (std::size_t i = 1; i < a.size(); ++i) out->push_back({'-', a[i]});
  }
}

inline std::int32_t toInteger(const std::string& digits) {
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (!isDigit(c) || value > 2147483647) return -1;
  }
  return digits.empty() ? -1 : static_cast<std::int32_t>(value);
}

inline std::size_t trailingDigits(const std::string& s) {
  std::size_t n = 0;
  while (n < s.size() && isDigit(s[s.size() - 1 - n])) ++n;
  return n;
}

inline std::int32_t escape(const std::string& token) {
  static const std::map<std::string, std::int32_t> kNamed = {
      {"\\A", '<'},  {"\\l", '|'}, {"\\s", ' '},
      {"\\t", '\t'}, {"\\v", '>'}, {"\\\xCD", '<'}};
  const std::string v = token.size() > 2 ? token.substr(2) : std::string();
  if (v.empty()) return 0;
  if (v[0] != '\\') return static_cast<unsigned char>(v[0]);
  if (kNamed.count(v) != 0) return kNamed.at(v);
  if (v[1] != 'x') return ',';
  // Looked up in "x00x01...xFF": what follows the x, up to two characters,
  // must start an entry.
  const std::string want = v.substr(2, 2);
  for (int value = 0; value < 256; ++value) {
    const std::string entry{"0123456789ABCDEF"[value >> 4],
                            "0123456789ABCDEF"[value & 15]};
    if (entry.compare(0, want.size(), want) == 0) return value;
  }
  return 0;
}

inline void interpret(Store& s, const std::string& t) {
  if (t[0] != '-') {
    bool& f = s.flags['F'];
    bool& u = s.flags['_'];
    if (f || u) {
      (f ? s.fName : s.underscore) = t;
      (f ? f : u) = false;
    } else {
      (s.plainTaken ? s.second : s.wide) = t;
      s.plainTaken = true;
    }
    return;
  }
  const char letter = t.size() >= 2 ? t[1] : '\0';
  if (in(kFlags, letter) && (t.size() == 2 || t[2] == '-')) {
    s.flags[letter] = t.size() == 2;
    if (letter == 'F' && t.size() > 2) s.fName.clear();
    if (letter == '_' && t.size() > 2) s.underscore.clear();
    return;
  }
  if (t.size() >= 3 && isDigit(t[2])) {
    const std::size_t n = trailingDigits(t);
    const std::string prefix = t.substr(0, t.size() - n);
    if (prefix.size() == 2 && in(kNumbers, letter)) {
      s.numbers[letter] = toInteger(t.substr(t.size() - n));
      return;
    }
    // A range: -I and -~ are read by nobody; only their being consumed
    // (and the reports of their numbers) matters.
    const std::string core = prefix.substr(0, prefix.size() - 1);
    const std::size_t lower = trailingDigits(core);
    const std::string range =
        lower == 0 ? prefix : core.substr(0, core.size() - lower);
    if (range == "-I" || range == "-~") return;
  }
  if (t.size() >= 3 && (t[2] == '0' || t[2] == '1') &&
      (letter == '@' || letter == 'E')) {
    return;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (letter != "SWAH"[i]) continue;
    s.codes[i] = escape(t);
    if (s.codes[i] != 0) return;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (t.size() >= 3 && letter == "swah"[i]) {
      s.literals[i] = t.substr(2);
      s.codes[i] = 0;
    }
  }
}

inline Store parse(const std::vector<std::string>& arguments, bool settings,
                   const std::string& content) {
  Store s;
  s.tokens.push_back("-0");
  if (settings) {
    for (const std::string& line : settingsLines(content, &s.tableName)) {
      s.tokens.push_back(line);
    }
  }
  for (const std::string& a : arguments) expand(a, &s.tokens);
  for (const std::string& t : s.tokens) {
    if (!t.empty()) interpret(s, t);
  }
  return s;
}

inline Values settle(const Store& s) {
  // The first of the field options "endko" below the limit picks the column.
  using V = Values;
  static bool V::*const kColumns[] = {&V::decimalExtraction,
                                      &V::integerExtraction, &V::dropCombining,
                                      &V::replaceKatakana, &V::dropControl};
  Values v;
  v.dropControl = s.flag('$');
  v.dropCombining = s.flag('%');
  v.replaceKatakana = s.flag('x');
  v.refreshWide = s.flag('t');
  v.keepTemporary = s.flag('y');
  v.noTableSearch = s.flag('D');
  v.omitHI = s.flag('p');
  v.quotedSeparatorIgnored = s.flag('q');
  v.tableFromSettings = s.flag('K');
  v.temporaryRoute = s.flag('b');
  v.tableReport = s.flag('M');
  v.separatorChar = s.settled(0);
  v.quoteChar = s.settled(1);
  v.katakanaChar = s.settled(2);
  v.completionChar = s.settled(3);
  v.narrowName = !s.fName.empty()    ? s.fName
                 : !s.second.empty() ? s.second
                 : s.flag('z')       ? std::string()
                                     : std::string("pelmora.txt");
  v.crlfLines = !s.flag('L') || s.flag('0');
  v.wideName = s.wide;
  const std::int32_t limit = s.limit(), c = s.number('c'), j = s.number('j');
  for (std::size_t i = 0; i < 5; ++i) {
    if (s.field("endko"[i]) < limit) {
      v.*kColumns[i] = true;
      v.fieldNumber = s.field("endko"[i]);
      return v;
    }
  }
  if (c != -1 && c < limit) {
    v.fieldNumber = j != -1 && j < limit ? j : c;
  } else {
    v.fieldNumber = j != -1 ? j : limit;
  }
  return v;
}

inline auto tied(const Values& v) {
  return std::tie(v.crlfLines, v.decimalExtraction, v.integerExtraction,
                  v.fieldNumber, v.wideName, v.refreshWide, v.completionChar,
                  v.katakanaChar, v.omitHI, v.narrowName, v.keepTemporary,
                  v.noTableSearch, v.quoteChar, v.dropControl, v.dropCombining,
                  v.quotedSeparatorIgnored, v.replaceKatakana,
                  v.tableFromSettings, v.separatorChar, v.temporaryRoute,
                  v.tableReport);
}

/// Parses with HyphenTerms (the settings file must already be in place, or
/// absent), settles, and compares every query and value with the model.
inline void check(const std::vector<std::string>& args, bool settings,
                  const std::string& content) {
  using fuzzing::finding;
  const Store want = parse(args, settings, content);
  HyphenTerms terms;
  terms.prepareTerms(args);
  terms.parse();

  if (terms.tokens() != want.tokens) {
    std::string text = "token lists differ:";
    for (const std::string& t : terms.tokens()) text += " [" + t + "]";
    text += "\n  expected:";
    for (const std::string& t : want.tokens) text += " [" + t + "]";
    finding(text);
  }
  if (terms.tableName() != want.tableName) finding("table name differs");
  for (const char* f = kFlags; *f != '\0'; ++f) {
    if (terms.flag(*f) != want.flag(*f))
      finding(std::string("flag -") + *f + " differs");
  }
  if (terms.flag('a') || terms.flag('\0'))
    finding("a flag that does not exist");
  for (const char* n = kNumbers; *n != '\0'; ++n) {
    if (terms.numberValue(*n) != want.number(*n)) {
      finding(std::string("number -") + *n + " is " +
              std::to_string(terms.numberValue(*n)) + ", expected " +
              std::to_string(want.number(*n)));
    }
  }
  for (const char* f = kFields; *f != '\0'; ++f) {
    if (terms.fieldOption(*f) != want.field(*f)) {
      finding(std::string("field option -") + *f + " differs");
    }
  }
  if (terms.fieldOption('P') != -1) finding("-P answered as a field option");
  if (terms.fieldNumberLimit() != want.limit()) finding("field limit differs");
  if (terms.separatorChar() != want.settled(0) ||
      terms.quoteChar() != want.settled(1) ||
      terms.katakanaChar() != want.settled(2) ||
      terms.completionChar() != want.settled(3)) {
    finding("a character option differs");
  }
  if (terms.wideName() != want.wide ||
      terms.secondPlainArgument() != want.second ||
      terms.listName(1) != want.fName || terms.listName(2) != want.underscore) {
    finding("a name (wide, second, -F, -_) differs");
  }
  for (const std::string& t : want.tokens) {
    const std::int32_t code = terms.decodeEscape(t);
    if (code != escape(t)) finding("escape of [" + t + "] differs");
    if (code < 0 || code > 255) finding("escape outside a byte");
  }

  const Values got = settleOptions(terms);
  const Values expected = settle(want);
  if (got.decimalExtraction && got.integerExtraction) {
    finding("both number extractions settled");
  }
  if (tied(got) != tied(expected)) {
    finding("settled values differ (field number " +
            std::to_string(got.fieldNumber) + ", expected " +
            std::to_string(expected.fieldNumber) + ")");
  }
  FinalEffects effects{Values(got)};
  if (effects.fieldNumber() != got.fieldNumber ||
      effects.narrowName() != got.narrowName) {
    finding("FinalEffects does not keep its values");
  }
}

}  // namespace option_model

#endif  // PELMORA_FUZZ_OPTION_MODEL_H_
