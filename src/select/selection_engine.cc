// The engines: plain and filtered selection, decimal and integer extraction.
//
// The wide file streams through one small block of code units; the scanners
// keep their state from block to block, so the result is the same as a scan
// of the whole file held in memory, at the cost of reading it once. Outside
// Field-N only line ends, quotes, separators and listed high surrogates can
// change anything, so the scanners skip everything else four units at a
// time.
#include <cstring>
#include <new>

#include "select/unit_masks.h"

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "select/select_utf16.h"

namespace {

constexpr std::uint16_t kLf = 0x000A;
constexpr std::uint16_t kCr = 0x000D;
constexpr std::uint32_t kNoHigh = 0xD840;

// Units per read: small enough to stay in the processor's cache.
constexpr std::size_t kReadBlockUnits = std::size_t{1} << 16;
// Output blocks: each holds the bytes of many read blocks.
constexpr std::size_t kOutputBlockBytes = std::size_t{1} << 22;
// The most bytes one code unit can bring: a line end in the decimal family
// (point, completion character, CR, LF). Every other unit brings at most 2.
constexpr std::size_t kMostBytesPerUnit = 4;

// What every scanner reads from the prepared object.
struct Settings {
  const TableEntry* entries;
  const SurvivorsUTF16* table;
  std::uint8_t* classes;  // 224 entries; the number scanners change two
  std::int64_t field_number;
  std::uint16_t separator;
  std::uint16_t quote;
  bool quoted_separator_dropped;
  bool crlf;
  std::uint8_t completion;
  bool listed_surrogates;  // the table has kind-3 entries
  // Line feed, separator and quote are single kind-0 units that cannot be
  // mistaken for one another, so windows of units can be classified by
  // comparing values alone.
  bool windows_usable;
  // The digits are kind-0 units that are neither separator nor quote, so a
  // run of them inside a number is copied without the full rules.
  bool digits_plain;
  // Inside Field-N of the plain and filtered columns: what each unit writes
  // (see unitOutput), or nullptr for the number columns.
  const std::uint32_t* unit_output;
  // Inside Field-N of the number columns, before the number: 0 for the
  // units that are passed over there, 1 for those that need the full rules.
  const std::uint8_t* before_number;
};

// unitOutput entries: bits 0-15 up to two bytes, bits 16-17 how many of
// them, bit 24 set when the unit needs the full rules instead.
constexpr std::uint32_t kFullRules = std::uint32_t{1} << 24;

inline std::uint32_t outputOf(std::uint32_t bytes, std::uint32_t count) {
  return bytes | (count << 16);
}

inline std::uint8_t classOf(const std::uint8_t* classes, std::uint32_t value) {
  return value < Selecting::kClassTableSize ? classes[value]
                                            : Selecting::kDrop;
}

// The state every scanner keeps from unit to unit, and the pass over the
// units outside Field-N that both families share.
struct LineState {
  std::int64_t field = 1;
  bool target = false;
  bool quoted = false;
  bool pending = false;
  bool first_line = true;
  std::int64_t lines = 0;
};

// Consumes units from i on while the scanner is outside Field-N, a window of
// 64 at a time: only unquoted separators and line feeds are visited. Returns
// where the full rules must take over: after the separator or line feed that
// made Field-N begin, at a surrogate, or at the last (fewer than 64) units
// of the block.
// on_line_end(out) writes what a line feed writes outside Field-N;
// on_field_begins() is called when Field-N begins at a separator.
template <class LineEnd, class FieldBegins>
std::size_t passOver(const Settings& s, LineState& st,
                     const std::uint16_t* units, std::size_t i, std::size_t n,
                     std::uint8_t*& out, LineEnd on_line_end,
                     FieldBegins on_field_begins) {
  while (i + kMaskWindow <= n) {
    WindowMasks m;
    maskWindow(units + i, s.separator, s.quote, s.listed_surrogates, &m);
    std::uint64_t usable = ~std::uint64_t{0};
    std::size_t stop = kMaskWindow;
    if (m.surrogate != 0) {
      stop = lowestBit(m.surrogate);
      usable = (std::uint64_t{1} << stop) - 1;  // stop < 64 here
    }
    const std::uint64_t inside =
        prefixParity(m.quote) ^ (st.quoted ? ~std::uint64_t{0} : 0);
    const std::uint64_t unquoted_separators = m.separator & ~inside;
    std::uint64_t left = usable;  // bits not yet consumed
    for (;;) {
      // Once the field count has reached N without Field-N being selected
      // (its number has ended), no separator can matter before the line
      // ends: only line feeds are visited then, and the count stays at N.
      std::uint64_t events = m.line_feed;
      if (st.field < s.field_number) events |= unquoted_separators;
      events &= left;
      if (events == 0) break;
      const unsigned k = lowestBit(events);
      left &= ~((std::uint64_t{2} << k) - 1);  // 2 << 63 wraps to 0: all
      bool begins;
      if (((m.line_feed >> k) & 1) != 0) {
        out = on_line_end(out);
        st.field = 1;
        begins = s.field_number == 1;
      } else {
        ++st.field;
        begins = st.field == s.field_number;
        if (begins) on_field_begins();
      }
      if (begins) {
        st.target = true;
        st.quoted = ((inside >> k) & 1) != 0;
        return i + k + 1;
      }
    }
    st.quoted ^= (bitCount(m.quote & usable) & 1) != 0;
    i += stop;
    if (stop < kMaskWindow) return i;
  }
  return i;  // fewer than 64 units left: the full rules finish the block
}

// Plain selection (kFilter false) and filtered selection (kFilter true):
// Field-N of every line with the separator that closes it, quotes removed.
template <bool kFilter>
class FieldScanner {
 public:
  explicit FieldScanner(const Settings& s) : s_(s) {
    st_.target = s.field_number == 1;
  }

