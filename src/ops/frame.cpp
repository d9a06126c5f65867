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
  // The message's text is the bytes without a byte-order mark before its MSH
  // (the cutter's rule of where a message starts); a frame's start block
  // stays, for the parser takes the frame whole.
  std::string framed;
  if (data.starts_with("\xEF\xBB\xBF\x0b")) // a mark before the frame, as on a line of its own
    data.remove_prefix(3);
  if (const size_t head = message_head(data); head != std::string_view::npos && head > 0) {
    if (data.front() != '\x0b')
      data.remove_prefix(head);
    else if (head > 1) {
      framed.assign(1, '\x0b').append(data.substr(head));
      data = framed;
    }
  }
  return py::convert_or_raise(parse_in(codec, data), [](Message &&message) {
    return module::new_message(std::move(message));
  });
}

} // namespace vellomar::ops
