// The sandbox itself, checked with small shell scripts in place of the
// program: every other end-to-end case trusts what it reports.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

void useScript(const Sandbox& box, const std::string& body) {
  box.write("bin/pelmora", "#!/bin/sh\n" + body);
  ::chmod(box.programPath().c_str(), 0755);
}

TEST(SandboxTest, RunsTheProgramCopyInsideTheSandbox) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  std::string copied = box.read("bin/pelmora");
  ASSERT_FALSE(copied.empty());
  EXPECT_EQ(copied.substr(1, 3), "ELF");
  useScript(box, "pwd\necho \"$0\"\n");
  RunResult run = box.run({});
  std::string real = std::filesystem::canonical(box.path()).string();
  EXPECT_EQ(run.standardOutput, real + "\n" + box.programPath() + "\n");
}

TEST(SandboxTest, EnvironmentIsMinimal) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  useScript(box, "export -p\n");
  box.setVariable("Path", "/one;/two");
  box.setVariable("EMPTY", "");
  RunResult run = box.run({});
  const std::string& out = run.standardOutput;
  for (const char* set : {"LC_ALL='C'", "Path='/one;/two'", "EMPTY=''"}) {
    EXPECT_NE(out.find(set), std::string::npos) << out;
  }
  for (const char* unset : {"LANG", "HOME", " PATH="}) {
    EXPECT_EQ(out.find(unset), std::string::npos) << out;
  }

  box.unsetVariable("Path");
  run = box.run({});
  EXPECT_EQ(run.standardOutput.find("Path"), std::string::npos);
}

TEST(SandboxTest, ArgumentsArriveAsRawBytes) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  // One argument per line, with its length, so empty ones show.
  useScript(box, "for a in \"$@\"; do echo \"${#a}:$a\"; done\n");
  RunResult run = box.run({"", "-j2", "\x83\x65\x83\x58", "a b", ""});
  EXPECT_EQ(run.standardOutput, "0:\n3:-j2\n4:\x83\x65\x83\x58\n3:a b\n0:\n");
}

TEST(SandboxTest, StandardInputIsEmpty) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  useScript(box, "cat; echo end\n");
  EXPECT_EQ(box.run({}).standardOutput, "end\n");
}

TEST(SandboxTest, ExitCodesAsTheShellSeesThem) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  const std::tuple<const char*, int, int> cases[] = {
      {"exit 0\n", 0, 0},
      {"exit 1\n", 1, 0},
      {"exit 255\n", 255, 0},
      {"kill -9 $$\n", 128 + 9, 9}};
  for (const auto& [script, code, signal] : cases) {
    useScript(box, script);
    RunResult run = box.run({});
    EXPECT_EQ(run.exitCode, code) << script;
    EXPECT_EQ(run.signal, signal) << script;
    EXPECT_FALSE(run.timedOut);
  }
}

TEST(SandboxTest, LargeOutputOnBothStreamsDoesNotBlock) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  // Far more than a pipe holds, alternating between the two streams.
  useScript(box,
            "i=0; while [ $i -lt 20000 ]; do i=$((i+1))\n"
            "echo 0123456789012345678901234567890123456789\n"
            "echo abcdefghijabcdefghijabcdefghijabcdefghij >&2; done\n");
  RunResult run = box.run({});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.standardOutput.size(), 20000u * 41u);
  EXPECT_EQ(run.standardError.size(), 20000u * 41u);
}

TEST(SandboxTest, HangingRunIsKilledAtTheTimeLimit) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  useScript(box, "echo started\nwhile :; do :; done\n");
  box.setTimeLimit(1);
  RunResult run = box.run({});
  EXPECT_TRUE(run.timedOut);
  EXPECT_EQ(run.signal, 9);
  EXPECT_EQ(run.standardOutput, "started\n");
}

TEST(SandboxTest, FilesLeftBehindExcludeTheProgramFolder) {
  E2E_NEEDS(Need::kScriptInPlaceOfProgram);
  Sandbox box;
  box.placeFixedTable("table");
  box.write("set_pelmora.txt", "x\r\n");
  useScript(box,
            "printf 'one' > err2-14-25.txt\n"
            "printf 'two' > err10-14-25.txt\n"
            "printf 'midnight' > err3--.txt\n"
            "printf 'not a log' > error.txt\n"
            "mkdir -p empty sub/deeper\n"
            "printf 'x' > sub/deeper/err1-00-00.txt\n"
            "printf 'ignored' > bin/made-by-run\n");
  RunResult run = box.run({});
  EXPECT_EQ(run.fileNames(),
            (std::set<std::string>{"err10-14-25.txt", "err2-14-25.txt",
                                   "err3--.txt", "error.txt", "set_pelmora.txt",
                                   "share/pelmora/UTF16~MS932.bin",
                                   "sub/deeper/err1-00-00.txt"}));
  EXPECT_EQ(run.folders,
            (std::set<std::string>{"empty", "share", "share/pelmora", "sub",
                                   "sub/deeper"}));
  EXPECT_EQ(run.file(Sandbox::fixedTableName()), "table");
  // Only the sandbox's own err files count, in serial order.
  EXPECT_EQ(run.errFileNames(),
            (Args{"err2-14-25.txt", "err3--.txt", "err10-14-25.txt"}));
  EXPECT_EQ(run.errMessages(), (Args{"one", "midnight", "two"}));
}

TEST(SandboxTest, FolderIsRemovedAfterwardsEvenWithoutPermissions) {
  if (std::getenv("PELMORA_KEEP_SANDBOX") != nullptr) {
    GTEST_SKIP() << "PELMORA_KEEP_SANDBOX keeps every sandbox";
  }
  std::string path;
  {
    Sandbox box;
    path = box.path();
    box.makeFolder("locked/inner");
    box.write("locked/inner/file", "x");
    ::chmod((path + "/locked").c_str(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(ErrFileNameTest, ParsesSerialMinutesAndSeconds) {
  const std::tuple<const char*, long long, const char*, const char*> cases[] = {
      {"err1-14-25.txt", 1, "14", "25"},
      {"err42-05-09.txt", 42, "05", "09"},
      {"err5--.txt", 5, "", ""},
      {"err7-14-_.txt", 7, "14", "_"},
      {"err0-00-00.txt", 0, "00", "00"},
      {"err2147483647-59-59.txt", 2147483647, "59", "59"}};
  for (const auto& [name, serial, minutes, seconds] : cases) {
    auto parts = parseErrFileName(name);
    ASSERT_TRUE(parts.has_value()) << name;
    EXPECT_EQ(parts->serial, serial) << name;
    EXPECT_EQ(parts->minutes, minutes) << name;
    EXPECT_EQ(parts->seconds, seconds) << name;
  }
  for (const char* name : {"error.txt", "err-14-25.txt", "err1-14-25.txt.bak",
                           "err1-14.txt", "xerr1-14-25.txt", "serial.txt"}) {
    ASSERT_FALSE(parseErrFileName(name).has_value()) << name;
  }
}

}  // namespace
