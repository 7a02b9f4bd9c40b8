// The directory batch: the tables of a folder (entries whose names end in
// "txt"), each handed in turn to a run of one table, in sorted order.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/formats/engine_format.hpp"
#include "isotope/run/console.hpp"

namespace isotope {

// True for names that the regular expression ".txt$" finds a match in: the
// name ends in "txt", or "txt" and one final line feed, after at least one
// character other than a line feed.
bool is_table_name(std::string_view name);

// The entries of input_dir (files and folders, no recursion), sorted by
// name (bytewise), so that a batch is the same on every file system.
std::vector<std::string> list_entries(const std::string& input_dir);
// Of those, the table names.
std::vector<std::string> list_tables(const std::string& input_dir);

// The warning for a folder with no table: what it holds instead (up to 5
// names), so that a user sees their ".tsv" files.
std::string no_table_warning(const std::string& input_dir, const std::vector<std::string>& entries,
                             std::optional<EngineFormat> format = std::nullopt);
// Which names are tables, in words: "a name ending in 'txt'".
std::string selection_words(std::optional<EngineFormat> format);

// "KeyError: unknown residue 'X' ..." for an isotope::Error.
std::string describe_error(const std::exception& e);

// True for a name the tool gives its outputs: it ends in
// "_isotope_pyopenms.txt".
bool is_output_name(std::string_view name);

// True when both paths name one folder (the same device and inode).
bool same_folder(const std::string& a, const std::string& b);

// The warning on an earlier output that a folder run over its own output
// folder takes for a table.
std::string earlier_output_warning(const std::string& input_dir, const std::string& name);

struct BatchFailure {
  std::string name;  // the table's name in the folder
  std::string what;  // "KeyError: ..."
};
struct BatchReport {
  std::size_t written = 0;
  std::vector<BatchFailure> failed;
};

using RunOne = std::function<void(const std::string& input_file)>;
using Describe = std::function<std::string(const std::exception&)>;

// Runs run_one(input_dir + "/" + name) for every table of input_dir, in
// sorted order. The parameter file (unless the folder is empty) says which
// files are tables (isotope_input_format picks an engine's files whose
// header is the engine's, each other one skipped with a note; else names
// ending in "txt") and what a failure does (isotope_on_error); one that
// cannot be read leaves the defaults, and the first table fails on it. Its
// option names are checked once, before the first table (warn_options;
// the tables' runs, on this thread, do not warn again). When output_dir is
// the input folder, each table that is an earlier output (is_output_name)
// gets a warning; with isotope_skip_outputs = true such names are skipped.
// A folder without tables gets a warning and nothing else. With "stop" (the
// default) the first failure propagates at once; with "continue" each
// failure is reported on the error stream as it happens (describe words
// it), the other tables still run, and a summary line ends the batch.
BatchReport run_batch(const std::string& input_dir, const std::optional<std::string>& param_file,
                      const Console& console, const RunOne& run_one, const Describe& describe = describe_error,
                      const std::optional<std::string>& output_dir = std::nullopt);

}  // namespace isotope
