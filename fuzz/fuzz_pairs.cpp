// The readers of glycan and formula strings on arbitrary text.
//
// - scan_pairs finds the same pairs as a plain quadratic reading of the
//   pattern ([A-Z]|[A-Z]\[.+?\])(\d+) (the scanner caches its look-ahead to
//   stay linear; this checks the cache never changes the result);
// - glycan_counter, component_counter, calc_glycan_comp and
//   Composition::from_formula fail with nothing but isotope::Error;
// - a formula read by from_formula is written by comp_to_str and read back
//   unchanged;
// - any composition of keys "X" or "X[label]" with counts >= 0, written as
//   key-count text, is read back by component_counter with the same keys,
//   counts and order, as long as the label holds no line feed and no "]"
//   directly followed by a digit (which would end the key early).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/base/text.hpp"

namespace {

using isotope::py_repr;

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

struct Pair {
  std::size_t key_at;
  std::string key, digits;
  bool operator==(const Pair&) const = default;
};

std::string show(const std::vector<Pair>& pairs) {
  std::string out;
  for (const Pair& p : pairs) out += "@" + std::to_string(p.key_at) + ":" + py_repr(p.key) + "=" + py_repr(p.digits) + " ";
  return out;
}

// The pattern read the obvious way: at each position try the one-letter
// key, then every end of the lazy bracketed key in turn.
std::vector<Pair> reference_pairs(std::string_view s) {
  std::vector<Pair> out;
  std::size_t p = 0;
  while (p < s.size()) {
    if (is_upper(s[p])) {
      if (std::size_t d = isotope::text::digit_run(s, p + 1)) {
        out.push_back({p, std::string(s.substr(p, 1)), std::string(s.substr(p + 1, d))});
        p += 1 + d;
        continue;
      }
      if (p + 1 < s.size() && s[p + 1] == '[') {
        bool matched = false;
        for (std::size_t k = p + 2; k < s.size() && s[k] != '\n'; ++k) {
          if (k < p + 3 || s[k] != ']') continue;
          if (std::size_t d = isotope::text::digit_run(s, k + 1)) {
            out.push_back({p, std::string(s.substr(p, k + 1 - p)), std::string(s.substr(k + 1, d))});
            p = k + 1 + d;
            matched = true;
            break;
          }
        }
        if (matched) continue;
      }
    }
    ++p;
  }
  return out;
}

void check_scan(std::string_view text) {
  std::vector<Pair> found;
  fuzz::must_succeed("scan_pairs", [&] {
    isotope::scan_pairs(text, [&](std::string_view key, std::string_view digits) {
      FUZZ_CHECK(key.data() >= text.data() && key.data() + key.size() == digits.data(),
                 "pair is not a key directly followed by its digits");
      found.push_back({static_cast<std::size_t>(key.data() - text.data()), std::string(key), std::string(digits)});
    });
  });
  const std::vector<Pair> expected = reference_pairs(text);
  FUZZ_CHECK(found == expected, "scan_pairs found " + show(found) + "expected " + show(expected));
}

// Keys in order of first appearance in the pairs.
std::vector<std::string> first_keys(std::string_view text) {
  std::vector<std::string> keys;
  for (const Pair& p : reference_pairs(text)) {
    bool seen = false;
    for (const auto& k : keys) seen = seen || k == p.key;
    if (!seen) keys.push_back(p.key);
  }
  return keys;
}

void check_counters(std::string_view text) {
  isotope::Counts glycan, component;
  const bool g = fuzz::only_isotope_errors("glycan_counter", [&] { glycan = isotope::glycan_counter(text); });
  const bool c = fuzz::only_isotope_errors("component_counter", [&] { component = isotope::component_counter(text); });
  FUZZ_CHECK(g == c, "the two counters disagree on failing");
  fuzz::only_isotope_errors("calc_glycan_comp",
                            [&] { isotope::calc_glycan_comp(text, isotope::reference_tables().gly_comp); });
  if (!g) return;
  FUZZ_CHECK(glycan == component, "the two counters read different counts");
  const std::vector<std::string> keys = first_keys(text);
  FUZZ_CHECK(glycan.size() == keys.size(), "counter keys differ from the pairs' keys");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    FUZZ_CHECK(glycan.entries()[i].first == keys[i], "counter key order");
    FUZZ_CHECK(glycan.entries()[i].second >= 0, "negative count read from digits");
  }
}

