// Argument binding for METH_FASTCALL | METH_KEYWORDS callables, with the
// TypeError texts of the whole module in one place.
#pragma once

#include "handle.hpp"

namespace vellomar::py {

// The description of one callable. The `required` leading parameters are
// required, the rest optional; the last `keyword_only` of them are given by
// keyword only and are optional (a callable that has them requires all its
// others), the others by position or keyword.
struct Signature {
  static constexpr int max_params = 6;
  const char *callable; // "Message.segment()" or "parse()"
  const char *names[max_params];
  int count;
  int required;
  int keyword_only = 0;
  // Interned keyword names, made on first use and kept for the process.
  mutable PyObject *interned[max_params] = {};
};

// Binds `args`/`kwnames` to the parameters of `sig`: `bound[i]` is the
// argument given for parameter i (borrowed) or nullptr. Returns false with
// TypeError set when the arguments do not fit: surplus positional arguments,
// then the first duplicate or unknown keyword, then a missing argument. With
// keyword-only parameters the keywords come first and the texts are those of
// a Python function (def f(a, *, b=None)), whose stand-in the callable is.
bool bind(const Signature &sig, PyObject *const *args, Py_ssize_t nargs,
          PyObject *kwnames, PyObject **bound);

} // namespace vellomar::py
