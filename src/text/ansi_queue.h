// AnsiStringQueue: a fixed ring of strings handing on one line's fields.
// The field splitter hands the fields of a line over through it.
#ifndef PELMORA_TEXT_ANSI_QUEUE_H_
#define PELMORA_TEXT_ANSI_QUEUE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/// Items live in slots head .. tail - 1 (modulo kQueueRingSize). Nothing is
/// ever removed: a queue serves one line and is then freed, so it holds at
/// most kQueueRingSize - 1 items in its whole life.
///
/// Priming stores items that the readers skip (count() and q() start after
/// them). Reading past what was stored, or a count that would be negative,
/// is a fault of the caller: it is reported and stops the program with
/// exit code 1.
class AnsiStringQueue {
 public:
  /// The ring's modulus; the ring is full at kQueueRingSize - 1 items.
  static constexpr std::int32_t kQueueRingSize = 3071;
  /// String and flag slots held; the last one lies outside the ring.
  static constexpr std::int32_t kQueueSlots = 3072;

  /// push() results.
  static constexpr std::int32_t kPushStored = 0;  ///< s is in the ring
  static constexpr std::int32_t kPushFull = 3;    ///< ring full, s is lost

  AnsiStringQueue();
  AnsiStringQueue(const AnsiStringQueue&) = delete;
  AnsiStringQueue& operator=(const AnsiStringQueue&) = delete;

  /// Pushes text n times and makes those n items the skipped prefix.
  void prime(const std::string& text, std::int32_t n);
  /// Stores s at the tail; kPushFull (nothing stored) when the ring is full.
  [[nodiscard]] std::int32_t push(const std::string& s);
  /// The number of items in the ring, priming items included.
  std::int32_t queue_size() const;
  /// The number of items stored after priming. A negative count (more
  /// priming asked for than the ring took) reports error 115 and stops.
  std::int32_t count() const;
  /// The i-th item after the priming items. A slot that holds no item
  /// reports error 116 with the slot number and stops.
  const std::string& q(std::int32_t i) const;

 private:
  std::array<bool, kQueueSlots> occupied_{};
  std::int32_t offset_ = 0;
  std::vector<std::string> items_;  // kQueueSlots entries, sized once
  std::int32_t head_ = 0;
  std::int32_t tail_ = 0;
};

#endif  // PELMORA_TEXT_ANSI_QUEUE_H_
