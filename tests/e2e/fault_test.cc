// Runs against a hostile world: folders and disks that refuse writes, damaged
// tables, absurd command lines and files, many runs at once. In every case
// the program must end in an orderly way, say what failed where it can, and
// never lose a byte of the user's files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

void chmodOrFail(const Sandbox& box, const std::string& name, mode_t mode) {
  ASSERT_EQ(::chmod(pathIn(box, name).c_str(), mode), 0) << name;
}

TEST(FaultTest, ReadOnlyCurrentFolderReportsOnStandardError) {
  E2E_NEEDS(Need::kPermissionBits);
  Sandbox box;
  ASSERT_TRUE(box.runUnprivileged());
  box.write("surro.txt", "20B9F\r\n");  // no settings file: one report
  box.placeFixedTable(Sandbox::derivedTable());
  box.write("wide.txt", kWide);
  box.makeFolder("out");
  chmodOrFail(box, "out", 0777);
  chmodOrFail(box, ".", 0555);
  RunResult run = box.run({"-j2", "wide.txt", "out/narrow.txt"});
  chmodOrFail(box, ".", 0777);
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.file("out/narrow.txt"), kNarrow);
  // Neither the counter, error.txt nor the err file can be written: each
  // line reaches standard error instead, the report itself last.
  const std::string end =
      platform_expectations::programUnderTest().standardErrorLineEnd;
  for (const char* line : {"Rewrite() error-231: serial.txt",
                           "Reset() error-148: set_pelmora.txt"}) {
    EXPECT_NE(run.standardError.find(line + end), std::string::npos)
        << run.standardError;
  }
  EXPECT_TRUE(run.errMessages().empty());
  EXPECT_EQ(run.file("wide.txt"), kWide);
}

TEST(FaultTest, UnwritableDataNoteIsReportedAtTheEcho) {
  Sandbox box;
  prepare(box);
  box.makeFolder("data.txt");  // neither deletable as a file nor writable
  RunResult run = box.run({"-j2", "-M", "wide.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 1) << run.describe();  // the note is missing
  EXPECT_EQ(run.file("n.txt"), kNarrow);
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_EQ(run.errMessages(), Args{"Reset() error-216: data.txt"});
}

TEST(FaultTest, DamagedTablesNeverCrash) {
  const std::string& table = Sandbox::derivedTable();
  std::string random_bytes;
  std::uint32_t seed = 2024;
  for (int i = 0; i < 70001; ++i) {
    seed = seed * 1103515245u + 12345u;
    random_bytes += static_cast<char>(seed >> 24);
  }
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"truncated mid-record", table.substr(0, 12347)},
      {"odd size", table + "\x41"},
      {"random bytes", random_bytes},
      {"one byte", "\x41"}};
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    Sandbox box;
    prepare(box);
    box.placeFixedTable(bytes);
    for (const char* column : {"-j1", "-o1", "-e2", "-n2"}) {
      RunResult run = box.run({column, "wide.txt", "n.txt"});
      EXPECT_EQ(run.exitCode, 0) << column << " " << run.describe();
      EXPECT_EQ(run.signal, 0);
      EXPECT_TRUE(run.has("n.txt"));
      EXPECT_EQ(run.standardError, "");
      EXPECT_EQ(run.file("wide.txt"), kWide);
    }
    // An empty table converts nothing: every unit above 0xFF has no code.
    if (bytes.empty()) {
      EXPECT_EQ(box.run({"-j2", "wide.txt", "n.txt"}).file("n.txt"),
                "??\r\n198\r\n");
    }
  }
}

// -t writes the wide file in place: a file the user may not write is left
// as it is (193), while a folder the user may not write is no obstacle.
TEST(FaultTest, RefreshNeedsAWritableFileNotAWritableFolder) {
  E2E_NEEDS(Need::kPermissionBits);
  for (bool file_read_only : {true, false}) {
    SCOPED_TRACE(file_read_only ? "read-only file" : "read-only folder");
    Sandbox box;
    ASSERT_TRUE(box.runUnprivileged());
    prepare(box);
    box.write("ro/wide.txt", kWide);
    chmodOrFail(box, "ro/wide.txt", file_read_only ? 0444 : 0666);
    chmodOrFail(box, "ro", file_read_only ? 0777 : 0555);
    RunResult run = box.run({"-j2", "-t", "ro/wide.txt", "n.txt"});
    chmodOrFail(box, "ro", 0777);
    EXPECT_EQ(run.exitCode, file_read_only ? 1 : 0) << run.describe();
    EXPECT_EQ(run.errMessages(),
              file_read_only ? Args{"Reset() error-193: ro/wide.txt"} : Args{});
    EXPECT_EQ(run.file("ro/wide.txt"), kWide);
    EXPECT_EQ(run.has("n.txt"), !file_read_only);
    EXPECT_FALSE(run.has("binary.tmp"));
  }
}

