// NumberedTerm: splits an option token into its prefix and trailing numbers.
// -j12 is the prefix -j and 12; the range -I3-5 is the prefix -I, the lower
// number 3 and the upper number 5.
#ifndef PELMORA_OPTIONS_NUMBERED_H_
#define PELMORA_OPTIONS_NUMBERED_H_

#include <cstddef>
#include <cstdint>
#include <string>

/// Splits one token at a time; the option store makes one per token.
class NumberedTerm {
 public:
  /// The upper value of the plain split, which also marks "no open range".
  static constexpr std::int32_t kPlainBound = 2147483647;
  /// The upper value the option store gives an open range such as -I5.
  static constexpr std::int32_t kRangeBound = 2147483646;

  NumberedTerm() = default;

  /// The number of decimal digits at the end of s.
  static std::size_t digitCount(const std::string& s);

  /// Splits token into a prefix and its trailing digit run (possibly empty);
  /// an open range would take kPlainBound, which means it is not one.
  void splitNumber(const std::string& token);
  /// As splitNumber, with the upper value an open range takes.
  void splitBounded(const std::string& token, std::int32_t bound);
  /// After a split: looks for a range (lower digits, one separator of any
  /// kind, upper digits; or, with a bound other than kPlainBound, a lone
  /// number as the lower end of an open range). Returns whether it found one.
  bool splitRange();

  /// The range prefix after a successful splitRange, else the plain prefix.
  std::string prefix() const;
  /// The (upper) number; -1, with error 214 reported, when it is no number.
  std::int32_t value() const;
  /// The lower number of a range; -1 when the token is no range.
  std::int32_t lowerValue() const;

  /// The value of a run of decimal digits (leading zeros allowed, no sign)
  /// as a signed 32-bit integer. Empty text, any other character or a value
  /// above 2147483647 reports "sequence_to_integer() error-214: " + text and
  /// gives -1; the program goes on. (The serial counter reads its number by
  /// other rules: TimeNames::signed_sequence_to_integer.)
  static std::int32_t unsigned_sequence_to_integer(const std::string& text);

 private:
  std::int32_t tokenLength_ = 0;
  std::string prefix_;
  std::string digits_;
  std::size_t digitCount_ = 0;
  std::int32_t bound_ = kPlainBound;
  bool rangeFlag_ = false;
  std::string rangePrefix_;
  std::string lowerDigits_;
};

#endif  // PELMORA_OPTIONS_NUMBERED_H_
