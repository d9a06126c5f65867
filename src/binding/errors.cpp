#include "errors.hpp"

namespace vellomar::py {

PyObject *raise(const Error &error) {
  PyObject *type = PyExc_ValueError;
  switch (error.kind) {
  case ErrorKind::value_error:
    type = PyExc_ValueError;
    break;
  case ErrorKind::key_error:
    type = PyExc_KeyError;
    break;
  case ErrorKind::index_error:
    type = PyExc_IndexError;
    break;
  }
  Ref message = Ref::steal(PyUnicode_FromStringAndSize(
      error.message.data(), static_cast<Py_ssize_t>(error.message.size())));
  if (message)
    PyErr_SetObject(type, message.get()); // a non-tuple value becomes args[0]
  return nullptr;
}

PyObject *panic_type() {
  // Created once; lives until the process ends.
  static PyObject *type = nullptr;
  if (!type)
    type = PyErr_NewExceptionWithDoc(
        "vellomar.PanicException",
        "An unexpected internal failure of vellomar. Derived from BaseException,\n"
        "so `except Exception` does not catch it.",
        PyExc_BaseException, nullptr);
  return type;
}

void raise_panic(const char *message) {
  PyObject *type = panic_type();
  if (!type)
    return;
  Ref text = Ref::steal(PyUnicode_FromString(message));
  if (text)
    PyErr_SetObject(type, text.get());
}

} // namespace vellomar::py
