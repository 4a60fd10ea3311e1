#include "tables/derive_binary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tables/table_format.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace expected = platform_expectations;
using testing_support::ScratchFolder;

const char* const kSource = "MS932~UTF16.bin";
const char* const kTable = "UTF16~MS932.bin";
const char* const kTemporary = "UTF16~MS932.bin.tmp";
const char* const kSourceMessage = "Reset() error-209: MS932~UTF16.bin";
const char* const kTableMessage = "Rewrite() error-241: UTF16~MS932.bin";

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int value : values) out.push_back(static_cast<char>(value));
  return out;
}

// A second, deliberately plain statement of the record conversion, used to
// check inputs too large to write out by hand. (The cases written out byte
// by byte below pin the kinds' values themselves.)
std::string expectedTable(const std::string& source) {
  using table_format::kSourceRecordSize;
  std::string out;
  for (std::size_t at = 0; at + kSourceRecordSize <= source.size();
       at += kSourceRecordSize) {
    auto b = [&](std::size_t i) {
      return static_cast<unsigned char>(source[at + i]);
    };
    int kind = b(1) != 0 ? table_format::kDoubleKind
                         : (b(0) >= 0x80 ? table_format::kSingleHighKind
                                         : table_format::kSingleLowKind);
    out += bytes({b(2), b(3), kind, b(0), b(1)});
  }
  return out;
}

// The files in the folder that the error log did not make.
std::set<std::string> ownFiles(const ScratchFolder& folder) {
  std::set<std::string> names;
  for (const std::string& name : folder.files()) {
    bool err = name.rfind("err", 0) == 0 && name.size() > 7 &&
               name.compare(name.size() - 4, 4, ".txt") == 0;
    if (!err && name != "serial.txt") names.insert(name);
  }
  return names;
}

class DeriveTableTest : public ::testing::Test {
 protected:
  DeriveStatus derive() {
    DeriveTable table;
    return table.derive();
  }

  ScratchFolder folder_;
};

