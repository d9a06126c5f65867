#include "json_writer.hpp"

#include <array>

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

// The walk keeps the buffer, the current nesting level and one scratch
// string for decoded values.
class JsonWriter {
public:
  explicit JsonWriter(std::string &out) : out_(out) {}

  void message(const Message &m) {
    begin_object();
    key("raw");
    append_json_string(out_, m.raw);
    key("segments");
    begin_array();
    for (size_t i = 0; i < m.segment_count(); ++i) {
      element();
      segment(m.segment_at(i));
    }
    end_array();
    end_object();
  }

private:
  void segment(const SegmentView &s) {
    begin_object();
    key("name");
    append_json_string(out_, s.name);
    key("fields");
    begin_array();
    s.for_each_field([&](const FieldView &f) {
      element();
      field(f);
    });
    end_array();
    end_object();
  }

  void field(const FieldView &f) {
    begin_object();
    key("value");
    append_json_string(out_, f.value(scratch_));
    key("components");
    begin_array();
    f.for_each_component([&](const ComponentView &c) {
      element();
      component(c);
    });
    end_array();
    key("repetitions");
    begin_array();
    f.for_each_repetition([&](const FieldView &r) {
      element();
      field(r);
    });
    end_array();
    end_object();
  }

  void component(const ComponentView &c) {
    begin_object();
    key("value");
    append_json_string(out_, c.value(scratch_));
    key("sub_components");
    begin_array();
    c.for_each_sub_component([&](std::string_view text) {
      element();
      append_json_string(out_, text);
    });
    end_array();
    end_object();
  }

  // Objects always have members here; arrays may be empty and are then
  // written "[]", so an array learns whether it had elements as it goes.
  void begin_object() {
    out_.push_back('{');
    ++level_;
    first_ = true;
  }
  void end_object() {
    --level_;
    newline();
    out_.push_back('}');
    first_ = false;
  }
  void key(std::string_view name) {
    separator();
    out_.push_back('"');
    out_.append(name);
    out_.append("\": ");
  }
  void begin_array() {
    out_.push_back('[');
    ++level_;
    first_ = true;
  }
  void end_array() {
    --level_;
    if (!first_)
      newline();
    out_.push_back(']');
    first_ = false;
  }
  void element() { separator(); }

  // "," before every member or element after the first, then a new line.
  void separator() {
    if (!first_)
      out_.push_back(',');
    first_ = false;
    newline();
  }
  void newline() {
    out_.push_back('\n');
    out_.append(2 * level_, ' ');
  }

  std::string &out_;
  std::string scratch_;
  size_t level_ = 0;
  bool first_ = true; // nothing written yet at the current level
};

// A rough estimate of the text, so that the buffer seldom grows: each value
// stands in the output up to three times (field, component, sub-component),
// and an empty field alone takes about 230 bytes of keys and indentation.
size_t estimated_size(const Message &m) {
  return m.raw.size() * 8 + m.field_ends.size() * 336 + m.segments.size() * 96 + 64;
}

} // namespace

void append_json_string(std::string &out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  const char *p = text.data();
  const char *end = p + text.size();
  const char *run = p; // start of the bytes copied as they are
  for (; p < end; ++p) {
    char kind = escape_table[static_cast<unsigned char>(*p)];
    if (!kind)
      continue;
    out.append(run, static_cast<size_t>(p - run));
    out.push_back('\\');
    out.push_back(kind);
    if (kind == 'u') {
      auto byte = static_cast<unsigned char>(*p);
      out.append("00");
      out.push_back(hex[byte >> 4]);
      out.push_back(hex[byte & 0x0F]);
    }
    run = p + 1;
  }
  out.append(run, static_cast<size_t>(end - run));
  out.push_back('"');
}

std::string write_message_json(const Message &message) {
  std::string out;
  out.reserve(estimated_size(message));
  JsonWriter(out).message(message);
  return out;
}

} // namespace vellomar
