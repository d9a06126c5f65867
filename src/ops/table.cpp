// The state behind vellomar.Table: a TableBuilder fed from text, byte
// streams and Message objects, and its columns handed out as Python lists or
// as an Arrow C stream (built with nanoarrow; the arrays view the columns'
// own buffers, which the stream keeps alive).
#include <memory>
#include <variant>
#include <vector>

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

// How a message that does not parse or decode is handled.
enum class BadMessages { raise, skip, keep };

// The stream being read: its source and where its messages are in their file.
struct Feed {
  ByteSource source;
  std::string file;
  bool has_file = false;
  uint64_t count = 0;       // messages of the stream so far
  int64_t ordinal_base = 0; // messages of the file before the stream
  int64_t offset_base = 0;  // the stream's offset in the file
  Ref error_type;           // called as error_type(ordinal, offset, reason)
};

struct TableState {
  std::vector<std::string> names; // of every column, the paths' first
  std::unique_ptr<TableBuilder> builder; // shared with exported arrays once finished
  std::shared_ptr<const TableBuilder> done;
  BadMessages bad = BadMessages::raise;
  size_t max_rows = SIZE_MAX, max_bytes = SIZE_MAX; // a batch's budget
  Ref errors;                      // list of the error objects of bad messages
  std::unique_ptr<Feed> feed;

  TableBuilder &building() {
    if (!builder)
      throw std::logic_error("table already finished");
    return *builder;
  }
  const TableBuilder &result() {
    if (builder) {
      builder->finish();
      done = std::move(builder);
    }
    return *done;
  }
  bool full() const {
    const size_t rows = builder->rows();
    return rows && (rows >= max_rows || (max_bytes != SIZE_MAX && builder->bytes() >= max_bytes));
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

// open(read, codec_of, encoding, fallback, error_type, where): starts reading
// a stream, which fill() adds. `where` is (file or None, messages of the file
// before the stream, the stream's offset in the file, bytes to read or None).
const py::Signature open_sig{
    "TableState.open()", {"read", "codec_of", "encoding", "fallback", "error_type", "where"}, 6, 6};
Ref open_stream(TableState &state, PyObject **args) {
  Codec fixed, fallback;
  if (!to_codec(args[2], fixed) || !to_codec(args[3], fallback))
    return {};
  PyObject *file = nullptr, *limit = nullptr;
  long long ordinal_base = 0, offset_base = 0;
  if (!PyArg_ParseTuple(args[5], "OLLO:where", &file, &ordinal_base, &offset_base, &limit))
    return {};
  auto feed = std::make_unique<Feed>(Feed{
      ByteSource(args[0], args[2] == Py_None ? args[1] : Py_None, std::move(fixed)), {}, false,
      0, ordinal_base, offset_base, Ref::borrow(args[4])});
  if (args[3] != Py_None)
    feed->source.set_fallback(std::move(fallback));
  if (limit != Py_None) {
    const unsigned long long bytes = PyLong_AsUnsignedLongLong(limit);
    if (PyErr_Occurred())
      return {};
    feed->source.set_limit(bytes);
  }
  if (file != Py_None) {
    std::string_view name;
    if (!py::to_text(file, "file", name))
      return {};
    feed->file = std::string(name);
    feed->has_file = true;
  }
  if (auto segments = state.building().segments_read())
    feed->source.read_only(std::move(*segments));
  state.feed = std::move(feed);
  return Ref::borrow(Py_None);
}

// A bad message: raised as error_type(ordinal, offset, reason), or its error
// object kept in the state's list (and a row holding the reason when kept).
void bad_message(TableState &state, const Origin &origin, const std::string &reason) {
  if (state.bad == BadMessages::raise)
    raise_message_error(state.feed->error_type.get(), static_cast<uint64_t>(origin.ordinal),
                        static_cast<uint64_t>(origin.offset), reason);
  Ref error = Ref::check(PyObject_CallFunction(
      state.feed->error_type.get(), "LLs#", static_cast<long long>(origin.ordinal),
      static_cast<long long>(origin.offset), reason.data(),
      static_cast<Py_ssize_t>(reason.size())));
  if (PyList_Append(state.errors.get(), error.get()) < 0)
    throw py::ErrorAlreadySet{};
  if (state.bad == BadMessages::keep)
    state.building().add_bad(reason, origin);
}

// fill(): adds the messages of the open stream until it ends (True) or the
// batch's budget is reached (False; fill() again goes on).
Ref fill(TableState &state) {
  if (!state.feed)
    return Ref::borrow(Py_True);
  Feed &feed = *state.feed;
  TableBuilder &builder = state.building();
  std::string_view text;
  uint64_t offset = 0;
  while (feed.source.next_text(text, offset)) {
    const Origin origin{feed.has_file ? &feed.file : nullptr,
                        feed.ordinal_base + static_cast<int64_t>(++feed.count),
                        feed.offset_base + static_cast<int64_t>(offset)};
    const Codec &codec = feed.source.codec_for(text);
    // Most texts need no Message: their row is read where they stand.
    if (feed.source.as_is(codec, text) && builder.add_text(text, origin, feed.source.line_ends())) {
      if (state.full())
        return Ref::borrow(Py_False);
      continue;
    }
    auto parsed = for_table(feed.source.parse(codec, text));
    if (parsed)
      builder.add(parsed.value(), origin);
    else
      bad_message(state, origin, parsed.error().message);
    if (state.full())
      return Ref::borrow(Py_False);
  }
  state.feed.reset();
  return Ref::borrow(Py_True);
}

// add_messages(iterator, full): adds the Message objects of an iterator up to
// the first other item, which it returns (None at the end of the iterator,
// `full` as soon as the batch's budget is reached).
const py::Signature add_messages_sig{"TableState.add_messages()", {"iterator", "full"}, 2, 2};
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
    if (state.full())
      return Ref::borrow(args[1]);
  }
}

