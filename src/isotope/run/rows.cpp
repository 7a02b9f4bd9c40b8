// Row results: the glycan string from the count cells, the glycopeptide's
// composition, mass and pattern (remembered per glycopeptide and per
// formula), and the notes on PepSeq and count cells.
#include "isotope/run/rows.hpp"

#include <algorithm>
#include <cmath>

#include "isotope/base/errors.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/unimod.hpp"
#include "isotope/formats/imported_row.hpp"
#include "isotope/formats/proforma.hpp"
#include "isotope/pattern/isotope_pattern.hpp"

namespace isotope {

namespace {

// Each memory holds at most this many bytes of text: when the next entry
// would pass it, the memory starts afresh. Realistic tables repeat a few
// thousand glycopeptides; a table of megabyte cells cannot fill memory.
constexpr std::size_t kMaxCachedBytes = std::size_t{2} << 20;
// A memory whose lookups hit fewer than one in eight over a window of this
// many lookups (a table of distinct glycopeptides) is switched off for the
// rest of the table.
constexpr std::size_t kTrialLookups = 16384;

void append_intensities(std::string& out, const std::vector<double>& intensities) {
  for (std::size_t i = 0; i < intensities.size(); ++i) {
    if (i) out += ',';
    append_float_repr(out, intensities[i]);
  }
}

// The residues of a bracketed PepSeq ("AC[Carbamidomethyl]K[TMT6plex]"):
// its letters outside the brackets.
std::string plain_residues(std::string_view pep_seq) {
  std::string out;
  int depth = 0;
  for (char c : pep_seq) {
    depth += (c == '[') - (c == ']');
    if (depth == 0 && c >= 'A' && c <= 'Z') out += c;
  }
  return out;
}


void clear_offset(RowOutput& out) {
  out.offset.clear();
  out.ppm.clear();
  out.offset_note.clear();
  out.has_offset = out.matched = false;
}

// The note on a glycopeptide whose mass or pattern is not finite: the
// size of its formula says where to look.
std::string non_finite_note(const Composition& gp, double mass) {
  Count atoms = 0;
  for (const auto& [element, n] : gp) atoms += n;
  const std::string what = !std::isfinite(mass) ? "mass" : "isotope pattern";
  return "the row's " + what + " is not finite for its formula of " + std::to_string(atoms) +
         " atoms: check its count cells and modifications for a typo";
}

bool is_bool_word(std::string_view raw) {
  return text::equals_ascii_lower(raw, "true") || text::equals_ascii_lower(raw, "false");
}

// Why a count cell is no non-negative whole number, or nullptr. The cell's
// text decides ("4" in a column of text is a whole number), except that
// whether it is missing follows its type.
const char* count_problem(const Cell& cell) {
  // The usual cell, a whole number written in digits, at once.
  if ((cell.type == ColumnType::Int || cell.type == ColumnType::IntAsFloat) && !cell.raw.empty() &&
      std::all_of(cell.raw.begin(), cell.raw.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return nullptr;
  if (is_missing_value(cell.type, cell.raw)) return "missing";
  if (is_bool_word(cell.raw)) return "a truth value";
  std::optional<double> v = parse_float(cell.raw);
  if (!v) return "text";
  if (!std::isfinite(*v)) return "not a finite number";
  if (*v < 0) return "negative";
  if (*v != std::floor(*v)) return "not a whole number";
  return nullptr;
}

}  // namespace

std::string ppm_text(double ppm) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", ppm);
  return text;
}

std::vector<AddedColumn> added_columns(const Options& options) {
  std::vector<AddedColumn> out = {
      {"Glycan", Added::Glycan}, {"PepMods", Added::PepMods}, {"GP_Mass", Added::Mass}, {"GP_Isotopes", Added::Isotopes}};
  if (options.charge_column) {
    out.push_back({"GP_MZ", Added::Mz});
    out.push_back({"GP_Isotopes_MZ", Added::IsotopesMz});
  }
  for (std::size_t i = 0; i < options.charges.size(); ++i)
    out.push_back({"GP_MZ_z" + std::to_string(options.charges[i]), Added::MzAt, i});
  if (options.precursor_mz_column) {
    out.push_back({"GP_Isotope_Offset", Added::Offset});
    out.push_back({"GP_PPM", Added::Ppm});
  }
  if (options.proforma_output) out.push_back({"GP_ProForma", Added::ProForma});
  if (options.spectra) add_ms1_columns(out);
  return out;
}

void add_ms1_columns(std::vector<AddedColumn>& out) {
  for (auto [name, kind] : {std::pair{"MS1_Scan", Added::Ms1Scan}, {"MS1_RT", Added::Ms1Rt},
                            {"MS1_Intensities", Added::Ms1Intensities}, {"MS1_Peaks_Found", Added::Ms1Found},
                            {"MS1_Cosine", Added::Ms1Cosine}, {"MS1_PPM", Added::Ms1Ppm}, {"MS1_Offset", Added::Ms1Offset},
                            {"MS1_Area", Added::Ms1Area}, {"MS1_Apex_RT", Added::Ms1ApexRt},
                            {"MS1_Overlaps", Added::Ms1Overlaps}})
    out.push_back({name, kind});
}

std::vector<AddedColumn> imported_columns(const GlycanVocabulary& glycans, const Options& options) {
  std::vector<AddedColumn> out = {{"PepSeq", Added::PepSeq}};
  const std::vector<std::string> codes = glycans.count_column_names();
  for (std::size_t k = 0; k < codes.size(); ++k) out.push_back({codes[k], Added::CountCell, k});
  for (auto [name, kind] : {std::pair{"Glycan", Added::Glycan}, {"PepMods", Added::PepMods}, {"GP_Mass", Added::Mass},
                            {"GP_Isotopes", Added::Isotopes}, {"GP_MZ", Added::Mz}, {"GP_Isotopes_MZ", Added::IsotopesMz}})
    out.push_back({name, kind});
  for (std::size_t i = 0; i < options.charges.size(); ++i)
    out.push_back({"GP_MZ_z" + std::to_string(options.charges[i]), Added::MzAt, i});
  out.push_back({"GP_Isotope_Offset", Added::Offset});
  out.push_back({"GP_PPM", Added::Ppm});
  if (options.proforma_output) out.push_back({"GP_ProForma", Added::ProForma});
  if (options.spectra) add_ms1_columns(out);
  return out;
}

namespace {

std::string_view ms1_text(const Ms1Evidence* e, Added kind) {
  if (!e) return {};
  switch (kind) {
    case Added::Ms1Scan: return e->scan;
    case Added::Ms1Rt: return e->rt;
    case Added::Ms1Intensities: return e->intensities;
    case Added::Ms1Found: return e->found;
    case Added::Ms1Cosine: return e->cosine;
    case Added::Ms1Ppm: return e->ppm;
    case Added::Ms1Area: return e->area;
    case Added::Ms1ApexRt: return e->apex_rt;
    case Added::Ms1Overlaps: return e->overlaps;
    default: return e->offset;
  }
}

}  // namespace

std::string_view added_text(const RowOutput& out, Added kind, std::size_t which) {
  switch (kind) {
    case Added::Glycan: return out.glycan;
    case Added::PepMods: return out.mods;
    case Added::Mass: return out.mass;
    case Added::Isotopes: return out.isotopes;
    case Added::Mz: return out.mz;
    case Added::IsotopesMz: return out.isotopes_mz;
    case Added::MzAt: return which < out.mz_at.size() ? std::string_view(out.mz_at[which]) : std::string_view();
    case Added::Offset: return out.offset;
    case Added::Ppm: return out.ppm;
    case Added::PepSeq: return out.pep_seq;
    case Added::CountCell: return out.counts[which];
    case Added::ProForma: return out.proforma;
    case Added::Ms1Scan:
    case Added::Ms1Rt:
    case Added::Ms1Intensities:
    case Added::Ms1Found:
    case Added::Ms1Cosine:
    case Added::Ms1Ppm:
    case Added::Ms1Offset:
    case Added::Ms1Area:
    case Added::Ms1ApexRt:
    case Added::Ms1Overlaps: return ms1_text(out.ms1, kind);
    case Added::None: break;
  }
  return {};
}

std::string float_column_note(std::string_view code_view, const Cell& cause) {
  const std::string code(code_view);
  return "count column " + code + " holds floats because of the " +
         (is_missing_value(cause.type, cause.raw) ? std::string("missing cell") : "cell " + py_repr(cause.raw)) +
         " here, so every Glycan string of the table writes " + code + " as a float (4 is written " + code + "4.0)";
}

RowComputer::RowComputer(const RunModel& model, const Options& options)
    : model_(model),
      options_(options),
      want_mz_(options.charge_column.has_value() || !options.charges.empty() || options.input_format.has_value()),
      monosaccharides_(model.glycans.count_columns().size(), nullptr) {}

template <class Value>
const Value& RowComputer::remember(std::unordered_map<std::string, Value>& memory, std::size_t& used,
                                   const std::string& key, Value value, std::size_t bytes) {
  constexpr std::size_t kEntryOverhead = 64;  // node, hash and string headers
  if (used + bytes + kEntryOverhead > kMaxCachedBytes) {
    memory.clear();
    used = 0;
  }
  used += bytes + kEntryOverhead;
  return memory.insert_or_assign(key, std::move(value)).first->second;
}

// The remembered result of a glycopeptide, or nullptr. On a table of
// distinct glycopeptides the memory costs more than it saves: after a
// trial window with few hits it is switched off for the rest of the table.
const RowComputer::Result* RowComputer::recall(std::string_view pep_seq, std::string_view glycan) {
  if (!remembering_) return nullptr;
  key_.assign(pep_seq);
  key_ += '\0';
  key_ += glycan;
  ++lookups_;
  if (auto hit = rows_.find(key_); hit != rows_.end()) {
    ++hits_;
    return &hit->second;
  }
  if (lookups_ == kTrialLookups) {
    if (hits_ * 8 < lookups_) {
      remembering_ = false;
      rows_ = {};
      patterns_ = {};
    }
    hits_ = lookups_ = 0;
  }
  return nullptr;
}

// r, remembered under the key recall() looked up when the memory is on.
const RowComputer::Result& RowComputer::keep(const Result& r) {
  if (!remembering_) return r;
  std::size_t bytes =
      key_.size() + r.mods.size() + r.mass.size() + r.isotopes.size() + 8 * (r.offsets.size() + r.intensity.size());
  return remember(rows_, rows_bytes_, key_, r, bytes);
}

const RowComputer::Result& RowComputer::glycopeptide(std::string_view pep_seq, const std::string& glycan,
                                                     std::string_view& column) {
  if (const Result* hit = recall(pep_seq, glycan)) return *hit;
  Result& r = scratch_;
  r.mods.clear();
  r.mass.clear();
  column = "PepSeq";
  split_peptide(pep_seq, peptide_);
  Composition gp;
  add_residues(peptide_.seq, gp);
  if (!peptide_.mods.empty()) gp += model_.modifications.resolve_mods(peptide_.mods);
  column = "Glycan";
  Composition glycan_comp;
  add_glycan(glycan, glycan_comp);
  r.j_residue = peptide_.seq.find('J') != std::string::npos && !glycan_comp.empty();
  if (options_.proforma_output) r.proforma = proforma_body(peptide_.seq, peptide_.mods, counts_of(glycan), std::nullopt);
  finish(glycopeptide_composition(std::move(gp), glycan_comp), r, column);
  r.mods = peptide_.mods;
  r.pep_seq_problem = pep_seq_problem(pep_seq);
  return keep(r);
}

// calc_seq_comp(seq, aa_comp) added to total, for a sequence of capital
// letters (as split_peptide gives): residues counted per letter, in order
// of first occurrence, each letter's table entry looked up once per run.
void RowComputer::add_residues(std::string_view seq, Composition& total) {
  std::array<Count, 26> counts{};
  std::array<char, 26> order;
  std::size_t letters = 0;
  for (char c : seq)
    if (counts[static_cast<std::size_t>(c - 'A')]++ == 0) order[letters++] = c;
  for (std::size_t i = 0; i < letters; ++i) {
    const auto k = static_cast<std::size_t>(order[i] - 'A');
    if (!residues_[k]) residues_[k] = &model_.residues.at(std::string_view(&order[i], 1), "unknown residue");
    total.add_times(*residues_[k], counts[k]);
  }
}

// calc_glycan_comp(glycan, gly_comp) added to total. A glycan string of the
// usual form, each count column's code with its digits in order
// ("N4H5F1S0G0" from count cells that are whole numbers), is read in
// place; any other goes through the glycan reader.
void RowComputer::add_glycan(const std::string& glycan, Composition& total) {
  const std::vector<std::size_t>& columns = model_.glycans.count_columns();
  Composition sum;
  std::size_t p = 0;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const std::string& code = model_.glycans[columns[k]].code;
    if (glycan.compare(p, code.size(), code) != 0) break;
    const std::size_t start = p + code.size();
    std::size_t end = start;
    while (end < glycan.size() && glycan[end] >= '0' && glycan[end] <= '9') ++end;
    if (end == start) break;
    if (!monosaccharides_[k]) monosaccharides_[k] = &model_.monosaccharides.at(code, "unknown glycan code");
    Count n = text::digits_value(std::string_view(glycan).substr(start, end - start));
    if (n != 0) sum.add_times(*monosaccharides_[k], n);
    p = end;
    if (k + 1 == columns.size() && p == glycan.size()) {
      total += sum;
      return;
    }
  }
  total += calc_glycan_comp(glycan, model_.monosaccharides);
}

// The pattern and mass of a glycopeptide's composition.
void RowComputer::finish(const Composition& gp, Result& r, std::string_view& column) {
  column = {};
  if (!n_) {
    // With isotope_coverage, isotope_peaks_num is a cap, and may be absent.
    const bool absent = !options_.peaks_num_value && options_.peaks_num_error &&
                        options_.peaks_num_error->kind() == ErrorKind::Lookup;
    n_ = options_.coverage && absent ? 0 : options_.peaks_num();
  }
  column = "GP_Isotopes";
  pattern_formula(gp, formula_, pattern_formula_);
  const Pattern* pattern = nullptr;
  if (remembering_) {
    if (auto hit = patterns_.find(pattern_formula_); hit != patterns_.end()) pattern = &hit->second;
  }
  if (!pattern) {
    compute_pattern(pattern_scratch_);
    pattern = &pattern_scratch_;
    if (remembering_) {
      std::size_t bytes = pattern_formula_.size() + pattern_scratch_.isotopes.size() +
                          8 * (pattern_scratch_.offsets.size() + pattern_scratch_.intensity.size());
      pattern = &remember(patterns_, patterns_bytes_, pattern_formula_, pattern_scratch_, bytes);
    }
  }
  r.isotopes = pattern->isotopes;
  r.intensity = pattern->intensity;
  r.peaks = pattern->peaks;
  r.offsets = pattern->offsets;
  column = "GP_Mass";
  r.mass_value = gp.mass();
  append_float_repr(r.mass, r.mass_value);
  r.non_finite_note.clear();
  if (!pattern->finite || !std::isfinite(r.mass_value)) r.non_finite_note = non_finite_note(gp, r.mass_value);
}

bool RowComputer::compute_imported(const ImportedRow& row, RowOutput& out, std::string_view& column) {
  out.glycan = model_.glycans.glycan_string(row.counts);
  const Result* r = recall(row.pep_seq, out.glycan);
  if (!r) {
    Result& fresh = scratch_;
    fresh.mass.clear();
    column = "Glycan";
    finish(glycopeptide_composition(row.peptide, calc_glycan_comp(out.glycan, model_.monosaccharides)), fresh, column);
    fresh.mods = row.pep_mods;
    fresh.pep_seq_problem.reset();
    if (options_.proforma_output)
      fresh.proforma = proforma_body(plain_residues(row.pep_seq), row.pep_mods, row.counts, row.glycan_site);
    r = &keep(fresh);
  }
  out.mods = r->mods;
  out.mass = r->mass;
  out.mass_value = r->mass_value;
  out.isotopes = r->isotopes;
  out.intensity = r->intensity;
  out.peaks = r->peaks;
  out.non_finite_note = r->non_finite_note;
  out.j_residue = false;
  out.mz.clear();
  out.isotopes_mz.clear();
  out.isotopes_mz_value.clear();
  out.charge = 0;
  out.observed_mz = 0;
  clear_offset(out);
  out.mz_at.assign(options_.charges.size(), std::string());
  out.mz_at_value.assign(options_.charges.size(), 0);
  if (!row.charge) {
    add_proforma(*r, std::nullopt, out);
    return fill_listed(*r, row, out);
  }
  if (*row.charge == 0 || std::labs(*row.charge) > kMaxCharge) {
    add_proforma(*r, std::nullopt, out);
    return false;
  }
  add_proforma(*r, row.charge, out);
  const int z = static_cast<int>(*row.charge);
  fill_mz(*r, z, out);
  std::optional<double> observed = row.precursor_mz;
  if (!observed && row.neutral_mass) observed = mz_at(*row.neutral_mass, z);
  if (observed && std::isfinite(*observed) && *observed > 0) fill_offset(*r, z, *observed, out);
  return true;
}


// The pattern of pattern_formula_: isotope_peaks_num peaks (or as many as
// isotope_coverage asks, capped by isotope_peaks_num), normalised as
// isotope_normalize says, with the peaks' positions when m/z columns need
// them.
void RowComputer::compute_pattern(Pattern& p) {
  EnvelopeRequest request{*n_, options_.coverage, options_.normalize, want_mz_};
  envelope(pattern_formula_, request, ws_, positions_, envelope_);
  p.peaks = envelope_.intensity.size();
  p.isotopes.clear();
  append_intensities(p.isotopes, envelope_.intensity);
  p.finite = std::all_of(envelope_.intensity.begin(), envelope_.intensity.end(), [](double v) { return std::isfinite(v); });
  p.intensity = envelope_.intensity;
  p.offsets = envelope_.offset;
}

void RowComputer::note_counts(const RowCells& cells, const std::string& glycan, NoteSink& notes) {
  struct Bad {
    std::size_t k;
    const char* why;
  };
  std::vector<Bad> bad;
  for (std::size_t k = 0; k < cells.counts.size(); ++k)
    if (const char* why = count_problem(cells.counts[k])) bad.push_back({k, why});
  const std::size_t n = bad.size();
  if (n == 0) return;
  const GlycanVocabulary& glycans = model_.glycans;
  auto code = [&](const Bad& b) -> const std::string& { return glycans[glycans.count_columns()[b.k]].code; };
  // What the glycan string gave for each code: the count the mass rests on.
  const Counts read = glycan_counter(glycan);
  auto cell = [&](const Bad& b) {
    return glycans.column_name(glycans.count_columns()[b.k]) + " " + py_repr(cells.counts[b.k].raw);
  };
  auto value = [&](const Bad& b) { return std::to_string(read.get(code(b)).value_or(0)); };
  auto join = [&](auto part) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (i == 0 ? "" : i + 1 == n ? " and " : ", ") + part(bad[i]);
    return out;
  };
  std::string text;
  if (n == 1) {
    text = "count cell " + cell(bad[0]) + " is " + bad[0].why + ": it was read as " + value(bad[0]);
  } else {
    text = "count cells " + join([&](const Bad& b) { return cell(b) + " (" + b.why + ")"; }) +
           " are not non-negative whole numbers: they were read as " + join(value);
  }
  text += " (Glycan " + py_repr(glycan) + ")";
  notes.note(NoteKind::Counts, text);
}

