// Whole files as bytes, the one way every harness reads and writes them.
#ifndef PELMORA_TESTS_COMMON_FILE_BYTES_H_
#define PELMORA_TESTS_COMMON_FILE_BYTES_H_

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace harness {

/// The whole file; empty when it cannot be opened, and *exists tells which.
inline std::string readBytes(const std::filesystem::path& path,
                             bool* exists = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  if (!in) return std::string();
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

/// A file the project ships; without it no case can run, so its absence
/// is thrown.
inline std::string projectFile(const std::filesystem::path& path) {
  bool exists = false;
  std::string bytes = readBytes(path, &exists);
  if (!exists) {
    throw std::runtime_error("missing project file " + path.string());
  }
  return bytes;
}

/// Replaces the file with the bytes; false when that failed.
inline bool writeBytes(const std::filesystem::path& path,
                       const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace harness

#endif  // PELMORA_TESTS_COMMON_FILE_BYTES_H_
