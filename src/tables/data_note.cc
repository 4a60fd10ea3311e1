// The -M note: data.txt, held by a run from its emptying at the start to
// its echo at the end, the place of the table written into it by the table
// search, and shown on standard output.
#include "tables/data_note.h"

#include <string>

#include "diagnostics/error_text.h"
#include "diagnostics/messages_text.h"
#include "platform/platform.h"
#include "platform/text_file.h"

namespace {

void releaseNote(void* note) { static_cast<DataNote*>(note)->release(); }

enum class Shown { kShown, kUnreadable, kNotWritten };

// The narrow file in data.txt's place, shown as the note is shown (every
// line ended by CR LF, whatever ended it) but a block at a time: it may be
// any size.
Shown showWhole(platform::File* file) {
  constexpr std::size_t kBlock = std::size_t{64} << 10;
  std::string block(kBlock, '\0');
  std::string shown;
  bool after_cr = false;
  bool open_line = false;
  for (;;) {
    std::size_t got = 0;
    if (file->read(&block[0], kBlock, &got) != platform::Status::kOk) {
      return Shown::kUnreadable;
    }
    shown.clear();
    for (std::size_t i = 0; i < got; ++i) {
      const char byte = block[i];
      if (byte == '\n' && after_cr) {
        after_cr = false;
        continue;
      }
      after_cr = byte == '\r';
      if (byte == '\r' || byte == '\n') {
        shown += "\r\n";
        open_line = false;
      } else {
        shown += byte;
        open_line = true;
      }
    }
    if (got == 0 && open_line) shown += "\r\n";
    if (!shown.empty() &&
        platform::writeStandardOutput(shown.data(), shown.size()) !=
            platform::Status::kOk) {
      return Shown::kNotWritten;
    }
    if (got == 0) return Shown::kShown;
  }
}

}  // namespace

DataNote::~DataNote() { diagnostics::forgetAtStop(this); }

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
    if (file_.rewind(true) == platform::Status::kOk) {
      (void)diagnostics::releaseAtStop(releaseNote, this);
      return;
    }
    (void)file_.close();
  }
  // Not to be had: held by another run beyond the wait (its note is that
  // run's, neither removed nor written), or a file that cannot be held. One
  // that may be read but not written goes, as it always went, so that its
  // old note is never shown; anything else stays and gets no note.
  platform::File stale;
  if (stale.openReadNoLink(kDataNoteFileName) == platform::Status::kOk) {
    platform::File writable;
    if (writable.openReadWriteNoLink(kDataNoteFileName) ==
        platform::Status::kOk) {
      busy_ = true;
      return;
    }
    (void)stale.close();
    (void)platform::removeFile(kDataNoteFileName);
    return;
  }
  busy_ = platform::fileExists(kDataNoteFileName) ||
          platform::isLinkedName(kDataNoteFileName);
}

void DataNote::write(const std::string& text) {
  if (is_wide_ || busy_) return;  // the user's export keeps every byte
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
  diagnostics::forgetAtStop(this);
  if (!file_.isOpen()) return;
  std::int64_t bytes = 0;
  if (!is_output_ && file_.size(&bytes) == platform::Status::kOk &&
      bytes == 0) {
    (void)file_.removeHeld(kDataNoteFileName);
  }
  (void)file_.close();
}

platform::File* DataNote::lendAsOutput(const platform::FileIdentity& narrow) {
  platform::FileIdentity held;
  if (!file_.isOpen() || file_.identity(&held) != platform::Status::kOk ||
      held != narrow) {
    return nullptr;
  }
  is_output_ = true;
  return &file_;
}

bool DataNote::echo() {
  // The note holds one line this run wrote: a table name, which no system
  // lets grow past 32 Ki characters (64 KiB in Shift_JIS), and a sentence.
  // Anything longer is not that note, and is not read into memory to find
  // out.
  constexpr std::size_t kLongestNote = std::size_t{128} << 10;
  const std::string missing =
      std::string("Reset() error-216: ") + kDataNoteFileName;
  if (is_wide_ || busy_) {
    diagnostics::reportUnfinished(missing);
    return false;
  }
  platform::File own;
  platform::File* file = &file_;
  // Pelmora wrote data.txt itself: a link in its place would show another
  // file's content as this run's note.
  std::int64_t held_bytes = 0;
  // A held note that is still empty was never written: there is none. The
  // narrow file in its place is shown as it is, empty too.
  const bool opened =
      file_.isOpen()
          ? file_.size(&held_bytes) == platform::Status::kOk &&
                (held_bytes > 0 || is_output_) &&
                file_.rewind(false) == platform::Status::kOk
          : own.openReadNoLink(kDataNoteFileName) == platform::Status::kOk;
  if (!file_.isOpen()) file = &own;
  if (!opened) {
    diagnostics::reportUnfinished(missing);
    return false;
  }
  if (is_output_) {
    const Shown shown = showWhole(file);
    if (shown == Shown::kNotWritten) {
      diagnostics::report("Write() error-242: standard output");
      diagnostics::stop(1);
    }
    if (shown == Shown::kUnreadable) diagnostics::reportUnfinished(missing);
    return shown == Shown::kShown;
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
