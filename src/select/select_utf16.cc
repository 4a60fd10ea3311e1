#include "select/select_utf16.h"

#include <memory>
#include <new>

#include "diagnostics/error_text.h"
#include "options/final_effect.h"
#include "platform/platform.h"


Selecting::Selecting() = default;
Selecting::~Selecting() = default;

std::uint8_t Selecting::classValue(std::uint32_t value) const {
  // The table has no entry above 0xDF: such a byte or unit is dropped.
  return value < kClassTableSize ? class_table_[value] : kDrop;
}

void Selecting::buildClassTable(const FinalEffects& options) {
  for (std::size_t i = 0; i <= 0xA0; ++i) {
    auto byte = static_cast<std::uint8_t>(i);
    bool digit = byte >= '0' && byte <= '9';
    if (options.decimalExtraction()) {
      class_table_[i] =
          (digit || byte == '-' || byte == '.') ? byte : kDrop;
    } else if (options.integerExtraction()) {
      class_table_[i] = (digit || byte == '-') ? byte : kDrop;
    } else if (options.dropControl()) {
      class_table_[i] = (byte >= 0x20 && byte <= 0x7E) ? byte : kDrop;
    } else {
      class_table_[i] = byte;
    }
  }
  if (options.omitHI()) {
    class_table_[0x48] = kDrop;  // H
    class_table_[0x49] = kDrop;  // I
  }
  for (std::size_t i = 0xA1; i <= 0xDF; ++i) {
    auto byte = static_cast<std::uint8_t>(i);
    if (options.replaceKatakana()) {
      class_table_[i] = options.katakanaChar();
    } else if (options.dropCombining()) {
      class_table_[i] = (byte == 0xDE || byte == 0xDF) ? kDrop : byte;
    } else {
      class_table_[i] = byte;
    }
  }
}

void Selecting::prepareRun(const FinalEffects& options,
                           const std::string& wide_name) {
  unit_count_ = -1;
  wide_name_ = wide_name;
  field_number_ = options.fieldNumber();
  output_name_.clear();
  quote_byte_ = options.quoteChar();
  quoted_separator_dropped_ = options.quotedSeparatorIgnored();
  separator_byte_ = options.separatorChar();
  completion_char_ = options.completionChar();
  line_counter_ = -1;
  start_index_ = 0;

  // Byte-order mark and size. Opened read-only, so read-only files are fine.
  bool probed = false;
  {
    platform::File file;
    std::uint8_t head[2] = {0, 0};
    std::size_t got = 0;
    std::int64_t bytes = 0;
    if (file.openRead(wide_name) == platform::Status::kOk &&
        file.read(head, sizeof head, &got) == platform::Status::kOk &&
        file.size(&bytes) == platform::Status::kOk &&
        file.close() == platform::Status::kOk &&
        static_cast<std::uint64_t>(bytes) / 2 <=
            platform::kLargestArray / 2) {
      start_index_ = (got == 2 && head[0] == 0xFF && head[1] == 0xFE) ? 1 : 0;
      unit_count_ = bytes / 2;
      probed = true;
    }
  }
  if (!probed) {
    // Also the answer of a 32-bit build to a file it cannot hold in memory.
    diagnostics::report("Reset() error-229: " + wide_name);
    start_index_ = 0;
  }

  // The engines stream the wide file through a small block and keep only
  // the narrow output, so no array of the file's size is reserved. An
  // unread file still has the count -1, which no array can have.
  if (unit_count_ < 0) {
    diagnostics::report("SetLength() error-222: " +
                        std::to_string(unit_count_));
  }

  table_ = std::make_unique<SurvivorsUTF16>();
  table_->load(options);
  (void)table_->survivors();
}

void Selecting::unreadFileStop(int exit_code) const {
  if (unit_count_ < 0) diagnostics::stop(exit_code);
}

bool Selecting::echoDataText() {
  // The note holds one line this run wrote: a table name, which no system
  // lets grow past 32 Ki characters (64 KiB in Shift_JIS), and a sentence.
  // Anything longer is not that note, and is not read into memory to find
  // out.
  constexpr std::size_t kLongestNote = std::size_t{128} << 10;
  const std::string missing =
      std::string("Reset() error-216: ") + kDataNoteFileName;
  platform::File file;
  // Pelmora wrote data.txt itself: a link in its place would show another
  // file's content as this run's note.
  if (file.openReadNoLink(kDataNoteFileName) != platform::Status::kOk) {
    diagnostics::report(missing);
    return false;
  }
  std::string text;
  char block[4096];
  for (;;) {
    std::size_t got = 0;
    if (file.read(block, sizeof block, &got) != platform::Status::kOk ||
        text.size() + got > kLongestNote) {
      diagnostics::report(missing);
      return false;
    }
    text.append(block, got);
    if (got < sizeof block) break;
  }
  (void)file.close();
  // Every line, the last one too, leaves with CR LF, whatever ended it here.
  std::string shown;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    shown.append(text, at, end - at);
    shown += "\r\n";
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
        text[end + 1] == '\n') {
      ++end;
    }
    at = end + 1;
  }
  if (platform::writeStandardOutput(shown.data(), shown.size()) !=
      platform::Status::kOk) {
    diagnostics::report("Write() error-242: standard output");
    diagnostics::stop(1);
  }
  return true;
}

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
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow)
                                             std::uint8_t[Selecting::kCopyBlock]);
}

}  // namespace

void Selecting::narrowIsNotWideStop(const std::string& narrow_name) const {
  platform::FileIdentity narrow;
  platform::FileIdentity wide;
  if (ok(platform::fileIdentity(narrow_name, &narrow)) &&
      ok(platform::fileIdentity(wide_name_, &wide)) && narrow == wide) {
    diagnostics::report("Rewrite() error-243: " + narrow_name);
    diagnostics::stop(1);
  }
}

void Selecting::holdTemporaryOrStop(bool refresh, bool routed,
                                    const std::string& narrow_name) {
  if (!ok(temporary_.openHeld(kTemporaryFileName))) {
    if (refresh) {
      diagnostics::report("Reset() error-193: " + wide_name_);
    } else {
      diagnostics::report(std::string("Rewrite() error-215: ") +
                          kTemporaryFileName);
      diagnostics::report("Reset() error-221: " + narrow_name);
    }
    diagnostics::stop(1);
  }
  temporary_is_users_ = temporaryIsWide();
  if (routed && temporary_is_users_) {
    diagnostics::report(std::string("Rewrite() error-243: ") +
                        kTemporaryFileName);
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
      (void)temporary_.removeHeld(kTemporaryFileName);
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
  const bool copied = temporary_.isOpen() && block != nullptr &&
                      ok(temporary_.rewind(false)) &&
                      ok(target.create(destination)) &&
                      copyRest(&temporary_, &target, block.get(), &total) &&
                      ok(target.close());
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
    (void)temporary_.removeHeld(kTemporaryFileName);
  }
  (void)temporary_.close();
  temporary_is_users_ = false;
}
