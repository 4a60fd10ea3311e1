// The one door to the operating system, for files, clock, console and process.
// Everything Pelmora does with files, the environment, the clock, standard
// output and the process goes through the routines declared here. The raw
// system calls are in the platform_posix*.cc or the platform_win32*.cc
// files, one set of which a build takes; what is the same on both is in
// platform_common.cc.
//
// Nothing here throws or prints. Fallible calls return a Status and, where
// the caller may want to word a message or a test may want to look, fill an
// optional detail text with the operating system's own explanation.
#ifndef PELMORA_PLATFORM_PLATFORM_H_
#define PELMORA_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class MappedRange;

/// Outcome of one operating-system call.
enum class Status {
  kOk,        ///< done
  kNotFound,  ///< the file or folder does not exist
  kOther,     ///< any other failure (permissions, disk full, I/O error, ...)
};

/// What makes a file the file it is, whatever name reached it: device and
/// inode on POSIX, volume serial number and file index on Windows. Two
/// names are one file exactly when their identities are equal.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

/// What a change to a file's content changes: its size and the times of
/// its last write and last change, as finely as the system keeps them.
struct ContentStamp {
  std::int64_t size = -1;
  std::int64_t written = 0;
  std::int64_t changed = 0;
  /// The last change is old enough that any later one shows in the times
  /// (they move on the system's clock tick, so a change within the same
  /// tick as the one before may not). Never set where the times are kept
  /// lazily (Windows): only the bytes themselves tell there.
  bool settled = false;
  bool operator==(const ContentStamp& other) const {
    return size == other.size && written == other.written &&
           changed == other.changed;
  }
  bool operator!=(const ContentStamp& other) const { return !(*this == other); }
};

/// How File::openOutput() found the name it opened.
struct OutputOpening {
  bool created = false;  ///< no file had the name: this open made it
  bool special = false;  ///< a device or a FIFO, open for writing only
  /// The open failed on a file that may be written but not read.
  bool unreadable = false;
};

