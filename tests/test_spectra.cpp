// The run reader: an index's fields and lookups, the encodings OpenMS
// writes, centroiding, deconvoluted runs, the spectra read_spectra hands
// over, the errors; on small runs written by OpenMS's own writer
// (support/run_writer), and on the public runs of /work/shared/real when
// present.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/spectra/ms_run.hpp"
#include "support/run_writer.hpp"
#include "test_support.hpp"

using namespace isotope;
using testing_support::error_of;
using testing_support::TempDir;

namespace {

const std::string kReal = "/work/shared/real/runs/";
const std::string kThermo = "controllerType=0 controllerNumber=1 scan=";

// The run a description gives, written into dir; its path.
std::string write(const TempDir& dir, const std::string& description, const std::string& name = "run.mzML") {
  std::istringstream in(description);
  const std::string path = dir / name;
  testing_support::write_run(path, testing_support::parse_run_spec(in));
  return path;
}

// A number as text that reads back as the same double.
std::string num(double x) {
  std::ostringstream s;
  s << std::setprecision(17) << x;
  return s.str();
}

struct Visit {
  std::size_t position;
  Centroids peaks;
};

std::vector<Visit> read(const RunIndex& run, const std::vector<std::size_t>& positions) {
  std::vector<Visit> out;
  read_spectra(run, positions, [&](std::size_t p, const Centroids& c) { out.push_back({p, c}); });
  return out;
}

#define SKIP_WITHOUT(path) \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is absent"

}  // namespace

TEST(MsRun, IndexFields) {
  TempDir dir;
  const RunIndex run = read_run_index(write(dir, "ids=thermo\nS 1 5 60\nP 100 1\n"
                                                 "S 2 6 91.5 500.25 5 0.75 1.25\nP 200 1\n"
                                                 "S 2 7 93 600.5 -\nP 300 1\n"));
  ASSERT_EQ(run.spectra.size(), 3u);
  const SpectrumInfo &ms1 = run.spectra[0], &ms2 = run.spectra[1];
  EXPECT_EQ(ms1.ms_level, 1);
  EXPECT_EQ(ms2.ms_level, 2);
  EXPECT_DOUBLE_EQ(ms2.rt_min, 1.525);
  EXPECT_EQ(ms2.native_id, kThermo + "6");
  EXPECT_EQ(ms2.scan, 6);
  EXPECT_EQ(ms2.position, 1u);
  EXPECT_EQ(ms2.precursor_mz, 500.25);
  EXPECT_EQ(ms2.isolation_lower, 0.75);
  EXPECT_EQ(ms2.isolation_upper, 1.25);
  EXPECT_EQ(ms2.precursor_ref, kThermo + "5");
  EXPECT_EQ(run.spectra[2].precursor_ref, "");
  EXPECT_FALSE(ms1.precursor_mz);
  EXPECT_EQ(run.deconvoluted, "");
}

// Native ids "index=K" have no scan number; lookups by id and by one-based number.
TEST(MsRun, Lookups) {
  TempDir dir;
  RunIndex run = read_run_index(write(dir, "ids=index\nS 1 1 1\nS 1 2 2\nS 2 3 3\n"));
  EXPECT_FALSE(run.spectra[0].scan);
  EXPECT_EQ(run.by_native_id("index=2"), 2u);
  EXPECT_EQ(run.by_native_id("index=3"), std::nullopt);
  EXPECT_EQ(run.by_scan(1), std::nullopt);
  EXPECT_EQ(run.by_number(1), 0u);
  EXPECT_EQ(run.by_number(3), 2u);
  EXPECT_EQ(run.by_number(0), std::nullopt);
  EXPECT_EQ(run.by_number(4), std::nullopt);
  run = read_run_index(write(dir, "S 1 10 1\nS 1 11 2\nS 2 12 3\n"));
  EXPECT_EQ(run.by_scan(11), 1u);
  EXPECT_EQ(run.by_scan(12), 2u);
}

// The MS1 the precursor names, not the last one before; without a name,
// the last one before.
TEST(MsRun, PrecursorMs1) {
  TempDir dir;
  const RunIndex run = read_run_index(write(dir, "S 1 1 1\nS 1 2 2\nS 2 3 3 500 1\nS 2 4 4 500 -\n"
                                                 "S 1 5 5\nS 2 6 6 500 -\n"));
  EXPECT_EQ(run.precursor_ms1(2), 0u);
  EXPECT_EQ(run.precursor_ms1(3), 1u);
  EXPECT_EQ(run.precursor_ms1(5), 4u);
  EXPECT_EQ(run.precursor_ms1(0), std::nullopt);
  const RunIndex none = read_run_index(write(dir, "S 2 1 1 500 -\n"));
  EXPECT_EQ(none.precursor_ms1(0), std::nullopt);
}

