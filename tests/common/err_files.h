// The err files a run leaves: err<serial>-<minutes>-<seconds>.txt.
#ifndef PELMORA_TESTS_COMMON_ERR_FILES_H_
#define PELMORA_TESTS_COMMON_ERR_FILES_H_

#include <algorithm>
#include <exception>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace harness {

struct ErrFileName {
  long long serial = 0;
  std::string minutes;
  std::string seconds;
};

/// Parses an err file name; nullopt when the name has another shape.
inline std::optional<ErrFileName> parseErrFileName(const std::string& name) {
  static const std::regex shape(R"(err(-?[0-9]+)-([^-/]*)-([^-/]*)\.txt)");
  std::smatch match;
  if (!std::regex_match(name, match, shape)) return std::nullopt;
  try {
    return ErrFileName{std::stoll(match[1].str()), match[2].str(),
                       match[3].str()};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

/// The err files among the names, ordered by serial.
inline std::vector<std::string> errFilesInOrder(
    const std::vector<std::string>& names) {
  std::vector<std::pair<long long, std::string>> found;
  for (const std::string& name : names) {
    if (auto parts = parseErrFileName(name)) {
      found.emplace_back(parts->serial, name);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> ordered;
  for (auto& item : found) ordered.push_back(item.second);
  return ordered;
}

}  // namespace harness

#endif  // PELMORA_TESTS_COMMON_ERR_FILES_H_
