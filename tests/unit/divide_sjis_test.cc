#include "text/divide_sjis.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::ScratchFolder;
using Fields = std::vector<std::string>;

class DividingSJISTest : public ::testing::Test {
 protected:
  // The fields the splitter queued, in order, after its priming item.
  static Fields queued(const DividingSJIS& divider) {
    Fields fields;
    const AnsiStringQueue* queue = divider.queue();
    for (int k = 0; k < queue->count(); ++k) fields.push_back(queue->q(k));
    return fields;
  }

  // Makes the divider ready with separator c (the defaults when c is 0).
  static void ready(DividingSJIS& divider, FieldsList* list, int limit,
                    char c = ';') {
    if (c != 0) divider.setSeparator(c);
    divider.prepare(list, limit);
  }

  // Splits line with separator c (or the defaults when c is 0).
  static Fields splitLine(const std::string& line, char c, int limit,
                          int* count) {
    DividingSJIS divider;
    ready(divider, nullptr, limit, c);
    *count = divider.split(line, static_cast<int>(line.size()));
    EXPECT_EQ(divider.fieldCount(), *count);
    return queued(divider);
  }

  // Appends to list the fields of a line "0;1;2;..." with the suffix "/n".
  static int splitNumbered(int fields, int limit, FieldsList* list,
                           DividingSJIS& divider) {
    std::string line;
    for (int i = 0; i < fields; ++i) {
      line += (i > 0 ? ";" : "") + std::to_string(i);
    }
    ready(divider, list, limit);
    return divider.splitAppend(line, static_cast<int>(line.size()), '/', "n");
  }

  ScratchFolder folder_;
};

