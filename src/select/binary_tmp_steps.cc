// The file steps of the -t and -b routes: holding binary.tmp, refreshing
// the wide file through it, copying it to the narrow file, letting it go.
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

void Selecting::holdTemporaryOrStop(bool refresh, bool routed,
                                    const std::string& narrow_name) {
  // binary.tmp that is the wide file is the user's, already open in this
  // run: it is used through that open (holding it a second time would wait
  // for this very run on Windows). One with a second name is refused like
  // a link.
  const bool linked = platform::isLinkedName(kBinaryTmpName);
  platform::FileIdentity named;
  platform::FileIdentity wide;
  temporary_is_users_ = !linked &&
                        ok(platform::fileIdentity(kBinaryTmpName, &named)) &&
                        ok(wide_.identity(&wide)) && named == wide;
  bool held = !linked && (temporary_is_users_ ||
                          ok(temporary_.openHeld(kBinaryTmpName, true)));
  if (held && !temporary_is_users_) temporary_is_users_ = isWide(temporary_);
  if (held && !temporary_is_users_) {
    // It will hold the wide file's bytes or the narrow output: readable by
    // its owner alone, also when an earlier run left it. The narrow file
    // under this name is the user's, and keeps its mode.
    platform::FileIdentity id;
    platform::FileIdentity narrow;
    const bool is_narrow = ok(temporary_.identity(&id)) &&
                           ok(platform::fileIdentity(narrow_name, &narrow)) &&
                           id == narrow;
    held = is_narrow || ok(temporary_.restrictToOwner());
    if (!held) (void)temporary_.close();
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
  if (routed && temporary_is_users_) {
    diagnostics::report(std::string("Rewrite() error-243: ") + kBinaryTmpName);
    diagnostics::stop(1);
  }
}

bool Selecting::copyOutForRefresh(std::uint8_t* block, std::int64_t size) {
  // binary.tmp is the wide file: its bytes are already there.
  if (temporary_is_users_) return true;
  if (!ok(temporary_.rewind(true))) return false;
  for (std::int64_t at = 0; at < size;) {
    const std::size_t want = piece(size - at, kCopyBlock);
    std::size_t got = 0;
    std::size_t written = 0;
    // A file that ends early was cut by someone else: the copy is not it.
    if (!ok(wide_.readAt(at, block, want, &got)) || got != want) return false;
    if (parts::BlockReadHook hook = parts::blockReadHook()) hook();
    if (!ok(temporary_.write(block, want, &written))) return false;
    at += static_cast<std::int64_t>(want);
  }
  return true;
}

bool Selecting::writeBackForRefresh(std::uint8_t* block, std::int64_t size,
                                    bool* changed) {
  // Each piece of the copy is written back only where the wide file still
  // holds the same bytes, so the rewrite never puts back bytes that another
  // program has changed since the copy was made.
  const std::size_t half = kCopyBlock / 2;
  std::uint8_t* copy = block;
  std::uint8_t* now = block + half;
  *changed = false;
  const platform::File& source = temporary_.isOpen() ? temporary_ : wide_;
  for (std::int64_t at = 0; at < size;) {
    const std::size_t want = piece(size - at, half);
    std::size_t got = 0;
    std::size_t got_now = 0;
    std::size_t written = 0;
    if (!ok(source.readAt(at, copy, want, &got)) || got != want ||
        !ok(wide_.readAt(at, now, want, &got_now))) {
      return false;
    }
    if (parts::BlockReadHook hook = parts::blockReadHook()) hook();
    if (got_now != want || std::memcmp(copy, now, want) != 0) {
      *changed = true;
      return false;
    }
    if (!ok(wide_.writeAt(at, copy, want, &written))) return false;
    at += static_cast<std::int64_t>(want);
  }
  // On the disk, and with this run's time also when it has no byte.
  return ok(wide_.sync()) && ok(wide_.touchNow());
}

void Selecting::refreshWide() {
  // A wide file that may not be written is left as it is, and no copy of
  // it is made.
  std::unique_ptr<std::uint8_t[]> block = copyBlock();
  std::int64_t size = -1;
  std::int64_t size_after = -1;
  platform::FileIdentity copied;
  platform::FileIdentity named;
  // After the copy the wide name must still reach the file that was copied,
  // and the file must have the size it had: otherwise the copy is not what
  // would be written back.
  bool copied_out =
      (temporary_.isOpen() || temporary_is_users_) && block != nullptr &&
      wide_writable_ && ok(wide_.size(&size)) && ok(wide_.identity(&copied)) &&
      copyOutForRefresh(block.get(), size) && ok(wide_.size(&size_after)) &&
      size_after == size && ok(platform::fileIdentity(wide_name_, &named)) &&
      named == copied;
  bool changed = false;
  if (copied_out && writeBackForRefresh(block.get(), size, &changed)) return;
  if (!copied_out || changed) {
    if (temporary_.isOpen() && !temporary_is_users_) {
      (void)temporary_.removeHeld(kBinaryTmpName);
    }
    diagnostics::report("Reset() error-193: " + wide_name_);
  } else {
    // The wide file holds its own bytes; binary.tmp keeps the copy.
    diagnostics::report("Reset() error-221: " + wide_name_);
  }
  diagnostics::stop(1);
}

std::int64_t Selecting::copyFromTemporary(const std::string& destination) {
  platform::FileIdentity held;
  platform::FileIdentity named;
  std::int64_t size = 0;
  if (ok(temporary_.identity(&held)) &&
      ok(platform::fileIdentity(destination, &named)) && held == named &&
      ok(temporary_.size(&size))) {
    // The narrow file is binary.tmp: the bytes are already there, and the
    // file is the user's to keep.
    temporary_is_users_ = true;
    return size;
  }
  // The block comes first, so that no memory leaves the target truncated.
  std::unique_ptr<std::uint8_t[]> block = copyBlock();
  platform::File target;
  std::int64_t total = 0;
  const bool copied =
      temporary_.isOpen() && block != nullptr && ok(temporary_.rewind(false)) &&
      ok(target.create(destination)) &&
      copyRest(&temporary_, &target, block.get(), &total) && ok(target.close());
  if (!copied) {
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
  if (!temporary_.isOpen()) {
    temporary_is_users_ = false;
    return;
  }
  if (!keep && !temporary_is_users_) {
    (void)temporary_.removeHeld(kBinaryTmpName);
  }
  (void)temporary_.close();
  temporary_is_users_ = false;
}
