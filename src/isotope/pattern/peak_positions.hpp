// Where each coarse isotope peak sits and how probable it is, in double
// precision, apart from OpenMS's float intensities. Peak k gathers every
// isotopologue with k extra neutrons; its position is their
// probability-weighted mean mass, which is what a spectrometer that does not
// resolve the fine structure measures. Each element's isotopes (OpenMS's
// masses and abundances, the table the coarse kernel reads; probabilities
// are the abundances over their sum) give per neutron count a pair
// (probability, probability x mass excess over the lightest isotope); these
// pairs are convolved, binary powers per element, truncated to the peaks
// asked for (truncation does not change those peaks). Elements are taken in
// alphabetical order, so the figures are the same in every build.
//
// Formulas are pattern formulas: pairs of a capital letter naming an
// element OpenMS knows and a decimal count (a repeated element adds up), as
// filter_labelled writes them; the empty formula is one peak of probability
// 1. Anything else is a value Error.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"
#include "isotope/pattern/workspace.hpp"

namespace isotope {

struct PeakPositions {
  // probability[k]: the probability of k extra neutrons within the whole
  // distribution. Beyond the heaviest isotopologue, and where it is below
  // the smallest normal double (about 2.2e-308), it is 0.
  std::vector<double> probability;
  // offset[k]: peak k's mean mass minus peak 0's (offset[0] = 0); NaN
  // where probability[k] is 0, as such a peak has no mass.
  std::vector<double> offset;
};

// Peaks 0..K-1 of formula. K above kMaxIsotopePeaks, or negative, is a
// value Error, as in calc_iso_dist. The work grows as K^2 times the log of
// the counts, K no more than the peaks an isotopologue can reach: a
// microsecond for the first peaks of a glycopeptide, milliseconds for all
// 1,567 of a 10 kDa one, minutes for 10^5 peaks of a formula that has them.
void peak_positions(std::string_view formula, std::int64_t K, PatternWorkspace& ws, PeakPositions& out);

// The smallest K whose probabilities, added in double from peak 0 up, reach
// coverage (0 < coverage <= 1). coverage = 1 means every neutron count an
// isotopologue can have (sum over elements of count x the heaviest isotope
// with a non-zero abundance, plus one), whatever rounding does to the sum;
// so does any coverage that the rounded sum never reaches. A coverage
// outside (0, 1], or a K above kMaxIsotopePeaks, is a value Error; the
// latter is found without computing when the distribution's mean and
// variance show it (a formula of millions of atoms).
std::int64_t peaks_covering(std::string_view formula, double coverage, PatternWorkspace& ws);

// Neutral masses and probabilities of a composition's peaks: the pattern
// formula is the composition's formula with labelled entries (C[13],
// N[15]) left out, exactly as calc_iso_dist filters it, and peak k's mass
// is comp.mass() + offset[k]: the labelled atoms count in the mass. Peak 0
// is the isotopologue of every element's lightest isotope, whose mass
// comp.mass() is for the elements of peptides and glycans (their
// monoisotopic isotope is the lightest).
struct IsotopePeaks {
  std::vector<double> mass;
  std::vector<double> probability;
};
void isotope_peaks(const Composition& comp, std::int64_t K, PatternWorkspace& ws, IsotopePeaks& out);
std::int64_t peaks_covering(const Composition& comp, double coverage, PatternWorkspace& ws);

}  // namespace isotope
