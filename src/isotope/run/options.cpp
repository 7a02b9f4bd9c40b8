// Options from parameter lines: each option's text converted and checked in
// one place, with errors that name the parameter file.
#include "isotope/run/options.hpp"

#include <string_view>

#include "isotope/base/text.hpp"

namespace isotope {

namespace {

constexpr std::string_view kPeaksNum = "isotope_peaks_num";

// isotope_peaks_num as Python's int() reads it, or the error a row meets.
void read_peaks_num(const Params& params, const std::string& param_file, Options& options) {
  const std::string* value = find_param(params, kPeaksNum);
  if (!value) {
    options.peaks_num_error = Error::lookup("parameter file has no option", kPeaksNum).at(param_file);
    return;
  }
  try {
    options.peaks_num_value = text::parse_int(*value);
  } catch (Error& e) {
    options.peaks_num_error = e.at(param_file);
    return;
  }
  if (!options.peaks_num_value)
    options.peaks_num_error = Error::value("invalid literal for int() with base 10: " + py_repr(*value) + " (" +
                                           std::string(kPeaksNum) + ")")
                                  .at(param_file);
}

}  // namespace

std::int64_t Options::peaks_num() const {
  if (peaks_num_error) throw *peaks_num_error;
  return *peaks_num_value;
}

Options read_options(const Params& params, const std::string& param_file) {
  Options options;
  read_peaks_num(params, param_file, options);
  return options;
}

}  // namespace isotope