void RowComputer::compute(const RowCells& cells, RowOutput& out, NoteSink& notes, std::string_view& column) {
  // The glycan string from the count cells, as str() shows them.
  column = "Glycan";
  out.glycan.clear();
  for (std::size_t k = 0; k < cells.counts.size(); ++k) {
    const Cell& c = cells.counts[k];
    const std::size_t entry = model_.glycans.count_columns()[k];
    const std::string& code = model_.glycans[entry].code;
    if (!c.present) {
      column = {};
      throw Error::lookup("table has no column", model_.glycans.column_name(entry));
    }
    out.glycan += code;
    append_py_str(out.glycan, c.type, c.raw);
  }
  column = {};
  if (!cells.pep_seq.present) throw Error::lookup("table has no column", "PepSeq");
  column = "PepSeq";
  const Cell& p = cells.pep_seq;
  if (!is_text_value(p.type, p.raw))
    throw Error::type("expected string or bytes-like object, got a " +
                      std::string(is_missing_value(p.type, p.raw) ? "missing cell" : "number"));
  const Result& r = glycopeptide(p.raw, out.glycan, column);
  out.mods = r.mods;
  out.mass = r.mass;
  out.mass_value = r.mass_value;
  out.isotopes = r.isotopes;
  out.intensity = r.intensity;
  out.peaks = r.peaks;
  out.non_finite_note = r.non_finite_note;
  out.j_residue = r.j_residue;
  if (r.pep_seq_problem) notes.note(NoteKind::PepSeq, *r.pep_seq_problem);
  if (!r.non_finite_note.empty()) notes.note(NoteKind::NonFinite, r.non_finite_note);
  if (r.j_residue)
    notes.note(NoteKind::Hint, "PepSeq holds J (read as Leu/Ile here; pGlyco writes J for the glycosylated Asn, "
                               "and its tables are read with isotope_input_format = pglyco3)");
  note_counts(cells, out.glycan, notes);
  if (want_mz_) add_mz(cells, r, out, notes);
  if (options_.proforma_output) add_row_proforma(cells, r, out);
}

