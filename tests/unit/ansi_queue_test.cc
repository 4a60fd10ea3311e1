#include "text/ansi_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::ScratchFolder;

class AnsiStringQueueTest : public ::testing::Test {
 protected:
  ScratchFolder folder_;
};

TEST_F(AnsiStringQueueTest, PrimingItemsAreSkippedByReaders) {
  AnsiStringQueue queue;
  EXPECT_EQ(queue.queue_size(), 0);
  queue.prime(" ", 1);
  const std::string items[] = {"a", "", "c"};
  for (const std::string& item : items) {
    EXPECT_EQ(queue.push(item), AnsiStringQueue::kPushStored);
  }
  EXPECT_EQ(queue.queue_size(), 4);
  EXPECT_EQ(queue.count(), 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(queue.q(k), items[k]);
  EXPECT_TRUE(folder_.errMessages().empty());
}

TEST_F(AnsiStringQueueTest, RingHoldsOneLessThanItsSize) {
  AnsiStringQueue queue;
  for (int i = 0; i < AnsiStringQueue::kQueueRingSize - 1; ++i) {
    ASSERT_EQ(queue.push(std::to_string(i)), AnsiStringQueue::kPushStored)
        << "item " << i;
  }
  EXPECT_EQ(queue.push("lost"), AnsiStringQueue::kPushFull);
  EXPECT_EQ(queue.push("lost too"), AnsiStringQueue::kPushFull);
  EXPECT_EQ(queue.queue_size(), 3070);
  EXPECT_EQ(queue.count(), 3070);
  EXPECT_EQ(queue.q(0), "0");
  EXPECT_EQ(queue.q(3069), "3069");
  // A full ring is no error.
  EXPECT_TRUE(folder_.errMessages().empty());
}

using AnsiStringQueueDeathTest = AnsiStringQueueTest;

TEST_F(AnsiStringQueueDeathTest, NegativeCountIsReportedAndStops) {
  // The child must share the scratch folder to leave its report there.
  GTEST_FLAG_SET(death_test_style, "fast");
  AnsiStringQueue queue;
  // More priming than the ring takes: the offset exceeds the items held.
  queue.prime(" ", AnsiStringQueue::kQueueRingSize);
  EXPECT_EXIT((void)queue.count(), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(
      folder_.errMessages(),
      (std::vector<std::string>{"queue_size - offset error-115: count < 0"}));
}

TEST_F(AnsiStringQueueDeathTest, ReadingAnEmptySlotNamesItAndStops) {
  GTEST_FLAG_SET(death_test_style, "fast");
  // Slot = (head + offset + index) mod 3071, never negative.
  const std::pair<int, std::string> cases[] = {
      {1, "q() error-116: occupied[ 2 ] = False"},
      {-5, "q() error-116: occupied[ 3067 ] = False"},
      {2 * 3071 + 5, "q() error-116: occupied[ 6 ] = False"},
  };
  for (const auto& [index, message] : cases) {
    SCOPED_TRACE(index);
    AnsiStringQueue queue;
    queue.prime(" ", 1);
    ASSERT_EQ(queue.push("a"), AnsiStringQueue::kPushStored);
    EXPECT_EXIT((void)queue.q(index), ::testing::ExitedWithCode(1), "");
    const std::vector<std::string> messages = folder_.errMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), message);
  }
}

}  // namespace
