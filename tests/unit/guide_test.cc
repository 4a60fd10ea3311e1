#include "options/guide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// The lines between CR LF pairs, and an unterminated tail.
std::vector<std::string> splitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
    end = std::min(text.find("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class GuidingTest : public ::testing::Test {
 protected:
  testing_support::ScratchFolder folder_;
};

TEST_F(GuidingTest, ShortTextIsThreeExactLines) {
  EXPECT_EQ(Guiding::guideText("1.04", false),
            "Pelmora Version 1.04\r\n\r\npelmora --help               \r\n");
}

TEST_F(GuidingTest, FullGuideHasTwentyNineLinesWithAlignedRemarks) {
  const std::string text = Guiding::guideText(kPelmoraVersion, true);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> lines = splitCrLf(text);
  ASSERT_EQ(lines.size(), 29u);
  EXPECT_EQ(lines[0], "Pelmora Version 1.04");
  EXPECT_EQ(lines[1], "");
  for (std::size_t usage = 1; usage + 1 < lines.size(); ++usage) {
    const std::string& line = lines[usage + 1];
    SCOPED_TRACE("usage line " + std::to_string(usage));
    EXPECT_EQ(line.rfind("pelmora ", 0), 0u);
    EXPECT_EQ(line.find('#'), 28u);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const bool bare = usage == 17 || usage == 23 || usage == 24;
    EXPECT_EQ(line.back() == ' ', !bare);
    EXPECT_NE(line.substr(line.size() - 2), "  ");
  }
  EXPECT_EQ(lines[2],
            "pelmora -d2 -p wide         # H and I are omitted from ASCII "
            "characters. ");
  EXPECT_EQ(lines[4],
            "pelmora -e2 -H\\x26 wide     # Add a dot and & to Field-2 unless "
            "a dot appears. ");
  EXPECT_EQ(
      lines[14],
      "pelmora -j2 -M  wide        # -M shows which table pelmora uses. ");
  EXPECT_EQ(lines[16],
            "pelmora -j2 -S\\l -x- csv    # -x- leaves half-width katakana as "
            "they are. ");
  EXPECT_EQ(lines[18],
            "pelmora -j2 -t wide narrow  # The wide file has the same time as "
            "a narrow file.");
  EXPECT_EQ(lines[25],
            "pelmora -k2 -A\\x5F wide     # In Field-2, Pelmora replaces "
            "katakana with ascii.");
  EXPECT_EQ(lines[28], "pelmora -V                  # Version ");
  // Every character of the 27 lines counts; this catches a stray edit.
  EXPECT_EQ(text.size(), 1747u);
}

TEST_F(GuidingTest, VersionFileHoldsExactlyWhatIsShown) {
  for (bool full : {true, false}) {
    SCOPED_TRACE(full ? "guide" : "version");
    Guiding guiding;
    const std::string shown = testing_support::standardStreamOf(
        1, [&] { guiding.printGuide("1.04", full); });
    const std::string expected = Guiding::guideText("1.04", full);
    EXPECT_EQ(folder_.read("version.txt"), expected);
    EXPECT_EQ(shown, expected);
  }
}

TEST_F(GuidingTest, ExistingVersionFileIsOverwritten) {
  folder_.write("version.txt", std::string(5000, 'z'));
  (void)testing_support::standardStreamOf(
      1, [] { Guiding().printGuide("1.04", false); });
  EXPECT_EQ(folder_.read("version.txt"), Guiding::guideText("1.04", false));
}

TEST_F(GuidingTest, UnwritableVersionFileStillShowsTextAndSaysWhy) {
  // A folder of that name cannot be opened as a file, even by root.
  std::filesystem::create_directory(folder_.path() + "/version.txt");
  ::testing::internal::CaptureStderr();
  const std::string shown = testing_support::standardStreamOf(
      1, [] { Guiding().printGuide("1.04", true); });
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown, Guiding::guideText("1.04", true));
  EXPECT_EQ(errors.rfind("version.txt: ", 0), 0u) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "exactly one line";
  EXPECT_TRUE(folder_.errMessages().empty());
}

}  // namespace
