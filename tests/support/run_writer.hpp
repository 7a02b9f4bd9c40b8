// Small LC-MS runs for the tests, written as mzML by OpenMS's own writer
// (MzMLFile::store): the spectra, peaks, precursors and encodings a test
// asks for, from C++ (write_run) or from a plain text description
// (parse_run_spec; the write_run program reads one for the Python tests).
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct SpectrumSpec {
  int ms_level = 1;
  long scan = 0;  // the scan number of its native id
  double rt_seconds = 0;
  bool profile = false;  // declared a profile spectrum (else centroid)
  // The precursor of an MSn spectrum: its m/z, the scan number of the
  // spectrum it names (spectrumRef), the isolation window's offsets.
  std::optional<double> precursor_mz;
  std::optional<long> precursor_scan;
  double isolation_lower = 0, isolation_upper = 0;
  std::vector<std::pair<double, double>> peaks;  // (m/z, intensity)
};

struct RunSpec {
  enum class Compression { none, zlib, numpress };
  Compression compression = Compression::none;
  bool bits32 = false;        // 32-bit m/z and intensity arrays (else 64-bit)
  bool deconvoluted = false;  // every spectrum carries a charge array
  bool thermo_ids = true;     // "controllerType=0 controllerNumber=1 scan=N", else "index=K"
  std::vector<SpectrumSpec> spectra;
};

// Writes the run as mzML at path.
void write_run(const std::string& path, const RunSpec& run);

// The run a text description gives (see run_writer.cpp); throws
// std::runtime_error naming the line of a malformed one.
RunSpec parse_run_spec(std::istream& in);

}  // namespace testing_support
