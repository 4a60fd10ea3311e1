#include "diagnostics/messages_text.h"

platform::Status MessagesTexts::writeText(const std::string& file_name,
                                          const std::string& text,
                                          std::string* detail) {
  file_name_ = file_name;
  text_ = text;
  platform::File file;
  platform::Status status = file.createNoLink(file_name_, detail);
  if (status != platform::Status::kOk) return status;
  std::size_t written = 0;
  status = file.write(text_.data(), text_.size(), &written, detail);
  platform::Status closed = file.close(detail);
  if (status != platform::Status::kOk) return status;
  return closed;
}