/// An open file. Move-only; the destructor closes a file that is still open
/// (ignoring the result, so callers that care call close() themselves).
///
/// Every open but create() takes regular files only: a folder, a FIFO or a
/// device is a file that cannot be opened, and the open never waits for a
/// writer. The "NoLink" opens (and createNew and openHeld) are for the files
/// Pelmora names itself (binary.tmp, the err files, serial.txt, ...): a
/// symbolic link in their place, or a file that has another name as well (a
/// hard link), is a file that cannot be opened or created, so nothing is
/// ever written through one to a file elsewhere. Such an open never
/// truncates before it has seen what the name is. On POSIX a name that is no
/// regular file is refused before anything is opened, so a writer waiting at
/// a FIFO is never let through.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  /// Opens an existing regular file for reading only, so read-only files
  /// are fine. A symbolic link is followed.
  [[nodiscard]] Status openRead(const std::string& name,
                                std::string* detail = nullptr);
  /// Opens an existing regular file for reading and writing, following a
  /// symbolic link: a file the user named, to be written in place.
  [[nodiscard]] Status openReadWrite(const std::string& name,
                                     std::string* detail = nullptr);
  /// The same as openRead, refusing a link.
  [[nodiscard]] Status openReadNoLink(const std::string& name,
                                      std::string* detail = nullptr);
  /// Opens an existing regular file for reading and writing, refusing a
  /// symbolic link.
  [[nodiscard]] Status openReadWriteNoLink(const std::string& name,
                                           std::string* detail = nullptr);
  /// Creates the file, or truncates it when it exists, for writing. This is
  /// for the names the user gives, opened as a shell redirection would open
  /// them: a symbolic link is followed, and a device or a FIFO is taken (the
  /// open waits for a FIFO's reader).
  [[nodiscard]] Status create(const std::string& name,
                              std::string* detail = nullptr);
  /// Opens a name the user gave for output, once for the whole run, and
  /// cuts nothing: an existing regular file for reading and writing, a
  /// symbolic link followed as a shell redirection follows it; a device or
  /// a FIFO for writing only (the open waits for a FIFO's reader); and when
  /// no file has the name, a new one, which *how marks as created.
  [[nodiscard]] Status openOutput(const std::string& name, OutputOpening* how,
                                  std::string* detail = nullptr);
  /// Removes the file that openOutput() created, when `name` still names
  /// it itself: a link to it, or another file put in its place since, is
  /// left alone.
  [[nodiscard]] Status removeCreated(const std::string& name,
                                     std::string* detail = nullptr);
  /// Creates or truncates a regular file for writing, refusing a symbolic
  /// link.
  [[nodiscard]] Status createNoLink(const std::string& name,
                                    std::string* detail = nullptr);
  /// Creates a new file for writing; fails when anything, a link included,
  /// has that name already.
  [[nodiscard]] Status createNew(const std::string& name,
                                 std::string* detail = nullptr);
  /// Opens a working file for reading and writing, creating it when it is
  /// missing (a link is refused), and holds it for this process alone until
  /// it is closed: another process asking for the same name waits here
  /// until then, checking every 10 ms, but for 60 seconds at most (a
  /// program that never lets the file go must not stop the run for ever);
  /// then the open fails. A file removed or replaced by its last holder
  /// while this one waited is not taken; the name is opened again. With
  /// `owner_only` a file it creates is readable and writable by its owner
  /// alone (POSIX mode 0600, whatever the umask).
  [[nodiscard]] Status openHeld(const std::string& name, bool owner_only,
                                std::string* detail = nullptr);
  /// Removes the name of a file opened with openHeld() while it is still
  /// held, so that no other process can take it in between.
  [[nodiscard]] Status removeHeld(const std::string& name,
                                  std::string* detail = nullptr);
  /// Reads up to n bytes. *got is the number read; fewer than n only at the
  /// end of the file or on failure. Retries interrupted calls.
  [[nodiscard]] Status read(void* buffer, std::size_t n, std::size_t* got,
                            std::string* detail = nullptr);
  /// Writes n bytes. *written is the number taken; fewer than n means the
  /// write failed part-way (kOther), as on a full disk.
  [[nodiscard]] Status write(const void* buffer, std::size_t n,
                             std::size_t* written,
                             std::string* detail = nullptr);
  /// Reads up to n bytes from byte `offset`; several threads may read one
  /// File so at once. Fewer than n only at the end of the file or on
  /// failure. Where the position is afterwards differs by system (Windows
  /// moves it), so a File is read either at offsets or from its position.
  [[nodiscard]] Status readAt(std::int64_t offset, void* buffer, std::size_t n,
                              std::size_t* got,
                              std::string* detail = nullptr) const;
  /// Writes n bytes at byte `offset`, as write() does at the position.
  [[nodiscard]] Status writeAt(std::int64_t offset, const void* buffer,
                               std::size_t n, std::size_t* written,
                               std::string* detail = nullptr);
  /// The file's ContentStamp.
  [[nodiscard]] Status contentStamp(ContentStamp* stamp,
                                    std::string* detail = nullptr) const;
  /// Copies n bytes from byte `offset` of this file to `to` at its
  /// position, inside the system where it can (no pass through this
  /// process's memory); *copied is the number copied, fewer than n only at
  /// the end of this file or on failure.
  [[nodiscard]] Status copyRangeTo(std::int64_t offset, std::size_t n, File* to,
                                   std::size_t* copied,
                                   std::string* detail = nullptr) const;
  /// Maps bytes [offset, offset + length) of the file read-only into
  /// *view. kOther where files are read instead (Windows), where the
  /// system refuses, or while a test plants faults in file calls (those
  /// are counted on reads); the caller then reads.
  [[nodiscard]] Status mapRange(std::int64_t offset, std::size_t length,
                                MappedRange* view) const;
  /// Creates an unnamed scratch file for reading and writing in the folder
  /// of `beside` (a file name): the system removes it when it is closed or
  /// the process ends, however that happens. kOther where none can be made.
  [[nodiscard]] Status createScratch(const std::string& beside,
                                     std::string* detail = nullptr);
  /// Cuts the file to `bytes` (or extends it with zeros).
  [[nodiscard]] Status resize(std::int64_t bytes,
                              std::string* detail = nullptr);
  /// Moves the position back to the start; with `truncate` also cuts the
  /// file to 0 bytes.
  [[nodiscard]] Status rewind(bool truncate, std::string* detail = nullptr);
  /// The size of the open file in bytes.
  [[nodiscard]] Status size(std::int64_t* bytes,
                            std::string* detail = nullptr) const;
  /// Which file this is (see FileIdentity). An open file stays the file it
  /// is, so what the open learnt is not asked of the system again.
  [[nodiscard]] Status identity(FileIdentity* id,
                                std::string* detail = nullptr) const;
  /// Gives the file this moment as its modification time, as if it had
  /// just been written (on Windows its creation time too, as a file newly
  /// created would have).
  [[nodiscard]] Status touchNow(std::string* detail = nullptr);
  /// Leaves the file readable and writable by its owner alone (POSIX mode
  /// 0600). On Windows the folder's inherited permissions stay: nothing to
  /// do.
  [[nodiscard]] Status restrictToOwner(std::string* detail = nullptr);
  /// Blocks until this process holds the only exclusive lock on the file.
  /// The lock ends when the file is closed.
  [[nodiscard]] Status lockExclusive(std::string* detail = nullptr);
  /// Waits until what was written is on the disk.
  [[nodiscard]] Status sync(std::string* detail = nullptr);
  /// Closes the file; a failure here can mean data never reached the disk.
  [[nodiscard]] Status close(std::string* detail = nullptr);

  bool isOpen() const { return handle_ >= 0; }

 private:
  std::intptr_t handle_ = -1;
  // Set by an open that looked at the file it opened; valid while it is open.
  FileIdentity identity_;
  bool identity_known_ = false;
};

