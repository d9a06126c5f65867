// Message and MessageIterator.
#include "classes.hpp"

namespace vellomar::module {
namespace {

using py::Ref;

Ref raw(const MessagePtr &m) { return py::str(m->raw); }

Ref segments(const MessagePtr &m) {
  return py::new_list(m->segment_count(), [&](auto append) {
    for (size_t i = 0; i < m->segment_count(); ++i)
      append(new_segment(m->segment_at(i)));
  });
}

const py::Signature segment_sig{"Message.segment()", {"name"}, 1, 1};
Ref segment(const MessagePtr &m, PyObject **args) {
  std::string_view name;
  if (!py::to_text(args[0], "name", name))
    return {};
  return py::convert_or_raise(m->segment(name), [](Segment &&segment) {
    return py::wrap(types.segment, std::move(segment));
  });
}

const py::Signature segments_by_name_sig{"Message.segments_by_name()", {"name"}, 1, 1};
Ref segments_by_name(const MessagePtr &m, PyObject **args) {
  std::string_view name;
  if (!py::to_text(args[0], "name", name))
    return {};
  Ref list = Ref::check(PyList_New(0));
  for (size_t i = 0; i != m->segment_count(); ++i) {
    SegmentView view = m->segment_at(i);
    if (view.name == name && PyList_Append(list.get(), new_segment(view).get()) < 0)
      throw py::ErrorAlreadySet{};
  }
  return list;
}

size_t length(const MessagePtr &m) { return m->segment_count(); }

Ref iter(const MessagePtr &m) {
  return py::wrap(types.message_iterator, MessageIteratorState{m, 0});
}

Ref repr(const MessagePtr &m) {
  std::string text = "Message(segments=[";
  for (size_t i = 0; i < m->segment_count(); ++i) {
    if (i)
      text += ", ";
    text += m->segment_at(i).name;
  }
  text += "])";
  return py::str(text);
}

Ref iterator_next(MessageIteratorState &it) {
  if (it.position >= it.message->segment_count())
    return {};
  Ref segment = new_segment(it.message->segment_at(it.position));
  ++it.position;
  return segment;
}

PyGetSetDef message_getset[] = {
    {"raw", py::unary<MessagePtr, raw>, nullptr, "", nullptr},
    {"segments", py::unary<MessagePtr, segments>, nullptr, "", nullptr},
    {"message_type", py::unary<MessagePtr, header_message_type>, nullptr,
     "Message type, e.g. (\"ADT\", \"A01\").", nullptr},
    {"control_id", py::unary<MessagePtr, header_str<10>>, nullptr,
     "Message control ID from MSH-10.", nullptr},
    {"version", py::unary<MessagePtr, header_str<12>>, nullptr,
     "HL7 version from MSH-12.", nullptr},
    {"sending_application", py::unary<MessagePtr, header_str<3>>,
     nullptr, "Sending application from MSH-3.", nullptr},
    {"sending_facility", py::unary<MessagePtr, header_str<4>>, nullptr,
     "Sending facility from MSH-4.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef message_methods[] = {
    {"segment",
     py::as_cfunction(py::method<MessagePtr, segment_sig, segment>),
     METH_FASTCALL | METH_KEYWORDS,
     "segment($self, name)\n--\n\nReturn the first segment matching the given name."},
    {"segments_by_name",
     py::as_cfunction(
         py::method<MessagePtr, segments_by_name_sig, segments_by_name>),
     METH_FASTCALL | METH_KEYWORDS,
     "segments_by_name($self, name)\n--\n\nReturn all segments matching the given "
     "name."},
    {"to_dict", py::unary<MessagePtr, py::collector_paused<MessagePtr, message_to_dict>>, METH_NOARGS,
     "to_dict($self)\n--\n\nSerialize the entire message to a Python dict."},
    {"to_json", py::unary<MessagePtr, message_to_json>, METH_NOARGS,
     "to_json($self)\n--\n\nSerialize the entire message to a JSON string."},
    {"get", py::as_cfunction(py::method<MessagePtr, message_get_sig, message_get>),
     METH_FASTCALL | METH_KEYWORDS,
     "get($self, path)\n--\n\nTerser path access method. Same as bracket notation."},
    {"ack", py::as_cfunction(py::method<MessagePtr, message_ack_sig, message_ack>),
     METH_FASTCALL | METH_KEYWORDS,
     "ack($self, ack_code=\"AA\", text=\"\")\n--\n\n"
     "Generate an ACK response message.\n\n"
     "`ack_code`: \"AA\" (accept), \"AE\" (error), \"AR\" (reject). Default: \"AA\".\n"
     "`text`: Optional text message for MSA-3."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot message_slots[] = {
    {Py_tp_getset, message_getset},
    {Py_tp_methods, message_methods},
    {Py_mp_length, reinterpret_cast<void *>(py::length<MessagePtr, length>)},
    {Py_mp_subscript,
     reinterpret_cast<void *>(py::subscript<MessagePtr, message_subscript>)},
    {Py_tp_iter, reinterpret_cast<void *>(py::unary<MessagePtr, iter>)},
    {Py_tp_repr, reinterpret_cast<void *>(py::unary<MessagePtr, repr>)},
    {0, nullptr},
};

PyType_Slot message_iterator_slots[] = {
    {Py_tp_iter, reinterpret_cast<void *>(py::self_iter)},
    {Py_tp_iternext,
     reinterpret_cast<void *>(py::next<MessageIteratorState, iterator_next>)},
    {0, nullptr},
};

} // namespace

Types types;

namespace {

// The shared record of a parsed message is made in the first
// Message::host_bytes of the message's own block: its reference count, then
// the record, as std::allocate_shared lays them out with this allocator,
// whose release frees the whole block. One allocation a message instead of
// two: the interpreter's small-object heap held the records of a batch in
// arenas it gave back to the system when the batch was freed, and mapped
// afresh for the next.
template <class T> struct HostAllocator {
  using value_type = T;
  char *block;
  size_t size;
  HostAllocator(char *b, size_t n) noexcept : block(b), size(n) {}
  template <class U>
  HostAllocator(const HostAllocator<U> &other) noexcept : block(other.block), size(other.size) {}
  T *allocate(size_t n) {
    static_assert(sizeof(T) <= Message::host_bytes && alignof(T) <= alignof(std::max_align_t),
                  "the record and its count must fit in the block's first bytes");
    if (n != 1)
      throw std::bad_alloc();
    return reinterpret_cast<T *>(block);
  }
  void deallocate(T *, size_t) noexcept { Message::free_block(block, size); }
  template <class U> bool operator==(const HostAllocator<U> &other) const noexcept {
    return block == other.block;
  }
};

} // namespace

py::Ref new_message(Message &&message) {
  if (!message.block())
    return py::wrap(types.message, std::allocate_shared<const Message>(
                                       py::SmallObjectAllocator<Message>(), std::move(message)));
  // The record moved in owns no block (it is released here): ending it frees
  // nothing, and the count's release frees the block.
  size_t size = 0;
  char *const block = message.release_block(size);
  return py::wrap(types.message, std::allocate_shared<const Message>(
                                     HostAllocator<Message>(block, size), std::move(message)));
}

py::Ref wrapped_str(std::string_view open, std::string_view text,
                    std::string_view close) {
  std::string out;
  out.reserve(open.size() + text.size() + close.size());
  out.append(open).append(text).append(close);
  return py::str(out);
}

PyTypeObject *create_message_type() {
  return py::make_type<MessagePtr>("builtins.Message", "A parsed HL7v2 message.",
                                   message_slots);
}

PyTypeObject *create_message_iterator_type() {
  return py::make_type<MessageIteratorState>("builtins.MessageIterator",
                                             "Iterator over segments in a message.",
                                             message_iterator_slots);
}

} // namespace vellomar::module