// MS1 at 1 and 2 minutes, an MS2 between: halfway is a tie, the earlier wins.
TEST(MsRun, Ms1Near) {
  TempDir dir;
  const RunIndex run = read_run_index(write(dir, "S 1 1 60\nS 2 2 90 500 1\nS 1 3 120\nS 2 4 121 500 3\n"));
  EXPECT_EQ(run.ms1_near(1.5), 0u);
  EXPECT_EQ(run.ms1_near(1.5 + 1e-9), 2u);
  EXPECT_EQ(run.ms1_near(1.5 - 1e-9), 0u);
  EXPECT_EQ(run.ms1_near(0.0), 0u);
  EXPECT_EQ(run.ms1_near(2.02), 2u);
  EXPECT_EQ(run.ms1_near(99.0), 2u);
}

// 64-bit arrays read back exactly (the intensities are floats in OpenMS,
// so they are chosen exact in float); 32-bit ones as floats; numpress
// within its precision (linear m/z to about 1e-6, SLOF intensity 1e-3).
TEST(MsRun, Encodings) {
  const std::vector<double> mz = {400.123456789012, 899.987654321098, 1500.000001234567};
  const std::vector<double> intensity = {1000.5, 20.25, 300000.0};
  std::string peaks = "S 1 1 1\n";
  for (std::size_t i = 0; i < mz.size(); ++i) peaks += "P " + num(mz[i]) + " " + num(intensity[i]) + "\n";
  TempDir dir;
  for (const std::string options : {"compression=zlib precision=64", "compression=none precision=32",
                                    "compression=numpress", "compression=zlib precision=32"}) {
    SCOPED_TRACE(options);
    const std::vector<Visit> got = read(read_run_index(write(dir, options + "\n" + peaks)), {0});
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].peaks.mz.size(), mz.size());
    for (std::size_t i = 0; i < mz.size(); ++i) {
      if (options.find("numpress") != std::string::npos) {
        EXPECT_NEAR(got[0].peaks.mz[i], mz[i], 1e-6);
        EXPECT_NEAR(got[0].peaks.intensity[i], intensity[i], 1e-3 * intensity[i]);
      } else if (options.find("32") != std::string::npos) {
        EXPECT_EQ(got[0].peaks.mz[i], static_cast<float>(mz[i]));
        EXPECT_EQ(got[0].peaks.intensity[i], intensity[i]);
      } else {
        EXPECT_EQ(got[0].peaks.mz[i], mz[i]);
        EXPECT_EQ(got[0].peaks.intensity[i], intensity[i]);
      }
    }
  }
}

// A Gaussian profile peak (apex 500.0, sigma 0.005, points every 0.001)
// centroids to one peak at its apex; the zero points around it are none.
TEST(MsRun, ProfileCentroided) {
  std::string text = "mode=profile\nS 1 1 1\n";
  for (int i = -40; i <= 40; ++i) {
    const double x = 500.0 + i * 0.001;
    const double y = std::abs(i) > 30 ? 0.0 : 1e6 * std::exp(-0.5 * std::pow((x - 500.0) / 0.005, 2));
    text += "P " + num(x) + " " + num(y) + "\n";
  }
  TempDir dir;
  const std::vector<Visit> got = read(read_run_index(write(dir, text)), {0});
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].peaks.mz.size(), 1u);
  EXPECT_NEAR(got[0].peaks.mz[0], 500.0, 1e-4);
}

// Zero intensities are no peaks; the others come sorted by m/z.
TEST(MsRun, ZeroIntensitiesDropped) {
  TempDir dir;
  const std::vector<Visit> got =
      read(read_run_index(write(dir, "S 1 1 1\nP 300 5\nP 100 0\nP 200 7\nP 400 0\n")), {0});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].peaks.mz, (std::vector<double>{200, 300}));
  EXPECT_EQ(got[0].peaks.intensity, (std::vector<double>{7, 5}));
}

// A charge array marks the run deconvoluted, also when the first spectrum
// of the run has no peaks.
TEST(MsRun, DeconvolutedFlagged) {
  TempDir dir;
  const std::string spectra = "S 1 1 1\nS 1 2 2\nP 500 10\nS 2 3 3 500 2\nP 200 1\n";
  EXPECT_NE(read_run_index(write(dir, "deconvoluted=1\n" + spectra)).deconvoluted.find("charge array"),
            std::string::npos);
  EXPECT_EQ(read_run_index(write(dir, "deconvoluted=0\n" + spectra)).deconvoluted, "");
}

