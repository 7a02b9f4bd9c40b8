// Small helpers shared by the tests: temporary folders, files, and running
// the native program with captured output.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "isotope/base/errors.hpp"

extern char** environ;

namespace testing_support {

// The isotope::Error that f throws; a test failure when it throws none.
template <class F>
isotope::Error error_of(F&& f) {
  try {
    f();
  } catch (const isotope::Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return isotope::Error(isotope::ErrorKind::Value, "none");
}

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "isotope-test-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs program with args (argv[0] included), with extra environment
// entries "NAME=value", and captures standard output and standard error.
inline Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& env_extra = {},
                   const std::string& workdir = {}) {
  TempDir io;
  std::string out_path = io / "out", err_path = io / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!workdir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_store;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("COLUMNS=", 0) == 0) continue;  // help width must not depend on the caller
    env_store.push_back(entry);
  }
  for (const auto& e : env_extra) env_store.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid;
  Outcome o;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) {
    int st = 0;
    waitpid(pid, &st, 0);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  posix_spawn_file_actions_destroy(&actions);
  o.out = read_file(out_path);
  o.err = read_file(err_path);
  return o;
}

struct Limits {
  // Run as this user (when the tests run as root), so that permissions hold.
  std::optional<uid_t> uid;
  // RLIMIT_FSIZE in bytes: writes beyond it fail with EFBIG.
  std::optional<rlim_t> file_size;
};

// Like run(), in a child process that first drops to `limits.uid` and sets
// the file-size limit.
inline Outcome run_limited(const std::vector<std::string>& argv, const Limits& limits) {
  TempDir io;
  ::chmod(io.path().c_str(), 0777);
  std::string out_path = io / "out", err_path = io / "err";
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (limits.file_size) {
      rlimit rl{*limits.file_size, *limits.file_size};
      ::setrlimit(RLIMIT_FSIZE, &rl);
    }
    if (limits.uid && ::getuid() == 0) {
      ::setgroups(0, nullptr);
      if (::setgid(*limits.uid) != 0 || ::setuid(*limits.uid) != 0) ::_exit(126);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  Outcome o;
  int st = 0;
  ::waitpid(pid, &st, 0);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  o.out = read_file(out_path);
  o.err = read_file(err_path);
  return o;
}

}  // namespace testing_support
