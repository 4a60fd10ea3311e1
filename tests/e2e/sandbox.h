// The end-to-end sandbox: a fresh folder, program copy and clean run per case.
// It keeps everything the run left behind for the case to look at.
//
// Typical use:
//
//   e2e::Sandbox box;
//   box.write("wide.txt", e2e::utf16le(u"a,b\n"));
//   box.placeFixedTable(tableBytes);
//   e2e::RunResult run = box.run({"-j2", "wide.txt"});
//   EXPECT_EQ(run.exitCode, 0);
//   EXPECT_EQ(run.file("pelmora.txt"), "b\r\n");
//   EXPECT_EQ(run.errMessages(), ...);
//
// The folder is <temp>/pelmora-e2e-XXXXXX and holds bin/pelmora, a copy of
// the binary under test, so its fixed table place is <sandbox>/share/pelmora
// and nothing installed on the machine can change a result. The folder is
// deleted when the Sandbox goes away, unless PELMORA_KEEP_SANDBOX is set
// (then its path is printed on standard error).
//
// The program under test is the Linux program the build made, or the one
// PELMORA_E2E_PROGRAM names, started through PELMORA_E2E_LAUNCHER when that
// is set: PELMORA_E2E_LAUNCHER=wine PELMORA_E2E_PROGRAM=.../pelmora.exe runs
// every case against the Windows program (bin/pelmora.exe) in the Wine
// prefix WINEPREFIX. platform_expectations.h says what differs there. The
// Windows program's fixed place, C:\Quorvelin, is one folder for every case
// in that prefix: the harness holds it around each run (a lock shared by
// runs that want the same content there, exclusive for a run that changes
// it), so cases run side by side never see each other's table. The
// prefix's own system PATH must be empty, so that the program's Path search
// sees only what a case sets (make test-e2e-win32 clears it).
#ifndef PELMORA_TESTS_E2E_SANDBOX_H_
#define PELMORA_TESTS_E2E_SANDBOX_H_

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "err_files.h"
#include "platform_expectations.h"
#include "process.h"
#include "wide_text.h"

namespace e2e {

using harness::parseErrFileName;

/// What one run of the program gave: how it ended and what it wrote (an
/// exit code of -1 arrives as 255), and what it left behind.
struct RunResult : harness::ChildEnd {
  /// Every regular file left in the sandbox after the run, by path relative
  /// to the sandbox ("/" between parts), bin/ excluded.
  std::map<std::string, std::string> files;
  /// Every folder left in the sandbox (relative paths), bin/ excluded.
  std::set<std::string> folders;

  /// The names of all files left (keys of `files`).
  std::set<std::string> fileNames() const;
  bool has(const std::string& name) const;
  /// The content of a file left behind; empty when it is missing.
  std::string file(const std::string& name) const;
  /// Names of the err files in the sandbox itself, ordered by serial.
  std::vector<std::string> errFileNames() const;
  /// Contents of those err files, ordered by serial.
  std::vector<std::string> errMessages() const;
  /// A one-line summary for failure messages: exit code, output sizes,
  /// file names and err messages.
  std::string describe() const;
};

/// One fresh sandbox folder with its own copy of the program.
class Sandbox {
 public:
  /// Creates the folder and copies the binary; a failure aborts the test
  /// binary with a message, since no case can run without them.
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  /// The absolute path of the sandbox folder.
  const std::string& path() const { return path_; }
  /// The absolute path of the program copy, <sandbox>/bin/pelmora (or
  /// pelmora.exe).
  std::string programPath() const;
  /// How the program writes the absolute name of a file of the sandbox
  /// (relative name, "/" between parts): a Path entry, say.
  std::string hostPath(const std::string& name) const;

  /// Names of files in the sandbox are given as the program sees them
  /// (code page 932 bytes); under Wine the file on the disk has the UTF-8
  /// name Windows shows as that.
  /// Writes bytes to a file relative to the sandbox, creating folders.
  void write(const std::string& name, const std::string& bytes) const;
  /// Reads a file relative to the sandbox; *exists tells whether it was.
  std::string read(const std::string& name, bool* exists = nullptr) const;
  bool exists(const std::string& name) const;
  /// Makes a folder (and its parents) relative to the sandbox.
  void makeFolder(const std::string& name) const;
  /// Removes a file or folder (recursively) relative to the sandbox.
  void remove(const std::string& name);

