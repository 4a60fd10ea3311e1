// The POSIX system calls on files: open, read, write, hold, identify, remove.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_posix_internal.h"

namespace platform {
namespace {

FileIdentity identityOf(const struct stat& info) {
  FileIdentity id;
  id.volume = static_cast<std::uint64_t>(info.st_dev);
  id.index = static_cast<std::uint64_t>(info.st_ino);
  return id;
}

Status notRegular(const struct stat& info, std::string* detail) {
  if (S_ISDIR(info.st_mode)) return fromErrno(EISDIR, detail);
  if (S_ISLNK(info.st_mode)) return fromErrno(ELOOP, detail);
  if (detail != nullptr) *detail = "not a regular file";
  return Status::kOther;
}

// Opens a regular file and never anything else, not even for a moment: an
// open that does not wait still lets a writer waiting at a FIFO go on, to
// write into a reader that leaves at once. So the name is looked at first
// (the link itself with O_NOFOLLOW), whatever is not a regular file is
// refused unopened, and the open must then reach the very file looked at.
// A missing name is created only with O_CREAT, and then as a new file, so
// that nothing put there in between is opened in its place.
Status openRegular(const std::string& name, int flags, mode_t mode, int* opened,
                   struct stat* info, std::string* detail) {
  const bool follow = (flags & O_NOFOLLOW) == 0;
  const bool create = (flags & O_CREAT) != 0;
  // A name removed or made between the look and the open is looked at
  // again; more than a few such races in a row do not happen by chance.
  for (int look = 0; look < 8; ++look) {
    struct stat seen;
    const bool found = (follow ? ::stat(name.c_str(), &seen)
                               : ::lstat(name.c_str(), &seen)) == 0;
    if (!found && (errno != ENOENT || !create)) {
      return fromErrno(errno, detail);
    }
    if (found && (flags & O_EXCL) != 0) return fromErrno(EEXIST, detail);
    if (found && !S_ISREG(seen.st_mode)) return notRegular(seen, detail);
    const int how = found ? flags & ~O_CREAT : flags | O_EXCL;
    int result;
    do {
      result = ::open(name.c_str(), how | O_CLOEXEC | O_NONBLOCK, mode);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
      if (found ? errno == ENOENT && create : errno == EEXIST) continue;
      return fromErrno(errno, detail);
    }
    if (::fstat(result, info) != 0) {
      const int error = errno;
      ::close(result);
      return fromErrno(error, detail);
    }
    if (!S_ISREG(info->st_mode) ||
        (found && identityOf(*info) != identityOf(seen))) {
      ::close(result);
      if (detail != nullptr) *detail = "the file changed while it was opened";
      return Status::kOther;
    }
    // Reads and writes of the open file may wait as usual. The status
    // flags are those of the open less O_NONBLOCK (F_SETFL ignores the
    // access mode and the creation flags), so they need not be read first.
    (void)::fcntl(result, F_SETFL, how);
    *opened = result;
    return Status::kOk;
  }
  return fromErrno(EAGAIN, detail);
}

// Opens the files Pelmora reads or keeps for itself through openRegular. A
// name the user gives for writing (`users_output`) opens as a shell
// redirection would: a device or a FIFO is taken, and waited for. With
// O_NOFOLLOW the name is one of Pelmora's own: a file that has other names
// as well is refused like a link, and O_TRUNC waits until that is known.
Status openWith(const std::string& name, int flags, bool users_output,
                std::intptr_t* handle, FileIdentity* identity, bool* known,
                std::string* detail, mode_t mode = 0666) {
  const int access = flags & O_ACCMODE;
  if (raw::plantedOpenFailure(name, access != O_WRONLY, access != O_RDONLY,
                              detail)) {
    return Status::kOther;
  }
  const bool own_name = (flags & O_NOFOLLOW) != 0;
  const bool truncate = own_name && (flags & O_TRUNC) != 0;
  if (truncate) flags &= ~O_TRUNC;
  int result = -1;
  struct stat info;
  if (!users_output) {
    const Status status =
        openRegular(name, flags, mode, &result, &info, detail);
    if (status != Status::kOk) return status;
  } else {
    do {
      result = ::open(name.c_str(), flags | O_CLOEXEC, mode);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return fromErrno(errno, detail);
    if (::fstat(result, &info) != 0) {
      const int error = errno;
      ::close(result);
      return fromErrno(error, detail);
    }
    if (!S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode) &&
        !S_ISFIFO(info.st_mode)) {
      ::close(result);
      return notRegular(info, detail);
    }
  }
  if (own_name && info.st_nlink > 1) {
    ::close(result);
    if (detail != nullptr) *detail = "the file has another name as well";
    return Status::kOther;
  }
  if (truncate && ::ftruncate(result, 0) != 0) {
    const int error = errno;
    ::close(result);
    return fromErrno(error, detail);
  }
  *handle = result;
  *identity = identityOf(info);
  *known = true;
  return Status::kOk;
}

}  // namespace

Status raw::notOpen(std::string* detail) { return fromErrno(EBADF, detail); }

Status raw::readSome(std::intptr_t handle, void* buffer, std::size_t n,
                     std::size_t* got, std::string* detail) {
  *got = 0;
  ssize_t result;
  do {
    result = ::read(fd(handle), buffer, n);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fromErrno(errno, detail);
  *got = static_cast<std::size_t>(result);
  return Status::kOk;
}

Status raw::writeSome(std::intptr_t handle, const void* buffer, std::size_t n,
                      std::size_t* written, std::string* detail) {
  *written = 0;
  ssize_t result;
  do {
    result = ::write(fd(handle), buffer, n);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fromErrno(errno, detail);
  if (result == 0) return fromErrno(EIO, detail);
  *written = static_cast<std::size_t>(result);
  return Status::kOk;
}

Status raw::readSomeAt(std::intptr_t handle, std::int64_t offset, void* buffer,
                       std::size_t n, std::size_t* got, std::string* detail) {
  *got = 0;
  if (!reachable(offset)) return fromErrno(EINVAL, detail);
  ssize_t result;
  do {
    result = ::pread(fd(handle), buffer, n, static_cast<off_t>(offset));
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fromErrno(errno, detail);
  *got = static_cast<std::size_t>(result);
  return Status::kOk;
}

Status raw::writeSomeAt(std::intptr_t handle, std::int64_t offset,
                        const void* buffer, std::size_t n, std::size_t* written,
                        std::string* detail) {
  *written = 0;
  if (!reachable(offset)) return fromErrno(EINVAL, detail);
  ssize_t result;
  do {
    result = ::pwrite(fd(handle), buffer, n, static_cast<off_t>(offset));
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fromErrno(errno, detail);
  if (result == 0) return fromErrno(EIO, detail);
  *written = static_cast<std::size_t>(result);
  return Status::kOk;
}

File::~File() {
  if (isOpen()) ::close(fd(handle_));
}

File::File(File&& other) noexcept
    : handle_(other.handle_),
      identity_(other.identity_),
      identity_known_(other.identity_known_) {
  other.handle_ = -1;
  other.identity_known_ = false;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (isOpen()) ::close(fd(handle_));
    handle_ = other.handle_;
    identity_ = other.identity_;
    identity_known_ = other.identity_known_;
    other.handle_ = -1;
    other.identity_known_ = false;
  }
  return *this;
}

Status File::openRead(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDONLY, false, &handle_, &identity_, &identity_known_,
                  detail);
}

Status File::openReadWrite(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDWR, false, &handle_, &identity_, &identity_known_,
                  detail);
}

Status File::openReadNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDONLY | O_NOFOLLOW, false, &handle_, &identity_,
                  &identity_known_, detail);
}

