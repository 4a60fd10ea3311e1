// The platform layer: files, environment, clock hook, output, exit.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace expected = platform_expectations;
using platform::File;
using platform::Status;
using testing_support::ScratchFolder;

class PlatformTest : public testing::Test {
 protected:
  ScratchFolder folder_;
};

// Reads everything that is left in an open file, in small steps.
std::string readRest(File* file) {
  std::string all;
  char block[3];
  for (;;) {
    std::size_t got = 0;
    if (file->read(block, sizeof block, &got) != Status::kOk) break;
    all.append(block, got);
    if (got < sizeof block) break;
  }
  return all;
}

void writeThroughFile(const char* name, const std::string& bytes) {
  File file;
  ASSERT_EQ(file.create(name), Status::kOk);
  std::size_t written = 0;
  ASSERT_EQ(file.write(bytes.data(), bytes.size(), &written), Status::kOk);
  EXPECT_EQ(written, bytes.size());
  ASSERT_EQ(file.close(), Status::kOk);
}

TEST_F(PlatformTest, MissingFilesAreNotFound) {
  folder_.write("plain", "x");
  const char* names[] = {"missing", "no-folder/missing", "plain/below"};
  for (const char* name : names) {
    File file;
    std::string detail;
    EXPECT_EQ(file.openRead(name, &detail), Status::kNotFound) << name;
    EXPECT_FALSE(detail.empty()) << name;
    EXPECT_FALSE(file.isOpen()) << name;
    EXPECT_EQ(file.openReadWriteNoLink(name), Status::kNotFound) << name;
    std::int64_t bytes = -1;
    EXPECT_EQ(platform::fileSize(name, &bytes), Status::kNotFound) << name;
    EXPECT_EQ(bytes, 0) << name;
    EXPECT_FALSE(platform::fileExists(name)) << name;
  }
}

TEST_F(PlatformTest, FolderIsNoFileToOpen) {
  fs::create_directory("folder");
  File file;
  EXPECT_EQ(file.openRead("folder"), Status::kOther);
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(file.openReadWriteNoLink("folder"), Status::kOther);
  EXPECT_EQ(file.create("folder"), Status::kOther);
  std::int64_t bytes = -1;
  EXPECT_EQ(platform::fileSize("folder", &bytes), Status::kOther);
  EXPECT_TRUE(platform::fileExists("folder"));
}

TEST_F(PlatformTest, ReadOnlyFileOpensForReading) {
  folder_.write("table.bin", "ABCDE");
  fs::permissions(
      "table.bin",
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
      fs::perm_options::replace);
  File file;
  ASSERT_EQ(file.openRead("table.bin"), Status::kOk);
  EXPECT_EQ(readRest(&file), "ABCDE");
  // Reading is all it allows.
  std::size_t written = 99;
  EXPECT_EQ(file.write("z", 1, &written), Status::kOther);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(file.close(), Status::kOk);
  EXPECT_EQ(folder_.read("table.bin"), "ABCDE");
}

TEST_F(PlatformTest, ReadStopsShortOnlyAtTheEnd) {
  folder_.write("ten", "0123456789");
  File file;
  ASSERT_EQ(file.openRead("ten"), Status::kOk);
  char buffer[4];
  std::size_t got = 0;
  const std::size_t expected[] = {4, 4, 2, 0, 0};
  for (std::size_t want : expected) {
    EXPECT_EQ(file.read(buffer, sizeof buffer, &got), Status::kOk);
    EXPECT_EQ(got, want);
  }
}

TEST_F(PlatformTest, CreateMakesOrTruncates) {
  writeThroughFile("new", "abc");
  EXPECT_EQ(folder_.read("new"), "abc");
  folder_.write("old", "a much longer old content");
  writeThroughFile("old", "xy");
  EXPECT_EQ(folder_.read("old"), "xy");
}

TEST_F(PlatformTest, CreateInMissingFolderIsNotFound) {
  File file;
  EXPECT_EQ(file.create("no-folder/new"), Status::kNotFound);
}

TEST_F(PlatformTest, BytesPassUnchanged) {
  std::string bytes("\r\n\n\x00\x1a\x81\x51\xff", 8);
  writeThroughFile("bytes", bytes);
  File file;
  ASSERT_EQ(file.openRead("bytes"), Status::kOk);
  EXPECT_EQ(readRest(&file), bytes);
}

