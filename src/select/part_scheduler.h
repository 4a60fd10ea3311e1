// The part scheduler: cuts a large wide file into chunks at line feeds,
// scans them side by side, checks each chunk's guess about an open quote at
// its start, scans again the chunks that guessed wrong, and hands the
// output on in order while the later chunks are still being scanned.
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

// A large wide file is scanned in chunks on one thread per processor. A
// chunk starts right after a line feed, where the only state a scanner
// carries over is whether a quote is open; each chunk after the first is
// scanned on the guess that none is (in a well-formed export every line
// closes its quotes). See ChunkScan for how the guesses are checked and
// the output handed on in order: whatever the number of chunks and
// threads, the bytes handed on are those of one scan from start to end.
// A chunk that fails (a read failure, no room) ends the scan: the chunks
// still running give up (kAbandoned), and the first failure in file order
// is the one reported.

/// The fewest units in a part (a thread's share), and the most threads.
inline constexpr std::int64_t kLeastPartUnits = std::int64_t{1} << 20;
inline constexpr std::size_t kMostParts = 8;
/// How far past its planned start a part looks for a line feed to begin
/// after; a file whose lines are longer is scanned in fewer parts.
inline constexpr std::size_t kCutSearchUnits = std::size_t{1} << 16;

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

/// Bytes of the wide file per chunk: the unit of work a thread takes, and
/// of output written at once. Small enough that the output of the chunks
/// in flight stays well within memory, large enough that mapping, cutting
/// and scanner set-up are a small part of its cost.
inline constexpr std::int64_t kChunkBytes = std::int64_t{1} << 22;

/// Where the chunks of bytes [begin, end) of the open wide file, written in
/// `coding`, start after the first: cut points (byte offsets), in order,
/// each past the one before, each just after a line feed; planned every
/// `chunk_positions` positions. Empty (one chunk) for a range of one chunk
/// or when the file cannot be read there; false when memory ran out.
bool findChunkStarts(const platform::File& file, WideCoding coding,
                     std::int64_t begin, std::int64_t end,
                     std::int64_t chunk_positions,
                     std::vector<std::int64_t>* starts);

/// The scan of units [begin, end) in chunks of least_part_units units, on
/// at most `parts` threads (0: one per processor); values <= 0 restore the
/// usual sizes. For tests, which reach the joins of chunks with small
/// files.
void setPartsForTesting(std::int64_t least_part_units, std::size_t parts);
/// Tests asked for small chunks (setPartsForTesting): every other chunk is
/// then mapped whatever its size, so that small files reach the mapped
/// reading too.
bool smallChunksForTesting();
/// The chunk size and thread count planned for `positions` positions.
void plannedChunks(std::int64_t positions, std::int64_t width,
                   std::int64_t* chunk_positions, std::size_t* threads);

/// How a scan of the whole range ended.
enum class ScanEnd { kDone, kReadFailed, kNoRoom, kWriteFailed };

/// The chunks of one scan and what the threads share while they run.
///
/// The threads take chunks in file order. Each chunk is scanned on the
/// guess that no quote is open at its start (the first with the truth),
/// into output blocks of its own. Chunks are handed to the sink strictly in
/// order, by whichever thread finds the next one done, and only once its
/// guess is checked against how the chunk before it really ended: a wrong
/// guess, or a chunk before that did not end at the start of a line (the
/// file changed under the scan), is mended by scanning the chunk again
/// with the scanner of the chunk before it carried on, which gives exactly
/// what one scan from start to end would. At most kSlotsPerThread chunks per
/// thread are in flight, so memory stays bounded whatever the file's size.
template <class Scanner>
class ChunkScan {
 public:
  static constexpr std::size_t kSlotsPerThread = 2;

  ChunkScan(const platform::File& file, WideCoding coding,
            std::int64_t file_bytes, const scanners::Settings& settings,
            OutputSink* sink)
      : file_(file),
        coding_(coding),
        file_bytes_(file_bytes),
        settings_(settings),
        sink_(sink) {}

