#include "convert.hpp"

namespace vellomar::py {
namespace {

// Replaces a pending exception of exactly TypeError by a new TypeError
// "argument '{param}': {str(old)}"; any other exception stays as it is.
void name_argument_in_type_error(const char *param) {
  if (PyErr_Occurred() != PyExc_TypeError) // exactly TypeError, no subclass
    return;
  Ref old = Ref::steal(take_raised_exception());
  Ref text = Ref::steal(PyObject_Str(old.get()));
  if (!text)
    return;
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", param, text.get());
}

// Encodes `n` code points of one storage width as UTF-8 into `out`: sizes
// first, then fills once. Returns false at a surrogate, which UTF-8 cannot
// carry. Written here because the interpreter's encoders either cache their
// result on the str or return a bytes object that would be copied again.
template <class Char> bool encode_utf8(const Char *text, size_t n, std::string &out) {
  size_t size = n;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF)
      return false;
    size += (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
  }
  out.resize(size);
  auto *p = reinterpret_cast<unsigned char *>(out.data());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = text[i];
    if (c < 0x80) {
      *p++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *p++ = static_cast<unsigned char>(0xE0 | (c >> 12));
      *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<unsigned char>(0xF0 | (c >> 18));
      *p++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

} // namespace

bool to_text_uncached(PyObject *obj, const char *param, std::string &buffer,
                      std::string_view &out) {
  if (!PyUnicode_Check(obj))
    return to_text(obj, param, out); // raises its TypeError
  if (!ready(obj))
    return false;
  const void *data = PyUnicode_DATA(obj);
  const auto n = static_cast<size_t>(PyUnicode_GET_LENGTH(obj));
  if (PyUnicode_IS_ASCII(obj)) {
    out = std::string_view(static_cast<const char *>(data), n);
    return true;
  }
  bool encoded = false;
  switch (PyUnicode_KIND(obj)) {
  case PyUnicode_1BYTE_KIND:
    encoded = encode_utf8(static_cast<const Py_UCS1 *>(data), n, buffer);
    break;
  case PyUnicode_2BYTE_KIND:
    encoded = encode_utf8(static_cast<const Py_UCS2 *>(data), n, buffer);
    break;
  default:
    encoded = encode_utf8(static_cast<const Py_UCS4 *>(data), n, buffer);
    break;
  }
  if (!encoded) {
    // The interpreter's own encoder raises its UnicodeEncodeError, and this
    // one leaves no cache behind.
    Ref failed = Ref::steal(PyUnicode_AsUTF8String(obj));
    if (!failed)
      return false;
    throw std::logic_error("a surrogate that the interpreter encodes");
  }
  out = buffer;
  return true;
}

bool to_text(PyObject *obj, const char *param, std::string_view &out) {
  if (!PyUnicode_Check(obj)) {
    Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (qualname)
      PyErr_Format(PyExc_TypeError,
                   "argument '%s': '%U' object cannot be converted to 'PyString'", param,
                   qualname.get());
    return false;
  }
  Py_ssize_t size = 0;
  const char *data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!data)
    return false;
  out = std::string_view(data, static_cast<size_t>(size));
  return true;
}

bool to_index(PyObject *obj, const char *param, uint64_t &out) {
  Ref number;
  if (!PyLong_Check(obj)) {
    number = Ref::steal(PyNumber_Index(obj));
    if (!number) {
      name_argument_in_type_error(param);
      return false;
    }
    obj = number.get();
  }
  unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    name_argument_in_type_error(param);
    return false;
  }
  out = value;
  return true;
}

} // namespace vellomar::py
