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
  platform::File file;
  if (file.openRead(kDataNoteFileName) != platform::Status::kOk) {
    diagnostics::report(std::string("Reset() error-216: ") +
                        kDataNoteFileName);
    return false;
  }
  std::string text;
  char block[4096];
  for (;;) {
    std::size_t got = 0;
    if (file.read(block, sizeof block, &got) != platform::Status::kOk) {
      diagnostics::report(std::string("Reset() error-216: ") +
                          kDataNoteFileName);
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
  (void)platform::writeStandardOutput(shown.data(), shown.size());
  return true;
}

std::int64_t Selecting::copyThrough(const std::string& from,
                                    const std::string& to, bool keep,
                                    const std::string& failure_message) {
  if (from == to) {
    // Copying a file onto itself would truncate it before the first read:
    // the bytes are already where they should be, so nothing is done.
    std::int64_t bytes = 0;
    (void)platform::fileSize(from, &bytes);
    return bytes;
  }
  // The block comes first, so that no memory leaves the target truncated.
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow)
                                             std::uint8_t[kCopyBlock]);
  platform::File source;
  platform::File target;
  bool ok = block != nullptr &&
            source.openRead(from) == platform::Status::kOk &&
            target.create(to) == platform::Status::kOk;
  std::int64_t total = 0;
  while (ok) {
    std::size_t got = 0;
    if (source.read(block.get(), kCopyBlock, &got) !=
        platform::Status::kOk) {
      ok = false;
      break;
    }
    if (got == 0) break;
    std::size_t written = 0;
    // A short write (a full disk) is a failure like any other: the copy is
    // incomplete, so its source must stay.
    if (target.write(block.get(), got, &written) != platform::Status::kOk ||
        written != got) {
      total += static_cast<std::int64_t>(written);
      ok = false;
      break;
    }
    total += static_cast<std::int64_t>(written);
  }
  if (target.isOpen() && target.close() != platform::Status::kOk) ok = false;
  if (source.isOpen() && source.close() != platform::Status::kOk) ok = false;
  if (ok && !keep && platform::removeFile(from) != platform::Status::kOk) {
    ok = false;
  }
  if (!ok) {
    diagnostics::report(failure_message);
    diagnostics::stop(1);
  }
  return total;
}

std::int64_t Selecting::copyToTemporary(const std::string& source, bool keep) {
  return copyThrough(source, kTemporaryFileName, keep,
                     "Reset() error-193: " + source);
}

std::int64_t Selecting::copyFromTemporary(const std::string& destination,
                                          bool keep) {
  return copyThrough(kTemporaryFileName, destination, keep,
                     "Reset() error-221: " + destination);
}

void Selecting::temporaryRouteStop(const std::string& destination) const {
  diagnostics::report("Reset() error-221: " + destination);
  diagnostics::stop(1);
}
