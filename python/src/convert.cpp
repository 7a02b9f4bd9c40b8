// Conversions and the error mapping of the binding.
#include "convert.hpp"

#include <cmath>

namespace isotope::python {

std::string type_name(py::handle obj) { return Py_TYPE(obj.ptr())->tp_name; }

void raise_key_error(py::handle key) {
  // The key itself is the only argument, even a tuple.
  py::object exc = py::handle(PyExc_KeyError)(key);
  PyErr_SetObject(PyExc_KeyError, exc.ptr());
  throw py::error_already_set();
}

bool truthy(py::handle obj) {
  int r = PyObject_IsTrue(obj.ptr());
  if (r < 0) throw py::error_already_set();
  return r != 0;
}

std::int64_t to_int64(py::handle obj, const char* what) {
  py::object n = py::reinterpret_steal<py::object>(PyNumber_Index(obj.ptr()));
  if (!n) throw py::error_already_set();
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
  if (overflow) throw py::value_error(std::string(what) + " does not fit in 64 bits");
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

std::string_view pattern_text(py::handle obj) {
  if (!PyUnicode_Check(obj.ptr()))
    throw py::type_error("expected string or bytes-like object, got '" + type_name(obj) + "'");
  return utf8(obj, "text");
}

bool is_missing(py::handle obj) {
  return obj.is_none() || (PyFloat_Check(obj.ptr()) && std::isnan(PyFloat_AS_DOUBLE(obj.ptr())));
}

bool is_composition(py::handle obj) { return py::isinstance<Composition>(obj); }
bool is_mapping(py::handle obj) { return !PyUnicode_Check(obj.ptr()) && py::hasattr(obj, "keys"); }

py::object not_implemented() { return py::reinterpret_borrow<py::object>(Py_NotImplemented); }

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

py::array_t<double> to_array(const std::vector<double>& values) {
  py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

}  // namespace isotope::python
