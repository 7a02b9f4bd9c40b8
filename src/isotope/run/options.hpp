// The options of a run, typed: the one place that reads the parameter
// file's text (and the ISOTOPE_THREADS variable). The pipeline, the native
// program and the Python module all take an Options value; no other code
// looks at raw parameter text.
//
// The parameter file may be shared with other tools: options this tool does
// not know are accepted and ignored, and every option of ours carries the
// prefix "isotope_". Every option is one row of the table in options.cpp,
// which both reads it and lets option_warnings know its name. A malformed
// value of an option is a value Error naming the option and its line in
// the parameter file; the error of isotope_peaks_num comes when the first
// row needs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/formats/engine_format.hpp"
#include "isotope/model/glycan_vocabulary.hpp"
#include "isotope/io/table_reader.hpp"
#include "isotope/model/modifications.hpp"
#include "isotope/pattern/envelope.hpp"
#include "isotope/run/console.hpp"
#include "isotope/run/params.hpp"

namespace isotope {

enum class OnError { Stop, Continue };

// isotope_monosaccharide.NAME = FORMULA.
struct MonosaccharideDefinition {
  std::string name;
  Composition composition;
};

struct Options {
  std::string param_file;

  // isotope_peaks_num: the generator's maximal isotope (0: no limit). Read
  // as Python's int() reads text. A missing or malformed value is not an
  // error until a row needs it (a table without rows never does), so the
  // error is kept here and raised by peaks_num().
  std::optional<std::int64_t> peaks_num_value;
  std::optional<Error> peaks_num_error;
  // The value of isotope_peaks_num, or its error, placed at the parameter
  // file.
  std::int64_t peaks_num() const;

  // isotope_strict = true: rows that rest on a guess fail the table.
  bool strict = false;
  // isotope_on_error = continue: a folder run goes on past a failing table.
  OnError on_error = OnError::Stop;
  // isotope_threads = N (0: every core); nullopt when not given.
  std::optional<unsigned> threads;

  // isotope_charge_column: the column of each row's charge.
  std::optional<std::string> charge_column;
  // isotope_charges = 2,3,4: m/z columns at these charges (none zero).
  std::vector<int> charges;
  // isotope_coverage: peaks until their probabilities reach this share.
  std::optional<double> coverage;
  // isotope_normalize = sum | max | none.
  Normalize normalize = Normalize::Sum;
  // isotope_precursor_mz_column: the observed precursor m/z (needs
  // isotope_charge_column).
  std::optional<std::string> precursor_mz_column;
  // isotope_precursor_tolerance_ppm: how far (in ppm) an observed
  // precursor may lie from an isotope peak and still be matched to it.
  double precursor_tolerance_ppm = 20;
  // isotope_modification.NAME = FORMULA, in file order.
  std::vector<ModificationDefinition> modifications;
  // isotope_monosaccharide.NAME = FORMULA, in file order: entries of the
  // run's glycan vocabulary, new or replaced.
  std::vector<MonosaccharideDefinition> monosaccharides;
  // isotope_count_columns = Xyl,KDN: vocabulary entries whose counts our
  // tables hold in columns of these names, after the five.
  std::vector<std::string> count_columns;
  // isotope_unimod = true: unknown modification names are looked up in
  // the Unimod database. Unset, it is on for search-engine tables (their
  // modification names are Unimod's) and off for ours.
  std::optional<bool> unimod;
  bool unimod_lookup() const { return unimod.value_or(input_format.has_value()); }
  // isotope_input_format: a search engine's result table instead of ours.
  std::optional<EngineFormat> input_format;
  // isotope_proforma_column: the column of a ProForma table's peptidoforms.
  std::string proforma_column = "Peptidoform";
  // isotope_proforma_output = true: every row's peptidoform in ProForma
  // (GP_ProForma).
  bool proforma_output = false;
  // isotope_separator = whitespace | tab | comma | semicolon: what separates
  // the fields of our own tables (refused with isotope_input_format).
  Separator separator = Separator::Whitespace;
  // isotope_skip_outputs = true: a folder run whose output folder is its
  // input folder skips the earlier outputs there.
  bool skip_outputs = false;

  // The MS1 evidence of each row (the MS1_* columns).
  // isotope_spectra: an mzML run, or a folder of them that rows name by
  // isotope_spectra_file_column (its value matched to a file's base name
  // without extension).
  std::optional<std::string> spectra;
  std::optional<std::string> spectra_file_column;
  // isotope_scan_column: each row's MS2 spectrum, by scan number or native
  // id; isotope_rt_column: without one, the retention time (minutes) whose
  // nearest MS1 spectrum a row is matched in.
  std::optional<std::string> scan_column;
  std::optional<std::string> rt_column;
  // isotope_ms1_tolerance_ppm: how far a centroid may lie from a reported
  // peak and still be matched to it.
  double ms1_tolerance_ppm = 10;
  // isotope_ms1_offset_margin: by how much a shifted envelope's cosine must
  // beat the reported one's to set MS1_Offset.
  double ms1_offset_margin = 0.05;
  // isotope_rt_window_min: the half-width (minutes) of the retention-time
  // window around a row's MS2 spectrum its MS1_Area integrates over.
  double rt_window_min = 0.5;
};

// Types the options of a parameter file.
Options read_options(const ParamFile& file);

// The glycan vocabulary of a run: the built-in one with the options'
// monosaccharide definitions and count columns.
GlycanVocabulary run_vocabulary(const Options& options);
// The options the tool knows, a family of named options as
// "isotope_modification.NAME".
std::vector<std::string> known_options();

// Warnings on the option names of a parameter file, in line order, each
// naming its line and the file: a name with the prefix "isotope_" that no
// option has, and a name within two edits of an option's (letter case
// aside, prefix included: "isotop_charge_column"), each with the closest
// known names; an option of ours set twice, naming both lines (the later
// value is the one used). Other names are other tools' options: no word.
std::vector<std::string> option_warnings(const ParamFile& file);

// Shows option_warnings(file) through console.warning, once per run: while
// an OptionsWarned lives on the calling thread (a folder run holds one over
// its tables, whose runs read the same file), it shows nothing.
void warn_options(const ParamFile& file, const Console& console);
// The same for the parameter file at param_file. A file that cannot be read
// gets no warning here: the run that reads it reports its error.
void warn_options(const std::string& param_file, const Console& console);

class OptionsWarned {
 public:
  OptionsWarned();
  ~OptionsWarned();
  OptionsWarned(const OptionsWarned&) = delete;
  OptionsWarned& operator=(const OptionsWarned&) = delete;

 private:
  bool outer_;
};

// The number of worker threads of a run: isotope_threads when given, else
// the environment variable ISOTOPE_THREADS (env_threads: its value, or
// nullptr when unset), else every core the process may use (its CPU
// affinity mask); 0 in either place means every core too. An invalid
// value is a value Error naming the variable.
unsigned resolve_threads(const Options& options, const char* env_threads);

// A run takes 0 (every core the process may use) to kMaxThreads threads:
// the number of threads n asks for, or nullopt when n is out of range.
inline constexpr std::int64_t kMaxThreads = 4096;
std::optional<unsigned> thread_count(std::int64_t n);

// The cores the process may use (at least 1).
unsigned usable_cores();

}  // namespace isotope
