#include "select/select_utf16.h"

#include <gtest/gtest.h>

#include <atomic>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "options/final_effect.h"
#include "tables/derive_binary.h"
#include "model_settings.h"
#include "reference_select.h"
#include "reverse_table.h"
#include "file_bytes.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;
using testing_support::utf16le;

// Small parts for the scans of its lifetime; the usual size again after,
// however the scope is left (a failed ASSERT returns from the test).
class PartsForTesting {
 public:
  PartsForTesting(std::int64_t least_part_units, std::size_t parts) {
    Selecting::setPartsForTesting(least_part_units, parts);
  }
  ~PartsForTesting() { Selecting::setPartsForTesting(0, 0); }
  PartsForTesting(const PartsForTesting&) = delete;
  PartsForTesting& operator=(const PartsForTesting&) = delete;
};

// Every case runs with the real code page 932 table, derived from data/ the
// way the program derives it, and the list "20B9F" in surro.txt.
class SelectingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A death test's child that runs the test again finds the copy there.
    fs::copy_file(PELMORA_DATA_DIR "/MS932~UTF16.bin",
                  folder_.path() + "/MS932~UTF16.bin",
                  fs::copy_options::overwrite_existing);
    ASSERT_EQ(DeriveTable().derive(), DeriveStatus::kOk);
    folder_.write("surro.txt", "20B9F\r\n");
  }

  static FinalEffects::Values options(std::int32_t field) {
    FinalEffects::Values v;
    v.fieldNumber = field;
    v.wideName = "wide.txt";
    v.narrowName = "narrow.txt";
    return v;
  }

  struct Prepared {
    explicit Prepared(FinalEffects::Values v,
                      const std::string& wide_name = "wide.txt")
        : effects(std::move(v)) {
      selecting.buildReplacementBytes(effects);
      selecting.prepareRun(effects, wide_name);
    }
    FinalEffects effects;
    Selecting selecting;
  };

  // The narrow file one engine makes of the wide text (BOM-less).
  std::string run(const std::u16string& wide, FinalEffects::Values v,
                  Column column = Column::kPlain,
                  LineEnd line_end = LineEnd::kCrLf) {
    return runBytes(utf16le(wide), std::move(v), column, line_end);
  }

  std::string runBytes(const std::string& wide_bytes, FinalEffects::Values v,
                       Column column = Column::kPlain,
                       LineEnd line_end = LineEnd::kCrLf) {
    folder_.write("wide.txt", wide_bytes);
    const std::string narrow = v.narrowName;
    Prepared p(v, v.wideName);
    EXPECT_GE(p.selecting.wideBytes(), 0);
    EXPECT_EQ(p.selecting.runToFile(column, line_end, narrow),
              WriteResult::kWritten);
    return folder_.read(narrow);
  }

  ScratchFolder folder_;
};

TEST_F(SelectingTest, PlainSelectionPicksFieldN) {
  const std::tuple<const char*, std::u16string, int, std::string> cases[] = {
      {"second field with its closing separator", u"a,b,c\n", 2, "b,\r\n"},
      {"last field has no separator", u"a,b,c\n", 3, "c\r\n"},
      {"first field", u"a,b,c\n", 1, "a,\r\n"},
      {"missing field gives the line end alone", u"a,b\nx,y,z\n", 3,
       "\r\nz\r\n"},
      {"field zero never matches", u"a,b\n", 0, "\r\n"},
      {"quotes protect separators and vanish", u"\"x,y\",z\n", 1, "x,y,\r\n"},
      {"doubled quotes toggle twice", u"\"a\"\"b\",c\n", 1, "ab,\r\n"},
      {"no line end at all", u"a,b", 2, "b"},
      {"CR dropped anywhere", u"a\rb,c\r\n", 1, "ab,\r\n"},
      {"quote left open in line one stops there", u"\"a,b\nc,d\n", 2,
       "\r\nd\r\n"},
      {"quote left open later carries on", u"h\n\"a,b\nc,d\n", 2,
       "\r\n\r\n\r\n"},
      {"LF ends a line inside quotes too", u"\"a\nb\n", 1, "a\r\nb\r\n"},
      {"kanji and kana", u"名前,値段\nりんご,１２\n", 1,
       "\x96\xBC\x91\x4F,\r\n\x82\xE8\x82\xF1\x82\xB2,\r\n"},
      {"half-width katakana are single bytes", u"ｱｲｳ,x\n", 1,
       "\xB1\xB2\xB3,\r\n"},
      {"NEC and IBM extensions", u"①髙\n", 1, "\x87\x40\xFB\xFC\r\n"},
      {"code unit without a code: its byte in ASCII, ? from 0x80 up",
       u"\u007F\u0080\u0081\u00E9\u0101\n", 1, "\x7F\x80???\r\n"},
      {"listed supplementary character", u"\U00020B9F,x\n", 1, "\x81\x51,\r\n"},
      {"listed character outside Field-N", u"\U00020B9F,x\n", 2, "x\r\n"},
      {"unlisted pair: ? for each half", u"\U0001F600\n", 1, "??\r\n"},
      {"LF after a listed high surrogate is its low half: no code",
       std::u16string(u"\xD842\n,x\n"), 1, "??,\r\n"},
      {"listed high half, unlisted low half: no code", u"\U00020B9E\n", 1,
       "??\r\n"},
  };
  for (const auto& [name, wide, field, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(run(wide, options(field)), expected);
  }
}

TEST_F(SelectingTest, QuotedSeparatorCanBeDropped) {
  FinalEffects::Values v = options(1);
  v.quotedSeparatorIgnored = true;
  EXPECT_EQ(run(u"\"x,y\",z\n", v), "xy,\r\n");
}

TEST_F(SelectingTest, SeparatorAndQuoteOptions) {
  FinalEffects::Values tab = options(2);
  tab.separatorChar = '\t';
  EXPECT_EQ(run(u"a\tb,c\td\n", tab), "b,c\t\r\n");
  FinalEffects::Values tilde = options(1);
  tilde.quoteChar = '~';
  EXPECT_EQ(run(u"~a,b~\"c,d\n", tilde), "a,b\"c,\r\n");
  // Only the code unit U+007C is the separator, not U+017C.
  FinalEffects::Values bar = options(2);
  bar.separatorChar = '|';
  EXPECT_EQ(run(u"a\u017Cb|c\n", bar), "c\r\n");
}

TEST_F(SelectingTest, LineEndModes) {
  EXPECT_EQ(run(u"a,b\r\nc,d\n", options(2), Column::kPlain, LineEnd::kLf),
            "b\nd\n");
  EXPECT_EQ(run(u"a,b\r\nc,d\n", options(2), Column::kPlain, LineEnd::kCrLf),
            "b\r\nd\r\n");
}

TEST_F(SelectingTest, ByteOrderMark) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xFF\xFE" + utf16le(u"a,b\n"), "a,\r\n"},
      {utf16le(u"a\uFEFF\n"), "a?\r\n"},  // past the start: text without a code
      // FE FF and EF BB BF are marks of UTF-16BE and UTF-8.
      {"\xFE\xFF" + wide_text::utf16be(u"a,b\n"), "a,\r\n"},
      {"\xEF\xBB\xBF" + wide_text::utf8(u"a,b\n"), "a,\r\n"},
      {"\xFF\xFE", ""},
      {"", ""},
      {utf16le(u"ab") + "c", "ab"},  // an odd last byte belongs to no unit
  };
  for (const auto& [wide, narrow] : cases) {
    EXPECT_EQ(runBytes(wide, options(1)), narrow);
  }
}

