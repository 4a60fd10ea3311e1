// The -M note: data.txt, held by a run from its emptying at the start to
// its echo at the end, the place of the table written into it by the table
// search, and shown on standard output.
#include "tables/data_note.h"

#include <string>

#include "diagnostics/error_text.h"
#include "diagnostics/messages_text.h"
#include "platform/platform.h"
#include "platform/text_file.h"

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
  // Every line, the last one too, leaves with CR LF, whatever ended it here.
  std::string shown;
  const platform::TextRules rules{
      kLongestNote, platform::TextRules::AtLimit::kFail,
      kLongestNote, kLongestNote,
      false,        true};
  if (platform::readTextLines(file, rules,
                              [&shown](std::string& line, std::size_t) {
                                shown += line;
                                shown += "\r\n";
                                return true;
                              }) != platform::TextRead::kRead) {
    diagnostics::reportUnfinished(missing);
    return false;
  }
  (void)own.close();
  if (platform::writeStandardOutput(shown.data(), shown.size()) !=
      platform::Status::kOk) {
    diagnostics::report("Write() error-242: standard output");
    diagnostics::stop(1);
  }
  return true;
}
