// The unit tests' shared helpers: scratch folders, a fixed clock, and what a
// test asks of the system itself, alike on every system.
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

/// A fresh folder made the current one for its lifetime, deleted when the
/// test ends (unless PELMORA_KEEP_SANDBOX is set). It pins the clock to
/// "12/07/26 23:14:25" and resets the serial number, so err file names are
/// the same on every run. A test's n-th scratch folder is also the n-th of
/// a child process running the test again (a death test's child, a
/// ChildProcess), so the child leaves its files where the test looks.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

  void write(const std::string& name, const std::string& bytes) const;
  /// A whole file; *exists tells whether it was there.
  std::string read(const std::string& name, bool* exists = nullptr) const;
  bool exists(const std::string& name) const;
  std::set<std::string> files() const;  // every name in the folder
  /// The contents of every err file, in the order of their serial numbers.
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

/// Waits up to a minute for a file to appear; false when it did not.
bool waitForFile(const std::string& name);

/// This test program again, in the current folder, running only the test
/// that started it with childRole() set to `role`: the test plays that role
/// at its start (in the test's scratch folders) and ends with endChild().
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& role);
  ~ChildProcess();  // waits, when wait() was not called
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return started_; }
  int wait();  // the exit code, or -1000 when it could not be had

 private:
  bool started_ = false;
  bool waited_ = false;
  int exit_code_ = -1000;
  std::intptr_t handle_ = -1;  // process id or handle
};

/// The role a ChildProcess was started for; empty in the runner's process.
std::string childRole();
[[noreturn]] void endChild(bool ok);  // exit code 0 when `ok`, 1 otherwise

/// Seen alike by the C library and by the platform layer.
void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);

/// Removes an environment variable until the end of the scope, which then
/// gives it back its old value or none.
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
std::string programPath();  // the full name of this test program

/// The system's own converter between UTF-16LE and code page 932 (the C
/// library's on POSIX, the code page functions on Windows), for checking
/// the shipped table against something the project did not write.
class SystemCp932 {
 public:
  SystemCp932();
  ~SystemCp932();
  SystemCp932(const SystemCp932&) = delete;
  SystemCp932& operator=(const SystemCp932&) = delete;

  bool ok() const;  // false when the system has no such converter
  /// UTF-16LE to code page 932 and back; false when the converter rejects
  /// the input, leaves some of it or (encoding) puts a substitute in.
  bool encode(const std::string& wide, std::string* narrow);
  bool decode(const std::string& narrow, std::string* wide);

 private:
  void* encoder_;
  void* decoder_;
};

using wide_text::utf16le;

}  // namespace testing_support

#endif  // PELMORA_TESTS_UNIT_TEST_SUPPORT_H_
