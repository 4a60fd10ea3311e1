// The engines: plain and filtered selection, decimal and integer extraction.
//
// The wide file streams through one small block of code units; the scanners
// keep their state from block to block, so the result is the same as a scan
// of the whole file held in memory, at the cost of reading it once. Outside
// Field-N only line ends, quotes, separators and listed high surrogates can
// change anything, so the scanners pass over everything else 64 units at a
// time (field_scanners.h).
#include <cstring>
#include <new>

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

// Reads the wide file block by block: exactly `units` code units, the ones
// past a premature end of the file read as zeros.
template <class Scanner>
bool streamUnits(const std::string& name, std::int64_t units,
                 std::int64_t start, Scanner& scanner,
                 bool (*make_room)(void*, std::size_t), void* room,
                 std::uint8_t* (*cursor)(void*),
                 void (*advance)(void*, std::uint8_t*)) {
  platform::File file;
  if (file.openRead(name) != platform::Status::kOk) return false;
  // The scanners classify whole windows of 64 units, so the block reaches
  // a window (and the unit a byte-order mark shifts it by) past its end.
  static_assert(kReadBlockUnits <= kMaxBlockUnits, "scanners take the block");
  std::unique_ptr<std::uint16_t[]> block(
      new (std::nothrow) std::uint16_t[kReadBlockUnits + kMaskWindow + 1]());
  if (!block) return false;
  const bool little_endian = [] {
    const std::uint16_t probe = 1;
    std::uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
  }();
  std::int64_t done = 0;
  bool at_end = false;
  while (done < units) {
    std::size_t want = static_cast<std::size_t>(
        units - done < static_cast<std::int64_t>(kReadBlockUnits)
            ? units - done
            : static_cast<std::int64_t>(kReadBlockUnits));
    std::size_t got = 0;
    if (!at_end) {
      if (file.read(block.get(), want * 2, &got) != platform::Status::kOk) {
        return false;
      }
    }
    if (got < want * 2) {
      at_end = true;
      std::memset(reinterpret_cast<std::uint8_t*>(block.get()) + got, 0,
                  want * 2 - got);
    }
    if (!little_endian) {
      for (std::size_t i = 0; i < want; ++i) {
        block[i] = static_cast<std::uint16_t>((block[i] >> 8) |
                                              (block[i] << 8));
      }
    }
    std::size_t skip = done < start ? static_cast<std::size_t>(start - done)
                                    : 0;
    if (skip > want) skip = want;
    if (!make_room(room, (want - skip) * kMostBytesPerUnit)) return false;
    advance(room,
            scanner.feed(block.get() + skip, want - skip, cursor(room)));
    done += static_cast<std::int64_t>(want);
  }
  return file.close() == platform::Status::kOk;
}

}  // namespace

bool Selecting::OutputBlocks::reserve(std::size_t bytes) {
  if (static_cast<std::size_t>(limit_ - cursor_) >= bytes) return true;
  closeCurrent();
  std::size_t capacity = bytes > kOutputBlockBytes ? bytes : kOutputBlockBytes;
  Block block;
  block.bytes.reset(new (std::nothrow) std::uint8_t[capacity]);
  if (!block.bytes) return false;
  block.capacity = capacity;
  cursor_ = block.bytes.get();
  limit_ = cursor_ + capacity;
  try {
    blocks_.push_back(std::move(block));
  } catch (const std::bad_alloc&) {
    cursor_ = limit_ = nullptr;
    return false;
  }
  return true;
}

void Selecting::OutputBlocks::closeCurrent() {
  if (!blocks_.empty()) {
    blocks_.back().used =
        static_cast<std::size_t>(cursor_ - blocks_.back().bytes.get());
  }
}

std::int64_t Selecting::OutputBlocks::size() const {
  std::int64_t total = 0;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    total += static_cast<std::int64_t>(
        i + 1 == blocks_.size() ? cursor_ - blocks_[i].bytes.get()
                                : static_cast<std::ptrdiff_t>(blocks_[i].used));
  }
  return total;
}

template <class Sink>
bool Selecting::OutputBlocks::forEach(Sink sink) const {
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    std::size_t used = i + 1 == blocks_.size()
                           ? static_cast<std::size_t>(
                                 cursor_ - blocks_[i].bytes.get())
                           : blocks_[i].used;
    if (used > 0 && !sink(blocks_[i].bytes.get(), used)) return false;
  }
  return true;
}

