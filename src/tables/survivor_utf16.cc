#include "tables/survivor_utf16.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "diagnostics/error_text.h"
#include "options/final_effect.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "tables/command_path.h"
#include "tables/data_note.h"

namespace {

using table_format::kDoubleKind;
using table_format::kListedHighKind;
using table_format::kSingleHighKind;
using table_format::kSingleLowKind;
using table_format::kTableFileName;
using table_format::kTableRecordSize;

// Reads the first line of set_dravikson.txt (up to CR or LF). A line
// longer than any full name a system accepts is no name any system could
// open, and cutting it would name some other file, which might exist; so
// such a file counts as unreadable, like a missing one.
bool readFirstLine(const std::string& name, std::string* line) {
  line->clear();
  platform::File file;
  return file.openRead(name) == platform::Status::kOk &&
         platform::readFirstLine(&file, platform::kLongestFullName, true,
                                 line) == platform::TextRead::kRead;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case digits end the number on purpose
}

// The list keeps to eight hexadecimal digits; anything longer is ignored.
constexpr std::size_t kMostHexDigits = 8;
// A line of surro.txt is kept up to here: one digit more than a number may
// have is enough to see that it has too many, and what follows the digits
// never counts. So the parse of the kept head is the parse of the line.
constexpr std::size_t kLongestListLine = kMostHexDigits + 1;
// surro.txt is read no further than this. Its useful lines are U+20000..
// U+3FFFF, one each: 131,072 lines of at most 9 bytes, about 1.1 MiB, and a
// few times that leaves room for remarks. Beyond it lies no list, only a
// huge or endless file that would hold up every run.
constexpr std::size_t kListReadLimit = std::size_t{4} << 20;

}  // namespace

SurvivorsUTF16::SurvivorsUTF16()
    : tables_(static_cast<Tables*>(std::calloc(1, sizeof(Tables)))) {
  if (!tables_) throw std::bad_alloc();
}

void SurvivorsUTF16::FreeTables::operator()(Tables* tables) const {
  std::free(tables);
}

bool SurvivorsUTF16::probeKeeping(const std::string& name) const {
  if (name.empty()) return false;
  platform::File file;
  if (file.openRead(name) != platform::Status::kOk) return false;
  probed_ = std::move(file);
  probed_name_ = name;
  return true;
}

std::string SurvivorsUTF16::fixedPlace(std::vector<std::string>* tried) const {
  std::string name = platform::fixedTablePath(kTableFileName);
  tried->push_back(name);
  if (probeKeeping(name)) return name;
  diagnostics::report("Reset() error-154: " + name);
  return std::string();
}

std::string SurvivorsUTF16::currentFolder(
    std::vector<std::string>* tried) const {
  tried->push_back(kTableFileName);
  if (probeKeeping(kTableFileName)) return kTableFileName;
  diagnostics::report(std::string("Reset() error-153: ") + kTableFileName);
  return std::string();
}

std::string SurvivorsUTF16::programFolder(
    std::vector<std::string>* tried) const {
  CommandPath path;
  path.start(true);
  return path.search(kTableFileName, tried);
}

std::string SurvivorsUTF16::settingsFile(
    std::vector<std::string>* tried) const {
  std::string line;
  tried->push_back(kTableSettingsFileName);
  if (!readFirstLine(kTableSettingsFileName, &line)) {
    diagnostics::report(std::string("Reset() error-155: ") +
                        kTableSettingsFileName);
    return std::string();
  }
  if (line.empty()) return std::string();
  tried->push_back(line);
  if (probeKeeping(line)) return line;
  diagnostics::report("Reset() error-156: " + line);
  return std::string();
}

