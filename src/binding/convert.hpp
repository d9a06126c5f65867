// Conversions between Python objects and the plain values of the core.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "handle.hpp"

namespace vellomar::py {

// The UTF-8 text of a `str` (or subclass) argument, valid while `obj` lives.
// Returns false with the error set: TypeError "argument '{param}': '{type}'
// object cannot be converted to 'PyString'" for a non-str, the interpreter's
// UnicodeEncodeError (unchanged) for lone surrogates.
bool to_text(PyObject *obj, const char *param, std::string_view &out);

// The UTF-8 text of a `str` argument that is copied into a record (a
// message's text), without leaving a UTF-8 copy cached on the str: that cache
// would double a non-ASCII str's size for as long as it lives. An ASCII str
// is viewed in place; any other str is encoded into a bytes object that
// `holder` keeps and `out` views. Errors as to_text.
bool to_text_uncached(PyObject *obj, const char *param, Ref &holder,
                      std::string_view &out);

// An unsigned 64-bit index, through __index__ for non-int objects. Returns
// false with the error set; a TypeError (exactly) is rewritten as
// "argument '{param}': {message}", OverflowError passes unchanged.
bool to_index(PyObject *obj, const char *param, uint64_t &out);

// A new str from UTF-8 text (nullptr with the error set on failure). Short
// pure ASCII takes the compact path: one allocation and a memcpy.
inline PyObject *new_str(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const size_t n = text.size();
  // A long text: the interpreter's decoder checks and copies in one pass
  // (twice as fast as a separate check and copy for a 1 MB value).
  if (n >= 256)
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(n), nullptr);
  // One ASCII character: the interpreter's cached one-character str, no
  // allocation (one value in seven of a walk is such a code: "F", "1", "N").
  if (n == 1 && p[0] < 0x80)
    return PyUnicode_FromOrdinal(p[0]);
  size_t i = 0;
  unsigned char high = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ULL) {
      high = 0x80;
      break;
    }
  }
  for (; !high && i < n; ++i)
    high |= static_cast<unsigned char>(p[i] & 0x80);
  if (high)
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(n), nullptr);
  PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
  if (s)
    std::memcpy(PyUnicode_DATA(s), text.data(), n);
  return s;
}

// new_str that throws ErrorAlreadySet on failure, for building results.
inline Ref str(std::string_view text) { return Ref::check(new_str(text)); }

// A new list of `count` items: `fill(append)` calls append(Ref) once per
// item, in order. Appending more than `count` items is an internal failure.
template <class Fill> Ref new_list(size_t count, Fill &&fill) {
  Ref list = Ref::check(PyList_New(static_cast<Py_ssize_t>(count)));
  size_t i = 0;
  fill([&](Ref item) {
    if (i == count)
      throw std::logic_error("list longer than counted");
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i++), item.release());
  });
  return list;
}

} // namespace vellomar::py
