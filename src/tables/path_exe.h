// The search of the program folders listed in the Path variable.
#ifndef PELMORA_TABLES_PATH_EXE_H_
#define PELMORA_TABLES_PATH_EXE_H_

#include <string>

/// Probes "<folder><separator><file name>" for every folder of Path, in
/// order, and returns the first candidate that opens.
class CommandPath {
 public:
  CommandPath() = default;
  CommandPath(const CommandPath&) = delete;
  CommandPath& operator=(const CommandPath&) = delete;

  /// Stores the report flag and reads Path.
  void start(bool report);
  /// The first candidate that opens, or an empty text.
  std::string search(const std::string& file_name);

 private:
  bool report_ = false;
  std::string path_;
};

#endif  // PELMORA_TABLES_PATH_EXE_H_
