#include "morvandel/plugins/isotope/table.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>

#include "morvandel/plugins/isotope/errors.hpp"
#include "morvandel/plugins/isotope/pyformat.hpp"
#include "morvandel/plugins/isotope/text.hpp"

namespace isotope {

namespace {

// --- Cell words as pandas' C parser reads them ---------------------------

bool is_ascii_space(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') < 5;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// 1 for a true word, 0 for a false word (any letter case), -1 otherwise.
int bool_word(std::string_view s) {
  if (s.size() == 4 && text::equals_ascii_lower(s, "true")) return 1;
  if (s.size() == 5 && text::equals_ascii_lower(s, "false")) return 0;
  return -1;
}

enum class IntRead { Ok, Invalid, Overflow };

// An integer word: ASCII white space, an optional sign, ASCII digits, ASCII
// white space. Sets the sign and the digits without leading zeros.
bool split_int_word(std::string_view s, bool& negative, std::string_view& digits) {
  std::size_t p = 0, n = s.size();
  while (p < n && is_ascii_space(s[p])) ++p;
  negative = false;
  if (p < n && (s[p] == '-' || s[p] == '+')) {
    negative = s[p] == '-';
    ++p;
  }
  std::size_t begin = p;
  while (p < n && is_digit(s[p])) ++p;
  if (p == begin) return false;
  std::size_t end = p;
  while (p < n && is_ascii_space(s[p])) ++p;
  if (p != n) return false;
  while (begin + 1 < end && s[begin] == '0') ++begin;
  digits = s.substr(begin, end - begin);
  return true;
}

// The digits from s[p] on, then trailing blanks to the end, as a value no
// larger than limit.
IntRead read_digits(std::string_view s, std::size_t p, std::uint64_t limit, std::uint64_t& value) {
  std::size_t n = s.size();
  for (; p < n && is_digit(s[p]); ++p) {
    auto d = static_cast<std::uint64_t>(s[p] - '0');
    if (value > (limit - d) / 10) return IntRead::Overflow;
    value = value * 10 + d;
  }
  while (p < n && is_ascii_space(s[p])) ++p;
  return p == n ? IntRead::Ok : IntRead::Invalid;
}

// pandas' str_to_int64: overflow is reported as soon as the digits exceed
// int64, before the rest of the word is looked at.
IntRead read_int64(std::string_view s) {
  std::size_t p = 0, n = s.size();
  while (p < n && is_ascii_space(s[p])) ++p;
  bool negative = false;
  if (p < n && (s[p] == '-' || s[p] == '+')) {
    negative = s[p] == '-';
    ++p;
  }
  if (p == n || !is_digit(s[p])) return IntRead::Invalid;
  // Magnitude limit: 2^63 for negatives, 2^63 - 1 otherwise.
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t value = 0;
  return read_digits(s, p, limit, value);
}

// pandas' str_to_uint64: a leading '-' only records that a signed value
// was seen (the rest of the word is not read); values above int64 are
// recorded too.
IntRead read_uint64(std::string_view s, bool& negative, bool& big) {
  std::size_t p = 0, n = s.size();
  while (p < n && is_ascii_space(s[p])) ++p;
  if (p < n && s[p] == '-') {
    negative = true;
    return IntRead::Ok;
  }
  if (p < n && s[p] == '+') ++p;
  if (p == n || !is_digit(s[p])) return IntRead::Invalid;
  std::uint64_t value = 0;
  IntRead read = read_digits(s, p, std::numeric_limits<std::uint64_t>::max(), value);
  if (read == IntRead::Ok && value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    big = true;
  return read;
}

// The float64 value numpy gives an integer word (int64 or uint64).
std::optional<double> int_word_value(std::string_view raw) {
  bool negative;
  std::string_view digits;
  if (!split_int_word(raw, negative, digits)) return std::nullopt;
  std::uint64_t mag = 0;
  for (char c : digits) {
    auto d = static_cast<std::uint64_t>(c - '0');
    if (mag > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return std::nullopt;
    mag = mag * 10 + d;
  }
  if (!negative) return static_cast<double>(mag);
  constexpr std::uint64_t kMinMag = std::uint64_t{1} << 63;
  if (mag > kMinMag) return std::nullopt;
  if (mag == kMinMag) return static_cast<double>(std::numeric_limits<std::int64_t>::min());
  return static_cast<double>(-static_cast<std::int64_t>(mag));
}

[[noreturn]] void not_of_type(std::string_view raw, const char* what) {
  throw Error::value("cell " + py_repr(raw) + " is not " + what);
}

// The float64 value of a non-missing cell of a float-held type; NaN for
// IntWithMissing cells pandas turns into NaN.
double float_value(ColumnType type, std::string_view raw) {
  if (int b = bool_word(raw); b >= 0) return b;
  if (type == ColumnType::Float) {
    if (auto v = parse_float(raw)) return *v;
    not_of_type(raw, "a float");
  }
  auto v = int_word_value(raw);
  if (!v) not_of_type(raw, "an integer");
  if (type == ColumnType::IntWithMissing && *v == -0x1p63) return std::numeric_limits<double>::quiet_NaN();
  return *v;
}

void append_int_value(std::string& out, std::string_view raw) {
  if (int b = bool_word(raw); b >= 0) {
    out += b ? '1' : '0';
    return;
  }
  bool negative;
  std::string_view digits;
  if (!split_int_word(raw, negative, digits)) not_of_type(raw, "an integer");
  if (negative && digits != "0") out += '-';
  out += digits;
}

// Appends the value of a non-missing cell as str() shows it; false when
// the value is NaN.
bool append_value(std::string& out, ColumnType type, std::string_view raw) {
  switch (type) {
    case ColumnType::Int:
      append_int_value(out, raw);
      return true;
    case ColumnType::Bool: {
      int b = bool_word(raw);
      if (b < 0) not_of_type(raw, "a bool");
      out += b ? "True" : "False";
      return true;
    }
    case ColumnType::Float:
    case ColumnType::IntAsFloat:
    case ColumnType::IntWithMissing: {
      double v = float_value(type, raw);
      if (std::isnan(v)) return false;
      append_float_repr(out, v);
      return true;
    }
    case ColumnType::Text:
    case ColumnType::TextAsRead:
      out += raw;
      return true;
  }
  return true;
}

// --- Typing joins -----------------------------------------------------------

enum class Dtype { Bool, Int64, UInt64, Float64, Object };

Dtype block_dtype(BlockKind k) {
  switch (k) {
    case BlockKind::Int64: return Dtype::Int64;
    case BlockKind::UInt64: return Dtype::UInt64;
    case BlockKind::IntWithMissing:
    case BlockKind::Float64: return Dtype::Float64;
    case BlockKind::Bool: return Dtype::Bool;
    case BlockKind::BoolWithMissing:
    case BlockKind::Text:
    case BlockKind::TextAsRead: return Dtype::Object;
  }
  return Dtype::Object;
}

unsigned kind_bit(BlockKind k) { return 1u << static_cast<unsigned>(k); }

// The dtype numpy gives the concatenation of blocks of these kinds.
Dtype joined_dtype(unsigned kinds) {
  bool has[5] = {};
  for (unsigned k = 0; k < 8; ++k)
    if (kinds & (1u << k)) has[static_cast<int>(block_dtype(static_cast<BlockKind>(k)))] = true;
  if (has[static_cast<int>(Dtype::Object)]) return Dtype::Object;
  bool i = has[static_cast<int>(Dtype::Int64)], u = has[static_cast<int>(Dtype::UInt64)];
  if (has[static_cast<int>(Dtype::Float64)] || (i && u)) return Dtype::Float64;
  if (i) return Dtype::Int64;
  if (u) return Dtype::UInt64;
  return Dtype::Bool;
}

// --- Reader -------------------------------------------------------------

constexpr std::array<bool, 256> byte_set(std::string_view bytes) {
  std::array<bool, 256> t{};
  for (char c : bytes) t[static_cast<unsigned char>(c)] = true;
  return t;
}

// Bytes that end a run of an unquoted or a quoted field.
constexpr auto kFieldStop = byte_set(std::string_view(" \t\r\n\0", 5));
constexpr auto kQuotedStop = byte_set(std::string_view("\"\r\n\0", 4));

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool all_ascii(const char* p, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & 0x8080808080808080ull) return false;
  }
  for (; i < n; ++i)
    if (static_cast<unsigned char>(p[i]) & 0x80) return false;
  return true;
}

}  // namespace

bool is_missing_marker(std::string_view s) {
  switch (s.size()) {
    case 0: return true;
    case 2: return s == "NA";
    case 3: return s == "NaN" || s == "nan" || s == "N/A" || s == "n/a" || s == "#NA";
    case 4: return s == "NULL" || s == "null" || s == "-NaN" || s == "-nan" || s == "<NA>" || s == "#N/A";
    case 6: return s == "1.#IND";
    case 7: return s == "-1.#IND" || s == "1.#QNAN";
    case 8: return s == "-1.#QNAN" || s == "#N/A N/A";
    default: return false;
  }
}

TableReader::TableReader(const std::string& path, std::size_t chunk_bytes) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw Error::os(errno, path);
  struct stat st;
  bool known = ::fstat(fd_, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw Error::os(EISDIR, path);
  }
  // A small file needs no full chunk: the buffer grows if the file does.
  std::size_t size = std::max<std::size_t>(chunk_bytes, 4);
  if (known && S_ISREG(st.st_mode) && st.st_size >= 0)
    size = std::min(size, static_cast<std::size_t>(st.st_size) + 4);
  buf_.resize(size);
}

TableReader::~TableReader() {
  if (fd_ >= 0) ::close(fd_);
}

void TableReader::fail_read(int err) const { throw Error::os(err, path_); }

bool TableReader::refill() {
  if (eof_) return false;
  if (keep_ > 0) {
    std::memmove(buf_.data(), buf_.data() + keep_, end_ - keep_);
    pos_ -= keep_;
    end_ -= keep_;
    keep_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // a record longer than the buffer
  for (;;) {
    ssize_t got = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got < 0) {
      if (errno == EINTR) continue;
      fail_read(errno);
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(got);
    return true;
  }
}

void TableReader::check_record_utf8(std::size_t end, long line) const {
  const char* begin = buf_.data() + keep_;
  if (all_ascii(begin, end - keep_)) return;
  try {
    text::check_utf8(std::string_view(begin, end - keep_));
  } catch (Error& e) {
    e.at(path_, line);
    throw;
  }
}

bool TableReader::next(std::vector<std::string>& fields, long& line) {
  if (!started_) {
    started_ = true;
    while (end_ < 3 && refill()) {
    }
    if (end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  }
  keep_ = pos_;

  enum class State { StartRecord, StartField, Field, Quoted, QuoteInQuoted, Blanks };
  State state = State::StartRecord;
  std::size_t count = 0;  // fields of this record
  std::string* field = nullptr;
  bool cut = false;  // the field's value ended at a NUL byte
  long record_line = line_, quote_line = line_;
  bool prev_cr = false;  // the byte just consumed was a CR

  auto new_field = [&]() {
    if (count == fields.size()) {
      fields.emplace_back();
    } else {
      fields[count].clear();
    }
    field = &fields[count++];
    cut = false;
  };
  auto finish = [&](std::size_t end) {
    fields.resize(count);
    check_record_utf8(end, record_line);
    line = record_line;
    return true;
  };

  if (after_ == After::Cr) {
    // The byte after a lone CR that ended the previous record: an LF makes
    // it a CRLF; a blank starts a record at once, which has no fields if
    // the line holds only blanks.
    after_ = After::Line;
    if (pos_ < end_ || refill()) {
      char c = buf_[pos_];
      if (c == '\n') {
        ++pos_;
        keep_ = pos_;
      } else if (is_blank(c)) {
        ++pos_;
        record_line = line_;
        state = State::Blanks;
      }
    }
  }

  for (;;) {
    if (pos_ == end_ && !refill()) {
      // End of file.
      switch (state) {
        case State::StartRecord:
          return false;
        case State::Quoted:
          check_record_utf8(end_, record_line);
          throw Error::value("end of file inside a quoted field").at(path_, quote_line);
        default:
          return finish(end_);
      }
    }
    const char* b = buf_.data();
    char c = b[pos_];
    switch (state) {
      case State::StartRecord:
        if (is_blank(c)) {
          ++pos_;
        } else if (c == '\n' || c == '\r') {
          ++pos_;
          if (c == '\r' || !prev_cr) ++line_;
          prev_cr = c == '\r';
          keep_ = pos_;
          continue;
        } else {
          record_line = line_;
          state = State::StartField;
        }
        prev_cr = false;
        break;

      case State::StartField:
        new_field();
        if (c == '"') {
          ++pos_;
          quote_line = line_;
          state = State::Quoted;
        } else {
          state = State::Field;
        }
        break;

      case State::Field: {
        std::size_t q = pos_;
        while (q < end_ && !kFieldStop[static_cast<unsigned char>(b[q])]) ++q;
        if (!cut) field->append(b + pos_, q - pos_);
        pos_ = q;
        if (q == end_) break;
        c = b[q];
        ++pos_;
        if (c == '\0') {
          cut = true;
        } else if (is_blank(c)) {
          state = State::Blanks;
        } else if (c == '\n') {
          ++line_;
          return finish(pos_);
        } else {  // '\r'
          ++line_;
          after_ = After::Cr;
          return finish(pos_);
        }
        break;
      }

      case State::Quoted: {
        std::size_t q = pos_;
        while (q < end_ && !kQuotedStop[static_cast<unsigned char>(b[q])]) ++q;
        if (q > pos_) {
          if (!cut) field->append(b + pos_, q - pos_);
          prev_cr = false;
        }
        pos_ = q;
        if (q == end_) break;
        c = b[q];
        ++pos_;
        if (c == '"') {
          state = State::QuoteInQuoted;
          prev_cr = false;
        } else if (c == '\0') {
          cut = true;
          prev_cr = false;
        } else {  // a line end inside the field
          if (c == '\r' || !prev_cr) ++line_;
          prev_cr = c == '\r';
          if (!cut) *field += c;
        }
        break;
      }

      case State::QuoteInQuoted:
        if (c == '"') {
          ++pos_;
          if (!cut) *field += '"';
          state = State::Quoted;
        } else if (is_blank(c)) {
          ++pos_;
          state = State::Blanks;
        } else if (c == '\n' || c == '\r') {
          ++pos_;
          ++line_;
          if (c == '\r') after_ = After::Cr;
          return finish(pos_);
        } else {
          state = State::Field;  // text after the closing quote joins the field
        }
        break;

      case State::Blanks:
        if (is_blank(c)) {
          ++pos_;
        } else if (c == '\n' || c == '\r') {
          ++pos_;
          ++line_;
          if (c == '\r') after_ = After::Cr;
          return finish(pos_);
        } else {
          state = State::StartField;
        }
        break;
    }
  }
}

// --- Layout ----------------------------------------------------------------

const std::vector<ColumnType>& TableLayout::row_types(std::size_t row) const {
  auto it = std::upper_bound(runs.begin(), runs.end(), row,
                             [](std::size_t r, const TypeRun& run) { return r < run.first_row; });
  return it == runs.begin() ? runs.front().types : std::prev(it)->types;
}

std::size_t typing_block_rows(std::size_t columns) {
  std::size_t heuristic = (std::size_t{1} << 20) / std::max<std::size_t>(columns, 1);
  std::size_t rows = 1;
  while (rows * 2 < heuristic) rows *= 2;
  return rows;
}

std::vector<std::string> header_names(const std::vector<std::string>& fields) {
  std::vector<std::string> names(fields);
  std::vector<std::size_t> order, unnamed;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) {
      names[i] = "Unnamed: " + std::to_string(i);
      unnamed.push_back(i);
    } else {
      order.push_back(i);
    }
  }
  order.insert(order.end(), unnamed.begin(), unnamed.end());

  // How often each name occurs in the header as renamed so far.
  std::unordered_map<std::string, std::size_t> present;
  for (const auto& n : names) ++present[n];
  std::unordered_map<std::string, std::size_t> counts;
  auto count_of = [&](const std::string& name) -> std::size_t {
    auto it = counts.find(name);
    return it == counts.end() ? 0 : it->second;
  };
  for (std::size_t i : order) {
    const std::string old = names[i];
    std::string col = old;
    std::size_t cur = count_of(col);
    while (cur > 0) {
      counts[old] = cur + 1;
      col = old + "." + std::to_string(cur);
      auto it = present.find(col);
      if (it != present.end() && it->second > 0) {
        ++cur;
      } else {
        cur = count_of(col);
      }
    }
    if (col != old) {
      --present[old];
      ++present[col];
      names[i] = col;
    }
    counts[col] = cur + 1;
  }
  return names;
}

void BlockTyper::add(std::string_view cell) {
  if (settled_) return;
  const bool missing = is_missing_marker(cell);
  if (int64_ == Pass::Running && !missing) {
    IntRead r = read_int64(cell);
    if (r != IntRead::Ok) int64_ = r == IntRead::Overflow ? Pass::Overflow : Pass::Invalid;
  }
  int_missing_ = int_missing_ || missing;
  // The uint64 trial only matters after an int64 overflow, but it reads the
  // block from its start.
  if (uint64_ == Pass::Running && int64_ != Pass::Invalid) {
    if (missing) {
      seen_missing_ = true;
    } else {
      IntRead r = read_uint64(cell, seen_negative_, seen_big_);
      if (r != IntRead::Ok) uint64_ = r == IntRead::Overflow ? Pass::Overflow : Pass::Invalid;
    }
  }
  // Cells read so far as int64 are floats too.
  if (float_ok_ && int64_ != Pass::Running && !missing && !parse_float(cell)) float_ok_ = false;
  if (bool_ok_) {
    if (missing) {
      bool_missing_ = true;
    } else if (bool_word(cell) < 0) {
      bool_ok_ = false;
    }
  }
  const bool numeric_done =
      int64_ == Pass::Invalid ||
      (int64_ == Pass::Overflow && uint64_ != Pass::Running);
  if (numeric_done && (uint64_ == Pass::Overflow || (!float_ok_ && !bool_ok_))) settled_ = true;
}

BlockKind BlockTyper::kind() const {
  if (int64_ == Pass::Running) return int_missing_ ? BlockKind::IntWithMissing : BlockKind::Int64;
  if (int64_ == Pass::Overflow) {
    if (uint64_ == Pass::Overflow) return BlockKind::Text;
    if (uint64_ == Pass::Running) {
      if (seen_big_ && (seen_negative_ || seen_missing_)) return BlockKind::TextAsRead;
      if (seen_negative_) return BlockKind::Text;
      return BlockKind::UInt64;
    }
  }
  if (float_ok_) return BlockKind::Float64;
  if (bool_ok_) return bool_missing_ ? BlockKind::BoolWithMissing : BlockKind::Bool;
  return BlockKind::Text;
}

ColumnType cell_type(BlockKind block, unsigned kinds) {
  switch (joined_dtype(kinds | kind_bit(block))) {
    case Dtype::Object:
      switch (block) {
        case BlockKind::Int64:
        case BlockKind::UInt64: return ColumnType::Int;
        case BlockKind::IntWithMissing: return ColumnType::IntWithMissing;
        case BlockKind::Float64: return ColumnType::Float;
        case BlockKind::Bool:
        case BlockKind::BoolWithMissing: return ColumnType::Bool;
        case BlockKind::Text: return ColumnType::Text;
        case BlockKind::TextAsRead: return ColumnType::TextAsRead;
      }
      break;
    case Dtype::Int64:
    case Dtype::UInt64: return ColumnType::Int;
    case Dtype::Float64:
      switch (block) {
        case BlockKind::Int64:
        case BlockKind::UInt64: return ColumnType::IntAsFloat;
        case BlockKind::IntWithMissing: return ColumnType::IntWithMissing;
        default: return ColumnType::Float;
      }
    case Dtype::Bool: return ColumnType::Bool;
  }
  return ColumnType::Text;
}

TableLayout scan_table(const std::string& path) {
  TableReader reader(path);
  std::vector<std::string> fields;
  long line = 0;
  if (!reader.next(fields, line)) throw Error::value("No columns to parse from file").at(path);

  TableLayout layout;
  const std::vector<std::string> names = header_names(fields);
  const std::size_t width = names.size();
  layout.block_rows = typing_block_rows(width);

  struct KindRun {
    std::size_t first_row;
    std::vector<BlockKind> kinds;
  };
  std::vector<KindRun> kind_runs;
  std::vector<BlockTyper> typers(width);
  std::vector<BlockKind> kinds(width);
  std::vector<unsigned> seen(width, 0);
  std::size_t in_block = 0;
  auto close_block = [&] {
    for (std::size_t c = 0; c < width; ++c) {
      kinds[c] = typers[c].kind();
      seen[c] |= kind_bit(kinds[c]);
      typers[c].reset();
    }
    if (kind_runs.empty() || kind_runs.back().kinds != kinds)
      kind_runs.push_back({layout.rows - in_block, kinds});
    in_block = 0;
  };

  while (reader.next(fields, line)) {
    if (fields.size() > width) {
      throw Error::value("row with " + std::to_string(fields.size()) + " fields where the header has " +
                         std::to_string(width))
          .at(path, line);
    }
    std::size_t c = 0;
    for (; c < fields.size(); ++c) typers[c].add(fields[c]);
    for (; c < width; ++c) typers[c].add({});
    ++layout.rows;
    if (++in_block == layout.block_rows) close_block();
  }
  if (in_block > 0) close_block();

  if (kind_runs.empty()) {
    // No rows: pandas makes object columns.
    layout.runs.push_back({0, std::vector<ColumnType>(width, ColumnType::Text)});
  }
  for (const KindRun& run : kind_runs) {
    std::vector<ColumnType> types(width);
    for (std::size_t c = 0; c < width; ++c) types[c] = cell_type(run.kinds[c], seen[c]);
    if (layout.runs.empty() || layout.runs.back().types != types)
      layout.runs.push_back({run.first_row, std::move(types)});
  }

  layout.columns.reserve(width);
  for (std::size_t c = 0; c < width; ++c) {
    ColumnType type = layout.runs.front().types[c];
    bool uniform = std::all_of(layout.runs.begin(), layout.runs.end(),
                               [&](const TypeRun& r) { return r.types[c] == type; });
    if (!uniform) {
      switch (joined_dtype(seen[c])) {
        case Dtype::Int64:
        case Dtype::UInt64: type = ColumnType::Int; break;
        case Dtype::Float64: type = ColumnType::Float; break;
        case Dtype::Bool: type = ColumnType::Bool; break;
        case Dtype::Object: type = ColumnType::Text; break;
      }
    }
    layout.columns.push_back({names[c], type});
  }
  return layout;
}

// --- Writing ----------------------------------------------------------------

void append_quoted_field(std::string& out, std::string_view text) {
  if (text.find_first_of("\t\"\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void append_output_cell(std::string& out, ColumnType type, std::string_view raw) {
  if (type == ColumnType::TextAsRead) {
    append_quoted_field(out, raw);
    return;
  }
  if (is_missing_marker(raw)) return;
  if (type == ColumnType::Text) {
    append_quoted_field(out, raw);
    return;
  }
  // Numbers and bools never need quoting.
  append_value(out, type, raw);
}

void append_py_str(std::string& out, ColumnType type, std::string_view raw) {
  if (type != ColumnType::TextAsRead && is_missing_marker(raw)) {
    out += "nan";
    return;
  }
  if (!append_value(out, type, raw)) out += "nan";
}

bool is_text_value(ColumnType type, std::string_view raw) {
  return type == ColumnType::TextAsRead || (type == ColumnType::Text && !is_missing_marker(raw));
}

bool is_missing_value(ColumnType type, std::string_view raw) {
  if (type == ColumnType::TextAsRead) return false;
  if (is_missing_marker(raw)) return true;
  if (type == ColumnType::IntWithMissing) return std::isnan(float_value(type, raw));
  return false;
}

}  // namespace isotope
