// What every fuzz target shares: work folder, throwing stop hook, file helpers.
// The stop hook turns the program's orderly stops into an exception.
// Header-only so each target stays one .cc file.
#ifndef PELMORA_FUZZ_FUZZ_SUPPORT_H_
#define PELMORA_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "diagnostics/error_text.h"
#include "file_bytes.h"
#include "scratch_folder.h"

namespace fuzzing {

/// Thrown by the stop hook. diagnostics::stop() would end the process,
/// which libFuzzer would count as a crash; catching this instead lets a
/// target decide whether the stop was an expected outcome of its input.
struct FuzzStop {};

[[noreturn]] inline void throwStop() { throw FuzzStop{}; }

/// Ends the run with a message; libFuzzer saves the input as a crash.
[[noreturn]] inline void finding(const char* target, const std::string& what) {
  std::fprintf(stderr, "\n*** %s finding: %s\n", target, what.c_str());
  std::fflush(stderr);
  std::abort();
}

namespace detail {
inline std::string& workFolder() {
  static std::string folder;
  return folder;
}
inline void removeWorkFolder() {
  if (workFolder().empty() || std::getenv("PELMORA_FUZZ_KEEP") != nullptr) {
    return;
  }
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(),
                                ignored);
  harness::removeScratchFolder(workFolder());
}
}  // namespace detail

/// Called at the top of every LLVMFuzzerTestOneInput. The first call
/// installs the stop hook and moves into a fresh temporary folder, because
/// the program reads and writes its auxiliary files (err files, serial.txt,
/// tables, lists) by bare name in the current folder. Doing it on the first
/// input rather than at initialisation lets libFuzzer read a single
/// reproducer given by a relative path; corpus folders must still be given
/// as absolute paths (run.sh does).
inline void enterWorkFolder() {
  if (!detail::workFolder().empty()) return;
  diagnostics::setStopHook(&throwStop);
  std::error_code error;
  // Every report creates a file; on a disk file system creating inodes
  // costs more than the input itself, so a memory file system is preferred.
  std::filesystem::path base;
  if (const char* chosen = std::getenv("PELMORA_FUZZ_TMPDIR")) {
    base = chosen;
  } else if (std::filesystem::is_directory("/dev/shm", error)) {
    base = "/dev/shm";
  } else {
    base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
  }
  const std::string folder = harness::makeScratchFolder(base, "pelmora-fuzz-");
  std::filesystem::current_path(folder, error);
  if (error) {
    std::fprintf(stderr, "cannot enter %s\n", folder.c_str());
    std::abort();
  }
  detail::workFolder() = folder;
  std::atexit(&detail::removeWorkFolder);
}

/// Keeps the working folder small: every report leaves an err file, and a
/// long run makes millions of them. Called every input; does the work
/// every `period` calls.
inline void tidyWorkFolder(unsigned period = 512) {
  static unsigned calls = 0;
  if (++calls % period != 0) return;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(".", error)) {
    const std::string name = item.path().filename().string();
    if (name.compare(0, 3, "err") == 0) {
      std::filesystem::remove(item.path(), error);
    }
  }
}

inline void writeFile(const std::string& name, const std::string& bytes) {
  if (!harness::writeBytes(name, bytes)) {
    finding("support", "cannot write " + name);
  }
}

inline void writeFile(const std::string& name, const std::uint8_t* data,
                      std::size_t size) {
  writeFile(name, std::string(reinterpret_cast<const char*>(data), size));
}

inline std::string readFile(const std::string& name, bool* exists = nullptr) {
  return harness::readBytes(name, exists);
}

inline void removeFile(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(name, ignored);
}

/// Printable form of bytes for finding messages.
inline std::string hex(const std::string& bytes, std::size_t most = 64) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < most; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    text += digits[b >> 4];
    text += digits[b & 0xF];
    text += ' ';
  }
  if (bytes.size() > most) text += "...";
  return text;
}

}  // namespace fuzzing

#endif  // PELMORA_FUZZ_FUZZ_SUPPORT_H_
