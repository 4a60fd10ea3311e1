// The Win32 system calls on files: open, read, write, hold, identify, remove.
// File names are ANSI (code page 932) byte strings, so the "A" functions are
// used throughout.
#include "platform/platform_win32_internal.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
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
  if (raw::plantedOpenFailure(name, (access & GENERIC_READ) != 0,
                              (access & GENERIC_WRITE) != 0, detail)) {
    return Status::kOther;
  }
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  // One of Pelmora's own names is not cut before it is known to be no
  // link and no file with other names.
  const bool truncate = rules.no_link && disposition == CREATE_ALWAYS;
  if (truncate) disposition = OPEN_ALWAYS;
  if (rules.no_link) {
    // Checked before the open too, so that a create never truncates what a
    // link points to.
    if (isReparsePoint(name))
      return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
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
  if (!disk_file &&
      !(rules.devices && (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE))) {
    CloseHandle(h);
    return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
  }
  if (rules.no_link && disk_file && info.nNumberOfLinks > 1) {
    CloseHandle(h);
    return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
  }
  if (truncate && !SetEndOfFile(h)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    return fromLastError(error, detail);
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

// Where a transfer at `offset` starts, for a handle opened for synchronous
// use.
OVERLAPPED at(std::int64_t offset) {
  OVERLAPPED where = {};
  where.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
  where.OffsetHigh =
      static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return where;
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

Status raw::readSomeAt(std::intptr_t handle, std::int64_t offset, void* buffer,
                       std::size_t n, std::size_t* got, std::string* detail) {
  *got = 0;
  if (offset < 0) return fromLastError(ERROR_NEGATIVE_SEEK, detail);
  // On a handle opened for synchronous use the offset in OVERLAPPED says
  // where; the system serialises the calls, so threads may share it.
  OVERLAPPED where = at(offset);
  DWORD done = 0;
  if (!ReadFile(handleOf(handle), buffer, transferSize(n), &done, &where)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF) return Status::kOk;
    return fromLastError(error, detail);
  }
  *got = done;
  return Status::kOk;
}

Status raw::writeSomeAt(std::intptr_t handle, std::int64_t offset,
                        const void* buffer, std::size_t n, std::size_t* written,
                        std::string* detail) {
  *written = 0;
  if (offset < 0) return fromLastError(ERROR_NEGATIVE_SEEK, detail);
  OVERLAPPED where = at(offset);
  DWORD done = 0;
  if (!WriteFile(handleOf(handle), buffer, transferSize(n), &done, &where)) {
    return fromLastError(GetLastError(), detail);
  }
  if (done == 0) return fromLastError(ERROR_WRITE_FAULT, detail);
  *written = done;
  return Status::kOk;
}

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

Status File::openReadWrite(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  // A read-only file is not to be written, by whoever runs the program
  // (Wine lets an administrator open one for writing).
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return fromLastError(ERROR_ACCESS_DENIED, detail);
  }
  return openWith(name, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING,
                  OpenRules{}, &handle_, detail);
}

Status File::openReadNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  OpenRules rules;
  rules.no_link = true;
  return openWith(name, GENERIC_READ, OPEN_EXISTING, rules, &handle_, detail);
}

Status File::openReadWriteNoLink(const std::string& name, std::string* detail) {
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

Status File::openOutput(const std::string& name, OutputOpening* how,
                        std::string* detail) {
  if (isOpen()) (void)close();
  *how = OutputOpening();
  if (raw::plantedOutputFailure(name, how, detail)) return Status::kOther;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // A name that is missing is created, and one that is there is opened as
  // it is; another program may make or remove it between the two steps, so
  // they are tried again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    // A read-only file is not to be written, by whoever runs the program
    // (Wine lets an administrator open one for writing).
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return fromLastError(ERROR_ACCESS_DENIED, detail);
    }
    HANDLE h =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (error == ERROR_ACCESS_DENIED) {
      // A device, or a file that may be written but not read.
      h = CreateFileA(name.c_str(), GENERIC_WRITE, share, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        if (GetFileType(h) == FILE_TYPE_DISK) {
          CloseHandle(h);
          how->unreadable = true;
          return fromLastError(ERROR_ACCESS_DENIED, detail);
        }
        error = ERROR_SUCCESS;
      }
    }
    if (error == ERROR_FILE_NOT_FOUND) {
      // Made by this open, which may also give it up again by its handle.
      h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                      share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
          continue;
        }
        return fromLastError(error, detail);
      }
      handle_ = reinterpret_cast<std::intptr_t>(h);
      how->created = true;
      return Status::kOk;
    }
    if (h == INVALID_HANDLE_VALUE) return fromLastError(error, detail);
    const DWORD type = GetFileType(h);
    BY_HANDLE_FILE_INFORMATION info;
    const bool disk_file =
        type == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (!disk_file && type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
      CloseHandle(h);
      return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    how->special = !disk_file;
    return Status::kOk;
  }
  return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
}

Status File::removeCreated(const std::string& name, std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  // By the handle, whatever the name reaches now: the file goes when the
  // handle is closed.
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(handleOf(handle_), FileDispositionInfo,
                                 &disposition, sizeof disposition)) {
    return Status::kOk;
  }
  FileIdentity held;
  FileIdentity named;
  if (identity(&held, detail) != Status::kOk ||
      fileIdentity(name, &named, detail) != Status::kOk || held != named ||
      isReparsePoint(name)) {
    return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
  }
  if (!DeleteFileA(name.c_str())) return fromLastError(GetLastError(), detail);
  return Status::kOk;
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

Status File::openHeld(const std::string& name, bool /*owner_only*/,
                      std::string* detail) {
  // The folder's inherited permissions are the owner's business on Windows.
  if (isOpen()) (void)close();
  // Shared with nobody but a rename or delete by name: every other open for
  // reading or writing meets a sharing violation, and waits here.
  OpenRules rules;
  rules.no_link = true;
  rules.share = FILE_SHARE_DELETE;
  // Another holder is waited for, but not for ever: a program that keeps
  // the file without end must not stop the run with it.
  const ULONGLONG start = GetTickCount64();
  const ULONGLONG bound = static_cast<ULONGLONG>(raw::heldWaitMilliseconds());
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
    if ((error == ERROR_SHARING_VIOLATION &&
         GetTickCount64() - start < bound) ||
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

bool isLinkedName(const std::string& name) {
  if (isReparsePoint(name)) return true;
  HANDLE h = CreateFileA(
      name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool linked = GetFileInformationByHandle(h, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                      info.nNumberOfLinks > 1;
  CloseHandle(h);
  return linked;
}

Status fileIdentity(const std::string& name, FileIdentity* id,
                    std::string* detail) {
  *id = FileIdentity();
  HANDLE h = CreateFileA(
      name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
  *bytes =
      (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return Status::kOk;
}

}  // namespace platform
