// The line that the command line's `get` prints for a message, built in one
// call: the lookups, the escaping and the joining are most of its time.
#include "../core/tsv.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

const py::Signature tsv_line_sig{"tsv_line()", {"message", "paths"}, 2, 2};

// A new str: the tab-separated values that the tuple of terser paths
// `paths` select in `message`, ended by a line feed. TypeError for another
// type of argument, ValueError for a path that does not parse.
Ref tsv_line(PyObject **args) {
  if (Py_TYPE(args[0]) != module::types.message || !PyTuple_Check(args[1])) {
    PyErr_SetString(PyExc_TypeError, "tsv_line() takes a Message and a tuple of paths");
    return {};
  }
  const Py_ssize_t count = PyTuple_GET_SIZE(args[1]);
  std::vector<TerserPath> paths;
  paths.reserve(static_cast<size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    std::string_view text;
    if (!py::to_text(PyTuple_GET_ITEM(args[1], i), "paths", text))
      return {};
    Result<TerserPath> path = parse_terser_path(text);
    if (!path)
      return Ref::steal(py::raise(path.error()));
    paths.push_back(std::move(path).value());
  }
  std::string line;
  append_tsv_line(*py::instance<module::MessagePtr>(args[0])->value, paths, line);
  return py::str(line);
}

} // namespace vellomar::ops
