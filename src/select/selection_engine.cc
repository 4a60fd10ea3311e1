// The engines: plain and filtered selection, decimal and integer extraction,
// each to the output array or to standard output.
#include <cstring>
#include <new>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "select/select_utf16.h"

namespace {

constexpr std::uint16_t kLf = 0x000A;
constexpr std::uint16_t kCr = 0x000D;
constexpr std::uint32_t kNoHigh = 0xD840;

// Writes into the output array reserved for the run. Its capacity is
// computed from the input so that no engine can pass its end.
class ArraySink {
 public:
  explicit ArraySink(std::uint8_t* bytes) : at_(bytes), start_(bytes) {}
  void put(std::uint8_t byte) { *at_++ = byte; }
  std::int64_t length() const { return at_ - start_; }

 private:
  std::uint8_t* at_;
  std::uint8_t* start_;
};

// Collects bytes for standard output and hands them over in large writes.
class StandardOutputSink {
 public:
  StandardOutputSink() : buffer_(new std::uint8_t[kSize]) {}
  ~StandardOutputSink() { flush(); }
  StandardOutputSink(const StandardOutputSink&) = delete;
  StandardOutputSink& operator=(const StandardOutputSink&) = delete;

  void put(std::uint8_t byte) {
    buffer_[used_++] = byte;
    if (used_ == kSize) flush();
  }
  void flush() {
    if (used_ > 0) (void)platform::writeStandardOutput(buffer_.get(), used_);
    used_ = 0;
  }

 private:
  static constexpr std::size_t kSize = std::size_t{1} << 16;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;
};

// What every engine reads from the prepared object.
struct Scan {
  const std::uint16_t* units;
  std::int64_t start;
  std::int64_t end;
  const TableEntry* entries;
  const SurvivorsUTF16* table;
  std::uint8_t* classes;  // 224 entries; the number engines change two
  std::int64_t field_number;
  std::uint16_t separator;
  std::uint16_t quote;
  bool quoted_separator_dropped;
  bool crlf;
  std::uint8_t completion;
};

inline std::uint8_t classOf(const std::uint8_t* classes, std::uint32_t value) {
  return value < Selecting::kClassTableSize ? classes[value]
                                            : Selecting::kDrop;
}

template <class Sink>
inline void putLineEnd(Sink& out, bool crlf) {
  if (crlf) out.put(0x0D);
  out.put(0x0A);
}

// Plain selection (kFilter false) and filtered selection (kFilter true):
// Field-N of every line with the separator that closes it, quotes removed.
// Returns the number of line ends written.
template <bool kFilter, class Sink>
std::int64_t selectFields(const Scan& s, Sink& out) {
  std::int64_t field = 1;
  bool target = s.field_number == 1;
  bool quoted = false;
  bool pending = false;
  std::uint32_t high = kNoHigh;
  bool first_line = true;
  std::int64_t lines = 0;

  auto putUnit = [&](std::uint32_t unit) {
    if (!kFilter || classOf(s.classes, unit) != Selecting::kDrop) {
      out.put(static_cast<std::uint8_t>(unit & 0xFF));
    }
  };

  for (std::int64_t i = s.start; i < s.end; ++i) {
    const std::uint32_t unit = s.units[i];
    if (pending) {
      // The unit after a listed high surrogate is its low half, even an LF.
      if (target) {
        out.put(s.table->pair(high, unit, 1));
        out.put(s.table->pair(high, unit, 2));
      }
      pending = false;
      continue;
    }
    const TableEntry& e = s.entries[unit];
    switch (e.kind) {
      case SurvivorsUTF16::kDoubleKind:
        if (target) {
          out.put(e.first);
          out.put(e.second);
        }
        continue;
      case SurvivorsUTF16::kSingleHighKind:
        if (target) {
          std::uint8_t value = classOf(s.classes, e.first);
          if (value != Selecting::kDrop) out.put(value);
        }
        continue;
      case SurvivorsUTF16::kListedHighKind:
        high = unit;
        pending = true;
        continue;
      default:
        break;
    }
    if (unit == kLf) {
      ++lines;
      putLineEnd(out, s.crlf);
      field = 1;
      target = s.field_number == 1;
      if (first_line) {
        // Nothing of the first line carries into the second.
        first_line = false;
        quoted = false;
        pending = false;
        high = kNoHigh;
      }
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == s.quote) {
      quoted = !quoted;
    } else if (unit == s.separator) {
      if (!quoted) {
        if (target) putUnit(unit);
        ++field;
        target = field == s.field_number;
      } else if (!s.quoted_separator_dropped && target) {
        putUnit(unit);
      }
    } else if (target) {
      putUnit(unit);
    }
  }
  return lines;
}

// Decimal (kDecimal true) and integer extraction: the first number of
// Field-N on every line, a decimal without a point completed with "." and
// the completion character.
template <bool kDecimal, class Sink>
std::int64_t extractNumbers(const Scan& s, Sink& out) {
  std::uint8_t* classes = s.classes;
  auto resetNumberEntries = [classes]() {
    classes['-'] = '-';
    if (kDecimal) classes['.'] = '.';
  };

  std::int64_t field = 1;
  bool quoted = false;
  bool pending = false;
  bool begun = false;
  bool point = false;
  bool target = s.field_number == 1;
  if (target) resetNumberEntries();
  bool first_line = true;
  std::int64_t lines = 0;

  for (std::int64_t i = s.start; i < s.end; ++i) {
    const std::uint32_t unit = s.units[i];
    if (pending) {
      // A surrogate pair ends a number that has begun.
      pending = false;
      if (target && begun) target = false;
      continue;
    }
    const std::uint8_t kind = s.entries[unit].kind;
    if (kind == SurvivorsUTF16::kDoubleKind ||
        kind == SurvivorsUTF16::kSingleHighKind) {
      if (target && begun) target = false;
      continue;
    }
    if (kind == SurvivorsUTF16::kListedHighKind) {
      pending = true;
      continue;
    }
    if (unit == kLf) {
      if (kDecimal && !point) {
        out.put('.');
        out.put(s.completion);
      }
      putLineEnd(out, s.crlf);
      ++lines;
      field = 1;
      target = s.field_number == 1;
      // A line's number never leaks into the next line's completion.
      begun = false;
      point = false;
      if (target) resetNumberEntries();
      if (first_line) {
        first_line = false;
        quoted = false;
        pending = false;
      }
    } else if (unit == kCr) {
      // dropped wherever it stands
    } else if (unit == s.quote) {
      quoted = !quoted;
    } else if (unit == s.separator && !quoted) {
      ++field;
      target = field == s.field_number;
      if (target) {
        resetNumberEntries();
        begun = false;
        point = false;
      }
    } else if (unit == s.separator) {
      if (!s.quoted_separator_dropped && target && begun) target = false;
    } else if (target) {
      // Units above 0xA0 without a table entry are no number characters,
      // whatever the class table says about their low byte.
      std::uint8_t value = unit > 0xA0 ? Selecting::kDrop : classes[unit];
      if (value == Selecting::kDrop) {
        if (begun) target = false;
      } else {
        out.put(static_cast<std::uint8_t>(unit));
        begun = true;
        if (unit == '.') {
          point = true;
          classes['.'] = Selecting::kDrop;
        }
        classes['-'] = Selecting::kDrop;
      }
    }
  }
  return lines;
}

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

}  // namespace

