// Peak positions and true probabilities, and the fine structure, against
// IsoSpec given OpenMS's own element data (fine_structure_reference.py reads
// Elements.xml): H C N O S compositions from a small peptide to a 10 kDa
// glycopeptide.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/pattern/fine_structure.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/pattern/peak_positions.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::Outcome;
using testing_support::run;

namespace {

const std::string kElements = std::string(ISOTOPE_OPENMS_SHARE) + "/CHEMISTRY/Elements.xml";
const std::string kScript = std::string(ISOTOPE_TEST_DATA) + "/../fine_structure_reference.py";

// The script's lines, split into fields, per formula.
std::map<std::string, std::vector<std::vector<double>>> isospec(const std::vector<std::string>& formulas,
                                                                const std::string& fine = {}, bool own = false) {
  std::vector<std::string> argv = {ISOTOPE_PYTHON3, kScript, "--elements", kElements};
  if (own) argv.push_back("--own");
  if (!fine.empty()) {
    argv.push_back("--fine");
    argv.push_back(fine);
  }
  argv.insert(argv.end(), formulas.begin(), formulas.end());
  Outcome o = run(argv);
  EXPECT_EQ(o.status, 0) << "IsoSpec (python3-isospec) failed: " << o.err;
  std::map<std::string, std::vector<std::vector<double>>> rows;
  std::istringstream lines(o.out);
  std::string formula;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    fields >> formula;
    std::vector<double> values;
    for (double v; fields >> v;) values.push_back(v);
    rows[formula].push_back(values);
  }
  return rows;
}

// From a dipeptide to a 10 kDa glycopeptide, with and without sulfur.
const std::vector<std::string> kFormulas = {"C11H22N2O4S1", "C50H73N13O13S1", "C106H164N18O59",
                                            "C200H320N40O110S2", "C330H530N50O200S3", "C400H650N60O220S4",
                                            "C440H700N110O150S10"};

}  // namespace

TEST(PeakPositions, AgreeWithIsoSpecFineStructureBinnedByNeutrons) {
  auto bins = isospec(kFormulas);
  PatternWorkspace ws;
  PeakPositions ours;
  for (const std::string& f : kFormulas) {
    const auto& rows = bins[f];  // k, probability, mean mass
    ASSERT_GT(rows.size(), 3u) << f;
    peak_positions(f, static_cast<std::int64_t>(rows.size()), ws, ours);
    const double mass0 = rows[0][2];
    for (const auto& row : rows) {
      const auto k = static_cast<std::size_t>(row[0]);
      // IsoSpec stops at 1 - 1e-7 of the probability: each bin may miss that.
      EXPECT_NEAR(ours.probability[k], row[1], 2e-7) << f << " peak " << k;
      // Positions within 0.1 mDa where the peak holds 1e-5 of the whole.
      if (row[1] >= 1e-5) {
        EXPECT_NEAR(ours.offset[k], row[2] - mass0, 1e-4) << f << " peak " << k;
      }
    }
  }
}

// The adducts' metals: OpenMS's potassium isotopes (39, 40, 41), which the
// pattern and the peak positions read, against IsoSpec's own isotope
// table; the K and Na masses of the model are IsoSpec's lightest isotopes;
// a glycopeptide with potassium gets IsoSpec's peaks (from OpenMS's data)
// and the kernel's coarse pattern is OpenMS's.
TEST(PeakPositions, PotassiumAndSodiumAgreeWithIsoSpec) {
  auto own = isospec({"K1", "K3", "Na1"}, {}, true);
  PatternWorkspace ws;
  PeakPositions ours;
  for (const std::string f : {"K1", "K3"}) {
    peak_positions(f, static_cast<std::int64_t>(own[f].size()), ws, ours);
    for (const auto& row : own[f]) {
      const auto k = static_cast<std::size_t>(row[0]);
      EXPECT_NEAR(ours.probability[k], row[1], 3e-6) << f << " peak " << k;  // abundances 5e-7 apart per atom
      EXPECT_NEAR(ours.offset[k], row[2] - own[f][0][2], 1e-5) << f << " peak " << k;
    }
  }
  EXPECT_NEAR(element_mass("K"), own["K1"][0][2], 1e-6);
  EXPECT_NEAR(element_mass("Na"), own["Na1"][0][2], 1e-6);
  const std::string gp = "C106H163N18O59K1";
  auto bins = isospec({gp});
  const auto& rows = bins[gp];
  peak_positions(gp, static_cast<std::int64_t>(rows.size()), ws, ours);
  for (const auto& row : rows) EXPECT_NEAR(ours.probability[static_cast<std::size_t>(row[0])], row[1], 2e-7) << row[0];
  EXPECT_EQ(calc_iso_dist(gp, {true, 5}), openms_coarse_pattern(gp, 5));
}

