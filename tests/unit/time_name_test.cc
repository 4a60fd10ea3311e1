// The serial number in serial.txt and the err file names built from it.
#include "diagnostics/time_name.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "test_support.h"

namespace {

using testing_support::ScratchFolder;
using testing_support::setClockText;

constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();

struct ClockCase {
  const char *text, *minutes, *seconds;
};

class TimeNamesClockTextTest : public testing::TestWithParam<ClockCase> {};

TEST_P(TimeNamesClockTextTest, CutsMinutesAndSecondsAfterTheColons) {
  const ClockCase& c = GetParam();
  EXPECT_EQ(TimeNames::minutesOf(c.text), c.minutes) << "text: " << c.text;
  EXPECT_EQ(TimeNames::secondsOf(c.text), c.seconds) << "text: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    DateTimeTexts, TimeNamesClockTextTest,
    testing::Values(
        // The usual short date and long time.
        ClockCase{"12/07/26 23:14:25", "14", "25"},
        ClockCase{"2026/12/07 9:05:07", "05", "07"},
        // A twelve-hour clock: whatever follows the seconds is cut off.
        ClockCase{"12/07/26 11:14:25 PM", "14", "25"},
        // The first second after midnight has no time part at all.
        ClockCase{"12/07/26", "", ""}, ClockCase{"", "", ""},
        // A locale whose time separator is not ":".
        ClockCase{"12.07.26 23.14.25", "", ""},
        // A long time without seconds: the appended ":_" shows through.
        ClockCase{"12/07/26 23:14", "14", "_"}, ClockCase{"1:2", "2", "_"},
        // One-digit fields stop at the next ":".
        ClockCase{"12/07/26 23:4:25", "4", "25"},
        ClockCase{"12/07/26 23:14:5", "14", "5"},
        // At most two characters are taken for each.
        ClockCase{"12/07/26 23:145:256", "14", "2"},
        ClockCase{"12/07/26 23:14:256", "14", "25"},
        // A colon right at the end leaves nothing for the minutes.
        ClockCase{"12/07/26 23:", "", "_"}));

struct ParseCase {
  const char* text;
  bool ok;
  std::int32_t value;
};

class TimeNamesParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(TimeNamesParseTest, ParsesSigned32BitDecimal) {
  const ParseCase& c = GetParam();
  bool ok = !c.ok;
  EXPECT_EQ(TimeNames::signed_sequence_to_integer(c.text, &ok), c.value)
      << "text: " << c.text;
  EXPECT_EQ(ok, c.ok) << "text: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    CounterTexts, TimeNamesParseTest,
    testing::Values(ParseCase{"0", true, 0}, ParseCase{"42", true, 42},
                    ParseCase{"007", true, 7},
                    ParseCase{"2147483647", true, kLargest},
                    ParseCase{"-2147483648", true,
                              std::numeric_limits<std::int32_t>::min()},
                    ParseCase{"2147483648", false, -1},
                    ParseCase{"-2147483649", false, -1},
                    ParseCase{"99999999999999999999999", false, -1},
                    ParseCase{"", false, -1}, ParseCase{"abc", false, -1},
                    ParseCase{"12a", false, -1}, ParseCase{"1 2", false, -1},
                    ParseCase{"-", false, -1}, ParseCase{" 5", false, -1},
                    ParseCase{"5 ", false, -1}));

TEST(TimeNamesFollowingTest, RestartsAtZeroAfterTheLargestNumber) {
  EXPECT_EQ(TimeNames::following(0), 1);
  EXPECT_EQ(TimeNames::following(41), 42);
  EXPECT_EQ(TimeNames::following(-1), 0);
  EXPECT_EQ(TimeNames::following(kLargest - 1), kLargest);
  EXPECT_EQ(TimeNames::following(kLargest), 0);
}

class TimeNamesTest : public testing::Test {
 protected:
  // One report's worth of counter work, as the error report does it.
  std::string nextName(const char* prefix, const char* extension) {
    TimeNames names;
    (void)names.setUp(prefix, extension);
    return names.nextName(true);
  }
  std::string nextErrName() { return nextName("err", ".txt"); }
  std::string nextErrNameSaying(std::string* said) {
    testing::internal::CaptureStderr();
    std::string name = nextErrName();
    *said = testing::internal::GetCapturedStderr();
    return name;
  }

