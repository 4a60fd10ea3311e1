// Which kind of run an argument list starts, the guide and version texts,
// version.txt, and the error log every run leaves in its current folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

const std::string kGuide =
    "Pelmora Version 1.04\r\n"
    "\r\n"
    "pelmora -d2 -p wide         # H and I are omitted from ASCII characters. "
    "\r\n"
    "pelmora -d2 wide            # Remove combining characters. \r\n"
    "pelmora -e2 -H\\x26 wide     # Add a dot and & to Field-2 unless a dot "
    "appears. \r\n"
    "pelmora -e2 -h0 wide        # Add a dot and 0 to Field-2 unless a dot "
    "appears. \r\n"
    "pelmora -e2 wide            # Extract a decimal from Field-2. \r\n"
    "pelmora -G                  # Guide \r\n"
    "pelmora -j2 --out wide      # standard output \r\n"
    "pelmora -j2 -D wide         # Do not search a table. \r\n"
    "pelmora -j2 -F narrow wide  # Produce a narrow file that has Field-2. \r\n"
    "pelmora -j2 -K wide         # Acquire a table name from set_dravikson.txt "
    "\r\n"
    "pelmora -j2 -LF wide        # 0Dh is removed from every line. \r\n"
    "pelmora -j2 -LF wide narrow # 0Dh is removed from every line. \r\n"
    "pelmora -j2 -M  wide        # -M shows which table pelmora uses. \r\n"
    "pelmora -j2 -s, wide        # CSV \r\n"
    "pelmora -j2 -S\\l -x- csv    # -x- leaves half-width katakana as they "
    "are. \r\n"
    "pelmora -j2 -S\\l wide       # Wiki table \r\n"
    "pelmora -j2 -t wide narrow  # The wide file has the same time as a narrow "
    "file.\r\n"
    "pelmora -j2 -w~ wide        # ~ is used as quote. \r\n"
    "pelmora -j2 -W\\x26 wide     # & is used as quote. \r\n"
    "pelmora -j2 -Z wide         # The number of fields may exceed 255. \r\n"
    "pelmora -j2 wide            # pelmora.txt has Field-2. \r\n"
    "pelmora -j2 wide narrow     # Produce a narrow file that has Field-2. \r\n"
    "pelmora -k2 -a_ wide        # In Field-2, Pelmora replaces katakana with "
    "ascii.\r\n"
    "pelmora -k2 -A\\x5F wide     # In Field-2, Pelmora replaces katakana with "
    "ascii.\r\n"
    "pelmora -n2 wide            # Extract an integer from Field-2. \r\n"
    "pelmora -o2 wide            # Remove control characters from Field-2. \r\n"
    "pelmora -V                  # Version \r\n";

const std::string kShortText =
    "Pelmora Version 1.04\r\n"
    "\r\n"
    "pelmora --help               \r\n";

const std::string kNoSettings = "Reset() error-148: set_pelmora.txt";

// The guide text itself, so that a typo in the expectation above cannot
// hide behind a matching typo in the program.
TEST(GuideTextTest, HasTheDocumentedShape) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < kGuide.size()) {
    std::size_t end = kGuide.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(kGuide.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), 29u);
  for (std::size_t i = 2; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find('#'), 28u) << lines[i];
    EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_EQ(kShortText.substr(kShortText.size() - 31),
            "pelmora --help" + std::string(15, ' ') + "\r\n");
}

// Err files are err<n>-<mm>-<ss>.txt, serials counting up from `first`;
// minutes and seconds are empty only in the first second after midnight.
void expectWellFormedErrNames(const RunResult& run, long long first = 1) {
  long long expected = first;
  for (const std::string& name : run.errFileNames()) {
    auto parts = e2e::parseErrFileName(name);
    ASSERT_TRUE(parts.has_value()) << name;
    EXPECT_EQ(parts->serial, expected++) << name;
    const std::string time = parts->minutes + "-" + parts->seconds;
    EXPECT_TRUE(time == "-" ||
                std::regex_match(time, std::regex(R"(\d\d-\d\d)")))
        << name;
  }
}

