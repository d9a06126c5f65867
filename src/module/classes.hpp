// The Python classes of the module and the constructors of their instances.
#pragma once

#include <memory>

#include "../binding/collector.hpp"
#include "../binding/convert.hpp"
#include "../binding/object.hpp"
#include "../core/records.hpp"
#include "../core/terser.hpp"

namespace vellomar::module {

// A Message instance shares its immutable record with the iterators made from
// it; nothing can change the record, so the sharing is never observable.
using MessagePtr = std::shared_ptr<const Message>;

struct MessageIteratorState {
  MessagePtr message;
  size_t position = 0; // segments already returned
};

// The iterator holds a reference to its segment object and reads that
// object's record in place: the record never changes, and copying it (its
// line and field index) for every iteration cost two allocations.
struct SegmentIteratorState {
  py::Ref owner;             // the Segment object
  const Segment *segment;    // its record
  size_t position = 0;       // fields already returned
};

} // namespace vellomar::module

namespace vellomar::py {
// Records never change after parsing (see records.hpp).
template <> inline constexpr bool never_changed<Segment> = true;
template <> inline constexpr bool never_changed<Field> = true;
template <> inline constexpr bool never_changed<Component> = true;
template <> inline constexpr bool never_changed<module::MessagePtr> = true;
} // namespace vellomar::py

namespace vellomar::module {

// The six type objects, made once at the first import.
struct Types {
  PyTypeObject *message = nullptr;
  PyTypeObject *segment = nullptr;
  PyTypeObject *field = nullptr;
  PyTypeObject *component = nullptr;
  PyTypeObject *message_iterator = nullptr;
  PyTypeObject *segment_iterator = nullptr;
};
extern Types types;

PyTypeObject *create_message_type();
PyTypeObject *create_message_iterator_type();
PyTypeObject *create_segment_type();
PyTypeObject *create_segment_iterator_type();
PyTypeObject *create_field_type();
PyTypeObject *create_component_type();

// New instances owning copies of the viewed records (new references).
py::Ref new_message(Message &&message);
py::Ref new_segment(const SegmentView &view);
py::Ref new_field(const FieldView &view);
py::Ref new_component(const ComponentView &view);

// A new list with one item per piece of `text` cut at `d`, each made by
// make(piece) as a Ref. Most values are one piece: the first search for `d`
// settles that, and only a text holding `d` is counted and then cut.
template <class Make>
py::Ref list_of_pieces(std::string_view text, const Delimiter &d, Make &&make) {
  if (!contains(text, d))
    return py::new_list(1, [&](auto append) { append(make(text)); });
  return py::new_list(count_pieces(text, d), [&](auto append) {
    cut(text, d, [&](std::string_view piece) { append(make(piece)); });
  });
}

// A new str of the decoded value of a field or component.
template <class View> py::Ref value_str(const View &view) {
  std::string scratch;
  return py::str(view.value(scratch));
}

// "{open}{text}{close}" as a new str, e.g. Field('DOE').
py::Ref wrapped_str(std::string_view open, std::string_view text,
                    std::string_view close);

// ---------------------------------------------------------- serialization
// Method bodies of to_dict and to_json (serialize.cpp), for the method tables
// of Message, Segment and Field.

py::Ref message_to_dict(const MessagePtr &message);
py::Ref message_to_json(const MessagePtr &message);
py::Ref segment_to_dict(const Segment &segment);
py::Ref field_to_dict(const Field &field);

// ------------------------------------------- module functions beside parse
// parse_batch (batch.cpp), parse_datetime and parse_date (timestamps.cpp),
// registered in module.cpp's function table.

// Bodies for py::function: each takes the bound argument `raw`.
extern const py::Signature parse_batch_sig, parse_datetime_sig, parse_date_sig;
py::Ref parse_batch(PyObject **args);
py::Ref parse_datetime(PyObject **args);
py::Ref parse_date(PyObject **args);

// --------------------------------------------------------- message queries
// Terser paths, header properties and the ACK (message_query.cpp), for the
// tables of Message in message.cpp.

extern const py::Signature message_get_sig; // get(path)
py::Ref message_get(const MessagePtr &m, PyObject **args);
py::Ref message_subscript(const MessagePtr &m, PyObject *key); // msg[path]

py::Ref header_message_type(const MessagePtr &m); // (MSH-9.1, MSH-9.2)

// The decoded value of MSH-`Number` as a new str (control_id is MSH-10,
// version MSH-12, sending_application MSH-3, sending_facility MSH-4); the
// lookup's KeyError or IndexError is raised unchanged.
template <uint64_t Number> py::Ref header_str(const MessagePtr &m) {
  return py::convert_or_raise(header_field(*m, Number), value_str<FieldView>);
}

extern const py::Signature message_ack_sig; // ack(ack_code="AA", text="")
py::Ref message_ack(const MessagePtr &m, PyObject **args);

} // namespace vellomar::module
