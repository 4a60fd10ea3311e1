// DeriveTable: makes the conversion table from the shipped reverse table.
// UTF16~MS932.bin is derived from MS932~UTF16.bin, the one thing a run
// without arguments does.
#ifndef PELMORA_TABLES_DERIVE_BINARY_H_
#define PELMORA_TABLES_DERIVE_BINARY_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "tables/table_format.h"

/// What derive() found.
enum class DeriveStatus {
  kOk,                ///< the new table replaced the old one
  kSourceUnreadable,  ///< the source could not be opened, read or closed (209)
  kTableUnwritable,   ///< the new table could not be created, written,
                      ///< closed or moved into place (241)
};

/// Turns every 4-byte record of MS932~UTF16.bin (Shift_JIS byte 0, byte 1 or
/// 0 for a one-byte code, code unit low, code unit high) into one 5-byte
/// record of UTF16~MS932.bin (code unit low, high, kind, Shift_JIS byte 0,
/// byte 1 or 0), in the same order, both in the current folder. Kind is 0 for
/// a one-byte code below 0x80, 2 for a one-byte code of 0x80 or above and 1
/// for a two-byte code. A trailing partial source record is ignored.
///
/// The new table is built in kDerivedTemporaryFileName beside it and renamed
/// over UTF16~MS932.bin only when every read, write and close succeeded, so a
/// failed derivation leaves the old table (or its absence) exactly as it was
/// and no temporary file behind. The temporary file is held by one
/// derivation at a time (another one started in the same folder waits), and
/// a symbolic link in place of either file is refused, never written
/// through. The source is opened read-only.
///
/// Failures are reported through diagnostics::report, one message per call:
///   "Reset() error-209: MS932~UTF16.bin"   the source is missing or unreadable
///   "Rewrite() error-241: UTF16~MS932.bin" the new table could not be made
/// derive() never stops the program; the caller ends the run with exit code 0
/// whatever it returns.
///
/// The object holds its two block buffers (about 36 KiB) inline; it is not
/// copyable and may be reused.
class DeriveTable {
 public:
  /// Where the new table is written before it takes the table's name.
  static constexpr const char* kDerivedTemporaryFileName =
      "UTF16~MS932.bin.tmp";

  /// Records moved per read and per write.
  static constexpr std::size_t kRecordsPerBlock = 4096;

  DeriveTable() = default;
  DeriveTable(const DeriveTable&) = delete;
  DeriveTable& operator=(const DeriveTable&) = delete;

  /// The whole derivation; see the class comment.
  [[nodiscard]] DeriveStatus derive();

 private:
  std::array<std::uint8_t, table_format::kSourceRecordSize * kRecordsPerBlock>
      source_{};
  std::array<std::uint8_t, table_format::kTableRecordSize * kRecordsPerBlock>
      table_{};
};

#endif  // PELMORA_TABLES_DERIVE_BINARY_H_