TEST_F(SelectingTest, KatakanaReplacementAndSoundMarks) {
  FinalEffects::Values k = options(1);
  k.replaceKatakana = true;
  k.katakanaChar = '_';
  EXPECT_EQ(run(u"ｱﾊﾟ漢,ｲ\n", k), "___\x8A\xBF,\r\n");
  FinalEffects::Values d = options(1);
  d.dropCombining = true;
  EXPECT_EQ(run(u"ﾊﾟﾋﾞｰ\n", d), "\xCA\xCB\xB0\r\n");
  FinalEffects::Values both = d;
  both.replaceKatakana = true;
  both.katakanaChar = '*';
  EXPECT_EQ(run(u"ﾊﾟ\n", both), "**\r\n");
}

TEST_F(SelectingTest, OutputOfWholeBlocks) {
  for (std::size_t size : {4096u, 8192u, 4097u}) {
    const std::string narrow =
        run(std::u16string(size - 2, u'x') + u"\n", options(1));
    ASSERT_EQ(narrow.size(), size);
    EXPECT_EQ(narrow.substr(size - 2), "\r\n");
  }
}

// The file is read in blocks of 32,768 units; nothing may depend on where
// a block ends.
TEST_F(SelectingTest, StateCarriesAcrossReadBlocks) {
  const std::size_t block = 32768;
  EXPECT_EQ(run(std::u16string(block - 1, u'a') + u"\U00020B9F\n", options(1)),
            std::string(block - 1, 'a') + "\x81\x51\r\n");

  // A quote opened in one block protects a separator in the next, and the
  // BOM only counts at the very start.
  const std::u16string quoted =
      u"h\n\"" + std::u16string(block + 7, u'q') + u",r\",s\n";
  EXPECT_EQ(runBytes("\xFF\xFE" + utf16le(quoted), options(2)), "\r\ns\r\n");

  FinalEffects::Values v = options(2);
  v.decimalExtraction = true;
  const std::u16string number =
      u"x," + std::u16string(block - 3, u' ') + u"12.5,7\n";
  EXPECT_EQ(run(number, v, Column::kDecimal), "12.5\r\n");
}

TEST_F(SelectingTest, FilteredSelectionDropsControlsAndHI) {
  FinalEffects::Values control = options(1);
  control.dropControl = true;
  EXPECT_EQ(run(u"a\tb\x7F\u00A0c\u00E9,d\n", control, Column::kFiltered),
            "abc,\r\n");
  FinalEffects::Values tab = control;
  tab.separatorChar = '\t';
  EXPECT_EQ(run(u"a\tb\n", tab, Column::kFiltered), "a\r\n");
  EXPECT_EQ(run(u"a\tb\n", tab), "a\t\r\n");
  FinalEffects::Values hi = options(1);
  hi.omitHI = true;
  EXPECT_EQ(run(u"HhIi\"H,I\"Ｈ\n", hi, Column::kFiltered), "hi,\x82\x67\r\n");
  FinalEffects::Values katakana = control;
  katakana.replaceKatakana = true;
  katakana.katakanaChar = '#';
  EXPECT_EQ(run(u"\x01ｱ\x02\n", katakana, Column::kFiltered), "#\r\n");
}