// Exactly the positions asked, in order, each with its own peaks (m/z 100 +
// its position); MS levels mixed, so that a miscount within a level shows.
TEST(MsRun, ReadSpectraVisitsThePositionsAsked) {
  TempDir dir;
  const RunIndex run = read_run_index(write(dir, "S 1 1 1\nP 100 1\nS 2 2 2 500 1\nP 101 1\nS 1 3 3\nP 102 1\n"
                                                 "S 2 4 4 500 3\nP 103 1\nS 2 5 5 500 3\nP 104 1\n"));
  for (const std::vector<std::size_t>& asked : {std::vector<std::size_t>{1, 2, 4}, {3}, {0, 2}, {}}) {
    const std::vector<Visit> got = read(run, asked);
    ASSERT_EQ(got.size(), asked.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].position, asked[i]);
      EXPECT_EQ(got[i].peaks.mz, std::vector<double>{100.0 + asked[i]});
    }
  }
  EXPECT_NE(error_of([&] { read(run, {2, 1}); }).message().find("increase"), std::string::npos);
  int visits = 0;  // what the visitor throws ends the reading and comes through
  EXPECT_THROW(read_spectra(run, {0, 2}, [&](std::size_t, const Centroids&) { ++visits, throw std::out_of_range("x"); }),
               std::out_of_range);
  EXPECT_EQ(visits, 1);
  EXPECT_NE(error_of([&] { read(run, {5}); }).message().find("beyond"), std::string::npos);
}

TEST(MsRun, Errors) {
  TempDir dir;
  const Error missing = error_of([&] { read_run_index(dir / "none.mzML"); });
  EXPECT_EQ(missing.kind_name(), "FileNotFoundError");
  EXPECT_NE(std::string(missing.what()).find(dir / "none.mzML"), std::string::npos);
  const std::string whole = testing_support::read_file(write(dir, "S 1 1 1\nP 100 1\n"));
  testing_support::write_file(dir / "cut.mzML", whole.substr(0, whole.size() / 2));
  const Error cut = error_of([&] { read_run_index(dir / "cut.mzML"); });
  EXPECT_GT(cut.line(), 0) << cut.what();
  EXPECT_EQ(cut.file(), dir / "cut.mzML");
}

// MetaMorpheus's example run has cvParams without names, which OpenMS 2.6 refuses.
TEST(MsRun, RealRunOpenMSRefuses) {
  const std::string path = kReal + "mm_example/example.mzML";
  SKIP_WITHOUT(path);
  for (int i = 0; i < 2; ++i) {  // the same cause the second time (OpenMS's log would drop it)
    const Error e = error_of([&] { read_run_index(path); });
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(e.message().find("required attribute 'name' not present"), std::string::npos) << e.what();
  }
}

TEST(MsRun, RealRunThermo) {
  const std::string path = kReal + "flashlfq_yeast/SmallCalibratible_Yeast.mzML";
  SKIP_WITHOUT(path);
  const RunIndex run = read_run_index(path);
  std::size_t ms1 = 0, ms2 = 0, refs = 0;
  for (const SpectrumInfo& s : run.spectra) {
    (s.ms_level == 1 ? ms1 : ms2) += 1;
    refs += !s.precursor_ref.empty();
  }
  EXPECT_EQ(ms1, 24u);  // grep -c 'name="ms level" value="1"'
  EXPECT_EQ(ms2, 118u);
  EXPECT_EQ(refs, ms2);
  EXPECT_EQ(run.spectra[1].scan, 2);
  EXPECT_EQ(run.precursor_ms1(1), 0u);
  EXPECT_EQ(run.deconvoluted, "");
}

TEST(MsRun, RealRunGlycReSoftIds) {
  const std::string path = kReal + "glycresoft_agp/AGP_001_29_30.envelope_points.mzML";
  SKIP_WITHOUT(path);
  const RunIndex run = read_run_index(path);
  EXPECT_EQ(run.by_scan(1739784), 0u);
  EXPECT_EQ(run.spectra[1].scan, 1740086);
  EXPECT_EQ(run.deconvoluted, "");
  const std::vector<Visit> got = read(run, {0});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].peaks.mz.size(), 186u);  // defaultArrayLength, all positive
}

TEST(MsRun, RealRunDeconvoluted) {
  const std::string path = kReal + "glycresoft_agp/20150710_3um_AGP_001_29_30.preprocessed.mzML";
  SKIP_WITHOUT(path);
  EXPECT_NE(read_run_index(path).deconvoluted, "");
}
