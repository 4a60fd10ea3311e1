#include "tables/path_exe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;
using Messages = std::vector<std::string>;

constexpr const char* kName = "UTF16~MS932.bin";

class CommandPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("Path")) saved_ = std::string(value);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("Path", saved_->c_str(), 1);
    } else {
      ::unsetenv("Path");
    }
  }

  static void setPath(const std::string& value) {
    ::setenv("Path", value.c_str(), 1);
  }

  // A folder in the scratch folder, optionally holding the table.
  std::string folder(const std::string& name, bool with_table) const {
    const fs::path dir = fs::path(folder_.path()) / name;
    fs::create_directories(dir);
    if (with_table) folder_.write(name + "/" + kName, "table");
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

  ScratchFolder folder_;
  std::optional<std::string> saved_;
};

TEST_F(CommandPathTest, FirstFolderHoldingTheTableWins) {
  const std::string none = folder("none", false);
  const std::string table = folder("table", true);
  const std::string also = folder("also", true);
  const std::string later = folder_.path() + "/later";  // would leave a 208
  setPath(none + ";" + table + ";" + also + ";" + later);
  EXPECT_EQ(search(true), table + "/" + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missed(none + "/" + kName)}));
}

TEST_F(CommandPathTest, EveryMissIsReportedInOrderOnlyWithTheFlag) {
  const std::string a = folder_.path() + "/a";
  const std::string b = folder_.path() + "/b";
  setPath(a + ";" + b);
  EXPECT_EQ(search(false), "");
  EXPECT_TRUE(folder_.errMessages().empty());
  EXPECT_EQ(search(true), "");
  EXPECT_EQ(folder_.errMessages(),
            (Messages{missed(a + "/" + kName), missed(b + "/" + kName)}));
}

TEST_F(CommandPathTest, UnsetOrEmptyPathGivesNoCandidate) {
  ::unsetenv("Path");
  EXPECT_EQ(search(true), "");
  setPath("");
  EXPECT_EQ(search(true), "");
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(CommandPathTest, OnlyTheMixedCaseNameIsRead) {
  // POSIX keeps "PATH" and "Path" apart; a table reachable through PATH
  // alone must not be found.
  ::unsetenv("Path");
  const std::string table = folder("table", true);
  const char* old = std::getenv("PATH");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("PATH", table.c_str(), 1);
  const std::string found = search(true);
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(found, "");
}

TEST_F(CommandPathTest, SeparatorBeforeSemicolonIsRemoved) {
  const std::string a = folder("a", false);
  const std::string b = folder("b", true);
  setPath(a + "/;" + b + "/;");
  CommandPath path;
  path.start(true);
  EXPECT_EQ(path.pathText(), a + ";" + b + ";");
  EXPECT_EQ(path.search(kName), b + "/" + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missed(a + "/" + kName)}));
}

TEST_F(CommandPathTest, RewriteIsOnePassOverTheValue) {
  struct Case {
    std::string value;
    std::string text;
  };
  const Case cases[] = {
      {"/x//;/y", "/x/;/y"},  // the result is not looked at again
      {"/x/;;/y", "/x;;/y"}, {"/;", ";"},
      {"/x/", "/x/"},  // no ";" follows: kept
      {"\\;/x", "\\;/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    setPath(c.value);
    CommandPath path;
    path.start(false);
    EXPECT_EQ(path.pathText(), c.text);
  }
}

TEST_F(CommandPathTest, TrailingSeparatorOfTheLastFolderIsKept) {
  const std::string none = folder_.path() + "/none";
  const std::string table = folder("table", true);
  setPath(none + "/;" + table + "/");
  EXPECT_EQ(search(true), table + "//" + kName);
  EXPECT_EQ(folder_.errMessages(), (Messages{missed(none + "/" + kName)}));
}

TEST_F(CommandPathTest, EmptyEntryBecomesTheBareSeparatorAndName) {
  const std::string a = folder_.path() + "/a";
  const std::string table = folder("table", true);
  setPath(a + ";;" + table);
  EXPECT_EQ(search(true), table + "/" + kName);
  EXPECT_EQ(
      folder_.errMessages(),
      (Messages{missed(a + "/" + kName), missed(std::string("/") + kName)}));
}

TEST_F(CommandPathTest, QuotedFolderLosesItsSemicolonButKeepsItsQuotes) {
  setPath("\"" + folder_.path() + "/my;dir\";/z");
  EXPECT_EQ(search(true), "");
  EXPECT_EQ(folder_.errMessages(),
            (Messages{missed("\"" + folder_.path() + "/mydir\"/" + kName),
                      missed(std::string("/z/") + kName)}));
}

TEST_F(CommandPathTest, LongPathIsUsedWhole) {
  // About 64 KiB of folders that cannot exist (their names are too long for
  // the file system), then the real one far beyond the first 4096 bytes.
  std::string value;
  for (int i = 0; i < 100; ++i) {
    value += "/" + std::to_string(i) + std::string(700, 'x') + ";";
  }
  ASSERT_GT(value.size(), 64u * 1024u);
  const std::string table = folder("table", true);
  value += table;
  setPath(value);
  CommandPath path;
  path.start(false);
  EXPECT_EQ(path.pathText(), value);
  EXPECT_EQ(path.search(kName), table + "/" + kName);
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(CommandPathTest, FoldersBeyondTheFieldLimitAreNotTried) {
  const std::string table = folder("table", true);
  for (int before :
       {CommandPath::PATH_FIELD_LIMIT - 1, CommandPath::PATH_FIELD_LIMIT}) {
    SCOPED_TRACE(before);
    std::string value;
    for (int i = 0; i < before; ++i) value += "/no" + std::to_string(i) + ";";
    setPath(value + table);
    const std::string expected =
        before < CommandPath::PATH_FIELD_LIMIT ? table + "/" + kName : "";
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
