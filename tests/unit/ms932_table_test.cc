// Checks the shipped data/MS932~UTF16.bin through a reader of its own, apart
// from the product code, and against the system's CP932 converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "file_bytes.h"
#include "reverse_table.h"
#include "test_support.h"

namespace {

using Record = harness::ReverseRecord;

// JIS X 0208 forms of characters whose codes the code page decodes to other
// units: each is a second record for its code.
struct JisForm {
  std::uint16_t unit;
  std::uint16_t code;
  std::uint16_t decoded;  // what the code page decodes the code to
};
constexpr JisForm kJisForms[] = {
    {0x301C, 0x8160, 0xFF5E}, {0x2016, 0x8161, 0x2225},
    {0x2212, 0x817C, 0xFF0D}, {0x00A2, 0x8191, 0xFFE0},
    {0x00A3, 0x8192, 0xFFE1}, {0x00AC, 0x81CA, 0xFFE2},
};

bool isJisFormCode(std::uint16_t code) {
  return std::any_of(std::begin(kJisForms), std::end(kJisForms),
                     [code](const JisForm& form) { return form.code == code; });
}

std::string wideOf(std::uint32_t unit) {
  return {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
}

class Ms932TableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bytes_ = harness::projectFile(PELMORA_DATA_DIR "/MS932~UTF16.bin");
    records_ = harness::reverseRecords(bytes_);
    // As the conversion table is loaded: a later record for the same code
    // unit replaces an earlier one. A decoder of the table takes a code's
    // first record.
    winner_.fill(kNone);
    decoded_.fill(kNone);
    for (const Record& record : records_) {
      winner_[record.unit] = record.code();
      std::uint32_t& first = decoded_[record.code()];
      if (first == kNone) first = record.unit;
    }
  }

  static constexpr std::uint32_t kNone = 0xFFFFFFFF;
  static inline std::string bytes_;
  static inline std::vector<Record> records_;
  static inline std::array<std::uint32_t, 0x10000> winner_;
  static inline std::array<std::uint32_t, 0x10000> decoded_;
};

bool isLeadByte(std::uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isTrailByte(std::uint8_t b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

TEST_F(Ms932TableTest, HoldsEveryCodeOnceInValidRanges) {
  EXPECT_EQ(bytes_.size() % 4, 0u);
  // The figures of the code page: 196 one-byte codes (0x00-0x80,
  // 0xA0-0xDF, 0xFD-0xFF), 7724 two-byte codes outside the user-defined
  // area and 1880 inside it, 9402 distinct code units; and the six JIS
  // forms, each a code unit of its own.
  std::size_t one_byte = 0, user_area = 0;
  std::map<std::uint16_t, int> seen;
  for (const Record& record : records_) {
    SCOPED_TRACE(testing::Message() << std::hex << record.code());
    if (record.second == 0) {
      ++one_byte;
      EXPECT_FALSE(isLeadByte(record.first));
    } else {
      EXPECT_TRUE(isLeadByte(record.first));
      EXPECT_TRUE(isTrailByte(record.second));
      if (record.first >= 0xF0 && record.first <= 0xF9) ++user_area;
    }
    EXPECT_FALSE(record.unit >= 0xD800 && record.unit <= 0xDFFF);
    ++seen[record.code()];
  }
  for (const auto& [code, times] : seen) {
    EXPECT_EQ(times, isJisFormCode(code) ? 2 : 1)
        << std::hex << code << " listed " << times << " times";
  }
  std::size_t units = 0;
  for (std::uint32_t code : winner_) units += code != kNone ? 1 : 0;
  EXPECT_EQ(records_.size(), 9806u);
  EXPECT_EQ(one_byte, 196u);
  EXPECT_EQ(user_area, 1880u);
  EXPECT_EQ(units, 9408u);
}

TEST_F(Ms932TableTest, LaterRecordGivesTheCodeWindowsWrites) {
  const std::tuple<std::uint16_t, std::uint16_t, const char*> cases[] = {
      {0x2252, 0x81E0, "JIS X 0208 before NEC row 13"},
      {0x2261, 0x81DF, "JIS X 0208 before NEC row 13"},
      {0x2235, 0x81E6, "JIS X 0208 before NEC row 13 and IBM"},
      {0xFFE2, 0x81CA, "JIS X 0208 before IBM and NEC-selected IBM"},
      {0x2160, 0x8754, "NEC row 13 before IBM"},
      {0x2116, 0x8782, "NEC row 13 before IBM"},
      {0x3231, 0x878A, "NEC row 13 before IBM"},
      {0x2170, 0xFA40, "IBM before NEC-selected IBM"},
      {0xFFE4, 0xFA55, "IBM before NEC-selected IBM"},
      {0x7E8A, 0xFA5C, "IBM before NEC-selected IBM"},
      {0x9ED1, 0xFC4B, "IBM before NEC-selected IBM"},
      {0x0041, 0x41, "unique one-byte code"},
      {0x005C, 0x5C, "backslash stays one byte"},
      {0x0080, 0x80, "Microsoft one-byte extra"},
      {0xF8F0, 0xA0, "Microsoft one-byte extra"},
      {0xF8F3, 0xFF, "Microsoft one-byte extra"},
      {0xFF71, 0xB1, "half-width katakana"},
      {0x4E9C, 0x889F, "first JIS level 1 kanji"},
      {0xE000, 0xF040, "first user-defined code"},
      {0xE757, 0xF9FC, "last user-defined code"},
  };
  for (const auto& [unit, code, why] : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "U+" << unit << " " << why);
    EXPECT_EQ(winner_[unit], code);
  }
}

// The JIS forms get the codes other converters write for them, while every
// code still decodes, and every form it decodes to is still written, as the
// code page has it.
TEST_F(Ms932TableTest, JisFormsShareTheirCodesWithoutChangingTheirDecoding) {
  testing_support::SystemCp932 converter;
  for (const JisForm& form : kJisForms) {
    SCOPED_TRACE(testing::Message() << std::hex << "U+" << form.unit);
    EXPECT_EQ(winner_[form.unit], form.code);
    EXPECT_EQ(decoded_[form.code], form.decoded);
    EXPECT_EQ(winner_[form.decoded], form.code);
    const std::string code{static_cast<char>(form.code >> 8),
                           static_cast<char>(form.code & 0xFF)};
    std::string back;
    if (converter.ok() && converter.decode(code, &back)) {
      EXPECT_EQ(back, wideOf(form.decoded)) << "the system decodes it so";
    }
  }
}

TEST_F(Ms932TableTest, UserDefinedAreaRunsInOrder) {
  // 10 lead bytes of 188 trail bytes each, counted up from U+E000.
  std::uint32_t unit = 0xE000;
  for (std::uint8_t lead = 0xF0; lead <= 0xF9; ++lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      EXPECT_EQ(winner_[unit], static_cast<std::uint32_t>(lead << 8 | trail))
          << std::hex << unit;
      ++unit;
    }
  }
  EXPECT_EQ(unit, 0xE758u);
  EXPECT_EQ(winner_[0xE758], kNone);
}