/// Memory for a buffer that is filled once from front to back. A block of
/// at least a huge page (2 MiB) is backed by huge pages where the system
/// offers them, so that filling it takes a few hundred times fewer page
/// faults than ordinary memory; a smaller one takes ordinary pages, each
/// faulted in only once it is written. Move-only; the memory is given back
/// on destruction.
class LargeBlock {
 public:
  LargeBlock() = default;
  ~LargeBlock();
  LargeBlock(const LargeBlock&) = delete;
  LargeBlock& operator=(const LargeBlock&) = delete;
  LargeBlock(LargeBlock&& other) noexcept
      : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  LargeBlock& operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
      release();
      data_ = other.data_;
      size_ = other.size_;
      other.data_ = nullptr;
      other.size_ = 0;
    }
    return *this;
  }

  /// Gives back what the block held and reserves at least `bytes`; false
  /// when the memory cannot be had (the block is then empty).
  [[nodiscard]] bool allocate(std::size_t bytes);
  std::uint8_t* data() const { return data_; }
  /// The bytes reserved, at least those asked for.
  std::size_t size() const { return size_; }

 private:
  void release();
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

/// A read-only view of bytes of an open file, mapped into memory, so that
/// they are read where the file's pages already are instead of being
/// copied. Move-only; the view ends on destruction. Touching a page of a
/// file that another program cut shorter meanwhile is no ordinary memory
/// fault: it must happen inside runReadingMaps(), which turns it into a
/// failed read.
class MappedRange {
 public:
  MappedRange() = default;
  ~MappedRange() { release(); }
  MappedRange(const MappedRange&) = delete;
  MappedRange& operator=(const MappedRange&) = delete;
  MappedRange(MappedRange&& other) noexcept { take(other); }
  MappedRange& operator=(MappedRange&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }

  /// The first byte asked for; nullptr when nothing is mapped.
  const std::uint8_t* data() const { return data_; }
  /// How many bytes may be read from data() on: those asked for and the
  /// rest of the last page (zeros past the end of the file).
  std::size_t readable() const { return readable_; }
  void release();

