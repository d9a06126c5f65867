#include "object.hpp"

#include <vector>

namespace vellomar::py {
namespace {

PyObject *refuse_construction(PyTypeObject *type, PyObject *, PyObject *) {
  Ref name = Ref::steal(PyType_GetName(type));
  if (name)
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

// Fills `table` from the getset entries of a new type. The interned names
// are kept for the process, like the types. A type with more properties than
// the table holds, or without a version tag, keeps the generic lookup.
void fill_property_table(PyTypeObject *type, const PyGetSetDef *getset,
                         PropertyTable &table) {
  table.version = 0;
  int count = 0;
  for (const PyGetSetDef *g = getset; g && g->name; ++g) {
    if (count == PropertyTable::max_properties)
      return;
    PyObject *name = PyUnicode_InternFromString(g->name);
    if (!name)
      throw ErrorAlreadySet{};
    table.entries[count++] = {name, g->get, g->closure};
  }
  if (count == 0)
    return;
  // A class attribute lookup gives the type its version tag.
  Ref probe = Ref::check(PyObject_GetAttr(reinterpret_cast<PyObject *>(type),
                                          table.entries[0].name));
  table.version = type->tp_version_tag;
}

} // namespace

PyTypeObject *make_type(const char *qualified_name, int basicsize, const char *doc,
                        destructor dealloc_fn, getattrofunc getattro_fn,
                        PropertyTable &properties, PyType_Slot *slots) {
  std::vector<PyType_Slot> all;
  const PyGetSetDef *getset = nullptr;
  for (PyType_Slot *s = slots; s && s->slot; ++s) {
    all.push_back(*s);
    if (s->slot == Py_tp_getset)
      getset = static_cast<const PyGetSetDef *>(s->pfunc);
  }
  all.push_back({Py_tp_new, reinterpret_cast<void *>(&refuse_construction)});
  all.push_back({Py_tp_dealloc, reinterpret_cast<void *>(dealloc_fn)});
  all.push_back({Py_tp_getattro, reinterpret_cast<void *>(getattro_fn)});
  all.push_back({Py_tp_doc, const_cast<char *>(doc)});
  all.push_back({0, nullptr});
  PyType_Spec spec{qualified_name, basicsize, 0, Py_TPFLAGS_DEFAULT, all.data()};
  Ref type = Ref::steal(PyType_FromSpec(&spec));
  if (!type)
    return nullptr;
  auto *made = reinterpret_cast<PyTypeObject *>(type.get());
  return guard<PyTypeObject *>(nullptr, [&] {
    fill_property_table(made, getset, properties);
    return reinterpret_cast<PyTypeObject *>(type.release());
  });
}

PyObject *self_iter(PyObject *self) { return Py_NewRef(self); }

} // namespace vellomar::py
