// The selection engine: the whole wide file in memory as UTF-16 code units,
// Field-N of every line converted to Shift_JIS, the narrow output built in
// memory and written once.
#ifndef PELMORA_SELECT_SELECT_UTF16_H_
#define PELMORA_SELECT_SELECT_UTF16_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>

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
  /// Bytes per block of the narrow-file writes and the temporary copies.
  static constexpr std::size_t kWriteBlock = 4096;
  /// The class table covers the single-byte values 0x00..0xDF.
  static constexpr std::size_t kClassTableSize = 224;
  /// A class-table value that drops the character.
  static constexpr std::uint8_t kDrop = 7;

  Selecting();
  ~Selecting();
  Selecting(const Selecting&) = delete;
  Selecting& operator=(const Selecting&) = delete;

  /// Builds the class table from the settled options.
  void buildClassTable(const FinalEffects& options);

  /// Copies the settings, probes the wide file for a byte-order mark, sizes
  /// it, reserves the arrays and loads the conversion table with the
  /// supplementary list. A missing or unreadable wide file is reported (229)
  /// and leaves unitCount() at -1. The table search may stop the program.
  void prepareRun(const FinalEffects& options, const std::string& wide_name);

  /// Stops the program with exit_code when the wide file could not be read.
  void unreadFileStop(int exit_code) const;
  /// Ends with exit code 1 when preparation could not reserve the arrays.
  void reservationStop() const;

  /// Runs one engine to a file (or "binary.tmp"); returns kWriteOk or
  /// kWriteFailed (reported as 215). A wide file that cannot be read is
  /// reported with the engine's own number and stops the program (1).
  int runToFile(Column column, LineEnd line_end,
                const std::string& output_name);
  /// Runs one engine to standard output (CR LF line ends); returns the
  /// number of lines ended.
  std::int64_t runToStandardOutput(Column column);

  /// Copies data.txt to standard output, each line ended by CR LF. False
  /// (after report 216) when it cannot be read.
  bool echoDataText();

  /// The byte copies of the -t and -b routes through "binary.tmp". Each
  /// returns the number of bytes copied; a failure is reported (193 or 221)
  /// and stops the program, leaving the source of the copy in place.
  std::int64_t copyToTemporary(const std::string& source, bool keep);
  std::int64_t copyFromTemporary(const std::string& destination, bool keep);
  /// After the engine failed to write "binary.tmp": reports the copy to
  /// the destination as failed (221) and stops with exit code 1.
  [[noreturn]] void temporaryRouteStop(const std::string& destination) const;

  // Read access for the engines' tests.
  std::int64_t unitCount() const { return unit_count_; }
  std::int64_t outputCapacity() const { return output_capacity_; }
  std::int64_t startIndex() const { return start_index_; }
  std::int64_t lineCounter() const { return line_counter_; }
  std::uint8_t classValue(std::uint32_t value) const;
  const SurvivorsUTF16* table() const { return table_.get(); }
  /// The output bytes of the last file run.
  const std::uint8_t* outputBytes() const { return output_.get(); }
  std::int64_t outputLength() const { return output_length_; }

  /// Replaces the conversion table (tests build tables by hand).
  void setTableForTesting(std::unique_ptr<SurvivorsUTF16> table);

 private:
  template <class Sink>
  void runEngine(Column column, LineEnd line_end, Sink& sink);
  bool readWholeFile();
  int blockWrite(std::int64_t count);
  bool reserveOutput(Column column);
  std::int64_t copyThrough(const std::string& from, const std::string& to,
                           bool keep, const std::string& failure_message);

  std::int64_t start_index_ = 0;
  std::array<std::uint8_t, kClassTableSize> class_table_{};
  std::unique_ptr<std::uint16_t[]> units_;
  std::int64_t unit_count_ = -1;
  std::unique_ptr<std::uint8_t[]> output_;
  std::int64_t output_capacity_ = 0;
  std::int64_t output_length_ = 0;
  std::int64_t line_counter_ = -1;
  bool reservation_failed_ = false;
  const FinalEffects* options_ = nullptr;
  std::string wide_name_;
  std::uint8_t katakana_replacement_ = '_';
  std::string output_name_;
  std::uint8_t quote_byte_ = '"';
  bool quoted_separator_dropped_ = false;
  std::int32_t field_number_ = 0;
  std::uint8_t separator_byte_ = ',';
  std::uint8_t completion_char_ = '0';
  std::unique_ptr<SurvivorsUTF16> table_;
};

#endif  // PELMORA_SELECT_SELECT_UTF16_H_
