// The test helpers that must ask the system itself: processes, environment
// variables and the standard output's file, once for Windows and once for
// POSIX systems.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "file_bytes.h"
#include "test_support.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fs = std::filesystem;

namespace testing_support {
namespace {

constexpr const char* kRoleVariable = "PELMORA_UNIT_CHILD_ROLE";

std::string currentTestFilter() {
  const testing::TestInfo* test =
      testing::UnitTest::GetInstance()->current_test_info();
  if (test == nullptr) return "--gtest_filter=-*";
  return std::string("--gtest_filter=") + test->test_suite_name() + "." +
         test->name();
}

}  // namespace

std::string childRole() {
  const char* role = std::getenv(kRoleVariable);
  return role != nullptr ? role : "";
}

ChildProcess::~ChildProcess() {
  if (started_ && !waited_) (void)wait();
}

#if defined(_WIN32)

void setEnvironment(const std::string& name, const std::string& value) {
  // The C library passes it on to the system's own environment block, where
  // the platform layer and new processes find it. An empty value removes
  // the name, which Windows does not tell apart from an empty one.
  _putenv((name + "=" + value).c_str());
}

void unsetEnvironment(const std::string& name) {
  _putenv((name + "=").c_str());
}

std::string programPath() {
  std::wstring buffer(32768, L'\0');  // the longest path Windows has
  buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), 32768));
  return fs::path(buffer).string();
}

ChildProcess::ChildProcess(const std::string& role) {
  const std::wstring program = fs::path(programPath()).wstring();
  std::wstring command =
      L"\"" + program + L"\" " + fs::path(currentTestFilter()).wstring();
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  setEnvironment(kRoleVariable, role);
  started_ =
      CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                     nullptr, nullptr, &startup, &process) != FALSE;
  unsetEnvironment(kRoleVariable);
  if (started_) {
    CloseHandle(process.hThread);
    handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
  }
}

int ChildProcess::wait() {
  if (!started_ || waited_) return exit_code_;
  waited_ = true;
  HANDLE process = reinterpret_cast<HANDLE>(handle_);
  DWORD code = 0;
  if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process, &code)) {
    exit_code_ = static_cast<int>(code);
  }
  CloseHandle(process);
  return exit_code_;
}

SystemCp932::SystemCp932() : encoder_(nullptr), decoder_(nullptr) {}
SystemCp932::~SystemCp932() = default;

bool SystemCp932::ok() const { return IsValidCodePage(932) != FALSE; }

bool SystemCp932::encode(const std::string& wide, std::string* narrow) {
  std::wstring units(wide.size() / 2, L'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] =
        static_cast<wchar_t>(static_cast<unsigned char>(wide[2 * i]) |
                             static_cast<unsigned char>(wide[2 * i + 1]) << 8);
  }
  char out[16];
  BOOL substituted = FALSE;
  const int length = WideCharToMultiByte(
      932, WC_NO_BEST_FIT_CHARS, units.data(), static_cast<int>(units.size()),
      out, sizeof out, nullptr, &substituted);
  if (length <= 0 || substituted) return false;
  narrow->assign(out, static_cast<std::size_t>(length));
  return true;
}

bool SystemCp932::decode(const std::string& narrow, std::string* wide) {
  wchar_t units[16];
  const int length =
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, narrow.data(),
                          static_cast<int>(narrow.size()), units, 16);
  if (length <= 0) return false;
  wide->clear();
  for (int i = 0; i < length; ++i) {
    wide->push_back(static_cast<char>(units[i] & 0xFF));
    wide->push_back(static_cast<char>(units[i] >> 8));
  }
  return true;
}

#else  // POSIX

void setEnvironment(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnvironment(const std::string& name) { ::unsetenv(name.c_str()); }

std::string programPath() {
  return fs::read_symlink("/proc/self/exe").string();
}

ChildProcess::ChildProcess(const std::string& role) {
  const std::string program = programPath();
  const std::string filter = currentTestFilter();
  char* arguments[] = {const_cast<char*>(program.c_str()),
                       const_cast<char*>(filter.c_str()), nullptr};
  setEnvironment(kRoleVariable, role);
  pid_t pid = -1;
  started_ = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments,
                           environ) == 0;
  unsetEnvironment(kRoleVariable);
  handle_ = pid;
}

int ChildProcess::wait() {
  if (!started_ || waited_) return exit_code_;
  waited_ = true;
  int status = 0;
  if (::waitpid(static_cast<pid_t>(handle_), &status, 0) == handle_ &&
      WIFEXITED(status)) {
    exit_code_ = WEXITSTATUS(status);
  }
  return exit_code_;
}

SystemCp932::SystemCp932()
    : encoder_(iconv_open("CP932", "UTF-16LE")),
      decoder_(iconv_open("UTF-16LE", "CP932")) {}

SystemCp932::~SystemCp932() {
  if (encoder_ != reinterpret_cast<iconv_t>(-1)) iconv_close(encoder_);
  if (decoder_ != reinterpret_cast<iconv_t>(-1)) iconv_close(decoder_);
}

bool SystemCp932::ok() const {
  return encoder_ != reinterpret_cast<iconv_t>(-1) &&
         decoder_ != reinterpret_cast<iconv_t>(-1);
}

namespace {
// One conversion from the converter's initial state.
bool convert(iconv_t cd, const std::string& input, std::string* output) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in = input;
  char out[16];
  char* in_at = in.data();
  std::size_t in_left = in.size();
  char* out_at = out;
  std::size_t out_left = sizeof out;
  std::size_t result = iconv(cd, &in_at, &in_left, &out_at, &out_left);
  if (result == static_cast<std::size_t>(-1) || in_left != 0) return false;
  // A converter that substitutes counts the substitutions in the result.
  if (result != 0) return false;
  output->assign(out, sizeof out - out_left);
  return true;
}
}  // namespace

bool SystemCp932::encode(const std::string& wide, std::string* narrow) {
  return convert(encoder_, wide, narrow);
}

bool SystemCp932::decode(const std::string& narrow, std::string* wide) {
  return convert(decoder_, narrow, wide);
}

#endif

std::string standardStreamOf(int stream, const std::function<void()>& work) {
#if defined(_WIN32)
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 ||
      GetTempFileNameW(folder, L"out", 0, name) == 0) {
    return "(no temporary file)";
  }
  const int file = _wopen(name, _O_WRONLY | _O_BINARY | _O_TRUNC);
#else
  std::string name =
      (fs::temp_directory_path() / "pelmora-stdout-XXXXXX").string();
  const int file = ::mkstemp(name.data());
  if (file < 0) return "(no temporary file)";
#endif
  std::fflush(nullptr);
  const int saved = dup(stream);
  // On Windows moving descriptor 1 or 2 moves the system's standard handle
  // too, which is the one the platform layer writes to.
  dup2(file, stream);
  close(file);
  work();
  std::fflush(nullptr);
  dup2(saved, stream);
  close(saved);
  std::string bytes = harness::readBytes(name);
  std::error_code ignored;
  fs::remove(name, ignored);
  return bytes;
}

}  // namespace testing_support
