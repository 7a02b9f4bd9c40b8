// morvandel.plugins._isotope: the compiled part of the Python module.
//
// It holds the Composition class, the building of the reference tables, the
// operations and the table runs, each a thin adapter over the isotope core:
// arguments are converted, the core computes, core errors become Python
// exceptions (convert.hpp). The public module morvandel.plugins.isotope
// (python/morvandel/plugins/isotope.py) binds the names users see, in their
// documented order, and gives each operation its calling form.
#include "convert.hpp"

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
  bind_composition(m);
  bind_tables(m);
  bind_operations(m);
  bind_runs(m);
}