Status File::openReadWriteNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDWR | O_NOFOLLOW, false, &handle_, &identity_,
                  &identity_known_, detail);
}

Status File::create(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_TRUNC, true, &handle_,
                  &identity_, &identity_known_, detail);
}

Status File::openOutput(const std::string& name, OutputOpening* how,
                        std::string* detail) {
  if (isOpen()) (void)close();
  *how = OutputOpening();
  if (raw::plantedOutputFailure(name, how, detail)) return Status::kOther;
  // A name that is missing is created, and one that is there is opened as
  // it is; another program may make or remove it between the two steps, so
  // they are tried again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    struct stat named;
    if (::stat(name.c_str(), &named) != 0) {
      if (errno != ENOENT) return fromErrno(errno, detail);
      struct stat link;
      // A link that leads nowhere is followed, as a redirection follows it;
      // the file it makes there is not this open's to remove again.
      const bool dangling =
          ::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
      const int exclusive = dangling ? 0 : O_EXCL;
      const int result =
          ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | exclusive, 0666);
      if (result >= 0) {
        handle_ = result;
        how->created = !dangling;
        return Status::kOk;
      }
      if (errno == EEXIST || errno == EINTR) continue;
      return fromErrno(errno, detail);
    }
    const bool special = S_ISCHR(named.st_mode) || S_ISFIFO(named.st_mode);
    int result;
    do {
      result = ::open(name.c_str(), (special ? O_WRONLY : O_RDWR) | O_CLOEXEC);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
      const int error = errno;
      if (error == ENOENT) continue;
      if (error == EACCES && !special) {
        const int writer = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
        if (writer >= 0) {
          ::close(writer);
          how->unreadable = true;
        }
      }
      return fromErrno(error, detail);
    }
    struct stat opened;
    if (::fstat(result, &opened) != 0) {
      const int error = errno;
      ::close(result);
      return fromErrno(error, detail);
    }
    const bool opened_special =
        S_ISCHR(opened.st_mode) || S_ISFIFO(opened.st_mode);
    if (S_ISDIR(opened.st_mode)) {
      ::close(result);
      return fromErrno(EISDIR, detail);
    }
    if (opened_special != special || (!special && !S_ISREG(opened.st_mode))) {
      ::close(result);
      if (detail != nullptr) *detail = "not a regular file";
      return Status::kOther;
    }
    handle_ = result;
    identity_ = identityOf(opened);
    identity_known_ = true;
    how->special = special;
    return Status::kOk;
  }
  if (detail != nullptr) *detail = "the name kept changing";
  return Status::kOther;
}

