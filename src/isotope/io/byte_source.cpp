// Files opened, read with retries on EINTR, and closed in one place; bytes
// in memory handed out the same way.
#include "isotope/io/byte_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "isotope/base/errors.hpp"

namespace isotope {

ByteSource::ByteSource(std::string path, int fd, std::string_view bytes, std::optional<std::size_t> size)
    : path_(std::move(path)), fd_(fd), rest_(bytes), size_(size) {}

ByteSource ByteSource::file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error::os(errno, path);
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Error::os(EISDIR, path);
  }
  std::optional<std::size_t> size;
  if (known && S_ISREG(st.st_mode) && st.st_size >= 0) size = static_cast<std::size_t>(st.st_size);
  return ByteSource(path, fd, {}, size);
}

ByteSource ByteSource::memory(std::string_view bytes, std::string name) {
  return ByteSource(std::move(name), -1, bytes, bytes.size());
}

ByteSource::~ByteSource() {
  if (fd_ >= 0) ::close(fd_);
}

ByteSource::ByteSource(ByteSource&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), rest_(other.rest_), size_(other.size_) {
  other.fd_ = -1;
}

std::size_t ByteSource::read(char* into, std::size_t n) {
  if (fd_ < 0) {
    const std::size_t got = std::min(n, rest_.size());
    if (got > 0) std::memcpy(into, rest_.data(), got);
    rest_.remove_prefix(got);
    return got;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, into, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw Error::os(errno, path_);
  }
}

std::string read_whole_file(const std::string& path) {
  ByteSource source = ByteSource::file(path);
  std::string bytes;
  char chunk[65536];
  while (const std::size_t got = source.read(chunk, sizeof chunk)) bytes.append(chunk, got);
  return bytes;
}

}  // namespace isotope
