// A plain main() for the fuzz targets, used where libFuzzer is not
// available (GCC, MSVC): every file named on the command line, and every
// file inside every folder named there (recursively, in name order), is
// handed to LLVMFuzzerTestOneInput once. This keeps the targets compiling
// everywhere and replays the seed corpora and regressions as tests.
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

namespace {

namespace fs = std::filesystem;

void collect(const fs::path& path, std::vector<fs::path>* files, bool* ok) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    std::vector<fs::path> inside;
    for (const auto& item : fs::recursive_directory_iterator(path, error)) {
      if (item.is_regular_file()) inside.push_back(item.path());
    }
    std::sort(inside.begin(), inside.end());
    files->insert(files->end(), inside.begin(), inside.end());
  } else if (fs::is_regular_file(path, error)) {
    files->push_back(path);
  } else {
    std::fprintf(stderr, "no such file or folder: %s\n", path.string().c_str());
    *ok = false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The targets move into a private folder on their first input, so every
  // name is made absolute before any input runs.
  std::vector<fs::path> files;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    collect(fs::absolute(argv[i]), &files, &ok);
  }
  std::size_t runs = 0;
  for (const fs::path& file : files) {
    bool exists = false;
    const std::string bytes = harness::readBytes(file, &exists);
    if (!exists) {
      std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
      ok = false;
      continue;
    }
    std::fprintf(stderr, "Running %s (%zu bytes)\n", file.string().c_str(),
                 bytes.size());
    // libFuzzer never passes a null pointer, not even for an empty input.
    static const std::uint8_t kNothing = 0;
    const std::uint8_t* data =
        bytes.empty() ? &kNothing
                      : reinterpret_cast<const std::uint8_t*>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    ++runs;
  }
  std::fprintf(stderr, "Executed %zu inputs\n", runs);
  return ok ? 0 : 1;
}