namespace {

// The charge of a cell: a non-zero whole number (2, or 2.0 in a float
// column), or the reason it is none.
std::optional<int> read_charge(const Cell& cell, const char*& why) {
  if (is_missing_value(cell.type, cell.raw)) {
    why = "missing";
    return std::nullopt;
  }
  std::optional<double> v = is_bool_word(cell.raw) ? std::nullopt : parse_float(cell.raw);
  if (!v || !std::isfinite(*v) || *v != std::floor(*v)) {
    why = "not a whole number";
    return std::nullopt;
  }
  if (*v == 0) {
    why = "zero";
    return std::nullopt;
  }
  if (std::fabs(*v) > static_cast<double>(kMaxCharge)) {
    why = "beyond +-1000";
    return std::nullopt;
  }
  return static_cast<int>(*v);
}

void append_mz(std::string& out, double mass, int z) {
  if (std::isnan(mass)) {
    out += "nan";
    return;
  }
  append_float_repr(out, mz_at(mass, z));
}

}  // namespace

void RowComputer::add_mz(const RowCells& cells, const Result& r, RowOutput& out, NoteSink& notes) {
  out.mz.clear();
  out.isotopes_mz.clear();
  out.isotopes_mz_value.clear();
  out.charge = 0;
  out.observed_mz = 0;
  clear_offset(out);
  out.mz_at.resize(options_.charges.size());
  out.mz_at_value.resize(options_.charges.size());
  for (std::size_t i = 0; i < options_.charges.size(); ++i) {
    out.mz_at[i].clear();
    append_mz(out.mz_at[i], r.mass_value, options_.charges[i]);
    out.mz_at_value[i] = mz_at(r.mass_value, options_.charges[i]);
  }
  if (!options_.charge_column) return;
  const char* why = "";
  std::optional<int> z = read_charge(cells.charge, why);
  if (!z) {
    notes.note(NoteKind::Charge, "charge cell " + *options_.charge_column + " " + py_repr(cells.charge.raw) + " is " +
                                     why + ": the row's m/z cells were left empty");
    return;
  }
  fill_mz(r, *z, out);
  if (!options_.precursor_mz_column) return;
  std::optional<double> observed = is_missing_value(cells.precursor.type, cells.precursor.raw) || is_bool_word(cells.precursor.raw)
                                       ? std::nullopt
                                       : parse_float(cells.precursor.raw);
  if (!observed || !std::isfinite(*observed) || *observed <= 0) {
    notes.note(NoteKind::Precursor, "precursor m/z cell " + *options_.precursor_mz_column + " " +
                                        py_repr(cells.precursor.raw) +
                                        " is no positive number: the row's GP_Isotope_Offset and GP_PPM were left empty");
    return;
  }
  fill_offset(r, *z, *observed, out);
  if (!out.matched) notes.note(NoteKind::Unmatched, out.offset_note);
}

