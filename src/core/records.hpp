// The records of a parsed message and the four navigation operations.
//
// A message is held compactly: its raw text once, plus an index of the byte
// ranges of its segments and fields. Components, repetitions and
// sub-components are cut from a field's raw text when they are asked for, and
// values are escape-decoded on the way out, so a value without escapes never
// exists as a separate string. Records never change after parsing.
//
// The *View types point into a record and live no longer than it; the owned
// records (Segment, Field, Component) copy their own slice of text, so a child
// handed out never keeps its parent alive.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "escape.hpp"
#include "result.hpp"
#include "text.hpp"

namespace vellomar {

class Component;
class Field;
class Segment;

// "{what} index {index} out of range (1..{count})"
Error index_out_of_range(std::string_view what, uint64_t index, size_t count);

// KeyError "Segment '{name}' not found"
Error segment_not_found(std::string_view name);

// A component: its raw text. A literal component (that of MSH-1) is its text
// as it stands: one sub-component, nothing cut or decoded.
struct ComponentView {
  std::string_view text;
  const EncodingCharacters *enc = nullptr;
  bool literal = false;
  // Known to hold neither the sub-component separator nor the escape
  // character (false: not known), so it is one sub-component and its own
  // value; set by a cut that looked at every byte anyway.
  bool plain = false;

  std::string_view value(std::string &scratch) const {
    return literal || plain ? text : decoded_view(text, *enc, scratch);
  }
  size_t sub_component_count() const {
    return literal ? 1 : count_pieces(text, enc->sub_component);
  }
  // Calls f(decoded sub-component) for each sub-component in order.
  template <class F> void for_each_sub_component(F &&f) const {
    if (literal) {
      f(text);
      return;
    }
    std::string scratch;
    cut(text, enc->sub_component,
        [&](std::string_view piece) { f(decoded_view(piece, *enc, scratch)); });
  }
  // The decoded sub-component at 1-based `index`, as a view into the text or
  // into `scratch`; IndexError "Sub-component index {i} out of range
  // (1..{count})" otherwise.
  Result<std::string_view> sub_component(uint64_t index, std::string &scratch) const;
};

// A field, or one repetition of a field: its raw text. The literal field is
// MSH-1, the field separator itself.
struct FieldView {
  std::string_view text;
  const EncodingCharacters *enc = nullptr;
  bool literal = false;

  std::string_view value(std::string &scratch) const {
    return literal ? text : decoded_view(text, *enc, scratch);
  }
  // The components belong to the first repetition.
  std::string_view first_repetition() const {
    if (literal)
      return text;
    size_t end = find_delimiter(text, enc->repetition);
    return end == std::string_view::npos ? text : text.substr(0, end);
  }
  size_t component_count() const {
    return literal ? 1 : count_pieces(first_repetition(), enc->component);
  }
  ComponentView component_at(size_t i) const {
    if (literal)
      return {text, enc, true};
    return {nth_piece(first_repetition(), enc->component, i), enc, false};
  }
  template <class F> void for_each_component(F &&f) const {
    if (literal) {
      f(ComponentView{text, enc, true});
      return;
    }
    // f may return false to stop early, as cut()'s callback does
    cut(first_repetition(), enc->component,
        [&](std::string_view piece) { return f(ComponentView{piece, enc, false}); });
  }
  // No repetitions when the text holds no repetition separator; otherwise one
  // per piece, the first included, so never exactly one.
  size_t repetition_count() const {
    if (literal || !contains(text, enc->repetition))
      return 0;
    return count_pieces(text, enc->repetition);
  }
  template <class F> void for_each_repetition(F &&f) const {
    if (literal || !contains(text, enc->repetition))
      return;
    cut(text, enc->repetition,
        [&](std::string_view piece) { f(FieldView{piece, enc, false}); });
  }
  Result<Component> component(uint64_t index) const;
};

// A segment: its name and the end offsets of its stored fields, relative to
// `base`. A field starts just after the separator that ends the one before
// it (the first one just after the name). In an MSH segment the field
// separator itself is MSH-1 and is not stored: field numbers are shifted by
// one and field 1 is the literal separator field.
struct SegmentView {
  std::string_view name;
  const char *base = nullptr;
  const uint32_t *ends = nullptr;
  size_t stored = 0;
  bool msh = false;
  const EncodingCharacters *enc = nullptr;