  std::int64_t lines() const { return st_.lines; }

  // Scans n units and writes their bytes from out on; returns the new end.
  std::uint8_t* feed(const std::uint16_t* units, std::size_t n,
                     std::uint8_t* out) {
    const std::uint32_t* table = s_.unit_output;
    std::size_t i = 0;
    while (i < n) {
      if (st_.target && !st_.pending && table != nullptr) {
        // Most units of Field-N just turn into their bytes.
        while (i < n) {
          const std::uint32_t v = table[units[i]];
          if ((v & kFullRules) != 0) break;
          out[0] = static_cast<std::uint8_t>(v);
          out[1] = static_cast<std::uint8_t>(v >> 8);
          out += (v >> 16) & 3;
          ++i;
        }
        if (i == n) break;
      } else if (!st_.target && !st_.pending && !st_.first_line &&
                 s_.windows_usable) {
        const std::size_t from = i;
        i = passOver(
            s_, st_, units, i, n, out,
            [this](std::uint8_t* at) { return lineEnd(at); }, [] {});
        if (i == n) break;
        if (st_.target || i != from) continue;
      }
      out = step(units[i], out);
      ++i;
    }
    return out;
  }

 private:
  std::uint8_t* lineEnd(std::uint8_t* out) {
    ++st_.lines;
    if (s_.crlf) *out++ = 0x0D;
    *out++ = 0x0A;
    return out;
  }

  std::uint8_t* put(std::uint32_t unit, std::uint8_t* out) const {
    if (!kFilter || classOf(s_.classes, unit) != Selecting::kDrop) {
      *out++ = static_cast<std::uint8_t>(unit & 0xFF);
    }
    return out;
  }

  // The full rules for one unit.
  std::uint8_t* step(std::uint32_t unit, std::uint8_t* out) {
    if (st_.pending) {
      // The unit after a listed high surrogate is its low half, even LF.
      if (st_.target) {
        *out++ = s_.table->pair(high_, unit, 1);
        *out++ = s_.table->pair(high_, unit, 2);
      }
      st_.pending = false;
      return out;
    }
    const TableEntry& e = s_.entries[unit];
    switch (e.kind) {
      case SurvivorsUTF16::kDoubleKind:
        if (st_.target) {
          *out++ = e.first;
          *out++ = e.second;
        }
        return out;
      case SurvivorsUTF16::kSingleHighKind:
        if (st_.target) {
          std::uint8_t value = classOf(s_.classes, e.first);
          if (value != Selecting::kDrop) *out++ = value;
        }
        return out;
      case SurvivorsUTF16::kListedHighKind:
        high_ = unit;
        st_.pending = true;
        return out;
      default:
        break;
    }
    if (unit == kLf) {
      out = lineEnd(out);
      st_.field = 1;
      st_.target = s_.field_number == 1;
      if (st_.first_line) {
        // Nothing of the first line carries into the second.
        st_.first_line = false;
        st_.quoted = false;
        high_ = kNoHigh;
      }
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == s_.quote) {
      st_.quoted = !st_.quoted;
    } else if (unit == s_.separator) {
      if (!st_.quoted) {
        if (st_.target) out = put(unit, out);
        ++st_.field;
        st_.target = st_.field == s_.field_number;
      } else if (!s_.quoted_separator_dropped && st_.target) {
        out = put(unit, out);
      }
    } else if (st_.target) {
      out = put(unit, out);
    }
    return out;
  }

