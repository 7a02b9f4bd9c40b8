// The command-line side of the tool: the parameter file, the directory
// batch and the native program's main.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace isotope {

// Option name -> value text, in the order of first appearance; a repeated
// option keeps its first place and takes the last value.
using Params = std::vector<std::pair<std::string, std::string>>;

const std::string* find_param(const Params& params, std::string_view option);

// Reads a parameter file of "option = value" lines. The whole file is read
// and closed before any line is interpreted; LF, CRLF and a lone CR end
// lines; the bytes must be UTF-8 (else a decode Error). Each line is
// stripped of white space and split at every "="; the option is the first
// piece, the value the second, both stripped; further pieces are ignored.
// A line without "=" (blank lines included) fails the read with an index
// Error naming the line.
Params read_param(const std::string& param_file);
// The same rules applied to a file's bytes (param_file names it in errors).
Params parse_params(std::string_view bytes, const std::string& param_file);

// True for names that the regular expression ".txt$" finds a match in: the
// name ends in "txt", or "txt" and one final line feed, after at least one
// character other than a line feed.
bool is_table_name(std::string_view name);

// The entries of input_dir (files and folders, no recursion) whose names
// are table names, in the order the directory lists them.
std::vector<std::string> list_tables(const std::string& input_dir);

// Lists input_dir once, then calls run_one with input_dir + "/" + name for
// every table name, in listing order; the first error stops the batch.
void run_multiple_files(const std::string& input_dir,
                        const std::function<void(const std::string& input_file)>& run_one);

// The native program: parses argv as the tool's argparse parser does, then
// runs the directory batch (-d) or one table (-i). Returns the exit status:
// 0 on success and after the help, 2 for a usage problem, 1 when the work
// fails (after one line on standard error naming the error).
int run_main(int argc, char** argv);

}  // namespace isotope
