// The POSIX side of mapped reading: views of a file's pages, the guard that
// turns a page cut away under a view into a failed read, the scratch files
// of held output, and the lock with a condition that the scan's threads
// share.
#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
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
