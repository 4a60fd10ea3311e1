// FieldsList: the fields the splitter fills, addressed by field index.
#ifndef PELMORA_TEXT_FIELDS_ARRAY_H_
#define PELMORA_TEXT_FIELDS_ARRAY_H_

#include <cstdint>
#include <string>
#include <vector>

/// One more than the highest field index a list (and the splitter) keeps.
/// Errors 211 and 213 still call it UPPER_LIMIT_TO_FIELD_NUMBER.
inline constexpr std::int32_t kFieldIndexLimit = 3071;

/// A fixed array of strings, all empty at creation. An index is valid when
/// 0 <= i < kFieldIndexLimit. A bad index is reported (errors
/// 210 to 213) and otherwise ignored: a read yields the empty string, a
/// store changes nothing. Neither stops the program.
class FieldsList {
 public:
  /// String slots held; the last one lies beyond every valid index.
  static constexpr std::int32_t kFieldsSlots = 3072;

  FieldsList();
  FieldsList(const FieldsList&) = delete;
  FieldsList& operator=(const FieldsList&) = delete;

  /// The string in slot i (210 when i < 0, 211 when i is too large).
  std::string item(std::int32_t i) const;
  /// Stores s in slot i and counts the store (212 / 213 on a bad index).
  void item(const std::string& s, std::int32_t i);
  /// The number of successful stores, not the highest index used.
  std::int32_t size() const { return size_; }

 private:
  std::int32_t size_ = 0;
  std::vector<std::string> items_;  // kFieldsSlots entries, sized once
};

#endif  // PELMORA_TEXT_FIELDS_ARRAY_H_
