// The engines: plain and filtered selection, decimal and integer extraction.
//
// The wide file streams through one small block of code units; the scanners
// keep their state from block to block, so the result is the same as a scan
// of the whole file held in memory, at the cost of reading it once. Outside
// Field-N only line ends, quotes, separators and listed high surrogates can
// change anything, so the scanners pass over everything else 64 units at a
// time (field_scanners.h).
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "select/field_scanners.h"
#include "select/select_utf16.h"

namespace {

using namespace scanners;

// Units per read: small enough to stay in the processor's cache, and below
// the size at which the allocator maps fresh pages for a buffer (reads into
// such a mapping measured three times slower in the kernel's copy).
constexpr std::size_t kReadBlockUnits = std::size_t{1} << 15;
// Output blocks: each holds the bytes of many read blocks.
constexpr std::size_t kOutputBlockBytes = std::size_t{1} << 22;
// The most bytes one code unit can bring: a line end in the decimal family
// (point, completion character, CR, LF). Every other unit brings at most 2.
constexpr std::size_t kMostBytesPerUnit = 4;

const char* readFailurePrefix(Column column, bool to_file, LineEnd line_end) {
  bool crlf = line_end == LineEnd::kCrLf;
  switch (column) {
    case Column::kDecimal:
      return !to_file ? "Reset() error-200: "
                      : (crlf ? "Reset() error-194: " : "Reset() error-195: ");
    case Column::kInteger:
      return !to_file ? "Reset() error-201: "
                      : (crlf ? "Reset() error-197: " : "Reset() error-198: ");
    case Column::kPlain:
      return !to_file ? "Reset() error-227: "
                      : (crlf ? "Reset() error-218: " : "Reset() error-219: ");
    case Column::kFiltered:
    default:
      return !to_file ? "Reset() error-228: "
                      : (crlf ? "Reset() error-224: " : "Reset() error-225: ");
  }
}

bool hasListedSurrogates(const TableEntry* entries) {
  for (std::uint32_t unit = 0xD800; unit < 0xDC00; ++unit) {
    if (entries[unit].kind == SurvivorsUTF16::kListedHighKind) return true;
  }
  return false;
}

bool hostIsLittleEndian() {
  const std::uint16_t probe = 1;
  std::uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

void toHostOrder(std::uint16_t* units, std::size_t n) {
  if (hostIsLittleEndian()) return;
  for (std::size_t i = 0; i < n; ++i) {
    units[i] = static_cast<std::uint16_t>((units[i] >> 8) | (units[i] << 8));
  }
}

// How the scan of one part of the wide file ended.
enum class PartEnd { kDone, kReadFailed, kNoRoom, kAbandoned };

// Feeds units [begin, end) of the wide file to the scanner block by block
// and keeps the bytes in `room`; a file that ends before `end` is a read
// failure. Gives up early once `abandon` is set by another part.
template <class Scanner, class Room>
PartEnd streamUnits(const std::string& name, std::int64_t begin,
                    std::int64_t end, Scanner& scanner, Room& room,
                    const std::atomic<bool>& abandon,
                    std::size_t* failed_request) {
  platform::File file;
  if (file.openRead(name) != platform::Status::kOk ||
      file.seek(begin * 2) != platform::Status::kOk) {
    return PartEnd::kReadFailed;
  }
  // The scanners classify whole windows of 64 units, so the block reaches
  // a window past its end.
  static_assert(kReadBlockUnits <= kMaxBlockUnits, "scanners take the block");
  std::unique_ptr<std::uint16_t[]> block(
      new (std::nothrow) std::uint16_t[kReadBlockUnits + kMaskWindow]());
  if (!block) {
    *failed_request = (kReadBlockUnits + kMaskWindow) * 2;
    return PartEnd::kNoRoom;
  }
  std::int64_t at = begin;
  while (at < end) {
    if (abandon.load(std::memory_order_relaxed)) return PartEnd::kAbandoned;
    const std::size_t want = static_cast<std::size_t>(
        end - at < static_cast<std::int64_t>(kReadBlockUnits)
            ? end - at
            : static_cast<std::int64_t>(kReadBlockUnits));
    std::size_t got = 0;
    // A file that ends before the size it had when it was measured was cut
    // by someone else while it was read: what is left is no longer the
    // file, and padding it would write bytes that were never there.
    if (file.read(block.get(), want * 2, &got) != platform::Status::kOk ||
        got < want * 2) {
      return PartEnd::kReadFailed;
    }
    toHostOrder(block.get(), want);
    if (!room.reserve(want * kMostBytesPerUnit)) {
      *failed_request = want * kMostBytesPerUnit;
      return PartEnd::kNoRoom;
    }
    room.advance(scanner.feed(block.get(), want, room.cursor()));
    at += static_cast<std::int64_t>(want);
  }
  return file.close() == platform::Status::kOk ? PartEnd::kDone
                                               : PartEnd::kReadFailed;
}

// Parts of a large wide file are scanned side by side, one per processor.
// A part starts right after a line feed, where the only state a scanner
// carries over is whether a quote is open; each part after the first is
// scanned on the guess that none is (in a well-formed export every line
// closes its quotes), and scanned again, once the part before it is known,
// when the guess was wrong. The output is the same as a scan from start to
// end in every case.
constexpr std::int64_t kLeastPartUnits = std::int64_t{1} << 20;
constexpr std::size_t kMostParts = 8;
// How far past its planned start a part looks for a line feed to begin
// after; a file whose lines are longer is scanned in fewer parts.
constexpr std::size_t kCutSearchUnits = std::size_t{1} << 16;

std::int64_t g_least_part_units = kLeastPartUnits;
std::size_t g_parts_wanted = 0;  // 0: one per processor

// Where the parts of units [begin, end) start: just after line feeds that
// cannot be the low half of a pair because the unit before them is no high
// surrogate. Fills the starts after the first part's, in order, and
// returns how many there are.
struct PartStarts {
  std::int64_t at[kMostParts - 1];
  std::size_t count = 0;
};

PartStarts findPartStarts(const std::string& name, std::int64_t begin,
                          std::int64_t end) {
  PartStarts starts;
  const std::int64_t units = end - begin;
  std::size_t parts =
      g_parts_wanted != 0 ? g_parts_wanted : platform::processorCount();
  if (parts > kMostParts) parts = kMostParts;
  const std::int64_t least = g_least_part_units < 1 ? 1 : g_least_part_units;
  if (static_cast<std::int64_t>(parts) > units / least) {
    parts = static_cast<std::size_t>(units / least);
  }
  if (parts < 2) return starts;
  platform::File file;
  if (file.openRead(name) != platform::Status::kOk) return starts;
  std::unique_ptr<std::uint16_t[]> window(
      new (std::nothrow) std::uint16_t[kCutSearchUnits]);
  if (!window) return starts;
  std::int64_t previous = begin;
  for (std::size_t i = 1; i < parts; ++i) {
    // The unit before the planned start is read too, to see what precedes
    // a line feed found first.
    const std::int64_t from = begin + units / static_cast<std::int64_t>(parts) *
                                          static_cast<std::int64_t>(i) - 1;
    if (from < previous) continue;
    std::size_t got = 0;
    if (file.seek(from * 2) != platform::Status::kOk ||
        file.read(window.get(), kCutSearchUnits * 2, &got) !=
            platform::Status::kOk) {
      break;
    }
    const std::size_t n = got / 2;
    toHostOrder(window.get(), n);
    for (std::size_t k = 1; k < n; ++k) {
      const std::int64_t start = from + static_cast<std::int64_t>(k) + 1;
      if (start >= end) break;
      if (window[k] == kLf && (window[k - 1] & 0xFC00) != 0xD800) {
        starts.at[starts.count++] = start;
        previous = start;
        break;
      }
    }
  }
  return starts;
}

}  // namespace

void Selecting::setPartsForTesting(std::int64_t least_part_units,
                                   std::size_t parts) {
  g_least_part_units = least_part_units > 0 ? least_part_units
                                            : kLeastPartUnits;
  g_parts_wanted = parts;
}

namespace {

template <class Scanner, class Room>
struct Part {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  bool open_quote = false;  // the guess it was scanned with
  std::unique_ptr<Scanner> scanner;
  Room output;
  PartEnd outcome = PartEnd::kDone;
  std::size_t failed_request = 0;
};

template <class Scanner, class Room>
struct PartScan {
  const std::string* name;
  const Settings* settings;
  std::vector<Part<Scanner, Room>>* parts;
  std::atomic<bool> abandon{false};

