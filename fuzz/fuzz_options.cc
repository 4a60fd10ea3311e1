// The bytes as an argument list through HyphenTerms and settleOptions,
// optionally with a set_pelmora.txt cut from the same input, compared with
// the model of the option rules (option_model.h).
//
// Input: byte 0 mode bits; the rest holds the arguments separated by NUL
// bytes (argv cannot hold a NUL), and, after the first run of three NUL
// bytes, the settings file's content.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "option_model.h"
#include "options/settings_file.h"
#include "options/hyphen_term.h"

namespace {

constexpr std::uint8_t kWithSettings = 0x01;
// An empty first argument is refused with a stop; only probed on request
// so that most inputs reach the parser.
constexpr std::uint8_t kProbeEmptyFirst = 0x02;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enter("fuzz_options");
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::string rest = fuzzing::text(data + 1, size - 1);
  const std::size_t marker = rest.find(std::string(3, '\0'));
  const std::string argument_bytes = rest.substr(0, marker);
  const bool settings = (mode & kWithSettings) != 0;
  const std::string content =
      marker == std::string::npos ? std::string() : rest.substr(marker + 3);

  std::vector<std::string> arguments;
  for (std::size_t start = 0;;) {
    const std::size_t end = argument_bytes.find('\0', start);
    arguments.push_back(argument_bytes.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (settings) {
    fuzzing::writeFile(kSettingsFile, content);
  } else {
    fuzzing::removeFile(kSettingsFile);
  }

  if (!arguments.front().empty()) {
    fuzzing::mustNotStop("parsing a non-empty argument list stopped", [&] {
      option_model::check(arguments, settings, content);
    });
  } else if ((mode & kProbeEmptyFirst) != 0 &&
             !fuzzing::stops([&] { HyphenTerms().prepareTerms(arguments); })) {
    fuzzing::finding("an empty first argument passed");
  }
  return 0;
}
