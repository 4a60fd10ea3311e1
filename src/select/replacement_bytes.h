// The replacement-byte table: what each single-byte value 0x00..0xDF writes
// in the narrow output under the settled options, or that it is dropped.
#ifndef PELMORA_SELECT_REPLACEMENT_BYTES_H_
#define PELMORA_SELECT_REPLACEMENT_BYTES_H_

#include <array>
#include <cstddef>
#include <cstdint>

class FinalEffects;

/// The table covers the single-byte values 0x00..0xDF.
inline constexpr std::size_t kReplacementTableSize = 224;
/// A table value that drops the character instead of writing a byte.
inline constexpr std::uint8_t kDropByte = 7;
/// What a code unit from 0x80 up without a code writes: the default
/// character of the code page's own conversion.
inline constexpr std::uint8_t kNoCodeByte = '?';

using ReplacementBytes = std::array<std::uint8_t, kReplacementTableSize>;

/// The table for the settled options: the number columns keep digits, "-"
/// (and "." for decimals); -c keeps printable ASCII; -H drops H and I; the
/// katakana options replace or drop 0xA1..0xDF.
ReplacementBytes replacementBytesFor(const FinalEffects& options);

/// What `value` writes; values past the table (above 0xDF) are dropped.
inline std::uint8_t replacementOf(const std::uint8_t* table,
                                  std::uint32_t value) {
  return value < kReplacementTableSize ? table[value] : kDropByte;
}

#endif  // PELMORA_SELECT_REPLACEMENT_BYTES_H_
