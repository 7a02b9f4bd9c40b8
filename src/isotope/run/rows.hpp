// The results of one table row: what a row's cells become (the glycan
// string, the modification string, the mass and the isotope pattern), and
// the notes on cells whose result rests on a guess.
//
// A row is given as typed cells (the raw text and the ColumnType pandas
// gives it), whether it comes from a table file or from a DataFrame, so the
// file route and the DataFrame route compute the same text. A RowComputer
// belongs to one worker thread: it remembers the results of the
// glycopeptides it has seen (bounded memories) and reuses its buffers, so a
// row that repeats a glycopeptide allocates nothing.
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "isotope/io/cells.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/model/modifications.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/pattern/envelope.hpp"
#include "isotope/pattern/peak_positions.hpp"
#include "isotope/pattern/workspace.hpp"
#include "isotope/run/note_kind.hpp"
#include "isotope/run/options.hpp"

namespace isotope {

struct ImportedRow;  // formats/imported_row.hpp

// One cell: its raw text and type; `present` is false for a column the
// table lacks.
struct Cell {
  ColumnType type = ColumnType::Text;
  std::string_view raw;
  bool present = false;
};

// The cells a row of our format is computed from.
struct RowCells {
  Cell pep_seq;
  std::vector<Cell> counts;  // one per count column of the vocabulary, in order
  Cell charge;     // isotope_charge_column's cell
  Cell precursor;  // isotope_precursor_mz_column's cell
};

// The spacing of a peak below the monoisotopic one (13C - 12C), in daltons.
inline constexpr double kC13Spacing = 1.0033548378;

// The columns a run adds.
enum class Added : std::uint8_t {
  None,
  Glycan, PepMods, Mass, Isotopes,             // every run
  Mz, IsotopesMz, MzAt, Offset, Ppm,           // m/z options (MzAt: one per charge)
  PepSeq, CountCell,                           // search-engine tables (CountCell: one per count column)
  ProForma,                                    // isotope_proforma_output
  Ms1Scan, Ms1Rt, Ms1Intensities, Ms1Found, Ms1Cosine, Ms1Ppm, Ms1Offset,  // isotope_spectra
  Ms1Area, Ms1ApexRt, Ms1Overlaps,
};
struct AddedColumn {
  std::string name;
  Added kind;
  std::size_t which = 0;  // MzAt: the charge's index; CountCell: the code's index
};
// Our format: Glycan, PepMods, GP_Mass, GP_Isotopes, then GP_MZ and
// GP_Isotopes_MZ (isotope_charge_column), GP_MZ_z<charge> (isotope_charges),
// GP_Isotope_Offset and GP_PPM (isotope_precursor_mz_column), GP_ProForma
// (isotope_proforma_output), then the MS1 evidence columns (isotope_spectra).
std::vector<AddedColumn> added_columns(const Options& options);
// A search engine's table: PepSeq, the count columns (N, H, F, S, G),
// Glycan, PepMods, GP_Mass, GP_Isotopes, GP_MZ, GP_Isotopes_MZ, then
// GP_MZ_z<charge> for each of the options' charges (for an engine table,
// the charges a GlycReSoft identification export lists),
// GP_Isotope_Offset, GP_PPM, and GP_ProForma and the MS1 evidence columns
// when asked for.
std::vector<AddedColumn> imported_columns(const GlycanVocabulary& glycans, const Options& options);

// A tolerance as messages write it: 20, 2.5.
std::string ppm_text(double ppm);

// The spacing of an envelope's reported peaks in m/z: that of its first two
// peaks, or a 13C spacing at the charge for a one-peak envelope.
inline double peak_spacing(std::span<const double> mz, int charge) {
  return mz.size() >= 2 ? mz[1] - mz[0] : kC13Spacing / (charge == 0 ? 1 : std::abs(charge));
}

// The note on the cell that made count column `code` float-held.
std::string float_column_note(std::string_view code, const Cell& cause);

// A row's envelope in its MS1 spectrum, as cells (empty where unknown) and
// the numbers they are written from (NaN where empty).
struct Ms1Evidence {
  std::string scan, rt, intensities, found, cosine, ppm, offset, area, apex_rt, overlaps;
  double rt_value, found_value, cosine_value, ppm_value, offset_value, area_value, apex_rt_value, overlaps_value;
  std::vector<double> intensity_values;
};
// The MS1 evidence columns: MS1_Scan, MS1_RT, MS1_Intensities,
// MS1_Peaks_Found, MS1_Cosine, MS1_PPM, MS1_Offset, MS1_Area, MS1_Apex_RT,
// MS1_Overlaps.
void add_ms1_columns(std::vector<AddedColumn>& out);

// What a row adds, as text for the output (views valid until the next
// compute call).
struct RowOutput {
  std::string pep_seq;  // search-engine rows: our bracketed PepSeq
  std::vector<std::string> counts;  // search-engine rows: one per count column
  std::string glycan;
  std::string_view mods;
  std::string_view mass;
  double mass_value = 0;
  std::string_view isotopes;
  std::size_t peaks = 0;  // the number of isotope peaks
  // The m/z columns the options ask for (empty cells when the row's charge
  // or precursor is unusable).
  std::string mz, isotopes_mz;
  std::vector<std::string> mz_at;  // one per isotope_charges entry
  std::string offset, ppm;
  // The precursor check: has_offset when it ran; matched when the observed
  // precursor lies within the tolerance of peak offset_value (GP_Isotope_
  // Offset then holds it); else offset_note says what was nearest.
  int offset_value = 0;
  bool has_offset = false;
  bool matched = false;
  std::string offset_note;
  // The row's pattern or mass is not finite: what to check.
  std::string non_finite_note;
  // PepSeq holds J (read as Leu/Ile) in a row with a glycan.
  bool j_residue = false;
  std::string proforma;  // GP_ProForma
  // The charge of GP_MZ (0 when the row has none), and the observed
  // precursor m/z its check ran with (0 when none).
  int charge = 0;
  double observed_mz = 0;
  // The row's MS1 evidence (isotope_spectra), set by the run.
  const Ms1Evidence* ms1 = nullptr;
  // The numbers the cells above are written from, for a caller that keeps
  // numbers: each is the row's own where its text is not empty.
  std::span<const double> intensity;       // GP_Isotopes
  double mz_value = 0;                     // GP_MZ
  std::vector<double> isotopes_mz_value;   // GP_Isotopes_MZ
  std::vector<double> mz_at_value;         // GP_MZ_z<charge>, per isotope_charges entry
  double ppm_value = 0;                    // GP_PPM
};

// The text of an added cell of a computed row (not quoted).
std::string_view added_text(const RowOutput& out, Added kind, std::size_t which);


class RowComputer {
 public:
  // The model names the run's residues, monosaccharides and modifications
  // (the tables' mod_comp with the parameter file's definitions, and
  // Unimod when asked).
  RowComputer(const RunModel& model, const Options& options);

