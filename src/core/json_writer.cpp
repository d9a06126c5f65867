#include "json_writer.hpp"
#include "index.hpp"
#include "roads.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellomar {

void JsonBuffer::release_above(size_t keep) {
  if (capacity_ > keep) {
    data_.reset();
    capacity_ = size_ = 0;
    ascii_ = true;
  }
}

char *JsonBuffer::reserve(size_t used, size_t capacity) {
  if (capacity > capacity_) {
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (used)
      std::memcpy(bigger.get(), data_.get(), used);
    data_ = std::move(bigger);
    capacity_ = capacity;
  }
  return data_.get();
}

namespace {

// What each byte becomes inside a JSON string: 0 for itself, otherwise the
// character after the backslash ('u' for the \u00xx form).
constexpr std::array<char, 256> make_escape_table() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c)
    table[static_cast<size_t>(c)] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}
constexpr std::array<char, 256> escape_table = make_escape_table();

// The deepest nesting is a sub-component string of a repetition: level 10.
// Indentation is copied as a fixed 32 bytes and the pointer moved by its real
// width, so the copy compiles to two stores.
constexpr size_t indent_copy = 32;
constexpr std::string_view spaces = "                                ";
static_assert(spaces.size() == indent_copy && 2 * 10 <= indent_copy);

// Keys are copied the same way: quoted, with ": " after them, padded.
constexpr size_t key_copy = 24;
struct Key {
  char text[key_copy];
  size_t size;
};
constexpr Key make_key(std::string_view name) {
  Key key{};
  key.text[0] = '"';
  for (size_t i = 0; i < name.size(); ++i)
    key.text[1 + i] = name[i];
  key.text[1 + name.size()] = '"';
  key.text[2 + name.size()] = ':';
  key.text[3 + name.size()] = ' ';
  key.size = name.size() + 4;
  return key;
}
constexpr Key raw_key = make_key("raw"), segments_key = make_key("segments"),
              name_key = make_key("name"), fields_key = make_key("fields"),
              value_key = make_key("value"), components_key = make_key("components"),
              repetitions_key = make_key("repetitions"),
              sub_components_key = make_key("sub_components");
static_assert(sub_components_key.size <= key_copy);

// The walk writes through a raw pointer into an uninitialised buffer. Room is
// checked only where it can run out: strings make their own room, and after
// every string and at every array element at least `slack` bytes are free.
// The structure written between two such points (closing brackets, keys,
// indentation) is far smaller, so it is written unchecked.
constexpr size_t slack = 1024;

// The text around the values of the most common component: one whose value
// is its only sub-component (no sub-component separator, nothing to
// decode), at each level it can stand at. Written as three fixed-size
// copies, it costs three stores where the general path makes some twenty
// small writes (the output of a message is mostly this structure).
//   {\n  "value": "V",\n  "sub_components": [\n    "V"\n  ]\n}
constexpr size_t piece_copy = 64;
struct Piece {
  char text[piece_copy];
  size_t size;
};
struct ComponentPieces {
  Piece open, middle, close;
};
constexpr Piece make_piece(std::initializer_list<std::string_view> parts) {
  Piece piece{};
  size_t n = 0;
  for (std::string_view part : parts)
    for (char c : part)
      piece.text[n++] = c;
  piece.size = n;
  return piece;
}
constexpr ComponentPieces make_component_pieces(size_t level) {
  const std::string_view outer = spaces.substr(0, 2 * level);
  const std::string_view inner = spaces.substr(0, 2 * level + 2);
  const std::string_view item = spaces.substr(0, 2 * level + 4);
  return {make_piece({"{\n", inner, "\"value\": \""}),
          make_piece({"\",\n", inner, "\"sub_components\": [\n", item, "\""}),
          make_piece({"\"\n", inner, "]\n", outer, "}"})};
}
constexpr size_t max_component_level = 8; // a component of a repetition
constexpr auto component_pieces = [] {
  std::array<ComponentPieces, max_component_level + 1> table{};
  for (size_t level = 0; level <= max_component_level; ++level)
    table[level] = make_component_pieces(level);
  return table;
}();
static_assert(component_pieces[max_component_level].middle.size <= piece_copy &&
              3 * piece_copy <= slack);

