// morvandel.plugins._isotope: the compiled part of the Python module.
//
// It holds the Composition class, the building of the reference tables, the
// operations and the table runs, each a thin adapter over the isotope core:
// arguments are converted, the core computes, core errors become Python
// exceptions (convert.hpp). The public module morvandel.plugins.isotope
// (python/morvandel/plugins/isotope.py) binds the names users see, in their
// documented order, and gives each operation its calling form.
#include "convert.hpp"

namespace isotope::python {

namespace {
PyObject* input_warning_type = nullptr;
}  // namespace

py::handle input_warning() { return input_warning_type; }

}  // namespace isotope::python

PYBIND11_MODULE(_isotope, m) {
  namespace py = pybind11;
  using namespace isotope::python;

  py::register_local_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const isotope::Error& e) {
      set_error(e);
    }
  });

  m.doc() = "The compiled part of morvandel.plugins.isotope; use that module.";
  input_warning_type = PyErr_NewExceptionWithDoc(
      "morvandel.plugins.isotope.IsotopeInputWarning",
      "A table row whose result rests on a guess: a PepSeq character that was skipped, a count cell that is no "
      "non-negative whole number, a row with fewer fields than the header, and the like. Filter it with the "
      "warnings module, or set isotope_strict = true to make such rows fail the table.\n\n"
      ">>> import pandas as pd, warnings\n"
      ">>> df = pd.DataFrame({'PepSeq': ['EEQYNSTYr'], 'N': [4], 'H': [3], 'F': [1], 'S': [0], 'G': [0]})\n"
      ">>> with warnings.catch_warnings(record=True) as caught:\n"
      "...     warnings.simplefilter('always')\n"
      "...     _ = annotate(df)\n"
      ">>> caught[0].category.__name__, str(caught[0].message)[:34]\n"
      "('IsotopeInputWarning', \"PepSeq 'EEQYNSTYr' has 'r' at char\")",
      PyExc_UserWarning, nullptr);
  if (!input_warning_type) throw py::error_already_set();
  m.attr("IsotopeInputWarning") = py::handle(input_warning_type);
  bind_composition(m);
  bind_tables(m);
  bind_operations(m);
  bind_runs(m);
  bind_frames(m);
}
