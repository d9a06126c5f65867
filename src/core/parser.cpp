#include "parser.hpp"

#include <algorithm>
#include <cstring>
#include <vector>
#include <optional>
#include <span>
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
// until it outgrows N entries, with the room() and commit() of IndexBuffer.
// Its stack space is left uninitialised. The entries are stored as T, not as
// bytes: a byte store may alias the count, which then went through memory at
// every entry of the index scan. It points into itself: never copied or moved.
template <class T, size_t N> class Scratch {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);

public:
  Scratch() {} // leaves inline_ uninitialised
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  // By value: an entry built in registers is stored once; through a
  // reference it was assembled on the stack first and read back wider than
  // it was written, which stalls the store buffer.
  void push_back(T value) {
    if (size_ < capacity_) [[likely]] {
      data_[size_++] = value;
      return;
    }
    grow(1);
    data_[size_++] = value;
  }
  T *room(size_t n) {
    if (capacity_ - size_ < n) [[unlikely]]
      grow(n);
    return data_ + size_;
  }
  void commit(size_t n) { size_ += n; }
  size_t size() const { return size_; }
  std::span<const T> entries() const { return {data_, size_}; }

private:
  [[gnu::noinline]] void grow(size_t n) {
    heap_.resize(std::max(2 * capacity_, size_ + n));
    if (data_ == inline_)
      std::memcpy(heap_.data(), inline_, size_ * sizeof(T));
    data_ = heap_.data();
    capacity_ = heap_.size();
  }
  T inline_[N];
  T *data_ = inline_;
  size_t size_ = 0, capacity_ = N;
  std::vector<T> heap_;
};

using SegmentScratch = Scratch<SegmentEntry, 64>;
using FieldScratch = Scratch<uint32_t, 1024>;

// The same index for a two-byte (non-ASCII) field separator.
void index_any_separator(std::string_view text, const Delimiter &sep,
                         SegmentScratch &segments, FieldScratch &ends) {
  auto offset = [&](std::string_view piece) {
    return static_cast<uint32_t>(piece.data() - text.data());
  };
  LineSplitter lines(text);
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
// `first` to the text from the header line on: the delimiters are read from
// its first eight bytes only.
std::optional<Error> check_message(std::string_view text, std::string_view &first) {
  if (text.empty())
    return value_error("Empty message");
  // The header line's end lies far into the text and is not sought: after
  // any empty lines, its first 11 bytes serve every check and the error text.
  const size_t start = text.find_first_not_of("\r\n");
  if (start == std::string_view::npos)
    return value_error("No segments found");
  std::string_view head = text.substr(start, 11);
  for (const char line_end : {'\r', '\n'}) // memchr: no call for each byte
    if (const void *at = std::memchr(head.data(), line_end, head.size()))
      head = head.substr(0, static_cast<size_t>(static_cast<const char *>(at) - head.data()));
  if (head.substr(0, 3) != "MSH")
    return value_error("Message must start with MSH segment, got: '" +
                       std::string(utf8_prefix(head, 10)) + "'");
  if (head.size() < 8)
    return value_error("MSH segment too short to extract encoding characters");
  if (!indexable(text.size()))
    throw std::bad_alloc();
  first = text.substr(start);
  return std::nullopt;
}

// The message of `text`, which has passed the checks. The index is built in
// scratch space, then copied with the text into the message's one block of
// exactly the right size.
Message build_message(std::string_view text, const EncodingCharacters &enc,
                      const SegmentNames *only) {
  SegmentScratch segments;
  FieldScratch ends;
  const auto sep = static_cast<unsigned char>(enc.field.bytes[0]);
  if (enc.field.size == 1 && only)
    index_single_byte_separator<uint32_t>(text, sep, segments, ends, [only](std::string_view name) {
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
  else if (enc.field.size == 1)
    index_single_byte_separator<uint32_t>(text, sep, segments, ends);
  else
    index_any_separator(text, enc.field, segments, ends);
  return Message(text, enc, segments.entries(), ends.entries());
}

} // namespace

Result<Message> parse_message(std::string_view raw, const SegmentNames *only) {
  std::string_view text = strip_mllp_frame(raw);
  std::string_view first;
  if (auto error = check_message(text, first))
    return std::move(*error);
  return build_message(text, header_delimiters(first), only);
}

} // namespace vellomar
