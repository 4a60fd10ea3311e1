// Reading set_pelmora.txt, keeping only the head of every line: neither a
// long line nor a large file costs memory or time.
#include "options/settings_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "diagnostics/error_text.h"
#include "platform/platform.h"

namespace {

// An option line is cut here before it is cut at its first tab.
constexpr std::size_t kSettingsLineLength = 256;
// Line 1 names a table: kept up to the longest full name a system accepts
// (32 Ki characters on Windows), the bound set_dravikson.txt has too.
constexpr std::size_t kTableNameLength = std::size_t{32} << 10;
// The file is read no further than this. Sixty-five lines of options take a
// few kilobytes, and a line of any length is read through in well under a
// second up to here; beyond it lies no settings file, only a reason to wait.
constexpr std::size_t kSettingsReadLimit = std::size_t{64} << 20;
// Reading the settings file in pieces of this size.
constexpr std::size_t kReadBlock = 4096;

}  // namespace

void readSettingsFile(std::string& table_name,
                      std::array<std::string, kSettingsSlots>& settings_lines) {
  for (std::string& slot : settings_lines) slot.clear();
  table_name.clear();

  platform::File file;
  bool readable = file.openRead(kSettingsFile) == platform::Status::kOk;
  // Lines end with LF, optionally preceded by CR; a last line may lack both.
  // Only the head of each line is kept, so a line of any length costs the
  // same memory, and the file is read no further than its last used line.
  std::string line;
  std::size_t line_length = 0;  // every byte of the line, its LF excepted
  std::size_t line_number = 0;
  std::size_t total = 0;
  const auto end_line = [&](bool by_line_feed) {
    const std::size_t cut =
        line_number == 0 ? kTableNameLength : kSettingsLineLength;
    // A CR belongs to the line end only in front of its LF; in a line
    // longer than the cut it lies beyond what is kept anyway.
    if (by_line_feed && line_length <= cut && !line.empty() &&
        line.back() == '\r') {
      line.pop_back();
    }
    if (line_number == 0) {
      table_name = std::move(line);
    } else {
      // Whatever follows a tab is a remark.
      const std::size_t tab = line.find('\t');
      if (tab != std::string::npos) line.resize(tab);
      settings_lines[line_number - 1] = std::move(line);
    }
    line.clear();
    line_length = 0;
    ++line_number;
  };
  while (readable && line_number <= kSettingsSlots &&
         total < kSettingsReadLimit) {
    char block[kReadBlock];
    std::size_t got = 0;
    const std::size_t want = std::min(sizeof block, kSettingsReadLimit - total);
    if (file.read(block, want, &got) != platform::Status::kOk) {
      readable = false;
      break;
    }
    if (got == 0) break;
    total += got;
    for (std::size_t i = 0; i < got && line_number <= kSettingsSlots; ++i) {
      if (block[i] == '\n') {
        end_line(true);
        continue;
      }
      const std::size_t cut =
          line_number == 0 ? kTableNameLength : kSettingsLineLength;
      if (line.size() < cut) line.push_back(block[i]);
      ++line_length;
    }
  }
  if (file.isOpen()) (void)file.close();
  if (!readable) {
    for (std::string& slot : settings_lines) slot.clear();
    table_name.clear();
    diagnostics::report("Reset() error-148: set_pelmora.txt");
    return;
  }
  if (line_length > 0 && line_number <= kSettingsSlots) end_line(false);
}
