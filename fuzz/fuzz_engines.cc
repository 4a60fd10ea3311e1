// The selection engines on any wide bytes, with the real code page 932
// table and the list "20B9F": Selecting built from settled options the
// input chooses, run to a file, and the narrow file compared with the
// reference model of the selection rules (tests/reference), which works out
// the replacement bytes on its own. Also checks the replacement-byte table, the
// sizing of the wide file, the line count, and the output bounds that sizing
// the output from the input rests on (at most 2 bytes per unit in one field, at
// most the units plus 3 per LF for decimals).
//
// Input (7 header bytes, then the wide file):
//   0: bits 0-1 column (plain, decimal, integer, filtered), 2 -q, 3 -k,
//      4 -d, 5 -p, 6 -o, 7 LF line ends
//   1: bits 0-3 field number (0..10 after a modulo), 4 the binary.tmp route,
//      5 the wide-file refresh, 6 keep binary.tmp, 7 see byte 6
//   2: separator, 3: quote, 4: katakana replacement, 5: completion
//      (values below 0x10 pick a common choice, others are the byte itself)
//   6: tiling. Below 0xF0 the wide file is the rest of the input as it is.
//      From 0xF0 the rest is repeated past 64 Ki units: beyond the engines'
//      read block and the size from which they build per-unit tables, so
//      that block boundaries fall at every offset of the pattern. 0xFF with
//      bit 7 of byte 1 repeats it past 2 Mi units, enough output to cross a
//      4 MiB output block. Both are rare on purpose: a tiled input costs a
//      hundred plain ones.
//      Bit 6 also cuts the file into parts scanned side by side: up to
//      2 + bits 4-5 parts of at least 1 + 5 x bits 0-3 units each.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_support.h"
#include "model_settings.h"
#include "reference_select.h"
#include "options/final_effect.h"
#include "select/select_utf16.h"
#include "tables/derive_binary.h"
#include "tables/survivor_utf16.h"
#include "tables/table_format.h"

#ifndef PELMORA_REVERSE_TABLE_PATH
#error "PELMORA_REVERSE_TABLE_PATH must name data/MS932~UTF16.bin"
#endif