  const Settings& s_;
  LineState st_;
  std::uint32_t high_ = kNoHigh;
};

// Decimal (kDecimal true) and integer extraction: the first number of
// Field-N on every line, a decimal without a point completed with "." and
// the completion character.
template <bool kDecimal>
class NumberScanner {
 public:
  explicit NumberScanner(const Settings& s) : s_(s) {
    st_.target = s.field_number == 1;
    if (st_.target) resetNumberEntries();
  }

  std::int64_t lines() const { return st_.lines; }

  std::uint8_t* feed(const std::uint16_t* units, std::size_t n,
                     std::uint8_t* out) {
    std::size_t i = 0;
    while (i < n) {
      if (!st_.target && !st_.pending && !st_.first_line &&
          s_.windows_usable) {
        const std::size_t from = i;
        i = passOver(
            s_, st_, units, i, n, out,
            [this](std::uint8_t* at) { return lineEnd(at); },
            [this] { fieldBegins(); });
        if (i == n) break;
        if (st_.target || i != from) continue;
      } else if (st_.target && !st_.pending && !begun_ &&
                 s_.before_number != nullptr &&
                 s_.before_number[units[i]] == 0) {
        // Text ahead of the number is passed over.
        do {
          ++i;
        } while (i < n && s_.before_number[units[i]] == 0);
        continue;
      } else if (st_.target && !st_.pending && s_.digits_plain &&
                 isDigit(units[i])) {
        // A run of digits: each is written, and "-" can no longer start
        // the number.
        do {
          *out++ = static_cast<std::uint8_t>(units[i]);
          ++i;
        } while (i < n && isDigit(units[i]));
        begun_ = true;
        s_.classes['-'] = Selecting::kDrop;
        continue;
      }
      out = step(units[i], out);
      ++i;
    }
    return out;
  }

 private:
  static bool isDigit(std::uint32_t unit) { return unit - '0' < 10; }

  void resetNumberEntries() {
    s_.classes['-'] = '-';
    if (kDecimal) s_.classes['.'] = '.';
  }

  void fieldBegins() {
    resetNumberEntries();
    begun_ = false;
    point_ = false;
  }

  // What a line feed writes, and the number state it ends.
  std::uint8_t* lineEnd(std::uint8_t* out) {
    if (kDecimal && !point_) {
      *out++ = '.';
      *out++ = s_.completion;
    }
    if (s_.crlf) *out++ = 0x0D;
    *out++ = 0x0A;
    ++st_.lines;
    // A line's number never leaks into the next line's completion.
    begun_ = false;
    point_ = false;
    if (s_.field_number == 1) resetNumberEntries();
    return out;
  }

  std::uint8_t* step(std::uint32_t unit, std::uint8_t* out) {
    if (st_.pending) {
      // A surrogate pair ends a number that has begun.
      st_.pending = false;
      if (st_.target && begun_) st_.target = false;
      return out;
    }
    const std::uint8_t kind = s_.entries[unit].kind;
    if (kind == SurvivorsUTF16::kDoubleKind ||
        kind == SurvivorsUTF16::kSingleHighKind) {
      if (st_.target && begun_) st_.target = false;
      return out;
    }
    if (kind == SurvivorsUTF16::kListedHighKind) {
      st_.pending = true;
      return out;
    }
    if (unit == kLf) {
      out = lineEnd(out);
      st_.field = 1;
      st_.target = s_.field_number == 1;
      if (st_.first_line) {
        st_.first_line = false;
        st_.quoted = false;
      }
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == s_.quote) {
      st_.quoted = !st_.quoted;
    } else if (unit == s_.separator && !st_.quoted) {
      ++st_.field;
      st_.target = st_.field == s_.field_number;
      if (st_.target) fieldBegins();
    } else if (unit == s_.separator) {
      if (!s_.quoted_separator_dropped && st_.target && begun_) {
        st_.target = false;
      }
    } else if (st_.target) {
      // Units above 0xA0 without a table entry are no number characters,
      // whatever the class table says about their low byte. (The digits are
      // always number characters: the class table keeps them.)
      std::uint8_t value = unit > 0xA0 ? Selecting::kDrop : s_.classes[unit];
      if (value == Selecting::kDrop) {
        if (begun_) st_.target = false;
      } else {
        *out++ = static_cast<std::uint8_t>(unit);
        begun_ = true;
        if (unit == '.') {
          point_ = true;
          s_.classes['.'] = Selecting::kDrop;
        }
        s_.classes['-'] = Selecting::kDrop;
      }
    }
    return out;
  }

  const Settings& s_;
  LineState st_;
  bool begun_ = false;
  bool point_ = false;
};

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
  std::unique_ptr<std::uint16_t[]> block(
      new (std::nothrow) std::uint16_t[kReadBlockUnits]);
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
