// The selection engines on any wide bytes, with the real code page 932 table
// and the list "20B9F": Selecting built from settled options the input
// chooses, run to a file, and the narrow file compared with the reference
// model of the selection rules (tests/reference). Also checks the
// replacement-byte table, the sizing of the wide file, the line count, and
// the output bounds that sizing the output from the input rests on.
//
// Input (7 header bytes, then the wide file):
//   0: bits 0-1 column (plain, decimal, integer, filtered), 2 -q, 3 -k,
//      4 -d, 5 -p, 6 -o, 7 LF line ends
//   1: bits 0-3 field number (0..10 after a modulo), 4 the binary.tmp route,
//      5 the wide-file refresh, 6 keep binary.tmp, 7 see byte 6
//   2: separator, 3: quote, 4: katakana replacement, 5: completion
//      (values below 0x10 pick a common choice, others are the byte itself)
//   6: tiling. From 0xF0 the rest is repeated past 64 Ki units, beyond the
//      engines' read block and the size from which they build per-unit
//      tables, so block boundaries fall at every offset of the pattern; 0xFF
//      with bit 7 of byte 1 past 2 Mi units, to cross a 4 MiB output block.
//      Rare on purpose: a tiled input costs a hundred plain ones.
//      Bit 6 also cuts the file into parts scanned side by side: up to
//      2 + bits 4-5 parts of at least 1 + 5 x bits 0-3 units each.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "fuzz_support.h"
#include "model_settings.h"
#include "options/final_effect.h"
#include "reference_select.h"
#include "select/select_utf16.h"
#include "select/wide_coding.h"
#include "tables/derive_binary.h"
#include "tables/survivor_utf16.h"
#include "tables/table_format.h"

#ifndef PELMORA_REVERSE_TABLE_PATH
#error "PELMORA_REVERSE_TABLE_PATH must name data/MS932~UTF16.bin"
#endif

