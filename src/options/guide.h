// Guiding: prints the usage guide or the version line, by way of version.txt.
#ifndef PELMORA_OPTIONS_GUIDE_H_
#define PELMORA_OPTIONS_GUIDE_H_

#include <string>

/// The program's version as the guide prints it.
inline constexpr const char* kPelmoraVersion = "1.04";

/// Prints the guide or the short version text. Stateless.
class Guiding {
 public:
  Guiding() = default;
  Guiding(const Guiding&) = delete;
  Guiding& operator=(const Guiding&) = delete;

  /// Writes "version.txt" (29 lines with full, 3 without, CR LF each) and
  /// copies it to standard output. When version.txt cannot be created,
  /// written or read back, the same text goes straight to standard output and
  /// one line on standard error says why.
  void printGuide(const std::string& version, bool full);

  /// The exact text that printGuide writes (for tests and the fallback).
  static std::string guideText(const std::string& version, bool full);
};

#endif  // PELMORA_OPTIONS_GUIDE_H_
