// MessagesTexts: writes one text as the whole content of a named file.
#ifndef PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_
#define PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_

#include <string>

#include "platform/platform.h"

/// Writes a file with exactly the bytes of a text, no line end added. Used
/// for the err files, error.txt and the data.txt note: names of Pelmora's
/// own, so a symbolic link in their place is never a way to write a file
/// elsewhere. Each file appears whole or not at all: a full disk or a kill
/// never leaves it empty or cut short.
class MessagesTexts {
 public:
  MessagesTexts() = default;
  MessagesTexts(const MessagesTexts&) = delete;
  MessagesTexts& operator=(const MessagesTexts&) = delete;

  /// Replaces the file, or creates it; a link in its place (or a folder,
  /// or a file this process may not write) is a file that cannot be
  /// written. Returns kOk when the whole text is in place; on failure the
  /// old file is as it was and *detail holds the system's reason; nothing
  /// is printed.
  [[nodiscard]] platform::Status writeText(const std::string& file_name,
                                           const std::string& text,
                                           std::string* detail = nullptr);

  /// The same, into a file this call creates: nothing that has the name
  /// already (a file, a folder, a link, even one that leads nowhere) is
  /// touched, and *taken tells the caller that this was why it failed.
  [[nodiscard]] platform::Status writeNewText(const std::string& file_name,
                                              const std::string& text,
                                              bool* taken,
                                              std::string* detail = nullptr);
};

#endif  // PELMORA_DIAGNOSTICS_MESSAGES_TEXT_H_
