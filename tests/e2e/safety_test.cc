// The user's files against two names for one file, links where Pelmora
// writes its own files, runs killed half-way and many runs at once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e_case.h"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

// Every way of reaching one file by two names, with each file step that
// takes two names. Nothing may erase the wide file, and no run may end 0
// without its narrow file.
TEST(SafetyTest, OneFileUnderTwoNames) {
  struct Case {
    const char* what;
    const char* hard_link;  // made to w.txt first, when set
    const char* symlink;    // made to w.txt first, when set
    Args arguments;
    int exit_code;
    Args errors;
    Files files;                      // every file left but the link itself
    const char* wide_file = nullptr;  // where the wide file is, when set
  } cases[] = {
      {"-t, the wide file is binary.tmp", nullptr, nullptr,
       Args{"-j2", "-t", "./binary.tmp", "n.txt"}, 0, Args{},
       Files{{"binary.tmp", kWide}, {"n.txt", kNarrow}}},
      // binary.tmp with a second name is refused like a link to it.
      {"-t, the wide file is a hard link of binary.tmp", "binary.tmp", nullptr,
       Args{"-j2", "-t", "w.txt", "n.txt"}, 1, Args{"Reset() error-193: w.txt"},
       Files{{"binary.tmp", kWide}, {"w.txt", kWide}}},
      {"-b, the wide file is binary.tmp", nullptr, nullptr,
       Args{"-j2", "-b", "sub/../binary.tmp", "n.txt"}, 1,
       Args{"Rewrite() error-243: binary.tmp"}, Files{{"binary.tmp", kWide}}},
      {"-b, binary.tmp links to the wide file", nullptr, "binary.tmp",
       Args{"-j2", "-b", "w.txt", "n.txt"}, 1,
       Args{"Rewrite() error-215: binary.tmp", "Reset() error-221: n.txt"},
       Files{{"w.txt", kWide}}},
      {"-b, the narrow file is binary.tmp", nullptr, nullptr,
       Args{"-j2", "-b", "w.txt", "./binary.tmp"}, 0, Args{},
       Files{{"w.txt", kWide}, {"binary.tmp", kNarrow}}},
      {"-b -y, the narrow file is binary.tmp", nullptr, nullptr,
       Args{"-j2", "-b", "-y", "w.txt", "sub/../binary.tmp"}, 0, Args{},
       Files{{"w.txt", kWide}, {"binary.tmp", kNarrow}}},
      {"the narrow file is the wide file", nullptr, nullptr,
       Args{"-j2", "w.txt", "./w.txt"}, 1, Args{"Rewrite() error-243: ./w.txt"},
       Files{{"w.txt", kWide}}},
      {"-t -b, the narrow file is a hard link of the wide file", "h.txt",
       nullptr, Args{"-j2", "-t", "-b", "w.txt", "h.txt"}, 1,
       Args{"Rewrite() error-243: h.txt"},
       Files{{"w.txt", kWide}, {"h.txt", kWide}}},
      // The export named like the -M note keeps every byte.
      {"-M, the wide file is data.txt", nullptr, nullptr,
       Args{"-j2", "-M", "data.txt", "n.txt"}, 1,
       Args{"Reset() error-216: data.txt"},
       Files{{"data.txt", kWide}, {"n.txt", kNarrow}}, "data.txt"},
      {"the narrow file links to the wide file", nullptr, "l.txt",
       Args{"-j2", "w.txt", "l.txt"}, 1, Args{"Rewrite() error-243: l.txt"},
       Files{{"w.txt", kWide}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const char* why = whyNot(Need::kProgramSeesSymbolicLinks);
    if (c.symlink != nullptr && why != nullptr) {
      std::cout << "[ skipped  ] " << c.what << ": " << why << "\n";
      continue;
    }
    Sandbox box;
    prepare(box);
    box.makeFolder("sub");
    const bool wide_is_temporary =
        c.files.count("w.txt") == 0 && c.symlink == nullptr;
    box.write(c.wide_file != nullptr ? c.wide_file
              : wide_is_temporary    ? "binary.tmp"
                                     : "w.txt",
              kWide);
    if (c.hard_link != nullptr) {
      ASSERT_EQ(::link(pathIn(box, "w.txt").c_str(),
                       pathIn(box, c.hard_link).c_str()),
                0);
    }
    if (c.symlink != nullptr) {
      ASSERT_EQ(::symlink("w.txt", pathIn(box, c.symlink).c_str()), 0);
    }
    RunResult run = box.run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
    EXPECT_EQ(run.errMessages(), c.errors);
    Files left = caseFiles(run, {"wide.txt"});
    if (c.symlink != nullptr) {
      EXPECT_TRUE(fs::is_symlink(pathIn(box, c.symlink)));
      left.erase(c.symlink);
    }
    EXPECT_EQ(left, c.files);
  }
}

// What makes a file the user's own beyond its bytes: inode, links, mode and
// extended attributes (ACLs among them).
using Identity =
    std::tuple<ino_t, nlink_t, mode_t, std::map<std::string, std::string>>;

Identity identityOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  Identity id{info.st_ino, info.st_nlink, info.st_mode, {}};
  char names[4096];
  const ssize_t length = ::listxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < length;) {
    const std::string name(names + at);
    char value[4096];
    const ssize_t size =
        ::getxattr(path.c_str(), name.c_str(), value, sizeof value);
    std::get<3>(id)[name] = std::string(value, size < 0 ? 0 : size);
    at += static_cast<ssize_t>(name.size()) + 1;
  }
  return id;
}