TEST(PeakPositions, CoverageCountsPeaksAsIsoSpecSumsThem) {
  auto bins = isospec(kFormulas);
  PatternWorkspace ws;
  for (const std::string& f : kFormulas) {
    for (double c : {0.5, 0.9, 0.99, 0.999, 0.99999}) {
      double sum = 0;
      std::int64_t expected = 0;
      for (const auto& row : bins[f]) {
        sum += row[1];
        if (sum >= c) {
          expected = static_cast<std::int64_t>(row[0]) + 1;
          break;
        }
      }
      EXPECT_EQ(peaks_covering(f, c, ws), expected) << f << " coverage " << c;
    }
  }
  // Coverage 1: every neutron count an isotopologue can have. H counts one
  // (its 3H has no abundance), C N one, O two, S four (36S).
  EXPECT_EQ(peaks_covering("C106H164N18O59", 1.0, ws), 106 + 164 + 18 + 2 * 59 + 1);
  EXPECT_EQ(peaks_covering("C11H22N2O4S1", 1.0, ws), 11 + 22 + 2 + 2 * 4 + 4 + 1);
  EXPECT_EQ(peaks_covering("", 1.0, ws), 1);
  EXPECT_EQ(peaks_covering("", 0.5, ws), 1);
  PeakPositions all;
  peak_positions("C11H22N2O4S1", 49, ws, all);
  EXPECT_GT(all.probability[47], 0.0);
  EXPECT_EQ(all.probability[48], 0.0);  // beyond the heaviest isotopologue
  EXPECT_TRUE(std::isnan(all.offset[48]));
  // V's lightest isotope is rare: peaks far below V135's bulk fall under the
  // smallest normal double and count as absent (a fuzzed formula).
  peak_positions("B10V135O618", 12, ws, all);
  EXPECT_EQ(all.probability[9], 0.0);
  EXPECT_TRUE(std::isnan(all.offset[9]));
}

TEST(PeakPositions, RefusalsAreValueErrors) {
  PatternWorkspace ws;
  PeakPositions out;
  auto kind = [](auto f) {
    try {
      f();
    } catch (const Error& e) {
      return e.kind();
    }
    return ErrorKind::Index;  // nothing thrown
  };
  for (double c : {0.0, -0.1, 1.0000001, std::nan("")})
    EXPECT_EQ(kind([&] { peaks_covering("C6H12O6", c, ws); }), ErrorKind::Value) << c;
  EXPECT_EQ(kind([&] { peak_positions("C6H12O6", kMaxIsotopePeaks + 1, ws, out); }), ErrorKind::Value);
  EXPECT_EQ(kind([&] { peak_positions("C6H12O6", -1, ws, out); }), ErrorKind::Value);
  for (const char* f : {"X5", "Se1", "C", "C6 H12", "c6"})
    EXPECT_EQ(kind([&] { peak_positions(f, 3, ws, out); }), ErrorKind::Value) << f;
  // Coverage 1 of a formula spanning more than kMaxIsotopePeaks neutrons.
  EXPECT_EQ(kind([&] { peaks_covering("C200000", 1.0, ws); }), ErrorKind::Value);
  // ... or whose bulk lies beyond that many neutrons (about 10^7 here).
  EXPECT_EQ(kind([&] { peaks_covering("C999999999", 0.5, ws); }), ErrorKind::Value);
}

