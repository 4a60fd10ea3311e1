#include "process.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace harness {
namespace {

constexpr uid_t kNobody = 65534;

// Drains both pipes until they close or the deadline passes. Reading both
// through poll keeps a program that fills one pipe from blocking forever
// while we wait on the other.
bool drain(int out_fd, int err_fd, std::string* out, std::string* err,
           std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open_count = (out_fd >= 0 ? 1 : 0) + (err_fd >= 0 ? 1 : 0);
  char buffer[65536];
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int ready = ::poll(
        fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;  // poll ignores negative descriptors
        --open_count;
      }
    }
  }
  return true;
}

// In the child, after the fork: only async-signal-safe calls.
void enterChild(const ChildSetup& setup, int out_pipe, int err_pipe) {
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 ||
      (!setup.folder.empty() && ::chdir(setup.folder.c_str()) != 0)) {
    ::_exit(126);
  }
  int out_fd = setup.quiet ? null_fd : out_pipe;
  if (!setup.standardOutputFile.empty()) {
    out_fd = ::open(setup.standardOutputFile.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  const auto memory = static_cast<rlim_t>(setup.memoryLimit);
  const rlimit memory_limit{memory, memory};
  if (out_fd < 0 || ::dup2(out_fd, STDOUT_FILENO) < 0 ||
      ::dup2(setup.quiet ? null_fd : err_pipe, STDERR_FILENO) < 0 ||
      (setup.memoryLimit >= 0 && ::setrlimit(RLIMIT_AS, &memory_limit) != 0) ||
      (setup.asNobody && (::setgroups(0, nullptr) != 0 ||
                          ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))) {
    ::_exit(126);
  }
  for (int descriptor : setup.closedDescriptors) ::close(descriptor);
}

std::vector<char*> pointers(std::vector<std::string>& storage) {
  std::vector<char*> result;
  for (std::string& item : storage) result.push_back(item.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

ChildEnd runProgram(std::vector<std::string> argv,
                    const std::map<std::string, std::string>& environment,
                    const ChildSetup& setup) {
  // Built before the fork: in a program with threads only async-signal-safe
  // calls are sure to work between the fork and the exec.
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment) {
    entries.push_back(name + "=" + value);
  }
  std::vector<char*> args = pointers(argv);
  std::vector<char*> envp = pointers(entries);
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (setup.standardOutputClosed) {
    // Closed before the fork, so that no process holds a read end by the
    // time the child writes: the failure cannot depend on timing.
    ::close(out_pipe[0]);
    out_pipe[0] = -1;
  }
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    enterChild(setup, out_pipe[1], err_pipe[1]);
    static const char kNoExec[] = "sandbox: cannot start the program\n";
    ::execve(args[0], args.data(), envp.data());
    ssize_t ignored = ::write(STDERR_FILENO, kNoExec, sizeof kNoExec - 1);
    (void)ignored;
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  ChildEnd end;
  if (!drain(out_pipe[0], err_pipe[0], &end.standardOutput, &end.standardError,
             std::chrono::steady_clock::now() + setup.timeLimit)) {
    end.timedOut = true;
    ::kill(pid, SIGKILL);
  }
  if (out_pipe[0] >= 0) ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    end.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    end.signal = WTERMSIG(status);
    end.exitCode = 128 + end.signal;
  }
  return end;
}

}  // namespace harness

#endif  // !_WIN32