  // Computes a row's results. A failure is an Error whose column() names
  // the column at fault (set through `column`, the step at work). Notes on
  // the row's cells go to notes.
  void compute(const RowCells& cells, RowOutput& out, NoteSink& notes, std::string_view& column);

  // The results of a search-engine row mapped to the model (status Ok): its
  // composition is the row's own. The m/z columns come from the row's
  // charge and precursor (or neutral mass), or from the charges it lists
  // (GP_MZ_z<charge> for the options' charges, the precursor check on its
  // neutral mass); false when it has no usable charge (the m/z cells are
  // then empty).
  bool compute_imported(const ImportedRow& row, RowOutput& out, std::string_view& column);

 private:
  // A pattern, remembered per pattern formula.
  struct Pattern {
    std::string isotopes;         // GP_Isotopes
    std::vector<double> intensity;  // its numbers
    std::size_t peaks = 0;
    std::vector<double> offsets;  // each peak's mass minus peak 0's (m/z columns only)
    bool finite = true;           // every intensity is finite
  };
  struct Result {
    std::string mods, mass, isotopes;
    std::vector<double> intensity;
    double mass_value = 0;
    std::size_t peaks = 0;
    std::vector<double> offsets;
    std::optional<std::string> pep_seq_problem;
    std::string non_finite_note;
    bool j_residue = false;
    std::string proforma;  // the peptidoform without its charge
  };
  const Result& glycopeptide(std::string_view pep_seq, const std::string& glycan, std::string_view& column);
  const Result* recall(std::string_view pep_seq, std::string_view glycan);
  const Result& keep(const Result& r);
  void compute_pattern(Pattern& p);
  std::string proforma_body(std::string_view residues, std::string_view mods, const GlycanCounts& counts,
                            std::optional<std::size_t> glycan_site) const;
  GlycanCounts counts_of(const std::string& glycan) const;
  void add_proforma(const Result& r, std::optional<long> charge, RowOutput& out) const;
  void add_row_proforma(const RowCells& cells, const Result& r, RowOutput& out) const;
  void add_residues(std::string_view seq, Composition& total);
  void add_glycan(const std::string& glycan, Composition& total);
  void finish(const Composition& gp, Result& r, std::string_view& column);
  static void fill_mz(const Result& r, int z, RowOutput& out);
  void fill_offset(const Result& r, int z, double observed, RowOutput& out) const;
  bool fill_listed(const Result& r, const ImportedRow& row, RowOutput& out) const;
  void note_counts(const RowCells& cells, const std::string& glycan, NoteSink& notes);
  void add_mz(const RowCells& cells, const Result& r, RowOutput& out, NoteSink& notes);
  template <class Value>
  const Value& remember(std::unordered_map<std::string, Value>& memory, std::size_t& used, const std::string& key,
                        Value value, std::size_t bytes);

  const RunModel& model_;
  const Options& options_;
  std::optional<std::int64_t> n_;  // isotope_peaks_num, read at the first row computed
  std::unordered_map<std::string, Result> rows_;
  std::unordered_map<std::string, Pattern> patterns_;
  std::size_t rows_bytes_ = 0, patterns_bytes_ = 0;
  // Hits and lookups of the glycopeptide memory: on a table of distinct
  // glycopeptides it costs more than it saves, and is switched off.
  std::size_t hits_ = 0, lookups_ = 0;
  bool remembering_ = true;
  bool want_mz_ = false;  // m/z columns asked for: peak positions needed
  Result scratch_;
  Pattern pattern_scratch_;
  std::string key_, formula_, pattern_formula_;
  PeptideParts peptide_;
  // The residue and monosaccharide table entries, looked up once.
  std::array<const Composition*, 26> residues_{};
  std::vector<const Composition*> monosaccharides_;  // per count column
  PatternWorkspace ws_;
  PeakPositions positions_;
  Envelope envelope_;
};

}  // namespace isotope
