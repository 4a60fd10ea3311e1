#include "diagnostics/messages_text.h"

namespace {

platform::Status writeWhole(platform::File* file, const std::string& text,
                            std::string* detail) {
  std::size_t written = 0;
  platform::Status status =
      file->write(text.data(), text.size(), &written, detail);
  platform::Status closed = file->close(detail);
  if (status != platform::Status::kOk) return status;
  return closed;
}

}  // namespace

platform::Status MessagesTexts::writeText(const std::string& file_name,
                                          const std::string& text,
                                          std::string* detail) {
  platform::File file;
  platform::Status status = file.createNoLink(file_name, detail);
  if (status != platform::Status::kOk) return status;
  return writeWhole(&file, text, detail);
}

platform::Status MessagesTexts::writeNewText(const std::string& file_name,
                                             const std::string& text,
                                             bool* taken, std::string* detail) {
  *taken = false;
  platform::File file;
  platform::Status status = file.createNew(file_name, detail);
  if (status != platform::Status::kOk) {
    // The refusal itself does not say why; a name that stands (as a link
    // too, which the existence check would follow) means another name may
    // do, any other reason means none will.
    *taken =
        platform::fileExists(file_name) || platform::isLinkedName(file_name);
    return status;
  }
  return writeWhole(&file, text, detail);
}
