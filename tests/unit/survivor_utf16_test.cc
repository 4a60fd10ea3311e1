#include "tables/survivor_utf16.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "diagnostics/error_text.h"
#include "options/final_effect.h"
#include "platform/platform.h"
#include "tables/data_note.h"
#include "tables/table_format.h"
#include "test_support.h"

namespace {

using table_format::kDoubleKind;
using table_format::kListedHighKind;
using table_format::kSingleHighKind;
using table_format::kSingleLowKind;
using testing_support::ScratchFolder;

std::string record(int low, int high, int kind, int first, int second) {
  return std::string{static_cast<char>(low), static_cast<char>(high),
                     static_cast<char>(kind), static_cast<char>(first),
                     static_cast<char>(second)};
}

// The kind and the two bytes of a code unit's entry.
using Entry = std::array<int, 3>;
Entry entryOf(const SurvivorsUTF16& table, std::uint32_t unit) {
  return {table.entry(unit, 0), table.entry(unit, 1), table.entry(unit, 2)};
}

class SurvivorsUTF16Test : public ::testing::Test {
 protected:
  // Loads the table file with these bytes.
  bool load(SurvivorsUTF16* table, const std::string& bytes) {
    folder_.write("t.bin", bytes);
    return table->loadFile("t.bin");
  }

