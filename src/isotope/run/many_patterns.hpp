// The envelopes of many compositions at once, on worker threads: one call
// for a whole list, so that a caller (Python's patterns()) pays for the
// hand-over once and every core works.
#pragma once

#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"
#include "isotope/pattern/envelope.hpp"

namespace isotope {

// One input: a composition, or a formula text read as Composition's
// formula constructor reads it ("C6H12O6", "C[13]2H6").
struct PatternInput {
  const Composition* composition = nullptr;
  std::string_view formula;
};

// The intensities of each input's envelope (labelled atoms left out of the
// pattern, as everywhere). The first failing input's error is thrown,
// naming its position.
std::vector<std::vector<double>> many_patterns(const std::vector<PatternInput>& inputs, const EnvelopeRequest& request,
                                               unsigned threads);

}  // namespace isotope
