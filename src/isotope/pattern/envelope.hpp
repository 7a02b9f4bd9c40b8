// The isotope envelope a user is shown: how many coarse peaks (a fixed
// number, or as many as a coverage of the probability needs), their
// intensities normalised as asked, and where each peak sits.
//
// Intensities are OpenMS's coarse pattern for that number of peaks, bit for
// bit, which adds up to 1 ("sum"); "max" scales the most intense peak to 1;
// "none" gives each peak's true probability within the whole distribution
// (double precision, peak_positions.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "isotope/pattern/peak_positions.hpp"
#include "isotope/pattern/workspace.hpp"

namespace isotope {

enum class Normalize { Sum, Max, None };
// "sum", "max" or "none"; nullopt for any other word.
std::optional<Normalize> normalize_from_text(std::string_view text);

struct EnvelopeRequest {
  // The number of peaks (the generator's maximal isotope; 0: no limit), or
  // with coverage, the most peaks (0: no cap).
  std::int64_t peaks = 5;
  // The share of the probability the peaks must reach, in (0, 1].
  std::optional<double> coverage;
  Normalize normalize = Normalize::Sum;
  // Whether the peaks' positions are wanted.
  bool positions = false;
};

struct Envelope {
  std::vector<double> intensity;
  // offset[k]: peak k's mean mass minus peak 0's (positions only; NaN for a
  // peak without probability).
  std::vector<double> offset;
};

// The envelope of a pattern formula (filter_labelled's form). Errors are
// those of coarse_pattern, peaks_covering and peak_positions.
void envelope(std::string_view pattern_formula, const EnvelopeRequest& request, PatternWorkspace& ws,
              PeakPositions& scratch, Envelope& out);

}  // namespace isotope
