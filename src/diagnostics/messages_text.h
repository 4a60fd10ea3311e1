// Writes one text as the whole content of a named file.
#ifndef PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_
#define PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_

#include <string>

#include "platform/platform.h"

/// Rewrites a file (created or truncated) with exactly the bytes of a text,
/// no line end added. Used for error.txt and for the data.txt note.
class MessagesTexts {
 public:
  MessagesTexts() = default;
  MessagesTexts(const MessagesTexts&) = delete;
  MessagesTexts& operator=(const MessagesTexts&) = delete;

  /// Returns kOk when every byte reached the file and it closed cleanly.
  /// On failure *detail holds the system's reason; nothing is printed.
  [[nodiscard]] platform::Status writeText(const std::string& file_name,
                                           const std::string& text,
                                           std::string* detail = nullptr);

 private:
  std::string file_name_;
  std::string text_;
};

#endif  // PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_
