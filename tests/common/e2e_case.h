// The usual start of an end-to-end case: an export, its narrow file and a
// sandbox ready for a clean run. Case files use it with `using namespace e2e;`.
#ifndef PELMORA_TESTS_COMMON_E2E_CASE_H_
#define PELMORA_TESTS_COMMON_E2E_CASE_H_

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform_expectations.h"
#include "sandbox.h"

namespace e2e {

// Named types, so that a case table written with them stays one case a
// line or two (clang-format lays out bare nested braces one item a line).
using Args = std::vector<std::string>;  // arguments, and err messages
using Files = std::map<std::string, std::string>;
using Need = platform_expectations::Need;

inline const std::string kWide =
    "\xFF\xFE" + utf16le(u"名前,値段\r\nりんご,198\r\n");
/// What a plain -j2 run makes of kWide.
inline const std::string kNarrow = "\x92\x6C\x92\x69\r\n198\r\n";

/// Settings, list and table in place (a clean run leaves no err file), and
/// kWide as wide.txt.
inline void prepare(Sandbox& box) {
  box.write("set_pelmora.txt", "t\r\n");
  box.write("surro.txt", "20B9F\r\n");
  box.placeFixedTable(Sandbox::derivedTable());
  box.write("wide.txt", kWide);
}

/// Why the program under test cannot meet the need; nullptr when it can.
inline const char* whyNot(Need need) {
  return platform_expectations::whyNot(
      platform_expectations::programUnderTest(), need);
}

/// The exit code the harness sees when the program ends with -1.
inline int minusOneExit() {
  return platform_expectations::programUnderTest().minusOneSeenByHarness;
}

/// The messages with "<fixed>" replaced by how the program names the
/// sandbox's fixed table place.
inline Args withFixedPlace(const Sandbox& box, Args messages) {
  for (std::string& message : messages) {
    const std::size_t at = message.find("<fixed>");
    if (at != std::string::npos) message.replace(at, 7, box.fixedTableText());
  }
  return messages;
}

/// The name of a sandbox file as this test program opens it.
inline std::string pathIn(const Sandbox& box, const std::string& name) {
  return box.path() + "/" + name;
}

/// The files a case made or kept: all but settings, list, counter, table,
/// err files and the names in `aside`.
inline Files caseFiles(const RunResult& run,
                       const std::set<std::string>& aside = {}) {
  Files files;
  for (const auto& [name, bytes] : run.files) {
    if (name == "set_pelmora.txt" || name == "surro.txt" ||
        name == "serial.txt" || name == Sandbox::fixedTableName() ||
        aside.count(name) != 0 || parseErrFileName(name)) {
      continue;
    }
    files[name] = bytes;
  }
  return files;
}

}  // namespace e2e

#endif  // PELMORA_TESTS_COMMON_E2E_CASE_H_
