// The module function parse_batch.
#include "../core/batch.hpp"
#include "classes.hpp"

namespace vellomar::module {
namespace {

using py::Ref;

const py::Signature parse_batch_sig{"parse_batch()", {"raw"}, 1, 1};

} // namespace

// Every message is parsed before the first Python object is made, so a
// failing batch creates none.
PyObject *parse_batch(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                      PyObject *kwnames) {
  return py::guard<PyObject *>(nullptr, [&]() -> PyObject * {
    std::string_view raw;
    if (!bind_raw(parse_batch_sig, args, nargs, kwnames, raw))
      return nullptr;
    auto parsed = vellomar::parse_batch(raw);
    if (!parsed)
      return py::raise(parsed.error());
    std::vector<Message> &messages = parsed.value();
    Ref list = Ref::check(PyList_New(static_cast<Py_ssize_t>(messages.size())));
    for (size_t i = 0; i < messages.size(); ++i)
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                      new_message(std::move(messages[i])).release());
    return list.release();
  });
}

} // namespace vellomar::module
