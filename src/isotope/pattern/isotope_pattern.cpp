// The coarse isotope pattern: labelled entries filtered out of the formula,
// the kernel where it covers the formula, OpenMS otherwise, OpenMS's
// rejections turned into value Errors.
#include "isotope/pattern/isotope_pattern.hpp"

#include <array>
#include <charconv>
#include <new>

#include <OpenMS/CHEMISTRY/EmpiricalFormula.h>
#include <OpenMS/CHEMISTRY/Element.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/CoarseIsotopePatternGenerator.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/IsotopeDistribution.h>
#include <OpenMS/CONCEPT/Exception.h>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/pattern/coarse_kernel.hpp"
#include "isotope/pattern/element_data.hpp"

namespace isotope {

std::string filter_labelled(std::string_view comp) {
  std::string formula;
  Counts counts = component_counter(comp);
  for (const auto& [key, n] : counts) {
    if (key.find('[') != std::string::npos) continue;
    formula += key;
    formula += std::to_string(n);
  }
  return formula;
}

void pattern_formula(const Composition& comp, std::string& scratch, std::string& out) {
  scratch.clear();
  append_formula(scratch, comp);
  // component_counter's reading kept to the keys without "[", which are
  // single letters: a letter seen again keeps its first place and takes
  // the last count.
  struct Letters {
    std::array<std::int64_t, 26> count{};
    std::array<char, 26> order{};
    std::size_t size = 0;
  } letters;
  scan_pairs(scratch, [state = &letters](std::string_view key, std::string_view digits) {
    if (key.size() != 1) return;
    const auto c = static_cast<std::size_t>(key[0] - 'A');
    bool seen = false;
    for (std::size_t i = 0; i < state->size; ++i) seen = seen || state->order[i] == key[0];
    if (!seen) state->order[state->size++] = key[0];
    state->count[c] = text::digits_value(digits);
  });
  out.clear();
  char buf[24];
  for (std::size_t i = 0; i < letters.size; ++i) {
    out += letters.order[i];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, letters.count[static_cast<std::size_t>(letters.order[i] - 'A')]);
    out.append(buf, end);
  }
}

namespace {

// Rejects what OpenMS would mishandle: negative element counts (its
// generator fails with an allocation error) and patterns too large to
// compute. The number of peaks is at most the sum over elements of count
// times the element's isotope span, and at most N when N limits it.
void check_computable(const OpenMS::EmpiricalFormula& formula, std::string_view text, std::int64_t N) {
  double span = 0;
  for (const auto& [element, count] : formula) {
    if (count < 0)
      throw Error::value("formula " + py_repr(text) + " has a negative count of " + element->getSymbol() +
                         ": it has no isotope pattern");
    const auto& isotopes = element->getIsotopeDistribution().getContainer();
    if (isotopes.size() > 1)
      span += static_cast<double>(count) * (isotopes.back().getMZ() - isotopes.front().getMZ() + 1);
  }
  double peaks = N > 0 ? std::min<double>(static_cast<double>(N), span + 1) : span + 1;
  if (peaks > static_cast<double>(kMaxIsotopePeaks))
    throw Error::value("isotope pattern of " + py_repr(text) + " with maximal isotope " + std::to_string(N) +
                       " would exceed " + std::to_string(kMaxIsotopePeaks) + " peaks");
}

void check_N(std::int64_t N) {
  if (N < 0) throw Error::value("maximal isotope N must not be negative, got " + std::to_string(N));
}

}  // namespace

std::vector<double> openms_coarse_pattern(std::string_view formula_text, std::int64_t N) {
  check_N(N);
  std::string formula(formula_text);
  try {
    OpenMS::EmpiricalFormula wm(formula);
    check_computable(wm, formula, N);
    OpenMS::IsotopeDistribution isotopes =
        wm.getIsotopeDistribution(OpenMS::CoarseIsotopePatternGenerator(static_cast<OpenMS::Size>(N)));
    const auto& peaks = isotopes.getContainer();
    std::vector<double> out;
    out.reserve(peaks.size());
    for (const auto& peak : peaks) out.push_back(static_cast<double>(peak.getIntensity()));
    return out;
  } catch (const OpenMS::Exception::BaseException& e) {
    // OpenMS's own words say why the formula was rejected.
    throw Error::value("OpenMS rejects formula " + py_repr(formula) + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw Error::value("isotope pattern of " + py_repr(formula) + " does not fit in memory");
  }
}

void coarse_pattern(std::string_view formula, std::int64_t N, PatternWorkspace& ws, std::vector<double>& out) {
  check_N(N);
  if (!kernel_coarse_pattern(formula, N, ws, out)) out = openms_coarse_pattern(formula, N);
}

std::vector<double> calc_iso_dist(std::string_view comp, const IsoOptions& options) {
  std::string formula = options.filter_iso ? filter_labelled(comp) : std::string(comp);
  thread_local PatternWorkspace workspace;
  std::vector<double> out;
  coarse_pattern(formula, options.N, workspace, out);
  return out;
}

void prepare_isotope_patterns() { element_table(); }

}  // namespace isotope
