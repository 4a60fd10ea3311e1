#include "select/select_utf16.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "diagnostics/error_text.h"
#include "options/final_effect.h"
#include "platform/platform.h"
#include "select/field_scanner.h"
#include "select/number_scanner.h"
#include "select/output_sinks.h"
#include "select/part_scheduler.h"
#include "select/read_failure_numbers.h"
#include "select/scan_settings.h"
#include "select/unit_masks.h"
#include "select/unit_tables.h"
#include "select/wide_stream.h"
#include "tables/data_note.h"

namespace {

bool ok(platform::Status status) { return status == platform::Status::kOk; }

}  // namespace

Selecting::Selecting() = default;
Selecting::~Selecting() { diagnostics::forgetAtStop(this); }

void Selecting::buildReplacementBytes(const FinalEffects& options) {
  replacement_bytes_ = replacementBytesFor(options);
}

void Selecting::copySettings(const FinalEffects& options) {
  wide_bytes_ = -1;
  output_name_.clear();
  // The options the scanners read, once, in the types they read them in;
  // the tables and the line ends join them when a scan starts.
  settings_ = scanners::Settings{};
  settings_.field_number = options.fieldNumber();
  settings_.separator = options.separatorChar();
  settings_.quote = options.quoteChar();
  settings_.quoted_separator_dropped = options.quotedSeparatorIgnored();
  settings_.completion = options.completionChar();
  line_counter_ = -1;
  start_ = wide_coding::Start{};
  workbook_ = false;
  keep_temporary_ = options.keepTemporary();
}

void Selecting::measureWide() {
  std::int64_t bytes = 0;
  if (wide_.size(&bytes) == platform::Status::kOk &&
      static_cast<std::uint64_t>(bytes) <= platform::kLargestWideFileBytes &&
      probeCoding(bytes)) {
    wide_bytes_ = bytes;
  }
}

void Selecting::prepareRun(const FinalEffects& options,
                           const std::string& wide_name, DataNote* note) {
  copySettings(options);
  wide_name_ = wide_name;

  // What the file is written in, and its size, through the one open of the
  // wide file. -t writes it in place, so it is opened for writing too when
  // it may be; a file that may not be written is still read, and -t then
  // refuses it.
  wide_writable_ = false;
  if (options.refreshWide() && !options.narrowName().empty()) {
    wide_writable_ = wide_.openReadWrite(wide_name) == platform::Status::kOk;
  }
  if (wide_writable_ || wide_.openRead(wide_name) == platform::Status::kOk) {
    measureWide();
  }
  // A workbook holds no lines to pick a field from; what the scan would
  // make of its compressed bytes is no column of it.
  if (wide_bytes_ >= 0 && workbook_) {
    diagnostics::report("Reset() error-246: " + wide_name);
    diagnostics::stop(1);
  }
  if (wide_bytes_ < 0) {
    (void)wide_.close();
    wide_writable_ = false;
    // Also the answer of a 32-bit build to a file it cannot hold in memory.
    diagnostics::report("Reset() error-229: " + wide_name);
  }

  // The engines stream the wide file through a small block and keep only
  // the narrow output, so no array of the file's size is reserved. An
  // unread file still has the size -1, which no array can have; whatever
  // the file is written in, that is the only number 222 ever reports.
  if (wide_bytes_ < 0) {
    diagnostics::report("SetLength() error-222: " +
                        std::to_string(wide_bytes_));
  }

  table_ = std::make_unique<SurvivorsUTF16>();
  table_->load(options, note);
  (void)table_->survivors();
}

TableSearch Selecting::prepareInspection(const FinalEffects& options,
                                         const std::string& wide_name) {
  copySettings(options);
  wide_name_ = wide_name;
  // Read, never written: this run only looks.
  wide_writable_ = false;
  if (wide_.openRead(wide_name) == platform::Status::kOk) measureWide();
  if (wide_bytes_ < 0) (void)wide_.close();

  table_ = std::make_unique<SurvivorsUTF16>();
  TableSearch search = table_->search(options);
  if (search.refusal == 0 && table_->loadFound(&search)) {
    (void)table_->survivors();
  }
  return search;
}

