#include "select/output_blocks.h"

#include <new>
#include <utility>

namespace {

// Output blocks after the first: each holds the bytes of many read blocks,
// and takes huge pages where the system has them.
constexpr std::size_t kOutputBlockBytes = std::size_t{1} << 22;
// The first block stays below a huge page: most runs convert a small file,
// whose output fills a page or two of it, and a huge page would be cleared
// whole, 2 MiB, for those. Its pages are faulted in only as they are
// written, so a first block this large costs a small output nothing, and
// a large output its first megabyte in ordinary pages.
constexpr std::size_t kFirstBlockBytes = std::size_t{1} << 20;

}  // namespace

OutputBlocks::OutputBlocks(OutputBlocks&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      cursor_(other.cursor_),
      limit_(other.limit_) {
  other.blocks_.clear();
  other.cursor_ = nullptr;
  other.limit_ = nullptr;
}

OutputBlocks& OutputBlocks::operator=(OutputBlocks&& other) noexcept {
  if (this != &other) {
    blocks_ = std::move(other.blocks_);
    cursor_ = other.cursor_;
    limit_ = other.limit_;
    other.blocks_.clear();
    other.cursor_ = nullptr;
    other.limit_ = nullptr;
  }
  return *this;
}

bool OutputBlocks::reserve(std::size_t bytes) {
  if (static_cast<std::size_t>(limit_ - cursor_) >= bytes) return true;
  closeCurrent();
  const std::size_t planned =
      blocks_.empty() ? kFirstBlockBytes : kOutputBlockBytes;
  const std::size_t capacity = bytes > planned ? bytes : planned;
  Block block;
  if (!block.memory.allocate(capacity)) return false;
  try {
    blocks_.push_back(std::move(block));
  } catch (const std::bad_alloc&) {
    return false;  // the cursor stays at the end of the last block
  }
  cursor_ = blocks_.back().memory.data();
  limit_ = cursor_ + blocks_.back().memory.size();
  return true;
}

bool OutputBlocks::append(OutputBlocks&& other) {
  if (other.blocks_.empty()) return true;
  if (blocks_.empty()) {
    *this = std::move(other);
    return true;
  }
  closeCurrent();
  other.closeCurrent();
  try {
    blocks_.reserve(blocks_.size() + other.blocks_.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (Block& block : other.blocks_) blocks_.push_back(std::move(block));
  cursor_ = other.cursor_;
  limit_ = other.limit_;
  other = OutputBlocks();
  return true;
}

void OutputBlocks::clear() {
  if (blocks_.empty()) return;
  blocks_.erase(blocks_.begin() + 1, blocks_.end());
  blocks_[0].used = 0;
  cursor_ = blocks_[0].memory.data();
  limit_ = cursor_ + blocks_[0].memory.size();
}

void OutputBlocks::closeCurrent() {
  if (!blocks_.empty()) blocks_.back().used = usedIn(blocks_.size() - 1);
}

std::size_t OutputBlocks::usedIn(std::size_t i) const {
  return i + 1 == blocks_.size()
             ? static_cast<std::size_t>(cursor_ - blocks_[i].memory.data())
             : blocks_[i].used;
}

std::int64_t OutputBlocks::size() const {
  std::int64_t total = 0;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    total += static_cast<std::int64_t>(usedIn(i));
  }
  return total;
}