TEST(PeakPositions, CompositionsLeaveLabelsOutOfThePatternButNotTheMass) {
  // A TMT-like label: C[13]4 N[15]1 count in the mass only.
  Composition comp{{"C", 100}, {"H", 160}, {"C[13]", 4}, {"N", 17}, {"N[15]", 1}, {"O", 50}};
  PatternWorkspace ws;
  IsotopePeaks peaks;
  isotope_peaks(comp, 6, ws, peaks);
  auto bins = isospec({"C100H160N17O50"});
  ASSERT_EQ(peaks.mass.size(), 6u);
  // 100 x 12 + 160 x 1.00782503207 + 4 x 13.0033548378 + 17 x 14.0030740048
  // + 15.0001088982 + 50 x 15.99491461956: the published isotope masses.
  EXPECT_NEAR(peaks.mass[0], 2466.0635224402, 1e-9);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_NEAR(peaks.probability[k], bins["C100H160N17O50"][k][1], 2e-7);
    EXPECT_NEAR(peaks.mass[k] - peaks.mass[0], bins["C100H160N17O50"][k][2] - bins["C100H160N17O50"][0][2], 1e-4);
  }
  EXPECT_EQ(peaks_covering(comp, 1.0, ws), 100 + 160 + 17 + 2 * 50 + 1);
  // The pattern formula is calc_iso_dist's reading of the composition's text:
  // a capital letter, or one with a bracketed label, then digits; labelled
  // pairs left out. "Se1H-2C3HC2" gives C3 and C2, and C takes the last count.
  std::string scratch, formula;
  const std::pair<Composition, std::string> cases[] = {
      {comp, "C100H160N17O50"},
      {Composition{{"Se", 1}, {"H", -2}, {"C", 3}, {"HC", 2}}, "C2"},
      {Composition{{"C[13]", 2}}, ""},
      {Composition{{"X[1", 2}, {"O", 1}}, "O1"},
      {Composition{}, ""}};
  for (const auto& [c, expected] : cases) {
    pattern_formula(c, scratch, formula);
    EXPECT_EQ(formula, expected) << comp_to_str(c);
  }
}

TEST(FineStructure, AgreesWithIsoSpec) {
  const std::vector<std::string> formulas = {"C2H6O1", "C50H73N13O13S1"};
  for (const char* threshold : {"0.001", "0.01"}) {
    auto rows = isospec(formulas, threshold);
    for (const std::string& f : formulas) {
      FinePeaks fine = fine_isotope_peaks(f, std::stod(threshold));
      ASSERT_EQ(fine.mass.size(), rows[f].size()) << f << " " << threshold;
      for (std::size_t i = 0; i < fine.mass.size(); ++i) {
        if (i > 0) {
          EXPECT_LT(fine.mass[i - 1], fine.mass[i]);
        }
        EXPECT_NEAR(fine.mass[i], rows[f][i][0], 1e-6) << f;
        EXPECT_NEAR(fine.intensity[i], rows[f][i][1], 1e-6 * rows[f][i][1]) << f;  // OpenMS's floats
      }
    }
  }
  // Labels are OpenMS's isotope elements: every peak moves by their mass
  // (13C: 13.003355 Da in OpenMS's Elements.xml) and no peak is added.
  FinePeaks plain = fine_isotope_peaks("C2H6O1", 1e-3);
  FinePeaks labelled = fine_isotope_peaks(Composition{{"C", 2}, {"C[13]", 2}, {"H", 6}, {"O", 1}}, 1e-3);
  ASSERT_EQ(labelled.mass.size(), plain.mass.size());
  for (std::size_t i = 0; i < plain.mass.size(); ++i) {
    EXPECT_NEAR(labelled.mass[i] - plain.mass[i], 2 * 13.003355, 1e-9);
    EXPECT_EQ(labelled.intensity[i], plain.intensity[i]);
  }
  FinePeaks none = fine_isotope_peaks("C0", 0.01);
  EXPECT_EQ(none.mass, std::vector<double>{0.0});
  EXPECT_EQ(none.intensity, std::vector<double>{1.0});
  EXPECT_THROW(fine_isotope_peaks("C2H6O1", 0.0), Error);
  EXPECT_THROW(fine_isotope_peaks("C2H-6", 0.01), Error);
  EXPECT_THROW(fine_isotope_peaks(Composition{{"C[99]", 1}}, 0.01), Error);
}
