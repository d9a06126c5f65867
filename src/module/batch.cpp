// The module function parse_batch.
#include "../core/batch.hpp"
#include "classes.hpp"

namespace vellomar::module {

const py::Signature parse_batch_sig{"parse_batch()", {"raw"}, 1, 1};

// Every message is parsed before the first Python object is made, so a
// failing batch creates none.
py::Ref parse_batch(PyObject **args) {
  py::Ref encoded; // the UTF-8 of a non-ASCII text, for the duration of the call
  std::string_view raw;
  if (!py::to_text_uncached(args[0], "raw", encoded, raw))
    return {};
  return py::convert_or_raise(vellomar::parse_batch(raw), [](std::vector<Message> &&messages) {
    return py::new_list(messages.size(), [&](auto append) {
      for (Message &message : messages)
        append(new_message(std::move(message)));
    });
  });
}

} // namespace vellomar::module