TEST_F(SelectingTest, NumberExtraction) {
  struct NumberCase {
    const char* name;
    std::u16string wide;
    bool decimal;
    std::int32_t field;
    std::string expected;
    std::uint8_t separator = ',', quote = '"', completion = '0';
    bool quoted_separator_dropped = false;
  };
  const std::vector<NumberCase> cases = {
      {"decimal inside text", u"a,x12.5y,c\n", true, 2, "12.5\r\n"},
      {"completed integer", u"a,price 42,c\n", true, 2, "42.0\r\n"},
      {"completion nine", u"a,price 42,c\n", true, 2, "42.9\r\n", ',', '"',
       '9'},
      {"completion ampersand", u"a,price 42,c\n", true, 2, "42.&\r\n", ',', '"',
       '&'},
      {"wiki table", u"| 3.5 | x |\n", true, 2, "3.5\r\n", '|'},
      {"minus only first", u"-3.25-7\n", true, 1, "-3.25\r\n"},
      {"second point ends", u"1.2.3\n", true, 1, "1.2\r\n"},
      {"integer stops at point", u"1.2.3\n", false, 1, "1\r\n"},
      {"double minus", u"--5\n", false, 1, "-\r\n"},
      {"no number", u"abc\n", true, 1, ".0\r\n"},
      {"quoted comma not a field", u"~1,2~,3\n", false, 2, "3\r\n", ',', '~'},
      {"quoted comma ends number", u"~12,34~\n", false, 1, "12\r\n", ',', '~'},
      {"quoted comma dropped", u"~12,34~\n", false, 1, "1234\r\n", ',', '~',
       '0', true},
      {"full-width digit ends", u"12３4\n", false, 1, "12\r\n"},
      {"full-width digit skipped before", u"３12\n", false, 1, "12\r\n"},
      {"pair skipped before", u"\U00020B9F12\n", false, 1, "12\r\n"},
      {"pair ends number", u"1\U00020B9F2\n", false, 1, "1\r\n"},
      {"last line without LF", u"7\n8", true, 1, "7.0\r\n8"},
      {"missing field still completed", u"a,1.5\nb\n", true, 2,
       "1.5\r\n.0\r\n"},
      {"each Field-N begins afresh", u"-1,-2.5\n-3,4\n", true, 2,
       "-2.5\r\n4.0\r\n"},
      {"Latin-1 symbols are no digits", u"\u00BD3\u00B2\n", true, 1, "3.0\r\n"},
      {"half-width katakana end the number", u"1ｱ2\n", false, 1, "1\r\n"},
      {"CR ignored", u"1\r2\r\n", false, 1, "12\r\n"},
      {"empty file", u"", true, 1, ""},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    FinalEffects::Values v = options(c.field);
    v.decimalExtraction = c.decimal;
    v.integerExtraction = !c.decimal;
    v.separatorChar = c.separator;
    v.quoteChar = c.quote;
    v.quotedSeparatorIgnored = c.quoted_separator_dropped;
    v.completionChar = c.completion;
    EXPECT_EQ(run(c.wide, v, c.decimal ? Column::kDecimal : Column::kInteger),
              c.expected);
  }
}

TEST_F(SelectingTest, NumberLineEndModes) {
  FinalEffects::Values v = options(1);
  v.decimalExtraction = true;
  EXPECT_EQ(run(u"1\n\n2.5\n", v, Column::kDecimal, LineEnd::kLf),
            "1.0\n.0\n2.5\n");
  // The worst case: every unit an LF, four bytes each.
  EXPECT_EQ(run(std::u16string(1000, u'\n'), v, Column::kDecimal).size(),
            4000u);
}

TEST_F(SelectingTest, ReplacementBytesFollowTheOptions) {
  using Bytes = std::vector<std::pair<std::uint32_t, int>>;  // value, byte
  constexpr int kDrop = Selecting::kDrop;
  Selecting selecting;  // one engine, built again for each set of options
  auto expectBytes = [&selecting](const FinalEffects::Values& v,
                                  const Bytes& bytes) {
    selecting.buildReplacementBytes(FinalEffects(v));
    for (const auto& [value, byte] : bytes) {
      EXPECT_EQ(selecting.replacementByte(value), byte) << std::hex << value;
    }
  };
  const Bytes decimal = {{'5', '5'},   {'.', '.'},    {'-', '-'},
                         {'a', kDrop}, {'H', kDrop},  {0xA0, kDrop},
                         {0xB1, 0xB1}, {0xE0, kDrop}, {0xFFFF, kDrop}};
  const Bytes control = {{0x1F, kDrop}, {0x20, 0x20}, {0x7E, 0x7E},
                         {0x7F, kDrop}, {'H', 'H'},   {0xDD, 0xDD},
                         {0xDE, kDrop}, {0xDF, kDrop}};
  FinalEffects::Values v = options(1);
  v.decimalExtraction = v.omitHI = true;
  expectBytes(v, decimal);
  v = options(1);
  v.integerExtraction = true;
  expectBytes(v, {{'.', kDrop}, {'H', kDrop}});
  v = options(1);
  v.dropControl = v.dropCombining = true;
  expectBytes(v, control);
}

