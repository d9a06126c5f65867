// The Python classes of the module and the constructors of their instances.
#pragma once

#include <memory>

#include "../binding/convert.hpp"
#include "../binding/object.hpp"
#include "../core/records.hpp"

namespace vellomar::module {

// A Message instance shares its immutable record with the iterators made from
// it; nothing can change the record, so the sharing is never observable.
using MessagePtr = std::shared_ptr<const Message>;

struct MessageIteratorState {
  MessagePtr message;
  size_t position = 0; // segments already returned
};

struct SegmentIteratorState {
  Segment segment;
  size_t position = 0; // fields already returned
};

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

// A new str of the decoded value of a field or component.
template <class View> py::Ref value_str(const View &view) {
  std::string scratch;
  return py::str(view.value(scratch));
}

// "{open}{text}{close}" as a new str, e.g. Field('DOE').
py::Ref wrapped_str(std::string_view open, std::string_view text,
                    std::string_view close);

} // namespace vellomar::module
