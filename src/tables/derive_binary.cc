#include "tables/derive_binary.h"

#include <cstring>
#include <string>

#include "diagnostics/error_text.h"
#include "platform/platform.h"

namespace {

using table_format::kSourceFileName;
using table_format::kSourceRecordSize;
using table_format::kTableFileName;
using table_format::kTableRecordSize;

void convertRecord(const std::uint8_t* source, std::uint8_t* table) {
  table[0] = source[2];
  table[1] = source[3];
  if (source[1] == 0) {
    table[2] = source[0] < 0x80 ? table_format::kSingleLowKind
                                : table_format::kSingleHighKind;
    table[3] = source[0];
    table[4] = 0;
  } else {
    table[2] = table_format::kDoubleKind;
    table[3] = source[0];
    table[4] = source[1];
  }
}

bool ok(platform::Status status) { return status == platform::Status::kOk; }

}  // namespace

DeriveStatus DeriveTable::derive() {
  // The source is opened before anything is created, so a missing source
  // costs nothing but the report.
  platform::File source;
  if (!ok(source.openRead(kSourceFileName))) {
    diagnostics::reportUnfinished(std::string("Reset() error-209: ") +
                                  kSourceFileName);
    return DeriveStatus::kSourceUnreadable;
  }
  // Held from its creation to its rename, so two derivations started in one
  // folder at once never write into each other's table. A link standing in
  // its place (or in the table's) is never written through.
  platform::File table;
  const bool is_held = !platform::isLinkedName(kTableFileName) &&
                       ok(table.openHeld(kDerivedTemporaryFileName, false));
  if (!is_held || !ok(table.rewind(true))) {
    if (is_held) (void)table.removeHeld(kDerivedTemporaryFileName);
    diagnostics::reportUnfinished(std::string("Rewrite() error-241: ") +
                                  kTableFileName);
    return DeriveStatus::kTableUnwritable;
  }

  DeriveStatus status = DeriveStatus::kOk;
  // A short read happens only at the end of the file, but carrying the bytes
  // of a split record over keeps the loop right whatever the reads return.
  std::size_t held = 0;
  for (;;) {
    std::size_t got = 0;
    if (!ok(source.read(source_.data() + held, source_.size() - held, &got))) {
      status = DeriveStatus::kSourceUnreadable;
      break;
    }
    if (got == 0) break;  // a partial record still held is dropped
    const std::size_t available = held + got;
    const std::size_t records = available / kSourceRecordSize;
    for (std::size_t i = 0; i < records; ++i) {
      convertRecord(source_.data() + i * kSourceRecordSize,
                    table_.data() + i * kTableRecordSize);
    }
    const std::size_t bytes = records * kTableRecordSize;
    std::size_t written = 0;
    if (!ok(table.write(table_.data(), bytes, &written)) || written != bytes) {
      status = DeriveStatus::kTableUnwritable;
      break;
    }
    held = available - records * kSourceRecordSize;
    std::memmove(source_.data(), source_.data() + records * kSourceRecordSize,
                 held);
  }

  if (!ok(source.close()) && status == DeriveStatus::kOk) {
    status = DeriveStatus::kSourceUnreadable;
  }
  // The bytes are on the disk before the name moves, and the name moves
  // while the file is still held.
  if (status == DeriveStatus::kOk &&
      (!ok(table.sync()) ||
       !ok(platform::renameFile(kDerivedTemporaryFileName, kTableFileName)))) {
    status = DeriveStatus::kTableUnwritable;
  }
  if (status != DeriveStatus::kOk) {
    (void)table.removeHeld(kDerivedTemporaryFileName);
  }
  if (!ok(table.close()) && status == DeriveStatus::kOk) {
    status = DeriveStatus::kTableUnwritable;
  }

  if (status != DeriveStatus::kOk) {
    if (status == DeriveStatus::kSourceUnreadable) {
      diagnostics::reportUnfinished(std::string("Reset() error-209: ") +
                                    kSourceFileName);
    } else {
      diagnostics::reportUnfinished(std::string("Rewrite() error-241: ") +
                                    kTableFileName);
    }
  }
  return status;
}
