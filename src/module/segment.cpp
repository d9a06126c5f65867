// Segment and SegmentIterator.
#include "classes.hpp"

namespace vellomar::module {
namespace {

using py::Ref;

Ref name(const Segment &s) { return py::str(s.view().name); }

Ref fields(const Segment &s) {
  SegmentView view = s.view();
  return py::new_list(view.field_count(), [&](auto append) {
    view.for_each_field([&](const FieldView &f) { append(new_field(f)); });
  });
}

// Field lookup shared by field(index) and seg[index].
Ref field_at_key(const Segment &s, PyObject *key) {
  uint64_t index = 0;
  if (!py::to_index(key, "index", index))
    return {};
  return py::convert_or_raise(s.view().field(index), [](Field &&field) {
    return py::wrap(types.field, std::move(field));
  });
}

const py::Signature field_sig{"Segment.field()", {"index"}, 1, 1};
Ref field(const Segment &s, PyObject **args) { return field_at_key(s, args[0]); }

size_t length(const Segment &s) { return s.view().field_count(); }

// tp_iter, which needs the object itself (not only its record) to keep it.
PyObject *iter(PyObject *self) {
  return py::guard<PyObject *>(nullptr, [&] {
    const Segment *segment = &py::instance<Segment>(self)->value;
    return py::wrap(types.segment_iterator,
                    SegmentIteratorState{Ref::borrow(self), segment, 0})
        .release();
  });
}

Ref repr(const Segment &s) {
  SegmentView view = s.view();
  return wrapped_str("Segment('", view.name,
                     "', fields=" + std::to_string(view.field_count()) + ")");
}

Ref iterator_next(SegmentIteratorState &it) {
  SegmentView view = it.segment->view();
  if (it.position >= view.field_count())
    return {};
  Ref field = new_field(view.field_at(it.position));
  ++it.position;
  return field;
}

PyGetSetDef segment_getset[] = {
    {"name", py::unary<Segment, name>, nullptr, "", nullptr},
    {"fields", py::unary<Segment, fields>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef segment_methods[] = {
    {"field", py::as_cfunction(py::method<Segment, field_sig, field>),
     METH_FASTCALL | METH_KEYWORDS,
     "field($self, index)\n--\n\nReturn field at 1-based index.\n\n"
     "For MSH, field(1) returns the field separator \"|\"."},
    {"to_dict", py::unary<Segment, py::collector_paused<Segment, segment_to_dict>>, METH_NOARGS,
     "to_dict($self)\n--\n\nSerialize to a Python dict."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot segment_slots[] = {
    {Py_tp_getset, segment_getset},
    {Py_tp_methods, segment_methods},
    {Py_mp_length, reinterpret_cast<void *>(py::length<Segment, length>)},
    {Py_mp_subscript, reinterpret_cast<void *>(py::subscript<Segment, field_at_key>)},
    {Py_tp_iter, reinterpret_cast<void *>(iter)},
    {Py_tp_str, reinterpret_cast<void *>(py::unary<Segment, name>)},
    {Py_tp_repr, reinterpret_cast<void *>(py::unary<Segment, repr>)},
    {0, nullptr},
};

PyType_Slot segment_iterator_slots[] = {
    {Py_tp_iter, reinterpret_cast<void *>(py::self_iter)},
    {Py_tp_iternext,
     reinterpret_cast<void *>(py::next<SegmentIteratorState, iterator_next>)},
    {0, nullptr},
};

} // namespace

py::Ref new_segment(const SegmentView &view) {
  return py::wrap_made<Segment>(types.segment, [&] { return Segment::copy_of(view); });
}

PyTypeObject *create_segment_type() {
  return py::make_type<Segment>(
      "builtins.Segment", "A single segment within an HL7v2 message (e.g. MSH, PID, OBX).",
      segment_slots);
}

PyTypeObject *create_segment_iterator_type() {
  return py::make_type<SegmentIteratorState>(
      "builtins.SegmentIterator", "Iterator over fields in a segment.",
      segment_iterator_slots);
}

} // namespace vellomar::module
