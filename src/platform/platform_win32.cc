// The Win32 system calls behind the platform layer of the 32-bit Windows
// console program; what every system does alike is built on them in
// platform_common.cc. File names and texts are ANSI (code page 932) byte
// strings, so the "A" functions are used throughout.
#define WIN32_LEAN_AND_MEAN
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: GetFinalPathNameByHandle
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

// Every GetLastError() code becomes a Status here and nowhere else.
Status fromLastError(DWORD error, std::string* detail) {
  if (detail != nullptr) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length > 0 && text != nullptr) {
      std::string message(text, length);
      while (!message.empty() &&
             (message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
      }
      *detail = message;
    } else {
      *detail = "error " + std::to_string(error);
    }
    if (text != nullptr) LocalFree(text);
  }
  // Callers that tell failures apart (a sharing violation is waited out)
  // read the code again; FormatMessage may have replaced it.
  SetLastError(error);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return Status::kNotFound;
  }
  return Status::kOther;
}

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool isReparsePoint(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// How a name is opened: which files are taken and whether a link is.
struct OpenRules {
  // A device (NUL, CON) or a pipe is taken too: a name the user gives for
  // writing opens as a redirection would.
  bool devices = false;
  bool no_link = false;  // a reparse point in the name's place is refused
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
};

Status openWith(const std::string& name, DWORD access, DWORD disposition,
                const OpenRules& rules, std::intptr_t* handle,
                std::string* detail) {
  // Others may read, write and delete while the file is open, as they may
  // on POSIX; a folder does not open without backup semantics, so it is
  // refused here as well.
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (rules.no_link) {
    // Checked before the open too, so that a create never truncates what a
    // link points to.
    if (isReparsePoint(name)) return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  }
  HANDLE h = CreateFileA(name.c_str(), access, rules.share, nullptr,
                         disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fromLastError(GetLastError(), detail);
  // Only files on a disk, never a pipe or a device that could keep a read
  // waiting for ever; a link opened as itself is no file of ours either.
  const DWORD type = GetFileType(h);
  BY_HANDLE_FILE_INFORMATION info;
  const bool disk_file =
      type == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  if (!disk_file && !(rules.devices && (type == FILE_TYPE_CHAR ||
                                        type == FILE_TYPE_PIPE))) {
    CloseHandle(h);
    return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
  }
  *handle = reinterpret_cast<std::intptr_t>(h);
  return Status::kOk;
}

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
             info.nFileIndexLow;
  return id;
}

// One Win32 transfer moves at most this many bytes.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

DWORD transferSize(std::size_t n) {
  return static_cast<DWORD>(n > kLargestTransfer ? kLargestTransfer : n);
}

std::intptr_t standardHandle(DWORD which) {
  const HANDLE h = GetStdHandle(which);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return -1;
  return reinterpret_cast<std::intptr_t>(h);
}

}  // namespace

Status raw::notOpen(std::string* detail) {
  return fromLastError(ERROR_INVALID_HANDLE, detail);
}

Status raw::readSome(std::intptr_t handle, void* buffer, std::size_t n,
                     std::size_t* got, std::string* detail) {
  *got = 0;
  DWORD done = 0;
  if (!ReadFile(handleOf(handle), buffer, transferSize(n), &done, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE) return Status::kOk;  // the writer closed
    return fromLastError(error, detail);
  }
  *got = done;
  return Status::kOk;
}

Status raw::writeSome(std::intptr_t handle, const void* buffer, std::size_t n,
                      std::size_t* written, std::string* detail) {
  *written = 0;
  DWORD done = 0;
  if (!WriteFile(handleOf(handle), buffer, transferSize(n), &done, nullptr)) {
    return fromLastError(GetLastError(), detail);
  }
  if (done == 0) return fromLastError(ERROR_WRITE_FAULT, detail);
  *written = done;
  return Status::kOk;
}

std::intptr_t raw::standardOutput() { return standardHandle(STD_OUTPUT_HANDLE); }
std::intptr_t raw::standardError() { return standardHandle(STD_ERROR_HANDLE); }
// The console program ends its lines as Windows text.
const char* raw::standardErrorLineEnd() { return "\r\n"; }

std::uint64_t raw::processId() { return GetCurrentProcessId(); }

File::~File() {
  if (isOpen()) CloseHandle(handleOf(handle_));
}

File::File(File&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (isOpen()) CloseHandle(handleOf(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

Status File::openRead(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, GENERIC_READ, OPEN_EXISTING, OpenRules{}, &handle_,
                  detail);
}

Status File::openReadNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  OpenRules rules;
  rules.no_link = true;
  return openWith(name, GENERIC_READ, OPEN_EXISTING, rules, &handle_, detail);
}

Status File::openReadWriteNoLink(const std::string& name,
                                 std::string* detail) {
  if (isOpen()) (void)close();
  OpenRules rules;
  rules.no_link = true;
  return openWith(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, rules,
                  &handle_, detail);
}

Status File::create(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  OpenRules rules;
  rules.devices = true;
  return openWith(name, GENERIC_WRITE, CREATE_ALWAYS, rules, &handle_, detail);
}

Status File::createNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  OpenRules rules;
  rules.no_link = true;
  return openWith(name, GENERIC_WRITE, CREATE_ALWAYS, rules, &handle_, detail);
}

