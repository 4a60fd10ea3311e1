// The file steps of the -t and -b routes: holding binary.tmp, refreshing
// the wide file's time through a checked copy in it, copying it to the
// narrow file, letting it go.
#include <cstring>
#include <memory>
#include <new>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "select/select_utf16.h"
#include "select/wide_stream.h"

namespace {

bool ok(platform::Status status) { return status == platform::Status::kOk; }

// Copies `from`, from its position to its end, to `to` through `block`;
// true when every byte read was written. *total counts the bytes written.
bool copyRest(platform::File* from, platform::File* to, std::uint8_t* block,
              std::int64_t* total) {
  *total = 0;
  for (;;) {
    std::size_t got = 0;
    if (!ok(from->read(block, Selecting::kCopyBlock, &got))) return false;
    if (got == 0) return true;
    std::size_t written = 0;
    // A short write (a full disk) is a failure like any other: the copy is
    // incomplete, so its source must stay.
    const bool whole = ok(to->write(block, got, &written)) && written == got;
    *total += static_cast<std::int64_t>(written);
    if (!whole) return false;
  }
}

// The bytes of the next piece: `left`, at most `most`.
std::size_t piece(std::int64_t left, std::size_t most) {
  return left < static_cast<std::int64_t>(most) ? static_cast<std::size_t>(left)
                                                : most;
}

std::unique_ptr<std::uint8_t[]> copyBlock() {
  return std::unique_ptr<std::uint8_t[]>(
      new (std::nothrow) std::uint8_t[Selecting::kCopyBlock]);
}

}  // namespace

platform::File* Selecting::temporaryFile() {
  if (temporary_is_narrow_) return narrow_target_;
  if (temporary_is_wide_) return nullptr;
  return &temporary_;
}

void Selecting::holdTemporaryOrStop(bool refresh, bool routed,
                                    const std::string& narrow_name) {
  // binary.tmp that is the wide or the narrow file is the user's, already
  // open in this run: it is used through that open (holding it a second
  // time would wait for this very run on Windows). One with a second name
  // is refused like a link.
  const bool linked = platform::isLinkedName(kBinaryTmpName);
  platform::FileIdentity named;
  platform::FileIdentity wide;
  platform::FileIdentity narrow;
  const bool known =
      !linked && ok(platform::fileIdentity(kBinaryTmpName, &named));
  temporary_is_wide_ = known && ok(wide_.identity(&wide)) && named == wide;
  temporary_is_narrow_ =
      known && !temporary_is_wide_ && narrow_target_ != nullptr &&
      ok(narrow_target_->identity(&narrow)) && named == narrow;
  temporary_is_users_ = temporary_is_wide_ || temporary_is_narrow_;
  bool held = !linked && (temporary_is_users_ ||
                          ok(temporary_.openHeld(kBinaryTmpName, true)));
  if (held && !temporary_is_users_) {
    releaseAtStopOnce();
    // Made by another name meanwhile into the wide file: the user's.
    temporary_is_wide_ = isWide(temporary_);
    temporary_is_users_ = temporary_is_wide_;
    if (temporary_is_wide_) (void)temporary_.close();
  }
  // It will hold the wide file's bytes or the narrow output: readable by
  // its owner alone, also when an earlier run left it.
  if (held && !temporary_is_users_ && !ok(temporary_.restrictToOwner())) {
    (void)temporary_.close();
    held = false;
  }
  if (!held) {
    if (refresh) {
      diagnostics::report("Reset() error-193: " + wide_name_);
    } else {
      diagnostics::report(std::string("Rewrite() error-215: ") +
                          kBinaryTmpName);
      diagnostics::report("Reset() error-221: " + narrow_name);
    }
    diagnostics::stop(1);
  }
  if (routed && temporary_is_wide_) {
    diagnostics::report(std::string("Rewrite() error-243: ") + kBinaryTmpName);
    diagnostics::stop(1);
  }
}

bool Selecting::copyOutForRefresh(std::int64_t size) {
  platform::File* temporary = temporaryFile();
  // binary.tmp is the wide file: its bytes are already there.
  if (temporary == nullptr) return true;
  if (!ok(temporary->rewind(true))) return false;
  for (std::int64_t at = 0; at < size;) {
    const std::size_t want = piece(size - at, kCopyBlock);
    std::size_t copied = 0;
    // A file that ends early was cut by someone else: the copy is not it.
    if (!ok(wide_.copyRangeTo(at, want, temporary, &copied)) ||
        copied != want) {
      return false;
    }
    if (parts::BlockReadHook hook = parts::blockReadHook()) hook();
    at += static_cast<std::int64_t>(want);
  }
  return true;
}

