// What the MS1 envelopes of one run's rows give beyond one spectrum: each
// identification's extracted chromatogram (its reported peaks' matched
// intensity summed per MS1 spectrum), integrated over each row's window of
// retention time, and the other identifications whose envelopes claim a
// centroid a row's envelope claims in its precursor spectrum.
//
// An identification is a reported envelope (a glycopeptide at a charge):
// rows that report the same peaks share one chromatogram.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "isotope/spectra/envelope_match.hpp"
#include "isotope/spectra/ms_run.hpp"

namespace isotope {

class RunQuantities {
 public:
  RunQuantities(const RunIndex& index, double window_min, double tolerance_ppm);

  // A row placed in the run: its reported peaks (the identification) and
  // the retention time its window is centred on (its MS2 spectrum's).
  void add_row(std::size_t row, const std::vector<double>& mz, double center_rt);

  // Ends the rows: the MS1 spectra their windows hold (positions,
  // increasing).
  std::vector<std::size_t> close();
  // A visited MS1 spectrum: each identification that needs it sums its
  // matched intensity there.
  void visit(std::size_t position, const Centroids& c);

  // A row's area (trapezoids over its window's spectra, intensity times
  // minutes) and the retention time of its highest summed intensity.
  struct Area {
    double area = 0, apex_rt = 0;
  };
  std::optional<Area> area(std::size_t row) const;

  // The other identifications of the run whose reported peaks, matched in
  // the centroids, claim a centroid the row's match claims; `note` names
  // the shared centroids.
  std::size_t overlaps(std::size_t row, const Centroids& c, const EnvelopeMatch& m, std::string& note) const;

 private:
  struct Identification {
    std::vector<double> mz;
    std::map<std::size_t, double> sums;  // MS1 position -> summed matched intensity
  };
  const RunIndex& index_;
  double window_, tolerance_;
  std::vector<Identification> ids_;
  std::map<std::vector<double>, std::size_t> by_peaks_;
  std::map<std::size_t, std::pair<std::size_t, double>> rows_;  // row -> identification, centre
  std::vector<std::pair<double, std::size_t>> ms1_rt_;          // (rt, position) of the MS1 spectra, sorted
  std::vector<std::pair<double, std::size_t>> peaks_;           // (peak m/z, identification), sorted
  std::map<std::size_t, std::vector<std::size_t>> needs_;       // position -> identifications
  // The positions of the MS1 spectra within the window around rt.
  std::vector<std::size_t> window(double rt) const;
};

}  // namespace isotope
