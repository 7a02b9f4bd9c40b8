// The envelopes of many compositions at once, on worker threads: one call
// for a whole list, so that a caller (Python's patterns()) pays for the
// hand-over once and every core works.
#pragma once

#include <functional>
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

// The same written straight into rows of `width` doubles (row i at
// out + i * width), each padded with NaN; width is request.peaks (> 0).
// When fill is given, the inputs are filled piece by piece on the reader
// thread (fill(begin, end) sets inputs[begin..end)), while the workers
// compute the pieces before: a caller that has to convert its inputs under
// a lock (Python's) does so alongside the work.
using FillInputs = std::function<void(std::size_t begin, std::size_t end)>;
void many_patterns_into(const std::vector<PatternInput>& inputs, const EnvelopeRequest& request, unsigned threads,
                        double* out, const FillInputs& fill = {});

}  // namespace isotope
