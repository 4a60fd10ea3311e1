#include "text/divide_sjis.h"

#include <algorithm>

namespace {

bool isHalfWidthKatakana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }

// 0xA0 counts as a lead byte although code page 932 assigns it nothing:
// whatever follows it is taken along, so the split never lands inside it.
bool isLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0xA0) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace

void DividingSJIS::setSeparator(char c) {
  separator_ = static_cast<unsigned char>(c);
  quote_ = kDefaultQuote;
  drop_quoted_separator_ = true;
}

void DividingSJIS::prepare(FieldsList* list, std::int32_t limit) {
  list_ = list;
  field_count_ = std::clamp(limit, std::int32_t{1}, kFieldIndexLimit);
  wanted_.fill(false);
  std::fill_n(wanted_.begin(), field_count_ + 1, true);
  queue_ = std::make_unique<AnsiStringQueue>();
  // The priming item is skipped by every reader; it costs one ring place.
  queue_->prime(priming_text_, 1);
}

std::int32_t DividingSJIS::split(const std::string& line, std::int32_t length) {
  if (!queue_) return 0;
  const std::int32_t limit = field_count_;
  const std::size_t end =
      std::min(line.size(), static_cast<std::size_t>(std::max(length, 0)));

  field_.clear();
  std::int32_t f = 1;
  bool trail_pending = false;
  bool quoted = false;
  unsigned char lead = kDefaultSeparator;
  auto wanted = [this](std::int32_t n) {
    return wanted_[static_cast<std::size_t>(n)];
  };

  for (std::size_t at = 0; at < end; ++at) {
    const auto b = static_cast<unsigned char>(line[at]);
    if (trail_pending) {
      if (wanted(f)) {
        field_.push_back(static_cast<char>(lead));
        field_.push_back(static_cast<char>(b));
      }
      trail_pending = false;
      continue;
    }
    if (isHalfWidthKatakana(b)) {
      if (wanted(f)) field_.push_back(static_cast<char>(b));
      continue;
    }
    if (isLeadByte(b)) {
      lead = b;
      trail_pending = true;
      continue;
    }
    if (quoted) {
      if (b == quote_) {
        quoted = false;
      } else if (b == separator_ && drop_quoted_separator_) {
        continue;
      }
      if (wanted(f)) field_.push_back(static_cast<char>(b));
      continue;
    }
    if (b == quote_) {
      quoted = true;
      if (wanted(f)) field_.push_back(static_cast<char>(b));
      continue;
    }
    if (b == separator_) {
      // A full ring is no error: the field is lost, as the contract says.
      if (wanted(f)) (void)queue_->push(field_);
      field_.clear();
      ++f;
      if (f > limit) break;
      continue;
    }
    if (wanted(f)) field_.push_back(static_cast<char>(b));
  }

  if (!field_.empty()) {
    (void)queue_->push(field_);
  } else {
    --f;
  }
  field_.clear();
  field_count_ = f;
  return f;
}

std::int32_t DividingSJIS::splitAppend(const std::string& line,
                                       std::int32_t length, char c,
                                       const std::string& suffix) {
  const std::int32_t fields = split(line, length);
  if (!queue_ || list_ == nullptr) return fields;
  const std::int32_t queued = queue_->count();
  for (std::int32_t k = 0; k < queued; ++k) {
    std::string item = queue_->q(k);
    item.push_back(c);
    item += suffix;
    list_->item(item, k);
  }
  return fields;
}