namespace {

constexpr const char* kTarget = "fuzz_engines";
constexpr const char* kWideName = "wide.txt";
constexpr const char* kNarrowName = "narrow.txt";
constexpr std::size_t kHeader = 7;
// At least one read block of the engines (32 Ki units when this was
// written), and a size whose output can pass one output block of 4 MiB.
constexpr std::size_t kTileUnits = std::size_t{1} << 16;
constexpr std::size_t kHugeUnits = std::size_t{2} << 20;
constexpr std::uint8_t kDrop = Selecting::kDrop;

// Bytes that mean something to the engines or the replacement-byte table: the
// usual separators and quotes, digits, signs, line-end bytes, katakana, the
// drop value itself.
constexpr std::uint8_t kCommon[16] = {',',  '\t', '|',  ';',  ' ', '"',
                                      '~',  '.',  '-',  '0',  '5', 0x0A,
                                      0x0D, 0x00, 0xDE, kDrop};

std::uint8_t choose(std::uint8_t b) { return b < 16 ? kCommon[b] : b; }

void prepareFolder() {
  static bool done = false;
  if (done) return;
  done = true;
  std::error_code error;
  std::filesystem::copy_file(
      PELMORA_REVERSE_TABLE_PATH, table_format::kSourceFileName,
      std::filesystem::copy_options::overwrite_existing, error);
  if (error) {
    fuzzing::finding(kTarget, "cannot copy " PELMORA_REVERSE_TABLE_PATH);
  }
  if (DeriveTable().derive() != DeriveStatus::kOk) {
    fuzzing::finding(kTarget, "the table derivation failed");
  }
  fuzzing::writeFile(kSurrogateListFileName, std::string("20B9F\r\n"));
}

// The table is the same for every input: its codes are read once.
const reference::CodeTable& codes(const SurvivorsUTF16& table) {
  static const reference::CodeTable once = reference::codesOf(table);
  return once;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enterWorkFolder();
  fuzzing::tidyWorkFolder(256);
  prepareFolder();
  if (size < kHeader) return 0;

  FinalEffects::Values v;
  const int column_bits = data[0] & 3;
  v.decimalExtraction = column_bits == 1;
  v.integerExtraction = column_bits == 2;
  v.quotedSeparatorIgnored = (data[0] & 0x04) != 0;
  v.replaceKatakana = (data[0] & 0x08) != 0;
  v.dropCombining = (data[0] & 0x10) != 0;
  v.omitHI = (data[0] & 0x20) != 0;
  v.dropControl = (data[0] & 0x40) != 0;
  const bool lf_only = (data[0] & 0x80) != 0;
  v.crlfLines = !lf_only;
  v.fieldNumber = (data[1] & 0x0F) % 11;
  v.temporaryRoute = (data[1] & 0x10) != 0;
  v.refreshWide = (data[1] & 0x20) != 0;
  v.keepTemporary = (data[1] & 0x40) != 0;
  v.separatorChar = choose(data[2]);
  v.quoteChar = choose(data[3]);
  v.katakanaChar = choose(data[4]);
  v.completionChar = choose(data[5]);
  v.wideName = kWideName;
  v.narrowName = kNarrowName;

  // The main routine's choice of engine.
  Column column = Column::kPlain;
  if (v.decimalExtraction) {
    column = Column::kDecimal;
  } else if (v.integerExtraction) {
    column = Column::kInteger;
  } else if (v.dropControl || v.omitHI) {
    column = Column::kFiltered;
  }
  const LineEnd line_end = v.crlfLines ? LineEnd::kCrLf : LineEnd::kLf;

  // Often the file is cut into small parts scanned side by side, so that
  // quotes, pairs and numbers reach across the joins.
  if ((data[6] & 0x40) != 0) {
    Selecting::setPartsForTesting(1 + (data[6] & 0x0F) * 5,
                                  2 + ((data[6] >> 4) & 3));
  } else {
    Selecting::setPartsForTesting(0, 0);
  }

  std::string tiled(reinterpret_cast<const char*>(data + kHeader),
                    size - kHeader);
  const std::size_t pattern = tiled.size();
  if (data[6] >= 0xF0 && pattern > 0) {
    const bool huge = data[6] == 0xFF && (data[1] & 0x80) != 0;
    const std::size_t units = huge ? kHugeUnits : kTileUnits;
    const std::size_t bytes =
        2 * units + pattern * static_cast<std::size_t>((data[6] & 7) + 1);
    while (tiled.size() < bytes) tiled.append(tiled, 0, pattern);
    tiled.resize(bytes);
  }
  const auto* wide = reinterpret_cast<const std::uint8_t*>(tiled.data());
  const std::size_t wide_size = tiled.size();
  fuzzing::writeFile(kWideName, wide, wide_size);
  fuzzing::removeFile(kNarrowName);
  fuzzing::removeFile(kBinaryTmpName);

  // The code units the engines scan: a trailing odd byte is not read, and
  // FF FE at the start is the byte-order mark.
  std::vector<std::uint16_t> units;
  for (std::size_t i = 0; i + 1 < wide_size; i += 2) {
    units.push_back(static_cast<std::uint16_t>(wide[i] | (wide[i + 1] << 8)));
  }
  const bool bom = wide_size >= 2 && wide[0] == 0xFF && wide[1] == 0xFE;
  const std::vector<std::uint16_t> scanned(units.begin() + (bom ? 1 : 0),
                                           units.end());

  const FinalEffects::Values copy = v;
  const reference::Settings model =
      reference::modelSettings(copy, column, line_end);
  try {
    FinalEffects effects{FinalEffects::Values(v)};
    Selecting selecting;
    selecting.buildReplacementBytes(effects);
    for (std::uint32_t i = 0; i < 224; ++i) {
      const int want = reference::replacement(model, i);
      if (selecting.replacementByte(i) !=
          (want == reference::kDropped ? kDrop : want)) {
        fuzzing::finding(kTarget, "replacement byte " + std::to_string(i));
      }
    }
    if (selecting.replacementByte(224) != kDrop ||
        selecting.replacementByte(0xFFFF) != kDrop ||
        reference::replacement(model, 224) != reference::kDropped) {
      fuzzing::finding(kTarget,
                       "a replacement byte past the table does not drop");
    }

    selecting.prepareRun(effects, effects.wideName());
    if (selecting.unitCount() != static_cast<std::int64_t>(units.size()) ||
        selecting.startIndex() != (bom ? 1 : 0)) {
      fuzzing::finding(kTarget, "the preparation sized the file wrongly");
    }
    selecting.unreadFileStop(-1);

    if (copy.refreshWide || copy.temporaryRoute) {
      selecting.holdTemporaryOrStop(copy.refreshWide, copy.temporaryRoute,
                                    kNarrowName);
    }
    if (copy.refreshWide) {
      selecting.refreshWide();
      if (!copy.temporaryRoute) selecting.releaseTemporary(copy.keepTemporary);
      const std::string again = fuzzing::readFile(kWideName);
      if (again !=
          std::string(reinterpret_cast<const char*>(wide), wide_size)) {
        fuzzing::finding(kTarget, "the wide-file refresh changed its bytes");
      }
    }

    WriteResult status = WriteResult::kWritten;
    if (copy.temporaryRoute) {
      status = selecting.runToTemporary(column, line_end);
      if (status == WriteResult::kWritten)
        (void)selecting.copyFromTemporary(kNarrowName);
      selecting.releaseTemporary(copy.keepTemporary);
    } else {
      status = selecting.runToFile(column, line_end, kNarrowName);
    }
    if (status != WriteResult::kWritten)
      fuzzing::finding(kTarget, "the write failed");

    const reference::Result want =
        reference::select(tiled, codes(*selecting.table()), model);

    bool exists = false;
    const std::string got = fuzzing::readFile(kNarrowName, &exists);
    if (!exists) fuzzing::finding(kTarget, "no narrow file");
    if (got != want.narrow) {
      fuzzing::finding(kTarget, "output " + fuzzing::hex(got) +
                                    "\n  expected " +
                                    fuzzing::hex(want.narrow));
    }
    if (selecting.lineCounter() != want.lines) {
      fuzzing::finding(kTarget, "line counter " +
                                    std::to_string(selecting.lineCounter()) +
                                    ", expected " + std::to_string(want.lines));
    }
    if (copy.temporaryRoute &&
        std::filesystem::exists(kBinaryTmpName) != copy.keepTemporary) {
      fuzzing::finding(kTarget, "binary.tmp kept against -y");
    }

    // The bounds an output sized from the input rests on.
    const auto count = static_cast<std::int64_t>(scanned.size());
    std::int64_t line_feeds = 0;
    bool simple = true;
    for (std::uint16_t u : scanned) {
      line_feeds += u == 0x0A;
      if (u == 0x0A || u == 0x0D || u == copy.separatorChar ||
          u == copy.quoteChar) {
        simple = false;
      }
    }
    const auto length = static_cast<std::int64_t>(got.size());
    if (column == Column::kPlain && copy.fieldNumber == 1 && simple &&
        length > 2 * count) {
      fuzzing::finding(kTarget, "more than 2 bytes per unit in one field");
    }
    if (column == Column::kDecimal && length > count + 3 * line_feeds) {
      fuzzing::finding(kTarget, "decimal output past units + 3 per LF");
    }
  } catch (const fuzzing::FuzzStop&) {
    fuzzing::finding(kTarget, "a readable wide file stopped the program");
  }
  return 0;
}
