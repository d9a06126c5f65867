// The bytes of one message as vellomar.write puts it in a file: its segments
// each ended by the chosen line end, optionally in an MLLP frame, in the
// message's codec. One pass over the message's text; a codec other than
// UTF-8 goes through the interpreter's encoder.
#include <cstring>

#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

namespace {

// The whole line of a segment, from its name to the end of its last field.
std::string_view line_of(const SegmentView &segment) {
  const char *end = segment.stored ? segment.base + segment.ends[segment.stored - 1]
                                   : segment.name.data() + segment.name.size();
  return {segment.name.data(), static_cast<size_t>(end - segment.name.data())};
}

} // namespace

const py::Signature message_bytes_sig{
    "message_bytes()", {"message", "line_end", "framed", "codec"}, 4, 4};

// A new bytes object: the segments of `message` (a Message) each followed by
// `line_end`, between "\x0b" and "\x1c\r" when `framed` is true, encoded
// with `codec` (a codec name; "utf-8" copies the text as it is held).
// TypeError for other argument types; the encoder's UnicodeEncodeError or
// LookupError as the interpreter raises them.
Ref message_bytes(PyObject **args) {
  if (Py_TYPE(args[0]) != module::types.message) {
    PyErr_SetString(PyExc_TypeError, "message_bytes() takes a Message");
    return {};
  }
  std::string_view line_end, codec;
  if (!py::to_text(args[1], "line_end", line_end) || !py::to_text(args[3], "codec", codec))
    return {};
  const int framed = PyObject_IsTrue(args[2]);
  if (framed < 0)
    return {};
  const Message &message = *py::instance<module::MessagePtr>(args[0])->value;
  // Size first, fill once.
  size_t size = 0;
  for (size_t i = 0; i < message.segment_count(); ++i)
    size += line_of(message.segment_at(i)).size() + line_end.size();
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < message.segment_count(); ++i) {
    text += line_of(message.segment_at(i));
    text += line_end;
  }
  Ref body;
  if (codec == "utf-8") {
    body = Ref::check(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  } else {
    Ref decoded = Ref::check(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
    const std::string name(codec);
    body = Ref::check(PyUnicode_AsEncodedString(decoded.get(), name.c_str(), "strict"));
    if (!PyBytes_Check(body.get())) {
      PyErr_Format(PyExc_TypeError, "codec '%s' did not give bytes", name.c_str());
      return {};
    }
  }
  if (!framed)
    return body;
  const Py_ssize_t n = PyBytes_GET_SIZE(body.get());
  Ref out = Ref::check(PyBytes_FromStringAndSize(nullptr, n + 3));
  char *p = PyBytes_AS_STRING(out.get());
  p[0] = '\x0b';
  std::memcpy(p + 1, PyBytes_AS_STRING(body.get()), static_cast<size_t>(n));
  p[n + 1] = '\x1c';
  p[n + 2] = '\r';
  return out;
}

} // namespace vellomar::ops
