#include "sandbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "code_page.h"
#include "file_bytes.h"
#include "process.h"
#include "scratch_folder.h"

#ifndef PELMORA_BINARY
#error "PELMORA_BINARY must name the program under test"
#endif

namespace fs = std::filesystem;

namespace e2e {

using platform_expectations::programUnderTest;

namespace {

std::string environmentOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

// execve needs a path: names without a slash are found in the test's PATH.
std::string findProgram(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  std::stringstream folders(environmentOr("PATH", "/usr/bin:/bin"));
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return name;
}

struct Target {
  std::string program;   // copied into bin/
  std::string launcher;  // empty: the program is started itself
};

const Target& target() {
  static const Target chosen = {
      environmentOr("PELMORA_E2E_PROGRAM", PELMORA_BINARY),
      findProgram(environmentOr("PELMORA_E2E_LAUNCHER", ""))};
  return chosen;
}

bool underWine() {
  return programUnderTest().windows && !target().launcher.empty();
}

std::string winePrefix() {
  return environmentOr("WINEPREFIX", environmentOr("HOME", "") + "/.wine");
}

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

int runQuietly(std::vector<std::string> argv,
               const std::map<std::string, std::string>& environment) {
  harness::ChildSetup quiet;
  quiet.quiet = true;
  return harness::runProgram(std::move(argv), environment, quiet).exitCode;
}

// Wine's server and services keep the standard handles of the process that
// started them: started by a run, they would hold its output pipes open long
// after it ended. So they are started here, with no output, and kept alive.
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

// The Windows program's fixed place, shared by every case of the prefix:
// runs that want the same content there go side by side under a shared
// lock; one that wants another waits for them to change it.
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
      if (content() == wanted) return;
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
    std::string bytes = harness::readBytes(table(), &exists);
    return exists ? std::optional<std::string>(bytes) : std::nullopt;
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
  void fill(const std::optional<std::string>& wanted) const {
    std::error_code ignored;
    if (!wanted) {
      fs::remove(table(), ignored);
      return;
    }
    fs::create_directories(folder_);
    if (!harness::writeBytes(table(), *wanted)) {
      throw std::runtime_error("cannot write " + table().string());
    }
  }

  fs::path folder_;
  int fd_ = -1;
};

}  // namespace

std::set<std::string> RunResult::fileNames() const {
  std::set<std::string> names;
  for (const auto& item : files) names.insert(item.first);
  return names;
}

std::string RunResult::file(const std::string& name) const {
  auto it = files.find(name);
  return it == files.end() ? std::string() : it->second;
}

std::vector<std::string> RunResult::errFileNames() const {
  const std::set<std::string> names = fileNames();
  return harness::errFilesInOrder({names.begin(), names.end()});
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
  for (const auto& item : files) text << item.first << ", ";
  text << "}, err messages [";
  for (const std::string& message : errMessages())
    text << '"' << message << "\", ";
  text << "]";
  return text.str();
}

Sandbox::Sandbox() {
  path_ = harness::makeScratchFolder(fs::temp_directory_path(), "pelmora-e2e-");
  fs::create_directory(fs::path(path_) / "bin");
  fs::copy_file(target().program, programPath(),
                fs::copy_options::overwrite_existing);
  fs::permissions(programPath(), fs::perms(0755), fs::perm_options::replace);
  const fs::path check = fs::path(target().program).parent_path() /
                         programUnderTest().checkProgramFile;
  if (fs::exists(check)) {
    fs::copy_file(check, checkProgramPath(),
                  fs::copy_options::overwrite_existing);
    fs::permissions(checkProgramPath(), fs::perms(0755),
                    fs::perm_options::replace);
  }

  environment_ = baseEnvironment();
  prepareLauncher();
}

Sandbox::~Sandbox() {
  if (std::getenv("PELMORA_KEEP_SANDBOX") != nullptr) {
    std::cerr << "[ sandbox  ] kept " << path_ << "\n";
    return;
  }
  harness::removeScratchFolder(path_);
}

std::string Sandbox::programPath() const {
  return (fs::path(path_) / "bin" / programUnderTest().programFile).string();
}

std::string Sandbox::checkProgramPath() const {
  return (fs::path(path_) / "bin" / programUnderTest().checkProgramFile)
      .string();
}

