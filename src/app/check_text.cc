#include "app/check_text.h"

#include <cstddef>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "select/wide_coding.h"

namespace check_text {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;
// Where the text of a labelled line starts, and the width lines wrap at.
constexpr std::size_t kItemIndent = 16;
constexpr std::size_t kWidth = 78;

std::string padded(const std::string& label) {
  std::string text = "  " + label;
  if (text.size() < kItemIndent) text.resize(kItemIndent, ' ');
  return text + " ";
}

// UTF-8 characters, not bytes: every byte but a continuation byte.
std::size_t characters(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  return count;
}

void appendUtf8(std::uint32_t c, std::string* out) {
  if (c == '\t') {
    *out += "<TAB>";
  } else if (c < 0x20 || c == 0x7F) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    *out += "<x";
    out->push_back(kHex[c >> 4]);
    out->push_back(kHex[c & 0xF]);
    out->push_back('>');
  } else if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The length of the well-formed UTF-8 character at in[0], or 0.
std::size_t utf8Length(const unsigned char* in, std::size_t n) {
  const unsigned char b = in[0];
  if (b < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (n < length || in[1] < low || in[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (in[i] < 0x80 || in[i] > 0xBF) return 0;
  }
  return length;
}

bool isUtf8(const std::string& bytes) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = utf8Length(in + at, bytes.size() - at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

std::string fromUnits(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(c, &out);
  }
  return out;
}

std::string fromShiftJis(const std::string& bytes) {
  // Decoding gives at most one unit per byte.
  std::unique_ptr<std::uint16_t[]> units(new (std::nothrow)
                                             std::uint16_t[bytes.size() + 1]);
  if (!units) return std::string();
  std::size_t count = 0;
  (void)wide_coding::decodeShiftJis(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), true,
      units.get(), &count);
  return fromUnits(std::u16string(units.get(), units.get() + count));
}

std::string fromBytes(const std::string& bytes) {
  if (!isUtf8(bytes)) return fromShiftJis(bytes);
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      appendUtf8(byte, &out);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string characterName(std::uint8_t byte) {
  switch (byte) {
    case '\t':
      return "tab";
    case ' ':
      return "space";
    case ',':
      return "\",\" (comma)";
    case ';':
      return "\";\" (semicolon)";
    case '|':
      return "\"|\" (vertical line)";
    case '_':
      return "\"_\" (low line)";
    case '"':
      return "'\"' (double quote)";
    case '\'':
      return "\"'\" (apostrophe)";
    case '\\':
      return "\"\\\" (backslash)";
    default:
      break;
  }
  if (byte > 0x20 && byte < 0x7F) {
    return std::string("\"") + static_cast<char>(byte) + "\"";
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("byte 0x") + kHex[byte >> 4] + kHex[byte & 0xF];
}

std::string quoted(const std::string& bytes) {
  return "\"" + fromBytes(bytes) + "\"";
}

std::string codePoint(std::uint32_t value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  for (int shift = 20; shift >= 0; shift -= 4) {
    const std::uint32_t digit = (value >> shift) & 0xF;
    if (digit != 0 || !digits.empty() || shift < 16) {
      digits.push_back(kHex[digit]);
    }
  }
  return "U+" + digits;
}

void Page::item(const std::string& label, const std::string& text) {
  wrapped(padded(label), std::string(kItemIndent + 1, ' '), text);
}

void Page::name(const std::string& label, const std::string& text) {
  line(padded(label) + text);
}

void Page::wrapped(const std::string& first, const std::string& next,
                   const std::string& text) {
  std::string out = first;
  std::size_t column = characters(first);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    const std::size_t length = characters(word);
    if (column + length > kWidth && column > characters(next)) {
      out += "\n" + next;
      column = characters(next);
    } else if (at > 0) {
      out += ' ';
      ++column;
    }
    out += word;
    column += length;
    at = end + 1;
  }
  line(out);
}

void Page::flush() {
  if (!text_.empty()) {
    (void)platform::writeStandardOutput(text_.data(), text_.size());
  }
  text_.clear();
}

}  // namespace check_text
