#include "tables/command_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;
using Messages = std::vector<std::string>;

constexpr const char* kName = "UTF16~MS932.bin";

// The cases are written with "/" for the directory separator and "\\" for
// the other slash, which the rewrite leaves alone; here they become this
// system's.
std::string sep(std::string text) {
  const char separator = platform_expectations::thisBuild().directorySeparator;
  const char other = separator == '/' ? '\\' : '/';
  for (char& c : text) c = c == '/' ? separator : c == '\\' ? other : c;
  return text;
}

class CommandPathTest : public ::testing::Test {
 protected:
  // Path goes, and comes back as it was only after the test.
  void TearDown() override { testing_support::unsetEnvironment("Path"); }

  static void setPath(const std::string& value) {
    testing_support::setEnvironment("Path", value);
  }

  // A folder in the scratch folder, optionally holding the table.
  std::string folder(const std::string& name, bool with_table) const {
    const fs::path dir = fs::path(folder_.path()) / name;
    fs::create_directories(dir);
    if (with_table) folder_.write(name + sep("/") + kName, "table");
    return dir.string();
  }

  static std::string search(bool report) {
    CommandPath path;
    path.start(report);
    return path.search(kName);
  }

  static std::string missed(const std::string& candidate) {
    return "Reset() error-208: " + candidate;
  }
  // The report of a folder that does not hold the table.
  static std::string missedIn(const std::string& dir) {
    return missed(dir + sep("/") + kName);
  }

  testing_support::EnvironmentWithout path_{"Path"};
  ScratchFolder folder_;
};

TEST_F(CommandPathTest, FirstFolderHoldingTheTableWins) {
  const std::string none = folder("none", false);
  const std::string table = folder("table", true);
  const std::string also = folder("also", true);
  const std::string later =
      folder_.path() + sep("/later");  // would leave a 208
  setPath(none + ";" + table + ";" + also + ";" + later);
  EXPECT_EQ(search(true), table + sep("/") + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missedIn(none)}));
}

TEST_F(CommandPathTest, EveryMissIsReportedInOrderOnlyWithTheFlag) {
  const std::string a = folder_.path() + sep("/a");
  const std::string b = folder_.path() + sep("/b");
  setPath(a + ";" + b);
  EXPECT_EQ(search(false), "");
  EXPECT_TRUE(folder_.errMessages().empty());
  EXPECT_EQ(search(true), "");
  EXPECT_EQ(folder_.errMessages(), (Messages{missedIn(a), missedIn(b)}));
}

TEST_F(CommandPathTest, UnsetOrEmptyPathGivesNoCandidate) {
  testing_support::unsetEnvironment("Path");
  EXPECT_EQ(search(true), "");
  setPath("");
  EXPECT_EQ(search(true), "");
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(CommandPathTest, OnlyTheMixedCaseNameIsRead) {
  // POSIX keeps "PATH" and "Path" apart; a table reachable through PATH
  // alone must not be found.
  UNIT_NEEDS(platform_expectations::Need::kCaseSensitiveEnvironment);
  const std::string table = folder("table", true);
  const testing_support::EnvironmentWithout path("PATH");  // and back after
  testing_support::setEnvironment("PATH", table);
  EXPECT_EQ(search(true), "");
}

TEST_F(CommandPathTest, SeparatorBeforeSemicolonIsRemoved) {
  const std::string a = folder("a", false);
  const std::string b = folder("b", true);
  setPath(a + sep("/;") + b + sep("/;"));
  CommandPath path;
  path.start(true);
  EXPECT_EQ(path.pathText(), a + ";" + b + ";");
  EXPECT_EQ(path.search(kName), b + sep("/") + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missedIn(a)}));
}

TEST_F(CommandPathTest, RewriteIsOnePassOverTheValue) {
  const std::pair<std::string, std::string> cases[] = {
      {"/x//;/y", "/x/;/y"},  // the result is not looked at again
      {"/x/;;/y", "/x;;/y"}, {"/;", ";"},
      {"/x/", "/x/"},  // no ";" follows: kept
      {"\\;/x", "\\;/x"},
  };
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(value);
    setPath(sep(value));
    CommandPath path;
    path.start(false);
    EXPECT_EQ(path.pathText(), sep(text));
  }
}

TEST_F(CommandPathTest, TrailingSeparatorOfTheLastFolderIsKept) {
  const std::string none = folder_.path() + sep("/none");
  const std::string table = folder("table", true);
  setPath(none + sep("/;") + table + sep("/"));
  EXPECT_EQ(search(true), table + sep("//") + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missedIn(none)}));
}

TEST_F(CommandPathTest, EmptyEntryBecomesTheBareSeparatorAndName) {
  const std::string a = folder_.path() + sep("/a");
  const std::string table = folder("table", true);
  setPath(a + ";;" + table);
  EXPECT_EQ(search(true), table + sep("/") + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missedIn(a), missedIn("")}));
}

TEST_F(CommandPathTest, QuotedFolderLosesItsSemicolonButKeepsItsQuotes) {
  setPath("\"" + folder_.path() + sep("/my;dir\";/z"));
  EXPECT_EQ(search(true), "");
  EXPECT_EQ(folder_.errMessages(),
            (Messages{missed("\"" + folder_.path() + sep("/mydir\"/") + kName),
                      missedIn(sep("/z"))}));
}

TEST_F(CommandPathTest, LongPathIsUsedWhole) {
  // Up to about 64 KiB of folders that cannot exist (their names are too
  // long for the file system), as many as one variable holds, then the
  // real one far beyond the first 4096 bytes.
  const std::string table = folder("table", true);
  const std::size_t room =
      platform_expectations::thisBuild().longestEnvironmentValue - table.size();
  std::string value;
  for (int i = 0; i < 100; ++i) {
    const std::string entry =
        sep("/") + std::to_string(i) + std::string(700, 'x') + ";";
    if (value.size() + entry.size() > room) break;
    value += entry;
  }
  ASSERT_GT(value.size(), std::min<std::size_t>(64 * 1024, room - 1024));
  value += table;
  setPath(value);
  CommandPath path;
  path.start(false);
  EXPECT_EQ(path.pathText(), value);
  EXPECT_EQ(path.search(kName), table + sep("/") + kName);
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(CommandPathTest, FoldersBeyondTheFieldLimitAreNotTried) {
  const std::string table = folder("table", true);
  for (int before :
       {CommandPath::kPathFieldLimit - 1, CommandPath::kPathFieldLimit}) {
    SCOPED_TRACE(before);
    std::string value;
    for (int i = 0; i < before; ++i) {
      value += sep("/no") + std::to_string(i) + ";";
    }
    setPath(value + table);
    const std::string expected =
        before < CommandPath::kPathFieldLimit ? table + sep("/") + kName : "";
    EXPECT_EQ(search(false), expected);
  }
}

TEST_F(CommandPathTest, ProbeAcceptsReadOnlyFilesAndReportsMisses) {
  // Only telling for ordinary users: root opens the file for writing too.
  folder_.write("ro.bin", "x");
  fs::permissions(fs::path(folder_.path()) / "ro.bin", fs::perms::owner_read,
                  fs::perm_options::replace);
  CommandPath path;
  path.start(true);
  EXPECT_TRUE(path.probe("ro.bin"));
  EXPECT_FALSE(path.probe("absent.bin"));
  EXPECT_EQ(folder_.errMessages(), (Messages{missed("absent.bin")}));
}

}  // namespace
