// Whole runs in this process, with faults planted where no disk of a test
// machine fails: a disk with room for small files only, memory that runs
// out. Each run ends its own process, as the program does.
#include "app/run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "select/select_utf16.h"
#include "tables/derive_binary.h"
#include "test_support.h"

namespace {

using testing_support::utf16le;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A death test's child that runs the test again finds the copy there.
    std::filesystem::copy_file(
        PELMORA_DATA_DIR "/MS932~UTF16.bin",
        folder_.path() + "/MS932~UTF16.bin",
        std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(DeriveTable().derive(), DeriveStatus::kOk);
    folder_.write("set_pelmora.txt", "t\r\n");
    folder_.write("surro.txt", "20B9F\r\n");
  }

  // Runs Pelmora with the faults planted; the run must end with `code`.
  // The reports it leaves are its err files that were not there before.
  std::vector<std::string> run(const std::vector<std::string>& arguments,
                               const platform::PlantedFaults& faults,
                               int code) {
    const std::size_t before = folder_.errMessages().size();
    EXPECT_EXIT(
        {
          const testing_support::PlantedFaults planted(faults);
          std::exit(runPelmora(arguments));
        },
        ::testing::ExitedWithCode(code), "");
    std::vector<std::string> reports = folder_.errMessages();
    reports.erase(reports.begin(), reports.begin() + before);
    // The table is found in the current folder, after the fixed place of
    // the test program, which holds none.
    if (!reports.empty() && reports[0].rfind("Reset() error-154: ", 0) == 0) {
      reports.erase(reports.begin());
    }
    return reports;
  }

  static platform::PlantedFaults roomForSmallFiles(std::size_t bytes) {
    return {"", "", 0, 0, 0, bytes};  // writes of more bytes fail
  }

  testing_support::ScratchFolder folder_;
};

TEST_F(FaultTest, RefreshOnAFullDiskKeepsTheWideFile) {
  // Room for the err file, serial.txt and more, but not for the copy.
  const std::string big =
      "\xFF\xFE" + utf16le(std::u16string(40000, u'x') + u"\n");
  folder_.write("wide.txt", big);
  EXPECT_EQ(
      run({"-j1", "-t", "wide.txt", "n.txt"}, roomForSmallFiles(20000), 1),
      std::vector<std::string>{"Reset() error-193: wide.txt"});
  EXPECT_EQ(folder_.read("wide.txt"), big);
  EXPECT_FALSE(folder_.exists("n.txt"));
}

TEST_F(FaultTest, FullDiskDuringTheNarrowWriteIsReported) {
  folder_.write("wide.txt", utf16le(std::u16string(30000, u'x') + u"\n"));
  EXPECT_EQ(run({"-j1", "wide.txt", "n.txt"}, roomForSmallFiles(10000), 1),
            std::vector<std::string>{"Rewrite() error-215: n.txt"});
  EXPECT_EQ(run({"-j1", "-b", "wide.txt", "m.txt"}, roomForSmallFiles(10000), 1)
                .back(),
            "Reset() error-221: m.txt");
}

TEST_F(FaultTest, NarrowOutputBeyondMemoryIsReported) {
  folder_.write("wide.txt", utf16le(u"\u6F22\u6F22\n"));
  folder_.write("n.txt", "kept");
  platform::PlantedFaults no_memory;
  no_memory.fail_large_blocks_from = 1;
  const std::vector<std::string> reports =
      run({"-j1", "wide.txt", "n.txt"}, no_memory, 1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("SetLength() error-223: ", 0), 0u) << reports[0];
  EXPECT_EQ(folder_.read("n.txt"), "kept");
  // One that this run made for the output is gone again.
  (void)run({"-j1", "wide.txt", "new.txt"}, no_memory, 1);
  EXPECT_FALSE(folder_.exists("new.txt"));
}

// Another program puts a file of its own under the narrow name during the
// scan: the output goes into the file opened before the scan, the other
// file keeps its bytes, and the run says that its output is not under the
// name it was given (215; 221 on the -b route, binary.tmp kept).
void replaceTheNarrowName() {
  static bool done = false;
  if (done) return;
  done = true;
  std::filesystem::rename("n.txt", "moved.txt");
  std::filesystem::rename("other.txt", "n.txt");
}

TEST_F(FaultTest, NarrowNameReplacedDuringTheScanKeepsTheOtherFile) {
  folder_.write("wide.txt", utf16le(u"a,b\n"));
  for (const char* route : {"-j1", "-b"}) {
    SCOPED_TRACE(route);
    folder_.write("n.txt", "old");
    folder_.write("other.txt", "other");
    EXPECT_EXIT(
        {
          Selecting::setBlockReadHookForTesting(replaceTheNarrowName);
          std::exit(runPelmora({"-j1", route, "wide.txt", "n.txt"}));
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(folder_.errMessages().back(), route[1] == 'b'
                                                ? "Reset() error-221: n.txt"
                                                : "Rewrite() error-215: n.txt");
    EXPECT_EQ(folder_.read("n.txt"), "other");
    EXPECT_EQ(folder_.read("moved.txt"), "a,\r\n");
  }
  EXPECT_EQ(folder_.read("binary.tmp"), "a,\r\n");
}

// What an existing narrow file holds is checked before it is overwritten;
// one that may be written but not read cannot be checked.
TEST_F(FaultTest, NarrowFileThatCannotBeReadIsRefused) {
  folder_.write("wide.txt", utf16le(u"a\n"));
  folder_.write("n.txt", "\xFF\xFE");
  platform::PlantedFaults write_only;
  write_only.write_only = "n.txt";
  EXPECT_EQ(run({"-j1", "wide.txt", "n.txt"}, write_only, 1),
            std::vector<std::string>{"Rewrite() error-244: n.txt"});
  EXPECT_EQ(folder_.read("n.txt"), "\xFF\xFE");
}

// -t gives the wide file the time of the run, also when it has no byte.
TEST_F(FaultTest, RefreshSetsTheTimeOfAnEmptyWideFile) {
  namespace fs = std::filesystem;
  folder_.write("wide.txt", "");
  const fs::file_time_type old_time =
      fs::last_write_time("wide.txt") - std::chrono::hours(24 * 365 * 25);
  fs::last_write_time("wide.txt", old_time);
  EXPECT_TRUE(run({"-j1", "-t", "wide.txt", "n.txt"}, {}, 0).empty());
  EXPECT_GT(fs::last_write_time("wide.txt"),
            old_time + std::chrono::hours(24 * 365 * 24));
  EXPECT_EQ(folder_.read("wide.txt"), "");
}

}  // namespace
