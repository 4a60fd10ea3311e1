#include "tables/derive_binary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "err_files.h"
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

// Bytes written as hexadecimal pairs, blanks between them.
std::string hex(const std::string& pairs) {
  std::string out;
  for (std::size_t at = 0; at + 1 < pairs.size(); at += 3) {
    out.push_back(
        static_cast<char>(std::stoi(pairs.substr(at, 2), nullptr, 16)));
  }
  return out;
}

// A plain second statement of the record conversion, for inputs too large
// to write out; the cases written out below pin the kinds' values.
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
    const int record[] = {b(2), b(3), kind, b(0), b(1)};
    for (int value : record) out.push_back(static_cast<char>(value));
  }
  return out;
}

// The files in the folder that the error log did not make.
std::set<std::string> ownFiles(const ScratchFolder& folder) {
  std::set<std::string> names;
  for (const std::string& name : folder.files()) {
    if (!harness::parseErrFileName(name) && name != "serial.txt") {
      names.insert(name);
    }
  }
  return names;
}

class DeriveTableTest : public ::testing::Test {
 protected:
  DeriveStatus derive() { return DeriveTable().derive(); }
  // derive() fails with `status` and the one report `message`, and leaves
  // these files.
  void expectFailure(DeriveStatus status, const char* message,
                     const std::set<std::string>& files) {
    EXPECT_EQ(derive(), status);
    EXPECT_EQ(folder_.errMessages(), std::vector<std::string>{message});
    EXPECT_EQ(ownFiles(folder_), files);
  }

  ScratchFolder folder_;
};

TEST_F(DeriveTableTest, ConvertsEveryKindOfRecord) {
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"ASCII letter", hex("41 00 41 00"), hex("41 00 00 41 00")},
      {"half-width katakana", hex("B1 00 71 FF"), hex("71 FF 02 B1 00")},
      {"kanji", hex("88 9F 9C 4E"), hex("9C 4E 01 88 9F")},
      {"0x7F is the last low one-byte code", hex("7F 00 7F 00"),
       hex("7F 00 00 7F 00")},
      {"0x80 is the first high one-byte code", hex("80 00 80 00"),
       hex("80 00 02 80 00")},
      {"0xFF one-byte code", hex("FF 00 F3 F8"), hex("F3 F8 02 FF 00")},
      {"code unit 0", hex("00 00 00 00"), hex("00 00 00 00 00")},
      {"two-byte code with a low lead byte", hex("01 40 34 12"),
       hex("34 12 01 01 40")},
      {"user-defined area", hex("F9 FC 57 E7"), hex("57 E7 01 F9 FC")},
  };
  for (const auto& [what, source, table] : cases) {
    SCOPED_TRACE(what);
    folder_.write(kSource, source);
    EXPECT_EQ(derive(), DeriveStatus::kOk);
    EXPECT_EQ(folder_.read(kTable), table);
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DeriveTableTest, KeepsRecordsAndDuplicatesInSourceOrder) {
  // Two codes for U+2252: the loader keeps the later one, so order matters.
  folder_.write(kSource, hex("87 90 52 22 41 00 41 00 81 E0 52 22"));
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_EQ(folder_.read(kTable),
            hex("52 22 01 87 90 41 00 00 41 00 52 22 01 81 E0"));
}