TEST_F(PlatformTest, RewindWithAndWithoutTruncation) {
  folder_.write("counter", "12345");
  File file;
  ASSERT_EQ(file.openReadWriteNoLink("counter"), Status::kOk);
  EXPECT_EQ(readRest(&file), "12345");
  ASSERT_EQ(file.rewind(false), Status::kOk);
  EXPECT_EQ(readRest(&file), "12345");
  ASSERT_EQ(file.rewind(true), Status::kOk);
  std::int64_t bytes = -1;
  ASSERT_EQ(file.size(&bytes), Status::kOk);
  EXPECT_EQ(bytes, 0);
  std::size_t written = 0;
  ASSERT_EQ(file.write("7", 1, &written), Status::kOk);
  ASSERT_EQ(file.close(), Status::kOk);
  EXPECT_EQ(folder_.read("counter"), "7");
}

TEST_F(PlatformTest, ClosedFileRefusesWork) {
  File file;
  char buffer[1];
  std::size_t got = 9;
  EXPECT_EQ(file.read(buffer, 1, &got), Status::kOther);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(file.write("x", 1, &got), Status::kOther);
  EXPECT_EQ(file.rewind(true), Status::kOther);
  std::int64_t bytes = -1;
  EXPECT_EQ(file.size(&bytes), Status::kOther);
  EXPECT_EQ(file.lockExclusive(), Status::kOther);
  EXPECT_EQ(file.close(), Status::kOk);
}

TEST_F(PlatformTest, MovedFileKeepsItsHandle) {
  folder_.write("a", "content");
  File first;
  ASSERT_EQ(first.openRead("a"), Status::kOk);
  File second(std::move(first));
  EXPECT_FALSE(first.isOpen());
  ASSERT_TRUE(second.isOpen());
  File third;
  third = std::move(second);
  EXPECT_FALSE(second.isOpen());
  EXPECT_EQ(readRest(&third), "content");
}

// An open remembers the identity of the file it opened: a File tells that
// of the file it holds now, after another open, a move, or an output open
// that made the file or found it.
TEST_F(PlatformTest, IdentityIsThatOfTheFileHeldNow) {
  folder_.write("a", "1");
  folder_.write("b", "2");
  platform::FileIdentity a, b, c, id;
  ASSERT_EQ(platform::fileIdentity("a", &a), Status::kOk);
  ASSERT_EQ(platform::fileIdentity("b", &b), Status::kOk);
  File file;
  ASSERT_EQ(file.openRead("a"), Status::kOk);
  ASSERT_EQ(file.identity(&id), Status::kOk);
  EXPECT_EQ(id, a);
  ASSERT_EQ(file.openRead("b"), Status::kOk);
  ASSERT_EQ(file.identity(&id), Status::kOk);
  EXPECT_EQ(id, b);
  File other;
  platform::OutputOpening how;
  ASSERT_EQ(other.openOutput("c", &how), Status::kOk);
  ASSERT_TRUE(how.created);
  ASSERT_EQ(platform::fileIdentity("c", &c), Status::kOk);
  ASSERT_EQ(other.identity(&id), Status::kOk);
  EXPECT_EQ(id, c);
  other = std::move(file);
  ASSERT_EQ(other.identity(&id), Status::kOk);
  EXPECT_EQ(id, b);
  EXPECT_NE(file.identity(&id), Status::kOk);
  ASSERT_EQ(other.openOutput("c", &how), Status::kOk);
  ASSERT_EQ(other.identity(&id), Status::kOk);
  EXPECT_EQ(id, c);
}

// Sizes beyond 32 bits: a sparse file takes no room on the disk.
TEST_F(PlatformTest, SizeCountsPastFourGibibytes) {
  const std::int64_t big = (std::int64_t{5} << 30) + 3;
  folder_.write("big", "");
  std::error_code not_grown;
  fs::resize_file("big", static_cast<std::uintmax_t>(big), not_grown);
  if (not_grown) GTEST_SKIP() << "this file system cannot hold a 5 GiB file";
  std::int64_t bytes = 0;
  ASSERT_EQ(platform::fileSize("big", &bytes), Status::kOk);
  EXPECT_EQ(bytes, big);
  File file;
  ASSERT_EQ(file.openRead("big"), Status::kOk);
  bytes = 0;
  ASSERT_EQ(file.size(&bytes), Status::kOk);
  EXPECT_EQ(bytes, big);
}

std::string readAt(const File& file, std::int64_t offset, std::size_t n) {
  std::string bytes(n, '\0');
  std::size_t got = 0;
  if (file.readAt(offset, bytes.data(), n, &got) != Status::kOk)
    return "(failed)";
  bytes.resize(got);
  return bytes;
}