TEST_F(DeriveTableTest, ConvertsEveryKindOfRecord) {
  struct Case {
    const char* what;
    std::string source;
    std::string table;
  };
  const std::vector<Case> cases = {
      {"ASCII letter", bytes({0x41, 0x00, 0x41, 0x00}),
       bytes({0x41, 0x00, 0x00, 0x41, 0x00})},
      {"half-width katakana", bytes({0xB1, 0x00, 0x71, 0xFF}),
       bytes({0x71, 0xFF, 0x02, 0xB1, 0x00})},
      {"kanji", bytes({0x88, 0x9F, 0x9C, 0x4E}),
       bytes({0x9C, 0x4E, 0x01, 0x88, 0x9F})},
      {"0x7F is the last low one-byte code", bytes({0x7F, 0x00, 0x7F, 0x00}),
       bytes({0x7F, 0x00, 0x00, 0x7F, 0x00})},
      {"0x80 is the first high one-byte code", bytes({0x80, 0x00, 0x80, 0x00}),
       bytes({0x80, 0x00, 0x02, 0x80, 0x00})},
      {"0xFF one-byte code", bytes({0xFF, 0x00, 0xF3, 0xF8}),
       bytes({0xF3, 0xF8, 0x02, 0xFF, 0x00})},
      {"code unit 0", bytes({0x00, 0x00, 0x00, 0x00}),
       bytes({0x00, 0x00, 0x00, 0x00, 0x00})},
      {"two-byte code with a low lead byte", bytes({0x01, 0x40, 0x34, 0x12}),
       bytes({0x34, 0x12, 0x01, 0x01, 0x40})},
      {"user-defined area", bytes({0xF9, 0xFC, 0x57, 0xE7}),
       bytes({0x57, 0xE7, 0x01, 0xF9, 0xFC})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    folder_.write(kSource, c.source);
    EXPECT_EQ(derive(), DeriveStatus::kOk);
    EXPECT_EQ(folder_.read(kTable), c.table);
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DeriveTableTest, KeepsRecordsAndDuplicatesInSourceOrder) {
  // Two codes for U+2252: the loader keeps the later one, so order matters.
  folder_.write(kSource, bytes({0x87, 0x90, 0x52, 0x22,  //
                                0x41, 0x00, 0x41, 0x00,  //
                                0x81, 0xE0, 0x52, 0x22}));
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_EQ(folder_.read(kTable), bytes({0x52, 0x22, 0x01, 0x87, 0x90,  //
                                         0x41, 0x00, 0x00, 0x41, 0x00,  //
                                         0x52, 0x22, 0x01, 0x81, 0xE0}));
}

TEST_F(DeriveTableTest, TrailingPartialRecordIsDropped) {
  const std::vector<std::string> sources = {
      bytes({0x41, 0x00, 0x41, 0x00, 0xB1, 0x00, 0x71, 0xFF, 0x88, 0x9F}),
      bytes({0x88, 0x9F, 0x9C}),
      bytes({0x41, 0x00, 0x41, 0x00, 0x42}),
  };
  const std::vector<std::string> tables = {
      bytes({0x41, 0x00, 0x00, 0x41, 0x00, 0x71, 0xFF, 0x02, 0xB1, 0x00}),
      std::string(),
      bytes({0x41, 0x00, 0x00, 0x41, 0x00}),
  };
  for (std::size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(sources[i].size());
    folder_.write(kSource, sources[i]);
    ASSERT_EQ(derive(), DeriveStatus::kOk);
    bool exists = false;
    EXPECT_EQ(folder_.read(kTable, &exists), tables[i]);
    EXPECT_TRUE(exists);
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DeriveTableTest, EmptySourceGivesEmptyTableWithoutReport) {
  folder_.write(kTable, "an older, longer table");
  folder_.write(kSource, "");
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  bool exists = false;
  EXPECT_EQ(folder_.read(kTable, &exists), "");
  EXPECT_TRUE(exists);
  EXPECT_TRUE(folder_.errMessages().empty());
  EXPECT_EQ(ownFiles(folder_), (std::set<std::string>{kSource, kTable}));
}

TEST_F(DeriveTableTest, SourceLargerThanOneBlockIsConvertedWhole) {
  // Records that differ in every byte, across several read blocks, with a
  // partial record at the very end.
  const std::size_t records = DeriveTable::kRecordsPerBlock * 2 + 3;
  std::string source;
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < records * table_format::kSourceRecordSize + 3;
       ++i) {
    state = state * 1103515245u + 12345u;
    char byte = static_cast<char>(state >> 16);
    // Keep some one-byte codes in the mix.
    if (i % 4 == 1 && (state & 0x300) == 0) byte = 0;
    source.push_back(byte);
  }
  folder_.write(kSource, source);
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  const std::string table = folder_.read(kTable);
  EXPECT_EQ(table.size(), records * table_format::kTableRecordSize);
  EXPECT_TRUE(table == expectedTable(source));
}

TEST_F(DeriveTableTest, ReplacesAnExistingTableAndLeavesNoTemporaryFile) {
  folder_.write(kTable, std::string(100, 'x'));
  folder_.write(kSource, bytes({0x41, 0x00, 0x41, 0x00}));
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_EQ(folder_.read(kTable), bytes({0x41, 0x00, 0x00, 0x41, 0x00}));
  EXPECT_EQ(ownFiles(folder_), (std::set<std::string>{kSource, kTable}));
}

TEST_F(DeriveTableTest, MissingSourceIsReportedAndOldTableKept) {
  const std::string old = bytes({0x41, 0x00, 0x00, 0x41, 0x00, 0x42});
  folder_.write(kTable, old);
  EXPECT_EQ(derive(), DeriveStatus::kSourceUnreadable);
  EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{kSourceMessage});
  EXPECT_EQ(folder_.read(kTable), old);
  EXPECT_EQ(ownFiles(folder_), std::set<std::string>{kTable});
}

TEST_F(DeriveTableTest, MissingSourceCreatesNoTable) {
  EXPECT_EQ(derive(), DeriveStatus::kSourceUnreadable);
  EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{kSourceMessage});
  EXPECT_TRUE(ownFiles(folder_).empty());
}

