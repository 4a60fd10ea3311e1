#include "text/fields_array.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::ScratchFolder;

class FieldsListTest : public ::testing::Test {
 protected:
  ScratchFolder folder_;
};

TEST_F(FieldsListTest, StoresAndReadsEveryValidIndex) {
  FieldsList list;
  EXPECT_EQ(list.size(), 0);
  EXPECT_EQ(list.item(0), "");
  list.item("first", 0);
  list.item("last", kFieldIndexLimit - 1);
  list.item("again", 0);
  EXPECT_EQ(list.item(0), "again");
  EXPECT_EQ(list.item(3070), "last");
  EXPECT_EQ(list.item(1), "");
  // size counts stores, not distinct slots.
  EXPECT_EQ(list.size(), 3);
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(FieldsListTest, BadReadIndexIsReportedAndYieldsEmpty) {
  const std::pair<int, std::string> cases[] = {
      {-1, "item() error-210: i < 0"},
      {-2147483647 - 1, "item() error-210: i < 0"},
      {3071, "item() error-211: >= UPPER_LIMIT_TO_FIELD_NUMBER"},
      {3072, "item() error-211: >= UPPER_LIMIT_TO_FIELD_NUMBER"},
  };
  FieldsList list;
  list.item("kept", 3070);
  std::vector<std::string> expected;
  for (const auto& [index, message] : cases) {
    SCOPED_TRACE(index);
    EXPECT_EQ(list.item(index), "");
    expected.push_back(message);
    EXPECT_EQ(folder_.errMessages(), expected);
  }
  EXPECT_EQ(list.item(3070), "kept");
}

TEST_F(FieldsListTest, BadStoreIndexIsReportedAndChangesNothing) {
  const std::pair<int, std::string> cases[] = {
      {-1, "item() error-212: i < 0"},
      {3071, "item() error-213: >= UPPER_LIMIT_TO_FIELD_NUMBER"},
      {2147483647, "item() error-213: >= UPPER_LIMIT_TO_FIELD_NUMBER"},
  };
  FieldsList list;
  list.item("kept", 0);
  std::vector<std::string> expected;
  for (const auto& [index, message] : cases) {
    SCOPED_TRACE(index);
    list.item("bad", index);
    expected.push_back(message);
    EXPECT_EQ(folder_.errMessages(), expected);
    EXPECT_EQ(list.size(), 1);
  }
  EXPECT_EQ(list.item(0), "kept");
  EXPECT_EQ(list.item(3070), "");
}

}  // namespace