  // Scans part `index` afresh with the guess it holds.
  void scan(std::size_t index) {
    Part<Scanner, Room>& part = (*parts)[index];
    part.output = Room();
    part.failed_request = 0;
    part.scanner.reset(
        index == 0 ? new (std::nothrow) Scanner(*settings)
                   : new (std::nothrow) Scanner(*settings, part.open_quote));
    if (!part.scanner) {
      part.outcome = PartEnd::kNoRoom;
      part.failed_request = sizeof(Scanner);
    } else {
      part.outcome = streamUnits(*name, part.begin, part.end, *part.scanner,
                                 part.output, abandon, &part.failed_request);
    }
    if (part.outcome != PartEnd::kDone) {
      abandon.store(true, std::memory_order_relaxed);
    }
  }

  static void run(void* context, std::size_t index) {
    static_cast<PartScan*>(context)->scan(index);
  }
};

}  // namespace

template <class Scanner, class Settings>
Selecting::ScanEnd Selecting::scanParts(const Settings& settings,
                                        std::int64_t* lines,
                                        std::int64_t* failed_capacity) {
  using ThisPart = Part<Scanner, OutputBlocks>;
  PartStarts starts = findPartStarts(wide_name_, start_index_, unit_count_);
  std::vector<ThisPart> parts;
  try {
    parts.resize(starts.count + 1);
  } catch (const std::bad_alloc&) {
    starts.count = 0;
    parts.clear();
    parts.resize(1);  // one part needs no more than the scan itself
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    parts[i].begin = i == 0 ? start_index_ : starts.at[i - 1];
    parts[i].end = i + 1 < parts.size() ? starts.at[i] : unit_count_;
  }
  PartScan<Scanner, OutputBlocks> scan;
  scan.name = &wide_name_;
  scan.settings = &settings;
  scan.parts = &parts;
  platform::runInParallel(parts.size(), &PartScan<Scanner, OutputBlocks>::run,
                          &scan);

  // Each part's guess is checked against how the part before it really
  // ended, in order, so a part scanned again is checked with its new end.
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].outcome != PartEnd::kDone) break;
    if (i + 1 == parts.size()) break;
    bool open_quote = false;
    if (!parts[i].scanner->endsAtLineStart(&open_quote)) {
      // The file changed under the scan: only one part from start to end
      // gives the bytes a scan of the file as it was read would.
      parts.erase(parts.begin() + 1, parts.end());
      parts[0].end = unit_count_;
      scan.abandon.store(false);
      scan.scan(0);
      break;
    }
    if (open_quote != parts[i + 1].open_quote ||
        parts[i + 1].outcome == PartEnd::kAbandoned) {
      parts[i + 1].open_quote = open_quote;
      scan.scan(i + 1);
    }
  }

  std::int64_t held = 0;
  for (ThisPart& part : parts) held += part.output.size();
  for (ThisPart& part : parts) {
    if (part.outcome == PartEnd::kReadFailed) return ScanEnd::kReadFailed;
    if (part.outcome == PartEnd::kNoRoom) {
      *failed_capacity = held + static_cast<std::int64_t>(part.failed_request);
      return ScanEnd::kNoRoom;
    }
  }
  *lines = 0;
  for (ThisPart& part : parts) {
    *lines += part.scanner->lines();
    if (!output_.append(std::move(part.output))) {
      *failed_capacity = held;
      return ScanEnd::kNoRoom;
    }
  }
  return ScanEnd::kDone;
}

