// Filtered and number columns, the -t refresh, the -b route through
// binary.tmp, and what is left when a step cannot be done.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

// Standard output ends every line with CR LF, whatever -LF says.
std::string withCrLf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n' && (result.empty() || result.back() != '\r')) result += '\r';
    result += c;
  }
  return result;
}

class FileStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.write("set_pelmora.txt", "table\r\n");
    box_.write("surro.txt", "20B9F\r\n");
    box_.placeFixedTable(Sandbox::derivedTable());
    box_.write("wide.txt", wide_);
  }
  Sandbox box_;
  const std::string wide_ =
      "\xFF\xFE" + utf16le(u"名前,値段\r\n\"りんご\",-1234.50\r\nｱｲ,42\r\n");
  const std::string narrow_ = "\x92\x6C\x92\x69\r\n-1234.50\r\n42\r\n";
};

TEST_F(FileStepsTest, ColumnsThroughTheCommandLine) {
  box_.write("w.txt", utf16le(u"a\tH-1.5x\tc\nIb\t\x01z7\u00A0\n"));
  struct Case {
    Args arguments;
    std::string narrow;
  } cases[] = {
      {{"-o2", "-S\\t"}, "H-1.5x\r\nz7\r\n"},  // the tab is a control too
      {{"-j2", "-p", "-S\\t"}, "-1.5x\t\r\n\x01z7?\r\n"},
      {{"-e2", "-S\\t"}, "-1.5\r\n7.0\r\n"},
      {{"-e2", "-S\\t", "-H\\x26"}, "-1.5\r\n7.&\r\n"},
      {{"-e2", "-S\\t", "-h9", "-LF"}, "-1.5\n7.9\n"},
      {{"-n2", "-S\\t"}, "-1\r\n7\r\n"},
      {{"-n2", "-e2", "-S\\t"}, "-1.5\r\n7.0\r\n"},
      {{"-e300", "-n2", "-S\\t"}, "-1\r\n7\r\n"},
  };
  for (const Case& c : cases) {
    Args arguments = c.arguments;
    arguments.insert(arguments.end(), {"w.txt", "n.txt"});
    RunResult run = box_.run(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(run.file("n.txt"), c.narrow) << arguments[0];
    arguments.back() = "--out";
    RunResult out = box_.run(arguments);
    EXPECT_EQ(out.standardOutput, withCrLf(c.narrow)) << arguments[0];
  }
}

TEST_F(FileStepsTest, RefreshKeepsEveryByteOfTheWideFile) {
  RunResult run = box_.run({"-j2", "-t", "wide.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.file("wide.txt"), wide_);
  EXPECT_FALSE(run.has("binary.tmp"));
  EXPECT_EQ(run.file("n.txt"), narrow_);
}

TEST_F(FileStepsTest, RefreshWithKeepLeavesTheCopy) {
  RunResult run = box_.run({"-j2", "-t", "-y", "wide.txt", "n.txt"});
  EXPECT_EQ(run.file("wide.txt"), wide_);
  EXPECT_EQ(run.file("binary.tmp"), wide_);
  // A narrow file named binary.tmp that the run makes takes the copy
  // first, then the output in its place.
  box_.remove("binary.tmp");
  RunResult named = box_.run({"-j2", "-t", "wide.txt", "binary.tmp"});
  EXPECT_EQ(named.exitCode, 0) << named.describe();
  EXPECT_EQ(named.file("binary.tmp"), narrow_);
}

TEST_F(FileStepsTest, RefreshOfAnEmptyWideFile) {
  box_.write("empty.txt", "");
  RunResult run = box_.run({"-j1", "-t", "empty.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.has("empty.txt"));
  EXPECT_EQ(run.file("empty.txt"), "");
  EXPECT_EQ(run.file("n.txt"), "");
}

TEST_F(FileStepsTest, TemporaryRoute) {
  RunResult plain = box_.run({"-j2", "-b", "wide.txt", "n.txt"});
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_FALSE(plain.has("binary.tmp"));
  EXPECT_EQ(plain.file("n.txt"), narrow_);

  RunResult kept = box_.run({"-j2", "-b", "-y", "wide.txt", "k.txt"});
  EXPECT_EQ(kept.file("k.txt"), narrow_);
  EXPECT_EQ(kept.file("binary.tmp"), narrow_);

  box_.remove("binary.tmp");
  RunResult both = box_.run({"-j2", "-t", "-b", "wide.txt", "b.txt"});
  EXPECT_EQ(both.file("b.txt"), narrow_);
  EXPECT_EQ(both.file("wide.txt"), wide_);
  EXPECT_FALSE(both.has("binary.tmp"));
}

TEST_F(FileStepsTest, FailedEngineWriteIsNotCoveredByAnOldTemporaryFile) {
  // binary.tmp is a folder: the engine cannot write it.
  box_.makeFolder("binary.tmp");
  RunResult run = box_.run({"-j2", "-b", "wide.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errMessages(), (Args{"Rewrite() error-215: binary.tmp",
                                     "Reset() error-221: n.txt"}));
  EXPECT_FALSE(run.has("n.txt"));
}

TEST_F(FileStepsTest, CopyToAMissingFolderStopsAndKeepsTheCopy) {
  RunResult run = box_.run({"-j2", "-b", "wide.txt", "missing/n.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errMessages(), Args{"Reset() error-221: missing/n.txt"});
  EXPECT_EQ(run.file("binary.tmp"), narrow_);
}

TEST_F(FileStepsTest, FullDiskNeverCostsTheWideFile) {
  if (!std::ifstream("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // A device takes the output as a redirection would.
  EXPECT_EQ(box_.run({"-j2", "wide.txt", "/dev/null"}).exitCode, 0);
  // The narrow file on a full device: reported, and the run ends with 1.
  RunResult direct = box_.run({"-j2", "wide.txt", "/dev/full"});
  EXPECT_EQ(direct.exitCode, 1);
  EXPECT_EQ(direct.errMessages(), Args{"Rewrite() error-215: /dev/full"});
  // Through binary.tmp: the short copy is a failure, binary.tmp stays.
  RunResult routed = box_.run({"-j2", "-b", "wide.txt", "/dev/full"});
  EXPECT_EQ(routed.exitCode, 1);
  EXPECT_EQ(routed.errMessages().back(), "Reset() error-221: /dev/full");
  EXPECT_TRUE(routed.has("binary.tmp"));
  EXPECT_EQ(routed.file("wide.txt"), wide_);
}

TEST_F(FileStepsTest, WideFileNamedLikeTheTemporaryFileIsNotTruncated) {
  box_.write("binary.tmp", wide_);
  RunResult run = box_.run({"-j2", "-t", "binary.tmp", "n.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.file("binary.tmp"), wide_);
  EXPECT_EQ(run.file("n.txt"), narrow_);
}

}  // namespace