 private:
  friend class File;
  void take(MappedRange& other) {
    base_ = other.base_;
    length_ = other.length_;
    data_ = other.data_;
    readable_ = other.readable_;
    other.base_ = nullptr;
    other.length_ = 0;
    other.data_ = nullptr;
    other.readable_ = 0;
  }
  void* base_ = nullptr;
  std::size_t length_ = 0;
  const std::uint8_t* data_ = nullptr;
  std::size_t readable_ = 0;
};

/// Runs work(context) and tells whether it ran to its end: false when it
/// touched a page of a MappedRange whose file had been cut shorter than
/// the view (its bytes are gone, as for a read that fails). The work must
/// hold nothing that needs to be let go when it is broken off there: no
/// allocation of its own, no lock. On a system that maps no file it simply
/// runs the work.
[[nodiscard]] bool runReadingMaps(void (*work)(void*), void* context);

/// A lock with one condition, for threads that hand work to one another.
/// Not movable; lock() and unlock() pair up on one thread, wait() is called
/// holding the lock and returns holding it.
class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;
  void lock();
  void unlock();
  /// Lets the lock go until notifyAll() is called (or a spurious wake-up:
  /// callers wait in a loop over their own condition).
  void wait();
  void notifyAll();

 private:
  alignas(16) unsigned char storage_[128];
};

/// Creates a file holding exactly `content`, atomically: other processes see
/// either no file or the whole content, and a process killed on the way
/// leaves nothing behind. Fails (kOther, *exists set) when a file of that
/// name exists already.
[[nodiscard]] Status createNewWithContent(const std::string& name,
                                          const std::string& content,
                                          bool* exists,
                                          std::string* detail = nullptr);
/// Puts `content` in place of a file of Pelmora's own, or creates it, whole
/// or not at all: it is written under a private name beside the file, which
/// then takes the name in one step. Other processes see the old content or
/// the whole new one; a full disk leaves the old file as it was, and a
/// process killed on the way at most its private name, which a later
/// process of the same number clears. Only a file this process could
/// rewrite in place is replaced: anything else of that name (a folder, a
/// FIFO, a link, a file with another name, one it may not write) is left as
/// it is, and the call fails with *refused set, as it does when no file can
/// be made beside it; *refused is clear when the writing itself failed.
[[nodiscard]] Status replaceWithContent(const std::string& name,
                                        const std::string& content,
                                        bool* refused,
                                        std::string* detail = nullptr);
/// Deletes a file.
[[nodiscard]] Status removeFile(const std::string& name,
                                std::string* detail = nullptr);
/// Renames a file, replacing the destination when it exists.
[[nodiscard]] Status renameFile(const std::string& from, const std::string& to,
                                std::string* detail = nullptr);
/// True when a file (or folder) of that name exists.
bool fileExists(const std::string& name);
/// True when the name itself is a symbolic link (on Windows any reparse
/// point), whatever it points to, or a file that has other names too (a
/// hard link): a name Pelmora must not write its own file through.
bool isLinkedName(const std::string& name);
/// Which file a name reaches, links followed (see FileIdentity).
[[nodiscard]] Status fileIdentity(const std::string& name, FileIdentity* id,
                                  std::string* detail = nullptr);
/// The size of a named file in bytes, as a 64-bit count.
[[nodiscard]] Status fileSize(const std::string& name, std::int64_t* bytes,
                              std::string* detail = nullptr);