// An access ACL in the kernel's own form, little-endian: version 2, then
// tag, permissions and id of each entry: the owner rw-, the user nobody
// r--, the group r--, mask r--, others ---.
const std::string kNobodyMayRead(
    "\x02\0\0\0"
    "\x01\0\x06\0\xFF\xFF\xFF\xFF"
    "\x02\0\x04\0\xFE\xFF\0\0"
    "\x04\0\x04\0\xFF\xFF\xFF\xFF"
    "\x10\0\x04\0\xFF\xFF\xFF\xFF"
    "\x20\0\0\0\xFF\xFF\xFF\xFF",
    44);

const std::string kLongName = std::string(246, 'n') + ".txt";

// -t writes the bytes back through the file it opened, so only its time
// changes; binary.tmp, a copy, is for its owner's eyes only, even when an
// earlier run left it behind.
TEST(SafetyTest, RefreshInPlaceKeepsWhatTheUserSetUp) {
  // The wide name given to -t, and what makes the case on data/w.txt (false:
  // this file system cannot).
  using SetUp = bool (*)(const std::string& wide, const std::string& folder);
  const std::tuple<const char*, const char*, SetUp> cases[] = {
      {"mode 0600", "data/w.txt",
       [](const std::string& wide, const std::string&) {
         return ::chmod(wide.c_str(), 0600) == 0;
       }},
      {"a second name", "data/w.txt",
       [](const std::string& wide, const std::string& folder) {
         return ::link(wide.c_str(), (folder + "/other.txt").c_str()) == 0;
       }},
      {"an ACL", "data/w.txt",
       [](const std::string& wide, const std::string&) {
         return ::setxattr(wide.c_str(), "system.posix_acl_access",
                           kNobodyMayRead.data(), kNobodyMayRead.size(),
                           0) == 0;
       }},
      {"an extended attribute", "data/w.txt",
       [](const std::string& wide, const std::string&) {
         return ::setxattr(wide.c_str(), "user.origin", "export", 6, 0) == 0;
       }},
      // No scratch name beside it has to fit: the longest names work.
      {"a name of 250 bytes", kLongName.c_str(),
       [](const std::string& wide, const std::string& folder) {
         return ::link(wide.c_str(), (folder + "/" + kLongName).c_str()) == 0;
       }},
      {"a symbolic link named", "link.txt",
       [](const std::string&, const std::string& folder) {
         return ::symlink("data/w.txt", (folder + "/link.txt").c_str()) == 0;
       }},
  };
  for (const auto& [what, named, set_up] : cases) {
    SCOPED_TRACE(what);
    Sandbox box;
    prepare(box);
    box.write("data/w.txt", kWide);
    box.write("binary.tmp", "left by a killed run");
    const std::string wide = pathIn(box, "data/w.txt");
    if (!set_up(wide, box.path())) {
      std::cout << "[ skipped  ] " << what << ": " << std::strerror(errno)
                << "\n";
      continue;
    }
    const Identity before = identityOf(wide);
    const struct timespec old_times[2] = {{978307200, 0}, {978307200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, wide.c_str(), old_times, 0), 0);

    RunResult run = box.run({"-j2", "-t", "-y", named, "n.txt"});
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(run.file("data/w.txt"), kWide);
    EXPECT_EQ(run.file("n.txt"), kNarrow);
    EXPECT_EQ(run.file("binary.tmp"), kWide);
    EXPECT_EQ(identityOf(wide), before);
    struct stat after {};
    ASSERT_EQ(::stat(wide.c_str(), &after), 0);
    EXPECT_GT(after.st_mtime, 978307200 + 3600);  // this run's time
    if (std::string(named) == "link.txt") {
      EXPECT_TRUE(fs::is_symlink(pathIn(box, "link.txt")));
    }
    if (whyNot(Need::kPermissionBits) == nullptr) {
      struct stat copy {};
      ASSERT_EQ(::stat(pathIn(box, "binary.tmp").c_str(), &copy), 0);
      EXPECT_EQ(copy.st_mode & 0777, 0600u);
    }
  }
}

