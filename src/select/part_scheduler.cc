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

PartStarts findPartStarts(const platform::File& file, std::int64_t begin,
                          std::int64_t end) {
  PartStarts starts;
  const std::int64_t units = end - begin;
  const std::size_t wanted = g_parts_wanted.load();
  const std::size_t parts =
      plannedPartCount(units, wanted != 0 ? wanted : platform::processorCount(),
                       g_least_part_units.load());
  if (parts < 2) return starts;
  std::unique_ptr<std::uint16_t[]> window(new (std::nothrow)
                                              std::uint16_t[kCutSearchUnits]);
  if (!window) return starts;
  std::int64_t previous = begin;
  for (std::size_t i = 1; i < parts; ++i) {
    const std::int64_t from = cutSearchFrom(begin, units, parts, i);
    // A long line may have carried the last cut past this plan.
    if (from < previous) continue;
    std::size_t got = 0;
    if (file.readAt(from * 2, window.get(), kCutSearchUnits * 2, &got) !=
        platform::Status::kOk) {
      break;
    }
    const std::size_t n = got / 2;
    toHostOrder(window.get(), n);
    const std::int64_t start = cutPoint(window.get(), n, from, end);
    if (start >= 0) {
      starts.at[starts.count++] = start;
      previous = start;
    }
  }
  return starts;
}

}  // namespace parts