TEST_F(DividingSJISTest, PathLikeLinesGetTheSuffix) {
  // clang-format off
  const std::tuple<const char*, std::string, Fields> cases[] = {
      {"two folders", "C:\\A;D:\\B", {"C:\\A\\x.exe", "D:\\B\\x.exe"}},
      {"empty middle field is kept", "A;;B",
       {"A\\x.exe", "\\x.exe", "B\\x.exe"}},
      {"empty last field is neither stored nor counted", "A;B;",
       {"A\\x.exe", "B\\x.exe"}},
      {"two empty last fields: only the final one is dropped", "A;;",
       {"A\\x.exe", "\\x.exe"}},
      {"lone separator", ";", {"\\x.exe"}},
      {"empty line", "", {}},
      {"quoted separator dropped, quotes kept", "\"C:\\My;Dir\";D:\\B",
       {"\"C:\\MyDir\"\\x.exe", "D:\\B\\x.exe"}},
  };
  // clang-format on
  for (const auto& [name, line, expected] : cases) {
    SCOPED_TRACE(name);
    FieldsList list;
    DividingSJIS divider;
    ready(divider, &list, 256);
    const int count = static_cast<int>(expected.size());
    EXPECT_EQ(
        divider.splitAppend(line, static_cast<int>(line.size()), '\\', "x.exe"),
        count);
    EXPECT_EQ(list.size(), count);
    Fields items;
    for (int k = 0; k < list.size(); ++k) items.push_back(list.item(k));
    EXPECT_EQ(items, expected);
    EXPECT_EQ(list.item(list.size()), "") << "nothing beyond the fields";
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DividingSJISTest, ScannerRules) {
  // A separator 0 keeps the defaults: "," with quoted separators kept.
  using Case = std::tuple<const char*, std::string, char, int, Fields, int>;
  // clang-format off
  const Case cases[] = {
      {"defaults split at comma", "a,b;c", 0, 10, {"a", "b;c"}, 2},
      {"quoted separator kept without the drop flag",
       "\"C:\\My,Dir\",D:\\B", 0, 10, {"\"C:\\My,Dir\"", "D:\\B"}, 2},
      {"quote inside a field opens and closes",
       "a\"b;c\"d;e", ';', 10, {"a\"bc\"d", "e"}, 2},
      {"unclosed quote runs to the end", "\"a;b;c", ';', 10, {"\"abc"}, 1},
      {"quote equal to separator acts as a quote",
       "a\"b\"c", '"', 10, {"a\"b\"c"}, 1},
      {"trail byte equal to the separator",
       "\x83\x5C" "a\\b", '\\', 10, {"\x83\x5C" "a", "b"}, 2},
      {"trail byte equal to the quote", "\x81\x22;x", ';', 10, {"\x81\x22", "x"}, 2},
      {"trail byte equal to ';'", "\x88\x3B;x", ';', 10, {"\x88\x3B", "x"}, 2},
      {"trail byte equal to a lead byte", "\x81\x81;x", ';', 10, {"\x81\x81", "x"}, 2},
      {"0xA0 is a lead byte", "\xA0;x", ';', 10, {"\xA0;x"}, 1},
      {"0xFC is a lead byte", "\xFC;x", ';', 10, {"\xFC;x"}, 1},
      {"0xE0 is a lead byte", "\xE0;x", ';', 10, {"\xE0;x"}, 1},
      {"0x80 is a single byte", "\x80;x", ';', 10, {"\x80", "x"}, 2},
      {"0xFD is a single byte", "\xFD;x", ';', 10, {"\xFD", "x"}, 2},
      {"katakana is never the separator", "a\xB1" "b", '\xB1', 10, {"a\xB1" "b"}, 1},
      {"katakana before a separator", "\xDF;\xA1", ';', 10, {"\xDF", "\xA1"}, 2},
      {"lead byte as the last byte is dropped", "ab\x83", ';', 10, {"ab"}, 1},
      {"a dropped lead byte leaves an empty last field", "a;\x83", ';', 10, {"a"}, 1},
      {"a NUL byte is field text", std::string("a\0b;c", 5), ';', 10,
       {std::string("a\0b", 3), "c"}, 2},
      {"field limit stops the scan", "a;b;c;d", ';', 2, {"a", "b"}, 2},
      {"field limit reached by the last field", "a;b", ';', 2, {"a", "b"}, 2},
      {"limit below 1 is taken as 1", "a;b", ';', 0, {"a"}, 1},
      {"negative limit is taken as 1", "a;b", ';', -7, {"a"}, 1},
  };
  // clang-format on
  for (const auto& [name, line, separator, limit, fields, count] : cases) {
    SCOPED_TRACE(name);
    int counted = -1;
    EXPECT_EQ(splitLine(line, separator, limit, &counted), fields);
    EXPECT_EQ(counted, count);
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DividingSJISTest, LengthBoundsTheScan) {
  DividingSJIS divider;
  ready(divider, nullptr, 10);
  EXPECT_EQ(divider.split("a;b;c", 3), 2);
  EXPECT_EQ(queued(divider), (Fields{"a", "b"}));
  // A length beyond the text reads no further than the text.
  DividingSJIS beyond;
  ready(beyond, nullptr, 10);
  EXPECT_EQ(beyond.split("a;b;c", 1000), 3);
  EXPECT_EQ(queued(beyond), (Fields{"a", "b", "c"}));
}

TEST_F(DividingSJISTest, PrepareStartsAFreshQueue) {
  DividingSJIS divider;
  ready(divider, nullptr, 10);
  EXPECT_EQ(divider.split("a;b", 3), 2);
  divider.prepare(nullptr, 10);
  EXPECT_EQ(divider.split("c", 1), 1);
  EXPECT_EQ(queued(divider), (Fields{"c"}));
}

TEST_F(DividingSJISTest, SplitWithoutPrepareDoesNothing) {
  DividingSJIS divider;
  EXPECT_EQ(divider.split("a,b", 3), 0);
  EXPECT_EQ(divider.queue(), nullptr);
}

TEST_F(DividingSJISTest, FieldsBeyondTheQueueAreLostSilently) {
  // The priming item takes one of the ring's 3070 places. The count still
  // reaches the (bounded) limit, though only 3069 fields were kept.
  for (int limit : {3071, 5000}) {
    SCOPED_TRACE(limit);
    FieldsList list;
    DividingSJIS divider;
    EXPECT_EQ(splitNumbered(4000, limit, &list, divider), kFieldIndexLimit);
    EXPECT_EQ(divider.queue()->count(), 3069);
    EXPECT_EQ(list.size(), 3069);
    EXPECT_EQ(list.item(0), "0/n");
    EXPECT_EQ(list.item(3068), "3068/n");
    EXPECT_EQ(list.item(3069), "");
  }
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(DividingSJISTest, ALimitBelowTheQueueCapacityKeepsEveryField) {
  FieldsList list;
  DividingSJIS divider;
  EXPECT_EQ(splitNumbered(300, 256, &list, divider), 256);
  EXPECT_EQ(list.size(), 256);
  EXPECT_EQ(list.item(255), "255/n");
  EXPECT_EQ(list.item(256), "");
}

}  // namespace