// A link, symbolic or hard, where Pelmora writes a file of its own is a file
// that cannot be created: what it reaches is never written, the link stays,
// and the usual report says so.
TEST(SafetyTest, LinksInPlaceOfPelmorasOwnFilesAreNotFollowed) {
  struct Case {
    const char* link;
    Args arguments;
    int exit_code;
    Args errors;
    std::string standard_error = "";
    std::string serial = "";  // serial.txt written before the run, when set
  } cases[] = {
      {"binary.tmp", Args{"-j2", "-b", "w.txt", "n.txt"}, 1,
       Args{"Rewrite() error-215: binary.tmp", "Reset() error-221: n.txt"}},
      {"binary.tmp", Args{"-j2", "-t", "w.txt", "n.txt"}, 1,
       Args{"Reset() error-193: w.txt"}},
      {"version.txt", Args{"-V"}, 1, Args{},
       "version.txt: cannot be created: "},
      // Without surro.txt each run makes one report (192).
      {"serial.txt", Args{"-j2", "w.txt", "n.txt"}, 0,
       Args{"Reset() error-192: surro.txt"}},
      {"error.txt", Args{"-j2", "w.txt", "n.txt"}, 0,
       Args{"Reset() error-192: surro.txt"},
       "sequence_to_integer() error-230: abc", "abc"},
      {"UTF16~MS932.bin", Args{}, 1,
       Args{"Rewrite() error-241: UTF16~MS932.bin"}},
      {"UTF16~MS932.bin.tmp", Args{}, 1,
       Args{"Rewrite() error-241: UTF16~MS932.bin"}},
      {"data.txt", Args{"-j2", "-M", "w.txt", "n.txt"}, 1,
       Args{"Reset() error-216: data.txt"}},
  };
  for (bool hard : {false, true}) {
    for (const Case& c : cases) {
      if (!hard && whyNot(Need::kProgramSeesSymbolicLinks)) continue;
      SCOPED_TRACE(c.link + std::string(hard ? " (hard) " : " ") +
                   (c.arguments.size() < 2 ? "" : c.arguments[1]));
      Sandbox box;
      prepare(box);
      box.write("w.txt", kWide);
      box.write("MS932~UTF16.bin", Sandbox::dataFile("MS932~UTF16.bin"));
      box.write("elsewhere.txt", "not Pelmora's");
      if (!c.serial.empty()) box.write("serial.txt", c.serial);
      if (c.errors == Args{"Reset() error-192: surro.txt"}) {
        box.remove("surro.txt");
      }
      const std::string elsewhere = pathIn(box, "elsewhere.txt");
      ASSERT_EQ(hard ? ::link(elsewhere.c_str(), pathIn(box, c.link).c_str())
                     : ::symlink("elsewhere.txt", pathIn(box, c.link).c_str()),
                0);
      RunResult run = box.run(c.arguments);
      EXPECT_EQ(run.exitCode, c.exit_code) << run.describe();
      EXPECT_EQ(run.errMessages(), c.errors);
      EXPECT_EQ(run.standardError.substr(0, c.standard_error.size()),
                c.standard_error);
      EXPECT_EQ(run.file("elsewhere.txt"), "not Pelmora's");
      EXPECT_EQ(run.file(c.link), "not Pelmora's");
      EXPECT_EQ(hard, !fs::is_symlink(pathIn(box, c.link)));
      EXPECT_EQ(run.file("w.txt"), kWide);
    }
  }
}

