#include "tables/command_path.h"

#include <cstddef>
#include <limits>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "text/divide_sjis.h"
#include "text/fields_array.h"

void CommandPath::start(bool report) {
  report_ = report;
  const std::string text = platform::environmentValue("Path");
  const char separator = platform::directorySeparator();

  // One pass, never looking at its own output: "a\\;" becomes "a\;".
  path_.clear();
  path_.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\0') break;
    if (text[i] == separator && i + 1 < text.size() && text[i + 1] == ';') {
      path_.push_back(';');
      ++i;
      continue;
    }
    path_.push_back(text[i]);
  }
  // The splitter counts in 32 bits; no environment comes near 2 GiB.
  constexpr std::size_t kMostBytes =
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  if (path_.size() > kMostBytes) path_.resize(kMostBytes);
  path_length_ = static_cast<std::int32_t>(path_.size());
}

std::string CommandPath::search(const std::string& file_name,
                                std::vector<std::string>* tried) {
  file_name_ = file_name;
  std::string result;

  FieldsList list;
  DividingSJIS divider;
  divider.setSeparator(';');
  divider.prepare(&list, kPathFieldLimit);
  const std::int32_t fields = divider.splitAppend(
      path_, path_length_, platform::directorySeparator(), file_name_);

  // Only stored items are candidates: an unstored slot would probe "".
  const std::int32_t candidates = fields < list.size() ? fields : list.size();
  for (std::int32_t k = 0; k < candidates; ++k) {
    candidate_ = list.item(k);
    if (tried != nullptr) tried->push_back(candidate_);
    if (probe(candidate_)) {
      result = candidate_;
      break;
    }
  }
  return result;
}

bool CommandPath::probe(const std::string& candidate) {
  platform::File file;
  if (file.openRead(candidate) == platform::Status::kOk) {
    (void)file.close();
    return true;
  }
  if (report_) diagnostics::report("Reset() error-208: " + candidate);
  return false;
}
