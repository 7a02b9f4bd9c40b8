// Test runs written with OpenMS's mzML writer.
//
// The text description, one item a line; blank lines and lines starting
// with '#' are skipped:
//
//   compression=zlib|none|numpress precision=64|32 deconvoluted=0|1 ids=thermo|index mode=centroid|profile
//   S <ms level> <scan number> <rt seconds> [<precursor m/z> <precursor scan number or -> [<isolation lower> <isolation upper>]] [mode=profile|centroid]
//   P <m/z> <intensity>
//
// The first line holds the run's options, each optional (defaults: none,
// 64, 0, thermo, centroid). An S line starts a spectrum, the P lines after
// it are its points. ids=thermo gives native ids "controllerType=0
// controllerNumber=1 scan=N" with N the spectrum's scan number, ids=index
// gives "index=K" with K its 0-based place in the file; a precursor's scan
// number becomes a spectrumRef to the spectrum of that scan number (- for
// none). deconvoluted=1 adds a charge array ("charge array", all 1) to every
// spectrum. numpress encodes m/z linearly and intensities by SLOF.
#include "run_writer.hpp"

#include <map>
#include <sstream>
#include <stdexcept>

#include <OpenMS/FORMAT/MzMLFile.h>
#include <OpenMS/KERNEL/MSExperiment.h>

namespace testing_support {

namespace {

std::string native_id(const RunSpec& run, const SpectrumSpec& s, std::size_t index) {
  if (run.thermo_ids) return "controllerType=0 controllerNumber=1 scan=" + std::to_string(s.scan);
  return "index=" + std::to_string(index);
}

OpenMS::MSSpectrum spectrum_of(const RunSpec& run, const SpectrumSpec& s, const std::string& id,
                               const std::map<long, std::string>& ids) {
  OpenMS::MSSpectrum out;
  out.setMSLevel(static_cast<OpenMS::UInt>(s.ms_level));
  out.setRT(s.rt_seconds);
  out.setNativeID(id);
  out.setType(s.profile ? OpenMS::SpectrumSettings::PROFILE : OpenMS::SpectrumSettings::CENTROID);
  for (const auto& [mz, intensity] : s.peaks) out.push_back(OpenMS::Peak1D(mz, static_cast<float>(intensity)));
  if (s.precursor_mz) {
    OpenMS::Precursor p;
    p.setMZ(*s.precursor_mz);
    p.setIsolationWindowLowerOffset(s.isolation_lower);
    p.setIsolationWindowUpperOffset(s.isolation_upper);
    if (s.precursor_scan && ids.count(*s.precursor_scan)) p.setMetaValue("spectrum_ref", ids.at(*s.precursor_scan));
    out.getPrecursors().push_back(p);
  }
  if (run.deconvoluted) {
    OpenMS::DataArrays::IntegerDataArray charges;
    charges.setName("charge array");
    charges.assign(s.peaks.size(), 1);
    out.getIntegerDataArrays().push_back(charges);
  }
  return out;
}

OpenMS::PeakFileOptions options_of(const RunSpec& run) {
  OpenMS::PeakFileOptions options;
  options.setMz32Bit(run.bits32);
  options.setIntensity32Bit(run.bits32);
  options.setCompression(run.compression == RunSpec::Compression::zlib);
  if (run.compression == RunSpec::Compression::numpress) {
    OpenMS::MSNumpressCoder::NumpressConfig mz, intensity;
    mz.setCompression("linear");
    intensity.setCompression("slof");
    options.setNumpressConfigurationMassTime(mz);
    options.setNumpressConfigurationIntensity(intensity);
  }
  return options;
}

[[noreturn]] void bad_line(int number, const std::string& line, const std::string& why) {
  throw std::runtime_error("run description line " + std::to_string(number) + " (" + line + "): " + why);
}

void set_option(RunSpec& run, bool& profile, const std::string& item, int number, const std::string& line) {
  const std::size_t eq = item.find('=');
  const std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
  if (key == "compression" && (value == "none" || value == "zlib" || value == "numpress"))
    run.compression = value == "zlib" ? RunSpec::Compression::zlib
                      : value == "numpress" ? RunSpec::Compression::numpress
                                            : RunSpec::Compression::none;
  else if (key == "precision" && (value == "64" || value == "32"))
    run.bits32 = value == "32";
  else if (key == "deconvoluted" && (value == "0" || value == "1"))
    run.deconvoluted = value == "1";
  else if (key == "ids" && (value == "thermo" || value == "index"))
    run.thermo_ids = value == "thermo";
  else if (key == "mode" && (value == "profile" || value == "centroid"))
    profile = value == "profile";
  else
    bad_line(number, line, "unknown option " + item);
}

// The fields of an S line after its first three numbers.
void read_spectrum_tail(std::istringstream& fields, SpectrumSpec& s, int number, const std::string& line) {
  std::vector<std::string> rest;
  for (std::string f; fields >> f;) {
    if (f == "mode=profile" || f == "mode=centroid")
      s.profile = f == "mode=profile";
    else
      rest.push_back(f);
  }
  if (rest.size() != 0 && rest.size() != 2 && rest.size() != 4) bad_line(number, line, "expected 0, 2 or 4 precursor fields");
  try {
    if (rest.size() >= 2) {
      s.precursor_mz = std::stod(rest[0]);
      if (rest[1] != "-") s.precursor_scan = std::stol(rest[1]);
    }
    if (rest.size() == 4) {
      s.isolation_lower = std::stod(rest[2]);
      s.isolation_upper = std::stod(rest[3]);
    }
  } catch (const std::logic_error&) {
    bad_line(number, line, "a precursor field is no number");
  }
}

}  // namespace

void write_run(const std::string& path, const RunSpec& run) {
  std::map<long, std::string> ids;  // scan number -> native id
  for (std::size_t i = 0; i < run.spectra.size(); ++i) ids.emplace(run.spectra[i].scan, native_id(run, run.spectra[i], i));
  OpenMS::PeakMap map;
  for (std::size_t i = 0; i < run.spectra.size(); ++i)
    map.addSpectrum(spectrum_of(run, run.spectra[i], native_id(run, run.spectra[i], i), ids));
  OpenMS::MzMLFile file;
  file.setOptions(options_of(run));
  file.store(path, map);
}

RunSpec parse_run_spec(std::istream& in) {
  RunSpec run;
  bool profile = false, header = true;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream fields(line);
    std::string kind;
    if (!(fields >> kind) || kind[0] == '#') continue;
    if (header && kind.find('=') != std::string::npos) {
      for (std::string item = kind; !item.empty(); item.clear(), fields >> item) set_option(run, profile, item, number, line);
    } else if (kind == "S") {
      SpectrumSpec s;
      s.profile = profile;
      if (!(fields >> s.ms_level >> s.scan >> s.rt_seconds)) bad_line(number, line, "expected <ms level> <scan> <rt>");
      read_spectrum_tail(fields, s, number, line);
      run.spectra.push_back(s);
    } else if (kind == "P") {
      double mz = 0, intensity = 0;
      if (run.spectra.empty()) bad_line(number, line, "a point before any spectrum");
      if (!(fields >> mz >> intensity)) bad_line(number, line, "expected <m/z> <intensity>");
      run.spectra.back().peaks.emplace_back(mz, intensity);
    } else {
      bad_line(number, line, "expected S, P or the options");
    }
    header = false;
  }
  return run;
}

}  // namespace testing_support