/// Failures a test plants in this process's file calls, so that a full
/// disk, a write cut short, a file that cannot be read or written and an
/// open that is refused can be tested within one process on every system.
/// The n-th read, write, resize or LargeBlock counts from the moment of
/// planting, from 1; 0 plants nothing. Only calls on files count, never those
/// on standard output or error. The program itself plants none.
struct PlantedFaults {
  /// Opens of this name that would write fail, as for a read-only file.
  std::string read_only;
  /// Opens of this name that would read fail, as for a write-only file.
  std::string write_only;
  int fail_reads_from = 0;   ///< the n-th read and every later one fail
  int short_write = 0;       ///< the n-th write takes half of its bytes
  int fail_writes_from = 0;  ///< the n-th write and every later one fail
  /// Every write of more bytes than this fails: a disk with room for small
  /// files only.
  std::size_t fail_writes_over = 0;
  /// The n-th LargeBlock and every later one cannot be had.
  int fail_large_blocks_from = 0;
  /// The n-th File::resize and every later one fail, as when a process is
  /// killed between a write and the cut that follows it.
  int fail_resizes_from = 0;
};
/// Plants the faults, counting from now; PlantedFaults{} removes them.
void plantFaultsForTesting(const PlantedFaults& faults);

/// How long File::openHeld() waits for a file another holder keeps, in
/// milliseconds: 60000 unless a test shortens it.
void setHeldWaitForTesting(int milliseconds);

/// The value of an environment variable; empty when it is not set.
std::string environmentValue(const std::string& name);

/// The local date and time as the user's locale writes them: the short
/// date, a blank and the long time, or the short date alone in the first
/// second after midnight. Tests may replace the clock (setClockForTesting).
std::string localDateTimeText();
/// Replaces the clock behind localDateTimeText(); nullptr restores it.
void setClockForTesting(std::string (*clock)());

/// Writes bytes to standard output unchanged (no line-end translation).
[[nodiscard]] Status writeStandardOutput(const void* buffer, std::size_t n);
/// Writes one line of text to standard error: the only console output the
/// program makes, used when the error log itself cannot be written.
void writeStandardError(const std::string& line);

/// The folder that holds the running executable, without a trailing
/// separator; empty when it cannot be found.
std::string executableFolder();
/// The character that joins a folder and a file name ("/" or "\").
char directorySeparator();
/// Where an installed table lives relative to the executable:
/// the normal form of <executable folder>/../share/pelmora/<name>.
std::string fixedTablePath(const std::string& name);

/// The number of processors this process may run on; at least 1.
unsigned processorCount();

/// The most tasks runInParallel() runs at once; task indexes beyond it run
/// one after another on the calling thread.
constexpr std::size_t kMostParallelTasks = 16;

/// Runs work(context, 0), ..., work(context, count - 1) side by side and
/// returns when all have ended. Task 0 runs on the calling thread, the
/// others each on a thread of their own; a task whose thread cannot be
/// started runs on the calling thread after task 0, so every task runs
/// exactly once whatever the system allows. The tasks must not stop the
/// process or report errors themselves.
void runInParallel(std::size_t count, void (*work)(void*, std::size_t),
                   void* context);

/// Sets up the process before anything else runs, before any file is
/// opened. On POSIX a closed pipe on standard output must not kill the
/// program with a signal: the write simply fails, and the run ends with its
/// own exit code. A standard stream the process was started without (closed
/// on POSIX, missing or invalid on Windows) is never written to: its number
/// is filled with /dev/null on POSIX (the process ends with exit code 1 when
/// it cannot be), so that no file opened later takes it; a write to such
/// standard output fails, one to such standard error goes nowhere.
void initializeProcess();

/// Ends the process with the exit code as the shell sees it
/// (-1 reaches a POSIX shell as 255).
[[noreturn]] void exitProcess(int code);

/// The size check of the wide file, and nothing more: the engines stream the
/// file and hold no array of its size. A 32-bit build still refuses a wide
/// file of more than 2 GiB - 1 bytes (reported as unreadable, 229), as it
/// did when it held the whole file; a 64-bit build takes any size.
constexpr std::uint64_t kLargestWideFileBytes =
    sizeof(void*) >= 8 ? (std::uint64_t{1} << 62)
                       : (std::uint64_t{1} << 31) - 1;

/// The processor runs AVX2 instructions (false off x86, and on Windows).
bool processorHasAvx2();
/// The processor runs SSSE3 instructions (false off x86).
bool processorHasSsse3();

}  // namespace platform

#endif  // PELMORA_PLATFORM_PLATFORM_H_
