// to_dict of Message, Segment and Field, and Message.to_json.
//
// to_dict builds a compact, lossy view straight from the records: components
// only as their values, no sub-components, no raw text, and "repetitions"
// only for a field that repeats. to_json writes the complete records as text
// in the core and converts the finished buffer to a str once.
#include "../core/json_writer.hpp"
#include "classes.hpp"

namespace vellomar::module {
namespace {

using py::Ref;

// The dictionary keys, made once per call and shared by every dict it builds.
struct Keys {
  Ref segments = key("segments");
  Ref name = key("name");
  Ref fields = key("fields");
  Ref value = key("value");
  Ref components = key("components");
  Ref repetitions = key("repetitions");

  static Ref key(const char *text) {
    return Ref::check(PyUnicode_InternFromString(text));
  }
};

void set_item(const Ref &dict, const Ref &key, const Ref &value) {
  if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0)
    throw py::ErrorAlreadySet{};
}

// {"value", "components", ["repetitions"]}
Ref field_dict(const FieldView &f, const Keys &keys, std::string &scratch) {
  Ref dict = Ref::check(PyDict_New());
  set_item(dict, keys.value, py::str(f.value(scratch)));

  Ref components = Ref::check(PyList_New(static_cast<Py_ssize_t>(f.component_count())));
  Py_ssize_t i = 0;
  f.for_each_component([&](const ComponentView &c) {
    PyList_SET_ITEM(components.get(), i++, py::str(c.value(scratch)).release());
  });
  set_item(dict, keys.components, components);

  if (size_t count = f.repetition_count(); count > 0) {
    Ref repetitions = Ref::check(PyList_New(static_cast<Py_ssize_t>(count)));
    Py_ssize_t j = 0;
    f.for_each_repetition([&](const FieldView &r) {
      PyList_SET_ITEM(repetitions.get(), j++, field_dict(r, keys, scratch).release());
    });
    set_item(dict, keys.repetitions, repetitions);
  }
  return dict;
}

// {"name", "fields"}
Ref segment_dict(const SegmentView &s, const Keys &keys, std::string &scratch) {
  Ref dict = Ref::check(PyDict_New());
  set_item(dict, keys.name, py::str(s.name));
  Ref fields = Ref::check(PyList_New(static_cast<Py_ssize_t>(s.field_count())));
  for (size_t i = 0; i < s.field_count(); ++i)
    PyList_SET_ITEM(fields.get(), static_cast<Py_ssize_t>(i),
                    field_dict(s.field_at(i), keys, scratch).release());
  set_item(dict, keys.fields, fields);
  return dict;
}

} // namespace

// {"segments"}
Ref message_to_dict(const MessagePtr &message) {
  Keys keys;
  std::string scratch;
  Ref dict = Ref::check(PyDict_New());
  Ref segments =
      Ref::check(PyList_New(static_cast<Py_ssize_t>(message->segment_count())));
  for (size_t i = 0; i < message->segment_count(); ++i)
    PyList_SET_ITEM(segments.get(), static_cast<Py_ssize_t>(i),
                    segment_dict(message->segment_at(i), keys, scratch).release());
  set_item(dict, keys.segments, segments);
  return dict;
}

Ref message_to_json(const MessagePtr &message) {
  return py::str(write_message_json(*message).view());
}

Ref segment_to_dict(const Segment &segment) {
  Keys keys;
  std::string scratch;
  return segment_dict(segment.view(), keys, scratch);
}

Ref field_to_dict(const Field &field) {
  Keys keys;
  std::string scratch;
  return field_dict(field.view(), keys, scratch);
}

} // namespace vellomar::module
