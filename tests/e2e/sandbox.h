// A fresh folder per case holding bin/pelmora, a copy of the program under
// test, and bin/pelmora-check, a copy of the one built beside it, so their
// fixed table place is <sandbox>/share/pelmora and nothing installed can
// change a result; kept when PELMORA_KEEP_SANDBOX is set.
//
// PELMORA_E2E_PROGRAM names another program to copy, PELMORA_E2E_LAUNCHER
// what starts it: with wine and pelmora.exe every case runs against the
// Windows program in WINEPREFIX (platform_expectations.h says what differs).
// Its fixed place, C:\Quorvelin, is one folder for every case, so each run
// holds a lock on it (shared while it holds what the run wants, exclusive
// while it is changed). The prefix's own PATH must be empty, so the program's
// Path search sees only what a case sets (make test-e2e-win32 clears it).
#ifndef PELMORA_TESTS_E2E_SANDBOX_H_
#define PELMORA_TESTS_E2E_SANDBOX_H_

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "err_files.h"
#include "platform_expectations.h"
#include "process.h"
#include "wide_text.h"

namespace e2e {

using harness::parseErrFileName;

/// How one run ended (-1 arrives as 255), what it wrote and left behind.
struct RunResult : harness::ChildEnd {
  /// Every regular file and folder left, by path relative to the sandbox
  /// ("/" between parts), bin/ excluded.
  std::map<std::string, std::string> files;
  std::set<std::string> folders;

  std::set<std::string> fileNames() const;
  bool has(const std::string& name) const { return files.count(name) != 0; }
  /// The content of a file left behind; empty when it is missing.
  std::string file(const std::string& name) const;
  /// The err files in the sandbox itself and their contents, by serial.
  std::vector<std::string> errFileNames() const;
  std::vector<std::string> errMessages() const;
  /// One line for failure messages: exit, outputs, files, err messages.
  std::string describe() const;
};

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& path() const { return path_; }
  /// <sandbox>/bin/pelmora (or pelmora.exe).
  std::string programPath() const;
  /// <sandbox>/bin/pelmora-check (or pelmora-check.exe).
  std::string checkProgramPath() const;
  /// How the program writes the absolute name of a sandbox file.
  std::string hostPath(const std::string& name) const;

  /// Sandbox files are named as the program sees them (code page 932
  /// bytes, "/" between parts); under Wine the disk has the UTF-8 name
  /// Windows shows as that. write() creates the folders it needs.
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  void makeFolder(const std::string& name) const;
  /// Removes a file or a whole folder.
  void remove(const std::string& name);

  /// Puts the table where the program looks first (C:\Quorvelin, filled for
  /// each run, for pelmora.exe); remove(fixedTableName()) empties it again.
  void placeFixedTable(const std::string& bytes);
  /// The name under which RunResult lists that place's table.
  static std::string fixedTableName();
  /// How the program names that place in its messages.
  std::string fixedTableText() const;
  /// A file of the project's data/ folder.
  static std::string dataFile(const std::string& name);
  /// The conversion table the build derived with the program itself.
  static const std::string& derivedTable();

  /// A run's environment holds LC_ALL=C, TZ when the test has it, and no
  /// PATH or Path; under Wine what wine needs instead (the prefix, code page
  /// 932 through LC_ALL=ja_JP.UTF-8, HOME, PATH), values passed as UTF-8.
  void setVariable(const std::string& name, const std::string& value);
  void unsetVariable(const std::string& name);
  /// A run is killed after this long; 60 seconds unless set.
  void setTimeLimit(int seconds) { time_limit_seconds_ = seconds; }
  /// Runs the program as nobody when the tests run as root, so that file
  /// permissions bite; false when the platform cannot make them bite.
  bool runUnprivileged();
  /// Limits the address space of the run, so that memory runs out early.
  void setMemoryLimit(long bytes) { setup_.memoryLimit = bytes; }
  /// Off: run() reads no file left (for files of hundreds of megabytes).
  void setCollectFiles(bool collect) { collect_files_ = collect; }
  /// Standard output goes to this file instead of RunResult ("/dev/full"
  /// makes every write fail; empty: captured again).
  void setStandardOutputFile(const std::string& path) {
    setup_.standardOutputFile = path;
  }
  /// Standard output is a pipe nobody reads, as when the reader of a shell
  /// pipeline has gone: every write fails.
  void setStandardOutputClosed(bool closed) {
    setup_.standardOutputClosed = closed;
  }

  /// These standard descriptors (0, 1, 2) are closed when the run starts,
  /// as a scheduler or a shell's 2>&- starts a program.
  void setClosedDescriptors(std::vector<int> descriptors) {
    setup_.closedDescriptors = std::move(descriptors);
  }

  /// Arguments are raw bytes, empty ones too; standard input is /dev/null.
  /// `variables` are set for this run alone, over the sandbox's own.
  RunResult run(const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& variables = {}) const;
  /// The same with pelmora-check.
  RunResult runCheck(const std::vector<std::string>& arguments) const;
  /// The files the sandbox holds now, listed as RunResult::files lists them
  /// after a run.
  std::map<std::string, std::string> files() const;
  /// Runs a program of the platform in the sandbox with the run's
  /// environment: {"attrib", "+r", "w.txt"} runs wine attrib +r w.txt under
  /// Wine; elsewhere the command names an absolute path.
  RunResult runTool(const std::vector<std::string>& command) const;

 private:
  RunResult start(const std::string& program,
                  std::vector<std::string> arguments, bool holdFixedPlace,
                  const std::map<std::string, std::string>& variables) const;
  std::string diskName(const std::string& name) const;
  void collectFiles(std::map<std::string, std::string>* files,
                    std::set<std::string>* folders) const;

  std::string path_;
  std::optional<std::string> fixed_table_;
  std::map<std::string, std::string> environment_;
  int time_limit_seconds_ = 60;
  bool collect_files_ = true;
  harness::ChildSetup setup_;  // what start() gives every run
};

using wide_text::utf16le;

}  // namespace e2e

#endif  // PELMORA_TESTS_E2E_SANDBOX_H_