// What a wide file is written in is told from its first bytes, or, after
// a head of ASCII alone, from its first byte of 0x80 or above.
TEST_F(SelectingTest, PreparationSizesTheWideFile) {
  using C = WideCoding;
  const std::string a64k(64 * 1024 - 1, 'a');
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += "\xE3\x81\x82";
  const std::tuple<std::string, C, std::int64_t> cases[] = {
      {"", C::kUtf16Le, 0},
      {"A", C::kUtf8, 0},
      {"abcdefg", C::kUtf8, 0},
      {utf16le(u"A"), C::kUtf16Le, 0},
      {"\xFF\xFE" + utf16le(u"a"), C::kUtf16Le, 2},
      {"\xFE\xFF", C::kUtf16Be, 2},
      {"\xEF\xBB\xBF", C::kUtf8, 3},
      {"\xEF\xBB\xBF\0", C::kUtf8, 3},
      // Without a zero byte UTF-16LE is not told: a real export has line
      // ends, and these three kanji without one read as Shift_JIS.
      {utf16le(u"日本語"), C::kShiftJis, 0},
      {utf16le(u"日本語\n"), C::kUtf16Le, 0},
      {"caf\xC3\xA9 \xE6\x97\xA5\xF0\xA0\xAE\x9F", C::kUtf8, 0},
      {"caf\xC3", C::kUtf8, 0},
      {"caf\xC3(", C::kShiftJis, 0},
      {"\xC0\x80", C::kShiftJis, 0},
      {"\xED\xA0\x80", C::kShiftJis, 0},
      {"\x8E\x52\x93\x63", C::kShiftJis, 0},
      // One invalid part for nine valid characters is a stray byte.
      {nine + "\xFF", C::kUtf8, 0},
      {nine.substr(3) + "\xFF", C::kShiftJis, 0},
      // A sequence cut at 64 KiB goes on past the head.
      {a64k + "\xE3\x81\x82", C::kUtf8, 0},
      {a64k + "\xFF\x81\x82", C::kShiftJis, 0},
      {a64k + "a\x8E\x52\x93\x63", C::kShiftJis, 0},
      {a64k + a64k + "\xE5\xB1\xB1", C::kUtf8, 0},
      // Past the head, nothing counts.
      {a64k + "a" + std::string(1, '\0'), C::kUtf8, 0}};
  for (const auto& [bytes, coding, mark] : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes.substr(0, 16)));
    folder_.write("wide.txt", bytes);
    Prepared p(options(1));
    EXPECT_EQ(p.selecting.wideBytes(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(p.selecting.wideStart().coding, coding);
    EXPECT_EQ(p.selecting.wideStart().mark_bytes, mark);
  }
}

// A workbook is no export: it is refused before anything is written.
TEST_F(SelectingTest, WorkbookIsRefused) {
  for (const char* head : {"PK\x03\x04", "\xD0\xCF\x11\xE0"}) {
    folder_.write("wide.txt", std::string(head) + "\x14\x00\x06");
    EXPECT_EXIT(Prepared p(options(1)), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(folder_.errMessages().back(), "Reset() error-246: wide.txt");
  }
}

TEST_F(SelectingTest, MissingWideFileIsReportedAndStops) {
  Prepared p(options(1), "absent.txt");
  EXPECT_EQ(p.selecting.wideBytes(), -1);
  std::vector<std::string> messages = folder_.errMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Reset() error-229: absent.txt");
  EXPECT_EQ(messages[1], "SetLength() error-222: -1");
  EXPECT_EXIT(p.selecting.unreadFileStop(-1),
              ::testing::ExitedWithCode(
                  platform_expectations::kExitCodeSeenForMinusOne),
              "");
}

TEST_F(SelectingTest, UnwritableNarrowFileIsReported) {
  folder_.write("wide.txt", utf16le(u"a\n"));
  FinalEffects::Values v = options(1);
  v.narrowName = "missing/narrow.txt";
  EXPECT_EQ(Prepared(v).selecting.runToFile(Column::kPlain, LineEnd::kCrLf,
                                            "missing/narrow.txt"),
            WriteResult::kFailed);
  EXPECT_EQ(folder_.errMessages().back(),
            "Rewrite() error-215: missing/narrow.txt");
}

// The block read hook runs g_act at its g_act_at-th call after g_calls = 0,
// whichever thread makes the call.
void (*g_act)() = nullptr;
int g_act_at = 0;
std::atomic<int> g_calls{0};
void actAtItsCall() {
  if (++g_calls == g_act_at) g_act();
}

void grow() {
  std::ofstream("wide.txt", std::ios::binary | std::ios::app)
      << std::string("b\0", 2);
}
void shrink() { fs::resize_file("wide.txt", 150000); }
void removeName() { fs::remove("wide.txt"); }
void renameOver() {
  // Windows may refuse to replace a file that is open: nothing to see.
  std::ofstream("other.txt", std::ios::binary) << "x";
  std::error_code refused;
  fs::rename("other.txt", "wide.txt", refused);
}

// Another file put under the wide name before the scan starts is not read.
TEST_F(SelectingTest, ScanReadsTheFileOpenedAtPreparation) {
  folder_.write("wide.txt", utf16le(u"a,b\n"));
  Prepared p(options(1));
  renameOver();
  EXPECT_EQ(p.selecting.runToFile(Column::kPlain, LineEnd::kCrLf, "narrow.txt"),
            WriteResult::kWritten);
  EXPECT_EQ(folder_.read("narrow.txt"), "a,\r\n");
}

// The run reads the file it opened first, whatever its name comes to mean;
// that file growing or shrinking while it is read stops the engine with
// its own read number, and nothing is written.
TEST_F(SelectingTest, WideFileChangedWhileReadStopsTheEngine) {
  const std::tuple<Column, LineEnd, const char*> cases[] = {
      {Column::kPlain, LineEnd::kCrLf, "Reset() error-218: wide.txt"},
      {Column::kPlain, LineEnd::kLf, "Reset() error-219: wide.txt"},
      {Column::kFiltered, LineEnd::kCrLf, "Reset() error-224: wide.txt"},
      {Column::kFiltered, LineEnd::kLf, "Reset() error-225: wide.txt"},
      {Column::kDecimal, LineEnd::kCrLf, "Reset() error-194: wide.txt"},
      {Column::kDecimal, LineEnd::kLf, "Reset() error-195: wide.txt"},
      {Column::kInteger, LineEnd::kCrLf, "Reset() error-197: wide.txt"},
      {Column::kInteger, LineEnd::kLf, "Reset() error-198: wide.txt"},
  };
  Selecting::setBlockReadHookForTesting(&actAtItsCall);
  // Long enough to be read in several blocks, and to be mapped where the
  // system maps files: a file cut shorter under the mapping must end as a
  // failed read, not as a crash.
  const std::string wide = utf16le(std::u16string(150000, u'a') + u"\n");
  for (void (*change)() : {grow, shrink, removeName, renameOver}) {
    for (const auto& [column, line_end, message] : cases) {
      SCOPED_TRACE(change == grow     ? "grow"
                   : change == shrink ? "shrink"
                                      : "new name");
      folder_.write("wide.txt", wide);
      fs::remove(folder_.path() + "/narrow.txt");
      Prepared p(options(1));
      g_act = change;
      g_act_at = 1;
      g_calls = 0;
      if (change == grow || change == shrink) {
        EXPECT_EXIT((void)p.selecting.runToFile(column, line_end, "narrow.txt"),
                    ::testing::ExitedWithCode(1), "");
        EXPECT_EQ(folder_.errMessages().back(), message);
        EXPECT_FALSE(folder_.exists("narrow.txt"));
      } else if (column == Column::kPlain && line_end == LineEnd::kCrLf) {
        ASSERT_EQ(p.selecting.runToFile(column, line_end, "narrow.txt"),
                  WriteResult::kWritten);
        EXPECT_EQ(folder_.read("narrow.txt"),
                  std::string(150000, 'a') + "\r\n");
      }
    }
  }
  Selecting::setBlockReadHookForTesting(nullptr);
}

// Chunks are handed on while later ones are still read: a run that fails
// after some were written removes the narrow file it created, and an
// existing narrow file is never written before the scan has succeeded.
TEST_F(SelectingTest, FailedRunLeavesNoPartOfItsOutput) {
  Selecting::setBlockReadHookForTesting(&actAtItsCall);
  const PartsForTesting small_chunks(4096, 2);
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "existing narrow file" : "created narrow file");
    std::u16string lines;
    for (int i = 0; i < 100000; ++i) lines += u"a\tb\n";
    folder_.write("wide.txt", utf16le(lines));  // about 100 chunks
    if (existed) {
      folder_.write("narrow.txt", "old");
    } else {
      fs::remove(folder_.path() + "/narrow.txt");
    }
    Prepared p(options(1));
    g_act = shrink;  // to the first 18 chunks, after some 40 were read
    g_act_at = 40;
    g_calls = 0;
    EXPECT_EXIT((void)p.selecting.runToFile(Column::kPlain, LineEnd::kCrLf,
                                            "narrow.txt"),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(folder_.errMessages().back(), "Reset() error-218: wide.txt");
    EXPECT_EQ(folder_.exists("narrow.txt"), existed);
    if (existed) EXPECT_EQ(folder_.read("narrow.txt"), "old");
  }
  Selecting::setBlockReadHookForTesting(nullptr);
}

