// MessagesTexts: writes one text as the whole content of a named file.
#ifndef PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_
#define PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_

#include <string>

#include "platform/platform.h"

/// Rewrites a file (created or truncated) with exactly the bytes of a text,
/// no line end added. Used for the err files, error.txt and the data.txt
/// note: names of Pelmora's own, so a symbolic link in their place is a file
/// that cannot be created, never a way to write a file elsewhere.
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
};

#endif  // PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_
