// The POSIX system calls behind the platform layer; what every system does
// alike is built on them in platform_common.cc.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

// Every errno becomes a Status here and nowhere else, so "not found" is told
// apart from the other failures in one place.
Status fromErrno(int error, std::string* detail) {
  if (detail != nullptr) *detail = std::strerror(error);
  if (error == ENOENT || error == ENOTDIR) return Status::kNotFound;
  return Status::kOther;
}

int fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Opens the files Pelmora reads or keeps for itself without waiting (a FIFO
// without a writer would block a plain open) and keeps only regular files.
// A name the user gives for writing (`users_output`) opens as a shell
// redirection would: a device or a FIFO is taken, and waited for.
Status openWith(const std::string& name, int flags, bool users_output,
                std::intptr_t* handle, std::string* detail) {
  const int wait = users_output ? 0 : O_NONBLOCK;
  int result;
  do {
    result = ::open(name.c_str(), flags | O_CLOEXEC | wait, 0666);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fromErrno(errno, detail);
  struct stat info;
  if (::fstat(result, &info) != 0) {
    const int error = errno;
    ::close(result);
    return fromErrno(error, detail);
  }
  const bool special = S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode);
  if (!S_ISREG(info.st_mode) && !(users_output && special)) {
    ::close(result);
    if (S_ISDIR(info.st_mode)) return fromErrno(EISDIR, detail);
    if (detail != nullptr) *detail = "not a regular file";
    return Status::kOther;
  }
  // Reads and writes of the open file may wait as usual.
  if (wait != 0) {
    const int status_flags = ::fcntl(result, F_GETFL);
    if (status_flags >= 0) {
      (void)::fcntl(result, F_SETFL, status_flags & ~O_NONBLOCK);
    }
  }
  *handle = result;
  return Status::kOk;
}

FileIdentity identityOf(const struct stat& info) {
  FileIdentity id;
  id.volume = static_cast<std::uint64_t>(info.st_dev);
  id.index = static_cast<std::uint64_t>(info.st_ino);
  return id;
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

std::intptr_t raw::standardOutput() { return STDOUT_FILENO; }
std::intptr_t raw::standardError() { return STDERR_FILENO; }
const char* raw::standardErrorLineEnd() { return "\n"; }

std::uint64_t raw::processId() {
  return static_cast<std::uint64_t>(::getpid());
}

File::~File() {
  if (isOpen()) ::close(fd(handle_));
}

File::File(File&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (isOpen()) ::close(fd(handle_));
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

Status File::openRead(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDONLY, false, &handle_, detail);
}

Status File::openReadNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDONLY | O_NOFOLLOW, false, &handle_, detail);
}

Status File::openReadWriteNoLink(const std::string& name,
                                 std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDWR | O_NOFOLLOW, false, &handle_, detail);
}

Status File::create(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_TRUNC, true, &handle_, detail);
}

Status File::createNoLink(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, false,
                  &handle_, detail);
}

Status File::createNew(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, false,
                  &handle_, detail);
}