void appendAUnit() {
  std::ofstream("wide.txt", std::ios::binary | std::ios::app).write("z\0", 2);
}
void changeAByte() {
  std::fstream file("wide.txt",
                    std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(600000);
  file << 'b';
}
void switchTheLink() {
  fs::remove("link.txt");
  fs::create_symlink("other.txt", "link.txt");
}
// Another program saves the file whole, as an editor does.
void saveSameSize() {
  std::ofstream("wide.txt", std::ios::binary) << std::string(2621440, 'c');
}
void saveShorter() {
  std::ofstream("wide.txt", std::ios::binary) << std::string(700000, 'd');
}

// -t writes no byte of the wide file: whatever another program saves
// meanwhile stays whole. A file that changed size, bytes or name before its
// copy was checked stops the run with 193. The hook's calls 1-3 come after
// the copy out's blocks, 4-8 after the check's pieces.
TEST_F(SelectingTest, RefreshLeavesEverySaveWhole) {
  const std::tuple<const char*, void (*)(), int, bool> cases[] = {
      {"appended during the check", appendAUnit, 4, false},
      {"appended during the copy out", appendAUnit, 1, true},
      {"a byte changed ahead of the check", changeAByte, 4, true},
      {"the link switched during the copy out", switchTheLink, 2, true},
      {"a save of the same size after the last piece was read", saveSameSize, 8,
       false},
      {"a shorter save during the check", saveShorter, 4, true},
  };
  const bool no_links = platform_expectations::whyNot(
      platform_expectations::thisBuild(),
      platform_expectations::Need::kTestMakesSymbolicLinks);
  const std::string wide = utf16le(std::u16string(1310720, u'a'));
  for (const auto& [what, act, at, stops] : cases) {
    SCOPED_TRACE(what);
    const bool linked = act == switchTheLink;
    if (linked && no_links) continue;
    folder_.write("wide.txt", wide);
    folder_.write("other.txt", "other");
    fs::remove("link.txt");
    if (linked) fs::create_symlink("wide.txt", "link.txt");
    FinalEffects::Values v = options(1);
    v.refreshWide = true;
    const std::string name = linked ? "link.txt" : "wide.txt";
    Prepared p(v, name);
    Selecting& selecting = p.selecting;
    // binary.tmp is held inside the death test's statement: a child that
    // runs the test again would otherwise wait for its parent's hold.
    auto refresh = [&selecting] {
      selecting.holdTemporaryOrStop(true, false, "narrow.txt");
      selecting.refreshWide();
    };
    g_act = act;
    g_act_at = at;
    g_calls = 0;
    Selecting::setBlockReadHookForTesting(&actAtItsCall);
    std::string expected = wide;
    if (act == appendAUnit) expected += std::string("z\0", 2);
    if (act == changeAByte) expected[600000] = 'b';
    if (act == saveSameSize) expected = std::string(2621440, 'c');
    if (act == saveShorter) expected = std::string(700000, 'd');
    if (stops) {
      EXPECT_EXIT(refresh(), ::testing::ExitedWithCode(1), "");
      EXPECT_EQ(folder_.errMessages().back(), "Reset() error-193: " + name);
    } else {
      refresh();
      selecting.releaseTemporary(false);
    }
    Selecting::setBlockReadHookForTesting(nullptr);
    const std::string left = folder_.read("wide.txt");
    EXPECT_EQ(left.size(), expected.size());
    EXPECT_TRUE(left == expected);
    EXPECT_EQ(folder_.read("other.txt"), "other");
    EXPECT_FALSE(folder_.exists("binary.tmp"));
  }
}

// Random wide text against the unit-by-unit reference: the engines' fast
// paths (windows of 64 units, blocks of 32,768) must never change a byte.
class SelectingAgreesWithReference : public SelectingTest {};

TEST_F(SelectingAgreesWithReference, OnRandomTextAndOptions) {
  const std::u16string alphabet[] = {
      u"a",          u"1",      u"2",      u".",          u"-",
      u",",          u"\t",     u"\"",     u"~",          u"|",
      u"\r",         u"\n",     u"\r\n",   u" ",          u"H",
      u"I",          u"ｱ",      u"ﾞ",      u"漢",         u"１",
      u"\u00E9",     u"\x01",   u"\x7F",   u"\u00BD",     u"\U00020B9F",
      u"\U0001F600", u"\xD842", u"\xDC00", u"abcdefghij", u"0123456789"};
  const std::uint16_t separators[] = {',', '\t', '|', '"', '\n', '\r', 'a'};
  const std::uint16_t quotes[] = {'"', '~', ',', '\n'};
  const Column columns[] = {Column::kPlain, Column::kFiltered, Column::kDecimal,
                            Column::kInteger};
  std::uint64_t seed = 0x5DEECE66DULL;
  auto next = [&seed](std::uint64_t bound) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return (seed >> 33) % bound;
  };
  for (int round = 0; round < 160; ++round) {
    // Mostly a few windows long; now and then past a read block.
    std::size_t pieces = round % 40 == 7 ? 20000 : next(600);
    std::u16string wide;
    if (next(4) == 0) wide += u"\uFEFF";
    // Runs of one kind of piece keep separators and line ends apart, as
    // in real exports, so whole windows pass without events too.
    while (pieces-- > 0) {
      const std::u16string& piece = alphabet[next(std::size(alphabet))];
      std::size_t repeat = next(3) == 0 ? next(40) + 1 : 1;
      for (std::size_t r = 0; r < repeat; ++r) wide += piece;
    }
    FinalEffects::Values v =
        options(static_cast<std::int32_t>(next(5) == 0 ? 255 : next(6)));
    Column column = columns[next(4)];
    v.decimalExtraction = column == Column::kDecimal;
    v.integerExtraction = column == Column::kInteger;
    v.dropControl = column == Column::kFiltered && next(2) == 0;
    v.omitHI = column == Column::kFiltered && !v.dropControl;
    v.separatorChar = static_cast<std::uint8_t>(
        next(3) == 0 ? separators[next(std::size(separators))] : ',');
    v.quoteChar = static_cast<std::uint8_t>(
        next(4) == 0 ? quotes[next(std::size(quotes))] : '"');
    v.quotedSeparatorIgnored = next(2) == 0;
    v.replaceKatakana = next(3) == 0;
    v.katakanaChar = '#';
    v.dropCombining = next(3) == 0;
    v.completionChar = '&';
    LineEnd line_end = next(2) == 0 ? LineEnd::kCrLf : LineEnd::kLf;
    const reference::Settings o = reference::modelSettings(v, column, line_end);
    folder_.write("wide.txt", utf16le(wide));
    Prepared p(v);
    Selecting& selecting = p.selecting;
    for (std::uint32_t b = 0; b < 0x100; ++b) {
      const int want = reference::replacement(o, b);
      ASSERT_EQ(static_cast<int>(selecting.replacementByte(b)),
                want == reference::kDropped ? int{Selecting::kDrop} : want)
          << "round " << round << ", byte " << b;
    }
    const reference::Result model = reference::select(
        utf16le(wide), reference::codesOf(*selecting.table()), o);
    const std::string& expected = model.narrow;
    ASSERT_EQ(selecting.runToFile(column, line_end, "narrow.txt"),
              WriteResult::kWritten);
    std::string narrow = folder_.read("narrow.txt");
    ASSERT_EQ(narrow.size(), expected.size()) << "round " << round;
    ASSERT_TRUE(narrow == expected) << "round " << round;
    ASSERT_EQ(selecting.lineCounter(), model.lines) << "round " << round;

    // The same file cut into small parts scanned side by side: open quotes,
    // pairs and first lines that reach across a join must not show.
    {
      const PartsForTesting small_parts(static_cast<std::int64_t>(1 + next(48)),
                                        2 + next(5));
      ASSERT_EQ(selecting.runToFile(column, line_end, "parted.txt"),
                WriteResult::kWritten);
    }
    ASSERT_TRUE(folder_.read("parted.txt") == expected) << "round " << round;
    ASSERT_EQ(selecting.lineCounter(), model.lines) << "round " << round;
  }
}

