// The input as set_pelmora.txt with a fixed argument list, compared with the
// model of the option rules (option_model.h). The settings lines skip the
// rewriting the command line gets, so they reach the interpretation with
// shapes no argument can have (NUL bytes, CR, lone hyphens, long runs).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "option_model.h"
#include "options/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enter("fuzz_settings");
  const std::string content = fuzzing::text(data, size);
  fuzzing::writeFile(kSettingsFile, content);
  // A wide name alone, so that the settings decide every option.
  fuzzing::mustNotStop("parsing the settings file stopped", [&] {
    option_model::check({"wide.txt"}, true, content);
  });
  return 0;
}
