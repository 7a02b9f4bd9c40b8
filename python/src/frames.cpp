// DataFrames and arrays: annotate (a DataFrame through the table run) and
// patterns (many envelopes as one array). Python objects are read and built
// with the global lock held; the core works without it, on its worker
// threads.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <deque>
#include <cstdlib>
#include <limits>
#include <unordered_map>

#include "convert.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"
#include "isotope/run/frame.hpp"
#include "isotope/run/many_patterns.hpp"
#include "isotope/run/options.hpp"

namespace isotope::python {

namespace {

// Distinct cell texts remembered per added column while building it.
constexpr std::size_t kSharedTexts = 1 << 16;

std::string py_text(py::handle obj) { return std::string(utf8(py::str(obj), "text")); }

// The options of annotate's params: None (the defaults), a dict of
// options (values through str(), True and False as true and false, each
// named by its position for errors), or a parameter file's path. Option
// names the tool does not know, or knows by another spelling, are warned
// about.
Options options_of(py::object params) {
  if (params.is_none()) {
    ParamFile file;
    file.path = "the default options";
    add_frame_defaults(file);
    return read_options(file);
  }
  if (PyDict_Check(params.ptr())) {
    ParamFile file;
    file.path = "the params dict";
    long line = 0;
    for (auto item : py::reinterpret_borrow<py::dict>(params)) {
      std::string value = PyBool_Check(item.second.ptr()) ? (item.second.ptr() == Py_True ? "true" : "false")
                                                          : py_text(item.second);
      file.params.emplace_back(py_text(item.first), std::string(text::strip(value)));
      file.lines.push_back(++line);
    }
    warn_options(file, python_console());
    add_frame_defaults(file);
    return read_options(file);
  }
  const ParamFile file = read_param_file(fs_path(params));
  warn_options(file, python_console());
  return read_options(file);
}

unsigned threads_of(py::object threads, const Options& options) {
  if (threads.is_none()) return resolve_threads(options, std::getenv("ISOTOPE_THREADS"));
  std::optional<unsigned> n = thread_count(to_int64(threads, "threads"));
  if (!n) throw py::value_error("threads must be from 0 (every core) to 4096");
  return *n;
}

// One column of a DataFrame as cells typed as pandas holds them: numbers of
// a numeric column, and in an object column each value by its own type (a
// str is text even when it reads "NA"; None and NaN are missing).
// A float cell: its repr, and a NaN missing ("" in an engine's table of
// text, "nan" as str() shows it in ours).
void push_number(CellColumn& col, double v, bool as_text, std::string& buf) {
  buf.clear();
  if (std::isnan(v)) {
    col.push(ColumnType::Float, as_text ? "" : "nan");
  } else {
    append_float_repr(buf, v);
    col.push(ColumnType::Float, buf);
  }
}

// A value of an object column, typed by its own type.
void push_object(CellColumn& col, py::handle v, bool as_text, std::string& buf) {
  PyObject* o = v.ptr();
  if (o == Py_None) {
    col.push(ColumnType::Text, "");
  } else if (PyBool_Check(o)) {
    col.push(ColumnType::Bool, o == Py_True ? "True" : "False");
  } else if (PyFloat_Check(o)) {
    push_number(col, PyFloat_AS_DOUBLE(o), as_text, buf);
  } else if (PyLong_Check(o)) {
    col.push(ColumnType::Int, py_text(v));
  } else if (PyUnicode_Check(o)) {
    col.push(ColumnType::TextAsRead, utf8(v, "cell"));
  } else if (py::isinstance(v, py::module_::import("numpy").attr("floating"))) {
    push_number(col, PyFloat_AsDouble(o), as_text, buf);
  } else if (py::isinstance(v, py::module_::import("numpy").attr("integer"))) {
    col.push(ColumnType::Int, py_text(v));
  } else if (PyObject_RichCompareBool(o, o, Py_EQ) == 0) {  // pandas' NA and NaT are missing
    col.push(ColumnType::Text, "");
  } else {
    col.push(ColumnType::TextAsRead, py_text(v));
  }
}

CellColumn cells_of(py::handle series, std::size_t rows, bool as_text) {
  CellColumn col;
  col.types.reserve(rows);
  col.ends.reserve(rows);
  col.text.reserve(rows * 8);
  py::array values = py::reinterpret_steal<py::array>(PyObject_CallMethod(series.ptr(), "to_numpy", nullptr));
  if (!values) throw py::error_already_set();
  const char kind = values.dtype().kind();
  std::string buf;
  if (kind == 'u') {  // may exceed int64: through Python's int
    for (auto v : values) col.push(ColumnType::Int, py_text(v));
    return col;
  }
  if (kind == 'i') {
    py::array_t<std::int64_t> ints = py::array_t<std::int64_t, py::array::forcecast>::ensure(values);
    auto r = ints.unchecked<1>();
    for (py::ssize_t i = 0; i < r.shape(0); ++i) col.push(ColumnType::Int, std::to_string(r(i)));
    return col;
  }
  if (kind == 'f') {
    py::array_t<double> floats = py::array_t<double, py::array::forcecast>::ensure(values);
    auto r = floats.unchecked<1>();
    for (py::ssize_t i = 0; i < r.shape(0); ++i) push_number(col, r(i), as_text, buf);
    return col;
  }
  if (kind == 'b') {
    py::array_t<bool> bools = py::array_t<bool, py::array::forcecast>::ensure(values);
    auto r = bools.unchecked<1>();
    for (py::ssize_t i = 0; i < r.shape(0); ++i) col.push(ColumnType::Bool, r(i) ? "True" : "False");
    return col;
  }
  for (auto v : values) push_object(col, v, as_text, buf);
  return col;
}

bool is_float_series(py::handle series) {
  return py::str(series.attr("dtype").attr("kind")).cast<std::string>() == "f";
}

// The frame's columns a run reads, as typed cells (every column of an
// engine's table), with the count columns held as floats.
FrameTable frame_of(py::object df, const Options& options) {
  FrameTable frame;
  frame.rows = py::len(df);
  py::object columns = df.attr("columns");
  for (auto c : columns) frame.names.push_back(py_text(c));
  frame.columns.resize(frame.names.size());
  std::vector<std::string> wanted;
  if (!options.input_format) {
    wanted = columns_read(options);
  }
  const std::vector<std::string> counts = count_columns(options);
  frame.float_columns.resize(counts.size());
  py::object iloc = df.attr("iloc");
  for (std::size_t j = 0; j < frame.names.size(); ++j) {
    bool needed = options.input_format || std::find(wanted.begin(), wanted.end(), frame.names[j]) != wanted.end();
    if (!needed) continue;
    py::object series = iloc[py::make_tuple(py::slice(py::none(), py::none(), py::none()), py::int_(j))];
    frame.columns[j] = cells_of(series, frame.rows, options.input_format.has_value());
    if (!options.input_format)
      for (std::size_t k = 0; k < counts.size(); ++k)
        if (frame.names[j] == counts[k]) frame.float_columns[k] = is_float_series(series);
  }
  return frame;
}

// How rows are named in messages: by position and index label (the label
// of a RangeIndex computed, other labels read once).
std::function<std::string(std::size_t)> row_names(py::object df) {
  py::object index = df.attr("index");
  std::vector<std::string> labels;
  long start = 0, step = 1;
  const bool range = py::isinstance(index, py::module_::import("pandas").attr("RangeIndex"));
  if (range) {
    start = index.attr("start").cast<long>();
    step = index.attr("step").cast<long>();
  } else {
    for (auto label : index) labels.push_back(std::string(utf8(py::repr(label), "label")));
  }
  return [range, start, step, labels = std::move(labels)](std::size_t row) {
    std::string label = range ? std::to_string(start + static_cast<long>(row) * step) : labels[row];
    return "row " + std::to_string(row) + " (index " + label + ")";
  };
}

// Added text column c as an object array of str, even for a frame without
// rows. Rows repeat glycopeptides: equal texts share one str object (up to
// a bound on the distinct texts remembered).
py::array text_column(const FrameResult& result, std::size_t c, std::size_t rows) {
  py::array values(py::dtype("O"), {static_cast<py::ssize_t>(rows)}, {});
  auto** cells = static_cast<PyObject**>(values.mutable_data());
  std::unordered_map<std::string_view, PyObject*> seen;
  std::size_t i = 0;
  for (const auto& piece : result.pieces) {
    const CellColumn& col = piece[c].text;
    for (std::size_t r = 0; r < col.size(); ++r, ++i) {
      std::string_view text = col.cell(r).raw;
      PyObject* obj = nullptr;
      if (auto hit = seen.find(text); hit != seen.end()) {
        obj = hit->second;
        Py_INCREF(obj);
      } else {
        obj = to_str(text).release().ptr();
        if (seen.size() < kSharedTexts) seen.emplace(text, obj);
      }
      Py_XDECREF(cells[i]);
      cells[i] = obj;
    }
  }
  return values;
}

// Added number column c as float64 (NaN: an empty cell).
py::array_t<double> number_column(const FrameResult& result, std::size_t c, std::size_t rows) {
  py::array_t<double> values(static_cast<py::ssize_t>(rows));
  double* out = values.mutable_data();
  for (const auto& piece : result.pieces) out = std::copy(piece[c].numbers.begin(), piece[c].numbers.end(), out);
  return values;
}

// Added integer column c as pandas' nullable Int64 (NA: an empty cell).
py::object integer_column(const FrameResult& result, std::size_t c, std::size_t rows) {
  py::array_t<std::int64_t> values(static_cast<py::ssize_t>(rows));
  py::array_t<bool> mask(static_cast<py::ssize_t>(rows));
  std::int64_t* v = values.mutable_data();
  bool* m = mask.mutable_data();
  for (const auto& piece : result.pieces)
    for (double x : piece[c].numbers) {
      *m++ = std::isnan(x);
      *v++ = std::isnan(x) ? 0 : static_cast<std::int64_t>(x);
    }
  return py::module_::import("pandas").attr("arrays").attr("IntegerArray")(values, mask);
}

// Added list column c as an object array holding one float64 array per row
// (an empty one for an empty cell).
py::array array_column(const FrameResult& result, std::size_t c, std::size_t rows) {
  py::array values(py::dtype("O"), {static_cast<py::ssize_t>(rows)}, {});
  auto** cells = static_cast<PyObject**>(values.mutable_data());
  std::size_t i = 0;
  for (const auto& piece : result.pieces) {
    const FrameCells& col = piece[c];
    for (std::size_t r = 0; r < col.ends.size(); ++r, ++i) {
      const std::size_t begin = r == 0 ? 0 : col.ends[r - 1];
      py::array_t<double> row(static_cast<py::ssize_t>(col.ends[r] - begin));
      std::copy(col.numbers.begin() + static_cast<std::ptrdiff_t>(begin),
                col.numbers.begin() + static_cast<std::ptrdiff_t>(col.ends[r]), row.mutable_data());
      Py_XDECREF(cells[i]);
      cells[i] = row.release().ptr();
    }
  }
  return values;
}

py::object added_column(const FrameResult& result, std::size_t c, std::size_t rows) {
  switch (result.kinds[c]) {
    case FrameColumnKind::Number: return number_column(result, c, rows);
    case FrameColumnKind::Integer: return integer_column(result, c, rows);
    case FrameColumnKind::Array: return array_column(result, c, rows);
    case FrameColumnKind::Text: break;
  }
  return text_column(result, c, rows);
}

py::object annotate_py(py::object df, py::object params, py::object threads, py::object aa_comp, py::object mod_comp,
                       py::object gly_comp, py::object arrays) {
  const Options options = options_of(params);
  const unsigned n_threads = threads_of(threads, options);
  const bool with_arrays = truthy(arrays);
  const CompTable aa = table_from_mapping(aa_comp, "aa_comp");
  const CompTable mod = table_from_mapping(mod_comp, "mod_comp");
  const CompTable gly = table_from_mapping(gly_comp, "gly_comp");
  const ModelTables tables{aa, mod, gly};
  FrameTable frame = frame_of(df, options);
  frame.row_name = row_names(df);

  const Console console = python_console();
  FrameResult result;
  {
    py::gil_scoped_release release;
    result = annotate_frame(frame, options, tables, console, n_threads, with_arrays);
  }

  py::dict added;
  for (std::size_t c = 0; c < result.names.size(); ++c)
    added[to_str(result.names[c])] = added_column(result, c, frame.rows);
  // A new DataFrame: the input's columns (those it shares with the added
  // ones keep their place and get the new values), then the added ones.
  py::object out = df.attr("copy")();
  for (auto item : added) out.attr("__setitem__")(item.first, item.second);
  return out;
}

py::array_t<double> patterns_py(py::object comps, py::object n, py::object normalize, py::object threads) {
  EnvelopeRequest request;
  request.peaks = to_int64(n, "n");
  if (request.peaks < 0) throw py::value_error("n must not be negative");
  request.normalize = normalize_of(normalize);
  const unsigned n_threads = threads_of(threads, Options{});

  // Inputs point into the objects (kept alive by `items`) or into owned
  // compositions made from mappings.
  py::list items = py::list(comps);
  std::vector<PatternInput> inputs(items.size());
  std::deque<Composition> owned;  // stable addresses
  auto convert = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      py::handle item = PyList_GET_ITEM(items.ptr(), static_cast<py::ssize_t>(i));
      if (PyUnicode_Check(item.ptr())) {
        inputs[i].formula = utf8(item, "formula");
      } else if (is_composition(item)) {
        inputs[i].composition = &item.cast<const Composition&>();
      } else {
        owned.push_back(composition_from_mapping(item));
        inputs[i].composition = &owned.back();
      }
    }
  };
  if (request.peaks > 0) {
    // Rows of a known width, written in place; the inputs are converted
    // (under the lock) piece by piece while the workers compute.
    py::array_t<double> out({static_cast<py::ssize_t>(inputs.size()), static_cast<py::ssize_t>(request.peaks)});
    double* data = out.mutable_data();
    py::gil_scoped_release release;
    many_patterns_into(inputs, request, n_threads, data, [&](std::size_t begin, std::size_t end) {
      py::gil_scoped_acquire gil;
      convert(begin, end);
    });
    return out;
  }
  convert(0, inputs.size());
  std::vector<std::vector<double>> rows;
  {
    py::gil_scoped_release release;
    rows = many_patterns(inputs, request, n_threads);
  }
  std::size_t width = static_cast<std::size_t>(request.peaks);
  if (width == 0)
    for (const auto& r : rows) width = std::max(width, r.size());
  py::array_t<double> out({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(width)});
  double* data = out.mutable_data();
  std::fill(data, data + rows.size() * width, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t i = 0; i < rows.size(); ++i)
    std::copy_n(rows[i].begin(), std::min(width, rows[i].size()), data + i * width);
  return out;
}

}  // namespace

Options params_options(py::object params) { return options_of(std::move(params)); }

void bind_frames(py::module_& m) {
  m.def("annotate", &annotate_py);
  m.def("patterns", &patterns_py);
}

}  // namespace isotope::python