// The same for the most common field: one whose value is its only
// component, with no repetitions; its opening is that of a component.
//   {\n  "value": "V",\n  "components": [\n    COMPONENT\n  ],\n  "repetitions": []\n}
struct FieldPieces {
  Piece middle, close;
};
constexpr size_t max_field_level = max_component_level - 2;
constexpr auto field_pieces = [] {
  std::array<FieldPieces, max_field_level + 1> table{};
  for (size_t level = 0; level <= max_field_level; ++level) {
    const std::string_view outer = spaces.substr(0, 2 * level);
    const std::string_view inner = spaces.substr(0, 2 * level + 2);
    const std::string_view item = spaces.substr(0, 2 * level + 4);
    table[level] = {make_piece({"\",\n", inner, "\"components\": [\n", item}),
                    make_piece({"\n", inner, "],\n", inner, "\"repetitions\": []\n", outer, "}"})};
  }
  return table;
}();
static_assert(field_pieces[max_field_level].close.size <= piece_copy &&
              5 * piece_copy <= slack);


} // namespace

class JsonWriter {
public:
  JsonWriter(JsonBuffer &out, size_t estimate) : out_(out) {
    const size_t capacity = std::max(estimate, slack);
    buffer_ = p_ = out_.reserve(0, capacity);
    end_ = buffer_ + capacity;
  }

  void message(const Message &m) {
    // The first byte of each separator inside a field and of the escape
    // character: a value holding none of them is its own only component and
    // sub-component. A two-byte separator's lead byte stops values that
    // merely share it, which then take the exact path.
    separators_ = {m.enc.repetition.bytes[0], m.enc.component.bytes[0],
                   m.enc.sub_component.bytes[0], m.enc.escape.bytes[0]};
    raw_begin_ = reinterpret_cast<uintptr_t>(m.raw.data());
    raw_end_ = raw_begin_ + m.raw.size();
    put('{');
    key(1, raw_key);
    string(m.raw);
    put(',');
    key(1, segments_key);
    array(1, m.segment_count(), [&](size_t i) { segment(2, m.segment_at(i)); });
    newline(0);
    put('}');
  }

  void finish() {
    out_.size_ = static_cast<size_t>(p_ - buffer_);
    out_.ascii_ = high_bytes_ == 0;
    took(Road::json_general, general_);
    took(Road::json_memcpy, memcpys_);
    took(Road::json_tails, tails_);
  }

private:
  void segment(size_t level, const SegmentView &s) {
    put('{');
    key(level + 1, name_key);
    string(s.name);
    put(',');
    key(level + 1, fields_key);
    array(level + 1, s.field_count(),
          [&](size_t i) { field(level + 2, s.field_at(i)); });
    newline(level);
    put('}');
  }

  void field(size_t level, const FieldView &f) {
    if (level <= max_field_level && plain(f.text, f.literal)) {
      single_value_field(level, f.text);
      return;
    }
    ++general_;
    put('{');
    key(level + 1, value_key);
    string(f.value(scratch_));
    put(',');
    key(level + 1, components_key);
    open_array();
    bool any = false;
    f.for_each_component([&](const ComponentView &c) {
      element(level + 2, any);
      component(level + 2, c);
    });
    close_array(level + 1, any);
    put(',');
    key(level + 1, repetitions_key);
    open_array();
    any = false;
    f.for_each_repetition([&](const FieldView &r) {
      element(level + 2, any);
      field(level + 2, r);
    });
    close_array(level + 1, any);
    newline(level);
    put('}');
  }

  void component(size_t level, const ComponentView &c) {
    if (level <= max_component_level && plain(c.text, c.literal)) {
      single_value_component(level, c.text);
      return;
    }
    ++general_;
    put('{');
    key(level + 1, value_key);
    string(c.value(scratch_));
    put(',');
    key(level + 1, sub_components_key);
    open_array();
    bool any = false;
    c.for_each_sub_component([&](std::string_view text) {
      element(level + 2, any);
      string(text);
    });
    close_array(level + 1, any);
    newline(level);
    put('}');
  }

