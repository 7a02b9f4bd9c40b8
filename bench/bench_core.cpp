// Micro-benchmarks of the steps a row goes through. The whole-table figures
// (rows/s, peak memory) come from run_bench.py on a generated table.
#include <benchmark/benchmark.h>

#include "isotope/model/composition.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/base/pyformat.hpp"

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
