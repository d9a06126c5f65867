// Message structures and validation: the definitions are read once from the
// package's data file into a process-wide record, which every later call
// walks.
#include <memory>

#include "../binding/convert.hpp"
#include "../core/terser.hpp"
#include "../core/validate.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

namespace {

// Set once by load_definitions; read under the interpreter lock.
std::shared_ptr<const Definitions> loaded;

// The Message argument and the version (None or a str) of both functions,
// or null with TypeError set.
const Message *message_and_version(PyObject **args, const char *callable,
                                   std::string_view &version) {
  if (Py_TYPE(args[0]) != module::types.message) {
    PyErr_Format(PyExc_TypeError, "%s takes a Message", callable);
    return nullptr;
  }
  if (args[1] && args[1] != Py_None && !py::to_text(args[1], "version", version))
    return nullptr;
  if (!loaded) {
    PyErr_SetString(PyExc_RuntimeError, "HL7 definitions not loaded");
    return nullptr;
  }
  return py::instance<module::MessagePtr>(args[0])->value.get();
}

// (name, [item, ...]) where an item is a segment index or a child group.
Ref group_tuple(const MessageStructure &s, uint32_t node) {
  const GroupNode &n = s.nodes[node];
  Ref items = py::new_list(n.items.size(), [&](auto append) {
    for (const GroupNode::Item &item : n.items)
      append(item.group ? group_tuple(s, item.index)
                        : Ref::check(PyLong_FromUnsignedLong(item.index)));
  });
  Ref name = py::str(node == 0 ? std::string_view(s.name) : n.name);
  return Ref::check(PyTuple_Pack(2, name.get(), items.get()));
}

} // namespace

const Definitions *definitions() { return loaded.get(); }

const py::Signature load_definitions_sig{"load_definitions()", {"text"}, 1, 1};
Ref load_definitions(PyObject **args) {
  std::string_view text;
  if (!py::to_text(args[0], "text", text))
    return {};
  if (loaded) // tables being built point into them: they stay for the process
    return Ref::borrow(Py_None);
  Result<Definitions> parsed = Definitions::parse(text);
  if (!parsed)
    return Ref::steal(py::raise(parsed.error()));
  loaded = std::make_shared<const Definitions>(std::move(parsed).value());
  return Ref::borrow(Py_None);
}

const py::Signature structure_sig{"structure()", {"message", "version"}, 2, 1};
// A new tuple (root group, known, [unexpected segment index, ...]).
Ref structure(PyObject **args) {
  std::string_view version;
  const Message *message = message_and_version(args, "structure()", version);
  if (!message)
    return {};
  const MessageStructure s = match_structure(*message, message_kind(*loaded, *message, version));
  Ref root = group_tuple(s, 0);
  Ref unexpected = py::new_list(s.unexpected.size(), [&](auto append) {
    for (uint32_t i : s.unexpected)
      append(Ref::check(PyLong_FromUnsignedLong(i)));
  });
  return Ref::check(PyTuple_Pack(3, root.get(), s.known ? Py_True : Py_False, unexpected.get()));
}

const py::Signature validate_sig{
    "validate()", {"message", "version", "finding", "strict"}, 4, 4};
// A new list of (severity, code, location, text, name) tuples of the tuple
// subclass `finding` (the package's Finding), made as tuple() makes them:
// without running Python code per finding; name is None where the
// definitions name no element.
Ref validate(PyObject **args) {
  std::string_view version;
  const Message *message = message_and_version(args, "validate()", version);
  if (!message)
    return {};
  if (!PyType_Check(args[2]) ||
      !PyType_IsSubtype(reinterpret_cast<PyTypeObject *>(args[2]), &PyTuple_Type)) {
    PyErr_SetString(PyExc_TypeError, "validate() takes a tuple subclass for the findings");
    return {};
  }
  auto *finding = reinterpret_cast<PyTypeObject *>(args[2]);
  const int strict = PyObject_IsTrue(args[3]);
  if (strict < 0)
    return {};
  const std::vector<Finding> findings = validate_message(*loaded, *message, version, strict);
  return py::new_list(findings.size(), [&](auto append) {
    for (const Finding &f : findings) {
      Ref severity = py::str(f.error ? "error" : "warning");
      Ref code = Ref::check(PyLong_FromLong(f.code));
      Ref location = py::str(f.location), text = py::str(f.text);
      Ref name = f.name.empty() ? Ref::borrow(Py_None) : py::str(f.name);
      Ref items = Ref::check(PyTuple_Pack(5, severity.get(), code.get(), location.get(),
                                          text.get(), name.get()));
      Ref call = Ref::check(PyTuple_Pack(1, items.get())); // tuple(iterable)
      append(Ref::check(PyTuple_Type.tp_new(finding, call.get(), nullptr)));
    }
  });
}

} // namespace vellomar::ops

