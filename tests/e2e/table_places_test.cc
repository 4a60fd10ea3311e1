// The table found through the Path variable, and the supplementary list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

std::string fixedMiss(const Sandbox& box) {
  return "Reset() error-154: " + box.fixedTableText();
}

// A Path folder and a name joined as the program joins them.
std::string inFolder(const std::string& folder, const std::string& name) {
  return folder + platform_expectations::programUnderTest().directorySeparator +
         name;
}

TEST(PathSearchTest, SecondOfThreeFoldersHoldsTheTable) {
  Sandbox box;
  box.write("set_pelmora.txt", "t\r\n");
  box.write("surro.txt", "20B9F\r\n");
  box.write("w.txt", utf16le(u"漢\n"));
  box.makeFolder("one");
  box.write("two/UTF16~MS932.bin", Sandbox::derivedTable());
  box.write("three/UTF16~MS932.bin", "");
  const std::string one = box.hostPath("one");
  // A separator before ";" is dropped ("/;", "\\;").
  const std::string two = inFolder(box.hostPath("two"), "");
  box.setVariable("Path", one + ";" + two + ";" + box.hostPath("three"));
  RunResult run = box.run({"-j1", "-M", "w.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.file("n.txt"), "\x8A\xBF\r\n");
  EXPECT_EQ(run.errMessages(),
            (Args{fixedMiss(box), "Reset() error-153: UTF16~MS932.bin",
                  "Reset() error-208: " + inFolder(one, "UTF16~MS932.bin")}));
  EXPECT_EQ(run.standardOutput,
            two + "UTF16~MS932.bin is primarily accessible to Pelmora.\r\n");
}

TEST(PathSearchTest, EmptyEntriesAndMissesLeadToTheSettingsFile) {
  Sandbox box;
  box.write("set_pelmora.txt", "t\r\n");
  box.write("surro.txt", "20B9F\r\n");
  box.write("w.txt", utf16le(u"a\n"));
  box.setVariable("Path", "missing;;");
  RunResult run = box.run({"-j1", "w.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(
      run.errMessages(),
      (Args{fixedMiss(box), "Reset() error-153: UTF16~MS932.bin",
            "Reset() error-208: " + inFolder("missing", "UTF16~MS932.bin"),
            "Reset() error-208: " + inFolder("", "UTF16~MS932.bin"),
            "Reset() error-155: set_dravikson.txt",
            "Reset() error-167: i = 4"}));
  EXPECT_FALSE(run.has("n.txt"));
}

TEST(PathSearchTest, UnsetPathAddsNoReports) {
  Sandbox box;
  box.write("set_pelmora.txt", "t\r\n");
  box.write("surro.txt", "20B9F\r\n");
  box.write("UTF16~MS932.bin", Sandbox::derivedTable());
  box.write("w.txt", utf16le(u"a\n"));
  box.setVariable("PATH", box.path());  // only "Path" is searched
  RunResult run = box.run({"-j1", "w.txt", "n.txt"});
  EXPECT_EQ(run.errMessages(), Args{fixedMiss(box)});
}

class SupplementaryListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.write("set_pelmora.txt", "t\r\n");
    box_.placeFixedTable(Sandbox::derivedTable());
  }
  Sandbox box_;
};

TEST_F(SupplementaryListTest, ListedAndUnlistedCharacters) {
  box_.write("surro.txt", "20B9F remark\r\n\r\n2A6B2\r\n");
  box_.write("w.txt", utf16le(u"\U00020B9F,\U0002A6B2,\U0001F600\n"
                              u"\xD842\n,x\n"));
  RunResult run = box_.run({"-j1", "w.txt", "a.txt"});
  EXPECT_TRUE(run.errMessages().empty()) << run.describe();
  // Only the first listed character counts (the list ends at the empty
  // line); the LF after a lone listed high half is swallowed as its low
  // half, and the two make no character: "??".
  EXPECT_EQ(run.file("a.txt"), std::string("\x81\x51,\r\n??,\r\n"));
  RunResult second = box_.run({"-j2", "w.txt", "b.txt"});
  EXPECT_EQ(second.file("b.txt"), std::string("??,\r\n") + "x\r\n");
  RunResult third = box_.run({"-j3", "w.txt", "c.txt"});
  EXPECT_EQ(third.file("c.txt"), std::string("??\r\n\r\n"));
}

TEST_F(SupplementaryListTest, MissingListIsReportedAndTheRunGoesOn) {
  box_.write("w.txt", utf16le(u"\U00020B9F\n"));
  RunResult run = box_.run({"-j1", "w.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.errMessages(), Args{"Reset() error-192: surro.txt"});
  EXPECT_EQ(run.file("n.txt"), std::string("??\r\n"));
}

TEST_F(SupplementaryListTest, OversizedNumberStopsTheRun) {
  box_.write("surro.txt", "20B9F\r\n80000000\r\n");
  box_.write("w.txt", utf16le(u"a\n"));
  RunResult run = box_.run({"-j1", "w.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errMessages(),
            Args{"hexadecimal_sequence_to_integer() error-158: i = 56"});
  EXPECT_FALSE(run.has("n.txt"));
}

}  // namespace
