#include "morvandel/plugins/isotope/text.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "morvandel/plugins/isotope/errors.hpp"

namespace isotope::text {

namespace {

// The zero of every block of ten Unicode decimal digits (Unicode 14).
constexpr std::array<char32_t, 66> kDigitZeros = {
    0x30,    0x660,   0x6f0,   0x7c0,   0x966,   0x9e6,   0xa66,   0xae6,   0xb66,   0xbe6,
    0xc66,   0xce6,   0xd66,   0xde6,   0xe50,   0xed0,   0xf20,   0x1040,  0x1090,  0x17e0,
    0x1810,  0x1946,  0x19d0,  0x1a80,  0x1a90,  0x1b50,  0x1bb0,  0x1c40,  0x1c50,  0xa620,
    0xa8d0,  0xa900,  0xa9d0,  0xa9f0,  0xaa50,  0xabf0,  0xff10,  0x104a0, 0x10d30, 0x11066,
    0x110f0, 0x11136, 0x111d0, 0x112f0, 0x11450, 0x114d0, 0x11650, 0x116c0, 0x11730, 0x118e0,
    0x11950, 0x11c50, 0x11d50, 0x11da0, 0x16a60, 0x16ac0, 0x16b50, 0x1d7ce, 0x1d7d8, 0x1d7e2,
    0x1d7ec, 0x1d7f6, 0x1e140, 0x1e2f0, 0x1e950, 0x1fbf0};

bool is_cont(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at pos, or 0 with reason/end set.
std::size_t valid_length(std::string_view s, std::size_t pos, const char*& reason,
                         std::size_t& end) {
  auto c = static_cast<unsigned char>(s[pos]);
  if (c < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    reason = "invalid start byte";
    end = pos + 1;
    return 0;
  }
  for (std::size_t k = 1; k < need; ++k) {
    if (pos + k >= s.size()) {
      reason = "unexpected end of data";
      end = s.size();
      return 0;
    }
    auto b = static_cast<unsigned char>(s[pos + k]);
    bool ok = k == 1 ? (b >= lo && b <= hi) : is_cont(b);
    if (!ok) {
      reason = "invalid continuation byte";
      end = pos + k;
      return 0;
    }
  }
  return need;
}

}  // namespace

char32_t code_point_at(std::string_view s, std::size_t pos, std::size_t& len) {
  auto c = static_cast<unsigned char>(s[pos]);
  if (c < 0x80) {
    len = 1;
    return c;
  }
  char32_t cp;
  if (c < 0xE0) {
    len = 2;
    cp = c & 0x1F;
  } else if (c < 0xF0) {
    len = 3;
    cp = c & 0x0F;
  } else {
    len = 4;
    cp = c & 0x07;
  }
  len = std::min(len, s.size() - pos);
  for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[pos + k]) & 0x3F);
  return cp;
}

std::size_t find_invalid_utf8(std::string_view s) {
  const char* reason = nullptr;
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < s.size();) {
    // Fast path over ASCII.
    if (static_cast<unsigned char>(s[pos]) < 0x80) {
      ++pos;
      continue;
    }
    std::size_t n = valid_length(s, pos, reason, end);
    if (n == 0) return pos;
    pos += n;
  }
  return std::string_view::npos;
}

void check_utf8(std::string_view s) {
  std::size_t pos = find_invalid_utf8(s);
  if (pos == std::string_view::npos) return;
  const char* reason = "";
  std::size_t end = pos + 1;
  valid_length(s, pos, reason, end);
  throw Error::decode(s, pos, end, reason);
}

bool is_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view strip(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size()) {
    std::size_t len;
    char32_t cp = code_point_at(s, b, len);
    if (!is_space(cp)) break;
    b += len;
  }
  std::size_t e = s.size();
  while (e > b) {
    // Step back to the start of the last code point.
    std::size_t start = e - 1;
    while (start > b && is_cont(static_cast<unsigned char>(s[start]))) --start;
    std::size_t len;
    char32_t cp = code_point_at(s, start, len);
    if (!is_space(cp)) break;
    e = start;
  }
  return s.substr(b, e - b);
}

int digit_value(char32_t cp) {
  if (cp >= '0' && cp <= '9') return static_cast<int>(cp - '0');
  if (cp < 0x660) return -1;
  auto it = std::upper_bound(kDigitZeros.begin(), kDigitZeros.end(), cp);
  char32_t zero = *(it - 1);
  return cp - zero < 10 ? static_cast<int>(cp - zero) : -1;
}

std::size_t digit_run(std::string_view s, std::size_t pos) {
  std::size_t p = pos;
  while (p < s.size()) {
    auto c = static_cast<unsigned char>(s[p]);
    if (c >= '0' && c <= '9') {
      ++p;
      continue;
    }
    if (c < 0x80) break;
    std::size_t len;
    char32_t cp = code_point_at(s, p, len);
    if (digit_value(cp) < 0) break;
    p += len;
  }
  return p - pos;
}

namespace {

// Accumulates digits into a magnitude held as unsigned; false on overflow of
// the limit.
bool push_digit(std::uint64_t& acc, int d, std::uint64_t limit) {
  if (acc > (limit - static_cast<std::uint64_t>(d)) / 10) return false;
  acc = acc * 10 + static_cast<std::uint64_t>(d);
  return true;
}

[[noreturn]] void too_large(std::string_view digits) {
  throw Error::value("count " + std::string(digits.size() > 40 ? std::string(digits.substr(0, 40)) + "..." : std::string(digits)) +
                     " does not fit in a 64-bit integer");
}

}  // namespace

std::int64_t digits_value(std::string_view digits) {
  constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t acc = 0;
  for (std::size_t p = 0; p < digits.size();) {
    std::size_t len;
    int d = digit_value(code_point_at(digits, p, len));
    if (!push_digit(acc, d, limit)) too_large(digits);
    p += len;
  }
  return static_cast<std::int64_t>(acc);
}

std::optional<std::int64_t> parse_int(std::string_view raw) {
  std::string_view s = strip(raw);
  if (s.empty()) return std::nullopt;
  bool negative = false;
  std::size_t p = 0;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    p = 1;
  }
  // Magnitude limit: 2^63 for negatives, 2^63 - 1 otherwise.
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) +
                              (negative ? 1 : 0);
  std::uint64_t acc = 0;
  bool any = false, overflow = false, last_underscore = false;
  while (p < s.size()) {
    if (s[p] == '_') {
      if (!any || last_underscore) return std::nullopt;
      last_underscore = true;
      ++p;
      continue;
    }
    std::size_t len;
    int d = digit_value(code_point_at(s, p, len));
    if (d < 0) return std::nullopt;
    if (!overflow && !push_digit(acc, d, limit)) overflow = true;
    any = true;
    last_underscore = false;
    p += len;
  }
  if (!any || last_underscore) return std::nullopt;
  if (overflow) throw Error::value("integer " + std::string(s.size() > 40 ? std::string(s.substr(0, 40)) + "..." : std::string(s)) + " does not fit in 64 bits");
  if (negative) return acc == 0 ? 0 : -static_cast<std::int64_t>(acc - 1) - 1;
  return static_cast<std::int64_t>(acc);
}

}  // namespace isotope::text
