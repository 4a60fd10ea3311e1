// The error report: one message, one err file, whatever else goes wrong.
#include "diagnostics/error_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "diagnostics/messages_text.h"
#include "err_files.h"
#include "diagnostics/time_name.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

namespace expected = platform_expectations;
namespace fs = std::filesystem;
using testing_support::ScratchFolder;

// What work() writes to standard error, line ends as "\n".
std::string stderrOf(const std::function<void()>& work) {
  testing::internal::CaptureStderr();
  work();
  return testing::internal::GetCapturedStderr();
}

// The err file of serial number n, at the pinned clock.
std::string errName(int n) { return "err" + std::to_string(n) + "-14-25.txt"; }

class ErrorTextsTest : public testing::Test {
 protected:
  ScratchFolder folder_;
};

TEST_F(ErrorTextsTest, FirstReportLeavesCounterAndOneErrFile) {
  ErrorTexts texts;
  texts.report("err", ".txt", "Reset() error-148: set_pelmora.txt");
  EXPECT_EQ(texts.fileName(), "err1-14-25.txt");
  EXPECT_EQ(folder_.files(),
            (std::set<std::string>{"err1-14-25.txt", "serial.txt"}));
  EXPECT_EQ(folder_.read("err1-14-25.txt"),
            "Reset() error-148: set_pelmora.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "1");
}

TEST_F(ErrorTextsTest, ErrFileHoldsExactlyTheMessageBytes) {
  // The message is opaque: no line end is added, line ends, Shift_JIS and
  // even a NUL byte pass unchanged.
  const std::string messages[] = {
      "Reset() error-153: UTF16~MS932.bin-abcd",
      "ParamStr() error-149: ParamStr(1) = EMPTY\r\npelmora --help\r\n",
      "Reset() error-229: \x83\x65\x83\x58\x83\x67.txt", std::string("a\0b", 3),
      ""};
  int serial = 0;
  for (const std::string& message : messages) {
    ErrorTexts texts;
    texts.report("err", ".txt", message);
    EXPECT_EQ(texts.fileName(), errName(++serial));
    EXPECT_EQ(folder_.read(errName(serial)), message);
  }
  EXPECT_EQ(folder_.read("serial.txt"), "5");
}

// An err file name that is a link to a file elsewhere: that file is never
// written, the link is left as it is, and the name counts as taken.
TEST_F(ErrorTextsTest, LinkInPlaceOfTheErrFileIsNotFollowed) {
  UNIT_NEEDS(expected::Need::kTestMakesSymbolicLinks);
  folder_.write("elsewhere", "kept");
  fs::create_symlink("elsewhere", "err1-14-25.txt");
  fs::create_symlink("nowhere", "err2-14-25.txt");
  diagnostics::report("Reset() error-148: set_pelmora.txt");
  EXPECT_EQ(folder_.read("elsewhere"), "kept");
  EXPECT_TRUE(fs::is_symlink("err1-14-25.txt"));
  EXPECT_TRUE(fs::is_symlink("err2-14-25.txt"));
  EXPECT_FALSE(folder_.exists("nowhere"));
  EXPECT_EQ(folder_.read("err3-14-25.txt"),
            "Reset() error-148: set_pelmora.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "3");
}

TEST_F(ErrorTextsTest, FortyByteMessageGivesFortyByteFile) {
  std::string message = "sequence_to_integer() error-214: 1234567";
  ASSERT_EQ(message.size(), 40u);
  diagnostics::report(message);
  EXPECT_EQ(fs::file_size("err1-14-25.txt"), 40u);
}

TEST_F(ErrorTextsTest, TwoReportsInOneSecondGetConsecutiveNumbers) {
  folder_.write("serial.txt", "41");
  diagnostics::report("first");
  diagnostics::report("second");
  EXPECT_EQ(folder_.read("err42-14-25.txt"), "first");
  EXPECT_EQ(folder_.read("err43-14-25.txt"), "second");
  EXPECT_EQ(folder_.errMessages(),
            (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(folder_.read("serial.txt"), "43");
}

// A lost counter restarts the numbering among the err files of earlier runs:
// none of them is overwritten, each name taken moves the counter on once.
TEST_F(ErrorTextsTest, TakenErrFileNamesAreLeftAndTheNextNumberIsTried) {
  folder_.write("serial.txt", "abc");
  folder_.write("err0-14-25.txt", "a much longer message from an older run");
  fs::create_directory("err1-14-25.txt");
  ErrorTexts texts;
  texts.report("err", ".txt", "short");
  EXPECT_EQ(texts.fileName(), "err2-14-25.txt");
  EXPECT_EQ(folder_.read("err2-14-25.txt"), "short");
  EXPECT_EQ(folder_.read("err0-14-25.txt"),
            "a much longer message from an older run");
  EXPECT_TRUE(fs::is_directory("err1-14-25.txt"));
  EXPECT_EQ(folder_.read("serial.txt"), "2");
}

TEST_F(ErrorTextsTest, MidnightReportHasNoMinutesOrSeconds) {
  folder_.write("serial.txt", "4");
  testing_support::setClockText("12/07/26");
  ErrorTexts texts;
  texts.report("err", ".txt", "Reset() error-192: surro.txt");
  EXPECT_EQ(texts.fileName(), "err5--.txt");
  EXPECT_EQ(folder_.read("err5--.txt"), "Reset() error-192: surro.txt");
}

TEST_F(ErrorTextsTest, UnparsableCounterRestartsAtZeroAndTheReportGoesOn) {
  folder_.write("serial.txt", "abc");
  diagnostics::report("Reset() error-153: UTF16~MS932.bin");
  EXPECT_EQ(folder_.files(), (std::set<std::string>{
                                 "err0-14-25.txt", "error.txt", "serial.txt"}));
  EXPECT_EQ(folder_.read("error.txt"), "sequence_to_integer() error-230: abc");
  EXPECT_EQ(folder_.read("err0-14-25.txt"),
            "Reset() error-153: UTF16~MS932.bin");
  EXPECT_EQ(folder_.read("serial.txt"), "0");
}

TEST_F(ErrorTextsTest, CounterPastTheLargestNumberRestartsAtZero) {
  folder_.write("serial.txt", "2147483647");
  diagnostics::report("wrapped");
  EXPECT_EQ(folder_.read("err0-14-25.txt"), "wrapped");
  EXPECT_EQ(folder_.read("serial.txt"), "0");
  EXPECT_FALSE(folder_.exists("error.txt"));
}

// Killed between the new number and the cut that follows it (here the cut
// fails): the counter's first line is the new number alone, never the new
// digits run into the old ones.
TEST_F(ErrorTextsTest, CounterLeftUncutStillReadsTheNewNumber) {
  folder_.write("serial.txt", "2147483647");
  {
    platform::PlantedFaults uncut;
    uncut.fail_resizes_from = 1;
    const testing_support::PlantedFaults planted(uncut);
    diagnostics::report("wrapped");
  }
  EXPECT_EQ(folder_.read(errName(0)), "wrapped");
  diagnostics::report("next");
  EXPECT_EQ(folder_.read(errName(1)), "next");
}

TEST_F(ErrorTextsTest, MessageGoesToStandardErrorWhenEveryTriedNameIsTaken) {
  for (int n = 1; n <= kMostErrFileAttempts; ++n) {
    folder_.write(errName(n), "old");
  }
  ErrorTexts texts;
  EXPECT_EQ(stderrOf([&] {
              texts.report("err", ".txt", "Reset() error-148: set_pelmora.txt");
            }),
            "Reset() error-148: set_pelmora.txt\n");
  EXPECT_EQ(texts.fileName(), errName(kMostErrFileAttempts));
  EXPECT_EQ(folder_.read(errName(kMostErrFileAttempts)), "old");
  // The counter moved on all the same, and the next report finds its file.
  EXPECT_EQ(folder_.read("serial.txt"), std::to_string(kMostErrFileAttempts));
  diagnostics::report("next");
  EXPECT_EQ(folder_.read(errName(kMostErrFileAttempts + 1)), "next");
}

// A counter that cannot move on names the same taken file every time: the
// report gives up at the repeat instead of trying it again and again.
TEST_F(ErrorTextsTest, StuckCounterDoesNotRetryTheTakenName) {
  fs::create_directory("serial.txt");
  fs::create_directory("error.txt");
  folder_.write("err0-14-25.txt", "old");
  EXPECT_EQ(stderrOf([] { diagnostics::report("lost"); }),
            "Rewrite() error-231: serial.txt\n"
            "Rewrite() error-232: \n"
            "Rewrite() error-231: serial.txt\n"
            "Rewrite() error-232: \n"
            "lost\n");
  EXPECT_EQ(folder_.read("err0-14-25.txt"), "old");
}

TEST_F(ErrorTextsTest, ReportsInAFolderThatIsGoneGoToStandardError) {
  // No file can be made at all: the counter failures and the message itself
  // all reach standard error, and report() still returns.
  UNIT_NEEDS(expected::Need::kRemovableCurrentFolder);
  fs::path inner = fs::current_path() / "inner";
  fs::create_directory(inner);
  fs::current_path(inner);
  fs::remove(inner);
  const std::string said =
      stderrOf([] { diagnostics::report("lost message"); });
  fs::current_path(folder_.path());
  EXPECT_EQ(said,
            "Rewrite() error-231: serial.txt\n"
            "Rewrite() error-232: \n"
            "lost message\n");
}

// Every write fails, as on a full disk where files can still be made.
std::string reportWithNoRoomForBytes(const std::string& message) {
  platform::PlantedFaults full;
  full.fail_writes_from = 1;
  const testing_support::PlantedFaults planted(full);
  std::string shown = testing_support::standardStreamOf(
      2, [&] { diagnostics::report(message); });
  // Windows ends console lines with CR LF.
  return std::regex_replace(shown, std::regex("\r\n"), "\n");
}

// What a report on a full disk could not write whole is not there at all:
// no empty err file, error.txt or counter is left for a later run to trip
// over, and with room again the next report takes number `next`.
void expectNothingHalfMadeThenNumber(const ScratchFolder& folder, int next) {
  for (const std::string& name : folder.files()) {
    EXPECT_NE(folder.read(name), "") << name << " was left empty";
  }
  diagnostics::report("next");
  EXPECT_EQ(folder.read(errName(next)), "next");
}

TEST_F(ErrorTextsTest, FailedCounterWriteNamesTheNewNumber) {
  folder_.write("serial.txt", "5");
  // "6" never reached the counter, which keeps its number: it is cut only
  // after the new one is in. error.txt and the err file fail the same way,
  // so everything ends on standard error.
  EXPECT_EQ(reportWithNoRoomForBytes("Reset() error-153: UTF16~MS932.bin"),
            "Rewrite() error-232: 6\n"
            "Reset() error-153: UTF16~MS932.bin\n");
  EXPECT_EQ(folder_.read("serial.txt"), "5");
  expectNothingHalfMadeThenNumber(folder_, 6);
}

TEST_F(ErrorTextsTest, MissingCounterThatCannotBeFilledIsReported) {
  EXPECT_EQ(reportWithNoRoomForBytes("lost"),
            "Rewrite() error-231: serial.txt\n"
            "Rewrite() error-232: 1\n"
            "lost\n");
  expectNothingHalfMadeThenNumber(folder_, 1);
}

TEST_F(ErrorTextsTest, MessagesTextsReplacesTheWholeFile) {
  folder_.write("data.txt", "an older and longer note\r\n");
  MessagesTexts writer;
  EXPECT_EQ(writer.writeText("data.txt", "UTF16~MS932.bin is here."),
            platform::Status::kOk);
  EXPECT_EQ(folder_.read("data.txt"), "UTF16~MS932.bin is here.");
}

TEST_F(ErrorTextsTest, MessagesTextsReportsAFileThatCannotBeMade) {
  fs::create_directory("data.txt");
  MessagesTexts writer;
  std::string detail;
  EXPECT_NE(writer.writeText("data.txt", "x", &detail), platform::Status::kOk);
  EXPECT_FALSE(detail.empty());
}

// Processes reporting in one folder at once never share a serial number,
// which with the clock pinned would overwrite an err file.
TEST_F(ErrorTextsTest, ConcurrentProcessesNeverShareASerialNumber) {
  constexpr int kChildren = 8;
  constexpr int kReportsEach = 6;
  const std::string role = testing_support::childRole();
  if (!role.empty()) {
    // Wait at the gate so that all children start together.
    const std::string c = role.substr(role.find(' ') + 1);
    fs::create_directory("ready-" + c);
    bool ok = testing_support::waitForFile("gate");
    for (int r = 0; r < kReportsEach; ++r) {
      diagnostics::report("child " + c + " report " + std::to_string(r));
    }
    testing_support::endChild(ok);
  }
  std::vector<std::unique_ptr<testing_support::ChildProcess>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(std::make_unique<testing_support::ChildProcess>(
        "reporter " + std::to_string(c)));
    ASSERT_TRUE(children.back()->started());
  }
  for (int c = 0; c < kChildren; ++c) {
    EXPECT_TRUE(testing_support::waitForFile("ready-" + std::to_string(c)));
    fs::remove("ready-" + std::to_string(c));
  }
  fs::create_directory("gate");  // opens the gate
  for (auto& child : children) EXPECT_EQ(child->wait(), 0);
  fs::remove("gate");

  const int total = kChildren * kReportsEach;
  std::set<long long> serials, expected_serials;
  std::multiset<std::string> messages, expected_messages;
  for (const std::string& name : folder_.files()) {
    const auto parts = harness::parseErrFileName(name);
    if (parts && parts->minutes == "14" && parts->seconds == "25") {
      serials.insert(parts->serial);
      messages.insert(folder_.read(name));
    } else {
      EXPECT_EQ(name, "serial.txt") << "unexpected file left behind";
    }
  }
  for (int n = 1; n <= total; ++n) {
    expected_serials.insert(n);
    expected_messages.insert("child " + std::to_string((n - 1) / kReportsEach) +
                             " report " +
                             std::to_string((n - 1) % kReportsEach));
  }
  EXPECT_EQ(serials, expected_serials);
  EXPECT_EQ(messages, expected_messages);
  EXPECT_EQ(folder_.read("serial.txt"), std::to_string(total));
}

int g_hook_calls = 0;
void writingHook() {
  ++g_hook_calls;
  platform::writeStandardError("stop hook ran");
}

TEST(DiagnosticsStopTest, EndsWithTheGivenExitCode) {
  EXPECT_EXIT(diagnostics::stop(1), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(diagnostics::stop(0), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(diagnostics::stop(-1),
              testing::ExitedWithCode(expected::kExitCodeSeenForMinusOne), "");
}

TEST(DiagnosticsStopTest, RunsTheStopHookFirst) {
  EXPECT_EXIT(
      {
        diagnostics::setStopHook(&writingHook);
        diagnostics::stop(1);
      },
      testing::ExitedWithCode(1), "stop hook ran");
  EXPECT_EQ(g_hook_calls, 0);  // only the child ran it
}

TEST(DiagnosticsStopTest, ReportDoesNotStop) {
  ScratchFolder folder;
  EXPECT_EXIT(
      {
        diagnostics::report("Reset() error-154: fixed place");
        platform::writeStandardError("still running");
        diagnostics::stop(3);
      },
      testing::ExitedWithCode(3), "still running");
}

}  // namespace
