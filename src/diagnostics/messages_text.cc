#include "diagnostics/messages_text.h"

platform::Status MessagesTexts::writeText(const std::string& file_name,
                                          const std::string& text,
                                          std::string* detail) {
  bool refused = false;
  return platform::replaceWithContent(file_name, text, &refused, detail);
}

platform::Status MessagesTexts::writeNewText(const std::string& file_name,
                                             const std::string& text,
                                             bool* taken, std::string* detail) {
  // Only a name that stands already (a file, a folder, a link, even one
  // that leads nowhere) means that another name may do; a file that cannot
  // be written whole (a full disk) means that none will.
  *taken = false;
  return platform::createNewWithContent(file_name, text, taken, detail);
}
