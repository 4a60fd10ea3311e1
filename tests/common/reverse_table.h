// The records of data/MS932~UTF16.bin, read apart from the product code:
// four bytes each, the code's first byte, its second (0 for a one-byte
// code) and the UTF-16 unit, low byte first.
#ifndef PELMORA_TESTS_COMMON_REVERSE_TABLE_H_
#define PELMORA_TESTS_COMMON_REVERSE_TABLE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

struct ReverseRecord {
  std::uint8_t first;
  std::uint8_t second;
  std::uint16_t unit;

  /// The Shift_JIS code as one number: 0xNN or 0xNNMM.
  std::uint16_t code() const {
    return second == 0 ? first
                       : static_cast<std::uint16_t>(first << 8 | second);
  }
};

/// The records of the table's bytes in file order; a short tail is none.
inline std::vector<ReverseRecord> reverseRecords(const std::string& bytes) {
  std::vector<ReverseRecord> records;
  for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
    const auto b = [&](std::size_t i) {
      return static_cast<std::uint8_t>(bytes[at + i]);
    };
    records.push_back(
        {b(0), b(1), static_cast<std::uint16_t>(b(2) | b(3) << 8)});
  }
  return records;
}

/// The text in Shift_JIS as Windows writes it (a unit's last record), or
/// false when a unit has no code.
inline bool shiftJis(const std::u16string& text,
                     const std::vector<ReverseRecord>& records,
                     std::string* bytes) {
  std::vector<std::uint16_t> codes(65536, 0xFFFF);
  for (const ReverseRecord& record : records)
    codes[record.unit] = record.code();
  bytes->clear();
  for (char16_t unit : text) {
    const std::uint16_t code = codes[unit];
    if (code == 0xFFFF) return false;
    if (code > 0xFF) *bytes += static_cast<char>(code >> 8);
    *bytes += static_cast<char>(code & 0xFF);
  }
  return true;
}

}  // namespace harness

#endif  // PELMORA_TESTS_COMMON_REVERSE_TABLE_H_
