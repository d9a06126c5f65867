// Terser path syntax for the command line, which refuses a path no message
// can answer before it reads any file.
#include "../binding/convert.hpp"
#include "../core/terser.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

const py::Signature check_path_sig{"check_path()", {"path"}, 1, 1};

// The error text of the path's syntax error as a new str, or None.
Ref check_path(PyObject **args) {
  std::string_view path;
  if (!py::to_text(args[0], "path", path))
    return {};
  std::optional<Error> error = check_terser_path(path);
  return error ? py::str(error->message) : Ref::borrow(Py_None);
}

} // namespace vellomar::ops
