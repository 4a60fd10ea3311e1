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

constexpr const char* kTarget = "fuzz_splitter";

// Mode bits of byte 0.
constexpr std::uint8_t kUseSetSeparator = 0x01;
constexpr std::uint8_t kNoList = 0x02;
constexpr std::uint8_t kSplitUnprepared = 0x04;
// Bits 3..5 choose the length handed to the split.
constexpr int kLengthShift = 3;

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

bool isKatakana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }
bool isLead(unsigned char b) {
  return (b >= 0x81 && b <= 0xA0) || (b >= 0xE0 && b <= 0xFC);
}

Model split(const std::string& line, std::size_t end, unsigned char separator,
            unsigned char quote, bool drop_quoted, std::int32_t limit) {
  Model m;
  auto push = [&m](const std::string& field) {
    if (m.fields.size() < kQueueFields) m.fields.push_back(field);
  };
  std::string field;
  std::int32_t f = 1;
  bool trail = false;
  bool quoted = false;
  unsigned char lead = ',';
  for (std::size_t at = 0; at < end; ++at) {
    const auto b = static_cast<unsigned char>(line[at]);
    if (trail) {
      field += static_cast<char>(lead);
      field += static_cast<char>(b);
      trail = false;
    } else if (isKatakana(b)) {
      field += static_cast<char>(b);
    } else if (isLead(b)) {
      lead = b;
      trail = true;
    } else if (quoted) {
      if (b == quote) {
        quoted = false;
        field += static_cast<char>(b);
      } else if (b == separator) {
        if (!drop_quoted) field += static_cast<char>(b);
      } else {
        field += static_cast<char>(b);
      }
    } else if (b == quote) {
      quoted = true;
      field += static_cast<char>(b);
    } else if (b == separator) {
      push(field);
      field.clear();
      ++f;
      if (f > limit) break;
    } else {
      field += static_cast<char>(b);
    }
  }
  if (!field.empty()) {
    push(field);
  } else {
    --f;
  }
  m.count = f;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enterWorkFolder();
  fuzzing::tidyWorkFolder();
  if (size < 5) return 0;

  const std::uint8_t mode = data[0];
  const auto separator = static_cast<char>(data[1]);
  const std::int32_t requested =
      kLimits[data[2] % (sizeof kLimits / sizeof kLimits[0])];
  const auto appended = static_cast<char>(data[3]);
  std::size_t at = 5;
  const std::size_t suffix_length = data[4] % 8u;
  if (size - at < suffix_length) return 0;
  const std::string suffix(reinterpret_cast<const char*>(data + at),
                           suffix_length);
  at += suffix_length;
  const std::string line(reinterpret_cast<const char*>(data + at), size - at);

  std::int32_t length = 0;
  const auto whole = static_cast<std::int32_t>(line.size());
  switch ((mode >> kLengthShift) & 7) {
    case 0:
    case 1:
    case 2:
      length = whole;
      break;
    case 3:
      length = whole / 2;
      break;
    case 4:
      length = whole + 9;  // longer than the line: bounded to it
      break;
    case 5:
      length = -1;
      break;
    case 6:
      length = 2147483647;
      break;
    default:
      length = whole > 0 ? whole - 1 : 0;
      break;
  }

  try {
    if (mode & kSplitUnprepared) {
      DividingSJIS idle;
      if (idle.split(line, length) != 0 || idle.queue() != nullptr) {
        fuzzing::finding(kTarget, "a split without prepare did something");
      }
    }

    DividingSJIS divider;
    const bool drop_quoted = (mode & kUseSetSeparator) != 0;
    if (drop_quoted) divider.setSeparator(separator);
    const unsigned char used_separator =
        drop_quoted ? static_cast<unsigned char>(separator)
                    : DividingSJIS::kDefaultSeparator;

    FieldsList list;
    FieldsList* target = (mode & kNoList) ? nullptr : &list;
    divider.prepare(target, requested);
    const std::int32_t limit = divider.fieldCount();
    if (limit < 1 || limit > kFieldIndexLimit) {
      fuzzing::finding(kTarget, "prepare left the limit at " +
                                    std::to_string(limit) + " for " +
                                    std::to_string(requested));
    }

    const std::int32_t count =
        divider.splitAppend(line, length, appended, suffix);

    const std::size_t end =
        length <= 0 ? 0
                    : std::min(line.size(), static_cast<std::size_t>(length));
    const Model expected =
        split(line, end, used_separator, DividingSJIS::kDefaultQuote,
              drop_quoted, limit);
    if (count != expected.count || divider.fieldCount() != expected.count) {
      fuzzing::finding(kTarget, "field count " + std::to_string(count) +
                                    ", expected " +
                                    std::to_string(expected.count));
    }
    const auto kept = static_cast<std::int32_t>(expected.fields.size());
    if (divider.queue() == nullptr || divider.queue()->count() != kept) {
      fuzzing::finding(kTarget, "queue does not hold the fields");
    }
    if (target != nullptr) {
      if (list.size() != kept) {
        fuzzing::finding(kTarget, "list size " + std::to_string(list.size()) +
                                      ", expected " + std::to_string(kept));
      }
      for (std::int32_t k = 0; k < kept; ++k) {
        const std::string want =
            expected.fields[static_cast<std::size_t>(k)] + appended + suffix;
        const std::string got = list.item(k);
        if (got != want) {
          fuzzing::finding(kTarget, "item " + std::to_string(k) + " is " +
                                        fuzzing::hex(got) + ", expected " +
                                        fuzzing::hex(want));
        }
      }
      if (kept < kFieldIndexLimit && !list.item(kept).empty()) {
        fuzzing::finding(kTarget, "a slot past the fields was filled");
      }
    }
  } catch (const fuzzing::FuzzStop&) {
    // The queue stops only when its caller misuses it; the splitter is its
    // caller, so any stop here is the splitter's fault.
    fuzzing::finding(kTarget, "the splitter drove its queue into a stop");
  }
  return 0;
}
