// The private extension entry vellomar._ops. It lives in the same shared
// library as _core, and the package loads it from _core's file under its own
// name, so it shares _core's classes, their instances' layout and the one
// PanicException class. _core itself keeps exactly its own members.
#include "../core/roads.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {

namespace {

using py::Ref;

// roads(): how many calls took each fast road so far in the process, by name.
const py::Signature roads_sig{"roads()", {}, 0, 0};
Ref roads(PyObject **) {
  Ref counts = Ref::check(PyDict_New());
  for (const RoadCount &road : road_counts) {
    Ref calls = Ref::check(PyLong_FromUnsignedLongLong(road.calls.load(std::memory_order_relaxed)));
    if (PyDict_SetItemString(counts.get(), road.name, calls.get()) < 0)
      return {};
  }
  return counts;
}

PyMethodDef function_defs[] = {
    {"read_messages", py::as_cfunction(py::function<read_messages_sig, read_messages>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"table_state", py::as_cfunction(py::function<table_state_sig, table_state>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"count_messages", py::as_cfunction(py::function<count_messages_sig, count_messages>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"message_offsets", py::as_cfunction(py::function<message_offsets_sig, message_offsets>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"check_path", py::as_cfunction(py::function<check_path_sig, check_path>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"tsv_line", py::as_cfunction(py::function<tsv_line_sig, tsv_line>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"record_state", py::as_cfunction(py::function<record_state_sig, record_state>),
     METH_FASTCALL | METH_KEYWORDS, "record_state($module, record)\n--\n\n"},
    {"record_from_state", py::as_cfunction(py::function<record_from_state_sig, record_from_state>),
     METH_FASTCALL | METH_KEYWORDS, "record_from_state($module, state)\n--\n\n"},
    {"charset_of", py::as_cfunction(py::function<charset_of_sig, charset_of>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"message_start", py::as_cfunction(py::function<message_start_sig, message_start>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"message_bytes", py::as_cfunction(py::function<message_bytes_sig, message_bytes>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"load_definitions", py::as_cfunction(py::function<load_definitions_sig, load_definitions>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"structure", py::as_cfunction(py::function<structure_sig, structure>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"validate_function", py::as_cfunction(py::function<validate_function_sig, validate_function>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"describe", py::as_cfunction(py::function<describe_sig, describe>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"parse_bytes", py::as_cfunction(py::function<parse_bytes_sig, parse_bytes>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fhir_load", py::as_cfunction(py::function<fhir_load_sig, fhir_load>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fhir_mapping", py::as_cfunction(py::function<fhir_mapping_sig, fhir_mapping>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fhir_convert", py::as_cfunction(py::function<fhir_convert_sig, fhir_convert>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fhir_reader", py::as_cfunction(py::function<fhir_reader_sig, fhir_reader>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fhir_uuid5", py::as_cfunction(py::function<fhir_uuid5_sig, fhir_uuid5>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"write_behind", py::as_cfunction(py::function<write_behind_sig, write_behind>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"roads", py::as_cfunction(py::function<roads_sig, roads>), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_ops",
    "Internal functions of the vellomar package; use the package's own names.",
    0,
    function_defs,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject *init() {
  if (!module::types.message) {
    PyErr_SetString(PyExc_ImportError, "vellomar._ops needs vellomar._core imported first");
    return nullptr;
  }
  Ref module = Ref::check(PyModule_Create(&module_def));
  if (PyModule_AddFunctions(module.get(), edit_defs) < 0)
    throw py::ErrorAlreadySet{};
  PyObject *panic = py::panic_type();
  if (!panic || PyModule_AddObjectRef(module.get(), "PanicException", panic) < 0)
    throw py::ErrorAlreadySet{};
  return module.release();
}

} // namespace
} // namespace vellomar::ops

PyMODINIT_FUNC PyInit__ops() {
  return vellomar::py::guard<PyObject *>(nullptr, vellomar::ops::init);
}