TEST_F(DeriveTableTest, SourceThatIsAFolderIsReported) {
  ASSERT_TRUE(fs::create_directory(kSource));
  folder_.write(kTable, "old");
  EXPECT_EQ(derive(), DeriveStatus::kSourceUnreadable);
  EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{kSourceMessage});
  EXPECT_EQ(folder_.read(kTable), "old");
  EXPECT_EQ(ownFiles(folder_), (std::set<std::string>{kSource, kTable}));
}

TEST_F(DeriveTableTest, ReadFailureIsReportedAndOldTableKept) {
  folder_.write(kSource, bytes({0x41, 0x00, 0x41, 0x00}));
  folder_.write(kTable, "old");
  platform::PlantedFaults unreadable;
  unreadable.fail_reads_from = 1;
  {
    const testing_support::PlantedFaults planted(unreadable);
    EXPECT_EQ(derive(), DeriveStatus::kSourceUnreadable);
  }
  EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{kSourceMessage});
  EXPECT_EQ(folder_.read(kTable), "old");
  EXPECT_EQ(ownFiles(folder_), (std::set<std::string>{kSource, kTable}));
}

// A link in place of either file is never written through, nor removed.
TEST_F(DeriveTableTest, LinksInPlaceOfTheFilesAreRefused) {
  UNIT_NEEDS(expected::Need::kTestMakesSymbolicLinks);
  folder_.write(kSource, bytes({0x41, 0x00, 0x41, 0x00}));
  folder_.write("elsewhere", "theirs");
  for (const char* linked : {kTemporary, kTable}) {
    SCOPED_TRACE(linked);
    fs::create_symlink("elsewhere", linked);
    EXPECT_EQ(derive(), DeriveStatus::kTableUnwritable);
    EXPECT_EQ(folder_.errMessages().back(), kTableMessage);
    EXPECT_EQ(folder_.read("elsewhere"), "theirs");
    EXPECT_EQ(ownFiles(folder_),
              (std::set<std::string>{kSource, "elsewhere", linked}));
    ASSERT_TRUE(fs::remove(linked));
  }
}

TEST_F(DeriveTableTest, TemporaryFileThatCannotBeCreatedIsReported) {
  folder_.write(kSource, bytes({0x41, 0x00, 0x41, 0x00}));
  folder_.write(kTable, "old");
  // A folder of that name blocks the creation even for a superuser.
  ASSERT_TRUE(fs::create_directory(kTemporary));
  EXPECT_EQ(derive(), DeriveStatus::kTableUnwritable);
  EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{kTableMessage});
  EXPECT_EQ(folder_.read(kTable), "old");
  EXPECT_EQ(ownFiles(folder_),
            (std::set<std::string>{kSource, kTable, kTemporary}));
}

TEST_F(DeriveTableTest, TableThatCannotBeReplacedIsReported) {
  folder_.write(kSource, bytes({0x41, 0x00, 0x41, 0x00}));
  // A file cannot be renamed over a folder.
  ASSERT_TRUE(fs::create_directory(kTable));
  folder_.write(std::string(kTable) + "/inside", "kept");
  EXPECT_EQ(derive(), DeriveStatus::kTableUnwritable);
  EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{kTableMessage});
  EXPECT_EQ(folder_.read(std::string(kTable) + "/inside"), "kept");
  EXPECT_EQ(ownFiles(folder_), (std::set<std::string>{kSource, kTable}));
}

TEST_F(DeriveTableTest, ReadOnlySourceIsAccepted) {
  const std::string source = bytes({0x88, 0x9F, 0x9C, 0x4E});
  folder_.write(kSource, source);
  const fs::perms read_only =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(kSource, read_only, fs::perm_options::replace);
  // A superuser may open the file for writing anyway, so this only proves
  // the point when the tests run as an ordinary user; the checks that the
  // source is unchanged hold either way.
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_EQ(folder_.read(kTable), bytes({0x9C, 0x4E, 0x01, 0x88, 0x9F}));
  EXPECT_EQ(folder_.read(kSource), source);
  EXPECT_EQ(fs::status(kSource).permissions() & fs::perms::mask, read_only);
  EXPECT_TRUE(folder_.errMessages().empty());
}

}  // namespace