// split(): a new state holding the rows and errors so far; this one goes on
// reading with none.
Ref split(TableState &state) {
  TableState head{state.names, std::make_unique<TableBuilder>(state.building().empty_copy()),
                  nullptr, state.bad, state.max_rows, state.max_bytes,
                  Ref::check(PyList_New(0)), nullptr};
  std::swap(head.builder, state.builder);
  std::swap(head.errors, state.errors);
  return py::wrap(state_type(), std::move(head));
}

Ref errors(TableState &state) { return Ref::borrow(state.errors.get()); }

// ----------------------------------------------------------------- results

Ref rows(TableState &state) {
  return Ref::check(PyLong_FromSize_t(state.result().rows()));
}

// The columns of a table in their order: the paths', then the reasons and
// the provenance when the table has them.
using Column = std::variant<const StringColumn *, const Int64Column *>;
std::vector<Column> columns_of(const TableBuilder &table) {
  std::vector<Column> out;
  for (const StringColumn &column : table.columns())
    out.emplace_back(&column);
  if (table.options().reasons)
    out.emplace_back(&table.reasons());
  if (table.options().provenance) {
    out.emplace_back(&table.files());
    out.emplace_back(&table.ordinals());
    out.emplace_back(&table.offsets());
  }
  return out;
}

Ref value_of(const Column &column, size_t row) {
  if (const auto *strings = std::get_if<const StringColumn *>(&column)) {
    if ((*strings)->is_null(row))
      return Ref::borrow(Py_None);
    return py::str((*strings)->value(row));
  }
  const Int64Column &numbers = *std::get<const Int64Column *>(column);
  if (numbers.is_null(row))
    return Ref::borrow(Py_None);
  return Ref::check(PyLong_FromLongLong(numbers.values[row]));
}

