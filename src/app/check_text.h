// What pelmora-check prints is UTF-8 whatever it shows: file names and
// options as the system passed them (bytes of code page 932 on Windows, any
// bytes on Linux), the wide file's units and the narrow file's Shift_JIS.
#ifndef PELMORA_APP_CHECK_TEXT_H_
#define PELMORA_APP_CHECK_TEXT_H_

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

}  // namespace check_text

#endif  // PELMORA_APP_CHECK_TEXT_H_