  ScratchFolder folder_;
};

TEST_F(TimeNamesTest, MissingSerialFileIsCreatedAtZeroThenAdvancedToOne) {
  TimeNames names;
  EXPECT_EQ(names.setUp("err", ".txt"), 0);
  EXPECT_EQ(folder_.read("serial.txt"), "0");
  EXPECT_EQ(names.nextName(true), "err1-14-25.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "1");
  EXPECT_FALSE(folder_.exists("error.txt"));
  // Only the counter itself is left: no half-made helper files.
  EXPECT_EQ(folder_.files(), std::set<std::string>{"serial.txt"});
}

struct SerialCase {
  const char* name;
  std::string content;  // serial.txt before the report
  std::int32_t read;    // what setUp returns
  const char* next;     // the number in the err file name and serial.txt
  const char* quoted;   // what error-230 quotes, nullptr when no error.txt
};

class TimeNamesSerialFileTest : public testing::TestWithParam<SerialCase> {
 protected:
  ScratchFolder folder_;
};

TEST_P(TimeNamesSerialFileTest, ReadsAdvancesAndRewritesTheCounter) {
  const SerialCase& c = GetParam();
  folder_.write("serial.txt", c.content);
  TimeNames names;
  EXPECT_EQ(names.setUp("err", ".txt"), c.read);
  EXPECT_EQ(names.nextName(true), "err" + std::string(c.next) + "-14-25.txt");
  EXPECT_EQ(folder_.read("serial.txt"), c.next);
  bool error_file = false;
  std::string error_text = folder_.read("error.txt", &error_file);
  if (c.quoted == nullptr) {
    EXPECT_FALSE(error_file) << "error.txt holds: " << error_text;
  } else {
    EXPECT_TRUE(error_file);
    EXPECT_EQ(error_text,
              "sequence_to_integer() error-230: " + std::string(c.quoted));
  }
}

INSTANTIATE_TEST_SUITE_P(
    SerialFileStates, TimeNamesSerialFileTest,
    testing::Values(
        SerialCase{"Zero", "0", 0, "1", nullptr},
        SerialCase{"FortyOne", "41", 41, "42", nullptr},
        SerialCase{"LeadingZeros", "007", 7, "8", nullptr},
        SerialCase{"PlusSign", "+5", 5, "6", nullptr},
        SerialCase{"Letters", "abc", -1, "0", "abc"},
        SerialCase{"Empty", "", -1, "0", ""},
        SerialCase{"EmptyFirstLine", "\r\n12", -1, "0", ""},
        SerialCase{"TrailingBlank", "12 ", -1, "0", "12 "},
        SerialCase{"FirstLineOfCrLf", "7\r\nmore", 7, "8", nullptr},
        SerialCase{"FirstLineOfLf", "7\nmore\n", 7, "8", nullptr},
        SerialCase{"OnlyTheLineEnd", "9\r\n", 9, "10", nullptr},
        // The next number is shorter than the old: nothing of it is left.
        SerialCase{"ShorterNextNumber", "-10", -10, "-9", nullptr},
        SerialCase{"Largest", "2147483647", kLargest, "0", nullptr},
        SerialCase{"TooLarge", "2147483648", -1, "0", "2147483648"}),
    [](const testing::TestParamInfo<SerialCase>& param_info) {
      return std::string(param_info.param.name);
    });

// A counter that never ends (a link to /dev/zero) or holds one endless line
// must not stall the report: only its first 4096 bytes are read.
TEST_F(TimeNamesTest, OverlongFirstLineIsQuotedUpToTheBound) {
  std::string line(5000, '1');
  folder_.write("serial.txt", line + "\r\n2");
  EXPECT_EQ(nextErrName(), "err0-14-25.txt");
  EXPECT_EQ(folder_.read("error.txt"),
            "sequence_to_integer() error-230: " + line.substr(0, 4096));
}

TEST_F(TimeNamesTest, ClockTextShapesTheName) {
  struct {
    const char* clock;
    const char* name;
  } cases[] = {
      {"12/07/26", "err5--.txt"},           // first second after midnight
      {"12.07.26 23.14.25", "err6--.txt"},  // no ":" in the locale
      {"12/07/26 23:14", "err7-14-_.txt"},  // no seconds in the long time
      {"12/07/26 07:00:09 AM", "err8-00-09.txt"},
  };
  folder_.write("serial.txt", "4");
  for (const auto& c : cases) {
    setClockText(c.clock);
    EXPECT_EQ(nextErrName(), c.name) << "clock: " << c.clock;
  }
  EXPECT_EQ(folder_.read("serial.txt"), "8");
}

TEST_F(TimeNamesTest, PrefixAndExtensionFrameTheName) {
  folder_.write("serial.txt", "2");
  EXPECT_EQ(nextName("log", ".dat"), "log3-14-25.dat");
}

TEST_F(TimeNamesTest, NameWithoutAdvanceKeepsTheNumber) {
  folder_.write("serial.txt", "3");
  TimeNames names;
  EXPECT_EQ(names.setUp("err", ".txt"), 3);
  EXPECT_EQ(names.nextName(false), "err3-14-25.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "3");
}

TEST_F(TimeNamesTest, ConsecutiveReportsCountUpWithoutLineEnds) {
  for (int expected = 1; expected <= 12; ++expected) {
    EXPECT_EQ(nextErrName(), "err" + std::to_string(expected) + "-14-25.txt");
    // No line end: the whole file is the number.
    EXPECT_EQ(folder_.read("serial.txt"), std::to_string(expected));
  }
  EXPECT_EQ(TimeNames::serialNumber(), 12);
}

TEST_F(TimeNamesTest, LongerOldContentIsCutWhenTheCounterIsRewritten) {
  folder_.write("serial.txt", "9\r\nmany more lines after the number");
  EXPECT_EQ(nextErrName(), "err10-14-25.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "10");
}

TEST_F(TimeNamesTest, SerialFileThatIsAFolderKeepsTheNumberOfThisRun) {
  // The counter can be neither read nor created: the number is not advanced
  // and the name repeats the last one of the run (which a report then finds
  // taken).
  folder_.write("serial.txt", "9");
  EXPECT_EQ(nextErrName(), "err10-14-25.txt");
  std::filesystem::remove("serial.txt");
  std::filesystem::create_directory("serial.txt");

  EXPECT_EQ(nextErrName(), "err10-14-25.txt");
  EXPECT_EQ(TimeNames::serialNumber(), 10);
  // 231 came first, then the failed advance replaced it with 232.
  EXPECT_EQ(folder_.read("error.txt"), "Rewrite() error-232: ");
}

TEST_F(TimeNamesTest, SerialFileThatIsAFolderStartsAtZeroInANewRun) {
  std::filesystem::create_directory("serial.txt");
  EXPECT_EQ(nextErrName(), "err0-14-25.txt");
}

TEST_F(TimeNamesTest, CounterFailuresGoToStandardErrorWhenErrorFileFails) {
  std::filesystem::create_directory("serial.txt");
  std::filesystem::create_directory("error.txt");
  std::string said;
  EXPECT_EQ(nextErrNameSaying(&said), "err0-14-25.txt");
  EXPECT_EQ(said,
            "Rewrite() error-231: serial.txt\n"
            "Rewrite() error-232: \n");
}

TEST_F(TimeNamesTest, UnparsableCounterGoesToStandardErrorWhenErrorFileFails) {
  folder_.write("serial.txt", "x1");
  std::filesystem::create_directory("error.txt");
  std::string said;
  EXPECT_EQ(nextErrNameSaying(&said), "err0-14-25.txt");
  EXPECT_EQ(said, "sequence_to_integer() error-230: x1\n");
  EXPECT_EQ(folder_.read("serial.txt"), "0");
}

TEST_F(TimeNamesTest, ReadOnlySerialFileIsReadButNotAdvanced) {
  folder_.write("serial.txt", "5");
  const testing_support::PlantedFaults planted({"serial.txt"});  // read-only
  EXPECT_EQ(nextErrName(), "err5-14-25.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "5");
  EXPECT_EQ(folder_.read("error.txt"), "Rewrite() error-232: ");
}

TEST_F(TimeNamesTest, WriteOnlySerialFileIsCreatedAnewAtZero) {
  folder_.write("serial.txt", "5");
  const testing_support::PlantedFaults planted(
      {"", "serial.txt"});  // unreadable
  EXPECT_EQ(nextErrName(), "err1-14-25.txt");
  EXPECT_EQ(folder_.read("serial.txt"), "1");
  EXPECT_FALSE(folder_.exists("error.txt"));
}

}  // namespace