void RowComputer::fill_mz(const Result& r, int z, RowOutput& out) {
  out.charge = z;
  append_mz(out.mz, r.mass_value, z);
  out.mz_value = mz_at(r.mass_value, z);
  for (std::size_t k = 0; k < r.offsets.size(); ++k) {
    if (k) out.isotopes_mz += ',';
    append_mz(out.isotopes_mz, r.mass_value + r.offsets[k], z);
    out.isotopes_mz_value.push_back(mz_at(r.mass_value + r.offsets[k], z));
  }
}

// A row with the charges it was seen at (GlycReSoft's charge_states): the
// m/z at each listed charge that is an isotope_charges column, and the
// precursor check on its neutral mass.
bool RowComputer::fill_listed(const Result& r, const ImportedRow& row, RowOutput& out) const {
  if (row.charges.empty()) return false;
  for (std::size_t i = 0; i < options_.charges.size(); ++i)
    if (std::find(row.charges.begin(), row.charges.end(), options_.charges[i]) != row.charges.end()) {
      append_mz(out.mz_at[i], r.mass_value, options_.charges[i]);
      out.mz_at_value[i] = mz_at(r.mass_value, options_.charges[i]);
    }
  if (row.neutral_mass && std::isfinite(*row.neutral_mass) && *row.neutral_mass > 0)
    fill_offset(r, 0, *row.neutral_mass, out);
  return true;
}

