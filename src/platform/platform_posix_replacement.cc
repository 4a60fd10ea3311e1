// The POSIX system calls that put a finished file in place under its name:
// a new name that never replaces another, or in place of the file a name
// (or the link it is) stands for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_posix_internal.h"

namespace platform {

Status raw::placeWithoutReplacing(const std::string& scratch,
                                  const std::string& name, bool* exists,
                                  std::string* detail) {
  // link() never replaces a file, and the name appears with the content.
  if (::link(scratch.c_str(), name.c_str()) != 0) {
    const int error = errno;
    if (exists != nullptr) *exists = error == EEXIST;
    return fromErrno(error, detail);
  }
  return Status::kOk;
}

namespace {

std::string folderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

Replacement::~Replacement() { abandon(); }

void Replacement::abandon() {
  if (file_.isOpen()) (void)file_.close();
  if (!scratch_.empty()) (void)::unlink(scratch_.c_str());
  scratch_.clear();
  unnamed_ = false;
}

Status Replacement::begin(const std::string& name, std::string* detail) {
  abandon();
  // The file a link points to is the one replaced, in its own folder.
  char* resolved = ::realpath(name.c_str(), nullptr);
  if (resolved == nullptr) return fromErrno(errno, detail);
  target_ = resolved;
  std::free(resolved);
  struct stat info;
  if (::stat(target_.c_str(), &info) != 0) return fromErrno(errno, detail);
  if (!S_ISREG(info.st_mode)) {
    return fromErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, detail);
  }

  int handle = -1;
#if defined(O_TMPFILE)
  // A file without a name until it is complete: a process killed while
  // writing it leaves nothing behind.
  do {
    handle = ::open(folderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                    0600);
  } while (handle < 0 && errno == EINTR);
  unnamed_ = handle >= 0;
#endif
  if (handle < 0) {
    const std::string scratch = raw::scratchNameBeside(target_, ".tmp");
    Status status = file_.createNew(scratch, detail);
    if (status != Status::kOk) {
      (void)::unlink(scratch.c_str());
      status = file_.createNew(scratch, detail);
    }
    if (status != Status::kOk) return status;
    scratch_ = scratch;
  } else {
    file_.handle_ = handle;
  }
  // The owner first: a change of owner clears the set-user bits.
  if (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) {
    (void)::fchown(fd(file_.handle_), info.st_uid, info.st_gid);
  }
  if (::fchmod(fd(file_.handle_), info.st_mode & 07777) != 0) {
    const int error = errno;
    abandon();
    return fromErrno(error, detail);
  }
  return Status::kOk;
}

Status Replacement::commit(std::string* detail) {
  if (!file_.isOpen()) return fromErrno(EBADF, detail);
  // On the disk before the name moves: a crash must not leave the name on
  // an empty file.
  Status status = file_.sync(detail);
  if (status != Status::kOk) {
    abandon();
    return status;
  }
  if (unnamed_) {
    const std::string scratch = raw::scratchNameBeside(target_, ".tmp");
    const std::string self =
        "/proc/self/fd/" + std::to_string(fd(file_.handle_));
    int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, scratch.c_str(),
                          AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == EEXIST) {
      (void)::unlink(scratch.c_str());
      linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, scratch.c_str(),
                        AT_SYMLINK_FOLLOW);
    }
    if (linked != 0) {
      const int error = errno;
      abandon();
      return fromErrno(error, detail);
    }
    scratch_ = scratch;
    unnamed_ = false;
  }
  status = file_.close(detail);
  if (status == Status::kOk &&
      ::rename(scratch_.c_str(), target_.c_str()) != 0) {
    status = fromErrno(errno, detail);
  }
  if (status != Status::kOk) {
    abandon();
    return status;
  }
  scratch_.clear();
  // The rename itself on the disk too; a folder that cannot say so is no
  // reason to call the replacement failed.
  int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_CLOEXEC);
  if (folder >= 0) {
    (void)::fsync(folder);
    ::close(folder);
  }
  return Status::kOk;
}

}  // namespace platform
