#include "text/ansi_queue.h"

#include "diagnostics/error_text.h"

// The slots live on the heap: the splitter and its list already hold two
// such arrays, and a 32-bit Windows stack is only 1 MiB.
AnsiStringQueue::AnsiStringQueue() : items_(kQueueSlots) {}

void AnsiStringQueue::prime(const std::string& text, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    // A priming item that does not fit shows up later as a negative count.
    (void)push(text);
  }
  offset_ = n;
}

std::int32_t AnsiStringQueue::push(const std::string& s) {
  const std::int32_t next = (tail_ + 1) % kQueueRingSize;
  if (next == head_) return kPushFull;
  const auto slot = static_cast<std::size_t>(tail_);
  items_[slot] = s;
  occupied_[slot] = true;
  tail_ = next;
  return kPushStored;
}

std::int32_t AnsiStringQueue::queue_size() const {
  if (head_ < tail_) return tail_ - head_;
  if (head_ == tail_) return 0;
  return tail_ + kQueueRingSize - head_;
}

std::int32_t AnsiStringQueue::count() const {
  const std::int32_t n = queue_size() - offset_;
  if (n < 0) {
    diagnostics::report("queue_size - offset error-115: count < 0");
    diagnostics::stop(1);
  }
  return n;
}

const std::string& AnsiStringQueue::q(std::int32_t i) const {
  // 64-bit sum and a non-negative remainder: a wild i must land on some
  // slot of the ring (and fail there), never outside the arrays.
  const std::int64_t sum = std::int64_t{head_} + offset_ + i;
  const std::int64_t k =
      ((sum % kQueueRingSize) + kQueueRingSize) % kQueueRingSize;
  const auto slot = static_cast<std::size_t>(k);
  if (!occupied_[slot]) {
    diagnostics::report("q() error-116: occupied[ " + std::to_string(k) +
                        " ] = False");
    diagnostics::stop(1);
  }
  return items_[slot];
}
