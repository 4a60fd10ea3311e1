// The bytes of u"..." literals in the encodings a wide file may have, for
// the wide files the tests write.
#ifndef PELMORA_TESTS_COMMON_WIDE_TEXT_H_
#define PELMORA_TESTS_COMMON_WIDE_TEXT_H_

#include <cstddef>
#include <cstdint>
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

/// UTF-16 big-endian bytes.
inline std::string utf16be(const std::u16string& units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

/// UTF-8 bytes; a surrogate pair is one four-byte sequence. The text must
/// be valid UTF-16 (no lone surrogate).
inline std::string utf8(const std::u16string& units) {
  std::string bytes;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    const auto put = [&bytes](std::uint32_t byte) {
      bytes.push_back(static_cast<char>(byte));
    };
    if (cp < 0x80) {
      put(cp);
    } else if (cp < 0x800) {
      put(0xC0 | cp >> 6);
      put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      put(0xE0 | cp >> 12);
      put(0x80 | (cp >> 6 & 0x3F));
      put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | cp >> 18);
      put(0x80 | (cp >> 12 & 0x3F));
      put(0x80 | (cp >> 6 & 0x3F));
      put(0x80 | (cp & 0x3F));
    }
  }
  return bytes;
}

}  // namespace wide_text

#endif  // PELMORA_TESTS_COMMON_WIDE_TEXT_H_