bool Selecting::OutputBlocks::reserve(std::size_t bytes) {
  if (static_cast<std::size_t>(limit_ - cursor_) >= bytes) return true;
  closeCurrent();
  std::size_t capacity = bytes > kOutputBlockBytes ? bytes : kOutputBlockBytes;
  Block block;
  if (!block.memory.allocate(capacity)) return false;
  cursor_ = block.memory.data();
  limit_ = cursor_ + block.memory.size();
  try {
    blocks_.push_back(std::move(block));
  } catch (const std::bad_alloc&) {
    cursor_ = limit_ = nullptr;
    return false;
  }
  return true;
}

bool Selecting::OutputBlocks::append(OutputBlocks&& other) {
  if (other.blocks_.empty()) return true;
  if (blocks_.empty()) {
    *this = std::move(other);
    return true;
  }
  closeCurrent();
  other.closeCurrent();
  try {
    blocks_.reserve(blocks_.size() + other.blocks_.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (Block& block : other.blocks_) blocks_.push_back(std::move(block));
  cursor_ = other.cursor_;
  limit_ = other.limit_;
  other = OutputBlocks();
  return true;
}

void Selecting::OutputBlocks::closeCurrent() {
  if (!blocks_.empty()) {
    blocks_.back().used =
        static_cast<std::size_t>(cursor_ - blocks_.back().memory.data());
  }
}

std::int64_t Selecting::OutputBlocks::size() const {
  std::int64_t total = 0;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    total += static_cast<std::int64_t>(
        i + 1 == blocks_.size() ? cursor_ - blocks_[i].memory.data()
                                : static_cast<std::ptrdiff_t>(blocks_[i].used));
  }
  return total;
}

template <class Sink>
bool Selecting::OutputBlocks::forEach(Sink sink) const {
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    std::size_t used = i + 1 == blocks_.size()
                           ? static_cast<std::size_t>(
                                 cursor_ - blocks_[i].memory.data())
                           : blocks_[i].used;
    if (used > 0 && !sink(blocks_[i].memory.data(), used)) return false;
  }
  return true;
}

