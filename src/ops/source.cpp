#include "source.hpp"

#include <algorithm>

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

bool ByteSource::next_text(std::string_view &text, uint64_t &offset) {
  for (;;) {
    while (!cutter_.next(text, offset, buffer_)) {
      if (ended_)
        return false;
      // The cutter no longer views the last chunk: read the next one.
      chunk_.reset();
      const auto want = static_cast<Py_ssize_t>(
          std::min<uint64_t>(static_cast<uint64_t>(chunk_size), limit_ - position_));
      py::Ref data;
      std::string_view bytes;
      if (PyUnicode_Check(read_.get())) {
        // Text in memory is one chunk: its UTF-8 form viewed in place (an
        // ASCII str's own characters), not encoded into a copy.
        if (!text_read_) {
          text_read_ = true;
          Py_ssize_t size = 0;
          const char *utf8 = PyUnicode_AsUTF8AndSize(read_.get(), &size);
          if (!utf8)
            throw py::ErrorAlreadySet{};
          bytes = {utf8, static_cast<size_t>(size)};
          data = py::Ref::borrow(read_.get());
        }
      } else {
        data = py::Ref::check(want ? PyObject_CallFunction(read_.get(), "n", want)
                                   : PyBytes_FromStringAndSize(nullptr, 0));
        if (!PyBytes_Check(data.get())) {
          PyErr_Format(PyExc_TypeError,
                       "read() returned '%.200s', not 'bytes': open the file in binary mode",
                       Py_TYPE(data.get())->tp_name);
          throw py::ErrorAlreadySet{};
        }
        bytes = {PyBytes_AS_STRING(data.get()), static_cast<size_t>(PyBytes_GET_SIZE(data.get()))};
      }
      const auto size = std::min(static_cast<uint64_t>(bytes.size()),
                                 limit_ - position_); // a read() longer than asked
      if (size == 0) {
        ended_ = true;
        cutter_.finish();
        continue;
      }
      position_ += size;
      cutter_.feed({bytes.data(), size});
      chunk_ = std::move(data);
    }
    if (trim_message_text(text))
      return true;
  }
}

const Codec &ByteSource::codec_of(std::string_view text) {
  if (codec_of_.get() == Py_None)
    return fixed_;
  std::string_view name = header_charset(text);
  if (name.empty())
    return fixed_;
  if (last_codec_ && last_codec_->first == name)
    return last_codec_->second;
  auto [it, added] = codecs_.try_emplace(std::string(name));
  if (!added) {
    last_codec_ = &*it;
    return it->second;
  }
  Codec &codec = it->second;
  try {
    // The package's one codec rule, given the header line (the name is only
    // the key of the codecs known so far).
    const size_t line_end = std::min(text.find_first_of("\r\n"), text.size());
    py::Ref header = py::Ref::check(
        PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(line_end)));
    py::Ref found = py::Ref::steal(PyObject_CallOneArg(codec_of_.get(), header.get()));
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

const Codec &ByteSource::codec_for(std::string_view text) {
  const Codec &codec = codec_of(text);
  // A message read as UTF-8 only because nothing named its codec is read
  // with the fallback codec when its bytes are not UTF-8.
  if (fallback_ && &codec == &fixed_ && codec.utf8 && codec.error.empty() && !is_utf8(text))
    return *fallback_;
  return codec;
}

Result<Message> ByteSource::parse(const Codec &codec, std::string_view text) {
  const SegmentNames *only = only_ ? &*only_ : nullptr;
  // A str's UTF-8 form needs no check.
  if (text_read_ && codec.utf8 && codec.error.empty())
    return parse_message(text, only);
  return parse_in(codec, text, only);
}

Result<Message> parse_in(const Codec &codec, std::string_view text, const SegmentNames *only) {
  if (!codec.error.empty())
    return Error{ErrorKind::value_error, codec.error};
  if (codec.utf8 && is_utf8(text))
    return parse_message(text, only);
  // Another codec, or bytes that are not UTF-8: the interpreter's decoder
  // gives the str, or the error text of the byte that does not decode.
  py::Ref decoded = py::Ref::steal(PyUnicode_Decode(
      text.data(), static_cast<Py_ssize_t>(text.size()), codec.utf8 ? "utf-8" : codec.name.c_str(),
      "strict"));
  if (!decoded)
    return Error{ErrorKind::value_error, raised_text()};
  Py_ssize_t size = 0;
  const char *data = PyUnicode_AsUTF8AndSize(decoded.get(), &size);
  if (!data)
    return Error{ErrorKind::value_error, raised_text()};
  std::string_view utf8(data, static_cast<size_t>(size));
  trim_message_text(utf8);
  return parse_message(utf8, only);
}

} // namespace vellomar::ops
