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
  if (!PyBytes_Check(args[0])) {
    PyErr_Format(PyExc_TypeError, "argument 'data': '%.200s' object is not 'bytes'",
                 Py_TYPE(args[0])->tp_name);
    return {};
  }
  Codec codec;
  if (args[1] == Py_None || !to_codec(args[1], codec)) {
    if (!PyErr_Occurred())
      PyErr_SetString(PyExc_TypeError, "argument 'codec': a codec name, not None");
    return {};
  }
  // The message's text is the bytes without a byte-order mark before its MSH
  // (the cutter's rule of where a message starts).
  std::string_view data(PyBytes_AS_STRING(args[0]), static_cast<size_t>(PyBytes_GET_SIZE(args[0])));
  if (!data.empty() && data.front() != '\x0b' && message_head(data) != std::string_view::npos)
    data.remove_prefix(message_head(data));
  return py::convert_or_raise(parse_in(codec, data), [](Message &&message) {
    return module::new_message(std::move(message));
  });
}

} // namespace vellomar::ops
