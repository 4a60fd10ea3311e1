// DividingSJIS: splits Shift_JIS (code page 932) byte lines into fields.
#ifndef PELMORA_TEXT_DIVIDE_SJIS_H_
#define PELMORA_TEXT_DIVIDE_SJIS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "text/ansi_queue.h"
#include "text/fields_array.h"

/// Divides one line at a one-byte separator, honouring a quote byte and
/// never breaking a two-byte character apart, and hands the fields to a
/// FieldsList, optionally with a character and a suffix appended to each.
///
/// Calling order: create, setSeparator (or keep the defaults), prepare,
/// splitAppend (or split) once, read the list, destroy. A second split
/// without a new prepare sees the first line's fields again, because the
/// queue is never emptied.
///
/// Scanner rules:
///  - bytes 0x81..0xA0 and 0xE0..0xFC are lead bytes: the byte after one is
///    its trail byte whatever its value, and the pair goes into the field as
///    it is; a lead byte that is the last byte of the line is dropped;
///  - half-width katakana 0xA1..0xDF are never taken as quote or separator;
///  - the quote test comes before the separator test, and quote bytes stay
///    in the field text;
///  - a separator inside quotes is dropped when the drop flag is set (as
///    setSeparator sets it) and kept otherwise;
///  - an empty last field is neither stored nor counted, so "A;B;" has two
///    fields and an empty line none; an empty field elsewhere is stored;
///  - scanning stops when the field number passes the field limit;
///  - fields beyond the queue's capacity (kQueueRingSize - 2 after the
///    priming item) are lost without a message; the count still covers them.
class DividingSJIS {
 public:
  static constexpr unsigned char kDefaultQuote = 0x22;      // '"'
  static constexpr unsigned char kDefaultSeparator = 0x2C;  // ','
  /// Wanted flags, indexed by field number 0..kFieldIndexLimit.
  static constexpr std::int32_t kWantedSlots = 3072;

  DividingSJIS() = default;
  DividingSJIS(const DividingSJIS&) = delete;
  DividingSJIS& operator=(const DividingSJIS&) = delete;

  /// Separator := c; quote := 0x22; quoted separators are dropped.
  void setSeparator(char c);
  /// Remembers the list (not owned; nullptr keeps the fields in the queue
  /// only), sets the field limit and creates a fresh, primed queue. The limit
  /// is bounded to 1..kFieldIndexLimit: the flags have no room
  /// for more, and a limit below 1 would count a field it never stored.
  void prepare(FieldsList* list, std::int32_t limit);
  /// Scans the first length bytes of line (bounded to its size) and queues
  /// the fields; returns the field count. Returns 0 and does nothing
  /// without a prepare.
  std::int32_t split(const std::string& line, std::int32_t length);
  /// split, then stores field k followed by c and suffix as item k of the
  /// list for every queued field; returns the field count of the split.
  std::int32_t splitAppend(const std::string& line, std::int32_t length, char c,
                           const std::string& suffix);

  /// The field limit before a split, the field count after it.
  std::int32_t fieldCount() const { return field_count_; }
  /// The queue of the last prepare; nullptr before one.
  const AnsiStringQueue* queue() const { return queue_.get(); }

 private:
  std::unique_ptr<AnsiStringQueue> queue_;
  std::string priming_text_ = " ";
  std::string field_;  // grows with the field; no fixed cap
  FieldsList* list_ = nullptr;
  std::int32_t field_count_ = 0;
  std::array<bool, kWantedSlots> wanted_{};
  unsigned char quote_ = kDefaultQuote;
  bool drop_quoted_separator_ = false;
  unsigned char separator_ = kDefaultSeparator;
};

#endif  // PELMORA_TEXT_DIVIDE_SJIS_H_