Status File::openHeld(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  for (;;) {
    std::intptr_t handle = -1;
    Status status = openWith(name, O_RDWR | O_CREAT | O_NOFOLLOW, false,
                             &handle, detail);
    if (status != Status::kOk) return status;
    int result;
    do {
      result = ::flock(fd(handle), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      const int error = errno;
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
  if (truncate && ::ftruncate(fd(handle_), 0) != 0) {
    return fromErrno(errno, detail);
  }
  return Status::kOk;
}

Status File::seek(std::int64_t offset, std::string* detail) {
  if (!isOpen()) return fromErrno(EBADF, detail);
  if (offset < 0 || static_cast<std::uint64_t>(offset) >
                        static_cast<std::uint64_t>(
                            std::numeric_limits<off_t>::max())) {
    return fromErrno(EINVAL, detail);
  }
  if (::lseek(fd(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
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
  // After EINTR the descriptor is gone on Linux; retrying could close another.
  if (result != 0 && errno != EINTR) return fromErrno(errno, detail);
  return Status::kOk;
}

namespace {
#if defined(__linux__) && defined(__x86_64__) && defined(MADV_HUGEPAGE)
constexpr bool kHugePages = true;
constexpr std::size_t kHugePage = std::size_t{1} << 21;
#else
constexpr bool kHugePages = false;
constexpr std::size_t kHugePage = 1;
#endif
}  // namespace

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

bool LargeBlock::allocate(std::size_t bytes) {
  release();
  if (bytes == 0) bytes = 1;
  // Whole huge pages on a huge-page boundary: map one page more than
  // needed and give back the ends.
  const std::size_t slack = kHugePages ? kHugePage : 0;
  if (bytes > std::numeric_limits<std::size_t>::max() - 2 * slack) {
    return false;
  }
  const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* at = ::mmap(nullptr, length + slack, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) return false;
  auto* raw = static_cast<std::uint8_t*>(at);
  std::size_t head = 0;
  if (kHugePages) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(raw);
    head = (kHugePage - address % kHugePage) % kHugePage;
    if (head != 0) ::munmap(raw, head);
    if (slack - head != 0) ::munmap(raw + head + length, slack - head);
  }
  data_ = raw + head;
  size_ = length;
#if defined(MADV_HUGEPAGE)
  // Only advice: without huge pages the block works as well, only slower.
  if (kHugePages) (void)::madvise(data_, size_, MADV_HUGEPAGE);
#endif
  return true;
}

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

bool isSymbolicLink(const std::string& name) {
  struct stat info;
  return ::lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
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

std::string environmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::string() : std::string(value);
}

bool raw::readLocalClock(ClockReading* reading) {
  // The user's own date format, as the err file names expect.
  std::setlocale(LC_TIME, "");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return false;
  char date[128];
  char time[128];
  std::size_t date_length = std::strftime(date, sizeof date, "%x", &local);
  // The time as Windows' long-time formats write it in Japanese and most
  // other locales: a locale's own %X ("00時48分34秒") would leave the err
  // names without minutes and seconds.
  std::size_t time_length =
      std::strftime(time, sizeof time, "%H:%M:%S", &local);
  reading->date.assign(date, date_length);
  reading->time.assign(time, time_length);
  reading->midnight =
      local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0;
  return true;
}

std::string executableFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(length));
      std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) return std::string();
      return slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);
  }
}

char directorySeparator() { return '/'; }

std::string fixedTablePath(const std::string& name) {
  std::string folder = executableFolder();
  if (folder.empty()) return std::string();
  // <folder>/.. written without the "bin/.." detour: drop the last component.
  std::size_t slash = folder.rfind('/');
  std::string prefix =
      (slash == std::string::npos || slash == 0) ? std::string()
                                                 : folder.substr(0, slash);
  return prefix + "/share/pelmora/" + name;
}

unsigned processorCount() {
#if defined(__linux__)
  // The processors this process may use, which a container or taskset may
  // limit below the machine's count.
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    int count = CPU_COUNT(&allowed);
    if (count > 0) return static_cast<unsigned>(count);
  }
#endif
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

namespace {
extern "C" void* runTask(void* argument) {
  const raw::Task* task = static_cast<const raw::Task*>(argument);
  task->work(task->context, task->index);
  return nullptr;
}
}  // namespace

// pthread_t is an integer or a pointer, whatever the system; it is kept in
// a ThreadHandle byte for byte.
static_assert(sizeof(pthread_t) <= sizeof(raw::ThreadHandle),
              "a thread must fit a ThreadHandle");

bool raw::startThread(const Task* task, ThreadHandle* thread) {
  pthread_t started;
  if (::pthread_create(&started, nullptr, runTask,
                       const_cast<Task*>(task)) != 0) {
    return false;
  }
  *thread = 0;
  std::memcpy(thread, &started, sizeof started);
  return true;
}

void raw::joinThread(ThreadHandle thread) {
  pthread_t started;
  std::memcpy(&started, &thread, sizeof started);
  ::pthread_join(started, nullptr);
}

void initializeProcess() { ::signal(SIGPIPE, SIG_IGN); }

void exitProcess(int code) { std::_Exit(code); }

}  // namespace platform
