// The coarse kernel against OpenMS itself, bit for bit, on a million random
// formulas (fewer under the sanitizers: ISOTOPE_KERNEL_CASES, or the
// environment variable of that name), and the line between what the kernel
// computes and what it leaves to OpenMS.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/pattern/coarse_kernel.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/pattern/peak_positions.hpp"

#ifndef ISOTOPE_KERNEL_CASES
#define ISOTOPE_KERNEL_CASES 1000000
#endif

using namespace isotope;

// Heap allocations of this binary are counted while a thread asks for it.
namespace {
thread_local bool counting_allocations = false;
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (counting_allocations) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (counting_allocations) ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}
// (GCC sees std::allocator's new beside this free once inlined.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The one-letter symbols OpenMS accepts in a formula, asked of OpenMS.
std::string openms_letters() {
  std::string letters;
  for (char c = 'A'; c <= 'Z'; ++c) {
    try {
      openms_coarse_pattern(std::string(1, c) + "1", 5);
      letters += c;
    } catch (const Error&) {
    }
  }
  return letters;
}

struct Case {
  std::string formula;
  std::int64_t N;
};

// Random formulas of the kinds the pipeline and its users give: glycopeptides
// (C up to 600, H 1000, O 500, N 60, S 10, P 5) with N 1..20; any element
// OpenMS knows with N 0..20; sulfur-rich formulas (S has a hole at mass 35);
// counts up to 999999999; zero counts; N = 1.
class CaseMaker {
 public:
  CaseMaker(std::string letters, std::uint64_t seed) : letters_(std::move(letters)), rng_(seed) {}

  Case next() {
    Case c;
    const std::uint64_t kind = pick(100);
    if (kind < 60) {
      c.formula = glycopeptide();
      c.N = 1 + static_cast<std::int64_t>(pick(20));
    } else if (kind < 65) {
      c.formula = glycopeptide();
      c.N = 1;
    } else if (kind < 80) {
      c.formula = any_elements(1 + pick(4), 301);
      c.N = 1 + static_cast<std::int64_t>(pick(20));
    } else if (kind < 88) {
      c.formula = any_elements(1 + pick(3), 31);
      c.N = static_cast<std::int64_t>(pick(21));  // N = 0 included: no cap
    } else if (kind < 95) {
      add(c.formula, 'S', pick(60));
      add(c.formula, 'C', pick(200));
      add(c.formula, 'H', pick(300));
      c.N = static_cast<std::int64_t>(pick(21));
    } else {
      c.formula = any_elements(1 + pick(3), 1000000000);
      c.N = 1 + static_cast<std::int64_t>(pick(20));
    }
    return c;
  }

 private:
  std::uint64_t pick(std::uint64_t n) { return rng_() % n; }

  static void add(std::string& f, char element, std::uint64_t n) {
    f += element;
    f += std::to_string(n);
  }

  std::string glycopeptide() {
    std::string order = "CHNOSP";
    std::shuffle(order.begin(), order.end(), rng_);
    std::string f;
    for (char e : order) {
      if ((e == 'S' || e == 'P') && pick(3) == 0) continue;
      switch (e) {
        case 'C': add(f, e, 20 + pick(581)); break;
        case 'H': add(f, e, 30 + pick(971)); break;
        case 'N': add(f, e, 1 + pick(60)); break;
        case 'O': add(f, e, 5 + pick(496)); break;
        case 'S': add(f, e, pick(11)); break;
        default: add(f, e, pick(6)); break;
      }
    }
    return f;
  }

  std::string any_elements(std::uint64_t n, std::uint64_t below) {
    std::string f, used;
    for (std::uint64_t i = 0; i < n; ++i) {
      char e = letters_[pick(letters_.size())];
      if (used.find(e) != std::string::npos) continue;
      used += e;
      add(f, e, pick(8) == 0 ? 0 : pick(below));
    }
    return f;
  }

  std::string letters_;
  std::mt19937_64 rng_;
};

std::int64_t case_count() {
  if (const char* env = std::getenv("ISOTOPE_KERNEL_CASES")) return std::atoll(env);
  return ISOTOPE_KERNEL_CASES;
}

}  // namespace

TEST(CoarseKernel, MatchesOpenMSBitForBitOnRandomFormulas) {
  const std::string letters = openms_letters();
  // H C N O P S and the other one-letter elements.
  for (char e : std::string("CHNOPS")) ASSERT_NE(letters.find(e), std::string::npos) << e;
  CaseMaker maker(letters, 20261208);
  PatternWorkspace ws;
  std::vector<double> kernel;
  const std::int64_t cases = case_count();
  std::int64_t failures = 0;
  for (std::int64_t i = 0; i < cases && failures < 5; ++i) {
    const Case c = maker.next();
    if (!kernel_coarse_pattern(c.formula, c.N, ws, kernel)) {
      ADD_FAILURE() << "the kernel leaves " << c.formula << " N=" << c.N << " to OpenMS";
      ++failures;
      continue;
    }
    const std::vector<double> openms = openms_coarse_pattern(c.formula, c.N);
    if (!same_bits(kernel, openms)) {
      ADD_FAILURE() << c.formula << " N=" << c.N << ": kernel and OpenMS differ (" << kernel.size() << " and "
                    << openms.size() << " peaks)";
      ++failures;
    }
  }
}

