// Fresh folders for a test's files, made and removed alike by the unit
// tests, the end-to-end sandbox and the fuzz targets.
#ifndef PELMORA_TESTS_COMMON_SCRATCH_FOLDER_H_
#define PELMORA_TESTS_COMMON_SCRATCH_FOLDER_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace harness {

/// Makes a new empty folder <base>/<prefix><random hex> that no other
/// process has made, open to its owner only, and gives back its path.
inline std::string makeScratchFolder(const std::filesystem::path& base,
                                     const std::string& prefix) {
  // The clock joins the device because some systems' random_device is a
  // fixed sequence, and runs side by side must not meet.
  std::random_device device;
  std::mt19937_64 random(
      (static_cast<std::uint64_t>(device()) << 32) ^
      static_cast<std::uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()));
  for (;;) {
    std::ostringstream name;
    name << prefix << std::hex << (random() & 0xFFFFFFFFFFu);
    const std::filesystem::path folder = base / name.str();
    if (std::filesystem::create_directory(folder)) {
      std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
      return folder.string();
    }
  }
}

/// Deletes the folder and everything below it, first giving the owner back
/// the access a case may have taken away (never through a link, whose
/// target may be no file of the case).
inline void removeScratchFolder(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(folder, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_symlink(ignored)) continue;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                    ignored);
  }
  fs::remove_all(folder, ignored);
}

}  // namespace harness

#endif  // PELMORA_TESTS_COMMON_SCRATCH_FOLDER_H_