// The text of the shipped examples' wide files (UTF-16LE).
std::vector<std::u16string> exampleTexts() {
  std::vector<std::u16string> texts;
  for (const char* name :
       {"spreadsheet/products.txt", "prices/prices.txt", "pipes/stock.txt"}) {
    const std::string bytes = harness::readBytes(
        std::string(PELMORA_DATA_DIR "/../examples/") + name);
    std::u16string text;
    for (std::size_t i = bytes.compare(0, 2, "\xFF\xFE") == 0 ? 2 : 0;
         i + 1 < bytes.size(); i += 2) {
      text +=
          static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                static_cast<std::uint8_t>(bytes[i + 1]) << 8);
    }
    texts.push_back(text);
  }
  return texts;
}

// An export in a Unicode coding named as the narrow file is refused (244):
// every example in every such coding is one, and no narrow file made of
// them is.
TEST(WideCodingTest, ExportsAndNarrowFilesAreToldApart) {
  auto isExport = [](const std::string& bytes) {
    return wide_coding::isUnicodeExport(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  };
  for (const std::u16string& text : exampleTexts()) {
    for (const std::string& coding :
         {"\xFF\xFE" + utf16le(text), utf16le(text),
          "\xFE\xFF" + wide_text::utf16be(text), wide_text::utf16be(text),
          "\xEF\xBB\xBF" + wide_text::utf8(text), wide_text::utf8(text)}) {
      EXPECT_TRUE(isExport(coding))
          << testing::PrintToString(coding.substr(0, 8));
    }
  }
  for (const char* name :
       {"spreadsheet/expected/names.txt",
        "spreadsheet/expected/names-no-kana.txt",
        "prices/expected/decimals.txt", "prices/expected/integers.txt",
        "pipes/expected/readings.txt"}) {
    EXPECT_FALSE(isExport(harness::readBytes(
        std::string(PELMORA_DATA_DIR "/../examples/") + name)))
        << name;
  }
}

// The same text gives the same narrow file in every coding a wide file may
// have, for every engine, whole and in parts: the shipped examples and
// random text of every kind of character an export holds.
TEST_F(SelectingTest, EveryEncodingGivesTheSameNarrowFile) {
  std::vector<std::u16string> texts = exampleTexts();
  const std::u16string pieces[] = {
      u"abc",        u"12.5",       u"-7",       u"あいう", u"漢字",  u"ｶﾀｶﾅﾞ",
      u"\U00020B9F", u"\U0001F600", u"\"",       u",",      u"\t",    u"|",
      u"\r\n",       u"\n",         u"\"a\nb\"", u"é½",     u"\uFFFD"};
  const std::vector<harness::ReverseRecord> records = harness::reverseRecords(
      harness::readBytes(PELMORA_DATA_DIR "/MS932~UTF16.bin"));
  std::string sjis;
  std::uint64_t seed = 20;
  for (int round = 0; round < 8; ++round) {
    std::u16string text;
    for (int i = 0; i < (round == 7 ? 20000 : 300); ++i) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      const std::u16string& piece = pieces[(seed >> 33) % std::size(pieces)];
      // Every other text holds only characters Shift_JIS has codes for.
      if (round % 2 == 0 || harness::shiftJis(piece, records, &sjis)) {
        text += piece;
      }
    }
    texts.push_back(text);
  }
  struct Engine {
    Column column;
    std::int32_t field;
    std::uint8_t separator;
    bool quoted, lf, katakana;
  };
  const Engine engines[] = {
      {Column::kPlain, 2, '\t', false, false, false},
      {Column::kPlain, 3, '|', false, true, true},
      {Column::kFiltered, 2, ',', true, false, false},
      {Column::kDecimal, 3, ',', true, false, false},
      {Column::kInteger, 3, ',', false, true, false},
      // A separator that is no ASCII byte in UTF-8: the blocks are decoded
      // whole before the scan.
      {Column::kPlain, 2, 0xBD, false, false, false},
  };
  for (std::size_t t = 0; t < texts.size(); ++t) {
    std::vector<std::string> codings = {
        "\xFF\xFE" + utf16le(texts[t]), utf16le(texts[t]),
        "\xFE\xFF" + wide_text::utf16be(texts[t]),
        "\xEF\xBB\xBF" + wide_text::utf8(texts[t]), wide_text::utf8(texts[t])};
    if (harness::shiftJis(texts[t], records, &sjis)) codings.push_back(sjis);
    for (const Engine& e : engines) {
      FinalEffects::Values v = options(e.field);
      v.decimalExtraction = e.column == Column::kDecimal;
      v.integerExtraction = e.column == Column::kInteger;
      v.dropControl = e.column == Column::kFiltered;
      v.separatorChar = e.separator;
      v.quotedSeparatorIgnored = e.quoted;
      v.replaceKatakana = e.katakana;
      const LineEnd line_end = e.lf ? LineEnd::kLf : LineEnd::kCrLf;
      const std::string want = runBytes(codings[0], v, e.column, line_end);
      for (std::size_t c = 1; c < std::size(codings); ++c) {
        SCOPED_TRACE("text " + std::to_string(t) + ", coding " +
                     std::to_string(c) + ", field " + std::to_string(e.field));
        EXPECT_TRUE(runBytes(codings[c], v, e.column, line_end) == want);
        const PartsForTesting small_parts(3, 4);
        EXPECT_TRUE(runBytes(codings[c], v, e.column, line_end) == want);
      }
    }
  }
}

