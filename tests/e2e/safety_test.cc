// The user's files under every name, interruption and neighbour: one file
// reached by two names, links where Pelmora writes its own files, runs
// killed half-way, and many runs at once in one folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <chrono>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clean_run.h"
#include "platform_expectations.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using e2e::RunResult;
using e2e::Sandbox;
using e2e::utf16le;

using e2e::kNarrow;
using e2e::kWide;
using e2e::pathIn;
using e2e::prepare;
using platform_expectations::Need;

// The files a case made or kept, settings, list and err files aside.
std::map<std::string, std::string> caseFiles(const RunResult& run) {
  std::map<std::string, std::string> files;
  for (const auto& [name, bytes] : run.files) {
    if (name == "set_pelmora.txt" || name == "surro.txt" ||
        name == "wide.txt" || name == "serial.txt" ||
        name == Sandbox::fixedTableName() || e2e::parseErrFileName(name)) {
      continue;
    }
    files[name] = bytes;
  }
  return files;
}

// Every way of reaching one file by two names, with each file step that
// takes two names. Nothing may erase the wide file, and no run may end 0
// without its narrow file.
TEST(SafetyTest, OneFileUnderTwoNames) {
  using Files = std::map<std::string, std::string>;
  struct Case {
    const char* what;
    const char* hard_link;  // made to w.txt first, when set
    const char* symlink;    // made to w.txt first, when set
    std::vector<std::string> arguments;
    int exit_code;
    std::vector<std::string> errors;
    Files files;  // every file left but the link itself
  } cases[] = {
      {"-t, the wide file is binary.tmp",
       nullptr,
       nullptr,
       {"-j2", "-t", "./binary.tmp", "n.txt"},
       0,
       {},
       {{"binary.tmp", kWide}, {"n.txt", kNarrow}}},
      {"-t, the wide file is a hard link of binary.tmp",
       "binary.tmp",
       nullptr,
       {"-j2", "-t", "w.txt", "n.txt"},
       0,
       {},
       {{"binary.tmp", kWide}, {"w.txt", kWide}, {"n.txt", kNarrow}}},
      {"-b, the wide file is binary.tmp",
       nullptr,
       nullptr,
       {"-j2", "-b", "sub/../binary.tmp", "n.txt"},
       1,
       {"Rewrite() error-243: binary.tmp"},
       {{"binary.tmp", kWide}}},
      {"-b, binary.tmp links to the wide file",
       nullptr,
       "binary.tmp",
       {"-j2", "-b", "w.txt", "n.txt"},
       1,
       {"Rewrite() error-215: binary.tmp", "Reset() error-221: n.txt"},
       {{"w.txt", kWide}}},
      {"-b, the narrow file is binary.tmp",
       nullptr,
       nullptr,
       {"-j2", "-b", "w.txt", "./binary.tmp"},
       0,
       {},
       {{"w.txt", kWide}, {"binary.tmp", kNarrow}}},
      {"-b -y, the narrow file is binary.tmp",
       nullptr,
       nullptr,
       {"-j2", "-b", "-y", "w.txt", "sub/../binary.tmp"},
       0,
       {},
       {{"w.txt", kWide}, {"binary.tmp", kNarrow}}},
      {"the narrow file is the wide file",
       nullptr,
       nullptr,
       {"-j2", "w.txt", "./w.txt"},
       1,
       {"Rewrite() error-243: ./w.txt"},
       {{"w.txt", kWide}}},
      {"-t -b, the narrow file is a hard link of the wide file",
       "h.txt",
       nullptr,
       {"-j2", "-t", "-b", "w.txt", "h.txt"},
       1,
       {"Rewrite() error-243: h.txt"},
       {{"w.txt", kWide}, {"h.txt", kWide}}},
      {"the narrow file links to the wide file",
       nullptr,
       "l.txt",
       {"-j2", "w.txt", "l.txt"},
       1,
       {"Rewrite() error-243: l.txt"},
       {{"w.txt", kWide}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.symlink != nullptr) {
      if (const char* why = platform_expectations::whyNot(
              platform_expectations::programUnderTest(),
              Need::kProgramSeesSymbolicLinks)) {
        std::cout << "[ skipped  ] " << c.what << ": " << why << "\n";
        continue;
      }
    }
    Sandbox box;
    prepare(box);
    box.makeFolder("sub");
    const bool wide_is_temporary =
        c.files.count("w.txt") == 0 && c.symlink == nullptr;
    box.write(wide_is_temporary ? "binary.tmp" : "w.txt", kWide);
    if (c.hard_link != nullptr) {
      ASSERT_EQ(::link(pathIn(box, "w.txt").c_str(),
                       pathIn(box, c.hard_link).c_str()),
                0);
    }
    if (c.symlink != nullptr) {
      ASSERT_EQ(::symlink("w.txt", pathIn(box, c.symlink).c_str()), 0);
    }
    RunResult run = box.run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
    EXPECT_EQ(run.errMessages(), c.errors);
    Files left = caseFiles(run);
    if (c.symlink != nullptr) {
      EXPECT_TRUE(fs::is_symlink(pathIn(box, c.symlink)));
      left.erase(c.symlink);
    }
    EXPECT_EQ(left, c.files);
  }
}

// -t gives the wide file this run's time through a new file, but keeps what
// the user set up around it: the permission bits, a link staying a link, and
// a binary.tmp that an earlier, killed run left behind does no harm.
TEST(SafetyTest, RefreshKeepsModeLinksAndIgnoresAStaleCopy) {
  E2E_NEEDS(Need::kProgramSeesSymbolicLinks);
  Sandbox box;
  prepare(box);
  box.write("data/w.txt", kWide);
  ASSERT_EQ(::chmod(pathIn(box, "data/w.txt").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("data/w.txt", pathIn(box, "link.txt").c_str()), 0);
  box.write("binary.tmp", "left by a killed run");
  struct stat before {};
  ASSERT_EQ(::stat(pathIn(box, "data/w.txt").c_str(), &before), 0);

  RunResult run = box.run({"-j2", "-t", "link.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(
      caseFiles(run),
      (std::map<std::string, std::string>{
          {"data/w.txt", kWide}, {"link.txt", kWide}, {"n.txt", kNarrow}}));
  EXPECT_TRUE(fs::is_symlink(pathIn(box, "link.txt")));
  struct stat after {};
  ASSERT_EQ(::stat(pathIn(box, "data/w.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_NE(after.st_ino, before.st_ino);  // a newly created file
}

// A link where Pelmora writes a file of its own is a file that cannot be
// created: the file it points to is never written, the link stays, and the
// usual report says so.
TEST(SafetyTest, LinksInPlaceOfPelmorasOwnFilesAreNotFollowed) {
  E2E_NEEDS(Need::kProgramSeesSymbolicLinks);
  struct Case {
    const char* link;
    std::vector<std::string> arguments;
    int exit_code;
    std::vector<std::string> errors;
    std::string standard_error;
    std::string serial;  // serial.txt written before the run, when set
  } cases[] = {
      {"binary.tmp",
       {"-j2", "-b", "w.txt", "n.txt"},
       1,
       {"Rewrite() error-215: binary.tmp", "Reset() error-221: n.txt"},
       ""},
      {"binary.tmp",
       {"-j2", "-t", "w.txt", "n.txt"},
       1,
       {"Reset() error-193: w.txt"},
       ""},
      {"version.txt", {"-V"}, 1, {}, "version.txt: cannot be created: "},
      // Without surro.txt each run makes one report (192).
      {"serial.txt",
       {"-j2", "w.txt", "n.txt"},
       0,
       {"Reset() error-192: surro.txt"},
       ""},
      {"error.txt",
       {"-j2", "w.txt", "n.txt"},
       0,
       {"Reset() error-192: surro.txt"},
       "sequence_to_integer() error-230: abc\n",
       "abc"},
      {"UTF16~MS932.bin", {}, 0, {"Rewrite() error-241: UTF16~MS932.bin"}, ""},
      {"UTF16~MS932.bin.tmp",
       {},
       0,
       {"Rewrite() error-241: UTF16~MS932.bin"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link + std::string(" ") +
                 (c.arguments.size() < 2 ? "" : c.arguments[1]));
    Sandbox box;
    prepare(box);
    box.write("w.txt", kWide);
    box.write("MS932~UTF16.bin", Sandbox::dataFile("MS932~UTF16.bin"));
    box.write("elsewhere.txt", "not Pelmora's");
    if (!c.serial.empty()) box.write("serial.txt", c.serial);
    if (c.errors.size() == 1 && c.errors[0].find("192") != std::string::npos) {
      box.remove("surro.txt");
    }
    ASSERT_EQ(::symlink("elsewhere.txt", pathIn(box, c.link).c_str()), 0);
    RunResult run = box.run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
    EXPECT_EQ(run.errMessages(), c.errors);
    EXPECT_EQ(run.standardError.substr(0, c.standard_error.size()),
              c.standard_error);
    EXPECT_EQ(run.file("elsewhere.txt"), "not Pelmora's");
    EXPECT_TRUE(fs::is_symlink(pathIn(box, c.link)));
    EXPECT_EQ(run.file("w.txt"), kWide);
  }
}

// 32 runs at once in one folder, each on a wide file of its own, taking
// every route: binary.tmp belongs to one run at a time, so no run reads,
// overwrites or erases another's bytes.
TEST(SafetyTest, ThirtyTwoRunsAtOnceInOneFolder) {
  Sandbox box;
  box.write("surro.txt", "20B9F\r\n");  // no settings: one report per run
  box.placeFixedTable(Sandbox::derivedTable());
  const std::vector<std::vector<std::string>> routes = {
      {}, {"-t"}, {"-b"}, {"-b", "-y"}, {"-t", "-b"}};
  const int kRuns = 32;
  std::vector<std::string> wides;
  std::vector<std::string> narrows;
  for (int i = 0; i < kRuns; ++i) {
    // Large enough for the copies to overlap in time, distinct in content.
    std::u16string text;
    std::string narrow;
    for (int line = 0; line < 3000; ++line) {
      const std::string number = std::to_string(i * 100000 + line);
      text += u"x,";
      for (char c : number) text += static_cast<char16_t>(c);
      text += u",y\r\n";
      narrow += number + ",\r\n";
    }
    wides.push_back("\xFF\xFE" + utf16le(text));
    narrows.push_back(narrow);
    box.write("w" + std::to_string(i) + ".txt", wides.back());
  }
  std::vector<RunResult> results(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      std::vector<std::string> arguments = {"-j2"};
      const auto& route = routes[static_cast<std::size_t>(i) % routes.size()];
      arguments.insert(arguments.end(), route.begin(), route.end());
      arguments.push_back("w" + std::to_string(i) + ".txt");
      arguments.push_back("n" + std::to_string(i) + ".txt");
      results[static_cast<std::size_t>(i)] = box.run(arguments);
    });
  }
  for (std::thread& t : threads) t.join();

  box.setCollectFiles(true);
  RunResult last = box.run({"-j2", "w0.txt", "n0.txt"});
  std::set<std::string> err_files;
  for (int i = 0; i < kRuns; ++i) {
    const auto index = static_cast<std::size_t>(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(results[index].exitCode, 0) << results[index].describe();
    const std::vector<std::string> names = results[index].errFileNames();
    err_files.insert(names.begin(), names.end());
    EXPECT_EQ(last.file("w" + std::to_string(i) + ".txt"), wides[index]);
    EXPECT_EQ(last.file("n" + std::to_string(i) + ".txt"), narrows[index]);
  }
  // Each run reported the missing settings in an err file of its own.
  EXPECT_EQ(last.errFileNames().size(), static_cast<std::size_t>(kRuns) + 1);
  // What a kept binary.tmp holds is the whole output of one -b -y run.
  if (last.has("binary.tmp")) {
    bool whole = false;
    for (int i = 3; i < kRuns; i += static_cast<int>(routes.size())) {
      whole = whole ||
              last.file("binary.tmp") == narrows[static_cast<std::size_t>(i)];
    }
    EXPECT_TRUE(whole);
  }
}

// A run of -t killed at any moment, over and over: the wide file is always
// whole, and the next run succeeds as if nothing had happened.
TEST(SafetyTest, RefreshKilledAtAnyMomentLosesNothing) {
  Sandbox box;
  prepare(box);
  box.setCollectFiles(false);
  // 100 MB and more, so that the copies take long enough to be hit.
  std::u16string line = u"0123456789,";
  for (int i = 0; i < 40; ++i) line += u"漢字かなカナ";
  line += u"\r\n";
  std::string block;
  for (int i = 0; i < 1000; ++i) block += utf16le(line);
  std::string wide = "\xFF\xFE";
  while (wide.size() < (std::size_t{100} << 20)) wide += block;
  box.write("w.txt", wide);
  const std::vector<std::string> refresh = {"-j1", "-t", "w.txt", "n.txt"};

  // How long the refresh takes here (a run with it less one without), to
  // spread the kills over the copy out and the write-back.
  auto timed = [&box](const std::vector<std::string>& arguments) {
    const auto started = std::chrono::steady_clock::now();
    RunResult run = box.run(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started)
            .count());
  };
  const long plain = timed({"-j1", "w.txt", "n.txt"});
  const long took = timed(refresh) - plain;
  ASSERT_GT(took, 0);
  ASSERT_EQ(box.read("w.txt"), wide);

  // Kills are swept over that time again and again until 20 of them have
  // met the refresh (binary.tmp holds the copy only while it runs); timing
  // on a busy machine decides where each one lands.
  int during_refresh = 0;
  int attempts = 0;
  for (; during_refresh < 20 && attempts < 100; ++attempts) {
    SCOPED_TRACE(attempts);
    box.setKillAfter(took * (attempts % 20 + 1) / 21 + 1);
    RunResult killed = box.run(refresh);
    box.setKillAfter(0);
    ASSERT_EQ(box.read("w.txt"), wide);
    if (killed.signal == 0 || !box.exists("binary.tmp")) continue;
    ++during_refresh;
    RunResult next = box.run(refresh);
    ASSERT_EQ(next.exitCode, 0) << next.describe();
    ASSERT_EQ(box.read("w.txt"), wide);
    ASSERT_FALSE(box.exists("binary.tmp"));
  }
  EXPECT_EQ(during_refresh, 20) << "in " << attempts << " attempts";
  // No scratch file of a killed run is left beside the wide file.
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(box.path())) {
    const std::string name = entry.path().filename().string();
    if (name == "bin" || name == "share") continue;  // the harness's own
    names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"n.txt", "set_pelmora.txt",
                                          "surro.txt", "w.txt", "wide.txt"}));
}

}  // namespace
