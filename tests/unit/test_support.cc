#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "diagnostics/time_name.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

std::string g_clock_text = "12/07/26 23:14:25";

std::string fixedClock() { return g_clock_text; }

}  // namespace

void setClockText(const std::string& text) {
  g_clock_text = text;
  platform::setClockForTesting(&fixedClock);
}

void useRealClock() { platform::setClockForTesting(nullptr); }

ScratchFolder::ScratchFolder() {
  previous_ = fs::current_path().string();
  std::string pattern =
      (fs::temp_directory_path() / "pelmora-unit-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = buffer.data();
  fs::current_path(path_);
  setClockText("12/07/26 23:14:25");
  TimeNames::resetSerialNumberForTesting();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  useRealClock();
  if (std::getenv("PELMORA_KEEP_SANDBOX") == nullptr) {
    // Give write permission back first, in case a test took it away.
    for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all,
                      fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add,
                    ignored);
    fs::remove_all(path_, ignored);
  }
}

void ScratchFolder::write(const std::string& name,
                          const std::string& bytes) const {
  std::ofstream out(fs::path(path_) / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ScratchFolder::read(const std::string& name, bool* exists) const {
  std::ifstream in(fs::path(path_) / name, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  if (!in) return std::string();
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

bool ScratchFolder::exists(const std::string& name) const {
  return fs::exists(fs::path(path_) / name);
}

std::set<std::string> ScratchFolder::files() const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::vector<std::string> ScratchFolder::errMessages() const {
  std::vector<std::pair<long, std::string>> found;
  for (const std::string& name : files()) {
    if (name.rfind("err", 0) != 0 || name.size() < 7 ||
        name.compare(name.size() - 4, 4, ".txt") != 0) {
      continue;
    }
    std::size_t dash = name.find('-');
    if (dash == std::string::npos) continue;
    long serial = std::strtol(name.substr(3, dash - 3).c_str(), nullptr, 10);
    found.emplace_back(serial, read(name));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> messages;
  for (auto& item : found) messages.push_back(item.second);
  return messages;
}

}  // namespace testing_support
