#include "sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "code_page.h"

#ifndef PELMORA_BINARY
#error "PELMORA_BINARY must name the program under test"
#endif
#ifndef PELMORA_DATA_DIR
#define PELMORA_DATA_DIR ""
#endif
#ifndef PELMORA_EXAMPLES_DIR
#define PELMORA_EXAMPLES_DIR ""
#endif

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string readWhole(const fs::path& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  if (!in) return std::string();
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

std::string readProjectFile(const char* folder, const std::string& name) {
  fs::path path = fs::path(folder) / name;
  bool exists = false;
  std::string bytes = readWhole(path, &exists);
  if (!exists)
    throw std::runtime_error("missing project file " + path.string());
  return bytes;
}

// Gives the owner full access to everything below `root`, so that a case
// that took permissions away cannot keep its folder from being deleted.
void giveAccessBack(const fs::path& root) {
  std::error_code ignored;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(root, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_symlink(ignored)) continue;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                    ignored);
  }
}

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

std::string environmentOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

// A command name as execve needs it: names without a slash are looked up in
// the test's own PATH.
std::string findProgram(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  std::stringstream folders(environmentOr("PATH", "/usr/bin:/bin"));
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return name;
}

// The program under test and what starts it.
struct Target {
  std::string program;   // the file copied into bin/
  std::string launcher;  // empty: the program is started itself
};

const Target& target() {
  static const Target chosen = [] {
    Target t;
    t.program = environmentOr("PELMORA_E2E_PROGRAM", PELMORA_BINARY);
    const std::string launcher = environmentOr("PELMORA_E2E_LAUNCHER", "");
    if (!launcher.empty()) t.launcher = findProgram(launcher);
    return t;
  }();
  return chosen;
}

bool underWine() {
  return platform_expectations::programUnderTest().windows &&
         !target().launcher.empty();
}

std::string winePrefix() {
  return environmentOr("WINEPREFIX", environmentOr("HOME", "") + "/.wine");
}

// The environment a run starts from (see Sandbox::setVariable).
std::map<std::string, std::string> baseEnvironment() {
  std::map<std::string, std::string> environment;
  if (const char* tz = std::getenv("TZ")) environment["TZ"] = tz;
  if (!underWine()) {
    environment["LC_ALL"] = "C";
    return environment;
  }
  environment["WINEPREFIX"] = winePrefix();
  environment["WINEARCH"] = environmentOr("WINEARCH", "win32");
  environment["WINEDEBUG"] = environmentOr("WINEDEBUG", "-all");
  // The Japanese locale makes code page 932 Wine's ANSI code page.
  environment["LANG"] = "ja_JP.UTF-8";
  environment["LC_ALL"] = "ja_JP.UTF-8";
  for (const char* name : {"HOME", "PATH", "WINESERVER", "WINELOADER"}) {
    if (const char* value = std::getenv(name)) environment[name] = value;
  }
  return environment;
}

std::vector<std::string> environmentEntries(
    const std::map<std::string, std::string>& environment) {
  std::vector<std::string> entries;
  for (const auto& item : environment) {
    entries.push_back(item.first + "=" + item.second);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& storage) {
  std::vector<char*> result;
  for (std::string& item : storage) result.push_back(item.data());
  result.push_back(nullptr);
  return result;
}

// Runs a command with no input and no output and waits for it.
int runQuietly(std::vector<std::string> argv,
               const std::map<std::string, std::string>& environment) {
  std::vector<std::string> entries = environmentEntries(environment);
  std::vector<char*> args = pointers(argv);
  std::vector<char*> envp = pointers(entries);
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd < 0 || ::dup2(null_fd, 0) < 0 || ::dup2(null_fd, 1) < 0 ||
        ::dup2(null_fd, 2) < 0) {
      ::_exit(126);
    }
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Wine's server and the services it starts keep the standard handles of the
// process that started them: started by a run, they would hold its output
// pipes open long after it ended. So the server is started here first, with
// no output, and kept alive between cases (the make target keeps one alive
// for the whole suite and stops it at the end).
void prepareLauncher() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!underWine()) return;
    const std::map<std::string, std::string> environment = baseEnvironment();
    const std::string server =
        findProgram(environmentOr("WINESERVER", "wineserver"));
    if (runQuietly({server, "-p60"}, environment) == 0) {
      // A new server: its first client starts the prefix's services.
      runQuietly({target().launcher, "cmd.exe", "/c", "exit"}, environment);
    }
  });
}

