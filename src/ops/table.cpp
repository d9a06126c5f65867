// The state behind vellomar.Table: a TableBuilder fed from text, byte
// streams and Message objects, and its columns handed out as Python lists or
// as an Arrow C stream (built with nanoarrow; the arrays view the columns'
// own buffers, which the stream keeps alive).
#include <memory>

#include <nanoarrow/nanoarrow.hpp>

#include "../core/delimiters.hpp"
#include "../core/parser.hpp"
#include "../core/table.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"
#include "source.hpp"

namespace vellomar::ops {
namespace {

using py::Ref;

struct TableState {
  std::vector<std::string> names;
  std::unique_ptr<TableBuilder> builder; // shared with exported arrays once finished
  std::shared_ptr<const TableBuilder> done;

  TableBuilder &building() {
    if (!builder)
      throw std::logic_error("table already finished");
    return *builder;
  }
  const TableBuilder &result() {
    if (builder)
      done = std::move(builder);
    return *done;
  }
};

PyTypeObject *state_type();

// ------------------------------------------------------------------ feeding

// A message read for a table, or why it is a bad one: with delimiters that
// are not distinct ASCII punctuation its values would be cut at a guess.
Result<Message> for_table(Result<Message> parsed) {
  if (parsed)
    if (auto error = check_delimiters(parsed.value().enc))
      return std::move(*error);
  return parsed;
}

const py::Signature add_text_sig{"TableState.add_text()", {"text", "error_type"}, 2, 2};
Ref add_text(TableState &state, PyObject **args) {
  std::string_view text;
  if (!py::to_text(args[0], "text", text))
    return {};
  TableBuilder &builder = state.building();
  BatchCutter cutter;
  cutter.feed(text);
  cutter.finish();
  std::string message_text;
  uint64_t offset = 0, ordinal = 0;
  while (cutter.next(message_text, offset)) {
    if (!trim_message_text(message_text))
      continue;
    ++ordinal;
    auto parsed = for_table(parse_message(std::move(message_text)));
    if (!parsed)
      raise_message_error(args[1], ordinal, offset, parsed.error().message);
    builder.add(parsed.value());
  }
  return Ref::borrow(Py_None);
}

const py::Signature add_stream_sig{
    "TableState.add_stream()", {"read", "codec_of", "encoding", "error_type"}, 4, 4};
Ref add_stream(TableState &state, PyObject **args) {
  Codec fixed;
  if (!to_codec(args[2], fixed))
    return {};
  TableBuilder &builder = state.building();
  ByteSource source(args[0], args[2] == Py_None ? args[1] : Py_None, std::move(fixed));
  std::string text;
  uint64_t offset = 0, ordinal = 0;
  while (source.next_text(text, offset)) {
    ++ordinal;
    auto parsed = for_table(source.parse(std::move(text)));
    if (!parsed)
      raise_message_error(args[3], ordinal, offset, parsed.error().message);
    builder.add(parsed.value());
  }
  return Ref::borrow(Py_None);
}

// Adds the Message objects of an iterator up to the first other item, which
// it returns (None at the end of the iterator).
const py::Signature add_messages_sig{"TableState.add_messages()", {"iterator"}, 1, 1};
Ref add_messages(TableState &state, PyObject **args) {
  TableBuilder &builder = state.building();
  for (;;) {
    Ref item = Ref::steal(PyIter_Next(args[0]));
    if (!item) {
      if (PyErr_Occurred())
        throw py::ErrorAlreadySet{};
      return Ref::borrow(Py_None);
    }
    if (Py_TYPE(item.get()) != module::types.message)
      return item;
    const Message &message = *py::instance<module::MessagePtr>(item.get())->value;
    if (auto error = check_delimiters(message.enc))
      return Ref::steal(py::raise(*error));
    builder.add(message);
  }
}

// ----------------------------------------------------------------- results

Ref rows(TableState &state) {
  return Ref::check(PyLong_FromSize_t(state.result().rows()));
}

Ref value_of(const StringColumn &column, size_t row) {
  if (column.is_null(row))
    return Ref::borrow(Py_None);
  return py::str(column.value(row));
}

// The interpreter's collector is paused while the many containers of a
// result are made: no Python code runs in between, and collections started
// by the allocations alone would make the cost grow with the table's size.
class CollectorPause {
public:
  CollectorPause() : was_enabled_(PyGC_Disable()) {}
  ~CollectorPause() {
    if (was_enabled_)
      PyGC_Enable();
  }

private:
  int was_enabled_;
};

Ref to_pydict(TableState &state) {
  const TableBuilder &table = state.result();
  CollectorPause pause;
  Ref dict = Ref::check(PyDict_New());
  for (size_t c = 0; c < state.names.size(); ++c) {
    const StringColumn &column = table.columns()[c];
    Ref list = py::new_list(table.rows(), [&](auto append) {
      for (size_t r = 0; r < table.rows(); ++r)
        append(value_of(column, r));
    });
    Ref name = py::str(state.names[c]);
    if (PyDict_SetItem(dict.get(), name.get(), list.get()) < 0)
      throw py::ErrorAlreadySet{};
  }
  return dict;
}

Ref to_pylist(TableState &state) {
  const TableBuilder &table = state.result();
  CollectorPause pause;
  std::vector<Ref> names;
  for (const std::string &name : state.names)
    names.push_back(Ref::check(PyUnicode_InternFromString(name.c_str())));
  return py::new_list(table.rows(), [&](auto append) {
    for (size_t r = 0; r < table.rows(); ++r) {
      Ref row = Ref::check(PyDict_New());
      for (size_t c = 0; c < names.size(); ++c) {
        Ref value = value_of(table.columns()[c], r);
        if (PyDict_SetItem(row.get(), names[c].get(), value.get()) < 0)
          throw py::ErrorAlreadySet{};
      }
      append(std::move(row));
    }
  });
}

// -------------------------------------------------------------------- Arrow

using Shared = std::shared_ptr<const TableBuilder>;

void release_view(ArrowBufferAllocator *allocator, uint8_t *, int64_t) {
  delete static_cast<Shared *>(allocator->private_data);
}

// Points `buffer` at `size` bytes of the table's memory, holding the table.
void view_buffer(ArrowBuffer *buffer, const void *data, size_t size, const Shared &table) {
  ArrowBufferSetAllocator(buffer, ArrowBufferDeallocator(&release_view, new Shared(table)));
  buffer->data = static_cast<uint8_t *>(const_cast<void *>(data));
  buffer->size_bytes = static_cast<int64_t>(size);
  buffer->capacity_bytes = static_cast<int64_t>(size);
}

void check(ArrowErrorCode code, const char *what) {
  if (code != NANOARROW_OK)
    throw std::runtime_error(std::string("Arrow export failed: ") + what);
}

void destroy_stream_capsule(PyObject *capsule) {
  auto *stream =
      static_cast<ArrowArrayStream *>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
  if (!stream) {
    PyErr_Clear();
    return;
  }
  if (stream->release)
    stream->release(stream);
  delete stream;
}

const py::Signature arrow_stream_sig{"TableState.arrow_stream()", {"requested_schema"}, 1, 0};
Ref arrow_stream(TableState &state, PyObject **) {
  state.result();
  const Shared &table = state.done;
  const size_t n = state.names.size();
  nanoarrow::UniqueSchema schema;
  ArrowSchemaInit(schema.get());
  check(ArrowSchemaSetTypeStruct(schema.get(), static_cast<int64_t>(n)), "schema");
  for (size_t c = 0; c < n; ++c) {
    check(ArrowSchemaSetType(schema->children[c], NANOARROW_TYPE_LARGE_STRING), "schema");
    check(ArrowSchemaSetName(schema->children[c], state.names[c].c_str()), "schema");
  }
  nanoarrow::UniqueArray array;
  ArrowError error;
  check(ArrowArrayInitFromSchema(array.get(), schema.get(), &error), error.message);
  array->length = static_cast<int64_t>(table->rows());
  for (size_t c = 0; c < n; ++c) {
    const StringColumn &column = table->columns()[c];
    ArrowArray *child = array->children[c];
    child->length = static_cast<int64_t>(column.rows());
    child->null_count = column.nulls;
    if (column.nulls)
      view_buffer(ArrowArrayBuffer(child, 0), column.validity.data(), column.validity.size(),
                  table);
    view_buffer(ArrowArrayBuffer(child, 1), column.offsets.data(),
                column.offsets.size() * sizeof(int64_t), table);
    view_buffer(ArrowArrayBuffer(child, 2), column.data.data(), column.data.size(), table);
  }
  check(ArrowArrayFinishBuildingDefault(array.get(), &error), error.message);

  auto stream = std::make_unique<ArrowArrayStream>();
  stream->release = nullptr;
  check(ArrowBasicArrayStreamInit(stream.get(), schema.get(), 1), "stream");
  ArrowBasicArrayStreamSetArray(stream.get(), 0, array.get());
  Ref capsule =
      Ref::check(PyCapsule_New(stream.get(), "arrow_array_stream", &destroy_stream_capsule));
  stream.release();
  return capsule;
}

// ------------------------------------------------------------------- type

PyMethodDef state_methods[] = {
    {"add_text", py::as_cfunction(py::method<TableState, add_text_sig, add_text>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"add_stream", py::as_cfunction(py::method<TableState, add_stream_sig, add_stream>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"add_messages",
     py::as_cfunction(py::method<TableState, add_messages_sig, add_messages>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"arrow_stream",
     py::as_cfunction(py::method<TableState, arrow_stream_sig, arrow_stream>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"to_pydict", py::unary<TableState, to_pydict, PyObject *>,
     METH_NOARGS, nullptr},
    {"to_pylist", py::unary<TableState, to_pylist, PyObject *>,
     METH_NOARGS, nullptr},
    {"rows", py::unary<TableState, rows, PyObject *>,
     METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot state_slots[] = {
    {Py_tp_methods, state_methods},
    {0, nullptr},
};

PyTypeObject *state_type() {
  // Made on first use; lives until the process ends.
  static PyTypeObject *type = nullptr;
  if (!type)
    type = py::make_type<TableState>("vellomar._ops.TableState",
                                     "Columns of a table (vellomar.Table's state).", state_slots);
  if (!type)
    throw py::ErrorAlreadySet{};
  return type;
}

} // namespace

const py::Signature table_state_sig{"table_state()", {"names", "paths", "rows"}, 3, 3};

// table_state(names, paths, rows): the paths are read before anything else,
// so that a malformed one fails before any input is.
Ref table_state(PyObject **args) {
  std::vector<std::string> names;
  std::vector<std::string_view> paths; // views into the strings `items` holds
  Ref items[2];
  for (int i = 0; i < 2; ++i) {
    items[i] = Ref::check(PySequence_Fast(args[i], "names and paths must be sequences"));
    for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(items[i].get()); ++k) {
      std::string_view text;
      if (!py::to_text(PySequence_Fast_GET_ITEM(items[i].get(), k), i ? "paths" : "names", text))
        return {};
      if (i)
        paths.push_back(text);
      else
        names.emplace_back(text);
    }
  }
  std::string_view rows;
  if (args[2] != Py_None && !py::to_text(args[2], "rows", rows))
    return {};
  return py::convert_or_raise(TableBuilder::create(paths, rows), [&](TableBuilder &&builder) {
    return py::wrap(state_type(),
                    TableState{std::move(names),
                               std::make_unique<TableBuilder>(std::move(builder)), nullptr});
  });
}

} // namespace vellomar::ops
