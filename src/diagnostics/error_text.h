// ErrorTexts: the error report, one numbered message line per err file.
// Every failure of the program is reported here; stop() is the one place
// where a component ends the run.
#ifndef PELMORA_DIAGNOSTICS_ERROR_TEXT_H_
#define PELMORA_DIAGNOSTICS_ERROR_TEXT_H_

#include <string>
#include <vector>

/// The most err file names one report tries. A name that exists already
/// (left by an earlier run whose numbers the counter has forgotten) takes
/// the next serial number; past this many, the folder is full of old
/// reports and the message goes to standard error rather than wait longer.
inline constexpr int kMostErrFileAttempts = 100;

/// Writes one message line into a new err file named by TimeNames. The file
/// is always one this report creates: an older err file of the same name is
/// never overwritten.
/// Never stops the program and never prints, except that a message that
/// cannot be written into an err file of its own goes to standard error.
class ErrorTexts {
 public:
  ErrorTexts() = default;
  ErrorTexts(const ErrorTexts&) = delete;
  ErrorTexts& operator=(const ErrorTexts&) = delete;

  void report(const std::string& prefix, const std::string& extension,
              const std::string& message);

  /// The err file name the last report wrote (or tried last).
  const std::string& fileName() const { return file_name_; }

 private:
  std::string file_name_;
};

namespace diagnostics {

/// The calling pattern of the whole program: one ErrorTexts with the stem
/// "err" and the extension ".txt", one message, freed at once.
void report(const std::string& message);

/// Reports a failure after which the run goes on but the output it was asked
/// for is missing or partial (a narrow file that could not be written, a
/// derivation that failed, a note that cannot be shown, an option that was
/// not understood): the run then ends with exit code 1, not 0, so that a
/// script can rely on the exit code alone.
void reportUnfinished(const std::string& message);

/// The exit code of a run that got to its end: 1 once reportUnfinished() was
/// called in this process, else 0.
int finishedExitCode();

/// Sends every report of report() and reportUnfinished() to the end of
/// *sink instead of an err file: a run that is only looked at
/// (pelmora-check) shows what the real one would report without writing an
/// err file, serial.txt or error.txt, and a test reads the reports back from
/// memory. nullptr sends them to err files again.
void collectReports(std::vector<std::string>* sink);

/// Ends the run with an exit code after a fatal failure (already reported).
/// The one place where components stop the program.
[[noreturn]] void stop(int exit_code);

/// Registers what a stop must let go as the end of a finished run would
/// (a narrow file this run created and never wrote, a data.txt it emptied
/// and wrote no note into): stop() calls release(context) for every one
/// still registered, the last registered first, before the process ends.
/// At most kMostStopReleases at once; false when no room is left.
inline constexpr int kMostStopReleases = 4;
bool releaseAtStop(void (*release)(void*), void* context);
/// Forgets the registration of `context` (its owner let go by itself).
void forgetAtStop(void* context);

/// Sets a function that stop() calls before it ends the process. The
/// program itself sets none; the fuzz harnesses set one that throws, so
/// that an orderly stop ends one input instead of the whole fuzzing run.
void setStopHook(void (*hook)());

}  // namespace diagnostics

#endif  // PELMORA_DIAGNOSTICS_ERROR_TEXT_H_
