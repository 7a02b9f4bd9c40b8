// The table reader: a chunked byte buffer and a small state machine per
// record (see table_reader.hpp for the format).
#include "isotope/io/table_reader.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

namespace isotope {

namespace {

using text::is_blank;

constexpr std::array<bool, 256> byte_set(std::string_view bytes) {
  std::array<bool, 256> t{};
  for (char c : bytes) t[static_cast<unsigned char>(c)] = true;
  return t;
}

// Bytes that end a run of a quoted field.
constexpr auto kQuotedStop = byte_set(std::string_view("\"\r\n\0", 4));

// Byte classes of the plain-line fast paths: 0 field text, 1 a separator
// (a blank, or the separator byte), 2 a byte only the state machine
// handles (quote, NUL, CR, LF, non-ASCII).
std::array<std::uint8_t, 256> line_classes(char sep) {
  std::array<std::uint8_t, 256> t{};
  if (sep == 0)
    t[static_cast<unsigned char>(' ')] = t[static_cast<unsigned char>('\t')] = 1;
  else
    t[static_cast<unsigned char>(sep)] = 1;
  for (char c : {'"', '\0', '\r', '\n'}) t[static_cast<unsigned char>(c)] = 2;
  for (std::size_t b = 0x80; b < 256; ++b) t[b] = 2;
  return t;
}

}  // namespace

std::optional<Separator> separator_named(std::string_view name) {
  if (name == "whitespace") return Separator::Whitespace;
  if (name == "tab") return Separator::Tab;
  if (name == "comma") return Separator::Comma;
  if (name == "semicolon") return Separator::Semicolon;
  return std::nullopt;
}

char separator_byte(Separator separator) {
  switch (separator) {
    case Separator::Whitespace: return 0;
    case Separator::Tab: return '\t';
    case Separator::Comma: return ',';
    case Separator::Semicolon: return ';';
  }
  return 0;
}

TableReader::TableReader(const std::string& path, Separator separator, std::size_t chunk_bytes)
    : TableReader(ByteSource::file(path), separator, chunk_bytes) {}

TableReader::TableReader(ByteSource source, Separator separator, std::size_t chunk_bytes)
    : source_(std::move(source)), sep_(separator_byte(separator)), line_class_(line_classes(sep_)) {
  for (char c : {'\r', '\n', '\0'}) field_stop_[static_cast<unsigned char>(c)] = true;
  if (sep_ == 0)
    field_stop_[static_cast<unsigned char>(' ')] = field_stop_[static_cast<unsigned char>('\t')] = true;
  else
    field_stop_[static_cast<unsigned char>(sep_)] = true;
  // A small file needs no full chunk: the buffer grows if the file does.
  std::size_t size = std::max<std::size_t>(chunk_bytes, 4);
  if (source_.size()) size = std::min(size, *source_.size() + 4);
  buf_.resize(size);
}

bool TableReader::refill() {
  if (eof_) return false;
  if (keep_ > 0) {
    std::memmove(buf_.data(), buf_.data() + keep_, end_ - keep_);
    pos_ -= keep_;
    end_ -= keep_;
    keep_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // a record longer than the buffer
  const std::size_t got = source_.read(buf_.data() + end_, buf_.size() - end_);
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

void TableReader::check_record_utf8(std::size_t end, long line) const {
  const char* begin = buf_.data() + keep_;
  try {
    text::check_utf8(std::string_view(begin, end - keep_));
  } catch (Error& e) {
    e.at(path(), line);
    throw;
  }
}

// --- One record --------------------------------------------------------------
//
// next() drives a small state machine over the buffer: one member function
// per state, each consuming bytes from pos_ and naming the state that
// follows. Every line end goes through line_end(), which counts lines
// (a CRLF once) and remembers a CR that ends a record, whose LF the next
// record skips.

void TableReader::line_end(char c) {
  if (c == '\r' || !rec_.prev_cr) ++line_;
  rec_.prev_cr = c == '\r';
}

void TableReader::end_record_at(char c) {
  ++pos_;
  line_end(c);
  if (c == '\r') after_ = After::Cr;
}

void TableReader::new_field() {
  rec_.out->ends.push_back(rec_.out->bytes.size());
  ++rec_.count;
  rec_.cut = false;
}

void TableReader::append(const char* p, std::size_t n) {
  if (rec_.cut || n == 0) return;
  rec_.out->bytes.append(p, n);
  rec_.out->ends.back() = rec_.out->bytes.size();
}

bool TableReader::finish(std::size_t end) {
  check_record_utf8(end, rec_.line);
  rec_.out->records.push_back({rec_.first_field, rec_.count, rec_.line});
  return true;
}

// Blank lines and blanks before the first field (with a separator byte,
// blanks that may make a blank line).
TableReader::State TableReader::on_start_record(char c) {
  if (std::exchange(rec_.blank_cr, false) && is_separator(c)) {
    ++pos_;
    keep_ = pos_;
    return State::StartRecord;
  }
  if (is_blank(c) && !is_separator(c)) {
    ++pos_;
    rec_.prev_cr = false;
    return sep_ ? State::BlankLine : State::StartRecord;
  }
  if (c == '\n' || c == '\r') {
    ++pos_;
    line_end(c);
    rec_.blank_cr = sep_ && c == '\r';
    keep_ = pos_;
    return State::StartRecord;
  }
  rec_.line = line_;
  rec_.prev_cr = false;
  return State::StartField;
}

// With a separator byte: blanks at the start of a line. A line end makes
// the line blank (skipped); anything else starts the record, its first
// field beginning with those blanks.
TableReader::State TableReader::on_blank_line(char c) {
  if (is_blank(c) && !is_separator(c)) {
    ++pos_;
    return State::BlankLine;
  }
  if (c == '\n' || c == '\r') {
    ++pos_;
    line_end(c);
    rec_.blank_cr = c == '\r';
    keep_ = pos_;
    return State::StartRecord;
  }
  rec_.line = line_;
  new_field();
  append(buf_.data() + keep_, pos_ - keep_);
  return State::Field;
}

TableReader::State TableReader::on_start_field(char c) {
  new_field();
  if (is_separator(c)) {  // an empty field
    ++pos_;
    return State::StartField;
  }
  if (sep_ && (c == '\n' || c == '\r')) {  // an empty last field
    end_record_at(c);
    return State::Done;
  }
  if (c != '"') return State::Field;
  ++pos_;
  rec_.quote_line = line_;
  return State::Quoted;
}

// An unquoted run: up to a separator (a blank, or the separator byte), a
// line end or a NUL byte.
TableReader::State TableReader::on_field() {
  const char* b = buf_.data();
  std::size_t q = pos_;
  while (q < end_ && !field_stop_[static_cast<unsigned char>(b[q])]) ++q;
  append(b + pos_, q - pos_);
  pos_ = q;
  if (q == end_) return State::Field;  // more after a refill
  char c = b[q];
  if (c == '\0') {
    ++pos_;
    rec_.cut = true;
    return State::Field;
  }
  if (c != '\n' && c != '\r') {  // a separator
    ++pos_;
    return sep_ ? State::StartField : State::Blanks;
  }
  end_record_at(c);
  return State::Done;
}

// Inside quotes: up to the next '"'; line ends belong to the field.
TableReader::State TableReader::on_quoted() {
  const char* b = buf_.data();
  std::size_t q = pos_;
  while (q < end_ && !kQuotedStop[static_cast<unsigned char>(b[q])]) ++q;
  if (q > pos_) {
    append(b + pos_, q - pos_);
    rec_.prev_cr = false;
  }
  pos_ = q;
  if (q == end_) return State::Quoted;
  char c = b[q];
  ++pos_;
  if (c == '"') {
    rec_.prev_cr = false;
    return State::QuoteInQuoted;
  }
  if (c == '\0') {
    rec_.cut = true;
    rec_.prev_cr = false;
    return State::Quoted;
  }
  line_end(c);
  append(&c, 1);
  return State::Quoted;
}

// After a '"' inside quotes: "" is one quote; otherwise the quotes ended.
TableReader::State TableReader::on_quote_in_quoted(char c) {
  if (c == '"') {
    ++pos_;
    append(&c, 1);
    return State::Quoted;
  }
  if (sep_ ? c == sep_ : is_blank(c)) {
    ++pos_;
    return sep_ ? State::StartField : State::Blanks;
  }
  if (c == '\n' || c == '\r') {
    end_record_at(c);
    return State::Done;
  }
  return State::Field;  // text after the closing quote joins the field
}

// Blanks between fields or at the end of the line.
TableReader::State TableReader::on_blanks(char c) {
  if (is_blank(c)) {
    ++pos_;
    return State::Blanks;
  }
  if (c == '\n' || c == '\r') {
    end_record_at(c);
    return State::Done;
  }
  return State::StartField;
}

TableReader::State TableReader::after_lone_cr() {
  // The byte after a lone CR that ended the previous record: an LF makes it
  // a CRLF; between blanks, a blank starts a record at once, which has no
  // fields if the line holds only blanks.
  after_ = After::Line;
  if (pos_ == end_ && !refill()) return State::StartRecord;
  char c = buf_[pos_];
  if (c == '\n') {
    ++pos_;
    keep_ = pos_;
  } else if (sep_ == 0 && is_blank(c)) {
    ++pos_;
    rec_.line = line_;
    return State::Blanks;
  }
  return State::StartRecord;
}

bool TableReader::next(std::vector<std::string>& fields, long& line) {
  scratch_.clear();
  if (!next(scratch_)) return false;
  const std::size_t n = scratch_.fields(0);
  fields.resize(n);
  for (std::size_t i = 0; i < n; ++i) fields[i].assign(scratch_.field(0, i));
  line = scratch_.records[0].line;
  return true;
}

// The fast paths of next(): a whole line in the buffer, ended by LF or
// CRLF, of ASCII fields without quotes, NUL or CR (nearly every line of a
// real table) is split in one pass, at blanks or at the separator byte; a
// line without fields (blanks only) is skipped. Anything else is left to
// the state machine, from the same position.
int TableReader::next_fast_line(RecordBatch& batch) {
  for (;;) {
    const char* b = buf_.data();
    const auto* nl = static_cast<const char*>(std::memchr(b + pos_, '\n', end_ - pos_));
    if (!nl) return -1;
    const std::size_t e = static_cast<std::size_t>(nl - b);
    const std::size_t stop = e > pos_ && b[e - 1] == '\r' ? e - 1 : e;
    const std::size_t first_field = batch.ends.size(), bytes_before = batch.bytes.size();
    const long count = sep_ ? split_at_separator(batch, stop) : split_at_blanks(batch, stop);
    if (count <= 0) {
      batch.bytes.resize(bytes_before);
      batch.ends.resize(first_field);
      if (count < 0) return -1;
    }
    pos_ = e + 1;
    if (count == 0) {  // a blank line
      ++line_;
      keep_ = pos_;
      continue;
    }
    batch.records.push_back({first_field, static_cast<std::size_t>(count), line_});
    ++line_;
    return 1;
  }
}

// The fields of the line from pos_ to stop, split at runs of blanks: their
// number, or -1 at a byte only the state machine reads.
long TableReader::split_at_blanks(RecordBatch& batch, std::size_t stop) const {
  const char* b = buf_.data();
  long count = 0;
  for (std::size_t q = pos_; q < stop;) {
    std::uint8_t cls = line_class_[static_cast<unsigned char>(b[q])];
    if (cls == 1) {
      ++q;
      continue;
    }
    const std::size_t f = q;
    while (q < stop && (cls = line_class_[static_cast<unsigned char>(b[q])]) == 0) ++q;
    if (q < stop && cls == 2) return -1;
    batch.bytes.append(b + f, q - f);
    batch.ends.push_back(batch.bytes.size());
    ++count;
  }
  return count;
}

// The fields of the line from pos_ to stop, split at each separator byte:
// their number (0 for a line of blanks only), or -1 at a byte only the
// state machine reads.
long TableReader::split_at_separator(RecordBatch& batch, std::size_t stop) const {
  const char* b = buf_.data();
  long count = 0;
  std::size_t f = pos_;
  bool blank = true;
  for (std::size_t q = pos_; q <= stop; ++q) {
    const std::uint8_t cls = q < stop ? line_class_[static_cast<unsigned char>(b[q])] : 1;
    if (cls == 0) {
      blank = blank && is_blank(b[q]);
      continue;
    }
    if (cls == 2) return -1;
    if (q < stop) blank = false;  // a separator
    batch.bytes.append(b + f, q - f);
    batch.ends.push_back(batch.bytes.size());
    ++count;
    f = q + 1;
  }
  return blank ? 0 : count;
}

bool TableReader::next(RecordBatch& batch) {
  if (!started_) {
    started_ = true;
    while (end_ < 3 && refill()) {
    }
    pos_ = byte_order_mark_size(std::string_view(buf_.data(), end_));
  }
  keep_ = pos_;
  if (after_ == After::Line && next_fast_line(batch) == 1) return true;
  keep_ = pos_;
  rec_ = Record{};
  rec_.out = &batch;
  rec_.first_field = batch.ends.size();
  rec_.line = rec_.quote_line = line_;

  State state = after_ == After::Cr ? after_lone_cr() : State::StartRecord;
  for (;;) {
    if (pos_ == end_ && !refill()) {
      // End of file.
      if (state == State::StartRecord || state == State::BlankLine) return false;
      if (state == State::Quoted) {
        check_record_utf8(end_, rec_.line);
        throw Error::value("end of file inside a quoted field").at(path(), rec_.quote_line);
      }
      if (state == State::StartField) new_field();  // after a final separator
      return finish(end_);
    }
    char c = buf_[pos_];
    switch (state) {
      case State::StartRecord: state = on_start_record(c); break;
      case State::BlankLine: state = on_blank_line(c); break;
      case State::StartField: state = on_start_field(c); break;
      case State::Field: state = on_field(); break;
      case State::Quoted: state = on_quoted(); break;
      case State::QuoteInQuoted: state = on_quote_in_quoted(c); break;
      case State::Blanks: state = on_blanks(c); break;
      case State::Done: break;
    }
    if (state == State::Done) return finish(pos_);
  }
}

}  // namespace isotope