template <class Sink>
void Selecting::runEngine(Column column, LineEnd line_end, Sink& sink) {
  Scan scan{units_.get(),
            start_index_,
            unit_count_,
            table_->entries(),
            table_.get(),
            class_table_.data(),
            field_number_,
            separator_byte_,
            quote_byte_,
            quoted_separator_dropped_,
            line_end == LineEnd::kCrLf,
            completion_char_};
  switch (column) {
    case Column::kDecimal:
      line_counter_ = extractNumbers<true>(scan, sink);
      break;
    case Column::kInteger:
      line_counter_ = extractNumbers<false>(scan, sink);
      break;
    case Column::kPlain:
      line_counter_ = selectFields<false>(scan, sink);
      break;
    case Column::kFiltered:
      line_counter_ = selectFields<true>(scan, sink);
      break;
  }
}

int Selecting::runToFile(Column column, LineEnd line_end,
                         const std::string& output_name) {
  output_name_ = output_name;
  line_counter_ = 0;
  if (!readWholeFile()) {
    diagnostics::report(readFailurePrefix(column, true, line_end) +
                        wide_name_);
    diagnostics::stop(1);
  }
  if (column == Column::kDecimal) {
    // A line end can bring four bytes (point, completion, CR, LF); every
    // other unit at most one.
    std::int64_t line_feeds = 0;
    for (std::int64_t i = start_index_; i < unit_count_; ++i) {
      line_feeds += units_[static_cast<std::size_t>(i)] == kLf;
    }
    output_capacity_ = unit_count_ + 3 * line_feeds;
    if (!reserveOutput(column)) {
      diagnostics::report("SetLength() error-223: " +
                          std::to_string(output_capacity_));
      diagnostics::stop(1);
    }
  }
  ArraySink sink(output_.get());
  runEngine(column, line_end, sink);
  output_length_ = sink.length();
  return blockWrite(output_length_);
}

std::int64_t Selecting::runToStandardOutput(Column column) {
  output_name_.clear();
  line_counter_ = 0;
  if (!readWholeFile()) {
    diagnostics::report(readFailurePrefix(column, false, LineEnd::kCrLf) +
                        wide_name_);
    diagnostics::stop(1);
  }
  StandardOutputSink sink;
  runEngine(column, LineEnd::kCrLf, sink);
  sink.flush();
  return line_counter_;
}
