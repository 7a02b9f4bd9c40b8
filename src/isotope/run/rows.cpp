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
#include "isotope/pattern/isotope_pattern.hpp"

namespace isotope {

ModelTables ModelTables::reference() {
  const ReferenceTables& t = reference_tables();
  return ModelTables{t.aa_comp, t.mod_comp, t.gly_comp};
}

namespace {

// Each memory holds at most this many bytes of text: when the next entry
// would pass it, the memory starts afresh. Realistic tables repeat a few
// thousand glycopeptides; a table of megabyte cells cannot fill memory.
constexpr std::size_t kMaxCachedBytes = std::size_t{4} << 20;
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

bool is_bool_word(std::string_view raw) {
  return text::equals_ascii_lower(raw, "true") || text::equals_ascii_lower(raw, "false");
}

// Why a count cell is no non-negative whole number, or nullptr. The cell's
// text decides ("4" in a column of text is a whole number), except that
// whether it is missing follows its type.
const char* count_problem(const Cell& cell) {
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

RowComputer::RowComputer(const ModelTables& tables, const Options& options) : tables_(tables), options_(options) {}

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

const RowComputer::Result& RowComputer::glycopeptide(std::string_view pep_seq, const std::string& glycan,
                                                     std::string_view& column) {
  if (remembering_) {
    key_.assign(pep_seq);
    key_ += '\0';
    key_ += glycan;
    ++lookups_;
    if (auto hit = rows_.find(key_); hit != rows_.end()) {
      ++hits_;
      return hit->second;
    }
    if (lookups_ == kTrialLookups) {
      if (hits_ * 8 < lookups_) {
        remembering_ = false;
        rows_ = {};
        patterns_ = {};
      }
      hits_ = lookups_ = 0;
    }
  }

  Result& r = scratch_;
  r.mods.clear();
  r.mass.clear();
  r.isotopes.clear();
  column = "PepSeq";
  split_peptide(pep_seq, peptide_);
  Composition gp = calc_pep_comp(peptide_.seq, peptide_.mods, tables_.aa_comp, tables_.mod_comp);
  column = "Glycan";
  gp += calc_glycan_comp(glycan, tables_.gly_comp);
  gp += water();
  column = {};
  if (!n_) n_ = options_.peaks_num();
  column = "GP_Isotopes";
  formula_.clear();
  append_formula(formula_, gp);
  if (auto hit = remembering_ ? patterns_.find(formula_) : patterns_.end(); hit != patterns_.end()) {
    r.isotopes = hit->second;
  } else {
    intensities_ = calc_iso_dist(formula_, IsoOptions{true, *n_});
    append_intensities(r.isotopes, intensities_);
    if (remembering_)
      remember(patterns_, patterns_bytes_, formula_, r.isotopes, formula_.size() + r.isotopes.size());
  }
  r.peaks = r.isotopes.empty() ? 0 : static_cast<std::size_t>(std::count(r.isotopes.begin(), r.isotopes.end(), ',')) + 1;
  column = "GP_Mass";
  append_float_repr(r.mass, gp.mass());
  r.mods = peptide_.mods;
  r.pep_seq_problem = pep_seq_problem(pep_seq);
  if (!remembering_) return r;
  std::size_t bytes = key_.size() + r.mods.size() + r.mass.size() + r.isotopes.size();
  return remember(rows_, rows_bytes_, key_, r, bytes);
}

void RowComputer::note_counts(const RowCells& cells, const std::string& glycan, NoteSink& notes) {
  struct Bad {
    std::size_t k;
    const char* why;
  };
  std::array<Bad, 5> bad{};
  std::size_t n = 0;
  for (std::size_t k = 0; k < cells.counts.size(); ++k)
    if (const char* why = count_problem(cells.counts[k])) bad[n++] = {k, why};
  if (n == 0) return;
  // What the glycan string gave for each code: the count the mass rests on.
  const Counts read = glycan_counter(glycan);
  auto cell = [&](const Bad& b) { return std::string(kCountColumns[b.k]) + " " + py_repr(cells.counts[b.k].raw); };
  auto value = [&](const Bad& b) { return std::to_string(read.get(kCountColumns[b.k]).value_or(0)); };
  auto join = [&](auto part) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (i == 0 ? "" : i + 1 == n ? " and " : ", ") + part(bad[i]);
    return out;
  };
  std::string text;
  if (n == 1) {
    text = "count cell " + cell(bad[0]) + " is " + bad[0].why + ", not a non-negative whole number: it was read as " +
           value(bad[0]);
  } else {
    text = "count cells " + join([&](const Bad& b) { return cell(b) + " (" + b.why + ")"; }) +
           " are not non-negative whole numbers: they were read as " + join(value);
  }
  text += " (Glycan " + py_repr(glycan) + ")";
  notes.note(NoteKind::Counts, text);
}

void RowComputer::compute(const RowCells& cells, RowOutput& out, NoteSink& notes, std::string_view& column) {
  // The glycan string from the five count cells, as str() shows them.
  column = "Glycan";
  out.glycan.clear();
  for (std::size_t k = 0; k < cells.counts.size(); ++k) {
    const Cell& c = cells.counts[k];
    if (!c.present) {
      column = {};
      throw Error::lookup("table has no column", kCountColumns[k]);
    }
    out.glycan += kCountColumns[k];
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
  out.isotopes = r.isotopes;
  out.peaks = r.peaks;
  if (r.pep_seq_problem) notes.note(NoteKind::PepSeq, *r.pep_seq_problem);
  note_counts(cells, out.glycan, notes);
}

}  // namespace isotope
