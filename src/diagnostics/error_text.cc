#include "diagnostics/error_text.h"

#include "diagnostics/messages_text.h"
#include "diagnostics/time_name.h"
#include "platform/platform.h"

void ErrorTexts::report(const std::string& prefix, const std::string& extension,
                        const std::string& message) {
  MessagesTexts writer;
  std::string refused;
  for (int attempt = 0; attempt < kMostErrFileAttempts; ++attempt) {
    {
      TimeNames names;
      (void)names.setUp(prefix, extension);
      file_name_ = names.nextName(true);
    }
    // A counter that cannot move on gives the refused name again, and would
    // give it on every further attempt.
    if (file_name_ == refused) break;
    bool taken = false;
    if (writer.writeNewText(file_name_, message, &taken) ==
        platform::Status::kOk) {
      return;
    }
    if (!taken) break;
    refused = file_name_;
  }
  // The log itself failed; the console is the last place left.
  platform::writeStandardError(message);
}

namespace diagnostics {
namespace {
void (*g_stop_hook)() = nullptr;
bool g_unfinished = false;
std::vector<std::string>* g_sink = nullptr;
}  // namespace

void captureReportsForTesting(std::vector<std::string>* sink) { g_sink = sink; }

void reportUnfinished(const std::string& message) {
  g_unfinished = true;
  report(message);
}

int finishedExitCode() { return g_unfinished ? 1 : 0; }

void report(const std::string& message) {
  if (g_sink != nullptr) {
    g_sink->push_back(message);
    return;
  }
  ErrorTexts texts;
  texts.report("err", ".txt", message);
}

void setStopHook(void (*hook)()) { g_stop_hook = hook; }

void stop(int exit_code) {
  if (g_stop_hook != nullptr) g_stop_hook();
  platform::exitProcess(exit_code);
}

}  // namespace diagnostics
