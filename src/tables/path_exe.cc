#include "tables/path_exe.h"

void CommandPath::start(bool report) {
  report_ = report;
  path_.clear();
}

std::string CommandPath::search(const std::string& /*file_name*/) {
  // The folders of Path are not searched yet.
  return std::string();
}
