// Writes the inputs of the run benchmark, seeded and the same bytes every
// time: an LC-MS run (mzML through OpenMS's streaming writer, zlib-compressed
// 64-bit arrays) of survey cycles, each an MS1 spectrum followed by MS2
// spectra of its five most intense precursors, and the table of their
// identifications (our format: PepSeq N H F S G Charge MZ Scan), one row per
// MS2 spectrum.
//
// Each row is an N-glycopeptide of a small catalog (tryptic glycopeptides
// of well-known glycoproteins with common glycans, at charges 2 to 5); its
// isotope envelope (the tool's own peaks and intensities, from the core
// library) is placed in the MS1 spectrum of its cycle, with a few ppm of
// m/z error and 1% intensity noise, among random centroids of lower
// intensity. The MS2 spectra hold random fragments.
//
// Usage: make_run OUT.mzML OUT_TABLE [--seed S] [--cycles N] [--ms2 K]
//                 [--ms1-peaks P] [--ms2-peaks Q]
// Both files are written under temporary names and renamed at the end, so
// an interrupted run leaves no file that looks complete.
#include <OpenMS/FORMAT/DATAACCESS/MSDataWritingConsumer.h>
#include <OpenMS/KERNEL/MSSpectrum.h>
#include <OpenMS/METADATA/ExperimentalSettings.h>
#include <OpenMS/METADATA/Precursor.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "isotope/model/composition.hpp"
#include "isotope/model/glycan_vocabulary.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/pattern/envelope.hpp"
#include "isotope/pattern/isotope_pattern.hpp"

