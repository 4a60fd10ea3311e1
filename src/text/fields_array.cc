#include "text/fields_array.h"

#include "diagnostics/error_text.h"

FieldsList::FieldsList() : items_(kFieldsSlots) {}

std::string FieldsList::item(std::int32_t i) const {
  if (i < 0) {
    diagnostics::report("item() error-210: i < 0");
    return std::string();
  }
  if (i >= kFieldIndexLimit) {
    diagnostics::report("item() error-211: >= UPPER_LIMIT_TO_FIELD_NUMBER");
    return std::string();
  }
  return items_[static_cast<std::size_t>(i)];
}

void FieldsList::item(const std::string& s, std::int32_t i) {
  if (i < 0) {
    diagnostics::report("item() error-212: i < 0");
    return;
  }
  if (i >= kFieldIndexLimit) {
    diagnostics::report("item() error-213: >= UPPER_LIMIT_TO_FIELD_NUMBER");
    return;
  }
  items_[static_cast<std::size_t>(i)] = s;
  ++size_;
}
