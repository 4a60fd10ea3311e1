// What pelmora-check prints is UTF-8 whatever it shows: file names and
// options as the system passed them (bytes of code page 932 on Windows, any
// bytes on Linux), the wide file's units and the narrow file's Shift_JIS.
#ifndef PELMORA_APP_CHECK_TEXT_H_
#define PELMORA_APP_CHECK_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace check_text {

/// Code units as UTF-8: a pair as its character, an unpaired surrogate as
/// U+FFFD, a tab as <TAB> and any other control character as <xNN>, so
/// that nothing shown moves the terminal.
std::string fromUnits(const std::u16string& units);

/// Bytes the system passed (an argument, a settings line, a file name): as
/// they stand when they are UTF-8, else read as Shift_JIS (code page 932,
/// the ANSI code page of a Japanese Windows); control characters as above.
std::string fromBytes(const std::string& bytes);

/// Narrow bytes (Shift_JIS) as UTF-8, control characters as above.
std::string fromShiftJis(const std::string& bytes);

/// One option byte as a reader knows it: "\",\" (comma)", "tab", "byte
/// 0x80".
std::string characterName(std::uint8_t byte);

/// "U+20B9F".
std::string codePoint(std::uint32_t value);

/// A name or a text in double quotes, as fromBytes() shows it.
std::string quoted(const std::string& bytes);

/// A count or a value in decimal.
template <class Integer>
std::string number(Integer value) {
  return std::to_string(value);
}

/// What pelmora-check prints, held until flush() and printed section by
/// section, so that a stop inside the shared code (a surro.txt number that
/// stops every run) still leaves what was found up to it on the screen.
class Page {
 public:
  void line(const std::string& text = std::string()) {
    text_ += text;
    text_ += '\n';
  }
  /// A labelled line, its text wrapped under itself.
  void item(const std::string& label, const std::string& text);
  /// A labelled line never wrapped, for a name: where a name is cut, the
  /// reader cannot tell.
  void name(const std::string& label, const std::string& text);
  /// Text wrapped at blanks to kWidth characters, the first line after
  /// `first`, the others after `next`.
  void wrapped(const std::string& first, const std::string& next,
               const std::string& text);
  /// Writes what is held to standard output.
  void flush();

 private:
  std::string text_;
};

}  // namespace check_text

#endif  // PELMORA_APP_CHECK_TEXT_H_
