// The parser on arbitrary bytes, a walk of every value, the JSON writer and the
// ACK. Oracles: a failure is one of the four parser errors; lookups by number
// agree with iteration; the JSON is valid; the ACK exists when a segment is MSH.
#include "ack.hpp"
#include "check.hpp"
#include "json_writer.hpp"
#include "mllp.hpp"
#include "parser.hpp"

using namespace vellomar;

void walk(const FieldView &f, bool repetition) {
  std::string scratch, other, piece;
  size_t seen = 0, reps = 0;
  f.for_each_component([&](const ComponentView &c) {
    size_t k = 0;
    c.for_each_sub_component([&](std::string_view sub) {
      FUZZ_CHECK(c.sub_component(++k, piece).value() == sub, c.text);
    });
    FUZZ_CHECK(f.component(++seen).value().view().value(scratch) == c.value(other),
               c.text);
  });
  f.for_each_repetition([&](const FieldView &rep) { ++reps, walk(rep, true); });
  FUZZ_CHECK(reps != 1 && (!repetition || reps == 0) && !f.component(seen + 1), f.text);
}

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size);
  auto parsed = parse_message(raw);
  if (!parsed) {
    const std::string &e = parsed.error().message;
    FUZZ_CHECK(e == "Empty message" || e == "No segments found" ||
                   e == "MSH segment too short to extract encoding characters" ||
                   (e.starts_with("Message must start with MSH segment, got: '") &&
                    e.ends_with("'") && e.size() <= 54),
               e);
    return 0;
  }
  const Message &m = parsed.value();
  FUZZ_CHECK(m.raw == strip_mllp_frame(raw), raw);
  for (size_t i = 0; i < m.segment_count(); ++i) {
    SegmentView s = m.segment_at(i);
    for (size_t k = 0; k < s.field_count(); ++k) {
      walk(s.field_at(k), false);
      FUZZ_CHECK(s.field(k + 1).value().view().text == s.field_at(k).text, s.name);
    }
  }
  FUZZ_CHECK(!fuzz::valid_utf8(raw) ||
                 nlohmann::json::accept(write_message_json(m).view()),
             raw);
  SegmentView msh;
  auto ack = make_ack(m, "AE", "text", "20240101000000");
  FUZZ_CHECK(ack.ok() == m.find_segment("MSH", msh), raw);
  return 0;
}
