// The fine structure of an isotope pattern: every isotopologue (or every
// isotopologue peak OpenMS merges) whose probability is at least threshold
// times the most probable one's, from OpenMS's FineIsotopePatternGenerator
// (IsoSpec's threshold algorithm, relative threshold, no total-probability
// stop). Masses are neutral, in daltons, from OpenMS's element data.
//
// Labelled entries of a composition (C[13]4, N[15]1) are handed to OpenMS
// as its isotope elements ("(13)C4"), whose one isotope has probability 1:
// they shift every peak by their isotope masses, as OpenMS's element data
// gives them, and add no peaks. A key OpenMS does not know is OpenMS's
// value Error.
#pragma once

#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"

namespace isotope {

struct FinePeaks {
  std::vector<double> mass;       // increasing
  std::vector<double> intensity;  // OpenMS's float probabilities, widened
};

// threshold must be in (0, 1]; a formula OpenMS rejects, or with a
// negative count, is a value Error. A formula without atoms ("", "C0") is
// one peak of intensity 1. The number of peaks grows quickly as the
// threshold falls: 1e-6 gives thousands for a 10 kDa glycopeptide.
FinePeaks fine_isotope_peaks(std::string_view formula, double threshold);
FinePeaks fine_isotope_peaks(const Composition& comp, double threshold);

// The OpenMS formula text of a composition: labelled keys "C[13]" written
// as "(13)C", every count written.
std::string openms_formula(const Composition& comp);

}  // namespace isotope
