#include "options/hyphen_term.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "diagnostics/error_text.h"
#include "options/settings_file.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::string>;

// Settings and reports stay in memory; only reading set_pelmora.txt takes a
// scratch folder.
class HyphenTermsTest : public ::testing::Test {
 protected:
  HyphenTermsTest() { diagnostics::collectReports(&reports_); }
  ~HyphenTermsTest() override { diagnostics::collectReports(nullptr); }

  std::unique_ptr<HyphenTerms> parse(const Args& args,
                                     SettingsFile settings = {"table", {}}) {
    auto terms = std::make_unique<HyphenTerms>();
    terms->prepareTerms(args);
    terms->parse(std::move(settings));
    return terms;
  }

  // With set_pelmora.txt holding `text` (none when nullopt).
  std::unique_ptr<HyphenTerms> parseFile(const Args& args,
                                         std::optional<std::string> text) {
    if (!folder_) folder_.emplace();
    if (text) folder_->write("set_pelmora.txt", *text);
    return parse(args, readSettingsFile());
  }

  // The blank-separated words of `text`, as arguments.
  static Args words(const std::string& text) {
    Args args;
    std::istringstream in(text);
    for (std::string word; in >> word;) args.push_back(word);
    return args;
  }

  // The tokens that one argument becomes. A file name goes first because
  // an empty first argument is refused.
  Args tokensOf(const std::string& argument) {
    auto terms = parse({"w", argument});
    const Args& all = terms->tokens();
    EXPECT_GE(all.size(), 2u);
    EXPECT_EQ(all.at(0), "-0");
    EXPECT_EQ(all.at(1), "w");
    return Args(all.begin() + 2, all.end());
  }

  std::vector<std::string> reports_;
  std::optional<testing_support::ScratchFolder> folder_;
};

TEST_F(HyphenTermsTest, ArgumentsAreRewrittenOrSplitIntoTokens) {
  const std::pair<std::string, Args> cases[] = {
      {"-CRLF", {"-0"}},
      {"--help", {"-G"}},
      {"-LF", {"-0-", "-L"}},
      {"--out", {"-F-", "-z"}},
      {"-VC", {"-G"}},
      // Clusters of one-letter options.
      {"-tZ", {"-t", "-Z"}},
      {"-S,", {"-S", "-,"}},
      {"-St", {"-S", "-t"}},
      {"-Wab", {"-W", "-a", "-b"}},
      {"-CRLFX", {"-C", "-R", "-L", "-F", "-X"}},
      {"-t ", {"-t", "- "}},
      {"-t'", {"-t", "-'"}},  // the apostrophe is printable too
  };
  for (const auto& [argument, tokens] : cases) {
    EXPECT_EQ(tokensOf(argument), tokens) << "argument \"" << argument << "\"";
  }
  // Kept whole: short arguments, file names, a third character that is no
  // printable ASCII or is "-", "\" or a digit, and the four literal
  // character options.
  for (const std::string same :
       {"-j", "ab", "", "wide.txt", "a-tZ", "-t\x7FZ", "-t\x01Z", "-t\x85Z",
        "-x-foo", "-S\\t", "-j12", "-I3-5", "-wab", "-s;x", "-a*b", "-hxy",
        "-s,"}) {
    EXPECT_EQ(tokensOf(same), Args{same}) << "argument \"" << same << "\"";
  }
}

// A reading in a few words: the token, then what it did.
std::string shown(const TokenReading& t) {
  using Kind = TokenReading::Kind;
  static const char* const kSkips[] = {"",          "empty",     "no letter",
                                       "flag text", "no number", "no character",
                                       "no effect", "unknown"};
  const std::string head = t.token + " ";
  switch (t.kind) {
    case Kind::kWideName:
      return head + "wide";
    case Kind::kNarrowName:
      return head + "narrow";
    case Kind::kFName:
      return head + "after -F";
    case Kind::kUnderscoreName:
      return head + "after -_";
    case Kind::kFlagSet:
      return head + "set " + t.letter;
    case Kind::kFlagCleared:
      return head + "cleared " + t.letter;
    case Kind::kNumber:
    case Kind::kCharacterCode:
    case Kind::kCharacterText:
      return head + t.letter + "=" + std::to_string(t.value);
    case Kind::kRange:
      return head + "range";
    case Kind::kSkipped:
      break;
  }
  return head + "skipped: " + kSkips[static_cast<int>(t.skip)];
}