TEST_F(PlatformTest, ReadAtReadsFromAnyOffset) {
  folder_.write("f", "0123456789");
  File file;
  ASSERT_EQ(file.openRead("f"), Status::kOk);
  EXPECT_EQ(readAt(file, 7, 5), "789");
  EXPECT_EQ(readAt(file, 2, 2), "23");
  // Past the end a read simply finds the end.
  EXPECT_EQ(readAt(file, std::int64_t{6} << 30, 4), "");
  EXPECT_EQ(readAt(file, -1, 1), "(failed)");
  ASSERT_EQ(file.close(), Status::kOk);
  EXPECT_EQ(readAt(file, 0, 1), "(failed)");
}

// A range copied inside the system lands at the target's position and
// stops at the end of the file; a rewrite of the same size shows in the
// stamp, and a file changed just now is never taken as settled.
TEST_F(PlatformTest, CopiedRangesAndContentStamps) {
  folder_.write("f", "0123456789");
  File from;
  File to;
  ASSERT_EQ(from.openRead("f"), Status::kOk);
  ASSERT_EQ(to.create("g"), Status::kOk);
  std::size_t copied = 0;
  ASSERT_EQ(from.copyRangeTo(3, 5, &to, &copied), Status::kOk);
  EXPECT_EQ(copied, 5u);
  ASSERT_EQ(from.copyRangeTo(8, 5, &to, &copied), Status::kOk);
  EXPECT_EQ(copied, 2u);
  ASSERT_EQ(to.close(), Status::kOk);
  EXPECT_EQ(folder_.read("g"), "3456789");

  platform::ContentStamp before;
  platform::ContentStamp after;
  ASSERT_EQ(from.contentStamp(&before), Status::kOk);
  EXPECT_EQ(before.size, 10);
  EXPECT_FALSE(before.settled);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  writeThroughFile("f", "9876543210");
  ASSERT_EQ(from.contentStamp(&after), Status::kOk);
  EXPECT_EQ(after.size, 10);
  EXPECT_NE(after, before);
}

// A planted fault fails the call it names and no other; a write cut short
// is carried on by the loop around it.
TEST_F(PlatformTest, PlantedFaultsFailTheCallsTheyName) {
  const std::string bytes = "0123456789";
  const std::tuple<const char*, platform::PlantedFaults, Status, std::size_t>
      cases[] = {
          {"short", {"", "", 0, 1, 0}, Status::kOk, 10},
          {"short, then full", {"", "", 0, 1, 2}, Status::kOther, 5},
          {"full", {"", "", 0, 0, 1}, Status::kOther, 0},
          {"reads fail", {"", "", 1, 0, 0}, Status::kOk, 10},
          {"read-only", {"f", "", 0, 0, 0}, Status::kOther, 0},
      };
  for (const auto& [what, faults, status, written_then] : cases) {
    SCOPED_TRACE(what);
    folder_.write("f", "");
    const testing_support::PlantedFaults planted(faults);
    File file;
    std::size_t written = 0;
    const Status opened = file.openReadWrite("f");
    EXPECT_EQ(opened == Status::kOk
                  ? file.write(bytes.data(), bytes.size(), &written)
                  : opened,
              status);
    EXPECT_EQ(written, written_then);
    const bool unread = faults.fail_reads_from > 0 || !file.isOpen();
    EXPECT_EQ(readAt(file, 0, 10),
              unread ? "(failed)" : bytes.substr(0, written_then));
  }
  folder_.write("f", "x");
  const testing_support::PlantedFaults planted({"", "f"});  // write-only
  File file;
  EXPECT_EQ(file.openRead("f"), Status::kOther);
  EXPECT_EQ(file.create("f"), Status::kOk);
}

TEST(PlatformMemoryTest, LargeBlocksHoldWhatIsAskedAndMove) {
  for (std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4097},
                            (std::size_t{1} << 21) + 5}) {
    platform::LargeBlock block;
    ASSERT_TRUE(block.allocate(bytes)) << bytes;
    ASSERT_NE(block.data(), nullptr);
    ASSERT_GE(block.size(), bytes);
    // Every byte is there to be written and read back.
    for (std::size_t i = 0; i < block.size(); ++i) {
      block.data()[i] = static_cast<std::uint8_t>(i * 7);
    }
    platform::LargeBlock moved(std::move(block));
    EXPECT_EQ(block.data(), nullptr);
    EXPECT_EQ(block.size(), 0u);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < moved.size(); ++i) {
      if (moved.data()[i] != static_cast<std::uint8_t>(i * 7)) ++wrong;
    }
    EXPECT_EQ(wrong, 0u) << bytes;
    platform::LargeBlock other;
    ASSERT_TRUE(other.allocate(10));
    other = std::move(moved);
    EXPECT_GE(other.size(), bytes);
  }
  platform::LargeBlock too_big;
  EXPECT_FALSE(too_big.allocate(~std::size_t{0} - 10));
  EXPECT_EQ(too_big.data(), nullptr);
}

