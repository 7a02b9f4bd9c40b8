// The coarse isotope pattern of a formula: the intensities of OpenMS 2.6's
// CoarseIsotopePatternGenerator, computed by our own kernel
// (coarse_kernel.hpp) to the same bits wherever it covers the formula, and
// by OpenMS itself otherwise, with OpenMS's rejections as value Errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"
#include "isotope/pattern/coarse_kernel.hpp"
#include "isotope/pattern/workspace.hpp"

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

// filter_labelled(comp_to_str(comp)), written into out with scratch as the
// unfiltered text; both strings are reused, so that in the steady state
// nothing is allocated. Keys of two letters are no pairs of that reading:
// the Na of a sodium adduct stays out of the pattern, which leaves the
// pattern and the peak offsets as they are (sodium has one isotope) while
// the mass counts it.
void pattern_formula(const Composition& comp, std::string& scratch, std::string& out);

// The intensities of the peaks of OpenMS::EmpiricalFormula(formula)
// .getIsotopeDistribution(CoarseIsotopePatternGenerator(N)), widened from
// float to double, in container order. Formulas OpenMS rejects, negative
// element counts and a negative N are value Errors, and so is a pattern of
// more than kMaxIsotopePeaks peaks (an unlimited N with a huge formula),
// which the generator could not compute in reasonable time and memory.
// Uses a workspace of its own thread.
std::vector<double> calc_iso_dist(std::string_view comp, const IsoOptions& options = {});

// calc_iso_dist(formula, {false, N}) into out (resized, its buffer
// reused), with the caller's workspace: the pipeline's entry.
void coarse_pattern(std::string_view formula, std::int64_t N, PatternWorkspace& ws, std::vector<double>& out);

// The same through OpenMS's CoarseIsotopePatternGenerator alone, without
// the kernel: what the kernel is compared with, and what runs for formulas
// the kernel does not cover.
std::vector<double> openms_coarse_pattern(std::string_view formula, std::int64_t N);

// Loads OpenMS's element database and reads the kernel's element table.
// Call once before starting threads that compute patterns: OpenMS's first
// load of its database is not safe to race.
void prepare_isotope_patterns();

}  // namespace isotope
