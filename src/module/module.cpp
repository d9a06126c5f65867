// The extension module _core: initialisation and the module function parse.
#include "../core/parser.hpp"
#include "classes.hpp"

namespace vellomar::module {

namespace {

using py::Ref;

// -------------------------------------------------------------- parse

const py::Signature parse_sig{"parse()", {"raw"}, 1, 1};

Ref parse(PyObject **args) {
  Ref encoded; // the UTF-8 of a non-ASCII text, for the duration of the call
  std::string_view raw;
  if (!py::to_text_uncached(args[0], "raw", encoded, raw))
    return {};
  return py::convert_or_raise(parse_message(raw),
                              [](Message &&message) { return new_message(std::move(message)); });
}

PyMethodDef function_defs[] = {
    {"parse", py::as_cfunction(py::function<parse_sig, parse>), METH_FASTCALL | METH_KEYWORDS,
     "parse(raw)\n--\n\n"
     "Parse a raw HL7v2 message string into a `Message` object.\n\n"
     "Handles MLLP-framed input automatically. Supports `\\r`, `\\n`, and `\\r\\n`\n"
     "segment delimiters.\n\n"
     "# Example (Python)\n\n"
     "```python\n"
     "import vellomar\n\n"
     "msg = vellomar.parse(\"MSH|^~\\\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|"
     "2.5\\\\rPID|1||MRN||DOE^JOHN\")\n"
     "print(msg.segment(\"PID\").field(5).component(1))  # \"DOE\"\n"
     "```"},
    {"parse_batch", py::as_cfunction(py::function<parse_batch_sig, parse_batch>), METH_FASTCALL | METH_KEYWORDS,
     "parse_batch(raw)\n--\n\n"
     "Parse a batch of HL7v2 messages from a raw string.\n\n"
     "Handles:\n"
     "- FHS/BHS/BTS/FTS wrapped files (batch headers/trailers are stripped)\n"
     "- Multiple messages separated by `MSH` segment headers\n\n"
     "Returns a list of parsed `Message` objects."},
    {"parse_datetime", py::as_cfunction(py::function<parse_datetime_sig, parse_datetime>), METH_FASTCALL | METH_KEYWORDS,
     "parse_datetime(raw)\n--\n\n"
     "Parse an HL7v2 timestamp string into a Python `datetime.datetime`.\n\n"
     "Handles full and partial timestamps:\n"
     "- `\"20230101\"` \u2192 `datetime(2023, 1, 1)`\n"
     "- `\"20230101120000\"` \u2192 `datetime(2023, 1, 1, 12, 0, 0)`\n"
     "- `\"20230101120000.123\"` \u2192 `datetime(2023, 1, 1, 12, 0, 0, 123000)`\n"
     "- `\"20230101120000-0500\"` \u2192 `datetime(2023, 1, 1, 12, 0, 0, tzinfo=...)`"},
    {"parse_date", py::as_cfunction(py::function<parse_date_sig, parse_date>), METH_FASTCALL | METH_KEYWORDS,
     "parse_date(raw)\n--\n\n"
     "Parse an HL7v2 timestamp into just a Python `datetime.date`."},
    {nullptr, nullptr, 0, nullptr},
};

// ------------------------------------------------------ initialisation

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "vellomar \u2014 High-performance HL7v2 message parser.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module of this process and the interpreter that made it.
PyObject *the_module = nullptr;
int64_t the_interpreter = -1;

// Sets `module.name = value` and appends `name` to `__all__`.
void add(PyObject *module, PyObject *all, PyObject *name, PyObject *value) {
  if (PyList_Append(all, name) < 0 || PyObject_SetAttr(module, name, value) < 0)
    throw py::ErrorAlreadySet{};
}

PyObject *init() {
  int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (the_module) {
    if (interpreter != the_interpreter) {
      PyErr_SetString(PyExc_ImportError,
                      "vellomar._core does not support sub-interpreters");
      return nullptr;
    }
    return Py_NewRef(the_module);
  }
  Ref module = Ref::check(PyModule_Create(&module_def));
  Ref all = Ref::check(PyList_New(0));
  if (PyObject_SetAttrString(module.get(), "__all__", all.get()) < 0)
    throw py::ErrorAlreadySet{};

  struct TypeEntry {
    const char *name;
    PyTypeObject *(*create)();
    PyTypeObject **slot;
  };
  const TypeEntry type_entries[] = {
      {"Message", create_message_type, &types.message},
      {"Segment", create_segment_type, &types.segment},
      {"Field", create_field_type, &types.field},
      {"Component", create_component_type, &types.component},
      {"MessageIterator", create_message_iterator_type, &types.message_iterator},
      {"SegmentIterator", create_segment_iterator_type, &types.segment_iterator},
  };
  for (const TypeEntry &entry : type_entries) {
    // The types are made once per process and kept to its end.
    if (!*entry.slot)
      *entry.slot = entry.create();
    if (!*entry.slot)
      throw py::ErrorAlreadySet{};
    Ref name = Ref::check(PyUnicode_FromString(entry.name));
    add(module.get(), all.get(), name.get(), reinterpret_cast<PyObject *>(*entry.slot));
  }

  Ref module_name = Ref::check(PyModule_GetNameObject(module.get()));
  for (PyMethodDef *def = function_defs; def->ml_name; ++def) {
    Ref function =
        Ref::check(PyCMethod_New(def, module.get(), module_name.get(), nullptr));
    Ref name = Ref::check(PyObject_GetAttrString(function.get(), "__name__"));
    add(module.get(), all.get(), name.get(), function.get());
  }

  the_interpreter = interpreter;
  the_module = Py_NewRef(module.get());
  return module.release();
}

} // namespace
} // namespace vellomar::module

PyMODINIT_FUNC PyInit__core() {
  return vellomar::py::guard<PyObject *>(nullptr, vellomar::module::init);
}
