// The ground the Win32 platform files share, and nothing else includes:
// one Windows version and header for all of them (so each includes this
// first), the one translation of error codes into a Status, and the test
// for a link.
#ifndef PELMORA_PLATFORM_PLATFORM_WIN32_INTERNAL_H_
#define PELMORA_PLATFORM_PLATFORM_WIN32_INTERNAL_H_

#define WIN32_LEAN_AND_MEAN
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: GetFinalPathNameByHandle
#endif
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace platform {

// Every GetLastError() code becomes a Status here and nowhere else.
inline Status fromLastError(DWORD error, std::string* detail) {
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

inline bool isReparsePoint(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace platform

#endif  // PELMORA_PLATFORM_PLATFORM_WIN32_INTERNAL_H_
