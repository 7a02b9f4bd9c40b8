// The coarse kernel against OpenMS on fuzzed formulas, and the peak
// positions on the same text.
//
// - coarse_pattern (the kernel, or OpenMS where the kernel declines) gives
//   the same float bits as openms_coarse_pattern, or fails with the same
//   isotope::Error; when kernel_coarse_pattern accepts a formula, its bits
//   are OpenMS's;
// - peak_positions fails with nothing but isotope::Error, and otherwise
//   gives probabilities in [0, 1] adding up to at most 1, offset 0 for peak
//   0 and, for every peak that has a probability, an offset within 2% of
//   its neutron count (isotope masses differ from whole daltons by less).
//
// Inputs are either formulas built from pairs (any capital letter, counts
// from small to nine digits, leading zeros, ten digits, repeats) or raw
// text. N stays at most 64, and N = 0 (no cap) is used only on formulas of
// at most 300 atoms, so that OpenMS itself never runs for long.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/pattern/coarse_kernel.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/pattern/peak_positions.hpp"

namespace {

using isotope::py_repr;

// One workspace for every input, as a worker thread keeps one: its cache
// of element powers carries over from input to input.
isotope::PatternWorkspace& workspace() {
  static isotope::PatternWorkspace ws;
  return ws;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// A formula of pairs; `atoms` is the sum of its counts (saturating).
std::string built_formula(FuzzedDataProvider& fdp, std::uint64_t& atoms) {
  std::string f;
  atoms = 0;
  const int pairs = fdp.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < pairs; ++i) {
    f += static_cast<char>('A' + fdp.ConsumeIntegralInRange(0, 25));
    std::uint64_t n = 0;
    switch (fdp.ConsumeIntegralInRange(0, 3)) {
      case 0: n = fdp.ConsumeIntegralInRange<std::uint64_t>(0, 40); break;
      case 1: n = fdp.ConsumeIntegralInRange<std::uint64_t>(0, 1000); break;
      case 2: n = fdp.ConsumeIntegralInRange<std::uint64_t>(0, 999999999); break;
      default: {
        // Leading zeros, ten digits, no digits.
        std::string digits = std::to_string(fdp.ConsumeIntegralInRange<std::uint64_t>(0, 99999999999ull));
        digits.insert(0, static_cast<std::size_t>(fdp.ConsumeIntegralInRange(0, 2)), '0');
        if (fdp.ConsumeBool()) digits.clear();
        f += digits;
        atoms = ~std::uint64_t{0};
        continue;
      }
    }
    f += std::to_string(n);
    atoms = atoms + n < atoms ? ~std::uint64_t{0} : atoms + n;
  }
  return f;
}

void check_coarse(const std::string& formula, std::int64_t N) {
  isotope::PatternWorkspace& ws = workspace();
  std::vector<double> ours, openms;
  auto ours_error = fuzz::error_of("coarse_pattern", [&] { isotope::coarse_pattern(formula, N, ws, ours); });
  auto openms_error = fuzz::error_of("openms_coarse_pattern", [&] { openms = isotope::openms_coarse_pattern(formula, N); });
  FUZZ_CHECK(ours_error == openms_error, py_repr(formula) + " N=" + std::to_string(N) + ": errors differ: " +
                                             ours_error.value_or("none") + " / " + openms_error.value_or("none"));
  if (ours_error) return;
  FUZZ_CHECK(same_bits(ours, openms), py_repr(formula) + " N=" + std::to_string(N) + ": intensities differ");
  std::vector<double> kernel;
  if (isotope::kernel_coarse_pattern(formula, N, ws, kernel))
    FUZZ_CHECK(same_bits(kernel, openms), py_repr(formula) + " N=" + std::to_string(N) + ": kernel differs");
}

void check_positions(const std::string& formula, std::int64_t K) {
  isotope::PatternWorkspace& ws = workspace();
  isotope::PeakPositions peaks;
  if (!fuzz::only_isotope_errors("peak_positions", [&] { isotope::peak_positions(formula, K, ws, peaks); })) return;
  FUZZ_CHECK(peaks.probability.size() == static_cast<std::size_t>(K), py_repr(formula));
  double sum = 0;
  for (std::size_t k = 0; k < peaks.probability.size(); ++k) {
    const double p = peaks.probability[k];
    FUZZ_CHECK(p >= 0 && p <= 1, py_repr(formula) + " peak " + std::to_string(k));
    sum += p;
    if (p > 0 && k > 0) {
      const double off = peaks.offset[k];
      FUZZ_CHECK(std::fabs(off - static_cast<double>(k)) <= 0.02 * static_cast<double>(k),
                 py_repr(formula) + " peak " + std::to_string(k) + " offset " + std::to_string(off));
    }
  }
  FUZZ_CHECK(sum <= 1 + 1e-9, py_repr(formula) + " probabilities add up to " + std::to_string(sum));
  if (K > 0) FUZZ_CHECK(peaks.offset[0] == 0, py_repr(formula));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  std::int64_t N = fdp.ConsumeIntegralInRange<std::int64_t>(0, 64);
  const std::int64_t K = fdp.ConsumeIntegralInRange<std::int64_t>(0, 32);
  std::string formula;
  std::uint64_t atoms = ~std::uint64_t{0};
  if (fdp.ConsumeBool())
    formula = built_formula(fdp, atoms);
  else
    formula = fdp.ConsumeRemainingBytesAsString();
  if (N == 0 && atoms > 300) N = 1;
  check_coarse(formula, N);
  check_positions(formula, K);
  return 0;
}
