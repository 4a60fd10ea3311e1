#include "options/final_effect.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "diagnostics/error_text.h"
#include "options/hyphen_term.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::string>;

// Settings and reports stay in memory: settling options needs no file.
class FinalEffectsTest : public ::testing::Test {
 protected:
  FinalEffectsTest() { diagnostics::collectReports(&reports_); }
  ~FinalEffectsTest() override { diagnostics::collectReports(nullptr); }

  FinalEffects::Values settle(const Args& args,
                              SettingsFile settings = {"table", {}}) {
    HyphenTerms terms;
    terms.prepareTerms(args);
    terms.parse(std::move(settings));
    return settleOptions(terms);
  }
  // The options given before the wide file's name.
  FinalEffects::Values settleFor(Args args) {
    args.push_back("wide");
    return settle(args);
  }

  std::vector<std::string> reports_;
};

// Which column flags rule the field, as one string for short expectations:
// e decimal, n integer, d combining marks, k katakana, o control characters.
std::string columns(const FinalEffects::Values& v) {
  std::string set;
  if (v.decimalExtraction) set += 'e';
  if (v.integerExtraction) set += 'n';
  if (v.dropCombining) set += 'd';
  if (v.replaceKatakana) set += 'k';
  if (v.dropControl) set += 'o';
  return set;
}

TEST_F(FinalEffectsTest, FieldChoiceChain) {
  const std::tuple<Args, std::int32_t, std::string> cases[] = {
      {{}, 255, ""},
      {{"-Z"}, 3071, ""},
      {{"-j2", "-j3"}, 3, ""},
      {{"-e300"}, 255, ""},
      {{"-e300", "-Z"}, 300, "e"},
      {{"-e300", "-n4"}, 4, "n"},
      {{"-e255"}, 255, ""},
      {{"-e254"}, 254, "e"},
      {{"-e0"}, 0, "e"},
      {{"-j300"}, 300, ""},
      {{"-j300", "-c5"}, 5, ""},
      {{"-j2", "-c5"}, 2, ""},
      {{"-c5"}, 5, ""},
      {{"-c300", "-j2"}, 2, ""},
      {{"-c300", "-j400"}, 400, ""},
      {{"-c300"}, 255, ""},
      {{"-c3000", "-Z"}, 3000, ""},
      {{"-e2", "-n3"}, 2, "e"},
      {{"-n3", "-d2"}, 3, "n"},
      {{"-o5", "-k4", "-d3"}, 3, "d"},
      {{"-o5", "-k4"}, 4, "k"},
      {{"-o5", "-j1"}, 5, "o"},
      {{"-d2", "-$"}, 2, "do"},
      {{"-j2", "-$", "-d2"}, 2, "do"},
      {{"-x", "-%", "-$", "-j7"}, 7, "dko"},
      {{"-e2", "-x"}, 2, "ek"},
      {{"-j2", "-j99999999999"}, 255, ""}};
  for (const auto& [args, field, column_flags] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const FinalEffects::Values v = settleFor(args);
    EXPECT_EQ(v.fieldNumber, field);
    EXPECT_EQ(columns(v), column_flags);
  }
}

TEST_F(FinalEffectsTest, CharacterSettlement) {
  // The separator, quote, katakana and completion characters.
  const std::pair<Args, std::string> cases[] = {
      {{}, ",\"_0"},
      {{"-sab"}, "a\"_0"},
      {{"-S\\t"}, "\t\"_0"},
      {{"-s_", "-S\\t"}, "\t\"_0"},
      {{"-S"}, "_\"_0"},
      {{"-w~", "-a*", "-h5", "-s;"}, ";~*5"},
      {{"-W\\x26", "-A\\x5F", "-H\\A"}, ",&_<"},
  };
  for (const auto& [args, chars] : cases) {
    const FinalEffects::Values v = settleFor(args);
    EXPECT_EQ(std::string({static_cast<char>(v.separatorChar),
                           static_cast<char>(v.quoteChar),
                           static_cast<char>(v.katakanaChar),
                           static_cast<char>(v.completionChar)}),
              chars)
        << ::testing::PrintToString(args);
  }
}

