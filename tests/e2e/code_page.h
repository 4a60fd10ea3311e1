// Cases give arguments and file names as the code page 932 bytes the program
// should receive; under Wine those travel as UTF-8 (command line, names on
// the Linux disk). The project's own reverse table (data/MS932~UTF16.bin)
// converts, so no converter of the machine can differ from the program.
#ifndef PELMORA_TESTS_E2E_CODE_PAGE_H_
#define PELMORA_TESTS_E2E_CODE_PAGE_H_

#include <string>

namespace e2e {

/// A byte that starts no character of the code page becomes U+30FB, as
/// Windows' own conversion of an ANSI command line makes it.
std::string utf8FromCodePage932(const std::string& bytes);

/// Of two codes for one character the one Windows writes is taken; a
/// character without a code becomes "?".
std::string codePage932FromUtf8(const std::string& text);

}  // namespace e2e

#endif  // PELMORA_TESTS_E2E_CODE_PAGE_H_