// 32 runs at once in one folder, taking every route: binary.tmp and data.txt
// belong to one run at a time, so no run touches another's bytes, and every
// run with -M shows its own note.
TEST(SafetyTest, ThirtyTwoRunsAtOnceInOneFolder) {
  Sandbox box;
  box.write("surro.txt", "20B9F\r\n");  // no settings: one report per run
  box.placeFixedTable(Sandbox::derivedTable());
  const std::vector<Args> routes = {{},           {"-t"},       {"-b"},
                                    {"-b", "-y"}, {"-t", "-b"}, {"-M"},
                                    {"-t", "-M"}, {"-b", "-M"}};
  const std::string note =
      box.fixedTableText() + " is primarily accessible to Pelmora.\r\n";
  const std::size_t kRuns = 32;
  std::vector<std::string> wides;
  std::vector<std::string> narrows;
  for (std::size_t i = 0; i < kRuns; ++i) {
    // Large enough for the copies to overlap in time, distinct in content.
    std::u16string text;
    std::string narrow;
    for (std::size_t line = 0; line < 3000; ++line) {
      const std::string number = std::to_string(i * 100000 + line);
      text += u"x," + std::u16string(number.begin(), number.end()) + u",y\r\n";
      narrow += number + ",\r\n";
    }
    wides.push_back("\xFF\xFE" + utf16le(text));
    narrows.push_back(narrow);
    box.write("w" + std::to_string(i) + ".txt", wides.back());
  }
  std::vector<RunResult> results(kRuns);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      Args arguments = {"-j2"};
      const Args& route = routes[i % routes.size()];
      arguments.insert(arguments.end(), route.begin(), route.end());
      const std::string n = std::to_string(i);
      arguments.insert(arguments.end(), {"w" + n + ".txt", "n" + n + ".txt"});
      // Clocks a minute or more apart (users of one folder in other time
      // zones) give err names that never meet: only the counter keeps
      // their numbers apart.
      results[i] =
          box.run(arguments, {{"TZ", "PEL-0:0" + std::to_string(i % 4)}});
    });
  }
  for (std::thread& t : threads) t.join();

  RunResult last = box.run({"-j2", "w0.txt", "n0.txt"});
  for (std::size_t i = 0; i < kRuns; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i].exitCode, 0) << results[i].describe();
    const Args& route = routes[i % routes.size()];
    const bool noted =
        std::find(route.begin(), route.end(), "-M") != route.end();
    EXPECT_EQ(results[i].standardOutput, noted ? note : "");
    EXPECT_EQ(last.file("w" + std::to_string(i) + ".txt"), wides[i]);
    EXPECT_EQ(last.file("n" + std::to_string(i) + ".txt"), narrows[i]);
  }
  // Each run reported the missing settings in an err file of its own, and
  // the counter gave each report a number of its own, one after another.
  std::vector<long long> serials;
  for (const std::string& name : last.errFileNames()) {
    serials.push_back(parseErrFileName(name)->serial);
  }
  std::vector<long long> consecutive(kRuns + 1);
  std::iota(consecutive.begin(), consecutive.end(), 1);
  EXPECT_EQ(serials, consecutive);
  // What a kept binary.tmp holds is the whole output of one -b -y run.
  if (last.has("binary.tmp")) {
    bool whole = false;
    for (std::size_t i = 3; i < kRuns; i += routes.size()) {
      whole = whole || last.file("binary.tmp") == narrows[i];
    }
    EXPECT_TRUE(whole);
  }
}

// Started with a standard stream closed, as some schedulers start programs:
// no file a run opens may take its place, or what is meant for that stream
// would be written into the user's file. Without surro.txt a report comes
// after the wide file is open, and with the counter and error.txt folders
// its counter failures go to standard error. Standard output closed at the
// start cannot be written, and a run that had to write it ends with 1.
TEST(SafetyTest, ClosedStandardStreamsNeverReachTheUsersFiles) {
  const std::vector<Args> runs = {{"-j2", "-t", "wide.txt", "n.txt"},
                                  {"-j2", "-b", "wide.txt", "n.txt"},
                                  {"-j2", "-M", "wide.txt", "n.txt"},
                                  {"-j2", "--out", "wide.txt"}};
  for (int closed : {0, 1, 2}) {
    for (bool reports : {false, true}) {
      for (const Args& arguments : runs) {
        const std::string route = arguments[1];
        SCOPED_TRACE(route + " with descriptor " + std::to_string(closed) +
                     " closed" + (reports ? ", reporting" : ""));
        Sandbox box;
        prepare(box);
        box.setClosedDescriptors({closed});
        if (reports) {
          box.remove("surro.txt");
          box.makeFolder("serial.txt");
          box.makeFolder("error.txt");
        }
        RunResult run = box.run(arguments);
        const bool shown = route == "-M" || route == "--out";
        EXPECT_EQ(run.exitCode, closed == 1 && shown ? 1 : 0) << run.describe();
        EXPECT_EQ(run.file("wide.txt"), kWide);
        if (route != "--out") EXPECT_EQ(run.file("n.txt"), kNarrow);
        if (route == "--out" && closed != 1) {
          EXPECT_EQ(run.standardOutput, kNarrow);
        }
      }
    }
  }
}