  size_t field_count() const { return stored + (msh ? 1 : 0); }
  FieldView field_at(size_t i) const {
    if (msh) {
      if (i == 0)
        return {enc->field.view(), enc, true};
      --i;
    }
    const size_t start =
        (i == 0 ? static_cast<size_t>(name.data() - base) + name.size() : ends[i - 1]) +
        enc->field.size;
    return {std::string_view(base + start, ends[i] - start), enc, false};
  }
  // Each field in turn, as field_at gives it, each starting where the one
  // before it ended (one subtraction a field instead of field_at's tests).
  template <class F> void for_each_field(F &&f) const {
    if (msh)
      f(field_at(0));
    size_t start = static_cast<size_t>(name.data() - base) + name.size();
    for (size_t i = 0; i < stored; ++i) {
      start += enc->field.size;
      f(FieldView{std::string_view(base + start, ends[i] - start), enc, false});
      start = ends[i];
    }
  }
  Result<Field> field(uint64_t index) const;
};

// Whether a line gets the MSH-1 field: it begins with "MSH" (tested on the
// text, not on the name) and holds a field separator.
inline bool is_msh_line(std::string_view line, bool has_fields) {
  return has_fields && line.substr(0, 3) == "MSH";
}

class Component {
public:
  // A prvalue: a caller that builds it in place copies the text once.
  static Component copy_of(const ComponentView &v) {
    return Component(v.text, *v.enc, v.literal, v.plain);
  }
  ComponentView view() const { return {text_, &enc_, literal_, plain_}; }

private:
  Component(std::string_view text, const EncodingCharacters &enc, bool literal, bool plain)
      : text_(text), enc_(enc), literal_(literal), plain_(plain) {}
  std::string text_;
  EncodingCharacters enc_;
  bool literal_;
  bool plain_;
};

class Field {
public:
  // A prvalue: a caller that builds it in place copies the text once.
  static Field copy_of(const FieldView &v) { return Field(v.text, *v.enc, v.literal); }
  FieldView view() const { return {text_, &enc_, literal_}; }

private:
  Field(std::string_view text, const EncodingCharacters &enc, bool literal)
      : text_(text), enc_(enc), literal_(literal) {}
  std::string text_;
  EncodingCharacters enc_;
  bool literal_;
};

class Segment {
public:
  static Segment copy_of(const SegmentView &v);
  SegmentView view() const {
    return {std::string_view(line_).substr(0, name_length_),
            line_.data(), ends_.data(), ends_.size(), msh_, &enc_};
  }

private:
  Segment() = default;
  std::string line_;
  std::vector<uint32_t> ends_; // relative to line_
  uint32_t name_length_ = 0;
  bool msh_ = false;
  EncodingCharacters enc_;
};

// Whether a text of `size` bytes can be indexed: offsets into it are 32-bit.
inline bool indexable(size_t size) { return size <= UINT32_MAX; }

// One segment of a message. Its stored fields are field_ends[first_field]
// up to the next segment's first_field; its line ends with its last field
// (or its name when it has none).
struct SegmentEntry {
  uint32_t offset;      // start of the line within raw
  uint32_t name_length; // bytes before the first field separator
  uint32_t first_field; // index of its first field in field_ends
};

// A message: its raw text and the index of its segments and fields. A parsed
// message owns all three in one block (one allocation, freed with it); a
// reader that indexes a text only for the length of a call (a table) points
// them at storage of its own and owns no block.
struct Message {
  std::string_view raw;
  EncodingCharacters enc;
  std::span<const SegmentEntry> segments;
  std::span<const uint32_t> field_ends; // end offset in raw of every stored field

  Message() = default;
  // A message owning one block that holds copies of `text`, `segments` and
  // `field_ends`.
  Message(std::string_view text, const EncodingCharacters &encoding,
          std::span<const SegmentEntry> segment_entries, std::span<const uint32_t> ends);
  // A copy owns a block of its own.
  Message(const Message &other) : Message(other.raw, other.enc, other.segments, other.field_ends) {}
  Message &operator=(const Message &other) {
    if (this != &other)
      *this = Message(other);
    return *this;
  }
  Message(Message &&other) noexcept
      : raw(other.raw), enc(other.enc), segments(other.segments), field_ends(other.field_ends),
        block_(std::exchange(other.block_, nullptr)), block_size_(other.block_size_) {}
  Message &operator=(Message &&other) noexcept {
    std::swap(raw, other.raw);
    std::swap(enc, other.enc);
    std::swap(segments, other.segments);
    std::swap(field_ends, other.field_ends);
    std::swap(block_, other.block_);
    std::swap(block_size_, other.block_size_);
    return *this;
  }
  ~Message();

  // A block begins with host_bytes bytes of its own, before the index and
  // the text: there the object that keeps a parsed message may put the
  // record itself and its reference count, so that one allocation holds all.
  static constexpr size_t host_bytes = 128;
  // The block's first byte (null: the message owns no block).
  char *block() const { return block_; }
  // Hands the block over: the message no longer frees it; the caller frees
  // it with free_block(block, size) once nothing reads the message.
  char *release_block(size_t &size) {
    size = block_size_;
    return std::exchange(block_, nullptr);
  }
  static void free_block(char *block, size_t size);

  size_t segment_count() const { return segments.size(); }
  SegmentView segment_at(size_t i) const {
    const SegmentEntry &e = segments[i];
    const size_t next = i + 1 < segments.size() ? segments[i + 1].first_field
                                                : field_ends.size();
    const size_t stored = next - e.first_field;
    const uint32_t *ends = field_ends.data() + e.first_field;
    const size_t line_end = stored ? ends[stored - 1] : e.offset + e.name_length;
    std::string_view line(raw.data() + e.offset, line_end - e.offset);
    return {line.substr(0, e.name_length), raw.data(), ends, stored,
            is_msh_line(line, stored > 0), &enc};
  }
  // Sets `out` to the first segment named `name` (same bytes) and returns
  // true, or returns false when there is none.
  bool find_segment(std::string_view name, SegmentView &out) const;
  Result<Segment> segment(std::string_view name) const;

private:
  char *block_ = nullptr; // host_bytes, the segments, the field ends, then the text
  size_t block_size_ = 0;
};

} // namespace vellomar
