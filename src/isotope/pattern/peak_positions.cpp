// Peak probabilities and mean-mass offsets by convolving (probability,
// probability x mass excess) per neutron count, in double.
#include "isotope/pattern/peak_positions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/element_data.hpp"
#include "isotope/pattern/coarse_kernel.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/pattern/pattern_scratch.hpp"

namespace isotope {

namespace {

using Scratch = detail::PatternScratch;

// Counts above this are refused: they could not be computed anyway.
constexpr std::int64_t kMaxCount = std::int64_t{1} << 40;

// The element counts of a pattern formula, by element index, into
// ws.counts (-1: absent); repeated elements add up.
void read_counts(std::string_view formula, const ElementTable& table, Scratch& ws) {
  ws.counts.fill(-1);
  std::size_t p = 0;
  while (p < formula.size()) {
    const char c = formula[p];
    const int idx = c >= 'A' && c <= 'Z' ? table.index_of[static_cast<std::size_t>(c - 'A')] : -1;
    if (idx < 0)
      throw Error::value("pattern formula " + py_repr(formula) + " has " + py_repr(formula.substr(p, 1)) +
                         " at position " + std::to_string(p) +
                         ", where a one-letter element symbol that OpenMS knows belongs");
    std::int64_t n = 0;
    const std::size_t first = ++p;
    while (p < formula.size() && formula[p] >= '0' && formula[p] <= '9') {
      n = n * 10 + (formula[p++] - '0');
      if (n > kMaxCount)
        throw Error::value("pattern formula " + py_repr(formula) + " has a count of " + std::string(1, c) + " above " +
                           std::to_string(kMaxCount));
    }
    if (p == first)
      throw Error::value("pattern formula " + py_repr(formula) + " has no count after " + py_repr(std::string(1, c)));
    std::int64_t& count = ws.counts[static_cast<std::size_t>(idx)];
    count = std::max<std::int64_t>(count, 0) + n;
    if (count > kMaxCount)
      throw Error::value("pattern formula " + py_repr(formula) + " has a count of " + std::string(1, c) + " above " +
                         std::to_string(kMaxCount));
  }
}

// Neutron counts 0..support-1 are those an isotopologue can have.
std::int64_t support_of(const ElementTable& table, const Scratch& ws) {
  std::int64_t support = 1;
  for (std::size_t k = 0; k < table.elements.size(); ++k)
    if (ws.counts[k] > 0) support += ws.counts[k] * static_cast<std::int64_t>(table.elements[k].reach);
  return support;
}

void check_peaks(std::int64_t K, std::string_view formula) {
  if (K < 0 || K > kMaxIsotopePeaks)
    throw Error::value("number of isotope peaks of " + py_repr(formula) + " must be between 0 and " +
                       std::to_string(kMaxIsotopePeaks) + ", got " + std::to_string(K));
}

void reserve(std::vector<double>& v, std::size_t size) {
  if (v.size() < size) v.resize(size);
}

// (R, U) = (a, as) * (b, bs) truncated to K peaks: R_k = sum a_i b_(k-i),
// U_k = sum (as_i b_(k-i) + a_i bs_(k-i)). Returns the size.
std::size_t convolve(const double* a, const double* as, std::size_t la, const double* b, const double* bs,
                     std::size_t lb, std::size_t K, double* r, double* rs) {
  const std::size_t n = std::min(la + lb - 1, K);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t hi = std::min(k, la - 1);
    const std::size_t lo = k >= lb - 1 ? k - (lb - 1) : 0;
    double p = 0, s = 0;
    for (std::size_t i = lo; i <= hi; ++i) {
      p += a[i] * b[k - i];
      s += as[i] * b[k - i] + a[i] * bs[k - i];
    }
    r[k] = p;
    rs[k] = s;
  }
  return n;
}

// The pairs of the whole formula for neutron counts 0..K-1 (K >= 1) into
// ws.p_result, ws.s_result; returns their size (less than K when the
// support ends first).
std::size_t compute_pairs(const ElementTable& table, Scratch& ws, std::size_t K) {
  reserve(ws.p_result, K);
  reserve(ws.s_result, K);
  for (auto* v : {&ws.p_next, &ws.s_next, &ws.p_square, &ws.s_square, &ws.p_base, &ws.s_base})
    reserve(*v, K);
  ws.p_result[0] = 1;
  ws.s_result[0] = 0;
  std::size_t size = 1;
  for (std::int8_t idx : table.alphabetical) {
    std::int64_t n = ws.counts[static_cast<std::size_t>(idx)];
    if (n <= 0) continue;
    const ElementIsotopes& e = table.elements[static_cast<std::size_t>(idx)];
    // The element's pairs, up to its heaviest isotope that occurs.
    std::size_t sq = std::min(e.reach + 1, K);
    std::copy(e.probability.begin(), e.probability.begin() + static_cast<std::ptrdiff_t>(sq), ws.p_square.begin());
    std::copy(e.excess.begin(), e.excess.begin() + static_cast<std::ptrdiff_t>(sq), ws.s_square.begin());
    for (std::size_t j = 0; j < sq; ++j) ws.s_square[j] *= ws.p_square[j];
    // Binary power: multiply in the squares of the set bits.
    while (true) {
      if (n & 1) {
        size = convolve(ws.p_result.data(), ws.s_result.data(), size, ws.p_square.data(), ws.s_square.data(), sq,
                        K, ws.p_next.data(), ws.s_next.data());
        std::swap(ws.p_result, ws.p_next);
        std::swap(ws.s_result, ws.s_next);
      }
      n >>= 1;
      if (n == 0) break;
      std::copy(ws.p_square.begin(), ws.p_square.begin() + static_cast<std::ptrdiff_t>(sq), ws.p_base.begin());
      std::copy(ws.s_square.begin(), ws.s_square.begin() + static_cast<std::ptrdiff_t>(sq), ws.s_base.begin());
      sq = convolve(ws.p_base.data(), ws.s_base.data(), sq, ws.p_base.data(), ws.s_base.data(), sq, K,
                    ws.p_square.data(), ws.s_square.data());
    }
  }
  return size;
}

// False when kMaxIsotopePeaks peaks surely hold less than coverage, by
// Cantelli's inequality on the neutron count X (mean m, variance v):
// P(X <= k) <= v / (v + (m - k)^2) for k < m. (With a margin of 2, so
// that rounding never refuses what the computed sum would reach.) This
// spares computing 10^5 peaks of a formula whose bulk lies beyond them.
bool reachable(const ElementTable& table, const Scratch& ws, double coverage) {
  double mean = 0, variance = 0;
  for (std::size_t k = 0; k < table.elements.size(); ++k) {
    if (ws.counts[k] <= 0) continue;
    const ElementIsotopes& e = table.elements[k];
    double m = 0, m2 = 0;
    for (std::size_t j = 0; j < e.probability.size(); ++j) {
      m += e.probability[j] * static_cast<double>(j);
      m2 += e.probability[j] * static_cast<double>(j) * static_cast<double>(j);
    }
    mean += static_cast<double>(ws.counts[k]) * m;
    variance += static_cast<double>(ws.counts[k]) * (m2 - m * m);
  }
  const double last = static_cast<double>(kMaxIsotopePeaks - 1);
  if (mean <= last) return true;
  const double bound = variance / (variance + (mean - last) * (mean - last));
  return 2 * bound >= coverage;
}

std::int64_t covering(const ElementTable& table, Scratch& ws, double coverage, std::string_view formula) {
  if (!(coverage > 0 && coverage <= 1))
    throw Error::value("isotope peak coverage must be above 0 and at most 1, got " + std::to_string(coverage));
  const std::int64_t support = support_of(table, ws);
  if (coverage < 1 && support > kMaxIsotopePeaks && !reachable(table, ws, coverage)) check_peaks(support, formula);
  if (coverage < 1) {
    // Probabilities of the first peaks do not depend on how many are
    // computed: widen until the sum reaches coverage.
    std::int64_t K = std::min<std::int64_t>(16, support);
    while (true) {
      const std::size_t size = compute_pairs(table, ws, static_cast<std::size_t>(std::min(K, kMaxIsotopePeaks)));
      double sum = 0;
      for (std::size_t k = 0; k < size; ++k) {
        sum += ws.p_result[k];
        if (sum >= coverage) return static_cast<std::int64_t>(k + 1);
      }
      if (K >= support || K >= kMaxIsotopePeaks) break;
      K = std::min(K * 2, support);
    }
  }
  check_peaks(support, formula);
  return support;
}

}  // namespace

