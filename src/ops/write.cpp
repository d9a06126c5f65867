// The bytes of one message as vellomar.write puts it in a file: its segments
// each ended by the chosen line end, optionally in an MLLP frame, in the
// message's codec. One pass over the message's text; a codec other than
// UTF-8 goes through the interpreter's encoder.
#include <cstring>

#include "../core/batch.hpp"
#include "../core/roads.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {

using py::Ref;

namespace {

// The whole line of a segment, from its name to the end of its last field.
std::string_view line_of(const SegmentView &segment) {
  const char *end = segment.stored ? segment.base + segment.ends[segment.stored - 1]
                                   : segment.name.data() + segment.name.size();
  return {segment.name.data(), static_cast<size_t>(end - segment.name.data())};
}

// Whether the reader, cutting the written text, gets back this one message
// with these lines: the core cutter itself is asked, so that a segment which
// would start a message (a second MSH line) or be left out (an envelope
// segment, MLLP block bytes at a line's ends) is found by the one rule.
bool reads_back(const Message &message) {
  // Most messages need no cutting: a line can only start a message or be
  // left out when it begins like MSH or an envelope segment (or with White_Space
  // or a non-ASCII byte, which the cutter's trims may read as White_Space), or
  // when the text holds an MLLP block byte. This filter only lets the common
  // case skip the cutter; the cutter decides.
  auto no_block_byte = [](std::string_view line) { // memchr, not a per-byte loop
    return line.find('\x0b') == std::string_view::npos && line.find('\x1c') == std::string_view::npos;
  };
  // The header line (a parsed message has one) only for the block bytes.
  bool plain = no_block_byte(line_of(message.segment_at(0)));
  for (size_t i = 1; plain && i < message.segment_count(); ++i) {
    const std::string_view line = line_of(message.segment_at(i));
    // signed: a non-ASCII byte is negative, so `> ' '` leaves it out too
    const auto first = static_cast<signed char>(line.empty() ? ' ' : line[0]);
    plain = first > ' ' && first != 'M' && first != 'F' && first != 'B' && no_block_byte(line);
  }
  if (plain) {
    took(Road::write_plain);
    return true;
  }
  std::string joined;
  for (size_t i = 0; i < message.segment_count(); ++i) {
    if (i)
      joined += '\r';
    joined += line_of(message.segment_at(i));
  }
  std::vector<std::string> texts = split_batch(joined);
  if (texts.size() != 1)
    return false;
  std::string_view read = texts[0], written = joined;
  return trim_message_text(read) && trim_message_text(written) && read == written;
}

} // namespace

const py::Signature message_bytes_sig{
    "message_bytes()", {"message", "line_end", "framed", "codec"}, 4, 4};

// A new bytes object: the segments of `message` (a Message) each followed by
// `line_end`, between "\x0b" and "\x1c\r" when `framed` is true, encoded
// with `codec` (a codec name; "utf-8" copies the text as it is held).
// TypeError for other argument types; ValueError for a message that the
// reader would not give back as it is; the encoder's UnicodeEncodeError or
// LookupError as the interpreter raises them.
Ref message_bytes(PyObject **args) {
  if (Py_TYPE(args[0]) != module::types.message) {
    PyErr_SetString(PyExc_TypeError, "message_bytes() takes a Message");
    return {};
  }
  std::string_view line_end, codec;
  if (!py::to_text(args[1], "line_end", line_end) || !py::to_text(args[3], "codec", codec))
    return {};
  const int framed = PyObject_IsTrue(args[2]);
  if (framed < 0)
    return {};
  const Message &message = *py::instance<module::MessagePtr>(args[0])->value;
  if (!reads_back(message)) {
    PyErr_SetString(PyExc_ValueError,
                    "Message would not read back as written: a segment after MSH starts a "
                    "message or is left out by the reader (MSH, FHS, BHS, BTS, FTS, MLLP block "
                    "bytes)");
    return {};
  }
  // Size first, fill once: the segment lines each followed by `line_end`,
  // written at `p` (which then points past them).
  size_t size = 0;
  for (size_t i = 0; i < message.segment_count(); ++i)
    size += line_of(message.segment_at(i)).size() + line_end.size();
  const auto fill = [&](char *p) {
    for (size_t i = 0; i < message.segment_count(); ++i) {
      const std::string_view line = line_of(message.segment_at(i));
      std::memcpy(p, line.data(), line.size());
      p += line.size();
      std::memcpy(p, line_end.data(), line_end.size());
      p += line_end.size();
    }
  };
  const size_t frame = framed ? 3 : 0;
  if (codec == "utf-8") {
    // The text is held as UTF-8: copied straight into the result.
    Ref out = Ref::check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size + frame)));
    char *p = PyBytes_AS_STRING(out.get());
    if (framed)
      *p++ = '\x0b';
    fill(p);
    if (framed) {
      p[size] = '\x1c';
      p[size + 1] = '\r';
    }
    return out;
  }
  std::string text(size, '\0');
  fill(text.data());
  Ref decoded = Ref::check(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
  const std::string name(codec);
  Ref body = Ref::check(PyUnicode_AsEncodedString(decoded.get(), name.c_str(), "strict"));
  if (!PyBytes_Check(body.get())) {
    PyErr_Format(PyExc_TypeError, "codec '%s' did not give bytes", name.c_str());
    return {};
  }
  if (!framed)
    return body;
  const Py_ssize_t n = PyBytes_GET_SIZE(body.get());
  Ref out = Ref::check(PyBytes_FromStringAndSize(nullptr, n + 3));
  char *p = PyBytes_AS_STRING(out.get());
  p[0] = '\x0b';
  std::memcpy(p + 1, PyBytes_AS_STRING(body.get()), static_cast<size_t>(n));
  p[n + 1] = '\x1c';
  p[n + 2] = '\r';
  return out;
}

} // namespace vellomar::ops
