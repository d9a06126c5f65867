// record_state(record) and record_from_state(state): the two halves of the
// reducers that the package registers with copyreg for Message, Segment,
// Field and Component.
#include "../core/parser.hpp"
#include "../core/record_state.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {
namespace {

using py::Ref;

template <class T> Ref state_of(PyObject *obj) {
  py::SharedBorrow borrow(py::instance<T>(obj)->borrow);
  const T &value = py::instance<T>(obj)->value;
  if constexpr (std::is_same_v<T, module::MessagePtr>)
    return py::str(vellomar::record_state(*value));
  else
    return py::str(vellomar::record_state(value));
}

} // namespace

const py::Signature record_state_sig{"record_state()", {"record"}, 1, 1};
Ref record_state(PyObject **args) {
  PyObject *obj = args[0];
  PyTypeObject *type = Py_TYPE(obj);
  if (type == module::types.message)
    return state_of<module::MessagePtr>(obj);
  if (type == module::types.segment)
    return state_of<Segment>(obj);
  if (type == module::types.field)
    return state_of<Field>(obj);
  if (type == module::types.component)
    return state_of<Component>(obj);
  PyErr_Format(PyExc_TypeError,
               "record_state() argument must be Message, Segment, Field or Component, not %.200s",
               type->tp_name);
  return {};
}

const py::Signature record_from_state_sig{"record_from_state()", {"state"}, 1, 1};
Ref record_from_state(PyObject **args) {
  std::string_view text;
  if (!py::to_text(args[0], "state", text))
    return {};
  Result<RecordState> read = read_record_state(text);
  if (!read)
    return Ref::steal(py::raise(read.error()));
  const RecordState &state = read.value();
  switch (state.kind) {
  case RecordKind::message:
    return py::convert_or_raise(parse_message(state.text), [](Message &&message) {
      return module::new_message(std::move(message));
    });
  case RecordKind::segment:
    return py::convert_or_raise(segment_of_line(state.text, state.enc), [](Segment &&segment) {
      return py::wrap(module::types.segment, std::move(segment));
    });
  case RecordKind::field:
    return module::new_field(FieldView{state.text, &state.enc, state.literal});
  case RecordKind::component:
    return module::new_component(ComponentView{state.text, &state.enc, state.literal});
  }
  throw std::logic_error("unknown record kind");
}

} // namespace vellomar::ops