namespace vellomar::ops {

namespace {

Ref text_or_none(std::string_view text, bool present) {
  return present ? py::str(text) : Ref::borrow(Py_None);
}

} // namespace

const py::Signature describe_sig{"describe()", {"message", "path", "version", "value"}, 4, 2};
// A new tuple (path, name, type, table, value, meaning) for the element that
// the terser `path` selects, read with the definitions of `version` (MSH-12
// when None): the path written plainly ("PID(1)-5-1", repetition 0 left
// out), then each item a str or None where nothing is known or present.
// `value`, when given, is the value whose meaning is wanted instead of the
// path's (another repetition of the field). ValueError for a path no
// message can answer, as check_path says.
Ref describe(PyObject **args) {
  std::string_view version, path, wanted;
  const bool given = args[3] && args[3] != Py_None;
  if (given && !py::to_text(args[3], "value", wanted))
    return {};
  PyObject *message_version[2] = {args[0], args[2]};
  const Message *message = message_and_version(message_version, "describe()", version);
  if (!message || !py::to_text(args[1], "path", path))
    return {};
  if (std::optional<Error> bad = check_terser_path(path))
    return Ref::steal(py::raise(*bad));
  Result<TerserPath> parsed = parse_terser_path(path);
  if (!parsed)
    return Ref::steal(py::raise(parsed.error()));
  const TerserPath &p = parsed.value();
  std::string plain = p.segment;
  if (p.repetition)
    plain.append("(").append(std::to_string(p.repetition)).append(")");
  for (size_t i = 0; i < p.depth; ++i)
    plain.append("-").append(std::to_string(p.index[i]));

  std::string scratch;
  std::string_view value;
  size_t count = 0;
  const size_t index = segment_index(*message, p.segment, p.repetition, count);
  const SegmentView segment =
      index == no_segment ? SegmentView{} : message->segment_at(index);
  const bool present = index != no_segment && select_value(segment, p, scratch, value);

  const MessageKind kind = message_kind(*loaded, *message, version);
  ElementInfo info;
  if (kind.definitions) {
    uint16_t field_type = 0;
    // OBX-5 is of the type OBX-2 names.
    if (p.segment == "OBX" && p.depth >= 1 && p.index[0] == 5 && index != no_segment &&
        segment.field_count() >= 2) {
      std::string_view named = segment.field_at(1).text;
      named = named.substr(0, named.find(message->enc.component.bytes[0]));
      field_type = loaded->type_number_of(named);
    }
    info = kind.definitions->element(p.segment, p.depth, p.index, field_type);
  }
  const std::string *meaning = (given || present) && info.table
                                   ? kind.definitions->meaning(info.table, given ? wanted : value)
                                   : nullptr;
  Ref items[6] = {
      py::str(plain),
      text_or_none(info.name, !info.name.empty()),
      // "-" stands for a withdrawn field: it has no type.
      text_or_none(loaded->type_name(info.type), info.type && loaded->type_name(info.type) != "-"),
      text_or_none(info.table ? loaded->table_name(info.table) : "", info.table != 0),
      text_or_none(value, present),
      text_or_none(meaning ? *meaning : "", meaning != nullptr),
  };
  return Ref::check(PyTuple_Pack(6, items[0].get(), items[1].get(), items[2].get(),
                                 items[3].get(), items[4].get(), items[5].get()));
}

} // namespace vellomar::ops
