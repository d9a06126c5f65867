// HL7 v2 to FHIR: the package's maps are read once into a process-wide
// record; a user's mapping is a copy of them with the user's rows read over
// it, held by a capsule that the package's Mapping object keeps.
#include <algorithm>
#include <memory>

#include "../binding/convert.hpp"
#include "../core/fhir.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

namespace {

// Set once by fhir_load; read under the interpreter lock.
std::shared_ptr<const fhir::Maps> base_maps;
constexpr const char *capsule_name = "vellomar.fhir.maps";

// The maps of `mapping` (None: the package's own), or null with an error set.
const fhir::Maps *maps_of(PyObject *mapping) {
  if (!base_maps) {
    PyErr_SetString(PyExc_RuntimeError, "FHIR maps not loaded");
    return nullptr;
  }
  if (!mapping || mapping == Py_None)
    return base_maps.get();
  if (!PyCapsule_IsValid(mapping, capsule_name)) {
    PyErr_SetString(PyExc_TypeError, "mapping must come from Mapping.load()");
    return nullptr;
  }
  return static_cast<const fhir::Maps *>(PyCapsule_GetPointer(mapping, capsule_name));
}

const Message *message_of(PyObject *obj, const char *callable) {
  if (Py_TYPE(obj) != module::types.message) {
    PyErr_Format(PyExc_TypeError, "%s takes a Message", callable);
    return nullptr;
  }
  if (!definitions()) {
    PyErr_SetString(PyExc_RuntimeError, "HL7 definitions not loaded");
    return nullptr;
  }
  return py::instance<module::MessagePtr>(obj)->value.get();
}

bool bundle_type_of(PyObject *obj, fhir::BundleType &out) {
  static constexpr std::pair<std::string_view, fhir::BundleType> types[] = {
      {"message", fhir::BundleType::message},
      {"transaction", fhir::BundleType::transaction},
      {"collection", fhir::BundleType::collection}};
  std::string_view name;
  if (!py::to_text(obj, "bundle_type", name))
    return false;
  for (auto [n, t] : types)
    if (n == name) {
      out = t;
      return true;
    }
  PyErr_Format(PyExc_ValueError,
               "bundle_type must be 'message', 'transaction' or 'collection', not %R", obj);
  return false;
}

} // namespace

const fhir::Maps *fhir_maps_of(PyObject *mapping) { return maps_of(mapping); }

const py::Signature fhir_load_sig{"fhir_load()", {"text"}, 1, 1};
Ref fhir_load(PyObject **args) {
  std::string_view text;
  if (!py::to_text(args[0], "text", text))
    return {};
  if (base_maps) // conversions in flight point into them: they stay for the process
    return Ref::borrow(Py_None);
  auto maps = std::make_shared<fhir::Maps>();
  if (std::optional<Error> bad = maps->read(text))
    return Ref::steal(py::raise(*bad));
  maps->finish();
  base_maps = std::move(maps);
  return Ref::borrow(Py_None);
}

const py::Signature fhir_mapping_sig{"fhir_mapping()", {"text"}, 1, 1};
// A new capsule holding the package's maps with the lines of `text` read
// over them.
Ref fhir_mapping(PyObject **args) {
  std::string_view text;
  if (!py::to_text(args[0], "text", text))
    return {};
  if (!maps_of(nullptr))
    return {};
  auto maps = std::make_unique<fhir::Maps>(*base_maps);
  if (std::optional<Error> bad = maps->read(text))
    return Ref::steal(py::raise(*bad));
  maps->finish();
  Ref capsule = Ref::check(PyCapsule_New(maps.get(), capsule_name, [](PyObject *c) {
    delete static_cast<fhir::Maps *>(PyCapsule_GetPointer(c, capsule_name));
  }));
  maps.release();
  return capsule;
}

const py::Signature fhir_convert_sig{
    "fhir_convert()", {"message", "bundle_type", "mapping", "mode"}, 4, 4};
// mode 0: the Bundle's JSON text (a new str); 1: (text, [unmapped, ...]);
// 2: [(resourceType, id, resource JSON text), ...] with relative references.
Ref fhir_convert(PyObject **args) {
  const Message *message = message_of(args[0], "to_json()");
  if (message)
    if (const uint32_t at = fhir::second_header(*message)) {
      // (one bundle of two messages would hold two MessageHeaders, the
      // second message's groups read as the first's)
      const SegmentView seg = message->segment_at(at);
      PyErr_Format(PyExc_ValueError,
                   "the text holds more than one message: segment %u, at byte %zu, "
                   "begins another (vellomar.read cuts a text into its messages)",
                   at + 1, static_cast<size_t>(seg.name.data() - message->raw.data()));
      return {};
    }
  fhir::BundleType type;
  const fhir::Maps *maps = message ? maps_of(args[2]) : nullptr;
  if (!maps || !bundle_type_of(args[1], type))
    return {};
  const long mode = PyLong_AsLong(args[3]);
  if (mode == -1 && PyErr_Occurred())
    return {};
  fhir::Options options;
  options.type = type;
  options.relative_references = mode == 2;
  // the text made into Python's objects where it was written (no copy first)
  Ref out;
  fhir::convert_in_place(
      *maps, *definitions(), *message, options, mode != 2,
      [&](fhir::Conversion &c, std::string_view text) {
        if (mode == 2) {
          out = py::new_list(c.entries.size(), [&](auto append) {
            for (const fhir::ResourceText &e : c.entries) {
              Ref t = py::ascii_str(e.type), id = py::ascii_str(e.id_text()),
                  json = py::str_of(text.substr(e.offset, e.size), c.ascii);
              append(Ref::check(PyTuple_Pack(3, t.get(), id.get(), json.get())));
            }
          });
          return;
        }
        Ref json = py::str_of(text, c.ascii);
        if (mode == 0) {
          out = std::move(json);
          return;
        }
        Ref unmapped = py::new_list(c.unmapped.size(), [&](auto append) {
          for (const std::string &u : c.unmapped)
            append(py::str(u));
        });
        out = Ref::check(PyTuple_Pack(2, json.get(), unmapped.get()));
      });
  return out;
}

const py::Signature fhir_uuid5_sig{"fhir_uuid5()", {"name", "portable"}, 2, 2};
// A new str: the resource id of the bytes `name`, by the portable SHA-1
// rounds when `portable` is true, else by the machine's road (the test hook
// that checks both in one process).
Ref fhir_uuid5(PyObject **args) {
  std::string_view name;
  if (!py::to_bytes(args[0], "name", name))
    return {};
  const int portable = PyObject_IsTrue(args[1]);
  if (portable < 0)
    return {};
  return py::ascii_str(fhir::uuid5(name, static_cast<bool>(portable)));
}

} // namespace vellomar::ops