namespace {

using fuzzing::finding;
constexpr const char* kWideName = "wide.txt";
constexpr const char* kNarrowName = "narrow.txt";
constexpr std::size_t kHeader = 7;
constexpr std::uint8_t kDrop = Selecting::kDrop;

// Bytes that mean something to the engines or the replacement-byte table.
constexpr std::uint8_t kCommon[16] = {',',  '\t', '|',  ';',  ' ', '"',
                                      '~',  '.',  '-',  '0',  '5', 0x0A,
                                      0x0D, 0x00, 0xDE, kDrop};

std::uint8_t choose(std::uint8_t b) { return b < 16 ? kCommon[b] : b; }

// The same table for every input: derived once, its codes read once.
const reference::CodeTable& codes(const SurvivorsUTF16& table) {
  static const reference::CodeTable once = reference::codesOf(table);
  return once;
}

void prepareFolder() {
  static bool done = false;
  if (std::exchange(done, true)) return;
  std::error_code error;
  std::filesystem::copy_file(
      PELMORA_REVERSE_TABLE_PATH, table_format::kSourceFileName,
      std::filesystem::copy_options::overwrite_existing, error);
  if (error) finding("cannot copy " PELMORA_REVERSE_TABLE_PATH);
  if (DeriveTable().derive() != DeriveStatus::kOk) {
    finding("the table derivation failed");
  }
  fuzzing::writeFile(kSurrogateListFileName, "20B9F\r\n");
}

void run(const std::uint8_t* data, const std::string& wide) {
  FinalEffects::Values v;
  v.decimalExtraction = (data[0] & 3) == 1;
  v.integerExtraction = (data[0] & 3) == 2;
  v.quotedSeparatorIgnored = (data[0] & 0x04) != 0;
  v.replaceKatakana = (data[0] & 0x08) != 0;
  v.dropCombining = (data[0] & 0x10) != 0;
  v.omitHI = (data[0] & 0x20) != 0;
  v.dropControl = (data[0] & 0x40) != 0;
  v.crlfLines = (data[0] & 0x80) == 0;
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
  const Column column = v.decimalExtraction         ? Column::kDecimal
                        : v.integerExtraction       ? Column::kInteger
                        : v.dropControl || v.omitHI ? Column::kFiltered
                                                    : Column::kPlain;
  const LineEnd line_end = v.crlfLines ? LineEnd::kCrLf : LineEnd::kLf;
  const reference::Settings model =
      reference::modelSettings(v, column, line_end);
  const FinalEffects effects{FinalEffects::Values(v)};

  Selecting selecting;
  selecting.buildReplacementBytes(effects);
  for (std::uint32_t i = 0; i < 224; ++i) {
    const int want = reference::replacement(model, i);
    if (selecting.replacementByte(i) !=
        (want == reference::kDropped ? kDrop : want)) {
      finding("replacement byte " + std::to_string(i));
    }
  }
  if (selecting.replacementByte(224) != kDrop ||
      selecting.replacementByte(0xFFFF) != kDrop ||
      reference::replacement(model, 224) != reference::kDropped) {
    finding("a replacement byte past the table does not drop");
  }

  selecting.prepareRun(effects, effects.wideName());
  if (selecting.wideBytes() != static_cast<std::int64_t>(wide.size())) {
    finding("the preparation sized the file wrongly");
  }
  selecting.unreadFileStop(-1);
  if (v.refreshWide || v.temporaryRoute) {
    selecting.holdTemporaryOrStop(v.refreshWide, v.temporaryRoute, kNarrowName);
  }
  if (v.refreshWide) {
    selecting.refreshWide();
    if (!v.temporaryRoute) selecting.releaseTemporary(v.keepTemporary);
    if (harness::readBytes(kWideName) != wide) {
      finding("the wide-file refresh changed its bytes");
    }
  }
  WriteResult status = WriteResult::kWritten;
  if (v.temporaryRoute) {
    status = selecting.runToTemporary(column, line_end);
    if (status == WriteResult::kWritten) {
      (void)selecting.copyFromTemporary(kNarrowName);
    }
    selecting.releaseTemporary(v.keepTemporary);
  } else {
    status = selecting.runToFile(column, line_end, kNarrowName);
  }
  if (status != WriteResult::kWritten) finding("the write failed");

  const reference::Result want =
      reference::select(wide, codes(*selecting.table()), model);
  bool exists = false;
  const std::string got = harness::readBytes(kNarrowName, &exists);
  if (!exists) finding("no narrow file");
  if (got != want.narrow) {
    finding("output " + fuzzing::hex(got) + "\n  expected " +
            fuzzing::hex(want.narrow));
  }
  if (selecting.lineCounter() != want.lines) {
    finding("line counter " + std::to_string(selecting.lineCounter()) +
            ", expected " + std::to_string(want.lines));
  }
  if (v.temporaryRoute &&
      std::filesystem::exists(kBinaryTmpName) != v.keepTemporary) {
    finding("binary.tmp kept against -y");
  }

  // The bounds an output sized from the input rests on: at most 2 bytes per
  // unit in one field, decimals at most the units plus 3 per LF.
  std::int64_t count = 0, line_feeds = 0;
  bool simple = true;
  for (const std::uint16_t u : reference::decodeWide(wide)) {
    ++count;
    line_feeds += u == 0x0A;
    simple = simple && u != 0x0A && u != 0x0D && u != v.separatorChar &&
             u != v.quoteChar;
  }
  const auto length = static_cast<std::int64_t>(got.size());
  if (column == Column::kPlain && v.fieldNumber == 1 && simple &&
      length > 2 * count) {
    finding("more than 2 bytes per unit in one field");
  }
  if (column == Column::kDecimal && length > count + 3 * line_feeds) {
    finding("decimal output past units + 3 per LF");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enter("fuzz_engines", 256);
  prepareFolder();
  if (size < kHeader) return 0;
  // Small parts scanned side by side, so that quotes, pairs and numbers
  // reach across the joins.
  const bool parts = (data[6] & 0x40) != 0;
  Selecting::setPartsForTesting(parts ? 1 + (data[6] & 0x0F) * 5 : 0,
                                parts ? 2 + ((data[6] >> 4) & 3) : 0);
  std::string wide = fuzzing::text(data + kHeader, size - kHeader);
  const std::size_t pattern = wide.size();
  if (data[6] >= 0xF0 && pattern > 0) {
    const bool huge = data[6] == 0xFF && (data[1] & 0x80) != 0;
    const std::size_t bytes = 2 * (std::size_t{1} << (huge ? 21 : 16)) +
                              pattern * ((data[6] & 7) + 1u);
    while (wide.size() < bytes) wide.append(wide, 0, pattern);
    wide.resize(bytes);
  }
  fuzzing::writeFile(kWideName, wide);
  fuzzing::removeFile(kNarrowName);
  fuzzing::removeFile(kBinaryTmpName);
  // A workbook is refused (246); every other readable file is converted.
  if (wide_coding::isWorkbook(
          reinterpret_cast<const std::uint8_t*>(wide.data()), wide.size())) {
    if (!fuzzing::stops([&] { run(data, wide); })) {
      finding("a workbook was not refused");
    }
    return 0;
  }
  fuzzing::mustNotStop("a readable wide file stopped the program",
                       [&] { run(data, wide); });
  return 0;
}