TEST_F(DeriveTableTest, TrailingPartialRecordIsDropped) {
  const std::pair<std::string, std::string> cases[] = {
      {hex("41 00 41 00 B1 00 71 FF 88 9F"),
       hex("41 00 00 41 00 71 FF 02 B1 00")},
      {hex("88 9F 9C"), ""},
      {hex("41 00 41 00 42"), hex("41 00 00 41 00")}};
  for (const auto& [source, table] : cases) {
    SCOPED_TRACE(source.size());
    folder_.write(kSource, source);
    ASSERT_EQ(derive(), DeriveStatus::kOk);
    EXPECT_TRUE(folder_.exists(kTable));
    EXPECT_EQ(folder_.read(kTable), table);
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DeriveTableTest, EmptySourceGivesEmptyTableWithoutReport) {
  folder_.write(kTable, "an older, longer table");
  folder_.write(kSource, "");
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_TRUE(folder_.exists(kTable));
  EXPECT_EQ(folder_.read(kTable), "");
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
  folder_.write(kSource, hex("41 00 41 00"));
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_EQ(folder_.read(kTable), hex("41 00 00 41 00"));
  EXPECT_EQ(ownFiles(folder_), (std::set<std::string>{kSource, kTable}));
}

TEST_F(DeriveTableTest, MissingSourceIsReportedAndOldTableKept) {
  const std::string old = hex("41 00 00 41 00 42");
  folder_.write(kTable, old);
  expectFailure(DeriveStatus::kSourceUnreadable, kSourceMessage, {kTable});
  EXPECT_EQ(folder_.read(kTable), old);
}

TEST_F(DeriveTableTest, MissingSourceCreatesNoTable) {
  expectFailure(DeriveStatus::kSourceUnreadable, kSourceMessage, {});
}

TEST_F(DeriveTableTest, SourceThatIsAFolderIsReported) {
  ASSERT_TRUE(fs::create_directory(kSource));
  folder_.write(kTable, "old");
  expectFailure(DeriveStatus::kSourceUnreadable, kSourceMessage,
                {kSource, kTable});
  EXPECT_EQ(folder_.read(kTable), "old");
}

TEST_F(DeriveTableTest, ReadFailureIsReportedAndOldTableKept) {
  folder_.write(kSource, hex("41 00 41 00"));
  folder_.write(kTable, "old");
  {
    const testing_support::PlantedFaults planted({"", "", 1});  // reads fail
    expectFailure(DeriveStatus::kSourceUnreadable, kSourceMessage,
                  {kSource, kTable});
  }
  EXPECT_EQ(folder_.read(kTable), "old");
}

// A link in place of either file is never written through, nor removed.
TEST_F(DeriveTableTest, LinksInPlaceOfTheFilesAreRefused) {
  UNIT_NEEDS(expected::Need::kTestMakesSymbolicLinks);
  folder_.write(kSource, hex("41 00 41 00"));
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
  folder_.write(kSource, hex("41 00 41 00"));
  folder_.write(kTable, "old");
  // A folder of that name blocks the creation even for a superuser.
  ASSERT_TRUE(fs::create_directory(kTemporary));
  expectFailure(DeriveStatus::kTableUnwritable, kTableMessage,
                {kSource, kTable, kTemporary});
  EXPECT_EQ(folder_.read(kTable), "old");
}

TEST_F(DeriveTableTest, TableThatCannotBeReplacedIsReported) {
  folder_.write(kSource, hex("41 00 41 00"));
  // A file cannot be renamed over a folder.
  ASSERT_TRUE(fs::create_directory(kTable));
  folder_.write(std::string(kTable) + "/inside", "kept");
  expectFailure(DeriveStatus::kTableUnwritable, kTableMessage,
                {kSource, kTable});
  EXPECT_EQ(folder_.read(std::string(kTable) + "/inside"), "kept");
}

TEST_F(DeriveTableTest, ReadOnlySourceIsAccepted) {
  const std::string source = hex("88 9F 9C 4E");
  folder_.write(kSource, source);
  const fs::perms read_only =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(kSource, read_only, fs::perm_options::replace);
  // A superuser may open the file for writing anyway, so this only proves
  // the point when the tests run as an ordinary user; the checks that the
  // source is unchanged hold either way.
  ASSERT_EQ(derive(), DeriveStatus::kOk);
  EXPECT_EQ(folder_.read(kTable), hex("9C 4E 01 88 9F"));
  EXPECT_EQ(folder_.read(kSource), source);
  EXPECT_EQ(fs::status(kSource).permissions() & fs::perms::mask, read_only);
  EXPECT_TRUE(folder_.errMessages().empty());
}

}  // namespace
