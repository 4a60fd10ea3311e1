// Any bytes as a conversion-table file: SurvivorsUTF16::loadFile, then a
// sweep of every entry() and entries() slot and a set of pair() lookups,
// compared with a model that applies the records one by one.
//
// Input: byte 0 mode bits, byte 1 filler adjustment, then the table bytes.
// With kFiller the table is preceded by about one read block of ignored
// bytes, so that the records of the input straddle the loader's block
// boundary at an offset the input chooses.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tables/survivor_utf16.h"
#include "tables/table_format.h"

namespace {

using fuzzing::finding;
using Entries = std::array<TableEntry, 0x10000>;
constexpr const char* kTableName = "table.bin";
constexpr std::uint8_t kFiller = 0x01;
constexpr std::uint8_t kLoadTwice = 0x02;
constexpr std::uint8_t kTryMissing = 0x04;
// The loader reads 13107 records (65535 bytes) at a time.
constexpr std::size_t kBlockBytes = 65535;
constexpr std::size_t kRecord = table_format::kTableRecordSize;

/// Applies the records of the file to `table`; adds the units they name.
void applyFile(Entries& table, const std::string& bytes,
               std::vector<std::uint32_t>& touched) {
  // After the last whole record comes the remainder padded with zeros, or
  // nothing at all, which still applies as an all-zero record.
  const std::size_t whole = bytes.size() / kRecord * kRecord;
  for (std::size_t at = 0; at <= whole; at += kRecord) {
    std::uint8_t r[kRecord] = {0, 0, 0, 0, 0};
    for (std::size_t i = at; i < bytes.size() && i < at + kRecord; ++i) {
      r[i - at] = static_cast<std::uint8_t>(bytes[i]);
    }
    const std::uint32_t unit = r[0] | (std::uint32_t{r[1]} << 8);
    if (r[2] == table_format::kSingleLowKind) {
      // A one-byte code below 0x80 is keyed by the low byte alone.
      table[r[0]] = TableEntry{r[2], r[3], 0, 0};
      touched.push_back(r[0]);
      touched.push_back(unit);
    } else if (unit < SurvivorsUTF16::kTableUnits) {  // else ignored
      touched.push_back(unit);
      table[unit] = r[2] == table_format::kSingleHighKind
                        ? TableEntry{r[2], r[3], 0, 0}
                        : TableEntry{table_format::kDoubleKind, r[3], r[4], 0};
    }
  }
}

void check(std::uint8_t mode, const std::string& bytes, std::uint32_t probe) {
  static Entries expected;
  expected.fill(TableEntry{0, 0, 0, 0});
  std::vector<std::uint32_t> units;  // those a record named
  applyFile(expected, bytes, units);
  if (mode & kTryMissing) {
    static SurvivorsUTF16 blank;
    fuzzing::removeFile("missing.bin");
    if (blank.loadFile("missing.bin")) finding("a missing file loaded");
  }
  auto table = std::make_unique<SurvivorsUTF16>();
  if (!table->loadFile(kTableName)) finding("a readable file did not load");
  if (mode & kLoadTwice) {
    applyFile(expected, bytes, units);
    if (!table->loadFile(kTableName)) finding("the second load failed");
  }

  // The engines read entries() directly, for all 65,536 units.
  const TableEntry* raw = table->entries();
  if (std::memcmp(raw, expected.data(), sizeof(TableEntry) * 0x10000) != 0) {
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      const TableEntry &a = raw[unit], &b = expected[unit];
      if (a.kind != b.kind || a.first != b.first || a.second != b.second) {
        finding("entries()[" + std::to_string(unit) +
                "] differs from the records");
      }
    }
    finding("entries() differ in their unused bytes");
  }
  // entry() for every unit a record named, a stride through the rest and
  // the table's last units.
  for (std::uint32_t u = 0; u < 0x10000; u += 251) units.push_back(u);
  for (std::uint32_t u = 0xFFE0; u < 0x10000; ++u) units.push_back(u);
  for (std::uint32_t unit : units) {
    const TableEntry& want = expected[unit];
    const bool inside = unit < SurvivorsUTF16::kTableUnits;
    if (table->entry(unit, 0) != (inside ? want.kind : 0) ||
        table->entry(unit, 1) != (inside ? want.first : 0) ||
        table->entry(unit, 2) != (inside ? want.second : 0) ||
        table->entry(unit, 3) != 0 || table->entry(unit, -1) != 0) {
      finding("entry(" + std::to_string(unit) + ") differs");
    }
  }
  // Lookups past the 16-bit range come from a caller's arithmetic.
  if (table->entry(0x10000, 0) != 0 || table->entry(0xFFFFFFFFu, 1) != 0) {
    finding("entry() beyond 0xFFFF is not kind 0");
  }
  // No list was read, so every pair gives 0, inside the pair table's rows
  // and columns or not.
  const std::uint32_t highs[] = {0xD83F, 0xD840, 0xD840 + (probe & 0x7F),
                                 0xD8BF, 0xD8C0, 0xDBFF,
                                 probe,  0};
  const std::uint32_t lows[] = {
      0xDBFF, 0xDC00, 0xDC00 + (probe & 0x3FF), 0xDFFF, 0xE000, probe, 0x0A};
  for (std::uint32_t high : highs) {
    for (std::uint32_t low : lows) {
      for (int selector = -1; selector <= 3; ++selector) {
        if (table->pair(high, low, selector) != 0) {
          finding("pair() without a list is not 0");
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enter("fuzz_table_loader");
  if (size < 2) return 0;
  std::string bytes;
  // 0xFF records name code unit 0xFFFF, which the table ignores.
  if (data[0] & kFiller) bytes.assign(kBlockBytes - data[1], '\xFF');
  bytes += fuzzing::text(data + 2, size - 2);
  fuzzing::writeFile(kTableName, bytes);
  const std::uint32_t probe =
      size > 3 ? data[2] | (std::uint32_t{data[3]} << 8) : 0;
  fuzzing::mustNotStop("loading a table file stopped the program",
                       [&] { check(data[0], bytes, probe); });
  return 0;
}
