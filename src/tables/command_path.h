// CommandPath: looks for a file in each folder the Path variable lists.
#ifndef PELMORA_TABLES_COMMAND_PATH_H_
#define PELMORA_TABLES_COMMAND_PATH_H_

#include <cstdint>
#include <string>
#include <vector>

/// Probes "<folder><separator><file name>" for every folder of Path, in
/// order, and returns the first candidate that opens.
///
/// The variable is read by its exact name "Path" on every platform. A
/// separator directly before a ";" is removed, so "D:\tools\;E:\bin" gives
/// the folders D:\tools and E:\bin; a separator at the very end is kept.
/// Folders are divided by the Shift_JIS splitter with ";" as separator, so a
/// quoted ";" is dropped and the quotes stay in the candidate, an empty
/// entry (";;") gives the candidate "<separator><file name>", and only the
/// first kPathFieldLimit folders are tried. The value is used whole,
/// however long.
///
/// Calling order: create, start, search once, destroy.
class CommandPath {
 public:
  /// The most folders of Path that are tried.
  static constexpr std::int32_t kPathFieldLimit = 256;

  CommandPath() = default;
  CommandPath(const CommandPath&) = delete;
  CommandPath& operator=(const CommandPath&) = delete;

  /// Stores the report flag and reads Path (empty when it is not set).
  void start(bool report);
  /// The first candidate that opens, or an empty text when none does or
  /// Path is empty. With the report flag, every candidate that fails leaves
  /// "Reset() error-208: <candidate>"; the search never stops the program.
  /// Every candidate probed is added to *tried unless it is nullptr.
  std::string search(const std::string& file_name,
                     std::vector<std::string>* tried = nullptr);
  /// Opens the candidate read-only and closes it again; true when it
  /// opened. A failure is reported (208) when the report flag is set.
  bool probe(const std::string& candidate);

  /// The prepared text of Path, as start left it.
  const std::string& pathText() const { return path_; }

 private:
  bool report_ = false;
  std::string path_;  // grows to the whole value; no 4096-byte cap
  std::int32_t path_length_ = 0;
  std::string file_name_;
  std::string candidate_;
};

#endif  // PELMORA_TABLES_COMMAND_PATH_H_
