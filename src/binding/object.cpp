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

} // namespace

PyTypeObject *make_type(const char *qualified_name, int basicsize, const char *doc,
                        destructor dealloc_fn, PyType_Slot *slots) {
  std::vector<PyType_Slot> all;
  for (PyType_Slot *s = slots; s && s->slot; ++s)
    all.push_back(*s);
  all.push_back({Py_tp_new, reinterpret_cast<void *>(&refuse_construction)});
  all.push_back({Py_tp_dealloc, reinterpret_cast<void *>(dealloc_fn)});
  all.push_back({Py_tp_doc, const_cast<char *>(doc)});
  all.push_back({0, nullptr});
  PyType_Spec spec{qualified_name, basicsize, 0, Py_TPFLAGS_DEFAULT, all.data()};
  return reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
}

PyObject *self_iter(PyObject *self) { return Py_NewRef(self); }

} // namespace vellomar::py
