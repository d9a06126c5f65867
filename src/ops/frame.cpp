// The message of one MLLP frame's bytes, for the listener: decoded and parsed
// by the reader's own routine, so a frame and a file give the same message,
// and a UTF-8 frame is parsed from its bytes without a str in between.
#include "../core/batch.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"
#include "source.hpp"

namespace vellomar::ops {

const py::Signature parse_bytes_sig{"parse_bytes()", {"data", "codec"}, 2, 2};

py::Ref parse_bytes(PyObject **args) {
  std::string_view data;
  if (!py::to_bytes(args[0], "data", data))
    return {};
  Codec codec;
  if (args[1] == Py_None || !to_codec(args[1], codec)) {
    if (!PyErr_Occurred())
      PyErr_SetString(PyExc_TypeError, "argument 'codec': a codec name, not None");
    return {};
  }
  // (the cutter's rule of where a message's text starts)
  std::string kept;
  data = one_message_text(data, kept);
  return py::convert_or_raise(parse_in(codec, data), [](Message &&message) {
    return module::new_message(std::move(message));
  });
}

} // namespace vellomar::ops
