// The reference tables as Python dicts of Composition objects, built once
// when the module loads, and the Unimod database object when the fallback
// ran.
#include <memory>

#include "convert.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/unimod.hpp"

namespace isotope::python {

namespace {

// The Unimod database, bound as `db` when the fallback ran.
struct UnimodHandle {
  std::shared_ptr<const UnimodDb> db;
};

py::dict table_to_dict(const CompTable& table) {
  py::dict d;
  for (const auto& [key, comp] : table) d[to_str(key)] = py::cast(comp);
  return d;
}

// (mass_d, db or None, mod_d) of freshly built tables. fail_literal_at is
// the test seam of TableOptions (None when unset).
py::tuple reference_tables_py(py::object fail_literal_at) {
  TableOptions options;
  if (!fail_literal_at.is_none()) options.fail_literal_at = utf8(fail_literal_at, "fail_literal_at");
  const ReferenceTables t = build_reference_tables(options);

  py::dict mic;
  for (const auto& [key, mass] : t.mic) mic[to_str(key)] = py::float_(mass);
  py::dict mass_d;
  mass_d["aa_comp"] = table_to_dict(t.aa_comp);
  mass_d["mod_comp"] = table_to_dict(t.mod_comp);
  mass_d["gly_comp"] = table_to_dict(t.gly_comp);
  mass_d["mic"] = mic;
  py::object db = t.db ? py::cast(UnimodHandle{t.db}) : py::none();
  py::dict mod_d;
  for (const auto& [name, key] : t.mod_d) mod_d[to_str(name)] = to_str(key);
  return py::make_tuple(mass_d, db, mod_d);
}

}  // namespace

void bind_tables(py::module_& m) {
  py::class_<UnimodHandle>(m, "UnimodDb", "The Unimod database of protein modifications.")
      .def(
          "by_title",
          [](const UnimodHandle& h, py::object title) {
            const UnimodRecord& r = h.db->by_title(utf8(title, "title"));
            py::dict d;
            d["title"] = to_str(r.title);
            d["full_name"] = to_str(r.full_name);
            d["record_id"] = r.record_id;
            d["mono_mass"] = r.mono_mass;
            d["composition"] = py::cast(r.composition);
            return d;
          },
          py::arg("title"),
          "The record with this title (or else this full name) as a dict: title, full_name, record_id, "
          "mono_mass, composition. KeyError for an unknown title.")
      .def("__len__", [](const UnimodHandle& h) { return h.db->records().size(); })
      .def("__repr__", [](const UnimodHandle& h) {
        return "<UnimodDb " + std::string(py::repr(to_str(h.db->path()))) + ", " +
               std::to_string(h.db->records().size()) + " records>";
      });
  m.def("reference_tables", &reference_tables_py, py::arg("fail_literal_at"),
        "Builds the reference tables: (mass_d, db or None, mod_d).");
}

}  // namespace isotope::python
