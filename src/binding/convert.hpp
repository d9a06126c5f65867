// Conversions between Python objects and the plain values of the core.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string_view>

#include "handle.hpp"

namespace vellomar::py {

// The UTF-8 text of a `str` (or subclass) argument, valid while `obj` lives.
// Returns false with the error set: TypeError "argument '{param}': '{type}'
// object cannot be converted to 'PyString'" for a non-str, the interpreter's
// UnicodeEncodeError (unchanged) for lone surrogates.
bool to_text(PyObject *obj, const char *param, std::string_view &out);

// The bytes of a `bytes` argument, valid while `obj` lives. Returns false
// with TypeError "argument '{param}': '{type}' object is not 'bytes'" set.
bool to_bytes(PyObject *obj, const char *param, std::string_view &out);

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
  if (n == 1 && (p[0] & 0x80) == 0)
    return PyUnicode_FromOrdinal(p[0]);
  // The str is made for ASCII first and the text copied and checked in the
  // same pass, 8 bytes at a time; a variable-length memcpy of these short
  // texts compiled to a string move instruction with a high start-up cost.
  // Text with a byte of 0x80 or above (rare) goes to the decoder instead.
  PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
  if (!s)
    return nullptr;
  auto *out = static_cast<unsigned char *>(PyUnicode_DATA(s));
  uint64_t high = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    high |= word;
    std::memcpy(out + i, &word, 8);
  }
  for (; i < n; ++i) {
    high |= p[i];
    out[i] = p[i];
  }
  if (high & 0x8080808080808080ULL) {
    Py_DECREF(s);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(n), nullptr);
  }
  return s;
}

// A new str from text already known to be ASCII: one allocation and a copy,
// without the decoder's check of every byte.
inline Ref ascii_str(std::string_view text) {
  Ref s = Ref::check(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
  std::memcpy(PyUnicode_DATA(s.get()), text.data(), text.size());
  return s;
}

// new_str that throws ErrorAlreadySet on failure, for building results.
inline Ref str(std::string_view text) { return Ref::check(new_str(text)); }

// The same for a text whose writer knows whether it is ASCII (`ascii`: no
// byte of 0x80 or above): then made by one copy, without the decoder's pass.
inline Ref str_of(std::string_view text, bool ascii) {
  return ascii ? ascii_str(text) : str(text);
}

// The strs of one bulk result, made once per distinct text: a result built
// from one message repeats many values (a doctor's name, a date, a coding
// system in every observation), and strs are immutable, so equal texts may
// share one object. Entries are borrowed: they stay alive because the result
// being built holds them, so the cache must not outlive that result. Texts
// of one byte (the interpreter's own cache), of 256 bytes or more and any
// non-ASCII text are made as new_str makes them, uncached; a full table
// makes new strs too.
class StrCache {
public:
  StrCache() : table_(table()) {}
  ~StrCache() { // leaves the table empty for the thread's next call
    for (const uint16_t taken : std::span(table_.taken, table_.used))
      table_.slots[taken].str = nullptr;
    table_.used = 0;
  }
  StrCache(const StrCache &) = delete;
  StrCache &operator=(const StrCache &) = delete;

  [[gnu::always_inline]] Ref str(std::string_view text) {
    const size_t n = text.size();
    if (n == 0)
      return Ref::borrow(empty());
    if (n == 1 || n >= 256)
      return py::str(text);
    // The text's first and last eight bytes (up to 16 bytes, with the
    // length, the whole text) and for a shorter text two overlapping reads
    // that cover it: most probes compare three words and no bytes.
    const char *p = text.data();
    uint64_t a, b = 0;
    if (n >= 8) {
      std::memcpy(&a, p, 8);
      std::memcpy(&b, p + n - 8, 8);
    } else if (n >= 4) {
      a = load<uint32_t>(p) | uint64_t{load<uint32_t>(p + n - 4)} << 32;
    } else {
      a = load<uint16_t>(p) | uint64_t{load<uint16_t>(p + n - 2)} << 16;
    }
    const uint64_t h = (a ^ (b * 0x9E3779B97F4A7C15ULL) ^ n) * 0xBF58476D1CE4E5B9ULL;
    for (size_t i = (h >> 40) & (size - 1);; i = (i + 1) & (size - 1)) {
      Slot &slot = table_.slots[i];
      if (!slot.str)
        return add(slot, i, text, a, b);
      if (slot.first == a && slot.last == b && slot.size == n &&
          (n <= 16 || std::memcmp(PyUnicode_DATA(slot.str), p, n) == 0))
        return Ref::borrow(slot.str);
    }
  }

private:
  static constexpr size_t size = 512; // a power of two
  static constexpr size_t most = size * 3 / 4;
  struct Slot {
    uint64_t first, last;
    size_t size;
    PyObject *str; // borrowed; null: free
  };
  // One table a thread, empty between calls: zeroing it for each call cost
  // more than the probes.
  struct Table {
    Slot slots[size];
    uint16_t taken[most];
    size_t used;
  };
  static Table &table() {
    thread_local Table t{};
    return t;
  }
  static PyObject *empty() {
    static PyObject *made = Ref::check(PyUnicode_New(0, 0)).release();
    return made;
  }
  template <class T> static T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  [[gnu::noinline]] Ref add(Slot &slot, size_t i, std::string_view text, uint64_t a, uint64_t b) {
    Ref made = py::str(text);
    if (table_.used < most && PyUnicode_IS_ASCII(made.get())) {
      slot = {a, b, text.size(), made.get()};
      table_.taken[table_.used++] = static_cast<uint16_t>(i);
    }
    return made;
  }
  Table &table_;
};

// A new list of `count` items: `fill(append)` calls append(Ref) once per
// item, in order. Appending more than `count` items is an internal failure;
// appending fewer leaves a shorter list.
// The item array is allocated without the zero-fill of PyList_New (a walk
// makes a list per field and per component, most of one item), and the list
// counts only the items already stored, so a fill that throws half-way leaves
// a valid list to free.
template <class Fill> Ref new_list(size_t count, Fill &&fill) {
  Ref list = Ref::check(PyList_New(0));
  auto *l = reinterpret_cast<PyListObject *>(list.get());
  if (count) {
    if (count > static_cast<size_t>(PY_SSIZE_T_MAX) / sizeof(PyObject *))
      throw std::bad_alloc();
    l->ob_item = static_cast<PyObject **>(PyMem_Malloc(count * sizeof(PyObject *)));
    if (!l->ob_item)
      throw std::bad_alloc();
    l->allocated = static_cast<Py_ssize_t>(count);
  }
  size_t i = 0;
  fill([&](Ref item) {
    if (i == count)
      throw std::logic_error("list longer than counted");
    l->ob_item[i++] = item.release();
    Py_SET_SIZE(l, static_cast<Py_ssize_t>(i));
  });
  return list;
}

} // namespace vellomar::py
