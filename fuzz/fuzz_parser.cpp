// The message parser on arbitrary bytes, then every view, copy and lookup of
// the tree, the JSON writer and the ACK.
//
// Oracles: a failure is one of the four parser errors; on valid UTF-8 the
// tree equals the reference parser's, value by value; the JSON text is strict
// JSON and, on valid UTF-8, byte for byte the text that Python's
// json.dumps(indent=2, ensure_ascii=False) writes for the reference tree; navigation by
// index agrees with iteration and fails with the exact range texts; copies equal their
// originals.
#include <string>
#include <string_view>

#include "ack.hpp"
#include "check.hpp"
#include "json_check.hpp"
#include "json_writer.hpp"
#include "mllp.hpp"
#include "parser.hpp"
#include "reference.hpp"

namespace {

using namespace vellomar;
using fuzz::show;
using fuzz::json::Value;

constexpr std::string_view msh_prefix = "Message must start with MSH segment, got: '";

std::string range_text(std::string_view what, uint64_t index, size_t count) {
  return std::string(what) + " index " + std::to_string(index) + " out of range (1.." +
         std::to_string(count) + ")";
}

template <class R>
void check_range_error(const R &result, std::string_view what, uint64_t index,
                       size_t count) {
  FUZZ_CHECK(!result.ok(), std::string(what));
  FUZZ_CHECK(result.error().kind == ErrorKind::index_error, std::string(what));
  FUZZ_CHECK(result.error().message == range_text(what, index, count),
             result.error().message);
}

// ---------------------------------------------------------------- walking
// Every accessor on every view, for any bytes; the counts must agree with the
// iterations and the index lookups with the pieces.

void walk_component(const ComponentView &c) {
  std::string scratch;
  std::string value(c.value(scratch));
  size_t count = c.sub_component_count();
  FUZZ_CHECK(count >= 1, show(c.text));
  size_t seen = 0;
  c.for_each_sub_component([&](std::string_view sub) {
    ++seen;
    if (seen <= 3 || seen == count) {
      auto got = c.sub_component(seen);
      FUZZ_CHECK(got.ok() && got.value() == sub, show(c.text));
    }
  });
  FUZZ_CHECK(seen == count, show(c.text));
  check_range_error(c.sub_component(0), "Sub-component", 0, count);
  check_range_error(c.sub_component(count + 1), "Sub-component", count + 1, count);
  Component copy = Component::copy_of(c);
  FUZZ_CHECK(copy.view().text == c.text && copy.view().value(scratch) == value,
             show(c.text));
}

void walk_field(const FieldView &f, int depth) {
  std::string scratch;
  (void)f.value(scratch);
  size_t count = f.component_count();
  FUZZ_CHECK(count >= 1, show(f.text));
  size_t seen = 0;
  f.for_each_component([&](const ComponentView &c) {
    if (seen < 3 || seen + 1 == count) {
      FUZZ_CHECK(f.component_at(seen).text == c.text, show(f.text));
      auto got = f.component(seen + 1);
      FUZZ_CHECK(got.ok() && got.value().view().text == c.text, show(f.text));
    }
    walk_component(c);
    ++seen;
  });
  FUZZ_CHECK(seen == count, show(f.text));
  check_range_error(f.component(0), "Component", 0, count);
  check_range_error(f.component(count + 1), "Component", count + 1, count);

  size_t repetitions = f.repetition_count();
  FUZZ_CHECK(repetitions != 1, show(f.text));
  FUZZ_CHECK(depth == 0 || repetitions == 0, show(f.text)); // repetitions do not nest
  size_t reps_seen = 0;
  f.for_each_repetition([&](const FieldView &r) {
    ++reps_seen;
    walk_field(r, depth + 1);
  });
  FUZZ_CHECK(reps_seen == repetitions, show(f.text));
  Field copy = Field::copy_of(f);
  FUZZ_CHECK(copy.view().text == f.text && copy.view().literal == f.literal,
             show(f.text));
}

void walk_segment(const SegmentView &s) {
  size_t count = s.field_count();
  for (size_t i = 0; i < count; ++i) {
    FieldView f = s.field_at(i);
    walk_field(f, 0);
    if (i < 3 || i + 1 == count) {
      auto got = s.field(i + 1);
      FUZZ_CHECK(got.ok() && got.value().view().text == f.text, show(s.name));
    }
  }
  check_range_error(s.field(0), "Field", 0, count);
  check_range_error(s.field(count + 1), "Field", count + 1, count);
  check_range_error(s.field(UINT64_MAX), "Field", UINT64_MAX, count);

  // The owned copy of a segment holds the same fields.
  Segment copy = Segment::copy_of(s);
  SegmentView v = copy.view();
  FUZZ_CHECK(v.name == s.name && v.field_count() == count && v.msh == s.msh,
             show(s.name));
  for (size_t i = 0; i < count; ++i)
    FUZZ_CHECK(v.field_at(i).text == s.field_at(i).text, show(s.name));
}

void walk_message(const Message &m) {
  FUZZ_CHECK(m.segment_count() >= 1, show(m.raw));
  for (size_t i = 0; i < m.segment_count(); ++i) {
    SegmentView s = m.segment_at(i);
    walk_segment(s);
    // Lookup by name finds the first segment of that name.
    SegmentView found;
    FUZZ_CHECK(m.find_segment(s.name, found), show(s.name));
    auto copy = m.segment(s.name);
    FUZZ_CHECK(copy.ok() && copy.value().view().name == s.name, show(s.name));
    for (size_t j = 0; j < i; ++j)
      if (m.segment_at(j).name == s.name) {
        FUZZ_CHECK(found.name.data() == m.segment_at(j).name.data(), show(s.name));
        break;
      }
  }
}

// ------------------------------------------------------ reference oracle

void compare_field(const FieldView &f, const fuzz::ref::Field &r) {
  std::string scratch;
  FUZZ_CHECK(f.value(scratch) == r.value, show(f.text) + " value " + show(r.value));
  FUZZ_CHECK(f.component_count() == r.components.size(), show(f.text));
  size_t i = 0;
  f.for_each_component([&](const ComponentView &c) {
    const fuzz::ref::Component &rc = r.components[i++];
    FUZZ_CHECK(c.value(scratch) == rc.value, show(c.text) + " value " + show(rc.value));
    FUZZ_CHECK(c.sub_component_count() == rc.sub_components.size(), show(c.text));
    size_t k = 0;
    c.for_each_sub_component([&](std::string_view sub) {
      FUZZ_CHECK(sub == rc.sub_components[k],
                 show(sub) + " != " + show(rc.sub_components[k]));
      ++k;
    });
  });
  FUZZ_CHECK(f.repetition_count() == r.repetitions.size(), show(f.text));
  size_t j = 0;
  f.for_each_repetition(
      [&](const FieldView &rep) { compare_field(rep, r.repetitions[j++]); });
}

void compare_tree(const Message &m, const fuzz::ref::Message &r) {
  FUZZ_CHECK(m.raw == r.raw, show(m.raw));
  FUZZ_CHECK(m.segment_count() == r.segments.size(), show(m.raw));
  for (size_t i = 0; i < m.segment_count(); ++i) {
    SegmentView s = m.segment_at(i);
    const fuzz::ref::Segment &rs = r.segments[i];
    FUZZ_CHECK(s.name == rs.name, show(s.name) + " != " + show(rs.name));
    FUZZ_CHECK(s.field_count() == rs.fields.size(), show(s.name));
    for (size_t k = 0; k < rs.fields.size(); ++k)
      compare_field(s.field_at(k), rs.fields[k]);
  }
}

void add(Value &object, const char *key, Value value) {
  object.keys.emplace_back(key);
  object.values.push_back(std::move(value));
}

// The JSON document that the reference tree must give.
Value field_json(const fuzz::ref::Field &f) {
  Value v = Value::object();
  add(v, "value", Value::string(f.value));
  Value components = Value::array();
  for (const auto &c : f.components) {
    Value cv = Value::object();
    add(cv, "value", Value::string(c.value));
    Value subs = Value::array();
    for (const auto &s : c.sub_components)
      subs.items.push_back(Value::string(s));
    add(cv, "sub_components", std::move(subs));
    components.items.push_back(std::move(cv));
  }
  add(v, "components", std::move(components));
  Value repetitions = Value::array();
  for (const auto &r : f.repetitions)
    repetitions.items.push_back(field_json(r));
  add(v, "repetitions", std::move(repetitions));
  return v;
}

Value message_json(const fuzz::ref::Message &m) {
  Value v = Value::object();
  add(v, "raw", Value::string(m.raw));
  Value segments = Value::array();
  for (const auto &s : m.segments) {
    Value sv = Value::object();
    add(sv, "name", Value::string(s.name));
    Value fields = Value::array();
    for (const auto &f : s.fields)
      fields.items.push_back(field_json(f));
    add(sv, "fields", std::move(fields));
    segments.items.push_back(std::move(sv));
  }
  add(v, "segments", std::move(segments));
  return v;
}

void check_failure(std::string_view raw, const Error &e, bool utf8) {
  FUZZ_CHECK(e.kind == ErrorKind::value_error, e.message);
  const std::string &text = e.message;
  bool msh = text.size() > msh_prefix.size() &&
             text.compare(0, msh_prefix.size(), msh_prefix) == 0 && text.back() == '\'';
  FUZZ_CHECK(text == "Empty message" || text == "No segments found" ||
                 text == "MSH segment too short to extract encoding characters" || msh,
             show(text));
  if (!utf8)
    return;
  fuzz::ref::Parsed expected = fuzz::ref::parse(raw);
  FUZZ_CHECK(!expected.ok, show(raw) + " failed with " + show(text));
  if (expected.error != "MSH") {
    FUZZ_CHECK(text == expected.error, show(text) + " expected " + show(expected.error));
    return;
  }
  // The first 10 bytes of the line, cut back to a character boundary.
  FUZZ_CHECK(msh, show(text));
  std::string_view shown(text);
  shown = shown.substr(msh_prefix.size(), shown.size() - msh_prefix.size() - 1);
  const std::string &line = expected.msh_line;
  FUZZ_CHECK(line.compare(0, shown.size(), shown) == 0,
             show(shown) + " of " + show(line));
  FUZZ_CHECK(shown.size() <= 10 && shown.size() + 3 >= std::min<size_t>(10, line.size()),
             show(shown));
  FUZZ_CHECK(fuzz::valid_utf8(shown), show(shown));
}

} // namespace

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size);
  const bool utf8 = fuzz::valid_utf8(raw);
  auto parsed = parse_message(raw);
  if (!parsed) {
    check_failure(raw, parsed.error(), utf8);
    return 0;
  }
  const Message &m = parsed.value();
  FUZZ_CHECK(m.raw == strip_mllp_frame(raw), show(raw));
  walk_message(m);

  // The JSON text: strict JSON in exactly Python's indented form, linear in
  // size.
  const std::string json(write_message_json(m).view());
  std::string error;
  FUZZ_CHECK(fuzz::json::validate(json, error, utf8), error + " in " + show(json, 400));
  FUZZ_CHECK(json.size() <= 512 * raw.size() + 1024, std::to_string(json.size()));

  // The ACK exists exactly when a segment is named MSH.
  SegmentView msh;
  auto ack = make_ack(m, "AE", "text", "20240101000000");
  FUZZ_CHECK(ack.ok() == m.find_segment("MSH", msh), show(raw));
  if (ack.ok()) {
    FUZZ_CHECK(ack.value().compare(0, 3, "MSH") == 0, show(ack.value()));
    FUZZ_CHECK(!utf8 || fuzz::valid_utf8(ack.value()), show(ack.value()));
  }

  if (!utf8)
    return 0;
  fuzz::ref::Parsed expected = fuzz::ref::parse(raw);
  FUZZ_CHECK(expected.ok, show(raw) + " expected " + show(expected.error));
  compare_tree(m, expected.message);
  // The same tree written as Python's json.dumps(indent=2, ensure_ascii=False)
  // writes it.
  const std::string expected_json =
      fuzz::json::dump_indented(message_json(expected.message));
  FUZZ_CHECK(json == expected_json,
             show(json, 400) + " expected " + show(expected_json, 400));
  return 0;
}