// Keys that component_counter can read: one capital letter, optionally
// with a bracketed mass number.
bool pattern_key(const std::string& key) {
  if (key.size() == 1) return is_upper(key[0]);
  if (key.size() < 4 || key[1] != '[' || key.back() != ']') return false;
  for (std::size_t i = 2; i + 1 < key.size(); ++i)
    if (key[i] < '0' || key[i] > '9') return false;
  return true;
}

void check_formula(std::string_view text) {
  isotope::Composition comp;
  if (!fuzz::only_isotope_errors("from_formula", [&] { comp = isotope::Composition::from_formula(text); })) return;
  const std::string written = isotope::comp_to_str(comp);
  isotope::Composition again;
  fuzz::must_succeed("from_formula of comp_to_str", [&] { again = isotope::Composition::from_formula(written); });
  FUZZ_CHECK(again.entries() == comp.entries(), "formula round trip through " + py_repr(written));
  bool readable = true;
  for (const auto& [key, n] : comp) {
    FUZZ_CHECK(n > 0, "from_formula kept a count <= 0");
    readable = readable && pattern_key(key);
  }
  if (!readable) return;
  isotope::Counts counts;
  fuzz::must_succeed("component_counter of comp_to_str", [&] { counts = isotope::component_counter(written); });
  FUZZ_CHECK(counts.size() == comp.size(), "component_counter of " + py_repr(written));
  for (std::size_t i = 0; i < comp.size(); ++i)
    FUZZ_CHECK(counts.entries()[i] == comp.entries()[i], "component_counter of " + py_repr(written));
}

// A label that keeps the key whole: no line feed, and no "]" that a digit
// (or a byte that may start a non-ASCII digit) follows.
std::string safe_label(std::string label) {
  for (char& c : label)
    if (c == '\n') c = ' ';
  for (std::size_t i = 1; i + 1 < label.size(); ++i) {
    auto next = static_cast<unsigned char>(label[i + 1]);
    if (label[i] == ']' && ((next >= '0' && next <= '9') || next >= 0x80)) label[i] = ')';
  }
  return label.empty() ? "x" : label;
}

void check_round_trip(FuzzedDataProvider& fdp) {
  isotope::Counts counts;
  const int n = fdp.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < n; ++i) {
    std::string key(1, static_cast<char>('A' + fdp.ConsumeIntegralInRange(0, 25)));
    if (fdp.ConsumeBool()) key += "[" + safe_label(fdp.ConsumeRandomLengthString(24)) + "]";
    const auto count = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<isotope::Count>(0, 1000)
                                         : fdp.ConsumeIntegralInRange<isotope::Count>(
                                               0, std::numeric_limits<isotope::Count>::max());
    counts.set(key, count);
  }
  std::string written;
  isotope::Composition comp;
  for (const auto& [key, count] : counts) {
    written += key + std::to_string(count);
    comp.add(key, count);
  }
  isotope::Counts back;
  fuzz::must_succeed("component_counter of written counts", [&] { back = isotope::component_counter(written); });
  FUZZ_CHECK(back == counts, "counts written as " + py_repr(written) + " do not read back");

  // comp_to_str writes the non-zero entries the same way.
  isotope::Counts nonzero;
  for (const auto& [key, count] : counts)
    if (count != 0) nonzero.set(key, count);
  fuzz::must_succeed("component_counter of comp_to_str",
                     [&] { back = isotope::component_counter(isotope::comp_to_str(comp)); });
  FUZZ_CHECK(back == nonzero, "comp_to_str " + py_repr(isotope::comp_to_str(comp)) + " does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  check_scan(text);
  check_counters(text);
  check_formula(text);
  FuzzedDataProvider fdp(data, size);
  check_round_trip(fdp);
  return 0;
}
