// The isotope pattern of a formula, from OpenMS' coarse isotope pattern
// generator. This unit is the only one that sees OpenMS.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace isotope {

struct IsoOptions {
  // Leave isotope-labelled entries ("C[13]4") out of the formula first.
  bool filter_iso = true;
  // The generator's maximal isotope (OpenMS: 0 means no limit).
  std::int64_t N = 5;
};

// The formula handed to the generator when labelled entries are filtered:
// the pairs that component_counter reads, without keys holding "[".
std::string filter_labelled(std::string_view comp);

// The intensities of the peaks of OpenMS::EmpiricalFormula(formula)
// .getIsotopeDistribution(CoarseIsotopePatternGenerator(N)), widened from
// float to double, in container order. Formulas OpenMS rejects, negative
// element counts and a negative N are value Errors, and so is a pattern of
// more than kMaxIsotopePeaks peaks (an unlimited N with a huge formula),
// which the generator could not compute in reasonable time and memory.
std::vector<double> calc_iso_dist(std::string_view comp, const IsoOptions& options = {});

constexpr std::int64_t kMaxIsotopePeaks = 100000;

}  // namespace isotope
