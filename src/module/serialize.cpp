// to_dict of Message, Segment and Field, and Message.to_json.
//
// to_dict builds a compact, lossy view straight from the records: components
// only as their values, no sub-components, no raw text, and "repetitions"
// only for a field that repeats. to_json writes the complete records as text
// in the core and converts the finished buffer to a str once.
#include "../core/index.hpp"
#include "../core/json_writer.hpp"
#include "classes.hpp"

#include <bit>

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

// What one call's walk shares: the keys, a buffer for unescaped values and,
// for a whole message, the strs already made (null: each str made anew, for
// a single segment or field, too small to repeat much).
struct Builder {
  const Keys &keys;
  py::StrCache *cache = nullptr;
  const char *limit = nullptr; // the end of the text the fields lie in
  bool single = false;         // component, repetition and escape one byte each
  std::string scratch;

  [[gnu::always_inline]] Ref str(std::string_view text) {
    return cache ? cache->str(text) : py::str(text);
  }
};

bool single_bytes(const EncodingCharacters &enc) {
  return enc.component.size == 1 && enc.repetition.size == 1 && enc.escape.size == 1;
}

void set_item(const Ref &dict, PyObject *key, const Ref &value) {
  if (PyDict_SetItem(dict.get(), key, value.get()) < 0)
    throw py::ErrorAlreadySet{};
}

// A field of one repetition without escapes (most are), cut in one pass
// when the delimiters are one byte each: its value is its text and its
// components are the pieces between component separators. Null when the
// field needs the general way (a repetition, an escape, more than 16
// components), which gives the same result.
Ref plain_field_dict(const FieldView &f, Builder &b) {
  const Keys &keys = b.keys;
  const EncodingCharacters &enc = *f.enc;
  if (f.literal || !b.single)
    return {};
  const char cs = enc.component.bytes[0], rs = enc.repetition.bytes[0], es = enc.escape.bytes[0];
  const std::string_view text = f.text;
  uint32_t cuts[16];
  size_t count = 0;
  // Sixteen bytes at a time where the text may be read that far (b.limit:
  // the end of the text the field lies in), byte by byte at its very end.
  for (size_t at = 0; at < text.size(); at += 16) {
    const char *p = text.data() + at;
    const size_t left = text.size() - at;
    uint32_t comps = 0, others = 0;
#if defined(__SSE2__)
    if (block16_before(p, b.limit)) {
      const auto *const block = reinterpret_cast<const unsigned char *>(p);
      comps = equal_bytes16(block, static_cast<unsigned char>(cs)) & first_bytes16(left);
      others = (equal_bytes16(block, static_cast<unsigned char>(rs)) |
                equal_bytes16(block, static_cast<unsigned char>(es))) & first_bytes16(left);
    } else
#endif
    {
      for (size_t i = 0, n = std::min<size_t>(16, left); i < n; ++i) {
        comps |= static_cast<uint32_t>(p[i] == cs) << i;
        others |= static_cast<uint32_t>(p[i] == rs || p[i] == es) << i;
      }
    }
    if (others)
      return {};
    for (; comps; comps &= comps - 1) {
      if (count == 16)
        return {};
      cuts[count++] = static_cast<uint32_t>(at + static_cast<size_t>(std::countr_zero(comps)));
    }
  }
  Ref dict = Ref::check(PyDict_New());
  Ref value = b.str(text);
  set_item(dict, keys.value, value);
  // Without separators the field is its own single component: the one str
  // serves as both values (strs are immutable).
  set_item(dict, keys.components, py::new_list(count + 1, [&](auto append) {
             if (count == 0)
               return append(std::move(value));
             size_t start = 0;
             for (size_t i = 0; i < count; ++i) {
               append(b.str(text.substr(start, cuts[i] - start)));
               start = cuts[i] + 1;
             }
             append(b.str(text.substr(start)));
           }));
  return dict;
}

// {"value", "components", ["repetitions"]}
Ref field_dict(const FieldView &f, Builder &b) {
  if (Ref plain = plain_field_dict(f, b))
    return plain;
  const Keys &keys = b.keys;
  std::string &scratch = b.scratch;
  Ref dict = Ref::check(PyDict_New());
  Ref value = b.str(f.value(scratch));
  set_item(dict, keys.value, value);
  // A field without component or repetition separators is its own single
  // component and has no repetitions.
  if (f.literal || (!contains(f.text, f.enc->component) && !contains(f.text, f.enc->repetition))) {
    set_item(dict, keys.components, py::new_list(1, [&](auto append) { append(std::move(value)); }));
    return dict;
  }
  set_item(dict, keys.components, py::new_list(f.component_count(), [&](auto append) {
             f.for_each_component(
                 [&](const ComponentView &c) { append(b.str(c.value(scratch))); });
           }));
  if (size_t count = f.repetition_count(); count > 0)
    set_item(dict, keys.repetitions, py::new_list(count, [&](auto append) {
               f.for_each_repetition(
                   [&](const FieldView &r) { append(field_dict(r, b)); });
             }));
  return dict;
}

// {"name", "fields"}
Ref segment_dict(const SegmentView &s, Builder &b) {
  const Keys &keys = b.keys;
  Ref dict = Ref::check(PyDict_New());
  set_item(dict, keys.name, b.str(s.name));
  set_item(dict, keys.fields, py::new_list(s.field_count(), [&](auto append) {
             s.for_each_field(
                 [&](const FieldView &f) { append(field_dict(f, b)); });
           }));
  return dict;
}

} // namespace

// {"segments"}
Ref message_to_dict(const MessagePtr &message) {
  const Keys &keys = dict_keys();
  py::StrCache cache;
  Builder b{keys, &cache, message->raw.data() + message->raw.size(), single_bytes(message->enc), {}};
  Ref dict = Ref::check(PyDict_New());
  set_item(dict, keys.segments, py::new_list(message->segment_count(), [&](auto append) {
             for (size_t i = 0; i < message->segment_count(); ++i)
               append(segment_dict(message->segment_at(i), b));
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
  return py::str_of(json.view(), json.ascii());
}

Ref segment_to_dict(const Segment &segment) {
  const SegmentView view = segment.view();
  // The line ends with its last stored field, or with its name.
  const char *end = view.stored ? view.base + view.ends[view.stored - 1]
                                : view.name.data() + view.name.size();
  Builder b{dict_keys(), nullptr, end, single_bytes(*view.enc), {}};
  return segment_dict(view, b);
}

Ref field_to_dict(const Field &field) {
  const FieldView view = field.view();
  Builder b{dict_keys(), nullptr, view.text.data() + view.text.size(), single_bytes(*view.enc), {}};
  return field_dict(view, b);
}

} // namespace vellomar::module
