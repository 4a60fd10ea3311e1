// A plain main() for the fuzz targets where libFuzzer is not available (GCC,
// MSVC): every file named on the command line, and every file inside every
// folder named there (recursively, in name order), is handed to
// LLVMFuzzerTestOneInput once, so the corpora and regressions replay as tests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "file_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  // The targets move into a private folder on their first input, so every
  // name is made absolute before any input runs.
  std::vector<fs::path> files;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path path = fs::absolute(argv[i]);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<fs::path> inside;
      for (const auto& item : fs::recursive_directory_iterator(path, error)) {
        if (item.is_regular_file()) inside.push_back(item.path());
      }
      std::sort(inside.begin(), inside.end());
      files.insert(files.end(), inside.begin(), inside.end());
    } else if (fs::is_regular_file(path, error)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
      ok = false;
    }
  }
  std::size_t runs = 0;
  for (const fs::path& file : files) {
    bool exists = false;
    const std::string bytes = harness::readBytes(file, &exists);
    std::fprintf(stderr, "%s %s (%zu bytes)\n",
                 exists ? "Running" : "cannot read", file.string().c_str(),
                 bytes.size());
    ok = ok && exists;
    if (!exists) continue;
    // libFuzzer never passes a null pointer, not even for an empty input.
    static const std::uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(
        bytes.empty() ? &kNothing
                      : reinterpret_cast<const std::uint8_t*>(bytes.data()),
        bytes.size());
    ++runs;
  }
  std::fprintf(stderr, "Executed %zu inputs\n", runs);
  return ok ? 0 : 1;
}
