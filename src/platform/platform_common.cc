// The platform layer's logic that is the same on every system, built on the
// single system calls of the platform_posix*.cc or platform_win32*.cc files:
// the read and write loops (at the position and at an offset), the faults
// a test plants in them, the scratch-file name, the scheduling of
// runInParallel and the text of the local clock.
#include <atomic>
#include <cstdint>
#include <new>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace platform {
namespace {

std::string (*g_clock)() = nullptr;

// Read by every call, from every thread of a parallel scan: one relaxed
// load when nothing is planted.
std::atomic<bool> g_planted{false};
PlantedFaults g_faults;
std::atomic<int> g_calls[4];
constexpr const char* kPlantedDetail = "a failure planted by a test";

std::atomic<int> g_held_wait_milliseconds{60000};

}  // namespace

Status raw::copyThroughMemory(const File& from, std::int64_t offset,
                              std::size_t n, File* to, std::size_t* copied,
                              std::string* detail) {
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow)
                                            std::uint8_t[kPiece]);
  if (!piece) {
    if (detail != nullptr) *detail = "out of memory";
    return Status::kOther;
  }
  while (*copied < n) {
    const std::size_t want = n - *copied < kPiece ? n - *copied : kPiece;
    std::size_t got = 0;
    const Status read = from.readAt(offset + static_cast<std::int64_t>(*copied),
                                    piece.get(), want, &got, detail);
    if (read != Status::kOk) return read;
    if (got == 0) return Status::kOk;  // the end of the file
    std::size_t written = 0;
    const Status wrote = to->write(piece.get(), got, &written, detail);
    *copied += written;
    if (wrote != Status::kOk) return wrote;
    if (written != got) return Status::kOther;
  }
  return Status::kOk;
}

void setHeldWaitForTesting(int milliseconds) {
  g_held_wait_milliseconds = milliseconds;
}

int raw::heldWaitMilliseconds() { return g_held_wait_milliseconds; }

void plantFaultsForTesting(const PlantedFaults& faults) {
  g_planted = false;
  g_faults = faults;
  for (std::atomic<int>& count : g_calls) count = 0;
  g_planted = !faults.read_only.empty() || !faults.write_only.empty() ||
              faults.fail_reads_from > 0 || faults.short_write > 0 ||
              faults.fail_writes_from > 0 || faults.fail_writes_over > 0 ||
              faults.fail_large_blocks_from > 0 || faults.fail_resizes_from > 0;
}

bool raw::anyPlanted() { return g_planted.load(std::memory_order_relaxed); }

bool raw::plantedFailure(Call call, std::size_t* n, std::string* detail) {
  if (!g_planted.load(std::memory_order_relaxed)) return false;
  const int nth = ++g_calls[static_cast<int>(call)];
  const auto from = [nth](int first) { return first > 0 && nth >= first; };
  bool fails = false;
  switch (call) {
    case Call::kRead:
      fails = from(g_faults.fail_reads_from);
      break;
    case Call::kWrite:
      if (nth == g_faults.short_write && *n > 1) *n /= 2;
      fails = from(g_faults.fail_writes_from) ||
              (g_faults.fail_writes_over > 0 && *n > g_faults.fail_writes_over);
      break;
    case Call::kLargeBlock:
      fails = from(g_faults.fail_large_blocks_from);
      break;
    case Call::kResize:
      fails = from(g_faults.fail_resizes_from);
      break;
  }
  if (fails && detail != nullptr) *detail = kPlantedDetail;
  return fails;
}

bool raw::plantedOpenFailure(const std::string& name, bool reads, bool writes,
                             std::string* detail) {
  if (!g_planted.load(std::memory_order_relaxed)) return false;
  const bool fails = (writes && name == g_faults.read_only) ||
                     (reads && name == g_faults.write_only);
  if (fails && detail != nullptr) *detail = kPlantedDetail;
  return fails;
}

bool raw::plantedOutputFailure(const std::string& name, OutputOpening* how,
                               std::string* detail) {
  if (!plantedOpenFailure(name, true, true, detail)) return false;
  how->unreadable =
      fileExists(name) && !plantedOpenFailure(name, false, true, nullptr);
  return true;
}

namespace {

// The loop of every whole transfer: a system may move fewer bytes than
// asked for at any time. `step(moved so far, want, &moved now)` is one
// system call. Only a read may move none, at the end of the file; a write
// that takes nothing has failed.
template <class Step>
Status transferAll(raw::Call call, std::size_t n, std::size_t* total,
                   std::string* detail, Step step) {
  *total = 0;
  while (*total < n) {
    std::size_t want = n - *total;
    if (raw::plantedFailure(call, &want, detail)) return Status::kOther;
    std::size_t moved = 0;
    const Status status = step(*total, want, &moved);
    if (status != Status::kOk) return status;
    if (moved == 0)
      return call == raw::Call::kRead ? Status::kOk : Status::kOther;
    *total += moved;
  }
  return Status::kOk;
}

}  // namespace