  /// Puts the conversion table where the program looks first:
  /// <sandbox>/share/pelmora/UTF16~MS932.bin (for the Windows program
  /// C:\Quorvelin\UTF16~MS932.bin, filled for each run). remove() of
  /// fixedTableName() empties the place again.
  void placeFixedTable(const std::string& bytes);
  /// The name under which RunResult lists that place's table.
  static std::string fixedTableName();
  /// How the program names that place in its messages.
  std::string fixedTableText() const;
  /// Reads a file from the project's data/ or examples/ folder.
  static std::string dataFile(const std::string& name);
  static std::string exampleFile(const std::string& name);
  /// The conversion table the build derived with the program itself.
  static const std::string& derivedTable();

  /// The run's environment starts minimal: LC_ALL=C, TZ copied from the
  /// test's own environment when set, and nothing else (no PATH, no Path).
  /// Under Wine it carries what wine needs instead of LC_ALL=C: the prefix
  /// variables, LANG and LC_ALL=ja_JP.UTF-8 (code page 932), HOME and the
  /// test's PATH; values are passed as UTF-8 there.
  /// An empty value is set as empty; unsetVariable removes a variable.
  void setVariable(const std::string& name, const std::string& value);
  void unsetVariable(const std::string& name);
  /// Kills a run that takes longer than this; the default is 60 seconds.
  void setTimeLimit(int seconds) { time_limit_seconds_ = seconds; }
  /// Runs the program as an ordinary user (nobody) when the tests run as
  /// root, so that file permissions bite; opens the sandbox folder to that
  /// user. Returns false when neither root nor an ordinary user is running
  /// the tests in a way that makes permissions enforceable.
  bool runUnprivileged();
  /// Limits the size of every file the run writes: a write past it fails
  /// (as on a full disk) instead of raising a signal.
  void setFileSizeLimit(long bytes) { setup_.fileSizeLimit = bytes; }
  /// Limits the address space of the run, so that memory runs out early.
  void setMemoryLimit(long bytes) { setup_.memoryLimit = bytes; }
  /// Kills every run with SIGKILL this many microseconds after its start
  /// (0: never), as a power cut or a killed batch job would end it.
  void setKillAfter(long microseconds) { kill_after_us_ = microseconds; }
  /// Whether run() reads every file left in the folder into its result
  /// (the default); cases with files of hundreds of megabytes read only
  /// what they check.
  void setCollectFiles(bool collect) { collect_files_ = collect; }
  /// Sends the run's standard output to this file (absolute or relative to
  /// the sandbox; opened for writing, created when missing: "/dev/full"
  /// makes every write fail) instead of
  /// capturing it; RunResult::standardOutput stays empty. An empty path
  /// captures again.
  void setStandardOutputFile(const std::string& path) {
    setup_.standardOutputFile = path;
  }
  /// Hands the run a pipe as standard output whose read end is closed
  /// before the program starts, as when the reader of a shell pipeline has
  /// gone: every write fails (EPIPE, or SIGPIPE where not ignored).
  void setStandardOutputClosed(bool closed) {
    setup_.standardOutputClosed = closed;
  }

  /// Runs the program with the sandbox as the current folder, the given
  /// arguments (raw bytes: empty strings and bytes >= 0x80 are fine, NUL is
  /// not possible), standard input from /dev/null, standard output captured
  /// unless set otherwise above.
  RunResult run(const std::vector<std::string>& arguments) const;
  /// Runs a program of the platform in the sandbox with the run's
  /// environment: under Wine through the launcher ({"attrib", "+r", "w.txt"}
  /// runs wine attrib +r w.txt), else the command itself (an absolute path).
  RunResult runTool(const std::vector<std::string>& command) const;

 private:
  RunResult start(const std::string& program,
                  std::vector<std::string> arguments,
                  bool holdFixedPlace) const;
  /// The name of a sandbox file on the disk (see write()).
  std::string diskName(const std::string& name) const;

  std::string path_;
  std::optional<std::string> fixed_table_;
  std::map<std::string, std::string> environment_;
  int time_limit_seconds_ = 60;
  long kill_after_us_ = 0;
  bool collect_files_ = true;
  harness::ChildSetup setup_;  // what start() gives every run
};

using wide_text::utf16le;

}  // namespace e2e

#endif  // PELMORA_TESTS_E2E_SANDBOX_H_
