// The coarse isotope pattern through OpenMS: labelled entries filtered out
// of the formula, OpenMS's rejections turned into value Errors.
#include "isotope/pattern/isotope_pattern.hpp"

#include <new>

#include <OpenMS/CHEMISTRY/EmpiricalFormula.h>
#include <OpenMS/CHEMISTRY/Element.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/CoarseIsotopePatternGenerator.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/IsotopeDistribution.h>
#include <OpenMS/CONCEPT/Exception.h>

#include "isotope/base/errors.hpp"
#include "isotope/model/formula.hpp"

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

}  // namespace

std::vector<double> calc_iso_dist(std::string_view comp, const IsoOptions& options) {
  std::string formula = options.filter_iso ? filter_labelled(comp) : std::string(comp);
  if (options.N < 0)
    throw Error::value("maximal isotope N must not be negative, got " + std::to_string(options.N));
  try {
    OpenMS::EmpiricalFormula wm(formula);
    check_computable(wm, formula, options.N);
    OpenMS::IsotopeDistribution isotopes =
        wm.getIsotopeDistribution(OpenMS::CoarseIsotopePatternGenerator(static_cast<OpenMS::Size>(options.N)));
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

}  // namespace isotope
