// The bytes a table reader reads: a file, or bytes in memory that tests and
// fuzz targets hand to a reader in place of a file. Either way they come
// out through read(), in the chunks the reader asks for, so that a reader
// splits records at the same chunk ends. Also the whole content of a file,
// and the UTF-8 byte order mark that readers drop at the start of a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace isotope {

class ByteSource {
 public:
  // Opens path for reading. Throws Error::os when it cannot be opened, and
  // with EISDIR when it is a folder.
  static ByteSource file(const std::string& path);
  // The bytes of `bytes`, which must outlive the source; `name` stands for
  // the path in errors.
  static ByteSource memory(std::string_view bytes, std::string name);

  ~ByteSource();
  ByteSource(ByteSource&& other) noexcept;
  ByteSource& operator=(ByteSource&&) = delete;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // Reads up to n bytes into `into`; returns 0 at the end. A file's read()
  // is retried when a signal interrupts it; any other failure throws
  // Error::os naming the path.
  std::size_t read(char* into, std::size_t n);
  // The number of bytes when known in advance (a regular file, memory),
  // by which a reader sizes its buffer.
  std::optional<std::size_t> size() const noexcept { return size_; }
  const std::string& path() const noexcept { return path_; }

 private:
  ByteSource(std::string path, int fd, std::string_view bytes, std::optional<std::size_t> size);

  std::string path_;
  int fd_ = -1;            // a file, or -1 for memory
  std::string_view rest_;  // memory: the bytes not read yet
  std::optional<std::size_t> size_;
};

// The whole content of a file (read through ByteSource).
std::string read_whole_file(const std::string& path);

// The UTF-8 byte order mark.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The length of a byte order mark at the start of bytes: 3 or 0.
inline std::size_t byte_order_mark_size(std::string_view bytes) {
  return bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
}

}  // namespace isotope
