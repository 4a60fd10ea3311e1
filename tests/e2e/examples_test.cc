// Every example's commands, run in order in a copy of its folder, leave
// exactly the files in its expected/ and no err file. A new user tries these
// first: a change to their output must show up here, not in a batch file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_case.h"
#include "file_bytes.h"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

// The argument lists of the "pelmora ..." lines, split at blanks; a split
// cannot honour what quotes and backslashes mean to a shell, so a command
// holding one is an error of the example.
std::vector<Args> commandsOf(const fs::path& file, std::string* problem) {
  std::vector<Args> commands;
  std::istringstream lines(harness::readBytes(file));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Args command{std::istream_iterator<std::string>(words), {}};
    if (line.find_first_of("'\"\\$`") != std::string::npos || command.empty() ||
        command[0] != "pelmora") {
      *problem = "not a pelmora command without shell quoting: " + line;
      return {};
    }
    command.erase(command.begin());
    commands.push_back(command);
  }
  if (commands.empty()) *problem = "no command";
  return commands;
}

TEST(ExamplesTest, EveryShippedExampleGivesItsExpectedFiles) {
  const fs::path root = PELMORA_EXAMPLES_DIR;
  std::vector<fs::path> examples;
  for (const auto& entry : fs::directory_iterator(root)) {
    if (fs::exists(entry.path() / "commands.txt")) {
      examples.push_back(entry.path());
    }
  }
  std::sort(examples.begin(), examples.end());
  ASSERT_GE(examples.size(), 3u) << "examples in " << root;

  for (const fs::path& example : examples) {
    SCOPED_TRACE(example.filename().string());
    std::string problem;
    auto commands = commandsOf(example / "commands.txt", &problem);
    ASSERT_TRUE(problem.empty()) << problem;

    Sandbox box;
    box.placeFixedTable(Sandbox::derivedTable());
    std::set<std::string> expectedNames = {Sandbox::fixedTableName()};
    for (const auto& entry : fs::directory_iterator(example)) {
      const std::string name = entry.path().filename().string();
      if (!entry.is_regular_file() || name == "commands.txt") continue;
      box.write(name, harness::readBytes(entry.path()));
      expectedNames.insert(name);
    }
    RunResult run;
    for (const auto& arguments : commands) {
      run = box.run(arguments);
      ASSERT_EQ(run.exitCode, 0) << run.describe();
    }

    for (const auto& entry : fs::directory_iterator(example / "expected")) {
      const std::string name = entry.path().filename().string();
      expectedNames.insert(name);
      EXPECT_TRUE(run.file(name) == harness::readBytes(entry.path()))
          << name << " differs from expected/" << name;
    }
    // Nothing else: no err file, no serial.txt, no stray temporary file.
    std::set<std::string> left = run.fileNames();
    left.insert(Sandbox::fixedTableName());
    EXPECT_EQ(left, expectedNames) << run.describe();
  }
}

}  // namespace
