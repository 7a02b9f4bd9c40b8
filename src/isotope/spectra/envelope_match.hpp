// A theoretical isotope envelope found in a spectrum's centroids: each
// reported peak matched to the most intense centroid within a tolerance,
// scored by the cosine of observed against theoretical intensities, and
// the monoisotopic assignment checked by shifting the envelope one peak
// spacing down and up.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "isotope/spectra/ms_run.hpp"

namespace isotope {

// What an envelope's peaks found.
struct EnvelopeMatch {
  std::vector<double> intensities;       // observed per reported peak, 0 where none
  std::vector<std::optional<std::size_t>> claimed;  // the centroid (index) each peak took
  std::size_t found = 0;                 // peaks with a centroid
  std::optional<double> cosine;          // none when no peak was found
  std::optional<double> ppm;             // intensity-weighted mean error of the found peaks
  // The shift (-1, 0, +1 peak spacings) whose cosine is highest, 0 unless
  // another beats the unshifted one by the margin; none when no peak was
  // found.
  std::optional<int> offset;
};

// The most intense centroid within tolerance_ppm of mz (the lower m/z on a
// tie of intensities); nullopt when none.
std::optional<std::size_t> most_intense_within(const Centroids& c, double mz, double tolerance_ppm);

// The cosine of two equally long vectors; nullopt when either is all zero.
std::optional<double> cosine(std::span<const double> a, std::span<const double> b);

// The summed intensity of the most intense centroid within tolerance_ppm
// of each m/z: an envelope's point of its extracted chromatogram.
double summed_intensity(const Centroids& c, std::span<const double> mz, double tolerance_ppm);

// Matches the envelope (peaks' m/z and theoretical intensities) in the
// centroids. `spacing` is the envelope's peak spacing in m/z (the shift of
// the offset check).
EnvelopeMatch match_envelope(const Centroids& c, std::span<const double> mz, std::span<const double> theory,
                             double spacing, double tolerance_ppm, double offset_margin);

}  // namespace isotope
