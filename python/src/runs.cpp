// Table runs from Python: the pipeline and the directory batch, with the
// module's messages on sys.stdout and sys.stderr.
#include <optional>

#include "convert.hpp"
#include "isotope/run/batch.hpp"
#include "isotope/run/envelope_view.hpp"
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

// A warning through warnings.warn, as IsotopeInputWarning, pointing at the
// caller of the module's function. A filter that turns warnings into
// errors makes it raise, and the run fails with that exception.
void warn(std::string_view text) {
  py::gil_scoped_acquire gil;
  if (PyErr_WarnEx(input_warning().ptr(), std::string(text).c_str(), 2) != 0) throw py::error_already_set();
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
// order; run_one is the public module's current run_single_file. With
// isotope_on_error = continue, the first failure's exception is raised
// after all tables, with a note naming every failed table.
void run_multiple_files_py(py::object input_dir, py::object param_file, py::object run_one) {
  const Console console = python_console();
  std::optional<std::string> params;
  if (is_path_like(param_file)) params = fs_path(param_file);
  std::optional<py::error_already_set> first;
  auto describe = [&](const std::exception& e) -> std::string {
    if (const auto* py_error = dynamic_cast<const py::error_already_set*>(&e)) {
      if (!first) first = *py_error;
      py::object type = py_error->type();
      return std::string(py::str(type.attr("__name__"))) + ": " + std::string(py::str(py_error->value()));
    }
    return describe_error(e);
  };
  BatchReport report = run_batch(
      fs_path(input_dir), params, console, [&](const std::string& input_file) { run_one(to_str(input_file)); },
      describe);
  if (report.failed.empty()) return;
  std::string note = std::to_string(report.failed.size()) + " of " +
                     std::to_string(report.failed.size() + report.written) + " tables failed:";
  for (const auto& f : report.failed) note += "\n  " + f.name + ": " + f.what;
  if (first) {
    first->value().attr("add_note")(to_str(note));
    throw *first;
  }
  throw py::value_error(note);
}

std::vector<double> doubles(py::object values) {
  auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(values);
  if (!a) throw py::type_error("expected a sequence of numbers");
  return {a.data(), a.data() + a.size()};
}

// One envelope in its run's MS1 spectrum, for plot_isotopes: a dict of the
// spectrum, the match and (asked for) the window's chromatogram.
py::dict envelope_view_py(py::object path, py::object scan, py::object mz, py::object theory, py::object charge,
                          py::object params, bool chromatogram) {
  const Options options = params.is_none() ? Options{} : params_options(params);
  const std::string run = py::str(path).cast<std::string>(), id = py::str(scan).cast<std::string>();
  const std::vector<double> peaks = doubles(mz), heights = doubles(theory);
  const int z = static_cast<int>(to_int64(charge, "charge"));
  EnvelopeView v;
  {
    py::gil_scoped_release release;
    v = view_envelope(run, id, peaks, heights, z, options, chromatogram);
  }
  py::dict out;
  out["ms1_scan"] = to_str(v.ms1_scan);
  out["rt"] = v.rt_min;
  out["centroid_mz"] = to_array(v.centroids.mz);
  out["centroid_intensity"] = to_array(v.centroids.intensity);
  out["intensities"] = to_array(v.match.intensities);
  std::vector<double> claimed_mz;
  for (const auto& c : v.match.claimed) claimed_mz.push_back(c ? v.centroids.mz[*c] : std::nan(""));
  out["claimed_mz"] = to_array(claimed_mz);
  out["found"] = v.match.found;
  out["cosine"] = v.match.cosine ? py::object(py::float_(*v.match.cosine)) : py::none();
  out["ppm"] = v.match.ppm ? py::object(py::float_(*v.match.ppm)) : py::none();
  out["offset"] = v.match.offset ? py::object(py::int_(*v.match.offset)) : py::none();
  out["chromatogram_rt"] = to_array(v.chromatogram_rt);
  out["chromatogram_sum"] = to_array(v.chromatogram_sum);
  return out;
}

}  // namespace

Console python_console() {
  Console c{[](std::string_view s) { write_stream("stdout", s, true); },
            [](std::string_view s) { write_stream("stderr", s, true); }, warn};
  py::object err = py::module_::import("sys").attr("stderr");
  if (!err.is_none() && py::hasattr(err, "isatty")) {
    try {
      c.err_is_terminal = py::bool_(err.attr("isatty")());
      if (c.err_is_terminal) c.err_columns = py::module_::import("shutil").attr("get_terminal_size")().attr("columns").cast<int>();
    } catch (py::error_already_set&) {
      c.err_is_terminal = false;  // a stream without a terminal behind it
    }
  }
  return c;
}

void bind_runs(py::module_& m) {
  m.def("read_param", &read_param_py);
  m.def("run_single_file", &run_single_file_py);
  m.def("run_multiple_files", &run_multiple_files_py);
  m.def("envelope_view", &envelope_view_py);
}

}  // namespace isotope::python
