// The part scheduler: cuts a large wide file into parts at line feeds, scans
// the parts side by side, checks each part's guess about an open quote at
// its start and scans again, in order, the parts that guessed wrong.
#ifndef PELMORA_SELECT_PART_SCHEDULER_H_
#define PELMORA_SELECT_PART_SCHEDULER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "select/output_blocks.h"
#include "select/scan_settings.h"
#include "select/wide_stream.h"

namespace parts {

// Parts of a large wide file are scanned side by side, one per processor.
// A part starts right after a line feed, where the only state a scanner
// carries over is whether a quote is open; each part after the first is
// scanned on the guess that none is (in a well-formed export every line
// closes its quotes).
//
// The invariant: scanInParts() joins the parts' outputs only when every
// part's last scan ended kDone and every part after the first was last
// scanned with the state the part before it really ended in. The join is
// then byte for byte the output of one scan from start to end. A part is
// scanned again in exactly two cases, both only when no part failed:
//   - the part before it ended with a quote open other than it guessed: it
//     is scanned again with the true state, after the part before it is
//     final, so one wrong guess can bring a chain of rescans, in order;
//   - a part did not end at the start of a line, which happens only when
//     the file changed under the scan: the whole range is then scanned
//     again as one part.
// A part that fails (a read failure, no room) ends the run: the parts still
// running give up (kAbandoned), nothing is scanned again, and the first
// failure in file order is the one reported.

/// The fewest units in a part, and the most parts.
inline constexpr std::int64_t kLeastPartUnits = std::int64_t{1} << 20;
inline constexpr std::size_t kMostParts = 8;
/// How far past its planned start a part looks for a line feed to begin
/// after; a file whose lines are longer is scanned in fewer parts.
inline constexpr std::size_t kCutSearchUnits = std::size_t{1} << 16;

/// How a scan of the whole range ended.
enum class ScanEnd { kDone, kReadFailed, kNoRoom };

/// Pure: how many parts `units` units are planned in, for `wanted` parts
/// (at most kMostParts) of at least `least_part_units` units each (values
/// below 1 count as 1). A result below 2 means one part.
std::size_t plannedPartCount(std::int64_t units, std::size_t wanted,
                             std::int64_t least_part_units);

/// Pure: where the search for the start of part `index` (1 <= index <
/// parts) of units [begin, begin + units) begins: one unit before the part's
/// planned start, so that the unit before a line feed found first is seen.
std::int64_t cutSearchFrom(std::int64_t begin, std::int64_t units,
                           std::size_t parts, std::size_t index);

/// Pure: the cut point in `window`, which holds n units of the file from
/// unit `from` on: the unit just after the first line feed at window[1] or
/// later whose unit before it is no high surrogate (such a line feed cannot
/// be the low half of a pair). -1 when there is none before `end`.
std::int64_t cutPoint(const std::uint16_t* window, std::size_t n,
                      std::int64_t from, std::int64_t end);

/// Where the parts of units [begin, end) start after the first: cut points
/// in order, each past the one before.
struct PartStarts {
  std::int64_t at[kMostParts - 1];
  std::size_t count = 0;
};

/// Reads the windows around the planned starts of bytes [begin, end) of
/// the open wide file, written in `coding`, and cuts there (byte offsets);
/// no starts (one part) for a small file, or when the file or the window's
/// memory cannot be had.
PartStarts findPartStarts(const platform::File& file, WideCoding coding,
                          std::int64_t begin, std::int64_t end);

/// The scan of units [begin, end) in parts of at least least_part_units
/// units, at most `parts` of them (0: one per processor); values <= 0
/// restore the usual size. For tests, which reach the joins of parts with
/// small files.
void setPartsForTesting(std::int64_t least_part_units, std::size_t parts);

/// One part: its range, the guess it was last scanned with, and what that
/// scan left.
template <class Scanner>
struct Part {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  bool open_quote = false;
  std::unique_ptr<Scanner> scanner;
  OutputBlocks output;
  PartEnd outcome = PartEnd::kDone;
  std::size_t failed_request = 0;
};

/// The parts of one scan and what they share while they run side by side.
template <class Scanner>
struct PartScan {
  const platform::File* file;
  WideCoding coding;
  const scanners::Settings* settings;
  std::vector<Part<Scanner>>* parts;
  /// Set by the first part that fails: the others stop at their next block.
  std::atomic<bool> abandon{false};

