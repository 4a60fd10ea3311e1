#include "diagnostics/messages_text.h"

platform::Status MessagesTexts::writeText(const std::string& file_name,
                                          const std::string& text,
                                          std::string* detail) {
  platform::File file;
  platform::Status status = file.createNoLink(file_name, detail);
  if (status != platform::Status::kOk) return status;
  std::size_t written = 0;
  status = file.write(text.data(), text.size(), &written, detail);
  platform::Status closed = file.close(detail);
  if (status != platform::Status::kOk) return status;
  return closed;
}
