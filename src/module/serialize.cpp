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

// The dictionary keys (interned strings), made at the first call. The
// references are kept for the process and never released, so that no
// destructor touches them after the interpreter has gone.
struct Keys {
  PyObject *segments = key("segments");
  PyObject *name = key("name");
  PyObject *fields = key("fields");
  PyObject *value = key("value");
  PyObject *components = key("components");
  PyObject *repetitions = key("repetitions");

  static PyObject *key(const char *text) {
    return Ref::check(PyUnicode_InternFromString(text)).release();
  }
};

// A failure while making them leaves the static unmade, to be tried again at
// the next call.
const Keys &dict_keys() {
  static const Keys made;
  return made;
}

void set_item(const Ref &dict, PyObject *key, const Ref &value) {
  if (PyDict_SetItem(dict.get(), key, value.get()) < 0)
    throw py::ErrorAlreadySet{};
}

// Whether `text` holds a byte that begins separator `a` or `b`: one pass
// over a field's few bytes rather than a memchr call for each. A first byte
// of a two-byte separator alone is a false hit, which sends the field the
// long way round to the same result.
bool holds_either(std::string_view text, const Delimiter &a, const Delimiter &b) {
  const char x = a.bytes[0], y = b.bytes[0];
  for (char c : text)
    if (c == x || c == y)
      return true;
  return false;
}

// {"value", "components", ["repetitions"]}
Ref field_dict(const FieldView &f, const Keys &keys, std::string &scratch) {
  Ref dict = Ref::check(PyDict_New());
  Ref value = py::str(f.value(scratch));
  set_item(dict, keys.value, value);
  // A field without component or repetition separators (most are) is its
  // own single component and has no repetitions: the one str serves as both
  // values (strs are immutable), and its text is not read again to count
  // components and repetitions.
  if (f.literal || !holds_either(f.text, f.enc->component, f.enc->repetition)) {
    set_item(dict, keys.components, py::new_list(1, [&](auto append) { append(std::move(value)); }));
    return dict;
  }
  set_item(dict, keys.components, py::new_list(f.component_count(), [&](auto append) {
             f.for_each_component(
                 [&](const ComponentView &c) { append(py::str(c.value(scratch))); });
           }));
  if (size_t count = f.repetition_count(); count > 0)
    set_item(dict, keys.repetitions, py::new_list(count, [&](auto append) {
               f.for_each_repetition(
                   [&](const FieldView &r) { append(field_dict(r, keys, scratch)); });
             }));
  return dict;
}

// {"name", "fields"}
Ref segment_dict(const SegmentView &s, const Keys &keys, std::string &scratch) {
  Ref dict = Ref::check(PyDict_New());
  set_item(dict, keys.name, py::str(s.name));
  set_item(dict, keys.fields, py::new_list(s.field_count(), [&](auto append) {
             s.for_each_field(
                 [&](const FieldView &f) { append(field_dict(f, keys, scratch)); });
           }));
  return dict;
}

} // namespace

// {"segments"}
Ref message_to_dict(const MessagePtr &message) {
  const Keys &keys = dict_keys();
  std::string scratch;
  Ref dict = Ref::check(PyDict_New());
  set_item(dict, keys.segments, py::new_list(message->segment_count(), [&](auto append) {
             for (size_t i = 0; i < message->segment_count(); ++i)
               append(segment_dict(message->segment_at(i), keys, scratch));
           }));
  return dict;
}

Ref message_to_json(const MessagePtr &message) {
  // Each thread keeps the writer's storage between calls, up to this many
  // bytes (the text of a message of about 100 KB): past that it is freed
  // after the call.
  constexpr size_t keep_bytes = size_t{1} << 20;
  thread_local JsonBuffer json;
  struct Trim {
    ~Trim() { json.release_above(keep_bytes); } // on failure too
  } trim;
  write_message_json(*message, json);
  // The writer saw every byte: ASCII text needs no decoding pass.
  return json.ascii() ? py::ascii_str(json.view()) : py::str(json.view());
}

Ref segment_to_dict(const Segment &segment) {
  const Keys &keys = dict_keys();
  std::string scratch;
  return segment_dict(segment.view(), keys, scratch);
}

Ref field_to_dict(const Field &field) {
  const Keys &keys = dict_keys();
  std::string scratch;
  return field_dict(field.view(), keys, scratch);
}

} // namespace vellomar::module