// A run that only shows a text: ends with 1, the text on standard output and
// in version.txt, and no file but those and the missing settings' report.
void expectTextRun(const Args& arguments, const std::string& text) {
  Sandbox box;
  RunResult run = box.run(arguments);
  SCOPED_TRACE(run.describe());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, text);
  EXPECT_EQ(run.standardError, "");
  EXPECT_EQ(run.file("version.txt"), text);
  EXPECT_EQ(run.errMessages(), Args{kNoSettings});
  std::set<std::string> names = {"serial.txt", "version.txt"};
  for (const std::string& name : run.errFileNames()) names.insert(name);
  EXPECT_EQ(run.fileNames(), names);
  expectWellFormedErrNames(run);
}

// The guide: -G and its long forms, and a -G anywhere among other options.
class GuideRequestTest : public testing::TestWithParam<Args> {};

TEST_P(GuideRequestTest, PrintsTheFullGuideAndEndsWithOne) {
  expectTextRun(GetParam(), kGuide);
}

INSTANTIATE_TEST_SUITE_P(
    ArgumentLists, GuideRequestTest,
    testing::Values(Args{"-G"}, Args{"--help"}, Args{"-VC"},
                    // The guide flag is tested before the version flag.
                    Args{"-G", "-V"}, Args{"-V", "-G"}, Args{"-V", "--help"},
                    // A cluster of one-letter options.
                    Args{"-tG"},
                    // The guide comes before any look at the wide file.
                    Args{"-j2", "-G", "missing.txt"},
                    // Empty arguments after the first are skipped.
                    Args{"-G", ""},
                    // A cleared flag set again.
                    Args{"-G-", "-G"}));

// The short version text: -V, and any command line without a wide file.

class ShortTextTest : public testing::TestWithParam<Args> {};

TEST_P(ShortTextTest, PrintsVersionAndHelpLineAndEndsWithOne) {
  expectTextRun(GetParam(), kShortText);
}

INSTANTIATE_TEST_SUITE_P(
    ArgumentLists, ShortTextTest,
    testing::Values(Args{"-V"}, Args{"-j2"}, Args{"-M", "-j2"}, Args{"--out"},
                    Args{"-LF", "-Z"},
                    // -V stops before the wide file is looked at.
                    Args{"-V", "-j2", "missing.txt"},
                    // A guide flag cleared again leaves no wide file.
                    Args{"-G", "-G-"},
                    // The next plain argument is the -F name.
                    Args{"-F", "narrow.txt"},
                    // Tokens of one or two hyphens are skipped.
                    Args{"-", "--"}));

TEST(VersionFileTest, ExistingVersionFileIsOverwrittenNotAppended) {
  Sandbox box;
  box.write("version.txt", std::string(5000, 'x') + "\r\n");
  for (const char* option : {"-V", "-G", "-V"}) {
    RunResult run = box.run({option});
    EXPECT_EQ(run.file("version.txt"), option[1] == 'G' ? kGuide : kShortText)
        << run.describe();
  }
}

class VersionFileBlockedTest : public testing::TestWithParam<Args> {};

TEST_P(VersionFileBlockedTest, TextStillReachesStandardOutput) {
  // A folder in the way blocks version.txt even for root.
  Sandbox box;
  box.makeFolder("version.txt");
  RunResult run = box.run(GetParam());
  SCOPED_TRACE(run.describe());
  bool full = GetParam().front() == "-G";
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, full ? kGuide : kShortText);
  // One line on standard error says why version.txt does not hold it.
  ASSERT_FALSE(run.standardError.empty());
  EXPECT_EQ(run.standardError.back(), '\n');
  EXPECT_EQ(
      std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1);
  EXPECT_NE(run.standardError.find("version.txt"), std::string::npos);
  EXPECT_EQ(run.folders.count("version.txt"), 1u);
  EXPECT_EQ(run.errMessages(), Args{kNoSettings});
}

