// Reading set_pelmora.txt, keeping only the head of every line: neither a
// long line nor a large file costs memory or time.
#include "options/settings_file.h"

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "platform/text_file.h"

namespace {

// An option line is cut here before it is cut at its first tab.
constexpr std::size_t kSettingsLineLength = 256;
// The file is read no further than this. Sixty-five lines of options take a
// few kilobytes, and a line of any length is read through in well under a
// second up to here; beyond it lies no settings file, only a reason to wait.
constexpr std::size_t kSettingsReadLimit = std::size_t{64} << 20;

}  // namespace

SettingsFile readSettingsFile() {
  SettingsFile settings;
  platform::File file;
  // Lines end with LF, optionally preceded by CR; a last line may lack both.
  // Line 1 names a table, and is kept up to the longest full name there is.
  const platform::TextRules rules{kSettingsReadLimit,
                                  platform::TextRules::AtLimit::kTakeCutLine,
                                  platform::kLongestFullName,
                                  kSettingsLineLength,
                                  false,
                                  false};
  const bool read =
      file.openRead(kSettingsFile) == platform::Status::kOk &&
      platform::readTextLines(
          &file, rules, [&settings](std::string& line, std::size_t index) {
            if (index == 0) {
              settings.table_name = std::move(line);
              return true;
            }
            // Whatever follows a tab is a remark.
            const std::size_t tab = line.find('\t');
            if (tab != std::string::npos) line.resize(tab);
            settings.lines[index - 1] = std::move(line);
            return index < kSettingsSlots;
          }) == platform::TextRead::kRead;
  if (!read) {
    diagnostics::report("Reset() error-148: set_pelmora.txt");
    return SettingsFile();
  }
  return settings;
}
