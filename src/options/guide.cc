#include "options/guide.h"

#include <algorithm>
#include <cstddef>

#include "diagnostics/error_text.h"
#include "platform/platform.h"
#include "platform/text_file.h"

namespace {

constexpr const char* kVersionFile = "version.txt";
constexpr const char* kLineEnd = "\r\n";

// The "#" of every line stands in the 29th column; most lines keep one
// trailing blank, lines 17, 23 and 24 have none.
// clang-format off
constexpr const char* kUsageLines[] = {
    "pelmora -d2 -p wide         # H and I are omitted from ASCII characters. ",
    "pelmora -d2 wide            # Remove combining characters. ",
    "pelmora -e2 -H\\x26 wide     # Add a dot and & to Field-2 unless a dot appears. ",
    "pelmora -e2 -h0 wide        # Add a dot and 0 to Field-2 unless a dot appears. ",
    "pelmora -e2 wide            # Extract a decimal from Field-2. ",
    "pelmora -G                  # Guide ",
    "pelmora -j2 --out wide      # standard output ",
    "pelmora -j2 -D wide         # Do not search a table. ",
    "pelmora -j2 -F narrow wide  # Produce a narrow file that has Field-2. ",
    "pelmora -j2 -K wide         # Acquire a table name from set_dravikson.txt ",
    "pelmora -j2 -LF wide        # 0Dh is removed from every line. ",
    "pelmora -j2 -LF wide narrow # 0Dh is removed from every line. ",
    "pelmora -j2 -M  wide        # -M shows which table pelmora uses. ",
    "pelmora -j2 -s, wide        # CSV ",
    "pelmora -j2 -S\\l -x- csv    # -x- leaves half-width katakana as they are. ",
    "pelmora -j2 -S\\l wide       # Wiki table ",
    "pelmora -j2 -t wide narrow  # The wide file has the same time as a narrow file.",
    "pelmora -j2 -w~ wide        # ~ is used as quote. ",
    "pelmora -j2 -W\\x26 wide     # & is used as quote. ",
    "pelmora -j2 -Z wide         # The number of fields may exceed 255. ",
    "pelmora -j2 wide            # pelmora.txt has Field-2. ",
    "pelmora -j2 wide narrow     # Produce a narrow file that has Field-2. ",
    "pelmora -k2 -a_ wide        # In Field-2, Pelmora replaces katakana with ascii.",
    "pelmora -k2 -A\\x5F wide     # In Field-2, Pelmora replaces katakana with ascii.",
    "pelmora -n2 wide            # Extract an integer from Field-2. ",
    "pelmora -o2 wide            # Remove control characters from Field-2. ",
    "pelmora -V                  # Version ",
};
// clang-format on

constexpr const char* kShortLine = "pelmora --help               ";

// Writes the text into version.txt and reads it back. On failure *reason
// names the step and the system's explanation.
bool roundTrip(const std::string& text, std::string* copy,
               std::string* reason) {
  std::string detail;
  {
    platform::File out;
    if (out.createNoLink(kVersionFile, &detail) != platform::Status::kOk) {
      *reason = "cannot be created: " + detail;
      return false;
    }
    std::size_t written = 0;
    if (out.write(text.data(), text.size(), &written, &detail) !=
            platform::Status::kOk ||
        written != text.size()) {
      *reason = "cannot be written: " + detail;
      return false;
    }
    if (out.close(&detail) != platform::Status::kOk) {
      *reason = "cannot be written: " + detail;
      return false;
    }
  }
  platform::File in;
  if (in.openReadNoLink(kVersionFile, &detail) != platform::Status::kOk) {
    *reason = "cannot be read back: " + detail;
    return false;
  }
  // What was just written and nothing more: a file that grew meanwhile is
  // not read to its end.
  switch (platform::readBounded(&in, text.size(), copy, &detail)) {
    case platform::TextRead::kRead:
      break;
    case platform::TextRead::kUnreadable:
      *reason = "cannot be read back: " + detail;
      return false;
    case platform::TextRead::kOverLong:
      *reason = "changed while it was read back";
      return false;
  }
  (void)in.close();
  return true;
}

}  // namespace

std::string Guiding::guideText(const std::string& version, bool full) {
  std::string text = "Pelmora Version " + version + kLineEnd;
  text += kLineEnd;
  if (full) {
    for (const char* line : kUsageLines) {
      text += line;
      text += kLineEnd;
    }
  } else {
    text += kShortLine;
    text += kLineEnd;
  }
  return text;
}

void Guiding::printGuide(const std::string& version, bool full) {
  const std::string text = guideText(version, full);
  std::string shown;
  std::string reason;
  if (!roundTrip(text, &shown, &reason)) {
    // The user asked for the text; it still reaches them, and the console
    // is the only place left to say why version.txt does not hold it.
    platform::writeStandardError(std::string(kVersionFile) + ": " + reason);
    shown = text;
  }
  if (platform::writeStandardOutput(shown.data(), shown.size()) !=
      platform::Status::kOk) {
    // The run ends with exit code 1 whatever happens here, so the report is
    // the only sign that the text never arrived.
    diagnostics::report("Write() error-242: standard output");
  }
}