TableSearch SurvivorsUTF16::search(const FinalEffects& options) const {
  TableSearch search;
  const auto found = [&search](std::string name) {
    search.found = std::move(name);
    return !search.found.empty();
  };
  // -K goes straight to the settings file; -D stops after the fixed place.
  if (!options.tableFromSettings()) {
    if (found(fixedPlace(&search.tried))) return search;
    if (options.noTableSearch()) {
      search.refusal = 166;
      search.refusal_message =
          "Reset() error-166: " + platform::fixedTablePath(kTableFileName);
      return search;
    }
    if (found(currentFolder(&search.tried)) ||
        found(programFolder(&search.tried))) {
      return search;
    }
  }
  if (found(settingsFile(&search.tried))) return search;
  search.refusal = 167;
  search.refusal_message = "Reset() error-167: i = 4";
  return search;
}

bool SurvivorsUTF16::loadFound(TableSearch* search) {
  binary_table_ = search->found;
  if (!search->found.empty() && loadFile(search->found)) return true;
  // The file passed its probe, so it vanished or is damaged: converting
  // with half a table would write wrong bytes without a word.
  search->refusal = 240;
  search->refusal_message = "BlockRead() error-240: " + search->found;
  return false;
}

void SurvivorsUTF16::load(const FinalEffects& options, DataNote* note) {
  TableSearch found = search(options);
  binary_table_.clear();
  if (found.found.empty()) {
    diagnostics::report(found.refusal_message);
    diagnostics::stop(1);
  }
  binary_table_ = found.found;

  if (options.tableReport()) {
    const std::string text =
        binary_table_ + " is primarily accessible to Pelmora.";
    DataNote own;
    (note != nullptr ? note : &own)->write(text);
  }

  if (!loadFound(&found)) {
    diagnostics::report(found.refusal_message);
    diagnostics::stop(1);
  }
}

void SurvivorsUTF16::applyRecord(const std::uint8_t* record) {
  std::uint32_t unit = record[0];
  if (record[2] == kSingleLowKind) {
    tables_->entries[unit] = TableEntry{kSingleLowKind, record[3], 0, 0};
    return;
  }
  unit |= std::uint32_t{record[1]} << 8;
  if (unit >= kTableUnits) return;
  if (record[2] == kSingleHighKind) {
    tables_->entries[unit] = TableEntry{kSingleHighKind, record[3], 0, 0};
  } else {
    tables_->entries[unit] = TableEntry{kDoubleKind, record[3], record[4], 0};
  }
}

bool SurvivorsUTF16::loadFile(const std::string& name) {
  platform::File file;
  if (probed_.isOpen() && name == probed_name_) {
    file = std::move(probed_);
  } else if (file.openRead(name) != platform::Status::kOk) {
    return false;
  }
  // Whole records per block, so a record never straddles two reads. A few
  // reads into a small block cost less than the page faults of one read
  // into a block that holds the whole table (about 48 KiB).
  std::array<std::uint8_t, kTableRecordSize * 3276> block;
  std::size_t kept = 0;
  for (;;) {
    std::size_t got = 0;
    if (file.read(block.data() + kept, block.size() - kept, &got) !=
        platform::Status::kOk) {
      return false;
    }
    std::size_t available = kept + got;
    std::size_t whole = available / kTableRecordSize * kTableRecordSize;
    for (std::size_t at = 0; at < whole; at += kTableRecordSize) {
      applyRecord(block.data() + at);
    }
    kept = available - whole;
    for (std::size_t i = 0; i < kept; ++i) block[i] = block[whole + i];
    if (available < block.size()) break;
  }
  // The last record is applied once more in the shape the format has always
  // had: a short remainder padded with zeros, or an all-zero record, which
  // leaves code unit 0x0000 as kind 0 with bytes 0.
  std::uint8_t last[kTableRecordSize] = {0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < kept; ++i) last[i] = block[i];
  applyRecord(last);
  return file.close() == platform::Status::kOk;
}

