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

// The TypeError of a Python function with keyword-only parameters given
// `nargs` positional arguments where it takes fewer, worded as the
// interpreter words it; `bound` holds the keywords already placed. Its
// positional parameters are all required (Signature).
void too_many_positional(const Signature &sig, Py_ssize_t nargs, PyObject *const *bound) {
  const int positional = sig.count - sig.keyword_only;
  int keywords = 0;
  for (int i = positional; i < sig.count; ++i)
    keywords += bound[i] != nullptr;
  if (keywords)
    PyErr_Format(PyExc_TypeError,
                 "%s takes %d positional argument%s but %zd positional argument%s (and %d "
                 "keyword-only argument%s) were given",
                 sig.callable, positional, positional == 1 ? "" : "s", nargs,
                 nargs == 1 ? "" : "s", keywords, keywords == 1 ? "" : "s");
  else
    PyErr_Format(PyExc_TypeError, "%s takes %d positional argument%s but %zd %s given",
                 sig.callable, positional, positional == 1 ? "" : "s", nargs,
                 nargs == 1 ? "was" : "were");
}

} // namespace

bool bind(const Signature &sig, PyObject *const *args, Py_ssize_t nargs,
          PyObject *kwnames, PyObject **bound) {
  const int positional = sig.count - sig.keyword_only;
  if (nargs > positional && !sig.keyword_only) {
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
    bound[i] = i < nargs && i < positional ? args[i] : nullptr;
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
  if (nargs > positional) {
    too_many_positional(sig, nargs, bound);
    return false;
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
