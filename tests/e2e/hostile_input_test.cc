// Standard output that cannot be written, and input files that are pipes,
// devices, folders or one endless line: no run may hang, grow without bound
// or end as a success it was not.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

const std::string kStandardOutputFailed = "Write() error-242: standard output";

TEST(StandardOutputTest, FailedWritesAreReportedAndEndWithOne) {
  struct Case {
    const char* name;
    Args arguments;
    bool closedPipe;               // else /dev/full
    const char* narrow = nullptr;  // a narrow file the run still writes
  } cases[] = {
      {"selection to a full disk", Args{"-j2", "--out", "wide.txt"}, false},
      {"selection to a closed pipe", Args{"-j2", "--out", "wide.txt"}, true},
      {"-M note after a file run", Args{"-j2", "-M", "wide.txt", "n.txt"},
       false, "n.txt"},
      {"version text", Args{"-V"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    prepare(box);
    box.setTimeLimit(10);
    box.setStandardOutputClosed(c.closedPipe);
    box.setStandardOutputFile(c.closedPipe ? "" : "/dev/full");
    RunResult run = box.run(c.arguments);
    EXPECT_EQ(run.exitCode, 1) << run.describe();
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.errMessages(), Args{kStandardOutputFailed}) << run.describe();
    if (c.narrow != nullptr) EXPECT_EQ(run.file(c.narrow), kNarrow);
    EXPECT_EQ(run.file("wide.txt"), kWide);
  }
}

TEST(HostileFileTest, NonRegularAndEndlessInputsEndInOrder) {
  const auto fifo = [](const char* name) {
    return [name](Sandbox& box) {
      box.remove(name);
      ASSERT_EQ(::mkfifo(pathIn(box, name).c_str(), 0644), 0) << name;
    };
  };
  const auto zero = [](const char* name) {
    return [name](Sandbox& box) {
      box.remove(name);
      ASSERT_EQ(::symlink("/dev/zero", pathIn(box, name).c_str()), 0) << name;
    };
  };
  // A file of one line without end, sparse so that it costs no disk: a
  // reader that keeps whole lines runs out of the memory limit below.
  const auto endless = [](const char* name) {
    return [name](Sandbox& box) {
      box.write(name, "");
      std::filesystem::resize_file(pathIn(box, name), 64u << 20);
    };
  };
  const std::string fixed_miss = "Reset() error-154: <fixed>";
  const std::string no_settings = "Reset() error-148: set_pelmora.txt";
  const std::string no_list = "Reset() error-192: surro.txt";
  const std::string no_name_file = "Reset() error-155: set_dravikson.txt";
  const std::string no_table = "Reset() error-167: i = 4";
  const Args plain = {"-j2", "wide.txt", "n.txt"};
  const Args from_name_file = {"-j2", "-K", "wide.txt", "n.txt"};
  struct Case {
    const char* name;
    std::function<void(Sandbox&)> setUp;
    Args arguments;
    int exitCode;
    Args messages;
    std::string counterFailure = "";  // error.txt, empty when none
  } cases[] = {
      {"FIFO as the wide file", fifo("w.txt"), Args{"-j2", "w.txt", "n.txt"},
       minusOneExit(),
       Args{"Reset() error-229: w.txt", "SetLength() error-222: -1"}},
      {"FIFO as set_pelmora.txt", fifo("set_pelmora.txt"), plain, 0,
       Args{no_settings}},
      {"FIFO as surro.txt", fifo("surro.txt"), plain, 0, Args{no_list}},
      {"FIFO as set_dravikson.txt", fifo("set_dravikson.txt"), from_name_file,
       1, Args{no_name_file, no_table}},
      {"FIFO as the table in the current folder",
       [&](Sandbox& box) {
         box.remove(Sandbox::fixedTableName());
         fifo("UTF16~MS932.bin")(box);
       },
       plain, 1,
       Args{fixed_miss, "Reset() error-153: UTF16~MS932.bin", no_name_file,
            no_table}},
      // The counter can be neither read nor created (231), and then not
      // advanced either; error.txt keeps the last of the two.
      {"FIFO as serial.txt",
       [&](Sandbox& box) {
         box.remove("set_pelmora.txt");
         fifo("serial.txt")(box);
       },
       plain, 0, Args{no_settings}, "Rewrite() error-232: "},
      {"/dev/zero as surro.txt", zero("surro.txt"), plain, 0, Args{no_list}},
      {"/dev/zero as set_pelmora.txt", zero("set_pelmora.txt"), plain, 0,
       Args{no_settings}},
      {"folder as surro.txt",
       [](Sandbox& box) {
         box.remove("surro.txt");
         box.makeFolder("surro.txt");
       },
       plain, 0, Args{no_list}},
      {"endless line as surro.txt", endless("surro.txt"), plain, 0, Args{}},
      {"endless line as set_pelmora.txt", endless("set_pelmora.txt"), plain, 0,
       Args{}},
      // No name any system could open: the file counts as unreadable.
      {"endless line as set_dravikson.txt", endless("set_dravikson.txt"),
       from_name_file, 1, Args{no_name_file, no_table}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    prepare(box);
    c.setUp(box);
    box.setTimeLimit(10);
#if !defined(__SANITIZE_ADDRESS__)
    // Where the platform allows no limit, the time limit alone catches a
    // reader that never stops.
    if (whyNot(Need::kMemoryLimit) == nullptr) box.setMemoryLimit(32L << 20);
#endif
    RunResult run = box.run(c.arguments);
    EXPECT_FALSE(run.timedOut) << run.describe();
    EXPECT_EQ(run.exitCode, c.exitCode) << run.describe();
    EXPECT_EQ(run.errMessages(), withFixedPlace(box, c.messages))
        << run.describe();
    EXPECT_EQ(run.file("error.txt"), c.counterFailure);
    EXPECT_EQ(run.file("n.txt"), c.exitCode == 0 ? kNarrow : "");
    EXPECT_EQ(run.file("wide.txt"), kWide);
  }
}

// A FIFO named as the wide file while a writer waits for a reader: the run
// refuses it without opening it, so the writer is never let through to
// write into a reader that has already gone.
TEST(HostileFileTest, FifoWithAWaitingWriterIsNeverOpened) {
  E2E_NEEDS(Need::kUnopenedFifo);
  Sandbox box;
  prepare(box);
  const std::string fifo = pathIn(box, "w.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::atomic<bool> ended{false};
  bool let_through_by_the_run = false;
  std::thread writer([&] {
    const int written = ::open(fifo.c_str(), O_WRONLY);  // waits for a reader
    let_through_by_the_run = !ended;
    if (written >= 0) ::close(written);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  RunResult run = box.run({"-j2", "w.txt", "n.txt"});
  ended = true;
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  ::close(reader);
  EXPECT_FALSE(let_through_by_the_run);
  EXPECT_EQ(run.exitCode, minusOneExit()) << run.describe();
  EXPECT_EQ(run.errMessages(),
            (Args{"Reset() error-229: w.txt", "SetLength() error-222: -1"}));
}

}  // namespace
