// Where a scan's narrow bytes go as the chunks are handed on: straight to
// a file or standard output, or held until the scan is over.
#ifndef PELMORA_SELECT_OUTPUT_SINKS_H_
#define PELMORA_SELECT_OUTPUT_SINKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "select/output_blocks.h"

/// Writes the bytes through an open file as they come: for a narrow file
/// this run created (a failed run removes it again), a device or a FIFO.
class FileOutput final : public OutputSink {
 public:
  explicit FileOutput(platform::File* file) : file_(file) {}
  bool take(const std::uint8_t* bytes, std::size_t n) override;

 private:
  platform::File* file_;
};

/// Writes the bytes to standard output as they come (--out).
class StandardOutput final : public OutputSink {
 public:
  bool take(const std::uint8_t* bytes, std::size_t n) override;
};

/// Holds the bytes until the scan is over, for a file whose old content
/// must stay until the new one is whole: in memory up to kInMemoryBytes,
/// then in an unnamed scratch file beside the file they are for, so that
/// the memory of a run stays bounded whatever the size of its output.
/// Where no scratch file can be made they stay in memory.
class HeldOutput final : public OutputSink {
 public:
  static constexpr std::int64_t kInMemoryBytes = std::int64_t{16} << 20;

  /// `beside`: the name of the file the bytes are for, whose folder takes
  /// the scratch file; empty: memory alone.
  explicit HeldOutput(std::string beside) : beside_(std::move(beside)) {}
  bool take(const std::uint8_t* bytes, std::size_t n) override;
  bool outOfMemory() const override { return out_of_memory_; }
  /// Writes all the bytes held, in order, through `file` from its position;
  /// false when a write (or the read of the scratch file) failed.
  bool writeTo(platform::File* file) const;
  /// Appends all the bytes held to *text; false when memory ran out.
  bool appendTo(std::string* text) const;

 private:
  std::string beside_;
  OutputBlocks memory_;
  std::int64_t in_memory_ = 0;
  platform::File scratch_;
  bool scratch_tried_ = false;
  std::int64_t in_scratch_ = 0;
  bool out_of_memory_ = false;
};

#endif  // PELMORA_SELECT_OUTPUT_SINKS_H_
