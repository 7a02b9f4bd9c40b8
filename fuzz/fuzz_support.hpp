// Helpers shared by the fuzz targets: the contract check (only
// isotope::Error may escape the core), invariant checks that abort with a
// message, and scratch files for the readers that take a path.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

#include "isotope/base/errors.hpp"

namespace fuzz {

// Aborts with a message: libFuzzer reports the abort as a crash and saves
// the input that caused it.
[[noreturn]] inline void fail(const std::string& message) {
  std::fprintf(stderr, "\n*** fuzz invariant broken: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond, message)                                                   \
  do {                                                                              \
    if (!(cond))                                                                    \
      ::fuzz::fail(std::string(#cond) + " (" __FILE__ ":" + std::to_string(__LINE__) + \
                   "): " + (message));                                              \
  } while (0)

// Runs step and returns the message of the isotope::Error it failed with,
// or nothing when it succeeded. An isotope::Error is the promised way to
// fail; any other exception breaks the contract and aborts, naming its type
// and message.
template <class F>
std::optional<std::string> error_of(std::string_view step, F&& f) {
  try {
    f();
    return std::nullopt;
  } catch (const isotope::Error& e) {
    return std::string(e.what());
  } catch (const std::exception& e) {
    fail(std::string(step) + ": " + typeid(e).name() + " escaped: " + e.what());
  } catch (...) {
    fail(std::string(step) + ": a non-standard exception escaped");
  }
}

// True when step succeeded, false when it failed with an isotope::Error.
template <class F>
bool only_isotope_errors(std::string_view step, F&& f) {
  return !error_of(step, std::forward<F>(f));
}

// Runs step, which must not fail at all: an isotope::Error here means an
// earlier step accepted what a later one rejects.
template <class F>
void must_succeed(std::string_view step, F&& f) {
  if (auto e = error_of(step, std::forward<F>(f))) fail(std::string(step) + " failed: " + *e);
}

// A private folder for the files a target writes, removed at exit. It lies
// in $TMPDIR, else in /dev/shm (memory: the pipeline syncs its output
// file, which costs little there), else in /tmp.
class ScratchDir {
 public:
  ScratchDir() {
    namespace fs = std::filesystem;
    fs::path base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t && *t)
      base = t;
    else if (::access("/dev/shm", W_OK) == 0)
      base = "/dev/shm";
    std::string tmpl = (base / "isotope-fuzz-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) fail("cannot make a scratch folder in " + base.string());
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write " + path);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
