// The Win32 system calls that put a finished file in place under its name:
// a new name that never replaces another, or in place of the file a name
// (or the link it is) stands for.
#include "platform/platform_win32_internal.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {

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
    HANDLE h = CreateFileA(
        name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
  attributes_ =
      attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  const std::string scratch = raw::scratchNameBeside(target_, ".tmp");
  auto createScratch = [&scratch]() {
    return CreateFileA(scratch.c_str(), GENERIC_WRITE | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  if (isReparsePoint(scratch))
    return fromLastError(ERROR_CANT_ACCESS_FILE, detail);
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

}  // namespace platform
