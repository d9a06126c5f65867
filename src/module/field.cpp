// Field and Component.
#include "classes.hpp"

namespace vellomar::module {
namespace {

using py::Ref;

// ---------------------------------------------------------------- Field

Ref field_value(const Field &f) { return value_str(f.view()); }

Ref components(const Field &f) {
  FieldView view = f.view();
  if (view.literal)
    return py::new_list(1, [&](auto append) { append(new_component(view.component_at(0))); });
  ShortCut<16> cut;
  if (cut.cut(view.text, view.enc->component, &view.enc->repetition,
              &view.enc->sub_component, &view.enc->escape))
    return py::new_list(cut.count, [&](auto append) {
      for (size_t i = 0; i < cut.count; ++i) {
        const auto &piece = cut.pieces[i];
        append(new_component(ComponentView{piece, view.enc, false, !piece.flagged}));
      }
    });
  return list_of_pieces(view.first_repetition(), view.enc->component, [&](std::string_view piece) {
    return new_component(ComponentView{piece, view.enc, false});
  });
}

Ref repetitions(const Field &f) {
  FieldView view = f.view();
  const size_t count = view.repetition_count();
  if (count == 0) // most fields: no second scan for a separator not there
    return Ref::check(PyList_New(0));
  return py::new_list(count, [&](auto append) {
    view.for_each_repetition([&](const FieldView &r) { append(new_field(r)); });
  });
}

// Component lookup shared by component(index) and field[index].
Ref component_at_key(const Field &f, PyObject *key) {
  uint64_t index = 0;
  if (!py::to_index(key, "index", index))
    return {};
  return py::convert_or_raise(f.view().component(index), [](Component &&component) {
    return py::wrap(types.component, std::move(component));
  });
}

const py::Signature component_sig{"Field.component()", {"index"}, 1, 1};
Ref component(const Field &f, PyObject **args) { return component_at_key(f, args[0]); }

size_t field_length(const Field &f) { return f.view().component_count(); }

Ref field_repr(const Field &f) {
  std::string scratch;
  return wrapped_str("Field('", f.view().value(scratch), "')");
}

PyGetSetDef field_getset[] = {
    {"value", py::unary<Field, field_value>, nullptr, "", nullptr},
    {"components", py::unary<Field, components>, nullptr, "", nullptr},
    {"repetitions", py::unary<Field, repetitions>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef field_methods[] = {
    {"component",
     py::as_cfunction(py::method<Field, component_sig, component>),
     METH_FASTCALL | METH_KEYWORDS,
     "component($self, index)\n--\n\nReturn component at 1-based index."},
    {"to_dict", py::unary<Field, py::collector_paused<Field, field_to_dict>>, METH_NOARGS,
     "to_dict($self)\n--\n\nSerialize to a Python dict."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot field_slots[] = {
    {Py_tp_getset, field_getset},
    {Py_tp_methods, field_methods},
    {Py_mp_length, reinterpret_cast<void *>(py::length<Field, field_length>)},
    {Py_mp_subscript, reinterpret_cast<void *>(py::subscript<Field, component_at_key>)},
    {Py_tp_str, reinterpret_cast<void *>(py::unary<Field, field_value>)},
    {Py_tp_repr, reinterpret_cast<void *>(py::unary<Field, field_repr>)},
    {0, nullptr},
};

// ------------------------------------------------------------ Component

Ref component_value(const Component &c) { return value_str(c.view()); }

Ref sub_components(const Component &c) {
  ComponentView view = c.view();
  if (view.literal)
    return py::new_list(1, [&](auto append) { append(py::str(view.text)); });
  if (view.plain)
    return py::new_list(1, [&](auto append) { append(py::str(view.text)); });
  std::string scratch;
  ShortCut<16> cut;
  if (cut.cut(view.text, view.enc->sub_component, nullptr, &view.enc->escape, nullptr))
    return py::new_list(cut.count, [&](auto append) {
      for (size_t i = 0; i < cut.count; ++i) {
        const auto &piece = cut.pieces[i];
        append(py::str(piece.flagged ? decoded_view(piece, *view.enc, scratch) : piece));
      }
    });
  // A component without the escape character has none in its pieces either:
  // one scan of the whole text spares a scan per piece.
  const bool plain = !contains(view.text, view.enc->escape);
  return list_of_pieces(view.text, view.enc->sub_component, [&](std::string_view piece) {
    return py::str(plain ? piece : decoded_view(piece, *view.enc, scratch));
  });
}

const py::Signature sub_component_sig{"Component.sub_component()", {"index"}, 1, 1};
Ref sub_component(const Component &c, PyObject **args) {
  uint64_t index = 0;
  if (!py::to_index(args[0], "index", index))
    return {};
  std::string scratch;
  return py::convert_or_raise(c.view().sub_component(index, scratch), py::str);
}

Ref component_repr(const Component &c) {
  std::string scratch;
  return wrapped_str("Component('", c.view().value(scratch), "')");
}

PyGetSetDef component_getset[] = {
    {"value", py::unary<Component, component_value>, nullptr, "", nullptr},
    {"sub_components", py::unary<Component, sub_components>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef component_methods[] = {
    {"sub_component",
     py::as_cfunction(
         py::method<Component, sub_component_sig, sub_component>),
     METH_FASTCALL | METH_KEYWORDS,
     "sub_component($self, index)\n--\n\nReturn sub-component at 1-based index."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot component_slots[] = {
    {Py_tp_getset, component_getset},
    {Py_tp_methods, component_methods},
    {Py_tp_str, reinterpret_cast<void *>(py::unary<Component, component_value>)},
    {Py_tp_repr, reinterpret_cast<void *>(py::unary<Component, component_repr>)},
    {0, nullptr},
};

} // namespace

py::Ref new_field(const FieldView &view) {
  return py::wrap_made<Field>(types.field, [&] { return Field::copy_of(view); });
}

py::Ref new_component(const ComponentView &view) {
  return py::wrap_made<Component>(types.component, [&] { return Component::copy_of(view); });
}

PyTypeObject *create_field_type() {
  return py::make_type<Field>(
      "builtins.Field",
      "A single field within an HL7v2 segment.\n\n"
      "Fields may contain components (separated by `^`) and repetitions (separated\n"
      "by `~`).",
      field_slots);
}

PyTypeObject *create_component_type() {
  return py::make_type<Component>(
      "builtins.Component",
      "A single component within an HL7v2 field.\n\n"
      "Components may contain sub-components separated by `&`.",
      component_slots);
}

} // namespace vellomar::module
