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

void collectReports(std::vector<std::string>* sink) { g_sink = sink; }

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

namespace {
struct StopRelease {
  void (*release)(void*) = nullptr;
  void* context = nullptr;
};
StopRelease g_releases[kMostStopReleases];
}  // namespace

bool releaseAtStop(void (*release)(void*), void* context) {
  for (StopRelease& slot : g_releases) {
    if (slot.release == nullptr) {
      slot = StopRelease{release, context};
      return true;
    }
  }
  return false;
}

void forgetAtStop(void* context) {
  // The others move up, so that the slots stay in the order of registration.
  int kept = 0;
  for (const StopRelease& slot : g_releases) {
    if (slot.release != nullptr && slot.context != context) {
      g_releases[kept++] = slot;
    }
  }
  for (; kept < kMostStopReleases; ++kept) g_releases[kept] = StopRelease{};
}

void stop(int exit_code) {
  // Each release is forgotten before it runs, so a release that stops again
  // cannot come back to itself.
  for (int i = kMostStopReleases - 1; i >= 0; --i) {
    const StopRelease slot = g_releases[i];
    g_releases[i] = StopRelease{};
    if (slot.release != nullptr) slot.release(slot.context);
  }
  if (g_stop_hook != nullptr) g_stop_hook();
  platform::exitProcess(exit_code);
}

}  // namespace diagnostics
