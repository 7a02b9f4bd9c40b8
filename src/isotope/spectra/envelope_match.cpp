// Envelope matching over sorted centroids: a binary search for each peak's
// window, the most intense centroid within it.
#include "isotope/spectra/envelope_match.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace isotope {

std::optional<std::size_t> most_intense_within(const Centroids& c, double mz, double tolerance_ppm) {
  const double delta = std::abs(mz) * tolerance_ppm * 1e-6;
  const auto first = std::lower_bound(c.mz.begin(), c.mz.end(), mz - delta);
  std::optional<std::size_t> best;
  for (auto it = first; it != c.mz.end() && *it <= mz + delta; ++it) {
    const auto i = static_cast<std::size_t>(it - c.mz.begin());
    if (!best || c.intensity[i] > c.intensity[*best]) best = i;
  }
  return best;
}

std::optional<double> cosine(std::span<const double> a, std::span<const double> b) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
    ab += a[k] * b[k];
    aa += a[k] * a[k];
    bb += b[k] * b[k];
  }
  if (!(aa > 0) || !(bb > 0)) return std::nullopt;
  return ab / std::sqrt(aa * bb);
}

double summed_intensity(const Centroids& c, std::span<const double> mz, double tolerance_ppm) {
  double sum = 0;
  for (double m : mz)
    if (auto i = most_intense_within(c, m, tolerance_ppm)) sum += c.intensity[*i];
  return sum;
}

namespace {

// The observed intensities of the envelope placed `shift` spacings away.
std::vector<double> observed_at(const Centroids& c, std::span<const double> mz, double shift, double tolerance_ppm) {
  std::vector<double> seen(mz.size(), 0.0);
  for (std::size_t k = 0; k < mz.size(); ++k)
    if (auto i = most_intense_within(c, mz[k] + shift, tolerance_ppm)) seen[k] = c.intensity[*i];
  return seen;
}

}  // namespace

EnvelopeMatch match_envelope(const Centroids& c, std::span<const double> mz, std::span<const double> theory,
                             double spacing, double tolerance_ppm, double offset_margin) {
  EnvelopeMatch m;
  m.intensities.assign(mz.size(), 0.0);
  m.claimed.assign(mz.size(), std::nullopt);
  double weighted = 0, weight = 0;
  for (std::size_t k = 0; k < mz.size(); ++k) {
    const std::optional<std::size_t> i = most_intense_within(c, mz[k], tolerance_ppm);
    if (!i) continue;
    m.claimed[k] = i;
    m.intensities[k] = c.intensity[*i];
    ++m.found;
    weighted += c.intensity[*i] * (c.mz[*i] - mz[k]) / mz[k] * 1e6;
    weight += c.intensity[*i];
  }
  if (m.found == 0) return m;
  m.ppm = weighted / weight;
  m.cosine = cosine(m.intensities, theory);
  // The shifted envelopes: the reported one wins unless another's cosine is
  // higher by the margin; of -1 and +1, the higher (-1 on a tie).
  const double base = m.cosine.value_or(0);
  m.offset = 0;
  double best = base + offset_margin;
  for (int shift : {-1, 1}) {
    const std::vector<double> seen = observed_at(c, mz, shift * spacing, tolerance_ppm);
    const double score = cosine(seen, theory).value_or(0);
    if (score > best) {
      best = score;
      m.offset = shift;
    }
  }
  return m;
}

}  // namespace isotope