std::int64_t Selecting::sampleEnd(std::int64_t most_bytes) const {
  if (wide_bytes_ < 0) return -1;
  const std::int64_t begin =
      wide_bytes_ < start_.mark_bytes ? wide_bytes_ : start_.mark_bytes;
  if (wide_bytes_ - begin <= most_bytes) return wide_bytes_;
  const std::int64_t width = wide_coding::positionBytes(start_.coding);
  const std::size_t n = static_cast<std::size_t>(most_bytes / width * width);
  std::unique_ptr<std::uint8_t[]> head(new (std::nothrow) std::uint8_t[n]);
  std::size_t got = 0;
  if (!head || !ok(wide_.readAt(begin, head.get(), n, &got)) || got != n) {
    return -1;
  }
  // A line feed never stands inside another character: UTF-8 and
  // Shift_JIS have no 0A in a longer code, and a UTF-16 line feed is one
  // whole unit.
  const bool big_endian = start_.coding == WideCoding::kUtf16Be;
  for (std::size_t at = n; at >= static_cast<std::size_t>(width);
       at -= static_cast<std::size_t>(width)) {
    const std::uint8_t* unit = head.get() + at - width;
    const bool line_feed = width == 1   ? unit[0] == 0x0A
                           : big_endian ? unit[0] == 0 && unit[1] == 0x0A
                                        : unit[0] == 0x0A && unit[1] == 0;
    if (line_feed) return begin + static_cast<std::int64_t>(at);
  }
  return begin + static_cast<std::int64_t>(n);
}

