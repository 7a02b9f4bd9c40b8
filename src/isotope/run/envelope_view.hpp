// One identification's envelope in its MS1 spectrum, for a picture: the
// whole spectrum's centroids, the match of the reported peaks, and the
// extracted chromatogram over the retention-time window around the
// identification's MS2 spectrum.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/run/options.hpp"
#include "isotope/spectra/envelope_match.hpp"
#include "isotope/spectra/ms_run.hpp"

namespace isotope {

struct EnvelopeView {
  std::string ms1_scan;  // the MS1 spectrum's native id
  double rt_min = 0;     // its retention time
  Centroids centroids;   // all of its centroids
  EnvelopeMatch match;   // the reported peaks matched there
  // The summed matched intensity of the MS1 spectra within
  // isotope_rt_window_min of the MS2 spectrum (empty unless asked for).
  std::vector<double> chromatogram_rt, chromatogram_sum;
};

// The envelope of reported peaks (m/z, theoretical intensities) in the MS1
// spectrum of `scan` (an MS2 spectrum's scan number or native id: its
// precursor spectrum; or an MS1 spectrum's) in the run at `path`, matched
// with the options' tolerance and offset margin. A scan the run lacks is a
// lookup Error naming the run. The charge gives the peak spacing of a
// one-peak envelope.
EnvelopeView view_envelope(const std::string& path, std::string_view scan, std::span<const double> mz,
                           std::span<const double> theory, int charge, const Options& options, bool chromatogram);

}  // namespace isotope
