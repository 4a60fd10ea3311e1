// The POSIX side of reading and copying without copies: views of a file's
// pages, the guard that turns a page cut away under a view into a failed
// read, copies made inside the system, the stamp that tells a file was
// changed, the scratch files of held output, and the lock with a condition
// that the scan's threads share.
#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_posix_internal.h"

namespace platform {
namespace {

std::size_t pageBytes() {
  static const std::size_t page = [] {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
  }();
  return page;
}

// The guard of the thread that runs work in runReadingMaps(): where to go
// back to when a mapped page is gone. Read by the signal handler of the
// same thread only.
thread_local sigjmp_buf* t_guard = nullptr;

// A page of a mapped file that no longer has bytes behind it (the file was
// cut shorter) raises SIGBUS at the instruction that touched it. Inside a
// guard that is a failed read; anywhere else it is what it always was.
void onBusError(int signal_number, siginfo_t*, void*) {
  sigjmp_buf* guard = t_guard;
  if (guard != nullptr) {
    t_guard = nullptr;
    ::siglongjmp(*guard, 1);
  }
  struct sigaction plain = {};
  plain.sa_handler = SIG_DFL;
  ::sigemptyset(&plain.sa_mask);
  ::sigaction(signal_number, &plain, nullptr);
  // Returning runs the instruction again, which now ends the process.
}

bool busErrorHandled() {
  static const bool installed = [] {
    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    ::sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  return installed;
}

struct MonitorParts {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
};

MonitorParts& partsOf(unsigned char* storage) {
  return *reinterpret_cast<MonitorParts*>(storage);
}

}  // namespace

void MappedRange::release() {
  if (base_ != nullptr) ::munmap(base_, length_);
  base_ = nullptr;
  length_ = 0;
  data_ = nullptr;
  readable_ = 0;
}

Status File::mapRange(std::int64_t offset, std::size_t length,
                      MappedRange* view) const {
  view->release();
  // Faults planted by tests count reads; a view would pass them by.
  if (!isOpen() || length == 0 || !reachable(offset) || raw::anyPlanted() ||
      !busErrorHandled()) {
    return Status::kOther;
  }
  const std::size_t page = pageBytes();
  const std::size_t head =
      static_cast<std::size_t>(static_cast<std::uint64_t>(offset) % page);
  if (length > SIZE_MAX - head - page) return Status::kOther;
  const std::size_t mapped = (head + length + page - 1) / page * page;
  void* at =
      ::mmap(nullptr, mapped, PROT_READ, MAP_SHARED, fd(handle_),
             static_cast<off_t>(offset - static_cast<std::int64_t>(head)));
  if (at == MAP_FAILED) return Status::kOther;
  view->base_ = at;
  view->length_ = mapped;
  view->data_ = static_cast<const std::uint8_t*>(at) + head;
  view->readable_ = mapped - head;
  return Status::kOk;
}

bool runReadingMaps(void (*work)(void*), void* context) {
  sigjmp_buf guard;
  // The mask is saved: the handler leaves with SIGBUS blocked, and a
  // thread that blocks it would be killed by the next one.
  if (sigsetjmp(guard, 1) != 0) return false;
  t_guard = &guard;
  work(context);
  t_guard = nullptr;
  return true;
}

Status File::createScratch(const std::string& beside, std::string* detail) {
  if (isOpen()) (void)close();
  const std::string::size_type slash = beside.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                          : beside.substr(0, slash);
#if defined(O_TMPFILE)
  const int unnamed =
      ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) {
    handle_ = unnamed;
    return Status::kOk;
  }
#endif
  // A system without unnamed files: a new name of this process's own,
  // removed at once, so that only the open reaches it.
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = folder + "/.pelmora-scratch-" +
                             std::to_string(::getpid()) + "-" +
                             std::to_string(serial.fetch_add(1));
    const int made = ::open(
        name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made >= 0) {
      ::unlink(name.c_str());
      handle_ = made;
      return Status::kOk;
    }
    if (errno != EEXIST) return fromErrno(errno, detail);
  }
  return fromErrno(EEXIST, detail);
}

static_assert(sizeof(MonitorParts) <= 128, "a Monitor holds its parts");

Monitor::Monitor() {
  MonitorParts* parts = new (storage_) MonitorParts;
  ::pthread_mutex_init(&parts->mutex, nullptr);
  ::pthread_cond_init(&parts->condition, nullptr);
}

Monitor::~Monitor() {
  ::pthread_cond_destroy(&partsOf(storage_).condition);
  ::pthread_mutex_destroy(&partsOf(storage_).mutex);
}

void Monitor::lock() { ::pthread_mutex_lock(&partsOf(storage_).mutex); }
void Monitor::unlock() { ::pthread_mutex_unlock(&partsOf(storage_).mutex); }
void Monitor::wait() {
  ::pthread_cond_wait(&partsOf(storage_).condition, &partsOf(storage_).mutex);
}
void Monitor::notifyAll() {
  ::pthread_cond_broadcast(&partsOf(storage_).condition);
}

}  // namespace platform

namespace platform {
namespace {

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// How long after a change its times may still hide the next one: the
// clock tick the times move on is at most a few milliseconds; a second
// leaves room for a clock that is adjusted.
constexpr std::int64_t kSettledAfter = std::int64_t{2} * 1000000000;

}  // namespace

Status File::contentStamp(ContentStamp* stamp, std::string* detail) const {
  *stamp = ContentStamp();
  if (!isOpen()) return fromErrno(EBADF, detail);
  struct stat info;
  if (::fstat(fd(handle_), &info) != 0) return fromErrno(errno, detail);
  stamp->size = static_cast<std::int64_t>(info.st_size);
  stamp->written = nanoseconds(info.st_mtim);
  stamp->changed = nanoseconds(info.st_ctim);
  struct timespec now;
  if (::clock_gettime(CLOCK_REALTIME, &now) == 0) {
    const std::int64_t last =
        stamp->written > stamp->changed ? stamp->written : stamp->changed;
    stamp->settled = nanoseconds(now) - last > kSettledAfter;
  }
  return Status::kOk;
}

Status File::copyRangeTo(std::int64_t offset, std::size_t n, File* to,
                         std::size_t* copied, std::string* detail) const {
  *copied = 0;
  if (!isOpen() || !to->isOpen()) return fromErrno(EBADF, detail);
  // Faults planted by tests count reads and writes: those go the long way.
  bool in_system = !raw::anyPlanted();
  while (*copied < n && in_system) {
    loff_t from = static_cast<loff_t>(offset) + static_cast<loff_t>(*copied);
    const ssize_t done = ::copy_file_range(fd(handle_), &from, fd(to->handle_),
                                           nullptr, n - *copied, 0);
    if (done > 0) {
      *copied += static_cast<std::size_t>(done);
    } else if (done == 0) {
      return Status::kOk;  // the end of the file
    } else if (errno == EINTR) {
      continue;
    } else if (*copied == 0 &&
               (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                errno == EOPNOTSUPP || errno == EBADF)) {
      in_system = false;  // not offered here: through memory
    } else {
      return fromErrno(errno, detail);
    }
  }
  if (*copied == n) return Status::kOk;
  return raw::copyThroughMemory(*this, offset, n, to, copied, detail);
}

}  // namespace platform
