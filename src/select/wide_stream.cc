#include "select/wide_stream.h"

#include <atomic>

namespace parts {

namespace {

std::atomic<BlockReadHook> g_block_read_hook{nullptr};

}  // namespace

void setBlockReadHookForTesting(BlockReadHook hook) {
  g_block_read_hook.store(hook);
}

BlockReadHook blockReadHook() {
  return g_block_read_hook.load(std::memory_order_relaxed);
}

}  // namespace parts
