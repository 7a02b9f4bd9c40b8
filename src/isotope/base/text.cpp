// The readers of text that report malformed input as isotope::Error:
// UTF-8 checks with Python's decode errors, and Python's int() of text.
#include "isotope/base/text.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

#include "isotope/base/errors.hpp"

namespace isotope::text {

bool is_ascii(std::string_view bytes) {
  const char* p = bytes.data();
  const std::size_t n = bytes.size();
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

void check_utf8(std::string_view s) {
  if (is_ascii(s)) return;
  if (auto p = utf8_problem(s)) throw Error::decode(s, p->start, p->end, p->reason);
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
