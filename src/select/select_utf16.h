// The engine frame (Selecting): one run's settings and conversion table, the
// wide file streamed through the scanners, Field-N of every line converted
// to Shift_JIS and kept in memory, then written once; and the file steps
// around it (the binary.tmp routes, the data.txt echo).
#ifndef PELMORA_SELECT_SELECT_UTF16_H_
#define PELMORA_SELECT_SELECT_UTF16_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "select/output_blocks.h"
#include "select/replacement_bytes.h"
#include "select/scan_settings.h"
#include "select/select_types.h"
#include "select/wide_coding.h"
#include "tables/survivor_utf16.h"

class DataNote;
class FinalEffects;
class HeldOutput;
namespace parts {
enum class ScanEnd;  // part_scheduler.h
}  // namespace parts

/// The temporary file of the -t and -b routes.
inline constexpr const char* kBinaryTmpName = "binary.tmp";

/// Owns the settings, the output bytes and the conversion table of one run.
/// Created empty; buildReplacementBytes() then prepareRun() fill it.
class Selecting {
 public:
  /// Bytes per read and write of the temporary copies: a narrow file of
  /// hundreds of megabytes is copied in hundreds of calls, not a hundred
  /// thousand.
  static constexpr std::size_t kCopyBlock = std::size_t{1} << 20;
  /// A replacement byte that drops the character (replacement_bytes.h).
  static constexpr std::uint8_t kDrop = kDropByte;

  Selecting();
  ~Selecting();
  Selecting(const Selecting&) = delete;
  Selecting& operator=(const Selecting&) = delete;

  /// Builds the replacement-byte table from the settled options: what each
  /// single-byte value writes, or kDrop.
  void buildReplacementBytes(const FinalEffects& options);

  /// Copies the settings, opens the wide file (the only open of it in the
  /// run: every later step reads, and -t writes, through it), probes it for
  /// a byte-order mark, sizes it and loads the conversion table with the
  /// supplementary list. With -t and a narrow file the wide file is opened
  /// for writing too when it may be written. A missing or unreadable wide
  /// file is reported (229, then 222 with the count -1) and leaves
  /// unitCount() at -1. The table search may stop the program.
  /// With -M the table search's note goes through `note` (the run's held
  /// data.txt). A workbook named as the wide file is refused at once (246,
  /// exit code 1).
  void prepareRun(const FinalEffects& options, const std::string& wide_name,
                  DataNote* note = nullptr);

  /// Stops the program with exit_code when the wide file could not be read.
  void unreadFileStop(int exit_code) const;

  /// The preparation of a run that is only looked at (pelmora-check): the
  /// settings are copied, the wide file is opened for reading alone, sized
  /// and probed as prepareRun() does it, and the conversion table is
  /// searched and loaded with the supplementary list. Nothing is reported
  /// but what the table search and surro.txt report, no note is written,
  /// and nothing stops the program (but a bad number in surro.txt, 158, as
  /// in a run). Gives the table search, with its refusal when the run
  /// would have no table; wideBytes() is -1 when the wide file cannot be
  /// read (229), and isWorkbook() tells 246.
  TableSearch prepareInspection(const FinalEffects& options,
                                const std::string& wide_name);
  /// The wide file begins as a workbook does (246).
  bool isWorkbook() const { return workbook_; }

  /// Where a sample of the head of the wide file ends: just after the last
  /// line feed in the first `most_bytes` bytes after the mark, at the end
  /// of the file when that comes first, or at `most_bytes` when they hold
  /// no line feed. -1 when the file cannot be read.
  std::int64_t sampleEnd(std::int64_t most_bytes) const;
  /// The bytes from the mark to `end` (a sampleEnd()) decoded into code
  /// units as the scan decodes them. False when they cannot be read or held.
  [[nodiscard]] bool decodeHead(std::int64_t end, std::u16string* units) const;
  /// Scans the wide file from the mark to `end` (a sampleEnd()) with the
  /// engine of `column`, exactly as runToFile() scans the whole file, and
  /// gives the narrow bytes in *narrow: nothing is written, nothing is
  /// reported and nothing stops. False when the bytes cannot be read or
  /// the output held.
  [[nodiscard]] bool scanToMemory(Column column, LineEnd line_end,
                                  std::int64_t end, std::string* narrow);

  /// Runs one engine to the narrow file held by holdNarrowOrStop() (held
  /// here first when it is not yet); returns WriteResult::kWritten or
  /// WriteResult::kFailed (reported as 215). The file is cut and written
  /// through its open only once the scan is over. A wide file that cannot
  /// be read is reported with the engine's own number and stops the program
  /// (1), and so does a narrow output that does not fit in memory (223); in
  /// both cases nothing is written.
  WriteResult runToFile(Column column, LineEnd line_end,
                        const std::string& output_name);
  /// Runs one engine to standard output (CR LF line ends); returns the
  /// number of lines ended.
  std::int64_t runToStandardOutput(Column column);

