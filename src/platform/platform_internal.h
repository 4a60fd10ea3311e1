// The platform files' own interface: raw system calls under the shared logic.
// Each system's files (platform_posix*.cc, platform_win32*.cc) supply the
// single calls that platform_common.cc builds on, and platform_common.cc
// supplies back the one helper they share. Nothing outside src/platform
// includes it.
#ifndef PELMORA_PLATFORM_PLATFORM_INTERNAL_H_
#define PELMORA_PLATFORM_PLATFORM_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace raw {

// ---- Supplied by each system's platform files -----------------------------

/// The failure of a call on a File that is not open.
Status notOpen(std::string* detail);

/// One read of at most n bytes into buffer, retried when a signal
/// interrupts it. *got is 0 only at the end of the file (or of a pipe whose
/// writer has closed it).
Status readSome(std::intptr_t handle, void* buffer, std::size_t n,
                std::size_t* got, std::string* detail);
/// One write of at most n bytes, retried when a signal interrupts it. It
/// takes at least one byte or fails.
Status writeSome(std::intptr_t handle, const void* buffer, std::size_t n,
                 std::size_t* written, std::string* detail);

/// The same at byte `offset` of the file, leaving any position alone, so
/// that threads may read one file side by side. A negative offset, or one
/// the system cannot reach, fails.
Status readSomeAt(std::intptr_t handle, std::int64_t offset, void* buffer,
                  std::size_t n, std::size_t* got, std::string* detail);
Status writeSomeAt(std::intptr_t handle, std::int64_t offset,
                   const void* buffer, std::size_t n, std::size_t* written,
                   std::string* detail);

/// The handles of standard output and standard error; -1 when the process
/// has none.
std::intptr_t standardOutput();
std::intptr_t standardError();
/// What ends a line written to standard error on this system.
const char* standardErrorLineEnd();

/// The number of this process, which no other living process has.
std::uint64_t processId();

/// The local clock, written as the user's locale writes it.
struct ClockReading {
  std::string date;       ///< the short date
  std::string time;       ///< the long time, hours:minutes:seconds
  bool midnight = false;  ///< the time is 00:00:00
};
/// False when the clock cannot be read.
bool readLocalClock(ClockReading* reading);

/// One task of runInParallel(): work(context, index).
struct Task {
  void (*work)(void*, std::size_t);
  void* context;
  std::size_t index;
};
/// A thread of the system's own kind, kept in an integer.
using ThreadHandle = std::uintptr_t;
/// Starts a thread that runs the task, which must outlive it; false when
/// no thread could be started.
bool startThread(const Task* task, ThreadHandle* thread);
/// Waits for a thread that startThread() started, and lets it go.
void joinThread(ThreadHandle thread);

// ---- Supplied by platform_common.cc ---------------------------------------

/// The calls a test may plant a failure in (see plantFaultsForTesting).
enum class Call { kRead, kWrite, kLargeBlock, kResize };
/// True when a planted fault fails this read, write, resize or allocation
/// (*detail then says so); a write may instead be cut to fewer bytes in *n.
/// Every read, write and resize of a file and every LargeBlock asks once,
/// first.
bool plantedFailure(Call call, std::size_t* n, std::string* detail);
/// The rest of File::copyRangeTo where the system offers no copy of its
/// own: bytes [offset + *copied, offset + n) read and written through this
/// process's memory, *copied counting on.
Status copyThroughMemory(const File& from, std::int64_t offset, std::size_t n,
                         File* to, std::size_t* copied, std::string* detail);
/// True while a test plants any fault in file calls.
bool anyPlanted();
/// The same for an open of `name` that reads and/or writes.
bool plantedOpenFailure(const std::string& name, bool reads, bool writes,
                        std::string* detail);
/// The same for File::openOutput(), which reads and writes: a planted
/// write-only file is one that opens for writing alone (*how unreadable).
bool plantedOutputFailure(const std::string& name, OutputOpening* how,
                          std::string* detail);

/// How long File::openHeld() waits for another holder, in milliseconds.
int heldWaitMilliseconds();

/// Writes all n bytes through raw::writeSome, as File::write does.
Status writeAll(std::intptr_t handle, const void* buffer, std::size_t n,
                std::size_t* written, std::string* detail);

/// A name beside `name` for a scratch file of this process:
/// <name>.<process number><ending>. No other living process uses it, so
/// when it exists already only a killed process of the same number can
/// have left it.
std::string scratchNameBeside(const std::string& name, const char* ending);

}  // namespace raw
}  // namespace platform

#endif  // PELMORA_PLATFORM_PLATFORM_INTERNAL_H_