Ref to_pydict(TableState &state) {
  const TableBuilder &table = state.result();
  const std::vector<Column> columns = columns_of(table);
  py::CollectorPause pause;
  Ref dict = Ref::check(PyDict_New());
  for (size_t c = 0; c < columns.size(); ++c) {
    Ref list = py::new_list(table.rows(), [&](auto append) {
      for (size_t r = 0; r < table.rows(); ++r)
        append(value_of(columns[c], r));
    });
    Ref name = py::str(state.names[c]);
    if (PyDict_SetItem(dict.get(), name.get(), list.get()) < 0)
      throw py::ErrorAlreadySet{};
  }
  return dict;
}

Ref to_pylist(TableState &state) {
  const TableBuilder &table = state.result();
  const std::vector<Column> columns = columns_of(table);
  py::CollectorPause pause;
  // One key object per column serves every row (dict lookups match it by
  // identity); not interned, which would make each call add to and remove
  // from the interpreter's table of interned strings.
  std::vector<Ref> names;
  for (const std::string &name : state.names)
    names.push_back(py::str(name));
  return py::new_list(table.rows(), [&](auto append) {
    for (size_t r = 0; r < table.rows(); ++r) {
      Ref row = Ref::check(PyDict_New());
      for (size_t c = 0; c < columns.size(); ++c) {
        Ref value = value_of(columns[c], r);
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
// An empty column without storage (data == nullptr) keeps nanoarrow's own
// empty buffer.
void view_buffer(ArrowBuffer *buffer, const void *data, size_t size, const Shared &table) {
  if (!data)
    return;
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

// Views a column's buffers from an Arrow array: large_string (validity,
// offsets, data) or int64 (validity, values).
void view_column(ArrowArray *child, const Column &column, const Shared &table) {
  auto view_validity = [&](const Validity &validity) {
    child->null_count = validity.nulls;
    if (validity.nulls)
      view_buffer(ArrowArrayBuffer(child, 0), validity.bits.data(), validity.bits.size(), table);
  };
  if (const auto *strings = std::get_if<const StringColumn *>(&column)) {
    const StringColumn &c = **strings;
    child->length = static_cast<int64_t>(c.rows());
    view_validity(c.validity);
    view_buffer(ArrowArrayBuffer(child, 1), c.offsets.data(), c.offsets.size() * sizeof(int64_t),
                table);
    view_buffer(ArrowArrayBuffer(child, 2), c.data.data(), c.data.size(), table);
    return;
  }
  const Int64Column &c = *std::get<const Int64Column *>(column);
  child->length = static_cast<int64_t>(c.rows());
  view_validity(c.validity);
  view_buffer(ArrowArrayBuffer(child, 1), c.values.data(), c.values.size() * sizeof(int64_t),
              table);
}

const py::Signature arrow_stream_sig{"TableState.arrow_stream()", {"requested_schema"}, 1, 0};
Ref arrow_stream(TableState &state, PyObject **) {
  state.result();
  const Shared &table = state.done;
  const std::vector<Column> columns = columns_of(*table);
  const size_t n = columns.size();
  nanoarrow::UniqueSchema schema;
  ArrowSchemaInit(schema.get());
  check(ArrowSchemaSetTypeStruct(schema.get(), static_cast<int64_t>(n)), "schema");
  for (size_t c = 0; c < n; ++c) {
    const bool strings = std::holds_alternative<const StringColumn *>(columns[c]);
    check(ArrowSchemaSetType(schema->children[c],
                             strings ? NANOARROW_TYPE_LARGE_STRING : NANOARROW_TYPE_INT64),
          "schema");
    check(ArrowSchemaSetName(schema->children[c], state.names[c].c_str()), "schema");
  }
  nanoarrow::UniqueArray array;
  ArrowError error;
  check(ArrowArrayInitFromSchema(array.get(), schema.get(), &error), error.message);
  array->length = static_cast<int64_t>(table->rows());
  for (size_t c = 0; c < n; ++c)
    view_column(array->children[c], columns[c], table);
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
    {"open", py::as_cfunction(py::method<TableState, open_sig, open_stream>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fill", py::unary<TableState, fill, PyObject *>, METH_NOARGS, nullptr},
    {"split", py::unary<TableState, split, PyObject *>, METH_NOARGS, nullptr},
    {"errors", py::unary<TableState, errors, PyObject *>, METH_NOARGS, nullptr},
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
  return py::type_once<TableState>("vellomar._ops.TableState",
                                     "Columns of a table (vellomar.Table's state).", state_slots);
}

} // namespace

const py::Signature table_state_sig{
    "table_state()", {"names", "paths", "rows", "errors", "provenance", "budget"}, 6, 6};

// table_state(names, paths, rows, errors, provenance, budget): `names` names
// every column (the paths', then "reason" when errors is "keep", then the
// three of the provenance); `errors` is "raise", "skip" or "keep"; `budget`
// is (rows, bytes) of a batch, or None. The paths are read before anything
// else, so that a malformed one fails before any input is.
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
  std::string_view rows, errors;
  if (args[2] != Py_None && !py::to_text(args[2], "rows", rows))
    return {};
  if (!py::to_text(args[3], "errors", errors))
    return {};
  const BadMessages bad = errors == "keep"   ? BadMessages::keep
                          : errors == "skip" ? BadMessages::skip
                                             : BadMessages::raise;
  const int provenance = PyObject_IsTrue(args[4]);
  if (provenance < 0)
    return {};
  unsigned long long max_rows = SIZE_MAX, max_bytes = SIZE_MAX;
  if (args[5] != Py_None && !PyArg_ParseTuple(args[5], "KK:budget", &max_rows, &max_bytes))
    return {};
  const TableOptions options{bad == BadMessages::keep, provenance != 0, definitions()};
  if (names.size() != paths.size() + options.reasons + 3 * options.provenance) {
    PyErr_SetString(PyExc_ValueError, "table_state(): one name for every column");
    return {};
  }
  return py::convert_or_raise(
      TableBuilder::create(paths, rows, options), [&](TableBuilder &&builder) {
        return py::wrap(state_type(),
                        TableState{std::move(names),
                                   std::make_unique<TableBuilder>(std::move(builder)), nullptr,
                                   bad, static_cast<size_t>(max_rows),
                                   static_cast<size_t>(max_bytes), Ref::check(PyList_New(0)),
                                   nullptr});
      });
}

namespace {

// Hands `each` the offset of every message in the first `limit` bytes of the
// stream `read`, cut as tables cut it but neither decoded nor parsed.
template <class Each> bool each_message_start(PyObject *read, PyObject *limit_arg, Each &&each) {
  const unsigned long long limit = PyLong_AsUnsignedLongLong(limit_arg);
  if (PyErr_Occurred())
    return false;
  ByteSource source(read, Py_None, Codec{});
  source.set_limit(limit);
  std::string_view text;
  uint64_t offset = 0;
  while (source.next_text(text, offset))
    each(offset);
  return true;
}

} // namespace

const py::Signature count_messages_sig{"count_messages()", {"read", "limit"}, 2, 2};

// count_messages(read, limit): the number of messages in the first `limit`
// bytes of a stream.
Ref count_messages(PyObject **args) {
  uint64_t count = 0;
  if (!each_message_start(args[0], args[1], [&](uint64_t) { ++count; }))
    return {};
  return Ref::check(PyLong_FromUnsignedLongLong(count));
}

const py::Signature message_offsets_sig{"message_offsets()", {"read", "limit"}, 2, 2};

// message_offsets(read, limit): the stream offsets of the messages in the
// first `limit` bytes of a stream, as bytes of native 64-bit integers (for
// array("Q").frombytes): an index of a file in 8 bytes a message.
Ref message_offsets(PyObject **args) {
  std::vector<uint64_t> offsets;
  if (!each_message_start(args[0], args[1], [&](uint64_t offset) { offsets.push_back(offset); }))
    return {};
  return Ref::check(PyBytes_FromStringAndSize(reinterpret_cast<const char *>(offsets.data()),
                                              static_cast<Py_ssize_t>(offsets.size() * 8)));
}

} // namespace vellomar::ops
