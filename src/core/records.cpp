#include "records.hpp"

#include <cstring>
#include <utility>
#include <string>

namespace vellomar {

Error index_out_of_range(std::string_view what, uint64_t index, size_t count) {
  std::string message;
  message.reserve(64);
  message.append(what);
  message.append(" index ");
  message.append(std::to_string(index));
  message.append(" out of range (1..");
  message.append(std::to_string(count));
  message.append(")");
  return Error{ErrorKind::index_error, std::move(message)};
}

Error segment_not_found(std::string_view name) {
  std::string message = "Segment '";
  message.append(name).append("' not found");
  return Error{ErrorKind::key_error, std::move(message)};
}

Result<std::string_view> ComponentView::sub_component(uint64_t index,
                                                      std::string &scratch) const {
  size_t count = sub_component_count();
  if (index == 0 || index > count)
    return index_out_of_range("Sub-component", index, count);
  if (literal)
    return text;
  return decoded_view(nth_piece(text, enc->sub_component, index - 1), *enc, scratch);
}

Result<Component> FieldView::component(uint64_t index) const {
  size_t count = component_count();
  if (index == 0 || index > count)
    return index_out_of_range("Component", index, count);
  return Component::copy_of(component_at(index - 1));
}

Result<Field> SegmentView::field(uint64_t index) const {
  size_t count = field_count();
  if (index == 0 || index > count)
    return index_out_of_range("Field", index, count);
  return Field::copy_of(field_at(index - 1));
}

Segment Segment::copy_of(const SegmentView &v) {
  Segment s;
  s.enc_ = *v.enc;
  s.msh_ = v.msh;
  s.name_length_ = static_cast<uint32_t>(v.name.size());
  // The line runs from the name to the end of the last stored field.
  const char *start = v.name.data();
  const char *end = v.stored ? v.base + v.ends[v.stored - 1] : start + v.name.size();
  s.line_.assign(start, end);
  s.ends_.resize(v.stored);
  const auto shift = static_cast<uint32_t>(start - v.base);
  for (size_t i = 0; i < v.stored; ++i)
    s.ends_[i] = v.ends[i] - shift;
  return s;
}

namespace {

// The block of the last message freed on this thread, kept for the next
// message of about its size: a stream parsed, read and dropped a message at a
// time then takes no memory from the allocator, whose own cache of freed
// blocks stops at about a kilobyte (a message is larger). One block a thread,
// freed with the thread.
struct SpareBlock {
  char *block = nullptr;
  size_t size = 0;
  SpareBlock() = default;
  SpareBlock(const SpareBlock &) = delete;
  SpareBlock &operator=(const SpareBlock &) = delete;
  ~SpareBlock() { delete[] std::exchange(block, nullptr); }
};
thread_local SpareBlock spare;

// A block of at least `size` bytes, its size in `size`. The spare serves a
// size up to an eighth (and 64 bytes) below its own, so a message never holds
// much more than it needs.
char *take_block(size_t &size) {
  SpareBlock &s = spare;
  if (s.block && s.size >= size && s.size - size <= size / 8 + 64) {
    size = s.size;
    return std::exchange(s.block, nullptr);
  }
  return new char[size];
}

void give_block(char *block, size_t size) {
  SpareBlock &s = spare;
  if (!s.block && size <= (size_t{64} << 10)) {
    s.block = block;
    s.size = size;
  } else {
    delete[] block;
  }
}

} // namespace

Message::~Message() {
  if (block_)
    give_block(block_, block_size_);
}

void Message::free_block(char *block, size_t size) { give_block(block, size); }

Message::Message(std::string_view text, const EncodingCharacters &encoding,
                 std::span<const SegmentEntry> segment_entries, std::span<const uint32_t> ends)
    : enc(encoding) {
  // Entries of four-byte alignment first, the text last.
  const size_t segment_bytes = segment_entries.size_bytes(), end_bytes = ends.size_bytes();
  block_size_ = host_bytes + segment_bytes + end_bytes + text.size();
  block_ = take_block(block_size_);
  char *p = block_ + host_bytes;
  if (segment_bytes)
    std::memcpy(p, segment_entries.data(), segment_bytes);
  segments = {reinterpret_cast<const SegmentEntry *>(p), segment_entries.size()};
  p += segment_bytes;
  if (end_bytes)
    std::memcpy(p, ends.data(), end_bytes);
  field_ends = {reinterpret_cast<const uint32_t *>(p), ends.size()};
  p += end_bytes;
  if (!text.empty())
    std::memcpy(p, text.data(), text.size());
  raw = {p, text.size()};
}

bool Message::find_segment(std::string_view name, SegmentView &out) const {
  size_t i = 0; // the range's own end: no bound to get wrong
  for (const SegmentEntry &e : segments) {
    if (e.name_length == name.size() &&
        std::string_view(raw.data() + e.offset, e.name_length) == name) {
      out = segment_at(i);
      return true;
    }
    ++i;
  }
  return false;
}

Result<Segment> Message::segment(std::string_view name) const {
  SegmentView view;
  if (!find_segment(name, view))
    return segment_not_found(name);
  return Segment::copy_of(view);
}

} // namespace vellomar
