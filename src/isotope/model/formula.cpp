// Glycan and formula strings, read by one pattern, ([A-Z]|[A-Z]\[.+?\])(\d+),
// and compositions written as formula text.
#include "isotope/model/formula.hpp"

#include <charconv>

#include "isotope/base/text.hpp"
#include "isotope/model/scan.hpp"

namespace isotope {

namespace {

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

}  // namespace


void scan_pairs(std::string_view s,
                const std::function<void(std::string_view, std::string_view)>& on_pair) {
  detail::ForwardFinder close, newline;
  auto is_close = [&](std::size_t k) { return s[k] == ']' && text::digit_run(s, k + 1) > 0; };
  auto is_newline = [&](std::size_t k) { return s[k] == '\n'; };
  std::size_t p = 0;
  while (p < s.size()) {
    if (is_upper(s[p])) {
      // First alternative: one letter, then digits.
      if (std::size_t d = text::digit_run(s, p + 1)) {
        on_pair(s.substr(p, 1), s.substr(p + 1, d));
        p += 1 + d;
        continue;
      }
      // Second alternative: letter, "[", the shortest non-empty run without
      // a line feed that is followed by "]" and a digit.
      if (p + 1 < s.size() && s[p + 1] == '[') {
        std::size_t k = close.next(s, p + 3, is_close);
        if (k != std::string_view::npos && newline.next(s, p + 2, is_newline) >= k) {
          std::size_t d = text::digit_run(s, k + 1);
          on_pair(s.substr(p, k + 1 - p), s.substr(k + 1, d));
          p = k + 1 + d;
          continue;
        }
      }
    }
    ++p;
  }
}

namespace {

Counts read_pairs(std::string_view s) {
  Counts counts;
  scan_pairs(s, [&](std::string_view key, std::string_view digits) {
    counts.set(key, text::digits_value(digits));
  });
  return counts;
}

}  // namespace

Counts glycan_counter(std::string_view glycan) { return read_pairs(glycan); }

Composition calc_glycan_comp(std::string_view glycan, const CompTable& comp_map, bool residue) {
  Composition comp = calc_counter_comp(glycan_counter(glycan), comp_map, "unknown glycan code");
  if (!residue) comp += water();
  return comp;
}

void append_formula(std::string& out, const Composition& comp) {
  char buf[24];
  for (const auto& [key, n] : comp) {
    out += key;
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, end);
  }
}

std::string comp_to_str(const Composition& comp) {
  std::string out;
  append_formula(out, comp);
  return out;
}

Counts component_counter(std::string_view component_str) { return read_pairs(component_str); }

}  // namespace isotope
