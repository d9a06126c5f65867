// Message structures and validation: the definitions are read once from the
// package's data file into a process-wide record, which every later call
// walks.
#include <cstring>
#include <memory>
#include <unordered_map>

#include "../binding/convert.hpp"
#include "../core/parser.hpp"
#include "../core/terser.hpp"
#include "../core/validate.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

#include <structmember.h> // after Python.h, which it needs

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

// Instances of a class with __slots__ (the package's frozen dataclasses
// Group and SegmentRef) made as their generated __init__ makes them, but
// without running Python code: the slots are stored at the offsets the class
// declares. A tree of a few dozen such objects per message is most of what
// structure() costs when each goes through __init__.
class Slots {
public:
  // Reads the offsets of `names` in `cls`; false with TypeError set when cls
  // is not a class with exactly these object slots.
  bool bind(PyObject *cls, std::initializer_list<const char *> names) {
    if (cls == type_)
      return true;
    Py_CLEAR(type_);
    if (!PyType_Check(cls) || names.size() > max_slots)
      return fail();
    auto *type = reinterpret_cast<PyTypeObject *>(cls);
    size_t i = 0;
    for (const char *name : names) {
      const PyMemberDef *m = type->tp_members;
      while (m && m->name && std::strcmp(m->name, name) != 0)
        ++m;
      if (!m || !m->name || m->type != T_OBJECT_EX || (m->flags & READONLY))
        return fail();
      offsets_[i++] = m->offset;
    }
    type_ = Py_NewRef(cls);
    return true;
  }
  PyObject *type() const { return type_; }
  // A new instance holding `values` (new references, taken over).
  template <class... V> Ref make(V... values) const {
    static_assert(sizeof...(V) <= max_slots);
    auto *type = reinterpret_cast<PyTypeObject *>(type_);
    PyObject *held[] = {values...};
    PyObject *obj = type->tp_alloc(type, 0);
    if (!obj) {
      for (PyObject *v : held)
        Py_DECREF(v);
      throw py::ErrorAlreadySet{};
    }
    for (size_t i = 0; i < sizeof...(V); ++i)
      *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(obj) + offsets_[i]) = held[i];
    return Ref::steal(obj);
  }

private:
  bool fail() {
    PyErr_SetString(PyExc_TypeError, "structure() takes classes with __slots__");
    return false;
  }
  PyObject *type_ = nullptr; // kept for the process, like the objects below
  static constexpr size_t max_slots = 3;
  Py_ssize_t offsets_[max_slots] = {};
};

Slots group_slots, segment_slots; // set under the interpreter lock

// Names are few (the definitions' and the segments a site sends), so the str
// of each three-letter name is kept for the process, and so is each
// SegmentRef of such a name: the same few hundred recur in every message of
// a feed, and an immutable object may be handed out again (as the
// interpreter does with small ints). Both stay under a bound that hostile
// input cannot pass.
constexpr size_t kept_at_most = 8192;
// These live until the process ends: they are never destroyed, since their
// destructors would run after the interpreter is gone.
auto &kept_refs = *new std::unordered_map<uint64_t, Ref>; // of segment_slots' class

// The object kept under `key`, made by `make` the first time; once
// kept_at_most are kept, what `make` gives is handed out unkept.
template <class Key, class Make> Ref kept(std::unordered_map<Key, Ref> &known, Key key, Make &&make) {
  if (auto it = known.find(key); it != known.end())
    return Ref::borrow(it->second.get());
  Ref made = make();
  if (known.size() >= kept_at_most)
    return made;
  return Ref::borrow(known.emplace(key, std::move(made)).first->second.get());
}

PyObject *name_str(std::string_view name) {
  static auto &known = *new std::unordered_map<uint32_t, Ref>;
  const uint32_t key = VersionDefinitions::segment_key(name);
  if (key == 0)
    return py::str(name).release();
  return kept(known, key, [&] { return py::str(name); }).release();
}

// The str of an element's name (borrowed), kept for the process by the
// address of its text: names belong to the definitions, which are never
// freed once loaded, and are few (a few thousand), while the same ones recur
// in the findings of every message of a feed.
PyObject *element_name_str(std::string_view name) {
  static auto &known = *new std::unordered_map<const char *, Ref>;
  auto it = known.find(name.data());
  if (it == known.end())
    it = known.emplace(name.data(), py::str(name)).first;
  return it->second.get();
}