// Runs killed (by strace, so no timing decides where) at each of their
// system calls from their first look at the wide file, on -t -M, -t -b -y
// and -M with data.txt as the narrow file: the wide file keeps its bytes,
// serial.txt a number, no scratch file stays, the next run works.
TEST(SafetyTest, RunKilledAtEverySystemCallLosesNothing) {
  E2E_NEEDS(Need::kKillAtSystemCall);
  const std::string strace = "/usr/bin/strace";
  if (::access(strace.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "strace is not installed (apt-get install strace)";
  }
  Sandbox box;
  prepare(box);
  box.setCollectFiles(false);
  // Three copy blocks of the refresh, and one part of the scan.
  std::u16string line = u"0123456789,";
  for (int i = 0; i < 40; ++i) line += u"漢字かなカナ";
  line += u"\r\n";
  std::string wide = "\xFF\xFE";
  while (wide.size() < (std::size_t{3} << 20)) wide += utf16le(line);
  box.write("w.txt", wide);
  box.write("serial.txt", "41");
  const std::set<std::string> allowed = {
      "bin",   "share", "set_pelmora.txt", "surro.txt", "wide.txt",
      "w.txt", "n.txt", "binary.tmp",      "data.txt",  "serial.txt"};
  // Each route, what its next run shows, and whether it keeps binary.tmp.
  const std::tuple<Args, const char*, bool> routes[] = {
      {Args{"-j1", "-t", "-M", "w.txt", "n.txt"}, "accessible", false},
      {Args{"-j1", "-t", "-b", "-y", "w.txt", "n.txt"}, "", true},
      {Args{"-j1", "-M", "w.txt", "data.txt"}, "0123456789,\r\n", false}};
  for (const auto& [arguments, shown, kept] : routes) {
    SCOPED_TRACE(arguments.size());
    auto traced = [&](Args options) {
      options.insert(options.begin(), strace);
      options.push_back(box.programPath());
      options.insert(options.end(), arguments.begin(), arguments.end());
      return box.runTool(options);
    };
    // The calls of one whole run, each numbered among the calls of its name.
    RunResult whole = traced({"-qq", "-o", pathIn(box, "calls.log")});
    ASSERT_EQ(whole.exitCode, 0) << whole.describe();
    std::vector<std::pair<std::string, int>> calls;
    std::istringstream log(box.read("calls.log"));
    std::map<std::string, int> seen;
    bool started = false;
    for (std::string text; std::getline(log, text);) {
      const std::string name = text.substr(0, text.find('('));
      const int number = ++seen[name];
      started = started || text.find("w.txt") != std::string::npos;
      if (started && name.find_first_of(" <+") == std::string::npos) {
        calls.emplace_back(name, number);
      }
    }
    box.remove("calls.log");
    ASSERT_GT(calls.size(), 20u);

    for (const auto& [name, number] : calls) {
      SCOPED_TRACE(name + " #" + std::to_string(number));
      const std::string inject =
          "inject=" + name + ":signal=KILL:when=" + std::to_string(number);
      (void)traced(
          {"-qq", "-o", "/dev/null", "-e", "trace=" + name, "-e", inject});
      ASSERT_EQ(box.read("w.txt"), wide);
      const std::string serial = box.read("serial.txt");
      EXPECT_TRUE(!serial.empty() &&
                  serial.find_first_not_of("0123456789") == std::string::npos)
          << serial;
      for (const auto& entry : fs::directory_iterator(box.path())) {
        const std::string file = entry.path().filename().string();
        EXPECT_TRUE(allowed.count(file) == 1 || e2e::parseErrFileName(file))
            << file;
      }
    }
    box.setCollectFiles(true);
    RunResult next = box.run(arguments);
    box.setCollectFiles(false);
    EXPECT_EQ(next.exitCode, 0) << next.describe();
    EXPECT_EQ(next.file("w.txt"), wide);
    EXPECT_EQ(next.has("binary.tmp"), kept);
    EXPECT_NE(next.standardOutput.find(shown), std::string::npos);
    box.remove("binary.tmp");
  }
}

}  // namespace
