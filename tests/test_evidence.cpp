// Envelope matching in a spectrum's centroids, and the spectrum titles
// engines name runs and scans with. Expected values are fixed (computed
// with numpy).
#include <gtest/gtest.h>

#include "isotope/formats/engine_format.hpp"
#include "isotope/run/ms1_quantities.hpp"
#include "isotope/spectra/envelope_match.hpp"

using namespace isotope;

namespace {

Centroids centroids(std::vector<double> mz, std::vector<double> intensity) { return {std::move(mz), std::move(intensity)}; }

}  // namespace

TEST(EnvelopeMatch, TakesTheMostIntenseCentroidWithinTheTolerance) {
  // 10 ppm of 1000 is 0.01: 999.985 and 1000.0105 lie outside.
  const Centroids c = centroids({999.985, 999.995, 1000.0, 1000.005, 1000.0105}, {500, 5, 100, 50, 900});
  EXPECT_EQ(most_intense_within(c, 1000.0, 10), std::optional<std::size_t>(2));
  EXPECT_EQ(most_intense_within(c, 1000.02, 10), std::optional<std::size_t>(4));
  EXPECT_EQ(most_intense_within(c, 1001.0, 10), std::nullopt);
  EXPECT_EQ(most_intense_within(centroids({}, {}), 1000.0, 10), std::nullopt);
}

TEST(EnvelopeMatch, IntensitiesCosineAndWeightedPpm) {
  const Centroids c = centroids({999.0, 1000.0, 1000.005, 1001.0035, 1002.007, 1003.11}, {7, 100, 50, 55, 25, 40});
  const std::vector<double> mz = {1000.0, 1001.0033, 1002.0066, 1003.0099};
  const std::vector<double> theory = {1.0, 0.6, 0.2, 0.0};
  EnvelopeMatch m = match_envelope(c, mz, theory, 1.0033, 10, 0.05);
  EXPECT_EQ(m.intensities, (std::vector<double>{100, 55, 25, 0}));  // 1003.01 lies 100 ppm away
  EXPECT_EQ(m.found, 3u);
  EXPECT_EQ(m.claimed[0], std::optional<std::size_t>(1));
  EXPECT_DOUBLE_EQ(*m.cosine, 0.9982716618396144);
  EXPECT_DOUBLE_EQ(*m.ppm, 0.11649416081337398);
  EXPECT_EQ(m.offset, 0);
  // Nothing found: no cosine, ppm or offset.
  m = match_envelope(centroids({500.0}, {1}), mz, theory, 1.0033, 10, 0.05);
  EXPECT_EQ(m.found, 0u);
  EXPECT_FALSE(m.cosine || m.ppm || m.offset);
}

TEST(EnvelopeMatch, OffsetComparesShiftedCosinesWithAMargin) {
  // A heavy envelope whose true first peak lies one spacing below the
  // reported one: unshifted cosine 0.929, shifted down 1.0.
  const double s = 0.5;  // charge 2
  const Centroids c = centroids({999.5, 1000.0, 1000.5, 1001.0}, {100, 90, 50, 5});
  const std::vector<double> mz = {1000.0, 1000.5, 1001.0};
  const std::vector<double> theory = {1.0, 0.9, 0.5};
  EnvelopeMatch m = match_envelope(c, mz, theory, s, 10, 0.05);
  EXPECT_DOUBLE_EQ(*m.cosine, 0.9294041740756619);
  EXPECT_EQ(m.intensities, (std::vector<double>{90, 50, 5}));
  EXPECT_EQ(m.offset, -1);
  EXPECT_EQ(match_envelope(c, mz, theory, s, 10, 0.08).offset, 0);  // the margin is not beaten
  // An envelope reported one peak low: the shift up wins.
  const Centroids low = centroids({1000.5, 1001.0, 1001.5}, {100, 90, 50});
  EXPECT_EQ(match_envelope(low, mz, theory, s, 10, 0.05).offset, 1);
}

TEST(SpectrumTitle, RunAndScanOfATitle) {
  const auto t = spectrum_title("20190515_DIA.rep1.00123.00123.3");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->run, "20190515_DIA.rep1");
  EXPECT_EQ(t->scan, 123);
  EXPECT_FALSE(spectrum_title("run.123.123"));      // no charge
  EXPECT_FALSE(spectrum_title(".1.1.2"));           // no run
  EXPECT_FALSE(spectrum_title("run.12a.12.2"));
  EXPECT_FALSE(spectrum_title("controllerType=0 controllerNumber=1 scan=5"));
}

TEST(RunQuantities, WindowsAreasApexesAndSharedCentroids) {
  // MS1 spectra at 1.0, 1.1, 1.2 and 1.3 min (positions 0, 2, 3, 4), an MS2 at position 1.
  std::vector<SpectrumInfo> spectra(5);
  const double rts[] = {1.0, 1.05, 1.1, 1.2, 1.3};
  for (std::size_t k = 0; k < 5; ++k) {
    spectra[k].position = k;
    spectra[k].ms_level = k == 1 ? 2 : 1;
    spectra[k].rt_min = rts[k];
  }
  const RunIndex index = make_run_index("run.mzML", spectra);
  RunQuantities q(index, 0.15, 10);
  const std::vector<double> a = {500.0, 500.5}, b = {500.5, 501.0};
  q.add_row(0, a, 1.1);  // window 0.95-1.25: 1.0, 1.1, 1.2
  q.add_row(1, a, 1.3);  // 1.15-1.45: 1.2, 1.3 (the run's end)
  q.add_row(2, b, 1.1);
  EXPECT_EQ(q.close(), (std::vector<std::size_t>{0, 2, 3, 4}));
  const Centroids at_1_1 = centroids({500.0, 500.5, 501.0}, {30, 40, 5});
  q.visit(0, centroids({500.0, 500.5}, {10, 20}));
  q.visit(2, at_1_1);
  q.visit(3, centroids({500.0, 500.5}, {20, 10}));
  q.visit(4, centroids({}, {}));
  // Summed: 30, 70, 30 then 0.
  EXPECT_NEAR(q.area(0)->area, 0.1 * (30 + 70) / 2 + 0.1 * (70 + 30) / 2, 1e-9);
  EXPECT_EQ(q.area(0)->apex_rt, 1.1);
  EXPECT_NEAR(q.area(1)->area, 0.1 * 30 / 2, 1e-9);
  EXPECT_EQ(q.area(1)->apex_rt, 1.2);
  EXPECT_FALSE(q.area(7));
  // Row 0's centroid at 500.5 is b's first peak too.
  std::string note;
  const EnvelopeMatch m = match_envelope(at_1_1, a, std::vector<double>{1, 1}, 0.5, 10, 0.05);
  EXPECT_EQ(q.overlaps(0, at_1_1, m, note), 1u);
  EXPECT_NE(note.find("m/z 500.5 with the envelope whose first peak is at m/z 500.5"), std::string::npos);
}
