// Python's float repr (shortest round-trip digits, laid out as repr lays
// them out) and pandas' float cells, correctly rounded.
#include "isotope/base/pyformat.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

#include "isotope/base/text.hpp"

namespace isotope {

namespace {

using text::is_ascii_space;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The doubles nearest to 1e0 .. 1e308, as a C compiler reads those literals.
const std::array<double, 309>& powers_of_ten() {
  static const std::array<double, 309> table = [] {
    std::array<double, 309> t{};
    for (std::size_t k = 0; k < t.size(); ++k) {
      std::string literal = "1e" + std::to_string(k);
      std::from_chars(literal.data(), literal.data() + literal.size(), t[k]);
    }
    return t;
  }();
  return table;
}

// pandas reads these words (whole cell, any letter case) as infinities when
// they do not read as numbers.
std::optional<double> parse_infinity(std::string_view s) {
  for (std::string_view word : {"inf", "+inf", "infinity", "+infinity"})
    if (text::equals_ascii_lower(s, word)) return HUGE_VAL;
  for (std::string_view word : {"-inf", "-infinity"})
    if (text::equals_ascii_lower(s, word)) return -HUGE_VAL;
  return std::nullopt;
}

}  // namespace

void append_float_repr(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "nan";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return;
  }
  // Shortest round-trip digits in the form [-]d[.ddd]e(+|-)dd.
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* p = buf;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[24];
  int n = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[n++] = *p;
  ++p;  // 'e'
  int exp = 0;
  std::from_chars(*p == '+' ? p + 1 : p, res.ptr, exp);

  if (exp < -4 || exp >= 16) {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out.append(digits + 1, static_cast<std::size_t>(n - 1));
    }
    out += exp < 0 ? "e-" : "e+";
    int mag = std::abs(exp);
    if (mag < 10) out += '0';
    out += std::to_string(mag);
  } else if (exp >= 0) {
    int int_len = exp + 1;
    if (n <= int_len) {
      out.append(digits, static_cast<std::size_t>(n));
      out.append(static_cast<std::size_t>(int_len - n), '0');
      out += ".0";
    } else {
      out.append(digits, static_cast<std::size_t>(int_len));
      out += '.';
      out.append(digits + int_len, static_cast<std::size_t>(n - int_len));
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out.append(digits, static_cast<std::size_t>(n));
  }
}

std::string float_repr(double v) {
  std::string out;
  append_float_repr(out, v);
  return out;
}

namespace {

// What pandas' precise_xstrtod learns of a number's digits on its way
// through them: the syntax and the range checks rest on it.
struct DecimalDigits {
  static constexpr int kMaxDigits = 17;
  double number = 0;           // pandas' value of the first 17 digits
  int digits = 0;              // digits taken into number
  std::uint32_t exponent = 0;  // pandas' decimal exponent (a wrapping C int)
  std::int64_t magnitude = 0;  // decimal exponent of the first non-zero digit
  bool nonzero = false;

  // Takes one more digit into number, if it still has room; whether it did.
  bool take(char c) {
    if (digits >= kMaxDigits) return false;
    number = number * 10. + (c - '0');
    ++digits;
    return true;
  }
};

// The digits before the decimal point, from p; the position after them.
std::size_t scan_integer_part(std::string_view s, std::size_t p, DecimalDigits& d) {
  std::int64_t int_digits = 0;
  for (; p < s.size() && is_digit(s[p]); ++p) {
    if (!d.take(s[p])) ++d.exponent;
    if (!d.nonzero && s[p] != '0') {
      d.nonzero = true;
      d.magnitude = -int_digits;  // completed below once the length is known
    }
    ++int_digits;
  }
  if (d.nonzero) d.magnitude += int_digits - 1;
  return p;
}

// The digits after the decimal point, from p; the position after them.
std::size_t scan_fraction(std::string_view s, std::size_t p, DecimalDigits& d) {
  std::uint32_t decimals = 0;
  std::int64_t position = 0;
  for (; p < s.size() && is_digit(s[p]); ++p) {
    ++position;
    if (!d.nonzero && s[p] != '0') {
      d.nonzero = true;
      d.magnitude = -position;
    }
    if (d.take(s[p])) ++decimals;
  }
  d.exponent -= decimals;
  return p;
}

// The exponent's sign and digits, from p (after the 'e'); the position after
// them, or npos when no digit follows.
std::size_t scan_exponent(std::string_view s, std::size_t p, DecimalDigits& d) {
  bool exp_negative = false;
  if (p < s.size() && (s[p] == '-' || s[p] == '+')) {
    exp_negative = s[p] == '-';
    ++p;
  }
  std::uint32_t value = 0;  // wraps as pandas' int accumulator does
  std::int64_t exact = 0;   // at most 17 digits: fits
  int count = 0;
  for (; count < DecimalDigits::kMaxDigits && p < s.size() && is_digit(s[p]); ++p, ++count) {
    value = value * 10u + static_cast<std::uint32_t>(s[p] - '0');
    exact = exact * 10 + (s[p] - '0');
  }
  if (count == 0) return std::string_view::npos;
  d.exponent = exp_negative ? d.exponent - value : d.exponent + value;
  d.magnitude += exp_negative ? -exact : exact;
  return p;
}

// The value of an unsigned mantissa (digits, point, exponent) whose digits
// are d, with pandas' range checks; negative gives it its sign.
std::optional<double> checked_value(std::string_view mantissa, const DecimalDigits& d, bool negative) {
  const auto exp10 = static_cast<std::int32_t>(d.exponent);
  if (exp10 > 308) return std::nullopt;
  const double number = negative ? -d.number : d.number;
  if (exp10 > 0 && std::isinf(number * powers_of_ten()[static_cast<std::size_t>(exp10)]))
    return std::nullopt;

  double value = 0;
  const char* end = mantissa.data() + mantissa.size();
  auto res = std::from_chars(mantissa.data(), end, value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    value = d.magnitude < 0 ? 0.0 : HUGE_VAL;
  } else if (res.ec != std::errc() || res.ptr != end) {
    return std::nullopt;  // not reached: the syntax was checked before
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<double> parse_float(std::string_view s) {
  // The syntax and the range checks follow pandas' precise_xstrtod step by
  // step, including its arithmetic, so that exactly the same cells are
  // accepted; the value itself comes from std::from_chars.
  const std::size_t n = s.size();
  std::size_t p = 0;
  while (p < n && is_ascii_space(s[p])) ++p;
  bool negative = false;
  if (p < n && (s[p] == '-' || s[p] == '+')) {
    negative = s[p] == '-';
    ++p;
  }
  const std::size_t mantissa_begin = p;
  DecimalDigits d;
  p = scan_integer_part(s, p, d);
  if (p < n && s[p] == '.') p = scan_fraction(s, p + 1, d);
  if (d.digits == 0) return parse_infinity(s);
  if (p < n && (s[p] == 'e' || s[p] == 'E')) {
    p = scan_exponent(s, p + 1, d);
    if (p == std::string_view::npos) return parse_infinity(s);
  }
  const std::size_t mantissa_end = p;
  while (p < n && is_ascii_space(s[p])) ++p;
  if (p != n) return parse_infinity(s);
  return checked_value(s.substr(mantissa_begin, mantissa_end - mantissa_begin), d, negative);
}

}  // namespace isotope
