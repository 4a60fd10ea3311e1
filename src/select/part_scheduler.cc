#include "select/part_scheduler.h"

#include <atomic>

namespace parts {

namespace {

// Test knobs (setPartsForTesting), read at the start of every scan.
std::atomic<std::int64_t> g_least_part_units{0};  // 0: the usual sizes
std::atomic<std::size_t> g_parts_wanted{0};       // 0: one per processor

// Where the cut searched from `from` (a position counted from `begin`)
// falls: read a little at a time, as a line is usually short, up to
// kCutSearchUnits. -1 when there is none, or the file cannot be read;
// *searched is then where the search ended, before which no later plan
// needs to look again.
std::int64_t searchCut(const platform::File& file, WideCoding coding,
                       std::int64_t begin, std::int64_t from,
                       std::int64_t positions, std::uint16_t* window,
                       std::int64_t* searched) {
  *searched = positions;
  const std::int64_t width = wide_coding::positionBytes(coding);
  constexpr std::size_t kFirstLook = 2048;
  for (std::size_t look = kFirstLook;; look *= 4) {
    if (look > kCutSearchUnits) look = kCutSearchUnits;
    std::size_t got = 0;
    if (file.readAt(begin + from * width, window,
                    look * static_cast<std::size_t>(width),
                    &got) != platform::Status::kOk) {
      return -1;  // nothing more is searched
    }
    const std::size_t n = got / static_cast<std::size_t>(width);
    if (width == 1) {
      // A line feed of UTF-8 or Shift_JIS is the byte 0A and nothing else
      // (no second byte of a Shift_JIS code is below 40): bytes widened
      // to units (from the last, which moves furthest) cut where it is.
      const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(window);
      for (std::size_t k = n; k-- > 0;) window[k] = bytes[k];
    } else {
      wide_coding::toHostOrder(coding, window, n);
    }
    const std::int64_t start = cutPoint(window, n, from, positions);
    *searched = from + static_cast<std::int64_t>(n);
    if (start >= 0 || look == kCutSearchUnits || n < look) return start;
  }
}

}  // namespace

void setPartsForTesting(std::int64_t least_part_units, std::size_t parts) {
  g_least_part_units.store(least_part_units > 0 ? least_part_units : 0);
  g_parts_wanted.store(parts);
}

bool smallChunksForTesting() { return g_least_part_units.load() > 0; }

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

void plannedChunks(std::int64_t positions, std::int64_t width,
                   std::int64_t* chunk_positions, std::size_t* threads) {
  const std::int64_t least_for_testing = g_least_part_units.load();
  const std::size_t wanted = g_parts_wanted.load();
  // A thread for every kLeastPartUnits units: a small file is one thread's
  // work, where starting others costs more than they gain, and need not
  // even ask how many processors there are.
  const std::int64_t least =
      least_for_testing > 0 ? least_for_testing : kLeastPartUnits * 2 / width;
  const std::size_t planned =
      positions / least < 2
          ? 1
          : plannedPartCount(positions,
                             wanted != 0 ? wanted : platform::processorCount(),
                             least);
  *threads = planned < 1 ? 1 : planned;
  // Tests ask for small chunks to reach many joins with small files; more
  // than a few dozen of them would only repeat the same joins, slowly.
  constexpr std::int64_t kMostChunksForTesting = 64;
  const std::int64_t least_chunk =
      (positions + kMostChunksForTesting - 1) / kMostChunksForTesting;
  *chunk_positions = least_for_testing <= 0            ? kChunkBytes / width
                     : least_for_testing > least_chunk ? least_for_testing
                                                       : least_chunk;
}

bool findChunkStarts(const platform::File& file, WideCoding coding,
                     std::int64_t begin, std::int64_t end,
                     std::int64_t chunk_positions,
                     std::vector<std::int64_t>* starts) {
  starts->clear();
  const std::int64_t width = wide_coding::positionBytes(coding);
  const std::int64_t positions = (end - begin) / width;
  const std::int64_t chunk = chunk_positions < 1 ? 1 : chunk_positions;
  const std::int64_t count = positions / chunk;
  if (count < 2) return true;
  std::unique_ptr<std::uint16_t[]> window(new (std::nothrow)
                                              std::uint16_t[kCutSearchUnits]);
  if (!window) return false;
  try {
    starts->reserve(static_cast<std::size_t>(count - 1));
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::int64_t previous = 0;
  for (std::size_t i = 1; i < static_cast<std::size_t>(count); ++i) {
    const std::int64_t from =
        cutSearchFrom(0, positions, static_cast<std::size_t>(count), i);
    // A long line may have carried the last cut past this plan.
    if (from < previous) continue;
    std::int64_t searched = 0;
    const std::int64_t start = searchCut(file, coding, begin, from, positions,
                                         window.get(), &searched);
    if (start >= 0) {
      starts->push_back(begin + start * width);
      previous = start;
    } else {
      // A line longer than the search: the plans that fall in what was
      // searched would only search it again (many small chunks of one
      // long line would cost the square of its length).
      previous = searched;
    }
  }
  return true;
}

}  // namespace parts
