#include "options/hyphen_term.h"

#include <array>
#include <cstddef>
#include <utility>

#include "diagnostics/error_text.h"
#include "options/numbered.h"
#include "options/settings_file.h"

namespace {

constexpr const char* kDefaultNarrowName = "pelmora.txt";
// The field-number limit of the options: every field option that was not
// given reads as it, and a field option at or above it chooses no field.
// -Z raises it to the larger one.
constexpr std::int32_t kFieldOptionLimit = 255;
constexpr std::int32_t kFieldOptionLimitWithZ = 3071;

// The twenty flag letters; the flag token is "-" and the letter.
constexpr const char kFlagLetters[] = "F_KbGVLyD$tMz0Zuqx%p";
constexpr std::size_t kFlagCount = sizeof(kFlagLetters) - 1;
// The ten number-option letters.
constexpr const char kNumberLetters[] = "jcokdenP}{";
constexpr std::size_t kNumberCount = sizeof(kNumberLetters) - 1;
// The field options among them.
constexpr const char kFieldLetters[] = "jcokden";

// The four character options, each with its escaped (upper-case) and
// literal (lower-case) letter.
enum CharacterOption : std::size_t {
  SEPARATOR,
  QUOTE,
  KATAKANA,
  COMPLETION,
  kCharacterOptions
};
constexpr const char kEscapedLetters[] = "SWAH";
constexpr const char kLiteralLetters[] = "swah";
// The literal text that means "the lower-case form was not given".
constexpr const char kNotGiven[] = "_";

std::size_t letterIndex(const char* letters, std::size_t count, char letter) {
  for (std::size_t i = 0; i < count; ++i) {
    if (letters[i] == letter) return i;
  }
  return count;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The letter of a two-character option head such as "-j", or 0 (which is
// no option letter).
char headLetter(const std::string& token) {
  return token.size() >= 2 && token[0] == '-' ? token[1] : '\0';
}

struct CharacterValue {
  std::int32_t code;
  std::string literal = kNotGiven;
};

}  // namespace

struct HyphenTerms::Impl {
  std::vector<std::string> arguments;
  std::string printable;
  std::string hexEscapes;

  SettingsFile settings;
  std::vector<std::string> tokens;

  std::array<bool, kFlagCount> flags{};
  std::array<std::int32_t, kNumberCount> numbers{};
  std::array<CharacterValue, kCharacterOptions> characters{
      {{','}, {'"'}, {'_'}, {'0'}}};

  std::string wideName;
  std::string secondPlain;
  std::string fName;
  std::string underscoreName;
  bool plainTaken = false;

  // The readings, kept only when asked for, and for each token the reading
  // it belongs to (kNoReading for the default token).
  bool recording = false;
  std::vector<TermReading> readings;
  std::vector<std::size_t> origins;
  static constexpr std::size_t kNoReading = static_cast<std::size_t>(-1);

  Impl() { numbers.fill(-1); }

  bool& flagOf(char letter) {
    return flags[letterIndex(kFlagLetters, kFlagCount, letter)];
  }

  void buildTokens();
  void expandArgument(const std::string& argument, std::size_t number);
  void addToken(std::string token);
  void startReading(TermReading::Source source, std::size_t number,
                    const std::string& text, TermReading::Form form);
  void interpret(const std::string& token, TokenReading* reading);
  std::int32_t decodeEscape(const std::string& token) const;
  bool takeNumber(const std::string& token);
  bool takeRange(const std::string& token);
  std::uint8_t settle(CharacterOption option) const;
};

void HyphenTerms::ImplDeleter::operator()(Impl* impl) const { delete impl; }

HyphenTerms::HyphenTerms() : impl_(new Impl) {}

void HyphenTerms::prepareTerms(const std::vector<std::string>& arguments) {
  Impl& d = *impl_;
  d.arguments = arguments;

  // Only membership is ever asked of this table; the apostrophe standing
  // last is how the table has always been laid out.
  d.printable.clear();
  for (int c = ' '; c <= '~'; ++c) {
    if (c != '\'') d.printable.push_back(static_cast<char>(c));
  }
  d.printable.push_back('\'');

  // "x00x01...xFF": a \x escape is found by searching its "x" and two
  // digits here, so a lone digit still matches the first entry that begins
  // with it.
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  d.hexEscapes.clear();
  for (unsigned value = 0; value < 256; ++value) {
    d.hexEscapes.push_back('x');
    d.hexEscapes.push_back(kHexDigits[value >> 4]);
    d.hexEscapes.push_back(kHexDigits[value & 0xF]);
  }

  if (arguments.empty() || arguments.front().empty()) {
    diagnostics::report(
        "ParamStr() error-149: ParamStr(1) = EMPTY\r\npelmora --help\r\n");
    diagnostics::stop(1);
  }
}

void HyphenTerms::Impl::startReading(TermReading::Source source,
                                     std::size_t number,
                                     const std::string& text,
                                     TermReading::Form form) {
  if (!recording) return;
  TermReading reading;
  reading.source = source;
  reading.number = number;
  reading.text = text;
  reading.form = form;
  readings.push_back(std::move(reading));
}

void HyphenTerms::Impl::addToken(std::string token) {
  tokens.push_back(std::move(token));
  if (recording) {
    origins.push_back(readings.empty() ? kNoReading : readings.size() - 1);
  }
}

void HyphenTerms::Impl::expandArgument(const std::string& argument,
                                       std::size_t number) {
  using Form = TermReading::Form;
  const auto start = [&](Form form) {
    startReading(TermReading::Source::kArgument, number, argument, form);
  };
  if (argument.size() < 3) {
    start(Form::kWhole);
    addToken(argument);
  } else if (argument == "-CRLF") {
    start(Form::kRewritten);
    addToken("-0");
  } else if (argument == "--help" || argument == "-VC") {
    start(Form::kRewritten);
    addToken("-G");
  } else if (argument == "-LF") {
    // -L alone would still be overruled by the default -0.
    start(Form::kRewritten);
    addToken("-0-");
    addToken("-L");
  } else if (argument == "--out") {
    start(Form::kRewritten);
    addToken("-F-");
    addToken("-z");
  } else if (argument[0] != '-' ||
             printable.find(argument[2]) == std::string::npos ||
             argument[2] == '-' || argument[2] == '\\' ||
             isDigit(argument[2])) {
    start(Form::kWhole);
    addToken(argument);
  } else if (argument.compare(0, 2, "-w") == 0 ||
             argument.compare(0, 2, "-s") == 0 ||
             argument.compare(0, 2, "-a") == 0 ||
             argument.compare(0, 2, "-h") == 0) {
    start(Form::kWhole);
    addToken(argument);
  } else {
    // A cluster of one-letter options, as in -tZ.
    start(Form::kCluster);
    for (std::size_t i = 1; i < argument.size(); ++i) {
      addToken(std::string{'-', argument[i]});
    }
  }
}

void HyphenTerms::Impl::buildTokens() {
  tokens.clear();
  readings.clear();
  origins.clear();
  // CR LF line ends unless the command line clears them.
  addToken("-0");
  using Source = TermReading::Source;
  std::size_t slot = 0;
  for (; slot < settings.lines.size() && !settings.lines[slot].empty();
       ++slot) {
    // Line 1 of the file names a table: option slot 0 is its line 2.
    startReading(Source::kSettingsLine, slot + 2, settings.lines[slot],
                 TermReading::Form::kWhole);
    addToken(settings.lines[slot]);
  }
  // What stands after the first empty line is never read; shown, it tells
  // why an option there has no effect.
  bool unread = false;
  for (std::size_t later = slot + 1; later < settings.lines.size(); ++later) {
    if (settings.lines[later].empty()) continue;
    if (!unread) {
      startReading(Source::kSettingsLine, slot + 2, std::string(),
                   TermReading::Form::kNotRead);
      unread = true;
    }
    startReading(Source::kSettingsLine, later + 2, settings.lines[later],
                 TermReading::Form::kNotRead);
  }
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    expandArgument(arguments[i], i + 1);
  }
}

bool HyphenTerms::Impl::takeNumber(const std::string& token) {
  NumberedTerm term;
  term.splitNumber(token);
  const std::string prefix = term.prefix();
  if (prefix.size() != 2 || prefix[0] != '-') return false;
  const std::size_t index =
      letterIndex(kNumberLetters, kNumberCount, prefix[1]);
  if (index == kNumberCount) return false;
  numbers[index] = term.value();
  return true;
}

bool HyphenTerms::Impl::takeRange(const std::string& token) {
  NumberedTerm term;
  term.splitBounded(token, NumberedTerm::kRangeBound);
  (void)term.splitRange();
  const std::string prefix = term.prefix();
  if (prefix != "-I" && prefix != "-~") return false;
  // No run reads -I or -~, but their numbers are still converted: a bad
  // one is reported (214), lower end first, as it always was.
  (void)term.lowerValue();
  (void)term.value();
  return true;
}

namespace {

// Why no test took a token: the first two characters tell.
TokenReading::Skip skipReason(const std::string& token) {
  using Skip = TokenReading::Skip;
  const char letter = headLetter(token);
  if (letter == '\0' || letter == '-') return Skip::kNoLetter;
  if (letterIndex(kFlagLetters, kFlagCount, letter) < kFlagCount) {
    return Skip::kFlagWithText;
  }
  if (letterIndex(kNumberLetters, kNumberCount, letter) < kNumberCount) {
    return Skip::kNoNumber;
  }
  if (letterIndex(kLiteralLetters, kCharacterOptions, letter) <
      kCharacterOptions) {
    return Skip::kNoCharacter;
  }
  if (letter == '@' || letter == 'E' || letter == 'I' || letter == '~') {
    return Skip::kNoEffect;
  }
  return Skip::kUnknownLetter;
}

}  // namespace

void HyphenTerms::Impl::interpret(const std::string& token,
                                  TokenReading* reading) {
  using Kind = TokenReading::Kind;
  // What the token did, for the reading when one is kept.
  const auto took = [reading](Kind kind, char letter, std::int32_t value) {
    if (reading == nullptr) return;
    reading->kind = kind;
    reading->letter = letter;
    reading->value = value;
  };
  if (token[0] != '-') {
    bool& names_f = flagOf('F');
    bool& names_underscore = flagOf('_');
    if (names_f) {
      fName = token;
      names_f = false;
      took(Kind::kFName, 'F', 0);
    } else if (names_underscore) {
      underscoreName = token;
      names_underscore = false;
      took(Kind::kUnderscoreName, '_', 0);
    } else if (!plainTaken) {
      wideName = token;
      plainTaken = true;
      took(Kind::kWideName, '\0', 0);
    } else {
      secondPlain = token;
      took(Kind::kNarrowName, '\0', 0);
    }
    return;
  }

  const char letter = headLetter(token);
  const std::size_t flag_index = letterIndex(kFlagLetters, kFlagCount, letter);
  if (token.size() == 2 && flag_index < kFlagCount) {
    flags[flag_index] = true;
    took(Kind::kFlagSet, letter, 0);
    return;
  }
  if (token.size() >= 3 && token[2] == '-' && flag_index < kFlagCount) {
    flags[flag_index] = false;
    if (letter == 'F') fName.clear();
    if (letter == '_') underscoreName.clear();
    took(Kind::kFlagCleared, letter, 0);
    return;
  }
  if (token.size() >= 3 && isDigit(token[2])) {
    if (takeNumber(token)) {
      took(Kind::kNumber, letter,
           numbers[letterIndex(kNumberLetters, kNumberCount, letter)]);
      return;
    }
    if (takeRange(token)) {
      took(Kind::kRange, letter, 0);
      return;
    }
  }
  // The bit strings -@ and -E are read by no run; like every other token
  // nothing below takes, they are skipped.
  const std::size_t escaped =
      letterIndex(kEscapedLetters, kCharacterOptions, letter);
  if (escaped < kCharacterOptions) {
    const std::int32_t code = decodeEscape(token);
    characters[escaped].code = code;
    took(Kind::kCharacterCode, letter, code);
    // A zero code stays stored and the token goes on to the literal test,
    // which no upper-case head can pass.
    if (code != 0) return;
  }
  const std::size_t literal =
      letterIndex(kLiteralLetters, kCharacterOptions, letter);
  if (token.size() >= 3 && literal < kCharacterOptions) {
    characters[literal].literal = token.substr(2);
    characters[literal].code = 0;
    took(Kind::kCharacterText, letter, static_cast<unsigned char>(token[2]));
    return;
  }
  // Anything else is skipped without a word.
  if (reading != nullptr && escaped == kCharacterOptions) {
    reading->letter = letter;
    reading->skip = skipReason(token);
  }
}

void HyphenTerms::parse() { parse(readSettingsFile()); }

void HyphenTerms::parse(SettingsFile settings) {
  Impl& d = *impl_;
  d.settings = std::move(settings);
  d.buildTokens();
  for (std::size_t i = 0; i < d.tokens.size(); ++i) {
    const std::string& token = d.tokens[i];
    const std::size_t origin = d.recording ? d.origins[i] : Impl::kNoReading;
    if (origin == Impl::kNoReading) {
      if (!token.empty()) d.interpret(token, nullptr);
      continue;
    }
    TokenReading reading;
    reading.token = token;
    if (token.empty()) {
      reading.skip = TokenReading::Skip::kEmpty;
    } else {
      d.interpret(token, &reading);
    }
    d.readings[origin].tokens.push_back(std::move(reading));
  }
}

void HyphenTerms::recordReadings() { impl_->recording = true; }

const std::vector<TermReading>& HyphenTerms::readings() const {
  return impl_->readings;
}

std::int32_t HyphenTerms::decodeEscape(const std::string& token) const {
  return impl_->decodeEscape(token);
}

std::int32_t HyphenTerms::Impl::decodeEscape(const std::string& token) const {
  const std::string v = token.size() > 2 ? token.substr(2) : std::string();
  if (v.empty()) return 0;
  if (v[0] != '\\') return static_cast<unsigned char>(v[0]);
  if (v == "\\A") return '<';
  if (v == "\\l") return '|';
  if (v == "\\s") return ' ';
  if (v == "\\t") return '\t';
  if (v == "\\v") return '>';
  if (v.size() >= 2 && v[1] == 'x') {
    const std::size_t at = hexEscapes.find(v.substr(1, 3));
    return at == std::string::npos ? 0 : static_cast<std::int32_t>(at / 3);
  }
  if (v == "\\\xCD") return '<';
  return ',';
}

std::uint8_t HyphenTerms::Impl::settle(CharacterOption option) const {
  const CharacterValue& value = characters[option];
  if (value.literal != kNotGiven && !value.literal.empty()) {
    return static_cast<std::uint8_t>(value.literal[0]);
  }
  if (value.code != 0) return static_cast<std::uint8_t>(value.code);
  return static_cast<std::uint8_t>(kNotGiven[0]);
}

bool HyphenTerms::flag(char letter) const {
  const std::size_t index = letterIndex(kFlagLetters, kFlagCount, letter);
  return index < kFlagCount && impl_->flags[index];
}

std::int32_t HyphenTerms::numberValue(char letter) const {
  const std::size_t index = letterIndex(kNumberLetters, kNumberCount, letter);
  return index < kNumberCount ? impl_->numbers[index] : -1;
}

std::int32_t HyphenTerms::fieldOption(char letter) const {
  const std::size_t fields = sizeof(kFieldLetters) - 1;
  if (letterIndex(kFieldLetters, fields, letter) == fields) return -1;
  const std::int32_t value = numberValue(letter);
  return value == -1 ? fieldNumberLimit() : value;
}

std::int32_t HyphenTerms::fieldNumberLimit() const {
  return flag('Z') ? kFieldOptionLimitWithZ : kFieldOptionLimit;
}

std::uint8_t HyphenTerms::completionChar() const {
  return impl_->settle(COMPLETION);
}
std::uint8_t HyphenTerms::katakanaChar() const {
  return impl_->settle(KATAKANA);
}
std::uint8_t HyphenTerms::quoteChar() const { return impl_->settle(QUOTE); }
std::uint8_t HyphenTerms::separatorChar() const {
  return impl_->settle(SEPARATOR);
}

const std::string& HyphenTerms::wideName() const { return impl_->wideName; }
const std::string& HyphenTerms::secondPlainArgument() const {
  return impl_->secondPlain;
}
const std::string& HyphenTerms::tableName() const {
  return impl_->settings.table_name;
}

std::string HyphenTerms::listName(int i) const {
  if (i < 1) {
    diagnostics::report("listName() error-144: " + std::to_string(i));
    return std::string();
  }
  if (i > 2) {
    diagnostics::report("listName() error-145: " + std::to_string(i));
    return std::string();
  }
  return i == 1 ? impl_->fName : impl_->underscoreName;
}

std::string HyphenTerms::defaultListName() {
  Impl& d = *impl_;
  if (d.secondPlain.empty()) {
    d.secondPlain = flag('z') ? std::string() : std::string(kDefaultNarrowName);
  }
  return d.secondPlain;
}

const std::vector<std::string>& HyphenTerms::tokens() const {
  return impl_->tokens;
}
