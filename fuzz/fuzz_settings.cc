// The input as set_pelmora.txt, parsed with a fixed argument list and
// settled, compared with a plain model of the option rules
// (option_model.h). The settings lines are taken as they are, without the
// rewriting the command line gets, so they reach the interpretation with
// shapes no argument can have (NUL bytes, CR, lone hyphens, long runs).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "option_model.h"

namespace {

constexpr const char* kTarget = "fuzz_settings";
constexpr const char* kSettingsName = "set_pelmora.txt";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enterWorkFolder();
  fuzzing::tidyWorkFolder();
  const std::string content(reinterpret_cast<const char*>(data), size);
  fuzzing::writeFile(kSettingsName, content);
  // A wide name alone, so that the settings decide every option.
  static const std::vector<std::string> kArguments = {"wide.txt"};
  try {
    option_model::check(kTarget, kArguments, true, content);
  } catch (const fuzzing::FuzzStop&) {
    fuzzing::finding(kTarget, "parsing the settings file stopped");
  }
  return 0;
}