// Shift_JIS: a lead byte and a second byte are one code; a lead byte
// without one is one "?" and the byte after it counts on its own; a code
// without a unit is one "?". Codes of NEC-selected IBM characters come out
// as the IBM codes, as Windows writes those characters.
TEST_F(SelectingTest, ShiftJisCodesAndBrokenOnes) {
  const std::string block_end(65534, 'a');
  const std::tuple<std::string, std::int32_t, std::string> cases[] = {
      {"x,\x8E\x52\x93\x63\n", 2, "\x8E\x52\x93\x63\r\n"},
      {"\xB6\xC0\x82\n\x82", 1, "\xB6\xC0?\r\n?"},
      {"\x81 \x82\x82\xA0\x80\xFD,\n", 1, "? \x82\x82\xA0\x80,\r\n"},
      {"\x85\x40\x80\xED\x40\n", 1, "?\x80\xFA\x5C\r\n"},
      {block_end + "\n\x8E\x52\n", 1, block_end + "\r\n\x8E\x52\r\n"},
  };
  for (const auto& [wide, field, narrow] : cases) {
    SCOPED_TRACE(testing::PrintToString(wide.substr(0, 12)));
    EXPECT_TRUE(runBytes(wide, options(field), Column::kPlain) == narrow);
  }
}