  // The component whose plain value `v` is its only sub-component, from
  // its pieces.
  void single_value_component(size_t level, std::string_view v) {
    const ComponentPieces &pieces = component_pieces[level];
    ensure(2 * v.size() + slack);
    piece(pieces.open);
    copy_plain(v);
    piece(pieces.middle);
    copy_plain(v);
    piece(pieces.close);
  }
  // The field whose plain value `v` is its only component and
  // sub-component, the same way.
  void single_value_field(size_t level, std::string_view v) {
    const ComponentPieces &component = component_pieces[level + 2];
    const FieldPieces &field = field_pieces[level];
    ensure(3 * v.size() + slack);
    piece(component_pieces[level].open);
    copy_plain(v);
    piece(field.middle);
    piece(component.open);
    copy_plain(v);
    piece(component.middle);
    copy_plain(v);
    piece(component.close);
    piece(field.close);
  }
  void piece(const Piece &piece) {
    std::memcpy(p_, piece.text, piece_copy);
    p_ += piece.size;
  }

  // An array of `count` elements at `level`, each written by write(i).
  template <class F> void array(size_t level, size_t count, F &&write) {
    open_array();
    bool any = false;
    for (size_t i = 0; i < count; ++i) {
      element(level + 1, any);
      write(i);
    }
    close_array(level, any);
  }
  void open_array() { put('['); }
  // "," before every element after the first, then its line.
  void element(size_t level, bool &any) {
    ensure(slack);
    if (any)
      put(',');
    any = true;
    newline(level);
  }
  // An empty array is written "[]".
  void close_array(size_t level, bool any) {
    if (any)
      newline(level);
    put(']');
  }
  // A member's line up to its value: indentation, "name": and a space.
  void key(size_t level, const Key &key) {
    newline(level);
    std::memcpy(p_, key.text, key_copy);
    p_ += key.size;
  }
  void newline(size_t level) {
    *p_++ = '\n';
    std::memcpy(p_, spaces.data(), indent_copy);
    p_ += 2 * level;
  }
  // A JSON string: room for the text as it is (and the slack after it) is
  // made first, and more at each escape, so that a long value without
  // escapes costs one pass that scans and copies together.
  void string(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    ensure(text.size() + 2 + slack);
    *p_++ = '"';
    const char *s = text.data();
    const char *end = s + text.size();
    for (;;) {
      s = copy_clean_run(s, end);
      if (s == end)
        break;
      const auto byte = static_cast<unsigned char>(*s++);
      ensure(static_cast<size_t>(end - s) + 7 + slack);
      *p_++ = '\\';
      *p_++ = escape_table[byte];
      if (escape_table[byte] == 'u') {
        *p_++ = '0';
        *p_++ = '0';
        *p_++ = hex[byte >> 4];
        *p_++ = hex[byte & 0x0F];
      }
    }
    *p_++ = '"';
  }

#if defined(__SSE2__)
  // Copies the start of a clean run of at least 64 bytes, 64 bytes a step:
  // the four blocks of a step are tested for stops together, and their high
  // bits are gathered in a register and read once. Returns where it stopped:
  // fewer than 64 bytes before `end`, or at a step holding a stop, which
  // copy_clean_run's block loop then finds. Out of line, so that
  // copy_clean_run stays small enough to be inlined where most values are
  // short.
  [[gnu::noinline]] const char *copy_long_run(const char *s, const char *end) {
    __m128i high = _mm_setzero_si128();
    do {
      const auto *in = reinterpret_cast<const __m128i *>(s);
      const __m128i b0 = _mm_loadu_si128(in), b1 = _mm_loadu_si128(in + 1),
                    b2 = _mm_loadu_si128(in + 2), b3 = _mm_loadu_si128(in + 3);
      const __m128i stops = _mm_or_si128(_mm_or_si128(escape_bytes(b0), escape_bytes(b1)),
                                         _mm_or_si128(escape_bytes(b2), escape_bytes(b3)));
      if (_mm_movemask_epi8(stops))
        break;
      auto *out = reinterpret_cast<__m128i *>(p_);
      _mm_storeu_si128(out, b0);
      _mm_storeu_si128(out + 1, b1);
      _mm_storeu_si128(out + 2, b2);
      _mm_storeu_si128(out + 3, b3);
      high = _mm_or_si128(high, _mm_or_si128(_mm_or_si128(b0, b1), _mm_or_si128(b2, b3)));
      s += 64;
      p_ += 64;
    } while (end - s >= 64);
    high_bytes_ |= static_cast<unsigned>(_mm_movemask_epi8(high));
    return s;
  }
#endif

