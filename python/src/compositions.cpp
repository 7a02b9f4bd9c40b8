// The Composition class: a read-only mapping from element to count, with
// +, += and * as the composition model defines them, and pickling.
#include "convert.hpp"

namespace isotope::python {

void bind_composition(py::module_& m) {
  py::class_<Composition> cls(m, "Composition", R"DOC(An elemental composition: element -> non-zero count.

Composition(), Composition(mapping) or Composition("C6H12O6"). A mapping in
insertion order, without item assignment, with +, += (in place) and
multiplication by an int; a count that becomes zero is dropped. Equal to any
mapping with the same items.

>>> water = Composition("H2O")
>>> water + {"C": 1}
Composition({'H': 2, 'O': 1, 'C': 1})
>>> round(water.mass(), 6), water * 2 == {"H": 4, "O": 2}
(18.010565, True))DOC");
  cls.def(py::init<>())
      .def(py::init([](py::object source) {
             if (PyUnicode_Check(source.ptr())) return Composition::from_formula(utf8(source, "formula"));
             return composition_from_mapping(source);
           }),
           py::arg("source"), py::pos_only())
      .def("__getitem__",
           [](const Composition& c, py::object key) {
             std::optional<std::string_view> k = key_text(key);
             if (!k || !c.contains(*k)) raise_key_error(key);
             return c.get(*k);
           })
      .def("__contains__",
           [](const Composition& c, py::object key) {
             std::optional<std::string_view> k = key_text(key);
             return k && c.contains(*k);
           })
      .def(
          "get",
          [](const Composition& c, py::object key, py::object fallback) -> py::object {
            std::optional<std::string_view> k = key_text(key);
            if (!k || !c.contains(*k)) return fallback;
            return py::int_(c.get(*k));
          },
          py::arg("key"), py::arg("default") = py::none())
      .def("__len__", &Composition::size)
      .def("__iter__", [](const Composition& c) { return py::iter(to_dict(c)); })
      .def("keys", [](const Composition& c) { return to_dict(c).attr("keys")(); })
      .def("values", [](const Composition& c) { return to_dict(c).attr("values")(); })
      .def("items", [](const Composition& c) { return to_dict(c).attr("items")(); })
      .def("__eq__",
           [](const Composition& c, py::object other) -> py::object {
             if (is_composition(other)) return py::bool_(c == other.cast<const Composition&>());
             if (!is_mapping(other)) return not_implemented();
             return py::bool_(to_dict(c).equal(py::dict(other)));
           })
      .def("__add__",
           [](const Composition& c, py::object other) -> py::object {
             if (!is_composition(other) && !is_mapping(other)) return not_implemented();
             return py::cast(c + CompositionArg(other).get());
           })
      .def("__radd__",
           [](const Composition& c, py::object other) -> py::object {
             if (!is_mapping(other)) return not_implemented();
             return py::cast(composition_from_mapping(other) + c);
           })
      .def("__iadd__",
           [](py::object self, py::object other) -> py::object {
             if (!is_composition(other) && !is_mapping(other)) return not_implemented();
             CompositionArg add(other);
             self.cast<Composition&>() += add.get();
             return self;
           })
      .def("__mul__",
           [](const Composition& c, py::object n) -> py::object {
             if (!PyIndex_Check(n.ptr())) return not_implemented();
             return py::cast(c * to_int64(n, "multiplier"));
           })
      .def("__rmul__",
           [](const Composition& c, py::object n) -> py::object {
             if (!PyIndex_Check(n.ptr())) return not_implemented();
             return py::cast(c * to_int64(n, "multiplier"));
           })
      .def("__repr__",
           [](const Composition& c) { return "Composition(" + std::string(py::repr(to_dict(c))) + ")"; })
      .def("mass", &Composition::mass, "Neutral monoisotopic mass: the sum of count times element mass.")
      .def(
          "mz",
          [](const Composition& c, py::object charge) {
            std::int64_t z = to_int64(charge, "charge");
            if (z == 0) throw py::value_error("charge must not be 0: a neutral molecule has no m/z");
            return mz_at(c.mass(), z);
          },
          py::arg("charge"),
          "The monoisotopic m/z at a charge: (mass + z * 1.007276466621) / z, and for a negative z (a "
          "deprotonated ion) (mass - |z| * 1.007276466621) / |z|.\n\n"
          ">>> round(Composition('C106H164N18O59').mz(2), 4)\n1317.5266")
      .def(py::pickle([](const Composition& c) { return py::make_tuple(to_dict(c)); },
                      [](py::tuple state) { return composition_from_mapping(state[0]); }));
  // The class belongs to the public module, where pickle finds it.
  cls.attr("__module__") = "morvandel.plugins.isotope";
  // A mapping to whoever asks collections.abc (dict(), isinstance, ...).
  py::module_::import("collections.abc").attr("Mapping").attr("register")(cls);
}

}  // namespace isotope::python
