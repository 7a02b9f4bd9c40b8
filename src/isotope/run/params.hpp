// The parameter file: text lines of the form "option = value", read into an
// ordered list of option names and value texts. Nothing is interpreted here:
// options.hpp turns the list into the typed options of a run.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace isotope {

// Option name -> value text, in the order of first appearance; a repeated
// option keeps its first place and takes the last value.
using Params = std::vector<std::pair<std::string, std::string>>;

const std::string* find_param(const Params& params, std::string_view option);

// An option set again: its name, the line of the value it replaced and the
// line of the new value.
struct RepeatedParam {
  std::string name;
  long earlier_line = 0;
  long line = 0;
};

// The options of a parameter file and, for each, the line that set it.
struct ParamFile {
  std::string path;
  Params params;
  std::vector<long> lines;  // lines[i]: the line of params[i]'s value
  std::vector<RepeatedParam> repeats;  // in file order
};

// Reads a parameter file of "option = value" lines. The whole file is read
// and closed before any line is interpreted; LF, CRLF and a lone CR end
// lines; the bytes must be UTF-8 (else a decode Error). Each line is
// stripped of white space and split at every "="; the option is the first
// piece, the value the second, both stripped; further pieces are ignored.
// A blank line, and a line that starts with "#" and holds no "=" (a
// comment), is skipped; any other line without "=" fails the read with an
// index Error naming the line. A "#" line with "=" is an option like any
// other, named with its "#".
ParamFile read_param_file(const std::string& param_file);
Params read_param(const std::string& param_file);
// The same rules applied to a file's bytes (param_file names it in errors).
ParamFile parse_param_file(std::string_view bytes, const std::string& param_file);
Params parse_params(std::string_view bytes, const std::string& param_file);

}  // namespace isotope
