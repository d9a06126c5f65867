#include "json_writer.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace vellomar {
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
constexpr size_t max_level = 12;
constexpr std::string_view spaces = "                                                ";
static_assert(spaces.size() >= 2 * max_level);

// The walk writes through a raw pointer into `out`, which is grown (rarely)
// by ensure() before each piece; finish() cuts it to the written length.
class JsonWriter {
public:
  explicit JsonWriter(std::string &out, size_t estimate) : out_(out) {
    out_.resize(estimate);
    p_ = out_.data();
    end_ = p_ + out_.size();
  }

  void message(const Message &m) {
    put('{');
    key(1, "raw");
    string(m.raw);
    put(',');
    key(1, "segments");
    array(1, m.segment_count(), [&](size_t i) { segment(2, m.segment_at(i)); });
    newline(0);
    put('}');
  }

  void finish() { out_.resize(static_cast<size_t>(p_ - out_.data())); }

private:
  void segment(size_t level, const SegmentView &s) {
    put('{');
    key(level + 1, "name");
    string(s.name);
    put(',');
    key(level + 1, "fields");
    array(level + 1, s.field_count(),
          [&](size_t i) { field(level + 2, s.field_at(i)); });
    newline(level);
    put('}');
  }

  void field(size_t level, const FieldView &f) {
    put('{');
    key(level + 1, "value");
    string(f.value(scratch_));
    put(',');
    key(level + 1, "components");
    open_array();
    bool any = false;
    f.for_each_component([&](const ComponentView &c) {
      element(level + 2, any);
      component(level + 2, c);
    });
    close_array(level + 1, any);
    put(',');
    key(level + 1, "repetitions");
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
    put('{');
    key(level + 1, "value");
    string(c.value(scratch_));
    put(',');
    key(level + 1, "sub_components");
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
  void key(size_t level, std::string_view name) {
    newline(level);
    ensure(name.size() + 4);
    *p_++ = '"';
    std::memcpy(p_, name.data(), name.size());
    p_ += name.size();
    std::memcpy(p_, "\": ", 3);
    p_ += 3;
  }
  void newline(size_t level) {
    const size_t width = 2 * level;
    ensure(width + 1);
    *p_++ = '\n';
    std::memcpy(p_, spaces.data(), width);
    p_ += width;
  }
  // A JSON string: room for the text as it is is made first, and more at
  // each escape, so that a long value without escapes costs one copy.
  void string(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    ensure(text.size() + 2);
    *p_++ = '"';
    const char *s = text.data();
    const char *end = s + text.size();
    while (s < end) {
      const char *run = s;
      while (s < end && !escape_table[static_cast<unsigned char>(*s)])
        ++s;
      std::memcpy(p_, run, static_cast<size_t>(s - run));
      p_ += s - run;
      if (s == end)
        break;
      const auto byte = static_cast<unsigned char>(*s++);
      ensure(static_cast<size_t>(end - s) + 7);
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
  void put(char c) {
    ensure(1);
    *p_++ = c;
  }

  void ensure(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n)
      grow(n);
  }
  [[gnu::noinline]] void grow(size_t n) {
    const size_t used = static_cast<size_t>(p_ - out_.data());
    out_.resize(std::max(2 * out_.size(), used + n));
    p_ = out_.data() + used;
    end_ = out_.data() + out_.size();
  }

  std::string &out_;
  char *p_ = nullptr;
  char *end_ = nullptr;
  std::string scratch_;
};

// An estimate of the text, so that the buffer seldom grows: each value
// stands in the output up to three times (field, component, sub-component),
// and an empty field alone takes about 230 bytes of keys and indentation.
size_t estimated_size(const Message &m) {
  return m.raw.size() * 4 + m.field_ends.size() * 300 + m.segments.size() * 96 + 64;
}

} // namespace

std::string write_message_json(const Message &message) {
  std::string out;
  JsonWriter writer(out, estimated_size(message));
  writer.message(message);
  writer.finish();
  return out;
}

} // namespace vellomar
