// Message structures and validation: the definitions are read once from the
// package's data file into a process-wide record, which every later call
// walks.
#include <memory>

#include "../binding/convert.hpp"
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

const py::Signature validate_sig{"validate()", {"message", "version", "finding"}, 3, 3};
// A new list of (severity, code, location, text) tuples of the tuple
// subclass `finding` (the package's Finding), made as tuple() makes them:
// without running Python code per finding.
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
  const std::vector<Finding> findings = validate_message(*loaded, *message, version);
  return py::new_list(findings.size(), [&](auto append) {
    for (const Finding &f : findings) {
      Ref severity = py::str(f.error ? "error" : "warning");
      Ref code = Ref::check(PyLong_FromLong(f.code));
      Ref location = py::str(f.location), text = py::str(f.text);
      Ref items =
          Ref::check(PyTuple_Pack(4, severity.get(), code.get(), location.get(), text.get()));
      Ref call = Ref::check(PyTuple_Pack(1, items.get())); // tuple(iterable)
      append(Ref::check(PyTuple_Type.tp_new(finding, call.get(), nullptr)));
    }
  });
}

} // namespace vellomar::ops