TEST_F(HyphenTermsTest, ReadingsTellHowEachArgumentWasTaken) {
  using Form = TermReading::Form;
  const std::tuple<std::string, Form, Args> cases[] = {
      {"-jtwo",
       Form::kCluster,
       {"-j skipped: no number", "-t set t", "-w skipped: no character",
        "-o skipped: no number"}},
      {"-Stab",
       Form::kCluster,
       {"-S S=0", "-t set t", "-a skipped: no character", "-b set b"}},
      {"--ouput",
       Form::kCluster,
       {"-- skipped: no letter", "-o skipped: no number", "-u set u",
        "-p set p", "-u set u", "-t set t"}},
      {"-LF", Form::kRewritten, {"-0- cleared 0", "-L set L"}},
      {"-j99999999999", Form::kWhole, {"-j99999999999 j=-1"}},
      {"-J2", Form::kWhole, {"-J2 skipped: unknown"}},
      {"-t5", Form::kWhole, {"-t5 skipped: flag text"}},
      {"-s;x", Form::kWhole, {"-s;x s=59"}},
      {"-S\\x7C", Form::kWhole, {"-S\\x7C S=124"}},
      {"-I3-5", Form::kWhole, {"-I3-5 range"}},
      {"", Form::kWhole, {" skipped: empty"}},
  };
  for (const auto& [argument, form, expected] : cases) {
    SCOPED_TRACE(argument);
    auto terms = std::make_unique<HyphenTerms>();
    terms->recordReadings();
    terms->prepareTerms({"w", argument, "n"});
    terms->parse({"t", {}});
    const std::vector<TermReading>& readings = terms->readings();
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(shown(readings[0].tokens.at(0)), "w wide");
    EXPECT_EQ(readings[1].number, 2u);
    EXPECT_EQ(readings[1].form, form);
    Args tokens;
    for (const TokenReading& token : readings[1].tokens) {
      tokens.push_back(shown(token));
    }
    EXPECT_EQ(tokens, expected);
    EXPECT_EQ(shown(readings[2].tokens.at(0)), "n narrow");
  }

  // Settings lines are read whole, before the arguments; those after the
  // first empty one are kept as not read, that empty line first.
  auto terms = std::make_unique<HyphenTerms>();
  terms->recordReadings();
  terms->prepareTerms({"w"});
  terms->parse({"t", {"-LF", "-j3", "", "-e2"}});
  const std::vector<TermReading>& readings = terms->readings();
  ASSERT_EQ(readings.size(), 5u);
  const std::tuple<std::size_t, Form, std::string> lines[] = {
      {2, Form::kWhole, "-LF skipped: flag text"},
      {3, Form::kWhole, "-j3 j=3"},
      {4, Form::kNotRead, ""},
      {5, Form::kNotRead, ""},
      {1, Form::kWhole, "w wide"}};
  for (std::size_t i = 0; i < readings.size(); ++i) {
    const auto& [number, form, token] = lines[i];
    EXPECT_EQ(readings[i].number, number) << i;
    EXPECT_EQ(readings[i].form, form) << i;
    EXPECT_EQ(readings[i].tokens.empty() ? "" : shown(readings[i].tokens[0]),
              token)
        << i;
  }
}

TEST_F(HyphenTermsTest, SettingsLinesComeBetweenDefaultAndArguments) {
  auto terms = parse({"-K", "-LF", "w"}, {"t", {"-j3", "-K-"}});
  EXPECT_EQ(terms->tokens(),
            (Args{"-0", "-j3", "-K-", "-K", "-0-", "-L", "w"}));
}

