// The selection engine: the whole wide file in memory as UTF-16 code units,
// Field-N of every line converted to Shift_JIS, the narrow output built in
// memory and written once.
#ifndef PELMORA_SELECT_SELECT_UTF16_H_
#define PELMORA_SELECT_SELECT_UTF16_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tables/survivor_utf16.h"

class FinalEffects;

/// The temporary file of the -t and -b routes.
inline constexpr const char* kTemporaryFileName = "binary.tmp";

/// Line ends of the narrow output.
enum class LineEnd { kCrLf, kLf };

/// The engine families, chosen by the main routine from the settled options.
enum class Column { kDecimal, kInteger, kPlain, kFiltered };

/// Results of the block write.
inline constexpr int kWriteOk = 0;
inline constexpr int kWriteFailed = -2;

/// Owns the code units, the output bytes and the conversion table of one
/// run. Created empty; buildClassTable() then prepareRun() fill it.
class Selecting {
 public:
  /// Bytes per read and write of the temporary copies: a narrow file of
  /// hundreds of megabytes is copied in hundreds of calls, not a hundred
  /// thousand.
  static constexpr std::size_t kCopyBlock = std::size_t{1} << 20;
  /// The class table covers the single-byte values 0x00..0xDF.
  static constexpr std::size_t kClassTableSize = 224;
  /// A class-table value that drops the character.
  static constexpr std::uint8_t kDrop = 7;
  /// What a code unit above 0xFF without a code writes: the default
  /// character of the code page's own conversion.
  static constexpr std::uint8_t kNoCodeByte = '?';

  Selecting();
  ~Selecting();
  Selecting(const Selecting&) = delete;
  Selecting& operator=(const Selecting&) = delete;

  /// Builds the class table from the settled options.
  void buildClassTable(const FinalEffects& options);

  /// Copies the settings, probes the wide file for a byte-order mark, sizes
  /// it and loads the conversion table with the supplementary list. A
  /// missing or unreadable wide file is reported (229, then 222 with the
  /// count -1) and leaves unitCount() at -1. The table search may stop the
  /// program.
  void prepareRun(const FinalEffects& options, const std::string& wide_name);

  /// Stops the program with exit_code when the wide file could not be read.
  void unreadFileStop(int exit_code) const;

  /// Runs one engine to a file; returns kWriteOk or
  /// kWriteFailed (reported as 215). A wide file that cannot be read is
  /// reported with the engine's own number and stops the program (1), and
  /// so does a narrow output that does not fit in memory (223); in both
  /// cases nothing is written.
  int runToFile(Column column, LineEnd line_end,
                const std::string& output_name);
  /// Runs one engine to standard output (CR LF line ends); returns the
  /// number of lines ended.
  std::int64_t runToStandardOutput(Column column);

  /// Copies data.txt to standard output, each line ended by CR LF. False
  /// (after report 216) when it cannot be read; a failed write to standard
  /// output is reported (242) and stops the run with exit code 1.
  bool echoDataText();

  /// Stops the run (243, exit code 1) when the narrow file is the wide
  /// file under another name (or the same one): writing it would destroy
  /// the input before a byte of it is kept anywhere.
  void narrowIsNotWideStop(const std::string& narrow_name) const;

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
  /// The -t refresh: the wide file's bytes are copied out to binary.tmp,
  /// then back into a new file beside the wide file that takes its place in
  /// one step (a link's target is what is replaced; the permission bits
  /// stay). At no moment is the wide file missing or shorter. Failures stop
  /// the run with exit code 1: 193 when the wide file cannot be copied out
  /// or replaced, 221 when the copy back fails; the wide file is untouched.
  void refreshWide();
  /// Runs one engine into the held binary.tmp (the -b route); kWriteOk, or
  /// kWriteFailed after reporting 215 with "binary.tmp".
  [[nodiscard]] int runToTemporary(Column column, LineEnd line_end);
  /// Copies binary.tmp to the narrow file; returns the bytes copied. When
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

  // Read access for the engines' tests.
  std::int64_t unitCount() const { return unit_count_; }
  std::int64_t startIndex() const { return start_index_; }
  std::int64_t lineCounter() const { return line_counter_; }
  std::uint8_t classValue(std::uint32_t value) const;
  const SurvivorsUTF16* table() const { return table_.get(); }

 private:
  /// The narrow output of one run, kept in memory until the scan is over so
  /// that a wide file that fails part-way leaves nothing written. It grows
  /// in blocks, so no huge array has to be found in one piece.
  class OutputBlocks {
   public:
    /// Makes room for at least `bytes` more bytes in the current block;
    /// false when memory ran out.
    bool reserve(std::size_t bytes);
    std::uint8_t* cursor() { return cursor_; }
    void advance(std::uint8_t* to) { cursor_ = to; }
    std::int64_t size() const;
    /// Moves the blocks of `other` behind these; false when memory ran
    /// out (both then keep what they held).
    bool append(OutputBlocks&& other);
    /// Calls sink(data, length) for each block in order; stops at the first
    /// call that returns false.
    template <class Sink>
    bool forEach(Sink sink) const;

   private:
    struct Block {
      platform::LargeBlock memory;
      std::size_t used = 0;
    };
    void closeCurrent();
    std::vector<Block> blocks_;
    std::uint8_t* cursor_ = nullptr;
    std::uint8_t* limit_ = nullptr;
  };

  enum class ScanEnd { kDone, kReadFailed, kNoRoom };
  ScanEnd scanWideFile(Column column, LineEnd line_end, std::int64_t* lines,
                       std::int64_t* failed_capacity);
  template <class Scanner, class Settings>
  ScanEnd scanParts(const Settings& settings, std::int64_t* lines,
                    std::int64_t* failed_capacity);
  /// Scans the wide file into the output; a read failure or an output that
  /// does not fit in memory is reported and stops the program.
  void scanOrStop(Column column, LineEnd line_end, bool to_file);
  int blockWrite();
  bool writeOutput(platform::File* file);
  bool temporaryIsWide() const;

  /// binary.tmp while this run holds it.
  platform::File temporary_;
  /// binary.tmp is a file the user named, never to be removed.
  bool temporary_is_users_ = false;

  std::int64_t start_index_ = 0;
  std::array<std::uint8_t, kClassTableSize> class_table_{};
  std::int64_t unit_count_ = -1;
  OutputBlocks output_;
  std::int64_t line_counter_ = -1;
  std::string wide_name_;
  std::string output_name_;
  std::uint8_t quote_byte_ = '"';
  bool quoted_separator_dropped_ = false;
  std::int32_t field_number_ = 0;
  std::uint8_t separator_byte_ = ',';
  std::uint8_t completion_char_ = '0';
  std::unique_ptr<SurvivorsUTF16> table_;
};

#endif  // PELMORA_SELECT_SELECT_UTF16_H_
