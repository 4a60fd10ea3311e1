// pelmora-check end to end: what it shows for the slips it is there for,
// its exit code, and that the folder holds afterwards exactly what it held
// before, byte for byte, with the wide file's time untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "e2e_case.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

const std::string kTabExport =
    "\xFF\xFE" + utf16le(u"名前\t値段\r\nりんご\t198\r\n");

struct CheckCase {
  const char* what;
  Args arguments;
  Files written;  // after prepare()
  Args removed;   // after prepare(); the fixed table by its name
  int exit_code;
  Args shown;  // each somewhere in standard output
};

const CheckCase kCases[] = {
    {"a cluster shows its letters and warns of -t",
     {"-jtwo", "wide.txt"},
     {},
     {},
     0,
     {"argument 1: -jtwo  a cluster, read letter by letter as -j -t -w -o\n",
      "\n      -t  -t set: ",
      "  ! -jtwo is a cluster of one-letter options, and it holds letters"}},
    {"an unquoted -S\\t becomes -t, -b and the low line",
     {"-Stab", "wide.txt"},
     {},
     {},
     0,
     {"read letter by letter as -S -t -a -b\n", "\n      -t  -t set: ",
      "\n      -b  -b set: ", "\n  separator      \"_\" (low line)\n"}},
    {"a tab export read with the comma",
     {"-j2", "tab.txt"},
     {{"tab.txt", kTabExport}},
     {},
     0,
     {"  ! The first line holds tabs and no comma"}},
    {"a narrow name that is an export",
     {"-j2", "wide.txt", "export.txt"},
     {{"export.txt", kWide}},
     {},
     1,
     {"  Rewrite() error-244: export.txt\n", "narrow file (244)"}},
    {"the narrow lines of a run with -t -b -y -M, which writes nothing",
     {"-j2", "-t", "-b", "-y", "-M", "wide.txt", "narrow.txt"},
     {{"narrow.txt", "old\r\n"}},
     {},
     0,
     {"\n  1  値段\n  2  198\n", "convert \"wide.txt\" to \"narrow.txt\""}},
    {"no settings and no table: reports shown, none written",
     {"-j2", "wide.txt"},
     {},
     {"set_pelmora.txt", Sandbox::fixedTableName()},
     1,
     {"  Reset() error-148: set_pelmora.txt\n", "  Reset() error-167: i = 4\n",
      "without a table (167)"}},
    {"a wide file that is not there",
     {"-j2", "nothere.txt"},
     {},
     {},
     1,
     {"  Reset() error-229: nothere.txt\n"}},
    {"a quote left open at the end of the first line",
     {"-j2", "quote.txt"},
     {{"quote.txt", "\xFF\xFE" + utf16le(u"a,\"b\r\nc\",d\r\n")}},
     {},
     0,
     {"  ! A quote is still open at the end of the first line."}},
    {"a character without a code",
     {"-j2", "accent.txt"},
     {{"accent.txt", "\xFF\xFE" + utf16le(u"a,caf\u00E9\r\n")}},
     {},
     0,
     {"  ! 1 character of Field-2 in the sample has no code", "  1  caf?\n"}},
    {"the usage text", {"--help"}, {}, {}, 0, {"Usage: pelmora-check"}},
};

TEST(CheckTest, ShowsTheSlipAndWritesNothing) {
  for (const CheckCase& c : kCases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    prepare(box);
    for (const auto& [name, bytes] : c.written) box.write(name, bytes);
    for (const std::string& name : c.removed) box.remove(name);
    // A time no run of this moment can give: -t would change it.
    const fs::path wide = pathIn(box, "wide.txt");
    const auto old_time = fs::last_write_time(wide) - std::chrono::hours(48);
    fs::last_write_time(wide, old_time);
    const Files before = box.files();

    const RunResult run = box.runCheck(c.arguments);
    EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
    for (const std::string& text : c.shown) {
      EXPECT_NE(run.standardOutput.find(text), std::string::npos)
          << "missing: " << text << "\nin:\n"
          << run.standardOutput;
    }
    EXPECT_EQ(run.standardError, "");
    EXPECT_EQ(run.files, before);
    EXPECT_EQ(fs::last_write_time(wide), old_time);
  }
}

}  // namespace
