// Isotope patterns: what reaches OpenMS, what comes back, and what is
// refused before OpenMS could misbehave.
#include <gtest/gtest.h>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/isotope_pattern.hpp"

using namespace isotope;

namespace {

ErrorKind kind_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no error raised";
  return ErrorKind::Index;
}

}  // namespace

TEST(IsotopePattern, LabelledEntriesAreLeftOut) {
  EXPECT_EQ(filter_labelled("C2H6O1"), "C2H6O1");
  EXPECT_EQ(filter_labelled("C8H20C[13]4N1N[15]1O2"), "C8H20N1O2");
  EXPECT_EQ(filter_labelled("C[13]4N[15]1"), "");
  // What the pair reader skips is missing as well: two-letter symbols,
  // negative counts; a repeated key keeps its last count.
  EXPECT_EQ(filter_labelled("C3H5N1O1Se1H-2C4"), "C4H5N1O1");
  // The labelled atoms are not added to the unlabelled element either.
  EXPECT_EQ(calc_iso_dist("C8H20C[13]4N1N[15]1O2"), calc_iso_dist("C8H20N1O2"));
}

TEST(IsotopePattern, IntensitiesAreOpenMSFloatsWidened) {
  // Ethanol with a maximal isotope of 5: the generator's own float values,
  // widened. (Their last bits depend on the order in which OpenMS meets the
  // elements, which follows their addresses: fixed in a normal build, where
  // OpenMS sets its element table up as it loads, different under
  // AddressSanitizer's allocator. Hence no bit-exact value here.)
  std::vector<double> peaks = calc_iso_dist("C2H6O1");
  ASSERT_EQ(peaks.size(), 5u);
  for (double p : peaks) EXPECT_EQ(p, static_cast<double>(static_cast<float>(p)));
  EXPECT_NEAR(peaks[0], 0.9756627, 1e-6);
  EXPECT_NEAR(peaks[1], 0.0221499, 1e-6);
  EXPECT_EQ(calc_iso_dist("C2H6O1", {true, 3}).size(), 3u);
  EXPECT_EQ(calc_iso_dist("C2H6O1", {true, 1}), std::vector<double>{1.0});
  // Not normalised, sorted or trimmed by us: the sum is OpenMS's.
  double sum = 0;
  for (double p : calc_iso_dist("C56H96N10O30", {true, 5})) sum += p;
  EXPECT_LT(sum, 1.0);
  // The empty formula is handed over as it is.
  EXPECT_EQ(calc_iso_dist("C[13]2"), std::vector<double>{1.0});
}

TEST(IsotopePattern, RejectionsAreOurErrors) {
  EXPECT_EQ(kind_of([] { calc_iso_dist("C2H6O1", {true, -1}); }), ErrorKind::Value);
  // Unfiltered, a labelled key reaches OpenMS, which rejects the text.
  EXPECT_EQ(kind_of([] { calc_iso_dist("C2C[13]1", {false, 5}); }), ErrorKind::Value);
  EXPECT_EQ(kind_of([] { calc_iso_dist("Xx2", {false, 5}); }), ErrorKind::Value);
  // Negative counts would make OpenMS's generator fail to allocate.
  EXPECT_EQ(kind_of([] { calc_iso_dist("C2H-2", {false, 5}); }), ErrorKind::Value);
  // Counts beyond OpenMS's integers.
  EXPECT_EQ(kind_of([] { calc_iso_dist("C10000000000"); }), ErrorKind::Value);
  // An unlimited pattern of a huge formula is refused rather than computed
  // for minutes; limited to 5 peaks the same formula is fine.
  EXPECT_EQ(kind_of([] { calc_iso_dist("C1000000", {true, 0}); }), ErrorKind::Value);
  EXPECT_EQ(calc_iso_dist("C1000000", {true, 5}).size(), 5u);
  EXPECT_EQ(calc_iso_dist("C2H6O1", {true, 1000000000}).size(), 17u);
}
