#include "select/replacement_bytes.h"

#include "options/final_effect.h"

ReplacementBytes replacementBytesFor(const FinalEffects& options) {
  ReplacementBytes table{};
  for (std::size_t i = 0; i <= 0xA0; ++i) {
    auto byte = static_cast<std::uint8_t>(i);
    bool digit = byte >= '0' && byte <= '9';
    if (options.decimalExtraction()) {
      table[i] = (digit || byte == '-' || byte == '.') ? byte : kDropByte;
    } else if (options.integerExtraction()) {
      table[i] = (digit || byte == '-') ? byte : kDropByte;
    } else if (options.dropControl()) {
      table[i] = (byte >= 0x20 && byte <= 0x7E) ? byte : kDropByte;
    } else {
      table[i] = byte;
    }
  }
  if (options.omitHI()) {
    table[0x48] = kDropByte;  // H
    table[0x49] = kDropByte;  // I
  }
  for (std::size_t i = 0xA1; i <= 0xDF; ++i) {
    auto byte = static_cast<std::uint8_t>(i);
    if (options.replaceKatakana()) {
      table[i] = options.katakanaChar();
    } else if (options.dropCombining()) {
      table[i] = (byte == 0xDE || byte == 0xDF) ? kDropByte : byte;
    } else {
      table[i] = byte;
    }
  }
  return table;
}