TEST(PlatformParallelTest, EveryTaskRunsExactlyOnce) {
  EXPECT_GE(platform::processorCount(), 1u);
  // More tasks than run side by side: the rest run on the calling thread.
  for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{3},
                            platform::kMostParallelTasks + 5}) {
    std::vector<std::atomic<int>> runs(count + 1);
    struct Context {
      std::vector<std::atomic<int>>* runs;
      std::thread::id caller;
      std::atomic<bool> other_thread{false};
    } context{&runs, std::this_thread::get_id()};
    platform::runInParallel(
        count,
        [](void* c, std::size_t index) {
          auto* context = static_cast<Context*>(c);
          // Long enough that the tasks overlap in time.
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          (*context->runs)[index].fetch_add(1);
          if (std::this_thread::get_id() != context->caller) {
            context->other_thread = true;
          }
        },
        &context);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(runs[i].load(), 1) << "task " << i << " of " << count;
    }
    EXPECT_EQ(runs[count].load(), 0);
    EXPECT_EQ(context.other_thread.load(), count > 1) << count;
  }
}

TEST_F(PlatformTest, RemoveAndRename) {
  folder_.write("gone", "x");
  EXPECT_EQ(platform::removeFile("gone"), Status::kOk);
  EXPECT_FALSE(folder_.exists("gone"));
  EXPECT_EQ(platform::removeFile("gone"), Status::kNotFound);

  folder_.write("from", "new");
  folder_.write("to", "old and longer");
  EXPECT_EQ(platform::renameFile("from", "to"), Status::kOk);
  EXPECT_FALSE(folder_.exists("from"));
  EXPECT_EQ(folder_.read("to"), "new");
  EXPECT_EQ(platform::renameFile("from", "to"), Status::kNotFound);
  EXPECT_EQ(folder_.read("to"), "new");
}

TEST_F(PlatformTest, CreateNewWithContentNeverReplaces) {
  bool exists = true;
  ASSERT_EQ(platform::createNewWithContent("serial.txt", "0", &exists),
            Status::kOk);
  EXPECT_FALSE(exists);
  EXPECT_EQ(folder_.read("serial.txt"), "0");

  folder_.write("serial.txt", "17");
  exists = false;
  EXPECT_EQ(platform::createNewWithContent("serial.txt", "0", &exists),
            Status::kOther);
  EXPECT_TRUE(exists);
  EXPECT_EQ(folder_.read("serial.txt"), "17");

  exists = true;
  EXPECT_EQ(
      platform::createNewWithContent("no-folder/serial.txt", "0", &exists),
      Status::kNotFound);
  EXPECT_FALSE(exists);
  // Nothing but the one file is left: no scratch copy of the content.
  EXPECT_EQ(folder_.files(), std::set<std::string>{"serial.txt"});
}