TEST(CoarseKernel, EdgesMatchOpenMS) {
  PatternWorkspace ws;
  std::vector<double> kernel;
  // The empty formula and all-zero counts: one peak of 1. N = 1: one peak.
  // Sulfur alone shows the hole at mass 35; the largest counts covered;
  // H keeps its 3H of zero abundance in the pattern (peaks of 0 at the end).
  for (const char* formula : {"", "C0H0", "S1", "S2", "S3", "S7", "H2", "W3Y2I1", "C100S5"}) {
    for (std::int64_t N : {0, 1, 2, 3, 5, 20, 100, 1000}) {
      ASSERT_TRUE(kernel_coarse_pattern(formula, N, ws, kernel)) << formula << " N=" << N;
      EXPECT_TRUE(same_bits(kernel, openms_coarse_pattern(formula, N))) << formula << " N=" << N;
    }
  }
  for (const char* formula : {"C999999999", "H999999999S999999999"}) {
    for (std::int64_t N : {1, 2, 5, 20, 1000}) {
      ASSERT_TRUE(kernel_coarse_pattern(formula, N, ws, kernel)) << formula << " N=" << N;
      EXPECT_TRUE(same_bits(kernel, openms_coarse_pattern(formula, N))) << formula << " N=" << N;
    }
  }
  EXPECT_TRUE(same_bits(calc_iso_dist(""), std::vector<double>{1.0}));
  EXPECT_TRUE(same_bits(calc_iso_dist("H2", {false, 5}), openms_coarse_pattern("H2", 5)));
}

TEST(CoarseKernel, LeavesOtherFormulasToOpenMS) {
  PatternWorkspace ws;
  std::vector<double> out{42.0};
  // Two-letter and unknown symbols, repeats, signs, missing counts, leading
  // zeros, ten digits, labels, blanks, a negative N, a pattern too large.
  for (const char* formula : {"Se1", "X1", "C1C2", "C-1", "C", "C01", "C1000000000", "C[13]1", "(13)C1", "C1 ",
                              "c1", "C1H", "\xc3\x89" "1"}) {
    EXPECT_FALSE(kernel_coarse_pattern(formula, 5, ws, out)) << formula;
  }
  EXPECT_FALSE(kernel_coarse_pattern("C2", -1, ws, out));
  EXPECT_FALSE(kernel_coarse_pattern("C1000000", 0, ws, out));
  EXPECT_EQ(out, std::vector<double>{42.0});
  // coarse_pattern gives them OpenMS's answer or OpenMS's error.
  coarse_pattern("C1C2", 5, ws, out);
  EXPECT_TRUE(same_bits(out, openms_coarse_pattern("C3", 5)));
  EXPECT_THROW(coarse_pattern("X1", 5, ws, out), Error);
  EXPECT_THROW(coarse_pattern("C1000000", 0, ws, out), Error);
}

TEST(CoarseKernel, CountsLongerThanItCoversGoToOpenMS) {
  // A count of 19 or more digits does not fit in 64 bits: the kernel stops
  // reading it at its tenth digit (fuzz_kernel, under the sanitizers).
  PatternWorkspace ws;
  std::vector<double> out{42.0};
  const std::string digits38(38, '4');
  for (const std::string& formula : std::vector<std::string>{"S" + digits38, "C2S" + digits38 + "H1",
                                                             "H99999999999999999999", "S" + digits38 + "can \xdf"}) {
    EXPECT_FALSE(kernel_coarse_pattern(formula, 5, ws, out)) << formula;
    EXPECT_THROW(calc_iso_dist(formula), Error) << formula;
  }
  EXPECT_EQ(out, std::vector<double>{42.0});
}

TEST(CoarseKernel, ThreadsWithTheirOwnWorkspacesAgree) {
  // The same formulas on four threads at once, each with its workspace (and
  // calc_iso_dist's own per thread), give OpenMS's bits.
  CaseMaker maker("CHNOPS", 7);
  std::vector<Case> cases;
  for (int i = 0; i < 400; ++i) cases.push_back(maker.next());
  std::vector<std::vector<double>> expected;
  for (const Case& c : cases) expected.push_back(openms_coarse_pattern(c.formula, c.N));
  prepare_isotope_patterns();
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      PatternWorkspace ws;
      std::vector<double> out;
      for (int round = 0; round < 5; ++round)
        for (std::size_t i = 0; i < cases.size(); ++i) {
          const std::size_t j = (i * 7 + static_cast<std::size_t>(t) * 101 + static_cast<std::size_t>(round)) % cases.size();
          coarse_pattern(cases[j].formula, cases[j].N, ws, out);
          mismatches[static_cast<std::size_t>(t)] += !same_bits(out, expected[j]);
          mismatches[static_cast<std::size_t>(t)] +=
              !same_bits(calc_iso_dist(cases[j].formula, {false, cases[j].N}), expected[j]);
        }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(CoarseKernel, SteadyStateAllocatesNothing) {
  // Once a workspace has met formulas of a kind, patterns, peak positions
  // and the peaks of compositions reuse its buffers and the caller's.
  CaseMaker maker("CHNOPS", 11);
  std::vector<std::string> formulas;
  for (int i = 0; i < 300; ++i) formulas.push_back(maker.next().formula);
  const Composition comp{{"C", 120}, {"H", 196}, {"C[13]", 4}, {"N", 21}, {"N[15]", 1}, {"O", 62}};
  PatternWorkspace ws;
  std::vector<double> out;
  PeakPositions positions;
  IsotopePeaks peaks;
  for (int pass = 0; pass < 2; ++pass) {
    allocations = 0;
    counting_allocations = pass == 1;
    for (const std::string& f : formulas) {
      for (std::int64_t N : {1, 5, 20}) coarse_pattern(f, N, ws, out);
      peak_positions(f, 8, ws, positions);
    }
    isotope_peaks(comp, 5, ws, peaks);
    counting_allocations = false;
  }
  EXPECT_EQ(allocations, 0);
}
