// The module function parse_batch.
#include "../core/batch.hpp"
#include "classes.hpp"

namespace vellomar::module {

const py::Signature parse_batch_sig{"parse_batch()", {"raw"}, 1, 1};

// Each message goes into its object as soon as it is parsed (a batch that
// fails half-way frees the objects made so far): an array of every record
// first was a second pass over memory the size of the batch's records, and
// at 100,000 messages a fresh mapping of 8 MB for each call.
py::Ref parse_batch(PyObject **args) {
  py::Ref encoded; // the UTF-8 of a non-ASCII text, for the duration of the call
  std::string_view raw;
  if (!py::to_text_uncached(args[0], "raw", encoded, raw))
    return {};
  py::Ref list = py::Ref::check(PyList_New(0));
  bool failed = false; // the object's own error is set
  auto error = vellomar::parse_batch_each(raw, [&](Message &&message) {
    const py::Ref object = new_message(std::move(message));
    failed = !object || PyList_Append(list.get(), object.get()) < 0;
    return !failed;
  });
  if (failed)
    return {};
  if (error)
    return py::Ref::steal(py::raise(*error));
  return list;
}

} // namespace vellomar::module
