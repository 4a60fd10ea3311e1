// Shared helpers for the unit tests: a scratch folder that becomes the
// current folder for one test, file helpers, and a fixed clock.
#ifndef PELMORA_TESTS_UNIT_TEST_SUPPORT_H_
#define PELMORA_TESTS_UNIT_TEST_SUPPORT_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "wide_text.h"

namespace testing_support {

/// Creates a fresh folder under the system's temporary folder, makes it the
/// current folder, and on destruction goes back and deletes it (unless the
/// environment variable PELMORA_KEEP_SANDBOX is set). It also pins the clock
/// to "12/07/26 23:14:25" and resets the process's serial number, so err file
/// names are the same on every run.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

  /// Writes bytes to a file in the scratch folder (relative name).
  void write(const std::string& name, const std::string& bytes) const;
  /// Reads a whole file; *exists tells whether it was there.
  std::string read(const std::string& name, bool* exists = nullptr) const;
  bool exists(const std::string& name) const;
  /// The names of every file in the scratch folder, sorted.
  std::set<std::string> files() const;
  /// The contents of every err file (names beginning "err" and ending
  /// ".txt"), ordered by their serial number.
  std::vector<std::string> errMessages() const;

 private:
  std::string previous_;
  std::string path_;
};

/// Sets the clock text that platform::localDateTimeText() returns.
void setClockText(const std::string& text);
/// Gives the real clock back.
void useRealClock();

using wide_text::utf16le;

}  // namespace testing_support

#endif  // PELMORA_TESTS_UNIT_TEST_SUPPORT_H_
