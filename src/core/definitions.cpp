#include "definitions.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <type_traits>

namespace vellomar {
namespace {

// The space-separated words of a line.
std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  while (!line.empty()) {
    const size_t end = std::min(line.find(' '), line.size());
    if (end)
      out.push_back(line.substr(0, end));
    line.remove_prefix(std::min(end + 1, line.size()));
  }
  return out;
}

// The slots of a hash table of `count` keys (a power of two, at least twice
// the keys) and the shift that takes a 64-bit hash to a slot.
size_t hash_slots(size_t count, unsigned &shift) {
  const size_t slots = std::bit_ceil(std::max<size_t>(2, 2 * count));
  shift = static_cast<unsigned>(64 - std::countr_zero(slots));
  return slots;
}

bool read_number(std::string_view text, uint32_t &out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits the cardinality suffix off `token` ("NTE*", "XPN+", "OBX{0,3}").
bool read_cardinality(std::string_view &token, Cardinality &out) {
  if (token.empty())
    return false;
  switch (token.back()) {
  case '?': out = {0, 1}; token.remove_suffix(1); return true;
  case '*': out = {0, 0}; token.remove_suffix(1); return true;
  case '+': out = {1, 0}; token.remove_suffix(1); return true;
  case '}': {
    size_t open = token.rfind('{');
    size_t comma = token.rfind(',');
    if (open == std::string_view::npos || comma == std::string_view::npos || comma < open)
      return false;
    if (!read_number(token.substr(open + 1, comma - open - 1), out.min) ||
        !read_number(token.substr(comma + 1, token.size() - comma - 2), out.max))
      return false;
    token = token.substr(0, open);
    return true;
  }
  default: out = {1, 1}; return true;
  }
}

template <class T> void put(std::vector<T> &by_number, uint16_t number, std::type_identity_t<T> value) {
  if (by_number.size() <= number)
    by_number.resize(number + 1u);
  by_number[number] = value;
}

Primitive primitive_of(std::string_view type) {
  static constexpr std::pair<std::string_view, Primitive> known[] = {
      {"NM", Primitive::nm}, {"SI", Primitive::si},   {"DT", Primitive::dt},
      {"TM", Primitive::tm}, {"DTM", Primitive::dtm}, {"ID", Primitive::id},
      {"IS", Primitive::is}, {"TS", Primitive::ts}};
  for (const auto &[name, kind] : known)
    if (name == type)
      return kind;
  return Primitive::other;
}

// A table value: %XX stands for the byte XX (a space, %, or one outside
// printable ASCII); a malformed escape is kept as written.
std::string unquote(std::string_view word) {
  std::string out;
  for (size_t i = 0; i < word.size(); ++i) {
    unsigned byte = 0;
    if (word[i] == '%' && i + 3 <= word.size() &&
        std::from_chars(word.data() + i + 1, word.data() + i + 3, byte, 16).ptr == word.data() + i + 3) {
      out.push_back(static_cast<char>(byte));
      i += 2;
    } else {
      out.push_back(word[i]);
    }
  }
  return out;
}

// The text of a line after its word `last` (names hold spaces).
std::string_view rest_of(std::string_view line, std::string_view last) {
  const size_t end = static_cast<size_t>(last.data() + last.size() - line.data());
  return line.substr(std::min(end + 1, line.size()));
}

// Calls f with each "|"-separated part of `text`.
template <class F> void split_names(std::string_view text, F &&f) {
  size_t at = 0;
  for (;;) {
    const size_t bar = text.find('|', at);
    f(text.substr(at, bar == std::string_view::npos ? std::string_view::npos : bar - at));
    if (bar == std::string_view::npos)
      return;
    at = bar + 1;
  }
}

// Case is folded in ASCII only, as the "C" locale does.
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

void CodeTable::add(std::string_view value) {
  // a placeholder ("<integer>"; "<" and ">" alone are table 0078's codes)
  const size_t open = value.find('<'),
               close = open == std::string_view::npos ? open : value.find('>', open);
  templated_ = templated_ || (close != std::string_view::npos && close > open + 1);
  if (value.starts_with('~')) {
    // The head is the pattern up to its first placeholder.
    const std::string_view text = value.substr(1);
    size_t head = 1;
    while (head < text.size() && !(text[head] >= 'a' && text[head] <= 'z') && text[head] != '*')
      ++head;
    head = std::min(head, text.size());
    Pattern &p = patterns_.emplace_back();
    for (char c : text.substr(0, head))
      p.head.push_back(upper(c));
    p.tail = text.substr(head);
    p.any_rest = p.tail == "*";
    auto starts = [&](char c) {
      const auto byte = static_cast<unsigned char>(c);
      pattern_starts_[byte >> 6] |= uint64_t{1} << (byte & 63);
    };
    if (p.head.empty()) // "~" alone: any first byte
      for (uint64_t &bits : pattern_starts_)
        bits = ~uint64_t{0};
    else if (p.head[0] >= 'A' && p.head[0] <= 'Z') // upper-cased: either case
      starts(p.head[0]), starts(static_cast<char>(p.head[0] - 'A' + 'a'));
    else
      starts(p.head[0]);
  } else if (value.size() <= 7) {
    codes_.push_back(value.empty() ? 0 : short_code(value)); // "" packs to 0, the empty slot
  } else {
    long_values_.emplace_back(value);
  }
}

void CodeTable::finish() {
  std::sort(long_values_.begin(), long_values_.end());
  short_patterns_.clear();
  for (const Pattern &p : patterns_) {
    const size_t fixed = p.head.size() + (p.any_rest ? 0 : p.tail.size());
    if (fixed > 7 || (!p.any_rest && fixed == 0)) // matches no value of 1 to 7 bytes
      continue;
    ShortPattern &s = short_patterns_.emplace_back();
    s.min_length = static_cast<uint8_t>(std::max<size_t>(fixed, 1));
    s.max_length = p.any_rest ? 7 : static_cast<uint8_t>(fixed);
    auto fix = [&](size_t i, unsigned char c, uint64_t bits) {
      s.mask |= bits << (48 - 8 * i);
      s.want |= uint64_t{c} << (48 - 8 * i);
    };
    for (size_t i = 0; i < p.head.size(); ++i) {
      const auto c = static_cast<unsigned char>(p.head[i]);
      fix(i, c, c >= 'A' && c <= 'Z' ? 0xDF : 0xFF); // a letter in either case
    }
    for (size_t i = 0; !p.any_rest && i < p.tail.size(); ++i) {
      const char want = p.tail[i];
      const size_t at = p.head.size() + i;
      if (want == 'n')
        s.digits |= static_cast<uint8_t>(1u << at);
      else if (want == 'z' || want == 'x' || want == 's')
        s.alnums |= static_cast<uint8_t>(1u << at);
      else
        fix(at, static_cast<unsigned char>(want), 0xFF);
    }
  }
  std::vector<uint64_t> codes = std::move(codes_);
  const size_t size = hash_slots(codes.size(), shift_);
  codes_.assign(size, 0);
  for (uint64_t code : codes) {
    if (code == 0) {
      empty_value_ = true;
      continue;
    }
    size_t i = slot(code);
    while (codes_[i] != 0 && codes_[i] != code)
      i = (i + 1) & (size - 1);
    codes_[i] = code;
  }
}

bool CodeTable::contains_other(std::string_view value) const {
  const bool found = value.empty() ? empty_value_
                                   : std::binary_search(long_values_.begin(), long_values_.end(), value);
  return found || matches_pattern(value);
}

bool CodeTable::matches_pattern(std::string_view value) const {
  // A pattern whose head begins with another byte is passed without a call.
  const char first = value.empty() ? '\0' : upper(value[0]);
  return std::any_of(patterns_.begin(), patterns_.end(), [&](const Pattern &p) {
    return (value.empty() || p.head.empty() || p.head[0] == first) && p.matches(value);
  });
}

bool CodeTable::matches_short(uint64_t code) const {
  const auto n = static_cast<uint8_t>(code >> 56);
  auto byte = [&](unsigned i) { return static_cast<unsigned char>(code >> (48 - 8 * i)); };
  auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  for (const ShortPattern &p : short_patterns_) {
    if (n < p.min_length || n > p.max_length || (code & p.mask) != p.want)
      continue;
    bool good = true;
    for (unsigned bits = p.digits; good && bits; bits &= bits - 1)
      good = digit(byte(__builtin_ctz(bits)));
    for (unsigned bits = p.alnums; good && bits; bits &= bits - 1) {
      const unsigned char c = byte(__builtin_ctz(bits));
      good = digit(c) || ((c & 0xDF) >= 'A' && (c & 0xDF) <= 'Z');
    }
    if (good)
      return true;
  }
  return false;
}

bool CodeTable::Pattern::matches(std::string_view value) const {
  // The lengths first: most values tried against a pattern fail there.
  if (any_rest ? value.size() < head.size() : value.size() != head.size() + tail.size())
    return false;
  for (size_t i = 0; i < head.size(); ++i)
    if (upper(value[i]) != head[i])
      return false;
  if (any_rest)
    return true;
  std::string_view rest = value.substr(head.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    const char c = rest[i], want = tail[i];
    const bool digit = c >= '0' && c <= '9';
    if (want == 'n' ? !digit
        : want == 'z' || want == 'x' || want == 's' ? !digit && !(upper(c) >= 'A' && upper(c) <= 'Z')
                                                    : c != want)
      return false;
  }
  return true;
}

ElementInfo VersionDefinitions::element(std::string_view segment, size_t depth,
                                        const uint64_t *index, uint16_t field_type) const {
  ElementInfo out;
  const uint32_t key = segment_key(segment);
  auto named = segment_names.find(key);
  const Names *names = named == segment_names.end() ? nullptr : named->second;
  auto name_at = [](const Names *list, uint64_t i) {
    return list && i < list->size() ? std::string_view((*list)[i]) : std::string_view{};
  };
  if (depth == 0) {
    out.name = name_at(names, 0);
    return out;
  }
  const std::vector<FieldDef> *fields = this->segment(segment);
  if (!fields || index[0] == 0 || index[0] > fields->size())
    return out;
  const FieldDef &field = (*fields)[index[0] - 1];
  out.name = name_at(names, index[0]);
  out.type = field_type ? field_type : field.type.type;
  out.table = field_type ? 0 : field.type.table;
  // Each level down: the component of the composite, or the primitive itself
  // as its own first component.
  for (size_t level = 1; level < depth; ++level) {
    const uint64_t i = index[level];
    const std::vector<TypeRef> *parts = at(composites, out.type);
    if (!parts) {
      if (i != 1)
        return {};
      continue;
    }
    if (i == 0 || i > parts->size())
      return {};
    out.name = name_at(at(composite_names, out.type), i);
    out.type = (*parts)[i - 1].type;
    out.table = (*parts)[i - 1].table;
  }
  return out;
}

const WalkStep WalkStep::later{};

void WalkStep::alone(const ValueCheck &v) {
  // Its components and sub-components are not cut: the value goes on, and
  // is looked at when it ends.
  part = value = &v;
  gate[0] = static_cast<int64_t>(v.quiet);
  next[0] = this;
  gate[1] = gate[2] = -1;
  next[1] = next[2] = this;
  component = sub = 1;
}

namespace {

// The places of the walk over a value of a composite whose parts are
// `parts` (the last standing for those past the type's own), into `steps`:
// one for each part, or for each of its sub-components when it has them,
// the first part's first. A repetition leads back to the first; a
// component to the next part's first place; a sub-component to the next
// sub-component's, or, in a part without them, nowhere (not cut).
const std::vector<WalkStep> &compile_walk(const std::vector<ValueCheck> &parts,
                                          std::vector<WalkStep> &steps) {
  std::vector<size_t> first(parts.size());
  size_t n = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    first[i] = n;
    n += parts[i].first ? parts[i].parts->size() : 1;
  }
  steps.resize(n); // the size it keeps: the places point at each other
  for (size_t i = 0; i < parts.size(); ++i) {
    const ValueCheck &part = parts[i];
    const size_t values = part.first ? part.parts->size() : 1;
    const size_t next_part = static_cast<size_t>(part.next - parts.data());
    for (size_t j = 0; j < values; ++j) {
      WalkStep &step = steps[first[i] + j];
      const ValueCheck &value = part.first ? part.first[j] : part;
      step.part = &part;
      step.value = &value;
      step.component = part.beyond ? 0 : static_cast<uint32_t>(i + 1);
      step.sub = value.beyond && part.first ? 0 : static_cast<uint32_t>(j + 1);
      const auto quiet = static_cast<int64_t>(value.quiet);
      step.gate[0] = step.gate[1] = quiet;
      step.next[0] = &steps[0];
      step.next[1] = &steps[first[next_part]];
      if (part.first) {
        step.gate[2] = quiet;
        step.next[2] = &steps[first[i] + static_cast<size_t>(value.next - part.first)];
      } else {
        step.gate[2] = -1;
        step.next[2] = &step;
      }
    }
  }
  return steps;
}

std::string_view name_at(const Names *names, size_t i) {
  return names && i < names->size() ? std::string_view((*names)[i]) : std::string_view{};
}

} // namespace

const VersionDefinitions::Checks &VersionDefinitions::checks(const Definitions &defs) const {
  if (const Checks *ready = compiled_->ready.load(std::memory_order_acquire))
    return *ready;
  std::call_once(compiled_->once, [&] {
    auto out = std::make_unique<Checks>();
    out->by_type.assign(composites.size(), nullptr);
    std::vector<std::vector<ValueCheck> *> parts_of(composites.size(), nullptr);
    for (size_t t = 0; t < composites.size(); ++t)
      if (composites[t]) {
        out->by_type[t] = parts_of[t] = &out->composites.emplace_back();
        parts_of[t]->reserve(composites[t]->size() + 1); // their addresses are kept from here on
      }
    out->open_types[0] = defs.type_number_of("varies");
    out->open_types[1] = defs.type_number_of("-");
    out->open_types[2] = defs.type_number_of("WD");
    const uint16_t out_varies = out->open_types[0];
    checks_ = std::move(out);
    // The time stamp of a TS is a DTM whatever type a version gives its
    // first component (when that component is cut no further).
    const uint16_t dtm = defs.type_number_of("DTM");
    for (size_t t = 0; t < composites.size(); ++t) {
      if (!composites[t])
        continue;
      const Names *names = at(composite_names, static_cast<uint16_t>(t));
      const std::vector<TypeRef> &components = *composites[t];
      std::vector<ValueCheck> &parts = *parts_of[t];
      for (size_t i = 0; i < components.size(); ++i) {
        ValueCheck &check = parts.emplace_back(make_check(defs, components[i], name_at(names, i + 1)));
        if (i == 0 && defs.primitive(static_cast<uint16_t>(t)) == Primitive::ts) {
          ValueCheck stamp = make_check(defs, {dtm, 0}, check.name);
          stamp.parts = check.parts;
          stamp.first = check.first;
          stamp.count = check.count;
          stamp.composite = check.composite;
          check = stamp;
        }
      }
      ValueCheck &beyond = parts.emplace_back();
      beyond.beyond = true;
      for (size_t i = 0; i + 1 < parts.size(); ++i)
        parts[i].next = &parts[i + 1];
      beyond.next = &beyond;
      for (ValueCheck &part : parts)
        part.settle();
    }
    // The places of each composite's walk, once every type's parts are made.
    checks_->walk_by_type.assign(composites.size(), nullptr);
    for (size_t t = 0; t < composites.size(); ++t)
      if (parts_of[t])
        checks_->walk_by_type[t] = compile_walk(*parts_of[t], checks_->walks.emplace_back()).data();
    const size_t slots = hash_slots(segments.size(), checks_->shift);
    checks_->segment_slots.assign(slots, {0, nullptr});
    for (const auto &[key, fields] : segments) {
      auto named = segment_names.find(key);
      const Names *names = named == segment_names.end() ? nullptr : named->second;
      SegmentChecks &segment = checks_->segments.emplace_back();
      segment.fields.reserve(fields->size());
      for (size_t f = 0; f < fields->size(); ++f) {
        const FieldDef &def = (*fields)[f];
        FieldCheck &field = segment.fields.emplace_back(FieldCheck{
            make_check(defs, def.type, name_at(names, f + 1)), def.cardinality,
            def.cardinality.max ? def.cardinality.max : UINT32_MAX});
        field.value.settle();
        if (def.cardinality.min > 0)
          segment.required_end = f + 1;
        field.observation = key == segment_key("OBX") && f == 4 && def.type.type == out_varies;
        field.own.alone(field.value);
        field.walk = field.observation ? &WalkStep::later : field.value.walk ? field.value.walk : &field.own;
      }
      size_t i = checks_->slot(key);
      while (checks_->segment_slots[i].first != 0)
        i = (i + 1) & (slots - 1);
      checks_->segment_slots[i] = {key, &segment};
    }
    compiled_->ready.store(checks_.get(), std::memory_order_release);
  });
  return *checks_;
}

const SegmentChecks *VersionDefinitions::field_checks(const Definitions &defs,
                                                      std::string_view id) const {
  const Checks &c = checks(defs);
  const uint32_t key = segment_key(id);
  if (key == 0)
    return nullptr;
  for (size_t i = c.slot(key);; i = (i + 1) & (c.segment_slots.size() - 1)) {
    const auto &[held, segment] = c.segment_slots[i];
    if (held == key || held == 0)
      return segment;
  }
}

ValueCheck VersionDefinitions::value_check(const Definitions &defs, uint16_t type,
                                           std::string_view element) const {
  checks(defs);
  return make_check(defs, {type, 0}, element);
}

ValueCheck VersionDefinitions::make_check(const Definitions &defs, TypeRef ref,
                                          std::string_view element) const {
  const uint16_t type = ref.type;
  ValueCheck out;
  out.parts = at(checks_->by_type, type);
  if (out.parts) {
    out.first = out.parts->data();
    out.count = static_cast<uint16_t>(composites[type]->size());
  }
  out.name = element;
  out.limit = at(lengths, type);
  out.walk = at(checks_->walk_by_type, type);
  out.type = out.composite = type;
  out.table = ref.table;
  out.kind = defs.primitive(type);
  const uint16_t *open = checks_->open_types;
  out.open = type == open[0] || type == open[1] || type == open[2];
  if (out.kind == Primitive::id || out.kind == Primitive::is)
    out.values = at(tables, ref.table);
  out.reads = out.kind == Primitive::nm || out.kind == Primitive::si || out.kind == Primitive::dt ||
              out.kind == Primitive::tm || out.kind == Primitive::dtm || out.values;
  out.quiet = out.reads ? 0 : out.limit ? out.limit : UINT32_MAX;
  return out;
}

const std::string *VersionDefinitions::meaning(uint16_t table, std::string_view value) const {
  const Meanings *meanings = at(table_meanings, table);
  const CodeTable *values = at(tables, table);
  if (!meanings || !values || !values->contains(value)) // meanings are shared by versions
    return nullptr;
  auto it = meanings->find(value);
  return it == meanings->end() ? nullptr : &it->second;
}

void GroupDef::finish() {
  for (const StructureElement &child : children) {
    if (child.group)
      starts.insert(starts.end(), child.group->starts.begin(), child.group->starts.end());
    else
      starts.push_back(child.name);
    if (child.cardinality.min > 0)
      break;
  }
  std::vector<uint32_t> first(children.size() + 1);
  for (uint32_t i = 0; i < children.size(); ++i) {
    first[i] = static_cast<uint32_t>(entries.size());
    const StructureElement &child = children[i];
    auto add = [&](std::string_view segment) {
      entries.push_back({segment_code(segment), i});
      entry_names.push_back(segment);
    };
    if (child.group)
      for (const std::string &start : child.group->starts)
        add(start);
    else
      add(child.name);
  }
  first[children.size()] = static_cast<uint32_t>(entries.size());
  widest = static_cast<uint32_t>(children.size());
  depth = 1;
  required_before.assign(children.size() + 1, 0);
  for (size_t i = 0; i < children.size(); ++i) {
    required_before[i + 1] = required_before[i] + (children[i].cardinality.min > 0);
    const GroupDef *group = children[i].group;
    places.push_back({group, children[i].cardinality.max != 1 ? first[i] : first[i + 1]});
    if (group) {
      widest = std::max(widest, group->widest);
      depth = std::max(depth, group->depth + 1);
    }
  }
}

void VersionDefinitions::index_structures() {
  size_t size = 2;
  while (size < 2 * structures.size())
    size *= 2;
  structure_shift_ = static_cast<unsigned>(64 - std::countr_zero(size));
  structure_slots_.assign(size, {0, nullptr});
  for (const auto &[id, root] : structures) {
    if (!has_short_code(id))
      continue;
    const uint64_t code = short_code(id);
    size_t i = structure_slot(code);
    while (structure_slots_[i].first != 0)
      i = (i + 1) & (size - 1);
    structure_slots_[i] = {code, root};
  }
}

const GroupDef *VersionDefinitions::structure_of(std::string_view type, std::string_view event,
                                                 std::string_view named,
                                                 std::string &structure_name) const {
  if (const GroupDef *root = named.empty() ? nullptr : structure(named)) {
    structure_name = named;
    return root;
  }
  structure_name.assign(type).append("_").append(event);
  if (const GroupDef *own = structure(structure_name))
    return own;
  auto shared = shared_events.find(structure_name);
  if (shared == shared_events.end())
    return nullptr;
  structure_name = shared->second;
  return structure(structure_name);
}

uint16_t Definitions::type_number(std::string_view name) {
  auto [it, added] = type_numbers_.try_emplace(std::string(name), type_names_.size());
  if (added) {
    type_names_.emplace_back(name);
    primitives_.push_back(primitive_of(name));
  }
  return it->second;
}

uint16_t Definitions::table_number(std::string_view name) {
  if (name.empty())
    return 0;
  auto [it, added] = table_numbers_.try_emplace(std::string(name), table_names_.size());
  if (added)
    table_names_.emplace_back(name);
  return it->second;
}

TypeRef Definitions::read_type(std::string_view token) {
  size_t colon = token.find(':');
  if (colon == std::string_view::npos)
    return {type_number(token), 0};
  return {type_number(token.substr(0, colon)), table_number(token.substr(colon + 1))};
}

const VersionDefinitions *Definitions::version(std::string_view name) const {
  if (has_short_code(name)) { // every HL7 version: compared as one integer each
    const uint64_t code = short_code(name);
    for (size_t i = 0; i < version_codes_.size(); ++i)
      if (version_codes_[i] == code)
        return &versions_[i];
    return nullptr;
  }
  for (const VersionDefinitions &v : versions_)
    if (v.name == name)
      return &v;
  return nullptr;
}

const VersionDefinitions &Definitions::values_version(const VersionDefinitions &v) const {
  auto has_values = [](const VersionDefinitions &w) {
    return std::any_of(w.tables.begin(), w.tables.end(), [](const CodeTable *t) { return t; });
  };
  if (has_values(v))
    return v;
  for (const VersionDefinitions &w : versions_) {
    if (&w == &v) // reached before any version with values: older than all of them
      break;
    if (has_values(w))
      return v; // a version with values before it: it is not older
  }
  for (const VersionDefinitions &w : versions_)
    if (has_values(w))
      return w;
  return v;
}

Result<Definitions> Definitions::parse(std::string_view text) {
  Definitions defs;
  size_t line_number = 0;
  auto fail = [&](std::string_view reason) {
    return Error{ErrorKind::value_error,
                 "Definitions line " + std::to_string(line_number) + ": " + std::string(reason)};
  };
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++line_number;
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string_view> w = words(line);
    if (w.empty())
      continue;
    if (w[0] == "V") {
      for (size_t i = 1; i < w.size(); ++i) {
        defs.versions_.emplace_back().name = w[i];
        defs.version_codes_.push_back(has_short_code(w[i]) ? short_code(w[i]) : 0);
      }
      defs.type_number("DTM"); // the time stamp of TS, whatever a version calls it
      continue;
    }
    uint64_t mask = 0;
    if (w.size() < 3 || w[0].size() != 1 ||
        std::from_chars(w[1].data(), w[1].data() + w[1].size(), mask, 16).ec != std::errc())
      return fail("expected a kind, a version mask and a name");
    if (static_cast<size_t>(std::bit_width(mask)) > defs.versions_.size())
      return fail("version mask past the versions");
    const std::string name(w[2]);
    auto each_version = [&](auto &&f) {
      for (uint64_t bits = mask; bits; bits &= bits - 1)
        f(defs.versions_[static_cast<size_t>(std::countr_zero(bits))]);
    };
    switch (w[0][0]) {
    case 'L': // name is the first type: the words are pairs
      for (size_t i = 2; i + 1 < w.size(); i += 2) {
        uint32_t length = 0;
        if (!read_number(w[i + 1], length))
          return fail("bad length");
        const uint16_t type = defs.type_number(w[i]);
        each_version([&](VersionDefinitions &v) { put(v.lengths, type, length); });
      }
      break;
    case 'M': {
      // Groups open with "[NAME" and close with "]card"; the root is the
      // structure itself.
      std::vector<GroupDef *> open;
      GroupDef &root = defs.groups_.emplace_back();
      root.name = name;
      open.push_back(&root);
      for (size_t i = 3; i < w.size(); ++i) {
        std::string_view token = w[i];
        if (token[0] == '[') {
          GroupDef &group = defs.groups_.emplace_back();
          group.name = token.substr(1);
          open.push_back(&group);
          continue;
        }
        Cardinality cardinality;
        if (token[0] == ']') {
          token.remove_prefix(1);
          if (open.size() < 2 || (!token.empty() && !read_cardinality(token, cardinality)) ||
              !token.empty())
            return fail("bad group end");
          GroupDef *group = open.back();
          open.pop_back();
          group->finish();
          open.back()->children.push_back({group->name, cardinality, group});
          continue;
        }
        if (!read_cardinality(token, cardinality))
          return fail("bad cardinality");
        open.back()->children.push_back({std::string(token), cardinality, nullptr});
      }
      if (open.size() != 1)
        return fail("unclosed group");
      root.finish();
      each_version([&](VersionDefinitions &v) { v.structures[name] = &root; });
      break;
    }
    case 'E':
      if (w.size() != 4)
        return fail("expected an event and its structure");
      each_version([&](VersionDefinitions &v) { v.shared_events[name] = std::string(w[3]); });
      break;
    case 'S': {
      std::vector<FieldDef> &fields = defs.segments_.emplace_back();
      for (size_t i = 3; i < w.size(); ++i) {
        std::string_view token = w[i];
        FieldDef field;
        if (!read_cardinality(token, field.cardinality))
          return fail("bad cardinality");
        field.type = defs.read_type(token);
        fields.push_back(std::move(field));
      }
      each_version([&](VersionDefinitions &v) {
        v.segments[VersionDefinitions::segment_key(name)] = &fields;
      });
      break;
    }
    case 'D': {
      std::vector<TypeRef> &components = defs.composites_.emplace_back();
      for (size_t i = 3; i < w.size(); ++i)
        components.push_back(defs.read_type(w[i]));
      const uint16_t type = defs.type_number(name);
      each_version([&](VersionDefinitions &v) { put(v.composites, type, &components); });
      break;
    }
    case 'T': {
      CodeTable &values = defs.tables_.emplace_back();
      for (size_t i = 3; i < w.size(); ++i)
        values.add(unquote(w[i]));
      values.finish();
      const uint16_t table = defs.table_number(name);
      each_version([&](VersionDefinitions &v) { put(v.tables, table, &values); });
      break;
    }
    case 'F':
    case 'C': {
      Names &names = defs.names_.emplace_back();
      split_names(rest_of(line, w[2]), [&](std::string_view part) { names.push_back(unquote(part)); });
      if (w[0][0] == 'F')
        each_version([&](VersionDefinitions &v) {
          v.segment_names[VersionDefinitions::segment_key(name)] = &names;
        });
      else {
        const uint16_t type = defs.type_number(name);
        each_version([&](VersionDefinitions &v) { put(v.composite_names, type, &names); });
      }
      break;
    }
    case 'W': {
      std::string &title = defs.titles_.emplace_back(unquote(rest_of(line, w[2])));
      const uint16_t table = defs.table_number(name);
      each_version([&](VersionDefinitions &v) { put(v.table_titles, table, &title); });
      break;
    }
    case 'Y': {
      Meanings &meanings = defs.meanings_.emplace_back();
      split_names(rest_of(line, w[2]), [&](std::string_view part) {
        const size_t space = part.find(' ');
        if (space != std::string_view::npos)
          meanings.emplace(unquote(part.substr(0, space)), unquote(part.substr(space + 1)));
      });
      const uint16_t table = defs.table_number(name);
      each_version([&](VersionDefinitions &v) { put(v.table_meanings, table, &meanings); });
      break;
    }
    default:
      return fail("unknown kind");
    }
  }
  for (VersionDefinitions &v : defs.versions_)
    v.index_structures();
  return defs;
}

} // namespace vellomar
