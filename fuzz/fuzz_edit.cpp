// Editing: the input is a message, NUL, then changes one a line ("path" empties
// the element, "path TAB value" stores the value), or the changes alone, for a
// fixed message. Oracles: an edit that succeeds gives the index the parser gives
// its text, and every segment no change names comes out byte for byte; one that
// fails does so with a documented text. With delimiters that are distinct ASCII
// punctuation, every value reads back at its path (and er7's text there is the
// value escaped), and the changes applied one
// at a time give the text that applying them together gives.
#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "check.hpp"
#include "edit.hpp"
#include "escape.hpp"
#include "parser.hpp"
#include "terser.hpp"

using namespace vellomar;

namespace {

bool same_index(const Message &a, const Message &b) {
  if (a.raw != b.raw || !std::ranges::equal(a.field_ends, b.field_ends) || a.segments.size() != b.segments.size())
    return false;
  for (size_t i = 0; i < a.segments.size(); ++i)
    if (a.segments[i].offset != b.segments[i].offset ||
        a.segments[i].name_length != b.segments[i].name_length ||
        a.segments[i].first_field != b.segments[i].first_field)
      return false;
  return true;
}

std::string_view line_of(const Message &m, size_t i) {
  const size_t end = i + 1 < m.segment_count() ? m.segments[i + 1].offset : m.raw.size();
  return std::string_view(m.raw).substr(m.segments[i].offset, end - m.segments[i].offset);
}

// The segment name and repetition a path names (repetition -1 for "(+)").
std::pair<std::string_view, int64_t> segment_of(std::string_view path) {
  const size_t end = path.find_first_of("-(");
  std::string_view name = path.substr(0, end);
  if (end == path.npos || path[end] != '(')
    return {name, 0};
  if (path.substr(end, 3) == "(+)")
    return {name, -1};
  int64_t n = 0;
  for (size_t i = end + 1 + (path.substr(end + 1, 1) == "+"); i < path.size() && path[i] >= '0' && path[i] <= '9'; ++i)
    n = std::min<int64_t>(n * 10 + (path[i] - '0'), 1 << 20);
  return {name, n};
}

bool distinct(const EncodingCharacters &e) {
  const Delimiter *all[] = {&e.field, &e.component, &e.repetition, &e.escape, &e.sub_component};
  for (const Delimiter *a : all) {
    // Letters and digits as delimiters cannot hold escapes (\X0D\ with D the escape).
    if (a->size != 1 || !std::ispunct(static_cast<unsigned char>(a->bytes[0])))
      return false;
    for (const Delimiter *b : all)
      if (a != b && a->view() == b->view())
        return false;
  }
  return true;
}

// The value at an edit path without "(+)": terser paths name the first repetition.
std::optional<std::string> read_back(const Message &m, std::string_view path) {
  const size_t open = path.find('(', path.find('-'));
  if (open == path.npos) {
    std::string scratch;
    auto got = terser_get(m, path, scratch);
    return got ? std::optional<std::string>(got.value()) : std::nullopt;
  }
  const size_t close = path.find(')', open);
  auto values = field_values(m, std::string(path.substr(0, open)) + std::string(path.substr(close + 1)));
  const size_t r = std::stoul(std::string(path.substr(open + 1, close - open - 1)));
  if (!values)
    return std::nullopt;
  return r < values.value().size() ? values.value()[r] : (r == 0 ? "" : "<missing>");
}

} // namespace

FUZZ_ENTRY {
  std::string_view input(reinterpret_cast<const char *>(data), size), spec = input,
      text = "MSH|^~\\&|A|B|C|D|2023||ADT^A01|1|P|2.5\rPID|1||M^^^H&1~A||D&J^X\\T\\\r"
             "OBX|1|x\rOBX|2|y^z\rZ\xC3\xA9|\xC3\xA9";
  if (size_t nul = input.find('\0'); nul != input.npos)
    text = input.substr(0, nul), spec = input.substr(nul + 1);
  auto parsed = parse_message(text);
  if (!parsed || !fuzz::valid_utf8(spec) || !fuzz::valid_utf8(text)) // as the str they come from
    return 0;
  const Message &m = parsed.value();
  std::vector<Change> changes;
  for (size_t start = 0; start <= spec.size() && changes.size() < 64;) {
    size_t end = std::min(spec.find('\n', start), spec.size());
    std::string_view line = spec.substr(start, end - start);
    size_t tab = line.find('\t');
    changes.push_back(tab == line.npos ? Change{line, std::nullopt}
                                       : Change{line.substr(0, tab), line.substr(tab + 1)});
    start = end + 1;
  }
  const std::string before(m.raw);
  auto edited = edit_message(m, changes);
  FUZZ_CHECK(m.raw == before, "the edited message changed");
  if (!edited) {
    std::string_view e = edited.error().message;
    FUZZ_CHECK(e == "Empty terser path" || e.starts_with("Invalid ") ||
                   e.starts_with("Path ") || e.starts_with("MSH-1 and MSH-2 ") ||
                   e.starts_with("An MSH segment ") || e.starts_with("Segment '") ||
                   e.starts_with("Conflicting changes: ") || e.starts_with("Delimiters must be "),
               e);
    return 0;
  }
  const Message &out = edited.value();
  auto reparsed = parse_message(out.raw);
  FUZZ_CHECK(reparsed.ok() && same_index(out, reparsed.value()), out.raw);

  std::map<std::string_view, int64_t> seen;
  for (size_t i = 0; i < m.segment_count(); ++i) {
    const std::string_view name = m.segment_at(i).name;
    const int64_t repetition = seen[name]++;
    bool named = false;
    for (const Change &c : changes)
      named = named || segment_of(c.path) == std::pair(name, repetition);
    // The line break after the last line goes after a segment appended.
    std::string_view old = line_of(m, i);
    if (i + 1 == m.segment_count())
      old = old.substr(0, old.find_last_not_of("\r\n") + 1);
    FUZZ_CHECK(named || line_of(out, i).substr(0, old.size()) == old, out.raw);
  }
  if (!distinct(m.enc))
    return 0;
  bool appends = false;
  for (const Change &c : changes) {
    appends = appends || segment_of(c.path).second < 0;
    if (segment_of(c.path).second < 0)
      continue;
    FUZZ_CHECK(read_back(out, c.path) == std::string(c.value.value_or("")), c.path);
    // The text as it stands is the value as escaped on the way in.
    std::string escaped;
    Escaper(out.enc).append(escaped, c.value.value_or(""));
    auto stands = element_text(out, c.path);
    FUZZ_CHECK(stands.ok() && stands.value() == escaped, c.path);
  }
  Message one = m;
  for (size_t i = 0; !appends && i < changes.size(); ++i) {
    auto step = edit_message(one, std::span(changes).subspan(i, 1));
    FUZZ_CHECK(step.ok(), changes[i].path);
    one = std::move(step).value();
  }
  FUZZ_CHECK(appends || one.raw == out.raw, one.raw);
  return 0;
}
