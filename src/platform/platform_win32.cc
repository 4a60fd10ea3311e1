// The Win32 system calls of the platform layer that are not about files:
// standard streams, memory, environment, clock, program folder, processors,
// threads and the process of the 32-bit Windows console program. What every
// system does alike is built on them in platform_common.cc. Texts are ANSI
// (code page 932) byte strings.
#include "platform/platform_win32_internal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

// Standard output and error the process did not have when it started. A
// handle value that was stale then may later be given to a file the run
// opens, so a stream found missing at the start is never written to.
bool g_output_missing = false;
bool g_error_missing = false;

bool missingHandle(DWORD which) {
  const HANDLE h = GetStdHandle(which);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return true;
  SetLastError(NO_ERROR);
  return GetFileType(h) == FILE_TYPE_UNKNOWN &&
         GetLastError() == ERROR_INVALID_HANDLE;
}

std::intptr_t standardHandle(DWORD which, bool missing_at_start) {
  if (missing_at_start) return -1;
  const HANDLE h = GetStdHandle(which);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return -1;
  return reinterpret_cast<std::intptr_t>(h);
}

}  // namespace

std::intptr_t raw::standardOutput() {
  return standardHandle(STD_OUTPUT_HANDLE, g_output_missing);
}
std::intptr_t raw::standardError() {
  return standardHandle(STD_ERROR_HANDLE, g_error_missing);
}
// The console program ends its lines as Windows text.
const char* raw::standardErrorLineEnd() { return "\r\n"; }

std::uint64_t raw::processId() { return GetCurrentProcessId(); }

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  size_ = 0;
}

bool LargeBlock::allocate(std::size_t bytes) {
  release();
  if (raw::plantedFailure(raw::Call::kLargeBlock, nullptr, nullptr)) {
    return false;
  }
  if (bytes == 0) bytes = 1;
  // Large pages need a privilege that console programs seldom hold, so the
  // block is ordinary committed memory.
  void* at =
      VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (at == nullptr) return false;
  data_ = static_cast<std::uint8_t*>(at);
  size_ = bytes;
  return true;
}

std::string environmentValue(const std::string& name) {
  // Read as UTF-16 and turned into ANSI bytes here: the "A" call counts
  // the value in characters on some systems and cuts a value with
  // double-byte characters short.
  const int name_units =
      MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
  if (name_units <= 0) return std::string();
  std::vector<wchar_t> wide_name(static_cast<std::size_t>(name_units));
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide_name.data(),
                      name_units);
  std::vector<wchar_t> value(1024);
  DWORD length = 0;
  for (;;) {
    length = GetEnvironmentVariableW(wide_name.data(), value.data(),
                                     static_cast<DWORD>(value.size()));
    if (length == 0) return std::string();
    if (length < value.size()) break;
    value.resize(length + 1);
  }
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, value.data(), static_cast<int>(length),
                          nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, value.data(), static_cast<int>(length),
                      &text[0], bytes, nullptr, nullptr);
  return text;
}

bool raw::readLocalClock(ClockReading* reading) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char date[128];
  char time[128];
  int date_length = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now,
                                   nullptr, date, sizeof date);
  int time_length =
      GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, sizeof time);
  // The lengths count the terminating NUL.
  reading->date.assign(
      date, static_cast<std::size_t>(date_length > 0 ? date_length - 1 : 0));
  reading->time.assign(
      time, static_cast<std::size_t>(time_length > 0 ? time_length - 1 : 0));
  reading->midnight = now.wHour == 0 && now.wMinute == 0 && now.wSecond == 0;
  return true;
}

std::string executableFolder() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(),
                                      static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) {
      std::string path(buffer.data(), length);
      std::size_t slash = path.find_last_of("\\/");
      return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);
  }
}

char directorySeparator() { return '\\'; }

std::string fixedTablePath(const std::string& name) {
  return "C:\\Quorvelin\\" + name;
}

unsigned processorCount() {
  // The processors this process may use; a 32-bit process sees at most 32.
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask,
                             &system_mask) &&
      process_mask != 0) {
    unsigned count = 0;
    for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

// The Windows build stays on SSE2, the vector unit it is compiled for.
bool processorHasAvx2() { return false; }

bool processorHasSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") != 0;
}

namespace {
DWORD WINAPI runTask(LPVOID argument) {
  const raw::Task* task = static_cast<const raw::Task*>(argument);
  task->work(task->context, task->index);
  return 0;
}
}  // namespace

bool raw::startThread(const Task* task, ThreadHandle* thread) {
  const HANDLE started =
      CreateThread(nullptr, 0, runTask, const_cast<Task*>(task), 0, nullptr);
  if (started == nullptr) return false;
  *thread = reinterpret_cast<ThreadHandle>(started);
  return true;
}

void raw::joinThread(ThreadHandle thread) {
  const HANDLE started = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(started, INFINITE);
  CloseHandle(started);
}

void initializeProcess() {
  // A missing floppy or CD must fail an open, not stop an unattended batch
  // job with a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  g_output_missing = missingHandle(STD_OUTPUT_HANDLE);
  g_error_missing = missingHandle(STD_ERROR_HANDLE);
}

void exitProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace platform