  /// Opens the narrow file once for the rest of the run, before the scan
  /// and without cutting it (made when it is missing; a link followed as the
  /// user's own name), and stops the run (exit code 1, nothing written) when
  /// writing it would destroy a file the user needs, decided on that open,
  /// not on the name: 243 when it is the wide file; 245 when it is another
  /// file this run reads (the table it loaded, `settings_name`, surro.txt,
  /// set_dravikson.txt); 244 when it exists and holds an export in a
  /// Unicode coding (a byte-order mark, UTF-16 without one, or UTF-8 with
  /// a character beyond ASCII), which Pelmora's own Shift_JIS output never
  /// is (as when the two names were swapped), or may be written but not
  /// read, so that what it holds cannot be checked. With -M
  /// a narrow file that is the held data.txt is written through the note's
  /// open (`note`). A narrow file that cannot be opened is reported when it
  /// is to be written.
  void holdNarrowOrStop(const std::string& narrow_name,
                        const std::string& settings_name,
                        DataNote* note = nullptr);

  /// Which refusal writing the narrow file would meet, decided on its open
  /// `narrow_file` (on the name when nullptr: a file that cannot be opened,
  /// and so will not be written): 243, 245, 244 (an export in a Unicode
  /// coding, wide_coding::isUnicodeExport; a device or FIFO, `special`, is
  /// not read) as holdNarrowOrStop() says, or 0. Needs prepareRun();
  /// changes nothing.
  int narrowRefusal(const platform::File* narrow_file, bool special,
                    const std::string& narrow_name,
                    const std::string& settings_name) const;

  /// The -t and -b routes go through "binary.tmp", which this run holds
  /// from here to releaseTemporary(): another run in the same folder that
  /// takes either route waits until then, so no run reads, overwrites or
  /// erases another's bytes there. Stops the run (exit code 1) when
  /// binary.tmp cannot be had (a folder, a link, no room), with the report
  /// of the step that needs it first (193 for -t; 215 and 221 for -b), and
  /// on the -b route when binary.tmp is the wide file (243: the engine would
  /// write over it).
  void holdTemporaryOrStop(bool refresh, bool routed,
                           const std::string& narrow_name);
  /// The -t refresh: the wide file's bytes are copied out to binary.tmp
  /// through the open wide file and checked to be still the file, the size
  /// and the bytes that were copied; then the open file takes this moment
  /// as its time. No byte of the wide file is written, so a save by another
  /// program at any moment stays whole, and the file keeps its blocks,
  /// inode, links, owner, mode, ACLs and attributes. Failures stop the run
  /// with exit code 1: 193 when the wide file may not be written, cannot be
  /// copied out, or changed (size, identity, content) meanwhile, binary.tmp
  /// removed; 221 when its time cannot be set, binary.tmp kept with the
  /// copy.
  void refreshWide();
  /// runToFile() with refreshWide() made while the scan goes on, on a
  /// thread of its own, and binary.tmp let go after it (removed unless
  /// `keep_temporary`): the refresh's failures stop the run as they do
  /// before a scan, before anything of the scan is reported or the narrow
  /// file is let go as written (a narrow file this run created is removed
  /// again).
  WriteResult runToFileRefreshing(Column column, LineEnd line_end,
                                  const std::string& output_name,
                                  bool keep_temporary);
  /// Runs one engine into the held binary.tmp (the -b route);
  /// WriteResult::kWritten, or WriteResult::kFailed after reporting 215 with
  /// "binary.tmp".
  WriteResult runToTemporary(Column column, LineEnd line_end);
  /// Copies binary.tmp to the narrow file held by holdNarrowOrStop() (held
  /// here first when it is not yet), cut first; returns the bytes copied. When
  /// the narrow file is binary.tmp itself the bytes are already there. A
  /// failure is reported (221 with the narrow name) and stops the run,
  /// binary.tmp kept.
  std::int64_t copyFromTemporary(const std::string& destination);
  /// After the engine failed to write "binary.tmp": reports the copy to
  /// the destination as failed (221) and stops with exit code 1.
  [[noreturn]] void temporaryRouteStop(const std::string& destination) const;
  /// Lets binary.tmp go: it is removed unless `keep` (-y) is set or it is a
  /// file the user named (the wide or the narrow file).
  void releaseTemporary(bool keep);

  /// Makes the engines scan a wide file of at least 2 x least_part_units
  /// units in up to `parts` parts side by side (0: one per processor), so
  /// tests can reach the joins of parts with small files. Values <= 0
  /// restore the usual size.
  static void setPartsForTesting(std::int64_t least_part_units,
                                 std::size_t parts);
  /// Runs `hook` after every block the scan or the -t refresh reads from
  /// the wide file (nullptr: nothing), so tests can change the file while
  /// it is read.
  static void setBlockReadHookForTesting(void (*hook)());

  // Read access for the engines' tests.
  std::int64_t wideBytes() const { return wide_bytes_; }
  const wide_coding::Start& wideStart() const { return start_; }
  std::int64_t lineCounter() const { return line_counter_; }
  /// The replacement byte of `value` (kDrop above 0xDF).
  std::uint8_t replacementByte(std::uint32_t value) const {
    return replacementOf(replacement_bytes_.data(), value);
  }
  const SurvivorsUTF16* table() const { return table_.get(); }

