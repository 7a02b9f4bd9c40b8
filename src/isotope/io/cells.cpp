// Cell words as pandas' C parser reads them, the typing of blocks and their
// joins, and cells written back as to_csv writes them.
#include "isotope/io/cells.hpp"

#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <optional>

#include "isotope/base/errors.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"

namespace isotope {

unsigned kind_bit(BlockKind kind) { return 1u << static_cast<unsigned>(kind); }

namespace {

// --- Cell words as pandas' C parser reads them ---------------------------

using text::is_ascii_space;

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
}  // namespace

bool is_int_word(std::string_view cell) {
  bool negative;
  std::string_view digits;
  return split_int_word(cell, negative, digits);
}

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
ColumnType joined_column_type(unsigned kinds) {
  switch (joined_dtype(kinds)) {
    case Dtype::Int64:
    case Dtype::UInt64: return ColumnType::Int;
    case Dtype::Float64: return ColumnType::Float;
    case Dtype::Bool: return ColumnType::Bool;
    case Dtype::Object: return ColumnType::Text;
  }
  return ColumnType::Text;
}

// --- Writing ----------------------------------------------------------------

namespace {

// Whether text holds a tab, a quote or a line feed: eight bytes at a time
// (a byte b equals c when (b ^ c) has a zero byte).
bool needs_quotes(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  auto has = [](std::uint64_t w, char c) {
    std::uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
    return ((x - kOnes) & ~x & kHighs) != 0;
  };
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    if (has(w, '\t') || has(w, '"') || has(w, '\n')) return true;
  }
  for (; i < text.size(); ++i)
    if (text[i] == '\t' || text[i] == '"' || text[i] == '\n') return true;
  return false;
}

}  // namespace

void append_quoted_field(std::string& out, std::string_view text) {
  if (!needs_quotes(text)) {
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