// The Windows program's fixed place, C:\Quorvelin, is one folder of the
// prefix for every case. Around each run the harness holds it: a shared lock
// while the place holds what the run wants there, an exclusive one while it
// is changed. Runs that want the same content go side by side (the 32 runs
// of one case, most cases of a suite); a case that wants the place empty
// or holding another table waits for the runs of the others to end.
class FixedPlaceHold {
 public:
  explicit FixedPlaceHold(const std::optional<std::string>& wanted) {
    const std::string prefix = winePrefix();
    folder_ = fs::path(prefix) / "drive_c" / "Quorvelin";
    const std::string lock = prefix + "/pelmora-e2e-fixed-place.lock";
    fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      throw std::runtime_error("cannot open " + lock + ": " +
                               std::strerror(errno));
    }
    for (;;) {
      take(LOCK_SH);
      if (holds(wanted)) return;
      take(LOCK_EX);  // not atomic: another run may change it first
      fill(wanted);
      take(LOCK_SH);
    }
  }
  ~FixedPlaceHold() { ::close(fd_); }
  FixedPlaceHold(const FixedPlaceHold&) = delete;
  FixedPlaceHold& operator=(const FixedPlaceHold&) = delete;

  std::optional<std::string> content() const {
    bool exists = false;
    std::string bytes = readWhole(table(), &exists);
    if (!exists) return std::nullopt;
    return bytes;
  }

 private:
  fs::path table() const { return folder_ / "UTF16~MS932.bin"; }
  void take(int how) const {
    while (::flock(fd_, how) != 0) {
      if (errno != EINTR) {
        throw std::runtime_error(std::string("flock: ") + std::strerror(errno));
      }
    }
  }
  bool holds(const std::optional<std::string>& wanted) const {
    return content() == wanted;
  }
  void fill(const std::optional<std::string>& wanted) const {
    std::error_code ignored;
    if (!wanted) {
      fs::remove(table(), ignored);
      return;
    }
    fs::create_directories(folder_);
    std::ofstream out(table(), std::ios::binary | std::ios::trunc);
    out.write(wanted->data(), static_cast<std::streamsize>(wanted->size()));
    if (!out) throw std::runtime_error("cannot write " + table().string());
  }

  fs::path folder_;
  int fd_ = -1;
};

}  // namespace

// ---------------------------------------------------------------------------

std::optional<ErrFileName> parseErrFileName(const std::string& name) {
  static const std::regex shape(R"(err(-?[0-9]+)-([^-/]*)-([^-/]*)\.txt)");
  std::smatch match;
  if (!std::regex_match(name, match, shape)) return std::nullopt;
  ErrFileName parts;
  try {
    parts.serial = std::stoll(match[1].str());
  } catch (const std::exception&) {
    return std::nullopt;
  }
  parts.minutes = match[2].str();
  parts.seconds = match[3].str();
  return parts;
}

std::set<std::string> RunResult::fileNames() const {
  std::set<std::string> names;
  for (const auto& item : files) names.insert(item.first);
  return names;
}

bool RunResult::has(const std::string& name) const {
  return files.count(name) != 0;
}

std::string RunResult::file(const std::string& name) const {
  auto it = files.find(name);
  return it == files.end() ? std::string() : it->second;
}

