// The unit tests' shared helpers: scratch folders, a fixed clock, the system.
// A scratch folder becomes the current folder for one test; file helpers,
// and the few things a test asks of the system itself (child processes,
// environment variables, standard output) are the same on every system.
#ifndef PELMORA_TESTS_UNIT_TEST_SUPPORT_H_
#define PELMORA_TESTS_UNIT_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform_expectations.h"
#include "wide_text.h"

namespace testing_support {

/// Creates a fresh folder under the system's temporary folder, makes it the
/// current folder, and on destruction goes back. The folder itself is
/// deleted when the test ends (unless the environment variable
/// PELMORA_KEEP_SANDBOX is set). It also pins the clock to
/// "12/07/26 23:14:25" and resets the process's serial number, so err file
/// names are the same on every run.
///
/// A test that runs in a process of its own as well (a death test where
/// the child runs the test again from its start, or a ChildProcess) gets
/// the same folders there: the n-th scratch folder of the test is the n-th
/// one of the process that started it, so the child sees, and leaves its
/// files in, the folders that the test looks at.
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

/// Plants failures in the file calls for the rest of the scope (see
/// platform::plantFaultsForTesting), and takes them away at its end.
class PlantedFaults {
 public:
  explicit PlantedFaults(const platform::PlantedFaults& faults) {
    platform::plantFaultsForTesting(faults);
  }
  ~PlantedFaults() { platform::plantFaultsForTesting({}); }
  PlantedFaults(const PlantedFaults&) = delete;
  PlantedFaults& operator=(const PlantedFaults&) = delete;
};

/// Sets the clock text that platform::localDateTimeText() returns.
void setClockText(const std::string& text);
/// Gives the real clock back.
void useRealClock();

/// Waits up to a minute for a file to appear; false when it did not.
bool waitForFile(const std::string& name);

/// Another process of this test program, started in the current folder,
/// that runs only the test that started it, with childRole() set to the
/// role given. The test recognises the role at its start, does that part
/// (it finds the test's scratch folders, see ScratchFolder) and ends the
/// process with endChild().
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& role);
  /// Waits for the process when wait() was not called.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return started_; }
  /// Waits for the process to end; its exit code, or -1000 when it could
  /// not be had.
  int wait();

 private:
  bool started_ = false;
  bool waited_ = false;
  int exit_code_ = -1000;
  std::intptr_t handle_ = -1;  // process id or handle
};

/// The role this process was started for by a ChildProcess; empty in the
/// test program that the test runner started.
std::string childRole();
/// Ends a child process: exit code 0 when `ok`, 1 otherwise.
[[noreturn]] void endChild(bool ok);

/// Sets an environment variable of this process, seen alike by the C
/// library and by the platform layer.
void setEnvironment(const std::string& name, const std::string& value);
/// Removes an environment variable of this process.
void unsetEnvironment(const std::string& name);

/// Removes an environment variable until the end of the scope, and then
/// gives it back its old value.
class EnvironmentWithout {
 public:
  explicit EnvironmentWithout(const std::string& name);
  ~EnvironmentWithout();
  EnvironmentWithout(const EnvironmentWithout&) = delete;
  EnvironmentWithout& operator=(const EnvironmentWithout&) = delete;

 private:
  std::string name_;
  bool was_set_ = false;
  std::string value_;
};

/// The bytes that work() writes to standard output (stream 1) or standard
/// error (stream 2), exactly as written.
std::string standardStreamOf(int stream, const std::function<void()>& work);

/// The full name of this test program.
std::string programPath();

/// The system's own converter between UTF-16LE and code page 932 (the C
/// library's on POSIX, the code page functions on Windows), for checking
/// the shipped table against something the project did not write.
class SystemCp932 {
 public:
  SystemCp932();
  ~SystemCp932();
  SystemCp932(const SystemCp932&) = delete;
  SystemCp932& operator=(const SystemCp932&) = delete;

  /// False when the system has no such converter.
  bool ok() const;
  /// UTF-16LE bytes to code page 932; false when the converter rejects the
  /// input, leaves some of it or puts a substitute in its place.
  bool encode(const std::string& wide, std::string* narrow);
  /// Code page 932 bytes to UTF-16LE; false when the converter rejects the
  /// input or leaves some of it.
  bool decode(const std::string& narrow, std::string* wide);

 private:
  void* encoder_;
  void* decoder_;
};

using wide_text::utf16le;

}  // namespace testing_support

#endif  // PELMORA_TESTS_UNIT_TEST_SUPPORT_H_