namespace {

constexpr int kPeaks = 5;
constexpr double kMs1Low = 400, kMs1High = 2000;

struct Settings {
  std::string mzml, table;
  std::uint64_t seed = 2029;
  long cycles = 20000;
  int ms2 = 5;
  int ms1_peaks = 1000;
  int ms2_peaks = 300;
};

// A catalog entry: a glycopeptide at a charge, with its envelope.
struct Ion {
  std::string pep_seq;
  int counts[5];  // N H F S G
  int charge;
  double mz[kPeaks], theory[kPeaks];
};

// Uniform and normal numbers from mt19937_64's bits alone, so that the
// files are the same with any standard library.
struct Rng {
  std::mt19937_64 bits;
  double uniform() { return static_cast<double>(bits() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(uniform() * static_cast<double>(n)); }
  double normal() {
    const double u = 1.0 - uniform();  // (0, 1]
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * uniform());
  }
  double lognormal(double median, double sigma) { return median * std::exp(sigma * normal()); }
};

// Tryptic N-glycopeptides (cysteines carbamidomethylated) and common
// N-glycans (N H F S G): complex, hybrid and high-mannose.
const char* const kPeptides[] = {
    "EEQYNSTYR", "EEQFNSTFR", "EEQYNSTFR", "EEQFNSTYR", "LC[Carbamidomethyl]PDC[Carbamidomethyl]PLLAPLNDSR",
    "VVHAVEVALATFNAESNGSYLQLVEISR", "QQQHLFGSNVTDC[Carbamidomethyl]SGNFC[Carbamidomethyl]LFR",
    "C[Carbamidomethyl]GLVPVLAENYNK", "LVPVPITNATLDQITGK", "NEEYNK", "ENGTISR", "SVQEIQATFFYFTPNK",
    "NLFLNHSENATAK", "MVSHHNLTTGATLINEQWLLTTAK", "VVLHPNYSQVDIGLIK", "YLGNATAIFFLPDEGK", "YKNNSDISSTR",
    "ENLTAPGSDSAVFFEQGTTR", "EHEGAIYPDNTTDFQR", "SWPAVGNC[Carbamidomethyl]SSALR"};
const int kGlycans[][5] = {
    {4, 3, 1, 0, 0}, {4, 4, 1, 0, 0}, {4, 5, 1, 0, 0}, {4, 5, 1, 1, 0}, {4, 5, 1, 2, 0}, {4, 5, 0, 1, 0},
    {4, 5, 0, 2, 0}, {5, 6, 0, 3, 0}, {5, 6, 1, 3, 0}, {6, 7, 0, 4, 0}, {5, 4, 1, 0, 0}, {3, 6, 0, 0, 0},
    {2, 5, 0, 0, 0}, {2, 6, 0, 0, 0}, {2, 8, 0, 0, 0}, {2, 9, 0, 0, 0}, {4, 5, 0, 1, 1}, {4, 5, 0, 0, 2}};

// The catalog: every peptide with every glycan at charges 2 to 5, kept when
// the whole envelope lies in the MS1 range.
std::vector<Ion> make_catalog() {
  using namespace isotope;
  isotope::prepare_isotope_patterns();
  const RunModel model(ModelTables::reference(), GlycanVocabulary::builtin(), {}, nullptr);
  PatternWorkspace ws;
  PeakPositions positions;
  Envelope env;
  std::string scratch, formula;
  std::vector<Ion> catalog;
  for (const char* pep : kPeptides)
    for (const auto& g : kGlycans) {
      char glycan[64];
      std::snprintf(glycan, sizeof glycan, "N%dH%dF%dS%dG%d", g[0], g[1], g[2], g[3], g[4]);
      const Composition comp = glycopeptide_composition(model, pep, glycan);
      pattern_formula(comp, scratch, formula);
      envelope(formula, EnvelopeRequest{kPeaks, std::nullopt, Normalize::Sum, true}, ws, positions, env);
      for (int z = 2; z <= 5; ++z) {
        Ion ion{pep, {g[0], g[1], g[2], g[3], g[4]}, z, {}, {}};
        for (int k = 0; k < kPeaks; ++k) {
          ion.mz[k] = mz_at(comp.mass() + env.offset[k], z);
          ion.theory[k] = env.intensity[k];
        }
        if (ion.mz[0] >= kMs1Low && ion.mz[kPeaks - 1] <= kMs1High) catalog.push_back(ion);
      }
    }
  return catalog;
}

// `count` distinct catalog entries for one cycle's MS2 spectra.
std::vector<std::size_t> pick_ions(Rng& rng, std::size_t catalog, int count) {
  std::vector<std::size_t> picked;
  while (static_cast<int>(picked.size()) < count) {
    const std::size_t i = rng.below(catalog);
    if (std::find(picked.begin(), picked.end(), i) == picked.end()) picked.push_back(i);
  }
  return picked;
}

std::string native_id(long scan) { return "controllerType=0 controllerNumber=1 scan=" + std::to_string(scan); }

OpenMS::MSSpectrum new_spectrum(long scan, int level, double rt_seconds) {
  OpenMS::MSSpectrum s;
  s.setNativeID(native_id(scan));
  s.setMSLevel(static_cast<OpenMS::UInt>(level));
  s.setRT(rt_seconds);
  s.setType(OpenMS::SpectrumSettings::CENTROID);
  return s;
}

// An MS1 spectrum: random centroids, and each picked ion's envelope with a
// common m/z error (2 ppm sd) plus 0.5 ppm per peak, 1% intensity noise.
// The observed monoisotopic m/z of each ion goes to observed.
OpenMS::MSSpectrum ms1_spectrum(Rng& rng, const Settings& st, long scan, double rt,
                                const std::vector<Ion>& catalog, const std::vector<std::size_t>& picked,
                                std::vector<double>& observed) {
  OpenMS::MSSpectrum s = new_spectrum(scan, 1, rt);
  s.reserve(static_cast<std::size_t>(st.ms1_peaks) + picked.size() * kPeaks);
  for (int i = 0; i < st.ms1_peaks; ++i)
    s.emplace_back(rng.uniform(kMs1Low, kMs1High), static_cast<float>(rng.lognormal(2e4, 1.0)));
  observed.clear();
  for (std::size_t i : picked) {
    const Ion& ion = catalog[i];
    const double shift = 2e-6 * rng.normal(), abundance = rng.lognormal(3e6, 0.7);
    for (int k = 0; k < kPeaks; ++k) {
      const double mz = ion.mz[k] * (1 + shift + 0.5e-6 * rng.normal());
      if (k == 0) observed.push_back(mz);
      s.emplace_back(mz, static_cast<float>(ion.theory[k] * abundance * (1 + 0.01 * rng.normal())));
    }
  }
  s.sortByPosition();
  return s;
}

// An MS2 spectrum of an ion: random fragments below the precursor's
// singly charged mass, its precursor with a 1.0/1.0 isolation window and
// a reference to its MS1 spectrum.
OpenMS::MSSpectrum ms2_spectrum(Rng& rng, const Settings& st, long scan, double rt, const Ion& ion,
                                double precursor_mz, long ms1_scan) {
  OpenMS::MSSpectrum s = new_spectrum(scan, 2, rt);
  const double top = std::min(2000.0, precursor_mz * ion.charge);
  s.reserve(static_cast<std::size_t>(st.ms2_peaks));
  for (int i = 0; i < st.ms2_peaks; ++i)
    s.emplace_back(rng.uniform(120.0, top), static_cast<float>(rng.lognormal(5e3, 1.0)));
  s.sortByPosition();
  OpenMS::Precursor p;
  p.setMZ(precursor_mz);
  p.setCharge(ion.charge);
  p.setIsolationWindowLowerOffset(1.0);
  p.setIsolationWindowUpperOffset(1.0);
  p.setActivationMethods({OpenMS::Precursor::HCID});
  p.setMetaValue("spectrum_ref", native_id(ms1_scan));
  s.setPrecursors({p});
  return s;
}

void write_row(std::ofstream& table, const Ion& ion, double mz, long scan) {
  char line[512];
  std::snprintf(line, sizeof line, "%s\t%d\t%d\t%d\t%d\t%d\t%d\t%.6f\t%ld\n", ion.pep_seq.c_str(), ion.counts[0],
                ion.counts[1], ion.counts[2], ion.counts[3], ion.counts[4], ion.charge, mz, scan);
  table << line;
}

void write_run(const Settings& st, const std::string& mzml, const std::string& table_path) {
  const std::vector<Ion> catalog = make_catalog();
  Rng rng{std::mt19937_64(st.seed)};
  OpenMS::PlainMSDataWritingConsumer out(mzml);
  out.getOptions().setCompression(true);
  out.getOptions().setMz32Bit(false);
  out.getOptions().setIntensity32Bit(false);
  out.setExpectedSize(static_cast<OpenMS::Size>(st.cycles * (1 + st.ms2)), 0);
  out.setExperimentalSettings(OpenMS::ExperimentalSettings());
  std::ofstream table(table_path, std::ios::binary);
  table << "PepSeq\tN\tH\tF\tS\tG\tCharge\tMZ\tScan\n";
  const double spacing = 0.06;  // seconds between spectra
  std::vector<double> observed;
  long scan = 0;
  for (long c = 0; c < st.cycles; ++c) {
    const std::vector<std::size_t> picked = pick_ions(rng, catalog.size(), st.ms2);
    const long ms1_scan = ++scan;
    OpenMS::MSSpectrum ms1 = ms1_spectrum(rng, st, ms1_scan, 1.0 + spacing * static_cast<double>(scan - 1),
                                          catalog, picked, observed);
    out.consumeSpectrum(ms1);
    for (std::size_t j = 0; j < picked.size(); ++j) {
      ++scan;
      const Ion& ion = catalog[picked[j]];
      OpenMS::MSSpectrum ms2 = ms2_spectrum(rng, st, scan, 1.0 + spacing * static_cast<double>(scan - 1), ion,
                                            observed[j], ms1_scan);
      out.consumeSpectrum(ms2);
      write_row(table, ion, observed[j], scan);
    }
  }
  table.close();
  if (!table) throw std::runtime_error("cannot write " + table_path);
}

long number(const char* text, const char* option) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (*end != '\0' || n <= 0) throw std::runtime_error(std::string(option) + ": not a positive number: " + text);
  return n;
}