Status raw::writeAll(std::intptr_t handle, const void* buffer, std::size_t n,
                     std::size_t* written, std::string* detail) {
  const char* at = static_cast<const char*>(buffer);
  return transferAll(Call::kWrite, n, written, detail,
                     [&](std::size_t done, std::size_t want, std::size_t* now) {
                       return writeSome(handle, at + done, want, now, detail);
                     });
}

std::string raw::scratchNameBeside(const std::string& name,
                                   const char* ending) {
  return name + "." + std::to_string(processId()) + ending;
}

Status File::read(void* buffer, std::size_t n, std::size_t* got,
                  std::string* detail) {
  *got = 0;
  if (!isOpen()) return raw::notOpen(detail);
  char* at = static_cast<char*>(buffer);
  return transferAll(raw::Call::kRead, n, got, detail,
                     [&](std::size_t done, std::size_t want, std::size_t* now) {
                       return raw::readSome(handle_, at + done, want, now,
                                            detail);
                     });
}

Status File::write(const void* buffer, std::size_t n, std::size_t* written,
                   std::string* detail) {
  *written = 0;
  if (!isOpen()) return raw::notOpen(detail);
  return raw::writeAll(handle_, buffer, n, written, detail);
}

Status File::readAt(std::int64_t offset, void* buffer, std::size_t n,
                    std::size_t* got, std::string* detail) const {
  *got = 0;
  if (!isOpen()) return raw::notOpen(detail);
  char* at = static_cast<char*>(buffer);
  return transferAll(raw::Call::kRead, n, got, detail,
                     [&](std::size_t done, std::size_t want, std::size_t* now) {
                       return raw::readSomeAt(
                           handle_, offset + static_cast<std::int64_t>(done),
                           at + done, want, now, detail);
                     });
}

Status File::writeAt(std::int64_t offset, const void* buffer, std::size_t n,
                     std::size_t* written, std::string* detail) {
  *written = 0;
  if (!isOpen()) return raw::notOpen(detail);
  const char* at = static_cast<const char*>(buffer);
  return transferAll(raw::Call::kWrite, n, written, detail,
                     [&](std::size_t done, std::size_t want, std::size_t* now) {
                       return raw::writeSomeAt(
                           handle_, offset + static_cast<std::int64_t>(done),
                           at + done, want, now, detail);
                     });
}

Status writeStandardOutput(const void* buffer, std::size_t n) {
  const std::intptr_t out = raw::standardOutput();
  if (out == -1) return Status::kOther;
  const char* at = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    std::size_t taken = 0;
    if (raw::writeSome(out, at + done, n - done, &taken, nullptr) !=
        Status::kOk) {
      return Status::kOther;
    }
    done += taken;
  }
  return Status::kOk;
}

void writeStandardError(const std::string& line) {
  const std::intptr_t err = raw::standardError();
  if (err == -1) return;
  const std::string text = line + raw::standardErrorLineEnd();
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t taken = 0;
    // The last place left to say anything: a failure here is given up.
    if (raw::writeSome(err, text.data() + done, text.size() - done, &taken,
                       nullptr) != Status::kOk) {
      return;
    }
    done += taken;
  }
}

std::string localDateTimeText() {
  if (g_clock != nullptr) return g_clock();
  raw::ClockReading now;
  if (!raw::readLocalClock(&now)) return std::string();
  std::string text = now.date;
  // At 00:00:00 the text is the date alone, as the date-time text the err
  // file names are cut from has always been: such a name has no minutes or
  // seconds.
  if (!now.midnight) {
    text += ' ';
    text += now.time;
  }
  return text;
}

void setClockForTesting(std::string (*clock)()) { g_clock = clock; }

void runInParallel(std::size_t count, void (*work)(void*, std::size_t),
                   void* context) {
  raw::Task tasks[kMostParallelTasks];
  raw::ThreadHandle threads[kMostParallelTasks] = {};
  bool started[kMostParallelTasks] = {};
  const std::size_t threaded =
      count < kMostParallelTasks ? count : kMostParallelTasks;
  for (std::size_t i = 1; i < threaded; ++i) {
    tasks[i] = raw::Task{work, context, i};
    started[i] = raw::startThread(&tasks[i], &threads[i]);
  }
  // Every task runs exactly once: task 0 here, then any whose thread would
  // not start, then those beyond the thread count, all before the wait.
  if (count > 0) work(context, 0);
  for (std::size_t i = 1; i < threaded; ++i) {
    if (!started[i]) work(context, i);
  }
  for (std::size_t i = threaded; i < count; ++i) work(context, i);
  for (std::size_t i = 1; i < threaded; ++i) {
    if (started[i]) raw::joinThread(threads[i]);
  }
}

}  // namespace platform