TEST_F(Ms932TableTest, AgreesWithTheSystemConverter) {
  testing_support::SystemCp932 converter;
  if (!converter.ok()) GTEST_SKIP() << "the system has no CP932 converter";
  int checked = 0, differ = 0, only_in_library = 0, one_way = 0;
  std::vector<std::uint32_t> only_in_table;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    const std::string wide = wideOf(unit);
    const bool listed = winner_[unit] != kNone;
    std::string narrow, back;
    if (!converter.encode(wide, &narrow) || narrow.empty() ||
        narrow.size() > 2) {
      // A converter that writes only codes that decode back (Windows' as
      // these tests ask for it) has none for the JIS forms.
      if (listed && decoded_[winner_[unit]] == unit) {
        only_in_table.push_back(unit);
      }
      continue;
    }
    // Fallbacks such as U+00A5 -> 5C do not come back; the table holds none
    // of them. The JIS forms do not come back either, and are compared.
    if (!listed && (!converter.decode(narrow, &back) || back != wide)) {
      ++one_way;
      continue;
    }
    ++checked;
    std::uint32_t code = static_cast<std::uint8_t>(narrow[0]);
    if (narrow.size() == 2) {
      code = code << 8 | static_cast<std::uint8_t>(narrow[1]);
    }
    if (winner_[unit] == kNone) {
      ++only_in_library;
      ADD_FAILURE() << std::hex << "U+" << unit << " -> " << code
                    << " is missing from the table";
    } else if (winner_[unit] != code) {
      ++differ;
      ADD_FAILURE() << std::hex << "U+" << unit << ": table " << winner_[unit]
                    << ", system converter " << code;
    }
  }
  std::cout << "[ CP932    ] " << checked << " code units checked, " << differ
            << " differ, " << only_in_library << " missing from the table, "
            << one_way << " one-way library fallbacks skipped, "
            << only_in_table.size() << " only in the table\n";
  // Nothing but what the system's converter is known to leave out may be
  // missing from it.
  EXPECT_EQ(only_in_table,
            platform_expectations::thisBuild().unitsOnlyInTheTable);
  RecordProperty("checked", checked);
  RecordProperty("differ", differ);
  EXPECT_GT(checked, 9000);
}

}  // namespace
