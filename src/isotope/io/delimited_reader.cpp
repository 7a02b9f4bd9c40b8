// The delimited reader: a chunked byte buffer and a character loop per
// record (see delimited_reader.hpp for the format).
#include "isotope/io/delimited_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

namespace isotope {

namespace {

int open_table(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error::os(errno, path);
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Error::os(EISDIR, path);
  }
  return fd;
}

// read() that retries on EINTR; throws on failure.
std::size_t read_some(int fd, char* into, std::size_t n, const std::string& path) {
  for (;;) {
    ssize_t got = ::read(fd, into, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw Error::os(errno, path);
  }
}

}  // namespace

DelimitedReader::DelimitedReader(const std::string& path, char separator, std::size_t chunk_bytes)
    : path_(path), sep_(separator), fd_(open_table(path)), buf_(std::max<std::size_t>(chunk_bytes, 4)) {}

DelimitedReader::~DelimitedReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool DelimitedReader::get(char& c) {
  if (pos_ == end_) {
    if (eof_) return false;
    const std::size_t got = read_some(fd_, buf_.data(), buf_.size(), path_);
    if (got == 0) {
      eof_ = true;  // pos_ stays: the byte before it may still be given back
      return false;
    }
    pos_ = 0;
    end_ = got;
  }
  c = buf_[pos_++];
  return true;
}

bool DelimitedReader::next(std::vector<std::string>& fields, long& line) {
  char c;
  if (!started_) {
    started_ = true;
    // A byte order mark at the very start is dropped: the buffer (at least
    // 4 bytes) is filled until it holds 3 bytes or the whole file.
    while (end_ < 3 && !eof_) {
      const std::size_t got = read_some(fd_, buf_.data() + end_, buf_.size() - end_, path_);
      if (got == 0) eof_ = true;
      end_ += got;
    }
    if (end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  }
  for (;;) {
    if (!get(c)) return false;
    unget();
    line = line_;
    raw_.clear();
    std::size_t count = 0;
    auto new_field = [&] {
      if (count == fields.size())
        fields.emplace_back();
      else
        fields[count].clear();
      return &fields[count++];
    };
    std::string* field = new_field();
    bool quoted_any = false;
    long quote_line = 0;
    enum class State { Start, Plain, Quoted, AfterQuote } state = State::Start;
    for (bool ended = false; !ended;) {
      if (!get(c)) {
        if (state == State::Quoted) {
          check_record_utf8(line);
          throw Error::value("end of file inside a quoted field").at(path_, quote_line);
        }
        break;
      }
      switch (state) {
        case State::Quoted:
          // Line ends belong to the field; a CRLF counts as one line.
          if (c == '\r' || (c == '\n' && (raw_.empty() || raw_.back() != '\r'))) ++line_;
          raw_ += c;
          if (c == '"')
            state = State::AfterQuote;
          else
            *field += c;
          break;
        case State::AfterQuote:
          if (c == '"') {  // "" inside quotes is one '"'
            raw_ += c;
            *field += c;
            state = State::Quoted;
            break;
          }
          state = State::Plain;  // the quotes ended; what follows joins the field
          [[fallthrough]];
        case State::Start:
        case State::Plain:
          if (c == '\n' || c == '\r') {
            ++line_;
            if (c == '\r' && get(c) && c != '\n') unget();
            ended = true;
          } else if (c == sep_) {
            raw_ += c;
            field = new_field();
            state = State::Start;
          } else if (c == '"' && state == State::Start) {
            raw_ += c;
            quoted_any = true;
            quote_line = line_;
            state = State::Quoted;
          } else {
            raw_ += c;
            *field += c;
            state = State::Plain;
          }
          break;
      }
    }
    fields.resize(count);
    check_record_utf8(line);
    const bool blank = count == 1 && !quoted_any &&
                       std::all_of(fields[0].begin(), fields[0].end(), [](char b) { return b == ' ' || b == '\t'; });
    if (!blank) return true;
  }
}

void DelimitedReader::check_record_utf8(long line) const {
  try {
    text::check_utf8(raw_);
  } catch (Error& e) {
    throw e.at(path_, line);
  }
}

std::string read_first_line(const std::string& path, std::size_t max_bytes) {
  int fd = open_table(path);
  std::string line;
  char chunk[4096];
  bool done = false;
  try {
    while (!done && line.size() < max_bytes) {
      std::size_t got = read_some(fd, chunk, std::min(sizeof chunk, max_bytes - line.size()), path);
      if (got == 0) break;
      for (std::size_t k = 0; k < got; ++k) {
        if (chunk[k] == '\n' || chunk[k] == '\r') {
          got = k;
          done = true;
          break;
        }
      }
      line.append(chunk, got);
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  return line;
}

}  // namespace isotope
