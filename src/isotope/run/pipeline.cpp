// The single-file pipeline: two passes over the table (typing, then
// computing and writing), results remembered per glycopeptide and per
// formula, and the output written through OutputFile.
#include "isotope/run/pipeline.hpp"

#include <array>
#include <unordered_map>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/io/output_file.hpp"
#include "isotope/io/table.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/progress.hpp"
#include "morvandel/utils/path_full_split.hpp"

namespace isotope {

ModelTables ModelTables::reference() {
  const ReferenceTables& t = reference_tables();
  return ModelTables{t.aa_comp, t.mod_comp, t.gly_comp};
}

std::string start_message(std::string_view input_file) {
  std::string line = "Build isotope patterns for ";
  line += input_file;
  line += '\n';
  return line;
}

std::string output_path(std::string_view output_dir, std::string_view base_name) {
  std::string path(output_dir);
  path += '/';
  path += base_name;
  path += "_isotope_pyopenms.txt";
  return path;
}

namespace {

// ---------------------------------------------------------------------------

constexpr std::size_t kFlushBytes = std::size_t{1} << 20;
constexpr std::array<std::string_view, 5> kCountColumns = {"N", "H", "F", "S", "G"};
constexpr std::array<std::string_view, 4> kAddedColumns = {"Glycan", "PepMods", "GP_Mass", "GP_Isotopes"};

std::ptrdiff_t find_column(const std::vector<std::string>& names, std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

void append_intensities(std::string& out, const std::vector<double>& intensities) {
  for (std::size_t i = 0; i < intensities.size(); ++i) {
    if (i) out += ',';
    append_float_repr(out, intensities[i]);
  }
}

// What a row adds to the table, in output form.
struct GlycopeptideResult {
  std::string mods;      // PepMods
  std::string mass;      // GP_Mass
  std::string isotopes;  // GP_Isotopes
};

// Computes the results of a glycopeptide from its PepSeq text and glycan
// string. The same glycopeptide comes back in many rows (one per spectrum),
// so results are remembered by those two texts, and isotope patterns by
// formula; both memories are bounded. Only successful results are kept: a
// failing row is computed afresh and fails the same way. `column` follows
// the step at work, for the place of an error.
class GlycopeptideComputer {
 public:
  GlycopeptideComputer(const ModelTables& tables, const Options& options) : tables_(tables), options_(options) {}

  const GlycopeptideResult& compute(std::string_view pep_seq, const std::string& glycan, std::string_view& column) {
    key_.assign(pep_seq);
    key_ += '\0';
    key_ += glycan;
    if (auto hit = rows_.find(key_); hit != rows_.end()) return hit->second;

    GlycopeptideResult result;
    column = "PepSeq";
    split_peptide(pep_seq, peptide_);
    Composition gp = calc_pep_comp(peptide_.seq, peptide_.mods, tables_.aa_comp, tables_.mod_comp);
    column = "Glycan";
    gp += calc_glycan_comp(glycan, tables_.gly_comp);
    gp += water_;
    column = {};
    if (!n_) n_ = options_.peaks_num();
    column = "GP_Isotopes";
    formula_.clear();
    append_formula(formula_, gp);
    if (auto hit = patterns_.find(formula_); hit != patterns_.end()) {
      result.isotopes = hit->second;
    } else {
      append_intensities(result.isotopes, calc_iso_dist(formula_, IsoOptions{true, *n_}));
      remember(patterns_, patterns_bytes_, formula_, result.isotopes, formula_.size() + result.isotopes.size());
    }
    column = "GP_Mass";
    append_float_repr(result.mass, gp.mass());
    result.mods = peptide_.mods;
    std::size_t bytes = key_.size() + result.mods.size() + result.mass.size() + result.isotopes.size();
    return remember(rows_, rows_bytes_, key_, std::move(result), bytes);
  }

 private:
  // Each memory holds at most this many bytes of text: when the next entry
  // would pass it, the memory starts afresh. Realistic tables repeat a few
  // thousand glycopeptides; a table of megabyte cells cannot fill memory.
  static constexpr std::size_t kMaxCachedBytes = std::size_t{4} << 20;

  template <class Value>
  static const Value& remember(std::unordered_map<std::string, Value>& memory, std::size_t& used,
                               const std::string& key, Value value, std::size_t bytes) {
    constexpr std::size_t kEntryOverhead = 64;  // node, hash and string headers
    if (used + bytes + kEntryOverhead > kMaxCachedBytes) {
      memory.clear();
      used = 0;
    }
    used += bytes + kEntryOverhead;
    return memory.insert_or_assign(key, std::move(value)).first->second;
  }

  const ModelTables& tables_;
  const Options& options_;
  const Composition water_ = {{"H", 2}, {"O", 1}};
  std::optional<std::int64_t> n_;  // isotope_peaks_num, read at the first row
  std::unordered_map<std::string, GlycopeptideResult> rows_;
  std::unordered_map<std::string, std::string> patterns_;
  std::size_t rows_bytes_ = 0, patterns_bytes_ = 0;
  std::string key_, formula_;
  PeptideParts peptide_;
};

}  // namespace

void run_single_file(const std::string& input_file, const std::optional<std::string>& output_dir,
                     const std::string& param_file, const ModelTables& tables, const Console& console) {
  console.out(start_message(input_file));
  const morvandel::utils::PathParts parts = morvandel::utils::path_full_split(input_file);
  const Options options = read_options(read_param(param_file), param_file);
  const TableLayout layout = scan_table(input_file);

  // Output columns: the input's, then the computed ones it lacks.
  std::vector<std::string> names;
  for (const auto& c : layout.columns) names.push_back(c.name);
  const std::size_t n_in = names.size();
  for (auto added : kAddedColumns)
    if (find_column(names, added) < 0) names.emplace_back(added);
  const auto glycan_col = static_cast<std::size_t>(find_column(names, "Glycan"));
  const auto mods_col = static_cast<std::size_t>(find_column(names, "PepMods"));
  const auto mass_col = static_cast<std::size_t>(find_column(names, "GP_Mass"));
  const auto iso_col = static_cast<std::size_t>(find_column(names, "GP_Isotopes"));
  const std::ptrdiff_t pep_col = find_column(names, "PepSeq");
  std::array<std::ptrdiff_t, 5> count_cols;
  for (std::size_t k = 0; k < 5; ++k) count_cols[k] = find_column(names, kCountColumns[k]);
  // find_column looks at the output names, which start with the input's.
  auto input_column = [&](std::ptrdiff_t i) { return i >= 0 && static_cast<std::size_t>(i) < n_in; };

  std::optional<OutputFile> file;
  std::string target;
  if (output_dir) {
    target = output_path(*output_dir, parts.base);
    file.emplace(target);
  }

  TableReader reader(input_file);
  std::vector<std::string> fields;
  long line = 0;
  reader.next(fields, line);  // the header, already named by scan_table

  std::string buffer, glycan;
  GlycopeptideComputer computer(tables, options);
  Progress progress(console);
  std::size_t row = 0;
  std::string_view column;
  for (; reader.next(fields, line); ++row) {
    const std::vector<ColumnType>& types = layout.row_types(row);
    fields.resize(n_in);  // a short row has missing cells at its end
    try {
      // The glycan string from the five count cells, as str() shows them.
      column = "Glycan";
      glycan.clear();
      for (std::size_t k = 0; k < 5; ++k) {
        if (!input_column(count_cols[k])) {
          column = {};
          throw Error::lookup("table has no column", kCountColumns[k]);
        }
        auto c = static_cast<std::size_t>(count_cols[k]);
        glycan += kCountColumns[k];
        append_py_str(glycan, types[c], fields[c]);
      }
      column = {};
      if (!input_column(pep_col)) throw Error::lookup("table has no column", "PepSeq");
      column = "PepSeq";
      auto p = static_cast<std::size_t>(pep_col);
      if (!is_text_value(types[p], fields[p]))
        throw Error::type("expected string or bytes-like object, got a " +
                          std::string(is_missing_value(types[p], fields[p]) ? "missing cell" : "number"));
      const GlycopeptideResult& result = computer.compute(fields[p], glycan, column);

      if (file) {
        if (row == 0) {
          for (std::size_t j = 0; j < names.size(); ++j) {
            if (j) buffer += '\t';
            append_quoted_field(buffer, names[j]);
          }
          buffer += '\n';
        }
        for (std::size_t j = 0; j < names.size(); ++j) {
          if (j) buffer += '\t';
          if (j == glycan_col)
            append_quoted_field(buffer, glycan);
          else if (j == mods_col)
            append_quoted_field(buffer, result.mods);
          else if (j == mass_col)
            buffer += result.mass;
          else if (j == iso_col)
            buffer += result.isotopes;
          else
            append_output_cell(buffer, types[j], fields[j]);
        }
        buffer += '\n';
        if (buffer.size() >= kFlushBytes) file->write(buffer);
      }
    } catch (Error& e) {
      throw e.at(input_file, line, column);
    }
    progress.tick();
  }
  progress.close();

  if (!output_dir)
    throw Error::type("no output directory given: cannot build the output path for " + py_repr(input_file));
  if (row == 0) buffer.assign(1, '\n');  // no rows: no columns either, an empty header line
  file->write(buffer);
  file->commit();
}

}  // namespace isotope
