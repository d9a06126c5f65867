#include "convert.hpp"

namespace vellomar::py {
namespace {

// Replaces a pending exception of exactly TypeError by a new TypeError
// "argument '{param}': {str(old)}"; any other exception stays as it is.
void name_argument_in_type_error(const char *param) {
  if (PyErr_Occurred() != PyExc_TypeError) // exactly TypeError, no subclass
    return;
  Ref old = Ref::steal(take_raised_exception());
  Ref text = Ref::steal(PyObject_Str(old.get()));
  if (!text)
    return;
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", param, text.get());
}

} // namespace

bool to_text_uncached(PyObject *obj, const char *param, Ref &holder,
                      std::string_view &out) {
  if (!PyUnicode_Check(obj))
    return to_text(obj, param, out); // raises its TypeError
  if (!ready(obj))
    return false;
  if (PyUnicode_IS_ASCII(obj)) {
    out = std::string_view(static_cast<const char *>(PyUnicode_DATA(obj)),
                           static_cast<size_t>(PyUnicode_GET_LENGTH(obj)));
    return true;
  }
  // The interpreter's UTF-8 encoder writes into a bytes object of our own
  // (faster, copy included, than an encoder of ours writing straight into
  // the message's string) and raises its own UnicodeEncodeError for a lone
  // surrogate.
  holder = Ref::steal(PyUnicode_AsUTF8String(obj));
  if (!holder)
    return false;
  out = std::string_view(PyBytes_AS_STRING(holder.get()),
                         static_cast<size_t>(PyBytes_GET_SIZE(holder.get())));
  return true;
}

bool to_bytes(PyObject *obj, const char *param, std::string_view &out) {
  if (!PyBytes_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%.200s' object is not 'bytes'", param,
                 Py_TYPE(obj)->tp_name);
    return false;
  }
  out = std::string_view(PyBytes_AS_STRING(obj), static_cast<size_t>(PyBytes_GET_SIZE(obj)));
  return true;
}

bool to_text(PyObject *obj, const char *param, std::string_view &out) {
  if (!PyUnicode_Check(obj)) {
    Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (qualname)
      PyErr_Format(PyExc_TypeError,
                   "argument '%s': '%U' object cannot be converted to 'PyString'", param,
                   qualname.get());
    return false;
  }
  Py_ssize_t size = 0;
  const char *data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!data)
    return false;
  out = std::string_view(data, static_cast<size_t>(size));
  return true;
}

bool to_index(PyObject *obj, const char *param, uint64_t &out) {
  Ref number;
  if (!PyLong_Check(obj)) {
    number = Ref::steal(PyNumber_Index(obj));
    if (!number) {
      name_argument_in_type_error(param);
      return false;
    }
    obj = number.get();
  }
  unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    name_argument_in_type_error(param);
    return false;
  }
  out = value;
  return true;
}

} // namespace vellomar::py
