// What the tests expect that is not the same on every system the program is
// built for: a few values, and the abilities some tests need from the
// system. Everything else is expected alike everywhere, so a test that
// needs one of these asks here instead of asking which system it runs on.
#ifndef PELMORA_TESTS_COMMON_PLATFORM_EXPECTATIONS_H_
#define PELMORA_TESTS_COMMON_PLATFORM_EXPECTATIONS_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform_expectations {

/// An ability of the system that a test needs; a test that cannot have it
/// is skipped with the reason given here.
struct Ability {
  bool present;
  const char* missing_because;
};

#if defined(_WIN32)

constexpr char kDirectorySeparator = '\\';
/// A parent reads the whole 32-bit exit code of a child process.
constexpr int kExitCodeSeenForMinusOne = -1;
/// The installed table has one place on the machine, wherever the
/// program lies.
inline std::string fixedTablePlace(const std::string& /*program_folder*/,
                                   const std::string& name) {
  return "C:\\Quorvelin\\" + name;
}
/// The real clock follows the user's regional settings, not the C
/// library's locale; the tests run under a Japanese user locale, whose
/// short date is yyyy/MM/dd (yyyy/M/d under Wine) and long time H:mm:ss.
constexpr const char* kRealClockPattern =
    R"(\d{4}/\d{1,2}/\d{1,2}( \d{1,2}:\d\d:\d\d)?)";
/// An environment variable holds at most 32,767 characters.
constexpr std::size_t kLongestEnvironmentValue = 32766;
/// The code units of the shipped table that the system's own code page
/// 932 converter has no code for: none, it is the converter the table
/// copies.
inline const std::vector<std::uint32_t> kUnitsOnlyInTheTable = {};

constexpr Ability kSymbolicLinks = {
    false,
    "making a symbolic link takes a privilege an ordinary account lacks, "
    "and Wine 8 reports links made that it never makes"};
constexpr Ability kFileSizeLimit = {
    false, "Windows has no per-process limit on the size of files written"};
constexpr Ability kUnreadableFiles = {
    false,
    "permission bits map to the read-only attribute alone: a file cannot be "
    "made unreadable for its owner"};
constexpr Ability kCaseSensitiveEnvironment = {
    false, "environment variable names are case-insensitive on Windows"};
constexpr Ability kRemovableCurrentFolder = {
    false, "Windows keeps a process's current folder from being removed"};
/// A file that opens but fails its first read.
constexpr Ability kFileThatFailsToRead = {
    false, "Windows offers no file that opens but fails every read"};
constexpr const char* kFailingReadFile = "";

#else  // POSIX

constexpr char kDirectorySeparator = '/';
/// An exit code is one byte: -1 reaches a parent as 255.
constexpr int kExitCodeSeenForMinusOne = 255;
/// The installed table lies beside the program's folder, in the normal
/// form of <program folder>/../share/pelmora/<name>.
inline std::string fixedTablePlace(const std::string& program_folder,
                                   const std::string& name) {
  return (std::filesystem::path(program_folder).parent_path() / "share" /
          "pelmora" / name)
      .string();
}
/// The C locale's short date and long time.
constexpr const char* kRealClockPattern = R"(\d\d/\d\d/\d\d( \d\d:\d\d:\d\d)?)";
/// No bound of its own within a process; a program is handed at most
/// 128 KiB in one string.
constexpr std::size_t kLongestEnvironmentValue = 128 * 1024;
/// The C library's CP932 converter leaves out the one-byte codes 0x80,
/// 0xA0 and 0xFD-0xFF, which Windows decodes to U+0080 and U+F8F0-U+F8F3.
inline const std::vector<std::uint32_t> kUnitsOnlyInTheTable = {
    0x0080, 0xF8F0, 0xF8F1, 0xF8F2, 0xF8F3};

constexpr Ability kSymbolicLinks = {true, ""};
constexpr Ability kFileSizeLimit = {true, ""};
constexpr Ability kUnreadableFiles = {true, ""};
constexpr Ability kCaseSensitiveEnvironment = {true, ""};
constexpr Ability kRemovableCurrentFolder = {true, ""};
/// Linux: the process's own memory file opens but fails to read at offset
/// 0, where nothing is mapped.
constexpr Ability kFileThatFailsToRead = {true, ""};
constexpr const char* kFailingReadFile = "/proc/self/mem";

#endif

}  // namespace platform_expectations

#endif  // PELMORA_TESTS_COMMON_PLATFORM_EXPECTATIONS_H_