std::vector<std::string> RunResult::errFileNames() const {
  std::vector<std::pair<long long, std::string>> found;
  for (const auto& item : files) {
    if (item.first.find('/') != std::string::npos) continue;
    if (auto parts = parseErrFileName(item.first)) {
      found.emplace_back(parts->serial, item.first);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& item : found) names.push_back(item.second);
  return names;
}

std::vector<std::string> RunResult::errMessages() const {
  std::vector<std::string> messages;
  for (const std::string& name : errFileNames()) messages.push_back(file(name));
  return messages;
}

std::string RunResult::describe() const {
  std::ostringstream text;
  text << "exit " << exitCode;
  if (signal != 0) text << " (signal " << signal << ")";
  if (timedOut) text << " (timed out)";
  text << ", stdout " << standardOutput.size() << " bytes, stderr \""
       << standardError << "\", files {";
  const char* separator = "";
  for (const auto& item : files) {
    text << separator << item.first;
    separator = ", ";
  }
  text << "}, err messages [";
  separator = "";
  for (const std::string& message : errMessages()) {
    text << separator << '"' << message << '"';
    separator = ", ";
  }
  text << "]";
  return text.str();
}

// ---------------------------------------------------------------------------

Sandbox::Sandbox() {
  std::string pattern =
      (fs::temp_directory_path() / "pelmora-e2e-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  path_ = buffer.data();
  fs::create_directory(fs::path(path_) / "bin");
  fs::copy_file(target().program, programPath(),
                fs::copy_options::overwrite_existing);
  fs::permissions(programPath(),
                  fs::perms::owner_all | fs::perms::group_read |
                      fs::perms::group_exec | fs::perms::others_read |
                      fs::perms::others_exec,
                  fs::perm_options::replace);

  environment_ = baseEnvironment();
  prepareLauncher();
}

Sandbox::~Sandbox() {
  if (std::getenv("PELMORA_KEEP_SANDBOX") != nullptr) {
    std::cerr << "[ sandbox  ] kept " << path_ << "\n";
    return;
  }
  giveAccessBack(path_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string Sandbox::programPath() const {
  return (fs::path(path_) / "bin" /
          platform_expectations::programUnderTest().programFile)
      .string();
}

std::string Sandbox::hostPath(const std::string& name) const {
  const platform_expectations::PlatformTable& table =
      platform_expectations::programUnderTest();
  std::string path = table.linuxRoot + path_ + "/" + name;
  for (char& c : path) {
    if (c == '/') c = table.directorySeparator;
  }
  return path;
}

std::string Sandbox::diskName(const std::string& name) const {
  return underWine() ? utf8FromCodePage932(name) : name;
}

void Sandbox::write(const std::string& name, const std::string& bytes) const {
  fs::path target = fs::path(path_) / diskName(name);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

std::string Sandbox::read(const std::string& name, bool* exists) const {
  return readWhole(fs::path(path_) / diskName(name), exists);
}

bool Sandbox::exists(const std::string& name) const {
  return fs::exists(fs::path(path_) / diskName(name));
}

void Sandbox::makeFolder(const std::string& name) const {
  fs::create_directories(fs::path(path_) / diskName(name));
}

void Sandbox::remove(const std::string& name) {
  if (name == fixedTableName()) fixed_table_.reset();
  fs::remove_all(fs::path(path_) / diskName(name));
}

std::string Sandbox::fixedTableName() {
  return "share/pelmora/UTF16~MS932.bin";
}

void Sandbox::placeFixedTable(const std::string& bytes) {
  fixed_table_ = bytes;
  if (!underWine()) write(fixedTableName(), bytes);
}

std::string Sandbox::fixedTableText() const {
  if (const char* folder =
          platform_expectations::programUnderTest().fixedTableFolder) {
    return std::string(folder) + "UTF16~MS932.bin";
  }
  return path_ + "/" + fixedTableName();
}

std::string Sandbox::dataFile(const std::string& name) {
  return readProjectFile(PELMORA_DATA_DIR, name);
}

std::string Sandbox::exampleFile(const std::string& name) {
  return readProjectFile(PELMORA_EXAMPLES_DIR, name);
}

const std::string& Sandbox::derivedTable() {
  static const std::string table = [] {
    std::ifstream in(PELMORA_DERIVED_TABLE, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
  }();
  return table;
}

void Sandbox::setVariable(const std::string& name, const std::string& value) {
  environment_[name] = underWine() ? utf8FromCodePage932(value) : value;
}

void Sandbox::unsetVariable(const std::string& name) {
  environment_.erase(name);
}

namespace {
constexpr uid_t kNobody = 65534;
}  // namespace

bool Sandbox::runUnprivileged() {
  if (platform_expectations::whyNot(
          platform_expectations::programUnderTest(),
          platform_expectations::Need::kPermissionBits) != nullptr) {
    return false;
  }
  if (::geteuid() != 0) return true;  // permissions bite already
  unprivileged_ = true;
  std::error_code ignored;
  fs::permissions(path_, fs::perms::all, fs::perm_options::replace, ignored);
  fs::permissions(fs::path(path_) / "bin", fs::perms::all,
                  fs::perm_options::replace, ignored);
  return true;
}

RunResult Sandbox::run(const std::vector<std::string>& arguments) const {
  return start(programPath(), arguments, true);
}

RunResult Sandbox::runTool(const std::vector<std::string>& command) const {
  if (command.empty()) throw std::runtime_error("runTool: no command");
  return start(command[0],
               std::vector<std::string>(command.begin() + 1, command.end()),
               false);
}

RunResult Sandbox::start(const std::string& program_name,
                         std::vector<std::string> arguments,
                         bool holdFixedPlace) const {
  // Everything the child needs is built before fork: between fork and exec
  // only async-signal-safe calls are allowed.
  std::string program = program_name;
  std::vector<std::string> argument_storage;
  if (underWine()) {
    for (std::string& argument : arguments) {
      argument = utf8FromCodePage932(argument);
    }
    argument_storage.push_back(target().launcher);
    program = target().launcher;
  }
  argument_storage.push_back(program_name);
  argument_storage.insert(argument_storage.end(), arguments.begin(),
                          arguments.end());
  std::vector<char*> argv = pointers(argument_storage);
  std::vector<std::string> environment_storage =
      environmentEntries(environment_);
  std::vector<char*> envp = pointers(environment_storage);

  // Held until the files the run left are read.
  std::optional<FixedPlaceHold> fixed_place;
  if (underWine() && holdFixedPlace) fixed_place.emplace(fixed_table_);

  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    throw std::runtime_error("pipe failed");
  }

  if (standard_output_closed_) {
    // Closed before the fork, so that no process holds a read end by the
    // time the program writes: the failure cannot depend on timing.
    ::close(out_pipe[0]);
    out_pipe[0] = -1;
  }

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    static const char kNoExec[] = "sandbox: cannot start the program\n";
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (::chdir(path_.c_str()) != 0) ::_exit(126);
    int out_fd = out_pipe[1];
    if (!standard_output_file_.empty()) {
      out_fd = ::open(standard_output_file_.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (null_fd < 0 || out_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 ||
        ::dup2(out_fd, STDOUT_FILENO) < 0 ||
        ::dup2(err_pipe[1], STDERR_FILENO) < 0) {
      ::_exit(126);
    }
    if (file_size_limit_ >= 0) {
      struct rlimit limit;
      limit.rlim_cur = static_cast<rlim_t>(file_size_limit_);
      limit.rlim_max = static_cast<rlim_t>(file_size_limit_);
      ::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (memory_limit_ >= 0) {
      struct rlimit limit;
      limit.rlim_cur = static_cast<rlim_t>(memory_limit_);
      limit.rlim_max = static_cast<rlim_t>(memory_limit_);
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
    }
    if (unprivileged_ && (::setgroups(0, nullptr) != 0 ||
                          ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(126);
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    ssize_t ignored = ::write(STDERR_FILENO, kNoExec, sizeof kNoExec - 1);
    (void)ignored;
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  RunResult result;
  const auto started = std::chrono::steady_clock::now();
  auto deadline = started + std::chrono::seconds(time_limit_seconds_);
  const bool killing = kill_after_us_ > 0;
  if (killing) deadline = started + std::chrono::microseconds(kill_after_us_);
  if (!drain(out_pipe[0], err_pipe[0], &result.standardOutput,
             &result.standardError, deadline)) {
    result.timedOut = !killing;
    ::kill(pid, SIGKILL);
  }
  if (out_pipe[0] >= 0) ::close(out_pipe[0]);
  ::close(err_pipe[0]);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
    result.exitCode = 128 + result.signal;
  }

  if (!collect_files_) return result;
  if (fixed_place) {
    if (auto table = fixed_place->content()) {
      result.files[fixedTableName()] = *table;
    }
  }
  fs::path root(path_);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    fs::path relative = it->path().lexically_relative(root);
    if (it.depth() == 0 && relative == "bin") {
      it.disable_recursion_pending();
      continue;
    }
    std::string name = relative.generic_string();
    if (underWine()) name = codePage932FromUtf8(name);
    if (it->is_directory(error)) {
      result.folders.insert(name);
    } else if (it->is_regular_file(error)) {
      result.files[name] = readWhole(it->path(), nullptr);
    }
  }
  return result;
}

}  // namespace e2e
