// What the MS1 envelopes of one run's rows give beyond one spectrum: each
// identification's extracted chromatogram (its reported peaks' matched
// intensity summed per MS1 spectrum), integrated over each row's window of
// retention time, and the other identifications whose envelopes claim a
// centroid a row's envelope claims in its precursor spectrum.
//
// An identification is a reported envelope (a glycopeptide at a charge):
// rows that report the same peaks share one chromatogram, summed once per
// spectrum. Areas are integrated while the run streams past: the MS1
// spectra come in file order, which is the order of their retention times
// (a run whose MS1 retention times go back gets no areas), and a row keeps
// only its running integral, so memory grows with the rows, not with the
// spectra in their windows.
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
  // A visited MS1 spectrum (visits in file order): each row whose window
  // holds it adds its identification's summed intensity there.
  void visit(std::size_t position, const Centroids& c);

  // Whether the run's MS1 retention times never go back (else no areas).
  bool ordered() const noexcept { return ordered_; }

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
    std::size_t stamp = static_cast<std::size_t>(-1);  // the rank `sum` is of
    double sum = 0;
  };
  struct Row {
    std::size_t id = 0, first = 0, last = 0;  // identification; window as MS1 ranks [first, last)
    bool seen = false;
    double area = 0, apex_rt = 0, best = -1, last_rt = 0, last_sum = 0;
  };
  double summed(Identification& id, std::size_t rank, const Centroids& c) const;

  const RunIndex& index_;
  double window_, tolerance_;
  bool ordered_ = true;
  std::vector<Identification> ids_;
  std::map<std::vector<double>, std::size_t> by_peaks_;
  std::map<std::size_t, Row> rows_;                           // by table row
  std::vector<double> ms1_rt_;                                // per MS1 rank (file order)
  std::map<std::size_t, std::size_t> rank_of_;                // MS1 position -> rank
  std::vector<std::pair<double, std::size_t>> peaks_;         // (peak m/z, identification), sorted
  std::vector<Row*> waiting_, active_;                        // rows by window start; rows in window
  std::size_t next_ = 0;                                      // next of waiting_ to activate
};

}  // namespace isotope
