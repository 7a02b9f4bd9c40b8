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

// A byte order mark at the very start is dropped: the buffer (at least 4
// bytes) is filled until it holds 3 bytes or the whole file.
void DelimitedReader::skip_byte_order_mark() {
  started_ = true;
  while (end_ < 3 && !eof_) {
    const std::size_t got = source_.read(buf_.data() + end_, buf_.size() - end_);
    if (got == 0) eof_ = true;
    end_ += got;
  }
  pos_ = byte_order_mark_size(std::string_view(buf_.data(), end_));
}

// A byte inside a quoted field: line ends belong to the field (a CRLF
// counts as one line), '"' ends the quotes or, doubled, stands for itself.
// False when the byte ended the quotes and is to be read as plain.
bool DelimitedReader::quoted_byte(char c, std::string& field, Quoting& state) {
  if (state == Quoting::Quoted) {
    if (c == '\r' || (c == '\n' && (raw_.empty() || raw_.back() != '\r'))) ++line_;
    raw_ += c;
    if (c == '"')
      state = Quoting::AfterQuote;
    else
      field += c;
    return true;
  }
  if (c != '"') {
    state = Quoting::Plain;  // the quotes ended; what follows joins the field
    return false;
  }
  raw_ += c;
  field += c;
  state = Quoting::Quoted;
  return true;
}

// One record's fields, up to its line end; false when the record ended
// the file. A quoted field open at the end of the file is an error.
std::size_t DelimitedReader::read_fields(std::vector<std::string>& fields, long line, bool& quoted_any) {
  std::size_t count = 0;
  auto new_field = [&]() -> std::string& {
    if (count == fields.size()) fields.emplace_back();
    else fields[count].clear();
    return fields[count++];
  };
  std::string* field = &new_field();
  Quoting state = Quoting::Start;
  long quote_line = 0;
  char c;
  while (get(c)) {
    if ((state == Quoting::Quoted || state == Quoting::AfterQuote) && quoted_byte(c, *field, state)) continue;
    if (c == '\n' || c == '\r') {
      ++line_;
      if (c == '\r' && get(c) && c != '\n') unget();
      return count;
    }
    raw_ += c;
    if (c == sep_) {
      field = &new_field();
      state = Quoting::Start;
    } else if (c == '"' && state == Quoting::Start && quotes_) {
      quoted_any = true;
      quote_line = line_;
      state = Quoting::Quoted;
    } else {
      *field += c;
      state = Quoting::Plain;
    }
  }
  if (state == Quoting::Quoted) {
    check_record_utf8(line);
    throw Error::value("end of file inside a quoted field").at(path(), quote_line);
  }
  return count;
}

bool DelimitedReader::next(std::vector<std::string>& fields, long& line) {
  if (!started_) skip_byte_order_mark();
  for (char c; get(c);) {
    unget();
    line = line_;
    raw_.clear();
    bool quoted_any = false;
    const std::size_t count = read_fields(fields, line, quoted_any);
    fields.resize(count);
    check_record_utf8(line);
    const bool blank = count == 1 && !quoted_any &&
                       std::all_of(fields[0].begin(), fields[0].end(), text::is_blank);
    if (!blank) return true;
  }
  return false;
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
