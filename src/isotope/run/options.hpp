// The options of a run, typed: the one place that reads the parameter
// file's text. The pipeline, the native program and the Python module all
// take an Options value; no other code looks at raw parameter text.
//
// The parameter file may be shared with other tools: options this tool does
// not know are accepted and ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/run/params.hpp"

namespace isotope {

struct Options {
  // isotope_peaks_num: the generator's maximal isotope (0: no limit). Read
  // as Python's int() reads text. A missing or malformed value is not an
  // error until a row needs it (a table without rows never does), so the
  // error is kept here and raised by peaks_num().
  std::optional<std::int64_t> peaks_num_value;
  std::optional<Error> peaks_num_error;

  // The value of isotope_peaks_num, or its error, placed at the parameter
  // file.
  std::int64_t peaks_num() const;
};

// Types the options of a parameter file's lines; param_file names the file
// in errors.
Options read_options(const Params& params, const std::string& param_file);

}  // namespace isotope
