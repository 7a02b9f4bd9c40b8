// Micro-benchmarks of the steps a row goes through. The whole-table figures
// (rows/s, peak memory) come from run_bench.py on a generated table.
#include <benchmark/benchmark.h>

#include "isotope/model/composition.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/pattern/peak_positions.hpp"
#include "isotope/base/pyformat.hpp"

#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using namespace isotope;

static void SplitPeptide(benchmark::State& state) {
  PeptideParts parts;
  for (auto _ : state) {
    split_peptide("QQQHLFGSNVTDC[Carbamidomethyl]SGNFC[Carbamidomethyl]LFR", parts);
    benchmark::DoNotOptimize(parts);
  }
}
BENCHMARK(SplitPeptide);

static void PeptideComposition(benchmark::State& state) {
  const ReferenceTables& t = reference_tables();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        calc_pep_comp("QQQHLFGSNVTDCSGNFCLFR", "13,C,Carbamidomethyl/18,C,Carbamidomethyl", t.aa_comp, t.mod_comp));
}
BENCHMARK(PeptideComposition);

static void GlycanComposition(benchmark::State& state) {
  const ReferenceTables& t = reference_tables();
  for (auto _ : state) benchmark::DoNotOptimize(calc_glycan_comp("N4H5F1S2G0", t.gly_comp));
}
BENCHMARK(GlycanComposition);

static void IsotopePattern(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(calc_iso_dist("H196C120O62N21C[13]4N[15]1", {true, 5}));
}
BENCHMARK(IsotopePattern);

static void FloatRepr(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    append_float_repr(out, 2633.03859989992);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(FloatRepr);

// 5,000 distinct glycopeptide pattern formulas (seeded): tryptic-like
// peptides of 6 to 40 residues with carbamidomethylated cysteines, N- and
// O-glycans of 2 to 7 HexNAc, 3 to 10 hexoses, up to 2 fucoses, 4 NeuAc and
// 1 NeuGc, plus water: C ~ 60 to 400, as the pipeline meets them.
static const std::vector<std::string>& distinct_formulas() {
  static const std::vector<std::string> formulas = [] {
    const ReferenceTables& t = reference_tables();
    std::mt19937_64 rng(2026);
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<std::uint64_t>(hi - lo + 1)); };
    const std::string residues = "ACDEFGHIKLMNPQRSTVWY";
    std::set<std::string> seen;
    std::vector<std::string> out;
    std::string scratch, formula;
    while (out.size() < 5000) {
      std::string seq, mods;
      const int length = pick(6, 40);
      for (int i = 0; i < length; ++i) {
        char r = residues[static_cast<std::size_t>(pick(0, 19))];
        seq += r;
        if (r != 'C') continue;
        if (!mods.empty()) mods += '/';
        mods += std::to_string(i + 1);
        mods += ",C,Carbamidomethyl";
      }
      std::string glycan;
      for (auto [code, lo, hi] : {std::tuple{'N', 2, 7}, {'H', 3, 10}, {'F', 0, 2}, {'S', 0, 4}, {'G', 0, 1}}) {
        glycan += code;
        glycan += std::to_string(pick(lo, hi));
      }
      Composition gp = calc_pep_comp(seq, mods, t.aa_comp, t.mod_comp) + calc_glycan_comp(glycan, t.gly_comp) +
                       Composition{{"H", 2}, {"O", 1}};
      pattern_formula(gp, scratch, formula);
      if (seen.insert(formula).second) out.push_back(formula);
    }
    return out;
  }();
  return formulas;
}

// Time per pattern, one distinct formula after the other: OpenMS's
// generator, and the kernel with a workspace kept across formulas (its
// cache of element powers warm, as in a worker thread) or new for every
// pass over the 5,000 formulas (cache empty at the start of each pass).
static void PatternOpenMS(benchmark::State& state) {
  const auto& formulas = distinct_formulas();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(openms_coarse_pattern(formulas[i], state.range(0)));
    i = (i + 1) % formulas.size();
  }
}
BENCHMARK(PatternOpenMS)->Arg(5)->Arg(20);

static void PatternKernel(benchmark::State& state) {
  const auto& formulas = distinct_formulas();
  PatternWorkspace ws;
  std::vector<double> out;
  std::size_t i = 0;
  for (auto _ : state) {
    coarse_pattern(formulas[i], state.range(0), ws, out);
    benchmark::DoNotOptimize(out.data());
    i = (i + 1) % formulas.size();
  }
}
BENCHMARK(PatternKernel)->Arg(5)->Arg(20);

static void PatternKernelEmptyCache(benchmark::State& state) {
  const auto& formulas = distinct_formulas();
  PatternWorkspace ws;
  std::vector<double> out;
  std::size_t i = 0;
  for (auto _ : state) {
    if (i == 0) ws = PatternWorkspace();
    coarse_pattern(formulas[i], state.range(0), ws, out);
    benchmark::DoNotOptimize(out.data());
    i = (i + 1) % formulas.size();
  }
}
BENCHMARK(PatternKernelEmptyCache)->Arg(5)->Arg(20);

// Peak positions and probabilities of the first 5 peaks, and the number of
// peaks that cover 99% of the distribution.
static void PeakPositions5(benchmark::State& state) {
  const auto& formulas = distinct_formulas();
  PatternWorkspace ws;
  PeakPositions out;
  std::size_t i = 0;
  for (auto _ : state) {
    peak_positions(formulas[i], 5, ws, out);
    benchmark::DoNotOptimize(out.offset.data());
    i = (i + 1) % formulas.size();
  }
}
BENCHMARK(PeakPositions5);

static void PeaksCovering99(benchmark::State& state) {
  const auto& formulas = distinct_formulas();
  PatternWorkspace ws;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(peaks_covering(formulas[i], 0.99, ws));
    i = (i + 1) % formulas.size();
  }
}
BENCHMARK(PeaksCovering99);
