#include "parser.hpp"

#include <algorithm>
#include <cstring>
#include <vector>
#include <limits>
#include <optional>
#include <new>
#include <type_traits>

#include "delimiters.hpp"
#include "index.hpp"
#include "mllp.hpp"

namespace vellomar {
namespace {

Error value_error(std::string message) {
  return Error{ErrorKind::value_error, std::move(message)};
}

// A push-only buffer of trivially copyable entries that lives on the stack
// until it outgrows N entries. Its stack space is left uninitialised. The
// entries are stored as T, not as bytes: a byte store may alias the count,
// which then went through memory at every entry of the index scan.
template <class T, size_t N> class Scratch {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);

public:
  Scratch() {} // leaves inline_ uninitialised
  // By value: an entry built in registers is stored once; through a
  // reference it was assembled on the stack first and read back wider than
  // it was written, which stalls the store buffer.
  void push_back(T value) {
    if (size_ < N) [[likely]] {
      inline_[size_++] = value;
      return;
    }
    spill(value);
  }
  size_t size() const { return size_; }
  // Copies the entries into `out`, allocated once at the exact size.
  void copy_to(std::vector<T> &out) const {
    if (size_ <= N)
      out.assign(inline_begin(), inline_begin() + size_);
    else
      out.assign(heap_.begin(), heap_.end());
  }

private:
  [[gnu::noinline]] void spill(T value) {
    if (heap_.empty())
      heap_.assign(inline_begin(), inline_begin() + N);
    heap_.push_back(value);
    ++size_;
  }
  const T *inline_begin() const { return inline_; }
  T inline_[N];
  size_t size_ = 0;
  std::vector<T> heap_;
};

using SegmentScratch = Scratch<SegmentEntry, 64>;
using FieldScratch = Scratch<uint32_t, 1024>;

// The same index for a two-byte (non-ASCII) field separator.
void index_any_separator(const Message &m, SegmentScratch &segments,
                         FieldScratch &ends) {
  const Delimiter &sep = m.enc.field;
  auto offset = [&](std::string_view piece) {
    return static_cast<uint32_t>(piece.data() - m.raw.data());
  };
  LineSplitter lines(m.raw);
  std::string_view line;
  while (lines.next(line)) {
    size_t name_end = std::min(find_delimiter(line, sep), line.size());
    segments.push_back(SegmentEntry{offset(line), static_cast<uint32_t>(name_end),
                                    static_cast<uint32_t>(ends.size())});
    if (name_end < line.size())
      cut(line.substr(name_end + sep.size), sep, [&](std::string_view piece) {
        ends.push_back(offset(piece) + static_cast<uint32_t>(piece.size()));
      });
  }
}

// The four checks, in order, on the text inside any frame; on success sets
// `first` to the header line.
std::optional<Error> check_message(std::string_view text, std::string_view &first) {
  if (text.empty())
    return value_error("Empty message");
  if (!LineSplitter(text).next(first))
    return value_error("No segments found");
  if (first.substr(0, 3) != "MSH")
    return value_error("Message must start with MSH segment, got: '" +
                       std::string(utf8_prefix(first, 10)) + "'");
  if (first.size() < 8)
    return value_error("MSH segment too short to extract encoding characters");
  // Ranges are 32-bit: a larger text cannot be indexed.
  if (text.size() > std::numeric_limits<uint32_t>::max())
    throw std::bad_alloc();
  return std::nullopt;
}

// The message whose raw text is `raw` (taken over, not copied), which has
// passed the checks.
Message build_message(std::string raw, const EncodingCharacters &enc,
                      const SegmentNames *only) {
  Message m;
  m.enc = enc;
  m.raw = std::move(raw);
  // The index is built in scratch space and then copied into vectors of
  // exactly the right size: one allocation each, nothing wasted.
  SegmentScratch segments;
  FieldScratch ends;
  const auto sep = static_cast<unsigned char>(m.enc.field.bytes[0]);
  if (m.enc.field.size == 1 && only)
    index_single_byte_separator<uint32_t>(m.raw, sep, segments, ends, [only](std::string_view name) {
      // Byte by byte: names are three letters, too short for a call to memcmp.
      for (const std::string &wanted : *only) {
        size_t i = 0;
        while (i < name.size() && i < wanted.size() && name[i] == wanted[i])
          ++i;
        if (i == name.size() && i == wanted.size())
          return true;
      }
      return false;
    });
  else if (m.enc.field.size == 1)
    index_single_byte_separator<uint32_t>(m.raw, sep, segments, ends);
  else
    index_any_separator(m, segments, ends);
  segments.copy_to(m.segments);
  ends.copy_to(m.field_ends);
  return m;
}

// Checks the text inside any frame of `raw` and builds its message, whose raw
// text `take_text` makes from that text.
template <class TakeText>
Result<Message> parse_checked(std::string_view raw, TakeText &&take_text,
                              const SegmentNames *only = nullptr) {
  std::string_view text = strip_mllp_frame(raw);
  std::string_view first;
  if (auto error = check_message(text, first))
    return std::move(*error);
  // Read before the text is taken: a short string's bytes do not move with it.
  const EncodingCharacters enc = header_delimiters(first);
  return build_message(take_text(text), enc, only);
}

} // namespace

Result<Message> parse_message(std::string_view raw) {
  return parse_checked(raw, [](std::string_view text) { return std::string(text); });
}

Result<Message> parse_message(std::string &&raw, const SegmentNames *only) {
  return parse_checked(
      raw,
      [&](std::string_view text) {
        return text.size() == raw.size() ? std::move(raw) : std::string(text);
      },
      only);
}

Result<Message> parse_message(std::string &&raw) { return parse_message(std::move(raw), nullptr); }

} // namespace vellomar
