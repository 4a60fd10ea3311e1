// What only the Windows program meets; skipped for the Linux program.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

const std::string kFixedTable = "C:\\Quorvelin\\UTF16~MS932.bin";

TEST(WindowsTest, TableInTheFixedPlaceOnDriveC) {
  E2E_NEEDS(Need::kWindows);
  Sandbox box;
  prepare(box);
  const std::string note = kFixedTable + " is primarily accessible to Pelmora.";
  for (const Args& arguments : {Args{"-j2", "-M", "wide.txt", "n.txt"},
                                Args{"-j2", "-M", "-D", "wide.txt", "n.txt"}}) {
    SCOPED_TRACE(arguments[2]);
    RunResult run = box.run(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.errMessages().empty()) << run.describe();
    EXPECT_EQ(run.file("n.txt"), kNarrow);
    EXPECT_EQ(run.standardOutput, note + "\r\n");
    EXPECT_EQ(run.file("data.txt"), note);
  }
}

TEST(WindowsTest, PathFoldersAreJoinedWithABackslash) {
  E2E_NEEDS(Need::kWindows);
  Sandbox box;
  prepare(box);
  box.remove(Sandbox::fixedTableName());
  box.makeFolder("empty");
  box.write("tables/UTF16~MS932.bin", Sandbox::derivedTable());
  // A drive-letter folder, then a relative one whose "\" before ";" is
  // dropped, then one that is never reached.
  const std::string empty = box.hostPath("empty");
  box.setVariable("Path", empty + ";tables\\;" + box.hostPath("never"));
  RunResult run = box.run({"-j2", "-M", "wide.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.errMessages(),
            (Args{"Reset() error-154: " + kFixedTable,
                  "Reset() error-153: UTF16~MS932.bin",
                  "Reset() error-208: " + empty + "\\UTF16~MS932.bin"}));
  EXPECT_EQ(run.standardOutput,
            "tables\\UTF16~MS932.bin is primarily accessible to Pelmora.\r\n");
  EXPECT_EQ(run.file("n.txt"), kNarrow);
}

// A name in another letter case is the same file, recognised as such.
TEST(WindowsTest, NamesDifferingInLetterCaseAreOneFile) {
  E2E_NEEDS(Need::kWindows);
  struct Case {
    const char* what;
    const char* wide_file;  // written with kWide before the run
    Args arguments;
    int exit_code;
    Args errors;
    Files files;
  } cases[] = {
      // The narrow file is made first, under the name the user wrote.
      {"-b, the narrow file Binary.TMP is binary.tmp", "wide.txt",
       Args{"-j2", "-b", "wide.txt", "Binary.TMP"}, 0, Args{},
       Files{{"wide.txt", kWide}, {"Binary.TMP", kNarrow}}},
      {"-t, the wide file Binary.Tmp is binary.tmp", "binary.tmp",
       Args{"-j2", "-t", "Binary.Tmp", "n.txt"}, 0, Args{},
       Files{{"binary.tmp", kWide}, {"n.txt", kNarrow}}},
      {"the narrow file WIDE.TXT is the wide file", "wide.txt",
       Args{"-j2", "wide.txt", "WIDE.TXT"}, 1,
       Args{"Rewrite() error-243: WIDE.TXT"}, Files{{"wide.txt", kWide}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    prepare(box);
    box.remove("wide.txt");
    box.write(c.wide_file, kWide);
    RunResult run = box.run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
    EXPECT_EQ(run.errMessages(), c.errors);
    EXPECT_EQ(caseFiles(run), c.files);
  }
}

TEST(WindowsTest, ReadOnlyWideFileIsReadButNotRefreshed) {
  E2E_NEEDS(Need::kWindows);
  Sandbox box;
  prepare(box);
  RunResult attrib = box.runTool({"attrib", "+r", "wide.txt"});
  ASSERT_EQ(attrib.exitCode, 0) << attrib.describe();
  RunResult refresh = box.run({"-j2", "-t", "wide.txt", "n.txt"});
  EXPECT_EQ(refresh.exitCode, 1) << refresh.describe();
  EXPECT_EQ(refresh.errMessages(), Args{"Reset() error-193: wide.txt"});
  EXPECT_EQ(caseFiles(refresh), (Files{{"wide.txt", kWide}}));
  RunResult plain = box.run({"-j2", "wide.txt", "n.txt"});
  EXPECT_EQ(plain.exitCode, 0) << plain.describe();
  EXPECT_EQ(plain.file("n.txt"), kNarrow);
  // The attribute is still set: attrib lists it ("R") before the file's
  // full name, which starts with the drive letter.
  RunResult listed = box.runTool({"attrib", "wide.txt"});
  const std::string flags =
      listed.standardOutput.substr(0, listed.standardOutput.find(':'));
  EXPECT_NE(flags.find('R'), std::string::npos) << listed.standardOutput;
}

// Another Windows process (a JScript) holds a file open: it writes held.txt
// once it has it, and closes it once the case writes release.txt.
class HeldFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    E2E_NEEDS(Need::kWindows);
    prepare(box_);
    box_.write(
        "hold.js",
        "var fso = new ActiveXObject('Scripting.FileSystemObject');\r\n"
        "var f = fso.OpenTextFile(WScript.Arguments(0),\r\n"
        "                         Number(WScript.Arguments(1)), true);\r\n"
        "fso.CreateTextFile('held.txt').Close();\r\n"
        "var started = new Date().getTime();\r\n"
        "while (!fso.FileExists('release.txt') &&\r\n"
        "       new Date().getTime() - started < 20000) {}\r\n"
        "f.Close();\r\n");
  }
  void TearDown() override {
    release();
    if (holder_.joinable()) holder_.join();
  }

  // Opens `name` in the other process: for reading (mode 1, shared with
  // nobody) or for appending (mode 8).
  void hold(const std::string& name, const char* mode) {
    holder_ = std::thread([this, name, mode] {
      holder_run_ =
          box_.runTool({"cscript", "//nologo", "hold.js", name, mode});
    });
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!box_.exists("held.txt") &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(box_.exists("held.txt")) << holder_run_.describe();
  }
  void release() {
    if (!box_.exists("release.txt")) box_.write("release.txt", "");
  }

  Sandbox box_;
  std::thread holder_;
  RunResult holder_run_;
};

TEST_F(HeldFileTest, TemporaryFileHeldByAnotherProcessIsWaitedFor) {
  ASSERT_NO_FATAL_FAILURE(hold("binary.tmp", "8"));
  std::atomic<bool> ended{false};
  RunResult run;
  std::thread runner([&] {
    run = box_.run({"-j2", "-b", "wide.txt", "n.txt"});
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const bool ended_while_held = ended;
  release();
  runner.join();
  EXPECT_FALSE(ended_while_held) << run.describe();
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_TRUE(run.errMessages().empty()) << run.describe();
  EXPECT_EQ(run.file("n.txt"), kNarrow);
  EXPECT_FALSE(run.has("binary.tmp"));
  EXPECT_EQ(run.file("wide.txt"), kWide);
}

TEST_F(HeldFileTest, WideFileOpenedExclusivelyIsReportedAsUnreadable) {
  ASSERT_NO_FATAL_FAILURE(hold("wide.txt", "1"));
  RunResult run = box_.run({"-j2", "-t", "wide.txt", "n.txt"});
  release();
  EXPECT_EQ(run.exitCode, minusOneExit()) << run.describe();
  EXPECT_EQ(run.errMessages(),
            (Args{"Reset() error-229: wide.txt", "SetLength() error-222: -1"}));
  EXPECT_FALSE(run.has("n.txt"));
  EXPECT_FALSE(run.has("binary.tmp"));
  EXPECT_EQ(box_.read("wide.txt"), kWide);
}

// Standard output is bytes: a pipe gets CR LF, with no CR added before LF.
// The null device named as the narrow file takes the output, as a
// redirection to it would, with -b too; it has no identity to compare.
TEST(WindowsTest, NulAsTheNarrowFileTakesTheOutput) {
  E2E_NEEDS(Need::kWindows);
  Sandbox box;
  prepare(box);
  for (const Args& arguments :
       {Args{"-j2", "wide.txt", "NUL"}, Args{"-j2", "-b", "wide.txt", "NUL"}}) {
    RunResult run = box.run(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(run.errMessages(), Args{});
    EXPECT_FALSE(run.has("binary.tmp"));
  }
}

TEST(WindowsTest, StandardOutputIsBinary) {
  E2E_NEEDS(Need::kWindows);
  Sandbox box;
  prepare(box);
  std::u16string wide;
  std::string narrow;
  for (std::size_t i = 0; i < 20000; ++i) {
    wide += u"x,\u540D" + std::u16string(i % 3, u'a') +
            (i % 2 == 0 ? u"\r\n" : u"\n");
    narrow += "\x96\xBC" + std::string(i % 3, 'a') + "\r\n";
  }
  box.write("w.txt", e2e::utf16le(wide));
  RunResult run = box.run({"-j2", "--out", "w.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_TRUE(run.standardOutput == narrow);
  EXPECT_EQ(run.standardOutput.size(), narrow.size());
  // The guide reaches the pipe byte for byte as version.txt holds it.
  RunResult guide = box.run({"-G"});
  EXPECT_EQ(guide.exitCode, 1);
  EXPECT_EQ(guide.standardOutput, guide.file("version.txt"));
  EXPECT_EQ(guide.standardOutput.find("\r\r"), std::string::npos);
}

}  // namespace
