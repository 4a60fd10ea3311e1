#include "select/wide_stream.h"

#include <atomic>
#include <cstring>

namespace parts {

namespace {

std::atomic<BlockReadHook> g_block_read_hook{nullptr};

bool hostIsLittleEndian() {
  const std::uint16_t probe = 1;
  std::uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

}  // namespace

void setBlockReadHookForTesting(BlockReadHook hook) {
  g_block_read_hook.store(hook);
}

BlockReadHook blockReadHook() {
  return g_block_read_hook.load(std::memory_order_relaxed);
}

void toHostOrder(std::uint16_t* units, std::size_t n) {
  if (hostIsLittleEndian()) return;
  for (std::size_t i = 0; i < n; ++i) {
    units[i] = static_cast<std::uint16_t>((units[i] >> 8) | (units[i] << 8));
  }
}

}  // namespace parts