bool Selecting::decodeHead(std::int64_t end, std::u16string* units) const {
  const std::int64_t begin =
      wide_bytes_ < start_.mark_bytes ? wide_bytes_ : start_.mark_bytes;
  if (wide_bytes_ < 0 || end < begin || end > wide_bytes_) return false;
  const std::size_t n = static_cast<std::size_t>(end - begin);
  if (n == 0) {
    units->clear();
    return true;
  }
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[n + 1]);
  std::unique_ptr<std::uint16_t[]> decoded(new (std::nothrow)
                                               std::uint16_t[n + 1]);
  std::size_t got = 0;
  if (!bytes || !decoded || !ok(wide_.readAt(begin, bytes.get(), n, &got)) ||
      got != n) {
    return false;
  }
  std::size_t count = 0;
  switch (start_.coding) {
    case WideCoding::kUtf16Le:
    case WideCoding::kUtf16Be:
      count = n / 2;
      std::memcpy(decoded.get(), bytes.get(), count * 2);
      wide_coding::toHostOrder(start_.coding, decoded.get(), count);
      break;
    case WideCoding::kUtf8: {
      wide_coding::UnitRuns runs{};
      (void)wide_coding::decodeUtf8(bytes.get(), n, true, decoded.get(), &runs);
      // The runs lie apart in `decoded`: they are moved together in order.
      for (std::size_t r = 0; r < runs.count; ++r) {
        std::memmove(decoded.get() + count, decoded.get() + runs.begin[r],
                     runs.units[r] * 2);
        count += runs.units[r];
      }
      break;
    }
    case WideCoding::kShiftJis:
      (void)wide_coding::decodeShiftJis(bytes.get(), n, true, decoded.get(),
                                        &count);
      break;
  }
  try {
    units->assign(decoded.get(), decoded.get() + count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool Selecting::scanToMemory(Column column, LineEnd line_end, std::int64_t end,
                             std::string* narrow) {
  narrow->clear();
  if (wide_bytes_ < 0 || !table_) return false;
  line_counter_ = 0;
  HeldOutput held(std::string{});
  std::int64_t lines = 0;
  std::int64_t failed_capacity = 0;
  if (scanWideFile(column, line_end, &held, &lines, &failed_capacity, end) !=
      parts::ScanEnd::kDone) {
    return false;
  }
  line_counter_ = lines;
  return held.appendTo(narrow);
}

bool Selecting::probeCoding(std::int64_t bytes) {
  // A mark is in the first three bytes; telling the codings apart without
  // one takes the first 64 KiB, or, when they are ASCII alone, the 64 KiB
  // from the first byte that is not: Excel's exports often begin with many
  // rows of codes and numbers.
  constexpr std::int64_t kProbe =
      static_cast<std::int64_t>(wide_coding::kProbeBytes);
  std::unique_ptr<std::uint8_t[]> head(
      new (std::nothrow) std::uint8_t[wide_coding::kProbeBytes]);
  if (!head) return false;
  auto readFrom = [&](std::int64_t at, std::size_t* got) {
    const std::int64_t left = bytes - at;
    return ok(wide_.readAt(
        at, head.get(), static_cast<std::size_t>(left < kProbe ? left : kProbe),
        got));
  };
  std::size_t got = 0;
  if (!readFrom(0, &got)) return false;
  workbook_ = wide_coding::isWorkbook(head.get(), got);
  start_ = wide_coding::detect(head.get(), got);
  for (std::int64_t at = static_cast<std::int64_t>(got);
       start_.ascii_head && got > 0 && at < bytes;
       at += static_cast<std::int64_t>(got)) {
    if (!readFrom(at, &got)) return false;
    const std::size_t high = wide_coding::firstHighByte(head.get(), got);
    if (high == got) continue;
    if (!readFrom(at + static_cast<std::int64_t>(high), &got)) return false;
    start_.coding = wide_coding::utf8OrShiftJis(head.get(), got);
    start_.ascii_head = false;
  }
  return true;
}

void Selecting::unreadFileStop(int exit_code) const {
  if (wide_bytes_ < 0) diagnostics::stop(exit_code);
}

bool Selecting::isWide(const platform::File& file) const {
  platform::FileIdentity id;
  platform::FileIdentity wide;
  return file.identity(&id) == platform::Status::kOk &&
         wide_.identity(&wide) == platform::Status::kOk && id == wide;
}

void Selecting::holdNarrowOrStop(const std::string& narrow_name,
                                 const std::string& settings_name,
                                 DataNote* note) {
  narrow_name_ = narrow_name;
  narrow_held_ = true;
  narrow_target_ = nullptr;
  narrow_created_ = false;
  narrow_special_ = false;
  narrow_written_ = false;
  narrow_identity_ = platform::FileIdentity();
  // The held data.txt shares no access on Windows: it is written through
  // the note's own open.
  platform::FileIdentity named;
  if (note != nullptr && ok(platform::fileIdentity(narrow_name, &named))) {
    narrow_target_ = note->lendAsOutput(named);
  }
  // It holds this run's note, which is no export.
  const bool lent_note = narrow_target_ != nullptr;
  platform::OutputOpening how;
  if (narrow_target_ == nullptr && ok(narrow_.openOutput(narrow_name, &how))) {
    narrow_target_ = &narrow_;
    narrow_created_ = how.created;
    narrow_special_ = how.special;
    if (narrow_created_) releaseAtStopOnce();
  }
  if (narrow_target_ != nullptr) {
    (void)narrow_target_->identity(&narrow_identity_);
  }
  // A file made just now holds nothing to lose.
  const int refusal =
      how.unreadable ? 244
      : narrow_created_
          ? 0
          : narrowRefusal(narrow_target_, narrow_special_ || lent_note,
                          narrow_name, settings_name);
  if (refusal != 0) {
    diagnostics::report((refusal == 243   ? "Rewrite() error-243: "
                         : refusal == 244 ? "Rewrite() error-244: "
                                          : "Rewrite() error-245: ") +
                        narrow_name);
    diagnostics::stop(1);
  }
}

int Selecting::narrowRefusal(const platform::File* narrow_file, bool special,
                             const std::string& narrow_name,
                             const std::string& settings_name) const {
  // One that could not be opened will not be written, and is still named in
  // the report that says best why.
  platform::FileIdentity narrow;
  if (narrow_file != nullptr
          ? !ok(narrow_file->identity(&narrow))
          : !ok(platform::fileIdentity(narrow_name, &narrow))) {
    return 0;
  }
  platform::FileIdentity wide;
  if (ok(wide_.identity(&wide)) && narrow == wide) return 243;
  const std::string read_here[] = {table_ ? table_->binaryTable() : "",
                                   settings_name, kSurrogateListFileName,
                                   kTableSettingsFileName};
  for (const std::string& name : read_here) {
    platform::FileIdentity input;
    if (!name.empty() && ok(platform::fileIdentity(name, &input)) &&
        input == narrow) {
      return 245;
    }
  }
  // A device or a FIFO holds no export to lose, and is not read. An
  // export is told as a wide file is, from its first 64 KiB.
  if (narrow_file == nullptr || special) return 0;
  std::unique_ptr<std::uint8_t[]> head(
      new (std::nothrow) std::uint8_t[wide_coding::kProbeBytes]);
  std::size_t got = 0;
  if (!head ||
      !ok(narrow_file->readAt(0, head.get(), wide_coding::kProbeBytes, &got))) {
    return 244;  // what it holds cannot be checked
  }
  return wide_coding::isUnicodeExport(head.get(), got) ? 244 : 0;
}

void Selecting::releaseAtStopOnce() {
  if (stop_release_registered_) return;
  stop_release_registered_ = diagnostics::releaseAtStop(
      [](void* selecting) {
        static_cast<Selecting*>(selecting)->releaseAtStop();
      },
      this);
}

void Selecting::releaseAtStop() {
  stop_release_registered_ = false;
  if (narrow_created_ && !narrow_written_ && narrow_.isOpen()) {
    (void)narrow_.removeCreated(narrow_name_);
  }
  (void)narrow_.close();
  if (temporary_.isOpen() && !temporary_is_users_ && !keep_temporary_ &&
      !keep_copy_) {
    (void)temporary_.removeHeld(kBinaryTmpName);
  }
  (void)temporary_.close();
}

void Selecting::setPartsForTesting(std::int64_t least_part_units,
                                   std::size_t parts) {
  parts::setPartsForTesting(least_part_units, parts);
}

void Selecting::setBlockReadHookForTesting(void (*hook)()) {
  parts::setBlockReadHookForTesting(hook);
}

parts::ScanEnd Selecting::scanWideFile(Column column, LineEnd line_end,
                                       OutputSink* sink, std::int64_t* lines,
                                       std::int64_t* failed_capacity,
                                       std::int64_t range_end) {
  // The file is read as long as it is now; a file that is longer or
  // shorter by the end of the scan was changed by someone else while it was
  // read, and what was read is no longer the file.
  std::int64_t bytes = 0;
  if (wide_.size(&bytes) != platform::Status::kOk ||
      static_cast<std::uint64_t>(bytes) > platform::kLargestWideFileBytes) {
    return parts::ScanEnd::kReadFailed;
  }
  wide_bytes_ = bytes;
  // The text between the mark and the end; a last odd byte of a UTF-16
  // file is no code unit, and is left as it always was.
  const std::int64_t width = wide_coding::positionBytes(start_.coding);
  const std::int64_t begin =
      bytes < start_.mark_bytes ? bytes : start_.mark_bytes;
  std::int64_t end = begin + (bytes - begin) / width * width;
  if (range_end >= begin && range_end < end) {
    end = begin + (range_end - begin) / width * width;
  }

  using namespace scanners;
  const TableEntry* entries = table_->entries();
  const std::uint16_t separator = settings_.separator;
  const std::uint16_t quote = settings_.quote;
  const std::uint8_t* replacements = replacement_bytes_.data();

  // The unit tables cost about as much to build as the scan of a read block
  // (32 Ki units) gains from them, so a smaller file goes without.
  const bool large = (end - begin) / width >=
                     static_cast<std::int64_t>(parts::kReadBlockUnits);
  const bool field_column =
      column == Column::kPlain || column == Column::kFiltered;
  std::unique_ptr<std::uint16_t[]> unit_output;
  if (large && field_column) {
    unit_output = buildUnitOutput(entries, replacements, separator, quote,
                                  column == Column::kFiltered);
    if (!unit_output) {
      *failed_capacity = kUnitTableEntries * 2;
      return parts::ScanEnd::kNoRoom;
    }
  }
  std::unique_ptr<std::uint8_t[]> before_number;
  if (large && !field_column) {
    before_number = buildBeforeNumber(entries, replacements, separator, quote);
    if (!before_number) {
      *failed_capacity = kUnitTableEntries;
      return parts::ScanEnd::kNoRoom;
    }
  }

  // Shift_JIS read as bytes goes from each code straight to its bytes.
  std::unique_ptr<std::uint16_t[]> sjis_output;
  if (unit_output && start_.coding == WideCoding::kShiftJis) {
    sjis_output.reset(new (std::nothrow) std::uint16_t[kSjisOutputEntries]);
    if (!sjis_output) {
      *failed_capacity = kSjisOutputEntries * 2;
      return parts::ScanEnd::kNoRoom;
    }
    buildSjisOutput(unit_output.get(), sjis_output.get());
  }

  // UTF-16BE in a mapped file is read where it lies, each unit's entry
  // found by its bytes as they stand (the masks that swap units are
  // x86's, whose order is the other one).
  std::unique_ptr<std::uint16_t[]> swapped_output;
  if (unit_output && start_.coding == WideCoding::kUtf16Be &&
      unitMasksTakeSwappedUnits()) {
    swapped_output.reset(new (std::nothrow) std::uint16_t[kUnitTableEntries]);
    if (!swapped_output) {
      *failed_capacity = kUnitTableEntries * 2;
      return parts::ScanEnd::kNoRoom;
    }
    for (std::uint32_t v = 0; v < kUnitTableEntries; ++v) {
      swapped_output[v] = unit_output[(v >> 8 | v << 8) & 0xFFFF];
    }
  }

  Settings settings = settings_;
  settings.entries = entries;
  settings.table = table_.get();
  settings.replacement_bytes = replacements;
  settings.crlf = line_end == LineEnd::kCrLf;
  settings.listed_surrogates = hasListedSurrogates(entries);
  settings.windows_usable = windowsUsable(entries, separator, quote);
  settings.utf8_bytes = start_.coding == WideCoding::kUtf8 &&
                        settings.windows_usable && separator < 0x80 &&
                        quote < 0x80;
  settings.sjis_bytes = start_.coding == WideCoding::kShiftJis &&
                        settings.windows_usable && separator < 0x40 &&
                        quote < 0x40;
  settings.digits_plain = digitsPlain(entries, separator, quote);
  settings.unit_output = unit_output.get();
  settings.sjis_output = settings.sjis_bytes ? sjis_output.get() : nullptr;
  settings.swapped_output = swapped_output.get();
  settings.most_threads = scan_threads_;
  settings.before_number = before_number.get();
  // Each column sets it; a Column left out is a compiler warning.
  parts::ScanEnd scanned = parts::ScanEnd::kReadFailed;
  switch (column) {
    case Column::kDecimal:
      scanned = parts::scanInParts<NumberScanner<true>>(
          wide_, start_.coding, begin, end, bytes, settings, sink, lines,
          failed_capacity);
      break;
    case Column::kInteger:
      scanned = parts::scanInParts<NumberScanner<false>>(
          wide_, start_.coding, begin, end, bytes, settings, sink, lines,
          failed_capacity);
      break;
    case Column::kPlain:
      scanned = parts::scanInParts<FieldScanner<false>>(
          wide_, start_.coding, begin, end, bytes, settings, sink, lines,
          failed_capacity);
      break;
    case Column::kFiltered:
      scanned = parts::scanInParts<FieldScanner<true>>(
          wide_, start_.coding, begin, end, bytes, settings, sink, lines,
          failed_capacity);
      break;
  }
  std::int64_t bytes_after = -1;
  if (scanned == parts::ScanEnd::kDone &&
      (wide_.size(&bytes_after) != platform::Status::kOk ||
       bytes_after != bytes)) {
    return parts::ScanEnd::kReadFailed;
  }
  return scanned;
}

bool Selecting::scanOrStop(Column column, LineEnd line_end, bool to_file,
                           OutputSink* sink) {
  std::int64_t lines = 0;
  std::int64_t failed_capacity = 0;
  const parts::ScanEnd scanned =
      scanWideFile(column, line_end, sink, &lines, &failed_capacity);
  return reportScan(scanned, lines, failed_capacity, column, line_end, to_file);
}

bool Selecting::reportScan(parts::ScanEnd scanned, std::int64_t lines,
                           std::int64_t failed_capacity, Column column,
                           LineEnd line_end, bool to_file) {
  switch (scanned) {
    case parts::ScanEnd::kDone:
      line_counter_ = lines;
      return true;
    case parts::ScanEnd::kWriteFailed:
      return false;
    case parts::ScanEnd::kNoRoom:
      diagnostics::report("SetLength() error-223: " +
                          std::to_string(failed_capacity));
      diagnostics::stop(1);
      return false;
    case parts::ScanEnd::kReadFailed:
      break;
  }
  diagnostics::report(readFailurePrefix(column, to_file, line_end) +
                      wide_name_);
  diagnostics::stop(1);
  return false;
}

bool Selecting::narrowTakesBytesAsTheyCome() const {
  // A narrow file this run made (removed again when the run fails), a
  // device or a FIFO holds nothing to keep: the bytes go there as the
  // chunks are done. A file that was there keeps its old content until the
  // scan is over, so that a failed run leaves it as it was.
  return narrow_target_ == &narrow_ && (narrow_created_ || narrow_special_);
}

WriteResult Selecting::runToFileRefreshing(Column column, LineEnd line_end,
                                           const std::string& output_name,
                                           bool keep_temporary) {
  // One that cannot be made stops the run before any scan. A binary.tmp
  // that is the wide or the narrow file is refreshed first, as with -b:
  // the copy and the output must not go into one file at once.
  if (!refreshPossible()) finishRefresh(false);
  if (temporary_is_users_) {
    refreshWide();
    releaseTemporary(keep_temporary);
    return runToFile(column, line_end, output_name);
  }
  if (!narrow_held_ || narrow_name_ != output_name) {
    holdNarrowOrStop(output_name, std::string());
  }
  output_name_ = output_name;
  line_counter_ = 0;
  const bool direct = narrowTakesBytesAsTheyCome();
  FileOutput to_file(narrow_target_);
  HeldOutput held(output_name);
  // The copy and the scan read the wide file side by side, through its one
  // open; neither reports anything until both are over.
  struct Both {
    Selecting* self;
    Column column;
    LineEnd line_end;
    OutputSink* sink;
    parts::ScanEnd scanned;
    std::int64_t lines;
    std::int64_t failed_capacity;
    bool same;
  } both{this,
         column,
         line_end,
         direct ? static_cast<OutputSink*>(&to_file) : &held,
         parts::ScanEnd::kReadFailed,
         0,
         0,
         false};
  // The copy takes a processor of its own.
  const unsigned processors = platform::processorCount();
  scan_threads_ = processors > 1 ? processors - 1 : 1;
  platform::runInParallel(
      2,
      [](void* context, std::size_t task) {
        Both& b = *static_cast<Both*>(context);
        if (task == 0) {
          b.scanned = b.self->scanWideFile(b.column, b.line_end, b.sink,
                                           &b.lines, &b.failed_capacity);
        } else {
          b.same = b.self->copyForRefresh();
        }
      },
      &both);
  scan_threads_ = 0;
  finishRefresh(both.same);
  releaseTemporary(keep_temporary);
  const bool scanned = reportScan(both.scanned, both.lines,
                                  both.failed_capacity, column, line_end, true);
  return finishNarrowWrite(scanned, direct ? nullptr : &held);
}

WriteResult Selecting::runToFile(Column column, LineEnd line_end,
                                 const std::string& output_name) {
  if (!narrow_held_ || narrow_name_ != output_name) {
    holdNarrowOrStop(output_name, std::string());
  }
  output_name_ = output_name;
  line_counter_ = 0;
  if (narrowTakesBytesAsTheyCome()) {
    // One this run made may hold the -t copy already (it is binary.tmp).
    FileOutput direct(narrow_target_);
    return finishNarrowWrite(
        cutNarrow() && scanOrStop(column, line_end, true, &direct), nullptr);
  }
  HeldOutput held(output_name);
  const bool scanned = scanOrStop(column, line_end, true, &held);
  return finishNarrowWrite(scanned, &held);
}

std::int64_t Selecting::runToStandardOutput(Column column) {
  output_name_.clear();
  line_counter_ = 0;
  StandardOutput out;
  if (!scanOrStop(column, LineEnd::kCrLf, false, &out)) {
    // A full disk or a reader that went away: the script behind the pipe
    // got less than the whole column, which must not end as a success.
    diagnostics::report("Write() error-242: standard output");
    diagnostics::stop(1);
  }
  return line_counter_;
}

WriteResult Selecting::runToTemporary(Column column, LineEnd line_end) {
  output_name_ = kBinaryTmpName;
  line_counter_ = 0;
  HeldOutput held(kBinaryTmpName);
  const bool scanned = scanOrStop(column, line_end, true, &held);
  platform::File* temporary = temporaryFile();
  const bool written = scanned && temporary != nullptr && temporary->isOpen() &&
                       temporary->rewind(true) == platform::Status::kOk &&
                       held.writeTo(temporary);
  if (!written) {
    diagnostics::reportUnfinished("Rewrite() error-215: " + output_name_);
    return WriteResult::kFailed;
  }
  return WriteResult::kWritten;
}

bool Selecting::narrowStillNamed() const {
  // A device (NUL on Windows has no identity to compare) or a FIFO takes
  // what is written, and holds nothing under the name to look for.
  if (narrow_special_) return true;
  platform::FileIdentity named;
  return ok(platform::fileIdentity(narrow_name_, &named)) &&
         named == narrow_identity_;
}

bool Selecting::cutNarrow() {
  return narrow_target_ != nullptr &&
         (narrow_special_ || ok(narrow_target_->rewind(true)));
}

WriteResult Selecting::finishNarrowWrite(bool written, const HeldOutput* held) {
  // Held bytes are the narrow file's only write: its old content stays
  // until the output is whole.
  if (held != nullptr) {
    written = written && cutNarrow() && held->writeTo(narrow_target_);
  }
  if (!finishNarrow(written)) {
    diagnostics::reportUnfinished("Rewrite() error-215: " + output_name_);
    return WriteResult::kFailed;
  }
  return WriteResult::kWritten;
}

bool Selecting::finishNarrow(bool written) {
  if (narrow_target_ == &narrow_) {
    if (written) written = ok(narrow_.close());
    narrow_target_ = nullptr;
  }
  narrow_written_ = written;
  if (!written) {
    // A file this run made and could not fill is no output of it.
    if (narrow_created_ && narrow_.isOpen()) {
      (void)narrow_.removeCreated(narrow_name_);
    }
    (void)narrow_.close();
  }
  return written && narrowStillNamed();
}