  // Copies the bytes from `s` on that need no escaping and returns where
  // they stop: at `end` or at a byte to escape. Each byte is looked at once.
  // With SSE2, 16 bytes at a time: a block is stored whole before it is
  // known how much of it is clean, and the write pointer then advances past
  // the clean part only; the room made for the rest of the text plus the
  // slack covers the overshoot. A block may reach past the end of the value
  // while it stays inside the message's raw text, which most values are
  // slices of, so that short values take the block path too.
  [[gnu::always_inline]] const char *copy_clean_run(const char *s, const char *end) {
#if defined(__SSE2__)
    if (end - s >= 64) [[unlikely]]
      s = copy_long_run(s, end);
    const auto at = reinterpret_cast<uintptr_t>(s);
    const uintptr_t readable_end =
        at >= raw_begin_ && at <= raw_end_ ? raw_end_ : reinterpret_cast<uintptr_t>(end);
    while (s < end && block16_before(reinterpret_cast<uintptr_t>(s), readable_end)) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(p_), block);
      const auto left = static_cast<size_t>(end - s);
      const unsigned in_value = first_bytes16(left);
      high_bytes_ |= static_cast<unsigned>(_mm_movemask_epi8(block)) & in_value;
      const unsigned stops = escape_mask(block) & in_value;
      if (stops) {
        const int clean = std::countr_zero(stops);
        p_ += clean;
        return s + clean;
      }
      const size_t step = std::min<size_t>(16, left);
      p_ += step;
      s += step;
    }
    if (s == end)
      return s;
    ++tails_; // the rest one byte at a time: counted, as it writes the same bytes
#endif
    const char *run = s;
    unsigned char high = 0;
    while (s < end && !escape_table[static_cast<unsigned char>(*s)])
      high |= static_cast<unsigned char>(*s++);
    high_bytes_ |= high & 0x80u;
    std::memcpy(p_, run, static_cast<size_t>(s - run));
    p_ += s - run;
    return s;
  }
  // Whether the text of a field or component is written as it is, as its
  // own value and its only component and sub-component: it holds no byte
  // that JSON escapes and, unless `literal`, none of the separators' first
  // bytes. One read of the text tests all of them together; its high bits
  // are noted when it is plain (it is written then).
  bool plain(std::string_view v, bool literal) {
    const char *s = v.data();
    const char *const end = s + v.size();
#if defined(__SSE2__)
    // A literal value's separators are NUL, which is a control byte anyway.
    const auto separator = [&](size_t i) {
      return _mm_set1_epi8(literal ? '\0' : separators_[i]);
    };
    const __m128i s0 = separator(0), s1 = separator(1), s2 = separator(2), s3 = separator(3);
    const auto stops = [&](__m128i block) {
      const __m128i a = _mm_or_si128(_mm_cmpeq_epi8(block, s0), _mm_cmpeq_epi8(block, s1));
      const __m128i b = _mm_or_si128(_mm_cmpeq_epi8(block, s2), _mm_cmpeq_epi8(block, s3));
      return _mm_or_si128(escape_bytes(block), _mm_or_si128(a, b));
    };
    __m128i high = _mm_setzero_si128();
    for (; block16_before(s, end); s += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
      if (_mm_movemask_epi8(stops(block)))
        return false;
      high = _mm_or_si128(high, block);
    }
    unsigned high_bits = static_cast<unsigned>(_mm_movemask_epi8(high));
    // The last few bytes as one block when it stays inside the raw text
    // (short values are slices of it), the bits past the value masked off.
    if (s < end && readable_block(s)) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
      const unsigned in_value = first_bytes16(static_cast<size_t>(end - s));
      if (static_cast<unsigned>(_mm_movemask_epi8(stops(block))) & in_value)
        return false;
      high_bits |= static_cast<unsigned>(_mm_movemask_epi8(block)) & in_value;
      s = end;
    }
#else
    unsigned high_bits = 0;
