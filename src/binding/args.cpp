#include "args.hpp"

namespace vellomar::py {
namespace {

// Index of the parameter named `keyword`, or -1. Interned names match by
// pointer, as the interpreter interns keyword names in calls.
int find_keyword(const Signature &sig, PyObject *keyword) {
  for (int i = 0; i < sig.count; ++i) {
    if (!sig.interned[i]) {
      sig.interned[i] = PyUnicode_InternFromString(sig.names[i]);
      if (!sig.interned[i])
        throw ErrorAlreadySet{};
    }
    if (sig.interned[i] == keyword)
      return i;
  }
  for (int i = 0; i < sig.count; ++i)
    if (PyUnicode_Compare(sig.interned[i], keyword) == 0)
      return i;
  return -1;
}

} // namespace

bool bind(const Signature &sig, PyObject *const *args, Py_ssize_t nargs,
          PyObject *kwnames, PyObject **bound) {
  if (nargs > sig.count) {
    const char *verb = nargs == 1 ? "was" : "were";
    if (sig.required == sig.count)
      PyErr_Format(PyExc_TypeError,
                   "%s takes %d positional arguments but %zd %s given",
                   sig.callable, sig.count, nargs, verb);
    else
      PyErr_Format(PyExc_TypeError,
                   "%s takes from %d to %d positional arguments but %zd %s given",
                   sig.callable, sig.required, sig.count, nargs, verb);
    return false;
  }
  for (int i = 0; i < sig.count; ++i)
    bound[i] = i < nargs ? args[i] : nullptr;
  if (kwnames) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject *keyword = PyTuple_GET_ITEM(kwnames, k);
      int i = find_keyword(sig, keyword);
      if (i < 0) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                     sig.callable, keyword);
        return false;
      }
      if (bound[i]) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'",
                     sig.callable, keyword);
        return false;
      }
      bound[i] = args[nargs + k];
    }
  }
  for (int i = 0; i < sig.required; ++i) {
    if (!bound[i]) {
      PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'",
                   sig.callable, sig.names[i]);
      return false;
    }
  }
  return true;
}

} // namespace vellomar::py
