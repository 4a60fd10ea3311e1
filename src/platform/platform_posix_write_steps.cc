// The POSIX system calls that change an open file in place or make one
// whole: the length, the times and the permission bits of an open file, and
// a new or replacing file that appears with its whole content.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_posix_internal.h"

namespace platform {
namespace {

std::string folderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

#if defined(O_TMPFILE)
// Linux: the file is written without a name and linked in once complete,
// so a process killed on the way leaves nothing. *tried is false when the
// file system or /proc cannot do it, and the caller takes the other way.
Status createUnnamedFirst(const std::string& name, const std::string& content,
                          bool* exists, bool* tried, std::string* detail) {
  *tried = false;
  int descriptor;
  do {
    descriptor =
        ::open(folderOf(name).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return Status::kOther;
  std::size_t written = 0;
  Status status = raw::writeAll(descriptor, content.data(), content.size(),
                                &written, detail);
  if (status == Status::kOk) {
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(),
                 AT_SYMLINK_FOLLOW) != 0) {
      const int error = errno;
      if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        ::close(descriptor);
        return Status::kOther;  // no /proc: not tried
      }
      if (exists != nullptr) *exists = error == EEXIST;
      status = fromErrno(error, detail);
    }
  }
  *tried = true;
  if (::close(descriptor) != 0 && status == Status::kOk && errno != EINTR) {
    status = fromErrno(errno, detail);
  }
  return status;
}
#endif

// Writes `content` into a new file of the private name `scratch`, clearing
// one that a killed process of the same number left. *made tells whether
// the file could be made at all.
Status writeScratch(const std::string& scratch, const std::string& content,
                    bool* made, std::string* detail) {
  File file;
  Status status = file.createNew(scratch, detail);
  if (status != Status::kOk) {
    (void)removeFile(scratch);
    status = file.createNew(scratch, detail);
  }
  *made = status == Status::kOk;
  if (!*made) return status;
  std::size_t written = 0;
  status = file.write(content.data(), content.size(), &written, detail);
  const Status closed = file.close(detail);
  return status == Status::kOk ? closed : status;
}

}  // namespace

Status File::resize(std::int64_t bytes, std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  if (!reachable(bytes)) return fromErrno(EINVAL, detail);
  if (raw::plantedFailure(raw::Call::kResize, nullptr, detail)) {
    return Status::kOther;
  }
  int result;
  do {
    result = ::ftruncate(fd(handle_), static_cast<off_t>(bytes));
  } while (result != 0 && errno == EINTR);
  if (result != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status File::touchNow(std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  // Both times at once: that is what a user who may write the file but does
  // not own it may set, as a write would.
  if (::futimens(fd(handle_), nullptr) != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status File::restrictToOwner(std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  if (::fchmod(fd(handle_), 0600) != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status createNewWithContent(const std::string& name, const std::string& content,
                            bool* exists, std::string* detail) {
  if (exists != nullptr) *exists = false;
#if defined(O_TMPFILE)
  bool tried = false;
  const Status unnamed =
      createUnnamedFirst(name, content, exists, &tried, detail);
  if (tried) return unnamed;
#endif
  // Elsewhere: written under a private name first and then given the name
  // by link(), which never replaces a file. A process killed in between
  // leaves its private name, which a later process of the same number
  // clears.
  const std::string scratch = raw::scratchNameBeside(name, ".new");
  bool made = false;
  Status status = writeScratch(scratch, content, &made, detail);
  if (!made) return status;
  if (status == Status::kOk && ::link(scratch.c_str(), name.c_str()) != 0) {
    const int error = errno;
    if (exists != nullptr) *exists = error == EEXIST;
    status = fromErrno(error, detail);
  }
  (void)removeFile(scratch);
  return status;
}

Status replaceWithContent(const std::string& name, const std::string& content,
                          bool* refused, std::string* detail) {
  *refused = true;
  // What a rewrite in place could not have written stays as it is.
  if (raw::plantedOpenFailure(name, false, true, detail)) {
    return Status::kOther;
  }
  struct stat info;
  if (::lstat(name.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return fromErrno(EISDIR, detail);
    if (S_ISLNK(info.st_mode)) return fromErrno(ELOOP, detail);
    if (!S_ISREG(info.st_mode) || info.st_nlink > 1) {
      if (detail != nullptr) *detail = "not a file of Pelmora's own";
      return Status::kOther;
    }
    if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) {
      return fromErrno(errno, detail);
    }
  } else if (errno != ENOENT) {
    return fromErrno(errno, detail);
  }
  const std::string scratch = raw::scratchNameBeside(name, ".new");
  bool made = false;
  Status status = writeScratch(scratch, content, &made, detail);
  if (!made) return status;
  *refused = false;
  if (status == Status::kOk && ::rename(scratch.c_str(), name.c_str()) != 0) {
    status = fromErrno(errno, detail);
  }
  if (status != Status::kOk) (void)removeFile(scratch);
  return status;
}

}  // namespace platform
