// Reads one range of the wide file block by block through a scanner into
// output blocks: the loop every chunk of a scan runs.
#ifndef PELMORA_SELECT_WIDE_STREAM_H_
#define PELMORA_SELECT_WIDE_STREAM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "select/block_masks.h"
#include "select/output_blocks.h"
#include "select/sjis_decoding.h"
#include "select/unit_masks.h"
#include "select/wide_coding.h"

namespace parts {

// Bytes per block, whatever the coding: small enough to stay in the
// processor's cache while the masks and the scanner go over it.
inline constexpr std::size_t kReadBlockBytes = std::size_t{1} << 16;
// Units per block of UTF-16; a block of UTF-8 is scanned as bytes, one
// position each (or decoded into at most as many units).
inline constexpr std::size_t kReadBlockUnits = kReadBlockBytes / 2;
static_assert(kReadBlockBytes <= scanners::kMaxBlockUnits,
              "the scanners take a whole read block");
// The most bytes one code unit can bring: a line end in the decimal family
// (point, completion character, CR, LF). Every other unit brings at most 2.
inline constexpr std::size_t kMostBytesPerUnit = 4;
// A range at least this long is mapped rather than read, where the system
// maps files: below it the mapping costs more than the copy it saves.
inline constexpr std::int64_t kLeastMappedBytes = std::int64_t{1} << 18;

/// What runs after every block a chunk has read, or nullptr (the usual):
/// tests change the file there, while it is read.
using BlockReadHook = void (*)();
void setBlockReadHookForTesting(BlockReadHook hook);
BlockReadHook blockReadHook();

/// How the scan of one range ended.
enum class PartEnd { kDone, kReadFailed, kNoRoom, kAbandoned };

/// The blocks one thread reads into, kept from range to range. Each starts
/// on a 64-byte line: loads that straddle two lines at every step cost the
/// masks more than half their speed again.
class ReadBuffers {
 public:
  /// Makes room for ranges of `range_bytes` bytes (blocks no longer than
  /// needed, for small files) in `coding`; false when memory ran out
  /// (*failed_request then says how much was asked for).
  bool prepare(WideCoding coding, std::int64_t range_bytes,
               std::size_t* failed_request) {
    const std::int64_t width = wide_coding::positionBytes(coding);
    bytewise_ = width == 1;
    const std::size_t most = bytewise_ ? kReadBlockBytes : kReadBlockUnits;
    const std::int64_t range = (range_bytes + width - 1) / width;
    positions_ = range < static_cast<std::int64_t>(most)
                     ? static_cast<std::size_t>(range < 1 ? 1 : range)
                     : most;
    const std::size_t units = positions_ + kMaskWindow;
    const std::size_t unit_bytes = units * 2;
    const std::size_t byte_bytes = bytewise_ ? units : 0;
    const std::size_t want = unit_bytes + byte_bytes + 2 * kLine;
    if (want > held_) {
      memory_.reset(new (std::nothrow) std::uint8_t[want]());
      held_ = memory_ ? want : 0;
      if (!memory_) {
        *failed_request = want;
        return false;
      }
    }
    const std::uintptr_t address =
        reinterpret_cast<std::uintptr_t>(memory_.get());
    const std::size_t skip = (kLine - address % kLine) % kLine;
    units_ = reinterpret_cast<std::uint16_t*>(memory_.get() + skip);
    bytes_ = bytewise_ ? memory_.get() + skip +
                             (unit_bytes + kLine - 1) / kLine * kLine
                       : nullptr;
    return true;
  }
  std::uint16_t* units() const { return units_; }
  std::uint8_t* bytes() const { return bytes_; }
  /// Positions per block.
  std::size_t positions() const { return positions_; }

 private:
  static constexpr std::size_t kLine = 64;
  std::unique_ptr<std::uint8_t[]> memory_;
  std::size_t held_ = 0;
  std::uint16_t* units_ = nullptr;
  std::uint8_t* bytes_ = nullptr;
  std::size_t positions_ = 0;
  bool bytewise_ = false;
};

/// One range [begin, end) of the open wide file, written in `coding`, fed
/// to the scanner as code units block by block, its bytes kept in
/// `output`; a file that ends before `end` is a read failure. Read through
/// `view` (a mapping of the range from `begin` on) when there is one, else
/// at the range's own offsets of the one open, so that ranges can be read
/// side by side. Gives up early (kAbandoned) once `abandon` is set. On
/// kNoRoom, failed_request is the allocation that failed.
///
/// run() holds nothing that must be let go: a page of the view that
/// vanishes under it (the file cut shorter) breaks it off, and the caller
/// counts that as a read failure.
template <class Scanner>
struct RangeStream {
  const platform::File* file = nullptr;
  WideCoding coding = WideCoding::kUtf16Le;
  std::int64_t begin = 0;
  std::int64_t end = 0;
  Scanner* scanner = nullptr;
  OutputBlocks* output = nullptr;
  const std::atomic<bool>* abandon = nullptr;
  ReadBuffers* buffers = nullptr;
  const platform::MappedRange* view = nullptr;

  PartEnd outcome = PartEnd::kDone;
  std::size_t failed_request = 0;

  static void runFor(void* stream) { static_cast<RangeStream*>(stream)->run(); }

