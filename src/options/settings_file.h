// Reading set_pelmora.txt into a table name and the option lines.
#ifndef PELMORA_OPTIONS_SETTINGS_FILE_H_
#define PELMORA_OPTIONS_SETTINGS_FILE_H_

#include <array>
#include <cstddef>
#include <string>

/// The settings file: default options, read from the working folder.
inline constexpr const char* kSettingsFile = "set_pelmora.txt";

// The settings file's option lines land in this many slots; later lines are
// not read.
constexpr std::size_t kSettingsSlots = 64;

/// What set_pelmora.txt holds: its first line, which names a table, and
/// the option lines after it, each cut at its first tab.
struct SettingsFile {
  std::string table_name;
  std::array<std::string, kSettingsSlots> lines;
};

/// Reads set_pelmora.txt from the working folder. A file that cannot be
/// read gives an empty SettingsFile and reports error 148; a missing file
/// is one that cannot be read.
SettingsFile readSettingsFile();

#endif  // PELMORA_OPTIONS_SETTINGS_FILE_H_
