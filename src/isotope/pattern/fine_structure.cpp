// Fine structure through OpenMS's FineIsotopePatternGenerator.
#include "isotope/pattern/fine_structure.hpp"

#include <algorithm>
#include <charconv>
#include <new>
#include <numeric>

#include <OpenMS/CHEMISTRY/Element.h>
#include <OpenMS/CHEMISTRY/EmpiricalFormula.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/FineIsotopePatternGenerator.h>
#include <OpenMS/CHEMISTRY/ISOTOPEDISTRIBUTION/IsotopeDistribution.h>
#include <OpenMS/CONCEPT/Exception.h>

#include "isotope/base/errors.hpp"

namespace isotope {

std::string openms_formula(const Composition& comp) {
  std::string out;
  char digits[24];
  for (const auto& [key, n] : comp) {
    const std::size_t open = key.find('[');
    if (open != std::string::npos && key.back() == ']') {
      out += '(';
      out.append(key, open + 1, key.size() - open - 2);
      out += ')';
      out.append(key, 0, open);
    } else {
      out += key;
    }
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, end);
  }
  return out;
}

FinePeaks fine_isotope_peaks(std::string_view formula, double threshold) {
  if (!(threshold > 0 && threshold <= 1))
    throw Error::value("fine structure threshold must be above 0 and at most 1, got " + std::to_string(threshold));
  FinePeaks out;
  try {
    OpenMS::EmpiricalFormula ef{OpenMS::String(std::string(formula))};
    for (const auto& [element, count] : ef)
      if (count < 0)
        throw Error::value("formula " + py_repr(formula) + " has a negative count of " + element->getSymbol() +
                           ": it has no isotope pattern");
    if (ef.getNumberOfAtoms() == 0) {
      // No atoms: one isotopologue, certain (OpenMS's generator fails on it).
      out.mass.push_back(ef.getMonoWeight());
      out.intensity.push_back(1.0);
      return out;
    }
    const OpenMS::IsotopeDistribution dist =
        ef.getIsotopeDistribution(OpenMS::FineIsotopePatternGenerator(threshold, false, false));
    const auto& peaks = dist.getContainer();
    std::vector<std::size_t> order(peaks.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // By mass; equal masses keep OpenMS's order.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return peaks[a].getMZ() < peaks[b].getMZ(); });
    out.mass.reserve(peaks.size());
    out.intensity.reserve(peaks.size());
    for (std::size_t i : order) {
      out.mass.push_back(peaks[i].getMZ());
      out.intensity.push_back(static_cast<double>(peaks[i].getIntensity()));
    }
  } catch (const OpenMS::Exception::BaseException& e) {
    throw Error::value("OpenMS rejects formula " + py_repr(formula) + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw Error::value("fine structure of " + py_repr(formula) + " does not fit in memory");
  }
  return out;
}

FinePeaks fine_isotope_peaks(const Composition& comp, double threshold) {
  return fine_isotope_peaks(openms_formula(comp), threshold);
}

}  // namespace isotope