Selecting::ScanEnd Selecting::scanWideFile(Column column, LineEnd line_end,
                                           std::int64_t* lines,
                                           std::int64_t* failed_capacity) {
  const TableEntry* entries = table_->entries();
  const std::uint16_t separator = separator_byte_;
  const std::uint16_t quote = quote_byte_;
  const bool windows_usable =
      separator != quote && separator != kLf && separator != kCr &&
      quote != kLf && quote != kCr && entries[kLf].kind == 0 &&
      entries[separator].kind == 0 && entries[quote].kind == 0;

  bool digits_plain = static_cast<unsigned>(separator - '0') >= 10 &&
                      static_cast<unsigned>(quote - '0') >= 10;
  for (std::uint16_t digit = '0'; digit <= '9'; ++digit) {
    digits_plain = digits_plain && entries[digit].kind == 0;
  }

  // The per-unit tables cost about as much to build as the scan of 64 Ki
  // units gains from them, so a small file goes without.
  const bool large = unit_count_ >= static_cast<std::int64_t>(kReadBlockUnits);
  std::unique_ptr<std::uint16_t[]> unit_output;
  if (large && (column == Column::kPlain || column == Column::kFiltered)) {
    unit_output.reset(new (std::nothrow) std::uint16_t[0x10000]);
    if (!unit_output) {
      *failed_capacity = 0x10000 * 2;
      return ScanEnd::kNoRoom;
    }
    const bool filter = column == Column::kFiltered;
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      const TableEntry& e = entries[unit];
      std::uint16_t v = kFullRules;
      if (e.kind == SurvivorsUTF16::kDoubleKind) {
        v = twoBytesOf(e.first, e.second);
      } else if (e.kind == SurvivorsUTF16::kSingleHighKind) {
        std::uint8_t value = classValue(e.first);
        if (value != kDrop) v = value;
      } else if (e.kind == SurvivorsUTF16::kListedHighKind ||
                 unit == kLf || unit == quote || unit == separator ||
                 unit == kCr || (filter && classValue(unit) == kDrop)) {
        v = kFullRules;  // line ends, quotes, fields, pairs; nothing written
      } else {
        v = byteOfUncoded(unit);  // decided here, not in the scan
      }
      unit_output[unit] = v;
    }
  }

  std::unique_ptr<std::uint8_t[]> before_number;
  if (large && (column == Column::kDecimal || column == Column::kInteger)) {
    before_number.reset(new (std::nothrow) std::uint8_t[0x10000]);
    if (!before_number) {
      *failed_capacity = 0x10000;
      return ScanEnd::kNoRoom;
    }
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      const std::uint8_t kind = entries[unit].kind;
      bool full;
      if (kind == SurvivorsUTF16::kDoubleKind ||
          kind == SurvivorsUTF16::kSingleHighKind) {
        full = false;  // no number yet, so nothing ends
      } else if (kind == SurvivorsUTF16::kListedHighKind) {
        full = true;
      } else if (unit == kLf || unit == quote || unit == separator ||
                 unit == '-' || unit == '.') {
        full = true;  // line ends, quotes, fields; "-" and "." change
      } else {
        full = unit <= 0xA0 && classValue(unit) != kDrop;
      }
      before_number[unit] = full ? 1 : 0;
    }
  }

  Settings settings{entries,
                    table_.get(),
                    class_table_.data(),
                    field_number_,
                    separator,
                    quote,
                    quoted_separator_dropped_,
                    line_end == LineEnd::kCrLf,
                    completion_char_,
                    hasListedSurrogates(entries),
                    windows_usable,
                    digits_plain,
                    unit_output.get(),
                    before_number.get()};
  switch (column) {
    case Column::kDecimal:
      return scanParts<NumberScanner<true>>(settings, lines, failed_capacity);
    case Column::kInteger:
      return scanParts<NumberScanner<false>>(settings, lines, failed_capacity);
    case Column::kPlain:
      return scanParts<FieldScanner<false>>(settings, lines, failed_capacity);
    case Column::kFiltered:
    default:
      return scanParts<FieldScanner<true>>(settings, lines, failed_capacity);
  }
}

