// The parser on arbitrary bytes, a walk of every view, copy and lookup, the
// JSON writer and the ACK. Oracles: a failure is one of the four parser
// errors; counts agree with iteration and lookups past them fail with the exact
// range text; the JSON is valid; the ACK exists exactly when a segment is MSH.
#include "ack.hpp"
#include "check.hpp"
#include "json_writer.hpp"
#include "mllp.hpp"
#include "parser.hpp"

using namespace vellomar;

template <class Lookup> void check_range(Lookup lookup, const char *what, size_t count) {
  for (uint64_t i : {uint64_t{0}, uint64_t{count + 1}, UINT64_MAX}) {
    auto got = lookup(i);
    std::string text = what + (" index " + std::to_string(i)) + " out of range (1.." + std::to_string(count) + ")";
    FUZZ_CHECK(!got.ok() && got.error().kind == ErrorKind::index_error && got.error().message == text, text);
  }
}

void walk_field(const FieldView &f, bool repetition) {
  std::string scratch;
  size_t seen = 0, reps = 0;
  f.for_each_component([&](const ComponentView &c) {
    size_t k = 0;
    FUZZ_CHECK(f.component(++seen).value().view().text == c.text && f.component_at(seen - 1).text == c.text, f.text);
    c.for_each_sub_component([&](std::string_view sub) { FUZZ_CHECK(c.sub_component(++k).value() == sub, c.text); });
    FUZZ_CHECK(k >= 1 && k == c.sub_component_count() && Component::copy_of(c).view().text == c.text, c.text);
    check_range([&](uint64_t n) { return c.sub_component(n); }, "Sub-component", k);
  });
  check_range([&](uint64_t n) { return f.component(n); }, "Component", seen);
  f.for_each_repetition([&](const FieldView &rep) { ++reps, walk_field(rep, true); });
  FUZZ_CHECK(seen >= 1 && seen == f.component_count() && reps != 1 && reps == f.repetition_count() &&
                 (!repetition || reps == 0) && Field::copy_of(f).view().text == f.text, f.text); // no nesting
}

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size);
  auto parsed = parse_message(raw);
  if (!parsed) {
    const std::string &e = parsed.error().message;
    FUZZ_CHECK(parsed.error().kind == ErrorKind::value_error &&
                   (e == "Empty message" || e == "No segments found" || e == "MSH segment too short to extract encoding characters" ||
                    (e.starts_with("Message must start with MSH segment, got: '") && e.ends_with("'") && e.size() <= 54)), e);
    return 0;
  }
  const Message &m = parsed.value();
  FUZZ_CHECK(m.raw == strip_mllp_frame(raw) && m.segment_count() >= 1, raw);
  for (size_t i = 0; i < m.segment_count(); ++i) {
    SegmentView s = m.segment_at(i), first;
    for (size_t k = 0; k < s.field_count(); ++k) {
      walk_field(s.field_at(k), false);
      FUZZ_CHECK(s.field(k + 1).value().view().text == s.field_at(k).text, s.name);
    }
    check_range([&](uint64_t n) { return s.field(n); }, "Field", s.field_count());
    FUZZ_CHECK(m.find_segment(s.name, first) && first.name == s.name &&
                   Segment::copy_of(s).view().field_count() == s.field_count(), s.name);
  }
  FUZZ_CHECK(!fuzz::valid_utf8(raw) || nlohmann::json::accept(write_message_json(m).view()), raw);
  SegmentView msh;
  auto ack = make_ack(m, "AE", "text", "20240101000000");
  FUZZ_CHECK(ack.ok() == m.find_segment("MSH", msh) && (!ack.ok() || ack.value().starts_with("MSH")), raw);
  return 0;
}