TEST(FaultTest, DerivationWithoutSourceLeavesTheOldTable) {
  Sandbox box;
  box.write("UTF16~MS932.bin", Sandbox::derivedTable());
  RunResult run = box.run({});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.file("UTF16~MS932.bin"), Sandbox::derivedTable());
  EXPECT_EQ(run.errMessages(), Args{"Reset() error-209: MS932~UTF16.bin"});
}

// Exit 0 means the job was done: every report ends the run with the exit
// code its output deserves, and the output exists exactly when it was
// completely written. Reports that accompany a finished run keep 0.
TEST(FaultTest, EveryReportEndsWithTheExitCodeItsOutputDeserves) {
  struct Case {
    const char* what;
    void (*set_up)(Sandbox& box);
    Args arguments;
    std::string last_error;  // the last err file's message begins so
    int exit_code;
    const char* output;  // the file that must exist, or nullptr: none
  } cases[] = {
      {"no settings (148)", [](Sandbox& box) { box.remove("set_pelmora.txt"); },
       Args{"-j2", "wide.txt", "n.txt"}, "Reset() error-148: set_pelmora.txt",
       0, "n.txt"},
      {"no surro.txt (192)", [](Sandbox& box) { box.remove("surro.txt"); },
       Args{"-j2", "wide.txt", "n.txt"}, "Reset() error-192: surro.txt", 0,
       "n.txt"},
      {"the table found after the fixed place (154)",
       [](Sandbox& box) {
         box.remove(Sandbox::fixedTableName());
         box.write("UTF16~MS932.bin", Sandbox::derivedTable());
       },
       Args{"-j2", "wide.txt", "n.txt"}, "Reset() error-154: ", 0, "n.txt"},
      {"an option's number too large (214)", [](Sandbox&) {},
       Args{"-j2147483648", "wide.txt", "n.txt"},
       "sequence_to_integer() error-214: 2147483648", 1, "n.txt"},
      {"a narrow file that cannot be written (215)", [](Sandbox&) {},
       Args{"-j2", "wide.txt", "missing/n.txt"},
       "Rewrite() error-215: missing/n.txt", 1, nullptr},
      {"a -M note that cannot be shown (216)",
       [](Sandbox& box) { box.makeFolder("data.txt"); },
       Args{"-j2", "-M", "wide.txt", "n.txt"}, "Reset() error-216: data.txt", 1,
       "n.txt"},
      {"a derivation without its source (209)", [](Sandbox&) {}, Args{},
       "Reset() error-209: MS932~UTF16.bin", 1, nullptr},
      {"a derived table that cannot be put in place (241)",
       [](Sandbox& box) {
         box.write("MS932~UTF16.bin", Sandbox::dataFile("MS932~UTF16.bin"));
         box.makeFolder("UTF16~MS932.bin/kept");
       },
       Args{}, "Rewrite() error-241: UTF16~MS932.bin", 1, nullptr},
      {"no table in the only place asked (166)",
       [](Sandbox& box) { box.remove(Sandbox::fixedTableName()); },
       Args{"-D", "-j2", "wide.txt", "n.txt"}, "Reset() error-166: ", 1,
       nullptr},
      {"a -b copy that fails (221)", [](Sandbox&) {},
       Args{"-j2", "-b", "wide.txt", "missing/n.txt"},
       "Reset() error-221: missing/n.txt", 1, nullptr},
      {"a wide file that does not exist (229, 222)", [](Sandbox&) {},
       Args{"-j2", "absent.txt", "n.txt"}, "SetLength() error-222: -1",
       minusOneExit(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    prepare(box);
    c.set_up(box);
    RunResult run = box.run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
    const Args messages = run.errMessages();
    ASSERT_FALSE(messages.empty()) << run.describe();
    EXPECT_EQ(messages.back().substr(0, c.last_error.size()), c.last_error);
    if (c.output != nullptr) EXPECT_TRUE(run.has(c.output));
    EXPECT_FALSE(run.has("n.txt") && c.output == nullptr);
    EXPECT_EQ(run.file("wide.txt"), kWide);
  }
}

// A narrow name that would destroy a file the user needs is refused before
// anything is written (exit 1): an existing file in a Unicode coding holds
// an export, which Pelmora's own output never is (244: swapped names, -o
// read as "output", --LF read as -F), and a file this run reads is
// no place for its output (245), whatever the route; standard output is not
// affected.
TEST(FaultTest, NarrowNamesThatWouldDestroyAnInputAreRefused) {
  const std::tuple<const char*, Args, std::string> cases[] = {
      {"UTF-16LE export", Args{"-j2", "wide.txt", "export.txt"},
       "Rewrite() error-244: export.txt"},
      {"UTF-16LE export, -t", Args{"-j2", "-t", "wide.txt", "export.txt"},
       "Rewrite() error-244: export.txt"},
      {"UTF-16LE export, -b", Args{"-j2", "-b", "wide.txt", "export.txt"},
       "Rewrite() error-244: export.txt"},
      {"UTF-16BE export", Args{"-j2", "wide.txt", "big.txt"},
       "Rewrite() error-244: big.txt"},
      {"UTF-8 export, -o read as output",
       Args{"-j2", "-o", "wide.txt", "utf8.txt"},
       "Rewrite() error-244: utf8.txt"},
      {"UTF-8 export without a mark, --LF read as -F",
       Args{"--LF", "-j2", "bare8.txt", "wide.txt"},
       "Rewrite() error-244: bare8.txt"},
      {"UTF-16LE export without a mark", Args{"-j2", "wide.txt", "le.txt"},
       "Rewrite() error-244: le.txt"},
      {"the settings", Args{"-j2", "wide.txt", "set_pelmora.txt"},
       "Rewrite() error-245: set_pelmora.txt"},
      {"surro.txt", Args{"-j2", "wide.txt", "surro.txt"},
       "Rewrite() error-245: surro.txt"},
      {"set_dravikson.txt", Args{"-j2", "wide.txt", "set_dravikson.txt"},
       "Rewrite() error-245: set_dravikson.txt"},
      // The table a run loaded is one of its inputs too.
      {"the table", Args{"-j2", "wide.txt", "<fixed>"},
       "Rewrite() error-245: <fixed>"},
      // An export read and written to standard output is no narrow file.
      {"standard output", Args{"-j2", "--out", "export.txt"}, ""},
  };
  const Files before = {{"export.txt", kWide},  // begins FF FE
                        {"big.txt", "\xFE\xFF" + kWide.substr(2)},
                        {"utf8.txt", "\xEF\xBB\xBF" + std::string("a,b\r\n")},
                        {"bare8.txt", "\xE5\x90\x8D,\xE5\x80\xA4\r\n"},
                        {"le.txt", kWide.substr(2)},
                        {"set_dravikson.txt", "nowhere.bin\r\n"},
                        {"set_pelmora.txt", "t\r\n"},
                        {"surro.txt", "20B9F\r\n"},
                        {"wide.txt", kWide}};
  for (const auto& [what, arguments, error] : cases) {
    SCOPED_TRACE(what);
    Sandbox box;
    prepare(box);
    for (const auto& [name, bytes] : before) box.write(name, bytes);
    RunResult run = box.run(withFixedPlace(box, arguments));
    EXPECT_EQ(run.exitCode, error.empty() ? 0 : 1) << run.describe();
    EXPECT_EQ(run.errMessages(),
              error.empty() ? Args{} : withFixedPlace(box, {error}));
    for (const auto& [name, bytes] : before) EXPECT_EQ(run.file(name), bytes);
    EXPECT_EQ(run.file(Sandbox::fixedTableName()), Sandbox::derivedTable());
    EXPECT_FALSE(run.has("binary.tmp"));
  }
}

TEST(HostileCommandLineTest, HugeAndStrangeArgumentsEndInOrder) {
  std::string printable = "-";
  for (int c = 0x21; c < 0x7F; ++c) printable += static_cast<char>(c);
  std::string high = "-";
  for (int c = 0x80; c < 0x100; ++c) high += static_cast<char>(c);
  // As many arguments and as long a one as the platform hands a program.
  const platform_expectations::PlatformTable& platform =
      platform_expectations::programUnderTest();
  Args many(platform.mostShortArguments, "-u");
  many.insert(many.end(), {"-j2", "wide.txt", "n.txt"});
  const std::tuple<const char*, Args, int> cases[] = {
      {"the most arguments", many, 0},
      // Linux refuses to start a program with an argument above 128 KiB
      // (MAX_ARG_STRLEN), Windows a command line above 32,767 characters, so
      // the longest that can arrive stands in for 1 MiB.
      {"the longest argument",
       Args{"-j2", std::string(platform.longestArgument, 'a')},
       platform.minusOneSeenByHarness},
      {"the longest option",
       Args{"-j2", "-s" + std::string(platform.longestArgument - 2, ';'),
            "wide.txt", "n.txt"},
       0},
      {"field 2147483647", Args{"-j2147483647", "wide.txt", "n.txt"}, 0},
      // A number that does not fit (214) counts as not given, and the run
      // tells its script so.
      {"field 2147483648", Args{"-j2147483648", "wide.txt", "n.txt"}, 1},
      {"field of 40 digits",
       Args{"-e" + std::string(40, '9'), "wide.txt", "n.txt"}, 1},
      {"range bounds",
       Args{"-I2147483647-2147483648", "-~99x", "wide.txt", "n.txt"}, 1},
      // The cluster of every printable byte holds -G: the guide.
      {"every printable byte", Args{printable, "-j1", "wide.txt", "n.txt"}, 1},
      {"bytes above 0x7F", Args{high, "-j1", "wide.txt", "n.txt"}, 0},
      {"high bytes as a file name", Args{"-j1", "\x82\xA0\xFF.txt"},
       platform.minusOneSeenByHarness},
  };
  for (const auto& [name, arguments, exit_code] : cases) {
    SCOPED_TRACE(name);
    Sandbox box;
    prepare(box);
    RunResult run = box.run(arguments);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, exit_code) << run.describe();
    EXPECT_EQ(run.file("wide.txt"), kWide);
  }
}

TEST(HostileFileTest, OversizedSettingsAndPath) {
  Sandbox box;
  prepare(box);
  std::string settings = "t\r\n";
  for (int i = 0; i < 1000; ++i)
    settings += "-j" + std::to_string(i % 7) + "\r\n";
  box.write("set_pelmora.txt", settings);
  RunResult lines = box.run({"-j2", "wide.txt", "n.txt"});
  EXPECT_EQ(lines.exitCode, 0);
  EXPECT_EQ(lines.file("n.txt"), kNarrow);

  // An option line of 10 MiB (cut to 256 bytes, then not understood).
  box.write("set_pelmora.txt", "t\r\n-" + std::string(10 << 20, 'x') + "\r\n");
  RunResult long_line = box.run({"-j2", "wide.txt", "n.txt"});
  EXPECT_EQ(long_line.exitCode, 0);
  EXPECT_EQ(long_line.file("n.txt"), kNarrow);

  box.write("set_pelmora.txt", "t\r\n");
  box.remove(Sandbox::fixedTableName());
  box.write("UTF16~MS932.bin", Sandbox::derivedTable());
  std::string path;
  while (path.size() < 64 * 1024) path += "/nowhere/at/all;";
  box.setVariable("Path", path);
  RunResult long_path = box.run({"-j2", "-K-", "wide.txt", "n.txt"});
  EXPECT_EQ(long_path.exitCode, 0);
  EXPECT_EQ(long_path.file("n.txt"), kNarrow);
}

TEST(HostileFileTest, DegenerateWideFiles) {
  // Only separators, quotes, listed or unlisted high surrogates, CR or LF.
  for (char16_t unit : {u',', u'"', u'\xD842', u'\xD83D', u'\r', u'\n'}) {
    SCOPED_TRACE(static_cast<int>(unit));
    Sandbox box;
    prepare(box);
    box.write("w.txt", utf16le(std::u16string(300000, unit)));
    for (const char* column : {"-j1", "-j3", "-o2", "-e1", "-n2"}) {
      RunResult run = box.run({column, "w.txt", "n.txt"});
      EXPECT_EQ(run.exitCode, 0) << column;
      EXPECT_EQ(run.signal, 0);
      EXPECT_TRUE(run.errMessages().empty()) << run.describe();
    }
  }
}

// Many runs at once in one folder: every report gets its own serial number
// and its own err file, and the counter ends at the number of reports.
TEST(ConcurrencyTest, SimultaneousRunsShareTheCounter) {
  Sandbox box;
  box.write("UTF16~MS932.bin", Sandbox::derivedTable());
  box.write("wide.txt", kWide);
  // No settings file, no list, no fixed table: three reports per run.
  const int kRuns = 16;
  std::vector<RunResult> results(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&box, &results, i] {
      results[static_cast<std::size_t>(i)] =
          box.run({"-j2", "wide.txt", "n" + std::to_string(i) + ".txt"});
    });
  }
  for (std::thread& t : threads) t.join();
  RunResult last = box.run({"-V"});  // one more report (148), to list files
  std::set<long long> serials;
  for (const std::string& name : last.errFileNames()) {
    serials.insert(parseErrFileName(name)->serial);
  }
  const std::size_t reports = 3 * kRuns + 1;
  EXPECT_EQ(last.errFileNames().size(), reports);
  EXPECT_EQ(serials.size(), reports);
  EXPECT_EQ(*serials.begin(), 1);
  EXPECT_EQ(*serials.rbegin(), static_cast<long long>(reports));
  EXPECT_EQ(last.file("serial.txt"), std::to_string(reports));
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(results[static_cast<std::size_t>(i)].exitCode, 0);
    EXPECT_EQ(last.file("n" + std::to_string(i) + ".txt"), kNarrow);
  }
}

}  // namespace