void Selecting::scanOrStop(Column column, LineEnd line_end, bool to_file) {
  std::int64_t lines = 0;
  std::int64_t failed_capacity = 0;
  switch (scanWideFile(column, line_end, &lines, &failed_capacity)) {
    case ScanEnd::kDone:
      line_counter_ = lines;
      return;
    case ScanEnd::kNoRoom:
      output_ = OutputBlocks();
      diagnostics::report("SetLength() error-223: " +
                          std::to_string(failed_capacity));
      diagnostics::stop(1);
      return;
    case ScanEnd::kReadFailed:
    default:
      output_ = OutputBlocks();
      diagnostics::report(readFailurePrefix(column, to_file, line_end) +
                          wide_name_);
      diagnostics::stop(1);
      return;
  }
}

int Selecting::runToFile(Column column, LineEnd line_end,
                         const std::string& output_name) {
  output_name_ = output_name;
  line_counter_ = 0;
  output_ = OutputBlocks();
  scanOrStop(column, line_end, true);
  return blockWrite();
}

std::int64_t Selecting::runToStandardOutput(Column column) {
  output_name_.clear();
  line_counter_ = 0;
  output_ = OutputBlocks();
  scanOrStop(column, LineEnd::kCrLf, false);
  const bool written =
      output_.forEach([](const std::uint8_t* bytes, std::size_t length) {
        return platform::writeStandardOutput(bytes, length) ==
               platform::Status::kOk;
      });
  if (!written) {
    // A full disk or a reader that went away: the script behind the pipe
    // got less than the whole column, which must not end as a success.
    output_ = OutputBlocks();
    diagnostics::report("Write() error-242: standard output");
    diagnostics::stop(1);
  }
  return line_counter_;
}

int Selecting::runToTemporary(Column column, LineEnd line_end) {
  output_name_ = kTemporaryFileName;
  line_counter_ = 0;
  output_ = OutputBlocks();
  scanOrStop(column, line_end, true);
  const bool written = temporary_.isOpen() &&
                       temporary_.rewind(true) == platform::Status::kOk &&
                       writeOutput(&temporary_);
  if (!written) {
    diagnostics::report("Rewrite() error-215: " + output_name_);
    return kWriteFailed;
  }
  return kWriteOk;
}

bool Selecting::writeOutput(platform::File* file) {
  return output_.forEach([file](const std::uint8_t* bytes, std::size_t length) {
    std::size_t written = 0;
    return file->write(bytes, length, &written) == platform::Status::kOk;
  });
}

int Selecting::blockWrite() {
  platform::File file;
  bool ok = file.create(output_name_) == platform::Status::kOk &&
            writeOutput(&file);
  if (file.isOpen() && file.close() != platform::Status::kOk) ok = false;
  if (!ok) {
    diagnostics::report("Rewrite() error-215: " + output_name_);
    return kWriteFailed;
  }
  return kWriteOk;
}