  /// Scans part `index` afresh with the guess it holds.
  void scan(std::size_t index) {
    Part<Scanner>& part = (*parts)[index];
    part.output = OutputBlocks();
    part.failed_request = 0;
    part.scanner.reset(index == 0 ? new (std::nothrow) Scanner(*settings)
                                  : new (std::nothrow)
                                        Scanner(*settings, part.open_quote));
    if (!part.scanner) {
      part.outcome = PartEnd::kNoRoom;
      part.failed_request = sizeof(Scanner);
    } else {
      part.outcome =
          streamUnits(*file, coding, part.begin, part.end, *part.scanner,
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

/// Scans bytes [begin, end) of the open wide file, written in `coding`,
/// with a Scanner per part and appends the bytes to *output. kDone sets *lines;
/// kNoRoom sets *failed_capacity, the bytes held plus the request that failed.
template <class Scanner>
ScanEnd scanInParts(const platform::File& file, WideCoding coding,
                    std::int64_t begin, std::int64_t end,
                    const scanners::Settings& settings, OutputBlocks* output,
                    std::int64_t* lines, std::int64_t* failed_capacity) {
  using ThisPart = Part<Scanner>;
  PartStarts starts = findPartStarts(file, coding, begin, end);
  std::vector<ThisPart> parts;
  try {
    parts.resize(starts.count + 1);
  } catch (const std::bad_alloc&) {
    starts.count = 0;
    parts.clear();
    parts.resize(1);  // one part needs no more than the scan itself
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    parts[i].begin = i == 0 ? begin : starts.at[i - 1];
    parts[i].end = i + 1 < parts.size() ? starts.at[i] : end;
  }
  PartScan<Scanner> scan;
  scan.file = &file;
  scan.coding = coding;
  scan.settings = &settings;
  scan.parts = &parts;
  platform::runInParallel(parts.size(), &PartScan<Scanner>::run, &scan);

  // When every part ended kDone side by side (nothing set `abandon`), the
  // guesses are checked in order, each against how the part before it
  // really ended, so a part scanned again is checked with its new end. A
  // rescan that fails stops the check there. When a part failed, nothing
  // is checked or scanned again: the run fails in any case.
  if (!scan.abandon.load()) {
    for (std::size_t i = 0;
         i + 1 < parts.size() && parts[i].outcome == PartEnd::kDone; ++i) {
      bool open_quote = false;
      if (!parts[i].scanner->endsAtLineStart(&open_quote)) {
        // The file changed under the scan: only one part from start to end
        // gives the bytes a scan of the file as it was read would.
        parts.erase(parts.begin() + 1, parts.end());
        parts[0].end = end;
        scan.scan(0);
        break;
      }
      if (open_quote != parts[i + 1].open_quote) {
        parts[i + 1].open_quote = open_quote;
        scan.scan(i + 1);
      }
    }
  }

  std::int64_t held = 0;
  for (ThisPart& part : parts) held += part.output.size();
  for (ThisPart& part : parts) {
    switch (part.outcome) {
      case PartEnd::kDone:
      case PartEnd::kAbandoned:  // gave up after another part failed
        break;
      case PartEnd::kReadFailed:
        return ScanEnd::kReadFailed;
      case PartEnd::kNoRoom:
        *failed_capacity =
            held + static_cast<std::int64_t>(part.failed_request);
        return ScanEnd::kNoRoom;
    }
  }
  *lines = 0;
  for (ThisPart& part : parts) {
    *lines += part.scanner->lines();
    if (!output->append(std::move(part.output))) {
      *failed_capacity = held;
      return ScanEnd::kNoRoom;
    }
  }
  return ScanEnd::kDone;
}

}  // namespace parts

#endif  // PELMORA_SELECT_PART_SCHEDULER_H_
