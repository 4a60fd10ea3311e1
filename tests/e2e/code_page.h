// Code page 932 text as the Linux side of a Windows run must write it.
//
// The cases give arguments and file names as the bytes the program should
// receive: code page 932, what a Japanese Windows hands a console program.
// A program started under Wine gets its command line from UTF-8 text and
// finds its files under UTF-8 names on the Linux disk, so the harness turns
// those bytes into UTF-8 on the way out and back into code page 932 when it
// lists what a run left. The conversion uses the project's own reverse
// table (data/MS932~UTF16.bin), so no converter of the machine can differ
// from what the program itself takes for code page 932.
#ifndef PELMORA_TESTS_E2E_CODE_PAGE_H_
#define PELMORA_TESTS_E2E_CODE_PAGE_H_

#include <string>

namespace e2e {

/// UTF-8 text for code page 932 bytes. A byte that starts no character of
/// the code page becomes U+30FB, as Windows' own conversion of an ANSI
/// command line makes it; ASCII passes unchanged.
std::string utf8FromCodePage932(const std::string& bytes);

/// Code page 932 bytes for UTF-8 text (the reverse of the above for every
/// character the code page has; of two codes for one character the one
/// Windows writes is taken). A character without a code becomes "?".
std::string codePage932FromUtf8(const std::string& text);

}  // namespace e2e

#endif  // PELMORA_TESTS_E2E_CODE_PAGE_H_
