#include "platform/text_file.h"

#include <algorithm>
#include <string>
#include <utility>

namespace platform {

TextRead readTextLines(
    File* file, const TextRules& rules,
    const std::function<bool(std::string& line, std::size_t index)>& take,
    std::string* detail) {
  using AtLimit = TextRules::AtLimit;
  std::string line;
  std::size_t length = 0;  // every byte of the line, its line end excepted
  std::size_t index = 0;
  bool after_cr = false;  // a LF here is the second half of CR LF
  // One byte past the limit tells a file that ends there from a longer one.
  const std::size_t most = rules.at_limit == AtLimit::kFail
                               ? rules.read_limit + 1
                               : rules.read_limit;
  const auto end_line = [&](bool by_line_feed) {
    const std::size_t bound =
        index == 0 ? rules.first_line_bound : rules.line_bound;
    if (by_line_feed && !rules.cr_ends_line && length <= bound &&
        !line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const bool go_on = take(line, index);
    line.clear();
    length = 0;
    ++index;
    return go_on;
  };
  std::size_t total = 0;
  char block[4096];
  while (total < most) {
    std::size_t got = 0;
    const std::size_t want = std::min(sizeof block, most - total);
    if (file->read(block, want, &got, detail) != Status::kOk) {
      return TextRead::kUnreadable;
    }
    total += got;
    if (rules.at_limit == AtLimit::kFail && total > rules.read_limit) {
      return TextRead::kOverLong;
    }
    for (std::size_t i = 0; i < got; ++i) {
      const char c = block[i];
      if (after_cr) {
        after_cr = false;
        if (c == '\n') continue;
      }
      if (c == '\n' || (rules.cr_ends_line && c == '\r')) {
        after_cr = c == '\r';
        if (!end_line(c == '\n')) return TextRead::kRead;
        continue;
      }
      const std::size_t bound =
          index == 0 ? rules.first_line_bound : rules.line_bound;
      if (length == bound && rules.over_long_fails) return TextRead::kOverLong;
      if (line.size() < bound) line.push_back(c);
      ++length;
    }
    if (got < want) break;  // the end of the file
    if (total == rules.read_limit && rules.at_limit == AtLimit::kDropCutLine) {
      return TextRead::kRead;
    }
  }
  if (length > 0) (void)end_line(false);
  return TextRead::kRead;
}

TextRead readFirstLine(File* file, std::size_t bound, bool over_long_fails,
                       std::string* line) {
  line->clear();
  // Two bytes past the bound show a line that goes on, or its line end.
  const TextRules rules{bound + 2,       TextRules::AtLimit::kTakeCutLine,
                        bound,           bound,
                        over_long_fails, true};
  return readTextLines(file, rules, [line](std::string& first, std::size_t) {
    *line = std::move(first);
    return false;
  });
}

TextRead readBounded(File* file, std::size_t most, std::string* text,
                     std::string* detail) {
  text->clear();
  char block[4096];
  for (;;) {
    std::size_t got = 0;
    // One byte past `most` tells a file that ends there from a longer one.
    const std::size_t want = std::min(sizeof block, most + 1 - text->size());
    if (file->read(block, want, &got, detail) != Status::kOk) {
      return TextRead::kUnreadable;
    }
    text->append(block, got);
    if (text->size() > most) return TextRead::kOverLong;
    if (got < want) return TextRead::kRead;
  }
}

}  // namespace platform
