#include "fhir.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <charconv>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <unordered_map>

#include "batch.hpp"
#include "json_writer.hpp"
#include "structure.hpp"
#include "terser.hpp"
#include "text.hpp"

namespace vellomar::fhir {

using namespace std::string_view_literals;

// ---- reading the data file -------------------------------------------------

namespace {

std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    auto hex = [](char c) {
      return c >= 'A' ? (c & ~0x20) - 'A' + 10 : c - '0';
    };
    if (s[i] == '%' && i + 2 < s.size()) {
      out.push_back(static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<std::string_view> split(std::string_view s, char d) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(d, start);
    out.push_back(s.substr(start, at - start));
    if (at == std::string_view::npos)
      return out;
    start = at + 1;
  }
}

bool number(std::string_view s, uint32_t &out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool signed_number(std::string_view s, int64_t &out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

// Equality of short texts (segment names, codes) without a call to memcmp:
// conditions compare thousands of them a message.
inline bool same(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i])
      return false;
  return true;
}

// Whether group `g` (null: none) may begin with segment `name`.
bool begins_with(const GroupDef *g, std::string_view name) {
  return g && std::ranges::any_of(g->starts, [&](const std::string &s) { return same(s, name); });
}

// Equality of texts but for the case of their ASCII letters (codes sent in
// another case than a vocabulary's).
inline bool same_folded(std::string_view a, std::string_view b) {
  auto folded = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::ranges::equal(a, b, {}, folded, folded);
}

// The slot of a large vocabulary's table (Vocabulary::few, of `mask` + 1
// slots, a power of two) whose search finds `code`: a hash of its size and
// of its first and last 8 bytes (a code is most often of fewer).
inline size_t code_slot(std::string_view code, size_t mask) {
  const size_t n = code.size();
  uint64_t h = n;
  if (n != 0) {
    const size_t k = std::min<size_t>(n, 8);
    h = (h ^ load_short(code.data(), k)) * 0x9E3779B97F4A7C15ULL;
    h = (h ^ load_short(code.data() + n - k, k)) * 0xC2B2AE3D27D4EB4FULL;
  }
  return static_cast<size_t>(h ^ h >> 32) & mask;
}

// A text of 7 bytes or fewer as one word, its size in the top byte: two
// such texts are equal when their words are.
uint64_t short_word(std::string_view s) {
  return (s.empty() ? 0 : load_short(s.data(), s.size())) | uint64_t{s.size()} << 56;
}

// A code as Vocabulary::Entry::word holds it: short_word() of a code of 7
// bytes or fewer, else all ones (a size byte no short word has).
uint64_t code_word(std::string_view code) {
  return code.size() <= 7 ? short_word(code) : UINT64_MAX;
}

// Whether `s` holds a space or a tab (or, with `all`, any byte that may
// begin white_space_size()'s white space: the test before a code's or a
// uri's own):
// one test a byte for most, not a search of a set (find_first_of() is a
// call to memchr a byte).
inline bool has_white_space(std::string_view s, bool all) {
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' ? c == ' ' || c == '\t' || (all && c >= '\t' && c <= '\r')
                 : all && b >= 0xC2 && b <= 0xE3 && (b == 0xC2 || b >= 0xE1))
      return true;
  }
  return false;
}

// Whether short_word() holds all of `s`.
inline bool fits_word(std::string_view s) { return s.size() <= 7; }

// Whether byte `c` is a control character FHIR's strings may not hold:
// below 0x20 but tab, CR and LF.
inline bool control_byte(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\r' && c != '\n';
}

// Whether `text` holds a control character FHIR's strings may not hold.
// The bytes are tested 16 at a time: the test is made once a message.
bool holds_controls(std::string_view text) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + i));
    // (at most 0x1F: subtracting 0x1F with saturation leaves zero)
    const __m128i low = _mm_cmpeq_epi8(_mm_subs_epu8(block, _mm_set1_epi8(0x1F)),
                                       _mm_setzero_si128());
    const __m128i allowed = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')),
                     _mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))),
        _mm_cmpeq_epi8(block, _mm_set1_epi8('\n')));
    if (_mm_movemask_epi8(_mm_andnot_si128(allowed, low)))
      return true;
  }
#endif
  for (; i < text.size(); ++i)
    if (control_byte(static_cast<unsigned char>(text[i])))
      return true;
  return false;
}

// The system of HL7 table NNNN's codes is this and NNNN.
constexpr std::string_view table_system_uri = "http://terminology.hl7.org/CodeSystem/v2-";

// A field's place as reports name it: "PID-10".
std::string field_place(std::string_view segment, uint32_t field) {
  return std::string(segment).append("-").append(std::to_string(field));
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  return out;
}

bool read_path(std::string_view text, std::vector<Step> &out) {
  out.clear();
  if (text.empty())
    return true;
  for (std::string_view part : split(text, '.')) {
    Step step;
    const size_t star = part.find('*');
    step.name = std::string(part.substr(0, star));
    if (star != std::string_view::npos) {
      uint32_t slot;
      std::string_view number_text = part.substr(star + 1);
      if (number_text.size() > 1 && number_text.back() == '~') // (see Step::joined)
        step.joined = true, number_text.remove_suffix(1);
      if (number_text == "each" && out.empty() && !step.joined)
        step.each = true, slot = 1;
      else if (!number(number_text, slot) || slot == 0 || slot > 60000)
        return false;
      step.slot = static_cast<uint16_t>(slot);
    }
    if (step.name.empty())
      return false;
    out.push_back(std::move(step));
  }
  return true;
}

// A segment's name of three bytes as a word, for names compared often
// (a test's segment against the row's): one comparison, not a loop. Never
// UINT32_MAX; UINT32_MAX - 1 for a name of another size.
uint32_t name_word(std::string_view name) {
  if (name.size() != 3)
    return UINT32_MAX - 1;
  return static_cast<uint8_t>(name[0]) | static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 16;
}

bool read_address(std::string_view a, Test &t) {
  std::vector<std::string_view> parts;
  if (!a.empty() && a[0] == '.') {
    parts = split(a.substr(1), '.');
    uint32_t c = 0, s = 0;
    if (!number(parts[0], c) || (parts.size() > 1 && !number(parts[1], s)))
      return false;
    t.component = c, t.sub_component = s;
    return true;
  }
  const size_t dash = a.find('-');
  if (dash != 3)
    return false;
  t.segment = std::string(a.substr(0, 3));
  t.segment_word = name_word(t.segment);
  parts = split(a.substr(4), '.');
  if (!number(parts[0], t.field) ||
      (parts.size() > 1 && !number(parts[1], t.component)) ||
      (parts.size() > 2 && !number(parts[2], t.sub_component)))
    return false;
  return true;
}

// (An E or X test may name, after its values, the vocabulary that compares
// them, a name kept in `pending` until Maps::finish resolves it: see
// Test::vocabulary.)
bool read_condition(std::string_view text, Condition &condition,
                    std::vector<std::string> &pending) {
  std::vector<Test> &out = condition.tests;
  out.clear();
  if (text.empty())
    return true;
  for (std::string_view token : split(text, ' ')) {
    Test t;
    if (token == "&" || token == "|") {
      t.op = token[0];
      out.push_back(std::move(t));
      continue;
    }
    std::vector<std::string_view> parts = split(token, ':');
    if (parts.size() < 2 || parts[0].size() != 1 || !read_address(parts[1], t))
      return false;
    t.op = parts[0][0];
    t.version = t.segment == "MSH" && t.field == 12 && t.component == 1 && t.sub_component == 0;
    if (t.op == 'E' || t.op == 'X') {
      if (parts.size() != 3 && (parts.size() != 4 || parts[3].empty()))
        return false;
      for (std::string_view v : split(parts[2], ','))
        t.values.push_back(unescape(v));
      if (parts.size() == 4) {
        t.op = t.op == 'E' ? 'e' : 'x';
        t.vocabulary = -2 - static_cast<int32_t>(pending.size());
        pending.push_back(unescape(parts[3]));
      }
    } else if (t.op == 'C' || t.op == 'L' || t.op == 'M') {
      uint32_t n;
      if (parts.size() != 4 || !number(parts[3], n))
        return false;
      static constexpr std::pair<std::string_view, char> ops[] = {
          {"lt", '<'}, {"le", '('}, {"gt", '>'}, {"ge", ')'}, {"eq", '='}, {"ne", '!'}};
      for (auto [name, c] : ops)
        if (parts[2] == name)
          t.compare = c;
      if (!t.compare)
        return false;
      t.number = n;
    } else if (t.op != 'V' && t.op != 'N' && t.op != 'w' && t.op != 'K') {
      return false;
    }
    out.push_back(std::move(t));
  }
  return true;
}

// The parts of a joined value: addresses as in conditions, and texts
// after a quote ("'%20X": " X").
bool read_join(std::string_view text, std::vector<Test> &out) {
  for (std::string_view token : split(text, ' ')) {
    Test t;
    if (!token.empty() && token[0] == '\'') {
      t.op = '\'';
      t.values.push_back(unescape(token.substr(1)));
    } else if (t.op = 'A'; !read_address(token, t)) {
      return false;
    }
    out.push_back(std::move(t));
  }
  return !out.empty();
}

// The business keys of resource ids: the fields (of the segment that made
// the resource) whose values name it, as field, component and sub-component
// (0: the whole), and whether the patient's and the order's keys are part of
// it. A resource without a rule, or whose fields are all empty, is keyed by
// its message (MSH-10 with its sender and time: message_name()) and
// position. A key that gives way is replaced by
// that of a segment completing the resource which makes its own (the first
// IN1 keys the Coverage of PV1-20 as its own Coverage).
// A rule's `instead` names the field read in place of the fields' own where
// those are all empty (a patient identified by PID-2 alone, as 2.1 and 2.2
// senders do: the id is the one that number would give in PID-3).
struct KeyRule {
  std::string_view type, segment;
  uint32_t fields[4][3];
  bool patient, order;
  bool gives_way = false;
  uint32_t instead = 0;
};
constexpr KeyRule key_rules[] = {
    {"Patient", "PID", {{3, 1, 0}, {3, 4, 1}, {3, 4, 2}}, false, false, false, 2},
    {"Encounter", "PV1", {{19, 1, 0}, {19, 4, 1}}, true, false},
    {"Observation", "OBX", {{3, 1, 0}, {3, 3, 0}, {4, 0, 0}}, true, true},
    {"DiagnosticReport", "OBR", {{4, 1, 0}}, true, true},
    {"ServiceRequest", "OBR", {{4, 1, 0}}, true, true},
    {"ServiceRequest", "ORC", {}, true, true},
    {"Specimen", "SPM", {{2, 1, 0}, {2, 2, 0}}, true, true},
    // (an order's sample, which its preliminary and final results both
    // describe: keyed as its report is, until an SPM completing it names it)
    {"Specimen", "OBR", {{4, 1, 0}}, true, true, true},
    {"Immunization", "RXA", {{3, 0, 0}, {5, 1, 0}}, true, true},
    {"AllergyIntolerance", "AL1", {{3, 1, 0}, {3, 2, 0}}, true, false},
    // (an A60's IAM updates the allergy an AL1 sent: one allergen, one id)
    {"AllergyIntolerance", "IAM", {{3, 1, 0}, {3, 2, 0}}, true, false},
    {"Condition", "DG1", {{3, 1, 0}, {6, 0, 0}}, true, false},
    {"Procedure", "PR1", {{3, 1, 0}, {5, 0, 0}}, true, false},
    {"Coverage", "IN1", {{2, 1, 0}, {3, 1, 0}, {36, 0, 0}}, true, false},
    {"Coverage", "PV1", {{20, 0, 0}}, true, false, true},
    {"RelatedPerson", "NK1", {{2, 1, 0}, {2, 2, 0}, {3, 1, 0}}, true, false},
    {"Appointment", "SCH", {{1, 1, 0}, {2, 1, 0}}, false, false},
    {"DocumentReference", "TXA", {{12, 1, 0}, {12, 3, 0}}, true, false},
    {"MedicationRequest", "RXO", {}, true, true},
    {"MedicationRequest", "RXE", {}, true, true},
    {"Account", "PID", {{18, 1, 0}}, false, false},
    // (a merge's prior account is the Account PID-18 named while it was the
    // patient's: one id for one number)
    {"Account", "MRG", {{3, 1, 0}}, false, false},
};

} // namespace

std::optional<Error> Maps::read(std::string_view text) {
  size_t line_number = 0;
  Map *current = nullptr;
  Structure *structure = nullptr;
  Vocabulary *vocabulary = nullptr;
  auto fail = [&](std::string_view what) {
    return std::optional<Error>{Error{ErrorKind::value_error,
                 "FHIR maps line " + std::to_string(line_number) + ": " + std::string(what)}};
  };
  for (std::string_view line : split(text, '\n')) {
    ++line_number;
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string_view> f = split(line, '\t');
    const std::string_view tag = f[0];
    if (tag == "M" && f.size() == 2) {
      structure = nullptr;
      for (Structure &s : structures)
        if (s.name == f[1])
          structure = &s;
      if (!structure) {
        structures.push_back({std::string(f[1]), {}, {}});
        structure = &structures.back();
      }
    } else if (tag == "G" && (f.size() == 8 || (f.size() == 9 && f[8] == "new") ||
                              (f.size() == 10 && (f[8] == "new" || f[8].empty())))) {
      if (!structure)
        return fail("segment row outside a structure");
      SegmentRow row;
      row.segment = f[1], row.group = f[2], row.label = f[3], row.type = f[4];
      if (const size_t dot = row.group.rfind('.'); dot != std::string::npos)
        row.parent = static_cast<uint16_t>(dot + 1);
      row.makes = f.size() >= 9 && f[8] == "new";
      if (f.size() == 10) {
        const size_t colon = f[9].find(':');
        if (colon == std::string_view::npos || !number(f[9].substr(colon + 1), row.block) ||
            row.block == 0)
          return fail("unreadable block");
        row.opener = std::string(f[9].substr(0, colon));
      }
      row.map = -2 - static_cast<int32_t>(pending_.size());
      pending_.push_back(unescape(f[5]));
      if (!read_condition(f[6], row.condition, pending_))
        return fail("unreadable condition");
      if (!f[7].empty())
        for (std::string_view link : split(f[7], ';')) {
          std::vector<std::string_view> p = split(link, '=');
          Link l;
          if ((p.size() != 3 && p.size() != 4) || !read_path(p[1], l.path) || l.path.empty())
            return fail("unreadable reference");
          l.from = std::string(p[0]), l.to = std::string(p[2]);
          if (p.size() == 4) {
            // path:value,... below the list element of the path
            if (std::none_of(l.path.begin(), l.path.end(), [](const Step &s) { return s.slot; }))
              return fail("unreadable reference");
            for (std::string_view value : split(p[3], ',')) {
              const size_t colon = value.find(':');
              auto &[path, written] = l.values.emplace_back();
              if (colon == std::string_view::npos || !read_path(value.substr(0, colon), path) ||
                  path.empty())
                return fail("unreadable reference");
              written = unescape(value.substr(colon + 1));
            }
          }
          row.links.push_back(std::move(l));
        }
      structure->rows.push_back(std::move(row));
    } else if ((tag == "S" || tag == "D") &&
               (f.size() == 3 || (f.size() == 4 && (tag == "D" || f[3] == "=")))) {
      const std::string name = unescape(f[1]);
      auto it = map_names_.find(lower(name));
      if (it == map_names_.end()) {
        it = map_names_.emplace(lower(name), static_cast<int32_t>(maps.size())).first;
        maps.emplace_back();
      }
      current = &maps[static_cast<size_t>(it->second)];
      current->name = name;
      current->type = std::string(f[2]);
      current->resource = false;
      current->rows.clear();
      current->identity.clear();
      current->identity_name.clear();
      current->shares_element = tag == "S" && f.size() == 4;
      current->identity_if_first = tag == "D" && f.size() == 4 && f[3].starts_with('?');
      std::string_view identity = tag == "D" && f.size() == 4 ? f[3] : std::string_view();
      if (const size_t at = identity.find('@'); at != std::string_view::npos) {
        current->identity_name = unescape(identity.substr(at + 1));
        identity = identity.substr(0, at);
      }
      if (tag == "D" && f.size() == 4)
        for (std::string_view n : split(identity.substr(current->identity_if_first ? 1 : 0), '.')) {
          uint32_t component = 0;
          if (!number(n, component) || component == 0)
            return fail("unreadable identity");
          current->identity.push_back(component);
        }
    } else if (tag == "F" && (f.size() == 8 || f.size() == 9)) {
      if (!current)
        return fail("field row outside a map");
      Row row;
      const size_t dot = f[1].find('.');
      // "performer*2>PractitionerRole>organization": the references the row
      // goes through, each with the type it refers to, then its own path
      const std::vector<std::string_view> through = split(f[3], '>');
      if (!number(f[1].substr(0, dot), row.field) ||
          (dot != std::string_view::npos && (!number(f[1].substr(dot + 1), row.piece) ||
                                             row.piece == 0)) ||
          !read_condition(f[2], row.condition, pending_) || through.size() % 2 == 0 ||
          !read_path(through.back(), row.path) || f[4].size() != 1)
        return fail("unreadable field row");
      row.kind = f[4][0];
      row.each = !row.path.empty() && row.path[0].each;
      row.joins = std::any_of(row.path.begin(), row.path.end(),
                              [](const Step &step) { return step.joined; });
      row.whole = row.each || row.joins;
      row.map = -2 - static_cast<int32_t>(pending_.size());
      pending_.push_back(unescape(f[5]));
      row.vocabulary = -2 - static_cast<int32_t>(pending_.size());
      pending_.push_back(unescape(f[6]));
      row.constant = unescape(f[7]);
      row.has_constant = !f[7].empty();
      row.ssn_system = row.constant == "http://hl7.org/fhir/sid/us-ssn";
      if (f.size() == 9 && !read_join(f[8], row.join))
        return fail("unreadable join");
      for (size_t i = through.size() - 1; i > 1; i -= 2) {
        Row outer;
        outer.field = row.field, outer.piece = row.piece, outer.kind = '>';
        outer.referred = std::string(through[i - 1]);
        if (!read_path(through[i - 2], outer.path) || outer.path.empty() ||
            outer.referred.empty())
          return fail("unreadable field row");
        std::swap(outer.condition, row.condition); // decided once, before the references
        outer.inner.push_back(std::move(row));
        row = std::move(outer);
      }
      current->rows.push_back(std::move(row));
    } else if (tag == "V" && (f.size() == 2 || (f.size() == 3 && (f[2] == "fhir" || f[2] == "absent")))) {
      const std::string name = unescape(f[1]);
      auto it = vocabulary_names_.find(lower(name));
      if (it == vocabulary_names_.end()) {
        it = vocabulary_names_.emplace(lower(name), static_cast<int32_t>(vocabularies.size()))
                 .first;
        vocabularies.emplace_back();
      }
      vocabulary = &vocabularies[static_cast<size_t>(it->second)];
      vocabulary->name = name;
      vocabulary->fhirs = f.size() == 3 && f[2] == "fhir";
      vocabulary->absent = f.size() == 3 && f[2] == "absent";
      vocabulary->codes.clear();
      listed.resize(vocabularies.size());
      listed[static_cast<size_t>(it->second)].clear();
    } else if (tag == "C" && f.size() == 5) {
      if (!vocabulary)
        return fail("code outside a vocabulary");
      if (f[2].empty() && f[3].empty() && f[4].empty()) // (see Vocabulary::listed)
        listed[static_cast<size_t>(vocabulary - vocabularies.data())].push_back(unescape(f[1]));
      else
        vocabulary->codes.emplace(unescape(f[1]), Code{unescape(f[2]), unescape(f[3]),
                                                       unescape(f[4])});
    } else if (tag == "Z" && f.size() == 3) {
      int64_t from = 0, offset = 0;
      if (!signed_number(f[1], from) || !signed_number(f[2], offset) || offset < -14 * 60 ||
          offset > 14 * 60 || (!zone.empty() && from <= zone.back().first))
        return fail("unreadable zone line");
      zone.emplace_back(from, static_cast<int32_t>(offset));
    } else if (tag == "Q" && f.size() >= 2) {
      std::vector<std::string> &need = required[std::string(f[1])];
      need.clear();
      for (size_t i = 2; i < f.size(); ++i)
        need.emplace_back(f[i]);
    } else if (tag == "P" && f.size() >= 2) {
      std::vector<Link> &links = context[std::string(f[1])];
      links.clear();
      for (size_t i = 2; i < f.size(); ++i) {
        std::vector<std::string_view> p = split(f[i], '=');
        Link l;
        if (p.size() != 2 || !read_path(p[0], l.path) || l.path.empty())
          return fail("unreadable context link");
        l.to = std::string(p[1]);
        links.push_back(std::move(l));
      }
    } else if (tag == "X" && f.size() >= 3) {
      for (size_t i = 2; i < f.size(); ++i)
        choice_forms[std::string(f[i])] = std::string(f[1]);
    } else if (tag == "T" || tag == "N") {
      // the shapes of FHIR types and the notes of the package's maps, for
      // compiling a user's tables in Python
    } else if (tag == "A" && f.size() == 4) {
      defaults[std::string(f[1]) + "." + std::string(f[2])] = unescape(f[3]);
    } else if (tag == "U" && f.size() == 4) {
      absent[std::string(f[1]) + "." + std::string(f[2])] = unescape(f[3]);
    } else if (tag == "W" && f.size() >= 4) {
      Wanted w{std::string(f[1]), std::string(f[2]), std::string(f[3]), {}, {}, 0};
      for (size_t i = 4; i < f.size(); ++i)
        w.codes.push_back(unescape(f[i]));
      auto same_element = [&](const Wanted &o) { return o.type == w.type && o.element == w.element; };
      if (auto it = std::find_if(wanted.begin(), wanted.end(), same_element); it != wanted.end())
        *it = std::move(w);
      else
        wanted.push_back(std::move(w));
    } else {
      return fail("unknown line");
    }
  }
  return std::nullopt;
}

// The url slots of Maps::finish() for the rows of `m`. A map may give two
// extensions one slot of the tables' (PV2-8's planned start and PV2-38's
// mode of arrival both extension[1]): a row under a url row's extension
// takes the slot of the url row of its own field, when that extension has
// one, else of its first (matched by the paths as the tables give them).
void Maps::assign_extension_slots(Map &m) {
  struct Url {
    size_t row, depth; // the url row, and the index of its extension step
    uint16_t slot;
  };
  std::vector<Url> urls;
  for (size_t k = 0; k < m.rows.size(); ++k) {
    const std::vector<Step> &path = m.rows[k].path;
    const size_t n = path.size();
    if (n < 2 || !m.rows[k].has_constant || path[n - 1].name != "url" ||
        (path[n - 2].name != "extension" && path[n - 2].name != "modifierExtension") ||
        !path[n - 2].slot)
      continue;
    const auto slot = static_cast<uint16_t>(
        extension_slots_.emplace(m.rows[k].constant, 1000 + extension_slots_.size()).first->second);
    urls.push_back({k, n - 2, slot});
  }
  if (urls.empty())
    return;
  const std::vector<Row> given = m.rows; // the paths as the tables give them
  auto under = [&](const Row &row, const Url &u) {
    const std::vector<Step> &prefix = given[u.row].path;
    return row.path.size() > u.depth &&
           std::equal(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(u.depth) + 1,
                      row.path.begin(), [](const Step &a, const Step &b) {
                        return a.name == b.name && a.slot == b.slot;
                      });
  };
  for (size_t j = 0; j < m.rows.size(); ++j)
    for (size_t i = 0; i < urls.size(); ++i) {
      const Url &u = urls[i];
      // decided once for each depth, at the first url row of its extension
      if (!under(given[j], u) || std::any_of(urls.begin(), urls.begin() + static_cast<std::ptrdiff_t>(i),
                                             [&](const Url &v) {
                                               return v.depth == u.depth && under(given[j], v);
                                             }))
        continue;
      // of the url rows of this extension, the first of the row's field,
      // else the first
      const Url *chosen = &u;
      for (const Url &v : urls)
        if (v.depth == u.depth && under(given[j], v) && given[v.row].field == given[j].field) {
          chosen = &v;
          break;
        }
      m.rows[j].path[u.depth].slot = chosen->slot;
    }
}

void Maps::finish() {
  // names read before the maps they name were known resolve now; a name
  // without a map (a map to a primitive, or none) is -1
  auto resolve = [&](int32_t &index, bool vocabulary) {
    if (index > -2)
      return;
    const std::string &name = pending_[static_cast<size_t>(-2 - index)];
    index = vocabulary ? vocabulary_index(name) : map_index(name);
  };
  // the vocabularies e and x tests compare by (a name without one: E and
  // X), and their values' sizes
  auto resolve_tests = [&](Condition &c) {
    for (Test &t : c.tests)
      if (t.op == 'e' || t.op == 'x') {
        // "*" names no vocabulary: the values are compared without case
        // (codes of one spelling sent in any case: ED-2's "text", ED-4's
        // "base64")
        if (t.vocabulary <= -2 && pending_[static_cast<size_t>(-2 - t.vocabulary)] == "*") {
          t.vocabulary = -1;
        } else {
          resolve(t.vocabulary, true);
          if (t.vocabulary < 0)
            t.op = t.op == 'e' ? 'E' : 'X';
        }
        t.fold_sizes = 0;
        for (const std::string &v : t.values)
          t.fold_sizes |= uint32_t{1} << std::min<size_t>(v.size(), 31);
      }
    // a code sent in another case than the tables' is that code ("nm" is
    // NM, "BASE64" Base64, as e and x tests find codes): an E or X test
    // holds its values' upper- and lower-case forms too, after its own
    // (met first, as before); no two codes of the tables' tests differ in
    // case alone
    for (Test &t : c.tests)
      if ((t.op == 'E' || t.op == 'X') && !t.version)
        for (size_t i = 0, n = t.values.size(); i < n; ++i)
          for (const bool upper : {true, false}) {
            std::string v = t.values[i];
            for (char &ch : v)
              if (upper ? ch >= 'a' && ch <= 'z' : ch >= 'A' && ch <= 'Z')
                ch = static_cast<char>(upper ? ch - 'a' + 'A' : ch - 'A' + 'a');
            if (std::ranges::find(t.values, v) == t.values.end())
              t.values.push_back(std::move(v));
          }
  };
  for (Structure &s : structures)
    for (SegmentRow &row : s.rows) {
      resolve(row.map, false);
      resolve_tests(row.condition);
      row.reads_header = row.map >= 0 && row.segment != "MSH" &&
                         maps[static_cast<size_t>(row.map)].name.starts_with("MSH[");
    }
  // An extension is the one its url names, whichever map writes it: the
  // rows of a map under extension*N, whose url row gives it a url, take
  // that url's slot (numbered from 1000, above the tables' own), so that
  // two maps filling one resource (PID's mother's maiden name and PD1's
  // disability, both extension*1) fill two extensions, not one with two
  // urls' values, and two rows of one url one.
  for (Map &m : maps)
    assign_extension_slots(m);
  for (Map &m : maps) {
    m.resource = required.count(m.type) > 0;
    m.in_field_order = std::ranges::is_sorted(m.rows, {}, &Row::field);
    m.one_list = !m.shares_element && !m.rows.empty() && !m.rows[0].path.empty() &&
                 m.rows[0].path[0].slot != 0 &&
                 std::all_of(m.rows.begin(), m.rows.end(), [&](const Row &row) {
                   const Step &first = m.rows[0].path[0];
                   return !row.path.empty() && row.path[0].name == first.name &&
                          row.path[0].slot == first.slot;
                 });
    m.primitive_lists = std::any_of(m.rows.begin(), m.rows.end(), [](const Row &row) {
      return std::any_of(row.path.begin(), row.path.end(), [](const Step &step) {
        return step.slot != 0 && step.name.starts_with('_');
      });
    });
    // the fields its rows read, and those their joins read of the segment
    // (AIS-8, the units of AIS-7's duration)
    m.fields.reset();
    const std::string_view segment = std::string_view(m.name).substr(0, m.name.find('['));
    for (const Row &row : m.rows) {
      if (row.field < 256)
        m.fields.set(row.field);
      for (const Test &t : row.join)
        if (t.op == 'A' && t.field < 256 && t.segment == segment)
          m.fields.set(t.field);
    }
    m.fields.reset(0);
    static constexpr std::string_view primitive_types[] = {"DT", "DTM", "FT", "ID", "IS",
                                                           "NM", "SI", "ST", "TM", "TX"};
    m.primitive = std::ranges::find(primitive_types, segment) != std::end(primitive_types);
    for (Row &row : m.rows)
      for (Row *r = &row;; r = &r->inner[0]) { // a row and those within it
        resolve(r->map, false);
        resolve(r->vocabulary, true);
        resolve_tests(r->condition);
        if (r->inner.empty())
          break;
      }
    for (Row &row : m.rows)
      row.written_beside =
          row.vocabulary >= 0 && std::ranges::any_of(m.rows, [&](const Row &other) {
            return &other != &row && other.field == row.field &&
                   other.piece == row.piece && other.vocabulary < 0 && other.map < 0 &&
                   other.condition.empty() &&
                   !other.has_constant && other.inner.empty() && other.join.empty() &&
                   (other.kind == 'c' || other.kind == 's');
          });
    // a constant HL7 table's system beside a code read as sent: a row of
    // the same field and piece, of no vocabulary, data type map, constant
    // or join, writing the `code` beside its `system`
    for (Row &row : m.rows)
      row.table_system =
          row.has_constant && row.constant.starts_with(table_system_uri) && !row.path.empty() &&
          row.path.back().name == "system" && std::ranges::any_of(m.rows, [&](const Row &other) {
            return other.field == row.field && other.piece == row.piece && other.kind == 'c' &&
                   other.vocabulary < 0 && other.map < 0 && !other.has_constant &&
                   other.inner.empty() && other.join.empty() &&
                   other.path.size() == row.path.size() && other.path.back().name == "code" &&
                   std::equal(other.path.begin(), other.path.end() - 1, row.path.begin(),
                              [](const Step &a, const Step &b) {
                                return a.name == b.name && a.slot == b.slot;
                              });
          });
  }
  pending_.clear();
  // Map::constants, through the maps applied within (until nothing changes)
  for (Map &m : maps)
    m.constants = false;
  for (bool changed = true; changed;) {
    changed = false;
    for (Map &m : maps)
      for (const Row &row : m.rows)
        for (const Row *r = &row; !m.constants; r = &r->inner[0]) {
          if (r->has_constant ||
              (r->kind == 'O' && r->map >= 0 && maps[static_cast<size_t>(r->map)].constants))
            m.constants = changed = true;
          if (r->inner.empty())
            break;
        }
  }
  // (rebuilt for all: a copy of the maps holds views of the original's)
  for (Vocabulary &v : vocabularies) {
    v.few.clear();
    v.small = v.codes.size() <= 16;
    if (v.small) {
      for (const auto &[code, entry] : v.codes)
        v.few.push_back({code_word(code), &entry, code});
    } else {
      // a table of twice the codes or more, a power of two, each code at
      // the first free slot from code_slot()'s on (see Vocabulary::find())
      v.few.assign(std::bit_ceil(v.codes.size() * 2), {});
      const size_t mask = v.few.size() - 1;
      for (const auto &[code, entry] : v.codes)
        for (size_t i = code_slot(code, mask);; i = (i + 1) & mask)
          if (!v.few[i].entry) {
            v.few[i] = {code_word(code), &entry, code};
            break;
          }
    }
    // by lower case, where it names one code (a code of another case is
    // found by its own first)
    v.folded.clear();
    std::unordered_map<std::string, int> cases;
    for (const auto &[code, entry] : v.codes)
      ++cases[lower(code)];
    for (const auto &[code, entry] : v.codes)
      if (cases[lower(code)] == 1)
        v.folded.emplace(lower(code), &entry);
  }
  // A message without a structure of its own takes, for each segment, the
  // rows of the first structure that holds it, in the first group of that
  // structure that does (MDM_T02's NTE fills its order's ServiceRequest, not
  // also a DocumentReference, as in its document's group).
  fallback = {"", {}, {}};
  // the segments that make a resource in some table: a row of theirs fills
  // what no row of another segment before it fills (ORU's OBR its
  // DiagnosticReport where no ORC stands), or makes its own
  std::set<std::string> making;
  for (const Structure &s : structures)
    for (const SegmentRow &row : s.rows)
      if (row.map >= 0 &&
          (row.makes || std::none_of(s.rows.data(), &row, [&](const SegmentRow &before) {
             return before.map >= 0 && before.segment != row.segment && before.label == row.label;
           })))
        making.insert(row.segment);
  // whether `row`'s map writes an element its resource requires (an RXA's
  // vaccineCode: an Immunization of an RXA alone is one; a note alone is no
  // order, "occurrence" in occurrenceDateTime)
  auto writes_required = [&](const SegmentRow &row) {
    const auto need = required.find(row.type);
    if (need == required.end())
      return false;
    for (const Row &r : maps[static_cast<size_t>(row.map)].rows)
      for (const std::string &e : need->second)
        if (!r.path.empty() && r.path[0].name.starts_with(e) &&
            (r.path[0].name.size() == e.size() ||
             (r.path[0].name[e.size()] >= 'A' && r.path[0].name[e.size()] <= 'Z')))
          return true;
    return false;
  };
  // whether `segment`'s fields key resources of `type` (see KeyRule)
  auto keys = [](std::string_view segment, std::string_view type) {
    return std::ranges::any_of(key_rules, [&](const KeyRule &k) {
      return k.type == type && k.segment == segment && !k.gives_way;
    });
  };
  // gives `row` and its links naming its label `label` instead
  auto relabel = [](SegmentRow &row, const std::string &label) {
    for (Link &l : row.links) {
      if (l.from == row.label)
        l.from = label;
      if (l.to == row.label)
        l.to = label;
    }
    row.label = label;
  };
  std::vector<std::string> seen;
  // by segment: whether the first table holding it has it outside groups,
  // and that table
  std::map<std::string, bool> top_level;
  std::map<std::string, const Structure *> first_table;
  for (const Structure &s : structures) {
    std::vector<std::pair<std::string, std::string>> here; // segment, group
    for (const SegmentRow &row : s.rows) {
      // (a row without a map only says where a table maps a segment to
      // nothing: see rows_in())
      if (row.map < 0)
        continue;
      // (the message's Patient and Encounter are made whatever they hold:
      // a PD1 or PV2 ahead of PID or PV1 makes the one every resource
      // refers to)
      const bool fills_only =
          !row.makes && !keys(row.segment, row.type) && row.type != "Patient" &&
          row.type != "Encounter" &&
          std::any_of(s.rows.data(), &row, [&](const SegmentRow &before) {
            return before.map >= 0 && before.segment != row.segment && before.label == row.label &&
                   keys(before.segment, before.type);
          });
      // A segment whose rows in the first table holding it fill only (TQ1,
      // RXR: the order ORC or RXO makes) takes also the rows of later
      // tables filling resources of another type (VXU's RXR the route of
      // RXA's Immunization, SIU's TQ1 the timing of SCH's Appointment),
      // each holding for a segment that notes one of the segments filling
      // its resource before it there (see Engine::notes()).
      bool also = false;
      if (std::find(seen.begin(), seen.end(), row.segment) != seen.end()) {
        bool all = fills_only, typed = false;
        for (const SegmentRow &r : fallback.rows)
          if (r.segment == row.segment) {
            all = all && r.fills_only;
            typed = typed || r.type == row.type;
          }
        if (!all || typed)
          continue;
        also = true;
      }
      const auto first = std::find_if(here.begin(), here.end(),
                                      [&](const auto &h) { return h.first == row.segment; });
      if (first != here.end() && first->second != row.group)
        continue;
      SegmentRow copy = row;
      if (also) {
        for (const SegmentRow *before = s.rows.data(); before != &row; ++before)
          if (before->map >= 0 && before->segment != row.segment && before->label == row.label &&
              std::find(copy.after.begin(), copy.after.end(), before->segment) == copy.after.end())
            copy.after.push_back(before->segment);
        // it fills the resource under the label the fallback's rows of the
        // segment keying it give (VXU's NTE its Observation*2, which OBX
        // makes as ADT_A01's Observation*3 in a message without a table)
        for (const SegmentRow &maker : fallback.rows)
          if (maker.map >= 0 && maker.type == row.type && keys(maker.segment, maker.type) &&
              std::find(copy.after.begin(), copy.after.end(), maker.segment) != copy.after.end()) {
            relabel(copy, maker.label);
            break;
          }
      }
      // a note of a problem, in a PPR, is not its order's: the row of a
      // segment that makes nothing in any table and writes nothing its
      // resource requires, completing what segments before it in its group
      // make, holds after those segments alone
      const bool completes =
          !row.group.empty() && !making.contains(row.segment) && !writes_required(row) &&
          std::any_of(s.rows.data(), &row, [&](const SegmentRow &before) {
            return before.map >= 0 && before.segment != row.segment && before.label == row.label &&
                   before.group == row.group;
          });
      for (const SegmentRow &other : s.rows)
        if (completes && !also && other.map >= 0 && other.group == row.group &&
            other.segment != row.segment &&
            std::find(copy.after.begin(), copy.after.end(), other.segment) == copy.after.end())
          copy.after.push_back(other.segment);
      copy.fills_only = fills_only;
      copy.group.clear();
      copy.parent = 0;
      fallback.rows.push_back(std::move(copy));
      if (first == here.end())
        here.emplace_back(row.segment, row.group);
    }
    for (const auto &h : here) {
      if (std::find(seen.begin(), seen.end(), h.first) == seen.end()) {
        top_level.emplace(h.first, h.second.empty());
        first_table.emplace(h.first, &s);
      }
      seen.push_back(h.first);
    }
  }
  // A segment that the first table holding it places at the message's top
  // level (ADT_A01's DG1, of the patient and the stay) takes, where it
  // notes one of the segments before it in a later table's group that make
  // (and key) a resource its row refers to it from, that table's rows of
  // that group: a DG1 after an ORC or OBR is the order's reason (OML_O21,
  // ORM_O01); elsewhere it keeps the first table's rows. So does one that
  // its first table holds in a group of the patient's, nothing there
  // referring to what it makes (ADT_A01's OBX, an observation of the
  // patient): an OBX after an order's ORC or OBR is the order's
  // supportingInfo, under the label its first table gives it (which the
  // fallback's NTE of an Observation fills).
  auto patients = [&](const std::string &segment) {
    const Structure &t = *first_table[segment];
    auto own = [&](const std::string &label) {
      return std::any_of(t.rows.begin(), t.rows.end(), [&](const SegmentRow &r) {
        return r.segment == segment && r.map >= 0 && r.label == label;
      });
    };
    return std::none_of(t.rows.begin(), t.rows.end(), [&](const SegmentRow &r) {
      return std::any_of(r.links.begin(), r.links.end(),
                         [&](const Link &l) { return l.from != l.to && own(l.to); });
    });
  };
  std::vector<std::string> placed;
  // by segment: the segments after which its first table's rows do not hold
  std::map<std::string, std::vector<std::string>> unless;
  auto add = [](std::vector<std::string> &to, const std::string &segment) {
    if (std::find(to.begin(), to.end(), segment) == to.end())
      to.push_back(segment);
  };
  for (const Structure &s : structures)
    for (const SegmentRow &row : s.rows) {
      const auto top = top_level.find(row.segment);
      if (row.map < 0 || row.group.empty() || top == top_level.end() ||
          std::find(placed.begin(), placed.end(), row.segment) != placed.end())
        continue;
      if (!top->second && (first_table[row.segment] == &s || !patients(row.segment)))
        continue;
      std::vector<std::string> makers;
      for (const Link &link : row.links)
        if (link.to == row.label && link.from != row.label)
          for (const SegmentRow *before = s.rows.data(); before != &row; ++before)
            if (before->map >= 0 && before->segment != row.segment && before->label == link.from &&
                keys(before->segment, before->type) &&
                std::find(makers.begin(), makers.end(), before->segment) == makers.end())
              makers.push_back(before->segment);
      // (made so in a message without a table too: the fallback's rows of a
      // maker give the resource the label the row's link names; not the
      // message's Patient or Encounter, which every row refers to)
      auto names_label = [&](const SegmentRow &r) {
        return std::any_of(row.links.begin(), row.links.end(),
                           [&](const Link &l) { return l.to == row.label && l.from == r.label; });
      };
      if (std::none_of(makers.begin(), makers.end(), [&](const std::string &m) {
            return std::any_of(fallback.rows.begin(), fallback.rows.end(), [&](const SegmentRow &r) {
              return r.segment == m && r.type != "Patient" && r.type != "Encounter" &&
                     names_label(r);
            });
          }))
        continue;
      placed.push_back(row.segment);
      for (const std::string &m : makers)
        add(unless[row.segment], m);
      for (const SegmentRow &other : s.rows)
        if (other.map >= 0 && other.segment == row.segment && other.group == row.group) {
          SegmentRow copy = other;
          copy.after = makers;
          copy.in_group = true;
          for (const SegmentRow &own : first_table[row.segment]->rows)
            if (!top->second && own.segment == row.segment && own.map >= 0 &&
                own.type == copy.type && own.label != copy.label) {
              relabel(copy, own.label);
              break;
            }
          copy.group.clear();
          copy.parent = 0;
          fallback.rows.push_back(std::move(copy));
        }
    }
  // Such a segment that its first table also lists without a map in a
  // group of other segments (ADT_A01's ROL and PRT of a PR1's PROCEDURE,
  // PRT of an OBX's OBSERVATION) maps to nothing where it notes one of
  // them, as there: a procedure's surgeon is no participant of the stay
  // (the segment is reported).
  // (So does one noting a segment no row maps: a charge's FT1, a
  // problem's PRB, whose participants the tables give nowhere.)
  std::set<std::string> participants;
  for (const auto &[segment, table] : first_table)
    if (top_level[segment])
      for (const SegmentRow &r : table->rows)
        if (r.segment == segment && r.map < 0 && !r.group.empty())
          for (const SegmentRow &other : table->rows)
            if (other.map >= 0 && other.group == r.group && other.segment != segment) {
              add(unless[segment], other.segment);
              participants.insert(segment);
            }
  for (SegmentRow &base : fallback.rows) {
    if (const auto u = unless.find(base.segment); u != unless.end() && base.after.empty()) {
      base.after = u->second;
      base.unless = base.in_group = true;
      base.notes_mapped = participants.contains(base.segment);
    }
    base.immunization = base.type == "Immunization" ? 1 : 0;
  }
  auto leads = [](SegmentRow &row) {
    row.leads = row.type == "Specimen" && row.makes &&
                std::any_of(row.links.begin(), row.links.end(), [&](const Link &l) {
                  return l.to == row.label && l.from != row.label;
                });
  };
  for (SegmentRow &row : fallback.rows)
    leads(row);
  for (Structure &s : structures)
    for (SegmentRow &row : s.rows)
      leads(row);
  result_specimen = Link{};
  for (const Structure &s : structures)
    for (const SegmentRow &row : s.rows)
      for (const Link &l : row.links)
        if (result_specimen.path.empty() && row.type == "Observation" && l.from == row.label &&
            l.to.starts_with("Specimen*") && l.path.size() == 1 && l.path[0].name == "specimen")
          result_specimen = l;
  // VXU_V04's ORC of the Immunization: the order group's first segment
  // makes it, which its RXA completes (a history's ORC holds its
  // identifiers); the segment's other rows (MDM_T02's ServiceRequest) hold
  // outside a history
  for (const Structure &s : structures)
    for (const SegmentRow &row : s.rows)
      if (row.map >= 0 && row.type == "Immunization" && row.makes &&
          std::none_of(fallback.rows.begin(), fallback.rows.end(), [&](const SegmentRow &r) {
            return r.segment == row.segment && r.immunization == 1;
          })) {
        for (SegmentRow &other : fallback.rows)
          if (other.segment == row.segment)
            other.immunization = -1;
        SegmentRow copy = row;
        copy.immunization = 1;
        copy.group.clear();
        copy.parent = 0;
        fallback.rows.push_back(std::move(copy));
        // so are the group's segments that the Immunization refers to (its
        // PRT, the administering provider: performer), where the fallback
        // has them after that ORC as another table's (OML_O21's requester):
        // in a history they are the Immunization's, elsewhere the order's
        auto after_maker = [&](const SegmentRow &r) {
          return !r.unless && r.immunization == 0 &&
                 std::find(r.after.begin(), r.after.end(), row.segment) != r.after.end();
        };
        for (const SegmentRow &other : s.rows) {
          if (other.map < 0 || other.group != row.group || other.segment == row.segment ||
              std::none_of(other.links.begin(), other.links.end(), [&](const Link &l) {
                return l.from == row.label && l.to == other.label;
              }))
            continue;
          bool placed_after = false;
          for (SegmentRow &r : fallback.rows)
            if (r.segment == other.segment && after_maker(r)) {
              r.immunization = -1;
              placed_after = true;
            }
          if (!placed_after && std::none_of(fallback.rows.begin(), fallback.rows.end(),
                                            [&](const SegmentRow &r) {
                                              return r.segment == other.segment &&
                                                     r.immunization == 1;
                                            }))
            continue;
          SegmentRow own = other;
          own.after = {row.segment};
          own.in_group = true;
          own.immunization = 1;
          own.group.clear();
          own.parent = 0;
          fallback.rows.push_back(std::move(own));
        }
      }
  auto index = [](Structure &s) {
    s.by_segment.clear();
    for (uint32_t i = 0; i < s.rows.size(); ++i)
      s.by_segment[s.rows[i].segment].push_back(i);
  };
  for (Structure &s : structures)
    index(s);
  index(fallback);
  required_by_name.clear();
  for (const auto &[name, elements] : required)
    if (!name.empty() && name[0] == '~')
      required_by_name.emplace_back(name.substr(1), elements);

  // element names interned: those of rows, links, defaults and the engine's own
  auto steps = [&](std::vector<Step> &path) {
    for (Step &step : path)
      step.id = intern(step.name);
  };
  // whether a condition is all of its tests: '&' alone joins them, and the
  // program leaves one value on a stack of at most 32 (the engine's)
  auto all_of = [](Condition &c) {
    size_t depth = 0;
    c.all = !c.empty();
    for (const Test &t : c.tests) {
      if (t.op == '|' || (t.op == '&' && depth < 2) || (t.op != '&' && depth == 32)) {
        c.all = false;
        return;
      }
      depth = t.op == '&' ? depth - 1 : depth + 1;
    }
    c.all = c.all && depth == 1;
  };
  for (Structure &s : structures)
    for (SegmentRow &row : s.rows)
      all_of(row.condition);
  for (SegmentRow &row : fallback.rows)
    all_of(row.condition);
  // whether the first test of a condition must hold for it to hold: only
  // '&' joins it to the rest (SN's Range rows: OBX-2 is "SN" and ... and
  // (OBX-5.1 is empty or "=")); the program is read on a stack of whether
  // each value holds the first test so
  auto first_must_hold = [](const Condition &c) {
    bool stack[32];
    size_t n = 0;
    for (size_t i = 0; i < c.tests.size(); ++i) {
      const char op = c.tests[i].op;
      if (op == '&' || op == '|') {
        if (n < 2)
          return false;
        const bool b = stack[--n], a = stack[--n];
        stack[n++] = op == '&' && (a || b);
      } else if (n == 32) {
        return false;
      } else {
        stack[n++] = i == 0;
      }
    }
    return n == 1 && stack[0];
  };
  std::unordered_map<std::string, uint32_t> places; // of the gates
  auto short_words = [](Test &t) {
    t.words.clear();
    if (std::all_of(t.values.begin(), t.values.end(),
                    [](const std::string &v) { return fits_word(v); }))
      for (const std::string &v : t.values)
        t.words.push_back(short_word(v));
  };
  auto plain = [](const Row &row) {
    return std::string_view(">UPRO").find(row.kind) == std::string_view::npos && row.join.empty() &&
           !row.has_constant;
  };
  // (Row::as_before)
  auto same_tests = [](const Condition &a, const Condition &b) {
    return std::ranges::equal(a.tests, b.tests, [](const Test &x, const Test &y) {
      return x.op != 'w' && x.op == y.op && x.segment == y.segment && x.field == y.field &&
             x.component == y.component && x.sub_component == y.sub_component &&
             x.values == y.values && x.compare == y.compare && x.number == y.number &&
             x.vocabulary == y.vocabulary;
    });
  };
  for (Map &m : maps) {
    const std::string_view segment = std::string_view(m.name).substr(0, m.name.find('['));
    for (Row &row : m.rows) {
      steps(row.path);
      all_of(row.condition);
      row.plain = plain(row);
      row.as_before = !m.resource && &row != &m.rows[0] && !row.condition.empty() &&
                      (&row)[-1].field == row.field && same_tests((&row)[-1].condition, row.condition);
      row.takes = row.field - 1 < 32 ? 1u << (row.field - 1) : 0;
      for (const Test &t : row.join)
        if (t.op == 'A' && t.segment.empty() && t.sub_component == 0 && t.component - 1 < 32)
          row.takes |= 1u << (t.component - 1);
      for (Row *r = &row; !r->inner.empty();) {
        r = &r->inner[0];
        steps(r->path);
        r->plain = plain(*r);
      }
      // a condition whose first test must hold, an E test of another field
      // of a segment: that test decides first (see the engine); one of a
      // component of the row's own field, in its words, decides on each
      // repetition (MSH-1 and MSH-2 are read whole: not those)
      row.gate = row.own = -1;
      row.twin = -1;
      for (size_t i = 0; i < row.condition.tests.size() && row.field != 0; ++i)
        if (const Test &t = row.condition.tests[i];
            (row.condition.all || row.condition.tests.size() == 1) && t.op == 'N' &&
            !t.segment.empty() && t.segment != segment && t.field != 0 && t.component == 0 &&
            !t.version && row.twin < 0)
          row.twin = static_cast<int16_t>(i);
      if (row.field != 0 && first_must_hold(row.condition)) {
        Test &t = row.condition.tests[0];
        if (t.op == 'E' && t.segment == segment && t.field == row.field && t.component != 0 &&
            t.sub_component == 0 && (segment != "MSH" || row.field > 2)) {
          short_words(t);
          if (!t.words.empty())
            row.own = 0;
        } else if (t.op == 'E' && !t.segment.empty() && t.field != row.field) {
          row.gate = 0;
          const std::string place = t.segment + "-" + std::to_string(t.field) + "." +
                                    std::to_string(t.component) + "." +
                                    std::to_string(t.sub_component);
          t.place = places.emplace(place, static_cast<uint32_t>(places.size() + 1)).first->second;
          short_words(t);
        }
      }
    }
  }
  // the 'R' rows whose reference element may be written before them
  // (Row::meets)
  for (Map &m : maps)
    for (Row &row : m.rows) {
      if (row.kind != 'R' || row.path.empty())
        continue;
      auto same_path = [&](const Row &other) {
        return &other != &row && other.path.size() == row.path.size() &&
               std::equal(row.path.begin(), row.path.end(), other.path.begin(),
                          [](const Step &a, const Step &b) {
                            return a.id == b.id && a.slot == b.slot;
                          });
      };
      row.meets = std::any_of(m.rows.begin(), m.rows.end(), same_path) ? 2
                  : std::none_of(row.path.begin(), row.path.end(),
                                 [](const Step &step) { return step.slot != 0; })
                      ? 1
                      : 0;
    }
  // the 'O' rows of segment maps whose element another segment's map fills
  // in the same type of resource (Row::met_across)
  {
    std::vector<bool> of_segment(maps.size());
    for (const Structure *s : {&fallback}) // (the fallback holds every mapped segment)
      for (const SegmentRow &row : s->rows)
        if (row.map >= 0)
          of_segment[static_cast<size_t>(row.map)] = true;
    auto single = [](const Row &row) {
      return row.kind == 'O' && row.map >= 0 && !row.path.empty() &&
             std::none_of(row.path.begin(), row.path.end(), [](const Step &s) { return s.slot; });
    };
    auto segment_of = [](const Map &m) { return std::string_view(m.name).substr(0, m.name.find('[')); };
    for (Map &m : maps)
      for (Row &row : m.rows)
        row.one_element = single(row);
    for (size_t a = 0; a < maps.size(); ++a)
      for (size_t b = 0; b < maps.size(); ++b) {
        if (!of_segment[a] || !of_segment[b] || maps[a].type != maps[b].type ||
            segment_of(maps[a]) == segment_of(maps[b]))
          continue;
        for (Row &row : maps[a].rows)
          if (single(row))
            row.met_across = row.met_across ||
                             std::any_of(maps[b].rows.begin(), maps[b].rows.end(), [&](const Row &other) {
                               return single(other) && other.path.size() == row.path.size() &&
                                      std::equal(row.path.begin(), row.path.end(), other.path.begin(),
                                                 [](const Step &x, const Step &y) { return x.id == y.id; });
                             });
      }
  }
  // the runs of rows whose gates read one place, of 4 rows and more
  for (Map &m : maps) {
    m.switches.clear();
    auto place = [&](size_t i) {
      const Row &row = m.rows[i];
      return row.gate < 0 ? 0u : row.condition.tests[static_cast<size_t>(row.gate)].place;
    };
    for (size_t k = 0; k < m.rows.size();) {
      const uint32_t at = place(k);
      size_t end = k + 1;
      while (at != 0 && end < m.rows.size() && place(end) == at)
        ++end;
      if (at != 0 && end - k >= 4) {
        Map::Switch &run = m.switches.emplace_back();
        run.begin = static_cast<uint32_t>(k);
        run.end = static_cast<uint32_t>(end);
        std::map<uint64_t, std::vector<uint32_t>> by_word;
        for (size_t i = k; i < end; ++i) {
          const Test &g = m.rows[i].condition.tests[static_cast<size_t>(m.rows[i].gate)];
          if (g.words.empty())
            run.others.push_back(static_cast<uint32_t>(i));
          for (uint64_t w : g.words)
            by_word[w].push_back(static_cast<uint32_t>(i));
        }
        for (auto &[w, rows] : by_word) {
          rows.insert(rows.end(), run.others.begin(), run.others.end());
          std::sort(rows.begin(), rows.end());
          rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
          run.words.push_back(w);
          run.rows.push_back(std::move(rows));
        }
      }
      k = end;
    }
  }
  // labels numbered, so that the engine keeps the latest resource of each
  // in a vector
  auto label = [&](const std::string &text) {
    auto [it, added] = label_ids_.emplace(text, static_cast<uint32_t>(label_ids_.size()));
    return it->second;
  };
  // (fillers of a resource that a segment outside any group makes, in a
  // structure of the tables: one message, one such resource; not those of
  // the fallback, whose rows stand in no group)
  auto rows = [&](Structure &s, bool fillers) {
    for (SegmentRow &row : s.rows) {
      row.filler = fillers && !row.makes && row.map >= 0 &&
                   std::any_of(s.rows.data(), &row, [&](const SegmentRow &before) {
                     return before.label == row.label && before.segment != row.segment &&
                            before.map >= 0 && before.group.empty();
                   });
      row.label_id = label(row.label);
      for (Link &l : row.links) {
        steps(l.path);
        for (auto &[path, text] : l.values)
          steps(path);
        l.from_id = label(l.from);
        l.to_id = label(l.to);
      }
    }
  };
  rows(fallback, false);
  for (Structure &s : structures)
    rows(s, true);
  label_count = static_cast<uint32_t>(label_ids_.size());
  steps(result_specimen.path);
  for (auto &[type, links] : context)
    for (Link &l : links)
      steps(l.path);
  // the names a default writes: a choice's form ("name|...") and the
  // members' paths
  auto default_names = [&](std::string_view v) {
    const size_t bar = v.find('|');
    if (bar != std::string_view::npos && bar < v.find('=')) {
      intern(v.substr(0, std::min(bar, v.find('*'))));
      v.remove_prefix(bar + 1);
    }
    if (v.find('=') != std::string_view::npos)
      for (std::string_view member : split(v, '&'))
        for (std::string_view step : split(member.substr(0, member.find('=')), '.'))
          intern(step.substr(0, step.find('*'))); // (a list's slot: "extension*1.url")
  };
  member_defaults.clear();
  for (const auto &[element, value] : defaults) {
    // "Type.name", or "Type.a.name" for a member of an element
    const uint32_t id = intern(std::string_view(element).substr(element.rfind('.') + 1));
    if (element.find('.') != element.rfind('.'))
      member_defaults.push_back(id);
    default_names(value);
  }
  for (const auto &[element, value] : absent) {
    intern(std::string_view(element).substr(element.rfind('.') + 1));
    default_names(value);
  }
  for (Wanted &w : wanted) {
    intern(w.element);
    w.unless_id = intern(w.unless);
  }
  // the names a code its vocabulary lacks is written under
  // (Vocabulary::absent: "_system.extension*1.url")
  for (const Map &m : maps)
    for (const Row &row : m.rows)
      for (const Row *r = &row;; r = &r->inner[0]) {
        if (r->vocabulary >= 0 && vocabularies[static_cast<size_t>(r->vocabulary)].absent &&
            !r->path.empty()) {
          intern("_" + r->path.back().name);
          for (std::string_view name : {"extension"sv, "url"sv, "valueCode"sv})
            intern(name);
        }
        if (r->inner.empty())
          break;
      }
  auto own = [&](Step &step, std::string_view name, uint16_t slot) {
    step = Step{std::string(name), slot, false, intern(name)};
  };
  own(reference_step, "reference", 0);
  own(coding_step, "coding", 1);
  own(system_step, "system", 0);
  own(code_step, "code", 0);
  own(display_step, "display", 0);
  identifier_id = intern("identifier");
  value_id = intern("value");
  start_id = intern("start");
  end_id = intern("end");
  unit_id = intern("unit");
  assigner_id = intern("assigner");
  type_id = intern("type");
  // what elements require, resolved to name ids (the names are all known now)
  needs.clear();
  type_needs.clear();
  // an element required, or one of several ("value|extension": an
  // extension has a value or extensions of its own)
  auto need = [&](const std::vector<std::string> &elements) {
    Needs list;
    for (const std::string &element : elements) {
      Need &n = list.emplace_back(Need{element, {}});
      for (std::string_view one : split(element, '|')) {
        const std::vector<uint32_t> ids = forms(one);
        n.forms.ids.insert(n.forms.ids.end(), ids.begin(), ids.end());
      }
    }
    needs.push_back(std::move(list));
    return static_cast<uint32_t>(needs.size() - 1);
  };
  for (auto &[type, links] : context)
    for (Link &l : links)
      l.forms.ids = forms(l.path[0].name);
  name_required.assign(names.size(), -1);
  name_checked.assign(names.size(), {});
  for (const auto &[name, elements] : required_by_name)
    if (uint32_t id = name_id(name))
      name_required[id] = static_cast<int32_t>(need(elements));
  for (const auto &[path, elements] : required) {
    if (path.empty() || path[0] == '~')
      continue;
    const size_t dot = path.find('.');
    if (dot == std::string::npos) {
      type_needs[path] = need(elements);
      continue;
    }
    CheckedPath checked{path.substr(0, dot), {}, 0};
    bool known = true;
    for (std::string_view step : split(std::string_view(path).substr(dot + 1), '.')) {
      const uint32_t id = name_id(step);
      known = known && id != 0;
      checked.keys.push_back(id);
    }
    if (!known) // an element no row writes is never met
      continue;
    checked.needs = need(elements);
    name_checked[checked.keys.back()].push_back(std::move(checked));
  }
  for (size_t id = 0; id != name_required.size(); ++id) // -1: no element of the name required
    if (name_required[id] == -1 && !name_checked[id].empty())
      name_required[id] = -2;
  // each resource type resolved where rows and maps name it
  auto type_rules = [&](const std::string &type) {
    ascii_names = ascii_names && all_ascii(type);
    TypeRules rules;
    if (auto it = type_needs.find(type); it != type_needs.end())
      rules.needs = static_cast<int32_t>(it->second);
    if (auto it = context.find(type); it != context.end())
      rules.context = &it->second;
    rules.primitive_lists = std::any_of(maps.begin(), maps.end(), [&](const Map &m) {
      return m.primitive_lists && m.type == type;
    });
    rules.wanted = std::any_of(wanted.begin(), wanted.end(),
                               [&](const Wanted &w) { return w.type == type; });
    rules.one_per_identifier = one_when_alike(type) || type == "Patient";
    return rules;
  };
  for (Map &m : maps) {
    m.rules = type_rules(m.type);
    for (Row &row : m.rows)
      for (Row *r = &row; !r->inner.empty(); r = &r->inner[0])
        r->referred_rules = type_rules(r->referred);
  }
  auto segment_rows = [&](Structure &s) {
    for (SegmentRow &row : s.rows) {
      row.rules = type_rules(row.type);
      row.key_rule = -1;
      for (size_t i = 0; i < std::size(key_rules) && row.key_rule < 0; ++i)
        if (key_rules[i].type == row.type && key_rules[i].segment == row.segment)
          row.key_rule = static_cast<int32_t>(i);
    }
  };
  segment_rows(fallback);
  for (Structure &s : structures)
    segment_rows(s);
  // the choice elements' forms by name id (the names are all known now)
  choice_of.assign(names.size(), 0);
  std::unordered_map<std::string, uint32_t> choices;
  for (const auto &[form, element] : choice_forms)
    if (const uint32_t id = name_id(form))
      choice_of[id] = choices.emplace(element, static_cast<uint32_t>(choices.size() + 1))
                          .first->second;
  name_notes.assign(names.size(), 0);
  for (size_t id = 0; id != names.size(); ++id)
    name_notes[id] = static_cast<uint8_t>((name_required[id] != -1 ? 1 : 0) | (choice_of[id] ? 2 : 0));
  for (Needs &list : needs)
    for (Need &n : list)
      n.forms.make_bits();
  for (Wanted &w : wanted) {
    w.forms.ids = forms(w.element);
    w.forms.make_bits();
  }
  for (auto &[type, links] : context)
    for (Link &l : links)
      l.forms.make_bits();
}

const Code *Vocabulary::find(std::string_view code) const {
  const uint64_t word = code_word(code);
  auto is = [&](const Entry &e) {
    return e.word == word && (word != UINT64_MAX || same(e.text, code));
  };
  if (small) {
    for (const Entry &e : few)
      if (is(e))
        return e.entry;
  } else {
    // (the table Maps::finish built, searched from the code's slot to the
    // first free one: no division and no call, as a hash map's search has)
    const size_t mask = few.size() - 1;
    for (size_t i = code_slot(code, mask); few[i].entry; i = (i + 1) & mask)
      if (is(few[i]))
        return few[i].entry;
  }
  return folded.empty() ? nullptr : find_folded(code);
}

bool Maps::lists(const Vocabulary &v, std::string_view code) const {
  const size_t at = static_cast<size_t>(&v - vocabularies.data());
  return at < listed.size() &&
         std::ranges::any_of(listed[at], [&](const std::string &c) { return same_folded(c, code); });
}

const Code *Vocabulary::find_folded(std::string_view code) const {
  auto it = folded.find(lower(code));
  return it == folded.end() ? nullptr : it->second;
}

uint32_t Maps::intern(std::string_view name) {
  if (names.empty()) {
    names.emplace_back();
    name_keys.emplace_back(",");
    key_blocks.push_back({{','}, 1});
  }
  auto [it, added] = name_ids_.emplace(std::string(name), static_cast<uint32_t>(names.size()));
  if (added) {
    names.emplace_back(name);
    ascii_names = ascii_names && all_ascii(name);
    std::string key;
    append_json_string(key, name);
    name_keys.push_back("," + key + ":");
    longest_key = std::max(longest_key, name_keys.back().size());
    KeyBlock &block = key_blocks.emplace_back();
    if (name_keys.back().size() <= 32) {
      std::memcpy(block.text, name_keys.back().data(), name_keys.back().size());
      block.size = static_cast<uint8_t>(name_keys.back().size());
    }
  }
  return it->second;
}

// The data types a choice element (value[x]) takes, as their names end
// its forms ("valueQuantity"): a name is a form of an element only with
// one of them after it, so "statusReason" does not hold "status", nor
// "classHistory" "class".
constexpr std::string_view choice_types[] = {
    "Address", "Age", "Annotation", "Attachment", "Base64Binary", "Boolean", "Canonical", "Code",
    "CodeableConcept", "CodeableReference", "Coding", "ContactDetail", "ContactPoint",
    "Contributor", "Count", "DataRequirement", "Date", "DateTime", "Decimal", "Distance",
    "Dosage", "Duration", "Expression", "HumanName", "Id", "Identifier", "Instant", "Integer",
    "Integer64", "Markdown", "Meta", "Money", "Oid", "ParameterDefinition", "Period",
    "PositiveInt", "Quantity", "Range", "Ratio", "RatioRange", "Reference", "RelatedArtifact",
    "SampledData", "Signature", "String", "Time", "Timing", "TriggerDefinition", "UnsignedInt",
    "Uri", "Url", "UsageContext", "Uuid"};

std::vector<uint32_t> Maps::forms(std::string_view element) const {
  std::vector<uint32_t> out;
  for (uint32_t id = 1; id < names.size(); ++id) {
    std::string_view key = names[id];
    // a primitive's extensions without its value hold it ("_recorded": a
    // data-absent-reason where FHIR requires the element)
    if (key == element || (key.size() == element.size() + 1 && key[0] == '_' && key.ends_with(element)) ||
        (key.starts_with(element) &&
         std::find(std::begin(choice_types), std::end(choice_types),
                   key.substr(element.size())) != std::end(choice_types)))
      out.push_back(id);
  }
  return out;
}

uint32_t Maps::name_id(std::string_view name) const {
  auto it = name_ids_.find(std::string(name));
  return it == name_ids_.end() ? 0 : it->second;
}

const Structure *Maps::structure(std::string_view name) const {
  for (const Structure &s : structures)
    if (s.name == name)
      return &s;
  return nullptr;
}

const Structure *Maps::table(std::string_view type, std::string_view event,
                             std::string_view structure_name) const {
  if (!type.empty() && !event.empty()) {
    const std::string name = std::string(type) + "_" + std::string(event);
    if (const Structure *s = structure(name))
      return s;
  }
  if (const Structure *s = structure(structure_name))
    return s;
  // the one table of the message's type (ORU_R01 for an ORU^R30): its
  // rows by group (a fallback's by the first group holding a segment would
  // make an R30's results ORU_R01's patient observations)
  const Structure *only = nullptr;
  for (const Structure &s : structures)
    if (!type.empty() && s.name.size() > type.size() && s.name.compare(0, type.size(), type) == 0 &&
        s.name[type.size()] == '_') {
      if (only)
        return nullptr;
      only = &s;
    }
  return only;
}

int32_t Maps::map_index(std::string_view name) const {
  auto it = map_names_.find(lower(name));
  return it == map_names_.end() ? -1 : it->second;
}

int32_t Maps::vocabulary_index(std::string_view name) const {
  auto it = vocabulary_names_.find(lower(name));
  return it == vocabulary_names_.end() ? -1 : it->second;
}

// ---- the engine ------------------------------------------------------------

namespace {

// A value a row reads: a field repetition (level 0, cut into components), a
// component (1, cut into sub-components) or a sub-component (2).
struct Value {
  std::string_view text;
  int level = 0;
};

constexpr uint32_t none = UINT32_MAX;

// What a thread keeps of a conversion's storage for the next, a container
// at most: a report of thousands of results (its elements, texts, output)
// reuses its storage rather than having it mapped and unmapped, and so
// faulted in again, at every conversion (twice its time); larger storage is
// freed once the conversion ends.
constexpr size_t kept_bytes = size_t{8} << 20;

// An element of a resource. The nodes of all a conversion's resources live
// in one vector and their values in one text, so a bundle of thousands of
// elements costs a few allocations; children are a list in the order made.
struct Node {
  uint32_t key = 0; // Maps::names
  uint32_t rep = 0;
  uint32_t target = 0;            // 'r': the resource referred to
  uint32_t value = 0, size = 0;   // 's', 'n': the text, in Engine::text_
  uint32_t first = none, last = none, next = none;
  uint32_t parent = none;
  // a bit (name id % 32) for the names of its members: a name whose bit
  // is clear has none, and the search for it (a list's walk) is skipped
  uint32_t names = 0;
  uint16_t slot = 0;
  char kind = 'o'; // 'o' object, 's' string, 'n' number or boolean, 'r' reference, 'x' dead
  // an earlier member of its parent has its name (it is written with the
  // first), a later one has (the first is a list's head), noted as made
  bool named_before = false, named_after = false;
  // a member of its parent is a form of the same choice element (see
  // other_form_before()), noted as made
  bool rival = false;
  // its members are found through a table (Engine::index_members())
  bool indexed = false;
};

// A text's place in a buffer that grows (a view would not stay valid).
struct TextPlace {
  uint32_t at = 0, size = 0;
};

// What a resource holds of the message (see Engine::holds()). (In this
// order: Engine::drop_hollow() asks again of what is past holds_value.)
enum Holds : uint8_t { not_asked, holds_value, holds_unknown, holds_references, holds_nothing };

struct Resource {
  std::string_view type;
  std::string_view segment_name;
  uint32_t segment = 0;
  uint32_t group = 0; // the group occurrence of the segment that made it
  uint32_t written = 0; // that of the latest segment whose row took it
  // the names of the segments (Named::index; 63 for those past it) that
  // filled it, if another made it
  uint64_t filled = 0;
  uint32_t label = UINT32_MAX; // the row's label it was made for (none: made from a value)
  uint32_t root = 0; // its node
  TextPlace key; // its id's business key, in Engine::key_text_
  // of a value: the map that made it, and, of a map keyed by some
  // components, the value that made it (in Engine::key_text_; see
  // Engine::complete() and Engine::other_map())
  const Map *made_by = nullptr;
  TextPlace made_of;
  bool keyed = false; // by a rule's fields, not by the message and position
  bool patient_later = false; // its key awaits the Patient's (made before any)
  char id_text[36] = {}; // set by Engine::finish
  std::string_view id() const { return {id_text, sizeof id_text}; }
  uint32_t patient = UINT32_MAX, encounter = UINT32_MAX; // latest when made
  TypeRules rules;
  bool dropped = false;
  // made for a reference (Engine::add_referred()), keyed by the resource
  // referring to it
  bool by_reference = false;
  // dropped as it held nothing of the message (Engine::holds())
  bool hollow = false;
  // dropped as alike another one made for a reference, or another patient
  // or stay of its key, which stands for it (Engine::merge_alike_referred(),
  // Engine::merge_alike_named_again())
  bool alike = false;
  // of one made of a value (made for a reference, or by a value's map):
  // the field of its segment holding the value, reported where nothing
  // refers to it at the end (Engine::drop_orphans())
  uint16_t field = 0;
  // made of a value by a row that refers to it from nowhere (PID-21's
  // mother, a RelatedPerson of the Patient): it stands by itself
  bool alone = false;
  // kept apart from another of its type that holds an identifier it holds
  // (Engine::identified_apart()): such an identifier is no condition of its
  // transaction entry (Engine::held_by_another())
  bool apart = false;
  // what Engine::holds() found it holds when last asked (not_asked: a
  // resource it is not asked of, the message's patient, stay, header or
  // provenance: Engine::anchor()), and the resources dropped by then (see
  // Engine::drop_hollow())
  Holds holds = not_asked;
  uint32_t holds_drops = 0;
  bool pruned = false, requiring = false; // see Engine::finish
  bool pruning_changed = false, needs_met = false;
  uint32_t drops_seen = 0, needs_drops = 0;
  // the last of its elements that may require another (Engine::checked_)
  uint32_t last_checked = none;
};

struct PathItem {
  const Step *step;
  uint32_t rep;
};

// The text being written, in a buffer of its own that each write makes
// room in first (std::string's appends are calls that check and grow at
// every piece, and its resize fills what it adds), or that a writer made
// room in for a whole run of writes (reserve()).
class Out {
public:
  explicit Out(size_t capacity = 0)
      : data_(capacity ? new char[capacity] : nullptr), capacity_(capacity) {}

  size_t size() const { return size_; }
  const char *data() const { return data_.get(); }
  size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_.get(), size_}; }
  void clear() { size_ = 0; }
  // Takes back what was written past `size`.
  void truncate(size_t size) { size_ = size; }
  // Frees the storage when it is larger than `keep` bytes.
  void release_above(size_t keep) {
    if (capacity_ > keep) {
      data_.reset(new char[0]);
      capacity_ = size_ = 0;
    }
  }
  [[gnu::always_inline]] void put(char c) {
    room(1);
    add(c);
  }
  [[gnu::always_inline]] void put(std::string_view text) {
    room(text.size());
    add(text);
  }
  // Room for `n` more bytes, for a writer that writes at end() and then
  // moves the end (set_end()), with `slack` bytes beyond them (fixed-size
  // moves write past their end).
  void reserve(size_t n) { room(n + slack); }
  static constexpr size_t slack = 32;
  char *end() { return data_.get() + size_; }
  void set_end(char *end) { size_ = static_cast<size_t>(end - data_.get()); }
  // `text`, with room for json_string_read_ahead bytes after it: a reader
  // of a piece may read that far past its end (write_json_string_padded()).
  [[gnu::always_inline]] void put_padded(std::string_view text) {
    room(text.size() + json_string_read_ahead);
    add(text);
  }
  [[gnu::always_inline]] void add(char c) { data_[size_++] = c; }
  [[gnu::always_inline]] void add(std::string_view text) { set_end(copy_text(end(), text)); }

private:
  [[gnu::always_inline]] void room(size_t n) {
    if (capacity_ - size_ < n)
      grow(n);
  }
  [[gnu::noinline]] void grow(size_t n) {
    capacity_ = std::max(capacity_ * 2, size_ + n);
    std::unique_ptr<char[]> more(new char[capacity_]);
    if (size_) // (no storage yet: nothing to copy from)
      std::memcpy(more.get(), data_.get(), size_);
    data_ = std::move(more);
  }
  std::unique_ptr<char[]> data_;
  size_t capacity_, size_ = 0;
};

// By segment name: the fields some row maps and the fields valued.
struct Fields {
  std::string_view name;
  std::bitset<256> mapped, valued;
  // written of by rows' constants alone in a segment (mapped if one of
  // them stays: see Engine::report_lost_to_constants())
  std::bitset<256> constant;
  // of those, written of by constants no condition chose, whose rows are
  // constants alone, the value read by no row (IN3-21's case manager, of which the CareTeam holds the
  // role alone): reported whether they stay or not
  std::bitset<256> unchosen;
  // valued in a segment of its name whose rows wrote nothing of it, where
  // another's did (mapped): reported all the same
  std::bitset<256> lost;
  uint32_t top; // the last field valued
};

// By segment name, what a message's segments of that name share: the
// structure's rows for the name, the last segment seen, the rows chosen
// for the group they stood in last, their Fields.
struct Named {
  std::string_view name;
  uint32_t index = 0; // in Engine::named_
  uint32_t last = UINT32_MAX;
  uint32_t before = UINT32_MAX; // the segment of its name before `last`
  bool order = false; // an OBR or ORC (it sets the order's number)
  const std::vector<uint32_t> *rows = nullptr;
  std::string_view group;        // the group of the last segment
  uint32_t chosen = UINT32_MAX;  // Engine::chosen_ for that group
  uint32_t valued = UINT32_MAX;  // Engine::valued_ (none until it maps)
  uint32_t count = 1;            // the segments of its name seen so far
  // whether its field 1 is a set id in the message's version (or there is
  // none: no), once Engine::says_nothing_more() asked
  enum : uint8_t { unknown, no, yes } set_id = unknown;
};

// Appends MSH's field `number` as text, white space around it trimmed
// (nothing: none), to `out`.
void append_header_value(const Message &message, uint64_t number, std::string &scratch,
                         std::string &out) {
  if (Result<FieldView> f = header_field(message, number))
    out.append(trim_white_space(f.value().value(scratch)));
}

// The name of `message` in the keys of the resources no field names (see
// Engine::key()): its control id (MSH-10) with its sender (MSH-3, MSH-4)
// and time (MSH-7), as a control id is unique among one sender's messages
// alone, and not for ever where a counter starts again (two senders'
// "MSG001" are two messages; a message sent again as it was is the same);
// a message without a control id is named by its text, as its bundle is:
// its segments, each ended by a CR, whatever ended them as it was sent (LF,
// CRLF, none after the last, as a reader cuts a message from a file), so
// that the message keeps its ids in a file of other line ends.
// (Written into `out`, which it clears: the caller's kept buffer.)
void message_name(const Message &message, std::string_view control_id, std::string &scratch,
                  std::string &out) {
  out.clear();
  if (control_id.empty()) {
    scratch.assign("r="sv);
    for (size_t i = 0; i < message.segment_count(); ++i) {
      const SegmentEntry &e = message.segments[i];
      const size_t next = i + 1 < message.segment_count() ? message.segments[i + 1].first_field
                                                          : message.field_ends.size();
      const size_t end = next > e.first_field ? message.field_ends[next - 1] : e.offset + e.name_length;
      scratch.append(message.raw.substr(e.offset, end - e.offset)).push_back('\r');
    }
    char digest[36];
    uuid5(scratch, digest);
    out.append("r="sv).append(digest, sizeof digest);
    return;
  }
  out.append(control_id).append("|s="sv);
  append_header_value(message, 3, scratch, out);
  out.push_back('^');
  append_header_value(message, 4, scratch, out);
  out.append("|t="sv);
  append_header_value(message, 7, scratch, out);
}

// The bundle's timestamp (the tables' MSH[Bundle]): MSH-7, `sent`, as an
// instant in `time` (both cleared first); false where it is none.
bool bundle_time(const Message &message, const Maps &maps, std::string &scratch,
                 std::string &sent, std::string &time) {
  sent.clear();
  time.clear();
  append_header_value(message, 7, scratch, sent);
  return timestamp_value(sent, 'I', time, maps.zone, std::nullopt);
}

// The texts write_conversion() makes of the header, in buffers this thread
// keeps from one conversion to the next (each a trip through the allocator
// at every message otherwise).
struct HeaderTexts {
  std::string scratch, control_id, name, key, sent, time;
};
HeaderTexts &thread_header_texts() {
  static thread_local HeaderTexts kept;
  return kept;
}

class Engine {
public:
  Engine(const Maps &maps, const Message &message, const Options &options, Conversion &out)
      : maps_(maps), message_(message), enc_(message.enc), options_(options), out_(out) {
    // a message without the escape character past MSH-2 (which declares it)
    // has no value to decode
    std::string_view rest = message.raw;
    if (rest.substr(0, 3) == "MSH") {
      const size_t end = find_delimiter(rest, enc_.field, 3 + enc_.field.size);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    escapes_ = contains(rest, enc_.escape);
    // (separators other than '^' and '&', which plain_bytes does not know)
    plain_ends_ = !escapes_ && enc_.component.view() == "^" && enc_.sub_component.view() == "&";
    for (const Delimiter *d : {&enc_.component, &enc_.repetition, &enc_.sub_component})
      if (d->size)
        hollow_start_[static_cast<unsigned char>(d->bytes[0])] = true;
    hollow_start_['"'] = hollow_start_[' '] = hollow_start_['\t'] = true;
    subs_ = contains(rest, enc_.sub_component);
    kept([](auto &mine, auto &kept) {
      std::swap(mine, kept);
      mine.clear();
    });
    nodes_.reserve(message.raw.size() / 2 + 256);
    resources.reserve(message.segment_count() * 2 + 16);
    latest_.assign(maps.label_count, none);
    key_text_.reserve(message.segment_count() * 96 + 256);
    text_.reserve(message.raw.size() * 2 + 256);
    // control characters, which FHIR's strings may not hold: decoded()
    // leaves them out of every value, and the fields that hold one are
    // reported
    // (a hex escape may decode to one: "\X0C\", a form feed some senders
    // page their reports with)
    if (holds_controls(message.raw) ||
        (escapes_ && rest.find(std::string(enc_.escape.view()) + 'X') != std::string_view::npos))
        [[unlikely]]
      report_controls();
  }

  // The containers go back to this thread's workspace (those grown past
  // kept_bytes freed, so what a thread keeps is bounded).
  ~Engine() {
    kept([](auto &mine, auto &kept) {
      std::swap(mine, kept);
      if (kept.capacity() * sizeof(*kept.data()) > kept_bytes)
        kept = std::remove_reference_t<decltype(kept)>();
    });
  }
  Engine(const Engine &) = delete;
  Engine &operator=(const Engine &) = delete;

  void run(const Structure &structure, const MessageStructure &s) {
    occurrences_ = &s;
    size_t unexpected = 0; // the next of s.unexpected (in message order)
    for (uint32_t i = 0; i < message_.segment_count(); ++i) {
      const SegmentView seg = message_.segment_at(i);
      reading_ = i;
      const uint32_t node = s.segment_node.empty() ? 0 : s.segment_node[i];
      std::string_view group = node == 0 ? std::string_view() : s.nodes[node].name;
      // the occurrence a segment stands in, for instance(): the message's
      // for one the structure has no place for there (it is in a group only
      // by where it stands)
      uint32_t occurrence = node;
      Named &named = seen(structure, seg.name, i);
      uint32_t opens = none;
      if (unexpected < s.unexpected.size() && s.unexpected[unexpected] == i) {
        occurrence = 0;
        ++unexpected;
        opens = implied_occurrence(node, seg.name, named.before, i);
        if (opens != none)
          occurrence = opens;
      }
      if (!implied_.empty() && opens == none) [[unlikely]]
        group = fresh_group(node, seg.name, i, group);
      if (occurrence == 0 && opens == none && node != 0) [[unlikely]]
        if (const GroupDef *child = child_begun(node, i))
          group = child->name;
      const std::span<const uint32_t> rows = rows_in(structure, named, group, node);
      if (opens == none && chosen_[named.chosen].borrowed) [[unlikely]]
        opens = nested_occurrence(node, seg.name, named.before, i);
      Fields *fields = nullptr; // noted once the segment maps
      wrote_.reset();
      constant_wrote_.reset();
      constant_chosen_.reset();
      read_by_value_.reset();
      met_written_.reset();
      for (; taken_fields_ != 0; taken_fields_ &= taken_fields_ - 1)
        taken_[std::countr_zero(taken_fields_)] = 0;
      ListElement elements[4]; // made by maps that fill one list element
      size_t element_count = 0;
      bool flushed = false; // elements of this segment were reported (more than 4)
      bool held = false;    // a row's condition held (and block) for the segment
      bool unplaced = false; // a row held not for what the segment notes
      for (uint32_t k : rows) {
        const SegmentRow &row = structure.rows[k];
        if (row.block && !in_block(row)) [[unlikely]] {
          // (a third patient's PID of an A17, whose table has two blocks:
          // no row of it holds, and it is reported whole below)
          unplaced = true;
          continue;
        }
        if (row.immunization != 0 && (row.immunization > 0) != history_) [[unlikely]] {
          unplaced = true;
          continue;
        }
        if (!row.after.empty() && notes(row, node) == row.unless) [[unlikely]] {
          unplaced = true;
          continue;
        }
        if (!holds(row.condition, seg, 0, {}, {}))
          continue;
        const uint32_t r = instance(row, seg, i, occurrence, named, opens);
        if (r == none) [[unlikely]] { // nothing its row fills (SegmentRow::fills_only)
          unplaced = true;
          continue;
        }
        held = true;
        resources[r].written = occurrence;
        segment_ = i;
        first_rep_ = first_repetition(r, maps_.maps[static_cast<size_t>(row.map)], seg.name, i);
        one_list_ = maps_.maps[static_cast<size_t>(row.map)].one_list;
        // the resource's last member before the segment's rows (see ListElement)
        uint32_t before = one_list_ ? nodes_[resources[r].root].last : none;
        for (size_t e = 0; e < element_count; ++e)
          if (elements[e].resource == r)
            before = elements[e].after;
        path_.clear();
        if (row.reads_header) [[unlikely]] {
          apply_header_map(r, row);
        } else if (maps_.maps[static_cast<size_t>(row.map)].shares_element &&
                   !first_sharing(r, seg.name, i)) [[unlikely]] {
          // a second RXR of one order: the element it fills is the first's,
          // whose values stay; the segment is reported (its fields' names
          // are the first's, mapped)
          unmapped(seg.name);
        } else {
          apply_map(r, path_, maps_.maps[static_cast<size_t>(row.map)], seg);
          valued_fields(fields, named, seg);
        }
        field_ = 0; // (a link is no field's)
        bool referring = false, referred = false; // links to the row's resource, and one stood
        uint32_t taken = UINT32_MAX; // what holds an element a link to it found taken
        const Link *unmade = nullptr; // a link to it of no resource to refer from
        for (const Link &link : row.links) {
          taken_by_ = UINT32_MAX;
          if (row.leads && lead(row, link, r)) [[unlikely]]
            continue;
          const bool stands = this->link(link, occurrence);
          if (link.to_id == row.label_id) {
            referring = true;
            referred = referred || stands;
            if (!stands)
              taken = taken_by_;
            if (!stands && referrer(link, occurrence) == UINT32_MAX)
              unmade = &link;
          }
        }
        // (a resource of the patient's, an SPM's Specimen, stands without
        // the order or report that would refer to it; reported where none
        // of the link's label was made)
        if (referring && !referred && resources[r].segment == i) [[unlikely]] {
          if (!resources[r].rules.context && !anchor(resources[r].type))
            note_unreferred(r, row, seg, taken);
          else if (unmade != nullptr)
            report_unreferring(r, *unmade, seg.name);
        }
        if (one_list_) [[unlikely]] {
          if (element_count == std::size(elements)) {
            report_lacking(seg.name, elements);
            element_count = 0;
            flushed = true;
          }
          elements[element_count++] = {r, first_rep_, &maps_.maps[static_cast<size_t>(row.map)],
                                       flushed ? unknown_position : before};
        }
      }
      if (element_count) [[unlikely]]
        report_lacking(seg.name, std::span(elements, element_count));
      if (!refused_.empty()) [[unlikely]]
        report_refused(seg);
      // a field is mapped where a row wrote of it (one whose rows' conditions
      // all failed, SCH-9 in hours, or whose value they all left out, is not)
      if (!offset_dropped_.empty() || offset_kept_.any()) [[unlikely]]
        report_offsets();
      if (fields) {
        fields->mapped |= wrote_;
        fields->constant |= constant_wrote_ & ~wrote_;
        fields->unchosen |= constant_wrote_ & ~wrote_ & ~constant_chosen_ & ~read_by_value_;
        uint32_t top = 0; // (the segment's valued fields are noted already)
        fields->lost |= own_valued(seg, wrote_ | constant_wrote_, top);
      }
      // (a note of what no row of its name notes, an NTE after PRB, is
      // reported whole: another NTE's fields may be mapped)
      if (rows.empty() || (unplaced && !held))
        unmapped(seg.name);
      else if (!held) [[unlikely]]
        // rows map the segment, none of them here (an MRG without MRG-3,
        // the only field its rows read): its valued fields are reported,
        // whatever another segment of its name wrote of them (a ROL of a
        // role no row takes, beside a second ROL of a person alone)
        valued_fields(fields, named, seg, true);
    }
    for (const Fields &fields : valued_)
      for (uint32_t f = 1; f <= fields.top; ++f) {
        if (!fields.valued[f] || (fields.mapped[f] && !fields.lost[f]) ||
            (bundle_ && f == 10 && same(fields.name, "MSH")))
          continue;
        if (bundle_ && f == 7 && same(fields.name, "MSH")) [[unlikely]] {
          report_bundle_time();
          continue;
        }
        // decided once the resources' fates are known; not where a segment
        // of its name wrote nothing of it at all (DG1-21 "X" after a DG1-21
        // "D", whose constants stay)
        if (fields.constant[f] && !fields.lost[f]) {
          constants_alone_ = true;
          continue;
        }
        // "PID-10", written into a kept buffer: only a new one is copied
        char number[12];
        const auto end = std::to_chars(number, number + sizeof number, f).ptr;
        location_.assign(fields.name).append("-"sv).append(number, end);
        if (!reported_as_value(fields.name, f))
          unmapped(location_);
      }
  }

  // MSH-7, which no row wrote of (a message of no sending facility makes
  // no MSH[Provenance-Source]), is the bundle's timestamp: reported only
  // where it is no instant, which the timestamp could not take. (Out of
  // line: most messages' Provenance writes MSH-7.)
  [[gnu::noinline, gnu::cold]] void report_bundle_time() {
    std::string sent, time;
    if (bundle_time(message_, maps_, scratch_, sent, time))
      return;
    value_reported("MSH");
    unmapped("MSH-7 '" + sent + "' (not an instant)");
  }

  // The rows that map a segment of `named` in `group` (occurrence `node`):
  // those of its name standing in that group under the group holding it, failing
  // those the ones in that group wherever it stands, failing those the rows
  // of its name in the group of the first, each with a map (a row without
  // one places the segment in its group: none then, and it is reported).
  // Chosen once per name and group in a message (the group's name is the
  // structure's own text: the same group is the same view, and stands under
  // one parent), not at every segment.
  // For a segment whose rows name none of the groups it stands in (a
  // version names the group otherwise: 2.5's MDM_T02 holds OBX and NTE in
  // OBXNTE_SUPPGRP, the tables' OBSERVATION): the group of its rows the
  // tables give the segment that opens its group occurrence (`node`) or,
  // outside the groups, the segment before it, else that of its first row.
  // (Out of line: met once a message at most.)
  [[gnu::noinline]] std::string_view group_of_opener(const Structure &structure,
                                                     const std::vector<uint32_t> &rows,
                                                     uint32_t node) const {
    // (rows without a map, which only place a segment, are not its rows')
    const auto mapped = std::find_if(rows.begin(), rows.end(), [&](uint32_t k) {
      return structure.rows[k].map >= 0;
    });
    const SegmentRow &first = structure.rows[mapped == rows.end() ? rows[0] : *mapped];
    const std::string_view fallback = std::string_view(first.group).substr(first.parent);
    const GroupNode &n = occurrences_->nodes[node];
    const auto items = occurrences_->items_of(n);
    std::string_view opener_name;
    if (node != 0 && !items.empty() && !items[0].group) {
      opener_name = message_.segment_at(items[0].index).name;
    } else if (node == 0 && std::ranges::binary_search(occurrences_->unexpected, reading_)) {
      // one the structure has no place for outside its groups takes the
      // group of the segment before it (2.4's MDM_T02, TXA OBX+ alone: an
      // NTE after an OBX is the document's note, the tables' OBSERVATION,
      // not an order's of COMMON_ORDER)
      const std::string_view name = message_.segment_at(reading_).name;
      for (uint32_t at = reading_; at-- > 0 && opener_name.empty();)
        if (!same(message_.segment_at(at).name, name))
          opener_name = message_.segment_at(at).name;
    }
    if (opener_name.empty())
      return fallback;
    const auto opener = structure.by_segment.find(std::string(opener_name));
    if (opener == structure.by_segment.end())
      return fallback;
    for (uint32_t o : opener->second)
      for (uint32_t k : rows)
        if (structure.rows[k].map >= 0 && structure.rows[o].parent == 0 &&
            structure.rows[k].parent == 0 &&
            same(structure.rows[k].group, structure.rows[o].group))
          return structure.rows[k].group;
    // one the occurrence holds after the segments that close it (ORU_R01's
    // OBR OBX FT1 OBX, the second OBX past the order's OBSERVATION groups,
    // where the structure has no place for it) opens the next occurrence
    // of the occurrence's child group it begins: the order's result, not a
    // result of the patient's
    if (node != 0 && n.def)
      for (const StructureElement &c : n.def->children)
        if (begins_with(c.group, message_.segment_at(reading_).name))
          for (uint32_t k : rows)
            if (structure.rows[k].map >= 0 && structure.rows[k].parent == 0 &&
                same(structure.rows[k].group, c.group->name))
              return structure.rows[k].group;
    return fallback;
  }

  std::span<const uint32_t> rows_in(const Structure &structure, Named &named,
                                    std::string_view group, uint32_t node) {
    if (named.group.data() != group.data() || named.group.size() != group.size() ||
        named.chosen == none) {
      named.chosen = none;
      for (const Chosen &c : chosen_)
        if (c.named == named.index && c.group.data() == group.data() &&
            c.group.size() == group.size())
          named.chosen = static_cast<uint32_t>(&c - chosen_.data());
      if (named.chosen == none) {
        const std::vector<uint32_t> &rows = *named.rows;
        // a row's group "SPECIMEN.PATIENT_OBSERVATION" (row.parent) stands
        // only under SPECIMEN; the others wherever their group does
        const std::vector<GroupNode> &nodes = occurrences_->nodes;
        const std::string_view parent = node == 0 ? std::string_view() : nodes[nodes[node].parent].name;
        bool under = false, in = false;
        for (uint32_t k : rows) {
          const SegmentRow &row = structure.rows[k];
          if (row.parent == 0)
            in = in || same(row.group, group);
          else
            under = under || (same(std::string_view(row.group).substr(row.parent), group) &&
                              same(std::string_view(row.group).substr(0, row.parent - 1u), parent));
        }
        const std::string_view chosen_group =
            under || in || rows.empty() ? group : group_of_opener(structure, rows, node);
        Chosen c{named.index, group, static_cast<uint32_t>(chosen_rows_.size()), 0,
                 !(under || in || rows.empty())};
        for (uint32_t k : rows) {
          const SegmentRow &row = structure.rows[k];
          const std::string_view own = std::string_view(row.group).substr(under ? row.parent : 0);
          if (row.map >= 0 && (row.parent != 0) == under && same(own, chosen_group) &&
              (!under || same(std::string_view(row.group).substr(0, row.parent - 1u), parent))) {
            chosen_rows_.push_back(k);
            ++c.count;
          }
        }
        named.chosen = static_cast<uint32_t>(chosen_.size());
        chosen_.push_back(c);
      }
      named.group = group;
    }
    const Chosen &c = chosen_[named.chosen];
    return {chosen_rows_.data() + c.begin, c.count};
  }

  std::vector<Resource> resources;

  void finish();

private:
  // -- reading values

  // (decided in line for most values: a value without escapes that begins
  // and ends with a visible ASCII character other than '"' and the
  // separators stands as it is)
  // `ends`: the separators at its end kept, for the text of a resource's
  // identity (its id's key), as ids were made before such separators were
  // dropped, so that ids stay ("00112^WEDNER^H^J^^"'s Practitioner).
  [[gnu::always_inline]] std::string_view decoded(std::string_view text, bool ends = false) {
    auto plain = [](char c) { return plain_bytes[static_cast<unsigned char>(c)]; };
    if (plain_ends_ && (text.empty() || (plain(text.front()) & plain(text.back()))))
      return text;
    return decoded_in_full(text, ends);
  }
  // decoded() of a value that may hold escapes, white space at its ends or
  // separators at its end, which hold nothing: a text of sub-components
  // read whole, "a&b&", is "a&b" (as a text of components read whole is
  // without_components()'s, "BNT^-T^" "BNT^-T"); "&" alone is nothing.
  // (Out of line: most values stand as they are.)
  [[gnu::noinline]] std::string_view decoded_in_full(std::string_view text, bool ends) {
    if (!ends)
      text = without_trailing_separators(text);
    // (formatted text's commands as plain text: FHIR's strings have none;
    // hex data as the bytes it stands for, which a UTF-8 text's are)
    std::string_view v =
        escapes_ ? decoded_view(text, enc_, scratch_, Formatting::plain, HexData::utf8) : text;
    // a line of a text (TX, FT) keeps the white space it begins with: a
    // report aligns its columns with it (a key's text is trimmed, as ids
    // were made of it)
    const bool indented = !ends && !v.empty() && !visible_ascii(v.front()) && of_text_type(text);
    v = indented ? trim_lines(v) : trim_white_space(v);
    if (controls_) [[unlikely]]
      v = without_controls(v, indented);
    return v == "\"\"" ? std::string_view() : v;
  }

  static bool visible_ascii(char c) { return c > 0x20 && c < 0x7F; }

  // Whether `text` (read of field field_ of the segment being read, raw) is
  // that field's whole value, of a type of text, TX or FT (OBX-5 of the type
  // OBX-2 names), in the message's version. (Out of line: a value beginning
  // with white space.)
  [[gnu::noinline, gnu::cold]] bool of_text_type(std::string_view text) const {
    if (field_ == 0 || segment_ >= message_.segment_count())
      return false;
    const SegmentView seg = message_.segment_at(segment_);
    const std::string_view field = field_text(seg, field_);
    if (text.data() < field.data() || text.data() + text.size() > field.data() + field.size())
      return false;
    if (!version_ && !(field_ == 5 && same(seg.name, "OBX")))
      return false;
    const uint16_t type = field_type(seg);
    if (type == 0)
      return false;
    const std::string &name = definitions_->type_name(type);
    return name == "TX" || name == "FT";
  }

  // `text` without white space at its end, and at its start up to its first
  // line that holds more: that line's indentation stays, as every later
  // line's does.
  static std::string_view trim_lines(std::string_view text) {
    const std::string_view rest = trim_white_space_start(text);
    if (rest.empty())
      return rest;
    const auto lead = static_cast<size_t>(rest.data() - text.data());
    const size_t end = text.find_last_of("\r\n", lead);
    return trim_white_space_end(end == std::string_view::npos ? text : text.substr(end + 1));
  }

  // Reports each field that holds a control character FHIR's strings may
  // not hold, as a byte or decoded from an escape ("OBX-5 (control
  // characters left out)"), and where one does has decoded() leave them
  // out. (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void report_controls() {
    for (uint32_t i = 0; i < message_.segment_count(); ++i) {
      const SegmentView seg = message_.segment_at(i);
      for (size_t f = 0; f < seg.field_count(); ++f)
        if (holds_controls(seg.field_at(f).value(scratch_))) {
          controls_ = true;
          unmapped(field_place(seg.name, static_cast<uint32_t>(f + 1)) +
                   " (control characters left out)");
        }
    }
    if (controls_)
      plain_ends_ = false; // every value through decoded_in_full()
  }
  // `text` without its control characters (see report_controls()), and
  // without the white space their going leaves at its ends.
  // (`indented`: a text's line keeps its indentation, see trim_lines())
  std::string_view without_controls(std::string_view text, bool indented) {
    if (std::none_of(text.begin(), text.end(),
                     [](char c) { return control_byte(static_cast<unsigned char>(c)); }))
      return text;
    std::string &kept = controls_text_;
    kept.clear();
    for (const char c : text)
      if (!control_byte(static_cast<unsigned char>(c)))
        kept.push_back(c);
    return indented ? trim_lines(kept) : trim_white_space(kept);
  }

  // `text` without the component and sub-component separators at its end,
  // which hold nothing (raw ones: an escaped one, "\T\", is the sender's
  // text).
  std::string_view without_trailing_separators(std::string_view text) const {
    for (;;) {
      if (text.ends_with(enc_.component.view()))
        text.remove_suffix(enc_.component.size);
      else if (text.ends_with(enc_.sub_component.view()))
        text.remove_suffix(enc_.sub_component.size);
      else
        return text;
    }
  }

  // The bytes a value may begin and end with to stand as it is: visible
  // ASCII but '"' and the separators '^' and '&' (looked up: three
  // comparisons a byte otherwise; bytes, not bools, so that decoded() tests
  // both ends with one '&')
  static constexpr auto plain_bytes = [] {
    std::array<uint8_t, 256> plain{};
    for (int c = 0x21; c < 0x7F; ++c)
      plain[static_cast<size_t>(c)] = c != '"' && c != '^' && c != '&';
    return plain;
  }();

  [[gnu::always_inline]] Value piece(Value v, uint32_t n) const {
    if (n == 0)
      return v;
    // a component of a message without the sub-component separator past
    // MSH-2 is its one sub-component
    if (v.level == 2 || (v.level == 1 && !subs_))
      return n == 1 ? Value{v.text, 2} : Value{{}, 2};
    const Delimiter &d = v.level == 0 ? enc_.component : enc_.sub_component;
    return {nth_piece(v.text, d, n - 1), v.level + 1};
  }

  std::string_view field_text(const SegmentView &seg, uint32_t field) const {
    if (field == 0 || field > seg.field_count())
      return {};
    return seg.field_at(field - 1).text;
  }

  // Component `component`, sub-component `sub_component` (0: the whole) of
  // the first repetition of field `field` of `seg`, decoded.
  std::string_view first_repetition(const SegmentView &seg, uint32_t field, uint32_t component,
                                    uint32_t sub_component) {
    const Value v{nth_piece(field_text(seg, field), enc_.repetition, 0), 0};
    return decoded(piece(piece(v, component), sub_component).text, true);
  }

  // A place address() read, and what it read there (see reads_).
  struct ReadKey {
    const char *data = nullptr;
    size_t size = 0;
    int level = 0;
    uint32_t component = 0, sub_component = 0;
    bool operator==(const ReadKey &) const = default;
  };
  struct Read {
    ReadKey key;
    std::string_view text;
  };

  // The text an address reads, decoded: in the current value (an address
  // without a segment), in the current repetition of the row's own field,
  // or in the first repetition of a field of this or the last segment of
  // that name. Remembered by where it was cut from: the rows of a segment
  // test the same few components again and again (OBX-2 in each OBX row).
  // (The common case, a field of the row's own segment read before, is
  // found by the segment's start and the field's number, its text not
  // sought again; the segment's name is compared as one word; the other
  // cases and the cut are out of line.)
  // (In line in one() and Gate::open(): a call fewer a test of a place.)
  [[gnu::always_inline]] std::string_view address(const Test &t, const SegmentView &seg,
                                                  uint32_t field, std::string_view rep,
                                                  const Value &value) {
    if (t.field == 0 || t.segment_word != name_word(seg.name)) [[unlikely]]
      return address_elsewhere(t, seg, value);
    if (t.field == field)
      return read(t, rep, 0);
    // another field of the row's segment, known by the segment's start and
    // the field's number (level 4, no value's), its text found only when
    // not read before
    const ReadKey key{seg.name.data(), t.field, 4, t.component, t.sub_component};
    Read &m = reads_[read_slot(key)];
    if (m.key == key)
      return m.text;
    return cut_read(m, key, field_text(seg, t.field), 3);
  }

  // The segment test `t` reads into `other`: `seg` itself, or the last
  // segment of the name it names (of any name where it asks whether that
  // segment is there); false where none is.
  bool tested_segment(const Test &t, const SegmentView &seg, SegmentView &other) const {
    if (same(t.segment, seg.name))
      return true;
    const uint32_t at = partner(t.segment, t.field == 0);
    if (at == UINT32_MAX)
      return false;
    other = message_.segment_at(at);
    return true;
  }

  // Whether test `t` of another field of `seg` (or of the last segment of
  // the name it reads), whose first repetition holds no value where `t`
  // reads it, finds one in a later repetition, read alike: the rows write
  // the repetitions that hold one, so OBX-5 "~5" is valued (its 5 is the
  // Observation's value, beside no dataAbsentReason). (Out of line: met
  // where the first repetition holds none.)
  [[gnu::noinline]] bool later_repetition_valued(const Test &t, const SegmentView &seg,
                                                 uint32_t field) {
    if (t.segment.empty() || t.version || t.field == 0 ||
        (t.field == field && same(t.segment, seg.name)))
      return false;
    SegmentView other = seg;
    if (!tested_segment(t, seg, other))
      return false;
    const std::string_view all = field_text(other, t.field);
    if (!contains(all, enc_.repetition))
      return false;
    bool found = false, first = true;
    cut(all, enc_.repetition, [&](std::string_view r) {
      if (!std::exchange(first, false) && !found)
        found = holds_a_value(decoded(piece(piece(Value{r, 0}, t.component), t.sub_component).text));
    });
    return found;
  }

  // address() in the current value, of the segment itself, or in the last
  // segment of another name.
  [[gnu::noinline]] std::string_view address_elsewhere(const Test &t, const SegmentView &seg,
                                                       const Value &value) {
    if (t.segment.empty()) {
      if (std::string_view text; in_pieces(t, value, text))
        return text;
      return read(t, value.text, value.level);
    }
    if (t.version) [[unlikely]] // the message's version (see first_version())
      return version_read_ ? std::string_view(version_text_) : first_version(t);
    SegmentView other = seg;
    if (!tested_segment(t, seg, other))
      return {};
    if (t.field == 0) // the segment itself ("IF ORC VALUED"): its name where it stands
      return read(t, other.name, 3);
    return read(t, field_text(other, t.field), 3);
  }

  // What test `t` of MSH-12.1 reads: the message's version, its header's
  // (header_field(): the first MSH, as for the bundle's identifier), read
  // once a conversion and kept for the others (rows that hold in some
  // versions test it again and again). A second MSH (a batch's header, a
  // message sent twice in one) changes it nowhere: a row reads the same
  // version wherever it stands. (Out of line: read once.)
  [[gnu::noinline]] std::string_view first_version(const Test &t) {
    if (const Result<FieldView> f = header_field(message_, t.field))
      version_text_.assign(read(t, f.value().text, 3));
    version_read_ = true;
    return version_text_;
  }

  // What test `t` reads of `from`, a value of level `level` (3: a whole
  // field, its first repetition taken), from reads_ when read before.
  [[gnu::always_inline]] std::string_view read(const Test &t, std::string_view from, int level) {
    const ReadKey key{from.data(), from.size(), level, t.component, t.sub_component};
    Read &m = reads_[read_slot(key)];
    if (m.key == key)
      return m.text;
    return cut_read(m, key, from, level);
  }
  static size_t read_slot(const ReadKey &key) {
    const uint64_t h = (reinterpret_cast<uintptr_t>(key.data) ^ key.size * 31 ^
                        uint64_t{key.component} << 8 ^ uint64_t{key.sub_component} << 16 ^
                        static_cast<uint64_t>(key.level) << 24) * 0x9E3779B97F4A7C15ULL;
    return h >> 58;
  }
  // What read() reads of `from` at a place not read before (or not since
  // its entry was taken), remembered in `m` under `key` unless decoded into
  // the scratch buffer.
  [[gnu::noinline]] std::string_view cut_read(Read &m, const ReadKey &key, std::string_view from,
                                              int level) {
    if (from.empty()) { // (an absent field, most often: each segment's is a place of its own)
      m = {key, from};
      return from;
    }
    Value v = level == 3 ? Value{nth_piece(from, enc_.repetition, 0), 0} : Value{from, level};
    v = piece(piece(v, key.component), key.sub_component);
    const std::string_view text = decoded(v.text);
    // a text decoded into the scratch buffer is not kept (the buffer is reused)
    if (text.empty() || (text.data() >= v.text.data() &&
                         text.data() + text.size() <= v.text.data() + v.text.size()))
      m = {key, text};
    return text;
  }

  // address() of a component of the value whose pieces apply_value_map()
  // cut, in `text`; false when `t` reads no such component. (In line in
  // one() too: the conditions of a data type map's rows read those.)
  [[gnu::always_inline]] bool in_pieces(const Test &t, const Value &value, std::string_view &text) {
    if (value.text.data() != pieces_.text.data() || value.text.size() != pieces_.text.size() ||
        value.level != pieces_.level || t.sub_component != 0 || t.component == 0 ||
        (t.component > pieces_.count && pieces_.count >= 32))
      return false;
    text = t.component <= pieces_.count ? decoded(pieces_.at[t.component - 1].view())
                                        : std::string_view();
    return true;
  }

  // Whether condition `c` holds (most rows have none: that is decided in
  // line); test `held` (of a condition of all its tests) is known to hold.
  [[gnu::always_inline]] bool holds(const Condition &c, const SegmentView &seg, uint32_t field,
                                    std::string_view rep, const Value &value,
                                    size_t held = SIZE_MAX) {
    if (c.empty())
      return true;
    if (!c.all)
      return test(c, seg, field, rep, value);
    // (the count taken once: the vector's size, a division by the size of
    // a Test, would be taken again after each call)
    for (size_t i = 0, n = c.tests.size(); i < n; ++i)
      if (c.tests[i].op != '&' && i != held && !one(c.tests[i], seg, field, rep, value))
        return false;
    return true;
  }

  bool test(const Condition &c, const SegmentView &seg, uint32_t field, std::string_view rep,
            const Value &value) {
    bool stack[32];
    size_t n = 0;
    for (const Test &t : c.tests) {
      bool r = false;
      if (t.op == '&' || t.op == '|') {
        if (n < 2)
          return false;
        const bool b = stack[--n], a = stack[--n];
        r = t.op == '&' ? a && b : a || b;
      } else {
        r = one(t, seg, field, rep, value);
      }
      if (n == 32)
        return false;
      stack[n++] = r;
    }
    return n == 1 && stack[0];
  }

  // Whether test `t` (not an operator) holds.
  // (In line in holds() and test(): a call fewer a test, most of which
  // are decided in a few steps.)
  [[gnu::always_inline]] bool one(const Test &t, const SegmentView &seg, uint32_t field,
                                  std::string_view rep, const Value &value) {
    if (t.op == 'w') [[unlikely]] // the row's segment has nothing written of the field yet
      return !wrote_[t.field & 255];
    if (t.op == 'C') {
      std::string_view all = t.segment.empty() ? value.text : field_text(seg, t.field);
      if (!t.segment.empty() && !same(t.segment, seg.name)) {
        uint32_t at = partner(t.segment);
        all = at == UINT32_MAX ? std::string_view() : field_text(message_.segment_at(at), t.field);
      }
      // (the repetitions that hold a value: "165~" is one, a sender's
      // trailing separator no second)
      int64_t count = 0;
      if (!contains(all, enc_.repetition)) // (most: one repetition or none)
        count = holds_a_value(all) ? 1 : 0;
      else
        cut(all, enc_.repetition, [&](std::string_view r) { count += holds_a_value(r) ? 1 : 0; });
      return compare(count, t);
    }
    std::string_view text;
    if (!t.segment.empty() || !in_pieces(t, value, text))
      text = address(t, seg, field, rep, value);
    switch (t.op) {
    // (a text of separators or nulls alone, "^^", holds no value)
    case 'V': return holds_a_value(text) || later_repetition_valued(t, seg, field);
    case 'N': return !holds_a_value(text) && !later_repetition_valued(t, seg, field);
    case 'E':
    case 'X': {
      const bool r = std::any_of(t.values.begin(), t.values.end(),
                                 [&](const std::string &v) { return same(v, text); });
      return t.op == 'X' ? !r : r;
    }
    case 'e':
    case 'x': {
      bool r = std::any_of(t.values.begin(), t.values.end(),
                           [&](const std::string &v) { return same(v, text); });
      // (a text of no value's size is none of them in any case)
      if (!r && (t.fold_sizes >> std::min<size_t>(text.size(), 31) & 1))
        r = found_alike(t, text);
      return t.op == 'x' ? !r : r;
    }
    case 'L': return compare(static_cast<int64_t>(text.size()), t);
    case 'M': return compare_number(text, t);
    case 'K': return !names_mime_type(t, text, seg, field, rep, value);
    }
    return false;
  }

  // Whether subtype `text` (test `t`'s place: ED.3, RP.4) and the type of
  // data in the component before it, as the row of kind 'm' joins them
  // ("AP/PDF", either alone where the other is empty), name a MIME type
  // (mime_type()): an ED whose type and subtype name none ("IM^FAX", "^D")
  // but holds data still needs one. (Out of line: read of an ED's data
  // alone.)
  [[gnu::noinline, gnu::cold]] bool names_mime_type(const Test &t, std::string_view text,
                                                    const SegmentView &seg, uint32_t field,
                                                    std::string_view rep, const Value &value) {
    std::string joined(text); // (copied: the type's text is decoded over the subtype's)
    if (t.component > 1) {
      Test type = t;
      --type.component;
      std::string_view before;
      if (!in_pieces(type, value, before))
        before = address(type, seg, field, rep, value);
      if (!before.empty())
        joined = joined.empty() ? std::string(before) : std::string(before) + "/" + joined;
    }
    std::string mime;
    return mime_type(joined, mime);
  }

  // Whether test `t`'s vocabulary finds `text`, none of its values in its
  // own case, as it finds one of them (of a test of no vocabulary, whether
  // `text` is one of them in another case) (one rule for codes sent in another
  // case: Vocabulary::find's, asked only of a value `text` equals but for
  // the case of its letters). (Out of line: a code of another size than the
  // values', or in the vocabulary's own case, as most are sent, never gets
  // here.)
  [[gnu::noinline]] bool found_alike(const Test &t, std::string_view text) const {
    if (t.vocabulary < 0) // compared without case ("*")
      return std::ranges::any_of(t.values, [&](const std::string &v) { return same_folded(v, text); });
    const Vocabulary &v = maps_.vocabularies[static_cast<size_t>(t.vocabulary)];
    for (const std::string &value : t.values)
      if (same_folded(value, text))
        if (const Code *code = v.find(value); code != nullptr && v.find(text) == code)
          return true;
    return false;
  }

  // Test `t` of op M: `text` read as a decimal number ("999", " 999",
  // "999.0", "+0999") compared with t.number; a text that is no number is
  // unequal to every number and neither less nor greater. (Out of line: a
  // few rows ask it, RXA-6's amount not recorded.)
  [[gnu::noinline, gnu::cold]] static bool compare_number(std::string_view text, const Test &t) {
    Decimal d;
    if (!read_decimal(trim_white_space(text), d))
      return t.compare == '!';
    const std::string_view whole = d.whole, fraction = d.fraction;
    bool negative = d.negative;
    // the sign of text - number: of their magnitudes' whole parts (texts of
    // digits without leading zeros, of any size), then of a fraction above
    // zero, then of their signs
    const std::string n = std::to_string(t.number < 0 ? -t.number : t.number);
    const bool fractional = fraction.find_first_not_of('0') != std::string_view::npos;
    int sign = whole.size() != n.size() ? (whole.size() < n.size() ? -1 : 1)
                                        : std::clamp(whole.compare(n), -1, 1);
    if (sign == 0 && fractional)
      sign = 1;
    const bool zero = whole == "0" && !fractional;
    negative = negative && !zero; // (-0 is 0)
    if (negative != (t.number < 0))
      sign = negative ? -1 : 1;
    else if (negative)
      sign = -sign;
    return ordered(sign, t.compare);
  }

  static bool compare(int64_t a, const Test &t) {
    return ordered(a < t.number ? -1 : a > t.number ? 1 : 0, t.compare);
  }

  // Whether `sign`, that of a - b, says a `compare` b (Test::compare).
  static bool ordered(int sign, char compare) {
    switch (compare) {
    case '<': return sign < 0;
    case '(': return sign <= 0;
    case '>': return sign > 0;
    case ')': return sign >= 0;
    case '=': return sign == 0;
    default: return sign != 0;
    }
  }

  // A decimal as sent ("+0999.50", ".5"): its sign, its whole part without
  // leading zeros ("0" for none) and its fraction; false when it is none.
  // The one reading of a decimal, for values written (converted()) and
  // conditions' numbers (compare_number()).
  struct Decimal {
    bool negative = false, dot = false;
    std::string_view whole, fraction;
  };
  static bool read_decimal(std::string_view t, Decimal &d) {
    d = {};
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
      d.negative = t[0] == '-';
      t.remove_prefix(1);
    }
    const size_t dot = t.find('.');
    d.dot = dot != std::string_view::npos;
    d.whole = t.substr(0, dot);
    d.fraction = d.dot ? t.substr(dot + 1) : std::string_view();
    auto digits = [](std::string_view s) {
      return std::ranges::all_of(s, [](char c) { return c >= '0' && c <= '9'; });
    };
    if ((d.whole.empty() && d.fraction.empty()) || !digits(d.whole) || !digits(d.fraction))
      return false;
    d.whole.remove_prefix(std::min(d.whole.find_first_not_of('0'), d.whole.size()));
    if (d.whole.empty())
      d.whole = "0";
    return true;
  }

  // -- segments seen

  // The entry of segments named `name`, noting segment `index` as the last
  // of them. (Looked up once a segment: run() and the tests read the
  // entry's rows, last segment and fields by it.)
  // Whether `row` stands for the block the message is in: as many
  // segments that open a block were seen as its number (the second PID of
  // an A17 and the segments after it stand in the second).
  [[gnu::noinline]] bool in_block(const SegmentRow &row) const {
    for (const Named &n : named_)
      if (same(n.name, row.opener))
        return n.count == row.block;
    return false;
  }

  // Whether the segment being read (in occurrence `node`) notes one of the
  // segments `row` follows (SegmentRow::after): the segment opening its
  // group occurrence, where another segment opens it, else the one before
  // it of another name. A PPR's NTE after PRB notes the problem, not an
  // order; one after OBR notes the order. None for a row SegmentRow::in_group
  // where the known structure places the segment outside its groups; for
  // such a row a segment opening its own occurrence notes what opens the
  // one around it (an OMG's OBX opening its OBSERVATION, after an NTE, notes
  // the order's ORC). (Out of line: rows of a message without a table.)
  [[gnu::noinline]] bool notes(const SegmentRow &row, uint32_t node) const {
    if (row.in_group && node == 0 && occurrences_->known &&
        !std::ranges::binary_search(occurrences_->unexpected, reading_))
      return false;
    if (row.in_group)
      while (node != 0 && first_segment(node) == reading_)
        node = occurrences_->nodes[node].parent;
    const std::string_view name = message_.segment_at(reading_).name;
    std::string_view noted;
    for (uint32_t at = node; at != 0 && noted.empty();) {
      const auto items = occurrences_->items_of(occurrences_->nodes[at]);
      if (items.empty())
        break;
      if (items[0].group)
        at = items[0].index;
      else if (items[0].index != reading_)
        noted = message_.segment_at(items[0].index).name;
      else
        break;
    }
    for (uint32_t at = reading_; noted.empty() && at-- > 0;)
      if (!same(message_.segment_at(at).name, name))
        noted = message_.segment_at(at).name;
    if (row.notes_mapped && !noted.empty() && !maps_segment(noted))
      return true;
    return std::ranges::any_of(row.after, [&](const std::string &s) { return same(s, noted); });
  }

  // Whether a row of a message without a table maps segment `name`.
  bool maps_segment(std::string_view name) const {
    const auto rows = maps_.fallback.by_segment.find(std::string(name));
    return rows != maps_.fallback.by_segment.end() &&
           std::ranges::any_of(rows->second, [&](uint32_t k) { return maps_.fallback.rows[k].map >= 0; });
  }

  Named &seen(const Structure &structure, std::string_view name, uint32_t index) {
    for (Named &n : named_)
      if (same(n.name, name)) {
        ++n.count;
        n.before = n.last;
        n.last = index;
        if (n.order)
          order_known_ = false;
        return n;
      }
    static const std::vector<uint32_t> no_rows;
    auto found = structure.by_segment.find(std::string(name));
    Named &n = named_.emplace_back();
    n.name = name;
    n.index = static_cast<uint32_t>(named_.size() - 1);
    n.last = index;
    n.order = same(name, "OBR") || same(name, "ORC");
    if (n.order)
      order_known_ = false;
    n.rows = found == structure.by_segment.end() ? &no_rows : &found->second;
    return n;
  }
  // Applies the header's map of `row` (SegmentRow::reads_header) to the
  // message's MSH, whose fields its own rows account for. (Out of line: one
  // row of a few tables.)
  [[gnu::noinline]] void apply_header_map(uint32_t r, const SegmentRow &row) {
    const uint32_t at = last("MSH");
    if (at == UINT32_MAX)
      return;
    const std::bitset<256> own = wrote_; // (the header's fields are not this segment's)
    apply_map(r, path_, maps_.maps[static_cast<size_t>(row.map)], message_.segment_at(at));
    wrote_ = own;
  }

  uint32_t last(std::string_view name) const {
    for (const Named &n : named_)
      if (same(n.name, name))
        return n.last;
    return UINT32_MAX;
  }

  // The segment named `name` that a condition of the segment being read
  // tests: the last before it, if it stands in that segment's group
  // occurrence or one around it (an ORC's OBR of the previous order is
  // not its own), else none. A test of its presence alone (`presence`)
  // takes one in a group within that occurrence too: ORU_R01's
  // COMMON_ORDER holds the ORC of its OBR from 2.8 on.
  // A segment that opened the next occurrence of a group the structure
  // kept it in (implied_occurrence(): ORC OBR NTE OBR, the second OBR an
  // order of its own), and those after it, stand in that next one: the
  // segments of the group before it are not theirs (the first ORC's
  // ORC-2 does not keep the second OBR's OBR-2 out).
  uint32_t partner(std::string_view name, bool presence = false) const {
    const uint32_t at = last(name);
    if (at == UINT32_MAX || occurrences_ == nullptr || occurrences_->segment_node.empty())
      return at;
    const uint32_t reading = occurrences_->segment_node[reading_],
                   found = occurrences_->segment_node[at];
    if (!within(reading, found) && !(presence && within(found, reading)) &&
        !ahead_within(found, reading, name) && !cut_in_two(at, name, found, reading))
      return UINT32_MAX;
    for (const auto &[group, start] : implied_)
      if (at < start && start <= reading_ && within(found, group) && within(reading, group))
        return UINT32_MAX;
    return at;
  }

  // Whether occurrence `found` of a segment named `name` stands in a group
  // within `reading`, the occurrence of the segment being read, that its
  // group holds before that segment: ORU_R01's ORC, in COMMON_ORDER ahead
  // of OBR from 2.8 on, is its OBR's as it was when it stood beside it (an
  // OBR's "IF ORC-12 NOT VALUED" reads it). A group the reader's holds after
  // it (a DFT_P03's FINANCIAL_COMMONORDER's ORC ahead of its OBR of the
  // order before) is not. (Out of line: met only across nested groups.)
  [[gnu::noinline, gnu::cold]] bool ahead_within(uint32_t found, uint32_t reading,
                                                 std::string_view name) const {
    const GroupDef *def = occurrences_->nodes[reading].def;
    if (found == reading || def == nullptr || !within(found, reading))
      return false;
    return child_holding(def, name) < child_holding(def, message_.segment_at(reading_).name);
  }

  // Whether segment `at` named `name`, in occurrence `found`, and the
  // segment being read, in occurrence `reading`, stand in one occurrence
  // the structure matcher cut in two: the next occurrence of the same
  // group, the first holding no segment of the reader's name, the second
  // none named `name` before the reader, nothing else between them (OML_O21's
  // ORC TQ1 OBR of a second order, whose ORC and TQ1 the matcher places in
  // one ORDER_PRIOR, which may open with TIMING_PRIOR's TQ1, and the OBR in
  // the next). (Out of line: met only across occurrences.)
  [[gnu::noinline, gnu::cold]] bool cut_in_two(uint32_t at, std::string_view name, uint32_t found,
                                               uint32_t reading) const {
    const std::vector<GroupNode> &nodes = occurrences_->nodes;
    if (nodes[found].def == nullptr || nodes[found].def != nodes[reading].def ||
        nodes[found].parent != nodes[reading].parent ||
        nodes[reading].repetition != nodes[found].repetition + 1)
      return false;
    const std::string_view own = message_.segment_at(reading_).name;
    // (the first's segment stands before the reader's in the group: an ORC
    // after an OBR is the next order's, not the OBR's)
    const size_t first = child_holding(nodes[found].def, name),
                 second = child_holding(nodes[found].def, own);
    if (first >= second)
      return false;
    const std::vector<uint32_t> &of = occurrences_->segment_node;
    for (uint32_t k = at; k-- > 0 && within(of[k], found);)
      if (same(message_.segment_at(k).name, own))
        return false;
    // (none after `at` is named `name`: partner() takes the last of that name)
    for (uint32_t k = at + 1; k < reading_; ++k) {
      const std::string_view n = message_.segment_at(k).name;
      if (within(of[k], found) ? same(n, own) : !within(of[k], reading))
        return false;
    }
    return true;
  }

  // A list element a segment's map made (its first step, in its
  // repetition of first_rep_'s count): see report_lacking().
  // Its `after`: the last member of the resource before the segment's
  // rows (none: it had none), or unknown_position: not known.
  struct ListElement {
    uint32_t resource = 0, rep = 0;
    const Map *map = nullptr;
    uint32_t after = unknown_position;
  };
  static constexpr uint32_t unknown_position = none - 1;

  // Reports each of `made`, the list elements segment `name` made in
  // resources another segment made (an AIL's participant of the
  // Appointment), that lacks an element it requires and has no documented
  // value for ("Appointment.participant without actor or type (from AIL)").
  // prune() leaves those out once the bundle is final; only here is the
  // segment known that made one. Called after all rows of the segment,
  // whose links may complete its element (DG1's diagnosis, its Condition).
  // (Out of line: a few segments fill one list element.)
  [[gnu::noinline]] void report_lacking(std::string_view name, std::span<const ListElement> made) {
    for (const ListElement &m : made) {
      const Resource &res = resources[m.resource];
      const Step &step = m.map->rows[0].path[0];
      // a segment's own block of repetitions (2^16 and more: see
      // first_repetition()) holds only members made by its rows, after
      // those before them: the search starts there (a resource of a
      // thousand notes is not read again for each)
      uint32_t c = nodes_[res.root].first;
      if ((m.rep >> 16) != 0 && m.after != unknown_position)
        c = m.after == none ? nodes_[res.root].first : nodes_[m.after].next;
      for (; c != none; c = nodes_[c].next) {
        const Node &n = nodes_[c];
        if (n.key != step.id || n.slot != step.slot || (n.rep >> 16) != (m.rep >> 16) ||
            !attached(res, c))
          continue;
        // what an element of a type requires wherever it stands (an
        // extension's value) is left out without a word, as in prune()
        if (maps_.name_required[n.key] >= 0)
          break;
        const Maps::Needs *needed = needs(res, c);
        for (size_t i = 0; needed && i != needed->size(); ++i) {
          const Maps::Need &need = (*needed)[i];
          if (holds_one(c, need.forms) ||
              maps_.defaults.contains(std::string(res.type) + "." + step.name + "." + need.element))
            continue;
          std::string text = std::string(res.type) + "." + step.name + " without ";
          for (char ch : need.element)
            text += ch == '|' ? std::string(" or ") : std::string(1, ch);
          unmapped(text + " (from " + std::string(name) + ")");
          break;
        }
        break;
      }
    }
  }

  // Whether a field's (or a repetition's) text holds a value: more than
  // separators ("^^", "~~" hold none), white space (a sender's padding, "  ",
  // which decoded() trims to nothing) and nulls "" (which ask a receiver to
  // delete what it holds, and write nothing: "\"\"~~", "\"\"^\"\"", " \"\" ").
  [[gnu::always_inline]] bool holds_a_value(std::string_view text) const {
    // (most begin with a value: one byte looked up)
    return !text.empty() && (!hollow_start_[static_cast<unsigned char>(text[0])] ||
                             separators_hold_a_value(text));
  }

  // holds_a_value() of a text that begins with a separator, white space or
  // '"'. (Out of line: rare.)
  [[gnu::noinline]] bool separators_hold_a_value(std::string_view text) const {
    auto separator_at = [&](size_t i) -> size_t { // its size, 0: none
      for (const Delimiter *d : {&enc_.component, &enc_.repetition, &enc_.sub_component})
        if (text.compare(i, d->size, d->bytes, d->size) == 0)
          return d->size;
      return 0;
    };
    for (size_t i = 0; i < text.size();) {
      if (const size_t size = separator_at(i)) {
        i += size;
        continue;
      }
      // (a piece starts here: the text's first, or one after a separator)
      // (most begin with a value)
      if (text[i] != '"' && text[i] != ' ' && text[i] != '\t')
        return true;
      size_t end = i + 1;
      while (end < text.size() && separator_at(end) == 0)
        ++end;
      // none: white space alone, or a null "" within it
      if (const std::string_view piece = trim_white_space(text.substr(i, end - i));
          !piece.empty() && piece != "\"\"")
        return true;
      i = end;
    }
    return false;
  }

  // Notes that a value of the field being read of a segment named `name`
  // was reported ("PID-8 'X' (AdministrativeSex)", "OBX-5 (data not
  // base64)"): the field is not reported again for want of a value written.
  void value_reported(std::string_view name) { values_reported_.emplace_back(name, field_); }

  bool reported_as_value(std::string_view name, uint32_t field) const {
    return std::any_of(values_reported_.begin(), values_reported_.end(),
                       [&](const auto &v) { return v.second == field && same(v.first, name); });
  }

  void unmapped(std::string_view location) {
    for (const std::string &u : out_.unmapped)
      if (same(u, location))
        return;
    out_.unmapped.emplace_back(location);
  }

  // The fields `seg` values that are not in `known`, and in `top` the last
  // of them (fields past the 255th are not listed). Each stored field in
  // turn, starting where the one before it ended (as
  // SegmentView::for_each_field() walks them); one in `known` is not read
  // (each OBX of a report values the same fields). Stored field i is field
  // i + 1, in an MSH i + 2 (MSH-1, the separator, is not stored; MSH-2 is
  // not noted).
  std::bitset<256> own_valued(const SegmentView &seg, const std::bitset<256> &known,
                              uint32_t &top) const {
    std::bitset<256> valued;
    const size_t shift = seg.msh ? 2 : 1;
    const size_t first = seg.msh ? 1 : 0;
    const size_t count = std::min<size_t>(seg.stored, 256 - shift);
    if (first >= count)
      return valued;
    const size_t separator = seg.enc->field.size;
    size_t end = first ? seg.ends[0] : static_cast<size_t>(seg.name.data() - seg.base) + seg.name.size();
    for (size_t i = first; i < count; ++i) {
      const size_t start = end + separator;
      end = seg.ends[i];
      const auto f = static_cast<uint32_t>(i + shift);
      if (end != start && !known[f] && holds_a_value({seg.base + start, end - start})) {
        valued[f] = true;
        top = std::max(top, f);
      }
    }
    return valued;
  }

  // Whether DG1 `seg`'s DG1-2 is the coding system of DG1-3's first
  // repetition (white space and case aside).
  bool names_code_system(const SegmentView &seg) const {
    const std::string_view code = nth_piece(field_text(seg, 3), enc_.repetition, 0);
    return same_folded(trim_white_space(field_text(seg, 2)),
                       trim_white_space(nth_piece(code, enc_.component, 2)));
  }

  // Whether MSH `seg`'s MSH-12 holds the first component of its first
  // repetition alone.
  bool names_version_alone(const SegmentView &seg) const {
    const std::string_view text = field_text(seg, 12);
    const std::string_view first = nth_piece(nth_piece(text, enc_.repetition, 0), enc_.component, 0);
    return !holds_a_value(text.substr(first.size()));
  }

  // Notes the fields `seg` values, by segment name; what rows wrote of is
  // noted as the segment ends. `entry` is null for the segment's first
  // map: its valued fields are noted then.
  void valued_fields(Fields *&entry, Named &named, const SegmentView &seg, bool lost = false) {
    if (entry)
      return;
    if (named.valued == none) {
      named.valued = static_cast<uint32_t>(valued_.size());
      valued_.push_back(Fields{seg.name, {}, {}, {}, {}, {}, 0});
    }
    entry = &valued_[named.valued];
    std::bitset<256> valued = own_valued(seg, lost ? std::bitset<256>() : entry->valued, entry->top);
    if (valued[1] && !seg.msh && says_nothing_more(seg, named)) [[unlikely]]
      valued[1] = false;
    // OBX-2 names the type of OBX-5's value, which the rows of OBX-5 read
    // (noted written when one writes it): of an OBX whose OBX-5 holds none
    // it types nothing, and nothing is lost
    if (valued[2] && same(seg.name, "OBX") && !holds_a_value(field_text(seg, 5))) [[unlikely]]
      valued[2] = false;
    // DG1-2, the coding method of older versions, naming the system DG1-3
    // names (I9 beside "250.00^Diabetes^I9") says nothing the code's system
    // does not
    if (valued[2] && same(seg.name, "DG1") && names_code_system(seg)) [[unlikely]]
      valued[2] = false;
    // MSH-12 naming the version the message is read by chose the
    // definitions every field is read by (groups, types, the tables'
    // values) and the rows of some versions, as OBX-2's type chooses how
    // OBX-5 is read: nothing of it is lost (the tables leave the version to
    // the original message, which the bundle's identifier, MSH-10, names).
    // One a version stands in for, or holding more than its version id
    // (VID-2's internationalization code), is reported.
    if (seg.msh && valued[12] && version_ && !stand_in_version_ && names_version_alone(seg))
      valued[12] = false;
    entry->valued |= valued;
    if (lost)
      entry->lost |= valued;
  }

  // Whether field 1 of `seg` (segment reading_, the `count`th of its name
  // in the message) says nothing the bundle does not: a set id (SI) that
  // numbers the segment as its place among its name's segments does, in
  // the group they repeat in or in the message (the bundle keeps their
  // order), and EVN-1, the event, where it is MSH-9's (the MessageHeader's
  // eventCoding). One of another value (a sender numbering 5, 6, 7; an
  // EVN-1 of A08 in an A01) is reported. (Out of line: once per segment
  // whose field 1 holds a value and no segment of its name's before it
  // told otherwise.)
  [[gnu::noinline]] bool says_nothing_more(const SegmentView &seg, Named &named) {
    const std::string_view value = trim_white_space(field_text(seg, 1));
    if (same(seg.name, "EVN")) {
      const Result<FieldView> f = header_field(message_, 9);
      return f && value == trim_white_space(
                           nth_piece(f.value().first_repetition(), enc_.component, 1));
    }
    if (named.set_id == Named::unknown) // (asked once a name: a report's OBX each ask)
      named.set_id = version_ && definitions_ && first_is_set_id(seg.name) ? Named::yes : Named::no;
    if (named.set_id == Named::no)
      return false;
    uint32_t set_id = 0;
    return fhir::number(value, set_id) &&
           (set_id == named.count || set_id == place_among_its_name(seg.name) ||
            set_id == place_after_its_patient(seg.name));
  }
  // Whether field 1 of a segment of `name` is a set id (SI) in the
  // message's version.
  bool first_is_set_id(std::string_view name) const {
    const std::vector<FieldDef> *fields = version_->segment(name);
    return fields && !fields->empty() &&
           definitions_->type_name((*fields)[0].type.type) == "SI";
  }

  // The place of segment reading_, from 1, among the segments of its name
  // after the PID before it, where another PID stands before that
  // (UINT64_MAX, which no set id is, where none does;
  // a PID's own set id counts PIDs in the message): a message of patients
  // one after another outside any group (an A17's swap, PID PV1 PID PV1)
  // numbers each patient's PV1 1.
  uint64_t place_after_its_patient(std::string_view name) const {
    if (same(name, "PID"))
      return UINT64_MAX;
    uint64_t place = 1;
    bool patient = false;
    for (uint32_t j = reading_; j-- > 0;) {
      const std::string_view n = message_.segment_at(j).name;
      if (same(n, "PID")) {
        if (patient)
          return place;
        patient = true;
      } else if (!patient) {
        place += same(n, name);
      }
    }
    return UINT64_MAX;
  }

  // The place of segment reading_, from 1, among the segments of its name
  // in the group occurrence they repeat in: the nearest one around it whose
  // group may hold more than one of them. An OBX is counted in its
  // ORDER_OBSERVATION (each OBSERVATION holds one), an OBR in its
  // PATIENT_RESULT, a PR1 or IN1 in the message (each PROCEDURE or
  // INSURANCE holds one), an NK1 in the message, an NTE in the group it
  // notes; a segment of a message of no known structure in the message.
  uint64_t place_among_its_name(std::string_view name) const {
    const std::vector<GroupNode> &nodes = occurrences_->nodes;
    const std::vector<uint32_t> &node_of = occurrences_->segment_node;
    uint32_t outer = 0;
    if (!nodes.empty() && reading_ < node_of.size()) {
      outer = node_of[reading_];
      while (outer != 0 && nodes[outer].def && holds_at_most_one(nodes[outer].def, name))
        outer = nodes[outer].parent;
    }
    uint64_t place = 1;
    for (uint32_t j = reading_; j-- > 0;) {
      if (outer != 0 && (j >= node_of.size() || !within(node_of[j], outer)))
        break;
      place += same(message_.segment_at(j).name, name);
    }
    return place;
  }

  // Whether an occurrence of group `def` holds at most one segment named
  // `name` (none, or one in children that do not repeat).
  static bool holds_at_most_one(const GroupDef *def, std::string_view name) {
    bool one = false;
    for (const StructureElement &c : def->children) {
      if (c.group ? child_holding(c.group, name) == c.group->children.size()
                  : !same(c.name, name))
        continue;
      if (one || c.cardinality.max != 1 ||
          (c.group && !holds_at_most_one(c.group, name)))
        return false;
      one = true;
    }
    return true;
  }

  // -- resources

  uint32_t latest(uint32_t label) const { return latest_[label]; }

  // Adds a resource, noting the latest Patient and Encounter.
  uint32_t add(Resource &&r) {
    const auto at = static_cast<uint32_t>(resources.size());
    r.root = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back();
    if (same(r.type, "Patient"))
      latest_patient_ = at;
    else if (same(r.type, "Encounter"))
      latest_encounter_ = at;
    resources.push_back(std::move(r));
    return at;
  }

  // The message's Patient and Encounter (those made last before `r`) where
  // no row referred to them: what a message without a table of its own
  // holds is tied to them so. One made before any Patient is the patient's
  // of `first_patient`, the message's first (an OBX of an order ahead of
  // PID, as later_links() ties a row's link to a Patient made after); a
  // stay made later may be another's.
  void context_links(uint32_t r, uint32_t first_patient) {
    const std::vector<Link> *links = resources[r].rules.context;
    if (!links)
      return;
    for (const Link &l : *links) {
      uint32_t to = l.to == "Patient" ? resources[r].patient : resources[r].encounter;
      if (to == UINT32_MAX && l.to == "Patient")
        to = first_patient;
      if (to == UINT32_MAX || holds_one(resources[r].root, l.forms))
        continue;
      refer(r, l.path, to);
    }
  }

  // Whether a resource of type `type` is made by its segment whatever the
  // segment holds: the message's header and provenance, its patient and
  // stay, which every other resource refers to.
  static bool anchor(std::string_view type) {
    return same(type, "Patient") || same(type, "Encounter") || same(type, "MessageHeader") ||
           same(type, "Provenance");
  }

  // The resource a segment row fills: the last one of its label when another
  // segment made it (PD1 fills the Patient of PID) or this same segment did,
  // otherwise a new one (each OBX its own Observation), or none for a row
  // that fills only (SegmentRow::fills_only). A resource made in
  // another occurrence of a group that held a segment of this one's name
  // (`before`, the last of them) is that occurrence's: an
  // ORDER_OBSERVATION's OBR without an ORC of its own makes its own report
  // rather than fill the one the ORC of the group before made for its OBR.
  // (An occurrence without one is completed by this: the ORC and the OBR of
  // one order placed in two, a TQ1 between them. What a segment outside the
  // group made, PID's Patient for the NK1 of each NEXT_OF_KIN, is every
  // occurrence's.)
  uint32_t instance(const SegmentRow &row, const SegmentView &seg, uint32_t index,
                    uint32_t group, const Named &named, uint32_t opens) {
    const uint32_t at = latest(row.label_id);
    const uint64_t name_bit = uint64_t{1} << std::min<uint32_t>(named.index, 63);
    if (at != UINT32_MAX) {
      const Resource &r = resources[at];
      if (r.segment == index)
        return at;
      const uint32_t before = apart(r.group, group);
      if ((r.segment_name != seg.name || row.filler) && !holds_before(before, named.before) &&
          (before == none || !opens_ahead_of(before, seg.name, r.segment_name)) &&
          !(row.makes && (r.filled & name_bit)) &&
          !(opens != none && within(r.group, opens) && !named_by_another(row, r)) &&
          (implied_.empty() || !made_before_opening(r, index, group))) {
        resources[at].filled |= name_bit;
        // A resource keyed by its message and position takes the key of the
        // first segment completing it whose fields key it (the Immunization
        // an ORC made, by its RXA; a Patient that a segment ahead of PID
        // made, by PID), and a key that gives way that of a segment which
        // makes its own (the first IN1 the Coverage of PV1-20): the id is
        // the same in every message, as if that segment had made it. (A
        // segment without a key rule gives none: key() declines.)
        if (!r.keyed || (row.makes && key_gives_way(r))) {
          const TextPlace was = resources[at].key;
          const bool later = resources[at].patient_later;
          if (key(resources[at], row, seg)) {
            if (same(r.type, "Patient"))
              patient_key_ = key_of(resources[at].key);
          } else {
            key_text_.truncate(resources[at].key.at);
            resources[at].key = was;
            resources[at].patient_later = later;
          }
        }
        return at;
      }
    }
    if (row.fills_only) [[unlikely]]
      return none;
    Resource r;
    r.type = row.type;
    r.rules = row.rules;
    r.segment_name = seg.name;
    r.segment = index;
    r.group = r.written = group;
    r.label = row.label_id;
    // (a resource of nothing is none: see drop_hollow(); the message's
    // header, provenance, patient and stay are made whatever they hold)
    if (!anchor(row.type))
      r.holds = holds_unknown;
    r.keyed = key(r, row, seg);
    r.patient = latest_patient_;
    r.encounter = latest_encounter_;
    const uint32_t made = add(std::move(r));
    latest_[row.label_id] = made;
    if (!lead_.specimens.empty()) [[unlikely]]
      follow(row, made);
    if (same(row.type, "Patient"))
      patient_key_ = key_of(resources.back().key);
    return made;
  }

  // Whether a segment named `reader`, in an occurrence after `occurrence`
  // of the same group, stands ahead of the segment named `maker` in that
  // group: it opens its own occurrence and completes nothing of the one
  // before (ORU_R01's ORC of a second order, after a first order's OBR
  // without an ORC: the second order's report is not the first's). (Out of
  // line: met only across occurrences.)
  [[gnu::noinline]] bool opens_ahead_of(uint32_t occurrence, std::string_view reader,
                                        std::string_view maker) const {
    const GroupDef *def = occurrences_->nodes[occurrence].def;
    return def != nullptr && child_holding(def, reader) < child_holding(def, maker);
  }

  // Whether resource `r` stands in a group occurrence that a segment since
  // it was made, before segment `index` (in occurrence `group`), opened the
  // next occurrence of (implied_occurrence(), nested_occurrence()): it is
  // the occurrence before's, as partner() reads it. OML_O21's second order,
  // ORC OBR SPM, which the structure matcher places in the first order's
  // PRIOR_RESULT: its OBR's specimen fields fill a Specimen of its own,
  // not the first order's SPM's. (Out of line: such messages alone.)
  [[gnu::noinline]] bool made_before_opening(const Resource &r, uint32_t index,
                                             uint32_t group) const {
    for (const auto &[at, start] : implied_)
      if (r.segment < start && start < index && within(r.group, at) && within(group, at))
        return true;
    return false;
  }

  // Whether resource `r`, which `row` would fill, is one that the segment
  // which made it names (its id's key: PID's Patient) and `row`'s segment
  // does not (PV1's Patient): a segment opening the next occurrence of a
  // group without that segment (ORU_R01's PID PV1 PV1, the second PV1 a
  // PATIENT_RESULT of its own) stands for no other one of its own, and
  // fills the one named before, as a PATIENT_RESULT without PID does: a
  // second Patient would be one of nothing. (Out of line: a segment
  // opening such an occurrence alone.)
  [[gnu::noinline, gnu::cold]] static bool named_by_another(const SegmentRow &row,
                                                            const Resource &r) {
    return row.key_rule < 0 && std::ranges::any_of(key_rules, [&](const KeyRule &k) {
             return same(k.type, r.type) && same(k.segment, r.segment_name) && !k.gives_way;
           });
  }

  // When group occurrences `a` and `b` stand in (or below) two occurrences
  // of one group, the one holding `a`; otherwise none. (A node's parent
  // comes before it: the walk ends at the message's node at the latest.)
  uint32_t apart(uint32_t a, uint32_t b) const {
    if (a == b)
      return none;
    const std::vector<GroupNode> &nodes = occurrences_->nodes;
    uint32_t below_a = none, below_b = none;
    while (a != b) {
      if (a > b) {
        below_a = a;
        a = nodes[a].parent;
      } else {
        below_b = b;
        b = nodes[b].parent;
      }
    }
    const bool one_group = below_a != none && below_b != none && nodes[below_a].def &&
                           nodes[below_a].def == nodes[below_b].def;
    return one_group ? below_a : none;
  }

  // Whether segment `segment` stands in group occurrence `occurrence` or
  // below it (false for none of either).
  bool holds_before(uint32_t occurrence, uint32_t segment) const {
    if (occurrence == none || segment == none || occurrences_->segment_node.empty())
      return false;
    uint32_t at = occurrences_->segment_node[segment];
    while (at > occurrence)
      at = occurrences_->nodes[at].parent;
    return at == occurrence;
  }

  // Whether group occurrence `occurrence` is `outer` or stands below it.
  bool within(uint32_t occurrence, uint32_t outer) const {
    if (occurrences_->nodes.empty())
      return false;
    while (occurrence > outer)
      occurrence = occurrences_->nodes[occurrence].parent;
    return occurrence == outer;
  }

  // The first child of group `def` holding a segment named `name`, as a
  // child or within a group; the number of its children when none does.
  static size_t child_holding(const GroupDef *def, std::string_view name) {
    for (size_t k = 0; k < def->children.size(); ++k) {
      const StructureElement &c = def->children[k];
      if (c.group ? child_holding(c.group, name) < c.group->children.size() : same(c.name, name))
        return k;
    }
    return def->children.size();
  }

  // Whether group `def` holds a segment named `name` at most once: as a
  // child, or within a group it holds once (ORM_O01's ORDER_DETAIL holds
  // its OBR in the choice of OBR, RQD, RXO ...: a second OBR after the
  // first's NTE is a second ORDER, not more of the first).
  static bool holds_once(const GroupDef *def, std::string_view name) {
    if (def)
      for (const StructureElement &c : def->children)
        if (c.cardinality.max == 1 && (c.group ? holds_once(c.group, name) : same(c.name, name)))
          return true;
    return false;
  }

  // For segment `index` named `name`, which the structure has no place for
  // where it stands (in occurrence `node`): the occurrence of a repeating
  // group whose next occurrence it opens, else none. A group that holds a
  // segment of its name at most once and already holds one (since the last
  // such segment opened one) cannot hold it: it stands for another
  // occurrence of the group, or of the nearest repeating group around it,
  // whose first segments the sender left out (VXU_V04's ORDER: ORC RXA
  // ... RXA, a second RXA without its own ORC, is a second ORDER, and its
  // Immunization is its own). The structure matcher keeps the segment in
  // the occurrence open; this reads the same definitions.
  uint32_t implied_occurrence(uint32_t node, std::string_view name, uint32_t before,
                              uint32_t index) {
    const std::vector<GroupNode> &nodes = occurrences_->nodes;
    if (before == UINT32_MAX || nodes.empty())
      return none;
    uint32_t at = node;
    while (at != 0 && !holds_once(nodes[at].def, name))
      at = nodes[at].parent;
    at = repeating_occurrence(at);
    if (at == 0)
      return none;
    uint32_t since = 0; // where the occurrence's last implied one began
    for (const auto &[group, start] : implied_)
      if (group == at)
        since = start;
    if (before < since || !holds_before(at, before))
      return none;
    implied_.emplace_back(at, index);
    return at;
  }

  // The group segment `index` named `name` stands in (in occurrence `node`,
  // of name `group`) when it follows a segment that opened the next
  // occurrence of a group (implied_occurrence()): the structure matcher
  // keeps it in the occurrence before where that one already holds its
  // group (ORM's ORC OBR OBX OBR NTE: the NTE in the first order's
  // OBSERVATION, which ORM maps to nothing), where the next occurrence,
  // begun at that segment, holds it after the segment before it (the
  // second order's ORDER_DETAIL: its note). A segment the matcher placed in
  // an occurrence begun since (an OBX's OBSERVATION) stays there. (Out of
  // line: segments after such an opening alone.)
  [[gnu::noinline]] std::string_view fresh_group(uint32_t node, std::string_view name, uint32_t index,
                                                 std::string_view group) const {
    const auto &[at, start] = implied_.back();
    if (start >= index || !within(node, at) || first_segment(node) >= start)
      return group;
    const GroupDef *fresh =
        holding_after(occurrences_->nodes[at].def, message_.segment_at(index - 1).name, name);
    return fresh ? std::string_view(fresh->name) : group;
  }

  // For segment `index`, which the structure has no place for in occurrence
  // `node`, following segments of that occurrence it had no place for
  // either: the group holding it after the one before where the last of
  // them that begins a child group of the occurrence does (group_of_opener():
  // ORU_R01's OBR OBX FT1 OBX NTE, the NTE the second OBX's note, as the
  // OBSERVATION it begins holds it), else null. A run of such segments is
  // walked once, not once for each of its segments (stray_run_: a message of
  // thousands of them took time in the square of its size). (Out of line:
  // such messages alone.)
  [[gnu::noinline, gnu::cold]] const GroupDef *child_begun(uint32_t node, uint32_t index) {
    const std::vector<uint32_t> &unexpected = occurrences_->unexpected;
    const GroupDef *def = occurrences_->nodes[node].def;
    if (def == nullptr || index == 0)
      return nullptr;
    auto strays = [&](uint32_t k) {
      return occurrences_->segment_node[k] == node && std::ranges::binary_search(unexpected, k);
    };
    auto child_of = [&](uint32_t k) -> const GroupDef * {
      const std::string_view name = message_.segment_at(k).name;
      for (const StructureElement &c : def->children)
        if (begins_with(c.group, name))
          return c.group;
      return nullptr;
    };
    StrayRun &run = stray_run_;
    // the walk before, of this occurrence, for this segment or one before it
    const bool walked = run.node == node && run.next <= index;
    uint32_t opener = none;
    for (uint32_t k = index; k-- > 0;) {
      if (walked && k < run.next) {
        opener = run.opener;
        break;
      }
      if (!strays(k))
        break;
      if (child_of(k)) {
        opener = k;
        break;
      }
    }
    run = {node, index, opener};
    if (opener == none)
      return nullptr;
    return holding_after(child_of(opener), message_.segment_at(index - 1).name, message_.segment_at(index).name);
  }

  // The first segment of group occurrence `node` (none: it holds none).
  uint32_t first_segment(uint32_t node) const {
    for (;;) {
      const auto items = occurrences_->items_of(occurrences_->nodes[node]);
      if (items.empty())
        return none;
      if (!items[0].group)
        return items[0].index;
      node = items[0].index;
    }
  }

  // Whether group `def` holds a segment named `name`, at any depth.
  static bool holds_any(const GroupDef &def, std::string_view name) {
    return std::ranges::any_of(def.children, [&](const StructureElement &c) {
      return c.group ? holds_any(*c.group, name) : same(c.name, name);
    });
  }

  // The innermost group within `def` (or `def`) that holds a segment named
  // `name` after one named `before`: as a child after the child holding
  // `before` (the same child where it repeats), or as the first segment of
  // a child group there; null where none does.
  static const GroupDef *holding_after(const GroupDef *def, std::string_view before,
                                       std::string_view name) {
    if (!def)
      return nullptr;
    const auto &children = def->children;
    for (size_t k = 0; k < children.size(); ++k) {
      const StructureElement &c = children[k];
      if (c.group ? !holds_any(*c.group, before) : !same(c.name, before))
        continue;
      if (const GroupDef *inner = holding_after(c.group, before, name))
        return inner;
      for (size_t j = c.group || c.cardinality.max == 1 ? k + 1 : k; j < children.size(); ++j) {
        const StructureElement &later = children[j];
        if (!later.group && same(later.name, name))
          return def;
        if (begins_with(later.group, name))
          return later.group;
      }
      return nullptr;
    }
    return nullptr;
  }

  // Occurrence `at` or the nearest around it of a group that repeats where
  // it stands; 0 (the message's) where none does.
  uint32_t repeating_occurrence(uint32_t at) const {
    const std::vector<GroupNode> &nodes = occurrences_->nodes;
    for (; at != 0; at = nodes[at].parent)
      if (const GroupDef *outer = nodes[nodes[at].parent].def)
        for (const StructureElement &c : outer->children)
          if (c.group == nodes[at].def && c.cardinality.max != 1)
            return at;
    return 0;
  }

  // For segment `index` named `name`, which stands (in occurrence `node`)
  // in a group its rows do not name (rows_in()'s borrowed ones): the
  // occurrence of the nearest repeating group around the last segment of
  // its name (`before`) when this one stands within it, deeper, in a group
  // that holds its name at most once and that no segment since `before`
  // opened another occurrence of, else none. It is that group's next
  // occurrence, whose first segments the sender left out, as
  // implied_occurrence() finds for a segment the structure has no place
  // for: OML_O21's ORC OBR SPM OBR SPM, whose second OBR, without an ORC
  // of its own, the structure matcher places in the first ORDER's
  // PRIOR_RESULT (ORDER_PRIOR opens with an optional ORC), is a second
  // order, not more of the first. (An ORC since, in an ORDER_PRIOR of its
  // own or the OBR's, is that order's, which the OBR completes.)
  [[gnu::noinline, gnu::cold]] uint32_t nested_occurrence(uint32_t node, std::string_view name,
                                                          uint32_t before, uint32_t index) {
    const std::vector<GroupNode> &nodes = occurrences_->nodes;
    if (before == UINT32_MAX || nodes.empty() || occurrences_->segment_node.empty())
      return none;
    uint32_t at = occurrences_->segment_node[before];
    if (at == node || !holds_once(nodes[node].def, name))
      return none;
    for (uint32_t k = before + 1; k < index; ++k)
      if (nodes[occurrences_->segment_node[k]].def == nodes[node].def)
        return none;
    at = repeating_occurrence(at);
    if (at == 0)
      return none;
    if (!within(node, at))
      return none;
    for (const auto &[group, start] : implied_)
      if (group == at && start > before)
        return none;
    implied_.emplace_back(at, index);
    return at;
  }

  // Writes the key of resource `r`, made by `row` of `seg`, in key_text_ (one
  // text for all the message's keys: no string a resource); false when it
  // is the message's and position's (no rule, or its fields empty).
  bool key(Resource &r, const SegmentRow &row, const SegmentView &seg) {
    const std::string_view type = row.type;
    r.key.at = static_cast<uint32_t>(key_text_.size());
    Out &k = key_text_;
    if (row.key_rule >= 0) {
      const KeyRule &rule = key_rules[row.key_rule];
      k.put(type);
      // the rule's fields, or those of field `instead` in their place;
      // whether one holds a value
      auto put_fields = [&](uint32_t instead) {
        bool valued = false;
        for (const uint32_t(&at)[3] : rule.fields) {
          if (at[0] == 0)
            continue;
          std::string_view text = first_repetition(seg, instead ? instead : at[0], at[1], at[2]);
          valued = valued || !text.empty();
          k.put('|');
          k.put(text);
        }
        return valued;
      };
      const size_t fields_at = k.size();
      bool any = put_fields(0);
      if (!any && rule.instead != 0) [[unlikely]] {
        k.truncate(fields_at);
        any = put_fields(rule.instead);
      }
      if (rule.order) {
        std::string_view order = order_key();
        any = any || !order.empty();
        k.put("|o="sv);
        k.put(order);
      }
      if (rule.patient) {
        // made before PID keyed the Patient: the key ends in the Patient's
        // in finish(), as in a message where PID comes first
        r.patient_later =
            latest_patient_ == UINT32_MAX || !resources[latest_patient_].keyed;
        k.put("|p="sv);
        if (!r.patient_later)
          k.put(patient_key_);
      }
      if (any || (rule.fields[0][0] == 0 && rule.order)) {
        r.key.size = static_cast<uint32_t>(k.size() - r.key.at);
        return true;
      }
      k.truncate(r.key.at);
    }
    // (larger than a count needs: the copy's branch for texts over 16
    // bytes must see its reads as in bounds, which a build with less
    // optimisation cannot rule out)
    char number[24];
    const auto end =
        std::to_chars(number, number + sizeof number, resources.size() - apart_.size()).ptr;
    k.put(type);
    k.put("|m="sv);
    k.put(message_id_);
    k.put('|');
    k.put(std::string_view(number, static_cast<size_t>(end - number)));
    r.key.size = static_cast<uint32_t>(k.size() - r.key.at);
    return false;
  }

  // Whether the key rule of the segment that made `r` gives way to that of
  // one completing it (KeyRule::gives_way).
  static bool key_gives_way(const Resource &r) {
    for (const KeyRule &rule : key_rules)
      if (rule.gives_way && same(r.type, rule.type) && same(r.segment_name, rule.segment))
        return true;
    return false;
  }

  std::string_view key_of(TextPlace key) const { return {key_text_.data() + key.at, key.size}; }

  // The order's number, from the last OBR or ORC of the order being read
  // (kept until another is seen): an OBR of the order before is not the
  // next ORC's (see partner()), so an order's ids do not depend on the
  // orders ahead of it in the message. The placer's number comes first:
  // the order is sent with it alone and its results with the filler's
  // beside it, and both must name one order; a filler's own order, with
  // no placer number, is keyed by the filler's.
  std::string_view order_key() {
    if (order_known_)
      return order_;
    static constexpr std::pair<std::string_view, uint32_t> places[] = {
        {"OBR", 2}, {"ORC", 2}, {"OBR", 3}, {"ORC", 3}};
    order_.clear();
    for (auto [name, field] : places) {
      uint32_t at = partner(name);
      if (at == UINT32_MAX)
        continue;
      std::string_view text = first_repetition(message_.segment_at(at), field, 1, 0);
      if (!text.empty()) {
        order_.assign(text);
        break;
      }
    }
    order_known_ = true;
    return order_;
  }

  // The node at the end of `path` in resource `r`, made as needed; none
  // when a step meets a value where an element should be.
  uint32_t node(uint32_t r, const std::vector<PathItem> &path) {
    uint32_t at = resources[r].root;
    for (const PathItem &item : path) {
      if (nodes_[at].kind != 'o')
        return none;
      const uint32_t id = item.step->id;
      const uint16_t slot = item.step->slot;
      // the element made last is the one most often asked for again (the
      // rows of a data type map fill one element after another)
      if (const uint32_t last = nodes_[at].last; last != none) {
        const Node &c = nodes_[last];
        if (c.key == id && c.slot == slot && c.rep == item.rep && c.kind != 'x') {
          at = last;
          continue;
        }
      }
      const uint32_t bit = name_bit(id);
      uint32_t next = (nodes_[at].names & bit) ? nodes_[at].first : none;
      uint32_t named = none; // the first member of the name
      if (nodes_[at].indexed) [[unlikely]] {
        const auto [member, first] = find_member(at, id, slot, item.rep);
        next = member;
        named = first;
      } else {
        while (next != none) {
          const Node &c = nodes_[next];
          if (c.key == id) {
            if (c.slot == slot && c.rep == item.rep)
              break;
            if (named == none)
              named = next;
          }
          next = c.next;
        }
      }
      if (next != none && nodes_[next].kind == 'x') [[unlikely]]
        revive(next);
      if (next == none) {
        next = static_cast<uint32_t>(nodes_.size());
        // (made whole where it goes: not cleared first and written again;
        // in line, unlike emplace_back())
        nodes_.push_back(Node{.key = id, .rep = item.rep, .parent = at, .slot = slot});
        Node &n = nodes_.back();
        if (const uint8_t notes = maps_.name_notes[id]) [[unlikely]] {
          if (notes & 1)
            note_checked(r, next);
          if (notes & 2)
            note_rivals(r, at, next);
        }
        if (named != none) {
          n.named_before = true;
          nodes_[named].named_after = true;
        }
        // append(at, next) with what is known here: the name's bit and the
        // repetition, not read back from the new element
        Node &p = nodes_[at];
        p.names |= bit;
        if (p.last == none)
          p.first = next;
        else
          nodes_[p.last].next = next;
        p.last = next;
        if (p.indexed || item.rep > indexed_members) [[unlikely]]
          appended_many(at, next);
      }
      at = next;
    }
    return at;
  }

  // Notes node `n` of resource `r`, a form of a choice element being made
  // a member of `parent`, and the members of `parent` that are other forms
  // of it as rivals (see other_form_before()). `n`, made after them, is not
  // written where one of them holds something: the field being read is
  // noted with it (see report_lost_forms()). (Out of line: few elements
  // are forms.)
  [[gnu::noinline]] void note_rivals(uint32_t r, uint32_t parent, uint32_t n) {
    const uint32_t choice = maps_.choice_of[nodes_[n].key];
    for (uint32_t c = nodes_[parent].first; c != none; c = nodes_[c].next)
      if (maps_.choice_of[nodes_[c].key] == choice && nodes_[c].key != nodes_[n].key) {
        nodes_[c].rival = true;
        nodes_[n].rival = true;
      }
    // (a form after one its own field wrote, SN's text beside its
    // Quantity, loses nothing of the field: the value stands in the first)
    if (nodes_[n].rival && field_ != 0 && !wrote_[field_ & 255])
      later_forms_.push_back({segment_, field_, n, r});
  }

  // Reports each field that wrote a form of a choice element (SPM-17's
  // collectedPeriod) of which another form was written before (OBR-7's
  // collectedDateTime): one form is written, the first (see
  // other_form_before()), and the later one's field was lost without a
  // word. (Out of line: met only where a form met another.)
  [[gnu::noinline, gnu::cold]] void report_lost_forms() {
    for (const FieldWrite &w : later_forms_) {
      if (resources[w.resource].dropped || !live(w.node))
        continue;
      if (other_form_before(nodes_[nodes_[w.node].parent], w.node))
        unmapped(field_place(message_.segment_at(w.segment).name, w.field));
    }
  }

  static uint32_t name_bit(uint32_t id) { return uint32_t{1} << (id & 31); }
  // Aligns the lists of primitives of `r` with the lists of their
  // extensions beside them ("category" and "_category"), as FHIR's JSON
  // writes them: an element of one at a place (slot and repetition) where
  // the other has none gets a null there (AL1-2's code without a category
  // of FHIR's, its own code in the extension: "category": [null]). Done
  // once the bundle is final, as what is written is known then. (Out of
  // line: few resources hold such lists.)
  [[gnu::noinline, gnu::cold]] void align_primitive_lists(const Resource &r) {
    auto rank = [](const Node &e) { return uint64_t{e.slot} << 32 | e.rep; };
    const uint32_t root = r.root;
    for (uint32_t c = nodes_[root].first; c != none; c = nodes_[c].next) {
      const uint32_t extensions = nodes_[c].key;
      const std::string_view name = maps_.names[extensions];
      if (nodes_[c].slot == 0 || nodes_[c].named_before || !name.starts_with('_'))
        continue;
      const uint32_t values = maps_.name_id(name.substr(1));
      if (values == 0)
        continue;
      // each place one list writes an element at and the other does not
      for (const auto &[from, to] : {std::pair{extensions, values}, std::pair{values, extensions}})
        for (uint32_t e = nodes_[root].first; e != none; e = nodes_[e].next) {
          if (nodes_[e].key != from || !live(e))
            continue;
          uint32_t there = none;
          for (uint32_t o = nodes_[root].first; o != none && there == none; o = nodes_[o].next)
            if (nodes_[o].key == to && rank(nodes_[o]) == rank(nodes_[e]))
              there = o;
          if (there != none && live(there))
            continue;
          if (there == none) { // a member of the list's name, after its others
            there = static_cast<uint32_t>(nodes_.size());
            Node &n = nodes_.emplace_back();
            n.key = to;
            n.slot = nodes_[e].slot;
            n.rep = nodes_[e].rep;
            n.parent = root;
            for (uint32_t o = nodes_[root].first; o != none; o = nodes_[o].next)
              if (nodes_[o].key == to && !nodes_[o].named_before) {
                nodes_[o].named_after = true;
                n.named_before = true;
              }
            append(root, there);
          }
          clear_members(there);
          Node &n = nodes_[there]; // a null (written as numbers are) where nothing would be
          n.kind = 'n';
          n.value = static_cast<uint32_t>(text_.size());
          n.size = 4;
          text_.put("null"sv);
          text_.reserve(json_string_read_ahead); // as put_padded() leaves room
        }
    }
  }

  // Makes node `child` the last member of node `parent`.
  [[gnu::always_inline]] void append(uint32_t parent, uint32_t child) {
    Node &p = nodes_[parent];
    p.names |= name_bit(nodes_[child].key);
    if (p.last == none)
      p.first = child;
    else
      nodes_[p.last].next = child;
    p.last = child;
    if (p.indexed || nodes_[child].rep > indexed_members) [[unlikely]]
      appended_many(parent, child);
  }

  // After append(): notes `child` in its parent's table of members, or
  // makes that table when `child` is a list's element past
  // indexed_members (a repetition of a field, or of segments: see
  // first_repetition()). (Out of line: few elements have so many members.)
  [[gnu::noinline]] void appended_many(uint32_t parent, uint32_t child) {
    const uint32_t rep = nodes_[child].rep;
    if (nodes_[parent].indexed)
      index_member(parent, child);
    else if ((rep & 0xFFFFu) > indexed_members || (rep >> 16) > indexed_members)
      index_members(parent);
  }

  // An element's members are found by walking them, but for an element of
  // many (a resource's list of thousands of notes, contacts or diagnoses:
  // each NTE of a long report another note), whose members are found
  // through a table (members_) once one of them is a list's element past
  // indexed_members, so that such a message takes time in proportion to its
  // segments, not to their square. The table holds all of such an element's members:
  // by name, slot and repetition; the first of each name; the highest
  // repetition of each name and slot.
  static constexpr uint32_t indexed_members = 96;
  struct MemberKey {
    uint32_t parent, key, rep;
    uint16_t slot;
    uint8_t what; // 0 the member, 1 the first of its name, 2 the highest repetition
    bool operator==(const MemberKey &) const = default;
  };
  struct MemberHash {
    size_t operator()(const MemberKey &k) const noexcept {
      uint64_t h = (uint64_t{k.parent} << 32 | k.key) * 0x9E3779B97F4A7C15ULL;
      h ^= (uint64_t{k.rep} << 24 | uint64_t{k.slot} << 8 | k.what) * 0xC2B2AE3D27D4EB4FULL;
      return static_cast<size_t>(h ^ h >> 29);
    }
  };

  // Notes member `child` of `parent` in the table. (Out of line: few
  // elements have so many members.)
  [[gnu::noinline]] void index_member(uint32_t parent, uint32_t child) {
    const Node &n = nodes_[child];
    members_.try_emplace({parent, n.key, n.rep, n.slot, 0}, child);
    members_.try_emplace({parent, n.key, 0, 0, 1}, child);
    uint32_t &highest = members_.try_emplace({parent, n.key, 0, n.slot, 2}, n.rep).first->second;
    highest = std::max(highest, n.rep);
  }

  // Notes all of `parent`'s members in the table, and that its members are
  // found there from now on.
  [[gnu::noinline]] void index_members(uint32_t parent) {
    nodes_[parent].indexed = true;
    for (uint32_t c = nodes_[parent].first; c != none; c = nodes_[c].next)
      index_member(parent, c);
  }

  // The member of `parent` of name `id`, `slot` and `rep` (none when
  // there is none) and the first of its name, found through the table (see
  // index_member()). (Returned, not written through references: the
  // caller's walk keeps its own in registers.)
  [[gnu::noinline]] std::pair<uint32_t, uint32_t> find_member(uint32_t parent, uint32_t id,
                                                              uint16_t slot, uint32_t rep) const {
    const auto first = members_.find({parent, id, 0, 0, 1});
    return {member_in_table(parent, id, slot, rep),
            first == members_.end() ? none : first->second};
  }

  // The member of `parent` of name `id`, `slot` and `rep` in the table,
  // none when there is none.
  uint32_t member_in_table(uint32_t parent, uint32_t id, uint16_t slot, uint32_t rep) const {
    const auto found = members_.find({parent, id, rep, slot, 0});
    return found == members_.end() ? none : found->second;
  }

  // The highest repetition of the members of `parent` of name `id` and
  // `slot`, and true; false when `parent`'s members are not in the table.
  bool highest_member(uint32_t parent, uint32_t id, uint16_t slot, uint32_t &rep) const {
    if (!nodes_[parent].indexed)
      return false;
    const auto found = members_.find({parent, id, 0, slot, 2});
    rep = found == members_.end() ? 0 : found->second + 1;
    return true;
  }

  // Makes dead element `n` anew, empty (a default starts it anew), noting
  // it within a value written whole (see end_whole()). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void revive(uint32_t n) {
    nodes_[n].kind = 'o';
    clear_members(n);
    if (whole_from_ != 0)
      revived_.push_back(n);
  }

  // Takes away the members of element `n` (a dead one a default starts
  // anew; one that becomes a value), from the table too. (Out of line:
  // rare.)
  [[gnu::noinline, gnu::cold]] void clear_members(uint32_t n) {
    Node &node = nodes_[n];
    if (node.indexed) [[unlikely]]
      std::erase_if(members_, [&](const auto &entry) { return entry.first.parent == n; });
    node.first = node.last = none;
    node.names = 0;
    node.indexed = false;
  }

  // Notes element `n` of resource `r`, whose name may require another, for
  // prune(). (Out of line: most elements made are not.)
  [[gnu::noinline]] void note_checked(uint32_t r, uint32_t n) {
    Resource &owner = resources[r];
    checked_.push_back({n, owner.last_checked, segment_});
    owner.last_checked = static_cast<uint32_t>(checked_.size() - 1);
  }

  // Writes a leaf at `path` unless one is there (the first row to write an
  // element wins: rows with conditions the tables leave as prose come in
  // order of preference).
  // (In line: a call fewer a value written through it.)
  [[gnu::always_inline]] void leaf(uint32_t r, std::vector<PathItem> &path, char kind,
                                   std::string_view text, uint32_t target = 0) {
    put_leaf(node(r, path), kind, text, target);
  }
  // leaf() of a reference to `to`, a resource made of a value: where the
  // element refers to another already (a second PD1-3 where the Patient's
  // generalPractitioner names the first's), finish() asks whether anything
  // refers to `to` (drop_orphans()).
  void reference_leaf(uint32_t r, std::vector<PathItem> &path, uint32_t to) {
    const uint32_t at = node(r, path);
    put_leaf(at, 'r', {}, to);
    if (at == none || nodes_[at].kind != 'r' || nodes_[at].target != to) [[unlikely]]
      orphans_maybe_ = true;
  }
  // leaf() at node `at` (none: nothing written). (In line in primitive(),
  // where most leaves are written: one call fewer a value.)
  [[gnu::always_inline]] void put_leaf(uint32_t at, char kind, std::string_view text,
                                       uint32_t target) {
    if (at == none)
      return;
    Node &n = nodes_[at];
    if (n.kind != 'o' || n.first != none) [[unlikely]] {
      taken_leaf(n, kind, text);
      return;
    }
    wrote_[field_ & 255] = true;
    n.kind = kind;
    n.value = static_cast<uint32_t>(text_.size());
    n.size = static_cast<uint32_t>(text.size());
    text_.put_padded(text);
    n.target = target;
  }

  // put_leaf() where element `n` holds a value already: a document's line
  // joins its data; otherwise the first value stays, and the field counts as
  // written only where it held that value (an SPM-17 after the collection
  // time OBR-7 wrote into the Specimen they share is reported where it
  // differs, not lost without a word). (Out of line: rare.)
  // A MIME type that names no more than data, application/octet-stream
  // (TXA-3's AP: a document of application data), yields to a later one of
  // the same element (the ED's AP^PDF, application/pdf, in the content they
  // share).
  [[gnu::noinline, gnu::cold]] void taken_leaf(Node &n, char kind, std::string_view text) {
    if (n.kind == 'B' && kind == 'B') {
      add_line(n, text);
      wrote_[field_ & 255] = true;
    } else if (n.kind == kind && n.first == none && text_of(n) == text) {
      wrote_[field_ & 255] = true;
    } else if (n.kind == kind && kind == 's' && n.first == none &&
               text_of(n) == "application/octet-stream" && text.find('/') != std::string_view::npos) {
      wrote_[field_ & 255] = true;
      n.value = static_cast<uint32_t>(text_.size());
      n.size = static_cast<uint32_t>(text.size());
      text_.put_padded(text);
    } else if (const auto at = static_cast<uint32_t>(&n - nodes_.data()); at < whole_from_) {
      met_ = true; // (a value there before apply_whole() began)
    } else if (at >= field_from_ && at < unit_from_ && field_ != 0) {
      // an earlier repetition of the field being read wrote it: this one's
      // value is lost (a field of one value sent repeated, "F~M" in PID-8)
      unmapped(field_place(message_.segment_at(segment_).name, field_));
    } else {
      met_written_[field_ & 255] = true;
    }
  }

  // Writes a row's constant as leaf() does, noting where its text starts:
  // an element made of constants alone holds no value of the message (see
  // report_pruned()). (Out of line: keeps the note out of leaf().)
  // A constant writes of its field only where it stays: one written into
  // an element left out (Encounter.location's status, where PV1-3 made no
  // Location) leaves the field's value unwritten.
  [[gnu::noinline]] void constant_leaf(uint32_t r, std::vector<PathItem> &path, char kind,
                                       std::string_view text) {
    const auto at = static_cast<uint32_t>(text_.size());
    const bool wrote = wrote_[field_ & 255];
    const uint32_t n = node(r, path);
    put_leaf(n, kind, text, 0);
    wrote_[field_ & 255] = wrote;
    if (text_.size() != at)
      constants_.push_back(at);
    // (reached its element, written now or before; not beside a value of
    // the field that met another field's: ORC-2's placer type is not OBR-2's)
    if (n != none && !wrote && field_ != 0 && !met_written_[field_ & 255]) {
      constant_wrote_[field_ & 255] = true;
      constant_writes_.push_back({segment_, field_, n, r});
    }
  }

  // Reports each valued field of a segment that only rows' constants wrote
  // of, none of which stayed once the resources' fates are known ("PV1-6"
  // of a PL of its facility alone: its Location, made of nothing, went;
  // the location's status with it), or that rows of no condition wrote
  // (IN3-21's case manager: the CareTeam's role, of constants alone, holds
  // no name of the field, whether it stays or not). (Out of line: met only
  // where a field gave constants alone.)
  [[gnu::noinline, gnu::cold]] void report_lost_to_constants() {
    auto stays = [&](const FieldWrite &w) {
      if (resources[w.resource].dropped || w.node == none)
        return false;
      for (uint32_t at = w.node; at != none; at = nodes_[at].parent)
        if (nodes_[at].kind == 'x')
          return false;
      return true;
    };
    for (const Fields &fields : valued_)
      for (uint32_t f = 1; f <= fields.top; ++f) {
        if (!fields.constant[f] || fields.mapped[f] || !fields.valued[f])
          continue;
        const bool stayed = std::any_of(
            constant_writes_.begin(), constant_writes_.end(), [&](const FieldWrite &w) {
              return w.field == f && same(message_.segment_at(w.segment).name, fields.name) &&
                     stays(w);
            });
        if ((!stayed || fields.unchosen[f]) && !reported_as_value(fields.name, f))
          unmapped(field_place(fields.name, f));
      }
  }

  // Reports the data of the field being read as not of `form` ("OBX-5
  // (data not base64)"). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void unreadable_data(std::string_view form) {
    value_reported(message_.segment_at(reading_).name);
    unmapped(field_place(message_.segment_at(reading_).name, field_) +
             " (data not " + std::string(form) + ")");
  }

  // Whether `text` is a FHIR id: 1 to 64 letters, digits, '-' and '.'.
  [[gnu::noinline]] static bool is_id(std::string_view text) {
    return !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
             c == '.';
    });
  }

  // Reports the field being read, whose value no row of its map writes
  // (a row of kind 'U': OBX-5 of a type without one, "OBX-5"). (Out of
  // line: rare.)
  // (written into a buffer: an order number's namespace is reported for
  // each map of its segment, all but the first found reported already)
  // unmapped_value() of a row of kind 'U' reading `value`, but where the
  // value is the text its join reads (a data type map's: XTN.1 repeating
  // XTN.4's address beside it, which is written)
  [[gnu::noinline, gnu::cold]] void unmapped_row(const Row &row, const Value &value,
                                                 const SegmentView &seg) {
    // (a null, "", or white space is no value lost: XTN-4 "" beside a
    // telephone number)
    if (!holds_a_value(row.join.empty() || row.field == 0 ? value.text
                                                          : piece(value, row.field).text))
      return;
    if (!row.join.empty() && row.field != 0) { // (a join reads the whole value)
      // (kept: the text may stand in the scratch buffer, which the next read reuses)
      const std::string own(decoded(piece(piece(value, row.field), 1).text));
      std::string_view beside;
      if (!in_pieces(row.join[0], value, beside))
        beside = address(row.join[0], seg, 0, {}, value);
      if (own == beside)
        return;
    }
    unmapped_value(seg);
  }

  [[gnu::noinline, gnu::cold]] void unmapped_value(const SegmentView &seg) {
    // (its digits by hand: std::to_chars here changed how run() formats
    // the fields it reports, a call of it no longer in line)
    char text[48];
    const size_t size = std::min<size_t>(seg.name.size(), 32);
    std::memcpy(text, seg.name.data(), size);
    text[size] = '-';
    char *end = text + sizeof text;
    for (uint32_t n = field_; end == text + sizeof text || n; n /= 10)
      *--end = static_cast<char>('0' + n % 10);
    const size_t digits = static_cast<size_t>(text + sizeof text - end);
    std::memmove(text + size + 1, end, digits);
    unmapped({text, size + 1 + digits});
  }

  // Reports the text of the field being read that FHIR's primitive of
  // `kind` cannot hold, which is left out ("PV1-44 '20241301' (not a date
  // or time)": month 13; "OBX-5 '1E3' (not a decimal)": v2's numbers have no
  // exponent). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void unreadable_value(char kind, std::string_view text) {
    const char *form = kind == 't'   ? "a time"
                       : kind == 'd' ? "a decimal"
                       : kind == 'i' ? "an integer"
                       : kind == 'p' ? "a positiveInt"
                       : kind == 'w' ? "an unsignedInt"
                       : kind == 'b' ? "a boolean"
                       : kind == 'I' ? "an instant"
                       : kind == 'm' ? "a MIME type"
                       : kind == 'e' ? "at or after its start"
                       : kind == 's' ? "at or before its end"
                                     : "a date or time";
    value_reported(message_.segment_at(reading_).name);
    unmapped(field_place(message_.segment_at(reading_).name, field_) +
             " '" + std::string(text) + "' (not " + form + ")");
  }

  // Notes the offset of `text`, the field being read, as written or left
  // out (time_offset_): report_offsets() reports it left out where no row
  // of the segment wrote it (PID-7's day is the birthDate, its time and
  // offset the birthTime). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void note_offset(std::string_view text) {
    if (time_offset_ == 'k')
      offset_kept_[field_ & 255] = true;
    else
      offset_dropped_.push_back({message_.segment_at(reading_).name, field_, std::string(text)});
  }

  // Reports the offsets of the segment's fields that its rows left out,
  // none written ("OBX-5 '123045-0500' (offset left out)": FHIR's time
  // has none). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void report_offsets() {
    for (const DroppedOffset &d : offset_dropped_)
      if (!offset_kept_[d.field & 255]) {
        values_reported_.emplace_back(d.segment, d.field);
        unmapped(field_place(d.segment, d.field) + " '" + d.text +
                 "' (offset left out)");
      }
    offset_dropped_.clear();
    offset_kept_.reset();
  }

  // Whether `time`, to be written at `path` (a Period's start or end, the
  // step `key`), falls on the wrong side of the other its period holds
  // already: a sender's end before its start (PV1-45 before PV1-44, DR-2
  // before DR-1), or a start after an end written before it (ORC-7's end,
  // then TQ1-7's start), which a Period does not allow. What was written
  // first is kept and the later reported. (Out of line: few values end.)
  [[gnu::noinline]] bool out_of_order(uint32_t r, std::vector<PathItem> &path, uint32_t key,
                                      std::string_view time) {
    if (path.size() < 2) // a resource's own start and end (Appointment's) are no Period's
      return false;
    const PathItem last = path.back();
    path.pop_back();
    // (the period the time would be written in; made now if it is not, as
    // the time's own leaf() would make it)
    const uint32_t period = node(r, path);
    path.push_back(last);
    if (period == none || nodes_[period].kind != 'o')
      return false;
    const uint32_t other = key == maps_.end_id ? maps_.start_id : maps_.end_id;
    for (uint32_t c = nodes_[period].first; c != none; c = nodes_[c].next)
      if (nodes_[c].key == other && nodes_[c].kind == 's')
        return key == maps_.end_id ? ends_before(text_of(nodes_[c]), time)
                                   : ends_before(time, text_of(nodes_[c]));
    return false;
  }

  // Whether `end` falls before `start`. A day or coarser is judged on the
  // digits both hold (2023 before 2024-01-10; 2024 is not), two times of day
  // as the instants they name, whatever their offsets and precision (each
  // has an offset: one sent without takes the sender's, see
  // timestamp_value()).
  static bool ends_before(std::string_view start, std::string_view end) {
    if (const size_t n = std::min(start.size(), end.size()); n <= 10)
      return end.substr(0, n) < start.substr(0, n);
    const std::optional<UtcTime> s = utc_time(start), e = utc_time(end);
    if (!s || !e)
      return false;
    if (e->seconds != s->seconds)
      return e->seconds < s->seconds;
    // (fractions compared digit by digit, the shorter padded with zeros)
    for (size_t i = 0; i < std::max(s->fraction.size(), e->fraction.size()); ++i) {
      const char a = i < e->fraction.size() ? e->fraction[i] : '0';
      const char b = i < s->fraction.size() ? s->fraction[i] : '0';
      if (a != b)
        return a < b;
    }
    return false;
  }

  // Base64 data as FHIR takes it in `out`: the text without its white space
  // (line breaks a sender wraps it at), of the alphabet, padded to four
  // characters; false when it is not that.
  [[gnu::noinline]] static bool base64_text(std::string_view text, std::string &out) {
    out.clear();
    for (const char c : text) {
      if (c == ' ' || c == '\r' || c == '\n' || c == '\t')
        continue;
      const bool digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '+' || c == '/';
      // '=' pads the end only
      if (!(digit && (out.empty() || out.back() != '=')) && c != '=')
        return false;
      out.push_back(c);
    }
    const size_t pad = out.size() - std::min(out.size(), out.find_last_not_of('=') + 1);
    return !out.empty() && out.size() % 4 == 0 && pad <= 2;
  }

  // The bytes that hexadecimal digits give, in `out` (white space, where a
  // sender wraps them, skipped; either case); false when `text` holds
  // anything else, an odd number of digits or none.
  [[gnu::noinline]] static bool hex_bytes(std::string_view text, std::string &out) {
    out.clear();
    int high = -1; // the first digit of a byte, until its second
    for (const char c : text) {
      if (c == ' ' || c == '\r' || c == '\n' || c == '\t')
        continue;
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0)
        return false;
      if (high < 0) {
        high = digit;
      } else {
        out.push_back(static_cast<char>(high << 4 | digit));
        high = -1;
      }
    }
    return high < 0 && !out.empty();
  }

  // Adds a line to binary data `n` holds (a document an OBX a line): the
  // data are the lines' text, joined by line ends, written in base64.
  // Empty lines before it that blank_line() kept for `n` come first.
  [[gnu::noinline]] void add_line(Node &n, std::string_view text) {
    if (n.value + n.size != text_.size()) { // not the last text: copied to the end
      const std::string before(text_of(n));
      n.value = static_cast<uint32_t>(text_.size());
      text_.put(before);
    }
    if (blanks_ && &n == &nodes_[blank_at_]) [[unlikely]] {
      for (uint32_t i = 0; i < blanks_; ++i)
        text_.put('\n');
      n.size += blanks_;
      blanks_ = 0;
    }
    text_.put('\n');
    text_.put(text);
    text_.reserve(json_string_read_ahead); // as put_padded() leaves room (kept in line)
    n.size += static_cast<uint32_t>(1 + text.size());
  }

  static uint32_t step_key(const std::vector<PathItem> &path) {
    return path.empty() ? 0 : path.back().step->id;
  }

  // The repetition the lists a segment's rows fill in resource `r` start
  // at (the rows add a field's repetitions to it): 0, but for a segment
  // whose map fills one list of a resource another segment made, which an
  // earlier segment of its own name filled already (a second NK1 the
  // Patient of PID, a second DG1 the Encounter of PV1): it takes an element
  // of that list of its own then, after the earlier segments'
  // (Patient.contact, Encounter.diagnosis, a note an NTE), as its values
  // written in theirs would be lost or mixed in. Each such segment counts
  // 2^16 (a field's repetitions stay below it; see emit()). An element
  // made before it, by a link (the Appointment's participant for the
  // Patient) or a segment of another name (an AIL after an AIG), is taken:
  // each AIG, AIL and AIP is a participant of its own.
  uint32_t first_repetition(uint32_t r, const Map &map, std::string_view name, uint32_t index) {
    // (the segment that made it: a segment of its name fills it only where
    // its row is a SegmentRow::filler, as the one before it)
    if (!map.one_list || (resources[r].segment == index && same(resources[r].segment_name, name)))
      return 0;
    for (Filler &f : fillers_)
      if (f.resource == r && same(f.name, name)) {
        if (f.segment != index) {
          f.segment = index;
          f.count = std::max(f.count + 1, elements_made(r, map.rows[0].path[0]));
        }
        return f.count << 16;
      }
    const uint32_t count = elements_made(r, map.rows[0].path[0]);
    fillers_.push_back({r, name, index, count});
    return count << 16;
  }

  // Whether segment `index` named `name` is the first of its name to fill
  // resource `r` through a map of Map::shares_element (or that one again).
  // (Out of line: few maps share their element.)
  [[gnu::noinline]] bool first_sharing(uint32_t r, std::string_view name, uint32_t index) {
    for (const Filler &f : sharing_)
      if (f.resource == r && same(f.name, name))
        return f.segment == index;
    sharing_.push_back({r, name, index, 0});
    return true;
  }

  // One past the last element of list `step` in `r`, counted as
  // first_repetition() counts its segments (2^16 each).
  uint32_t elements_made(uint32_t r, const Step &step) const {
    uint32_t next = 0;
    if (uint32_t highest; highest_member(resources[r].root, step.id, step.slot, highest))
      return highest == 0 ? 0 : ((highest - 1) >> 16) + 1;
    for (uint32_t c = nodes_[resources[r].root].first; c != none; c = nodes_[c].next)
      if (nodes_[c].key == step.id && nodes_[c].slot == step.slot)
        next = std::max(next, (nodes_[c].rep >> 16) + 1);
    return next;
  }

  // Applies the rows of `map` to resource `r` below `base`, reading `seg`
  // (a segment map) field by field.
  void apply_map(uint32_t r, std::vector<PathItem> &base, const Map &map,
                 const SegmentView &seg) {
    Gate gate;
    // rows in field order stop past the segment's last field
    const size_t last = map.in_field_order ? seg.field_count() : SIZE_MAX;
    // the field the last row read: rows of one field come together (OBX-5
    // has a row for each type of value) and take it without finding it again
    uint32_t read = 0;
    std::string_view text;
    // applies a row; false past the segment's last field (in line at its
    // three calls below: a call a row cost more than the copies; GCC's
    // attribute, as a lambda takes no [[gnu::always_inline]] of its own)
    auto apply = [&](const Row &row) __attribute__((always_inline)) {
      if (row.field > last)
        return false;
      if (row.field == 0) {
        field_ = 0; // (writes of the segment's own, no field's)
        if (holds(row.condition, seg, 0, {}, {}))
          emit(r, base, row, {}, first_rep_, seg);
        return true;
      }
      if (row.field != read) {
        text = field_text(seg, row.field);
        read = row.field;
        field_from_ = static_cast<uint32_t>(nodes_.size());
      }
      if (!row.has_constant && row.field < 256)
        read_by_value_[row.field] = true;
      if (text.empty() || !gate.open(*this, row, seg)) {
        if (text.empty() && row.joins) [[unlikely]]
          blank_line(r, base, row, seg);
        return true;
      }
      if (row.whole) [[unlikely]] {
        whole_field(r, base, row, text, seg);
        return true;
      }
      const bool literal = seg.msh && row.field <= 2;
      field_ = row.field;
      const bool wrote_before = wrote_[row.field & 255];
      uint32_t rep = 0;
      // the gate, when there is one, held; the test of the row's own field
      // is decided before the rest
      const int32_t held = row.gate >= 0 ? row.gate : row.own;
      // each repetition (MSH-1 and MSH-2 whole), by a loop of its own: cut()
      // with a callback is a call a field, its state in memory
      for (size_t start = 0;;) {
        const size_t hit = literal ? std::string_view::npos
                                   : find_delimiter(text, enc_.repetition, start);
        const std::string_view piece(text.data() + start,
                                     (hit == std::string_view::npos ? text.size() : hit) - start);
        // (a repetition of separators or nulls alone holds no value: no row
        // reads it, nor writes its constants; see holds_a_value())
        if (holds_a_value(piece) && (row.own < 0 || own_holds(row, piece)) &&
            holds(row.condition, seg, row.field, piece, {}, static_cast<size_t>(held))) {
          // (a repetition after the first meets what the ones before wrote)
          unit_from_ = rep == 0 ? field_from_ : static_cast<uint32_t>(nodes_.size());
          emit(r, base, row, {piece, literal ? 2 : 0}, first_rep_ + rep, seg);
        }
        else if (row.twin >= 0 && !wrote_[row.field & 255]) [[unlikely]]
          twin_wrote(row, seg, piece);
        ++rep;
        if (hit == std::string_view::npos) {
          if (!wrote_before && wrote_[row.field & 255] && !row.condition.empty())
            note_choosers(row, seg);
          return true;
        }
        start = hit + enc_.repetition.size;
      }
    };
    size_t k = 0; // the next row
    for (const Map::Switch &run : map.switches) {
      for (; k < run.begin; ++k)
        if (!apply(map.rows[k]))
          return;
      // a run of rows switching on one place: those whose gate may hold
      // (the place read first, as the rows' gates would read it)
      gate.open(*this, map.rows[k], seg);
      const std::vector<uint32_t> *rows = &run.others;
      if (gate.short_text)
        if (auto w = std::lower_bound(run.words.begin(), run.words.end(), gate.word);
            w != run.words.end() && *w == gate.word)
          rows = &run.rows[static_cast<size_t>(w - run.words.begin())];
      for (uint32_t i : *rows)
        if (!apply(map.rows[i]))
          return;
      k = run.end;
    }
    // (by pointer: the vector's size, a division by the size of a Row,
    // would be taken again at each row)
    for (const Row *row = map.rows.data() + k, *end = map.rows.data() + map.rows.size(); row != end;
         ++row)
      if (!apply(*row))
        return;
  }

  // Notes as written each field of `seg` whose value `row`'s condition
  // found among its values, the row having written of its own field: the
  // value chose what was written (OBX-2's NM, the valueQuantity of OBX-5;
  // SCH-10's MIN, the minutesDuration of SCH-9). (Out of line: once a
  // field a segment.)
  [[gnu::noinline]] void note_choosers(const Row &row, const SegmentView &seg) {
    for (const Test &t : row.condition.tests)
      if ((t.op == 'E' || t.op == 'e') && t.field != 0 && t.field != row.field &&
          same(t.segment, seg.name))
        wrote_[t.field & 255] = true;
  }

  // Notes the field of `row` (Row::twin), whose condition failed as the
  // field it names is valued, as written where that field holds the same
  // value as its repetition `piece`: the value is written through that
  // field's own rows (OBR-16's ordering provider through ORC-12's, the
  // same), not lost. (Out of line: few rows are twins.)
  [[gnu::noinline]] void twin_wrote(const Row &row, const SegmentView &seg, std::string_view piece) {
    const Test &t = row.condition.tests[static_cast<size_t>(row.twin)];
    // (both read alike, each component and sub-component without the white
    // space at its ends, and without the empty ones at their ends:
    // "1234&^SMITH ^JOHN^^^" is ORC-12's "1234^SMITH^JOHN"; kept, as the
    // text may stand in the scratch buffer, which the next read reuses)
    const std::string named = trimmed_pieces(address(t, seg, row.field, piece, {}));
    if (named == trimmed_pieces(decoded(piece)))
      wrote_[row.field & 255] = true;
  }

  // `text` with its components' and sub-components' ends trimmed of white
  // space and of empty pieces ("1234& ^ SMITH^^" is "1234^SMITH").
  std::string trimmed_pieces(std::string_view text) const {
    std::string out;
    size_t components = 0; // the size of `out` up to its last valued component
    bool first = true;
    cut(text, enc_.component, [&](std::string_view component) {
      if (!first)
        out.append(enc_.component.bytes, enc_.component.size);
      first = false;
      const size_t start = out.size();
      size_t subs = start; // the size of `out` up to its last valued sub-component
      bool first_sub = true;
      cut(component, enc_.sub_component, [&](std::string_view sub) {
        if (!first_sub)
          out.append(enc_.sub_component.bytes, enc_.sub_component.size);
        first_sub = false;
        const std::string_view t = trim_white_space(sub);
        out.append(t);
        if (!t.empty())
          subs = out.size();
      });
      out.resize(subs);
      if (subs > start)
        components = subs;
    });
    out.resize(components);
    return out;
  }

  // Applies a row that takes field `text` as a whole (Row::whole), its
  // gate held; the fields whose value its condition found chose what it
  // wrote, as a row of one value's (OBX-2's TX, the row of a document's
  // text: see note_choosers()). (Out of line: few rows do.)
  [[gnu::noinline]] void whole_field(uint32_t r, std::vector<PathItem> &base, const Row &row,
                                     std::string_view text, const SegmentView &seg) {
    const bool wrote_before = wrote_[row.field & 255];
    if (row.each)
      fill_each(r, base, row, text, seg);
    else
      join_repetitions(r, base, row, text, seg);
    if (!wrote_before && wrote_[row.field & 255] && !row.condition.empty())
      note_choosers(row, seg);
  }

  // Applies `row` (Row::joins) to each repetition of field `text` that its
  // condition holds of, all into the one element its path names (the
  // segment's, first_rep_): a text's repetitions are the lines of one
  // value, joined by line feeds as a second OBX's line is (put_leaf()); a
  // constant is written once. An empty repetition is an empty line, as an
  // empty OBX-5 is (blank_line()).
  void join_repetitions(uint32_t r, std::vector<PathItem> &base, const Row &row,
                        std::string_view text, const SegmentView &seg) {
    const size_t held = static_cast<size_t>(row.gate >= 0 ? row.gate : row.own);
    field_ = row.field;
    for (size_t start = 0;;) {
      const size_t hit = find_delimiter(text, enc_.repetition, start);
      const std::string_view piece(text.data() + start,
                                   (hit == std::string_view::npos ? text.size() : hit) - start);
      if (piece.empty())
        blank_line(r, base, row, seg);
      else if ((row.own < 0 || own_holds(row, piece)) &&
               holds(row.condition, seg, row.field, piece, {}, held))
        emit(r, base, row, {piece, 0}, first_rep_, seg);
      if (hit == std::string_view::npos)
        return;
      start = hit + enc_.repetition.size;
    }
  }

  // An empty line of a document (an empty OBX-5 of TX or FT among its
  // lines, an empty repetition of one), read by `row` (Row::joins): a line
  // of its own in the data, so that paragraphs stay apart, between two
  // lines (the element is there: a document's leading empty lines are left
  // out, and a field of no line writes nothing); it waits for the next
  // line (add_line()), so that trailing ones are left out too. The field
  // is not noted as written: it holds no value. (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void blank_line(uint32_t r, std::vector<PathItem> &base,
                                               const Row &row, const SegmentView &seg) {
    if (row.kind != 'B' || (!row.condition.empty() && !test(row.condition, seg, row.field, {}, {})))
      return;
    const size_t size = base.size();
    int lists = 0;
    for (const Step &step : row.path) // emit()'s path of the segment's element
      base.push_back({&step, step.slot && lists++ == 0 ? first_rep_ : 0});
    const uint32_t at = existing(r, base);
    base.erase(base.begin() + static_cast<std::ptrdiff_t>(size), base.end());
    if (at == none || nodes_[at].kind != 'B')
      return;
    if (blank_at_ != at)
      blanks_ = 0;
    blank_at_ = at;
    ++blanks_;
  }

  // Applies `row`, whose path opens with a list of `each`, to every element
  // of that list in resource `r` that the rows before it made, with its
  // field's first repetition: those made, not the places between them of a
  // repetition that made none (OBX-5's empty one of "1~~3", or an SN of
  // text, reported), which would be a component of OBX-3's code or OBX-6's
  // unit alone. (Out of line: one map has such rows.)
  [[gnu::noinline]] void fill_each(uint32_t r, std::vector<PathItem> &base, const Row &row,
                                   std::string_view text, const SegmentView &seg) {
    const std::string_view first = nth_piece(text, enc_.repetition, 0);
    // (test() decides any condition; holds() is kept for the rows in line)
    if (first.empty() || (!row.condition.empty() && !test(row.condition, seg, row.field, first, {})))
      return;
    std::vector<uint32_t> made;
    for (uint32_t c = nodes_[resources[r].root].first; c != none; c = nodes_[c].next)
      if (nodes_[c].key == row.path[0].id && nodes_[c].kind != 'x')
        made.push_back(nodes_[c].rep);
    std::sort(made.begin(), made.end());
    made.erase(std::unique(made.begin(), made.end()), made.end());
    field_ = row.field;
    for (const uint32_t i : made)
      emit(r, base, row, {first, 0}, i, seg);
  }

  // The test a segment map's row's condition opens with when all its tests
  // must hold (Row::gate), read once for the rows of the map that test the
  // same field one after another: rows that switch on one field (OBX-5 by
  // OBX-2) each compare it only.
  struct Gate {
    uint32_t place = 0; // the last read (Test::place; 0: none)
    std::string text;   // what it read (address() may reuse its buffer)
    uint64_t word = 0;  // the text as short_word() makes it, when it is short
    bool short_text = false;

    // false when the row's gate fails (its condition cannot hold); the
    // rows that switch on one field compare a word with their values' words
    [[gnu::always_inline]] bool open(Engine &e, const Row &row, const SegmentView &seg) {
      if (row.gate < 0)
        return true;
      const Test &g = row.condition.tests[static_cast<size_t>(row.gate)];
      if (place != g.place) {
        text.assign(e.address(g, seg, row.field, {}, {}));
        place = g.place;
        short_text = fits_word(text);
        if (short_text)
          word = short_word(text);
      }
      if (!g.words.empty())
        return short_text && std::find(g.words.begin(), g.words.end(), word) != g.words.end();
      return std::any_of(g.values.begin(), g.values.end(),
                         [&](const std::string &v) { return same(v, text); });
    }
  };

  // Whether the test of `row`'s own field (Row::own) holds of repetition
  // `piece`.
  // The component read last is remembered as its word: the rows of one
  // field test the same component of the same repetition one after another
  // (OBX-11's).
  // (In line in apply_map(): a call fewer a repetition of the rows that
  // test their own field, OBX-11's.)
  [[gnu::always_inline]] bool own_holds(const Row &row, std::string_view piece) {
    const Test &t = row.condition.tests[static_cast<size_t>(row.own)];
    OwnRead &last = own_read_;
    if (piece.data() != last.data || piece.size() != last.size || t.component != last.component) {
      const std::string_view text = decoded(this->piece(Value{piece, 0}, t.component).text);
      last = {piece.data(), piece.size(), t.component, fits_word(text),
              fits_word(text) ? short_word(text) : 0};
    }
    return last.fits && std::find(t.words.begin(), t.words.end(), last.word) != t.words.end();
  }
  struct OwnRead {
    const char *data = nullptr; // the repetition read
    size_t size = 0;
    uint32_t component = 0;
    bool fits = false; // the component's text fits a word
    uint64_t word = 0;
  };
  OwnRead own_read_;

  // The places without_components() found a composite at, by the row that
  // read it, its field and the segment's name, the last 8 of a conversion:
  // a map's rows read the same places of each segment (CX-4's HD in each
  // identifier), which need not be looked up again.
  struct CompositeRead {
    const Row *row = nullptr;
    uint32_t field = 0, name = 0;
    bool operator==(const CompositeRead &) const = default;
  };
  std::array<CompositeRead, 8> composite_reads_{};
  uint32_t composite_count_ = 0;

  // Applies the rows of a data type map to `value`.
  void apply_value_map(uint32_t r, std::vector<PathItem> &base, const Map &map,
                       Value value, const SegmentView &seg) {
    if (++depth_ > 8) { // maps that name each other stop here
      --depth_;
      return;
    }
    // the value's pieces, cut once for all the rows and their conditions
    // (a row reads piece `field`, 1-based; rows beyond the first 32 cut
    // again)
    Span pieces[32]; // left unset: only the first `count` are read
    uint32_t count = 0;
    if (value.level == 1 && !subs_)
      pieces[count++] = {value.text.data(), value.text.size()};
    else if (value.level < 2)
      cut(value.text, value.level == 0 ? enc_.component : enc_.sub_component,
          [&](std::string_view p) {
            pieces[count++] = {p.data(), p.size()};
            return count < 32;
          });
    // all the pieces cut: rows in field order stop past the last
    const bool last_known = map.in_field_order && value.level < 2 && count < 32;
    const Pieces outer = pieces_; // (a map applied below sets it back so)
    if (value.level < 2)
      pieces_ = {value.text, value.level, pieces, count};
    bool held = false;
    // the components (the first 32) a row read whose condition failed, and
    // those a row took: one valued that no row took (CWE.1 of a Quantity's
    // unit whose code names no system, RPT-3 without its alignment) is lost,
    // and its field is reported
    uint32_t refused = 0, taken = 0;
    for (const Row &row : map.rows) {
      Value v;
      if (row.field == 0)
        v = value;
      else if (last_known && row.field > count)
        break;
      else if (value.level < 2 && row.field <= 32)
        v = {row.field <= count
                 ? std::string_view(pieces[row.field - 1].data, pieces[row.field - 1].size)
                 : std::string_view(),
             value.level + 1};
      else
        v = piece(value, row.field);
      // (a component of a null or white space holds nothing to read: XTN-3
      // "" is no equipment type, as an empty one)
      if (row.field != 0 && !holds_a_value(v.text))
        continue;
      // (a row of the condition and field of the row before reached here
      // after it: it holds where that one did)
      held = row.as_before ? held : holds(row.condition, seg, 0, {}, value);
      if (!held) {
        if (row.kind != 'U' && row.field - 1 < 32)
          refused |= 1u << (row.field - 1);
        continue;
      }
      taken |= row.takes;
      if (row.plain) [[likely]] {
        // emit()'s plain rows in line, the rows most values meet: a call of
        // emit() a row, its frame made for all its kinds of rows, cost more
        // than the row's own work (about 1% of a conversion); the steps of
        // a value's rows take no repetition (emit()'s `rep` 0)
        const PathMark mark(base);
        push_steps(base, row, 0);
        emit_plain(r, base, row, v, seg);
        continue;
      }
      // a join reads its parts in the whole value
      emit(r, base, row, row.join.empty() ? v : value, 0, seg);
    }
    // (of a field's own value: another map of the field may take what this
    // one's rows refused, PL.9 the bed's description where the place's map
    // has it only without a bed; see report_refused())
    if (value.level == 0 && field_ - 1 < std::size(taken_)) [[likely]] {
      if (taken != 0) {
        taken_[field_ - 1] |= taken;
        taken_fields_ |= uint64_t{1} << (field_ - 1);
      }
      if ((refused & ~taken) != 0) [[unlikely]]
        refused_components(refused & ~taken, value);
    }
    pieces_ = outer;
    --depth_;
  }

  // Notes the components `lost` (a bit each, the first 32) of `value`, the
  // field being read, that hold a value: rows read them, none of them
  // held. (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void refused_components(uint32_t lost, Value value) {
    uint32_t valued = 0;
    for (uint32_t f = 1; f <= 32; ++f)
      if ((lost >> (f - 1) & 1) != 0 && holds_a_value(piece(value, f).text))
        valued |= 1u << (f - 1);
    if (valued != 0)
      refused_.emplace_back(field_, valued);
  }

  // Reports each field of segment `seg` one of whose components a row read
  // and none took, in any map of the field (refused_components()); clears
  // what the segment noted. (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void report_refused(const SegmentView &seg) {
    for (const auto &[field, lost] : refused_)
      if ((lost & ~taken_[field - 1]) != 0) {
        field_ = field;
        unmapped_value(seg);
      }
    field_ = 0;
    refused_.clear();
  }

  // Takes the steps pushed on a path after it was made off again.
  struct PathMark {
    std::vector<PathItem> &path;
    size_t size;
    explicit PathMark(std::vector<PathItem> &p) : path(p), size(p.size()) {}
    ~PathMark() { path.erase(path.begin() + static_cast<std::ptrdiff_t>(size), path.end()); }
    PathMark(const PathMark &) = delete;
    PathMark &operator=(const PathMark &) = delete;
  };

  // Pushes the steps of `row`'s path on `path`, the lists among them taking
  // their repetitions of `rep`.
  [[gnu::always_inline]] void push_steps(std::vector<PathItem> &path, const Row &row,
                                         uint32_t rep) {
    // A field's repetitions take the first list of the row's path, but in
    // a map that fills one list element (NK1's contact) the element is the
    // segment's (rep's count of 2^16) and the repetitions take the list
    // within it, when there is one: NK1-5's telephones are one contact's
    // telecom.
    // (Without a list within the element, NTE-3's lines to a note's text,
    // each repetition still takes an element of its own.)
    uint32_t outer = rep, inner = 0;
    if (one_list_ && (rep & 0xFFFFu) &&
        std::count_if(row.path.begin(), row.path.end(), [](const Step &s) { return s.slot; }) > 1) {
      outer = rep & ~0xFFFFu;
      inner = rep & 0xFFFFu;
    }
    int lists = 0;
    for (const Step &step : row.path) {
      path.push_back({&step, !step.slot ? 0 : lists == 0 ? outer : lists == 1 ? inner : 0});
      if (step.slot)
        ++lists;
    }
  }

  // Pushes the row's steps on `path` and takes them off again on return.
  void emit(uint32_t r, std::vector<PathItem> &path, const Row &row, const Value &value,
            uint32_t rep, const SegmentView &seg) {
    if (row.kind == '>') [[unlikely]] {
      through_reference(r, path, row, value, rep, seg);
      return;
    }
    if (row.kind == 'U') [[unlikely]] {
      unmapped_row(row, value, seg);
      return;
    }
    const PathMark restore(path);
    push_steps(path, row, rep);
    if (row.plain) [[likely]] {
      emit_plain(r, path, row, value, seg);
      return;
    }
    if (row.kind == 'P') [[unlikely]] {
      later_time(r, path, row, value, seg);
      return;
    }
    if (!row.join.empty()) {
      joined(r, path, row, value, seg);
      return;
    }
    if (row.has_constant) {
      // a number of no SSN's form names no one by the SSN's system: as an
      // identifier of a system it would make every patient sent with the
      // placeholder one (merge_same_identifier(), a transaction's condition)
      if (row.ssn_system && !ssn_form(trim_white_space(value.text))) [[unlikely]]
        return;
      if (row.table_system && !sent_code_system(row, value, seg)) [[unlikely]]
        return;
      if (!row.condition.empty())
        constant_chosen_[field_ & 255] = true;
      constant_leaf(r, path,
                    row.kind == 'b' || row.kind == 'i' || row.kind == 'd' || row.kind == 'p' ||
                            row.kind == 'w'
                        ? 'n'
                        : 's',
                    row.constant);
      return;
    }
    if (row.kind == 'R') {
      if (row.meets) [[unlikely]]
        if (reference_taken(r, path, row, rep))
          return;
      // a row without a path ("$this") makes the resource without a
      // reference to it from here
      const uint32_t target = linked(row.map, value, seg);
      if (target != UINT32_MAX) // (made, or one made before of that identity)
        wrote_[field_ & 255] = true;
      if (target == UINT32_MAX)
        return;
      if (row.path.empty()) [[unlikely]] {
        resources[target].alone = true;
        alone_repeated_ = alone_repeated_ || (rep & 0xFFFFu) != 0;
        return;
      }
      path.push_back({&maps_.reference_step, 0});
      reference_leaf(r, path, target);
      return;
    }
    if (row.kind == 'O' && row.map >= 0) {
      if (row.met_across || (row.one_element && (rep & 0xFFFFu) != 0)) [[unlikely]] {
        apply_whole(r, path, row, value, seg, (rep & 0xFFFFu) != 0);
        return;
      }
      apply_data_type_map(r, path, row, value, seg);
    }
  }

  // (In line in emit(): a call fewer a value of a data type.)
  [[gnu::always_inline]] void apply_data_type_map(uint32_t r, std::vector<PathItem> &path,
                                                  const Row &row, const Value &value,
                                                  const SegmentView &seg) {
    const Map &map = maps_.maps[static_cast<size_t>(row.map)];
    const Value v = map.primitive ? primitive_value(row, value, seg) : value;
    if (row.vocabulary >= 0)
      translated(r, path, map.type, maps_.vocabularies[static_cast<size_t>(row.vocabulary)], v,
                 seg, row.written_beside);
    apply_value_map(r, path, map, v, seg);
  }

  // apply_data_type_map() for a row of Row::met_across, and for a
  // repetition after the first (`later`) of a row of Row::one_element:
  // where a piece of the value meets another value in an element another
  // field filled, or an earlier repetition of its own (IN1-15's plan type
  // in the Coverage.type of PV1-20's financial class, a code beside a
  // code; PV1-2 "a~I", whose "I" would add its system to "a"; not another
  // row of its field), none of the value is written, and its field counts
  // as written only where an earlier row wrote of it: two values' pieces
  // make no one value (PV1-20's code with IN1-15's display and system). A
  // later repetition so lost is reported as its field, as one a leaf keeps
  // out is (taken_leaf()). A value equal to the one there, or filling
  // members it lacks, is written as any other. (Out of line: few rows
  // meet one.)
  [[gnu::noinline]] void apply_whole(uint32_t r, std::vector<PathItem> &path, const Row &row,
                                     const Value &value, const SegmentView &seg, bool later) {
    const WholeMark mark = whole_mark();
    const bool wrote = wrote_[field_ & 255];
    met_ = false;
    whole_from_ = unit_from_;
    apply_data_type_map(r, path, row, value, seg);
    whole_from_ = 0;
    end_whole(mark);
    if (met_) {
      wrote_[field_ & 255] = wrote;
      met_ = false;
      if (later)
        unmapped(field_place(seg.name, field_));
    }
  }

  // Whether the reference element of `row` (kind 'R', Row::meets) at
  // `path` in `r` holds a reference already, written by an earlier
  // repetition of the field or by another row: the row's own would not be
  // written (the first written stays), so its resource is not made, which
  // nothing would refer to; the field is reported where the tables say
  // (DG1-16 "LST.COUNT GREATER THAN 1") or as one of which nothing was
  // written. (Out of line: few rows meet one.)
  [[gnu::noinline]] bool reference_taken(uint32_t r, std::vector<PathItem> &path, const Row &row,
                                         uint32_t rep) const {
    if (row.meets == 1 && (rep & 0xFFFFu) == 0) // the field's first repetition
      return false;
    path.push_back({&maps_.reference_step, 0});
    const bool taken = referred_by(r, path) != none;
    path.pop_back();
    return taken;
  }

  // emit()'s rows that write a primitive from the value they read
  // (Row::plain), their steps pushed on `path`.
  [[gnu::always_inline]] void emit_plain(uint32_t r, std::vector<PathItem> &path, const Row &row,
                                         const Value &value, const SegmentView &seg) {
    const Vocabulary *vocabulary =
        row.vocabulary >= 0 ? &maps_.vocabularies[static_cast<size_t>(row.vocabulary)] : nullptr;
    std::string_view text = value.level < 2 ? piece(value, 1).text : value.text;
    // (a value holding more than its first piece: see without_components())
    if (text.size() != value.text.size()) [[unlikely]]
      text = without_components(row, value, text, seg);
    text = decoded(text);
    if (row.piece != 1) [[unlikely]]
      text = decoded(first_of_piece(value, row.piece));
    if (text.empty()) {
      // a code of sub-component separators alone ("&", "&é": XTN-3's first
      // sub-component empty) is none: the element of a vocabulary whose
      // miss leaves it not known is not known, as for a code it lacks
      if (vocabulary && vocabulary->absent && !value.text.empty()) [[unlikely]]
        empty_code(*vocabulary, r, path);
      return;
    }
    const Code *found = nullptr;
    if (vocabulary) {
      found = vocabulary->find(text);
      if (!found || found->code.empty()) {
        found = nullptr;
        not_in_vocabulary(seg.name, text, *vocabulary, r, path, row.written_beside);
        // a Coding's code keeps the sender's code (its system says whose),
        // and so does a string no FHIR values bind (MSH-17's country "AU",
        // of ISO's two letters, where the map lists its three); any other
        // code is bound to FHIR's own values and is left out (a code
        // element of FHIR's values: MSA-1's MessageHeader.response.code)
        if ((step_key(path) != maps_.code_step.id || vocabulary->fhirs) && row.kind != 's')
          return;
      } else {
        text = found->code;
      }
    }
    primitive(r, path, row.kind, text);
    // a Coding's code found in a vocabulary takes the vocabulary's system
    // with it (CX-5's code of table 0203 in Identifier.type); one that is
    // not, its HL7 table's
    if (found && !found->system.empty() && step_key(path) == maps_.code_step.id) {
      path.back() = {&maps_.system_step, 0};
      leaf(r, path, 's', found->system);
    } else if (vocabulary && !found && row.piece == 1 && row.kind != 's') [[unlikely]] {
      path.pop_back();
      table_coding(r, path, "Coding", value, seg);
    }
  }

  // Reports code `text` of the field being read as not in `vocabulary`
  // ("PID-8 'X' (0001)"). (Out of line: its strings, made in emit(), cost
  // every call there a larger frame.) A code the vocabulary lists without
  // a target (Maps::listed: XTN-2 "NET", which no ContactPoint.use
  // names) is mapped to nothing on purpose and not reported, unless it
  // would have written a top-level element the resource requires (OBX-11
  // "B"), whose documented default then stands in for it. Neither is one
  // that another row of the map writes as sent (`beside`, Row::
  // written_beside: ORC-1 "RE" or "XO", kept in the businessEvent
  // extension, the status the documented "unknown").
  // A code left out of an element of a vocabulary of Vocabulary::absent
  // (at `path` in `r`: a code element of FHIR's values) leaves the element
  // not known ("_system": its data-absent-reason).
  [[gnu::noinline, gnu::cold]] void not_in_vocabulary(std::string_view segment,
                                                      std::string_view text,
                                                      const Vocabulary &vocabulary, uint32_t r,
                                                      std::vector<PathItem> &path,
                                                      bool beside) {
    lacked_code(segment, text, vocabulary, r, path, beside);
    if (!vocabulary.absent || (step_key(path) == maps_.code_step.id && !vocabulary.fhirs))
      return;
    not_known(r, path);
  }

  // not_in_vocabulary()'s report of code `text` (and translated()'s, of a
  // code a coded element's vocabulary lacks): "TXA-18 'Q' (Vocabulary)".
  // Within apply_whole() or complete() the report waits until the value is
  // known to be written (held_: one that meets another is reported whole,
  // not as a code kept; see end_whole()).
  void lacked_code(std::string_view segment, std::string_view text, const Vocabulary &vocabulary,
                   uint32_t r, const std::vector<PathItem> &path, bool beside) {
    if (beside || (maps_.lists(vocabulary, text) && !required_here(r, path)))
      return;
    if (whole_from_ != 0) [[unlikely]]
      held_.push_back({segment, std::string(text), vocabulary.name});
    else
      code_reported(segment, text, vocabulary.name);
  }

  // Where a value written whole or not at all (apply_whole(), complete())
  // began: the nodes made, the reports held (lacked_code()) and the dead
  // nodes made anew (node()) before it.
  struct WholeMark {
    uint32_t nodes;
    size_t held, revived;
  };
  WholeMark whole_mark() const {
    return {static_cast<uint32_t>(nodes_.size()), held_.size(), revived_.size()};
  }

  // Ends the value begun at `mark`, whole_from_ restored: where it met
  // another (met_) none of it stays, the nodes it made or made anew dead
  // again (a display an earlier value that met left dead is not a later
  // one's) and its held reports gone; otherwise its reports are made, or,
  // within another such value (complete() within apply_whole()), wait
  // with what it made anew for that one's end.
  void end_whole(const WholeMark &mark) {
    if (met_) {
      for (uint32_t n = mark.nodes; n < nodes_.size(); ++n)
        nodes_[n].kind = 'x';
      for (size_t i = mark.revived; i < revived_.size(); ++i)
        nodes_[revived_[i]].kind = 'x';
    } else if (whole_from_ == 0) {
      for (size_t i = mark.held; i < held_.size(); ++i)
        code_reported(held_[i].segment, held_[i].code, held_[i].holder);
    }
    if (met_ || whole_from_ == 0) {
      held_.resize(mark.held);
      revived_.resize(mark.revived);
    }
  }

  // The report of code `code` of field field_ of `segment` that `holder`
  // (a vocabulary's name, or "HL7" and a table's number) lacks:
  // "TXA-18 'Q' (Vocabulary)", "ORC-1 'nw' (HL70119)".
  void code_reported(std::string_view segment, std::string_view code, std::string_view holder,
                     std::string_view number = {}) {
    value_reported(segment);
    unmapped(field_place(segment, field_) + " '" + std::string(code) + "' (" +
             std::string(holder) + std::string(number) + ")");
  }

  // Whether `path` in `r` is a top-level element its resource's type
  // requires (a status).
  bool required_here(uint32_t r, const std::vector<PathItem> &path) const {
    const int32_t needs = resources[r].rules.needs;
    return path.size() == 1 && needs >= 0 &&
           std::ranges::any_of(maps_.needs[static_cast<size_t>(needs)], [&](const Maps::Need &need) {
             return need.forms.has(path[0].step->id);
           });
  }

  // An empty code (of sub-component separators alone) of a vocabulary of
  // Vocabulary::absent, at `path` in `r`: not known, as a code it lacks
  // (unreported: no code was sent).
  [[gnu::noinline, gnu::cold]] void empty_code(const Vocabulary &vocabulary, uint32_t r,
                                               std::vector<PathItem> &path) {
    if (step_key(path) != maps_.code_step.id || vocabulary.fhirs)
      not_known(r, path);
  }

  // Writes primitive element `path` of `r` as not known: the data-absent-
  // reason "unknown" on it ("_system"). (Out of line: a code a vocabulary
  // of Vocabulary::absent lacks, or an empty one, is rare.)
  [[gnu::noinline, gnu::cold]] void not_known(uint32_t r, std::vector<PathItem> &path) {
    const PathItem element = path.back();
    const std::string name = "_" + element.step->name;
    const Step own{name, 0, false, maps_.name_id(name)},
        extension{"extension", 1, false, maps_.name_id("extension")},
        url{"url", 0, false, maps_.name_id("url")},
        code{"valueCode", 0, false, maps_.name_id("valueCode")};
    path.back() = {&own, element.rep};
    path.push_back({&extension, 0});
    path.push_back({&url, 0});
    leaf(r, path, 's', "http://hl7.org/fhir/StructureDefinition/data-absent-reason");
    path.back() = {&code, 0};
    leaf(r, path, 's', "unknown");
    path.resize(path.size() - 2);
    path.back() = element;
  }

  // The first sub-component of component `n` of field `v` (Row::piece:
  // MSH-9's event, CQ-2's unit code). (Out of line: few rows read one.)
  [[gnu::noinline]] std::string_view first_of_piece(Value v, uint32_t n) const {
    return v.level == 0 ? piece(piece(v, n), 1).text : std::string_view();
  }

  // A value joined from the places a row names, as the tables write it
  // ("+"+XTN.5+" "+XTN.6+" "+XTN.7+" X"+XTN.8): the text before a place is
  // written with it when it holds something, the first only when it opens
  // the join, the others only after something written, so that empty places
  // drop out with their separators ("555 1234567" without a country code;
  // no join of the tables ends in a text). An address without a segment
  // reads the value a data type map is applied to; one of the segment's own
  // field the repetition being read. Nothing is written when every place is
  // empty. A join is a string, but of kind 'm', the MIME type it names.
  // (Out of line: few rows join.)
  [[gnu::noinline]] void joined(uint32_t r, std::vector<PathItem> &path, const Row &row,
                                Value value, const SegmentView &seg) {
    std::string &j = join_;
    j.clear();
    std::string_view between;
    bool opening = true;
    for (const Test &t : row.join) {
      if (t.op == '\'') {
        between = t.values[0];
        continue;
      }
      const std::string_view text = address(t, seg, field_, value.text, value);
      if (!text.empty()) {
        if (opening || !j.empty())
          j.append(between);
        j.append(text);
      }
      between = {};
      opening = false;
    }
    if (!j.empty()) {
      // (a MIME type of the type and subtype joined; a system's URI of
      // "urn:oid:" and an OID, which may name a system FHIR names otherwise)
      if (row.kind == 'm' || row.kind == 'u')
        converted(r, path, row.kind, j);
      else
        leaf(r, path, 's', j);
      wrote_joined(row, seg);
    }
  }

  // Notes the fields of `seg` that the places a row joins read as written
  // (AIS-8, the units of AIS-7's duration), but the place numbered
  // `unread`, whose part read was empty: a units field of its text alone
  // (AIL-10 `^minutes`) chose nothing, the default minutes were, and the
  // field stays to be reported. (Out of line: few rows join.)
  [[gnu::noinline]] void wrote_joined(const Row &row, const SegmentView &seg,
                                      size_t unread = SIZE_MAX) {
    size_t n = 0;
    for (const Test &t : row.join)
      if (t.op == 'A' && n++ != unread && t.field < 256 && same(t.segment, seg.name))
        wrote_[t.field] = true;
  }

  // A time plus an amount of time, the places a row of kind 'P' joins: the
  // time, the amount and its units (minutes when no place names them or it
  // is empty), as a dateTime of seconds with the time's offset
  // (PR1-5 + PR1-7, a procedure's end). Nothing for a time coarser than
  // minutes, an amount that is no number of 0 or more, or units of no fixed
  // length (months, years). (Out of line: few rows add times.)
  [[gnu::noinline]] void later_time(uint32_t r, std::vector<PathItem> &path, const Row &row,
                                    Value value, const SegmentView &seg) {
    std::string parts[3]; // copied: a decoded text lives until the next is read
    size_t n = 0;
    for (const Test &t : row.join)
      if (t.op == 'A' && n < 3)
        parts[n++] = address(t, seg, field_, value.text, value);
    int64_t unit = 60;
    if (!parts[2].empty()) {
      std::string units = lower(parts[2]);
      static constexpr std::pair<std::string_view, int64_t> lengths[] = {
          {"s", 1}, {"sec", 1}, {"min", 60}, {"h", 3600}, {"hr", 3600},
          {"d", 86400}, {"wk", 604800}};
      const auto *found = std::find_if(std::begin(lengths), std::end(lengths),
                                       [&](const auto &l) { return l.first == units; });
      if (found == std::end(lengths))
        return;
      unit = found->second;
    }
    // the amount, of up to 9 whole digits and 6 of a fraction, in seconds
    const std::string_view amount = parts[1];
    const size_t dot = std::min(amount.find('.'), amount.size());
    const std::string_view whole = amount.substr(0, dot),
                           fraction = amount.substr(std::min(dot + 1, amount.size()));
    auto digits = [](std::string_view d) {
      return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (amount.empty() || amount == "." || whole.size() > 9 || fraction.size() > 6 ||
        !digits(whole) || !digits(fraction))
      return;
    int64_t scaled = 0, scale = 1; // the amount times 10^fraction.size()
    for (const char c : whole)
      scaled = scaled * 10 + (c - '0');
    for (const char c : fraction) {
      scaled = scaled * 10 + (c - '0');
      scale *= 10;
    }
    if (scaled > (INT64_MAX - scale) / unit) // (past year 9999 anyway)
      return;
    std::string &out = value_;
    if (!timestamp_plus(parts[0], (scaled * unit + scale / 2) / scale, out))
      return;
    const std::string time = out; // (primitive() writes value_)
    primitive(r, path, 'T', time);
    wrote_joined(row, seg, parts[2].empty() ? 2 : SIZE_MAX);
  }

  // A vocabulary's code for a Coding or a CodeableConcept: written before
  // the data type map's own rows, so that its code, system and display
  // stand in the first coding. A code the vocabulary has no code for (or
  // only a row without a target) may be one of an HL7 table's: see
  // table_coding(); one of none, kept as sent without a system (TXA-18
  // "Q", which table 0272 lacks; NK1-3 "26" of a CWE, which table 0063
  // lacks) is reported as not_in_vocabulary() reports a Coding's code,
  // unless another row writes it as sent (`beside`: Row::written_beside),
  // and within a value written whole once it is (see lacked_code()); a
  // code a CWE names another system of is that system's, not a miss (one
  // naming an HL7 table that lacks it is reported as beside_named_table()
  // says), nor is one of a table of patterns (TQ1-3's "Q6H" of 0335's
  // "Q<integer>H"), an empty code, or one beside a CWE-3 of any value.
  void translated(uint32_t r, std::vector<PathItem> &path, std::string_view type,
                  const Vocabulary &vocabulary, const Value &value, const SegmentView &seg,
                  bool beside) {
    const Code *found = vocabulary.find(decoded(piece(value, 1).text));
    if (!vocabulary.fhirs && type == "CodeableConcept" && names_another_system(value, seg))
        [[unlikely]] {
      table_coding(r, path, type, value, seg);
      return;
    }
    if ((!found || found->code.empty()) && !(found = first_sub_component_code(vocabulary, value)))
        [[unlikely]] {
      if (table_coding(r, path, type, value, seg) || patterned(place_table(seg, value)) ||
          (value.level < 2 && holds_a_value(piece(value, 3).text)))
        return;
      const std::string_view code = written_code(value);
      if (holds_a_value(code))
        lacked_code(seg.name, code, vocabulary, r, path, beside);
      return;
    }
    const Step &system = maps_.system_step, &code_step = maps_.code_step,
               &display = maps_.display_step;
    const size_t size = path.size();
    if (type == "CodeableConcept")
      path.push_back({&maps_.coding_step, 0});
    if (type != "Coding" && type != "CodeableConcept")
      return;
    for (auto [step, text] : {std::pair{&system, std::string_view(found->system)},
                              std::pair{&code_step, std::string_view(found->code)},
                              std::pair{&display, std::string_view(found->display)}}) {
      if (text.empty())
        continue;
      path.push_back({step, 0});
      leaf(r, path, 's', text);
      path.pop_back();
    }
    path.resize(size);
  }

  // The code of coded value `value` as its map's rows write it (decoded):
  // its first component's first sub-component ("BLD&x" is BLD), a
  // component's first sub-component, a primitive whole.
  std::string_view written_code(const Value &value) {
    return decoded(value.level == 0   ? first_of_piece(value, 1)
                   : value.level == 1 ? piece(value, 1).text
                                      : value.text);
  }

  // translated()'s code of `vocabulary` for a value whose first component
  // holds sub-components, which it found no code for whole: that of the
  // code written (written_code()), or null. (Out of line: met on a miss.)
  [[gnu::noinline, gnu::cold]] const Code *first_sub_component_code(const Vocabulary &vocabulary,
                                                                   const Value &value) {
    if (value.level != 0 || first_of_piece(value, 1).size() == piece(value, 1).text.size())
      return nullptr;
    const Code *found = vocabulary.find(written_code(value));
    return found && !found->code.empty() ? found : nullptr;
  }

  // Whether a coded value's own system (the third component of a CWE, CE,
  // CNE or CF, as the place's type in the message's version is) names
  // another than one of HL7's tables, whose codes the tables' vocabularies
  // translate: a site's own code ("BLD^Blood^L", "99LAB") or another
  // standard's is written as sent, not as the HL7 table's code of that
  // spelling (a vocabulary of FHIR's own codes translates every code: its
  // element takes no other; nor does a Coding's, as table_coding() reads
  // it). A code of a type without components (2.5's IS in PV1-2,
  // "I^Inpatient^L") is its first piece, translated.
  bool names_another_system(const Value &value, const SegmentView &seg) const {
    if (value.level >= 2 || !version_)
      return false;
    // (HL7's tables named in any case, and padded: " hl70002" is HL70002)
    const std::string_view named = trim_white_space(piece(value, 3).text);
    if (!holds_a_value(named) || (named.size() >= 3 && same_folded(named.substr(0, 3), "HL7")))
      return false;
    const uint16_t number = value.level == 0 ? field_type(seg) : place(seg, value, true).type;
    if (number == 0)
      return false;
    const std::string &type = definitions_->type_name(number);
    return type == "CWE" || type == "CE" || type == "CNE" || type == "CF";
  }

  // A code that a row's vocabulary has no code for, written as the sender's
  // (DG1-6 "W", a working diagnosis, which no diagnosis role names), at
  // `path` (a Coding, or a CodeableConcept whose first coding holds it): where
  // the place it was read from, a field or a component of `seg`, is bound to
  // an HL7 table in the definitions of the message's version and the code is
  // one of that table's values, the Coding takes the table's system
  // (http://terminology.hl7.org/CodeSystem/v2-0052) and, in a type whose map
  // writes a display, the value's meaning as its display, each where the
  // sender's value gives none (a CWE's second and third components: written
  // before the map's rows, which would write them). A code of no such table,
  // or not among its values (a site's own code of a table it defines), stays
  // as it is. The values of a version older than those the definitions give
  // values for (2.2's and 2.3's DG1-6) are the first such version's (see
  // Definitions::values_version()); the table is the one the message's own
  // version binds. Returns whether the table's system was written. (Out of
  // line, the one lookup of the definitions: few codes miss a vocabulary.)
  [[gnu::noinline, gnu::cold]] bool table_coding(uint32_t r, std::vector<PathItem> &path,
                                                 std::string_view type, const Value &value,
                                                 const SegmentView &seg) {
    if (!version_ || (type != "Coding" && type != "CodeableConcept"))
      return false;
    const bool whole = value.level < 2; // a value of components (else a primitive)
    // (kept: the text may stand in the scratch buffer, which the next read reuses)
    const std::string code(written_code(value));
    const uint16_t table = place_table(seg, value);
    if (code.empty() || table_says(table, code) != TableSays::holds)
      return false;
    // a CWE's own system, unless it names the table ("HL70052"), says the
    // code is another's (a null or white space names none)
    const std::string_view named = whole && type == "CodeableConcept" ? piece(value, 3).text : "";
    if (holds_a_value(named) && !same_folded(decoded(named), "HL7" + definitions_->table_name(table)))
      return false;
    const std::string *meaning = valued().meaning(table, code);
    const std::string system = std::string(table_system_uri) + definitions_->table_name(table);
    const size_t size = path.size();
    if (type == "CodeableConcept")
      path.push_back({&maps_.coding_step, 0});
    path.push_back({&maps_.system_step, 0});
    leaf(r, path, 's', system);
    if (meaning && type == "CodeableConcept" && whole && !holds_a_value(piece(value, 2).text)) {
      path.back() = {&maps_.display_step, 0};
      leaf(r, path, 's', *meaning);
    }
    path.resize(size);
    return true;
  }

  // What HL7 table `table` of the message's version says of code `code`
  // (the definitions' table number; 0: none), the one rule of every road
  // that writes a table's system (http://terminology.hl7.org/CodeSystem/
  // v2-0119) beside a code the sender sent: a code no vocabulary holds
  // (table_coding()), a constant system beside a code read as sent
  // (sent_code_system()). The table holds the code, in the case of its
  // values ("NW", not "nw"; a pattern's head in either: a site's "z01" of
  // 2.5's "Znn" events), or lacks it; or says nothing, where the version's
  // definitions hold none of the table's values (a table of none of the
  // versions', a message of no version the definitions know) or not all
  // (CodeTable::templated(): table 0335's Q6H, of "Q<integer>H"). A version
  // older than those the definitions give values for reads the first
  // such's (Definitions::values_version()). One lookup of the code.
  enum class TableSays : uint8_t { holds, lacks, nothing };
  TableSays table_says(uint16_t table, std::string_view code) {
    const CodeTable *values = values_of(table);
    return !values || values->templated() ? TableSays::nothing
                   : values->contains(code) ? TableSays::holds : TableSays::lacks;
  }

  // Whether HL7 table `table`'s values in the message's version are
  // patterns, of which a code is not known to be one (see table_says()).
  bool patterned(uint16_t table) {
    const CodeTable *values = values_of(table);
    return values && values->templated();
  }

  // HL7 table `table`'s values in the message's version (see valued()),
  // or null: a message of no version, table 0, a table of no values.
  const CodeTable *values_of(uint16_t table) {
    return !version_ || table == 0 ? nullptr : VersionDefinitions::at(valued().tables, table);
  }

  // The version whose tables' values stand for the message's (version_
  // set), found once a conversion.
  const VersionDefinitions &valued() {
    if (!values_of_)
      values_of_ = &definitions_->values_version(*version_);
    return *values_of_;
  }

  // Whether row `row`'s constant, an HL7 table's system (Row::
  // table_system), is written beside the code its map reads as sent from
  // `value` (its first piece, as that row reads it): not beside no code,
  // nor beside a code the table lacks (table_says()), which is reported as
  // a code a vocabulary lacks is, named as HL7 names the table in a coded
  // value ("ORC-1 'XX' (HL70119)"; ORC-1 "nw" of a sender writing the codes
  // in lower case). (Out of line: few rows write one.)
  [[gnu::noinline, gnu::cold]] bool sent_code_system(const Row &row, const Value &value,
                                                     const SegmentView &seg) {
    const std::string_view code = decoded(value.level < 2 ? piece(value, 1).text : value.text);
    if (!holds_a_value(code))
      return false;
    const std::string_view name = std::string_view(row.constant).substr(table_system_uri.size());
    if (!definitions_ || table_says(definitions_->table_number_of(name), code) != TableSays::lacks)
      return true;
    code_reported(seg.name, code, "HL7", name);
    return false;
  }

  // Whether HL7 table system `uri`, named by the sender (a CWE-3
  // "HL70131"), is written at `path` in `r`, beside the code written there
  // before it (the code of the Coding: its CWE-1, or what a vocabulary
  // made of it): not where the table lacks the code (table_says()), which
  // is reported as sent_code_system() reports it ("NK1-7 'EC' (HL70131)":
  // table 0131's emergency contact is C; "PRT-4 'PRI' (HL70443)", a code of
  // table 0912). Beside a system written before (a vocabulary's, which the
  // first written keeps), or no code, it is as before. A Quantity's code (a
  // unit's, beside its text in `unit`, which a Coding has not) goes with the
  // system: FHIR's qty-3 wants a code's system ("mg&&HL70001": the unit
  // "mg" alone). (Out of line: few senders name a table.)
  [[gnu::noinline, gnu::cold]] bool beside_named_table(uint32_t r, std::vector<PathItem> &path,
                                                       std::string_view uri) {
    if (!definitions_)
      return true;
    // the Coding, and its code and system members (one walk of the path)
    const PathItem system = path.back();
    path.pop_back();
    const uint32_t coding = existing(r, path);
    path.push_back(system);
    uint32_t at = none;
    bool quantity = false;
    for (uint32_t c = coding == none || nodes_[coding].kind != 'o' ? none : nodes_[coding].first;
         c != none; c = nodes_[c].next) {
      if (nodes_[c].kind == 'x' || nodes_[c].rep != system.rep)
        continue;
      if (nodes_[c].key == maps_.system_step.id)
        return true; // (written before: the first written stays)
      if (nodes_[c].key == maps_.code_step.id && nodes_[c].kind == 's')
        at = c;
      quantity = quantity || nodes_[c].key == maps_.unit_id;
    }
    if (at == none)
      return true;
    const std::string_view code = text_of(nodes_[at]), name = uri.substr(table_system_uri.size());
    if (table_says(definitions_->table_number_of(name), code) != TableSays::lacks)
      return true;
    code_reported(message_.segment_at(reading_).name, code, "HL7", name);
    if (quantity)
      nodes_[at].kind = 'x';
    return false;
  }

  // The HL7 table that the place of `value` is bound to in the message's
  // version (0: none): field field_ of `seg`, or the component or
  // sub-component of it that `value` is (found by where its text stands in
  // the field's).
  uint16_t place_table(const SegmentView &seg, const Value &value) const {
    return place(seg, value).table;
  }

  // The definition of the place of `value` in the message's version (its
  // type 0 where the version defines none): field field_ of `seg`, or the
  // component or sub-component of it that `value` is (found by where its
  // text stands in the field's); OBX-5 of the type OBX-2 names when
  // `observed`, else of its own (varies). Nothing where no version's
  // definitions are read (a header not found as one: "MSHM..." takes 'M'
  // for its field separator, and its name is empty).
  ElementInfo place(const SegmentView &seg, const Value &value, bool observed = false) const {
    if (!version_ || field_ == 0 || field_ > seg.field_count())
      return {};
    const std::string_view field = seg.field_at(field_ - 1).text; // (as field_text())
    const char *at = value.text.data();
    if (field.empty() || at < field.data() || at > field.data() + field.size())
      return {};
    uint64_t index[3] = {field_, 1, 1};
    // the count of delimiters `d` in text[from, to) and where the last piece
    // before `to` starts
    auto count = [&](const Delimiter &d, size_t &from, size_t to) {
      uint64_t n = 1;
      for (size_t next; (next = find_delimiter(field, d, from)) < to; ++n)
        from = next + d.size;
      return n;
    };
    const size_t to = static_cast<size_t>(at - field.data());
    size_t from = 0;
    count(enc_.repetition, from, to);
    if (value.level >= 1)
      index[1] = count(enc_.component, from, to);
    if (value.level >= 2)
      index[2] = count(enc_.sub_component, from, to);
    uint16_t named = 0;
    if (observed && field_ == 5 && same(seg.name, "OBX"))
      named = definitions_->type_number_of(nth_piece(field_text(seg, 2), enc_.component, 0));
    return version_->element(seg.name, 1 + static_cast<size_t>(std::min(value.level, 2)), index,
                             named);
  }

  // The type of field field_ of `seg` in the message's version (OBX-5's the
  // one OBX-2 names), 0 where the version defines none.
  uint16_t field_type(const SegmentView &seg) const {
    if (field_ == 5 && same(seg.name, "OBX"))
      return definitions_->type_number_of(nth_piece(field_text(seg, 2), enc_.component, 0));
    const std::vector<FieldDef> *fields = version_->segment(seg.name);
    return fields && field_ >= 1 && field_ <= fields->size() ? (*fields)[field_ - 1].type.type : 0;
  }

  // The text a primitive row reads of `value` (a repetition or a component)
  // whose first piece `first` is not the whole, as the place's type in the
  // message's version says. A composite's is its first piece, as the rows
  // read it (a TS's time, before the degree of precision). A type without
  // components holds a separator only as the sender's text: a field's text
  // (ST, TX, FT: an OBX-5 of TX "T2^weighted images", a report's line) is
  // read whole; anything else, a code, a number or a time (PID-8 "M^Male"),
  // and a component's text, which names or identifies (a CWE's code
  // "&GDT"), by its first piece, and its field is reported, as one whose
  // value was read in part. Trailing separators hold nothing: a text read
  // whole is read without them, and a value of one piece before them ("T2^")
  // is its first piece. A version or place the definitions do not hold: the first
  // piece. (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] std::string_view without_components(const Row &row,
                                                                  const Value &value,
                                                                  std::string_view first,
                                                                  const SegmentView &seg) {
    // (the rest begins with the separator that ends `first`, which
    // holds_a_value() passes over)
    if (!version_ || !holds_a_value(value.text.substr(first.size())))
      return first;
    const CompositeRead read{&row, field_, name_word(seg.name)};
    const auto known = composite_reads_.begin() + std::min<size_t>(composite_count_, 8);
    if (std::find(composite_reads_.begin(), known, read) != known)
      return first;
    // (a repetition's type is its field's, found without cutting the field)
    const uint16_t number = value.level == 0 ? field_type(seg) : place(seg, value, true).type;
    if (number == 0 || VersionDefinitions::at(version_->composites, number)) {
      // A composite read as a primitive is read by its first piece, and
      // what stands after it is lost (the tables' EIP.1, an ST, is 2.5's
      // EI: "X&EHR&1.2.3&ISO" is the value X, of an authority left out),
      // and its field reported; but for a TS, whose second piece is the
      // degree of precision its time's own length says, and a coded
      // value, whose code the row reads and the rest of which describes
      // that code (AL1-2 "DA^Drug allergy^HL70127", a category). (Such a
      // read is not kept: few are.)
      if (number != 0 && !described_by_first(definitions_->type_name(number))) {
        unmapped_value(seg);
        return first;
      }
      composite_reads_[composite_count_++ % 8] = read;
      return first;
    }
    const std::string &type = definitions_->type_name(number);
    const bool text = type == "ST" || type == "TX" || type == "FT";
    if (text && value.level == 0) // ("BNT^-T^" is "BNT^-T")
      return without_trailing_separators(value.text);
    static constexpr std::string_view others[] = {"DT", "DTM", "ID", "IS", "NM", "SI", "TM"};
    if (text || std::ranges::find(others, type) != std::end(others)) {
      value_reported(seg.name);
      unmapped_value(seg);
    }
    return first;
  }

  // Whether a composite of type `type` read by its first piece loses
  // nothing the row's element could hold (see without_components()).
  static bool described_by_first(std::string_view type) {
    static constexpr std::string_view types[] = {"TS", "CE", "CWE", "CNE", "CF"};
    return std::ranges::find(types, type) != std::end(types);
  }

  // The value the rows of a data type map of a type without components
  // (Map::primitive: ID[code], FT[Annotation-Comment]) read: `value`, or,
  // where it holds more than its first piece, as without_components() says:
  // a text whole (of level 2, which the rows read whole), else as it is
  // (the rows read its first piece; the rest reported).
  [[gnu::always_inline]] Value primitive_value(const Row &row, const Value &value,
                                              const SegmentView &seg) {
    if (value.level >= 2 || (value.level == 1 && !subs_))
      return value;
    const std::string_view first = piece(value, 1).text;
    if (first.size() == value.text.size()) [[likely]]
      return value;
    const std::string_view read = without_components(row, value, first, seg);
    return read.size() > first.size() ? Value{read, 2} : value;
  }

  // A primitive value as the FHIR type `kind` wants it; nothing when it is
  // not one. Strings, and codes without white space, the most written,
  // take the text as it stands, written here; the rest is converted out of
  // line, by a function whose strings and cases cost each call its frame.
  [[gnu::always_inline]] void primitive(uint32_t r, std::vector<PathItem> &path, char kind,
                                        std::string_view text) {
    if (kind_in_upper_case_ && kind == 'c') [[unlikely]]
      if (upper_case_code(r, path, text))
        return;
    if (!converted_kinds[static_cast<unsigned char>(kind)] ||
        (kind == 'c' && !has_white_space(text, true))) [[likely]]
      put_leaf(node(r, path), 's', text, 0);
    else
      converted(r, path, kind, text);
  }
  // A code read of MSH-9 where the message names its type, event or
  // structure in lower case ("adt^a08"), written in upper case: HL7's
  // tables of them (0076, 0003, 0354) hold upper case codes alone, as
  // MessageHeader.eventCoding's system names 0003 ("A08"). The display the
  // tables write of MSH-9 whole keeps the sender's spelling; its white
  // space is any code's (converted(): "a01  x" is "A01 X"). Whether it
  // wrote it. (Out of line: only such a message comes here.)
  [[gnu::noinline, gnu::cold]] bool upper_case_code(uint32_t r, std::vector<PathItem> &path,
                                                    std::string_view text) {
    if (field_ != 9 || !same(message_.segment_at(segment_).name, "MSH"))
      return false;
    const std::string upper = ascii_upper(text);
    if (has_white_space(upper, true)) {
      converted(r, path, 'c', upper);
      return true;
    }
    value_ = upper;
    leaf(r, path, 's', value_);
    return true;
  }

  // The kinds converted() has a case of its own for (a case added there is
  // added here).
  static constexpr auto converted_kinds = [] {
    std::array<bool, 256> kinds{};
    for (const char k : "DTItbipwducB6Hkm"sv)
      kinds[static_cast<unsigned char>(k)] = true;
    return kinds;
  }();

  // The offset a time of day sent without one is in where the mapping names
  // no zone (Maps::zone): the sender's, as MSH-7 gives it (a time without
  // an offset is the sender's local time), read once a conversion; none
  // (UTC) where MSH-7 has none. (Out of line: once.)
  [[gnu::noinline, gnu::cold]] void read_zone() {
    if (const Result<FieldView> f = header_field(message_, 7))
      zone_ = timestamp_zone(nth_piece(f.value().text, enc_.component, 0));
    zone_read_ = true;
  }

  [[gnu::noinline]] void converted(uint32_t r, std::vector<PathItem> &path, char kind,
                                   std::string_view text) {
    std::string &v = value_;
    v.clear();
    switch (kind) {
    case 'D':
    case 'T':
    case 'I':
    case 't':
      // the last timestamp read is remembered with what it gave: the
      // observations of a group most often share theirs (OBX-14)
      if (kind != time_kind_ || text != time_in_) {
        if (!zone_read_) [[unlikely]]
          read_zone();
        time_kind_ = kind;
        time_in_.assign(text);
        time_out_.clear();
        time_ok_ = timestamp_value(text, kind, time_out_, maps_.zone, zone_);
        time_offset_ = time_ok_ ? timestamp_offset(text, kind) : 0;
      }
      if (!time_ok_)
        unreadable_value(kind, text);
      else if (const uint32_t key = step_key(path);
               (key == maps_.end_id || key == maps_.start_id) && out_of_order(r, path, key, time_out_))
        [[unlikely]] unreadable_value(key == maps_.end_id ? 'e' : 's', text);
      else
        leaf(r, path, 's', time_out_);
      if (time_offset_) [[unlikely]]
        note_offset(text);
      return;
    case 'b':
      if (text == "Y" || text == "y" || text == "true")
        leaf(r, path, 'n', "true");
      else if (text == "N" || text == "n" || text == "false")
        leaf(r, path, 'n', "false");
      else
        unreadable_value(kind, text);
      return;
    case 'i':
    case 'p': // positiveInt: 1 and more
    case 'w': // unsignedInt: 0 and more
    case 'd': {
      Decimal d;
      const bool integer = kind != 'd';
      // (a whole part of more than 308 digits is past the range of every
      // binary floating point: JSON's readers make it infinity or refuse it,
      // Python's json an integer of more than 4,300 digits)
      if (!read_decimal(text, d) || (integer && d.dot) || d.whole.size() > 308) {
        unreadable_value(kind, text);
        return;
      }
      if (d.negative)
        v.push_back('-');
      v.append(d.whole);
      if (!d.fraction.empty())
        v.append("."sv).append(d.fraction);
      if (integer) {
        if (d.whole.size() > 10) {
          unreadable_value(kind, text);
          return;
        }
        const long long n = std::stoll(v);
        const long long least = kind == 'p' ? 1 : kind == 'w' ? 0 : INT32_MIN;
        if (n > INT32_MAX || n < least) {
          unreadable_value(kind, text);
          return;
        }
        if (n == 0) // "-0" is 0
          v = "0";
      }
      leaf(r, path, 'n', v);
      return;
    }
    case 'u':
      if (step_key(path) == maps_.system_step.id) {
        const std::string &uri = system_uri(text);
        if (uri.starts_with(table_system_uri) && !beside_named_table(r, path, uri)) [[unlikely]]
          return;
        leaf(r, path, 's', uri);
        return;
      }
      if (!has_white_space(text, true)) { // as it stands
        leaf(r, path, 's', text);
        return;
      }
      append_dashed(text, v);
      leaf(r, path, 's', v);
      return;
    case 'c': {
      // a code has no white space but single spaces between words
      if (!has_white_space(text, true)) { // as it stands
        leaf(r, path, 's', text);
        return;
      }
      bool space = false;
      for (size_t i = 0; i < text.size();) {
        if (const size_t w = white_space_size(text.substr(i))) {
          space = true;
          i += w;
          continue;
        }
        if (space && !v.empty())
          v.push_back(' ');
        space = false;
        v.push_back(text[i++]);
      }
      leaf(r, path, 's', v);
      return;
    }
    case 'B':
      leaf(r, path, 'B', text);
      return;
    case '6':
      if (base64_text(text, v))
        leaf(r, path, 's', v);
      else
        unreadable_data("base64");
      return;
    case 'm': // a MIME type of an ED's or RP's type and subtype
      if (mime_type(text, v))
        leaf(r, path, 's', v);
      else
        unreadable_value(kind, text);
      return;
    case 'k': // id: 1 to 64 of A-Z, a-z, 0-9, '-' and '.' (MSA-2's control id)
      if (is_id(text))
        leaf(r, path, 's', text);
      else
        unreadable_data("an id");
      return;
    case 'H':
      if (hex_bytes(text, v))
        leaf(r, path, 'B', v);
      else
        unreadable_data("hexadecimal");
      return;
    default:
      leaf(r, path, 's', text);
    }
  }

  // Applies a row of kind '>' (Row::referred): its inner row within the
  // resource the reference at its path refers to, if that is of the type
  // the row names; else, where the reference is not made, within one made
  // there. Such a resource is keyed by the type, the key of the resource
  // referring to it and the element ("PractitionerRole|<the Observation's
  // key>|performer"), and counted apart (apart_): the ids of the resources
  // keyed by the message and their position stay those of a message
  // without it.
  [[gnu::noinline]] void through_reference(uint32_t r, std::vector<PathItem> &path,
                                           const Row &row, Value value, uint32_t rep,
                                           const SegmentView &seg) {
    // the reference is the segment's (or the value's) one, whatever the
    // field's repetition: the repetitions take the lists within the resource
    // it refers to (NK1-31's telephones, the contact's telecom)
    const bool in_value = depth_ > 0;
    const uint32_t element = in_value ? rep : first_rep_;
    const uint32_t repetition = in_value || rep < first_rep_ ? 0 : rep - first_rep_;
    const size_t size = path.size();
    bool first_list = true;
    for (const Step &step : row.path) {
      path.push_back({&step, step.slot && first_list ? element : 0});
      first_list = first_list && !step.slot;
    }
    path.push_back({&maps_.reference_step, 0});
    uint32_t to = referred_by(r, path);
    const bool made = to == none;
    if (made && made_whole(row)) {
      // the row makes the resource itself (PRT-8's Organization where PRT-7
      // made none): one per identity, as a row referring to it makes it
      to = linked(row.inner[0].map, value, seg);
      if (to != UINT32_MAX)
        reference_leaf(r, path, to);
      path.resize(size);
      return;
    }
    if (made)
      to = add_referred(r, row, path, seg);
    // (else the element may refer to another type's resource, made by a
    // row before: that is not filled)
    if (made || same(resources[to].type, row.referred)) {
      const PathLease lease(*this);
      // (the reference to one made here writes nothing of the field: what
      // the row writes in it does, a constant where it stays; an SPM-3 of
      // an EIP.1 without its entity id makes a parent Specimen of the
      // identifier's type alone, which goes, and is reported)
      const bool wrote = wrote_[field_ & 255];
      if (made)
        wrote_[field_ & 255] = false;
      emit(to, lease.path, row.inner[0], value, repetition, seg);
      const bool inner_wrote = wrote_[field_ & 255];
      // one made here that the row wrote nothing in goes
      if (made && nodes_[resources[to].root].first == none)
        resources[to].dropped = true;
      else if (made)
        reference_leaf(r, path, to);
      if (made)
        wrote_[field_ & 255] = wrote || inner_wrote;
    }
    path.resize(size);
  }

  // Whether the inner row of `row` (kind '>') fills the resource referred
  // to whole, by a map that makes a resource of that type.
  bool made_whole(const Row &row) const {
    const Row &inner = row.inner[0];
    if (inner.kind != 'O' || !inner.path.empty() || inner.map < 0)
      return false;
    const Map &map = maps_.maps[static_cast<size_t>(inner.map)];
    return map.resource && same(map.type, row.referred);
  }

  // The resource the reference node at `path` (ending in "reference") in
  // resource `r` refers to; none when there is none.
  uint32_t referred_by(uint32_t r, const std::vector<PathItem> &path) const {
    const uint32_t at = existing(r, path);
    return at != none && nodes_[at].kind == 'r' ? nodes_[at].target : none;
  }

  // The live element at `path` in `r`, none where there is none (node()
  // without making one).
  uint32_t existing(uint32_t r, const std::vector<PathItem> &path) const {
    uint32_t at = resources[r].root;
    for (const PathItem &item : path) {
      if (nodes_[at].kind == 'o' && nodes_[at].indexed) [[unlikely]] {
        // (one of a name, slot and repetition: node() starts a dead one anew)
        at = member_in_table(at, item.step->id, item.step->slot, item.rep);
        if (at == none || nodes_[at].kind == 'x')
          return none;
        continue;
      }
      uint32_t c = nodes_[at].kind == 'o' ? nodes_[at].first : none;
      while (c != none && (nodes_[c].key != item.step->id || nodes_[c].slot != item.step->slot ||
                           nodes_[c].rep != item.rep || nodes_[c].kind == 'x'))
        c = nodes_[c].next;
      if (c == none)
        return none;
      at = c;
    }
    return at;
  }

  // A resource of `row`'s referred type for the reference at `path` in
  // `r` (see through_reference()).
  uint32_t add_referred(uint32_t r, const Row &row, const std::vector<PathItem> &path,
                        const SegmentView &seg) {
    Resource made;
    made.type = row.referred;
    made.rules = row.referred_rules;
    made.by_reference = true;
    made.holds = holds_unknown;
    made.segment_name = seg.name;
    made.segment = segment_;
    made.field = static_cast<uint16_t>(std::min<uint32_t>(field_, UINT16_MAX));
    made.patient = latest_patient_;
    made.encounter = latest_encounter_;
    const TextPlace referring = resources[r].key;
    key_text_.reserve(row.referred.size() + referring.size + 64 * path.size() + 8); // the view stays
    made.key.at = static_cast<uint32_t>(key_text_.size());
    key_text_.add(row.referred);
    key_text_.add('|');
    key_text_.add(key_of(referring));
    for (size_t i = 0; i + 1 < path.size(); ++i) {
      key_text_.put(i ? '.' : '|');
      key_text_.put(path[i].step->name);
    }
    // and, in a list, the field it comes from: OBX-16's observer and
    // OBX-25's director, both the Observation's performer, keep their ids
    // whether or not the other is sent (two of one key take ids by their
    // order)
    if (field_ != 0 && std::any_of(path.begin(), path.end(),
                                   [](const PathItem &item) { return item.step->slot != 0; })) {
      char number[24]; // (room for the copy's 16-byte reads: see key())
      const auto end = std::to_chars(number, number + sizeof number, field_).ptr;
      key_text_.put('|');
      key_text_.put(seg.name);
      key_text_.put('-');
      key_text_.put(std::string_view(number, static_cast<size_t>(end - number)));
    }
    made.key.size = static_cast<uint32_t>(key_text_.size() - made.key.at);
    const uint32_t at = add(std::move(made));
    if (!below_identity_) // (else apply_counting_apart() counts it apart)
      apart_.push_back(at);
    return at;
  }

  // Resources made for references (add_referred()) of a type that is what
  // it holds (one_when_alike()): a later one whose elements are all those
  // of an earlier one of its type, and no more, is that one (two
  // Observations of one responsible observer refer to one PractitionerRole,
  // not to two alike). The later goes and its references refer to the
  // earlier, whose id (its key names the first referring resource) stays.
  [[gnu::noinline]] void merge_alike_referred() {
    if (std::none_of(resources.begin(), resources.end(),
                     [](const Resource &r) { return r.by_reference; }))
      return;
    // those kept, by a digest of what they write: only those of one digest
    // are compared (a thousand roles, all different, are not each compared
    // with every other)
    std::unordered_map<uint64_t, std::vector<uint32_t>> kept;
    std::vector<uint32_t> gone(resources.size(), none);
    for (uint32_t i = 0; i < resources.size(); ++i) {
      if (!resources[i].by_reference || resources[i].dropped || !one_when_alike(resources[i].type))
        continue;
      std::vector<uint32_t> &alike_kept =
          kept[digest(resources[i].root) ^ std::hash<std::string_view>{}(resources[i].type)];
      const auto same_as = std::find_if(alike_kept.begin(), alike_kept.end(), [&](uint32_t k) {
        return same(resources[k].type, resources[i].type) &&
               alike(resources[k].root, resources[i].root);
      });
      if (same_as == alike_kept.end()) {
        alike_kept.push_back(i);
        continue;
      }
      resources[i].dropped = resources[i].alike = true;
      gone[i] = *same_as;
    }
    refer_to_kept(gone);
  }

  // Refers each reference to a resource that went for another (`gone`, by
  // resource: the one standing for it, or none) to that one.
  void refer_to_kept(const std::vector<uint32_t> &gone) {
    if (std::all_of(gone.begin(), gone.end(), [](uint32_t g) { return g == none; }))
      return;
    for (Node &node : nodes_)
      if (node.kind == 'r' && gone[node.target] != none)
        node.target = gone[node.target];
  }

  // A patient or stay the message names again alike (an ORU of two
  // PATIENT_RESULT groups of one patient, each with its PID and PV1): a
  // later Patient or Encounter of an earlier one's key, whose elements are
  // all those of the earlier, and no more, is that one. The later goes and
  // its references refer to the earlier, so the patient and the stay keep
  // the ids they have wherever the message names them (a stay is compared
  // once its patient is: its subject refers to the earlier by then). One
  // named again with other values stays apart, of its derived id. (Out of
  // line: only where finish() met a key twice.)
  [[gnu::noinline]] void merge_alike_named_again() {
    auto named = [&](const Resource &r) {
      return r.keyed && !r.by_reference && !r.dropped &&
             (same(r.type, "Patient") || same(r.type, "Encounter"));
    };
    // (each merge is redirected at once, before the next comparison reads
    // the references it changes: the reference nodes of each resource are
    // found once, at the first merge, and a merge moves those of the one
    // that went, as refer_to_kept() would, without a walk of every node for
    // each: a patient named thousands of times took time in the square of
    // that. A later one goes into an earlier one alone, so the nodes
    // referring to the one going are those found.)
    std::vector<std::vector<uint32_t>> referring;
    for (uint32_t i = 0; i < resources.size(); ++i) {
      if (!named(resources[i]))
        continue;
      for (uint32_t k = 0; k < i; ++k) {
        if (!named(resources[k]) || !same(resources[k].type, resources[i].type) ||
            key_of(resources[k].key) != key_of(resources[i].key) ||
            !alike(resources[k].root, resources[i].root))
          continue;
        resources[i].dropped = resources[i].alike = true;
        if (referring.empty()) {
          referring.resize(resources.size());
          for (uint32_t n = 0; n < nodes_.size(); ++n)
            if (nodes_[n].kind == 'r')
              referring[nodes_[n].target].push_back(n);
        }
        for (uint32_t n : referring[i])
          nodes_[n].target = k;
        break;
      }
    }
  }

  // The repetitions of one field that a row makes resources of from
  // nowhere (PID-21's mother's identifiers) are one person named several
  // ways: the later ones go into the first, which keeps its id and takes
  // the identifiers and names it lacks (join()); a value meeting another
  // of the first's is reported, as its field. (Out of line: only where
  // such a field repeats.)
  [[gnu::noinline]] void merge_alone_repetitions() {
    for (uint32_t i = 0; i < resources.size(); ++i) {
      const Resource &first = resources[i];
      if (!first.alone || first.dropped)
        continue;
      for (uint32_t j = i + 1; j < resources.size(); ++j) {
        Resource &later = resources[j];
        if (!later.alone || later.dropped || later.segment != first.segment ||
            later.field != first.field || later.made_by != first.made_by)
          continue;
        if (join(j, i) != 0)
          unmapped(field_place(later.segment_name, later.field));
        later.dropped = later.alike = true;
      }
    }
  }

  // Resources of one type holding an identifier of one system and value
  // are one within a bundle (TypeRules::one_per_identifier: a Practitioner,
  // an Organization, a Location, ..., and the Patient, whom an identifier
  // of a system names wherever it stands: two PIDs of one SSN in a message
  // of several patients' results). PV1-7's practitioner of XCN-9 "NPI" and
  // PV1-17's of "&2.16.840.1.113883.4.6&ISO" are one NPI; MSH-4's
  // organisation and an assigning authority naming its OID under another
  // namespace id one organisation. The first made stays, with its id; each
  // later one goes, what referred to it refers to the first (as for those
  // merge_alike_referred() finds alike), and its members the first lacks
  // join it (join()). Where the two hold one element otherwise, the
  // first's stays and the later one's is reported. An identifier of no
  // system names nothing beyond its resource (bed 01 of every room) and
  // makes none one. Most bundles hold a few identifiers of a system, each
  // once: they are told apart by a hash of their texts, on the stack.
  [[gnu::noinline]] void merge_same_identifier() {
    struct Held {
      uint64_t hash;
      uint32_t resource, identifier;
    };
    constexpr size_t few = 32;
    Held on_stack[few];
    std::vector<Held> many;
    size_t count = 0;
    const std::hash<std::string_view> hash;
    const uint32_t bit = name_bit(maps_.identifier_id), system_bit = name_bit(maps_.system_step.id);
    for (uint32_t i = 0; i < resources.size(); ++i) {
      const Resource &r = resources[i];
      if (!r.rules.one_per_identifier || r.dropped || (nodes_[r.root].names & bit) == 0)
        continue;
      for (uint32_t c = nodes_[r.root].first; c != none; c = nodes_[c].next) {
        std::string_view system, value;
        if (nodes_[c].key != maps_.identifier_id || (nodes_[c].names & system_bit) == 0 ||
            !identifier_parts(c, system, value))
          continue;
        const Held held{(hash(system) * 31 + hash(value)) ^ hash(r.type), i, c};
        if (count == few)
          many.assign(on_stack, on_stack + few);
        if (count < few)
          on_stack[count] = held;
        else
          many.push_back(held);
        ++count;
      }
    }
    if (count < 2) [[likely]]
      return;
    Held *const begin = count <= few ? on_stack : many.data(), *const end = begin + count;
    std::sort(begin, end, [](const Held &a, const Held &b) {
      return a.hash != b.hash ? a.hash < b.hash : a.resource < b.resource;
    });
    // the pairs of one identity (a later resource, the first of the
    // identity), joined in the order the later ones were made
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const Held *a = begin; a != end; ++a)
      for (const Held *b = a + 1; b != end && b->hash == a->hash; ++b)
        if (b->resource != a->resource && same_identifier(*a, *b))
          pairs.emplace_back(b->resource, a->resource);
    if (pairs.empty()) [[likely]]
      return;
    std::sort(pairs.begin(), pairs.end());
    std::vector<uint32_t> gone(resources.size(), none);
    auto standing = [&](uint32_t r) { // (for one that went, the one it went for)
      while (gone[r] != none)
        r = gone[r];
      return r;
    };
    for (const auto &[later, first] : pairs) {
      const uint32_t from = standing(later), into = standing(first);
      if (from == into)
        continue;
      if (identified_apart(from, into)) {
        resources[from].apart = resources[into].apart = true;
        continue;
      }
      // (the one made first stays, whichever of the two named it first)
      const uint32_t stays = std::min(from, into), goes = std::max(from, into);
      if (const uint32_t other = join(goes, stays); other != 0)
        unlike_identified(resources[goes], other);
      resources[goes].dropped = resources[goes].alike = true;
      gone[goes] = stays;
    }
    refer_to_kept(gone);
    // (what the one that went held alone of another resource, its
    // identifier's assigner of another name, may be left unreferred)
    orphans_maybe_ = true;
  }

  // Whether resources `a` and `b` name two identities: each holds an
  // identifier of one namespace (its system; of none, its assigner and
  // type: an MRN of one hospital), of no value the two share. A newborn's
  // PID of its mother's SSN (PID-19) and an MRN of its own is not the
  // mother, whom the SSN alone would make one with it
  // (merge_same_identifier()). (Out of line: asked of resources of one
  // identifier alone.)
  [[gnu::noinline, gnu::cold]] bool identified_apart(uint32_t a, uint32_t b) const {
    using Pairs = std::vector<std::pair<std::string, std::string_view>>;
    const Pairs of_a = namespaced_identifiers(a), of_b = namespaced_identifiers(b);
    const auto holds = [](const Pairs &pairs, const std::string &space) {
      return std::ranges::any_of(pairs, [&](const auto &p) { return p.first == space; });
    };
    return std::ranges::any_of(of_a, [&](const auto &p) {
      return holds(of_b, p.first) && std::ranges::none_of(of_a, [&](const auto &q) {
               return q.first == p.first && std::ranges::find(of_b, q) != of_b.end();
             });
    });
  }

  // The identifiers of resource `r` as (namespace, value): the namespace
  // its system, else its assigner (the resource referred to) and type's
  // code; one of neither is left out (it names nothing beyond its resource).
  std::vector<std::pair<std::string, std::string_view>> namespaced_identifiers(uint32_t r) const {
    std::vector<std::pair<std::string, std::string_view>> out;
    const auto member = [&](uint32_t n, uint32_t key) {
      for (uint32_t m = n == none ? none : nodes_[n].first; m != none; m = nodes_[m].next)
        if (nodes_[m].key == key && nodes_[m].kind != 'x')
          return m;
      return none;
    };
    for (uint32_t c = nodes_[resources[r].root].first; c != none; c = nodes_[c].next) {
      if (nodes_[c].kind == 'x' || nodes_[c].key != maps_.identifier_id)
        continue;
      std::string_view system, value;
      identifier_parts(c, system, value);
      if (value.empty())
        continue;
      if (!system.empty()) {
        out.emplace_back(std::string(system), value);
        continue;
      }
      const uint32_t reference = member(member(c, maps_.assigner_id), maps_.reference_step.id);
      if (reference == none || nodes_[reference].kind != 'r')
        continue;
      const uint32_t code = member(member(member(c, maps_.type_id), maps_.coding_step.id), maps_.code_step.id);
      std::string space = "#" + std::to_string(nodes_[reference].target) + "|";
      if (code != none && nodes_[code].kind == 's')
        space.append(text_of(nodes_[code]));
      out.emplace_back(std::move(space), value);
    }
    return out;
  }

  // Whether the identifiers of two entries of merge_same_identifier() name
  // one identity: one system and value, in resources of one type.
  template <class Held> bool same_identifier(const Held &a, const Held &b) const {
    std::string_view system_a, value_a, system_b, value_b;
    identifier_parts(a.identifier, system_a, value_a);
    identifier_parts(b.identifier, system_b, value_b);
    return system_a == system_b && value_a == value_b &&
           same(resources[a.resource].type, resources[b.resource].type);
  }

  // Moves into resource `into` the members of resource `from`, which goes,
  // that `into` lacks; returns what join_members() does.
  uint32_t join(uint32_t from, uint32_t into) {
    return join_members(resources[from].root, resources[into].root);
  }

  // Reports what resource `r`, gone for another of its identifier, held
  // otherwise in element `name`: the field of a value that made it
  // ("PV1-17"), else the element and its segment ("Patient.birthDate of
  // another value (from PID)"). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void unlike_identified(const Resource &r, uint32_t name) {
    if (r.field != 0)
      unmapped(field_place(r.segment_name, r.field));
    else
      unmapped(std::string(r.type) + "." + maps_.names[name] + " of another value (from " +
               std::string(r.segment_name) + ")");
  }

  // Moves into element `to` the members of element `from` that it lacks:
  // an element of a list (an identifier, a name, a telecom) unlike each of
  // `to`'s of its name, after them; one of a name (or a form of a choice)
  // `to` holds none of. An identifier of the system and value of one of
  // `to`'s completes that one (the type one of them names). Where `from`
  // holds an element `to` holds otherwise (a single element, or a form of a
  // choice, of another value; an identifier's assigner), `to`'s stays: the
  // name of the first such element is returned (0: none). `from` is left
  // without members.
  uint32_t join_members(uint32_t from, uint32_t to) {
    // a name and the extensions of its primitive ("_birthDate") stand or
    // go together
    auto base = [&](uint32_t key) {
      const std::string_view name = maps_.names[key];
      return name.starts_with('_') ? maps_.name_id(name.substr(1)) : key;
    };
    auto akin = [&](uint32_t a, uint32_t b) {
      if (base(nodes_[a].key) == base(nodes_[b].key))
        return true;
      const uint32_t choice = maps_.choice_of[nodes_[a].key];
      return choice != 0 && choice == maps_.choice_of[nodes_[b].key];
    };
    uint32_t other = 0;
    std::vector<uint32_t> moved;
    for (uint32_t c = nodes_[from].first; c != none; c = nodes_[c].next) {
      if (!live(c))
        continue;
      bool held = false, alike_held = false;
      uint32_t same_identity = none;
      std::string_view system, value, other_system, other_value;
      const bool identifier =
          nodes_[c].key == maps_.identifier_id && identifier_parts(c, system, value);
      for (uint32_t o = nodes_[to].first; o != none; o = nodes_[o].next) {
        if (!akin(c, o) || !live(o))
          continue;
        held = true;
        if (nodes_[o].key == nodes_[c].key && alike(o, c, true))
          alike_held = true;
        else if (identifier && identifier_parts(o, other_system, other_value) &&
                 other_system == system && other_value == value)
          same_identity = o;
      }
      if (alike_held)
        continue;
      if (same_identity != none) {
        if (join_members(c, same_identity) != 0 && other == 0)
          other = nodes_[c].key;
      } else if (nodes_[c].slot == 0 && held) {
        if (other == 0)
          other = base(nodes_[c].key);
      } else
        moved.push_back(c);
    }
    // each element of a list after `to`'s of its name, at a place none of
    // them holds (lists are written by place)
    uint32_t past = 0;
    for (uint32_t o = nodes_[to].first; o != none; o = nodes_[o].next)
      past = std::max(past, nodes_[o].rep + 1);
    Node &emptied = nodes_[from];
    emptied.first = emptied.last = none;
    emptied.names = 0;
    for (uint32_t c : moved) {
      Node &n = nodes_[c];
      n.next = none;
      n.parent = to;
      n.named_after = false;
      n.named_before = false;
      if (n.slot != 0) {
        n.rep += past;
        for (uint32_t o = nodes_[to].first; o != none; o = nodes_[o].next)
          if (nodes_[o].key == n.key && !nodes_[o].named_before) {
            nodes_[o].named_after = n.named_before = true;
            break;
          }
      }
      append(to, c);
    }
    return other;
  }

  // A digest of what element `n` writes, equal for elements alike() holds
  // alike.
  uint64_t digest(uint32_t n) const {
    const Node &x = nodes_[n];
    uint64_t h = (uint64_t{x.key} << 32 | uint64_t{x.slot} << 8 | static_cast<unsigned char>(x.kind)) ^
                 (uint64_t{x.rep} * 0x9E3779B97F4A7C15u);
    if (x.kind == 'r')
      return h ^ (uint64_t{x.target} + 0x632BE59BD9B4E019u);
    if (x.kind != 'o')
      return h ^ std::hash<std::string_view>{}(text_of(x));
    for (uint32_t c = x.first; c != none; c = nodes_[c].next)
      if (live(c))
        h = (h ^ digest(c)) * 0x100000001B3u; // (in order, as alike() compares)
    return h;
  }

  // Whether elements `a` and `b` write the same: their live members alike,
  // in the same order, of the same names, slots and repetitions.
  // `anywhere`: the two at any place in their lists (of any slot and
  // repetition).
  bool alike(uint32_t a, uint32_t b, bool anywhere = false) const {
    const Node &x = nodes_[a], &y = nodes_[b];
    if (x.kind != y.kind || x.key != y.key ||
        (!anywhere && (x.slot != y.slot || x.rep != y.rep)))
      return false;
    if (x.kind == 'r')
      return x.target == y.target;
    if (x.kind != 'o')
      return text_of(x) == text_of(y);
    auto next_live = [&](uint32_t c) {
      while (c != none && !live(c))
        c = nodes_[c].next;
      return c;
    };
    uint32_t c = next_live(x.first), d = next_live(y.first);
    for (; c != none && d != none; c = next_live(nodes_[c].next), d = next_live(nodes_[d].next))
      if (!alike(c, d))
        return false;
    return c == none && d == none;
  }

  // The resource a data type map makes of `value` (a Practitioner of an
  // XCN): one per map and identity (the value's text) within a bundle;
  // UINT32_MAX when the map writes nothing.
  uint32_t linked(int32_t map_index, Value value, const SegmentView &seg) {
    if (map_index < 0)
      return UINT32_MAX;
    const Map &map = maps_.maps[static_cast<size_t>(map_index)];
    Resource made;
    made.key.at = static_cast<uint32_t>(key_text_.size());
    key_text_.put(map.type);
    key_text_.put('|');
    const bool by_components =
        !map.identity.empty() &&
        (!map.identity_if_first || holds_a_value(piece(value, map.identity[0]).text));
    if (!by_components)
      key_text_.put(decoded(value.level == 1 && subs_ ? as_field(value.text) : value.text, true));
    else
      put_identity(map, value);
    made.key.size = static_cast<uint32_t>(key_text_.size() - made.key.at);
    if (const size_t at = identity_at(key_of(made.key)); at != identities_.size()) {
      const uint32_t index = identities_[at].second;
      key_text_.truncate(made.key.at);
      if (!apart_.empty() && !below_identity_)
        count_in(index);
      if (by_components && index != UINT32_MAX) [[unlikely]]
        complete(index, map, value, seg);
      else if (index != UINT32_MAX && resources[index].made_by != &map) [[unlikely]]
        other_map(index, map, value);
      return index;
    }
    made.type = map.type;
    made.rules = map.rules;
    made.segment_name = seg.name;
    made.segment = segment_;
    made.field = static_cast<uint16_t>(std::min<uint32_t>(field_, UINT16_MAX));
    // the message's Patient and Encounter, as a segment's resources have
    // them (a Condition of DG1-22 is the patient's: see context_links())
    made.patient = latest_patient_;
    made.encounter = latest_encounter_;
    made.holds = holds_unknown;
    const TextPlace key = made.key;
    const size_t first_constant = constants_.size();
    const uint32_t r = add(std::move(made));
    const PathLease lease(*this);
    std::vector<PathItem> &path = lease.path;
    if (by_components && !below_identity_)
      apply_counting_apart(r, path, map, value, seg);
    else
      apply_value_map(r, path, map, value, seg);
    // a map that wrote nothing makes no resource (one it made below this
    // one stays: it may be referred to from elsewhere), nor, mostly, one
    // that wrote no value of the message (see made_of_nothing())
    if (nodes_[resources[r].root].first == none ||
        (map.constants && !holds_message_value(resources[r].root, UINT32_MAX, first_constant)))
        [[unlikely]]
      return made_of_nothing(r, key, map);
    if (map.constants) // (known: drop_hollow() asks again only if its pruning changes it)
      resources[r].holds = holds_value;
    add_identity(key, r);
    resources[r].made_by = &map;
    if (by_components) {
      resources[r].made_of.at = static_cast<uint32_t>(key_text_.size());
      key_text_.put(value.text);
      resources[r].made_of.size = static_cast<uint32_t>(value.text.size());
    }
    return r;
  }

  // Where a value names resource `r`, made of the same text by another map
  // (a VXU's MSH-23 XON "STATEIIS", an Organization of that name, and
  // PID-3's assigning authority HD "STATEIIS", one of that identifier):
  // `r` stands for both, as written by the first, and the field of the
  // second is reported, what its map would write not being in `r`, unless
  // both maps write it alike (written_alike()). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void other_map(uint32_t r, const Map &map, Value value) {
    if (field_ != 0 && !resources[r].dropped &&
        !(resources[r].made_by && written_alike(*resources[r].made_by, map, value)))
      unmapped(field_place(message_.segment_at(reading_).name, field_));
  }

  // Whether map `second` writes `value` as map `first` wrote the same text:
  // a value of one component (no separator in it: OBX-15's CWE "BN" and
  // MSH-4's HD "BN", each the Organization's identifier "BN") whose every
  // row that reads it or writes a constant has a row of `first` alike, of
  // no condition, reading the first component into an element of the same
  // names (a list's element of no place, "identifier", the first, as
  // "identifier[1]"). A value of more components may mean another thing in
  // each map (CWE.2, a name; HD.2, a universal id): it is reported.
  bool written_alike(const Map &first, const Map &second, Value value) const {
    for (const Delimiter *d : {&enc_.component, &enc_.sub_component, &enc_.repetition, &enc_.escape})
      if (contains(value.text, *d))
        return false;
    auto alike = [](const Row &a, const Row &b) {
      if (a.kind != b.kind || a.field != b.field || a.piece != b.piece || !a.condition.empty() ||
          !b.condition.empty() || a.map != b.map || a.vocabulary != b.vocabulary ||
          a.has_constant != b.has_constant || a.constant != b.constant || !a.join.empty() ||
          !b.join.empty() || a.path.size() != b.path.size())
        return false;
      for (size_t i = 0; i < a.path.size(); ++i)
        if (a.path[i].name != b.path[i].name || a.path[i].each || b.path[i].each ||
            std::max<uint16_t>(a.path[i].slot, 1) != std::max<uint16_t>(b.path[i].slot, 1))
          return false;
      return true;
    };
    for (const Row &row : second.rows) {
      if (row.field > 1 && !row.has_constant)
        continue; // (nothing to read past the first component)
      if (std::none_of(first.rows.begin(), first.rows.end(),
                       [&](const Row &other) { return alike(row, other); }))
        return false;
    }
    return true;
  }

  // The name a map's resources are keyed by (Map::identity_name).
  static const std::string &identity_name(const Map &map) {
    return map.identity_name.empty() ? map.name : map.identity_name;
  }

  // Completes resource `r`, of a map keyed by some components (Map::identity),
  // by another value naming it: what that value holds besides the
  // components (a Location's description, PL-9, in AIL-3 where PV1-3 named
  // the room alone) is written where `r` holds none; where a piece meets
  // another value there, none of it is, and its field is reported (the
  // first value stays whole; see apply_whole()). (Out of line: few values
  // name a resource named before.)
  [[gnu::noinline]] void complete(uint32_t r, const Map &map, Value value, const SegmentView &seg) {
    // (not one another map made, as a room stands for its bed of nothing,
    // unless that map's resources are this one's (Map::identity_name: an
    // LA2's room a PL's, its address added); nor of the same value:
    // nothing to add)
    const Map *made_by = resources[r].made_by;
    if (resources[r].dropped || made_by == nullptr || resources[r].made_of.size == 0 ||
        (made_by != &map && identity_name(*made_by) != identity_name(map)) ||
        key_of(resources[r].made_of) == value.text)
      return;
    const WholeMark mark = whole_mark();
    const uint32_t outer = whole_from_;
    const bool below = below_identity_, outer_met = met_; // (within an apply_whole())
    met_ = false;
    whole_from_ = mark.nodes;
    below_identity_ = true; // (what it makes below is counted apart, as where it was made)
    const PathLease lease(*this);
    std::vector<PathItem> &path = lease.path;
    apply_value_map(r, path, map, value, seg);
    below_identity_ = below;
    whole_from_ = outer;
    end_whole(mark);
    if (met_) {
      if (field_ != 0)
        unmapped(field_place(message_.segment_at(reading_).name, field_));
    }
    met_ = outer_met;
  }

  // linked()'s resource `r` (of `key`, made by `map`), into which its map
  // wrote no value of the message: constants alone (a PL's component of
  // sub-component separators, "&": a Location of its mode and physical
  // type) is no resource, and one of a map keyed by components whose one
  // reference is to the resource it is part of (a bed "&" of room 2012)
  // stands for that one, which the element referring to it refers to
  // instead (the most granular Location named); one of other references
  // (a PractitionerRole of its code and practitioner) stays. Returns what
  // the reference refers to (UINT32_MAX: nothing). Where nothing else of
  // the field stays, its constants' fate reports it. (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] uint32_t made_of_nothing(uint32_t r, TextPlace key,
                                                        const Map &map) {
    uint32_t references = 0, target = UINT32_MAX;
    const uint32_t root = resources[r].root;
    for (uint32_t at = nodes_[root].first; at != none && at != root;) {
      if (nodes_[at].kind == 'r')
        ++references, target = nodes_[at].target;
      if (nodes_[at].first != none) { // depth first, as holds_message_value()
        at = nodes_[at].first;
        continue;
      }
      while (at != root && nodes_[at].next == none)
        at = nodes_[at].parent;
      if (at != root)
        at = nodes_[at].next;
    }
    if (references > (map.identity.empty() ? 0u : 1u)) {
      add_identity(key, r);
      return r;
    }
    const uint32_t instead = references ? target : UINT32_MAX;
    resources[r].dropped = true;
    add_identity(key, instead);
    if (instead != UINT32_MAX && !apart_.empty() && !below_identity_)
      count_in(instead);
    return instead;
  }

  // The place in identities_ of the resource named `identity`, or
  // identities_.size(). Sought through an index of their texts' hashes once
  // there are many (a report of thousands of observers: not each sought
  // among all), along them before.
  size_t identity_at(std::string_view identity) {
    constexpr size_t many = 32;
    if (identities_.size() < many) {
      for (size_t i = 0; i < identities_.size(); ++i)
        if (key_of(identities_[i].first) == identity)
          return i;
      return identities_.size();
    }
    const std::hash<std::string_view> hash;
    if (identity_index_.empty())
      for (size_t i = 0; i < identities_.size(); ++i)
        identity_index_.emplace(hash(key_of(identities_[i].first)), i);
    for (auto [at, end] = identity_index_.equal_range(hash(identity)); at != end; ++at)
      if (key_of(identities_[at->second].first) == identity)
        return at->second;
    return identities_.size();
  }

  void add_identity(TextPlace key, uint32_t r) {
    identities_.emplace_back(key, r);
    if (!identity_index_.empty())
      identity_index_.emplace(std::hash<std::string_view>{}(key_of(key)), identities_.size() - 1);
  }

  // apply_value_map() for a resource of a map keyed by components, the
  // resources made below it counted apart (apart_).
  [[gnu::noinline]] void apply_counting_apart(uint32_t r, std::vector<PathItem> &path,
                                              const Map &map, Value value,
                                              const SegmentView &seg) {
    below_identity_ = true;
    const auto before = static_cast<uint32_t>(resources.size());
    apply_value_map(r, path, map, value, seg);
    for (auto i = before; i < resources.size(); ++i)
      apart_.push_back(i);
    below_identity_ = false;
  }

  // A resource made below another's map, now referred to itself (a point
  // of care named alone after a room of it): counted from here on, as one
  // made here would be.
  // The text of a component, `text`, with its sub-component separators as
  // a field's component separators: the text a resource made of its value
  // is named by (linked()) is the same at every level, so the facility
  // PID-3's assigning authority names, "LAB&1.2.3&ISO", is the one MSH-4
  // names, "LAB^1.2.3^ISO". (An escaped separator stays the sender's text.)
  std::string_view as_field(std::string_view text) {
    if (find_delimiter(text, enc_.sub_component) == std::string_view::npos)
      return text;
    std::string &t = as_field_;
    t.clear();
    for (size_t start = 0;;) {
      const size_t hit = find_delimiter(text, enc_.sub_component, start);
      t.append(text.substr(start, hit == std::string_view::npos ? hit : hit - start));
      if (hit == std::string_view::npos)
        return t;
      t.append(enc_.component.view());
      start = hit + enc_.sub_component.size;
    }
  }

  [[gnu::noinline]] void count_in(uint32_t index) {
    const auto it = std::find(apart_.begin(), apart_.end(), index);
    if (it != apart_.end())
      apart_.erase(it);
  }

  // The name of a resource of a map keyed by some components (Map::identity)
  // into key_text_: the map's name and the components' texts, '^' between
  // them (empty ones too, so that bed 2 of room 502 is not bed 2 of room
  // 503, nor of a room of another floor). A component of separators or
  // nulls alone ("&") holds no value: empty, as the rows read it (room 502
  // of point of care "&" is room 502 of none).
  [[gnu::noinline]] void put_identity(const Map &map, Value value) {
    key_text_.put(identity_name(map));
    for (uint32_t component : map.identity) {
      key_text_.put('^');
      if (const std::string_view text = piece(value, component).text; holds_a_value(text))
        key_text_.put(decoded(text, true));
    }
  }

  // A row's reference from the latest resource of one label to the latest
  // of another. One to a Patient not made yet (NK1's RelatedPerson.patient
  // where NK1 stands ahead of PID) is made in finish(), to the first
  // Patient of that label made after (see later_links()): the Patient is
  // the message's, wherever its PID stands. (Other resources belong to
  // their group: one made later may be another group's.)
  // Whether the link's reference stands (or it has nothing to refer to):
  // false where no resource of its label refers from (a VXU's PRT of the
  // performer before its RXA) or the element refers to another.
  bool link(const Link &l, uint32_t occurrence) {
    const uint32_t from = referrer(l, occurrence), to = latest(l.to_id);
    if (from == UINT32_MAX)
      return false;
    if (from == to)
      return true;
    if (to == UINT32_MAX) {
      if (l.to.starts_with("Patient*"))
        later_.emplace_back(from, &l);
      return true;
    }
    const bool stands = refer(from, l.path, to);
    if (!l.values.empty() && stands) [[unlikely]]
      link_values(from, l);
    return stands;
  }

  // The resource link `l` refers from, for a segment in group occurrence
  // `occurrence`: the latest of its label, unless the last segment whose
  // row took it stands in another occurrence of a group the segment's
  // stands in too (an ORU's question OBX, the supportingInfo of its order's
  // ServiceRequest, in an order without ORC, which makes none: not the
  // ServiceRequest of an order before it; but an OBX's report, which its
  // ORC made and its OBR, in the next occurrence after a stray NTE, took);
  // UINT32_MAX for none.
  uint32_t referrer(const Link &l, uint32_t occurrence) const {
    const uint32_t from = latest(l.from_id);
    if (from == UINT32_MAX || from == latest(l.to_id) || apart(resources[from].written, occurrence) == none)
      return from;
    return UINT32_MAX;
  }

  // Writes the values of link `l` into the list element of `r` that
  // refer() put its reference in (link_path_ as it left it); none where
  // an element referred to the resource already.
  [[gnu::noinline]] void link_values(uint32_t r, const Link &l) {
    size_t list = 0;
    while (!link_path_[list].step->slot)
      ++list;
    if (link_path_[list].rep == none)
      return;
    std::vector<PathItem> path(link_path_.begin(),
                               link_path_.begin() + static_cast<std::ptrdiff_t>(list) + 1);
    for (const auto &[steps, text] : l.values) {
      path.resize(list + 1);
      for (const Step &step : steps)
        path.push_back({&step, 0});
      put_leaf(node(r, path), 's', text, 0);
    }
  }

  // Whether `r`, the Specimen of a row that SegmentRow::leads, made by a
  // segment standing ahead of the orders it is taken for (OUL_R22's SPM, then
  // OBR, ORC and OBX), leads those instead of taking `l`, the link from the
  // order to it: no order of the link's label stands before it, or the one
  // that does followed a specimen before (the next SPM of an OUL). An
  // order standing before the specimen (OML's ORC OBR SPM) takes it by the
  // link. Specimens sent one after another ahead of an order lead it
  // together; the first after an order that followed them begins anew.
  // (Out of line: SPM of a message without a table.)
  [[gnu::noinline]] bool lead(const SegmentRow &row, const Link &l, uint32_t r) {
    if (l.to_id != row.label_id || l.from_id == row.label_id)
      return false;
    const uint32_t from = latest(l.from_id);
    if (from != UINT32_MAX && from != lead_.follower)
      return false;
    if (lead_.followed)
      lead_.specimens.clear();
    lead_.specimens.push_back(r);
    lead_.link = &l;
    lead_.followed = false;
    return true;
  }

  // A resource made after leading specimens (see lead()) is of them: an
  // order of the link's label refers to each by the link
  // (ServiceRequest.specimen, a list), an Observation as a result made of
  // the first sent before it (Maps::result_specimen; Observation.specimen
  // names one): the order's first specimen, as an ORU's results name their
  // OBR's (the tables' Specimen[1]); the others stay the order's.
  [[gnu::noinline]] void follow(const SegmentRow &row, uint32_t made) {
    if (row.label_id == lead_.link->from_id) {
      for (const uint32_t specimen : lead_.specimens)
        refer(made, lead_.link->path, specimen);
      lead_.follower = made;
      lead_.followed = true;
    } else if (same(row.type, "Observation") && !maps_.result_specimen.path.empty()) {
      refer(made, maps_.result_specimen.path, lead_.specimens.front());
    }
  }

  void later_links() {
    for (const auto &[from, l] : later_)
      for (uint32_t to = from + 1; to < resources.size(); ++to)
        if (resources[to].label == l->to_id) {
          refer(from, l->path, to);
          break;
        }
  }

  // Writes a reference to resource `to` at `steps` (and its "reference") in
  // `r`. Every link takes this road: a path through a list
  // (DiagnosticReport.result, Encounter.participant.individual) is given
  // the list's next element, so each Observation of an OBR's group is one
  // more result, in order (see free_element()).
  // Whether the reference stands: false where the element refers to
  // another resource (ORC-12's requester before a PRT's of the role).
  bool refer(uint32_t r, const std::vector<Step> &steps, uint32_t to) {
    std::vector<PathItem> &path = link_path_;
    // (sized once, then filled: a push a step is a call each here)
    path.resize(steps.size() + 1);
    size_t list = none;
    for (size_t i = 0; i < steps.size(); ++i) {
      if (steps[i].slot && list == none)
        list = i;
      path[i] = {&steps[i], 0};
    }
    path.back() = {&maps_.reference_step, 0};
    if (list != none) {
      path[list].rep = free_element(r, path, list, to, &steps);
      if (path[list].rep == none)
        return true;
    }
    const uint32_t at = node(r, path);
    put_leaf(at, 'r', {}, to);
    if (at != none && nodes_[at].kind == 'r' && nodes_[at].target == to)
      return true;
    if (at != none && nodes_[at].kind == 'r') [[unlikely]]
      taken_by_ = nodes_[at].target;
    return false;
  }

  // The repetition of list `path[list]` in `r` that a reference to `to`
  // at `path` goes in: the first element of the list whose place for it is
  // empty (rows may have made the element, a participant with its type,
  // before the link), else one past the last; none when an element refers
  // to `to` there already (rows of several segments give the same link:
  // the Appointment's participant for the Patient under SCH, NTE and PID).
  //
  // The elements a search found closed (each refers to a resource, or holds
  // something, or the path is blocked) stay so: elements are never taken
  // away while rows apply. So when the last search, for the same resource
  // and link, found none open (or one, the one it gave, closed since), and
  // `to` was made after it (no element can refer to it yet), the search
  // goes on from the last element it saw:
  // DiagnosticReport.result of an ORU's 28 OBX is not read 28 times over.
  uint32_t free_element(uint32_t r, const std::vector<PathItem> &path, size_t list, uint32_t to,
                        const void *link) {
    auto child = [&](uint32_t at, const PathItem &item) {
      for (uint32_t c = nodes_[at].first; c != none; c = nodes_[c].next)
        if (nodes_[c].key == item.step->id && nodes_[c].slot == item.step->slot &&
            nodes_[c].rep == item.rep)
          return c;
      return none;
    };
    uint32_t at = resources[r].root;
    for (size_t i = 0; i < list && at != none; ++i)
      at = nodes_[at].kind == 'o' ? child(at, path[i]) : none;
    if (at == none || nodes_[at].kind != 'o')
      return 0;
    const Step &step = *path[list].step;
    uint32_t empty = none, next = 0;
    uint32_t c = nodes_[at].first;
    ListSearch &last = list_search_;
    // down the rest of the path from list element `element` as far as it is
    // made: 0 closed, 1 open (the rest is to be made, or ends in an element
    // without members; a dead one a default would start anew counts so
    // too), 2 referring to `to`
    auto state = [&](uint32_t element) {
      uint32_t end = element;
      size_t i = list + 1;
      for (uint32_t below; i < path.size() && nodes_[end].kind == 'o' &&
                           (below = child(end, path[i])) != none;
           ++i)
        end = below;
      const Node &e = nodes_[end];
      if (i == path.size() && e.kind == 'r' && e.target == to)
        return 2;
      return e.kind == 'x' || (e.kind == 'o' && (i < path.size() || e.first == none)) ? 1 : 0;
    };
    // (the element the last search gave must be closed now: the reference
    // went in)
    if (last.link == link && last.resource == r && last.at == at && to >= last.made &&
        last.seen != none && (last.given == none || state(last.given) == 0)) {
      next = last.next;
      c = nodes_[last.seen].next;
    }
    uint32_t given = none; // the one open element, none when none or more
    size_t opened = 0;
    for (; c != none; c = nodes_[c].next) {
      const Node &element = nodes_[c];
      if (element.key != step.id || element.slot != step.slot)
        continue;
      next = std::max(next, element.rep + 1);
      const int found = state(c);
      if (found == 2)
        return none;
      if (found == 1) {
        given = c;
        ++opened;
        empty = std::min(empty, element.rep);
      }
    }
    // none open, or the one this gives: the next search may go on from
    // here (a DG1's rows make its Encounter.diagnosis before the link)
    last = {link,
            r,
            at,
            opened <= 1 ? nodes_[at].last : none,
            opened == 1 ? given : none,
            next,
            static_cast<uint32_t>(resources.size())};
    return empty != none ? empty : next;
  }

  // A documented default for a required element: a value, or an element
  // of members written "name=value&name=value" (after "name|", the form of
  // a choice or the slot of a list the element is: "payor*1|...").
  void default_value(uint32_t r, const std::string &element, std::string_view value) {
    std::string name = element;
    uint16_t slot = 0;
    const size_t bar = value.find('|');
    if (bar != std::string_view::npos && bar < value.find('=')) { // a choice's form, a list's slot
      std::vector<Step> form;
      if (!read_path(value.substr(0, bar), form) || form.size() != 1)
        return;
      name = form[0].name;
      slot = form[0].slot;
      value.remove_prefix(bar + 1);
    }
    const Step top{name, slot, false, maps_.name_id(name)};
    std::vector<PathItem> path{{&top, 0}};
    if (value.find('=') == std::string_view::npos) {
      leaf(r, path, 's', value);
      return;
    }
    // (a member's name may be a path within the element, "extension*1.url")
    std::vector<Step> steps;
    for (std::string_view member : split(value, '&')) {
      const size_t eq = member.find('=');
      if (!read_path(member.substr(0, eq), steps))
        continue;
      for (Step &step : steps) {
        step.id = maps_.name_id(step.name);
        path.push_back({&step, 0});
      }
      leaf(r, path, 's', member.substr(eq + 1));
      path.resize(1);
    }
  }

  // The elements of Maps::wanted that resource `r` lacks, unless its code
  // says it need not hold them, written with their defaults. Those its code
  // exempts are wanted together all the same: one held (an end a cancelled
  // appointment's SCH-11 sent unreadable, its data-absent-reason) wants the
  // others (its start's), as FHIR holds an Appointment's start and end both
  // or neither. (Cold: once a message, for the types that have such elements.)
  [[gnu::noinline, gnu::cold]] void write_wanted(uint32_t r) {
    for (const Maps::Wanted &w : maps_.wanted) {
      const Resource &res = resources[r];
      if (!same(w.type, res.type) || holds_one(res.root, w.forms))
        continue;
      bool exempt = false;
      for (uint32_t c = nodes_[res.root].first; c != none && !exempt; c = nodes_[c].next)
        exempt = nodes_[c].key == w.unless_id && nodes_[c].kind == 's' && live(c) &&
                 std::find(w.codes.begin(), w.codes.end(), text_of(nodes_[c])) != w.codes.end();
      for (const Maps::Wanted &other : maps_.wanted)
        if (exempt && &other != &w && same(other.type, res.type) && other.unless_id == w.unless_id &&
            holds_one(res.root, other.forms))
          exempt = false;
      const auto d = maps_.defaults.find(w.type + "." + w.element);
      if (!exempt && d != maps_.defaults.end())
        default_value(r, w.element, d->second);
    }
  }

public:
  // Whether identifier `n` of resource `r`, kept apart from another
  // (Resource::apart), is held by another resource of its type that stays:
  // a condition on it would have the server update one record for both
  // (a newborn's entry, of its mother's SSN, the mother's).
  bool held_by_another(const Resource &r, uint32_t n) const {
    std::string_view system, value;
    if (!r.apart || !identifier_parts(n, system, value))
      return false;
    return std::ranges::any_of(resources, [&](const Resource &other) {
      if (&other == &r || !other.apart || other.dropped || !same(other.type, r.type))
        return false;
      for (uint32_t c = nodes_[other.root].first; c != none; c = nodes_[c].next) {
        std::string_view s, v;
        if (nodes_[c].kind != 'x' && nodes_[c].key == maps_.identifier_id && identifier_parts(c, s, v) &&
            s == system && v == value)
          return true;
      }
      return false;
    });
  }

  // (`id` lives as long as the engine: write_conversion()'s kept buffer)
  void set_message_id(std::string_view id) { message_id_ = id; }
  // The version the rows' tests of MSH-12.1 read, in place of the message's
  // own (a version the definitions do not hold, read as one they do).
  void set_version(std::string_view version) {
    version_text_.assign(version);
    version_read_ = true;
  }
  // The message is read by a version other than the one MSH-12 names
  // (reported "MSH-12 '2.9' (read as 2.8.2)").
  void set_stand_in_version() { stand_in_version_ = true; }
  // The conversion writes a bundle, whose identifier is MSH-10.
  void set_bundle(bool bundle) { bundle_ = bundle; }
  // The type (MSH-9.1) of a message without a table: the types that send
  // immunizations are the vaccination record's update (VXU), the answers to
  // a vaccination query (VXR, VXX) and the registries' answer to a query by
  // parameter (RSP^K11 of an immunization history); one of them holding an
  // RXA is a history. In another message an RXA is a drug given, which no
  // table maps (SegmentRow::immunization).
  // The message names its type, event or structure in MSH-9 in lower case
  // (read in upper case: see upper_case_code()).
  void set_kind_in_upper_case() { kind_in_upper_case_ = true; }
  void set_type(std::string_view type) {
    SegmentView rxa;
    history_ = (type == "VXU" || type == "VXR" || type == "VXX" || type == "RSP") &&
               message_.find_segment("RXA", rxa);
  }
  // The definitions of the message's version (null: none), whose tables
  // give a code no vocabulary maps its system (see table_coding()).
  void set_definitions(const Definitions &definitions, const VersionDefinitions *version) {
    definitions_ = &definitions;
    version_ = version;
    values_of_ = nullptr;
  }
  const Maps &maps() const { return maps_; }
  const std::vector<Node> &nodes() const { return nodes_; }
  // The system and value of identifier `n` (a resource's member
  // "identifier"); false unless both are there.
  bool identifier_parts(uint32_t n, std::string_view &system, std::string_view &value) const {
    system = value = {};
    for (uint32_t m = nodes_[n].first; m != none; m = nodes_[m].next) {
      const Node &member = nodes_[m];
      if (member.key == maps_.system_step.id && member.kind == 's')
        system = text_of(member);
      if (member.key == maps_.value_id && member.kind == 's')
        value = text_of(member);
    }
    return !system.empty() && !value.empty();
  }
  std::string_view text_of(const Node &n) const { return {text_.view().data() + n.value, n.size}; }
  // The texts of all values, written or not.
  std::string_view values() const { return text_.view(); }

  // -- writing

  // Whether a node other than an element stands: a value that is not empty,
  // a reference to a resource that stays.
  bool value_live(const Node &node) const {
    if (node.kind == 'r')
      return !resources[node.target].dropped;
    return node.kind != 'x' && node.size != 0;
  }

  bool live(uint32_t n) const {
    const Node &node = nodes_[n];
    if (node.kind != 'o')
      return value_live(node);
    for (uint32_t c = node.first; c != none; c = nodes_[c].next)
      if (live(c))
        return true;
    return false;
  }

  // At most what write_node() writes for all resources together, found
  // without a walk: each node is written once at most (one taken back
  // too: see write_resource()), as its key after a
  // comma, a list's brackets, and braces, a reference or its value (a
  // region of text_ of its own, six bytes a byte at most when escaped);
  // each resource adds its braces, type and id.
  size_t write_bound() const {
    size_t type = 0;
    for (const Resource &r : resources)
      type = std::max(type, r.type.size());
    const size_t node = maps_.longest_key + 4 + std::max<size_t>(9, type + 1) + 36 + 2 + 2;
    return json_string_bound(text_.size()) + nodes_.size() * node + resources.size() * (type + 64);
  }

  // Whether element `n` holds an element of one of the names `forms`.
  // (Most elements have one form: it is compared in line, the bits tested
  // only when there are others.)
  bool holds_one(uint32_t n, const Forms &forms) const {
    if (forms.ids.empty())
      return false;
    const uint32_t first = forms.ids[0];
    const bool more = forms.ids.size() != 1; // not empty, as above
    for (uint32_t c = nodes_[n].first; c != none; c = nodes_[c].next) {
      const uint32_t key = nodes_[c].key;
      if ((key == first || (more && forms.has(key))) && live(c))
        return true;
    }
    return false;
  }

  // The elements element `n` (below the top of `r`) requires, or null.
  const Maps::Needs *needs(const Resource &r, uint32_t n) {
    const uint32_t key = nodes_[n].key;
    if (const int32_t i = maps_.name_required[key]; i >= 0) {
      requires_ = true;
      return &maps_.needs[static_cast<size_t>(i)];
    }
    for (const Maps::CheckedPath &p : maps_.name_checked[key])
      if (p.keys.size() == keys_.size() && same(p.type, r.type) &&
          std::equal(keys_.begin(), keys_.end(), p.keys.begin())) {
        requires_ = true;
        return &maps_.needs[p.needs];
      }
    return nullptr;
  }

  // Writes the documented value of `element`, which element `n` (its names
  // from the top in keys_, as attached() left them) requires where the
  // tables leave it unmapped ("Appointment.participant.status"); false when
  // there is none.
  [[gnu::noinline]] bool member_default(const Resource &r, uint32_t n, const Maps::Need &need) {
    const std::vector<uint32_t> &ids = maps_.member_defaults;
    if (std::find_first_of(ids.begin(), ids.end(), need.forms.ids.begin(), need.forms.ids.end()) ==
        ids.end()) [[likely]]
      return false;
    const std::string &element = need.element;
    std::string key(r.type);
    for (size_t i = keys_.size(); i-- > 0;)
      key.append(".").append(maps_.names[keys_[i]]);
    key.append(".").append(element);
    const auto d = maps_.defaults.find(key);
    const uint32_t id = maps_.name_id(element);
    if (d == maps_.defaults.end() || id == 0)
      return false;
    const auto at = static_cast<uint32_t>(nodes_.size());
    Node &c = nodes_.emplace_back();
    c.key = id;
    c.parent = n;
    c.kind = 's';
    c.value = static_cast<uint32_t>(text_.size());
    c.size = static_cast<uint32_t>(d->second.size());
    text_.put_padded(d->second);
    append(n, at);
    return true;
  }

  // Whether element `n` hangs from its resource's top through live
  // elements; keys_ gets the names of the elements from the top down to
  // `n`. (The members a default's element left when it started anew still
  // name it as theirs: judging them changes nothing, as nothing reaches them.)
  bool attached(const Resource &r, uint32_t n) {
    keys_.clear();
    for (uint32_t at = n; at != r.root; at = nodes_[at].parent) {
      if (nodes_[at].kind != 'o')
        return false;
      keys_.push_back(nodes_[at].key);
    }
    std::reverse(keys_.begin(), keys_.end());
    return true;
  }

  // Marks dead each element below the top of `r` that lacks an element it
  // requires (an Encounter.location without its location); true when it
  // marked any. Only the elements whose names may require another are
  // looked at, as they were noted when made (checked_), latest first: an
  // element is made after the element it is in, so each is judged after
  // all its members, as a walk from the leaves up would.
  bool prune(const Resource &r) {
    bool changed = false;
    const auto resource = static_cast<uint32_t>(&r - resources.data());
    for (uint32_t i = r.last_checked; i != none; i = checked_[i].before) {
      const uint32_t n = checked_[i].node;
      if (!attached(r, n))
        continue;
      if (const Maps::Needs *need = needs(r, n))
        for (const Maps::Need &element : *need)
          if (!holds_one(n, element.forms) &&
              (maps_.member_defaults.empty() || !member_default(r, n, element))) {
            // (it may hold the one reference to a resource made of a value:
            // PID-3's assigner of an identifier without its value)
            orphans_maybe_ = orphans_maybe_ || holds_reference(n);
            nodes_[n].kind = 'x';
            pruned_.push_back({resource, i, &element});
            changed = true;
            break;
          }
    }
    return changed;
  }

  // Whether element `n` is a reference or holds one, at any depth.
  bool holds_reference(uint32_t n) const {
    if (nodes_[n].kind == 'r')
      return true;
    if (nodes_[n].kind == 'o')
      for (uint32_t c = nodes_[n].first; c != none; c = nodes_[c].next)
        if (holds_reference(c))
          return true;
    return false;
  }

  // Reports each element prune() left out in a resource that stays, that
  // holds a value of the message, once ("Encounter.location without
  // location (from PV1)", with the segment that made it). Not one made of
  // constants alone (a row writes those whenever its field is valued), nor
  // one within another left out (that one is reported), nor one a default
  // started anew. Values from `defaults` on in text_ are defaults. (Out of
  // line: most bundles leave nothing out.)
  [[gnu::noinline, gnu::cold]] void report_pruned(uint32_t defaults) {
    for (const Pruned &p : pruned_) {
      const uint32_t n = checked_[p.checked].node;
      // (a resource left out for what it lacks is reported itself; one of
      // nothing is not: its elements left out are)
      if ((resources[p.resource].dropped && !resources[p.resource].hollow) ||
          nodes_[n].kind != 'x')
        continue;
      std::string path;
      bool within_dead = false;
      for (uint32_t at = nodes_[n].parent; at != resources[p.resource].root;
           at = nodes_[at].parent) {
        within_dead |= nodes_[at].kind != 'o';
        path.insert(0, "." + maps_.names[nodes_[at].key]);
      }
      // (nor a form of a choice element another form of which stands: the
      // value went into that one, OBX-5's "<0.5" and OBX-6's unit into a
      // valueString, not into the valueQuantity of the unit alone)
      if (within_dead || !holds_message_value(n, defaults) ||
          (nodes_[n].rival && other_form_stands(nodes_[n].parent, n)))
        continue;
      const uint32_t segment = checked_[p.checked].segment;
      std::string text = std::string(resources[p.resource].type) + path + "." +
                         maps_.names[nodes_[n].key] + " without ";
      for (char ch : p.need->element)
        text += ch == '|' ? std::string(" or ") : std::string(1, ch);
      if (segment < message_.segment_count())
        text += " (from " + std::string(message_.segment_at(segment).name) + ")";
      unmapped(text);
    }
  }

  // Whether element `n` or one within it holds a value read from the
  // message: a text not written from a row's constant (constants_) nor a
  // default (at `defaults` and after in text_). A reference is none: the
  // resource it refers to holds the values (and is reported if it went).
  // (The constants written before `first_constant` are none of its: a
  // resource made since.)
  bool holds_message_value(uint32_t n, uint32_t defaults, size_t first_constant = 0) const {
    for (uint32_t at = n;;) {
      const Node &node = nodes_[at];
      if (node.kind != 'o' && node.kind != 'x' && node.kind != 'r' && node.size &&
          node.value < defaults &&
          !std::binary_search(constants_.begin() + static_cast<ptrdiff_t>(first_constant),
                              constants_.end(), node.value))
        return true;
      if (node.first != none) { // depth first: members, then the next, then up
        at = node.first;
        continue;
      }
      while (at != n && nodes_[at].next == none)
        at = nodes_[at].parent;
      if (at == n)
        return false;
      at = nodes_[at].next;
    }
  }

  // What resource `r` holds of the message as it stands (its live elements
  // alone): a value read from it (holds_value; constants and defaults, at
  // `defaults` and after in text_, are none), else references to resources
  // that stay other than a Patient or an Encounter (the message's, which
  // every resource is of: holds_references), else nothing (holds_nothing).
  // A reference to a Specimen is none either but in a Specimen (its
  // parent): the order or result of it is made so by the specimen's
  // segment, not by its own (an ORC of nothing after an SPM).
  // One whose one such reference is to a resource of its own type (a bed
  // of nothing, part of room 2012) holds nothing and stands for that one:
  // `instead` (UINT32_MAX: none). (Out of line: asked of few resources.)
  [[gnu::noinline]] Holds holds(const Resource &r, uint32_t defaults, uint32_t &instead) const {
    uint32_t references = 0, target = UINT32_MAX;
    instead = UINT32_MAX;
    for (uint32_t at = nodes_[r.root].first; at != none;) {
      const Node &n = nodes_[at];
      if (n.kind == 'o' && n.first != none) { // depth first; a dead element's members are none
        at = n.first;
        continue;
      }
      if (n.kind == 'r') {
        const Resource &to = resources[n.target];
        if (!to.dropped && !same(to.type, "Patient") && !same(to.type, "Encounter") &&
            (!same(to.type, "Specimen") || same(r.type, "Specimen")))
          ++references, target = n.target;
      } else if (n.kind != 'o' && n.kind != 'x' && n.size && n.value < defaults &&
                 !std::binary_search(constants_.begin(), constants_.end(), n.value)) {
        return holds_value;
      }
      while (at != r.root && nodes_[at].next == none)
        at = nodes_[at].parent;
      at = at == r.root ? none : nodes_[at].next;
    }
    if (references == 1 && same(resources[target].type, r.type)) {
      instead = target;
      return holds_nothing;
    }
    return references ? holds_references : holds_nothing;
  }

  // Decides the resources `lacking` lists, each without a required element
  // that the message may not send (Maps::absent), once nothing else changes:
  // one that holds something of the message besides what names it stays,
  // the element holding its value for one not sent, and the element is
  // reported ("Observation.code not sent (from OBX)"); one that refers to
  // such a resource, or to another that stays, stays too (a DiagnosticReport
  // without OBR-4 of the Observation of a report's text); the others go, as
  // without such an element ("Observation without code (from OBX)").
  // Empties `lacking`; true (a resource changed or went). (Cold: few
  // messages lack such an element.)
  [[gnu::noinline, gnu::cold]] bool keep_lacking(std::vector<uint32_t> &lacking,
                                                 uint32_t defaults, uint32_t &drops) {
    std::erase_if(lacking, [&](uint32_t i) { return resources[i].dropped; });
    for (bool kept = true; kept;) {
      kept = false;
      for (size_t at = 0; at < lacking.size(); ++at) {
        const uint32_t i = lacking[at];
        if (!holds_more_than_its_name(resources[i], defaults, lacking))
          continue;
        Resource &r = resources[i];
        for (const Maps::Need &need : maps_.needs[static_cast<size_t>(r.rules.needs)]) {
          auto a = maps_.absent.find(std::string(r.type) + "." + need.element);
          if (a == maps_.absent.end() || holds_one(r.root, need.forms))
            continue;
          default_value(i, need.element, a->second);
          unmapped(std::string(r.type) + "." + need.element + " not sent (from " +
                   std::string(r.segment_name) + ")");
        }
        r.pruned = false;
        r.needs_met = false;
        lacking.erase(lacking.begin() + static_cast<ptrdiff_t>(at--));
        kept = true;
      }
    }
    for (const uint32_t i : lacking) {
      Resource &r = resources[i];
      for (const Maps::Need &need : maps_.needs[static_cast<size_t>(r.rules.needs)])
        if (!holds_one(r.root, need.forms)) {
          unmapped(std::string(r.type) + " without " + need.element + " (from " +
                   std::string(r.segment_name) + ")");
          break;
        }
      r.dropped = true;
      ++drops;
    }
    lacking.clear();
    return true;
  }

  // Whether resource `r` holds something of the message besides what names
  // it (its identifiers, its status, what it is based on or part of) and
  // its Patient, Encounter, Specimen and order: a value read from the
  // message, or a reference to another resource that stays and is not
  // `undecided` (a performer, a result; the specimen's segment, not the
  // resource's, made it of the specimen, as holds() has it; a document's
  // context.related is its order, as a report's basedOn).
  bool holds_more_than_its_name(const Resource &r, uint32_t defaults,
                                const std::vector<uint32_t> &undecided) const {
    const uint32_t names[] = {maps_.name_id("identifier"), maps_.name_id("status"),
                              maps_.name_id("basedOn"), maps_.name_id("partOf")};
    std::vector<uint32_t> stack;
    for (uint32_t c = nodes_[r.root].first; c != none; c = nodes_[c].next) {
      if (std::find(std::begin(names), std::end(names), nodes_[c].key) != std::end(names) ||
          !live(c))
        continue;
      if (holds_message_value(c, defaults))
        return true;
      stack.assign(1, c);
      while (!stack.empty()) {
        const Node &n = nodes_[stack.back()];
        stack.pop_back();
        if (n.kind == 'r') {
          const Resource &to = resources[n.target];
          if (!to.dropped && !same(to.type, "Patient") && !same(to.type, "Encounter") &&
              !same(to.type, "Specimen") && !same(to.type, "ServiceRequest") &&
              std::find(undecided.begin(), undecided.end(), n.target) == undecided.end())
            return true;
        } else if (n.kind == 'o') {
          for (uint32_t m = n.first; m != none; m = nodes_[m].next)
            stack.push_back(m);
        }
      }
    }
    return false;
  }

  // Drops each resource that holds nothing of the message (holds()): one
  // made for a reference, or by its segment (an NK1 of its set id alone),
  // whatever other segments filled it with (an empty SCH's Appointment of
  // the patient PID made its participant); the message's Patient,
  // Encounter, header and provenance (anchor()) are not asked.
  // Such a resource goes with the references to it, or they refer to the
  // one it stands for, unreported (it held nothing; what prune() left out
  // of it is reported: report_pruned()). Asks again only of one whose
  // pruning changed it since, or that held references alone where a
  // resource went since. True when it dropped one: finish() prunes again
  // what referred to it. (Out of line: once a conversion, or a few times.)
  [[gnu::noinline]] bool drop_hollow(uint32_t defaults, uint32_t &drops) {
    for (; pruned_seen_ < pruned_.size(); ++pruned_seen_)
      if (Resource &r = resources[pruned_[pruned_seen_].resource]; r.holds == holds_value)
        r.holds = holds_unknown;
    bool dropped = false;
    for (uint32_t i = 0; i < resources.size(); ++i) {
      Resource &r = resources[i];
      if (r.holds <= holds_value || r.dropped ||
          (r.holds == holds_references && r.holds_drops == drops)) [[likely]]
        continue;
      uint32_t instead = UINT32_MAX;
      r.holds = holds(r, defaults, instead);
      r.holds_drops = drops;
      if (r.holds != holds_nothing)
        continue;
      r.dropped = r.hollow = true;
      ++drops;
      dropped = true;
      if (instead != UINT32_MAX)
        refer_instead(i, instead);
    }
    return dropped;
  }

  // Notes resource `r`, of a type that is no patient's (a PractitionerRole,
  // a Device), which `row` of segment `seg` made and whose links to it found
  // no element to refer from (a PRT's PractitionerRole of the ordering
  // provider where ORC-12 names the requester; a PRT where no resource it
  // names a role of stands): unless another resource refers to it once
  // the bundle is final, it goes, and the fields its map reads are
  // reported (drop_unreferred()); `taken_by` holds the element a link found
  // taken (UINT32_MAX: none). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void note_unreferred(uint32_t r, const SegmentRow &row,
                                                    const SegmentView &seg, uint32_t taken_by) {
    Unreferred &u = unreferred_.emplace_back();
    u.resource = r;
    u.taken_by = taken_by;
    const Map &map = maps_.maps[static_cast<size_t>(row.map)];
    for (uint32_t f = 1; f < 256 && f <= seg.field_count(); ++f)
      if (map.fields[f] && holds_a_value(field_text(seg, f)))
        u.fields.push_back(field_place(seg.name, f));
  }

  // Reports resource `r`, which stands, referred to by no resource of
  // link `l`'s label, as none was made in its group occurrence (an ORU's
  // question OBX in an order without ORC, which makes no ServiceRequest):
  // "Observation referred to by no ServiceRequest.supportingInfo (from
  // OBX)". (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void report_unreferring(uint32_t r, const Link &l,
                                                       std::string_view segment) {
    const std::string_view from = std::string_view(l.from).substr(0, l.from.find('*'));
    unmapped(std::string(resources[r].type) + " referred to by no " + std::string(from) + "." +
             (l.path.empty() ? std::string() : l.path.front().name) + " (from " +
             std::string(segment) + ")");
  }

  // Whether a resource that stays refers to resource `to`.
  bool referred_to(uint32_t to) const {
    for (const Resource &r : resources)
      if (!r.dropped && refers(r.root, to))
        return true;
    return false;
  }
  bool refers(uint32_t n, uint32_t to) const {
    for (uint32_t c = nodes_[n].first; c != none; c = nodes_[c].next)
      if ((nodes_[c].kind == 'r' && nodes_[c].target == to) ||
          (nodes_[c].kind == 'o' && refers(c, to)))
        return true;
    return false;
  }

  // Drops each resource note_unreferred() noted that no resource refers to,
  // reporting its fields; what it alone referred to that was made for it
  // (the Practitioner of its PRT-5) goes in drop_orphans(). (Out of line:
  // rare.)
  [[gnu::noinline, gnu::cold]] void drop_unreferred() {
    for (const Unreferred &u : unreferred_) {
      if (resources[u.resource].dropped || referred_to(u.resource))
        continue;
      resources[u.resource].dropped = true;
      if (!merged(u.resource, u.taken_by))
        for (const std::string &f : u.fields)
          unmapped(f);
    }
  }
  // Drops each resource made of a value (for a reference, or by a value's
  // map: an Organization, a Practitioner, a Location) that no resource
  // which stays refers to, reporting the field holding the value (PD1-3
  // of a second PD1, whose Patient's generalPractitioner names the first's
  // Organization; the EVN-7 Location of a Provenance that went), and so on
  // with what it alone referred to (a PractitionerRole's Practitioner).
  // (Out of line: where finish() found one may stand so.)
  [[gnu::noinline, gnu::cold]] void drop_orphans() {
    std::vector<uint8_t> referred(resources.size());
    std::vector<uint32_t> stack;
    for (bool changed = true; changed;) {
      changed = false;
      std::fill(referred.begin(), referred.end(), 0);
      for (const Resource &r : resources) {
        if (r.dropped)
          continue;
        stack.assign(1, r.root);
        while (!stack.empty()) {
          const Node &n = nodes_[stack.back()];
          stack.pop_back();
          if (n.kind == 'r')
            referred[n.target] = 1;
          else if (n.kind == 'o')
            for (uint32_t c = n.first; c != none; c = nodes_[c].next)
              stack.push_back(c);
        }
      }
      for (uint32_t i = 0; i < resources.size(); ++i) {
        Resource &r = resources[i];
        if (r.dropped || referred[i] || (!r.by_reference && r.label != UINT32_MAX) || r.alone ||
            anchor(r.type))
          continue;
        r.dropped = true;
        changed = true;
        if (r.field == 0) {
          unmapped(r.segment_name);
        } else {
          unmapped(field_place(r.segment_name, r.field));
        }
      }
    }
  }

  // Whether resource `from`, which goes, is the same as resource `into`,
  // the one in the element its link found taken, and its members are moved
  // there: of one type, both naming one person (a member referring to the
  // same resource: ORC-12's requester and a PRT of the ordering provider
  // whose PRT-5 is the same Practitioner), and each member both hold such
  // a reference; the members `into` lacks join it (the PRT's role code OP).
  bool merged(uint32_t from, uint32_t into) {
    if (into == UINT32_MAX || resources[into].dropped ||
        resources[into].type != resources[from].type)
      return false;
    const uint32_t to = resources[into].root;
    auto namesake = [&](uint32_t c) {
      for (uint32_t o = nodes_[to].first; o != none; o = nodes_[o].next)
        if (nodes_[o].key == nodes_[c].key)
          return o;
      return none;
    };
    // the resource a member refers to (itself or its "reference")
    auto target = [&](uint32_t c) {
      if (nodes_[c].kind == 'o')
        for (uint32_t m = nodes_[c].first; m != none; m = nodes_[m].next)
          if (nodes_[m].kind == 'r')
            return nodes_[m].target;
      return nodes_[c].kind == 'r' ? nodes_[c].target : UINT32_MAX;
    };
    bool person = false;
    for (uint32_t c = nodes_[resources[from].root].first; c != none; c = nodes_[c].next)
      if (const uint32_t o = namesake(c); o != none) {
        if (target(c) == UINT32_MAX || target(c) != target(o))
          return false;
        person = true;
      }
    if (!person)
      return false;
    std::vector<uint32_t> moved;
    for (uint32_t c = nodes_[resources[from].root].first; c != none; c = nodes_[c].next)
      if (namesake(c) == none)
        moved.push_back(c);
    Node &root = nodes_[resources[from].root];
    root.first = root.last = none;
    root.names = 0;
    for (uint32_t c : moved) {
      nodes_[c].next = none;
      nodes_[c].parent = to;
      append(to, c);
    }
    return true;
  }

  // Refers what referred to `from`, a resource of nothing, to `to`, the one
  // it stands for (see holds()). (Out of line: rare.)
  [[gnu::noinline, gnu::cold]] void refer_instead(uint32_t from, uint32_t to) {
    for (Node &n : nodes_)
      if (n.kind == 'r' && n.target == from)
        n.target = to;
  }

  // Writes resource `r` at `p`, in room made for it (write_bound());
  // returns the end of what it wrote. Elements are written as they stand
  // once the bundle is final: one that holds nothing to write (an empty
  // value, a reference to a resource that went, an element whose members
  // hold nothing) is written and then taken back, its key with it, so
  // that no walk before writing asks which do. The writer keeps its place
  // in a variable of its own, not in the buffer: each byte it stores could
  // otherwise be the buffer's size, which would be read again after it.
  // (Out of line: writing is a phase of its own in a profile.) Without its
  // id where `with_id` is false (a transaction's conditional update, whose
  // server names the resource it matches or makes).
  [[gnu::noinline]] char *write_resource(char *p, const Resource &r, bool with_id = true) const {
    p = copy_text(p, "{\"resourceType\":\""sv);
    p = copy_text(p, r.type);
    if (with_id) {
      p = copy_text(p, "\",\"id\":\""sv);
      p = copy_id(p, r);
    }
    *p++ = '"';
    p = write_members(p, nodes_[r.root]);
    *p++ = '}';
    return p;
  }

  // Node `n` at `p`; returns `p` when it holds nothing to write. (In line
  // in its callers: most nodes it is given are objects, whose members'
  // writer is then called without this frame between.)
  [[gnu::always_inline]] char *write_node(char *p, uint32_t n) const {
    const Node &node = nodes_[n];
    switch (node.kind) {
    case 's':
      return node.size ? value(p, node) : p;
    case 'n':
      return number(p, node);
    case 'r':
      return resources[node.target].dropped ? p : reference(p, resources[node.target]);
    case 'o':
      return write_object(p, node);
    case 'B':
      return node.size ? base64(p, text_of(node)) : p;
    }
    return p; // dead
  }

  // The members are written each after a comma; the first comma becomes
  // the opening brace.
  char *write_object(char *p, const Node &node) const {
    char *const open = p;
    p = write_members(p, node);
    if (p == open)
      return open;
    *open = '{';
    *p++ = '}';
    return p;
  }

  // A string's value, quoted and escaped (text_ holds 16 bytes after each
  // value: see Out::put_padded()).
  [[gnu::always_inline]] char *value(char *p, const Node &node) const {
    return write_json_string_padded(p, text_of(node));
  }
  // Binary data in base64 between quotes (no byte of it is escaped in JSON).
  static char *base64(char *p, std::string_view data) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    *p++ = '"';
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
      const uint32_t w = static_cast<uint8_t>(data[i]) << 16 |
                         static_cast<uint8_t>(data[i + 1]) << 8 | static_cast<uint8_t>(data[i + 2]);
      *p++ = digits[w >> 18];
      *p++ = digits[w >> 12 & 63];
      *p++ = digits[w >> 6 & 63];
      *p++ = digits[w & 63];
    }
    if (const size_t left = data.size() - i) {
      const uint32_t w = static_cast<uint8_t>(data[i]) << 16 |
                         (left == 2 ? static_cast<uint8_t>(data[i + 1]) << 8 : 0);
      *p++ = digits[w >> 18];
      *p++ = digits[w >> 12 & 63];
      *p++ = left == 2 ? digits[w >> 6 & 63] : '=';
      *p++ = '=';
    }
    *p++ = '"';
    return p;
  }
  // A number's or boolean's, in blocks of 16 bytes.
  [[gnu::always_inline]] char *number(char *p, const Node &node) const {
    const char *from = text_.view().data() + node.value;
    for (uint32_t i = 0; i < node.size; i += 16)
      std::memcpy(p + i, from + i, 16);
    return p + node.size;
  }

  // A member's key after a comma.
  [[gnu::always_inline]] char *key(char *p, uint32_t key) const {
    const Maps::KeyBlock &block = maps_.key_blocks[key];
    if (block.size) [[likely]] {
      std::memcpy(p, block.text, 32);
      return p + block.size;
    }
    return copy_text(p, maps_.name_keys[key]);
  }

  static char *copy_id(char *p, const Resource &r) {
    std::memcpy(p, r.id_text, sizeof r.id_text);
    return p + sizeof r.id_text;
  }

  // The members of `node`, each after a comma.
  char *write_members(char *p, const Node &node) const {
    for (uint32_t i = node.first; i != none; i = nodes_[i].next) {
      const Node &c = nodes_[i];
      if (c.named_before) // written with the first of its name
        continue;
      if (c.rival && other_form_before(node, i)) [[unlikely]]
        continue;
      if (c.slot == 0) {
        if (c.kind == 's') { // most are: written here, not through a call
          if (c.size) {
            p = key(p, c.key);
            p = value(p, c);
          }
          continue;
        }
        char *const at = key(p, c.key);
        char *const end = c.kind == 'o' ? write_object(at, c) : write_node(at, i);
        if (end != at)
          p = end;
      } else if (!c.named_after) { // a list of one
        char *const at = key(p, c.key);
        *at = '[';
        char *const end = write_node(at + 1, i);
        if (end != at + 1) {
          p = end;
          *p++ = ']';
        }
      } else {
        p = write_list(p, i);
      }
    }
    return p;
  }

  // Whether a member of `node` before member `i` is another form of the
  // choice element `i` is a form of and holds something: an element holds
  // one form of a choice (occurrenceDateTime from OBR and occurrenceTiming
  // from TQ1; PID-24's multipleBirthBoolean and another PID's
  // multipleBirthInteger), the first written, as the first row to write an
  // element wins.
  [[gnu::noinline]] bool other_form_before(const Node &node, uint32_t i) const {
    const uint32_t choice = maps_.choice_of[nodes_[i].key];
    for (uint32_t j = node.first; j != i; j = nodes_[j].next)
      if (maps_.choice_of[nodes_[j].key] == choice && nodes_[j].key != nodes_[i].key && live(j))
        return true;
    return false;
  }

  // Whether a member of `parent` other than `i` is another form of the
  // choice element `i` is a form of and holds something.
  bool other_form_stands(uint32_t parent, uint32_t i) const {
    const uint32_t choice = maps_.choice_of[nodes_[i].key];
    for (uint32_t j = nodes_[parent].first; j != none; j = nodes_[j].next)
      if (j != i && maps_.choice_of[nodes_[j].key] == choice && nodes_[j].key != nodes_[i].key &&
          live(j))
        return true;
    return false;
  }

  // The list headed by member `i`: the members of its name in (slot,
  // repetition) order, each after a comma, the first of which becomes the
  // bracket. Most lists were made in that order and are written as they
  // stand; a list found out of order on the way is written again, its
  // members picked one by one (lists are short; nothing is allocated), of
  // members of one place the first. (Out of line: in write_members(), its
  // state was made ready at every call of that, for the few lists.)
  // An element of objects the same as one before it in the list (two NK1
  // of one contact; NK1-3's EMR and NK1-7's E, one relationship; SCH-1 and
  // SCH-2 of one number) is written once: it says nothing the first does
  // not. (Not in a list of a primitive's extensions, "_given", aligned with
  // the primitives by place; nor among primitives: "JOHN JOHN" is two
  // names.)
  [[gnu::noinline]] char *write_list(char *p, uint32_t i) const {
    const uint32_t name = nodes_[i].key;
    char *open = nullptr, *end = nullptr;
    const bool aligned = maps_.names[name].starts_with('_');
    // the objects written so far: the first `count` (a plain array, left
    // unset: one of pairs would be cleared at every list)
    struct Written {
      char *first;
      size_t second;
    } written[16];
    size_t count = 0;
    auto put = [&](uint32_t member) {
      if (!open)
        open = end = key(p, name);
      *end = ',';
      char *const after = write_node(end + 1, member);
      if (after == end + 1)
        return;
      const std::string_view text(end + 1, static_cast<size_t>(after - end - 1));
      if (!aligned && text.front() == '{') {
        // (a reference's text differs from another's at its end, the id's)
        const size_t last = text.size() > 2 ? text.size() - 3 : 0;
        for (size_t k = 0; k < count; ++k)
          if (written[k].second == text.size() && written[k].first[last] == text[last] &&
              std::string_view(written[k].first, written[k].second) == text)
            return; // (the same as one before: taken back)
        if (count < std::size(written))
          written[count++] = {end + 1, text.size()};
      }
      end = after;
    };
    auto rank = [](const Node &e) { return (uint64_t{e.slot} << 32 | e.rep) + 1; };
    uint64_t done = 0; // rank of the last member written + 1
    bool ordered = true;
    for (uint32_t j = i; j != none; j = nodes_[j].next)
      if (nodes_[j].key == name) {
        if (rank(nodes_[j]) <= done) {
          ordered = false;
          break;
        }
        done = rank(nodes_[j]);
        put(j);
      }
    if (!ordered) {
      open = end = nullptr;
      count = 0;
      for (done = 0;;) {
        uint64_t best = UINT64_MAX;
        uint32_t pick = 0;
        for (uint32_t j = i; j != none; j = nodes_[j].next) {
          const Node &e = nodes_[j];
          if (rank(e) > done && rank(e) < best && e.key == name)
            best = rank(e), pick = j;
        }
        if (best == UINT64_MAX)
          break;
        put(pick);
        done = best;
      }
    }
    if (!open || end == open)
      return p;
    *open = '[';
    *end++ = ']';
    return end;
  }

  [[gnu::always_inline]] char *reference(char *p, const Resource &target) const {
    *p++ = '"';
    if (options_.relative_references) {
      p = copy_text(p, target.type);
      *p++ = '/';
    } else {
      p = copy_text(p, "urn:uuid:"sv);
    }
    p = copy_id(p, target);
    *p++ = '"';
    return p;
  }

private:
  const Maps &maps_;
  const Message &message_;
  const EncodingCharacters &enc_;
  const Options &options_;
  Conversion &out_;
  std::string scratch_, value_, join_, patient_key_, location_;
  std::string_view message_id_; // see set_message_id()
  std::string as_field_; // see as_field()
  bool bundle_ = false; // see set_bundle()
  bool history_ = false; // see set_type()
  const Definitions *definitions_ = nullptr;   // see set_definitions()
  const VersionDefinitions *version_ = nullptr;
  bool stand_in_version_ = false; // see set_stand_in_version()
  const VersionDefinitions *values_of_ = nullptr; // see valued()
  // the resources' keys (Resource::key), one after another
  Out key_text_;
  std::vector<Node> nodes_;
  std::unordered_map<MemberKey, uint32_t, MemberHash> members_; // see index_member()
  Out text_; // the values of nodes_
  std::vector<uint32_t> keys_;  // prune's path
  // The elements whose names may require another, each with the index of
  // the one before it in its resource (none: the first); see prune().
  // (`segment`: the segment being read when it was made)
  struct Checked {
    uint32_t node, before, segment;
  };
  std::vector<Checked> checked_;
  // The elements prune() left out, with what each lacked, reported by
  // report_pruned() once the resources' fates are known.
  struct Pruned {
    uint32_t resource, checked;
    const Maps::Need *need;
  };
  std::vector<Pruned> pruned_;
  size_t pruned_seen_ = 0; // of pruned_, by drop_hollow()
  // resources whose links to them found no element (note_unreferred())
  struct Unreferred {
    uint32_t resource = 0;
    uint32_t taken_by = UINT32_MAX; // the resource in the element its link found taken
    std::vector<std::string> fields; // "PRT-5", as reported if it goes
  };
  std::vector<Unreferred> unreferred_;
  // a resource made of a value may stand with nothing referring to it (a
  // reference to it found its element taken): see drop_orphans()
  bool orphans_maybe_ = false;
  // where in text_ each row's constant written starts, ascending (see
  // constant_leaf())
  std::vector<uint32_t> constants_;
  // a write of a field: the segment and field, the element and its
  // resource (constants: see report_lost_to_constants(); later forms:
  // report_lost_forms())
  struct FieldWrite {
    uint32_t segment, field, node, resource;
  };
  std::vector<FieldWrite> constant_writes_;
  // the forms of choice elements made after another form, and the fields
  // that made them (see note_rivals())
  std::vector<FieldWrite> later_forms_;
  bool constants_alone_ = false; // a valued field only constants were written of
  bool requires_ = false;       // prune met an element that requires another
  std::string order_;           // see order_key()
  bool order_known_ = false;
  std::vector<PathItem> link_path_; // see refer()
  // the resource in the element the last link found taken (see refer())
  uint32_t taken_by_ = UINT32_MAX;
  // what free_element() last found: the elements of list `at` of
  // `resource` up to `seen` (none: one was open) closed, `next` past them,
  // when `made` resources were made
  struct ListSearch {
    const void *link = nullptr;
    uint32_t resource = none, at = none, seen = none, given = none, next = 0, made = 0;
  };
  ListSearch list_search_;
  // the segments of a name that filled a resource another segment made,
  // and the repetition their lists start at (see first_repetition())
  struct Filler {
    uint32_t resource;
    std::string_view name;
    uint32_t segment, count;
  };
  std::vector<Filler> fillers_;
  std::vector<Filler> sharing_; // see first_sharing()
  // the repeating group occurrences a segment opened anew, with where
  // (see implied_occurrence())
  std::vector<std::pair<uint32_t, uint32_t>> implied_;
  // the last walk of child_begun(): its occurrence, the segment it was for,
  // and the last of the run of segments before that begins a child group
  struct StrayRun {
    uint32_t node = none, next = 0, opener = none;
  };
  StrayRun stray_run_;
  // links whose target was not made yet when their row applied (see link())
  std::vector<std::pair<uint32_t, const Link *>> later_;
  // the specimens leading the orders and results after them (see lead()),
  // their link from an order, the order that followed specimens last, and
  // whether one followed these
  struct Lead {
    std::vector<uint32_t> specimens;
    const Link *link = nullptr;
    uint32_t follower = UINT32_MAX;
    bool followed = false;
  } lead_;
  uint32_t first_rep_ = 0;
  // a document's empty lines waiting for its next line (blank_line()):
  // its data's element and how many
  uint32_t blank_at_ = none, blanks_ = 0;
  bool one_list_ = false; // the row's map fills one list element (Map::one_list)
  const MessageStructure *occurrences_ = nullptr; // the message's groups (set by run())
  bool escapes_ = true;         // the message holds its escape character
  // no escapes, and the separators '^' and '&': decoded() may take a value
  // as it stands by plain_bytes
  bool plain_ends_ = false;
  bool subs_ = true;            // ... and its sub-component separator
  bool controls_ = false;       // it holds control characters (report_controls())
  bool alone_repeated_ = false; // a repetition made a resource from nowhere (merge_alone_repetitions())
  std::string controls_text_;   // a value without them (without_controls())
  // the bytes a text that may hold no value begins with: the first of each
  // separator within a field, white space and '"' (see holds_a_value())
  std::array<bool, 256> hollow_start_{};
  std::vector<uint32_t> latest_; // by label number: the latest resource of it
  std::vector<std::pair<TextPlace, uint32_t>> identities_;
  std::unordered_multimap<uint64_t, size_t> identity_index_; // see identity_at()
  // by segment name: (fields some row maps, fields valued)
  // run() keeps a pointer into it while it adds none
  std::vector<Fields> valued_;
  std::vector<Named> named_; // by segment name, in the order first seen
  // the rows chosen for a segment name in a group (see rows_in()): a run of
  // chosen_rows_ each
  struct Chosen {
    uint32_t named;
    std::string_view group;
    uint32_t begin, count;
    bool borrowed = false; // rows of another group (group_of_opener())
  };
  std::vector<Chosen> chosen_;
  std::vector<uint32_t> chosen_rows_;
  // Where a value was read from. An entry not yet used holds the key of a
  // read from an empty field, whose text is empty too.
  Read reads_[64]; // what address() read, by a hash of where from
  // A piece of a value.
  struct Span {
    const char *data;
    size_t size;
    std::string_view view() const { return {data, size}; }
  };
  // The pieces of the value whose rows apply_value_map() applies (its
  // components, or a component's sub-components; `count` of them, all when
  // fewer than 32), which address() reads the conditions' components in.
  struct Pieces {
    std::string_view text;
    int level = -1;
    const Span *at = nullptr;
    uint32_t count = 0;
  };
  Pieces pieces_;
  std::vector<PathItem> path_; // the path being written
  // The paths of resources made while another's rows apply (a value's
  // resource in linked(), one a reference's row fills), one a level of such
  // making, taken from the thread's workspace and handed back when done: a
  // vector made for each would be a trip through the allocator each.
  struct PathLease {
    Engine &engine;
    std::vector<PathItem> &path;
    explicit PathLease(Engine &e) : engine(e), path(e.lease_path()) {}
    ~PathLease() { --engine.paths_leased_; }
    PathLease(const PathLease &) = delete;
    PathLease &operator=(const PathLease &) = delete;
  };
  size_t paths_leased_ = 0;
  std::vector<PathItem> &lease_path() {
    std::deque<std::vector<PathItem>> &paths = workspace_.paths; // (its elements stay put)
    if (paths_leased_ == paths.size())
      paths.emplace_back().reserve(16);
    std::vector<PathItem> &path = paths[paths_leased_++];
    path.clear();
    return path;
  }
  // the last timestamp primitive() read, as which type, and what it gave
  // (time_ok_ false: no timestamp)
  std::string time_in_, time_out_;
  char time_kind_ = 0;
  std::optional<int> zone_; // see read_zone()
  bool zone_read_ = false;
  bool time_ok_ = false;
  char time_offset_ = 0; // what it did with its offset (timestamp_offset())
  // the offsets of the segment's fields written, and those left out (see
  // note_offset())
  std::bitset<256> offset_kept_;
  struct DroppedOffset {
    std::string_view segment;
    uint32_t field;
    std::string text;
  };
  std::vector<DroppedOffset> offset_dropped_;

  // A Coding's system named `name` as a URI (coding_system_uri()). The two
  // names this thread read last are remembered with their URIs: a report's
  // results alternate two (OBX-3's LN, OBX-6's UCUM), each a search of the
  // known names otherwise. (In the thread's workspace, not the
  // conversion's: their strings are not made again at each message.)
  const std::string &system_uri(std::string_view name) {
    Workspace &w = workspace_;
    for (const SystemUri &known : w.system_uris)
      if (known.size && same(known.name(), name))
        return known.uri;
    SystemUri &s = w.system_uris[w.system_uri_next];
    w.system_uri_next ^= 1;
    s.uri.clear();
    coding_system_uri(name, s.uri);
    // (a name longer than its room is not remembered)
    s.size = name.size() <= sizeof s.text ? static_cast<uint8_t>(name.size()) : 0;
    std::memcpy(s.text, name.data(), s.size);
    return s.uri;
  }
  struct SystemUri {
    char text[16];
    uint8_t size = 0; // 0: none
    std::string uri;
    std::string_view name() const { return {text, size}; }
  };

  // The containers a conversion fills, kept in a workspace of this thread
  // from one conversion to the next: the engine takes them (emptied) as it
  // starts and gives them back as it ends, so that most conversions make
  // none of them anew. (One that starts while another runs finds them
  // taken, and makes its own.)
  struct Workspace {
    std::string value, patient_key, time_in, time_out; // (the others' texts are short)
    Out key_text, text;
    std::vector<Node> nodes;
    std::vector<Resource> resources;
    std::vector<uint32_t> keys, latest, chosen_rows;
    std::vector<Checked> checked;
    std::vector<Pruned> pruned;
    std::vector<uint32_t> constants;
    std::vector<FieldWrite> constant_writes;
    std::vector<PathItem> link_path, path;
    std::deque<std::vector<PathItem>> paths; // see lease_path()
    std::vector<Filler> fillers;
    std::vector<std::pair<uint32_t, uint32_t>> implied;
    std::vector<std::pair<uint32_t, const Link *>> later;
    std::vector<std::pair<TextPlace, uint32_t>> identities;
    std::vector<Fields> valued;
    std::vector<Named> named;
    std::vector<Chosen> chosen;
    SystemUri system_uris[2]; // see system_uri()
    uint8_t system_uri_next = 0;
  };
  // Calls `f(member, kept)` for each container and its workspace's.
  static Workspace &workspace() {
    thread_local Workspace w;
    return w;
  }
  Workspace &workspace_ = workspace(); // (found once: a thread's variable is a call to find)
  template <class F> void kept(F &&f) {
    Workspace &w = workspace_;
    f(value_, w.value), f(patient_key_, w.patient_key), f(time_in_, w.time_in);
    f(time_out_, w.time_out);
    f(key_text_, w.key_text), f(text_, w.text), f(nodes_, w.nodes), f(resources, w.resources);
    f(keys_, w.keys), f(latest_, w.latest), f(chosen_rows_, w.chosen_rows);
    f(checked_, w.checked), f(link_path_, w.link_path), f(path_, w.path);
    f(fillers_, w.fillers), f(implied_, w.implied), f(later_, w.later);
    f(identities_, w.identities), f(valued_, w.valued), f(named_, w.named);
    f(chosen_, w.chosen), f(pruned_, w.pruned), f(constants_, w.constants);
    f(constant_writes_, w.constant_writes);
  }
  uint32_t segment_ = 0, field_ = 0; // the segment and field being read
  bool kind_in_upper_case_ = false;   // MSH-9 read in upper case (set_kind_in_upper_case())
  std::bitset<256> wrote_; // the fields of the segment being read a row wrote of
  // of the segment being read: the components (a bit each) that rows of
  // maps applied to each field's value (the first 64 fields) took, the
  // fields noted there, and the fields and components rows read and none
  // of their map took (see apply_value_map())
  uint32_t taken_[64] = {};
  uint64_t taken_fields_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> refused_;
  // a value met another in an element, one there before the elements from
  // whole_from_ on were made (see apply_whole()): before the field being
  // read, or for a repetition after its first, before that repetition (0
  // outside apply_whole() and complete(): no value meets another)
  bool met_ = false;
  uint32_t whole_from_ = 0, field_from_ = 0, unit_from_ = 0;
  // the codes lacked_code() reports once the value being written whole is
  // (see end_whole())
  struct HeldReport {
    std::string_view segment;
    std::string code;
    std::string_view holder;
  };
  std::vector<HeldReport> held_;
  // the dead nodes made anew within such a value (see end_whole())
  std::vector<uint32_t> revived_;
  std::bitset<256> constant_wrote_; // those a row's constant was written of
  std::bitset<256> constant_chosen_; // ... a constant of a row of a condition
  std::bitset<256> read_by_value_; // those a row of no constant reads
  // those a value of which met an element another field wrote before (an
  // OBR-2 of another number than ORC-2's): a constant of theirs reaching
  // that element (its type, PLAC) writes nothing of them (constant_leaf())
  std::bitset<256> met_written_;
  // the fields whose values were reported, by segment name (see value_reported())
  std::vector<std::pair<std::string_view, uint32_t>> values_reported_;
  uint32_t reading_ = 0; // the segment run() is at
  uint32_t latest_patient_ = UINT32_MAX, latest_encounter_ = UINT32_MAX;
  // the resources made below one of a map keyed by components (a PL's
  // room, floor, ... that its bed is part of), ascending: not counted in a
  // position's key (see key()), so that a resource keyed by its position
  // keeps its id whether a PL names one Location or six
  std::vector<uint32_t> apart_;
  bool below_identity_ = false;
  int depth_ = 0;
  std::string version_text_; // the first MSH's MSH-12.1, once read (first_version())
  bool version_read_ = false;
  bool repeated_keys_ = false; // finish() met a key twice

  friend Conversion vellomar::fhir::convert(const Maps &, const Definitions &, const Message &,
                                            const Options &, bool);
};

// Ids, required elements and the resources dropped for want of them.
void Engine::finish() {
  // (the defaults written below are put after the texts read)
  const auto defaults = static_cast<uint32_t>(text_.size());
  uint32_t first_patient = 0;
  while (first_patient < resources.size() && !same(resources[first_patient].type, "Patient"))
    ++first_patient;
  if (first_patient == resources.size())
    first_patient = UINT32_MAX;
  later_links();
  for (uint32_t i = 0; i < resources.size(); ++i) {
    context_links(i, first_patient);
    if (resources[i].rules.wanted) [[unlikely]]
      write_wanted(i);
  }
  if (!unreferred_.empty()) [[unlikely]]
    drop_unreferred();
  // keys made before PID keyed the Patient end in that Patient's (the
  // message's first, for those made before any)
  for (Resource &r : resources)
    if (r.patient_later) {
      const uint32_t patient = r.patient != UINT32_MAX ? r.patient : first_patient;
      if (patient == UINT32_MAX)
        continue;
      const TextPlace was = r.key, patient_key = resources[patient].key;
      key_text_.reserve(was.size + patient_key.size); // the views stay
      r.key.at = static_cast<uint32_t>(key_text_.size());
      key_text_.add(key_of(was));
      key_text_.add(key_of(patient_key));
      r.key.size = static_cast<uint32_t>(key_text_.size() - r.key.at);
    }
  // each resource's key made unique by a counter, and its id made of the
  // key then: the id, a digest of the key, gives the table of keys its hash
  // (no second hash of each key; a resource that goes later had its id made
  // for nothing, which few do)
  // (a table of views with open addressing: one allocation, at most half full)
  std::vector<std::string_view> keys(std::bit_ceil(resources.size() * 2 + 2));
  const int shift = 64 - std::countr_zero(keys.size());
  auto insert = [&](std::string_view k, const char (&id)[36]) { // false when the key was there
    const size_t mask = keys.size() - 1;
    uint64_t word; // the id's first 8 hex digits, mixed into the table's size
    std::memcpy(&word, id, sizeof word);
    for (size_t i = (word * 0x9E3779B97F4A7C15u) >> shift;; ++i &= mask) {
      if (!keys[i].data()) { // free (a key is never empty)
        keys[i] = k;
        return true;
      }
      if (keys[i] == k)
        return false;
    }
  };
  // (key_text_ no longer grows: views of it stay valid)
  std::vector<std::string> made; // reserved once: its strings do not move
  repeated_keys_ = false;
  // the number a key's next repeat tries first: those below it are taken
  // (a report of a thousand OBX of one code and no sub-id is not numbered
  // from 2 for each)
  std::unordered_map<std::string_view, int> next_number;
  for (size_t i = 0; i < resources.size(); ++i) {
    const std::string_view key = key_of(resources[i].key);
    uuid5(key, resources[i].id_text);
    if (insert(key, resources[i].id_text))
      continue;
    if (made.empty())
      made.reserve(resources.size());
    repeated_keys_ = true;
    int &first = next_number.try_emplace(key, 2).first->second;
    for (int n = first;; ++n) {
      std::string &k = made.emplace_back(std::string(key) + "|" + std::to_string(n));
      uuid5(k, resources[i].id_text);
      if (insert(k, resources[i].id_text)) {
        first = n + 1;
        break;
      }
      made.pop_back();
    }
  }
  // Required elements: a default where one is documented, otherwise the
  // resource goes (and with it the references to it, which may take another
  // resource's required element: repeated until nothing changes).
  uint32_t drops = 0; // resources dropped so far
  std::vector<uint32_t> lacking; // see keep_lacking()
  for (bool changed = true; changed;) {
    changed = false;
    for (uint32_t i = 0; i < resources.size(); ++i) {
      Resource &r = resources[i];
      if (r.dropped)
        continue;
      // a resource none of whose elements requires another is pruned once
      // (again when a default adds to it); one whose elements do, again
      // only when its last pruning changed it or a resource went since
      // (what prune() reads is the resource's own elements and whether the
      // resources it refers to stay)
      if (!r.pruned || (r.requiring && (r.pruning_changed || r.drops_seen != drops))) {
        requires_ = false;
        r.pruning_changed = prune(r);
        changed |= r.pruning_changed;
        r.pruned = true;
        r.requiring = requires_;
        r.drops_seen = drops;
        if (r.pruning_changed)
          r.needs_met = false;
      }
      // its required elements, unless they were all there and neither it
      // nor the resources changed since
      if (r.rules.needs < 0 || (r.needs_met && r.needs_drops == drops))
        continue;
      r.needs_met = r.pruned;
      r.needs_drops = drops;
      for (const Maps::Need &need : maps_.needs[static_cast<size_t>(r.rules.needs)]) {
        if (holds_one(r.root, need.forms))
          continue;
        const std::string &element = need.element;
        const std::string key = std::string(r.type) + "." + element; // (Maps::defaults, absent)
        auto d = maps_.defaults.find(key);
        if (d != maps_.defaults.end()) {
          default_value(i, element, d->second);
          r.pruned = false;
          r.needs_met = false;
          continue;
        }
        // one the message may not send: whether the resource stays is
        // decided once nothing else changes (keep_lacking())
        if (maps_.absent.contains(key)) [[unlikely]] {
          if (std::find(lacking.begin(), lacking.end(), i) == lacking.end())
            lacking.push_back(i);
          continue;
        }
        r.dropped = true;
        ++drops;
        changed = true;
        unmapped(std::string(r.type) + " without " + element + " (from " +
                 std::string(r.segment_name) + ")");
        break;
      }
    }
    // then those without an element the message may not send, and the
    // resources of nothing (see drop_hollow())
    if (!changed && !lacking.empty()) [[unlikely]]
      changed = keep_lacking(lacking, defaults, drops);
    if (!changed)
      changed = drop_hollow(defaults, drops);
  }
  if (repeated_keys_) [[unlikely]]
    merge_alike_named_again();
  if (alone_repeated_) [[unlikely]]
    merge_alone_repetitions();
  merge_same_identifier();
  merge_alike_referred();
  // (a resource that went, holding something, may have been all that
  // referred to one made of a value: an Appointment without participant,
  // the author of its NTE)
  for (uint32_t i = 0; i < resources.size() && !orphans_maybe_; ++i)
    orphans_maybe_ = resources[i].dropped && !resources[i].alike &&
                     nodes_[resources[i].root].first != none;
  if (orphans_maybe_) [[unlikely]]
    drop_orphans();
  if (!pruned_.empty()) [[unlikely]]
    report_pruned(defaults);
  if (constants_alone_) [[unlikely]]
    report_lost_to_constants();
  if (!later_forms_.empty()) [[unlikely]]
    report_lost_forms();
  for (uint32_t i = 0; i < resources.size(); ++i)
    if (resources[i].rules.primitive_lists && !resources[i].dropped) [[unlikely]]
      align_primitive_lists(resources[i]);
}

} // namespace

// ---- the bundle ------------------------------------------------------------

namespace {

// Writes a token's part (a system or a code) as a search parameter's value
// in a conditional request's URL: FHIR's search escapes \, | , and $ in it
// by a backslash (an identifier "A|B" or "1,2" is not the system A and the
// value B, nor either of two values), and the URL takes all but the
// unreserved characters percent-encoded.
void append_query_value(Out &out, std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~') {
      out.put(ch);
      continue;
    }
    if (c == '\\' || c == '|' || c == ',' || c == '$')
      out.put("%5C"sv);
    out.put('%');
    out.put(hex[c >> 4]);
    out.put(hex[c & 15]);
  }
}

// The identifier a transaction entry's update of resource `r` is
// conditional on, its system and value (none: `value` empty): the
// resource's first identifier that has a system (so that a server that
// holds the resource under another id updates it). An identifier without
// a system is no condition: its value alone matches any resource of that
// value in any system (bed 01 of every room, the patient another facility
// numbers 12345), which the update would overwrite; the id, keyed by the
// identifier and its assigner, names the one resource. A Coverage's
// identifier is its health plan's (IN1-2), which every member of the plan
// shares: no condition either, or one patient's update would overwrite
// another's coverage; nor is one that two resources kept apart share
// (Engine::held_by_another()), for the same reason.
void condition_of(const Resource &r, const Engine &e, std::string_view &system,
                  std::string_view &value) {
  uint32_t best = UINT32_MAX;
  const Maps &maps = e.maps();
  const uint32_t first = same(r.type, "Coverage") ? none : e.nodes()[r.root].first;
  for (uint32_t c = first; c != none; c = e.nodes()[c].next) {
    const Node &n = e.nodes()[c];
    if (n.key != maps.identifier_id || !e.live(c))
      continue;
    std::string_view s, v;
    const uint32_t rank = static_cast<uint32_t>(n.slot) << 16 | (n.rep & 0xFFFF);
    if (e.identifier_parts(c, s, v) && rank < best && !e.held_by_another(r, c))
      best = rank, system = s, value = v;
  }
}

// The request of a transaction entry: on identifier `system|value`
// (condition_of()) a conditional update, or, of a resource of a type that
// one resource per identity stands for (an assigning authority's
// Organization, a Practitioner, a Location, a Device: one_when_alike()),
// a conditional create, which leaves the one a server
// holds as it is: a message names such a resource in passing (a name, an
// NPI) and its few elements would replace what the server's own record
// holds (addresses, qualifications). Without a condition, an update of the
// resource's own id.
void append_request(Out &out, const Resource &r, std::string_view system,
                    std::string_view value) {
  auto condition = [&] {
    out.put("identifier="sv);
    if (!system.empty()) {
      append_query_value(out, system);
      out.put("%7C"sv);
    }
    append_query_value(out, value);
  };
  if (!value.empty() && one_when_alike(r.type)) {
    out.put(",\"request\":{\"method\":\"POST\",\"url\":\""sv);
    out.put(r.type);
    out.put("\",\"ifNoneExist\":\""sv);
    condition();
    out.put("\"}"sv);
    return;
  }
  out.put(",\"request\":{\"method\":\"PUT\",\"url\":\""sv);
  out.put(r.type);
  if (value.empty()) {
    out.put('/');
    out.put(r.id());
  } else {
    out.put('?');
    condition();
  }
  out.put("\"}"sv);
}

// The version a message of a version the definitions do not hold is read
// by (its groups, its fields' types), or null: the latest held that is not
// later than its own, the latest of all for a later one (2.9: HL7 v2 grows
// by addition, a later version's message reads as the latest one held
// does) or for one that names no version (empty, "X"), the earliest for an
// earlier one (2.0). `named` tells whether the message's names one.
// (Out of line: messages of a version held, nearly all, never come here.)
[[gnu::noinline, gnu::cold]] const VersionDefinitions *
stand_in_version(const Definitions &definitions, std::string_view version, bool &named) {
  auto numbers = [](std::string_view v) { // "2.5.1": 2, 5, 1 (none: not a version)
    std::vector<uint32_t> out;
    for (std::string_view part : split(v, '.')) {
      uint32_t n = 0;
      if (part.empty() || part.size() > 4 || !number(part, n))
        return std::vector<uint32_t>();
      out.push_back(n);
    }
    return out;
  };
  const std::vector<uint32_t> own = numbers(plain_version(version));
  named = !own.empty();
  const VersionDefinitions *latest = nullptr, *earliest = nullptr, *below = nullptr;
  std::vector<uint32_t> latest_n, earliest_n, below_n;
  for (const VersionDefinitions &v : definitions.versions()) {
    const std::vector<uint32_t> n = numbers(v.name);
    if (!latest || n > latest_n)
      latest = &v, latest_n = n;
    if (!earliest || n < earliest_n)
      earliest = &v, earliest_n = n;
    if (named && n <= own && (!below || n > below_n))
      below = &v, below_n = n;
  }
  return !named ? latest : below ? below : earliest;
}

} // namespace

namespace {

// The buffer this thread's conversions write their text in, kept from one
// conversion to the next (a fresh one of this size is a trip through the
// allocator's bins at every call, and its pages new). Held through a
// pointer: the writer's code then takes the buffer as any other, not as a
// thread's variable found anew at every piece.
Out &thread_text() {
  static thread_local std::unique_ptr<Out> kept;
  if (!kept)
    kept = std::make_unique<Out>(0);
  return *kept;
}

// Frees the buffer once its text is taken when it grew past kept_bytes, so
// what a thread keeps is bounded.
void release_text() { thread_text().release_above(kept_bytes); }

// The text of a conversion into `out` (its entries and what was not
// mapped), `bundle` as convert() takes it. The text is written in this
// thread's buffer and returned as a view of it, which lives until the next
// conversion in this thread or release_text(); convert() copies it out,
// convert_each() hands it over as it stands.
bool names_in_lower_case(const MessageKind &kind) {
  auto lower = [](std::string_view text) {
    return std::ranges::any_of(text, [](char c) { return c >= 'a' && c <= 'z'; });
  };
  return lower(kind.type) || lower(kind.event) || lower(kind.structure_name);
}

// MSH-9 sent in lower case ("oru^r01", "adt^a08^adt_a01"), as some senders
// send it, names the type, event and structure the tables and the
// definitions name in upper case: `kind`'s read so, its structure found
// again (find_structure(), as message_kind() finds it). Only the converter reads it so: the
// message's own structure() is its MSH-9 as sent. (Out of line: rare.)
[[gnu::noinline, gnu::cold]] void read_kind_in_upper_case(const Message &message,
                                                          MessageKind &kind) {
  std::string named; // MSH-9.3, the structure the sender names
  if (const Result<FieldView> f = header_field(message, 9)) {
    int n = 0;
    f.value().for_each_component([&](const ComponentView &c) {
      if (++n == 3)
        named = ascii_upper(c.text);
      return n < 3;
    });
  }
  kind.type = ascii_upper(kind.type);
  kind.event = ascii_upper(kind.event);
  find_structure(kind, named);
}

std::string_view write_conversion(const Maps &maps, const Definitions &definitions,
                                  const Message &message, const Options &options, bool bundle,
                                  Conversion &out);

// A message whose MSH-9.3 names another structure than its event's
// ("ORU^R01^ADT_A17") is mapped by its event's table (maps.table(): ORU_R01,
// named `table`), and its groups are read by that structure too, the one
// the table's rows name groups of: read by ADT_A17's, an ORU's results
// stood in no order and no report held them. MSH-9.3 is reported
// ("MSH-9 'ADT_A17' (read as ORU_R01)"). A structure named that the event's
// table is not found for (ORU^R30: ORU_R01's table, ORU_R30's groups) is
// read as it is. (Out of line: rare.)
[[gnu::noinline, gnu::cold]] void read_by_event(std::string_view table, MessageKind &kind,
                                                Conversion &out) {
  MessageKind by_event = kind;
  find_structure(by_event, {});
  if (by_event.structure == nullptr || by_event.structure_name != table)
    return;
  out.unmapped.push_back("MSH-9 '" + kind.structure_name + "' (read as " + by_event.structure_name + ")");
  kind = std::move(by_event);
}

} // namespace

uint32_t second_header(const Message &message) {
  for (uint32_t i = 1; i < message.segment_count(); ++i)
    if (opens_message(message.segment_at(i).name)) // as the cutter cuts
      return i;
  return 0;
}

void convert_in_place(const Maps &maps, const Definitions &definitions, const Message &message,
                      const Options &options, bool bundle,
                      const std::function<void(Conversion &, std::string_view)> &done) {
  struct Release { // also when `done` throws
    ~Release() { release_text(); }
  } release;
  Conversion out;
  const std::string_view text = write_conversion(maps, definitions, message, options, bundle, out);
  done(out, text);
}

Conversion convert(const Maps &maps, const Definitions &definitions, const Message &message,
                   const Options &options, bool bundle) {
  Conversion out;
  convert_in_place(maps, definitions, message, options, bundle,
                   [&](Conversion &c, std::string_view text) {
                     out = std::move(c);
                     (bundle ? out.bundle : out.resources) = text;
                   });
  return out;
}

void convert_each(const Maps &maps, const Definitions &definitions, const Message &message,
                  const Options &options,
                  const std::function<void(const ResourceText &, std::string_view)> &each,
                  std::vector<std::string> *unmapped) {
  convert_in_place(maps, definitions, message, options, false,
                   [&](Conversion &c, std::string_view text) {
                     for (const ResourceText &entry : c.entries)
                       each(entry, text.substr(entry.offset, entry.size));
                     if (unmapped)
                       *unmapped = std::move(c.unmapped);
                   });
}

std::string unmapped_kind(std::string_view report) {
  // (the value stands between the first " '" and the last "'": a value may
  // hold quotes of its own, "O'Brien", and the text after it holds none)
  const size_t open = report.find(" '"), close = report.rfind('\'');
  if (open == std::string_view::npos || close < open + 2)
    return std::string(report);
  std::string kind(report.substr(0, open));
  kind.append(report.substr(close + 1));
  return kind;
}

namespace {

std::string_view write_conversion(const Maps &maps, const Definitions &definitions,
                                  const Message &message, const Options &options, bool bundle,
                                  Conversion &out) {
  MessageKind kind = message_kind(definitions, message, {});
  // a message of a version the definitions do not hold is read by one they
  // do, and the caller told which: without one it would stand in no group
  // (an ORU's results in no report)
  SegmentView header;
  // the version the rows' tests read, where not MSH-12-1 as sent (a version
  // spelled otherwise, "V2.4", is read as the one it names)
  std::string read_as = kind.respelled ? kind.version : std::string();
  bool named = false, stood_in = false;
  if (!kind.definitions && message.find_segment("MSH", header))
    if (const VersionDefinitions *v = stand_in_version(definitions, kind.version, named)) {
      stood_in = true;
      out.unmapped.push_back("MSH-12" +
                             (kind.version.empty() ? std::string() : " '" + kind.version + "'") +
                             " (read as " + v->name + ")");
      kind = message_kind(definitions, message, v->name);
      // a version named (2.9's ORC-4 is an EIP, as 2.8.2's is); one that
      // names none is read by no row's version as sent (an ORC-4 of an
      // older sender, an EI, stays one)
      if (named)
        read_as = v->name;
    }
  const bool lower_case = names_in_lower_case(kind);
  if (lower_case) [[unlikely]]
    read_kind_in_upper_case(message, kind);
  const Structure *structure = maps.table(kind.type, kind.event, kind.structure_name);
  if (!structure)
    structure = &maps.fallback;
  else if (structure->name != kind.structure_name) [[unlikely]]
    read_by_event(structure->name, kind, out);
  const MessageStructure s = match_structure(message, kind);
  Engine e(maps, message, options, out);
  HeaderTexts &texts = thread_header_texts();
  std::string &scratch = texts.scratch;
  texts.control_id.clear();
  append_header_value(message, 10, scratch, texts.control_id);
  const std::string_view control_id = texts.control_id;
  message_name(message, control_id, scratch, texts.name);
  const std::string_view name = texts.name;
  e.set_message_id(name);
  e.set_bundle(bundle);
  if (lower_case) [[unlikely]]
    e.set_kind_in_upper_case();
  if (structure == &maps.fallback)
    e.set_type(kind.type);
  e.set_definitions(definitions, kind.definitions);
  if (stood_in) [[unlikely]]
    e.set_stand_in_version();
  if (!read_as.empty()) [[unlikely]]
    e.set_version(read_as);
  e.run(*structure, s);
  e.finish();

  out.entries.reserve(e.resources.size());
  // The resources' JSON takes at most write_bound(); a bundle is written
  // around them as they are written (its text is theirs), in about 200
  // bytes an entry (fullUrl, a transaction's request).
  Out &text = thread_text();
  text.clear();
  // Whether the text is ASCII, known from what it is written from: the
  // values (all, written or not), the names and resources' types (known at
  // load) and the header's texts; all else is ASCII as made (ids, base64,
  // percent-encoding, the writer's escapes).
  bool ascii = maps.ascii_names && all_ascii(e.values()) && all_ascii(control_id);
  const size_t bound = e.write_bound();
  size_t written = 0; // by write_node(), of `bound`
  text.reserve(bound + 1024 + (bundle ? 200 * e.resources.size() : 0));
  if (bundle) {
    text.put("{\"resourceType\":\"Bundle\",\"id\":\""sv);
    char id[36];
    // named as the message's own resources are (message_name()): two
    // senders' "MSG001" are two bundles
    texts.key.assign("Bundle|m="sv).append(name);
    uuid5(texts.key, id);
    text.put(std::string_view(id, sizeof id));
    text.put("\",\"type\":\""sv);
    text.put(options.type == BundleType::message       ? "message"sv
             : options.type == BundleType::transaction ? "transaction"sv
                                                        : "collection"sv);
    text.put('"');
    // the tables' MSH[Bundle]: MSH-10 its identifier (the system is the
    // implementer's to choose: none), MSH-7 its timestamp
    if (!control_id.empty()) {
      text.put(",\"identifier\":{\"value\":"sv);
      text.reserve(json_string_bound(control_id.size()));
      text.set_end(write_json_string(text.end(), control_id));
      text.put('}');
    }
    std::string &sent = texts.sent, &time = texts.time;
    if (bundle_time(message, maps, scratch, sent, time)) {
      ascii = ascii && all_ascii(time);
      text.put(",\"timestamp\":\""sv);
      text.put(time);
      text.put('"');
    }
    text.put(",\"entry\":["sv);
  }
  // MessageHeader first: a message bundle begins with it
  for (int pass = 0; pass < 2; ++pass)
    for (const Resource &r : e.resources) {
      if (r.dropped || (r.type == "MessageHeader") != (pass == 0))
        continue;
      if (bundle) {
        if (!out.entries.empty())
          text.put(',');
        text.put("{\"fullUrl\":\"urn:uuid:"sv);
        text.put(r.id());
        text.put("\",\"resource\":"sv);
      }
      // a conditional update's resource goes without its id: the server
      // updates the one it matches under that one's id (an id of ours beside
      // it would be refused where it names another) or makes it under a new
      // one, and the entry's references to its fullUrl follow
      std::string_view system, value;
      if (bundle && options.type == BundleType::transaction)
        condition_of(r, e, system, value);
      const size_t offset = text.size();
      text.reserve(bound - written); // room for what write_node() writes
      text.set_end(e.write_resource(text.end(), r, value.empty()));
      ResourceText &entry = out.entries.emplace_back();
      entry.type = r.type;
      std::memcpy(entry.id, r.id_text, sizeof entry.id);
      entry.offset = offset;
      entry.size = text.size() - offset;
      written += entry.size;
      if (bundle) {
        if (options.type == BundleType::transaction)
          append_request(text, r, system, value);
        text.put('}');
      }
    }
  if (bundle)
    text.put("]}"sv);
  out.ascii = ascii;
  return text.view();
}

} // namespace

} // namespace vellomar::fhir