// Group(name, (child, ...), known) for `node`, where a child is a
// SegmentRef(name, index, expected) or a child Group.
struct TreeBuilder {
  const MessageStructure &s;
  const Message &message;
  std::vector<bool> unexpected;

  Ref group(uint32_t node) const {
    const GroupNode &n = s.nodes[node];
    Ref children = Ref::check(PyTuple_New(static_cast<Py_ssize_t>(n.item_count)));
    Py_ssize_t i = 0;
    for (const GroupNode::Item &item : s.items_of(n)) {
      Ref child = item.group ? group(item.index) : segment(item.index);
      PyTuple_SET_ITEM(children.get(), i++, child.release());
    }
    // The message node's name views s.name, which a moved structure may have moved.
    Ref name = py::str(node == 0 ? std::string_view(s.name) : n.name);
    return group_slots.make(name.release(), children.release(),
                            Ref::borrow(s.known ? Py_True : Py_False).release());
  }

  Ref segment(uint32_t index) const {
    const bool expected = !unexpected[index];
    const std::string_view name = segment_name(message, index);
    const uint32_t key = VersionDefinitions::segment_key(name);
    if (key == 0)
      return make_segment(name, index, expected);
    const uint64_t id = uint64_t{key} << 33 | uint64_t{index} << 1 | (expected ? 1 : 0);
    return kept(kept_refs, id, [&] { return make_segment(name, index, expected); });
  }

  static Ref make_segment(std::string_view name, uint32_t index, bool expected) {
    Ref text = Ref::check(name_str(name));
    Ref number = Ref::check(PyLong_FromUnsignedLong(index));
    return segment_slots.make(text.release(), number.release(),
                              Ref::borrow(expected ? Py_True : Py_False).release());
  }
};

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

const py::Signature structure_sig{
    "structure()", {"message", "version", "group", "segment_ref"}, 4, 4};
// The root Group of the message's tree, made of the classes `group` and
// `segment_ref` (the package's Group and SegmentRef).
Ref structure(PyObject **args) {
  std::string_view version;
  const Message *message = message_and_version(args, "structure()", version);
  if (args[3] != segment_slots.type()) // refs kept of another class
    kept_refs.clear();
  if (!message || !group_slots.bind(args[2], {"name", "children", "known"}) ||
      !segment_slots.bind(args[3], {"name", "index", "expected"}))
    return {};
  const MessageStructure s = match_structure(*message, message_kind(*loaded, *message, version));
  TreeBuilder tree{s, *message, std::vector<bool>(message->segment_count())};
  for (uint32_t i : s.unexpected)
    tree.unexpected[i] = true;
  return tree.group(0);
}

namespace {

// The room of a thread's findings, kept from one call to the next: taken
// for the call (a call made meanwhile, by a finalizer the collector runs
// while the results are made, finds none kept and makes its own) and given
// back empty, unless a message of very many findings made it large.
struct KeptFindings {
  std::vector<Finding> findings = std::move(slot());
  KeptFindings() { findings.clear(); }
  ~KeptFindings() {
    if (findings.capacity() <= 4096) {
      findings.clear();
      slot() = std::move(findings);
    }
  }
  KeptFindings(const KeptFindings &) = delete;
  KeptFindings &operator=(const KeptFindings &) = delete;
  [[gnu::noinline]] static std::vector<Finding> &slot() {
    thread_local std::vector<Finding> kept;
    return kept;
  }
};

} // namespace