// The peak nearest to the observed precursor m/z among peak -1 (one 13C
// spacing below the monoisotopic peak), the reported peaks, and peaks up
// to +3 (13C spacings above the monoisotopic peak) past the reported ones.
// It is the row's GP_Isotope_Offset when the precursor lies within the
// tolerance; GP_PPM is the error to it either way. With z = 0 the
// observed value is a neutral mass, compared with the peaks' masses.
void RowComputer::fill_offset(const Result& r, int z, double observed, RowOutput& out) const {
  if (z != 0) out.observed_mz = observed;
  const auto at = [z](double mass) { return z == 0 ? mass : mz_at(mass, z); };
  const double mono = at(r.mass_value);
  const double spacing = kC13Spacing / (z == 0 ? 1 : std::abs(z));
  constexpr int kLastChecked = 3;
  int best = -1;
  double best_mz = mono - spacing;
  const int last = std::max(kLastChecked, static_cast<int>(r.offsets.size()) - 1);
  for (int k = 0; k <= last; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (i < r.offsets.size() && std::isnan(r.offsets[i])) continue;
    const double peak = i < r.offsets.size() ? at(r.mass_value + r.offsets[i]) : mono + k * spacing;
    if (std::fabs(observed - peak) < std::fabs(observed - best_mz)) {
      best = k;
      best_mz = peak;
    }
  }
  const double ppm = (observed - best_mz) / best_mz * 1e6;
  out.has_offset = true;
  out.offset_value = best;
  out.matched = std::fabs(ppm) <= options_.precursor_tolerance_ppm;
  out.ppm_value = ppm;
  append_float_repr(out.ppm, ppm);
  if (out.matched) {
    out.offset = std::to_string(best);
    return;
  }
  char error[64];
  std::snprintf(error, sizeof error, "%+.1f ppm", ppm);
  out.offset_note = (z == 0 ? "neutral mass " : "precursor m/z ") + float_repr(observed) + " lies within " +
                    ppm_text(options_.precursor_tolerance_ppm) +
                    " ppm of no isotope peak: the nearest is peak " + (best > 0 ? "+" : "") + std::to_string(best) +
                    " at " + error + " (check the row's charge, glycan and modifications); its GP_Isotope_Offset "
                    "was left empty";
}

