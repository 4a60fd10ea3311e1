#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "diagnostics/time_name.h"
#include "err_files.h"
#include "file_bytes.h"
#include "platform/platform.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

std::string g_clock_text = "12/07/26 23:14:25";

std::string fixedClock() { return g_clock_text; }

// The folder that holds the current test's scratch folders. A process
// started by a test (a death test's child, a ChildProcess) finds it in the
// environment its parent passed on, and uses it without ever deleting it.
constexpr const char* kRootVariable = "PELMORA_UNIT_SCRATCH";

const std::string g_inherited_root = [] {
  const char* value = std::getenv(kRootVariable);
  return std::string(value != nullptr ? value : "");
}();
std::string g_root;
int g_folders_made = 0;

// Scratch folders are numbered per test, so that a process running the
// test again finds them by their number; they go when the test ends. A
// death test's child hears of no test's start or end.
class ScratchRootKeeper : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    g_root.clear();
    g_folders_made = 0;
  }
  void OnTestEnd(const testing::TestInfo& test) override {
    if (g_inherited_root.empty() && !g_root.empty()) {
      unsetEnvironment(kRootVariable);
      if (std::getenv("PELMORA_KEEP_SANDBOX") == nullptr) {
        harness::removeScratchFolder(g_root);
      }
    }
    OnTestStart(test);
  }
};

const bool g_keeper_listening = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new ScratchRootKeeper);
  return true;
}();

}  // namespace

void setClockText(const std::string& text) {
  g_clock_text = text;
  platform::setClockForTesting(&fixedClock);
}

ScratchFolder::ScratchFolder() {
  previous_ = fs::current_path().string();
  if (g_root.empty() && !g_inherited_root.empty()) {
    g_root = g_inherited_root;
  } else if (g_root.empty()) {
    g_root =
        harness::makeScratchFolder(fs::temp_directory_path(), "pelmora-unit-");
    setEnvironment(kRootVariable, g_root);
  }
  const fs::path folder = fs::path(g_root) / std::to_string(++g_folders_made);
  fs::create_directory(folder);
  path_ = folder.string();
  fs::current_path(path_);
  setClockText("12/07/26 23:14:25");
  TimeNames::resetSerialNumberForTesting();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  platform::setClockForTesting(nullptr);
}

void ScratchFolder::write(const std::string& name,
                          const std::string& bytes) const {
  harness::writeBytes(fs::path(path_) / name, bytes);
}

std::string ScratchFolder::read(const std::string& name, bool* exists) const {
  return harness::readBytes(fs::path(path_) / name, exists);
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
  const std::set<std::string> names = files();
  std::vector<std::string> messages;
  for (const std::string& name :
       harness::errFilesInOrder({names.begin(), names.end()})) {
    messages.push_back(read(name));
  }
  return messages;
}

EnvironmentWithout::EnvironmentWithout(const std::string& name) : name_(name) {
  if (const char* value = std::getenv(name.c_str())) {
    was_set_ = true;
    value_ = value;
  }
  unsetEnvironment(name);
}

EnvironmentWithout::~EnvironmentWithout() {
  if (was_set_) setEnvironment(name_, value_);
  if (!was_set_) unsetEnvironment(name_);
}

bool waitForFile(const std::string& name) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::minutes(1);
  std::error_code ignored;
  while (!fs::exists(name, ignored)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void endChild(bool ok) {
  std::fflush(nullptr);
  std::_Exit(ok ? 0 : 1);
}

}  // namespace testing_support
