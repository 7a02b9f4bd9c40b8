// Conversions between Python objects and the core's types, and the mapping
// of core errors onto Python exceptions: what every part of the binding
// shares. The binding is the compiled module morvandel.plugins._isotope;
// the public module morvandel.plugins.isotope (isotope.py) is written in
// Python over it.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/pattern/envelope.hpp"
#include "isotope/run/console.hpp"
#include "isotope/run/options.hpp"

namespace isotope::python {

namespace py = pybind11;

// ---------------------------------------------------------------------------
// Text. Python str arguments are handed to the core as UTF-8; core text goes
// back to Python decoded with "surrogateescape", so that bytes that are not
// UTF-8 (in file names, say) survive the round trip as os.fsdecode keeps them.

// The UTF-8 bytes of a str (a TypeError naming `what` for anything else).
// The view lives as long as the str object.
std::string_view utf8(py::handle str, const char* what);
py::str to_str(std::string_view text);
// A file system path (str, bytes or os.PathLike) as bytes, with the errors
// open() raises for anything else.
std::string fs_path(py::handle path);
bool is_path_like(py::handle obj);

// ---------------------------------------------------------------------------
// Compositions. A composition argument is a Composition object or any
// mapping (anything with keys()) from str to a count that int() accepts;
// a table argument maps str keys to such compositions.

// int(value) as a 64-bit count: int()'s own error, or a ValueError when it
// does not fit.
Count to_count(py::handle value);
Composition composition_from_mapping(py::handle mapping);
CompTable table_from_mapping(py::handle mapping, const char* what);
py::dict to_dict(const Composition& comp);

// A composition argument: a Composition object is read in place, anything
// else is converted.
class CompositionArg {
 public:
  explicit CompositionArg(py::handle obj);
  const Composition& get() const noexcept { return *ptr_; }

 private:
  std::optional<Composition> owned_;
  const Composition* ptr_ = nullptr;
};

// ---------------------------------------------------------------------------
// Small conversions shared by the parts of the binding.

std::string type_name(py::handle obj);
// A KeyError with the key as its only argument, as a dict raises it.
[[noreturn]] void raise_key_error(py::handle key);
bool truthy(py::handle obj);
// operator.index(obj) as a 64-bit integer.
std::int64_t to_int64(py::handle obj, const char* what);
// The text a pattern reader scans; anything but str fails as re.findall does.
std::string_view pattern_text(py::handle obj);
// A missing cell as pandas gives it: None or a float NaN.
bool is_missing(py::handle obj);
bool is_composition(py::handle obj);
bool is_mapping(py::handle obj);
py::object not_implemented();
// A str key as UTF-8, or nothing for other keys (and for str that cannot be
// encoded, which no composition holds either).
std::optional<std::string_view> key_text(py::handle key);
py::dict counts_to_dict(const Counts& counts);

// The warning category of notes on a table's rows (IsotopeInputWarning, a
// UserWarning), made by module.cpp.
py::handle input_warning();

// The console of a table run: sys.stdout and sys.stderr, warnings through
// warnings.warn.
Console python_console();

// A normalize argument: "sum", "max" or "none", else ValueError.
Normalize normalize_of(py::handle value);
// The options of a params argument (annotate's rules): None (the
// defaults), a dict of options, or a parameter file's path.
Options params_options(py::object params);

// A float64 numpy array of the values.
py::array_t<double> to_array(const std::vector<double>& values);

// The parts of the module, bound in this order by module.cpp.
void bind_composition(py::module_& m);
void bind_tables(py::module_& m);
void bind_operations(py::module_& m);
void bind_runs(py::module_& m);
void bind_frames(py::module_& m);

// ---------------------------------------------------------------------------
// Errors: Lookup -> KeyError(key), Value -> ValueError, Type -> TypeError,
// Index -> IndexError, OS -> OSError(errno, strerror, filename) (which is
// the subclass the errno selects), Decode -> UnicodeDecodeError. When the
// core's message says more than the exception's arguments (a KeyError's
// wording, the file, line and column of the failure), it is attached as a
// note.
py::object to_exception(const Error& e);
// Sets the Python error indicator to the exception for e.
void set_error(const Error& e);

}  // namespace isotope::python
