// A child process with its output collected, for the end-to-end sandbox's
// runs of the program and of tools on POSIX. Windows starts its processes
// its own way (tests/unit/test_support_system.cc).
#ifndef PELMORA_TESTS_COMMON_PROCESS_H_
#define PELMORA_TESTS_COMMON_PROCESS_H_

#if !defined(_WIN32)

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace harness {

/// What the child gets besides its work. Standard input is /dev/null;
/// standard output and error are collected unless said otherwise.
struct ChildSetup {
  std::string folder;  // the child's current folder; empty: the parent's
  bool quiet = false;  // output and error to /dev/null
  std::string standardOutputFile;     // created when missing
  bool standardOutputClosed = false;  // a pipe nobody reads: writes fail
  long memoryLimit = -1;              // on the address space; negative: none
  bool asNobody = false;              // the parent must be root
  /// The child is killed, and timed out, when it has not ended by then.
  std::chrono::steady_clock::duration timeLimit = std::chrono::minutes(10);
  /// Standard descriptors (0, 1, 2) closed when the child starts, as a
  /// shell's 2>&- leaves them.
  std::vector<int> closedDescriptors;
};

/// How the child ended and what it wrote.
struct ChildEnd {
  /// As a shell sees it; 128 + the signal number when a signal ended it.
  int exitCode = -1;
  int signal = 0;
  bool timedOut = false;
  std::string standardOutput;
  std::string standardError;
};

/// Runs a program (argv[0] is its path) with exactly this environment.
ChildEnd runProgram(std::vector<std::string> argv,
                    const std::map<std::string, std::string>& environment,
                    const ChildSetup& setup);

}  // namespace harness

#endif  // !_WIN32
#endif  // PELMORA_TESTS_COMMON_PROCESS_H_
