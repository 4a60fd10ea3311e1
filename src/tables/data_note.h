// DataNote: the -M note in data.txt, from its emptying to its echo.
#ifndef PELMORA_TABLES_DATA_NOTE_H_
#define PELMORA_TABLES_DATA_NOTE_H_

#include <string>

#include "platform/platform.h"

/// The note file of -M.
inline constexpr const char* kDataNoteFileName = "data.txt";

/// The -M note. data.txt is held by this run from hold() to release(), as
/// binary.tmp is, and emptied, so that the note it shows is the one this
/// run's table search writes, and runs with -M in one folder take their
/// turns.
class DataNote {
 public:
  DataNote() = default;
  ~DataNote();
  DataNote(const DataNote&) = delete;
  DataNote& operator=(const DataNote&) = delete;

  /// Takes data.txt and empties it. One that cannot be held (a link, a
  /// folder, or one another run holds beyond the wait) is left alone: the
  /// note and the echo then fail on it. A
  /// data.txt that is the wide file is the user's export: it is neither
  /// emptied nor written, and the echo reports it missing (216).
  void hold(const std::string& wide_name);
  /// Writes the note: into the held file, else into a data.txt of its own
  /// (a link in its place is never written through).
  void write(const std::string& text);
  /// Copies data.txt to standard output, each line ended by CR LF. False
  /// (after report 216, which makes the run end with 1) when there is no
  /// note to show; a failed write to standard output is reported (242) and
  /// stops the run with exit code 1.
  bool echo();
  /// Lets data.txt go; one this run emptied and wrote no note into is
  /// removed, as the stale note's removal always left no data.txt. A stop
  /// of the run (diagnostics::stop) lets it go the same way.
  void release();
  /// When the held data.txt is the file `narrow` (the user named data.txt
  /// as the narrow file), hands out the held open for the narrow output:
  /// the narrow text then replaces the note, is shown by echo(), and is
  /// never removed. nullptr otherwise.
  platform::File* lendAsOutput(const platform::FileIdentity& narrow);

 private:
  platform::File file_;
  /// data.txt is the wide file: no note is written into it.
  bool is_wide_ = false;
  /// data.txt is the narrow file: it holds the output, not a note.
  bool is_output_ = false;
  /// data.txt is held by another run beyond the wait: it is that run's.
  bool busy_ = false;
};

#endif  // PELMORA_TABLES_DATA_NOTE_H_
