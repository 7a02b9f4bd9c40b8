// morvandel.plugins.isotope: the Python module over the isotope core.
//
// Import binds, in this order: re, os, sys, np, Composition, freeze_support,
// argparse, Counter, path_full_split, the reference tables (mass_d, db when
// the Unimod fallback ran, mod_d, gly_comp, aa_comp, mod_comp), MyParser,
// then the operations calc_counter_comp ... run_multiple_files and main.
// Every computation is the core's; this file converts arguments, looks up
// the module's current tables and callables where a run needs them, and maps
// core errors onto Python exceptions.
#include "morvandel/plugins/isotope/module.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "morvandel/plugins/isotope/cli.hpp"
#include "morvandel/plugins/isotope/isotope_pattern.hpp"
#include "morvandel/plugins/isotope/pipeline.hpp"
#include "morvandel/plugins/isotope/text.hpp"
#include "morvandel/plugins/isotope/unimod.hpp"

namespace isotope::python {

namespace {

constexpr const char* kModuleName = "morvandel.plugins.isotope";

std::string type_name(py::handle obj) { return Py_TYPE(obj.ptr())->tp_name; }

[[noreturn]] void raise_key_error(py::handle key) {
  // As a dict raises it: the key itself is the only argument, even a tuple.
  py::object exc = py::handle(PyExc_KeyError)(key);
  PyErr_SetObject(PyExc_KeyError, exc.ptr());
  throw py::error_already_set();
}

bool truthy(py::handle obj) {
  int r = PyObject_IsTrue(obj.ptr());
  if (r < 0) throw py::error_already_set();
  return r != 0;
}

// operator.index(obj) as a 64-bit integer.
std::int64_t to_int64(py::handle obj, const char* what) {
  py::object n = py::reinterpret_steal<py::object>(PyNumber_Index(obj.ptr()));
  if (!n) throw py::error_already_set();
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
  if (overflow) throw py::value_error(std::string(what) + " does not fit in 64 bits");
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

// The text a pattern reader scans; anything but str fails as re.findall does.
std::string_view pattern_text(py::handle obj) {
  if (!PyUnicode_Check(obj.ptr()))
    throw py::type_error("expected string or bytes-like object, got '" + type_name(obj) + "'");
  return utf8(obj, "text");
}

// A missing cell as pandas gives it: None or a float NaN.
bool is_missing(py::handle obj) {
  return obj.is_none() || (PyFloat_Check(obj.ptr()) && std::isnan(PyFloat_AS_DOUBLE(obj.ptr())));
}

bool is_composition(py::handle obj) { return py::isinstance<Composition>(obj); }
bool is_mapping(py::handle obj) { return !PyUnicode_Check(obj.ptr()) && py::hasattr(obj, "keys"); }

py::object not_implemented() { return py::reinterpret_borrow<py::object>(Py_NotImplemented); }

// A str key as UTF-8, or nothing for other keys (and for str that cannot be
// encoded, which no composition holds either).
std::optional<std::string_view> key_text(py::handle key) {
  if (!PyUnicode_Check(key.ptr())) {
    (void)py::hash(key);  // an unhashable key is a TypeError, as in a dict
    return std::nullopt;
  }
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(key.ptr(), &n);
  if (!p) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(p, static_cast<std::size_t>(n));
}

py::dict counts_to_dict(const Counts& counts) {
  py::dict d;
  for (const auto& [key, n] : counts) d[to_str(key)] = py::int_(n);
  return d;
}

// Runs Python source with the module's namespace as globals, so that what it
// defines lands in the module in order and reads the module's globals at
// call time.
void exec_in_module(py::module_& m, const char* source) {
  py::dict globals = m.attr("__dict__");
  std::string filename = std::string("<") + kModuleName + ">";
  py::object code = py::reinterpret_steal<py::object>(Py_CompileString(source, filename.c_str(), Py_file_input));
  if (!code) throw py::error_already_set();
  py::object result = py::reinterpret_steal<py::object>(PyEval_EvalCode(code.ptr(), globals.ptr(), globals.ptr()));
  if (!result) throw py::error_already_set();
}

py::object module_global(const py::module_& m, const char* name) {
  py::dict globals = m.attr("__dict__");
  if (!globals.contains(name)) {
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw py::error_already_set();
  }
  return globals[name];
}

// Runs a core call that may throw during import, when no exception
// translator applies: core errors become their Python exception, which the
// import machinery then reports.
template <class F>
auto at_import(F&& f) {
  try {
    return f();
  } catch (const Error& e) {
    set_error(e);
    throw py::error_already_set();
  }
}

// ---------------------------------------------------------------------------
// Console: the pipeline's message and progress counter go to the current
// sys.stdout and sys.stderr, looked up at each write (so that whoever
// replaced them, pytest's capture say, receives the text). The pipeline
// runs without the GIL; each write takes it.

void write_stream(const char* name, std::string_view text, bool flush) {
  py::gil_scoped_acquire gil;
  PyObject* stream = PySys_GetObject(name);  // borrowed
  if (stream && stream != Py_None) {
    py::handle f(stream);
    f.attr("write")(to_str(text));
    if (flush) f.attr("flush")();
  }
  // A long run stays interruptible: Ctrl-C raises here.
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

Console python_console() {
  return Console{[](std::string_view s) { write_stream("stdout", s, false); },
                 [](std::string_view s) { write_stream("stderr", s, true); }};
}

// ---------------------------------------------------------------------------
// Tables read key by key, as the operations look their entries up: the
// mapping's own __getitem__ raises for a missing key (KeyError(key) for a
// dict), and only the entries used are converted.

void gather(CompTable& table, py::handle comp_map, std::string_view key) {
  if (table.find(key)) return;
  py::object part = comp_map[to_str(key)];
  table.set(key, composition_from_mapping(part));
}

void gather_residues(CompTable& table, py::handle comp_map, std::string_view seq) {
  for (std::size_t p = 0; p < seq.size();) {
    std::size_t len = 0;
    text::code_point_at(seq, p, len);
    gather(table, comp_map, seq.substr(p, len));
    p += len;
  }
}

void gather_counts(CompTable& table, py::handle comp_map, const Counts& counts) {
  for (const auto& entry : counts) gather(table, comp_map, entry.first);
}

// ---------------------------------------------------------------------------
// The operations.

Composition calc_counter_comp_py(py::object counter, py::object comp_map) {
  if (!is_mapping(counter))
    throw py::type_error("counter must be a mapping of keys to counts, not " + type_name(counter));
  // Key by key, as a Python loop over the counter fails: the table lookup,
  // then int() of the count, then the product.
  Counts counts;
  CompTable table;
  for (py::handle key : counter.attr("keys")()) {
    py::object part = comp_map[key];
    py::object count = counter[key];
    Count n = to_count(count);
    std::string_view k = utf8(key, "counter key");
    table.set(k, composition_from_mapping(part));
    counts.set(k, n);
  }
  return calc_counter_comp(counts, table);
}

Composition calc_seq_comp_py(py::object seq, py::object comp_map, py::object residue) {
  std::string_view s = utf8(seq, "seq");
  CompTable table;
  gather_residues(table, comp_map, s);
  return calc_seq_comp(s, table, truthy(residue));
}

// A missing modification cell (None, NaN) holds no modifications.
py::object mods_counter_py(const py::object& collections_counter, py::object mods) {
  py::object counter = collections_counter();
  if (is_missing(mods)) return counter;
  for (const auto& [key, n] : mods_counter(utf8(mods, "mods"))) counter[to_str(key)] = py::int_(n);
  return counter;
}

Composition calc_mod_comp_py(py::object mods, py::object comp_map) {
  if (is_missing(mods)) return Composition();
  std::string_view s = utf8(mods, "mods");
  CompTable table;
  gather_counts(table, comp_map, mods_counter(s));
  return calc_mod_comp(s, table);
}

Composition calc_pep_comp_py(py::object seq, py::object mods, py::object aa_comp_map, py::object mod_comp_map,
                             py::object residue) {
  std::string_view s = utf8(seq, "seq");
  CompTable aa_table, mod_table;
  gather_residues(aa_table, aa_comp_map, s);
  std::optional<std::string_view> m;
  if (!is_missing(mods)) {
    m = utf8(mods, "mods");
    if (!m->empty()) gather_counts(mod_table, mod_comp_map, mods_counter(*m));
  }
  return calc_pep_comp(s, m, aa_table, mod_table, truthy(residue));
}

py::array_t<double> calc_iso_dist_py(py::object comp, py::kwargs kwargs) {
  std::string_view formula = pattern_text(comp);
  IsoOptions options;
  if (kwargs.contains("filter_iso")) options.filter_iso = truthy(kwargs["filter_iso"]);
  if (kwargs.contains("N")) options.N = to_int64(kwargs["N"], "N");
  const std::vector<double> peaks = calc_iso_dist(formula, options);
  py::array_t<double> out(static_cast<py::ssize_t>(peaks.size()));
  std::copy(peaks.begin(), peaks.end(), out.mutable_data());
  return out;
}

Composition calc_glycan_comp_py(py::object glycan, py::object comp_map, py::object residue) {
  std::string_view s = pattern_text(glycan);
  CompTable table;
  gather_counts(table, comp_map, glycan_counter(s));
  return calc_glycan_comp(s, table, truthy(residue));
}

py::dict read_param_py(py::object param_file) {
  py::dict d;
  for (const auto& [option, value] : read_param(fs_path(param_file))) d[to_str(option)] = to_str(value);
  return d;
}

void run_single_file_py(const py::module_& m, py::object input_file, py::object output_dir,
                        py::object param_file) {
  const Console console = python_console();
  if (!is_path_like(input_file) || !is_path_like(param_file)) {
    // Without paths the core cannot start; the run still announces its
    // table first, then fails where the bad path is first used.
    console.out(start_message(std::string(py::str(input_file))));
    fs_path(is_path_like(input_file) ? param_file : input_file);
    throw py::type_error("expected str, bytes or os.PathLike object");  // fs_path raised already
  }
  const std::string input = fs_path(input_file);
  const std::string param = fs_path(param_file);
  // An output folder that is no path (None, or a list from argparse) is as
  // good as none: every row is computed, then building the output path fails.
  std::optional<std::string> output;
  if (is_path_like(output_dir)) output = fs_path(output_dir);
  // The tables the module holds now: rebinding m.aa_comp changes the next run.
  const CompTable aa = table_from_mapping(module_global(m, "aa_comp"), "aa_comp");
  const CompTable mod = table_from_mapping(module_global(m, "mod_comp"), "mod_comp");
  const CompTable gly = table_from_mapping(module_global(m, "gly_comp"), "gly_comp");
  const ModelTables tables{aa, mod, gly};
  py::gil_scoped_release release;
  run_single_file(input, output, param, tables, console);
}

void run_multiple_files_py(const py::module_& m, py::object input_dir, py::object output_dir,
                           py::object param_file) {
  run_multiple_files(fs_path(input_dir), [&](const std::string& input_file) {
    // The module's current run_single_file, as a global looked up per table.
    module_global(m, "run_single_file")(py::arg("input_file") = to_str(input_file),
                                        py::arg("output_dir") = output_dir, py::arg("param_file") = param_file);
  });
}

// ---------------------------------------------------------------------------
// Python parts of the module.

constexpr const char* kMyParserSource = R"PY(
class MyParser(argparse.ArgumentParser):
    """An argument parser that shows the whole help after a usage error."""

    def error(self, message):
        sys.stderr.write("error: %s\n" % message)
        self.print_help()
        sys.exit(2)
)PY";

constexpr const char* kMainSource = R"PY(
def main():
    """The command line: -d DIR or -i FILE, with -p PARAMS and -o OUT.

    Without -p, or without -d and -i, shows the help and exits with status 2;
    with both -d and -i only the directory is processed.
    """
    freeze_support()
    parser = MyParser(description="isotope")
    parser.add_argument("-d", dest="input_dir", help="Add input directory")
    parser.add_argument("-i", dest="input_file", help="Add input file")
    parser.add_argument("-o", dest="output_dir", help="Add output directory")
    parser.add_argument("-p", dest="param_file", help="Add parameter file")
    args = parser.parse_args()
    if args.param_file is None:
        parser.print_help()
        sys.exit(2)
    if args.input_dir is not None:
        run_multiple_files(input_dir=args.input_dir, output_dir=args.output_dir, param_file=args.param_file)
    elif args.input_file is not None:
        run_single_file(input_file=args.input_file, output_dir=args.output_dir, param_file=args.param_file)
    else:
        parser.print_help()
        sys.exit(2)
)PY";

constexpr const char* kModuleDoc = R"DOC(Glycopeptide compositions, neutral monoisotopic masses and isotope patterns.

A binding over the isotope C++ core. run_single_file reads a table of
glycopeptide identifications (PepSeq with bracketed modifications, and the
monosaccharide counts N H F S G) and writes it back with the columns Glycan,
PepMods, GP_Mass and GP_Isotopes; run_multiple_files does so for every table
of a folder; main is the command line.

The host tool's third-party names pyopenms, pd, mass, monosaccharides and
tqdm are not bound: the C++ core does their work (isotope patterns, table
reading and writing, the composition model, the progress counter).
Composition stands where the composition library stood.

The reference tables mass_d (with aa_comp, mod_comp, gly_comp and the masses
"mic"), mod_d, and db (only when the Unimod fallback ran) are built at import.

Test seam: the environment variable MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT,
read once at import, makes the literal table step fail as it reaches the
entry with that key, so that the Unimod fallback runs. It exists for the
tests only.
)DOC";

// The Unimod database, bound as `db` when the fallback ran.
struct UnimodHandle {
  std::shared_ptr<const UnimodDb> db;
};

// ---------------------------------------------------------------------------
// Module parts, in binding order.

void bind_composition(py::module_& m) {
  py::class_<Composition> cls(m, "Composition", R"DOC(An elemental composition: element -> non-zero count.

Composition(), Composition(mapping) or Composition("C6H12O6"). A mapping in
insertion order, without item assignment, with +, += (in place) and
multiplication by an int; a count that becomes zero is dropped. Equal to any
mapping with the same items.)DOC");
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
      .def(py::pickle([](const Composition& c) { return py::make_tuple(to_dict(c)); },
                      [](py::tuple state) { return composition_from_mapping(state[0]); }));
  // A mapping to whoever asks collections.abc (dict(), isinstance, ...).
  py::module_::import("collections.abc").attr("Mapping").attr("register")(cls);
}

py::dict table_to_dict(const CompTable& table) {
  py::dict d;
  for (const auto& [key, comp] : table) d[to_str(key)] = py::cast(comp);
  return d;
}

void bind_tables(py::module_& m) {
  TableOptions options;
  py::object seam = m.attr("os").attr("environ").attr("get")("MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT");
  if (!seam.is_none()) options.fail_literal_at = utf8(seam, "MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT");
  const ReferenceTables t = at_import([&] { return build_reference_tables(options); });

  py::dict aa_comp = table_to_dict(t.aa_comp);
  py::dict mod_comp = table_to_dict(t.mod_comp);
  py::dict gly_comp = table_to_dict(t.gly_comp);
  py::dict mic;
  for (const auto& [key, mass] : t.mic) mic[to_str(key)] = py::float_(mass);
  py::dict mass_d;
  mass_d["aa_comp"] = aa_comp;
  mass_d["mod_comp"] = mod_comp;
  mass_d["gly_comp"] = gly_comp;
  mass_d["mic"] = mic;
  m.attr("mass_d") = mass_d;

  if (t.db) {
    // The class is reachable as type(db) only: it is no name of the module.
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
    m.attr("db") = py::cast(UnimodHandle{t.db});
    py::delattr(m, "UnimodDb");
  }

  py::dict mod_d;
  for (const auto& [name, key] : t.mod_d) mod_d[to_str(name)] = to_str(key);
  m.attr("mod_d") = mod_d;
  m.attr("gly_comp") = gly_comp;
  m.attr("aa_comp") = aa_comp;
  m.attr("mod_comp") = mod_comp;
}

void bind_operations(py::module_& m) {
  m.def("calc_counter_comp", &calc_counter_comp_py, py::arg("counter"), py::arg("comp_map"),
        "The sum over counter's keys, in order, of comp_map[key] times int(count).");
  m.def("calc_seq_comp", &calc_seq_comp_py, py::arg("seq"), py::arg("comp_map"), py::arg("residue") = true,
        "The composition of the residues of seq (one per character), plus one water unless residue.");
  py::object counter = m.attr("Counter");
  m.def(
      "mods_counter", [counter](py::object mods) { return mods_counter_py(counter, mods); }, py::arg("mods"),
      py::pos_only(),
      "A Counter of the modification names of a string such as \"3,C,Carbamidomethyl/5,M,Oxidation\": the "
      "last comma-separated field of every slash-separated entry. Empty for a missing cell (None, NaN).");
  m.def("calc_mod_comp", &calc_mod_comp_py, py::arg("mods"), py::arg("comp_map"),
        "The composition of the modifications of a modification string; empty for a missing cell (None, NaN).");
  m.def("calc_pep_comp", &calc_pep_comp_py, py::arg("seq"), py::arg("mods"), py::arg("aa_comp_map"),
        py::arg("mod_comp_map"), py::arg("residue") = true,
        "calc_seq_comp of seq plus, unless mods is empty or missing (None, NaN), calc_mod_comp of mods.");
  m.def(
      "component_counter", [](py::object s) { return counts_to_dict(component_counter(pattern_text(s))); },
      py::arg("component_str"), py::pos_only(), "The element counts of a formula string such as \"C6H12O6\".");
  m.def("calc_iso_dist", &calc_iso_dist_py, py::arg("comp"),
        "The isotope pattern of a formula (OpenMS coarse generator) as a float64 array. Keywords: filter_iso "
        "(default True: leave out labelled entries such as C[13]4) and N (maximal isotope, default 5).");
  m.def(
      "glycan_counter", [](py::object s) { return counts_to_dict(glycan_counter(pattern_text(s))); },
      py::arg("glycan"), py::pos_only(), "The monosaccharide counts of a glycan string such as \"N4H5F1S0G0\".");
  m.def("calc_glycan_comp", &calc_glycan_comp_py, py::arg("glycan"), py::arg("comp_map"),
        py::arg("residue") = true, "The composition of a glycan string, plus one water unless residue.");
  m.def(
      "comp_to_str", [](py::object comp) { return to_str(comp_to_str(CompositionArg(comp).get())); },
      py::arg("comp"), py::pos_only(), "The formula text of a composition: key then count, every count written.");
  m.def("read_param", &read_param_py, py::arg("param_file"), py::pos_only(),
        "The options of a parameter file of \"option = value\" lines, as a dict of str.");
  py::module_ self = m;
  m.def(
      "run_single_file",
      [self](py::object input_file, py::object output_dir, py::object param_file) {
        run_single_file_py(self, input_file, output_dir, param_file);
      },
      py::arg("input_file"), py::arg("output_dir"), py::arg("param_file"),
      "Process one table into <output_dir>/<base name>_isotope_pyopenms.txt, with the module's current "
      "aa_comp, mod_comp and gly_comp.");
  m.def(
      "run_multiple_files",
      [self](py::object input_dir, py::object output_dir, py::object param_file) {
        run_multiple_files_py(self, input_dir, output_dir, param_file);
      },
      py::arg("input_dir"), py::arg("output_dir"), py::arg("param_file"),
      "Call the module's run_single_file for every table (a name matching \".txt$\") of input_dir.");
}

}  // namespace