TEST_F(HyphenTermsTest, TokenListGrowsPastSixtyFourPerArgumentCharacter) {
  std::string settings = "t\r\n";
  for (int i = 1; i <= 64; ++i) settings += "-u\r\n";
  auto terms = parseFile({"a"}, settings);
  ASSERT_EQ(terms->tokens().size(), 66u);
  EXPECT_EQ(terms->tokens().back(), "a");
  EXPECT_EQ(terms->wideName(), "a");
}

TEST_F(HyphenTermsTest, PlainArgumentsNameWideAndNarrowFiles) {
  // The wide file, the second plain argument, the -F and the -_ names.
  const std::tuple<Args, std::string, std::string, std::string, std::string>
      cases[] = {
          {{"a", "b", "c"}, "a", "c", "", ""},
          {{"-F", "narrow", "wide"}, "wide", "", "narrow", ""},
          {{"wide", "-F", "narrow"}, "wide", "", "narrow", ""},
          {{"-_", "name", "wide"}, "wide", "", "", "name"},
          {{"-F", "n", "-_", "u", "w"}, "w", "", "n", "u"},
          {{"--out", "wide", "narrow"}, "wide", "narrow", "", ""},
          {{"-F", "-F-", "x"}, "x", "", "", ""},
          {{"-F", "n", "-F-", "w"}, "w", "", "", ""},
          {{"-_", "u", "-_-", "w"}, "w", "", "", ""},
          {{"-F", "n", "-F-foo", "w"}, "w", "", "", ""},
          {{"-", "--", "w"}, "w", "", "", ""},
      };
  for (const auto& [args, wide, second, f_name, underscore_name] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    auto terms = parse(args);
    EXPECT_EQ(terms->wideName(), wide);
    EXPECT_EQ(terms->secondPlainArgument(), second);
    EXPECT_EQ(terms->listName(1), f_name);
    EXPECT_EQ(terms->listName(2), underscore_name);
  }
}

TEST_F(HyphenTermsTest, EveryFlagTokenSetsItsFlagAndNegationClearsIt) {
  const std::string letters = "F_KbGVLyD$tMz0Zuqx%p";
  for (char letter : letters) {
    const std::string token{'-', letter};
    SCOPED_TRACE(token);
    auto set = parse({"w", token});
    for (char other : letters) {
      // -0 is on from the default token whatever else is given.
      const bool expected = other == letter || other == '0';
      EXPECT_EQ(set->flag(other), expected) << "flag " << other;
    }
    EXPECT_FALSE(parse({"w", token, token + "-"})->flag(letter));
    EXPECT_FALSE(parse({"w", token, token + "-foo"})->flag(letter));
  }
}

TEST_F(HyphenTermsTest, DefaultTokenSetsZeroFlagAndOnlyItsNegationClearsIt) {
  EXPECT_TRUE(parse({"w"})->flag('0'));
  EXPECT_FALSE(parse({"w", "-0-"})->flag('0'));
  EXPECT_FALSE(parse({"-LF", "w"})->flag('0'));
  EXPECT_TRUE(parse({"-LF", "-CRLF", "w"})->flag('0'));
}

TEST_F(HyphenTermsTest, LongOptionsSetTheirFlags) {
  auto help = parse({"--help"});
  EXPECT_TRUE(help->flag('G'));
  EXPECT_TRUE(parse({"-VC"})->flag('G'));
  auto lf = parse({"-LF"});
  EXPECT_TRUE(lf->flag('L'));
  EXPECT_FALSE(lf->flag('0'));
  auto out = parse({"-F", "n", "--out"});
  EXPECT_TRUE(out->flag('z'));
  EXPECT_EQ(out->listName(1), "");
}

TEST_F(HyphenTermsTest, ClusterSetsEveryLetter) {
  auto terms = parse({"-tZbq", "w"});
  for (char letter : std::string("tZbq")) EXPECT_TRUE(terms->flag(letter));
  EXPECT_EQ(terms->fieldNumberLimit(), 3071);
}

