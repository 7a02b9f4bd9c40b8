// An envelope's spectrum and chromatogram read from a run for a picture.
#include "isotope/run/envelope_view.hpp"

#include <algorithm>
#include <cmath>

#include "isotope/base/errors.hpp"
#include "isotope/run/ms1_evidence.hpp"
#include "isotope/run/rows.hpp"

namespace isotope {

EnvelopeView view_envelope(const std::string& path, std::string_view scan, std::span<const double> mz,
                           std::span<const double> theory, int charge, const Options& options, bool chromatogram) {
  const RunIndex index = read_run_index(path);
  const std::optional<std::size_t> named = spectrum_named(index, scan);
  if (!named) throw Error::lookup("run has no spectrum", scan).at(path);
  const SpectrumInfo& s = index.spectra[*named];
  const std::optional<std::size_t> ms1 = s.ms_level == 1 ? named : index.precursor_ms1(*named);
  if (!ms1) throw Error::lookup("no MS1 spectrum precedes spectrum", scan).at(path);
  std::vector<std::size_t> positions;
  if (chromatogram)
    for (const SpectrumInfo& m : index.spectra)
      if (m.ms_level == 1 && std::abs(m.rt_min - s.rt_min) <= options.rt_window_min) positions.push_back(m.position);
  if (std::find(positions.begin(), positions.end(), *ms1) == positions.end()) {
    positions.push_back(*ms1);
    std::sort(positions.begin(), positions.end());
  }
  const double spacing = peak_spacing(mz, charge);
  EnvelopeView view;
  read_spectra(index, positions, [&](std::size_t position, const Centroids& c) {
    if (position == *ms1) {
      view.ms1_scan = index.spectra[position].native_id;
      view.rt_min = index.spectra[position].rt_min;
      view.centroids = c;
      view.match = match_envelope(c, mz, theory, spacing, options.ms1_tolerance_ppm, options.ms1_offset_margin);
    }
    if (chromatogram && std::abs(index.spectra[position].rt_min - s.rt_min) <= options.rt_window_min) {
      view.chromatogram_rt.push_back(index.spectra[position].rt_min);
      view.chromatogram_sum.push_back(summed_intensity(c, mz, options.ms1_tolerance_ppm));
    }
  });
  return view;
}

}  // namespace isotope