// ---------------------------------------------------------------------------
// Conversions.

std::string_view utf8(py::handle str, const char* what) {
  if (!PyUnicode_Check(str.ptr())) throw py::type_error(std::string(what) + " must be str, not " + type_name(str));
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(str.ptr(), &n);
  if (!p) throw py::error_already_set();
  return {p, static_cast<std::size_t>(n)};
}

py::str to_str(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

std::string fs_path(py::handle path) {
  PyObject* bytes = nullptr;
  if (!PyUnicode_FSConverter(path.ptr(), &bytes)) throw py::error_already_set();
  py::object owner = py::reinterpret_steal<py::object>(bytes);
  return std::string(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
}

bool is_path_like(py::handle obj) {
  return PyUnicode_Check(obj.ptr()) || PyBytes_Check(obj.ptr()) ||
         PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr())), "__fspath__");
}

Count to_count(py::handle value) {
  py::object n = py::reinterpret_steal<py::object>(PyNumber_Long(value.ptr()));
  if (!n) throw py::error_already_set();
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
  if (overflow) throw py::value_error("composition count overflows 64 bits");
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

Composition composition_from_mapping(py::handle obj) {
  if (is_composition(obj)) return obj.cast<const Composition&>();
  if (!is_mapping(obj))
    throw py::type_error("expected a composition (a mapping of element to count), not " + type_name(obj));
  Composition comp;
  for (py::handle key : obj.attr("keys")()) {
    py::object value = obj[key];
    comp.set(utf8(key, "composition key"), to_count(value));
  }
  return comp;
}

CompTable table_from_mapping(py::handle obj, const char* what) {
  if (!is_mapping(obj))
    throw py::type_error(std::string(what) + " must be a mapping of str to compositions, not " + type_name(obj));
  CompTable table;
  for (py::handle key : obj.attr("keys")()) {
    py::object value = obj[key];
    table.set(utf8(key, (std::string(what) + " key").c_str()), composition_from_mapping(value));
  }
  return table;
}

py::dict to_dict(const Composition& comp) {
  py::dict d;
  for (const auto& [key, n] : comp) d[to_str(key)] = py::int_(n);
  return d;
}

CompositionArg::CompositionArg(py::handle obj) {
  if (is_composition(obj)) {
    ptr_ = &obj.cast<const Composition&>();
  } else {
    owned_.emplace(composition_from_mapping(obj));
    ptr_ = &*owned_;
  }
}

// ---------------------------------------------------------------------------
// Errors.

py::object to_exception(const Error& e) {
  py::object exc;
  bool note = e.has_place();
  switch (e.kind()) {
    case ErrorKind::Lookup:
      exc = py::handle(PyExc_KeyError)(to_str(e.key()));
      note = std::string_view(e.what()) != py_repr(e.key());
      break;
    case ErrorKind::Value:
      exc = py::handle(PyExc_ValueError)(to_str(e.what()));
      note = false;
      break;
    case ErrorKind::Type:
      exc = py::handle(PyExc_TypeError)(to_str(e.what()));
      note = false;
      break;
    case ErrorKind::Index:
      exc = py::handle(PyExc_IndexError)(to_str(e.what()));
      note = false;
      break;
    case ErrorKind::OS: {
      // OSError(errno, strerror, filename) is the subclass errno selects.
      py::object strerror = py::module_::import("os").attr("strerror")(e.os_errno());
      exc = py::handle(PyExc_OSError)(e.os_errno(), strerror, to_str(e.filename()));
      break;
    }
    case ErrorKind::Decode: {
      const std::string& object = e.decode_object();
      PyObject* d = PyUnicodeDecodeError_Create("utf-8", object.data(), static_cast<Py_ssize_t>(object.size()),
                                                static_cast<Py_ssize_t>(e.decode_start()),
                                                static_cast<Py_ssize_t>(e.decode_end()), e.decode_reason().c_str());
      if (!d) throw py::error_already_set();
      exc = py::reinterpret_steal<py::object>(d);
      break;
    }
  }
  if (note) exc.attr("add_note")(to_str(e.what()));
  return exc;
}

void set_error(const Error& e) {
  try {
    py::object exc = to_exception(e);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  } catch (py::error_already_set& failed) {
    failed.restore();
  }
}

}  // namespace isotope::python

PYBIND11_MODULE(isotope, m) {
  namespace py = pybind11;
  using namespace isotope::python;

  py::register_local_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const isotope::Error& e) {
      set_error(e);
    }
  });

  m.doc() = kModuleDoc;
  // As in a module run from source: code executed in the module's namespace
  // (main's imports included) finds the builtins through its globals.
  m.attr("__builtins__") = py::handle(PyEval_GetBuiltins());
  m.attr("re") = py::module_::import("re");
  m.attr("os") = py::module_::import("os");
  m.attr("sys") = py::module_::import("sys");
  m.attr("np") = py::module_::import("numpy");
  bind_composition(m);
  m.attr("freeze_support") = py::module_::import("multiprocessing").attr("freeze_support");
  m.attr("argparse") = py::module_::import("argparse");
  m.attr("Counter") = py::module_::import("collections").attr("Counter");
  m.attr("path_full_split") = py::module_::import("morvandel.plugins.utils").attr("path_full_split");
  bind_tables(m);
  exec_in_module(m, kMyParserSource);
  bind_operations(m);
  exec_in_module(m, kMainSource);

  if (py::str(m.attr("__name__")).cast<std::string>() == "__main__") m.attr("main")();
}
