// Messages from a stream of bytes, for the reader and for tables: the core's
// batch cutter fed from a Python `read` method, each text decoded by its
// MSH-18 (or one fixed codec) and parsed. UTF-8 texts are checked and parsed
// in place; other codecs go through the interpreter's decoders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "../binding/convert.hpp"
#include "../core/batch.hpp"
#include "../core/charset.hpp"
#include "../core/parser.hpp"

namespace vellomar::ops {

// A codec as the source uses it: UTF-8 (checked here), another one named for
// the interpreter, or an unknown character set with its LookupError text.
struct Codec {
  bool utf8 = true;
  std::string name;
  std::string error;
};

class ByteSource {
public:
  // `read`: a callable read(size) -> bytes, b"" at the end, or a str
  // holding the whole stream (viewed in its UTF-8 form; best an ASCII one,
  // whose characters are that form). `codec_of`:
  // the package's codec rule, a callable from the bytes of a message's
  // header line to a codec name (LookupError for an unknown MSH-18), or None
  // to decode every message with `fixed`.
  ByteSource(PyObject *read, PyObject *codec_of, Codec fixed)
      : read_(py::Ref::borrow(read)), codec_of_(py::Ref::borrow(codec_of)),
        fixed_(std::move(fixed)) {}

  // Reads no more than `limit` bytes of the stream (a byte range of a file).
  void set_limit(uint64_t limit) { limit_ = limit; }
  // The codec for a message that names no character set and is not UTF-8
  // (archives that mix UTF-8 with undeclared Latin-1); without one, such a
  // message is an error.
  void set_fallback(Codec fallback) { fallback_ = std::move(fallback); }
  // Messages are read only for the fields of these segments (a table's):
  // the others are indexed without fields.
  void read_only(SegmentNames segments) { only_ = std::move(segments); }

  // Sets `text` to the next message text (trimmed, beginning with "MSH") and
  // `offset` to its stream offset; false at the end of the stream. Raises
  // (ErrorAlreadySet) what read() raises. The view is valid until the next
  // call.
  bool next_text(std::string_view &text, uint64_t &offset);
  // The codec of a text: by its MSH-18 (or the fixed one), or the fallback
  // for a text read as UTF-8 only because nothing named its codec whose bytes
  // are not UTF-8. Raises (ErrorAlreadySet) what the codec rule raises other
  // than LookupError.
  const Codec &codec_for(std::string_view text);
  // Whether a text in `codec` is its own decoded form: UTF-8 bytes read as
  // UTF-8.
  // The line ends of the last text, when the cutter found them (see
  // BatchCutter::line_ends).
  std::span<const uint32_t> line_ends() const { return cutter_.line_ends(); }
  bool as_is(const Codec &codec, std::string_view text) const {
    return codec.utf8 && codec.error.empty() && (text_read_ || is_utf8(text));
  }
  // The message of a text in `codec`, or the decoder's or parser's error text.
  Result<Message> parse(const Codec &codec, std::string_view text);
  Result<Message> parse(std::string_view text) { return parse(codec_for(text), text); }

  uint64_t position() const { return position_; }

private:
  const Codec &codec_of(std::string_view text);

  py::Ref read_;
  py::Ref codec_of_;
  Codec fixed_;
  std::optional<Codec> fallback_;
  std::optional<SegmentNames> only_;
  uint64_t limit_ = UINT64_MAX;
  std::unordered_map<std::string, Codec> codecs_;
  // The entry of the last name looked up: a stream's messages mostly name
  // one character set, whose codec is then found with one compare, not a
  // hash. Entries of an unordered_map stay where they are.
  const std::pair<const std::string, Codec> *last_codec_ = nullptr;
  py::Ref chunk_; // the bytes the cutter is viewing
  BatchCutter cutter_;
  std::string buffer_; // the text when the cutter cannot view it in the chunk
  bool ended_ = false;
  bool text_read_ = false; // `read` is a str, already handed to the cutter
  uint64_t position_ = 0;
};

// The message of `text`, bytes in `codec`: UTF-8 checked and parsed as it stands,
// other codecs through the interpreter's decoders; or the decoder's or the
// parser's error text. The one decoding of message bytes, for the reader, the
// tables and the MLLP listener.
// `only`, if not null, names the segments whose fields are read.
Result<Message> parse_in(const Codec &codec, std::string_view text,
                         const SegmentNames *only = nullptr);

// Raises error_type(ordinal, offset, reason) (vellomar.MessageError) by
// throwing ErrorAlreadySet.
[[noreturn]] void raise_message_error(PyObject *error_type, uint64_t ordinal, uint64_t offset,
                                      const std::string &reason);

// The codec argument of the _ops functions: None, or a codec name.
bool to_codec(PyObject *obj, Codec &out);

} // namespace vellomar::ops