namespace {

// The package's Finding class and its loader of the definitions, handed over
// once by validate_function and kept for the process.
PyTypeObject *finding_type = nullptr;
Ref *load_definitions_call = new Ref; // never destroyed, as kept_refs

// A new list of (severity, code, location, text, name) tuples of the tuple
// subclass `finding` (the package's Finding), made as tuple() makes them:
// without running Python code per finding; name is None where the
// definitions name no element.
Ref findings_of(const Message &message, std::string_view version, bool strict,
                PyTypeObject *finding) {
  KeptFindings kept;
  validate_message(*loaded, message, version, strict, kept.findings);
  const std::vector<Finding> &findings = kept.findings;
  if (findings.empty())
    return Ref::check(PyList_New(0));
  // The severities, made once and kept for the process.
  static PyObject *const error = Ref::check(PyUnicode_InternFromString("error")).release();
  static PyObject *const warning = Ref::check(PyUnicode_InternFromString("warning")).release();
  return py::new_list(findings.size(), [&](auto append) {
    for (const Finding &f : findings) {
      // Filled as tuple.__new__ fills an instance of a subclass from a tuple
      // of its items.
      Ref item = Ref::check(finding->tp_alloc(finding, 5));
      PyObject **slot = reinterpret_cast<PyTupleObject *>(item.get())->ob_item;
      slot[0] = Ref::borrow(f.error ? error : warning).release();
      slot[1] = Ref::check(PyLong_FromLong(f.code)).release();
      slot[2] = py::str(f.location).release();
      slot[3] = py::str(f.text).release();
      slot[4] = (f.name.empty() ? Ref::borrow(Py_None) : Ref::borrow(element_name_str(f.name))).release();
      append(std::move(item));
    }
  });
}

// The package's validate(message, *, version=None, strict=False) itself, so
// that a call runs no Python frame: the definitions loaded on first use, a
// text parsed as parse() parses it (into a record that no Message object
// wraps), then the findings.
const py::Signature validate_entry_sig{"validate()", {"message", "version", "strict"}, 3, 1, 2};
Ref validate_entry(PyObject **args) {
  if (!loaded)
    Ref::check(PyObject_CallNoArgs(load_definitions_call->get()));
  if (!loaded) {
    PyErr_SetString(PyExc_RuntimeError, "HL7 definitions not loaded");
    return {};
  }
  if (!PyUnicode_Check(args[0])) {
    PyObject *message_version[2] = {args[0], args[1]};
    std::string_view version;
    const Message *message = message_and_version(message_version, "validate()", version);
    const int strict = message && args[2] ? PyObject_IsTrue(args[2]) : 0;
    if (!message || strict < 0)
      return {};
    return findings_of(*message, version, strict, finding_type);
  }
  Ref encoded; // the UTF-8 of a non-ASCII text, for the duration of the call
  std::string_view raw;
  if (!py::to_text_uncached(args[0], "raw", encoded, raw))
    return {};
  Result<Message> parsed = parse_message(raw);
  if (!parsed)
    return Ref::steal(py::raise(parsed.error()));
  std::string_view version;
  const int strict = args[2] ? PyObject_IsTrue(args[2]) : 0;
  if ((args[1] && args[1] != Py_None && !py::to_text(args[1], "version", version)) || strict < 0)
    return {};
  return findings_of(parsed.value(), version, strict, finding_type);
}

} // namespace

const py::Signature validate_function_sig{
    "validate_function()", {"function", "finding", "load"}, 3, 3};
// A new built-in function that stands for the package's Python `function`
// (its docstring and module, the signature of validate_entry), validating
// with the tuple subclass `finding` and calling `load` when the definitions
// are not loaded yet. The package calls it once, when it is imported.
Ref validate_function(PyObject **args) {
  if (!PyType_Check(args[1]) ||
      !PyType_IsSubtype(reinterpret_cast<PyTypeObject *>(args[1]), &PyTuple_Type)) {
    PyErr_SetString(PyExc_TypeError, "validate() takes a tuple subclass for the findings");
    return {};
  }
  Ref doc = Ref::check(PyObject_GetAttrString(args[0], "__doc__"));
  Ref module = Ref::check(PyObject_GetAttrString(args[0], "__module__"));
  std::string_view text;
  if (doc.get() != Py_None && !py::to_text(doc.get(), "__doc__", text)) // None under -OO
    return {};
  // The function points at both, so they are kept for the process.
  auto *doc_text = new std::string("validate(message, *, version=None, strict=False)\n--\n\n");
  doc_text->append(text);
  auto *def = new PyMethodDef{"validate",
                              py::as_cfunction(py::function<validate_entry_sig, validate_entry>),
                              METH_FASTCALL | METH_KEYWORDS, doc_text->c_str()};
  Ref made = Ref::check(PyCFunction_NewEx(def, nullptr, module.get()));
  Py_XSETREF(finding_type, reinterpret_cast<PyTypeObject *>(Py_NewRef(args[1])));
  *load_definitions_call = Ref::borrow(args[2]);
  return made;
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
