#include "select/part_scheduler.h"

#include <atomic>

namespace parts {

namespace {

// Test knobs (setPartsForTesting), read at the start of every scan.
std::atomic<std::int64_t> g_least_part_units{kLeastPartUnits};
std::atomic<std::size_t> g_parts_wanted{0};  // 0: one per processor

}  // namespace

void setPartsForTesting(std::int64_t least_part_units, std::size_t parts) {
  g_least_part_units.store(least_part_units > 0 ? least_part_units
                                                : kLeastPartUnits);
  g_parts_wanted.store(parts);
}

std::size_t plannedPartCount(std::int64_t units, std::size_t wanted,
                             std::int64_t least_part_units) {
  std::size_t parts = wanted > kMostParts ? kMostParts : wanted;
  const std::int64_t least = least_part_units < 1 ? 1 : least_part_units;
  if (static_cast<std::int64_t>(parts) > units / least) {
    parts = static_cast<std::size_t>(units / least);
  }
  return parts;
}

std::int64_t cutSearchFrom(std::int64_t begin, std::int64_t units,
                           std::size_t parts, std::size_t index) {
  return begin +
         units / static_cast<std::int64_t>(parts) *
             static_cast<std::int64_t>(index) -
         1;
}

std::int64_t cutPoint(const std::uint16_t* window, std::size_t n,
                      std::int64_t from, std::int64_t end) {
  for (std::size_t k = 1; k < n; ++k) {
    const std::int64_t start = from + static_cast<std::int64_t>(k) + 1;
    if (start >= end) break;
    if (window[k] == scanners::kLf && (window[k - 1] & 0xFC00) != 0xD800) {
      return start;
    }
  }
  return -1;
}

PartStarts findPartStarts(const platform::File& file, WideCoding coding,
                          std::int64_t begin, std::int64_t end) {
  PartStarts starts;
  // Planned and cut in positions of the scan (code units, or UTF-8 bytes),
  // counted from `begin`.
  const std::int64_t width = wide_coding::positionBytes(coding);
  const std::int64_t positions = (end - begin) / width;
  const std::size_t wanted = g_parts_wanted.load();
  const std::size_t parts = plannedPartCount(
      positions, wanted != 0 ? wanted : platform::processorCount(),
      g_least_part_units.load());
  if (parts < 2) return starts;
  std::unique_ptr<std::uint16_t[]> window(new (std::nothrow)
                                              std::uint16_t[kCutSearchUnits]);
  if (!window) return starts;
  std::int64_t previous = 0;
  for (std::size_t i = 1; i < parts; ++i) {
    const std::int64_t from = cutSearchFrom(0, positions, parts, i);
    // A long line may have carried the last cut past this plan.
    if (from < previous) continue;
    std::size_t got = 0;
    if (file.readAt(begin + from * width, window.get(),
                    kCutSearchUnits * static_cast<std::size_t>(width),
                    &got) != platform::Status::kOk) {
      break;
    }
    const std::size_t n = got / static_cast<std::size_t>(width);
    if (wide_coding::positionBytes(coding) == 1) {
      // A line feed of UTF-8 or Shift_JIS is the byte 0A and nothing else
      // (no second byte of a Shift_JIS code is below 40): bytes widened
      // to units (from the last, which moves furthest) cut where it is.
      const std::uint8_t* bytes =
          reinterpret_cast<const std::uint8_t*>(window.get());
      for (std::size_t k = n; k-- > 0;) window[k] = bytes[k];
    } else {
      wide_coding::toHostOrder(coding, window.get(), n);
    }
    const std::int64_t start = cutPoint(window.get(), n, from, positions);
    if (start >= 0) {
      starts.at[starts.count++] = begin + start * width;
      previous = start;
    }
  }
  return starts;
}

}  // namespace parts