TEST_F(PlatformTest, ExclusiveLockHoldsOffAnotherProcess) {
  if (testing_support::childRole() == "locker") {
    File mine;
    bool ok = mine.openReadWriteNoLink("serial.txt") == Status::kOk;
    File started;
    ok = ok && started.create("child-started") == Status::kOk &&
         started.close() == Status::kOk;
    ok = ok && mine.lockExclusive() == Status::kOk;
    File marker;
    ok = ok && marker.create("locked-by-child") == Status::kOk;
    testing_support::endChild(ok);
  }
  folder_.write("serial.txt", "0");
  File held;
  ASSERT_EQ(held.openReadWriteNoLink("serial.txt"), Status::kOk);
  ASSERT_EQ(held.lockExclusive(), Status::kOk);

  testing_support::ChildProcess child("locker");
  ASSERT_TRUE(child.started());
  // A new process takes its time to start; the wait counts from the moment
  // it asks for the lock.
  EXPECT_TRUE(testing_support::waitForFile("child-started"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(folder_.exists("locked-by-child"))
      << "the child took the lock while the parent held it";
  ASSERT_EQ(held.close(), Status::kOk);
  EXPECT_EQ(child.wait(), 0);
  EXPECT_TRUE(folder_.exists("locked-by-child"));
}

// A file held by another holder is waited for, but not for ever: past the
// bound the open gives up, and once the file is let go it is taken.
TEST_F(PlatformTest, HeldFileIsGivenUpAfterTheBound) {
  File holder;
  ASSERT_EQ(holder.openHeld("binary.tmp", true), Status::kOk);
  platform::setHeldWaitForTesting(300);
  File waiter;
  const auto start = std::chrono::steady_clock::now();
  const Status given_up = waiter.openHeld("binary.tmp", true);
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(holder.close(), Status::kOk);
  const Status taken = waiter.openHeld("binary.tmp", true);
  platform::setHeldWaitForTesting(60000);
  EXPECT_EQ(given_up, Status::kOther);
  // The system's tick, not this clock, measures the bound (Windows ticks
  // in steps of about 16 ms): give up no sooner than most of it.
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_EQ(taken, Status::kOk);
}

TEST(PlatformEnvironmentTest, ValueOfAVariable) {
  const char* name = "PELMORA_PLATFORM_TEST_VALUE";
  testing_support::unsetEnvironment(name);
  EXPECT_EQ(platform::environmentValue(name), "");
  testing_support::setEnvironment(name, "C:\\bin;D:\\tools\\;");
  EXPECT_EQ(platform::environmentValue(name), "C:\\bin;D:\\tools\\;");
  testing_support::setEnvironment(name, "");
  EXPECT_EQ(platform::environmentValue(name), "");
  testing_support::unsetEnvironment(name);
  testing_support::setEnvironment(name, "C:\\bin;D:\\tools\\;\x83\x65");
  EXPECT_EQ(platform::environmentValue(name), "C:\\bin;D:\\tools\\;\x83\x65");
  testing_support::unsetEnvironment(name);
}

TEST(PlatformPlacesTest, FixedTablePathIsBesideTheProgramFolder) {
  fs::path program = testing_support::programPath();
  EXPECT_EQ(platform::executableFolder(), program.parent_path().string());
  EXPECT_EQ(platform::directorySeparator(),
            expected::thisBuild().directorySeparator);

  std::string fixed = platform::fixedTablePath("UTF16~MS932.bin");
  EXPECT_EQ(fixed, expected::fixedTablePlace(expected::thisBuild(),
                                             program.parent_path().string(),
                                             "UTF16~MS932.bin"));
  // The normal form: no "..", no "." and no doubled separators.
  for (const char* part : {"..", "/./", "//"}) {
    EXPECT_EQ(fixed.find(part), std::string::npos) << part;
  }
  EXPECT_TRUE(fs::path(fixed).is_absolute()) << fixed;
}

std::string pinnedClock() { return "01/02/03 04:05:06"; }

TEST(PlatformClockTest, ClockCanBeReplacedAndGivenBack) {
  platform::setClockForTesting(&pinnedClock);
  EXPECT_EQ(platform::localDateTimeText(), "01/02/03 04:05:06");
  platform::setClockForTesting(nullptr);
  EXPECT_NE(platform::localDateTimeText(), "01/02/03 04:05:06");
}

// The real clock in the C locale (on Windows, the user's regional
// settings); only the shape is checked.
TEST(PlatformClockTest, RealClockFollowsTheLocaleFormats) {
  const testing_support::EnvironmentWithout saved("LC_ALL");
  testing_support::setEnvironment("LC_ALL", "C");
  platform::setClockForTesting(nullptr);
  const std::string text = platform::localDateTimeText();
  EXPECT_TRUE(std::regex_match(
      text, std::regex(expected::thisBuild().realClockPattern)))
      << text;
}

TEST(PlatformOutputTest, StandardOutputTakesBytesUnchanged) {
  std::string bytes("Pelmora\r\n\n\x00\x82\xa0", 12);
  Status status = Status::kOther;
  std::string seen = testing_support::standardStreamOf(1, [&] {
    status = platform::writeStandardOutput(bytes.data(), bytes.size());
  });
  EXPECT_EQ(status, Status::kOk);
  EXPECT_EQ(seen, bytes);
}

TEST(PlatformOutputTest, StandardErrorTakesOneLine) {
  testing::internal::CaptureStderr();
  platform::writeStandardError("version.txt: Is a directory");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "version.txt: Is a directory\n");
}

TEST(PlatformExitTest, ExitCodeAsTheShellSeesIt) {
  EXPECT_EXIT(platform::exitProcess(0), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(platform::exitProcess(1), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(platform::exitProcess(-1),
              testing::ExitedWithCode(expected::kExitCodeSeenForMinusOne), "");
}

}  // namespace
