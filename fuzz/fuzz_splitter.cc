// DividingSJIS on any bytes, compared with a straightforward model of the
// scanner: the same field count, the same fields in the list, nothing
// stored past them, and never one of the queue's stops.
//
// Input: byte 0 mode bits, byte 1 separator, byte 2 field limit choice,
// byte 3 appended character, byte 4 suffix length (0..7), the suffix, then
// the line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text/ansi_queue.h"
#include "text/divide_sjis.h"
#include "text/fields_array.h"

namespace {

using fuzzing::finding;

// Mode bits of byte 0; bits 3..5 choose the length handed to the split.
constexpr std::uint8_t kUseSetSeparator = 0x01;
constexpr std::uint8_t kNoList = 0x02;
constexpr std::uint8_t kSplitUnprepared = 0x04;

// Limits around the edges the splitter must bound: below 1, the wanted
// flags' last slot, the ring's capacity.
constexpr std::int32_t kLimits[] = {
    1,    2,    3,    4,    5, 8,  16, 255,        3068,
    3069, 3070, 3071, 3072, 0, -1, -7, 2147483647, -2147483647 - 1};

// Fields the ring can hand over: its size less the slot that tells full
// from empty, less the priming item.
constexpr std::size_t kQueueFields = AnsiStringQueue::kQueueRingSize - 2;

struct Model {
  std::int32_t count = 0;
  std::vector<std::string> fields;  // those the ring keeps
};

Model split(const std::string& line, std::size_t end, unsigned char separator,
            unsigned char quote, bool drop_quoted, std::int32_t limit) {
  Model m;
  std::string field;
  auto push = [&] {
    if (m.fields.size() < kQueueFields) m.fields.push_back(field);
    field.clear();
  };
  std::int32_t f = 1;
  bool trail = false, quoted = false;
  char lead = ',';
  for (std::size_t at = 0; at < end; ++at) {
    const char c = line[at];
    const auto b = static_cast<unsigned char>(c);
    if (trail) {  // a lead byte at the end of the line is never stored
      field += {lead, c};
      trail = false;
    } else if (b >= 0xA1 && b <= 0xDF) {  // half-width katakana
      field += c;
    } else if ((b >= 0x81 && b <= 0xA0) || (b >= 0xE0 && b <= 0xFC)) {
      lead = c;
      trail = true;
    } else if (b == quote) {
      quoted = !quoted;
      field += c;
    } else if (b == separator && quoted) {
      if (!drop_quoted) field += c;
    } else if (b == separator) {
      push();
      if (++f > limit) break;
    } else {
      field += c;
    }
  }
  field.empty() ? void(--f) : push();
  m.count = f;
  return m;
}

void check(std::uint8_t mode, char separator, std::int32_t requested,
           char appended, const std::string& suffix, const std::string& line) {
  const auto whole = static_cast<std::int32_t>(line.size());
  // Longer than the line, below 1 and the largest are bounded to the line.
  const std::int32_t lengths[8] = {
      whole,     whole, whole,      whole / 2,
      whole + 9, -1,    2147483647, std::max(whole - 1, 0)};
  const std::int32_t length = lengths[(mode >> 3) & 7];

  if (mode & kSplitUnprepared) {
    DividingSJIS idle;
    if (idle.split(line, length) != 0 || idle.queue() != nullptr) {
      finding("a split without prepare did something");
    }
  }
  DividingSJIS divider;
  const bool drop_quoted = (mode & kUseSetSeparator) != 0;
  if (drop_quoted) divider.setSeparator(separator);
  FieldsList list;
  FieldsList* target = (mode & kNoList) ? nullptr : &list;
  divider.prepare(target, requested);
  const std::int32_t limit = divider.fieldCount();
  if (limit < 1 || limit > kFieldIndexLimit) {
    finding("prepare left the limit at " + std::to_string(limit) + " for " +
            std::to_string(requested));
  }
  const std::int32_t count =
      divider.splitAppend(line, length, appended, suffix);

  const std::size_t end =
      length <= 0 ? 0 : std::min(line.size(), static_cast<std::size_t>(length));
  const Model want = split(line, end,
                           drop_quoted ? static_cast<unsigned char>(separator)
                                       : DividingSJIS::kDefaultSeparator,
                           DividingSJIS::kDefaultQuote, drop_quoted, limit);
  if (count != want.count || divider.fieldCount() != want.count) {
    finding("field count " + std::to_string(count) + ", expected " +
            std::to_string(want.count));
  }
  const auto kept = static_cast<std::int32_t>(want.fields.size());
  if (divider.queue() == nullptr || divider.queue()->count() != kept) {
    finding("queue does not hold the fields");
  }
  if (target == nullptr) return;
  if (list.size() != kept) {
    finding("list size " + std::to_string(list.size()) + ", expected " +
            std::to_string(kept));
  }
  for (std::int32_t k = 0; k < kept; ++k) {
    const std::string expected =
        want.fields[static_cast<std::size_t>(k)] + appended + suffix;
    if (list.item(k) != expected) {
      finding("item " + std::to_string(k) + " is " +
              fuzzing::hex(list.item(k)) + ", expected " +
              fuzzing::hex(expected));
    }
  }
  if (kept < kFieldIndexLimit && !list.item(kept).empty()) {
    finding("a slot past the fields was filled");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enter("fuzz_splitter");
  if (size < 5 || size - 5 < data[4] % 8u) return 0;
  const std::size_t suffix_length = data[4] % 8u;
  const std::int32_t requested =
      kLimits[data[2] % (sizeof kLimits / sizeof kLimits[0])];
  // The queue stops only when its caller misuses it; the splitter is its
  // caller, so any stop here is the splitter's fault.
  fuzzing::mustNotStop("the splitter drove its queue into a stop", [&] {
    check(data[0], static_cast<char>(data[1]), requested,
          static_cast<char>(data[3]), fuzzing::text(data + 5, suffix_length),
          fuzzing::text(data + 5 + suffix_length, size - 5 - suffix_length));
  });
  return 0;
}
