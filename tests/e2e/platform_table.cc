#include "platform_table.h"

#include <cstdlib>
#include <string>

namespace e2e {
namespace {

bool runsWindowsProgram() {
  const char* launcher = std::getenv("PELMORA_E2E_LAUNCHER");
  const char* program = std::getenv("PELMORA_E2E_PROGRAM");
  if (launcher != nullptr && *launcher != '\0') return true;
  const std::string name = program == nullptr ? "" : program;
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

const PlatformTable kLinux = {
    "Linux",
    false,
    "pelmora",
    // exit(-1) keeps the low eight bits.
    255,
    "\n",
    '/',
    // <folder of the executable>/../share/pelmora, written in normal form.
    nullptr,
    "",
    // MAX_ARG_STRLEN: the kernel refuses a longer argument.
    (128 << 10) - 1,
    100000,
    {
        {Need::kWindows,
         "Windows behaviour (letter case, file attributes, sharing modes, "
         "drive C:) that the Linux program does not have"},
    },
};

const PlatformTable kWindows = {
    "Windows (pelmora.exe under Wine)",
    true,
    "pelmora.exe",
    // ExitProcess(-1) is exit status 0xFFFFFFFF; wine hands the low eight
    // bits to its caller, as a POSIX shell would.
    255,
    // The console program ends its standard error lines as Windows text.
    "\r\n",
    '\\',
    // A fixed folder on drive C: ($WINEPREFIX/drive_c/Quorvelin).
    "C:\\Quorvelin\\UTF16~MS932.bin",
    // Wine's drive Z: is the Linux root.
    "Z:",
    // A Windows command line holds at most 32,767 characters, the program's
    // path and the blanks between arguments included.
    30000,
    10000,
    {
        {Need::kScriptInPlaceOfProgram,
         "the harness's own cases put a shell script in place of the program; "
         "wine runs only Windows programs"},
        {Need::kSymbolicLinks,
         "Wine shows a POSIX symbolic link as the file it points to, never as a "
         "reparse point, so pelmora.exe cannot see the link; Windows links "
         "cannot be made from the Linux side"},
        {Need::kPermissionBits,
         "Wine refuses a prefix owned by another user, so the run cannot drop "
         "root, and root writes into folders whatever their mode; Windows has "
         "no unwritable folders by mode bits (the read-only file attribute is "
         "covered by WindowsTest)"},
        {Need::kMemoryLimit,
         "Wine's loader reserves most of the 32-bit address space before the "
         "program starts, so an address-space limit stops wine itself"},
    },
};

}  // namespace

const PlatformTable& platformTable() {
  static const PlatformTable& chosen =
      runsWindowsProgram() ? kWindows : kLinux;
  return chosen;
}

const char* whyNot(Need need) {
  const PlatformTable& table = platformTable();
  for (const PlatformTable::Missing& missing : table.missing) {
    if (missing.need == need) return missing.why;
  }
  return nullptr;
}

}  // namespace e2e