Status File::removeCreated(const std::string& name, std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  struct stat held;
  struct stat named;
  if (::fstat(fd(handle_), &held) != 0) return fromErrno(errno, detail);
  if (::lstat(name.c_str(), &named) != 0) return fromErrno(errno, detail);
  if (!S_ISREG(named.st_mode) || identityOf(named) != identityOf(held)) {
    if (detail != nullptr) *detail = "the name reaches another file now";
    return Status::kOther;
  }
  if (::unlink(name.c_str()) != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status File::createNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, false,
                  &handle_, &identity_, &identity_known_, detail);
}

Status File::createNew(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, false,
                  &handle_, &identity_, &identity_known_, detail);
}

Status File::openHeld(const std::string& name, bool owner_only,
                      std::string* detail) {
  if (isOpen()) (void)close();
  // Another holder is waited for, but not for ever: a program that keeps
  // the file without end must not stop the run with it.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(raw::heldWaitMilliseconds());
  for (;;) {
    std::intptr_t handle = -1;
    FileIdentity opened;
    bool known = false;
    Status status =
        openWith(name, O_RDWR | O_CREAT | O_NOFOLLOW, false, &handle, &opened,
                 &known, detail, owner_only ? 0600 : 0666);
    if (status != Status::kOk) return status;
    int error = 0;
    while (::flock(fd(handle), LOCK_EX | LOCK_NB) != 0) {
      error = errno;
      if (error == EINTR) continue;
      if (error != EWOULDBLOCK ||
          std::chrono::steady_clock::now() >= deadline) {
        break;
      }
      error = 0;
      const struct timespec pause = {0, 10 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
    if (error != 0) {
      ::close(fd(handle));
      return fromErrno(error, detail);
    }
    // The last holder may have removed the file (or another name may stand
    // there now) while this process waited for it.
    struct stat held;
    struct stat named;
    if (::fstat(fd(handle), &held) == 0 && ::lstat(name.c_str(), &named) == 0 &&
        identityOf(held) == identityOf(named)) {
      handle_ = handle;
      identity_ = identityOf(held);
      identity_known_ = true;
      return Status::kOk;
    }
    ::close(fd(handle));
  }
}

Status File::removeHeld(const std::string& name, std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  if (::unlink(name.c_str()) != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status File::rewind(bool truncate, std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  if (::lseek(fd(handle_), 0, SEEK_SET) < 0) return fromErrno(errno, detail);
  if (!truncate) return Status::kOk;
  // A file cut to nothing and written again is written to the disk as soon
  // as it is closed (ext4's guard for files replaced that way), which costs
  // a large output more than writing it: a file that is empty already is
  // not cut.
  struct stat info;
  if (::fstat(fd(handle_), &info) != 0) return fromErrno(errno, detail);
  if (info.st_size != 0 && ::ftruncate(fd(handle_), 0) != 0) {
    return fromErrno(errno, detail);
  }
  return Status::kOk;
}

Status File::size(std::int64_t* bytes, std::string* detail) const {
  *bytes = 0;
  if (!isOpen()) return fromErrno(EBADF, detail);
  struct stat info;
  if (::fstat(fd(handle_), &info) != 0) return fromErrno(errno, detail);
  *bytes = static_cast<std::int64_t>(info.st_size);
  return Status::kOk;
}

Status File::identity(FileIdentity* id, std::string* detail) const {
  *id = FileIdentity();
  if (!isOpen()) return fromErrno(EBADF, detail);
  if (identity_known_) {
    *id = identity_;
    return Status::kOk;
  }
  struct stat info;
  if (::fstat(fd(handle_), &info) != 0) return fromErrno(errno, detail);
  *id = identityOf(info);
  return Status::kOk;
}

Status File::sync(std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  int result;
  do {
    result = ::fsync(fd(handle_));
  } while (result != 0 && errno == EINTR);
  // A device (/dev/null) has nothing to make durable.
  if (result != 0 && errno != EINVAL && errno != EROFS) {
    return fromErrno(errno, detail);
  }
  return Status::kOk;
}

Status File::lockExclusive(std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  int result;
  do {
    result = ::flock(fd(handle_), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status File::close(std::string* detail) {
  if (!isOpen()) return Status::kOk;
  int result = ::close(fd(handle_));
  handle_ = -1;
  identity_known_ = false;
  // After EINTR the descriptor is gone on Linux; retrying could close another.
  if (result != 0 && errno != EINTR) return fromErrno(errno, detail);
  return Status::kOk;
}

Status removeFile(const std::string& name, std::string* detail) {
  if (::unlink(name.c_str()) != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

Status renameFile(const std::string& from, const std::string& to,
                  std::string* detail) {
  if (::rename(from.c_str(), to.c_str()) != 0) return fromErrno(errno, detail);
  return Status::kOk;
}

bool fileExists(const std::string& name) {
  struct stat info;
  return ::stat(name.c_str(), &info) == 0;
}

bool isLinkedName(const std::string& name) {
  struct stat info;
  return ::lstat(name.c_str(), &info) == 0 &&
         (S_ISLNK(info.st_mode) ||
          (!S_ISDIR(info.st_mode) && info.st_nlink > 1));
}

Status fileIdentity(const std::string& name, FileIdentity* id,
                    std::string* detail) {
  *id = FileIdentity();
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) return fromErrno(errno, detail);
  *id = identityOf(info);
  return Status::kOk;
}

Status fileSize(const std::string& name, std::int64_t* bytes,
                std::string* detail) {
  *bytes = 0;
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) return fromErrno(errno, detail);
  if (S_ISDIR(info.st_mode)) return fromErrno(EISDIR, detail);
  *bytes = static_cast<std::int64_t>(info.st_size);
  return Status::kOk;
}

}  // namespace platform
