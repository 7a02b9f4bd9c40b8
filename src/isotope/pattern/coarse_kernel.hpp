// OpenMS 2.6's coarse isotope pattern, computed without OpenMS and without
// allocating, to the same float bits as CoarseIsotopePatternGenerator for
// every formula it covers. It repeats OpenMS's arithmetic step for step:
// the elements in OpenMS's iteration order (element_data.hpp); each
// element's power by binary squaring (squares capped at N + 1 peaks,
// products at N, N = 0 meaning no cap; the final, unused square skipped,
// and a square's last peak never reaches a result anyway);
// float products summed in float in the order of OpenMS's backward loops;
// holes in an element's isotope masses filled with 0; then the
// renormalisation, a double sum from the last peak and each float divided
// by it in double. The unit is compiled with -ffp-contract=off so that no
// fused multiply-add changes a bit.
//
// Covered: pairs of a capital letter naming an element of the table and a
// count, "0" or up to nine digits without a leading zero, each element once
// (what filter_labelled writes), and the empty formula; N >= 0; patterns
// calc_iso_dist would not refuse as too large. Anything else is the
// caller's to hand to OpenMS.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "isotope/pattern/workspace.hpp"

namespace isotope {

// The most peaks a pattern may have: calc_iso_dist refuses larger ones
// (an unlimited N with a huge formula), which OpenMS could not compute in
// reasonable time and memory, and so do the peak positions.
constexpr std::int64_t kMaxIsotopePeaks = 100000;

// Writes the pattern of `formula` with maximal isotope N into out (float
// intensities widened to double, out resized) and returns true; returns
// false, out untouched, when the formula is not covered.
bool kernel_coarse_pattern(std::string_view formula, std::int64_t N, PatternWorkspace& ws,
                           std::vector<double>& out);

}  // namespace isotope