TEST_F(HyphenTermsTest, UnknownNegationAndOddTokensChangeNothing) {
  auto terms = parse({"-Q-", "-j-", "-jx", "-I-", "w"});
  EXPECT_EQ(terms->numberValue('j'), -1);
  EXPECT_EQ(terms->separatorChar(), ',');
  EXPECT_EQ(terms->wideName(), "w");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(HyphenTermsTest, NumberOptionsKeepTheLastValue) {
  const std::tuple<std::string, char, std::int32_t> cases[] = {
      {"-j0", 'j', 0},  {"-j007", 'j', 7}, {"-c5", 'c', 5}, {"-o1", 'o', 1},
      {"-k2", 'k', 2},  {"-d3", 'd', 3},   {"-e4", 'e', 4}, {"-n5", 'n', 5},
      {"-P6", 'P', 6},  {"-}7", '}', 7},   {"-{8", '{', 8}, {"-j2x", 'j', -1},
      {"-J2", 'j', -1}, {"-jj2", 'j', -1}, {"", 'e', -1},   {"-j2 -j3", 'j', 3},
  };
  for (const auto& [options, letter, raw] : cases) {
    EXPECT_EQ(parse(words("w " + options))->numberValue(letter), raw)
        << options;
  }
  EXPECT_EQ(parse({"w", "-j2147483647"})->numberValue('j'), 2147483647);
}

TEST_F(HyphenTermsTest, FieldOptionsReadAsTheLimitWhenAbsent) {
  auto plain = parse({"w", "-j9"});
  EXPECT_EQ(plain->fieldNumberLimit(), 255);
  EXPECT_EQ(plain->fieldOption('j'), 9);
  for (char letter : std::string("cokden")) {
    EXPECT_EQ(plain->fieldOption(letter), 255) << letter;
  }
  auto wide = parse({"w", "-Z"});
  EXPECT_EQ(wide->fieldNumberLimit(), 3071);
  EXPECT_EQ(wide->fieldOption('e'), 3071);
}

TEST_F(HyphenTermsTest,
       NumberThatDoesNotConvertIsReportedAndForgetsEarlierValue) {
  auto terms = parse({"-j2", "-j99999999999", "w"});
  EXPECT_EQ(terms->numberValue('j'), -1);
  EXPECT_EQ(terms->fieldOption('j'), 255);
  EXPECT_EQ(reports_, (Args{"sequence_to_integer() error-214: 99999999999"}));
}

TEST_F(HyphenTermsTest, RangeValuesAreConvertedOnlyForRangeOptions) {
  // -I5x is a range with an empty upper text: its conversion is reported.
  parse({"-I5x", "w"});
  EXPECT_EQ(reports_, (Args{"sequence_to_integer() error-214: "}));
  // -j5x and -X5x are no options at all; nothing is converted.
  parse({"-j5x", "-X5x", "-~3-99999999999x", "w"});
  EXPECT_EQ(reports_.size(), 1u);
  parse({"-~3-99999999999", "w"});
  EXPECT_EQ(reports_.back(), "sequence_to_integer() error-214: 99999999999");
}

TEST_F(HyphenTermsTest, RangeAndBitStringOptionsAreConsumedQuietly) {
  auto terms = parse({"-I3-5", "-~7", "-@0101", "-E1x", "-I1", "w"});
  EXPECT_EQ(terms->wideName(), "w");
  EXPECT_EQ(terms->separatorChar(), ',');
  EXPECT_EQ(terms->numberValue('j'), -1);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(HyphenTermsTest, CharacterOptionsSettleToOneByte) {
  // The separator, quote, katakana and completion characters.
  const std::pair<std::string, std::string> cases[] = {
      {"", ",\"_0"},          {"-s;", ";\"_0"},       {"-S\\t", "\t\"_0"},
      {"-S\\t -s;", ";\"_0"}, {"-s; -S\\t", ";\"_0"}, {"-s\\t", "\\\"_0"},
      {"-s,", ",\"_0"},       {"-sab", "a\"_0"},      {"-s_ -S\\t", "\t\"_0"},
      {"-St", "_\"_0"},       {"-S", "_\"_0"},        {"-S,", "_\"_0"},
      {"-S\\t -S", "_\"_0"},  {"-S\\x7C", "|\"_0"},   {"-S\\l", "|\"_0"},
      {"-S\\xZZ", "_\"_0"},   {"-S\\x00", "_\"_0"},   {"-W\\x26", ",&_0"},
      {"-w~", ",~_0"},        {"-A\\x2A", ",\"*0"},   {"-a#", ",\"#0"},
      {"-H\\x26", ",\"_&"},   {"-h5", ",\"_5"},       {"-h0 -H\\x26", ",\"_0"},
      {"-h1", ",\"_1"},
  };
  for (const auto& [options, chars] : cases) {
    auto terms = parse(words(options + " w"));
    EXPECT_EQ(std::string({static_cast<char>(terms->separatorChar()),
                           static_cast<char>(terms->quoteChar()),
                           static_cast<char>(terms->katakanaChar()),
                           static_cast<char>(terms->completionChar())}),
              chars)
        << ::testing::PrintToString(options);
  }
}

TEST_F(HyphenTermsTest, DecodeEscapeTable) {
  HyphenTerms terms;
  terms.prepareTerms({"w"});
  const std::pair<std::string, std::int32_t> cases[] = {
      {"-S\\A", 60},  {"-S\\l", 124},   {"-S\\s", 32},    {"-S\\t", 9},
      {"-S\\v", 62},  {"-S\\x5F", 95},  {"-S\\x5f", 0},   {"-S\\x1", 16},
      {"-S\\xZZ", 0}, {"-S\\x00", 0},   {"-S\\xFF", 255}, {"-S\\x7Cabc", 124},
      {"-S\\x", 0},   {"-S\\\xCD", 60}, {"-S\\q", 44},    {"-S\\", 44},
      {"-S\\tx", 44}, {"-S", 0},        {"-Sq", 113},     {"-S\xE9", 233},
      {"-Wab", 97},
  };
  for (const auto& [token, code] : cases) {
    EXPECT_EQ(terms.decodeEscape(token), code) << token;
  }
}

TEST_F(HyphenTermsTest, ListNameOutsideOneAndTwoIsReported) {
  auto terms = parse({"-F", "n", "w"});
  EXPECT_EQ(terms->listName(0), "");
  EXPECT_EQ(terms->listName(-3), "");
  EXPECT_EQ(terms->listName(3), "");
  EXPECT_EQ(reports_,
            (Args{"listName() error-144: 0", "listName() error-144: -3",
                  "listName() error-145: 3"}));
}

TEST_F(HyphenTermsTest, DefaultListNameFillsAnEmptySecondArgument) {
  auto none = parse({"w"});
  EXPECT_EQ(none->defaultListName(), "pelmora.txt");
  EXPECT_EQ(none->secondPlainArgument(), "pelmora.txt");
  EXPECT_EQ(parse({"w", "-z"})->defaultListName(), "");
  EXPECT_EQ(parse({"w", "--out"})->defaultListName(), "");
  EXPECT_EQ(parse({"w", "-z", "n"})->defaultListName(), "n");
}

TEST_F(HyphenTermsTest, MissingSettingsFileIsReportedAndParsingGoesOn) {
  auto terms = parseFile({"-j2", "w"}, std::nullopt);
  EXPECT_EQ(reports_, (Args{"Reset() error-148: set_pelmora.txt"}));
  EXPECT_EQ(terms->tokens(), (Args{"-0", "-j2", "w"}));
  EXPECT_EQ(terms->numberValue('j'), 2);
  EXPECT_EQ(terms->tableName(), "");
}

TEST_F(HyphenTermsTest, SettingsGiveDefaultsThatTheCommandLineOverrides) {
  for (const char* settings :
       {"x\r\n-j3\r\n-S\\t\r\n", "x\n-j3\n-S\\t\n", "x\r\n-j3\r\n-S\\t"}) {
    SCOPED_TRACE(settings);
    auto defaults = parseFile({"w"}, settings);
    EXPECT_EQ(defaults->tableName(), "x");
    EXPECT_EQ(defaults->numberValue('j'), 3);
    EXPECT_EQ(defaults->separatorChar(), '\t');
    EXPECT_EQ(parseFile({"-j2", "w"}, settings)->numberValue('j'), 2);
  }
  EXPECT_TRUE(parseFile({"-K", "w"}, "x\r\n-K-\r\n")->flag('K'));
  EXPECT_FALSE(parseFile({"-K-", "w"}, "x\r\n-K\r\n")->flag('K'));
  EXPECT_TRUE(reports_.empty());
}

TEST_F(HyphenTermsTest, SettingsLinesAreCutAtTabAndAtTwoHundredFiftySix) {
  auto remark = parseFile({"w"}, "x\r\n-j2\tselects Field-2\r\n");
  EXPECT_EQ(remark->tokens(), (Args{"-0", "-j2", "w"}));
  EXPECT_EQ(remark->numberValue('j'), 2);

  const std::string longLine = "-s" + std::string(298, 'a');
  auto cut = parseFile({"w"}, "x\r\n" + longLine + "\r\n");
  EXPECT_EQ(cut->tokens().at(1), longLine.substr(0, 256));

  // A tab past the cut no longer matters.
  const std::string tabLate = std::string(256, 'w') + "\tremark";
  EXPECT_EQ(parseFile({"-u"}, "x\r\n" + tabLate + "\r\n")->wideName(),
            std::string(256, 'w'));
}

TEST_F(HyphenTermsTest, LinesAfterTheSixtyFourthOptionLineAreIgnored) {
  std::string settings = "x\r\n";
  for (int i = 1; i <= 70; ++i) settings += "-j" + std::to_string(i) + "\r\n";
  auto terms = parseFile({"w"}, settings);
  EXPECT_EQ(terms->tokens().size(), 1u + 64u + 1u);
  EXPECT_EQ(terms->tokens().at(64), "-j64");
  EXPECT_EQ(terms->numberValue('j'), 64);
}

TEST_F(HyphenTermsTest, EmptyOrTabLineEndsTheOptionLines) {
  auto empty = parseFile({"w"}, "x\r\n-j3\r\n\r\n-K\r\n");
  EXPECT_EQ(empty->numberValue('j'), 3);
  EXPECT_FALSE(empty->flag('K'));
  auto tab = parseFile({"w"}, "x\n-j3\n\tremark\n-K\n");
  EXPECT_FALSE(tab->flag('K'));
  EXPECT_EQ(tab->tokens(), (Args{"-0", "-j3", "w"}));
}

TEST_F(HyphenTermsTest, SettingsFileWithOnlyTheTableName) {
  auto terms = parseFile({"w"}, "My table");
  EXPECT_EQ(terms->tableName(), "My table");
  EXPECT_EQ(terms->tokens(), (Args{"-0", "w"}));
  auto emptyFile = parseFile({"w"}, "");
  EXPECT_EQ(emptyFile->tableName(), "");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(HyphenTermsTest, SettingsLinesAreNotExpanded) {
  auto terms = parseFile({"w"}, "x\r\n-LF\r\n-tZ\r\n");
  EXPECT_EQ(terms->tokens(), (Args{"-0", "-LF", "-tZ", "w"}));
  EXPECT_TRUE(terms->flag('0'));
  for (char letter : std::string("LtZ")) EXPECT_FALSE(terms->flag(letter));
}

TEST_F(HyphenTermsTest, SettingsFileNameLineIsTheWideFile) {
  auto terms = parseFile({"narrow"}, "x\r\nwide\r\n");
  EXPECT_EQ(terms->wideName(), "wide");
  EXPECT_EQ(terms->secondPlainArgument(), "narrow");
}

using HyphenTermsDeathTest = HyphenTermsTest;

TEST_F(HyphenTermsDeathTest, EmptyFirstArgumentIsReportedAndStops) {
  // The child must share the scratch folder to leave its report there.
  GTEST_FLAG_SET(death_test_style, "fast");
  diagnostics::collectReports(nullptr);
  folder_.emplace();
  for (const Args& args : {Args{""}, Args{}, Args{"", "-j2"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    HyphenTerms terms;
    EXPECT_EXIT(terms.prepareTerms(args), ::testing::ExitedWithCode(1), "");
    const Args messages = folder_->errMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(),
              "ParamStr() error-149: ParamStr(1) = EMPTY\r\n"
              "pelmora --help\r\n");
  }
}

}  // namespace
