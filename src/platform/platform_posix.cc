// POSIX implementation of the platform layer.
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

Status openWith(const std::string& name, int flags, std::intptr_t* handle,
                std::string* detail) {
  int result;
  do {
    result = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fromErrno(errno, detail);
  // A folder opens read-only on POSIX but is no file to read or write.
  struct stat info;
  if (::fstat(result, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(result);
    return fromErrno(EISDIR, detail);
  }
  *handle = result;
  return Status::kOk;
}

std::string (*g_clock)() = nullptr;

}  // namespace

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
  return openWith(name, O_RDONLY, &handle_, detail);
}

Status File::openReadWrite(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_RDWR, &handle_, detail);
}

Status File::create(const std::string& name, std::string* detail) {
  if (isOpen()) (void)close();
  return openWith(name, O_WRONLY | O_CREAT | O_TRUNC, &handle_, detail);
}

Status File::read(void* buffer, std::size_t n, std::size_t* got,
                  std::string* detail) {
  *got = 0;
  if (!isOpen()) return fromErrno(EBADF, detail);
  char* at = static_cast<char*>(buffer);
  while (*got < n) {
    ssize_t result = ::read(fd(handle_), at + *got, n - *got);
    if (result < 0) {
      if (errno == EINTR) continue;
      return fromErrno(errno, detail);
    }
    if (result == 0) break;
    *got += static_cast<std::size_t>(result);
  }
  return Status::kOk;
}

Status File::write(const void* buffer, std::size_t n, std::size_t* written,
                   std::string* detail) {
  *written = 0;
  if (!isOpen()) return fromErrno(EBADF, detail);
  const char* at = static_cast<const char*>(buffer);
  while (*written < n) {
    ssize_t result = ::write(fd(handle_), at + *written, n - *written);
    if (result < 0) {
      if (errno == EINTR) continue;
      return fromErrno(errno, detail);
    }
    if (result == 0) return fromErrno(EIO, detail);
    *written += static_cast<std::size_t>(result);
  }
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

Status createNewWithContent(const std::string& name, const std::string& content,
                            bool* exists, std::string* detail) {
  if (exists != nullptr) *exists = false;
  // Written under a private name first and then linked into place, because
  // link() never replaces a file and the name appears with its content.
  std::string scratch = name + "." + std::to_string(::getpid()) + ".new";
  File file;
  Status status = file.create(scratch, detail);
  if (status != Status::kOk) return status;
  std::size_t written = 0;
  status = file.write(content.data(), content.size(), &written, detail);
  Status closed = file.close(detail);
  if (status == Status::kOk) status = closed;
  if (status == Status::kOk && ::link(scratch.c_str(), name.c_str()) != 0) {
    if (exists != nullptr) *exists = (errno == EEXIST);
    status = fromErrno(errno, detail);
  }
  ::unlink(scratch.c_str());
  return status;
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

std::string localDateTimeText() {
  if (g_clock != nullptr) return g_clock();
  // The user's own date and time formats, as the err file names expect.
  std::setlocale(LC_TIME, "");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return std::string();
  char date[128];
  char time[128];
  std::size_t date_length = std::strftime(date, sizeof date, "%x", &local);
  std::size_t time_length = std::strftime(time, sizeof time, "%X", &local);
  std::string text(date, date_length);
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
    text += ' ';
    text.append(time, time_length);
  }
  return text;
}

void setClockForTesting(std::string (*clock)()) { g_clock = clock; }

Status writeStandardOutput(const void* buffer, std::size_t n) {
  const char* at = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    ssize_t result = ::write(STDOUT_FILENO, at + done, n - done);
    if (result < 0) {
      if (errno == EINTR) continue;
      return fromErrno(errno, nullptr);
    }
    if (result == 0) return Status::kOther;
    done += static_cast<std::size_t>(result);
  }
  return Status::kOk;
}

void writeStandardError(const std::string& line) {
  std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t result = ::write(STDERR_FILENO, text.data() + done,
                             text.size() - done);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return;
    done += static_cast<std::size_t>(result);
  }
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
struct Task {
  void (*work)(void*, std::size_t);
  void* context;
  std::size_t index;
};

extern "C" void* runTask(void* argument) {
  const Task* task = static_cast<const Task*>(argument);
  task->work(task->context, task->index);
  return nullptr;
}
}  // namespace

void runInParallel(std::size_t count, void (*work)(void*, std::size_t),
                   void* context) {
  Task tasks[kMostParallelTasks];
  pthread_t threads[kMostParallelTasks];
  bool started[kMostParallelTasks] = {};
  const std::size_t threaded = count < kMostParallelTasks ? count
                                                          : kMostParallelTasks;
  for (std::size_t i = 1; i < threaded; ++i) {
    tasks[i] = Task{work, context, i};
    started[i] = ::pthread_create(&threads[i], nullptr, runTask, &tasks[i]) == 0;
  }
  if (count > 0) work(context, 0);
  for (std::size_t i = 1; i < threaded; ++i) {
    if (!started[i]) work(context, i);
  }
  for (std::size_t i = threaded; i < count; ++i) work(context, i);
  for (std::size_t i = 1; i < threaded; ++i) {
    if (started[i]) ::pthread_join(threads[i], nullptr);
  }
}

void initializeProcess() { ::signal(SIGPIPE, SIG_IGN); }

void exitProcess(int code) { std::_Exit(code); }

}  // namespace platform