// Bytes that are no UTF-8 become one "?" per maximal invalid part.
TEST_F(SelectingTest, InvalidUtf8IsWrittenAsQuestionMarks) {
  const std::tuple<std::string, std::int32_t, std::string> cases[] = {
      {"\xEF\xBB\xBFx,a\xC0\xAF"
       "b\xED\xA0\x80"
       "c\xF0\x9F\x98\n",
       2, "a??b???c?\r\n"},
      {"\xEF\xBB\xBFx,\xE3\x81\x82\xE3\x81,\n", 2, "\x82\xA0?,\r\n"},
      {"\xEF\xBB\xBFx,\xF4\x90\x80\x80y\xFF\n", 2, "????y?\r\n"},
      {"x,caf\xC3\xA9\n,\xE3\x81", 2, "caf?\r\n?"},
      // An overlong form: E0 takes A0..BF only, so each byte is a part.
      {"\xEF\xBB\xBFx,\xE0\x80\x9Fy\n", 2, "???y\r\n"},
      // A listed four-byte character cut by the read block after its third
      // byte.
      {"\xEF\xBB\xBF" + std::string(65533, 'a') + "\xF0\xA0\xAE\x9F", 1,
       std::string(65533, 'a') + "\x81\x51"},
      // Without a mark, one invalid part for nine valid characters is a
      // stray byte of UTF-8; more, and the file is Shift_JIS.
      {"x," + std::string(9, 'a') +
           "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
           "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xFF\n",
       2, "aaaaaaaaa??????????\r\n"},
  };
  for (const auto& [wide, field, narrow] : cases) {
    SCOPED_TRACE(testing::PrintToString(wide.substr(0, 20)));
    EXPECT_TRUE(runBytes(wide, options(field), Column::kPlain) == narrow);
    // Past a read block, Field-N is read straight from the bytes: the same
    // bytes must stop it there.
    if (wide.compare(0, 3, "\xEF\xBB\xBF") == 0 && wide.back() == '\n') {
      std::string large = wide.substr(0, 3);
      std::string want;
      for (int k = 0; k < 5000; ++k) {
        large += wide.substr(3);
        want += narrow;
      }
      EXPECT_TRUE(runBytes(large, options(field), Column::kPlain) == want);
    }
  }
}

// Joins of parts on purpose: a quote left open across a join (the guess
// fails and the next part is scanned again, in a chain), a line feed that is
// the low half of a listed pair right where a part would start, and a first
// line longer than a part.
TEST_F(SelectingTest, PartsJoinLikeOneScan) {
  using JoinCase = std::tuple<const char*, std::u16string, Column, int>;
  const JoinCase cases[] = {
      {"open quote carried", u"a,\"b\nc,d\ne,f\ng,h\"\ni,j\nk,l\nm,n\n",
       Column::kPlain, 2},
      {"quotes flip every line", u"\"a,1\n\"b,2\n\"c,3\n\"d,4\n\"e,5\n",
       Column::kPlain, 2},
      {"low half line feed", u"x,\xD842\na\n,\xD842\n\xD842\n1,2\n3,4\n",
       Column::kPlain, 1},
      {"first line longer than a part",
       std::u16string(300, u'x') + u",q\n\"r,s\nt,u\n", Column::kFiltered, 2},
      {"numbers across joins", u"-1.5,\"2\n3,-4\"\n.5,x6\n7.,8\n-,9\n",
       Column::kDecimal, 1},
      {"integers in field 2", u"a,-12\n\"b,3\n,4\"5\nc,6-\nd,x7\n",
       Column::kInteger, 2},
  };
  for (const auto& [name, wide, column, field] : cases) {
    FinalEffects::Values v = options(field);
    v.decimalExtraction = column == Column::kDecimal;
    v.integerExtraction = column == Column::kInteger;
    const std::string whole = run(wide, v, column);
    for (std::int64_t least = 1; least <= 8; ++least) {
      for (std::size_t parts = 2; parts <= 8; parts += 3) {
        const PartsForTesting small_parts(least, parts);
        ASSERT_EQ(run(wide, v, column), whole)
            << name << ", parts of " << least;
      }
    }
  }
}

}  // namespace
