// The delimited reader: a chunked byte buffer and a character loop per
// record (see delimited_reader.hpp for the format).
#include "isotope/io/delimited_reader.hpp"

#include <algorithm>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

namespace isotope {

namespace {

// The buffer: a chunk, or the whole source when smaller (at least 4 bytes,
// so that a byte order mark fits).
std::size_t buffer_size(const ByteSource& source, std::size_t chunk_bytes) {
  const std::size_t size = std::max<std::size_t>(chunk_bytes, 4);
  return source.size() ? std::min(size, *source.size() + 4) : size;
}

}  // namespace

DelimitedReader::DelimitedReader(const std::string& path, char separator, std::size_t chunk_bytes, bool quotes)
    : DelimitedReader(ByteSource::file(path), separator, chunk_bytes, quotes) {}

DelimitedReader::DelimitedReader(ByteSource source, char separator, std::size_t chunk_bytes, bool quotes)
    : source_(std::move(source)), sep_(separator), quotes_(quotes), buf_(buffer_size(source_, chunk_bytes)) {
  raw_.reserve(buf_.size());  // a record's bytes: most records fit the buffer
}

bool DelimitedReader::get(char& c) {
  if (pos_ == end_) {
    if (eof_) return false;
    const std::size_t got = source_.read(buf_.data(), buf_.size());
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
      const std::size_t got = source_.read(buf_.data() + end_, buf_.size() - end_);
      if (got == 0) eof_ = true;
      end_ += got;
    }
    pos_ = byte_order_mark_size(std::string_view(buf_.data(), end_));
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
          throw Error::value("end of file inside a quoted field").at(path(), quote_line);
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
          } else if (c == '"' && state == State::Start && quotes_) {
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
                       std::all_of(fields[0].begin(), fields[0].end(), text::is_blank);
    if (!blank) return true;
  }
}

void DelimitedReader::check_record_utf8(long line) const {
  try {
    text::check_utf8(raw_);
  } catch (Error& e) {
    throw e.at(path(), line);
  }
}

std::string read_first_line(const std::string& path, std::size_t max_bytes) {
  return read_first_line(ByteSource::file(path), max_bytes);
}

std::string read_first_line(ByteSource source, std::size_t max_bytes) {
  std::string line;
  char chunk[4096];
  bool done = false;
  while (!done && line.size() < max_bytes) {
    std::size_t got = source.read(chunk, std::min(sizeof chunk, max_bytes - line.size()));
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
  line.erase(0, byte_order_mark_size(line));
  return line;
}

}  // namespace isotope
