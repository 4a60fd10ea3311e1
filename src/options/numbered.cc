#include "options/numbered.h"

#include <limits>

#include "diagnostics/error_text.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::size_t NumberedTerm::digitCount(const std::string& s) {
  std::size_t count = 0;
  while (count < s.size() && isDigit(s[s.size() - 1 - count])) ++count;
  return count;
}

void NumberedTerm::splitNumber(const std::string& token) {
  splitBounded(token, kPlainBound);
}

void NumberedTerm::splitBounded(const std::string& token, std::int32_t bound) {
  rangeFlag_ = false;
  rangePrefix_.clear();
  lowerDigits_.clear();
  bound_ = bound;
  // Option tokens are command-line arguments; a length past the 32-bit range
  // cannot occur there, and the count is kept only for its record.
  tokenLength_ = token.size() > static_cast<std::size_t>(kPlainBound)
                     ? kPlainBound
                     : static_cast<std::int32_t>(token.size());
  digitCount_ = digitCount(token);
  prefix_ = token.substr(0, token.size() - digitCount_);
  digits_ = token.substr(token.size() - digitCount_);
}

bool NumberedTerm::splitRange() {
  // The character just ahead of the upper digits separates the two numbers,
  // whatever it is; the lower digits sit in front of it.
  const std::string core =
      prefix_.empty() ? std::string() : prefix_.substr(0, prefix_.size() - 1);
  const std::size_t n = digitCount(core);
  if (n == 0) {
    if (bound_ == kPlainBound) {
      rangeFlag_ = false;
    } else {
      // A lone number opens a range that runs up to the bound.
      lowerDigits_ = digits_;
      rangePrefix_ = prefix_;
      digits_ = std::to_string(bound_);
      rangeFlag_ = true;
    }
  } else {
    lowerDigits_ = core.substr(core.size() - n);
    rangePrefix_ = core.substr(0, core.size() - n);
    rangeFlag_ = true;
  }
  return rangeFlag_;
}

std::string NumberedTerm::prefix() const {
  return rangeFlag_ ? rangePrefix_ : prefix_;
}

std::int32_t NumberedTerm::value() const {
  return unsigned_sequence_to_integer(digits_);
}

std::int32_t NumberedTerm::lowerValue() const {
  return rangeFlag_ ? unsigned_sequence_to_integer(lowerDigits_) : -1;
}

std::int32_t NumberedTerm::unsigned_sequence_to_integer(
    const std::string& text) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
  bool ok = !text.empty();
  std::int64_t result = 0;
  for (std::size_t i = 0; ok && i < text.size(); ++i) {
    if (!isDigit(text[i])) {
      ok = false;
      break;
    }
    result = result * 10 + (text[i] - '0');
    // Checked at every digit, so a long run cannot overflow the 64-bit sum.
    if (result > kLargest) ok = false;
  }
  if (!ok) {
    diagnostics::reportUnfinished("sequence_to_integer() error-214: " + text);
    return -1;
  }
  return static_cast<std::int32_t>(result);
}
