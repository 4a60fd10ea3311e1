// The usual start of an end-to-end case: an export, its narrow file, a sandbox.
// The narrow file is what a plain -j2 run makes of the export; the sandbox
// is ready for a clean run (no err file unless the case makes one). Case
// files take the names they use with `using namespace e2e;`.
#ifndef PELMORA_TESTS_COMMON_E2E_CASE_H_
#define PELMORA_TESTS_COMMON_E2E_CASE_H_

#include <map>
#include <set>
#include <string>

#include "platform_expectations.h"
#include "sandbox.h"

namespace e2e {

inline const std::string kWide =
    "\xFF\xFE" + utf16le(u"名前,値段\r\nりんご,198\r\n");
inline const std::string kNarrow =
    "\x92\x6C\x92\x69\r\n"
    "198\r\n";

/// Settings, list and table in place, and kWide as wide.txt.
inline void prepare(Sandbox& box) {
  box.write("set_pelmora.txt", "t\r\n");
  box.write("surro.txt", "20B9F\r\n");
  box.placeFixedTable(Sandbox::derivedTable());
  box.write("wide.txt", kWide);
}

/// The name of a sandbox file as this test program opens it.
inline std::string pathIn(const Sandbox& box, const std::string& name) {
  return box.path() + "/" + name;
}

/// The files a case made or kept: settings, list, counter, table, err files
/// and the names in `aside` set apart.
inline std::map<std::string, std::string> caseFiles(
    const RunResult& run, const std::set<std::string>& aside = {}) {
  std::map<std::string, std::string> files;
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

using platform_expectations::Need;

}  // namespace e2e

#endif  // PELMORA_TESTS_COMMON_E2E_CASE_H_
