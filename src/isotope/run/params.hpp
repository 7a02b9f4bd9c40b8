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

}  // namespace isotope
