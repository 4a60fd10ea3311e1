// What every fuzz target shares: a private work folder, a stop hook that
// throws, findings and file helpers. Header-only so each target stays one .cc.
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

/// Thrown by the stop hook: diagnostics::stop() would end the process, which
/// libFuzzer counts as a crash, so a target decides whether it was expected.
struct FuzzStop {};

namespace detail {
inline std::string target, folder;
inline void leave() {
  if (folder.empty() || std::getenv("PELMORA_FUZZ_KEEP") != nullptr) return;
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(),
                                ignored);
  harness::removeScratchFolder(folder);
}
}  // namespace detail

/// Ends the run with a message; libFuzzer saves the input as a crash.
[[noreturn]] inline void finding(const std::string& what) {
  std::fprintf(stderr, "\n*** %s finding: %s\n", detail::target.c_str(),
               what.c_str());
  std::fflush(stderr);
  std::abort();
}

/// Called at the top of every LLVMFuzzerTestOneInput. The program reads and
/// writes its files by bare name, so the first call installs the hook and
/// moves into a fresh folder (on the first input, not at initialisation, so
/// a single reproducer may be a relative path). Every report leaves an err
/// file: they are removed every `tidy_period` inputs.
inline void enter(const char* target, unsigned tidy_period = 512) {
  static unsigned calls = 0;
  std::error_code error;
  if (detail::folder.empty()) {
    detail::target = target;
    diagnostics::setStopHook([]() -> void { throw FuzzStop{}; });
    // Creating err files on a disk file system costs more than the input.
    std::filesystem::path base = "/dev/shm";
    if (const char* chosen = std::getenv("PELMORA_FUZZ_TMPDIR")) {
      base = chosen;
    } else if (!std::filesystem::is_directory(base, error)) {
      base = std::filesystem::temp_directory_path(error);
      if (error) base = "/tmp";
    }
    detail::folder = harness::makeScratchFolder(base, "pelmora-fuzz-");
    std::filesystem::current_path(detail::folder, error);
    if (error) finding("cannot enter " + detail::folder);
    std::atexit(&detail::leave);
  }
  if (++calls % tidy_period != 0) return;
  for (const auto& item : std::filesystem::directory_iterator(".", error)) {
    if (item.path().filename().string().compare(0, 3, "err") == 0) {
      std::filesystem::remove(item.path(), error);
    }
  }
}

/// Whether `work` stopped the program.
template <class Work>
bool stops(Work work) {
  try {
    work();
  } catch (const FuzzStop&) {
    return true;
  }
  return false;
}

/// Runs `work`; a stop of the program inside it is the finding `what`.
template <class Work>
void mustNotStop(const char* what, Work work) {
  if (stops(work)) finding(what);
}

inline void writeFile(const std::string& name, const std::string& bytes) {
  if (!harness::writeBytes(name, bytes)) finding("cannot write " + name);
}

inline void removeFile(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(name, ignored);
}

inline std::string text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

/// Printable form of bytes for finding messages.
inline std::string hex(const std::string& bytes, std::size_t most = 64) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < most; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    text += "0123456789ABCDEF"[b >> 4];
    text += "0123456789ABCDEF"[b & 0xF];
    text += ' ';
  }
  return bytes.size() > most ? text + "..." : text;
}

}  // namespace fuzzing

#endif  // PELMORA_FUZZ_FUZZ_SUPPORT_H_
