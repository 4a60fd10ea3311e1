// The Windows side of reading and copying: no view is ever made (the wide
// file is read) and the guard only runs the work; copies pass through
// memory; the stamp of a file. Also the scratch files of held output and
// the lock with a condition that the scan's threads share.
#include "platform/platform_win32_internal.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

struct MonitorParts {
  SRWLOCK lock;
  CONDITION_VARIABLE condition;
};

MonitorParts& partsOf(unsigned char* storage) {
  return *reinterpret_cast<MonitorParts*>(storage);
}

}  // namespace

void MappedRange::release() {
  base_ = nullptr;
  length_ = 0;
  data_ = nullptr;
  readable_ = 0;
}

// A view whose file is cut shorter under it raises an exception that this
// build (no structured exception handling) could not turn into a failed
// read, so the wide file is read in blocks, as before.
Status File::mapRange(std::int64_t, std::size_t, MappedRange* view) const {
  view->release();
  return Status::kOther;
}

bool runReadingMaps(void (*work)(void*), void* context) {
  work(context);
  return true;
}

Status File::createScratch(const std::string& beside, std::string* detail) {
  if (isOpen()) (void)close();
  const std::string::size_type cut = beside.find_last_of("\\/:");
  std::string folder =
      cut == std::string::npos ? std::string(".") : beside.substr(0, cut + 1);
  if (folder.back() != '\\' && folder.back() != '/' && folder.back() != ':') {
    folder += '\\';
  }
  // Removed by the system when the handle closes, also when the process is
  // killed; shared with no one.
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = folder + "pelmora-scratch-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(serial.fetch_add(1)) + ".tmp";
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_FLAG_DELETE_ON_CLOSE,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(h);
      return Status::kOk;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return fromLastError(error, detail);
    }
  }
  return fromLastError(ERROR_FILE_EXISTS, detail);
}

// The times of a file open elsewhere may be written only when that handle
// closes: they never settle, and a refresh compares the bytes themselves.
Status File::contentStamp(ContentStamp* stamp, std::string* detail) const {
  *stamp = ContentStamp();
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info)) {
    return fromLastError(GetLastError(), detail);
  }
  stamp->size = static_cast<std::int64_t>(
      (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  stamp->written = static_cast<std::int64_t>(
      (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  stamp->changed = stamp->written;
  stamp->settled = false;
  return Status::kOk;
}

Status File::copyRangeTo(std::int64_t offset, std::size_t n, File* to,
                         std::size_t* copied, std::string* detail) const {
  *copied = 0;
  if (!isOpen() || !to->isOpen()) {
    return fromLastError(ERROR_INVALID_HANDLE, detail);
  }
  return raw::copyThroughMemory(*this, offset, n, to, copied, detail);
}

static_assert(sizeof(MonitorParts) <= 128, "a Monitor holds its parts");

Monitor::Monitor() {
  MonitorParts* parts = new (storage_) MonitorParts;
  InitializeSRWLock(&parts->lock);
  InitializeConditionVariable(&parts->condition);
}

Monitor::~Monitor() = default;

void Monitor::lock() { AcquireSRWLockExclusive(&partsOf(storage_).lock); }
void Monitor::unlock() { ReleaseSRWLockExclusive(&partsOf(storage_).lock); }
void Monitor::wait() {
  SleepConditionVariableSRW(&partsOf(storage_).condition,
                            &partsOf(storage_).lock, INFINITE, 0);
}
void Monitor::notifyAll() {
  WakeAllConditionVariable(&partsOf(storage_).condition);
}

}  // namespace platform
