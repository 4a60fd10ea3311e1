// UTF-16LE bytes from u"..." literals, for the wide files the tests write.
#ifndef PELMORA_TESTS_COMMON_WIDE_TEXT_H_
#define PELMORA_TESTS_COMMON_WIDE_TEXT_H_

#include <string>

namespace wide_text {

/// UTF-16 little-endian bytes of a text given as code units.
inline std::string utf16le(const std::u16string& units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace wide_text

#endif  // PELMORA_TESTS_COMMON_WIDE_TEXT_H_
