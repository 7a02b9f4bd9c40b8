// The composition, formula and isotope operations. Tables are read key by
// key through the mapping's own __getitem__, as the operations look their
// entries up, so that a missing key raises what the mapping raises and only
// the entries used are converted. The public module wraps each of these in a
// Python function with the documented calling form.
#include <pybind11/numpy.h>

#include <algorithm>

#include "convert.hpp"
#include "isotope/base/text.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/pattern/envelope.hpp"
#include "isotope/pattern/fine_structure.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/table_run.hpp"

namespace isotope::python {

namespace {

// Tables read key by key, as the operations look their entries up: the
// mapping's own __getitem__ raises for a missing key (KeyError(key) for a
// dict), and only the entries used are converted.

void gather(CompTable& table, py::handle comp_map, std::string_view key) {
  if (table.find(key)) return;
  py::object part = comp_map[to_str(key)];
  table.set(key, composition_from_mapping(part));
}

void gather_residues(CompTable& table, py::handle comp_map, std::string_view seq) {
  for (std::size_t p = 0; p < seq.size();) {
    std::size_t len = 0;
    text::code_point_at(seq, p, len);
    gather(table, comp_map, seq.substr(p, len));
    p += len;
  }
}

void gather_counts(CompTable& table, py::handle comp_map, const Counts& counts) {
  for (const auto& entry : counts) gather(table, comp_map, entry.first);
}

// ---------------------------------------------------------------------------
// The operations.

Composition calc_counter_comp_py(py::object counter, py::object comp_map) {
  if (!is_mapping(counter))
    throw py::type_error("counter must be a mapping of keys to counts, not " + type_name(counter));
  // Key by key, as a Python loop over the counter fails: the table lookup,
  // then int() of the count, then the product.
  Counts counts;
  CompTable table;
  for (py::handle key : counter.attr("keys")()) {
    py::object part = comp_map[key];
    py::object count = counter[key];
    Count n = to_count(count);
    std::string_view k = utf8(key, "counter key");
    table.set(k, composition_from_mapping(part));
    counts.set(k, n);
  }
  return calc_counter_comp(counts, table);
}

Composition calc_seq_comp_py(py::object seq, py::object comp_map, py::object residue) {
  std::string_view s = utf8(seq, "seq");
  CompTable table;
  gather_residues(table, comp_map, s);
  return calc_seq_comp(s, table, truthy(residue));
}

// The (name, count) pairs of a modification string; none for a missing cell
// (None, NaN).
py::list mods_counter_py(py::object mods) {
  py::list pairs;
  if (is_missing(mods)) return pairs;
  for (const auto& [key, n] : mods_counter(utf8(mods, "mods"))) pairs.append(py::make_tuple(to_str(key), n));
  return pairs;
}

Composition calc_mod_comp_py(py::object mods, py::object comp_map) {
  if (is_missing(mods)) return Composition();
  std::string_view s = utf8(mods, "mods");
  CompTable table;
  gather_counts(table, comp_map, mods_counter(s));
  return calc_mod_comp(s, table);
}

Composition calc_pep_comp_py(py::object seq, py::object mods, py::object aa_comp_map, py::object mod_comp_map,
                             py::object residue) {
  std::string_view s = utf8(seq, "seq");
  CompTable aa_table, mod_table;
  gather_residues(aa_table, aa_comp_map, s);
  std::optional<std::string_view> m;
  if (!is_missing(mods)) {
    m = utf8(mods, "mods");
    if (!m->empty()) gather_counts(mod_table, mod_comp_map, mods_counter(*m));
  }
  return calc_pep_comp(s, m, aa_table, mod_table, truthy(residue));
}

py::array_t<double> calc_iso_dist_py(py::object comp, py::dict kwargs) {
  // A Composition is read as its formula text.
  std::string text;
  std::string_view formula;
  if (is_composition(comp)) {
    text = comp_to_str(comp.cast<const Composition&>());
    formula = text;
  } else {
    formula = pattern_text(comp);
  }
  IsoOptions options;
  if (kwargs.contains("filter_iso")) options.filter_iso = truthy(kwargs["filter_iso"]);
  if (kwargs.contains("N")) options.N = to_int64(kwargs["N"], "N");
  const std::vector<double> peaks = calc_iso_dist(formula, options);
  py::array_t<double> out(static_cast<py::ssize_t>(peaks.size()));
  std::copy(peaks.begin(), peaks.end(), out.mutable_data());
  return out;
}

Composition calc_glycan_comp_py(py::object glycan, py::object comp_map, py::object residue) {
  std::string_view s = pattern_text(glycan);
  CompTable table;
  gather_counts(table, comp_map, glycan_counter(s));
  return calc_glycan_comp(s, table, truthy(residue));
}

// A composition argument of the peak functions: a Composition (or mapping),
// or a formula string such as "C6H12O6" or "C[13]2H6".
Composition composition_of(py::handle comp) {
  if (PyUnicode_Check(comp.ptr())) return Composition::from_formula(utf8(comp, "formula"));
  return composition_from_mapping(comp);
}

}  // namespace

Normalize normalize_of(py::handle value) {
  std::string_view v = utf8(value, "normalize");
  if (std::optional<Normalize> n = normalize_from_text(v)) return *n;
  throw py::value_error("normalize must be 'sum', 'max' or 'none', not " + py_repr(v));
}

namespace {

PatternWorkspace& thread_workspace() {
  thread_local PatternWorkspace ws;
  return ws;
}

// The peaks a table run under the options gives a pattern:
// isotope_peaks_num; with isotope_coverage and no isotope_peaks_num, no
// cap (0); with neither, `fallback`.
std::int64_t option_peaks(const Options& options, std::int64_t fallback) {
  const bool absent = !options.peaks_num_value && options.peaks_num_error &&
                      options.peaks_num_error->kind() == ErrorKind::Lookup;
  if (!absent) return options.peaks_num();
  return options.coverage ? 0 : fallback;
}

// The peaks isotope_peaks computes: each argument given (not None) wins,
// then the options of params, then the defaults (5 peaks, no coverage,
// "sum").
EnvelopeRequest peaks_request(py::object n, py::object coverage, py::object normalize, py::object params) {
  std::optional<Options> options;
  if (!params.is_none()) options = params_options(params);
  EnvelopeRequest request;
  request.peaks = !n.is_none() ? to_int64(n, "n") : options ? option_peaks(*options, 5) : 5;
  if (request.peaks < 0) throw py::value_error("n must not be negative");
  if (!coverage.is_none())
    request.coverage = py::float_(coverage).cast<double>();
  else if (options)
    request.coverage = options->coverage;
  request.normalize = !normalize.is_none() ? normalize_of(normalize) : options ? options->normalize : Normalize::Sum;
  request.positions = true;
  return request;
}

py::tuple isotope_peaks_py(py::object comp, py::object charge, py::object n, py::object coverage,
                           py::object normalize, py::object params) {
  const Composition c = composition_of(comp);
  const std::int64_t z = to_int64(charge, "charge");
  const EnvelopeRequest request = peaks_request(n, coverage, normalize, params);
  std::string scratch, formula;
  pattern_formula(c, scratch, formula);
  PeakPositions positions;
  Envelope env;
  envelope(formula, request, thread_workspace(), positions, env);
  const double mass = c.mass();
  std::vector<double> mz(env.offset.size());
  for (std::size_t k = 0; k < mz.size(); ++k) mz[k] = z == 0 ? mass + env.offset[k] : mz_at(mass + env.offset[k], z);
  return py::make_tuple(to_array(mz), to_array(env.intensity));
}

py::tuple fine_isotope_peaks_py(py::object comp, py::object charge, py::object threshold) {
  const Composition c = composition_of(comp);
  const std::int64_t z = to_int64(charge, "charge");
  FinePeaks fine = fine_isotope_peaks(c, py::float_(threshold).cast<double>());
  if (z != 0)
    for (double& m : fine.mass) m = mz_at(m, z);
  return py::make_tuple(to_array(fine.mass), to_array(fine.intensity));
}

py::tuple split_pep_seq_py(py::object pep_seq) {
  PeptideParts parts = split_peptide(pattern_text(pep_seq));
  return py::make_tuple(to_str(parts.seq), to_str(parts.mods));
}

// The composition behind GP_Mass as a table run under params' options
// computes it: modification names through the run's resolver
// (isotope_modification.NAME, isotope_unimod).
Composition glycopeptide_comp_with(std::string_view pep_seq, std::string_view glycan, py::object aa_comp,
                                   py::object mod_comp, py::object gly_comp, py::object params) {
  const Options options = params_options(params);
  const CompTable aa = table_from_mapping(aa_comp, "aa_comp");
  const CompTable mod = table_from_mapping(mod_comp, "mod_comp");
  const CompTable gly = table_from_mapping(gly_comp, "gly_comp");
  return glycopeptide_composition(run_model(ModelTables{aa, mod, gly}, options), pep_seq, glycan);
}

// The composition behind GP_Mass: peptide (residues and modifications) +
// glycan + one water, from the tables given (entries looked up one by one),
// or with params as a table run under those options.
Composition glycopeptide_comp_py(py::object pep_seq, py::object glycan, py::object aa_comp, py::object mod_comp,
                                 py::object gly_comp, py::object params) {
  if (!params.is_none())
    return glycopeptide_comp_with(pattern_text(pep_seq), pattern_text(glycan), aa_comp, mod_comp, gly_comp, params);
  PeptideParts parts = split_peptide(pattern_text(pep_seq));
  std::string_view g = pattern_text(glycan);
  CompTable aa, mod, gly;
  gather_residues(aa, aa_comp, parts.seq);
  if (!parts.mods.empty()) gather_counts(mod, mod_comp, mods_counter(parts.mods));
  gather_counts(gly, gly_comp, glycan_counter(g));
  return glycopeptide_composition(calc_pep_comp(parts.seq, parts.mods, aa, mod), calc_glycan_comp(g, gly));
}

}  // namespace

void bind_operations(py::module_& m) {
  m.def("calc_counter_comp", &calc_counter_comp_py);
  m.def("calc_seq_comp", &calc_seq_comp_py);
  m.def("mods_counter", &mods_counter_py);
  m.def("calc_mod_comp", &calc_mod_comp_py);
  m.def("calc_pep_comp", &calc_pep_comp_py);
  m.def("component_counter", [](py::object s) { return counts_to_dict(component_counter(pattern_text(s))); });
  m.def("calc_iso_dist", &calc_iso_dist_py);
  m.def("glycan_counter", [](py::object s) { return counts_to_dict(glycan_counter(pattern_text(s))); });
  m.def("calc_glycan_comp", &calc_glycan_comp_py);
  m.def("comp_to_str", [](py::object comp) { return to_str(comp_to_str(CompositionArg(comp).get())); });
  m.def("isotope_peaks", &isotope_peaks_py);
  m.def("fine_isotope_peaks", &fine_isotope_peaks_py);
  m.def("split_pep_seq", &split_pep_seq_py);
  m.def("glycopeptide_comp", &glycopeptide_comp_py);
}

}  // namespace isotope::python