std::string Sandbox::hostPath(const std::string& name) const {
  const auto& table = programUnderTest();
  std::string path = table.linuxRoot + path_ + "/" + name;
  std::replace(path.begin(), path.end(), '/', table.directorySeparator);
  return path;
}

std::string Sandbox::diskName(const std::string& name) const {
  return underWine() ? utf8FromCodePage932(name) : name;
}

void Sandbox::write(const std::string& name, const std::string& bytes) const {
  fs::path target = fs::path(path_) / diskName(name);
  fs::create_directories(target.parent_path());
  if (!harness::writeBytes(target, bytes)) {
    throw std::runtime_error("cannot write " + target.string());
  }
}

std::string Sandbox::read(const std::string& name) const {
  return harness::readBytes(fs::path(path_) / diskName(name));
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
  if (const char* folder = programUnderTest().fixedTableFolder) {
    return std::string(folder) + "UTF16~MS932.bin";
  }
  return path_ + "/" + fixedTableName();
}

std::string Sandbox::dataFile(const std::string& name) {
  return harness::projectFile(fs::path(PELMORA_DATA_DIR) / name);
}

const std::string& Sandbox::derivedTable() {
  static const std::string table = harness::readBytes(PELMORA_DERIVED_TABLE);
  return table;
}

void Sandbox::setVariable(const std::string& name, const std::string& value) {
  environment_[name] = underWine() ? utf8FromCodePage932(value) : value;
}

void Sandbox::unsetVariable(const std::string& name) {
  environment_.erase(name);
}

bool Sandbox::runUnprivileged() {
  if (platform_expectations::whyNot(
          programUnderTest(), platform_expectations::Need::kPermissionBits)) {
    return false;
  }
  if (::geteuid() != 0) return true;  // permissions bite already
  setup_.asNobody = true;
  std::error_code ignored;
  fs::permissions(path_, fs::perms::all, fs::perm_options::replace, ignored);
  fs::permissions(fs::path(path_) / "bin", fs::perms::all,
                  fs::perm_options::replace, ignored);
  return true;
}

RunResult Sandbox::run(
    const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& variables) const {
  return start(programPath(), arguments, true, variables);
}

RunResult Sandbox::runCheck(const std::vector<std::string>& arguments) const {
  return start(checkProgramPath(), arguments, true, {});
}

std::map<std::string, std::string> Sandbox::files() const {
  std::map<std::string, std::string> files;
  if (underWine() && fixed_table_) files[fixedTableName()] = *fixed_table_;
  std::set<std::string> folders;
  collectFiles(&files, &folders);
  return files;
}

RunResult Sandbox::runTool(const std::vector<std::string>& command) const {
  if (command.empty()) throw std::runtime_error("runTool: no command");
  return start(command[0],
               std::vector<std::string>(command.begin() + 1, command.end()),
               false, {});
}

RunResult Sandbox::start(
    const std::string& program_name, std::vector<std::string> arguments,
    bool holdFixedPlace,
    const std::map<std::string, std::string>& variables) const {
  std::vector<std::string> argv;
  if (underWine()) {
    for (std::string& argument : arguments) {
      argument = utf8FromCodePage932(argument);
    }
    argv.push_back(target().launcher);
  }
  argv.push_back(program_name);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::optional<FixedPlaceHold> fixed_place;  // until the files are read
  if (underWine() && holdFixedPlace) fixed_place.emplace(fixed_table_);

  harness::ChildSetup setup = setup_;
  setup.folder = path_;
  setup.timeLimit = std::chrono::seconds(time_limit_seconds_);
  RunResult result;
  std::map<std::string, std::string> environment = environment_;
  for (const auto& [name, value] : variables) {
    environment[name] = underWine() ? utf8FromCodePage932(value) : value;
  }
  static_cast<harness::ChildEnd&>(result) =
      harness::runProgram(std::move(argv), environment, setup);

  if (!collect_files_) return result;
  if (fixed_place) {
    if (auto table = fixed_place->content()) {
      result.files[fixedTableName()] = *table;
    }
  }
  collectFiles(&result.files, &result.folders);
  return result;
}

void Sandbox::collectFiles(std::map<std::string, std::string>* files,
                           std::set<std::string>* folders) const {
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
      folders->insert(name);
    } else if (it->is_regular_file(error)) {
      (*files)[name] = harness::readBytes(it->path());
    }
  }
}

}  // namespace e2e
