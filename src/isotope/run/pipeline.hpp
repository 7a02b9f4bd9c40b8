// The single-file pipeline: one table of glycopeptide identifications in,
// the same table with the columns Glycan, PepMods, GP_Mass and GP_Isotopes
// (and those parameter options add) out, written as
// "<base name>_isotope_pyopenms.txt" into the output folder.
//
// Two passes over the file: the first types every column as pandas would
// and counts the rows, the second computes and writes them. Both run on a
// pool of worker threads (run_ordered): rows are read in blocks, computed in
// parallel, and written, warned about and counted in table order by the
// calling thread, so the output bytes, the warnings and the error reported
// are the same for every number of threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "isotope/run/console.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/rows.hpp"

namespace isotope {

// The line a table run starts with: "Build isotope patterns for <input>\n".
// Callers that fail before the run proper (an input that is no path) print
// it too, so that it stays worded in one place.
std::string start_message(std::string_view input_file);

// The output path: output_dir, "/", base name, "_isotope_pyopenms.txt", by
// plain concatenation.
std::string output_path(std::string_view output_dir, std::string_view base_name);

// How a run is made beyond its parameter file.
struct RunSettings {
  // Worker threads; 0: as the options and ISOTOPE_THREADS say.
  unsigned threads = 0;
};

// Processes one table. In order: prints the message, splits the input path,
// checks the output folder (a missing or unwritable folder, or none given,
// fails at once), reads the parameter file, types the table (the first
// pass), then computes every row and streams it into a temporary file in
// the output folder, which replaces the output file only once complete.
// Errors name the file, the line and the column involved; the first failing
// row in table order is the one reported. A failed table leaves no new file
// and never touches an existing one.
void run_single_file(const std::string& input_file, const std::optional<std::string>& output_dir,
                     const std::string& param_file, const ModelTables& tables, const Console& console,
                     const RunSettings& settings = {});

}  // namespace isotope
