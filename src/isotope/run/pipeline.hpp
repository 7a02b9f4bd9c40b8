// The single-file pipeline: one table of glycopeptide identifications in,
// the same table with the columns Glycan, PepMods, GP_Mass and GP_Isotopes
// out, written as "<base name>_isotope_pyopenms.txt" into the output folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "isotope/model/composition.hpp"
#include "isotope/run/console.hpp"

namespace isotope {

// The composition tables a run reads.
struct ModelTables {
  const CompTable& aa_comp;
  const CompTable& mod_comp;
  const CompTable& gly_comp;
  static ModelTables reference();  // the built-in reference tables
};

// The line a table run starts with: "Build isotope patterns for <input>\n".
// Callers that fail before the run proper (an input that is no path) print
// it too, so that it stays worded in one place.
std::string start_message(std::string_view input_file);

// The output path: output_dir, "/", base name, "_isotope_pyopenms.txt", by
// plain concatenation.
std::string output_path(std::string_view output_dir, std::string_view base_name);

// Processes one table. In order: prints the message, splits the input path,
// reads the parameter file, types the table (a first pass over it), then
// computes every row and streams it into a temporary file in the output
// folder, which replaces the output file only once complete. Errors name
// the file, the line and the column involved. Without an output folder
// (nullopt) every row is still computed, then a type Error is raised; a
// failed table leaves no new file and never touches an existing one.
void run_single_file(const std::string& input_file, const std::optional<std::string>& output_dir,
                     const std::string& param_file, const ModelTables& tables, const Console& console);

}  // namespace isotope