  ScanEnd run(std::int64_t begin, std::int64_t end, std::int64_t* lines,
              std::int64_t* failed_capacity) {
    const std::int64_t width = wide_coding::positionBytes(coding_);
    std::int64_t chunk_positions = 0;
    std::size_t threads = 1;
    plannedChunks((end - begin) / width, width, &chunk_positions, &threads);
    std::vector<std::int64_t> starts;
    try {
      if (!findChunkStarts(file_, coding_, begin, end, chunk_positions,
                           &starts)) {
        starts.clear();
      }
      bounds_.reserve(starts.size() + 2);
      bounds_.push_back(begin);
      for (std::int64_t at : starts) bounds_.push_back(at);
      bounds_.push_back(end);
      if (settings_.most_threads != 0 && threads > settings_.most_threads) {
        threads = settings_.most_threads;
      }
      if (threads > bounds_.size() - 1) threads = bounds_.size() - 1;
      slots_.resize(threads * kSlotsPerThread);
      workers_.resize(threads);
    } catch (const std::bad_alloc&) {
      *failed_capacity =
          static_cast<std::int64_t>((starts.size() + 2) * sizeof(std::int64_t));
      return ScanEnd::kNoRoom;
    }
    chunks_ = bounds_.size() - 1;
    platform::runInParallel(threads, &ChunkScan::work, this);

    if (failed_ != PartEnd::kDone) {
      *failed_capacity = held_ + static_cast<std::int64_t>(failed_request_);
      return failed_ == PartEnd::kReadFailed ? ScanEnd::kReadFailed
                                             : ScanEnd::kNoRoom;
    }
    if (sink_failed_) {
      *failed_capacity = held_;
      return sink_->outOfMemory() ? ScanEnd::kNoRoom : ScanEnd::kWriteFailed;
    }
    *lines = lines_;
    return ScanEnd::kDone;
  }

 private:
  struct Slot {
    std::unique_ptr<Scanner> scanner;
    OutputBlocks output;
    bool guess = false;
    bool done = false;
    PartEnd outcome = PartEnd::kDone;
    std::size_t failed_request = 0;
  };
  struct Worker {
    ReadBuffers buffers;
    platform::MappedRange view;
  };

  static void work(void* scan, std::size_t index) {
    static_cast<ChunkScan*>(scan)->workOn(index);
  }

  Slot& slotOf(std::size_t chunk) { return slots_[chunk % slots_.size()]; }

  // Scans chunk k into its slot with `scanner`, which carries the state at
  // the chunk's start; the slot's output is emptied first.
  void scanChunk(std::size_t k, Scanner* scanner, Worker& worker, Slot& slot) {
    slot.output.clear();
    slot.failed_request = 0;
    const std::int64_t begin = bounds_[k];
    const std::int64_t end = bounds_[k + 1];
    if (!worker.buffers.prepare(coding_, end - begin, &slot.failed_request)) {
      slot.outcome = PartEnd::kNoRoom;
      return;
    }
    RangeStream<Scanner> stream;
    stream.file = &file_;
    stream.coding = coding_;
    stream.begin = begin;
    stream.end = end;
    stream.scanner = scanner;
    stream.output = &slot.output;
    stream.abandon = &abandon_;
    stream.buffers = &worker.buffers;
    // The view reaches a little past the chunk where the file goes on, for
    // the scanners' look at whole windows.
    const std::int64_t reach =
        end + 2 * static_cast<std::int64_t>(kMaskWindow) < file_bytes_
            ? end + 2 * static_cast<std::int64_t>(kMaskWindow)
            : file_bytes_;
    const bool worth_mapping = end - begin >= kLeastMappedBytes ||
                               (k % 2 == 1 && smallChunksForTesting());
    if (worth_mapping && reach > begin &&
        file_.mapRange(begin, static_cast<std::size_t>(reach - begin),
                       &worker.view) == platform::Status::kOk) {
      stream.view = &worker.view;
    }
    // Only a view can vanish under the scan; a chunk that is read needs no
    // guard (and its two system calls).
    bool whole = true;
    if (stream.view != nullptr) {
      whole = platform::runReadingMaps(&RangeStream<Scanner>::runFor, &stream);
    } else {
      stream.run();
    }
    worker.view.release();
    slot.outcome = whole ? stream.outcome : PartEnd::kReadFailed;
    slot.failed_request = stream.failed_request;
  }

  // The bytes of a chunk handed on, in order, once its start is checked.
  bool commit(std::size_t k, Worker& worker, Slot& slot) {
    std::int64_t lines_before = 0;
    if (k > 0) {
      bool open_quote = false;
      const bool at_line_start = last_->endsAtLineStart(&open_quote);
      if (!at_line_start) {
        // The scanner before goes on over this chunk, as one scan would.
        lines_before = last_->lines();
        slot.scanner = std::move(last_);
        scanChunk(k, slot.scanner.get(), worker, slot);
      } else if (open_quote != slot.guess) {
        slot.guess = open_quote;
        slot.scanner.reset(new (std::nothrow) Scanner(settings_, open_quote));
        if (!slot.scanner) {
          slot.outcome = PartEnd::kNoRoom;
          slot.failed_request = sizeof(Scanner);
        } else {
          scanChunk(k, slot.scanner.get(), worker, slot);
        }
      }
      if (slot.outcome != PartEnd::kDone) return false;
    }
    lines_ += slot.scanner->lines() - lines_before;
    const bool taken =
        slot.output.forEach([this](const std::uint8_t* bytes, std::size_t n) {
          held_ += static_cast<std::int64_t>(n);
          return sink_->take(bytes, n);
        });
    slot.output.clear();
    last_ = std::move(slot.scanner);
    if (!taken) sink_failed_ = true;
    return taken;
  }

