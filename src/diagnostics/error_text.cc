#include "diagnostics/error_text.h"

#include "diagnostics/messages_text.h"
#include "diagnostics/time_name.h"
#include "platform/platform.h"

void ErrorTexts::report(const std::string& prefix, const std::string& extension,
                        const std::string& message) {
  {
    TimeNames names;
    (void)names.setUp(prefix, extension);
    file_name_ = names.nextName(true);
  }
  MessagesTexts writer;
  if (writer.writeText(file_name_, message) != platform::Status::kOk) {
    // The log itself failed; the console is the last place left.
    platform::writeStandardError(message);
  }
}

namespace diagnostics {
namespace {
void (*g_stop_hook)() = nullptr;
}  // namespace

void report(const std::string& message) {
  ErrorTexts texts;
  texts.report("err", ".txt", message);
}

void setStopHook(void (*hook)()) { g_stop_hook = hook; }

void stop(int exit_code) {
  if (g_stop_hook != nullptr) g_stop_hook();
  platform::exitProcess(exit_code);
}

}  // namespace diagnostics
