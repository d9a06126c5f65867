// Byte-level reading for the package: the character set a message names, for
// its codec in decode() and write() (MSH-18 read by the same core routine as
// the reader's), and where a message starts, for the splitting of files into
// ranges (the cutter's own rule).
#include "../binding/convert.hpp"
#include "../core/batch.hpp"
#include "../core/charset.hpp"
#include "../core/text.hpp"
#include "../module/classes.hpp"
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

// MSH-18 of a header line as a str, or None.
Ref charset_name(std::string_view header) {
  const std::string_view name = header_charset(header);
  if (name.empty())
    return Ref::borrow(Py_None);
  return Ref::check(
      PyUnicode_DecodeASCII(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
}

} // namespace

const py::Signature charset_of_sig{"charset_of()", {"data"}, 1, 1};

Ref charset_of(PyObject **args) {
  std::string_view header;
  if (Py_TYPE(args[0]) == module::types.message) {
    // A message's own header: its text begins with its MSH line.
    const Message &message = *py::instance<module::MessagePtr>(args[0])->value;
    header = message.raw;
    if (!message.segments.empty())
      header.remove_prefix(message.segments.front().offset);
    return charset_name(header);
  }
  const Buffer data(args[0]);
  // The first message, where the cutter starts it.
  const std::string_view text = trim_white_space_start(data.text());
  const size_t at = opens_message(text) ? 0 : next_message_start(text, 1);
  if (at == std::string_view::npos)
    return Ref::borrow(Py_None);
  header = text.substr(at);
  header.remove_prefix(message_head(header));
  return charset_name(header);
}

const py::Signature message_start_sig{"message_start()", {"data"}, 1, 1};

// The first message start in `data` after its first byte, which is the byte
// before the range read and tells whether a line begins at the second; -1
// when there is none.
Ref message_start(PyObject **args) {
  const Buffer data(args[0]);
  const size_t found = next_message_start(data.text(), 1);
  return Ref::check(found == std::string_view::npos ? PyLong_FromLong(-1)
                                                    : PyLong_FromSize_t(found));
}

} // namespace vellomar::ops
