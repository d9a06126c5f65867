// Byte-level reading for the package: the character set a message names, for
// its codec (MSH-18 read by the same core routine as the reader's), and where
// a message starts, for the splitting of files into ranges (the cutter's own
// rule).
#include "../core/batch.hpp"
#include "../core/charset.hpp"
#include "../binding/convert.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

namespace {

// A bytes-like argument's buffer, released at the end of the call.
struct Buffer {
  Py_buffer view{};
  explicit Buffer(PyObject *obj) {
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0)
      throw py::ErrorAlreadySet{};
  }
  ~Buffer() { PyBuffer_Release(&view); }
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  std::string_view text() const {
    return {static_cast<const char *>(view.buf), static_cast<size_t>(view.len)};
  }
};

} // namespace

const py::Signature charset_of_sig{"charset_of()", {"data"}, 1, 1};

Ref charset_of(PyObject **args) {
  const Buffer data(args[0]);
  const std::string_view text = data.text();
  // The first MSH line: at the start, after a line end or an MLLP start block.
  for (size_t at = text.find("MSH"); at != std::string_view::npos; at = text.find("MSH", at + 1)) {
    if (at != 0 && text[at - 1] != '\r' && text[at - 1] != '\n' && text[at - 1] != '\x0b')
      continue;
    const std::string_view name = header_charset(text.substr(at));
    if (name.empty())
      break;
    return Ref::check(
        PyUnicode_DecodeASCII(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
  }
  return Ref::borrow(Py_None);
}

const py::Signature message_start_sig{"message_start()", {"data", "start"}, 2, 2};

Ref message_start(PyObject **args) {
  const Buffer data(args[0]);
  uint64_t start = 0;
  if (!py::to_index(args[1], "start", start))
    return {};
  const std::string_view text = data.text();
  const size_t found =
      start >= text.size() ? std::string_view::npos
                           : next_message_start(text, static_cast<size_t>(start));
  return Ref::check(found == std::string_view::npos ? PyLong_FromLong(-1)
                                                    : PyLong_FromSize_t(found));
}

} // namespace vellomar::ops