  // Records the failure of chunk k; the first in file order is the one
  // reported. Called holding the lock.
  void fail(std::size_t k, PartEnd outcome, std::size_t request) {
    abandon_.store(true, std::memory_order_relaxed);
    if (outcome != PartEnd::kAbandoned && k < failed_chunk_) {
      failed_chunk_ = k;
      failed_ = outcome;
      failed_request_ = request;
    }
  }

  void workOn(std::size_t index) {
    Worker& worker = workers_[index];
    monitor_.lock();
    for (;;) {
      while (!stopped_ && next_ < chunks_ &&
             next_ >= committed_ + slots_.size()) {
        ++waiting_;
        monitor_.wait();
        --waiting_;
      }
      if (stopped_ || next_ >= chunks_) break;
      const std::size_t k = next_++;
      Slot& slot = slotOf(k);
      monitor_.unlock();

      slot.guess = false;
      slot.scanner.reset(k == 0 ? new (std::nothrow) Scanner(settings_)
                                : new (std::nothrow) Scanner(settings_, false));
      if (!slot.scanner) {
        slot.outcome = PartEnd::kNoRoom;
        slot.failed_request = sizeof(Scanner);
      } else {
        scanChunk(k, slot.scanner.get(), worker, slot);
      }

      monitor_.lock();
      slot.done = true;
      if (slot.outcome != PartEnd::kDone) {
        fail(k, slot.outcome, slot.failed_request);
        stopped_ = true;
        if (waiting_ != 0) monitor_.notifyAll();
        break;
      }
      // The thread that finds the next chunk done hands it on, and every
      // one after it that is done too; the others go on scanning.
      if (committing_) continue;
      committing_ = true;
      while (!stopped_ && committed_ < chunks_ && slotOf(committed_).done) {
        const std::size_t c = committed_;
        Slot& next = slotOf(c);
        monitor_.unlock();
        const bool handed = commit(c, worker, next);
        monitor_.lock();
        next.done = false;
        if (!handed) {
          if (!sink_failed_) fail(c, next.outcome, next.failed_request);
          abandon_.store(true, std::memory_order_relaxed);
          stopped_ = true;
        } else {
          ++committed_;
        }
        if (waiting_ != 0) monitor_.notifyAll();
      }
      committing_ = false;
    }
    monitor_.unlock();
  }

  const platform::File& file_;
  const WideCoding coding_;
  const std::int64_t file_bytes_;
  const scanners::Settings& settings_;
  OutputSink* const sink_;
  std::vector<std::int64_t> bounds_;  // chunk k is [bounds_[k], bounds_[k+1])
  std::vector<Slot> slots_;
  std::vector<Worker> workers_;
  std::size_t chunks_ = 0;

  platform::Monitor monitor_;
  // Under monitor_:
  std::size_t next_ = 0;       // the next chunk to scan
  std::size_t committed_ = 0;  // chunks handed on
  bool committing_ = false;    // a thread is handing chunks on
  bool stopped_ = false;
  std::size_t waiting_ = 0;  // threads waiting for room in the window
  std::size_t failed_chunk_ = SIZE_MAX;
  PartEnd failed_ = PartEnd::kDone;
  std::size_t failed_request_ = 0;
  // Read by the scans without the lock.
  std::atomic<bool> abandon_{false};
  // Of the thread handing chunks on (one at a time, under the handover):
  std::unique_ptr<Scanner> last_;  // the scanner of the last chunk handed on
  std::int64_t lines_ = 0;
  std::int64_t held_ = 0;
  bool sink_failed_ = false;
};

/// Scans bytes [begin, end) of the open wide file, written in `coding` and
/// `file_bytes` long when the scan began, with a Scanner per chunk and
/// hands the bytes to `sink` in order. kDone sets *lines; kNoRoom sets
/// *failed_capacity, the bytes handed on plus the request that failed.
template <class Scanner>
ScanEnd scanInParts(const platform::File& file, WideCoding coding,
                    std::int64_t begin, std::int64_t end,
                    std::int64_t file_bytes, const scanners::Settings& settings,
                    OutputSink* sink, std::int64_t* lines,
                    std::int64_t* failed_capacity) {
  ChunkScan<Scanner> scan(file, coding, file_bytes, settings, sink);
  return scan.run(begin, end, lines, failed_capacity);
}

}  // namespace parts

#endif  // PELMORA_SELECT_PART_SCHEDULER_H_
