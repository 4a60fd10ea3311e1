// The one table of what the tests expect differently on Linux and Windows,
// each entry with its reason; a test that needs what its platform cannot
// give is skipped with that reason, so no test is written twice. The unit
// tests read the table of the system they were built for (thisBuild(), a
// Windows program runs under Wine); the end-to-end tests, always a Linux
// program, read the one of the program they run (programUnderTest(), set by
// PELMORA_E2E_LAUNCHER and PELMORA_E2E_PROGRAM). This is the one test file
// that asks which system it was built for.
#ifndef PELMORA_TESTS_COMMON_PLATFORM_EXPECTATIONS_H_
#define PELMORA_TESTS_COMMON_PLATFORM_EXPECTATIONS_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace platform_expectations {

/// What a test needs beyond what every platform gives.
enum class Need {
  // ---- End-to-end cases: the program under test, seen from Linux.
  kScriptInPlaceOfProgram,    // a shell script stands in for the program
  kProgramSeesSymbolicLinks,  // the program sees a POSIX link as a link
  kPermissionBits,            // chmod bites: the run is an ordinary user's
  kMemoryLimit,               // an address-space limit on the run (RLIMIT_AS)
  kKillAtSystemCall,  // SIGKILL at a chosen system call (strace's faults)
  kUnopenedFifo,      // a FIFO the program refuses is never opened
  kWindows,           // letter case, file attributes, sharing modes, drive C:

  // ---- Unit tests: the system the test program itself runs on.
  kTestMakesSymbolicLinks,    // a link the test makes is seen as one
  kCaseSensitiveEnvironment,  // "a" and "A" are two variables
  kRemovableCurrentFolder,    // a process's current folder can be removed
};

/// Everything that differs by platform; one table per platform.
struct PlatformTable {
  bool windows;

  // ---- Values seen by both kinds of tests.
  /// What joins a folder and a file name, in names and in Path folders.
  char directorySeparator;
  /// The folder of the fixed table place, joined to the table's name;
  /// nullptr: <program folder>/../share/pelmora, in normal form.
  const char* fixedTableFolder;

  // ---- Values the unit tests see.
  int minusOneSeenByParent;             // a parent's exit code for a child's -1
  const char* realClockPattern;         // of localDateTimeText()
  std::size_t longestEnvironmentValue;  // that the tests can set
  /// Units of the shipped table the system's code page 932 has no code for.
  std::vector<std::uint32_t> unitsOnlyInTheTable;

  // ---- Values the end-to-end cases see.
  const char* programFile;  // the program's copy in <sandbox>/bin
  /// pelmora-check, which lies beside the program wherever it was built.
  const char* checkProgramFile;
  int minusOneSeenByHarness;  // for the program's -1, through any launcher
  const char* standardErrorLineEnd;
  /// What the program writes before the Linux path of a file ("" or a
  /// drive letter), its folders then joined with directorySeparator.
  const char* linuxRoot;
  /// The longest single argument that reaches the program, and how many
  /// two-letter arguments fit on one command line with a few more.
  std::size_t longestArgument;
  std::size_t mostShortArguments;

  struct Missing {
    Need need;
    const char* why;
  };
  /// Needs this platform cannot meet, each with its reason.
  std::vector<Missing> missing;
};

inline const PlatformTable& linuxTable() {
  static const PlatformTable table = {
      false,
      '/',
      nullptr,  // <program folder>/../share/pelmora, in normal form
      255,      // an exit code is one byte: -1 reaches a parent as 255
      R"(\d\d/\d\d/\d\d( \d\d:\d\d:\d\d)?)",  // the C locale's date, time
      // No bound of its own within a process; a program is handed at most
      // 128 KiB in one string.
      128 * 1024,
      // The C library's CP932 lacks the one-byte codes 0x80, 0xA0 and
      // 0xFD-0xFF, which Windows decodes to U+0080 and U+F8F0-U+F8F3.
      {0x0080, 0xF8F0, 0xF8F1, 0xF8F2, 0xF8F3},
      "pelmora",
      "pelmora-check",
      255,  // exit(-1) keeps the low eight bits
      "\n",
      "",
      (128 << 10) - 1,  // MAX_ARG_STRLEN: the kernel refuses a longer one
      100000,
      {
          {Need::kWindows,
           "Windows behaviour (letter case, file attributes, sharing modes, "
           "drive C:) that the Linux program does not have"},
      },
  };
  return table;
}

