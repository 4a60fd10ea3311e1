#include "options/numbered.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using Messages = std::vector<std::string>;

class NumberedTermTest : public ::testing::Test {
 protected:
  testing_support::ScratchFolder folder_;
};

TEST_F(NumberedTermTest, DigitCountCountsTrailingDigitsOnly) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0}, {"abc", 0}, {"-j12", 2}, {"123", 3}, {"1a2", 1}, {"-j2x", 0}};
  for (const auto& [token, count] : cases) {
    EXPECT_EQ(NumberedTerm::digitCount(token), count) << token;
  }
}

TEST_F(NumberedTermTest, PlainSplitGivesPrefixAndValue) {
  const std::tuple<std::string, std::string, std::int32_t> cases[] = {
      {"-j0", "-j", 0},   {"-j007", "-j", 7},
      {"-j12", "-j", 12}, {"-j2147483647", "-j", 2147483647},
      {"-}3", "-}", 3},
  };
  for (const auto& [token, prefix, value] : cases) {
    NumberedTerm term;
    term.splitNumber(token);
    EXPECT_EQ(term.prefix(), prefix) << token;
    EXPECT_EQ(term.value(), value) << token;
    EXPECT_EQ(term.lowerValue(), -1) << token;
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(NumberedTermTest, TokenWithoutTrailingDigitsKeepsWholePrefix) {
  NumberedTerm term;
  term.splitNumber("-j2x");
  EXPECT_EQ(term.prefix(), "-j2x");
  EXPECT_EQ(term.value(), -1);
  EXPECT_EQ(folder_.errMessages(),
            (Messages{"sequence_to_integer() error-214: "}));
}

TEST_F(NumberedTermTest, ValueAboveInt32MaxIsReported) {
  NumberedTerm term;
  term.splitNumber("-j2147483648");
  EXPECT_EQ(term.value(), -1);
  EXPECT_EQ(folder_.errMessages(),
            (Messages{"sequence_to_integer() error-214: 2147483648"}));
}

TEST_F(NumberedTermTest, RangeSplitWithTheOptionStoreBound) {
  const std::tuple<std::string, bool, std::string, int, int> cases[] = {
      {"-I3-5", true, "-I", 3, 5},          {"-I3x5", true, "-I", 3, 5},
      {"-I12-345", true, "-I", 12, 345},    {"-I5", true, "-I", 5, 2147483646},
      {"-I35", true, "-I", 35, 2147483646}, {"-~0-0", true, "-~", 0, 0},
      {"-I3xy5", true, "-I3xy", -1, -1},
  };
  for (const auto& [token, range, prefix, lower, upper] : cases) {
    SCOPED_TRACE(token);
    NumberedTerm term;
    term.splitBounded(token, NumberedTerm::kRangeBound);
    EXPECT_EQ(term.splitRange(), range);
    EXPECT_EQ(term.prefix(), prefix);
    if (lower >= 0) {
      EXPECT_EQ(term.lowerValue(), lower);
      EXPECT_EQ(term.value(), upper);
    }
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(NumberedTermTest, OpenRangeIsNoRangeWithThePlainBound) {
  NumberedTerm term;
  term.splitNumber("-I5");
  EXPECT_FALSE(term.splitRange());
  EXPECT_EQ(term.prefix(), "-I");
  EXPECT_EQ(term.value(), 5);
  EXPECT_EQ(term.lowerValue(), -1);
  // A real range still is one.
  term.splitNumber("-I3-5");
  EXPECT_TRUE(term.splitRange());
  EXPECT_EQ(term.lowerValue(), 3);
}

TEST_F(NumberedTermTest, RangeWithEmptyUpperTextReportsOnValue) {
  NumberedTerm term;
  term.splitBounded("-I5x", NumberedTerm::kRangeBound);
  EXPECT_TRUE(term.splitRange());
  EXPECT_EQ(term.prefix(), "-I");
  EXPECT_EQ(term.lowerValue(), 5);
  EXPECT_TRUE(folder_.errMessages().empty());
  EXPECT_EQ(term.value(), -1);
  EXPECT_EQ(folder_.errMessages(),
            (Messages{"sequence_to_integer() error-214: "}));
}

TEST_F(NumberedTermTest, NewSplitForgetsThePreviousRange) {
  NumberedTerm term;
  term.splitBounded("-I3-5", NumberedTerm::kRangeBound);
  ASSERT_TRUE(term.splitRange());
  term.splitNumber("-j7");
  EXPECT_EQ(term.prefix(), "-j");
  EXPECT_EQ(term.value(), 7);
  EXPECT_EQ(term.lowerValue(), -1);
}

TEST_F(NumberedTermTest, SplitOfDigitsAloneIsSafe) {
  NumberedTerm term;
  term.splitBounded("123", NumberedTerm::kRangeBound);
  EXPECT_TRUE(term.splitRange());
  EXPECT_EQ(term.prefix(), "");
  EXPECT_EQ(term.lowerValue(), 123);
}

TEST_F(NumberedTermTest, SequenceToInteger) {
  const std::pair<std::string, std::int32_t> good[] = {
      {"0", 0},
      {"007", 7},
      {"42", 42},
      {"2147483647", 2147483647},
      {"0000000000002147483647", 2147483647}};
  for (const auto& [text, value] : good) {
    EXPECT_EQ(NumberedTerm::unsigned_sequence_to_integer(text), value) << text;
  }
  EXPECT_TRUE(folder_.errMessages().empty());

  const std::string bad[] = {
      "", "2147483648", "99999999999999999999999999", "12a", "-5", "+5", " 5"};
  for (const std::string& text : bad) {
    EXPECT_EQ(NumberedTerm::unsigned_sequence_to_integer(text), -1) << text;
  }
  const Messages messages = folder_.errMessages();
  ASSERT_EQ(messages.size(), std::size(bad));
  for (std::size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i], "sequence_to_integer() error-214: " + bad[i]);
  }
}

}  // namespace