  // The scanner's feed of units in host order, or in the other one.
  std::uint8_t* feedUnits(const std::uint16_t* units, std::size_t n,
                          bool swapped, std::uint8_t* out) {
    if constexpr (Scanner::kReadsSwappedUnits) {
      if (swapped) return scanner->feedSwapped(units, n, out);
    }
    return scanner->feed(units, n, out);
  }

  void run() {
    outcome = PartEnd::kDone;
    const bool utf8 = coding == WideCoding::kUtf8;
    const bool bytewise = wide_coding::positionBytes(coding) == 1;
    const bool mapped = view != nullptr && view->data() != nullptr;
    const std::uint16_t one = 1;
    std::uint8_t first_byte = 0;
    std::memcpy(&first_byte, &one, 1);
    // Units of the file's own order the scanner can read where they lie.
    const bool host_order =
        (coding == WideCoding::kUtf16Le) == (first_byte == 1) && !bytewise;
    // Units of the other order the scanner can read where they lie too.
    bool swapped_in_place = false;
    if constexpr (Scanner::kReadsSwappedUnits) {
      swapped_in_place =
          !host_order && !bytewise && scanner->readsSwappedUnits();
    }
    const std::int64_t width = wide_coding::positionBytes(coding);
    std::uint16_t* block = buffers->units();
    std::uint8_t* bytes = buffers->bytes();
    const std::size_t positions = buffers->positions();
    // What a block is read past its end: the scanners classify whole
    // windows of 64 positions.
    const std::size_t ahead = kMaskWindow * static_cast<std::size_t>(width);
    std::size_t carried = 0;  // bytes of a cut character, read
    std::int64_t at = begin;
    while (at < end) {
      if (abandon->load(std::memory_order_relaxed)) {
        outcome = PartEnd::kAbandoned;
        return;
      }
      const std::int64_t room =
          static_cast<std::int64_t>(positions - carried) * width;
      const std::size_t want =
          static_cast<std::size_t>(end - at < room ? end - at : room);
      // Where the block's bytes are: in the view when the scanner may read
      // them there (the view reaches a window past them), else copied.
      const std::uint8_t* from = nullptr;
      if (mapped) {
        const std::size_t offset = static_cast<std::size_t>(at - begin);
        const std::uint8_t* here = view->data() + offset;
        const bool room_after = offset + want + ahead <= view->readable();
        if (bytewise && room_after) {
          from = here;
        } else if ((host_order || swapped_in_place) && room_after) {
          from = here;
        } else {
          std::uint8_t* into =
              bytewise ? bytes : reinterpret_cast<std::uint8_t*>(block);
          std::memcpy(into, here, want);
          std::memset(into + want, 0, ahead);
          from = into;
        }
      } else {
        std::uint8_t* into =
            bytewise ? bytes + carried : reinterpret_cast<std::uint8_t*>(block);
        std::size_t got = 0;
        // A file that ends before the size it had when it was measured was
        // cut by someone else while it was read: what is left is no longer
        // the file, and padding it would write bytes that were never there.
        if (file->readAt(at, into, want, &got) != platform::Status::kOk ||
            got < want) {
          outcome = PartEnd::kReadFailed;
          return;
        }
        from = bytewise ? bytes : into;
      }
      if (BlockReadHook hook = blockReadHook()) hook();
      // A view holds the whole range: a character cut by the block's end is
      // read again at the start of the next block. Blocks that were read
      // carry it over instead.
      const std::size_t held = mapped ? want : carried + want;
      const bool last = at + static_cast<std::int64_t>(want) == end;
      std::size_t used = held;
      if (bytewise && scanner->readsBytes()) {
        used = last   ? held
               : utf8 ? wide_coding::wholeUtf8(from, held)
                      : wide_coding::wholeShiftJis(from, held);
        // A unit per byte at most, and what a line feed writes per byte.
        if (!output->reserve(used * kMostBytesPerUnit)) {
          failed_request = used * kMostBytesPerUnit;
          outcome = PartEnd::kNoRoom;
          return;
        }
        output->advance(
            scanner->feedBytes(from, used, block, output->cursor()));
      } else {
        wide_coding::UnitRuns runs{1, {0, 0, 0, 0}, {want / 2, 0, 0, 0}};
        const std::uint16_t* units = block;
        if (bytewise) {
          used = utf8 ? wide_coding::decodeUtf8(from, held, last, block, &runs)
                      : wide_coding::decodeShiftJis(from, held, last, block,
                                                    &runs.units[0]);
        } else if (from == reinterpret_cast<const std::uint8_t*>(block)) {
          wide_coding::toHostOrder(coding, block, runs.units[0]);
        } else {
          // In the view: the file's own order, or the other one when the
          // scanner takes that.
          units = reinterpret_cast<const std::uint16_t*>(from);
        }
        const bool swapped = swapped_in_place && units != block;
        for (std::size_t k = 0; k < runs.count; ++k) {
          const std::size_t n = runs.units[k];
          if (!output->reserve(n * kMostBytesPerUnit)) {
            failed_request = n * kMostBytesPerUnit;
            outcome = PartEnd::kNoRoom;
            return;
          }
          output->advance(
              feedUnits(units + runs.begin[k], n, swapped, output->cursor()));
        }
      }
      if (mapped) {
        at += static_cast<std::int64_t>(used);
      } else {
        at += static_cast<std::int64_t>(want);
        if (bytewise) {
          carried = held - used;
          std::memmove(bytes, bytes + used, carried);
        }
      }
    }
  }
};

}  // namespace parts

#endif  // PELMORA_SELECT_WIDE_STREAM_H_
