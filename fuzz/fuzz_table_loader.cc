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

constexpr const char* kTarget = "fuzz_table_loader";
constexpr const char* kTableName = "table.bin";

constexpr std::uint8_t kFiller = 0x01;
constexpr std::uint8_t kLoadTwice = 0x02;
constexpr std::uint8_t kTryMissing = 0x04;

// The loader reads 13107 records (65535 bytes) at a time.
constexpr std::size_t kBlockBytes = 65535;

using table_format::kDoubleKind;
using table_format::kSingleHighKind;
using table_format::kSingleLowKind;
constexpr std::size_t kRecord = table_format::kTableRecordSize;

using Entries = std::array<TableEntry, 0x10000>;

// The code units the last model run named, for the entry() checks.
std::vector<std::uint32_t>& touched() {
  static std::vector<std::uint32_t> units;
  return units;
}

void applyRecord(Entries& table, const std::uint8_t* r) {
  const std::uint32_t unit = r[0] | (std::uint32_t{r[1]} << 8);
  if (r[2] == kSingleLowKind) {
    // A one-byte code below 0x80 is keyed by the low byte alone.
    table[r[0]] = TableEntry{kSingleLowKind, r[3], 0, 0};
    touched().push_back(r[0]);
    touched().push_back(unit);
    return;
  }
  if (unit >= SurvivorsUTF16::kTableUnits) return;  // past the table: ignored
  touched().push_back(unit);
  if (r[2] == kSingleHighKind) {
    table[unit] = TableEntry{kSingleHighKind, r[3], 0, 0};
  } else {
    table[unit] = TableEntry{kDoubleKind, r[3], r[4], 0};
  }
}

void applyFile(Entries& table, const std::string& bytes) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t whole = bytes.size() / kRecord * kRecord;
  for (std::size_t at = 0; at < whole; at += kRecord) {
    applyRecord(table, p + at);
  }
  // The record after the last whole one: the remainder padded with zeros,
  // or nothing at all, which still applies as an all-zero record.
  std::uint8_t last[kRecord] = {0, 0, 0, 0, 0};
  for (std::size_t i = whole; i < bytes.size(); ++i) last[i - whole] = p[i];
  applyRecord(table, last);
}

bool same(const TableEntry& a, const TableEntry& b) {
  return a.kind == b.kind && a.first == b.first && a.second == b.second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enterWorkFolder();
  fuzzing::tidyWorkFolder();
  if (size < 2) return 0;
  const std::uint8_t mode = data[0];

  std::string bytes;
  if (mode & kFiller) {
    // 0xFF records name code unit 0xFFFF, which the table ignores.
    bytes.assign(kBlockBytes - data[1], '\xFF');
  }
  bytes.append(reinterpret_cast<const char*>(data + 2), size - 2);
  fuzzing::writeFile(kTableName, bytes);

  static Entries expected;
  expected.fill(TableEntry{0, 0, 0, 0});
  touched().clear();
  applyFile(expected, bytes);

  try {
    static SurvivorsUTF16 blank;  // reused only for the missing-file case
    if (mode & kTryMissing) {
      fuzzing::removeFile("missing.bin");
      if (blank.loadFile("missing.bin")) {
        fuzzing::finding(kTarget, "a missing file loaded");
      }
    }

    auto table = std::make_unique<SurvivorsUTF16>();
    if (!table->loadFile(kTableName)) {
      fuzzing::finding(kTarget, "a readable file did not load");
    }
    if (mode & kLoadTwice) {
      applyFile(expected, bytes);
      if (!table->loadFile(kTableName)) {
        fuzzing::finding(kTarget, "the second load failed");
      }
    }

    // The engines read entries() directly, for all 65,536 units.
    const TableEntry* raw = table->entries();
    if (std::memcmp(raw, expected.data(), sizeof(TableEntry) * 0x10000) != 0) {
      for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
        if (!same(raw[unit], expected[unit])) {
          fuzzing::finding(kTarget, "entries()[" + std::to_string(unit) +
                                        "] differs from the records");
        }
      }
      fuzzing::finding(kTarget, "entries() differ in their unused bytes");
    }
    // entry() for every unit a record named, a stride through the rest and
    // the table's last units.
    std::vector<std::uint32_t> units = touched();
    for (std::uint32_t unit = 0; unit < 0x10000; unit += 251) {
      units.push_back(unit);
    }
    for (std::uint32_t unit = 0xFFE0; unit < 0x10000; ++unit) {
      units.push_back(unit);
    }
    for (std::uint32_t unit : units) {
      const TableEntry& want = expected[unit];
      const bool inside = unit < SurvivorsUTF16::kTableUnits;
      if (table->entry(unit, 0) != (inside ? want.kind : 0) ||
          table->entry(unit, 1) != (inside ? want.first : 0) ||
          table->entry(unit, 2) != (inside ? want.second : 0) ||
          table->entry(unit, 3) != 0 || table->entry(unit, -1) != 0) {
        fuzzing::finding(kTarget,
                         "entry(" + std::to_string(unit) + ") differs");
      }
    }
    // Lookups past the 16-bit range come from a caller's arithmetic.
    if (table->entry(0x10000, 0) != 0 || table->entry(0xFFFFFFFFu, 1) != 0) {
      fuzzing::finding(kTarget, "entry() beyond 0xFFFF is not kind 0");
    }

    // No list was read, so every pair gives 0, inside the pair table's
    // rows and columns or not.
    const std::uint32_t probe =
        size > 3 ? data[2] | (std::uint32_t{data[3]} << 8) : 0;
    const std::uint32_t highs[] = {0xD83F, 0xD840, 0xD840 + (probe & 0x7F),
                                   0xD8BF, 0xD8C0, 0xDBFF,
                                   probe,  0};
    const std::uint32_t lows[] = {
        0xDBFF, 0xDC00, 0xDC00 + (probe & 0x3FF), 0xDFFF, 0xE000, probe, 0x0A};
    for (std::uint32_t high : highs) {
      for (std::uint32_t low : lows) {
        for (int selector = -1; selector <= 3; ++selector) {
          if (table->pair(high, low, selector) != 0) {
            fuzzing::finding(kTarget, "pair() without a list is not 0");
          }
        }
      }
    }
  } catch (const fuzzing::FuzzStop&) {
    fuzzing::finding(kTarget, "loading a table file stopped the program");
  }
  return 0;
}