inline const PlatformTable& windowsTable() {
  static const PlatformTable table = {
      true,
      '\\',
      // One place on the machine wherever the program lies (under Wine,
      // $WINEPREFIX/drive_c/Quorvelin).
      "C:\\Quorvelin\\",
      -1,  // a parent reads the whole 32-bit exit code of a child
      // The user's regional settings, not the C library's locale: the tests
      // run under a Japanese one, short date yyyy/MM/dd (yyyy/M/d under
      // Wine) and long time H:mm:ss.
      R"(\d{4}/\d{1,2}/\d{1,2}( \d{1,2}:\d\d:\d\d)?)",
      32766,  // an environment variable holds at most 32,767 characters
      {},     // none: the system's converter is the one the table copies
      "pelmora.exe",
      "pelmora-check.exe",
      // ExitProcess(-1) is exit status 0xFFFFFFFF; wine hands the low eight
      // bits to its caller, as a POSIX shell would.
      255,
      "\r\n",  // the console program's standard error is Windows text
      "Z:",    // Wine's drive Z: is the Linux root
      // A Windows command line holds at most 32,767 characters, the
      // program's path and the blanks between arguments included.
      30000,
      10000,
      {
          {Need::kScriptInPlaceOfProgram,
           "the harness's own cases put a shell script in place of the "
           "program; wine runs only Windows programs"},
          {Need::kProgramSeesSymbolicLinks,
           "Wine shows a POSIX symbolic link as the file it points to, never "
           "as a reparse point, so pelmora.exe cannot see the link; Windows "
           "links cannot be made from the Linux side, and Wine 8's "
           "CreateSymbolicLink (behind mklink) reports a link made and makes "
           "none. Hard links, which Wine shows with their count, are tested "
           "there"},
          {Need::kPermissionBits,
           "Wine refuses a prefix owned by another user, so the run cannot "
           "drop root, and root writes into folders whatever their mode; "
           "Windows has no unwritable folders by mode bits (the read-only "
           "file attribute is covered by WindowsTest)"},
          {Need::kKillAtSystemCall,
           "pelmora.exe's calls to the system go through Wine's own process "
           "and server, so a call of Linux's is no step of the program"},
          {Need::kUnopenedFifo,
           "Windows has no FIFOs: to pelmora.exe a POSIX FIFO under Wine is "
           "a name to open like any other, and Wine's open of it lets a "
           "writer waiting there through"},
          {Need::kMemoryLimit,
           "Wine's loader reserves most of the 32-bit address space before "
           "the program starts, so an address-space limit stops wine itself"},
          {Need::kTestMakesSymbolicLinks,
           "making a symbolic link takes a privilege an ordinary account "
           "lacks, and Wine 8 reports links made that it never makes"},
          {Need::kCaseSensitiveEnvironment,
           "environment variable names are case-insensitive on Windows"},
          {Need::kRemovableCurrentFolder,
           "Windows keeps a process's current folder from being removed"},
      },
  };
  return table;
}

/// The table of the system this test program was built for.
inline const PlatformTable& thisBuild() {
#if defined(_WIN32)
  return windowsTable();
#else
  return linuxTable();
#endif
}

/// The table of the program the end-to-end cases run: pelmora.exe when a
/// launcher is set or the program is an .exe, else the Linux program.
inline const PlatformTable& programUnderTest() {
  static const PlatformTable* const chosen = [] {
    const char* launcher = std::getenv("PELMORA_E2E_LAUNCHER");
    const char* program = std::getenv("PELMORA_E2E_PROGRAM");
    if (launcher != nullptr && *launcher != '\0') return &windowsTable();
    const std::string name = program == nullptr ? "" : program;
    const bool exe =
        name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
    return exe ? &windowsTable() : &linuxTable();
  }();
  return *chosen;
}

/// Why the platform of `table` cannot meet `need`; nullptr when it can.
inline const char* whyNot(const PlatformTable& table, Need need) {
  for (const PlatformTable::Missing& missing : table.missing) {
    if (missing.need == need) return missing.why;
  }
  return nullptr;
}

/// Where the program built for `table` looks for its installed table
/// `name` when it lies in `program_folder`.
inline std::string fixedTablePlace(const PlatformTable& table,
                                   const std::string& program_folder,
                                   const std::string& name) {
  if (table.fixedTableFolder != nullptr) return table.fixedTableFolder + name;
  return (std::filesystem::path(program_folder).parent_path() / "share" /
          "pelmora" / name)
      .string();
}

/// The exit code a parent on this system sees for -1, for the unit tests'
/// death tests.
inline const int kExitCodeSeenForMinusOne = thisBuild().minusOneSeenByParent;

}  // namespace platform_expectations

/// Skips the current unit test when its system cannot meet the need.
#define UNIT_NEEDS(need)                                        \
  do {                                                          \
    if (const char* why_not_ = ::platform_expectations::whyNot( \
            ::platform_expectations::thisBuild(), need)) {      \
      GTEST_SKIP() << why_not_;                                 \
    }                                                           \
  } while (false)

/// Skips the current end-to-end case when the program under test cannot
/// meet the need.
#define E2E_NEEDS(need)                                           \
  do {                                                            \
    if (const char* why_not_ = ::platform_expectations::whyNot(   \
            ::platform_expectations::programUnderTest(), need)) { \
      GTEST_SKIP() << why_not_;                                   \
    }                                                             \
  } while (false)

#endif  // PELMORA_TESTS_COMMON_PLATFORM_EXPECTATIONS_H_
