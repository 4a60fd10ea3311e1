// Reading the small text files Pelmora is given or keeps (set_pelmora.txt,
// set_dravikson.txt, surro.txt, serial.txt, data.txt, version.txt) under one
// set of bounds, so that no such file, however long or endless, costs more
// than its bound in memory or time.
#ifndef PELMORA_PLATFORM_TEXT_FILE_H_
#define PELMORA_PLATFORM_TEXT_FILE_H_

#include <cstddef>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace platform {

/// The longest full file name any system accepts: 32 Ki characters on
/// Windows, POSIX systems far fewer. A line that is to name a file is no
/// name past this.
inline constexpr std::size_t kLongestFullName = std::size_t{32} << 10;

/// How a text file is cut into lines.
struct TextRules {
  /// Bytes read at the most.
  std::size_t read_limit;
  /// What the read limit does to the file: the line it cuts is dropped
  /// (its head could read as something else than the whole line) or taken,
  /// or a file longer than the limit is no such file at all.
  enum class AtLimit { kDropCutLine, kTakeCutLine, kFail } at_limit;
  /// Bytes kept of the first line and of every later one.
  std::size_t first_line_bound;
  std::size_t line_bound;
  /// A line longer than its bound is kept as its head, or ends the reading
  /// as a failure.
  bool over_long_fails;
  /// CR, LF and CR LF each end a line; otherwise only LF does, and a CR in
  /// front of it is dropped from a line that was kept whole.
  bool cr_ends_line;
};

enum class TextRead { kRead, kUnreadable, kOverLong };

/// Reads the file from its position and hands every line, without its line
/// end, to take(line, index), index counting from 0; take returns false to
/// stop the reading there. A last line without a line end is handed over
/// when it has any bytes. kUnreadable when a read fails; kOverLong when the
/// rules make a line or the file too long.
TextRead readTextLines(
    File* file, const TextRules& rules,
    const std::function<bool(std::string& line, std::size_t index)>& take,
    std::string* detail = nullptr);

/// Reads the first line from the file's position, up to the first CR or
/// LF, into *line. A longer line than `bound` is cut there, or with
/// `over_long_fails` is kOverLong; nothing past the bound is read.
TextRead readFirstLine(File* file, std::size_t bound, bool over_long_fails,
                       std::string* line);

/// Reads the whole rest of the file, when it has at most `most` bytes.
TextRead readBounded(File* file, std::size_t most, std::string* text,
                     std::string* detail = nullptr);

}  // namespace platform

#endif  // PELMORA_PLATFORM_TEXT_FILE_H_
