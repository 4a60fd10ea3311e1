// The -M note: data.txt, held by a run from its emptying at the start to
// its echo at the end, the place of the table written into it by the table
// search, and shown on standard output.
#include "tables/data_note.h"

#include <string>

#include "diagnostics/error_text.h"
#include "diagnostics/messages_text.h"
#include "platform/platform.h"

void DataNote::hold(const std::string& wide_name) {
  platform::FileIdentity note;
  platform::FileIdentity wide;
  is_wide_ =
      !wide_name.empty() &&
      platform::fileIdentity(kDataNoteFileName, &note) ==
          platform::Status::kOk &&
      platform::fileIdentity(wide_name, &wide) == platform::Status::kOk &&
      note == wide;
  if (is_wide_) return;
  // Held before it is emptied: another run with -M waits here until this
  // one has shown its note.
  if (file_.openHeld(kDataNoteFileName, false) == platform::Status::kOk) {
    if (file_.rewind(true) == platform::Status::kOk) return;
    (void)file_.close();
  }
  // One that cannot be held (a read-only file) goes, as it always went, so
  // that its old note is never shown; a link or a folder stays.
  platform::File stale;
  if (stale.openReadNoLink(kDataNoteFileName) == platform::Status::kOk) {
    (void)stale.close();
    (void)platform::removeFile(kDataNoteFileName);
  }
}

void DataNote::write(const std::string& text) {
  if (is_wide_) return;  // the user's export keeps every byte
  if (file_.isOpen()) {
    std::size_t written = 0;
    (void)(file_.rewind(true) == platform::Status::kOk &&
           file_.write(text.data(), text.size(), &written) ==
               platform::Status::kOk);
    return;
  }
  MessagesTexts writer;
  (void)writer.writeText(kDataNoteFileName, text);
}

void DataNote::release() {
  if (!file_.isOpen()) return;
  std::int64_t bytes = 0;
  if (file_.size(&bytes) == platform::Status::kOk && bytes == 0) {
    (void)file_.removeHeld(kDataNoteFileName);
  }
  (void)file_.close();
}

bool DataNote::echo() {
  // The note holds one line this run wrote: a table name, which no system
  // lets grow past 32 Ki characters (64 KiB in Shift_JIS), and a sentence.
  // Anything longer is not that note, and is not read into memory to find
  // out.
  constexpr std::size_t kLongestNote = std::size_t{128} << 10;
  const std::string missing =
      std::string("Reset() error-216: ") + kDataNoteFileName;
  if (is_wide_) {
    diagnostics::reportUnfinished(missing);
    return false;
  }
  platform::File own;
  platform::File* file = &file_;
  // Pelmora wrote data.txt itself: a link in its place would show another
  // file's content as this run's note.
  std::int64_t held_bytes = 0;
  // A held note that is still empty was never written: there is none.
  const bool opened =
      file_.isOpen()
          ? file_.size(&held_bytes) == platform::Status::kOk &&
                held_bytes > 0 && file_.rewind(false) == platform::Status::kOk
          : own.openReadNoLink(kDataNoteFileName) == platform::Status::kOk;
  if (!file_.isOpen()) file = &own;
  if (!opened) {
    diagnostics::reportUnfinished(missing);
    return false;
  }
  std::string text;
  char block[4096];
  for (;;) {
    std::size_t got = 0;
    if (file->read(block, sizeof block, &got) != platform::Status::kOk ||
        text.size() + got > kLongestNote) {
      diagnostics::reportUnfinished(missing);
      return false;
    }
    text.append(block, got);
    if (got < sizeof block) break;
  }
  (void)own.close();
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
