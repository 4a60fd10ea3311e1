// TimeNames: the error log's serial number and the err file names made from it.
#ifndef PELMORA_DIAGNOSTICS_TIME_NAME_H_
#define PELMORA_DIAGNOSTICS_TIME_NAME_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"

/// The counter file that keeps the last serial number between runs.
inline constexpr const char* kSerialFileName = "serial.txt";
/// The file that receives the counter handling's own failures (230-232).
inline constexpr const char* kCounterErrorFileName = "error.txt";

/// Loads, advances and stores the serial number in serial.txt and forms the
/// err file name "<prefix><serial>-<minutes>-<seconds><extension>".
///
/// serial.txt is held under an exclusive lock from setUp() to the rewrite in
/// nextName(), so runs started together in one folder never share a number.
/// The rewrite puts the new number over the old one before it cuts the file,
/// so a process killed on the way leaves a number, not an empty counter; a
/// counter made anew appears whole or not at all, so a full disk never
/// leaves an empty one either.
/// Failures of the counter go into error.txt (or to standard error when even
/// that fails); none of them stops the caller.
class TimeNames {
 public:
  TimeNames() = default;
  TimeNames(const TimeNames&) = delete;
  TimeNames& operator=(const TimeNames&) = delete;

  /// Stores prefix and extension, locks serial.txt and reads the serial
  /// number from its first line (creating it with "0" when it is missing).
  /// Returns the number read.
  std::int32_t setUp(const std::string& prefix, const std::string& extension);

  /// Builds the next err file name; with advance set, first moves the serial
  /// number on and rewrites serial.txt (releasing the lock).
  std::string nextName(bool advance);

  /// The counter parse: an optional sign and decimal digits that fit a
  /// signed 32-bit integer; -1 for anything else, reported by nobody here
  /// (the caller writes error 230). Option numbers follow other rules:
  /// NumberedTerm::unsigned_sequence_to_integer.
  static std::int32_t signed_sequence_to_integer(const std::string& text,
                                                 bool* ok);

  /// Minutes and seconds cut out of a date-time text as the err file name
  /// takes them; empty when the text has no ":" where they should be.
  static std::string minutesOf(const std::string& date_time);
  static std::string secondsOf(const std::string& date_time);

  /// The serial number that follows n (0 after the largest 32-bit value).
  static std::int32_t following(std::int32_t n);

  /// The serial number shared by every report of this process.
  static std::int32_t serialNumber();
  static void resetSerialNumberForTesting();

 private:
  void recordCounterFailure(const std::string& text);

  std::string prefix_;
  std::string extension_;
  platform::File serial_file_;  // open and locked between setUp and nextName
  bool serial_writable_ = false;
};

#endif  // PELMORA_DIAGNOSTICS_TIME_NAME_H_