bool Selecting::scanWideFile(Column column, LineEnd line_end) {
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
  std::unique_ptr<std::uint32_t[]> unit_output;
  if (large && (column == Column::kPlain || column == Column::kFiltered)) {
    unit_output.reset(new (std::nothrow) std::uint32_t[0x10000]);
    if (!unit_output) return false;
    const bool filter = column == Column::kFiltered;
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      const TableEntry& e = entries[unit];
      std::uint32_t v;
      if (e.kind == SurvivorsUTF16::kListedHighKind) {
        v = kFullRules;
      } else if (e.kind == SurvivorsUTF16::kDoubleKind) {
        v = outputOf(e.first | (std::uint32_t{e.second} << 8), 2);
      } else if (e.kind == SurvivorsUTF16::kSingleHighKind) {
        std::uint8_t value = classValue(e.first);
        v = value == kDrop ? outputOf(0, 0) : outputOf(value, 1);
      } else if (unit == kLf || unit == quote || unit == separator) {
        v = unit == kCr ? outputOf(0, 0) : kFullRules;
      } else if (unit == kCr || (filter && classValue(unit) == kDrop)) {
        v = outputOf(0, 0);
      } else {
        v = outputOf(unit & 0xFF, 1);
      }
      unit_output[unit] = v;
    }
  }

  std::unique_ptr<std::uint8_t[]> before_number;
  if (large && (column == Column::kDecimal || column == Column::kInteger)) {
    before_number.reset(new (std::nothrow) std::uint8_t[0x10000]);
    if (!before_number) return false;
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
  auto make_room = [](void* room, std::size_t bytes) {
    return static_cast<OutputBlocks*>(room)->reserve(bytes);
  };
  auto cursor = [](void* room) {
    return static_cast<OutputBlocks*>(room)->cursor();
  };
  auto advance = [](void* room, std::uint8_t* to) {
    static_cast<OutputBlocks*>(room)->advance(to);
  };
  auto run = [&](auto& scanner) {
    bool ok = streamUnits(wide_name_, unit_count_, start_index_, scanner,
                          make_room, &output_, cursor, advance);
    line_counter_ = scanner.lines();
    return ok;
  };
  switch (column) {
    case Column::kDecimal: {
      NumberScanner<true> scanner(settings);
      return run(scanner);
    }
    case Column::kInteger: {
      NumberScanner<false> scanner(settings);
      return run(scanner);
    }
    case Column::kPlain: {
      FieldScanner<false> scanner(settings);
      return run(scanner);
    }
    case Column::kFiltered:
    default: {
      FieldScanner<true> scanner(settings);
      return run(scanner);
    }
  }
}

int Selecting::runToFile(Column column, LineEnd line_end,
                         const std::string& output_name) {
  output_name_ = output_name;
  line_counter_ = 0;
  output_ = OutputBlocks();
  if (!scanWideFile(column, line_end)) {
    diagnostics::report(readFailurePrefix(column, true, line_end) +
                        wide_name_);
    diagnostics::stop(1);
  }
  return blockWrite();
}

std::int64_t Selecting::runToStandardOutput(Column column) {
  output_name_.clear();
  line_counter_ = 0;
  output_ = OutputBlocks();
  if (!scanWideFile(column, LineEnd::kCrLf)) {
    diagnostics::report(readFailurePrefix(column, false, LineEnd::kCrLf) +
                        wide_name_);
    diagnostics::stop(1);
  }
  (void)output_.forEach([](const std::uint8_t* bytes, std::size_t length) {
    return platform::writeStandardOutput(bytes, length) ==
           platform::Status::kOk;
  });
  return line_counter_;
}

int Selecting::blockWrite() {
  platform::File file;
  bool ok = file.create(output_name_) == platform::Status::kOk;
  if (ok) {
    ok = output_.forEach([&file](const std::uint8_t* bytes, std::size_t length) {
      std::size_t written = 0;
      return file.write(bytes, length, &written) == platform::Status::kOk;
    });
  }
  if (file.isOpen() && file.close() != platform::Status::kOk) ok = false;
  if (!ok) {
    diagnostics::report("Rewrite() error-215: " + output_name_);
    return kWriteFailed;
  }
  return kWriteOk;
}