Status File::createNew(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  OpenRules rules;
  rules.no_link = true;
  return openWith(name, GENERIC_WRITE, CREATE_NEW, rules, &handle_, detail);
}

Status File::openHeld(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  // Shared with nobody but a rename or delete by name: every other open for
  // reading or writing meets a sharing violation, and waits here.
  OpenRules rules;
  rules.no_link = true;
  rules.share = FILE_SHARE_DELETE;
  int denied = 0;
  for (;;) {
    std::string reason;
    Status status = openWith(name, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS,
                             rules, &handle_, &reason);
    if (status == Status::kOk) return status;
    const DWORD error = GetLastError();
    // A file whose holder deleted it stays "access denied" until that
    // holder has closed it, a moment later; a file that really is read-only
    // stays so, and is given up after a second.
    if (error == ERROR_SHARING_VIOLATION ||
        (error == ERROR_ACCESS_DENIED && ++denied < 100)) {
      Sleep(10);
      continue;
    }
    if (detail != nullptr) *detail = reason;
    return status;
  }
}

Status File::removeHeld(const std::string& name, std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  // Gone when the handle closes; until then nobody else can open it.
  if (!DeleteFileA(name.c_str())) return fromLastError(GetLastError(), detail);
  return Status::kOk;
}

Status File::seek(std::int64_t offset, std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  if (offset < 0) return fromLastError(ERROR_NEGATIVE_SEEK, detail);
  LARGE_INTEGER to;
  to.QuadPart = offset;
  if (!SetFilePointerEx(handleOf(handle_), to, nullptr, FILE_BEGIN)) {
    return fromLastError(GetLastError(), detail);
  }
  return Status::kOk;
}

Status File::rewind(bool truncate, std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(handleOf(handle_), zero, nullptr, FILE_BEGIN)) {
    return fromLastError(GetLastError(), detail);
  }
  if (truncate && !SetEndOfFile(handleOf(handle_))) {
    return fromLastError(GetLastError(), detail);
  }
  return Status::kOk;
}

Status File::size(std::int64_t* bytes, std::string* detail) const {
  *bytes = 0;
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handleOf(handle_), &size)) {
    return fromLastError(GetLastError(), detail);
  }
  *bytes = size.QuadPart;
  return Status::kOk;
}

Status File::identity(FileIdentity* id, std::string* detail) const {
  *id = FileIdentity();
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handleOf(handle_), &info)) {
    return fromLastError(GetLastError(), detail);
  }
  *id = identityOf(info);
  return Status::kOk;
}

Status File::sync(std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  if (GetFileType(handleOf(handle_)) != FILE_TYPE_DISK) return Status::kOk;
  if (!FlushFileBuffers(handleOf(handle_))) {
    return fromLastError(GetLastError(), detail);
  }
  return Status::kOk;
}

Status File::lockExclusive(std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  OVERLAPPED from_start = {};
  if (!LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD,
                  MAXDWORD, &from_start)) {
    return fromLastError(GetLastError(), detail);
  }
  return Status::kOk;
}

Status File::close(std::string* detail) {
  if (!isOpen()) return Status::kOk;
  BOOL closed = CloseHandle(handleOf(handle_));
  handle_ = -1;
  if (!closed) return fromLastError(GetLastError(), detail);
  return Status::kOk;
}

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  size_ = 0;
}

bool LargeBlock::allocate(std::size_t bytes) {
  release();
  if (bytes == 0) bytes = 1;
  // Large pages need a privilege that console programs seldom hold, so the
  // block is ordinary committed memory.
  void* at = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT,
                          PAGE_READWRITE);
  if (at == nullptr) return false;
  data_ = static_cast<std::uint8_t*>(at);
  size_ = bytes;
  return true;
}

Status raw::placeWithoutReplacing(const std::string& scratch,
                                  const std::string& name, bool* exists,
                                  std::string* detail) {
  // Without MOVEFILE_REPLACE_EXISTING a move never replaces a file.
  if (!MoveFileExA(scratch.c_str(), name.c_str(), 0)) {
    const DWORD error = GetLastError();
    if (exists != nullptr) {
      *exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    }
    return fromLastError(error, detail);
  }
  return Status::kOk;
}

Replacement::~Replacement() { abandon(); }

void Replacement::abandon() {
  if (file_.isOpen()) (void)file_.close();
  if (!scratch_.empty()) DeleteFileA(scratch_.c_str());
  scratch_.clear();
  unnamed_ = false;
}

