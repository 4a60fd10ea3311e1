// The POSIX system calls of the platform layer that are not about files:
// standard streams, memory, environment, clock, program folder, processors,
// threads and the process. What every system does alike is built on them in
// platform_common.cc.
// The header declares its answers as C's _Bool, which clang's C++ refuses.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__has_include) && \
    !defined(__clang__)
#if __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define PELMORA_GLIBC_FEATURES 1
#endif
#endif
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstddef>
#include <cstdint>
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
// Standard output and error closed when the process started. Their numbers
// now lead to /dev/null (see initializeProcess), but nothing written there
// reaches anyone: a write to standard output must still fail.
bool g_output_closed = false;
bool g_error_closed = false;
}  // namespace

std::intptr_t raw::standardOutput() {
  return g_output_closed ? -1 : STDOUT_FILENO;
}
std::intptr_t raw::standardError() {
  return g_error_closed ? -1 : STDERR_FILENO;
}
const char* raw::standardErrorLineEnd() { return "\n"; }

std::uint64_t raw::processId() {
  return static_cast<std::uint64_t>(::getpid());
}

namespace {
#if defined(__linux__) && defined(__x86_64__) && defined(MADV_HUGEPAGE)
constexpr bool kHugePages = true;
constexpr std::size_t kHugePage = std::size_t{1} << 21;
#else
constexpr bool kHugePages = false;
constexpr std::size_t kHugePage = 1;
#endif
// Lengths of ordinary blocks are rounded to this; mmap rounds to the real
// page size in any case.
constexpr std::size_t kOrdinaryPage = 4096;
}  // namespace

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

bool LargeBlock::allocate(std::size_t bytes) {
  release();
  if (raw::plantedFailure(raw::Call::kLargeBlock, nullptr, nullptr)) {
    return false;
  }
  if (bytes == 0) bytes = 1;
  // A block smaller than a huge page takes ordinary pages, faulted in one
  // by one as they are written: a huge page would be cleared whole, 2 MiB,
  // for what may be a few hundred bytes of output.
  const bool huge = kHugePages && bytes >= kHugePage;
  const std::size_t page = huge ? kHugePage : kOrdinaryPage;
  // Whole huge pages on a huge-page boundary: map one page more than
  // needed and give back the ends.
  const std::size_t slack = huge ? kHugePage : 0;
  if (bytes > std::numeric_limits<std::size_t>::max() - 2 * page) {
    return false;
  }
  const std::size_t length = (bytes + page - 1) / page * page;
  void* at = ::mmap(nullptr, length + slack, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) return false;
  auto* raw = static_cast<std::uint8_t*>(at);
  std::size_t head = 0;
  if (huge) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(raw);
    head = (kHugePage - address % kHugePage) % kHugePage;
    if (head != 0) ::munmap(raw, head);
    if (slack - head != 0) ::munmap(raw + head + length, slack - head);
  }
  data_ = raw + head;
  size_ = length;
#if defined(MADV_HUGEPAGE)
  // Only advice: without huge pages the block works as well, only slower.
  if (huge) (void)::madvise(data_, size_, MADV_HUGEPAGE);
#endif
  return true;
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
  std::string prefix = (slash == std::string::npos || slash == 0)
                           ? std::string()
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

// The C library has asked the processor already: its answer costs nothing,
// where the compiler's own check asks again at every start of the program.
bool processorHasAvx2() {
#if PELMORA_GLIBC_FEATURES
  return CPU_FEATURE_ACTIVE(AVX2);
#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

bool processorHasSsse3() {
#if PELMORA_GLIBC_FEATURES
  return CPU_FEATURE_ACTIVE(SSSE3);
#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") != 0;
#else
  return false;
#endif
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
  if (::pthread_create(&started, nullptr, runTask, const_cast<Task*>(task)) !=
      0) {
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

void initializeProcess() {
  // A standard descriptor closed at the start (2>&-, as some schedulers
  // start programs) is the number the next open is given: the user's file
  // opened there would receive whatever is meant for that stream. Each one
  // is filled with /dev/null before any file is opened; a process that
  // cannot do so ends at once rather than run with the hole.
  for (int standard = 0; standard <= 2; ++standard) {
    if (::fcntl(standard, F_GETFD) != -1 || errno != EBADF) continue;
    int opened;
    do {
      opened = ::open("/dev/null", standard == 0 ? O_RDONLY : O_WRONLY);
    } while (opened < 0 && errno == EINTR);
    if (opened != standard) std::_Exit(1);
    g_output_closed = g_output_closed || standard == STDOUT_FILENO;
    g_error_closed = g_error_closed || standard == STDERR_FILENO;
  }
  ::signal(SIGPIPE, SIG_IGN);
}

void exitProcess(int code) { std::_Exit(code); }

}  // namespace platform