TEST_F(FinalEffectsTest, LineEnds) {
  const std::pair<Args, bool> cases[] = {{{}, true},
                                         {{"-L"}, true},
                                         {{"-LF"}, false},
                                         {{"-0-"}, true},
                                         {{"-L", "-0-"}, false},
                                         {{"-LF", "-CRLF"}, true},
                                         {{"-LF", "-L-"}, true}};
  for (const auto& [args, crlf] : cases) {
    EXPECT_EQ(settleFor(args).crlfLines, crlf)
        << ::testing::PrintToString(args);
  }
}

TEST_F(FinalEffectsTest, NarrowAndWideNames) {
  const std::tuple<Args, std::string, std::string> cases[] = {
      {{"wide"}, "wide", "pelmora.txt"},
      {{"wide", "narrow"}, "wide", "narrow"},
      {{"--out", "wide"}, "wide", ""},
      {{"--out", "wide", "narrow"}, "wide", "narrow"},
      {{"-z", "wide"}, "wide", ""},
      {{"-F", "n", "wide"}, "wide", "n"},
      {{"-F", "n", "wide", "other"}, "wide", "n"},
      {{"-F", "n", "--out", "wide"}, "wide", ""},
      {{"-j2"}, "", "pelmora.txt"},
  };
  for (const auto& [args, wide, narrow] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const FinalEffects::Values v = settle(args);
    EXPECT_EQ(v.wideName, wide);
    EXPECT_EQ(v.narrowName, narrow);
  }
  // Asking only for the -F name never reports a bad list index.
  EXPECT_TRUE(reports_.empty());
}

TEST_F(FinalEffectsTest, PlainFlagsPassThrough) {
  const std::pair<const char*, bool FinalEffects::Values::*> cases[] = {
      {"-t", &FinalEffects::Values::refreshWide},
      {"-y", &FinalEffects::Values::keepTemporary},
      {"-D", &FinalEffects::Values::noTableSearch},
      {"-p", &FinalEffects::Values::omitHI},
      {"-q", &FinalEffects::Values::quotedSeparatorIgnored},
      {"-K", &FinalEffects::Values::tableFromSettings},
      {"-b", &FinalEffects::Values::temporaryRoute},
      {"-M", &FinalEffects::Values::tableReport},
  };
  const FinalEffects::Values none = settle({"wide"});
  for (const auto& [token, field] : cases) {
    SCOPED_TRACE(token);
    EXPECT_FALSE(none.*field);
    const FinalEffects::Values on = settle({token, "wide"});
    for (const auto& [other_token, other_field] : cases) {
      EXPECT_EQ(on.*other_field, other_field == field) << other_token;
    }
  }
}

TEST_F(FinalEffectsTest, SettingsFileGivesDefaults) {
  const SettingsFile settings{"x", {"-j3", "-S\\t"}};
  const FinalEffects::Values defaults = settle({"wide"}, settings);
  EXPECT_EQ(defaults.fieldNumber, 3);
  EXPECT_EQ(defaults.separatorChar, '\t');
  EXPECT_EQ(settle({"-j2", "wide"}, settings).fieldNumber, 2);
}

TEST_F(FinalEffectsTest, ObjectAnswersWithTheSettledValues) {
  FinalEffects effects(settle({"-e4", "-LF", "-s;", "-M", "wide", "narrow"}));
  EXPECT_TRUE(effects.decimalExtraction());
  EXPECT_EQ(effects.fieldNumber(), 4);
  EXPECT_FALSE(effects.crlfLines());
  EXPECT_EQ(effects.separatorChar(), ';');
  EXPECT_TRUE(effects.tableReport());
  EXPECT_EQ(effects.wideName(), "wide");
  EXPECT_EQ(effects.narrowName(), "narrow");
}

}  // namespace
