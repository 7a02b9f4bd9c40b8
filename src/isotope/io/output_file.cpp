// The complete-or-absent output file: temporary file, fsync, rename.
#include "isotope/io/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "isotope/base/errors.hpp"

namespace isotope {

namespace {

mode_t current_umask() {
  static const mode_t mask = [] {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}

// What a failure to create a file in the folder means for the user.
std::string folder_problem(int err, const std::string& dir) {
  const std::string name = py_repr(dir.empty() ? std::string(".") : dir);
  switch (err) {
    case ENOENT: return "the output folder " + name + " does not exist: create it";
    case ENOTDIR: return "the output folder " + name + " is not a folder";
    case EACCES:
    case EPERM:
    case EROFS: return "the output folder " + name + " is not writable";
    default: return "cannot create a file in the output folder " + name;
  }
}

}  // namespace

int OutputFile::fail_fsync_with_ = 0;

int OutputFile::sync(int fd) {
  if (fail_fsync_with_ != 0) {
    errno = fail_fsync_with_;
    return -1;
  }
  return ::fsync(fd);
}

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
  std::string dir = target_.substr(0, target_.rfind('/') + 1);
  std::string tmpl = dir + ".isotope-tmp-XXXXXX";
  fd_ = ::mkstemp(tmpl.data());
  if (fd_ < 0) {
    int err = errno;
    std::string folder = dir.size() > 1 ? dir.substr(0, dir.size() - 1) : dir;
    throw Error::os(err, target_).explain(folder_problem(err, folder));
  }
  temp_ = tmpl;
  // A new file gets the mode an ordinary create would give it; a replaced
  // file keeps its mode.
  struct stat st;
  mode_t mode = ::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 07777)
                                                                         : (0666 & ~current_umask());
  if (::fchmod(fd_, mode) != 0) fail(errno);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
}

void OutputFile::write(std::string& buffer) {
  const char* p = buffer.data();
  std::size_t left = buffer.size();
  while (!error_ && left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  buffer.clear();
}

void OutputFile::commit() {
  if (!error_ && sync(fd_) != 0 && errno != EINVAL) fail(errno);
  if (!error_ && ::close(fd_) != 0) fail(errno);
  fd_ = -1;
  if (!error_ && ::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
  if (error_) throw Error::os(error_, target_);
  committed_ = true;
}

void OutputFile::fail(int err) {
  if (!error_) error_ = err;
}

}  // namespace isotope
