// Reads one range of the wide file block by block through a scanner into
// output blocks: the loop every part of a scan runs.
#ifndef PELMORA_SELECT_WIDE_STREAM_H_
#define PELMORA_SELECT_WIDE_STREAM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "select/block_masks.h"
#include "select/output_blocks.h"
#include "select/unit_masks.h"

namespace parts {

// Units per read: small enough to stay in the processor's cache, and below
// the size at which the allocator maps fresh pages for a buffer (reads into
// such a mapping measured three times slower in the kernel's copy).
inline constexpr std::size_t kReadBlockUnits = std::size_t{1} << 15;
static_assert(kReadBlockUnits <= scanners::kMaxBlockUnits,
              "the scanners take a whole read block");
// The most bytes one code unit can bring: a line end in the decimal family
// (point, completion character, CR, LF). Every other unit brings at most 2.
inline constexpr std::size_t kMostBytesPerUnit = 4;

/// Turns units read as little-endian bytes into the host's order.
void toHostOrder(std::uint16_t* units, std::size_t n);

/// What runs after every block a part has read, or nullptr (the usual):
/// tests change the file there, while it is read.
using BlockReadHook = void (*)();
void setBlockReadHookForTesting(BlockReadHook hook);
BlockReadHook blockReadHook();

/// How the scan of one range ended.
enum class PartEnd { kDone, kReadFailed, kNoRoom, kAbandoned };

/// Feeds units [begin, end) of the open wide file to the scanner block by
/// block and keeps the bytes in `output`; a file that ends before `end` is a
/// read failure. Every part reads the one file through its own offsets. Gives
/// up early (kAbandoned) once `abandon` is set. On kNoRoom, *failed_request is
/// the allocation that failed.
template <class Scanner>
PartEnd streamUnits(const platform::File& file, std::int64_t begin,
                    std::int64_t end, Scanner& scanner, OutputBlocks& output,
                    const std::atomic<bool>& abandon,
                    std::size_t* failed_request) {
  // The scanners classify whole windows of 64 units, so the block reaches
  // a window past its end.
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
    if (file.readAt(at * 2, block.get(), want * 2, &got) !=
            platform::Status::kOk ||
        got < want * 2) {
      return PartEnd::kReadFailed;
    }
    if (BlockReadHook hook = blockReadHook()) hook();
    toHostOrder(block.get(), want);
    if (!output.reserve(want * kMostBytesPerUnit)) {
      *failed_request = want * kMostBytesPerUnit;
      return PartEnd::kNoRoom;
    }
    output.advance(scanner.feed(block.get(), want, output.cursor()));
    at += static_cast<std::int64_t>(want);
  }
  return PartEnd::kDone;
}

}  // namespace parts

#endif  // PELMORA_SELECT_WIDE_STREAM_H_
