// The main road: the table search, real Shift_JIS out of a real UTF-16
// export, file and standard output, and files that cannot be used.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "e2e_case.h"

namespace {

using namespace e2e;

// A sandbox with settings (no 148) and a list (no 192), the table in the
// fixed place, so a clean run leaves no err file at all.
class MainRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Sandbox::derivedTable().empty());
    box_.write("set_pelmora.txt", "table\r\n");
    box_.write("surro.txt", "20B9F\r\n");
    box_.placeFixedTable(Sandbox::derivedTable());
  }
  Sandbox box_;
};

TEST_F(MainRoadTest, SelectsFieldTwoAsShiftJis) {
  box_.write("wide.txt", "\xFF\xFE" + utf16le(u"品番\t品名\r\n"
                                              u"A-1\t\"りんご\tｱｯﾌﾟﾙ\"\r\n"
                                              u"A-2\t𠮟る\r\n"));
  RunResult run = box_.run({"-j2", "-S\\t", "wide.txt", "narrow.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.file("narrow.txt"),
            "\x95\x69\x96\xBC\r\n"
            "\x82\xE8\x82\xF1\x82\xB2\t\xB1\xAF\xCC\xDF\xD9\r\n"
            "\x81\x51\x82\xE9\r\n");
  EXPECT_TRUE(run.errMessages().empty()) << run.describe();
  EXPECT_EQ(run.fileNames(),
            (std::set<std::string>{"narrow.txt", "set_pelmora.txt", "surro.txt",
                                   "wide.txt", Sandbox::fixedTableName()}));
}

// Scanned in parts side by side, with a quote open across lines, so that a
// part starting inside it guesses wrong and is scanned again. Inside the
// quote no separator counts: those lines have no Field-2.
TEST_F(MainRoadTest, LargeFileWithQuotesOpenAcrossLinesComesOutWhole) {
  const int kLines = 700000;  // 6 units a line: 4.2 Mi units, 8 MiB
  std::u16string wide;
  std::string expected;
  wide.reserve(static_cast<std::size_t>(kLines) * 6);
  for (int i = 0; i < kLines; ++i) {
    const bool inside = i > kLines / 5 && i < kLines * 4 / 5;
    const char digit = static_cast<char>('0' + i % 10);
    const std::u16string end = {static_cast<char16_t>(digit), u'\n'};
    if (i == kLines / 5) {
      wide += u"\"a,bc\n";  // the quote opens before the separator
      expected += "\r\n";
    } else if (i == kLines * 4 / 5) {
      wide += u"a\",b" + end;  // it closes; the separator after it counts
      expected += std::string("b") + digit + "\r\n";
    } else {
      wide += u"xy,z" + end;
      expected += inside ? "\r\n" : std::string("z") + digit + "\r\n";
    }
  }
  box_.write("wide.txt", utf16le(wide));
  RunResult run = box_.run({"-j2", "wide.txt", "narrow.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_TRUE(run.errMessages().empty()) << run.describe();
  const std::string narrow = run.file("narrow.txt");
  ASSERT_EQ(narrow.size(), expected.size());
  EXPECT_TRUE(narrow == expected);
}

// A character without a code writes "?" per code unit: its own byte could be
// a lead byte that takes in the next, and a low byte could end the line.
// Each line is run alone and repeated past the size from which the engines
// convert through a table built per run; both must give the same bytes.
TEST_F(MainRoadTest, CharactersWithoutACodeNeverSpoilTheirNeighbours) {
  const std::tuple<const char*, const char*, std::u16string, std::string>
      cases[] = {
          {"U+010A stays on its line", "-j2", u"k,b\u010Ac,z\n", "b?c,\r\n"},
          {"the e acute does not join the euro sign", "-j2",
           u"k,\u00E9\u20AC\n", "??\r\n"},
          {"an unlisted pair", "-j2", u"k,a\U0001F600b\n", "a??b\r\n"},
          {"0x80..0xFF take no letter", "-j2",
           u"k,Cr\u00E8me br\u00FBl\u00E9e,x\n", "Cr?me br?l?e,\r\n"},
          {"yen, a listed section sign, e acute at the end", "-j2",
           u"k,\u00A5100\u0085\u00A7\u00E9\n", "?100?\x81\x98?\r\n"},
          {"the filtered column drops first", "-o2",
           u"k,b\u010Ac\u20AC\U0001F600\u0085\u00A5d\n", "bc?d\r\n"},
      };
  for (const auto& [name, column, line, narrow] : cases) {
    SCOPED_TRACE(name);
    box_.write("wide.txt", utf16le(line));
    RunResult small = box_.run({column, "wide.txt", "n.txt"});
    EXPECT_EQ(small.file("n.txt"), narrow) << small.describe();
    const std::size_t repeats = 40000 / line.size() + 1;  // > 32 Ki units
    std::u16string wide;
    std::string expected;
    for (std::size_t i = 0; i < repeats; ++i) {
      wide += line;
      expected += narrow;
    }
    box_.write("wide.txt", utf16le(wide));
    RunResult large = box_.run({column, "wide.txt", "n.txt"});
    EXPECT_TRUE(large.file("n.txt") == expected) << large.describe();
    EXPECT_TRUE(large.errMessages().empty()) << large.describe();
  }
}

TEST_F(MainRoadTest, DefaultNarrowFileAndLineEnds) {
  box_.write("wide.txt", utf16le(u"a,b\r\nc,d\n"));
  RunResult crlf = box_.run({"-j2", "wide.txt"});
  EXPECT_EQ(crlf.file("pelmora.txt"), "b\r\nd\r\n");
  RunResult lf = box_.run({"-j2", "-LF", "wide.txt", "n.txt"});
  EXPECT_EQ(lf.file("n.txt"), "b\nd\n");
  RunResult only_l = box_.run({"-j2", "-L", "wide.txt", "l.txt"});
  EXPECT_EQ(only_l.file("l.txt"), "b\r\nd\r\n") << "-L alone keeps CR LF";
}

TEST_F(MainRoadTest, StandardOutputAlwaysEndsLinesWithCrLf) {
  box_.write("wide.txt", utf16le(u"a,名\nc,d\n"));
  for (auto& arguments : std::vector<Args>{{"-j2", "--out", "wide.txt"},
                                           {"-j2", "--out", "-LF", "wide.txt"},
                                           {"-j2", "-z", "wide.txt"}}) {
    RunResult run = box_.run(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(run.standardOutput, "\x96\xBC\r\nd\r\n");
    EXPECT_FALSE(run.has("pelmora.txt"));
  }
}

TEST_F(MainRoadTest, StandardOutputSkipsTheFileSteps) {
  box_.write("wide.txt", utf16le(u"a,b\n"));
  box_.write("data.txt", "old");
  RunResult run = box_.run({"-j2", "--out", "-t", "-b", "-M", "wide.txt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.standardOutput, "b\r\n") << "no data.txt echo";
  EXPECT_FALSE(run.has("binary.tmp"));
  EXPECT_EQ(run.file("data.txt"),
            box_.fixedTableText() + " is primarily accessible to Pelmora.");
}

TEST_F(MainRoadTest, LargeOutputIsWrittenWhole) {
  std::u16string wide;
  std::string expected;
  for (std::size_t i = 0; i < 100000; ++i) {
    wide += u"x,漢字かな" + std::u16string(i % 7, u'ｱ') + u"\r\n";
    expected += "\x8A\xBF\x8E\x9A\x82\xA9\x82\xC8" +
                std::string(i % 7, '\xB1') + "\r\n";
  }
  box_.write("wide.txt", utf16le(wide));
  RunResult run = box_.run({"-j2", "wide.txt", "n.txt"});
  EXPECT_EQ(run.file("n.txt"), expected);
}

TEST_F(MainRoadTest, OutputOfExactBlockSizes) {
  for (std::size_t size : {4096u, 8192u}) {
    std::u16string wide(size - 2, u'x');
    box_.write("wide.txt", utf16le(wide + u"\n"));
    RunResult run = box_.run({"-j1", "wide.txt", "n.txt"});
    EXPECT_EQ(run.file("n.txt"), std::string(size - 2, 'x') + "\r\n");
  }
}

TEST_F(MainRoadTest, EmptyOddAndMarkOnlyWideFiles) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"\xFF\xFE", ""},
      {"\xFF", ""},
      {std::string("\xFF\xFE") + "a", ""},
      {utf16le(u"ab") + "c", "ab"},
  };
  for (const auto& [bytes, narrow] : cases) {
    box_.write("wide.txt", bytes);
    RunResult run = box_.run({"-j1", "wide.txt", "n.txt"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("n.txt"));
    EXPECT_EQ(run.file("n.txt"), narrow);
  }
}

TEST_F(MainRoadTest, UnwritableNarrowFileIsReportedAndEndsWithOne) {
  box_.write("wide.txt", utf16le(u"a\n"));
  RunResult run = box_.run({"-j1", "wide.txt", "missing/n.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.errMessages(), Args{"Rewrite() error-215: missing/n.txt"});
}

TEST_F(MainRoadTest, MissingWideFileEndsWithMinusOneBeforeAnyOutput) {
  RunResult run = box_.run({"-j1", "-t", "-b", "absent.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, minusOneExit());
  EXPECT_EQ(run.errMessages(), (Args{"Reset() error-229: absent.txt",
                                     "SetLength() error-222: -1"}));
  EXPECT_FALSE(run.has("n.txt"));
  EXPECT_FALSE(run.has("binary.tmp"));
}

TEST_F(MainRoadTest, ReadOnlyWideFileIsAccepted) {
  box_.write("wide.txt", utf16le(u"a,b\n"));
  ASSERT_EQ(::chmod((box_.path() + "/wide.txt").c_str(), 0444), 0);
  RunResult run = box_.run({"-j2", "wide.txt", "n.txt"});
  EXPECT_EQ(run.file("n.txt"), "b\r\n");
}

TEST_F(MainRoadTest, TableReportIsShownAtTheEnd) {
  box_.remove(Sandbox::fixedTableName());
  box_.write("UTF16~MS932.bin", Sandbox::derivedTable());
  box_.write("wide.txt", utf16le(u"a\n"));
  RunResult run = box_.run({"-j1", "-M", "wide.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.standardOutput,
            "UTF16~MS932.bin is primarily accessible to Pelmora.\r\n");
  EXPECT_EQ(run.errMessages(),
            Args{"Reset() error-154: " + box_.fixedTableText()});
}

// Where the table is (the fixed place, the current folder, tables/named.bin,
// which set_dravikson.txt names), and what each miss leaves behind.
TEST(TableSearchTest, EveryPlaceAndItsReports) {
  const std::string miss = "Reset() error-154: <fixed>";
  const Args plain = {"-j1", "w.txt", "n.txt"};
  const std::tuple<const char*, bool, bool, bool, Args, int, Args> cases[] = {
      {"fixed place only", true, false, false, plain, 0, Args{}},
      {"current folder only", false, true, false, plain, 0, Args{miss}},
      {"settings file only", false, false, true, plain, 0,
       Args{miss, "Reset() error-153: UTF16~MS932.bin"}},
      {"settings file only with -K", false, true, true,
       Args{"-j1", "-K", "w.txt", "n.txt"}, 0, Args{}},
      {"nowhere", false, false, false, plain, 1,
       Args{miss, "Reset() error-153: UTF16~MS932.bin",
            "Reset() error-155: set_dravikson.txt",
            "Reset() error-167: i = 4"}},
      {"-D with the table in the current folder", false, true, false,
       Args{"-j1", "-D", "w.txt", "n.txt"}, 1,
       Args{miss, "Reset() error-166: <fixed>"}},
      {"-D with the table in the fixed place", true, true, false,
       Args{"-j1", "-D", "w.txt", "n.txt"}, 0, Args{}},
  };
  for (const auto& [name, fixed, current, named, arguments, exit_code,
                    messages] : cases) {
    SCOPED_TRACE(name);
    Sandbox box;
    box.write("set_pelmora.txt", "t\r\n");
    box.write("surro.txt", "20B9F\r\n");
    box.write("w.txt", utf16le(u"漢\n"));
    if (fixed) box.placeFixedTable(Sandbox::derivedTable());
    if (current) box.write("UTF16~MS932.bin", "");  // converts nothing
    if (named) {
      box.write("tables/named.bin", Sandbox::derivedTable());
      box.write("set_dravikson.txt", "tables/named.bin\r\n");
    }
    RunResult run = box.run(arguments);
    EXPECT_EQ(run.exitCode, exit_code) << run.describe();
    EXPECT_EQ(run.errMessages(), withFixedPlace(box, messages))
        << run.describe();
    if (exit_code == 0) {
      // An empty table converts nothing: the kanji has no code there.
      bool real_table =
          fixed || (named && !current) || (named && arguments[1] == "-K");
      EXPECT_EQ(run.file("n.txt"), real_table ? "\x8A\xBF\r\n" : "?\r\n");
    } else {
      EXPECT_FALSE(run.has("n.txt"));
    }
  }
}

// Every character that glibc's converter can encode, one per line, against
// the bytes it gives for it: one way, so the JIS forms, whose codes decode
// to other characters, are held to them too.
TEST(IconvTest, EveryCharacterIconvEncodesMatchesIt) {
  // The converter's own fallbacks, which the code page does not have: the
  // program has no code for them.
  const std::u16string library_only = u"\u00A5\u2014\u203E";
  iconv_t to_sjis = iconv_open("CP932", "UTF-16LE");
  ASSERT_NE(to_sjis, reinterpret_cast<iconv_t>(-1));
  std::u16string wide;
  std::string expected;
  int checked = 0;
  for (std::uint32_t unit = 0x20; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    char16_t in_unit = static_cast<char16_t>(unit);
    char* in = reinterpret_cast<char*>(&in_unit);
    std::size_t in_left = 2;
    char out[8];
    char* out_at = out;
    std::size_t out_left = sizeof out;
    iconv(to_sjis, nullptr, nullptr, nullptr, nullptr);
    if (iconv(to_sjis, &in, &in_left, &out_at, &out_left) ==
        static_cast<std::size_t>(-1)) {
      continue;
    }
    std::string bytes(out, static_cast<std::size_t>(out_at - out));
    if (library_only.find(in_unit) != std::u16string::npos) bytes = "?";
    wide += in_unit;
    wide += u"\r\n";
    expected += bytes + "\r\n";
    ++checked;
  }
  iconv_close(to_sjis);
  EXPECT_GT(checked, 7000);

  Sandbox box;
  prepare(box);
  box.write("all.txt", "\xFF\xFE" + utf16le(wide));
  // Separator and quote moved to control characters, which are not listed.
  RunResult run = box.run({"-j1", "-S\\x01", "-W\\x02", "all.txt", "n.txt"});
  EXPECT_EQ(run.exitCode, 0);
  std::string narrow = run.file("n.txt");
  ASSERT_EQ(narrow.size(), expected.size());
  EXPECT_TRUE(narrow == expected);
  RecordProperty("characters", checked);
}

}  // namespace
