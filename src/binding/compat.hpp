// Every difference between the CPython versions we build for sits here.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vellomar::py {

// Takes the exception being raised (a new reference), clearing it; nullptr
// when none is set.
inline PyObject *take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (!type)
    return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback)
    PyException_SetTraceback(value, traceback);
  Py_DECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

// Makes a str's canonical storage available (false with the error set);
// every str is in that form from 3.12 on.
inline bool ready(PyObject *str) {
#if PY_VERSION_HEX < 0x030C0000
  return PyUnicode_READY(str) == 0;
#else
  (void)str;
  return true;
#endif
}

} // namespace vellomar::py
