#include "select/part_scheduler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Where a part may start in a window of units read from unit `from` on:
// right after a line feed that is no low half, never at window[0] (only the
// unit before the next one), never at or past the end of the range.
TEST(PartSchedulerTest, CutPointFollowsTheFirstLineFeedThatIsNoLowHalf) {
  using Case = std::tuple<const char*, std::u16string, std::int64_t,
                          std::int64_t, std::int64_t>;
  const Case cases[] = {
      {"line feed in the middle", u"ab\ncd", 100, 1000, 103},
      {"first of two line feeds", u"a\nb\nc", 100, 1000, 102},
      {"a line feed at window[0] is not looked at", u"\nab\nc", 0, 1000, 4},
      {"right after window[0]", u"a\nbc", 10, 1000, 12},
      {"after a high surrogate it is a low half", u"a\xD842\nb\nc", 0, 1000, 5},
      {"after a low surrogate it ends a line", u"\xD842\xDC00\nb", 0, 1000, 3},
      {"no line feed", u"abcdef", 0, 1000, -1},
      {"only low halves", u"x\xD840\n\xDBFF\n", 0, 1000, -1},
      {"a start at the end of the range is no start", u"ab\ncd", 0, 3, -1},
      {"a start just before the end", u"ab\ncd", 0, 4, 3},
      {"empty window", u"", 0, 1000, -1},
  };
  for (const auto& [name, window, from, end, expected] : cases) {
    const std::vector<std::uint16_t> units(window.begin(), window.end());
    EXPECT_EQ(parts::cutPoint(units.data(), units.size(), from, end), expected)
        << name;
  }
}

// How many parts a range is planned in, and where each search starts.
TEST(PartSchedulerTest, PlannedPartsAndWhereTheirSearchBegins) {
  using Case = std::tuple<std::int64_t, std::size_t, std::int64_t, std::size_t>;
  const Case cases[] = {
      {100, 4, 10, 4}, {100, 4, 30, 3},
      {100, 4, 60, 1}, {100, 20, 1, parts::kMostParts},
      {5, 4, 0, 4},    {0, 4, 1, 0},
      {100, 0, 1, 0},
  };
  for (const auto& [units, wanted, least, expected] : cases) {
    EXPECT_EQ(parts::plannedPartCount(units, wanted, least), expected)
        << units << " units, " << wanted << " wanted, least " << least;
  }
  EXPECT_EQ(parts::cutSearchFrom(1, 100, 4, 1), 25);
  EXPECT_EQ(parts::cutSearchFrom(1, 100, 4, 3), 75);
  EXPECT_EQ(parts::cutSearchFrom(0, 10, 3, 2), 5);
}

}  // namespace
