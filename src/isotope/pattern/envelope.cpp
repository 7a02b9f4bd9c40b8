// The envelope: peak count, coarse intensities, normalisation, positions.
#include "isotope/pattern/envelope.hpp"

#include <algorithm>

#include "isotope/pattern/isotope_pattern.hpp"

namespace isotope {

std::optional<Normalize> normalize_from_text(std::string_view text) {
  if (text == "sum") return Normalize::Sum;
  if (text == "max") return Normalize::Max;
  if (text == "none") return Normalize::None;
  return std::nullopt;
}

void envelope(std::string_view formula, const EnvelopeRequest& request, PatternWorkspace& ws, PeakPositions& scratch,
              Envelope& out) {
  std::int64_t n = request.peaks;
  if (request.coverage) {
    std::int64_t k = peaks_covering(formula, *request.coverage, ws);
    n = n > 0 ? std::min(n, k) : k;
  }
  coarse_pattern(formula, n, ws, out.intensity);
  const auto peaks = static_cast<std::int64_t>(out.intensity.size());
  const bool need_positions = request.positions || request.normalize == Normalize::None;
  if (need_positions) peak_positions(formula, peaks, ws, scratch);
  switch (request.normalize) {
    case Normalize::Sum: break;  // OpenMS's own: the peaks add up to 1
    case Normalize::Max: {
      double top = 0;
      for (double v : out.intensity) top = std::max(top, v);
      if (top > 0)
        for (double& v : out.intensity) v /= top;
      break;
    }
    case Normalize::None:
      std::copy_n(scratch.probability.begin(), peaks, out.intensity.begin());
      break;
  }
  out.offset.clear();
  if (request.positions) out.offset.assign(scratch.offset.begin(), scratch.offset.begin() + peaks);
}

}  // namespace isotope
