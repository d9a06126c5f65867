// The iterator behind vellomar.Reader: messages of a byte stream, one at a
// time, with the ordinal and offset of the last one and the bytes read.
#include "../module/classes.hpp"
#include "ops.hpp"
#include "source.hpp"

namespace vellomar::ops {
namespace {

using py::Ref;

struct ReadState {
  ByteSource source;
  Ref close;      // called once at the end of the stream, unless None
  Ref error_type; // called as error_type(ordinal, offset, reason)
  bool skip;
  uint64_t ordinal = 0;
  uint64_t offset = 0;
  uint64_t skipped = 0;
};

// The next message; a bad one is raised as error_type or, when skipping,
// counted and passed over. An empty Ref without an error ends the iteration.
Ref next_message(ReadState &state) {
  std::string_view text;
  uint64_t offset = 0;
  while (state.source.next_text(text, offset)) {
    ++state.ordinal;
    state.offset = offset;
    auto parsed = state.source.parse(text);
    if (parsed)
      return module::new_message(std::move(parsed).value());
    if (state.skip) {
      ++state.skipped;
      continue;
    }
    raise_message_error(state.error_type.get(), state.ordinal, offset, parsed.error().message);
  }
  if (state.close.get() != Py_None) {
    Ref close = std::move(state.close);
    state.close = Ref::borrow(Py_None);
    Ref::check(PyObject_CallNoArgs(close.get()));
  }
  return {};
}

Ref ordinal(const ReadState &s) { return Ref::check(PyLong_FromUnsignedLongLong(s.ordinal)); }
Ref offset(const ReadState &s) { return Ref::check(PyLong_FromUnsignedLongLong(s.offset)); }
Ref skipped(const ReadState &s) { return Ref::check(PyLong_FromUnsignedLongLong(s.skipped)); }
Ref position(const ReadState &s) {
  return Ref::check(PyLong_FromUnsignedLongLong(s.source.position()));
}

PyGetSetDef state_getset[] = {
    {"ordinal", py::unary<ReadState, ordinal>, nullptr, nullptr, nullptr},
    {"offset", py::unary<ReadState, offset>, nullptr, nullptr, nullptr},
    {"skipped", py::unary<ReadState, skipped>, nullptr, nullptr, nullptr},
    {"position", py::unary<ReadState, position>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot state_slots[] = {
    {Py_tp_getset, state_getset},
    {Py_tp_iter, reinterpret_cast<void *>(py::self_iter)},
    {Py_tp_iternext, reinterpret_cast<void *>(py::next<ReadState, next_message>)},
    {0, nullptr},
};

PyTypeObject *state_type() {
  return py::type_once<ReadState>("vellomar._ops.ReadState",
                                    "Messages of a byte stream (vellomar.Reader's state).",
                                    state_slots);
}

} // namespace

const py::Signature read_messages_sig{
    "read_messages()", {"read", "close", "codec_of", "encoding", "skip", "error_type"}, 6, 6};

Ref read_messages(PyObject **args) {
  Codec fixed;
  if (!to_codec(args[3], fixed))
    return {};
  int skip = PyObject_IsTrue(args[4]);
  if (skip < 0)
    return {};
  PyObject *codec_of = args[3] == Py_None ? args[2] : Py_None;
  return py::wrap(state_type(), ReadState{ByteSource(args[0], codec_of, std::move(fixed)),
                                          Ref::borrow(args[1]), Ref::borrow(args[5]),
                                          skip != 0});
}

} // namespace vellomar::ops