 private:
  /// Copies what the scanners read from the settled options.
  void copySettings(const FinalEffects& options);
  /// Sizes and probes the opened wide file: wide_bytes_ on success.
  void measureWide();
  /// Builds the run's unit tables and scans the wide file in parts, up to
  /// byte `range_end` (-1: its end).
  parts::ScanEnd scanWideFile(Column column, LineEnd line_end, OutputSink* sink,
                              std::int64_t* lines,
                              std::int64_t* failed_capacity,
                              std::int64_t range_end = -1);
  /// Scans the wide file into `sink`; a read failure or an output that
  /// does not fit in memory is reported and stops the program. False when
  /// the sink could not write.
  [[nodiscard]] bool scanOrStop(Column column, LineEnd line_end, bool to_file,
                                OutputSink* sink);
  /// The narrow file's write after a scan into it (`written`: every byte
  /// taken) or into `held`: the run's result, 215 reported on a failure.
  WriteResult finishNarrowWrite(bool written, const HeldOutput* held);
  bool isWide(const platform::File& file) const;
  bool probeCoding(std::int64_t bytes);
  bool copyOutForRefresh(std::int64_t size);
  /// The refresh's copy and checks, reporting nothing: true when binary.tmp
  /// holds the file as it still is.
  bool copyForRefresh();
  bool refreshPossible() const;
  /// Reports a failed copy (193) or sets the time (221 when it cannot);
  /// both failures stop the run.
  void finishRefresh(bool same);
  /// Reports what a scan's end means: a read failure or no room stops the
  /// run; false when the sink could not write.
  [[nodiscard]] bool reportScan(parts::ScanEnd scanned, std::int64_t lines,
                                std::int64_t failed_capacity, Column column,
                                LineEnd line_end, bool to_file);
  bool sameAsCopy(std::uint8_t* block, std::int64_t size);
  /// binary.tmp as this run uses it: the held file, the narrow file when
  /// that is binary.tmp, or nullptr when it is the wide file.
  platform::File* temporaryFile();
  /// The narrow file takes the bytes while the scan goes on (one this run
  /// created, a device, a FIFO), rather than once it has succeeded.
  bool narrowTakesBytesAsTheyCome() const;
  /// Cuts the narrow file (not a device or a FIFO) for a new content.
  bool cutNarrow();
  /// After the narrow file's one write: closes it (a failed close is a
  /// failed write), removes it when this run created it and could not fill
  /// it, and tells whether the output is whole under its name.
  bool finishNarrow(bool written);
  /// The narrow name still reaches the file written through its open: an
  /// output that another program took the name from is not where it was
  /// asked for.
  bool narrowStillNamed() const;
  /// Has releaseAtStop() called by a stop of the run.
  void releaseAtStopOnce();
  /// What a stop of the run lets go: a narrow file this run created and did
  /// not fill is removed, and so is binary.tmp, unless -y or a copy it must
  /// keep says otherwise.
  void releaseAtStop();

  /// The wide file, open from prepareRun() to the end of the run.
  platform::File wide_;
  /// It was opened for writing as well (-t).
  bool wide_writable_ = false;
  /// binary.tmp while this run holds it.
  platform::File temporary_;
  /// binary.tmp is a file the user named, never to be removed.
  bool temporary_is_users_ = false;
  /// binary.tmp is the wide file, or the narrow file.
  bool temporary_is_wide_ = false;
  bool temporary_is_narrow_ = false;
  /// binary.tmp stays at a stop: -y, or the copy of a refresh whose last
  /// step failed.
  bool keep_temporary_ = false;
  bool keep_copy_ = false;

  /// The narrow file, open from holdNarrowOrStop() to its write.
  platform::File narrow_;
  /// Where the narrow output goes: narrow_, or the -M note's open of
  /// data.txt; nullptr when the narrow file could not be opened.
  platform::File* narrow_target_ = nullptr;
  std::string narrow_name_;
  /// Which file the narrow name reached when it was opened.
  platform::FileIdentity narrow_identity_;
  bool narrow_held_ = false;
  bool narrow_created_ = false;
  bool narrow_special_ = false;
  bool narrow_written_ = false;
  bool stop_release_registered_ = false;

  wide_coding::Start start_;
  /// The wide file is a workbook (.xlsx, .ods, .xls), not an export.
  bool workbook_ = false;
  ReplacementBytes replacement_bytes_{};
  std::int64_t wide_bytes_ = -1;
  std::int64_t line_counter_ = -1;
  std::string wide_name_;
  std::string output_name_;
  /// The run's options as the scanners read them (field number, separator,
  /// quote, completion character); the per-scan parts are filled in when a
  /// scan starts.
  scanners::Settings settings_{};
  /// The most threads a scan may take (0: one per processor).
  std::size_t scan_threads_ = 0;
  std::unique_ptr<SurvivorsUTF16> table_;
};

#endif  // PELMORA_SELECT_SELECT_UTF16_H_