// A modification string ("2,C,Carbamidomethyl/3,M,Oxidation") and a glycan
// as a peptidoform without its charge: each modification by the Unimod
// title of its composition (or its formula), the glycan at its site.
std::string RowComputer::proforma_body(std::string_view residues, std::string_view mods, const GlycanCounts& counts,
                                       std::optional<std::size_t> glycan_site) const {
  std::vector<ProformaMod> placed;
  for (std::size_t p = 0; p < mods.size();) {
    std::size_t end = mods.find('/', p);
    if (end == std::string_view::npos) end = mods.size();
    const std::string_view entry = mods.substr(p, end - p);
    p = end + 1;
    const std::size_t first = entry.find(','), second = entry.find(',', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view name = entry.substr(second + 1);
    const Composition comp = name.substr(0, 8) == "Formula:" ? proforma_formula(name.substr(8))
                                                              : model_.modifications.resolve(name);
    placed.push_back({static_cast<std::size_t>(text::digits_value(entry.substr(0, first))),
                      proforma_modification(comp, model_.titles.get())});
  }
  return proforma_text(residues, placed, proforma_glycan(model_.glycans, counts), glycan_site, std::nullopt);
}

// The vocabulary's counts of a Glycan string ("N4H5F1S0G0"); codes the
// vocabulary does not hold are left out.
GlycanCounts RowComputer::counts_of(const std::string& glycan) const {
  GlycanCounts counts = model_.glycans.zero_counts();
  for (const auto& [code, n] : glycan_counter(glycan))
    if (std::optional<std::size_t> i = model_.glycans.by_code(code)) counts[*i] = n;
  return counts;
}

void RowComputer::add_proforma(const Result& r, std::optional<long> charge, RowOutput& out) const {
  out.proforma = r.proforma;
  if (charge) {
    out.proforma += '/';
    out.proforma += std::to_string(*charge);
  }
}

void RowComputer::add_row_proforma(const RowCells& cells, const Result& r, RowOutput& out) const {
  const char* why = "";
  add_proforma(r, options_.charge_column ? read_charge(cells.charge, why) : std::nullopt, out);
}

}  // namespace isotope