INSTANTIATE_TEST_SUITE_P(ArgumentLists, VersionFileBlockedTest,
                         testing::Values(Args{"-G"}, Args{"-V"}, Args{"-j2"}));

// -M deletes an old data.txt before anything else can stop the run.

TEST(TableReportTest, OldDataNoteIsDeletedOnlyWithM) {
  Sandbox box;
  box.write("data.txt", "C:\\old\\UTF16~MS932.bin is primarily accessible.");
  RunResult run = box.run({"-j2"});
  EXPECT_TRUE(run.has("data.txt")) << run.describe();

  run = box.run({"-M", "-j2"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, kShortText);
  EXPECT_FALSE(run.has("data.txt")) << run.describe();
  EXPECT_FALSE(box.exists("data.txt"));
}

// -M with data.txt as the narrow file: the narrow file is written there and
// shown. A -M run that stops leaves no data.txt it emptied.
TEST(TableReportTest, NarrowFileNamedLikeTheNoteIsWrittenAndShown) {
  Sandbox box;
  prepare(box);
  RunResult run = box.run({"-M", "-LF", "-j2", "wide.txt", "data.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.file("data.txt"), "\x92\x6C\x92\x69\n198\n");
  EXPECT_EQ(run.standardOutput, kNarrow);
  box.remove(Sandbox::fixedTableName());
  run = box.run({"-M", "-j2", "wide.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 1) << run.describe();
  EXPECT_FALSE(run.has("data.txt"));
  EXPECT_FALSE(run.has("n.txt"));
}

TEST(TableReportTest, MissingDataNoteIsNoFailure) {
  Sandbox box;
  RunResult run = box.run({"-M", "-j2"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, kShortText);
  EXPECT_EQ(run.errMessages(), Args{kNoSettings});
}

TEST(TableReportTest, GuideRunLeavesDataNoteAlone) {
  // The guide stops before the options are settled, so -M does nothing.
  Sandbox box;
  box.write("data.txt", "note");
  RunResult run = box.run({"-M", "-G"});
  EXPECT_EQ(run.standardOutput, kGuide);
  EXPECT_EQ(run.file("data.txt"), "note");
}

// Also under a locale whose own time format has no ":" (Japanese writes
// "00時48分34秒"): the name keeps its minutes and seconds.
TEST(ErrorLogTest, RunWithoutSettingsFileLeavesOneErrFileAndTheCounter) {
  for (const char* locale : {"C", "ja_JP.UTF-8"}) {
    SCOPED_TRACE(locale);
    Sandbox box;
    box.setVariable("LC_ALL", locale);
    RunResult run = box.run({"-V"});
    ASSERT_EQ(run.errFileNames().size(), 1u) << run.describe();
    std::string err_name = run.errFileNames().front();
    EXPECT_EQ(run.fileNames(),
              (std::set<std::string>{err_name, "serial.txt", "version.txt"}));
    EXPECT_EQ(run.file(err_name), kNoSettings);
    EXPECT_EQ(run.file("serial.txt"), "1");
    expectWellFormedErrNames(run);
  }
}

TEST(ErrorLogTest, SerialNumbersContinueAcrossRuns) {
  Sandbox box;
  for (std::size_t runs = 1; runs <= 3; ++runs) {
    RunResult run = box.run({"-j2"});
    EXPECT_EQ(run.file("serial.txt"), std::to_string(runs));
    EXPECT_EQ(run.errMessages(), Args(runs, kNoSettings)) << run.describe();
    expectWellFormedErrNames(run);
  }
}

TEST(ErrorLogTest, CounterLeftByAnEarlierRunIsContinued) {
  Sandbox box;
  box.write("serial.txt", "41");
  RunResult run = box.run({"-V"});
  ASSERT_EQ(run.errFileNames().size(), 1u) << run.describe();
  EXPECT_EQ(e2e::parseErrFileName(run.errFileNames().front())->serial, 42);
  EXPECT_EQ(run.file("serial.txt"), "42");
}

TEST(ErrorLogTest, UnreadableCounterRestartsAtZero) {
  Sandbox box;
  box.write("serial.txt", "abc");
  RunResult run = box.run({"-V"});
  EXPECT_EQ(run.file("error.txt"), "sequence_to_integer() error-230: abc");
  EXPECT_EQ(run.file("serial.txt"), "0");
  expectWellFormedErrNames(run, 0);
  EXPECT_EQ(run.errMessages(), Args{kNoSettings});
}

TEST(ErrorLogTest, OversizedNumberIsReportedWithItsDigits) {
  Sandbox box;
  box.write("set_pelmora.txt", "table name\r\n");
  RunResult run = box.run({"-j99999999999"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, kShortText);
  EXPECT_EQ(run.errMessages(),
            Args{"sequence_to_integer() error-214: 99999999999"})
      << run.describe();
  expectWellFormedErrNames(run);
}

TEST(ErrorLogTest, SettingsReportComesBeforeTheNumberReport) {
  Sandbox box;
  RunResult run = box.run({"-j2147483648", "-j2147483647"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errMessages(),
            (Args{kNoSettings, "sequence_to_integer() error-214: 2147483648"}))
      << run.describe();
  expectWellFormedErrNames(run);
}

TEST(ErrorLogTest, BlockedCounterIsReportedOnStandardError) {
  // Folders in the way of serial.txt and error.txt: the counter failures
  // reach standard error, and the message still gets its err file.
  Sandbox box;
  box.makeFolder("serial.txt");
  box.makeFolder("error.txt");
  RunResult run = box.run({"-V"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, kShortText);
  EXPECT_EQ(run.errMessages(), Args{kNoSettings});
  expectWellFormedErrNames(run, 0);
  const std::string end =
      platform_expectations::programUnderTest().standardErrorLineEnd;
  EXPECT_EQ(run.standardError, "Rewrite() error-231: serial.txt" + end +
                                   "Rewrite() error-232: " + end);
}

struct SettingsCase {
  const char* name;
  std::string settings;
  // Some first argument (-u, which has no effect) is needed, or the run
  // derives the table instead.
  Args arguments;
  bool guide;  // the full guide, else the short text
};

class SettingsFileTest : public testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsFileTest, SettingsLinesActLikeEarlierArguments) {
  const SettingsCase& c = GetParam();
  Sandbox box;
  box.write("set_pelmora.txt", c.settings);
  RunResult run = box.run(c.arguments);
  SCOPED_TRACE(run.describe());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.standardOutput, c.guide ? kGuide : kShortText);
  // A readable settings file is no failure: no error log at all.
  EXPECT_EQ(run.fileNames(),
            (std::set<std::string>{"set_pelmora.txt", "version.txt"}));
}

const SettingsCase kSettingsCases[] = {
    {"GuideLine", "x\r\n-G\r\n", Args{"-u"}, true},
    {"LfLineEnds", "x\n-G\n", Args{"-u"}, true},
    {"NoLastLineEnd", "x\r\n-G", Args{"-u"}, true},
    {"RemarkAfterTab", "x\r\n-G\tshow the guide\r\n", Args{"-u"}, true},
    {"AfterOtherOptions", "x\r\n-j3\r\n-S\\t\r\n-G\r\n", Args{"-u"}, true},
    // The first line names a table and is no option.
    {"FirstLineIsTableName", "-G\r\n", Args{"-u"}, false},
    // An empty line ends the option lines.
    {"AfterEmptyLine", "x\r\n\r\n-G\r\n", Args{"-u"}, false},
    {"AfterTabLine", "x\r\n\tremark\r\n-G\r\n", Args{"-u"}, false},
    // Settings lines are not expanded like arguments.
    {"LongFormNotExpanded", "x\r\n--help\r\n", Args{"-u"}, false},
    {"VersionLine", "x\r\n-V\r\n", Args{"-u"}, false},
    // The command line comes later and wins.
    {"ClearedOnCommandLine", "x\r\n-G\r\n", Args{"-u", "-G-"}, false},
    {"SetOnCommandLine", "x\r\n-G-\r\n", Args{"-u", "-G"}, true},
    // A guide line with a command-line file: still only the guide.
    {"WithWideFile", "x\r\n-G\r\n", Args{"-u", "-j2", "missing.txt"}, true},
};

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileTest, testing::ValuesIn(kSettingsCases),
    [](const testing::TestParamInfo<SettingsCase>& param_info) {
      return std::string(param_info.param.name);
    });

// No first argument: the table derivation and nothing else.

class DerivationRunTest : public testing::TestWithParam<Args> {};

TEST_P(DerivationRunTest, MissingReverseTableIsReportedAndEndsWithOne) {
  Sandbox box;
  // Options anywhere else must not be looked at, not even these.
  box.write("set_pelmora.txt", "x\r\n-G\r\n");
  RunResult run = box.run(GetParam());
  SCOPED_TRACE(run.describe());
  EXPECT_EQ(run.exitCode, 1);  // no table was derived
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_EQ(run.standardError, "");
  EXPECT_FALSE(run.has("version.txt"));
  EXPECT_EQ(run.errMessages(), Args{"Reset() error-209: MS932~UTF16.bin"});
  expectWellFormedErrNames(run);
}

TEST_P(DerivationRunTest, ReverseTableIsTurnedAround) {
  Sandbox box;
  // Shift_JIS code, then the code unit, low byte first; a 2-byte remainder.
  box.write("MS932~UTF16.bin",
            std::string("\x41\x00\x41\x00\xB1\x00\x71\xFF\x88\x9F\x9C\x4E"
                        "\x80\x00\x80\x00\x7F\x00\x7F\x00\x81\x51",
                        22));
  RunResult run = box.run(GetParam());
  SCOPED_TRACE(run.describe());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_EQ(run.file("UTF16~MS932.bin"),
            std::string("\x41\x00\x00\x41\x00\x71\xFF\x02\xB1\x00"
                        "\x9C\x4E\x01\x88\x9F\x80\x00\x02\x80\x00"
                        "\x7F\x00\x00\x7F\x00",
                        25));
  EXPECT_EQ(run.fileNames(),
            (std::set<std::string>{"MS932~UTF16.bin", "UTF16~MS932.bin"}));
}

INSTANTIATE_TEST_SUITE_P(ArgumentLists, DerivationRunTest,
                         testing::Values(Args{}, Args{""}, Args{"", "-G"},
                                         Args{"", "-V", "-j2"}));

// Arguments are bytes: a Shift_JIS file name reaches the report unchanged.

TEST(RawArgumentTest, MissingWideFileIsReportedByteForByteAndEndsWithMinusOne) {
  Sandbox box;
  box.write("set_pelmora.txt", "x\r\n");
  box.placeFixedTable("");
  const std::string wide =
      "\x83\x65\x83\x58\x83\x67.txt";  // "test" in katakana
  RunResult run = box.run({"-j2", wide});
  EXPECT_EQ(run.exitCode, minusOneExit()) << run.describe();
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_EQ(run.errMessages(),
            (Args{"Reset() error-229: " + wide, "SetLength() error-222: -1",
                  "Reset() error-192: surro.txt"}))
      << run.describe();
  EXPECT_FALSE(run.has("pelmora.txt"));
  expectWellFormedErrNames(run);
}

}  // namespace