Settings parse(int argc, char** argv) {
  Settings st;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      files.push_back(a);
      continue;
    }
    if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
    const long n = number(argv[++i], a.c_str());
    if (a == "--seed") st.seed = static_cast<std::uint64_t>(n);
    else if (a == "--cycles") st.cycles = n;
    else if (a == "--ms2") st.ms2 = static_cast<int>(n);
    else if (a == "--ms1-peaks") st.ms1_peaks = static_cast<int>(n);
    else if (a == "--ms2-peaks") st.ms2_peaks = static_cast<int>(n);
    else throw std::runtime_error("unknown option " + a);
  }
  if (files.size() != 2) throw std::runtime_error("usage: make_run OUT.mzML OUT_TABLE [--seed S] [--cycles N] "
                                                  "[--ms2 K] [--ms1-peaks P] [--ms2-peaks Q]");
  st.mzml = files[0];
  st.table = files[1];
  return st;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Settings st = parse(argc, argv);
    const std::string mzml_tmp = st.mzml + ".part", table_tmp = st.table + ".part";
    write_run(st, mzml_tmp, table_tmp);  // the writer closes its file when it goes
    std::filesystem::rename(table_tmp, st.table);
    std::filesystem::rename(mzml_tmp, st.mzml);
    std::cout << "wrote " << st.mzml << " (" << std::filesystem::file_size(st.mzml) << " bytes, "
              << st.cycles * (1 + st.ms2) << " spectra) and " << st.table << " (" << st.cycles * st.ms2
              << " rows)\n";
  } catch (const std::exception& e) {
    std::cerr << "make_run: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
