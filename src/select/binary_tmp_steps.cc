// The file steps of the -t and -b routes: holding binary.tmp, refreshing
// the wide file through it, copying it to the narrow file, letting it go.
#include <memory>
#include <new>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "select/select_utf16.h"

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

std::unique_ptr<std::uint8_t[]> copyBlock() {
  return std::unique_ptr<std::uint8_t[]>(
      new (std::nothrow) std::uint8_t[Selecting::kCopyBlock]);
}

}  // namespace

void Selecting::holdTemporaryOrStop(bool refresh, bool routed,
                                    const std::string& narrow_name) {
  if (!ok(temporary_.openHeld(kBinaryTmpName))) {
    if (refresh) {
      diagnostics::report("Reset() error-193: " + wide_name_);
    } else {
      diagnostics::report(std::string("Rewrite() error-215: ") +
                          kBinaryTmpName);
      diagnostics::report("Reset() error-221: " + narrow_name);
    }
    diagnostics::stop(1);
  }
  temporary_is_users_ = temporaryIsWide();
  if (routed && temporary_is_users_) {
    diagnostics::report(std::string("Rewrite() error-243: ") + kBinaryTmpName);
    diagnostics::stop(1);
  }
}

bool Selecting::temporaryIsWide() const {
  platform::FileIdentity held;
  platform::FileIdentity wide;
  return ok(temporary_.identity(&held)) &&
         ok(platform::fileIdentity(wide_name_, &wide)) && held == wide;
}

void Selecting::refreshWide() {
  // Memory and the new file's place come first: a wide file that cannot
  // be replaced (a read-only folder) costs nothing but the report.
  std::unique_ptr<std::uint8_t[]> block = copyBlock();
  platform::Replacement replacement;
  bool copied_out = temporary_.isOpen() && block != nullptr &&
                    ok(replacement.begin(wide_name_));
  std::int64_t size = 0;
  if (copied_out && temporary_is_users_) {
    // binary.tmp is the wide file: its bytes are already there.
    copied_out = ok(temporary_.size(&size));
  } else if (copied_out) {
    platform::File wide;
    std::int64_t copied = -1;
    std::int64_t size_after = -1;
    copied_out = ok(wide.openRead(wide_name_)) && ok(wide.size(&size)) &&
                 ok(temporary_.rewind(true)) &&
                 copyRest(&wide, &temporary_, block.get(), &copied) &&
                 ok(wide.size(&size_after)) && ok(wide.close());
    // A wide file that changed size while it was copied is not what the
    // copy holds.
    copied_out = copied_out && copied == size && size_after == size;
  }
  if (!copied_out) {
    if (temporary_.isOpen() && !temporary_is_users_) {
      (void)temporary_.removeHeld(kBinaryTmpName);
    }
    diagnostics::report("Reset() error-193: " + wide_name_);
    diagnostics::stop(1);
  }

  std::int64_t back = -1;
  bool written_back =
      ok(temporary_.rewind(false)) &&
      copyRest(&temporary_, &replacement.file(), block.get(), &back) &&
      back == size;
  // Windows replaces no file that is still open, and binary.tmp has
  // nothing more to do when it is the wide file.
  if (temporary_is_users_) (void)temporary_.close();
  written_back = written_back && ok(replacement.commit());
  if (!written_back) {
    // The wide file is as it was; binary.tmp keeps the copy.
    diagnostics::report("Reset() error-221: " + wide_name_);
    diagnostics::stop(1);
  }
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
  if (!temporary_.isOpen()) return;
  if (!keep && !temporary_is_users_) {
    (void)temporary_.removeHeld(kBinaryTmpName);
  }
  (void)temporary_.close();
  temporary_is_users_ = false;
}
