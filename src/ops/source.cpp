#include "source.hpp"

#include "../core/charset.hpp"
#include "../core/parser.hpp"

#include <algorithm>

namespace vellomar::ops {
namespace {

constexpr Py_ssize_t chunk_size = 1 << 20;

// The text of the exception being raised, which is cleared.
std::string raised_text() {
  py::Ref error = py::Ref::steal(py::take_raised_exception());
  py::Ref text = py::Ref::check(PyObject_Str(error.get()));
  Py_ssize_t size = 0;
  const char *data = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (!data)
    throw py::ErrorAlreadySet{};
  return std::string(data, static_cast<size_t>(size));
}

} // namespace

void raise_message_error(PyObject *error_type, uint64_t ordinal, uint64_t offset,
                         const std::string &reason) {
  py::Ref error = py::Ref::check(PyObject_CallFunction(
      error_type, "KKs#", static_cast<unsigned long long>(ordinal),
      static_cast<unsigned long long>(offset), reason.data(),
      static_cast<Py_ssize_t>(reason.size())));
  PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.get())), error.get());
  throw py::ErrorAlreadySet{};
}

bool to_codec(PyObject *obj, Codec &out) {
  if (obj == Py_None)
    return true;
  std::string_view name;
  if (!py::to_text(obj, "encoding", name))
    return false;
  out.utf8 = name == "utf-8";
  out.name = std::string(name);
  return true;
}

bool ByteSource::next_text(std::string &text, uint64_t &offset) {
  for (;;) {
    while (!cutter_.next(text, offset)) {
      if (ended_)
        return false;
      // The cutter no longer views the last chunk: read the next one.
      chunk_.reset();
      const auto want = static_cast<Py_ssize_t>(
          std::min<uint64_t>(static_cast<uint64_t>(chunk_size), limit_ - position_));
      py::Ref data = py::Ref::check(want ? PyObject_CallFunction(read_.get(), "n", want)
                                         : PyBytes_FromStringAndSize(nullptr, 0));
      if (!PyBytes_Check(data.get())) {
        PyErr_Format(PyExc_TypeError, "read() returned '%.200s', not 'bytes': open the file in binary mode",
                     Py_TYPE(data.get())->tp_name);
        throw py::ErrorAlreadySet{};
      }
      const auto size = std::min(static_cast<uint64_t>(PyBytes_GET_SIZE(data.get())),
                                 limit_ - position_); // a read() longer than asked
      if (size == 0) {
        ended_ = true;
        cutter_.finish();
        continue;
      }
      position_ += size;
      cutter_.feed({PyBytes_AS_STRING(data.get()), size});
      chunk_ = std::move(data);
    }
    if (trim_message_text(text))
      return true;
  }
}

const Codec &ByteSource::codec_of(std::string_view text) {
  if (codec_for_.get() == Py_None)
    return fixed_;
  std::string_view name = header_charset(text);
  if (name.empty())
    return fixed_;
  auto [it, added] = codecs_.try_emplace(std::string(name));
  if (!added)
    return it->second;
  Codec &codec = it->second;
  try {
    py::Ref key = py::Ref::check(
        PyUnicode_DecodeASCII(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
    py::Ref found = py::Ref::steal(PyObject_CallOneArg(codec_for_.get(), key.get()));
    if (!found) {
      if (!PyErr_ExceptionMatches(PyExc_LookupError))
        throw py::ErrorAlreadySet{};
      codec.error = raised_text();
      return codec;
    }
    std::string_view codec_name;
    if (!py::to_text(found.get(), "codec", codec_name))
      throw py::ErrorAlreadySet{};
    codec.utf8 = codec_name == "utf-8";
    codec.name = std::string(codec_name);
  } catch (...) {
    codecs_.erase(it);
    throw;
  }
  return codec;
}

Result<Message> ByteSource::parse(std::string &&text) {
  const Codec *codec = &codec_of(text);
  if (!codec->error.empty())
    return Error{ErrorKind::value_error, codec->error};
  if (codec->utf8 && is_utf8(text))
    return parse_message(std::move(text));
  if (codec == &fixed_ && codec->utf8 && fallback_)
    codec = &*fallback_;
  // Another codec, or bytes that are not UTF-8: the interpreter's decoder
  // gives the str, or the error text of the byte that does not decode.
  py::Ref decoded = py::Ref::steal(PyUnicode_Decode(
      text.data(), static_cast<Py_ssize_t>(text.size()), codec->utf8 ? "utf-8" : codec->name.c_str(),
      "strict"));
  if (!decoded)
    return Error{ErrorKind::value_error, raised_text()};
  Py_ssize_t size = 0;
  const char *data = PyUnicode_AsUTF8AndSize(decoded.get(), &size);
  if (!data)
    return Error{ErrorKind::value_error, raised_text()};
  std::string utf8(data, static_cast<size_t>(size));
  trim_message_text(utf8);
  return parse_message(std::move(utf8));
}

} // namespace vellomar::ops
