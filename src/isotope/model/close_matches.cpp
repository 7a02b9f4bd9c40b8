// difflib's SequenceMatcher and get_close_matches, step for step: b2j built
// from the word (seq2) once, with elements more frequent than 1% + 1 of a
// word of 200 or more removed as "popular"; the longest match with Python's
// extension over popular elements; the real-quick, quick and full ratios as
// successive filters; the n best by (score, text).
#include "isotope/model/close_matches.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <utility>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

namespace isotope {

std::u32string code_points(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t p = 0; p < utf8.size();) {
    std::size_t len;
    out += text::code_point_at(utf8, p, len);
    p += len;
  }
  return out;
}

namespace {

double calculate_ratio(std::size_t matches, std::size_t length) {
  return length ? 2.0 * static_cast<double>(matches) / static_cast<double>(length) : 1.0;
}

// SequenceMatcher with seq2 fixed (the word) and seq1 set per candidate.
class Matcher {
 public:
  explicit Matcher(std::u32string b) : b_(std::move(b)) {
    for (std::size_t i = 0; i < b_.size(); ++i) b2j_[b_[i]].push_back(i);
    for (char32_t c : b_) ++fullbcount_[c];
    const std::size_t n = b_.size();
    if (n >= 200) {
      const std::size_t ntest = n / 100 + 1;
      for (auto it = b2j_.begin(); it != b2j_.end();) {
        if (it->second.size() > ntest)
          it = b2j_.erase(it);
        else
          ++it;
      }
    }
  }

  double real_quick_ratio(const std::u32string& a) const {
    return calculate_ratio(std::min(a.size(), b_.size()), a.size() + b_.size());
  }

  double quick_ratio(const std::u32string& a) const {
    std::unordered_map<char32_t, long> avail;
    std::size_t matches = 0;
    for (char32_t elt : a) {
      long numb;
      if (auto it = avail.find(elt); it != avail.end()) {
        numb = it->second;
      } else {
        auto f = fullbcount_.find(elt);
        numb = f == fullbcount_.end() ? 0 : f->second;
      }
      avail[elt] = numb - 1;
      if (numb > 0) ++matches;
    }
    return calculate_ratio(matches, a.size() + b_.size());
  }

  double ratio(const std::u32string& a) const {
    std::size_t matched = 0;
    std::vector<std::array<std::size_t, 4>> queue = {{0, a.size(), 0, b_.size()}};
    while (!queue.empty()) {
      auto [alo, ahi, blo, bhi] = queue.back();
      queue.pop_back();
      auto [i, j, k] = longest_match(a, alo, ahi, blo, bhi);
      if (k) {
        matched += k;
        if (alo < i && blo < j) queue.push_back({alo, i, blo, j});
        if (i + k < ahi && j + k < bhi) queue.push_back({i + k, ahi, j + k, bhi});
      }
    }
    return calculate_ratio(matched, a.size() + b_.size());
  }

 private:
  struct Match {
    std::size_t i, j, k;
  };

  // find_longest_match(alo, ahi, blo, bhi). Junk is empty (no junk
  // function), so only the extension over equal neighbours that are not
  // junk applies: it reaches over popular elements.
  Match longest_match(const std::u32string& a, std::size_t alo, std::size_t ahi, std::size_t blo,
                      std::size_t bhi) const {
    std::size_t besti = alo, bestj = blo, bestsize = 0;
    std::unordered_map<std::size_t, std::size_t> j2len, newj2len;
    for (std::size_t i = alo; i < ahi; ++i) {
      newj2len.clear();
      auto it = b2j_.find(a[i]);
      if (it != b2j_.end()) {
        for (std::size_t j : it->second) {
          if (j < blo) continue;
          if (j >= bhi) break;
          auto prev = j > 0 ? j2len.find(j - 1) : j2len.end();
          std::size_t k = (prev == j2len.end() ? 0 : prev->second) + 1;
          newj2len[j] = k;
          if (k > bestsize) {
            besti = i + 1 - k;
            bestj = j + 1 - k;
            bestsize = k;
          }
        }
      }
      std::swap(j2len, newj2len);
    }
    while (besti > alo && bestj > blo && a[besti - 1] == b_[bestj - 1]) {
      --besti;
      --bestj;
      ++bestsize;
    }
    while (besti + bestsize < ahi && bestj + bestsize < bhi && a[besti + bestsize] == b_[bestj + bestsize])
      ++bestsize;
    return {besti, bestj, bestsize};
  }

  std::u32string b_;
  std::unordered_map<char32_t, std::vector<std::size_t>> b2j_;
  std::unordered_map<char32_t, long> fullbcount_;
};

}  // namespace

double sequence_ratio(std::u32string_view a, std::u32string_view b) {
  return Matcher(std::u32string(b)).ratio(std::u32string(a));
}

std::vector<std::string> close_matches(std::string_view word, const std::vector<std::string>& possibilities,
                                       std::size_t n, double cutoff) {
  if (n == 0) throw Error::value("n must be > 0: " + std::to_string(n));
  if (!(cutoff >= 0.0 && cutoff <= 1.0)) throw Error::value("cutoff must be in [0.0, 1.0]: " + std::to_string(cutoff));
  Matcher s(code_points(word));
  std::vector<std::pair<double, const std::string*>> result;
  std::u32string a;
  for (const std::string& x : possibilities) {
    a = code_points(x);
    if (s.real_quick_ratio(a) >= cutoff && s.quick_ratio(a) >= cutoff) {
      double r = s.ratio(a);
      if (r >= cutoff) result.emplace_back(r, &x);
    }
  }
  // heapq.nlargest(n, [(score, x), ...]): largest tuples first; equal
  // tuples keep their order of arrival.
  std::stable_sort(result.begin(), result.end(), [](const auto& l, const auto& r) {
    if (l.first != r.first) return l.first > r.first;
    return *l.second > *r.second;
  });
  std::vector<std::string> out;
  for (std::size_t k = 0; k < result.size() && k < n; ++k) out.push_back(*result[k].second);
  return out;
}

std::string did_you_mean(const std::vector<std::string>& names) {
  if (names.empty()) return {};
  std::string out = "(did you mean ";
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k) out += k + 1 == names.size() ? " or " : ", ";
    out += py_repr(names[k]);
  }
  return out + "?)";
}

}  // namespace isotope
