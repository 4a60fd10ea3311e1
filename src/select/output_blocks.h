// The narrow output of one run, held in memory in blocks until the scan is
// over, so that a wide file that fails part-way leaves nothing written.
#ifndef PELMORA_SELECT_OUTPUT_BLOCKS_H_
#define PELMORA_SELECT_OUTPUT_BLOCKS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

/// Bytes written through cursor() into the current block, which reserve()
/// makes large enough first. It grows block by block, so no huge array has
/// to be found in one piece. Moves hand over the blocks and the cursor
/// together and leave the source empty; copies are not allowed (two
/// objects would write through one cursor).
class OutputBlocks {
 public:
  OutputBlocks() = default;
  OutputBlocks(const OutputBlocks&) = delete;
  OutputBlocks& operator=(const OutputBlocks&) = delete;
  OutputBlocks(OutputBlocks&& other) noexcept;
  OutputBlocks& operator=(OutputBlocks&& other) noexcept;
  ~OutputBlocks() = default;

  /// Makes room for at least `bytes` more bytes in the current block;
  /// false when memory ran out.
  [[nodiscard]] bool reserve(std::size_t bytes);
  std::uint8_t* cursor() { return cursor_; }
  /// Ends the bytes written at `to`, a place between cursor() and the end
  /// of the room reserve() made.
  void advance(std::uint8_t* to) { cursor_ = to; }
  std::int64_t size() const;
  /// Moves the blocks of `other` behind these and leaves it empty; false
  /// when memory ran out (both then keep what they held).
  [[nodiscard]] bool append(OutputBlocks&& other);
  /// Calls sink(data, length) for each block in order; stops at the first
  /// call that returns false, and returns false then.
  template <class Sink>
  bool forEach(Sink sink) const;
  /// Empties it for new bytes, keeping the memory of its first block, so
  /// that the next bytes go to pages that are already there.
  void clear();

 private:
  struct Block {
    platform::LargeBlock memory;
    std::size_t used = 0;  // kept when the block stops being the current one
  };
  // The bytes in block i: the cursor tells for the last block.
  std::size_t usedIn(std::size_t i) const;
  void closeCurrent();

  std::vector<Block> blocks_;
  // Inside the last block of blocks_, or both null when there is none.
  std::uint8_t* cursor_ = nullptr;
  std::uint8_t* limit_ = nullptr;
};

/// Where the narrow bytes of a scan go, in the order of the wide file.
class OutputSink {
 public:
  /// Takes the next bytes; false when they could not be kept or written,
  /// which ends the scan.
  virtual bool take(const std::uint8_t* bytes, std::size_t n) = 0;
  /// After take() failed: whether memory ran out (else a write failed).
  virtual bool outOfMemory() const { return false; }

 protected:
  ~OutputSink() = default;
};

template <class Sink>
bool OutputBlocks::forEach(Sink sink) const {
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    const std::size_t used = usedIn(i);
    if (used > 0 && !sink(blocks_[i].memory.data(), used)) return false;
  }
  return true;
}

#endif  // PELMORA_SELECT_OUTPUT_BLOCKS_H_
