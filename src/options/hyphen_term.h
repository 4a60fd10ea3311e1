// HyphenTerms: the option store, from set_pelmora.txt and the command line.
// The parse has two phases: a flat token list, then its interpretation.
#ifndef PELMORA_OPTIONS_HYPHEN_TERM_H_
#define PELMORA_OPTIONS_HYPHEN_TERM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "options/settings_file.h"

/// How the parse took one token. Kept only when recordReadings() asked for
/// it: pelmora-check shows it; a run of pelmora reads none of it.
struct TokenReading {
  enum class Kind {
    kWideName,        ///< the first plain argument
    kNarrowName,      ///< a later plain argument: the last one is the narrow
    kFName,           ///< the plain argument after -F: the narrow file
    kUnderscoreName,  ///< the plain argument after -_, which nothing reads
    kFlagSet,         ///< `letter` set
    kFlagCleared,     ///< `letter` cleared by a "-" after it
    kNumber,          ///< number option `letter`; `value`, -1 after 214
    kRange,           ///< -I or -~, which no run reads
    kCharacterCode,   ///< -S -W -A -H: `value` the code, 0 for none
    kCharacterText,   ///< -s -w -a -h: `value` the first byte of the text
    kSkipped,         ///< no test took it; `skip` says why
  };
  /// Why a token was skipped.
  enum class Skip {
    kNone,
    kEmpty,          ///< an empty argument
    kNoLetter,       ///< "-" or "--": no option letter
    kFlagWithText,   ///< a flag letter followed by more than "-"
    kNoNumber,       ///< a number letter without digits right after it
    kNoCharacter,    ///< -s -w -a -h without the character
    kNoEffect,       ///< -@, -E, or -I and -~ without a range: read by no run
    kUnknownLetter,  ///< no option has that letter (options are
                     ///< case-sensitive)
  };
  std::string token;
  Kind kind = Kind::kSkipped;
  char letter = '\0';
  std::int32_t value = 0;
  Skip skip = Skip::kNone;
};

/// How one argument, or one option line of set_pelmora.txt, was read: the
/// tokens it became, in order, and how each was taken.
struct TermReading {
  enum class Source { kSettingsLine, kArgument };
  enum class Form {
    kWhole,      ///< one token, as written
    kRewritten,  ///< -CRLF, --help, -VC, -LF, --out: the tokens they stand for
    kCluster,    ///< one-letter options, one token per letter after the "-"
    kNotRead,    ///< a settings line after the first empty one
  };
  Source source = Source::kArgument;
  /// The argument's place from 1, or the line of set_pelmora.txt (from 2).
  std::size_t number = 0;
  std::string text;
  Form form = Form::kWhole;
  std::vector<TokenReading> tokens;
};

/// Holds the command line as parsed. Nothing on the command line is ever
/// rejected: unknown tokens are skipped, later tokens override earlier ones.
class HyphenTerms {
 public:
  HyphenTerms();
  HyphenTerms(const HyphenTerms&) = delete;
  HyphenTerms& operator=(const HyphenTerms&) = delete;

  /// Keeps the arguments (argv without the program name) and builds the
  /// printable and hexadecimal-escape tables. An empty first argument is
  /// refused: error 149 is reported and the program stops with exit code 1.
  void prepareTerms(const std::vector<std::string>& arguments);

  /// Builds the token list from the settings and the arguments, and
  /// interprets it.
  void parse(SettingsFile settings);
  /// The same with set_pelmora.txt as read from the working folder.
  void parse();

  /// One flag by its letter: one of F _ K b G V L y D $ t M z 0 Z u q x % p.
  bool flag(char letter) const;
  /// A number option by its letter (j c o k d e n P } {): its value,
  /// -1 when it was not given or did not convert.
  std::int32_t numberValue(char letter) const;
  /// A field option (j c o k d e n): its value, or the field-number limit
  /// when it was not given.
  std::int32_t fieldOption(char letter) const;
  /// 3071 with -Z, else 255.
  std::int32_t fieldNumberLimit() const;

  /// Settled bytes of the four character options.
  std::uint8_t completionChar() const;  // -H / -h
  std::uint8_t katakanaChar() const;    // -A / -a
  std::uint8_t quoteChar() const;       // -W / -w
  std::uint8_t separatorChar() const;   // -S / -s

  const std::string& wideName() const;
  const std::string& secondPlainArgument() const;
  /// The settings file's first line; nothing else reads it.
  const std::string& tableName() const;
  /// i = 1: the -F name; i = 2: the -_ name; any other i reports error 144
  /// (i < 1) or 145 (i > 2) and gives an empty text.
  std::string listName(int i) const;
  /// The narrow-file name when -F named none: the second plain argument, or
  /// when there is none, "" with -z and "pelmora.txt" without.
  std::string defaultListName();

  /// The token list after phase 1 (for tests).
  const std::vector<std::string>& tokens() const;

  /// Makes parse() keep how it read each argument and each settings line,
  /// in the order they were read: the settings lines first, the first empty
  /// one included, then the arguments.
  void recordReadings();
  /// What parse() kept; empty without recordReadings().
  const std::vector<TermReading>& readings() const;

  /// The escape decoding of the upper-case character options (-S, -W, -A,
  /// -H): the byte code of the token from its third character on.
  std::int32_t decodeEscape(const std::string& token) const;

 private:
  struct Impl;
  struct ImplDeleter {
    void operator()(Impl* impl) const;
  };
  std::unique_ptr<Impl, ImplDeleter> impl_;
};

#endif  // PELMORA_OPTIONS_HYPHEN_TERM_H_
