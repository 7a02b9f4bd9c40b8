// Reading LC-MS runs (mzML, through OpenMS): an index of a run's spectra
// from a pass that decodes no peaks, then a pass that hands over the
// centroids of the spectra asked for, one at a time, in file order. No
// spectrum's peaks are kept beyond the call they are handed to, so memory
// grows with the index, not with the file. Either function may be called
// from any thread; OpenMS reads one file at a time, so calls from several
// threads wait for each other.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace isotope {

// One spectrum as the index holds it.
struct SpectrumInfo {
  std::string native_id;  // as written in the file ("controllerType=0 controllerNumber=1 scan=17")
  std::size_t position = 0;  // 0-based, in file order
  int ms_level = 0;
  double rt_min = 0;  // retention time, minutes
  std::optional<long> scan;  // the native id's scan=N (or scanId=N), when it has one
  // An MSn spectrum's first precursor: the selected ion's m/z (else the
  // isolation window's target), the isolation window's offsets below and
  // above it (0 when not given), and the native id of the spectrum it was
  // taken from, when the file names it.
  std::optional<double> precursor_mz;
  double isolation_lower = 0, isolation_upper = 0;
  std::string precursor_ref;
};

// A run's index and what the whole run says of itself.
struct RunIndex {
  std::string path;
  std::vector<SpectrumInfo> spectra;  // in file order
  // The run's spectra are deconvoluted (a charge array, or data processing
  // that deisotoped or deconvoluted charges): their peaks are no isotope
  // envelopes. `deconvoluted` then says why, in a few words ("its spectra
  // carry a charge array"); empty otherwise.
  std::string deconvoluted;

  // Lookups (positions into `spectra`); nullopt when none. They answer
  // for the spectra the index was made with (read_run_index or
  // make_run_index), not for later changes to `spectra`.
  std::optional<std::size_t> by_native_id(std::string_view id) const;
  std::optional<std::size_t> by_scan(long scan) const;  // the native id's scan number (the first such spectrum)
  // The spectrum at a one-based position in the file.
  std::optional<std::size_t> by_number(long one_based) const;
  // The MS1 spectrum an MSn spectrum's precursor was taken from: the one
  // its precursor names (through an MSn spectrum it names, for MS3 and
  // beyond), else the last MS1 spectrum before it. Nullopt for an MS1
  // spectrum, or when there is none.
  std::optional<std::size_t> precursor_ms1(std::size_t position) const;
  // The MS1 spectrum nearest a retention time (minutes); on a tie the
  // earlier one (in time, then in the file).
  std::optional<std::size_t> ms1_near(double rt_min) const;

 private:
  friend RunIndex make_run_index(std::string path, std::vector<SpectrumInfo> spectra, std::string deconvoluted);

  std::unordered_map<std::string, std::size_t> ids_;     // native id -> position (first one)
  std::unordered_map<long, std::size_t> scans_;          // scan number -> position (first one)
  std::vector<std::size_t> ms1_;                         // positions of the MS1 spectra, in file order
  std::vector<std::pair<double, std::size_t>> ms1_rt_;   // (retention time, position) of the MS1 spectra, sorted
};

// An index of the given spectra (their positions must be 0, 1, 2, ... in
// order), with its lookups built: what read_run_index returns for a file
// holding these spectra.
RunIndex make_run_index(std::string path, std::vector<SpectrumInfo> spectra, std::string deconvoluted = {});

// A spectrum's centroids: m/z increasing, no zero (or negative) intensity.
// A profile spectrum (as the file declares it; when it does not, as OpenMS
// estimates it) is centroided with OpenMS's PeakPickerHiRes (default
// settings) first.
struct Centroids {
  std::vector<double> mz, intensity;
};

// The index of the run at `path` (the pass that decodes no peaks). A file
// OpenMS refuses, or one that is missing, fails with an Error naming the
// file and the cause (with the line and column of an XML fault). A
// precursor's reference is mzML's <precursor spectrumRef="...">.
RunIndex read_run_index(const std::string& path);

// Hands over the centroids of the spectra at `positions` (increasing, into
// the run's index), in file order: visit(position, centroids). Reads the
// file once, decoding the peaks of the spectra of the MS levels asked for
// only, and stops after the last spectrum asked for. Errors as
// read_run_index; positions that do not increase or lie beyond the index,
// or a file that no longer matches its index, fail with an Error too. What
// `visit` throws ends the reading and is thrown on.
void read_spectra(const RunIndex& run, const std::vector<std::size_t>& positions,
                  const std::function<void(std::size_t, const Centroids&)>& visit);

}  // namespace isotope
