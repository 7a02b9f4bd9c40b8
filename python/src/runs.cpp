// Table runs from Python: the pipeline and the directory batch, with the
// module's messages on sys.stdout and sys.stderr.
#include "convert.hpp"
#include "isotope/run/batch.hpp"
#include "isotope/run/params.hpp"
#include "isotope/run/pipeline.hpp"

namespace isotope::python {

namespace {

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


py::dict read_param_py(py::object param_file) {
  py::dict d;
  for (const auto& [option, value] : read_param(fs_path(param_file))) d[to_str(option)] = to_str(value);
  return d;
}

void run_single_file_py(py::object input_file, py::object output_dir, py::object param_file, py::object aa_comp,
                        py::object mod_comp, py::object gly_comp) {
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
  // The tables the module holds now: rebinding aa_comp changes the next run.
  const CompTable aa = table_from_mapping(aa_comp, "aa_comp");
  const CompTable mod = table_from_mapping(mod_comp, "mod_comp");
  const CompTable gly = table_from_mapping(gly_comp, "gly_comp");
  const ModelTables tables{aa, mod, gly};
  py::gil_scoped_release release;
  run_single_file(input, output, param, tables, console);
}

// Calls run_one(input_file) for every table of input_dir, in the batch's
// order; run_one is the public module's current run_single_file.
void run_multiple_files_py(py::object input_dir, py::object run_one) {
  run_multiple_files(fs_path(input_dir), [&](const std::string& input_file) { run_one(to_str(input_file)); });
}

}  // namespace

void bind_runs(py::module_& m) {
  m.def("read_param", &read_param_py);
  m.def("run_single_file", &run_single_file_py);
  m.def("run_multiple_files", &run_multiple_files_py);
}

}  // namespace isotope::python
