// The Win32 system calls that change an open file in place or make one
// whole: the length, the times and the permissions of an open file, and a
// new or replacing file that appears with its whole content.
#include "platform/platform_win32_internal.h"

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool setDisposition(HANDLE h, BOOLEAN doomed) {
  FILE_DISPOSITION_INFO disposition = {doomed};
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

}  // namespace

Status File::resize(std::int64_t bytes, std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  if (bytes < 0) return fromLastError(ERROR_NEGATIVE_SEEK, detail);
  if (raw::plantedFailure(raw::Call::kResize, nullptr, detail)) {
    return Status::kOther;
  }
  // The end is set at the position, which is put back afterwards.
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER was;
  if (!SetFilePointerEx(handleOf(handle_), zero, &was, FILE_CURRENT)) {
    return fromLastError(GetLastError(), detail);
  }
  LARGE_INTEGER to;
  to.QuadPart = bytes;
  const bool cut =
      SetFilePointerEx(handleOf(handle_), to, nullptr, FILE_BEGIN) &&
      SetEndOfFile(handleOf(handle_));
  const DWORD error = GetLastError();
  (void)SetFilePointerEx(handleOf(handle_), was, nullptr, FILE_BEGIN);
  if (!cut) return fromLastError(error, detail);
  return Status::kOk;
}

Status File::touchNow(std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (!SetFileTime(handleOf(handle_), &now, nullptr, &now)) {
    return fromLastError(GetLastError(), detail);
  }
  return Status::kOk;
}

Status File::restrictToOwner(std::string* detail) {
  if (!isOpen()) return fromLastError(ERROR_INVALID_HANDLE, detail);
  return Status::kOk;
}

namespace {

// Writes the content under a private name that is deleted when its handle
// closes, then moves it to the name, over what is there with
// MOVEFILE_REPLACE_EXISTING in `move_flags`, else never over anything: the
// name shows the whole content or none, and a process killed while writing
// leaves nothing. *made tells whether the private file could be made.
Status putWhole(const std::string& name, const std::string& content,
                DWORD move_flags, bool* exists, bool* made,
                std::string* detail) {
  *made = false;
  const std::string scratch = raw::scratchNameBeside(name, ".new");
  if (isReparsePoint(scratch)) {
    return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
  }
  auto createScratch = [&scratch]() {
    return CreateFileA(scratch.c_str(), GENERIC_WRITE | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE h = createScratch();
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    // Only a killed process of the same number can have left it.
    DeleteFileA(scratch.c_str());
    h = createScratch();
  }
  if (h == INVALID_HANDLE_VALUE) return fromLastError(GetLastError(), detail);
  *made = true;
  const bool doomed = setDisposition(h, TRUE);
  std::size_t done = 0;
  bool ok = raw::writeAll(reinterpret_cast<std::intptr_t>(h), content.data(),
                          content.size(), &done, nullptr) == Status::kOk;
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  // Kept from here on: only the moment between this and the move can leave
  // the private name behind.
  if (ok && doomed && !setDisposition(h, FALSE)) {
    ok = false;
    error = GetLastError();
  }
  CloseHandle(h);
  if (ok && !MoveFileExA(scratch.c_str(), name.c_str(), move_flags)) {
    ok = false;
    error = GetLastError();
    if (exists != nullptr) {
      *exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    }
  }
  if (!ok) {
    DeleteFileA(scratch.c_str());
    return fromLastError(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error,
                         detail);
  }
  return Status::kOk;
}

}  // namespace

Status createNewWithContent(const std::string& name, const std::string& content,
                            bool* exists, std::string* detail) {
  if (exists != nullptr) *exists = false;
  bool made = false;
  return putWhole(name, content, 0, exists, &made, detail);
}

Status replaceWithContent(const std::string& name, const std::string& content,
                          bool* refused, std::string* detail) {
  *refused = true;
  // What a rewrite in place could not have written stays as it is.
  if (raw::plantedOpenFailure(name, false, true, detail)) {
    return Status::kOther;
  }
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      return fromLastError(error, detail);
    }
  } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                            FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
             isLinkedName(name)) {
    return fromLastError(ERROR_ACCESS_DENIED, detail);
  }
  bool made = false;
  const Status status = putWhole(name, content, MOVEFILE_REPLACE_EXISTING,
                                 nullptr, &made, detail);
  *refused = !made;
  return status;
}

}  // namespace platform
