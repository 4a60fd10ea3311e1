// The -M step: data.txt, the note the table search wrote, echoed to
// standard output.
#include <string>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "select/select_utf16.h"
#include "tables/survivor_utf16.h"

void Selecting::holdDataNote(const std::string& wide_name) {
  platform::FileIdentity note;
  platform::FileIdentity wide;
  data_note_is_wide_ =
      !wide_name.empty() &&
      platform::fileIdentity(kDataNoteFileName, &note) ==
          platform::Status::kOk &&
      platform::fileIdentity(wide_name, &wide) == platform::Status::kOk &&
      note == wide;
  if (data_note_is_wide_) return;
  // Held before it is emptied: another run with -M waits here until this
  // one has shown its note.
  if (data_note_.openHeld(kDataNoteFileName, false) == platform::Status::kOk) {
    if (data_note_.rewind(true) == platform::Status::kOk) return;
    (void)data_note_.close();
  }
  // One that cannot be held (a read-only file) goes, as it always went, so
  // that its old note is never shown; a link or a folder stays.
  platform::File stale;
  if (stale.openReadNoLink(kDataNoteFileName) == platform::Status::kOk) {
    (void)stale.close();
    (void)platform::removeFile(kDataNoteFileName);
  }
}

void Selecting::releaseDataNote() {
  if (!data_note_.isOpen()) return;
  std::int64_t bytes = 0;
  if (data_note_.size(&bytes) == platform::Status::kOk && bytes == 0) {
    (void)data_note_.removeHeld(kDataNoteFileName);
  }
  (void)data_note_.close();
}

bool Selecting::echoDataText() {
  // The note holds one line this run wrote: a table name, which no system
  // lets grow past 32 Ki characters (64 KiB in Shift_JIS), and a sentence.
  // Anything longer is not that note, and is not read into memory to find
  // out.
  constexpr std::size_t kLongestNote = std::size_t{128} << 10;
  const std::string missing =
      std::string("Reset() error-216: ") + kDataNoteFileName;
  if (data_note_is_wide_) {
    diagnostics::reportUnfinished(missing);
    return false;
  }
  platform::File own;
  platform::File* file = &data_note_;
  // Pelmora wrote data.txt itself: a link in its place would show another
  // file's content as this run's note.
  std::int64_t held_bytes = 0;
  // A held note that is still empty was never written: there is none.
  const bool opened =
      data_note_.isOpen()
          ? data_note_.size(&held_bytes) == platform::Status::kOk &&
                held_bytes > 0 &&
                data_note_.rewind(false) == platform::Status::kOk
          : own.openReadNoLink(kDataNoteFileName) == platform::Status::kOk;
  if (!data_note_.isOpen()) file = &own;
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
