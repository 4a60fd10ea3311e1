// Reads one range of the wide file block by block through a scanner into
// output blocks: the loop every part of a scan runs.
#ifndef PELMORA_SELECT_WIDE_STREAM_H_
#define PELMORA_SELECT_WIDE_STREAM_H_

#include <atomic>
#include <cstring>
#include <cstddef>
#include <cstdint>
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

// Bytes per read, whatever the coding: small enough to stay in the
// processor's cache, and below the size at which the allocator maps fresh
// pages for a buffer (reads into such a mapping measured three times slower
// in the kernel's copy).
inline constexpr std::size_t kReadBlockBytes = std::size_t{1} << 16;
// Units per read of UTF-16; a read of UTF-8 is scanned as bytes, one
// position each (or decoded into at most as many units).
inline constexpr std::size_t kReadBlockUnits = kReadBlockBytes / 2;
static_assert(kReadBlockBytes <= scanners::kMaxBlockUnits,
              "the scanners take a whole read block");
// The most bytes one code unit can bring: a line end in the decimal family
// (point, completion character, CR, LF). Every other unit brings at most 2.
inline constexpr std::size_t kMostBytesPerUnit = 4;

/// What runs after every block a part has read, or nullptr (the usual):
/// tests change the file there, while it is read.
using BlockReadHook = void (*)();
void setBlockReadHookForTesting(BlockReadHook hook);
BlockReadHook blockReadHook();

/// How the scan of one range ended.
enum class PartEnd { kDone, kReadFailed, kNoRoom, kAbandoned };

/// Feeds bytes [begin, end) of the open wide file, written in `coding`, to
/// the scanner as code units, block by block, and keeps the bytes it makes
/// in `output`; a file that ends before `end` is a read failure. Every part
/// reads the one file through its own offsets. Gives up early (kAbandoned)
/// once `abandon` is set. On kNoRoom, *failed_request is the allocation
/// that failed.
template <class Scanner>
PartEnd streamUnits(const platform::File& file, WideCoding coding,
                    std::int64_t begin, std::int64_t end, Scanner& scanner,
                    OutputBlocks& output, const std::atomic<bool>& abandon,
                    std::size_t* failed_request) {
  // The scanners classify whole windows of 64 units (or bytes), so the
  // block reaches a window past its end. UTF-8 and Shift_JIS are read into
  // bytes of their own first, with room for the head of a character that
  // the last block cut; the units are then where they are decoded.
  const bool utf8 = coding == WideCoding::kUtf8;
  const bool sjis = coding == WideCoding::kShiftJis;
  const bool bytewise = utf8 || sjis;
  const std::size_t positions = bytewise ? kReadBlockBytes : kReadBlockUnits;
  const std::size_t block_units = positions + kMaskWindow;
  static_assert(kMaskWindow >= wide_coding::kPieceReadAhead,
                "a piece of UTF-8 is read ahead within the block");
  std::unique_ptr<std::uint16_t[]> block(new (std::nothrow)
                                             std::uint16_t[block_units]());
  std::unique_ptr<std::uint8_t[]> bytes(
      bytewise ? new (std::nothrow) std::uint8_t[block_units]() : nullptr);
  if (!block || (bytewise && !bytes)) {
    *failed_request = block_units * 2 + (bytewise ? block_units : 0);
    return PartEnd::kNoRoom;
  }
  const std::int64_t width = wide_coding::positionBytes(coding);
  std::size_t carried = 0;  // bytes of a cut character
  std::int64_t at = begin;
  while (at < end) {
    if (abandon.load(std::memory_order_relaxed)) return PartEnd::kAbandoned;
    const std::int64_t room =
        static_cast<std::int64_t>(positions - carried) * width;
    const std::size_t want =
        static_cast<std::size_t>(end - at < room ? end - at : room);
    std::uint8_t* into = bytewise
                             ? bytes.get() + carried
                             : reinterpret_cast<std::uint8_t*>(block.get());
    std::size_t got = 0;
    // A file that ends before the size it had when it was measured was cut
    // by someone else while it was read: what is left is no longer the
    // file, and padding it would write bytes that were never there.
    if (file.readAt(at, into, want, &got) != platform::Status::kOk ||
        got < want) {
      return PartEnd::kReadFailed;
    }
    if (BlockReadHook hook = blockReadHook()) hook();
    at += static_cast<std::int64_t>(want);
    if (bytewise && scanner.readsBytes()) {
      // A unit per byte at most, and what a line feed writes per byte.
      const std::size_t held = carried + want;
      const std::size_t whole =
          at == end ? held
          : utf8    ? wide_coding::wholeUtf8(bytes.get(), held)
                    : wide_coding::wholeShiftJis(bytes.get(), held);
      if (!output.reserve(whole * kMostBytesPerUnit)) {
        *failed_request = whole * kMostBytesPerUnit;
        return PartEnd::kNoRoom;
      }
      output.advance(
          scanner.feedBytes(bytes.get(), whole, block.get(), output.cursor()));
      carried = held - whole;
      std::memmove(bytes.get(), bytes.get() + whole, carried);
      continue;
    }
    wide_coding::UnitRuns runs{1, {0, 0, 0, 0}, {want / 2, 0, 0, 0}};
    if (bytewise) {
      const std::size_t held = carried + want;
      const std::size_t used =
          utf8 ? wide_coding::decodeUtf8(bytes.get(), held, at == end,
                                         block.get(), &runs)
               : wide_coding::decodeShiftJis(bytes.get(), held, at == end,
                                             block.get(), &runs.units[0]);
      carried = held - used;
      std::memmove(bytes.get(), bytes.get() + used, carried);
    } else {
      wide_coding::toHostOrder(coding, block.get(), runs.units[0]);
    }
    for (std::size_t k = 0; k < runs.count; ++k) {
      const std::size_t units = runs.units[k];
      if (!output.reserve(units * kMostBytesPerUnit)) {
        *failed_request = units * kMostBytesPerUnit;
        return PartEnd::kNoRoom;
      }
      output.advance(
          scanner.feed(block.get() + runs.begin[k], units, output.cursor()));
    }
  }
  return PartEnd::kDone;
}

}  // namespace parts

#endif  // PELMORA_SELECT_WIDE_STREAM_H_