#endif
    for (; s < end; ++s) {
      const auto byte = static_cast<unsigned char>(*s);
      if (escape_table[byte] ||
          (!literal && std::find(separators_.begin(), separators_.end(), *s) != separators_.end()))
        return false;
      high_bits |= byte & 0x80u;
    }
    high_bytes_ |= high_bits;
    return true;
  }
  // Whether 16 bytes from `s` lie inside the message's raw text.
  bool readable_block(const char *s) const {
    const auto at = reinterpret_cast<uintptr_t>(s);
    return at >= raw_begin_ && at <= raw_end_ && block16_before(at, raw_end_);
  }
  // Copies a plain value (room made by the caller): a long one with
  // memcpy, which outruns any loop of ours; a short one inside the raw text
  // in whole blocks of 16 bytes, cheaper than a call (the slack after the
  // room covers the overshoot).
  void copy_plain(std::string_view v) {
    const size_t n = v.size();
    if (n == 0)
      return;
#if defined(__SSE2__)
    if (n < 64 && readable_block(v.data() + (n & ~size_t{15}))) {
      for (size_t i = 0; i < n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p_ + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(v.data() + i)));
      p_ += n;
      return;
    }
#endif
    ++memcpys_; // counted, as the blocks would write the same bytes
    std::memcpy(p_, v.data(), n);
    p_ += n;
  }
  void put(char c) { *p_++ = c; }

  void ensure(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n)
      grow(n);
  }
  [[gnu::noinline]] void grow(size_t n) {
    const auto used = static_cast<size_t>(p_ - buffer_);
    const size_t capacity = std::max(2 * static_cast<size_t>(end_ - buffer_), used + n);
    buffer_ = out_.reserve(used, capacity);
    p_ = buffer_ + used;
    end_ = buffer_ + capacity;
  }

  JsonBuffer &out_;
  char *buffer_ = nullptr;
  char *p_ = nullptr;
  char *end_ = nullptr;
  std::string scratch_;
  uintptr_t raw_begin_ = 0, raw_end_ = 0; // the message's raw text
  std::array<char, 4> separators_{};
  unsigned high_bytes_ = 0; // non-zero once a byte of 0x80 or above was written
  uint64_t general_ = 0;    // fields and components not written as plain values
  uint64_t memcpys_ = 0;    // plain values copied with memcpy
  uint64_t tails_ = 0;      // runs copy_clean_run finished byte by byte
};

namespace {

// A generous estimate of the text, so that the buffer seldom grows (pages of
// it that are never written cost nothing): each value stands in the output up
// to three times (field, component, sub-component), and an empty field alone
// takes about 230 bytes of keys and indentation.
size_t estimated_size(const Message &m) {
  return m.raw.size() * 8 + m.field_ends.size() * 400 + m.segments.size() * 128 + 64;
}

} // namespace

void write_message_json(const Message &message, JsonBuffer &out) {
  JsonWriter writer(out, estimated_size(message));
  writer.message(message);
  writer.finish();
}

JsonText write_message_json(const Message &message) {
  JsonBuffer out;
  write_message_json(message, out);
  return JsonText{std::move(out.data_), out.size_, out.ascii_};
}

} // namespace vellomar

namespace vellomar {

char *write_json_string(char *out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  *out++ = '"';
  const char *s = text.data(), *const end = s + text.size();
  for (;;) {
#if defined(__SSE2__)
    // 16 bytes a step while 16 are left: the block is stored whole and the
    // pointer moved past its clean part (the room is six bytes a byte)
    while (block16_before(s, end)) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out), block);
      const unsigned stops = escape_mask(block);
      if (stops) {
        const int clean = std::countr_zero(stops);
        out += clean;
        s += clean;
        break;
      }
      out += 16;
      s += 16;
    }
#endif
    const char *run = s;
    while (s < end && !escape_table[static_cast<unsigned char>(*s)])
      ++s;
    std::memcpy(out, run, static_cast<size_t>(s - run));
    out += s - run;
    if (s == end)
      break;
    const auto byte = static_cast<unsigned char>(*s++);
    *out++ = '\\';
    *out++ = escape_table[byte];
    if (escape_table[byte] == 'u') {
      *out++ = '0';
      *out++ = '0';
      *out++ = hex[byte >> 4];
      *out++ = hex[byte & 0x0F];
    }
  }
  *out++ = '"';
  return out;
}

void append_json_string(std::string &out, std::string_view text) {
  const size_t size = out.size();
  out.resize(size + json_string_bound(text.size()));
  out.resize(static_cast<size_t>(write_json_string(out.data() + size, text) - out.data()));
}

} // namespace vellomar
