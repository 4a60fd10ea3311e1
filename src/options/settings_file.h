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

/// Reads set_pelmora.txt from the working folder: its first line into
/// tableName, the option lines after it (each cut at its first tab) into
/// settingsLines. A file that cannot be read leaves both empty and reports
/// error 148; a missing file is one that cannot be read.
void readSettingsFile(std::string& table_name,
                      std::array<std::string, kSettingsSlots>& settings_lines);

#endif  // PELMORA_OPTIONS_SETTINGS_FILE_H_
