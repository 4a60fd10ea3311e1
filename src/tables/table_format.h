// The byte layout of the two table files, defined once for all who use it.
// Those are the derivation that writes the conversion table, the loader that
// reads it, and the tests and fuzz models that build tables by hand.
#ifndef PELMORA_TABLES_TABLE_FORMAT_H_
#define PELMORA_TABLES_TABLE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace table_format {

/// The reverse table shipped with the program; a run without arguments
/// derives the conversion table from it.
inline constexpr const char* kSourceFileName = "MS932~UTF16.bin";
/// The conversion table, looked for in every place of the table search.
inline constexpr const char* kTableFileName = "UTF16~MS932.bin";

/// One record of MS932~UTF16.bin: Shift_JIS byte 0, byte 1 (0 for a
/// one-byte code), code unit low byte, code unit high byte.
inline constexpr std::size_t kSourceRecordSize = 4;
/// One record of UTF16~MS932.bin: code unit low byte, high byte, kind,
/// Shift_JIS byte 0, byte 1 (0 for a one-byte code).
inline constexpr std::size_t kTableRecordSize = 5;

/// The kinds of a UTF16~MS932.bin record. The loader reads any kind other
/// than the two one-byte ones as a two-byte code.
inline constexpr std::uint8_t kSingleLowKind = 0;   ///< one byte below 0x80
inline constexpr std::uint8_t kDoubleKind = 1;      ///< a two-byte code
inline constexpr std::uint8_t kSingleHighKind = 2;  ///< one byte 0x80 or more
/// Never written to a file: the loader gives it to the high surrogate of a
/// supplementary character listed in surro.txt.
inline constexpr std::uint8_t kListedHighKind = 3;

}  // namespace table_format

#endif  // PELMORA_TABLES_TABLE_FORMAT_H_