  ScratchFolder folder_;
};

TEST_F(SurvivorsUTF16Test, RecordsSetEntriesByKind) {
  SurvivorsUTF16 table;
  // The high byte of a kind-0 record is ignored; an odd kind is two-byte.
  ASSERT_TRUE(load(&table, record(0x41, 0x30, kSingleLowKind, 0x41, 0) +
                               record(0x71, 0xFF, kSingleHighKind, 0xB1, 0) +
                               record(0x9C, 0x4E, kDoubleKind, 0x88, 0x9F) +
                               record(0x52, 0x22, 7, 0x81, 0xE0)));
  EXPECT_EQ(entryOf(table, 0x0041), (Entry{kSingleLowKind, 0x41, 0}));
  EXPECT_EQ(entryOf(table, 0x3041), (Entry{kSingleLowKind, 0, 0}));
  EXPECT_EQ(entryOf(table, 0xFF71), (Entry{kSingleHighKind, 0xB1, 0}));
  EXPECT_EQ(entryOf(table, 0x4E9C), (Entry{kDoubleKind, 0x88, 0x9F}));
  EXPECT_EQ(entryOf(table, 0x2252), (Entry{kDoubleKind, 0x81, 0xE0}));
}

TEST_F(SurvivorsUTF16Test, LaterRecordWins) {
  SurvivorsUTF16 table;
  ASSERT_TRUE(load(&table, record(0x52, 0x22, kDoubleKind, 0x87, 0x90) +
                               record(0x52, 0x22, kDoubleKind, 0x81, 0xE0)));
  EXPECT_EQ(entryOf(table, 0x2252), (Entry{kDoubleKind, 0x81, 0xE0}));
}

TEST_F(SurvivorsUTF16Test, FinalRecordQuirks) {
  // A record for U+0000 is overwritten by the all-zero record applied after
  // the last whole record.
  SurvivorsUTF16 whole;
  ASSERT_TRUE(load(&whole, record(0x00, 0x00, kDoubleKind, 0x81, 0x40)));
  EXPECT_EQ(entryOf(whole, 0), (Entry{0, 0, 0}));
  // 12 bytes: two records, then the 2-byte remainder padded with zeros, a
  // kind-0 record that resets the code unit named by its first byte.
  SurvivorsUTF16 shortened;
  ASSERT_TRUE(load(&shortened, record(0x42, 0x00, kSingleLowKind, 0x42, 0) +
                                   record(0x9C, 0x4E, kDoubleKind, 0x88, 0x9F) +
                                   std::string("\x42\x99", 2)));
  EXPECT_EQ(shortened.entry(0x42, 1), 0) << "remainder reset the entry";
  EXPECT_EQ(shortened.entry(0x4E9C, 0), kDoubleKind);
  SurvivorsUTF16 empty;
  ASSERT_TRUE(load(&empty, ""));
  EXPECT_EQ(empty.entry(0x4E9C, 0), 0);
}

TEST_F(SurvivorsUTF16Test, UnitsAboveTheTableAreIgnored) {
  SurvivorsUTF16 table;
  ASSERT_TRUE(load(&table, record(0xE6, 0xFF, kDoubleKind, 0x81, 0x40) +
                               record(0xE5, 0xFF, kDoubleKind, 0xFA, 0x55) +
                               record(0x41, 0, kSingleLowKind, 0x41, 0)));
  EXPECT_EQ(table.entry(0xFFE6, 0), 0);
  EXPECT_EQ(table.entry(0xFFFF, 0), 0);
  EXPECT_EQ(table.entry(0xFFE5, 0), kDoubleKind);
  EXPECT_EQ(table.entries()[0xFFE6].kind, 0);
}

TEST_F(SurvivorsUTF16Test, MissingFileDoesNotLoad) {
  SurvivorsUTF16 table;
  EXPECT_FALSE(table.loadFile("absent.bin"));
}

// surro.txt: listed characters become 0x81 0x51, everything else stays.
TEST_F(SurvivorsUTF16Test, SupplementaryListMarksHighSurrogates) {
  folder_.write("surro.txt", "20B9F remark\r\n2A6B2\n");  // the last: LF only
  SurvivorsUTF16 table;
  EXPECT_EQ(table.survivors(), SurvivorList::kRead);
  EXPECT_EQ(entryOf(table, 0xD842), (Entry{kListedHighKind, 2, 0}));
  EXPECT_EQ(table.pair(0xD842, 0xDF9F, 1), 0x81);
  EXPECT_EQ(table.pair(0xD842, 0xDF9F, 2), 0x51);
  EXPECT_EQ(table.pair(0xD842, 0xDF9F, 3), 0);
  EXPECT_EQ(table.pair(0xD842, 0xDC00, 1), 0);
  EXPECT_EQ(table.entry(0xD869, 0), kListedHighKind);
  EXPECT_EQ(table.pair(0xD869, 0xDEB2, 2), 0x51);
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(SurvivorsUTF16Test, SupplementaryListStopsAtEmptyLine) {
  folder_.write("surro.txt", "20B9F\r\n\r\n2A6B2\r\n");
  SurvivorsUTF16 table;
  EXPECT_EQ(table.survivors(), SurvivorList::kRead);
  EXPECT_EQ(table.entry(0xD842, 0), kListedHighKind);
  EXPECT_EQ(table.entry(0xD869, 0), 0);
}

TEST_F(SurvivorsUTF16Test, SupplementaryListIgnoresOutOfRangeLines) {
  // Lower-case digits read as 0x20; 1F600 lies outside U+20000..U+3FFFF;
  // nine digits are more than the list's format holds.
  folder_.write("surro.txt", "20b9f\n1F600\n000020B9F\nZZ\n40000\n");
  SurvivorsUTF16 table;
  EXPECT_EQ(table.survivors(), SurvivorList::kRead);
  for (std::uint32_t high = 0xD800; high < 0xDC00; ++high) {
    ASSERT_EQ(table.entry(high, 0), 0) << std::hex << high;
  }
  EXPECT_EQ(table.pair(0xD7FF, 0xDC00, 1), 0);
  EXPECT_EQ(table.pair(0xD8C0, 0xDC00, 1), 0);
  EXPECT_EQ(table.pair(0xD840, 0xE000, 1), 0);
}

// surro.txt is read up to 4 MiB: a line that ends within the bound counts,
// one that the bound cuts or that lies beyond it does not.
TEST_F(SurvivorsUTF16Test, SupplementaryListIsReadUpToItsBound) {
  constexpr std::size_t kBound = std::size_t{4} << 20;
  // Non-empty lines of exactly `bytes` bytes: an empty one ends the list.
  const auto filler = [](std::size_t bytes) {
    std::string lines = bytes % 2 == 1 ? "00\n" : "";
    while (lines.size() < bytes) lines += "0\n";
    return lines;
  };
  // Why, surro.txt, the one listed high surrogate (0: none).
  const std::tuple<const char*, std::string, std::uint32_t> cases[] = {
      {"the last line within the bound counts, the next does not",
       filler(kBound - 6) + "20B9F\n2A6B2\n", 0xD842},
      {"a line cut by the bound is not read as its head alone",
       filler(kBound - 5) + "200000\n", 0},
  };
  for (const auto& [why, content, listed_high] : cases) {
    folder_.write("surro.txt", content);
    SurvivorsUTF16 table;
    EXPECT_EQ(table.survivors(), SurvivorList::kRead) << why;
    for (std::uint32_t high = 0xD840; high < 0xD8C0; ++high) {
      ASSERT_EQ(table.entry(high, 0), high == listed_high ? kListedHighKind : 0)
          << why << ", high " << std::hex << high;
    }
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(SurvivorsUTF16Test, MissingSupplementaryListIsReported) {
  SurvivorsUTF16 table;
  EXPECT_EQ(table.survivors(), SurvivorList::kUnreadable);
  EXPECT_EQ(folder_.errMessages(),
            std::vector<std::string>{"Reset() error-192: surro.txt"});
}

TEST_F(SurvivorsUTF16Test, HexadecimalParse) {
  const std::tuple<const char*, std::uint32_t, std::size_t> cases[] = {
      {"20B9F", 0x20B9F, 5},
      {"20B9F x", 0x20B9F, 5},
      {"", 0, 0},
      {"g12", 0, 0},
      {"1a", 1, 1},
      {"7FFFFFFF", 0x7FFFFFFF, 8},
      {"0", 0, 1},
  };
  SurvivorsUTF16 table;
  for (const auto& [text, value, digits_read] : cases) {
    std::size_t digits = 99;
    EXPECT_EQ(table.hexadecimal_sequence_to_integer(
                  text, std::char_traits<char>::length(text), &digits),
              value)
        << text;
    EXPECT_EQ(digits, digits_read) << text;
  }
}

TEST_F(SurvivorsUTF16Test, EightDigitsFromEightUpStopTheRun) {
  folder_.write("surro.txt", "80000000\n");
  EXPECT_EXIT((void)SurvivorsUTF16().survivors(), ::testing::ExitedWithCode(1),
              "");
  EXPECT_EQ(folder_.errMessages(),
            std::vector<std::string>{
                "hexadecimal_sequence_to_integer() error-158: i = 56"});
}

// The search, with the reports each miss leaves.
FinalEffects::Values searchOptions(bool settings_only, bool fixed_only,
                                   bool report) {
  FinalEffects::Values v;
  v.tableFromSettings = settings_only;
  v.noTableSearch = fixed_only;
  v.tableReport = report;
  return v;
}

TEST_F(SurvivorsUTF16Test, TableInCurrentFolderAfterFixedPlaceMiss) {
  folder_.write("UTF16~MS932.bin", record(0x9C, 0x4E, kDoubleKind, 0x88, 0x9F));
  SurvivorsUTF16 table;
  table.load(FinalEffects(searchOptions(false, false, true)));
  EXPECT_EQ(table.binaryTable(), "UTF16~MS932.bin");
  EXPECT_EQ(table.entry(0x4E9C, 1), 0x88);
  const std::string program_folder =
      std::filesystem::path(testing_support::programPath())
          .parent_path()
          .string();
  EXPECT_EQ(folder_.errMessages(),
            std::vector<std::string>{"Reset() error-154: " +
                                     platform_expectations::fixedTablePlace(
                                         platform_expectations::thisBuild(),
                                         program_folder, "UTF16~MS932.bin")});
  EXPECT_EQ(folder_.read("data.txt"),
            "UTF16~MS932.bin is primarily accessible to Pelmora.");
}

// A data.txt that another run holds beyond the wait is that run's: this
// run neither empties, writes nor removes it, and shows no note (216).
TEST_F(SurvivorsUTF16Test, NoteHeldByAnotherRunIsLeftToIt) {
  folder_.write("data.txt", "theirs");
  platform::File other;
  ASSERT_EQ(other.openHeld("data.txt", false), platform::Status::kOk);
  platform::setHeldWaitForTesting(100);
  DataNote note;
  note.hold("wide.txt");
  note.write("mine");
  EXPECT_FALSE(note.echo());
  note.release();
  platform::setHeldWaitForTesting(60000);
  ASSERT_EQ(other.close(), platform::Status::kOk);
  EXPECT_EQ(folder_.read("data.txt"), "theirs");
  EXPECT_EQ(folder_.errMessages().back(), "Reset() error-216: data.txt");
}

TEST_F(SurvivorsUTF16Test, SettingsFileNamesTheTable) {
  folder_.write("mine.bin", "");
  folder_.write("set_dravikson.txt", "mine.bin\r\nignored\r\n");
  SurvivorsUTF16 table;
  table.load(FinalEffects(searchOptions(true, false, false)));
  EXPECT_EQ(table.binaryTable(), "mine.bin");
  EXPECT_TRUE(folder_.errMessages().empty()) << "-K tries nothing else";
  EXPECT_FALSE(folder_.exists("data.txt"));
}

TEST_F(SurvivorsUTF16Test, SearchMissesStopTheRun) {
  using Args = std::vector<std::string>;
  // Name, -K, -D, set_dravikson.txt ("": none), a table in the current
  // folder, the reports (154/166 compared by prefix).
  const std::tuple<const char*, bool, bool, std::string, bool, Args> cases[] = {
      {"nowhere", false, false, "", false,
       Args{"Reset() error-154: ", "Reset() error-153: UTF16~MS932.bin",
            "Reset() error-155: set_dravikson.txt",
            "Reset() error-167: i = 4"}},
      {"named table missing", false, false, "gone.bin\r\n", false,
       Args{"Reset() error-154: ", "Reset() error-153: UTF16~MS932.bin",
            "Reset() error-156: gone.bin", "Reset() error-167: i = 4"}},
      {"fixed place only", false, true, "", true,
       Args{"Reset() error-154: ", "Reset() error-166: "}},
      {"settings only, empty first line", true, false, "\r\nx\r\n", true,
       Args{"Reset() error-167: i = 4"}},
      // One byte past the longest name any system takes: no name at all.
      {"first line one byte too long", true, false,
       std::string((std::size_t{32} << 10) + 1, 'n') + "\r\n", false,
       Args{"Reset() error-155: set_dravikson.txt",
            "Reset() error-167: i = 4"}},
      {"-K wins over -D", true, true, "", true,
       Args{"Reset() error-155: set_dravikson.txt",
            "Reset() error-167: i = 4"}},
  };
  // Every folder in Path would leave a report of its own; Windows always
  // has some.
  testing_support::EnvironmentWithout no_path("Path");
  for (const auto& [name, settings_only, fixed_only, settings, in_current,
                    expected] : cases) {
    SCOPED_TRACE(name);
    ScratchFolder folder;
    if (!settings.empty()) folder.write("set_dravikson.txt", settings);
    if (in_current) folder.write("UTF16~MS932.bin", "");
    FinalEffects options(searchOptions(settings_only, fixed_only, false));
    EXPECT_EXIT(SurvivorsUTF16().load(options), ::testing::ExitedWithCode(1),
                "");
    std::vector<std::string> messages = folder.errMessages();
    ASSERT_EQ(messages.size(), expected.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
      EXPECT_EQ(messages[i].rfind(expected[i], 0), 0u) << messages[i];
    }
    // The search alone makes the same reports but the last, and gives that
    // one as its refusal instead of stopping.
    std::vector<std::string> reports;
    diagnostics::collectReports(&reports);
    const TableSearch search = SurvivorsUTF16().search(options);
    diagnostics::collectReports(nullptr);
    EXPECT_TRUE(search.found.empty());
    EXPECT_EQ(search.refusal_message.rfind(expected.back(), 0), 0u);
    ASSERT_EQ(reports.size() + 1, expected.size());
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i].rfind(expected[i], 0), 0u) << reports[i];
    }
  }
}

}  // namespace