void peak_positions(std::string_view formula, std::int64_t K, PatternWorkspace& workspace, PeakPositions& out) {
  check_peaks(K, formula);
  const ElementTable& table = element_table();
  Scratch& ws = workspace.scratch();
  read_counts(formula, table, ws);
  const auto peaks = static_cast<std::size_t>(K);
  out.probability.assign(peaks, 0.0);
  out.offset.assign(peaks, std::numeric_limits<double>::quiet_NaN());
  if (peaks == 0) return;
  // Peaks beyond the support have no probability: they are not computed.
  const auto computed = static_cast<std::size_t>(std::min<std::int64_t>(K, support_of(table, ws)));
  const std::size_t size = compute_pairs(table, ws, computed);
  // Below the smallest normal double, probabilities have lost their
  // precision (and their ratios with them): such peaks count as absent.
  for (std::size_t k = 0; k < size; ++k) {
    if (ws.p_result[k] < std::numeric_limits<double>::min()) continue;
    out.probability[k] = ws.p_result[k];
    out.offset[k] = ws.s_result[k] / ws.p_result[k];
  }
  out.offset[0] = 0;
}

std::int64_t peaks_covering(std::string_view formula, double coverage, PatternWorkspace& workspace) {
  const ElementTable& table = element_table();
  Scratch& ws = workspace.scratch();
  read_counts(formula, table, ws);
  return covering(table, ws, coverage, formula);
}

void isotope_peaks(const Composition& comp, std::int64_t K, PatternWorkspace& workspace, IsotopePeaks& out) {
  Scratch& ws = workspace.scratch();
  pattern_formula(comp, ws.formula_text, ws.pattern_text);
  PeakPositions positions;  // moved into out below: out's buffers are reused
  positions.probability.swap(out.probability);
  positions.offset.swap(out.mass);
  peak_positions(ws.pattern_text, K, workspace, positions);
  const double mass = comp.mass();
  for (double& m : positions.offset) m += mass;
  out.probability.swap(positions.probability);
  out.mass.swap(positions.offset);
}

std::int64_t peaks_covering(const Composition& comp, double coverage, PatternWorkspace& workspace) {
  Scratch& ws = workspace.scratch();
  pattern_formula(comp, ws.formula_text, ws.pattern_text);
  return peaks_covering(ws.pattern_text, coverage, workspace);
}

}  // namespace isotope
