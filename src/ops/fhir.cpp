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

const py::Signature fhir_ndjson_sig{"fhir_ndjson()", {"messages", "mapping"}, 2, 2};
// A new tuple of two dicts by resourceType: the resources of the list of
// messages as NDJSON lines (relative references) in bytes, and how many
// lines each holds. No Python object per resource.
Ref fhir_ndjson(PyObject **args) {
  if (!PyList_Check(args[0])) {
    PyErr_SetString(PyExc_TypeError, "fhir_ndjson() takes a list of Messages");
    return {};
  }
  const fhir::Maps *maps = maps_of(args[1]);
  if (!maps)
    return {};
  std::vector<const Message *> messages;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(args[0]); ++i) {
    const Message *m = message_of(PyList_GET_ITEM(args[0], i), "write_ndjson()");
    if (!m)
      return {};
    messages.push_back(m);
  }
  fhir::Options options;
  options.relative_references = true;
  // The lines by type, kept by each thread from one batch to the next: a
  // batch's lines are written where the last batch's were, in storage that
  // is mapped and warm, and copied once, into the bytes handed back.
  struct Lines {
    std::string type, text;
    size_t count = 0;
  };
  static thread_local std::vector<Lines> kept;
  for (Lines &l : kept) {
    l.text.clear();
    l.count = 0;
  }
  // The messages are the list's, which the caller keeps alive; nothing here
  // touches Python objects while the lock is released.
  bool no_memory = false;
  Py_BEGIN_ALLOW_THREADS
  try {
    Lines *last = nullptr; // a message's resources mostly come in runs of a type
    for (const Message *m : messages)
      fhir::convert_each(*maps, *definitions(), *m, options,
                         [&](const fhir::ResourceText &e, std::string_view text) {
                           if (!last || last->type != e.type) {
                             auto it = std::find_if(kept.begin(), kept.end(),
                                                    [&](const Lines &l) { return l.type == e.type; });
                             last = it != kept.end() ? &*it
                                                     : &kept.emplace_back(Lines{std::string(e.type), {}, 0});
                           }
                           last->text.append(text).push_back('\n');
                           ++last->count;
                         });
  } catch (const std::bad_alloc &) { // raised once the lock is back
    no_memory = true;
  }
  Py_END_ALLOW_THREADS
  if (no_memory)
    throw std::bad_alloc();
  std::vector<const Lines *> order;
  for (const Lines &l : kept)
    if (l.count)
      order.push_back(&l);
  std::sort(order.begin(), order.end(),
            [](const Lines *a, const Lines *b) { return a->type < b->type; });
  Ref lines = Ref::check(PyDict_New()), counts = Ref::check(PyDict_New());
  for (const Lines *l : order) {
    Ref text = Ref::check(
        PyBytes_FromStringAndSize(l->text.data(), static_cast<Py_ssize_t>(l->text.size())));
    Ref count = Ref::check(PyLong_FromSize_t(l->count));
    if (PyDict_SetItemString(lines.get(), l->type.c_str(), text.get()) < 0 ||
        PyDict_SetItemString(counts.get(), l->type.c_str(), count.get()) < 0)
      return {};
  }
  for (Lines &l : kept) // what a thread keeps is bounded, whatever one batch took
    if (l.text.capacity() > (size_t{4} << 20))
      std::string().swap(l.text);
  return Ref::check(PyTuple_Pack(2, lines.get(), counts.get()));
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
