// What the program under test does differently on its two platforms, as seen
// from outside, in one table per platform. The same Linux test binary runs
// the Linux program, or pelmora.exe under a launcher such as wine
// (PELMORA_E2E_LAUNCHER, PELMORA_E2E_PROGRAM); which table holds is decided
// at run time by the program it runs. Every entry says what differs and
// why, and a case that cannot be made on a platform is skipped with the
// reason the table gives, so no case is written twice.
#ifndef PELMORA_TESTS_E2E_PLATFORM_TABLE_H_
#define PELMORA_TESTS_E2E_PLATFORM_TABLE_H_

#include <string>
#include <vector>

namespace e2e {

/// What a case needs from the platform beyond running the program.
enum class Need {
  /// A shell script can stand in for the program (the harness's own cases).
  kScriptInPlaceOfProgram,
  /// The program sees a POSIX symbolic link as a link.
  kSymbolicLinks,
  /// Permission bits bite: a run as an ordinary user in a folder made
  /// unwritable with chmod.
  kPermissionBits,
  /// A limit on the address space of the run (RLIMIT_AS).
  kMemoryLimit,
  /// What only Windows has: one file for names differing in letter case,
  /// file attributes, sharing modes, the fixed place on drive C:.
  kWindows,
};

struct PlatformTable {
  /// Shown in skip reasons.
  const char* name;
  bool windows;
  /// The program's copy in <sandbox>/bin.
  const char* programFile;
  /// The exit code a caller sees when the program ends with -1.
  int exitOfMinusOne;
  /// What ends each line the program writes to standard error.
  const char* standardErrorLineEnd;
  /// What joins a Path folder and the table's name.
  char pathJoin;
  /// How the program names its fixed table place; nullptr: the sandbox's
  /// share/pelmora/UTF16~MS932.bin, beside the program's bin/.
  const char* fixedPlace;
  /// What the program writes before the Linux path of a file ("" or a
  /// drive letter), its folders then joined with pathJoin.
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

/// The table of the program under test.
const PlatformTable& platformTable();

/// Why the program under test cannot meet `need`; nullptr when it can.
const char* whyNot(Need need);

}  // namespace e2e

/// Skips the current case when the program under test cannot meet the need.
#define E2E_NEEDS(need)                                       \
  do {                                                        \
    if (const char* e2e_why_not_ = ::e2e::whyNot(need)) {     \
      GTEST_SKIP() << e2e_why_not_;                           \
    }                                                         \
  } while (false)

#endif  // PELMORA_TESTS_E2E_PLATFORM_TABLE_H_