bool Selecting::sameAsCopy(std::uint8_t* block, std::int64_t size) {
  platform::File* temporary = temporaryFile();
  if (temporary == nullptr) return true;
  const std::size_t half = kCopyBlock / 2;
  std::uint8_t* copy = block;
  std::uint8_t* now = block + half;
  for (std::int64_t at = 0; at < size;) {
    const std::size_t want = piece(size - at, half);
    std::size_t got = 0;
    std::size_t got_now = 0;
    if (!ok(temporary->readAt(at, copy, want, &got)) || got != want ||
        !ok(wide_.readAt(at, now, want, &got_now)) || got_now != want) {
      return false;
    }
    if (parts::BlockReadHook hook = parts::blockReadHook()) hook();
    if (std::memcmp(copy, now, want) != 0) return false;
    at += static_cast<std::int64_t>(want);
  }
  return true;
}

bool Selecting::copyForRefresh() {
  // A wide file that may not be written is left as it is, and no copy of
  // it is made.
  platform::ContentStamp before;
  platform::ContentStamp after;
  std::int64_t size_after = -1;
  platform::FileIdentity copied;
  platform::FileIdentity named;
  // After the copy the wide name must still reach the file that was copied,
  // with the size and the bytes it had: otherwise binary.tmp holds no copy
  // of the file whose time is set. Bytes appended after the check are the
  // appender's, and stay.
  bool same = refreshPossible() && ok(wide_.contentStamp(&before)) &&
              ok(wide_.identity(&copied)) && copyOutForRefresh(before.size) &&
              ok(wide_.size(&size_after)) && size_after == before.size &&
              ok(platform::fileIdentity(wide_name_, &named)) &&
              named == copied && ok(wide_.contentStamp(&after)) &&
              after.size == before.size;
  // A write while the copy was made shows in the file's times, unless they
  // cannot show it (a change just before, within the clock's tick, or a
  // system that keeps them lazily): then the copy is read back and
  // compared with the file.
  if (same && (after != before || !before.settled)) {
    std::unique_ptr<std::uint8_t[]> block = copyBlock();
    same = block != nullptr && after == before &&
           sameAsCopy(block.get(), before.size);
  }
  return same;
}

bool Selecting::refreshPossible() const {
  return (temporary_.isOpen() || temporary_is_users_) && wide_writable_;
}

void Selecting::finishRefresh(bool same) {
  if (!same) {
    if (temporary_.isOpen() && !temporary_is_users_) {
      (void)temporary_.removeHeld(kBinaryTmpName);
    }
    diagnostics::report("Reset() error-193: " + wide_name_);
    diagnostics::stop(1);
  }
  // The time is set on the open file, which is the one the checks read:
  // its bytes are not touched.
  if (!ok(wide_.touchNow())) {
    keep_copy_ = true;
    diagnostics::report("Reset() error-221: " + wide_name_);
    diagnostics::stop(1);
  }
}

void Selecting::refreshWide() { finishRefresh(copyForRefresh()); }

std::int64_t Selecting::copyFromTemporary(const std::string& destination) {
  if (!narrow_held_ || narrow_name_ != destination) {
    holdNarrowOrStop(destination, std::string());
  }
  std::int64_t size = 0;
  if (temporary_is_narrow_ && narrow_target_ != nullptr &&
      ok(narrow_target_->size(&size))) {
    // The narrow file is binary.tmp: the bytes are already there, and the
    // file is the user's to keep.
    narrow_written_ = true;
    return size;
  }
  // The block comes first, so that no memory leaves the target cut.
  std::unique_ptr<std::uint8_t[]> block = copyBlock();
  std::int64_t total = 0;
  const bool copied =
      temporary_.isOpen() && block != nullptr && ok(temporary_.rewind(false)) &&
      cutNarrow() && copyRest(&temporary_, narrow_target_, block.get(), &total);
  if (!finishNarrow(copied)) {
    // binary.tmp keeps the output.
    keep_copy_ = true;
    diagnostics::report("Reset() error-221: " + destination);
    diagnostics::stop(1);
  }
  return total;
}

void Selecting::temporaryRouteStop(const std::string& destination) const {
  diagnostics::report("Reset() error-221: " + destination);
  diagnostics::stop(1);
}

void Selecting::releaseTemporary(bool keep) {
  if (temporary_.isOpen()) {
    if (!keep && !temporary_is_users_) {
      (void)temporary_.removeHeld(kBinaryTmpName);
    }
    (void)temporary_.close();
  }
  temporary_is_users_ = false;
  temporary_is_wide_ = false;
  temporary_is_narrow_ = false;
}