std::uint32_t SurvivorsUTF16::hexadecimal_sequence_to_integer(
    const char* characters, std::size_t length, std::size_t* digits) {
  std::size_t count = 0;
  while (count < length && hexDigitValue(characters[count]) >= 0) ++count;
  *digits = count;
  if (count > kMostHexDigits) return 0;
  std::uint32_t total = 0;
  for (std::size_t k = 0; k < count; ++k) {
    char digit = characters[count - 1 - k];
    std::uint32_t value = static_cast<std::uint32_t>(hexDigitValue(digit));
    // The eighth digit from the right must stay below 8: the sum is a
    // signed 32-bit number in the list's format.
    if (k == kMostHexDigits - 1 && value >= 8) {
      diagnostics::report(
          "hexadecimal_sequence_to_integer() error-158: i = " +
          std::to_string(static_cast<int>(static_cast<unsigned char>(digit))));
      diagnostics::stop(1);
    }
    total += value << (4 * k);
  }
  return total;
}

void SurvivorsUTF16::registerCodePoint(std::uint32_t code_point) {
  // Only U+20000..U+3FFFF have rows in the pair tables.
  if (code_point < 0x20000 || code_point > 0x3FFFF) return;
  std::uint32_t v = code_point - 0x10000;
  std::uint32_t high = 0xD800 + (v >> 10);
  std::uint32_t low = 0xDC00 + (v & 0x3FF);
  tables_->entries[high] = TableEntry{
      kListedHighKind, static_cast<std::uint8_t>(high - kFirstPairHigh), 0, 0};
  std::size_t cell = (high - kFirstPairHigh) * kPairColumns + (low - 0xDC00);
  tables_->listed_pairs[cell / 64] |= std::uint64_t{1} << (cell % 64);
}

SurvivorList SurvivorsUTF16::survivors() {
  platform::File file;
  if (file.openRead(kSurrogateListFileName) != platform::Status::kOk) {
    diagnostics::report(std::string("Reset() error-192: ") +
                        kSurrogateListFileName);
    return SurvivorList::kUnreadable;
  }
  // The line the bound cuts is not taken either: its head could read as
  // another number than the whole line ("20000" of "200000").
  const platform::TextRules rules{kListReadLimit,
                                  platform::TextRules::AtLimit::kDropCutLine,
                                  kLongestListLine,
                                  kLongestListLine,
                                  false,
                                  true};
  const platform::TextRead read = platform::readTextLines(
      &file, rules, [this](std::string& line, std::size_t) {
        // An empty line ends the list.
        if (line.empty()) return false;
        std::size_t digits = 0;
        const std::uint32_t cp =
            hexadecimal_sequence_to_integer(line.data(), line.size(), &digits);
        if (digits <= kMostHexDigits) registerCodePoint(cp);
        return true;
      });
  if (read != platform::TextRead::kRead) {
    diagnostics::report(std::string("Reset() error-192: ") +
                        kSurrogateListFileName);
    return SurvivorList::kUnreadable;
  }
  return SurvivorList::kRead;
}

std::uint8_t SurvivorsUTF16::entry(std::uint32_t unit, int component) const {
  if (unit >= kTableUnits) return 0;
  const TableEntry& e = tables_->entries[unit];
  switch (component) {
    case 0:
      return e.kind;
    case 1:
      return e.first;
    case 2:
      return e.second;
    default:
      return 0;
  }
}

std::uint8_t SurvivorsUTF16::pair(std::uint32_t high, std::uint32_t low,
                                  int selector) const {
  if (high < kFirstPairHigh || high >= kFirstPairHigh + kPairRows ||
      low < 0xDC00 || low > 0xDFFF) {
    return 0;
  }
  std::size_t cell = (high - kFirstPairHigh) * kPairColumns + (low - 0xDC00);
  if (((tables_->listed_pairs[cell / 64] >> (cell % 64)) & 1) == 0) return 0;
  if (selector == 1) return kPairFirstByte;
  if (selector == 2) return kPairSecondByte;
  return 0;
}
