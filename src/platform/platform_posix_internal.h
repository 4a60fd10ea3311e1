// The helpers the POSIX platform files share, and nothing else includes:
// the one translation of errno into a Status, the descriptor a handle
// holds, and the offsets a file position can reach.
#ifndef PELMORA_PLATFORM_PLATFORM_POSIX_INTERNAL_H_
#define PELMORA_PLATFORM_PLATFORM_POSIX_INTERNAL_H_

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "platform/platform.h"

namespace platform {

// Every errno becomes a Status here and nowhere else, so "not found" is told
// apart from the other failures in one place.
inline Status fromErrno(int error, std::string* detail) {
  if (detail != nullptr) *detail = std::strerror(error);
  if (error == ENOENT || error == ENOTDIR) return Status::kNotFound;
  return Status::kOther;
}

inline int fd(std::intptr_t handle) { return static_cast<int>(handle); }

// An offset the system's file positions can hold.
inline bool reachable(std::int64_t offset) {
  return offset >= 0 &&
         static_cast<std::uint64_t>(offset) <=
             static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

}  // namespace platform

#endif  // PELMORA_PLATFORM_PLATFORM_POSIX_INTERNAL_H_
