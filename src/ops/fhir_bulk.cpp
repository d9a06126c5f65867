// The bulk road of HL7 v2 to FHIR (vellomar fhir, write_ndjson, the Dask and
// Spark readers): the messages of a stream are cut by the house's byte
// source in batches, their texts copied into the batch while the
// interpreter's lock is held (it reads through Python's read()); each batch
// is then parsed and converted with the lock released, into NDJSON lines
// grouped by resource type. No Python object per message or per resource.
#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "../core/fhir.hpp"
#include "../core/parser.hpp"
#include "ops.hpp"
#include "source.hpp"

namespace vellomar::ops {
namespace {

using py::Ref;

// The messages of a batch, as read.
struct FhirBatch {
  struct Item {
    uint64_t ordinal = 0, offset = 0; // its number and byte offset in the stream
    size_t start = 0, size = 0;       // its text in `texts`, when its own decoded form
    std::unique_ptr<Message> message; // or the message decoded by the interpreter
    std::string error;                // or why it did not decode
  };
  std::string texts; // the texts of the messages read as they stand, one after another
  std::vector<Item> items;
};

struct FhirReadState {
  ByteSource source;
  uint64_t ordinal = 0;
};

PyTypeObject *batch_type();

// ------------------------------------------------------------------- lines

// The storage of lines no longer held, kept for the next batches' lines of
// the same resource type: a batch's lines are written into storage that is
// mapped, warm and about the right size, and handed to Python without a
// copy. At most `kept_total` bytes of it are kept. A type is known by a hash
// of its name (two names of one hash only get storage of another size).
class LineStore {
public:
  // Storage last used for lines of `type`, else any, else none.
  std::string take(size_t type) {
    std::lock_guard lock(mutex_);
    if (kept_.empty())
      return {};
    auto it = std::find_if(kept_.rbegin(), kept_.rend(),
                           [&](const Kept &k) { return k.type == type; });
    Kept &found = it != kept_.rend() ? *it : kept_.back();
    std::string text = std::move(found.text);
    bytes_ -= text.capacity();
    if (&found != &kept_.back())
      found = std::move(kept_.back());
    kept_.pop_back();
    return text;
  }
  void give(size_t type, std::string &&text) noexcept {
    if (text.capacity() < kept_least) // a string moved from holds none
      return;
    std::lock_guard lock(mutex_);
    if (bytes_ + text.capacity() > kept_total || kept_.size() == kept_.capacity())
      return; // freed by the caller's string
    text.clear();
    bytes_ += text.capacity();
    kept_.push_back(Kept{type, std::move(text)}); // no allocation: capacity checked above
  }

private:
  struct Kept {
    size_t type;
    std::string text;
  };
  static constexpr size_t kept_total = size_t{16} << 20, kept_least = 4096;
  std::mutex mutex_;
  std::vector<Kept> kept_ = [] {
    std::vector<Kept> v;
    v.reserve(256);
    return v;
  }();
  size_t bytes_ = 0;
};

LineStore line_store;

size_t type_key(std::string_view type) { return std::hash<std::string_view>{}(type); }

// One resource type's NDJSON lines of a batch, read by Python through the
// buffer protocol (memoryview, a file's write) without a copy; the storage
// goes back to the store when the object goes.
struct FhirLines {
  size_t type; // the hash of its name (see LineStore)
  std::string text;
  FhirLines(size_t t, std::string &&lines) noexcept : type(t), text(std::move(lines)) {}
  FhirLines(FhirLines &&other) noexcept : type(other.type), text(std::move(other.text)) {}
  ~FhirLines() { line_store.give(type, std::move(text)); }
};

int lines_buffer(PyObject *self, Py_buffer *view, int flags) {
  const std::string &text = py::instance<FhirLines>(self)->value.text;
  return PyBuffer_FillInfo(view, self, const_cast<char *>(text.data()),
                           static_cast<Py_ssize_t>(text.size()), 1, flags);
}

PyType_Slot lines_slots[] = {
    {Py_bf_getbuffer, reinterpret_cast<void *>(&lines_buffer)},
    {0, nullptr},
};

PyTypeObject *lines_type() {
  return py::type_once<FhirLines>("vellomar._ops.FhirLines",
                                    "NDJSON lines of one resource type (a read-only buffer).",
                                    lines_slots);
}

const py::Signature take_sig{"FhirReadState.take()", {"count"}, 1, 1};
// take(count): a batch of the next `count` messages of the stream, or None
// at its end. A message whose codec is not UTF-8, or whose bytes are not, is
// decoded here (by the interpreter) and parsed; the others are parsed with
// the batch, as ByteSource::parse parses a text that is its own decoded form.
Ref take(FhirReadState &state, PyObject **args) {
  const size_t count = PyLong_AsSize_t(args[0]);
  if (count == static_cast<size_t>(-1) && PyErr_Occurred())
    return {};
  FhirBatch batch;
  batch.items.reserve(count);
  std::string_view text;
  uint64_t offset = 0;
  while (batch.items.size() < count && state.source.next_text(text, offset)) {
    FhirBatch::Item &item = batch.items.emplace_back();
    item.ordinal = ++state.ordinal;
    item.offset = offset;
    const Codec &codec = state.source.codec_for(text);
    if (state.source.as_is(codec, text)) {
      item.start = batch.texts.size();
      item.size = text.size();
      batch.texts.append(text);
      continue;
    }
    auto parsed = state.source.parse(codec, text);
    if (parsed)
      item.message = std::make_unique<Message>(std::move(parsed).value());
    else
      item.error = std::move(parsed).error().message;
  }
  if (batch.items.empty())
    return Ref::borrow(Py_None);
  return py::wrap(batch_type(), std::move(batch));
}

const py::Signature convert_sig{"FhirBatch.convert()", {"mapping"}, 1, 1};
// convert(mapping): a new tuple (lines, counts, errors, unmapped): the
// resources of the batch's messages as NDJSON lines (relative references) by
// resourceType, sorted by it, each a FhirLines; how many lines each holds;
// the (ordinal, offset, reason) of each message that did not decode or
// parse, in order; and the number of messages of each kind of what was not
// mapped (fhir::unmapped_kind()).
Ref convert(FhirBatch &batch, PyObject **args) {
  const fhir::Maps *maps = fhir_maps_of(args[0]);
  if (!maps)
    return {};
  const Definitions *defs = definitions();
  if (!defs) {
    PyErr_SetString(PyExc_RuntimeError, "HL7 definitions not loaded");
    return {};
  }
  fhir::Options options;
  options.relative_references = true;
  struct Lines {
    std::string_view type; // the maps' own text
    std::string text;      // from the line store
    size_t count = 0;
  };
  std::vector<Lines> made;
  std::vector<const FhirBatch::Item *> bad;
  std::vector<std::string> reasons; // of the parser, for the messages parsed here
  std::unordered_map<std::string, size_t> kinds; // of what was not mapped: messages
  // The batch is this call's alone (the method's borrow); nothing here
  // touches Python objects while the lock is released. What is thrown is
  // raised once the lock is back.
  std::exception_ptr failed;
  Py_BEGIN_ALLOW_THREADS
  try {
    Lines *last = nullptr; // a message's resources mostly come in runs of a type
    std::vector<std::string> unmapped, seen;
    // converts `message` and counts each kind of what it left unmapped once
    auto convert_one = [&](const Message &message, const auto &each) {
      fhir::convert_each(*maps, *defs, message, options, each, &unmapped);
      seen.clear();
      for (const std::string &report : unmapped)
        seen.push_back(fhir::unmapped_kind(report));
      std::sort(seen.begin(), seen.end());
      seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
      for (std::string &kind : seen)
        ++kinds[std::move(kind)];
    };
    auto each = [&](const fhir::ResourceText &e, std::string_view text) {
      if (!last || last->type != e.type) {
        auto it = std::find_if(made.begin(), made.end(),
                               [&](const Lines &l) { return l.type == e.type; });
        if (it == made.end())
          it = made.insert(it, Lines{e.type, line_store.take(type_key(e.type)), 0});
        last = &*it;
      }
      last->text.append(text).push_back('\n');
      ++last->count;
    };
    for (const FhirBatch::Item &item : batch.items) {
      if (item.message) {
        convert_one(*item.message, each);
        continue;
      }
      if (!item.error.empty()) {
        bad.push_back(&item);
        reasons.push_back(item.error);
        continue;
      }
      auto parsed = parse_message(std::string_view(batch.texts).substr(item.start, item.size));
      if (parsed) {
        convert_one(parsed.value(), each);
        continue;
      }
      bad.push_back(&item);
      reasons.push_back(std::move(parsed).error().message);
    }
  } catch (...) {
    failed = std::current_exception();
  }
  Py_END_ALLOW_THREADS
  if (failed)
    std::rethrow_exception(failed);
  std::sort(made.begin(), made.end(),
            [](const Lines &a, const Lines &b) { return a.type < b.type; });
  Ref lines = Ref::check(PyDict_New()), counts = Ref::check(PyDict_New());
  for (Lines &l : made) {
    Ref type = py::ascii_str(l.type);
    Ref text = py::wrap(lines_type(), FhirLines(type_key(l.type), std::move(l.text)));
    Ref number = Ref::check(PyLong_FromSize_t(l.count));
    if (PyDict_SetItem(lines.get(), type.get(), text.get()) < 0 ||
        PyDict_SetItem(counts.get(), type.get(), number.get()) < 0)
      return {};
  }
  Ref errors = py::new_list(bad.size(), [&](auto append) {
    for (size_t i = 0; i < bad.size(); ++i)
      append(Ref::check(Py_BuildValue("KKs#", static_cast<unsigned long long>(bad[i]->ordinal),
                                      static_cast<unsigned long long>(bad[i]->offset),
                                      reasons[i].data(),
                                      static_cast<Py_ssize_t>(reasons[i].size()))));
  });
  // (in the order of their text: a run that counts at most so many kinds
  // one by one takes the same ones whatever the number of its threads)
  std::vector<std::pair<std::string_view, size_t>> sorted(kinds.begin(), kinds.end());
  std::sort(sorted.begin(), sorted.end());
  Ref unmapped = Ref::check(PyDict_New());
  for (const auto &[kind, messages] : sorted) {
    Ref key = py::str(kind);
    Ref number = Ref::check(PyLong_FromSize_t(messages));
    if (PyDict_SetItem(unmapped.get(), key.get(), number.get()) < 0)
      return {};
  }
  return Ref::check(
      PyTuple_Pack(4, lines.get(), counts.get(), errors.get(), unmapped.get()));
}

PyMethodDef batch_methods[] = {
    {"convert", py::as_cfunction(py::method<FhirBatch, convert_sig, convert>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot batch_slots[] = {
    {Py_tp_methods, batch_methods},
    {0, nullptr},
};

PyTypeObject *batch_type() {
  return py::type_once<FhirBatch>("vellomar._ops.FhirBatch",
                                    "Messages of a stream to convert to FHIR at once.",
                                    batch_slots);
}

PyMethodDef state_methods[] = {
    {"take", py::as_cfunction(py::method<FhirReadState, take_sig, take>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot state_slots[] = {
    {Py_tp_methods, state_methods},
    {0, nullptr},
};

PyTypeObject *state_type() {
  return py::type_once<FhirReadState>("vellomar._ops.FhirReadState",
                                        "Batches of the messages of a byte stream, for FHIR.",
                                        state_slots);
}

} // namespace

const py::Signature fhir_reader_sig{"fhir_reader()", {"read", "codec_of", "encoding"}, 3, 3};

Ref fhir_reader(PyObject **args) {
  Codec fixed;
  if (!to_codec(args[2], fixed))
    return {};
  PyObject *codec_of = args[2] == Py_None ? args[1] : Py_None;
  return py::wrap(state_type(), FhirReadState{ByteSource(args[0], codec_of, std::move(fixed))});
}

} // namespace vellomar::ops
