#include "select/output_sinks.h"

#include <cstring>

namespace {

bool ok(platform::Status status) { return status == platform::Status::kOk; }

bool writeAll(platform::File* file, const std::uint8_t* bytes, std::size_t n) {
  std::size_t written = 0;
  // A short write (a full disk) is a failure like any other.
  return ok(file->write(bytes, n, &written)) && written == n;
}

}  // namespace

bool FileOutput::take(const std::uint8_t* bytes, std::size_t n) {
  return writeAll(file_, bytes, n);
}

bool StandardOutput::take(const std::uint8_t* bytes, std::size_t n) {
  return ok(platform::writeStandardOutput(bytes, n));
}

bool HeldOutput::take(const std::uint8_t* bytes, std::size_t n) {
  // Once the bytes have gone on into the scratch file, every later part
  // follows them there, however small: writeTo() puts the memory first.
  const bool over = scratch_.isOpen() ||
                    in_memory_ + static_cast<std::int64_t>(n) > kInMemoryBytes;
  if (over && !beside_.empty() && !scratch_tried_) {
    scratch_tried_ = true;
    (void)scratch_.createScratch(beside_);
  }
  if (over && scratch_.isOpen()) {
    in_scratch_ += static_cast<std::int64_t>(n);
    return writeAll(&scratch_, bytes, n);
  }
  if (!memory_.reserve(n)) {
    out_of_memory_ = true;
    return false;
  }
  std::memcpy(memory_.cursor(), bytes, n);
  memory_.advance(memory_.cursor() + n);
  in_memory_ += static_cast<std::int64_t>(n);
  return true;
}

bool HeldOutput::writeTo(platform::File* file) const {
  if (!memory_.forEach([file](const std::uint8_t* bytes, std::size_t n) {
        return writeAll(file, bytes, n);
      })) {
    return false;
  }
  // The scratch file's bytes follow, copied inside the system where it can,
  // in pieces that a 32-bit size holds.
  constexpr std::int64_t kMostPiece = std::int64_t{1} << 30;
  for (std::int64_t at = 0; at < in_scratch_;) {
    const std::int64_t left = in_scratch_ - at;
    const std::size_t want =
        static_cast<std::size_t>(left < kMostPiece ? left : kMostPiece);
    std::size_t copied = 0;
    if (!ok(scratch_.copyRangeTo(at, want, file, &copied)) || copied != want) {
      return false;
    }
    at += static_cast<std::int64_t>(want);
  }
  return true;
}

bool HeldOutput::appendTo(std::string* text) const {
  if (in_scratch_ != 0) return false;
  try {
    return memory_.forEach([text](const std::uint8_t* bytes, std::size_t n) {
      text->append(reinterpret_cast<const char*>(bytes), n);
      return true;
    });
  } catch (const std::bad_alloc&) {
    return false;
  }
}