Status Replacement::begin(const std::string& name, std::string* detail) {
  abandon();
  target_ = name;
  if (isReparsePoint(name)) {
    // The file the link points to is the one replaced, in its own folder.
    HANDLE h = CreateFileA(name.c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return fromLastError(GetLastError(), detail);
    std::vector<char> path(MAX_PATH);
    DWORD length = 0;
    for (;;) {
      length = GetFinalPathNameByHandleA(h, path.data(),
                                         static_cast<DWORD>(path.size()),
                                         FILE_NAME_NORMALIZED);
      if (length < path.size()) break;
      path.resize(length + 1);
    }
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (length == 0) return fromLastError(error, detail);
    target_.assign(path.data(), length);
    // "\\?\C:\x" is "C:\x"; "\\?\UNC\server\x" is "\\server\x".
    if (target_.compare(0, 8, R"(\\?\UNC\)") == 0) {
      target_ = R"(\\)" + target_.substr(8);
    } else if (target_.compare(0, 4, R"(\\?\)") == 0) {
      target_ = target_.substr(4);
    }
  }
  const DWORD attributes = GetFileAttributesA(target_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return fromLastError(GetLastError(), detail);
  }
  // A read-only file is not replaced, as it would not be erased.
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) !=
      0) {
    return fromLastError(ERROR_ACCESS_DENIED, detail);
  }
  attributes_ = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  const std::string scratch = raw::scratchNameBeside(target_, ".tmp");
  auto createScratch = [&scratch]() {
    return CreateFileA(scratch.c_str(), GENERIC_WRITE | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  if (isReparsePoint(scratch)) return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
  HANDLE h = createScratch();
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    // Only a killed process of the same number can have left it.
    DeleteFileA(scratch.c_str());
    h = createScratch();
  }
  if (h == INVALID_HANDLE_VALUE) return fromLastError(GetLastError(), detail);
  file_.handle_ = reinterpret_cast<std::intptr_t>(h);
  scratch_ = scratch;
  // Deleted when its handle closes until commit() says otherwise, so a run
  // killed while writing it leaves nothing beside the wide file.
  FILE_DISPOSITION_INFO doomed = {TRUE};
  unnamed_ = SetFileInformationByHandle(h, FileDispositionInfo, &doomed,
                                        sizeof doomed) != 0;
  return Status::kOk;
}

Status Replacement::commit(std::string* detail) {
  if (!file_.isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  Status status = file_.sync(detail);
  if (status == Status::kOk && unnamed_) {
    FILE_DISPOSITION_INFO kept = {FALSE};
    if (!SetFileInformationByHandle(reinterpret_cast<HANDLE>(file_.handle_),
                                    FileDispositionInfo, &kept, sizeof kept)) {
      status = fromLastError(GetLastError(), detail);
    }
  }
  if (status == Status::kOk) status = file_.close(detail);
  if (status == Status::kOk) {
    if (attributes_ != 0) SetFileAttributesA(scratch_.c_str(), attributes_);
    if (!MoveFileExA(scratch_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      status = fromLastError(GetLastError(), detail);
    }
  }
  if (status != Status::kOk) {
    abandon();
    return status;
  }
  scratch_.clear();
  return Status::kOk;
}

Status removeFile(const std::string& name, std::string* detail) {
  if (!DeleteFileA(name.c_str())) return fromLastError(GetLastError(), detail);
  return Status::kOk;
}

Status renameFile(const std::string& from, const std::string& to,
                  std::string* detail) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return fromLastError(GetLastError(), detail);
  }
  return Status::kOk;
}

bool fileExists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isSymbolicLink(const std::string& name) { return isReparsePoint(name); }

Status fileIdentity(const std::string& name, FileIdentity* id,
                    std::string* detail) {
  *id = FileIdentity();
  HANDLE h = CreateFileA(name.c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return fromLastError(GetLastError(), detail);
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL known = GetFileInformationByHandle(h, &info);
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!known) return fromLastError(error, detail);
  *id = identityOf(info);
  return Status::kOk;
}

Status fileSize(const std::string& name, std::int64_t* bytes,
                std::string* detail) {
  *bytes = 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) {
    return fromLastError(GetLastError(), detail);
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return fromLastError(ERROR_ACCESS_DENIED, detail);
  }
  *bytes = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) |
           data.nFileSizeLow;
  return Status::kOk;
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
  const int bytes = WideCharToMultiByte(CP_ACP, 0, value.data(),
                                        static_cast<int>(length), nullptr, 0,
                                        nullptr, nullptr);
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

namespace {
DWORD WINAPI runTask(LPVOID argument) {
  const raw::Task* task = static_cast<const raw::Task*>(argument);
  task->work(task->context, task->index);
  return 0;
}
}  // namespace

bool raw::startThread(const Task* task, ThreadHandle* thread) {
  const HANDLE started = CreateThread(nullptr, 0, runTask,
                                      const_cast<Task*>(task), 0, nullptr);
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
}

void exitProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace platform
