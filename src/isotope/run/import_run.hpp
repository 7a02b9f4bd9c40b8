// A search engine's result table through the pipeline (isotope_input_format).
//
// The table is read as the engine wrote it (tab-separated, or CSV for
// GlycReSoft; cells kept as text), each row is mapped to the model by the
// format's importer, and the output holds the input's columns verbatim,
// then PepSeq (our bracketed form), the count columns, Glycan, PepMods,
// GP_Mass, GP_Isotopes, GP_MZ, GP_Isotopes_MZ, GP_Isotope_Offset and
// GP_PPM, the charge and precursor m/z coming from the format's own
// columns. A row that cannot be mapped keeps its cells and gets empty ones
// for the rest, with a warning (an error in strict mode); decoy rows get
// empty cells too and are counted in one summary line. Rows are computed on
// worker threads and written in table order, as in our own format.
#pragma once

#include <string>

#include "isotope/formats/importers.hpp"
#include "isotope/io/output_file.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/run/console.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/rows.hpp"

namespace isotope {

// The columns of an engine table's header for a run (the run's precursor
// tolerance set); a lookup Error names a missing column.
ImportColumns run_columns(const std::vector<std::string>& header, const Options& options);

// The note on a table as a whole (a FragPipe table without glycan
// compositions), or nothing.
std::string table_note(const ImportColumns& columns);

// One row of a search engine's table: mapped (map_row), computed when it
// maps (out's cells), or left empty with a note (unmapped) or silently
// (decoy). Returns the row's status; a failure of the computation is an
// Error whose column() is set through column.
RowStatus import_row(const ImportColumns& columns, const std::vector<std::string>& cells, const RunModel& model,
                     RowComputer& rows, RowOutput& out, NoteSink& notes, std::string_view& column);

// Processes the engine table input_file (options.input_format set) into
// file, with `threads` workers; the caller has printed the start message and
// opened the output. Commits the file when every row is done.
void run_import(const std::string& input_file, OutputFile& file, const Options& options, const RunModel& model,
                const Console& console, unsigned threads);

}  // namespace isotope
