#include "validate.hpp"
#include "index.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellomar {
namespace {

bool is_digits(std::string_view text) {
  if (text.empty())
    return false;
  for (char c : text)
    if (static_cast<unsigned char>(c - '0') > 9)
      return false;
  return true;
}

// The number the two digits at `p` write, or 100 when either is no digit.
int two_digits(const char *p) {
  const unsigned tens = static_cast<unsigned char>(p[0] - '0'),
                 ones = static_cast<unsigned char>(p[1] - '0');
  return tens > 9 || ones > 9 ? 100 : static_cast<int>(tens * 10 + ones);
}

bool is_number(std::string_view text) { // [+-]digits[.digits]
  if (!text.empty() && (text[0] == '+' || text[0] == '-'))
    text.remove_prefix(1);
  size_t dot = text.find('.');
  if (dot == std::string_view::npos)
    return is_digits(text);
  std::string_view whole = text.substr(0, dot), fraction = text.substr(dot + 1);
  return (whole.empty() || is_digits(whole)) && (fraction.empty() || is_digits(fraction)) &&
         !(whole.empty() && fraction.empty());
}

// Splits a "+ZZZZ" or "-ZZZZ" offset off a time; false when it is malformed.
bool cut_offset(std::string_view &text) {
  size_t sign = 0;
  while (sign < text.size() && text[sign] != '+' && text[sign] != '-')
    ++sign;
  if (sign == text.size())
    return true;
  std::string_view offset = text.substr(sign + 1);
  text = text.substr(0, sign);
  return offset.size() == 4 && two_digits(offset.data()) < 24 && two_digits(offset.data() + 2) < 60;
}

// Whether the eight bytes at `p` are all ASCII digits, tested at once.
bool eight_digits(const char *p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  // A byte below '0' borrows in the subtraction, one above '9' carries in
  // the addition: either sets its top bit.
  return !(((w + 0x4646464646464646) | (w - 0x3030303030303030)) & 0x8080808080808080);
}

// The number the two digits at `p` write, known to be digits.
int digit_pair(const char *p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

// Whether the eight digits at `p` are a date YYYYMMDD of the calendar.
bool is_day(const char *p) {
  const int year = digit_pair(p) * 100 + digit_pair(p + 2), month = digit_pair(p + 4),
            day = digit_pair(p + 6);
  if (month < 1 || month > 12)
    return false;
  static constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day >= 1 && day <= (month == 2 && !leap ? 28 : days[month - 1]);
}

bool is_date(std::string_view text) { // YYYY[MM[DD]]
  const size_t n = text.size();
  if (n == 8)
    return eight_digits(text.data()) && is_day(text.data());
  if ((n != 4 && n != 6) || two_digits(text.data()) > 99 || two_digits(text.data() + 2) > 99)
    return false;
  const int month = n == 6 ? two_digits(text.data() + 4) : 1;
  return month >= 1 && month <= 12;
}

bool is_clock(std::string_view text) { // HH[MM[SS[.S{1,4}]]], no offset
  size_t whole = 0;
  while (whole < text.size() && text[whole] != '.')
    ++whole;
  if ((whole != 2 && whole != 4 && whole != 6) || two_digits(text.data()) > 23 ||
      (whole >= 4 && two_digits(text.data() + 2) > 59) ||
      (whole == 6 && two_digits(text.data() + 4) > 59))
    return false;
  if (whole == text.size())
    return true;
  std::string_view fraction = text.substr(whole + 1);
  return whole == 6 && fraction.size() <= 4 && is_digits(fraction);
}

bool is_time(std::string_view text) {
  return cut_offset(text) && is_clock(text);
}

bool is_date_time(std::string_view text) { // YYYY[MM[DD[HH[MM[SS[.S]]]]]][+/-ZZZZ]
  // The most common stamp, YYYYMMDDHHMMSS of digits alone, has no offset to cut.
  const char *p = text.data();
  if (text.size() == 14 && eight_digits(p) && eight_digits(p + 6))
    return is_day(p) && digit_pair(p + 8) <= 23 && digit_pair(p + 10) <= 59 && digit_pair(p + 12) <= 59;
  if (!cut_offset(text))
    return false;
  std::string_view date = text.substr(0, std::min<size_t>(8, text.size()));
  if (!is_date(date))
    return false;
  return text.size() == date.size() || (date.size() == 8 && is_clock(text.substr(8)));
}

void append_number(std::string &s, size_t n) {
  char digits[24];
  s.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// "(n)" after a name or number, for a repetition other than the first.
void append_repetition(std::string &s, size_t repetition) {
  if (repetition) {
    s += '(';
    append_number(s, repetition);
    s += ')';
  }
}

class Validator {
public:
  Validator(const Definitions &defs, const VersionDefinitions &v, const Message &m,
            std::vector<Finding> &out)
      : defs_(defs), v_(v), m_(m), out_(out), text_end_(m.raw.data() + m.raw.size()) {
    // The kind of each first byte, the repetition separator first when two
    // share it (as delimiter_at tries them).
    const Delimiter *ds[3] = {&m.enc.repetition, &m.enc.component, &m.enc.sub_component};
    for (int kind = 3; kind >= 1; --kind) {
      const Delimiter &d = *ds[kind - 1];
      kind_[static_cast<unsigned char>(d.bytes[0])] = static_cast<uint8_t>(kind);
      single_ = single_ && d.size == 1;
      first_[kind - 1] = d.bytes[0];
    }
    // A segment is walked whole when every separator is one byte of its own.
    const unsigned char field = static_cast<unsigned char>(m.enc.field.bytes[0]);
    whole_ = single_ && m.enc.field.size == 1 && kind_[field] == 0;
    if (whole_)
      kind_[field] = 4;
    first_[3] = whole_ ? m.enc.field.bytes[0] : first_[0];
#if defined(__SSE2__)
    for (int k = 0; k < 4; ++k)
      wanted_[k] = _mm_set1_epi8(first_[k]);
#endif
  }

  // Checks the fields of segment `index`, the `repetition`-th (0-based) of
  // its name.
  void segment(size_t index, size_t repetition) {
    name_ = segment_name(m_, index);
    const SegmentChecks *checks = v_.field_checks(defs_, name_);
    if (!checks)
      return;
    const std::vector<FieldCheck> &fields = checks->fields;
    const SegmentView seg = m_.segment_at(index);
    segment_repetition_ = repetition;
    // Field f (0-based) of a segment other than MSH is stored field f; MSH's
    // stored fields begin at MSH-2.
    const size_t shift = seg.msh ? 1 : 0;
    size_t first = seg.msh ? 2 : 0;
    const size_t present = std::min(fields.size(), seg.field_count());
    const size_t separator = m_.enc.field.size;
    const char *start = seg.name.data() + seg.name.size() + separator;
    if (first < present && seg.msh)
      start = seg.base + seg.ends[first - shift - 1] + separator;
    if (whole_ && first < present) {
      walk(fields, seg, first, seg.base + seg.ends[present - 1 - shift], start);
      first = present;
    }
    // Otherwise (a separator of two bytes, or one shared) field by field.
    for (size_t f = first; f < present; ++f) {
      const char *end = seg.base + seg.ends[f - shift];
      const std::string_view text(start, static_cast<size_t>(end - start));
      start = end + separator;
      const FieldCheck &def = fields[f];
      field_ = f + 1;
      if (text.empty()) {
        if (def.cardinality.min > 0)
          missing(def.value.name);
        continue;
      }
      const size_t repetitions = field(field_check(def, seg), text);
      if (repetitions > def.repetitions)
        repeats(repetitions, def.cardinality.max, def.value.name);
    }
    // The fields the segment does not reach: only the required ones matter.
    for (size_t f = std::max(first, present); f < checks->required_end; ++f)
      if (fields[f].cardinality.min > 0) {
        field_ = f + 1;
        missing(fields[f].value.name);
      }
  }

  // The segment's label: its name, with its repetition among the segments
  // of that name when it is not the first.
  static std::string label(std::string_view name, size_t repetition) {
    std::string s(name);
    append_repetition(s, repetition);
    return s;
  }

private:
  // What OBX-2 names: its first component ("" when the segment has none).
  std::string_view observation_name(const SegmentView &seg) const {
    if (seg.field_count() < 2)
      return {};
    const std::string_view named = seg.field_at(1).text;
    return named.substr(0, named.find(m_.enc.component.bytes[0]));
  }

  // The type `named` for OBX-5 when the version knows it, else varies.
  uint16_t observation_type(std::string_view named, uint16_t varies) const {
    const uint16_t type = defs_.type_number_of(named);
    const bool known = type && (VersionDefinitions::at(v_.composites, type) ||
                                VersionDefinitions::at(v_.lengths, type) ||
                                defs_.primitive(type) != Primitive::other);
    return known ? type : varies;
  }

  // Findings are rare: what builds their texts stays out of the walk.
  [[gnu::cold, gnu::noinline]] void missing(std::string_view name) {
    add(true, 101, at(field_), "Required field " + at(field_) + " is missing", name);
  }
  // The same, for field `def` of the segment being walked.
  [[gnu::cold, gnu::noinline]] void missing(const FieldCheck &def) {
    field_ = static_cast<size_t>(&def - fields_) + 1;
    missing(def.value.name);
  }
  [[gnu::cold, gnu::noinline]] void repeats(size_t repetitions, const FieldCheck &def) {
    field_ = static_cast<size_t>(&def - fields_) + 1;
    repeats(repetitions, def.cardinality.max, def.value.name);
  }

  [[gnu::cold, gnu::noinline]] void repeats(size_t repetitions, uint32_t max, std::string_view name) {
    add(true, 102, at(field_),
        "Field " + at(field_) + " repeats " + std::to_string(repetitions) + " times; at most " +
            std::to_string(max) + " allowed",
        name);
  }

  // "PID(1)-3(2)-4-1": the segment, its repetition when not the first, the
  // field, its repetition likewise, and the first `depth` of `parts`.
  // Written into a buffer on the stack and copied once, into the finding (a
  // location of up to fifteen bytes is then no allocation).
  struct Place {
    char text[128]; // three bytes, then at most five numbers of 20 digits with their marks
    size_t size;
    std::string_view view() const { return {text, size}; }
  };
  Place place(size_t field, size_t repetition = 0, int depth = 0, const size_t *parts = nullptr) const {
    // Only segments the definitions hold are checked field by field: their
    // names are three bytes.
    Place out;
    std::memcpy(out.text, name_.data(), std::min<size_t>(name_.size(), 3));
    char *p = out.text + std::min<size_t>(name_.size(), 3);
    if (segment_repetition_)
      p = write_repetition(p, segment_repetition_);
    p += write_place(p, field, repetition, depth, parts);
    out.size = static_cast<size_t>(p - out.text);
    return out;
  }
  std::string at(size_t field) const { return std::string(place(field).view()); }

  static char *write_number(char *p, size_t n) {
    if (n < 10) { // most numbers of a location: a field's components, a segment's first repetitions
      *p = static_cast<char>('0' + n);
      return p + 1;
    }
    return std::to_chars(p, p + 24, n).ptr;
  }
  static char *write_repetition(char *p, size_t repetition) {
    *p++ = '(';
    p = write_number(p, repetition);
    *p++ = ')';
    return p;
  }
  // "-3(2)-4-1" into `p` (at most 89 bytes); returns its length.
  static size_t write_place(char *p, size_t field, size_t repetition, int depth, const size_t *parts) {
    char *const start = p;
    *p++ = '-';
    p = write_number(p, field);
    if (repetition)
      p = write_repetition(p, repetition);
    for (int i = 0; i < depth; ++i) {
      *p++ = '-';
      p = write_number(p, parts[i]);
    }
    return static_cast<size_t>(p - start);
  }

  // A finding on an element the definitions name `name` (empty: none).
  // Made in its place in the vector: the location copied once, the text moved once.
  void add(bool error, uint16_t code, std::string_view location, std::string &&text, std::string_view name) {
    if (out_.capacity() == 0) // a message with one finding often has more (one per repeated segment)
      out_.reserve(32);
    Finding &f = out_.emplace_back();
    f.error = error;
    f.code = code;
    f.location.assign(location);
    f.text = std::move(text);
    f.name = name;
  }

  // Which delimiter starts at `p` (0 none, 1 repetition, 2 component, 3
  // sub-component), and its size.
  int delimiter_at(const char *p, const char *end, size_t &size) const {
    int kind = 1;
    for (const Delimiter *d : {&m_.enc.repetition, &m_.enc.component, &m_.enc.sub_component}) {
      if (*p == d->bytes[0] && (d->size == 1 || (p + 1 < end && p[1] == d->bytes[1]))) {
        size = d->size;
        return kind;
      }
      ++kind;
    }
    return 0;
  }

  // Calls `each(p)` for every p in [begin, end) where a separator begins (a
  // field separator too when Kinds is 4), in order. SSE2 takes the whole
  // sixteen-byte blocks, then the last part block while sixteen bytes of the
  // message's text are there to load (bits past `end` masked off); the bytes
  // left (at the text's end, or all of them without SSE2) go through the one
  // loop below, so both builds run it.
  template <int Kinds, class Each>
  [[gnu::always_inline]] void each_mark(const char *begin, const char *end, Each &&each) const {
    const char *p = begin;
#if defined(__SSE2__)
    auto block = [&](uint32_t keep) __attribute__((always_inline)) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
      __m128i found = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, wanted_[0]), _mm_cmpeq_epi8(v, wanted_[1])),
                                   _mm_cmpeq_epi8(v, wanted_[2]));
      if constexpr (Kinds == 4)
        found = _mm_or_si128(found, _mm_cmpeq_epi8(v, wanted_[3]));
      for (uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(found)) & keep; mask; mask &= mask - 1)
        each(p + std::countr_zero(mask));
    };
    for (; end - p >= 16; p += 16)
      block(0xFFFF);
    if (p < end && text_end_ - p >= 16) {
      block(first_bytes16(static_cast<size_t>(end - p)));
      p = end;
    }
#endif
    for (; p < end; ++p) {
      const int kind = kind_[static_cast<unsigned char>(*p)];
      if (kind && (Kinds == 4 || kind < 4))
        each(p);
    }
  }

  // Where a walk stands in a field: the checks of the field, of its
  // component (the field's own when it has none) and of the value being cut
  // (the sub-component's, the component's or the field's), where that value
  // begins, and the numbers findings give. A local of the walk, kept in
  // registers: the rare value that needs a look gets a copy.
  // A value longer than its check's quiet length is looked at out of line;
  // once a separator it does not cut lies inside it, its check is replaced
  // by noted_ (quiet length 0) until the value ends. The walk keeps no copy
  // of the quiet length: one register fewer in its loop.
  struct Cursor {
    const ValueCheck *field, *part, *value;
    const char *leaf;
    uint32_t repetition, component, sub; // 0-based, 1-based, 1-based
  };

  [[gnu::always_inline]] static void start(Cursor &at, const ValueCheck &field, const char *begin) {
    at.field = &field;
    at.part = field.head;
    at.value = at.part->head;
    at.leaf = begin;
    at.repetition = 0;
    at.component = at.sub = 1;
  }

  // The value that ends at `end`: most are passed by one compare, most of
  // the rest (read, and good) by passes(), which takes no copy of the cursor.
  [[gnu::always_inline]] void end_value(const Cursor &at, const char *end) {
    const size_t size = static_cast<size_t>(end - at.leaf);
    if (size > at.value->quiet) [[unlikely]]
      if (!passes(*at.value, {at.leaf, size}))
        look(at, end);
  }

  // Whether a value of `v` holds no separator it does not cut, is within the
  // length `v` allows and reads as its kind says; nothing to find then.
  bool plain(const ValueCheck &v, std::string_view text) const {
    return !inside_ && !v.beyond && (!v.limit || text.size() <= v.limit);
  }
  [[gnu::always_inline]] bool passes(const ValueCheck &v, std::string_view text) const {
    return plain(v, text) && well_formed(v, text);
  }

  // A separator of kind `kind` (1 repetition, 2 component, 3 sub-component),
  // `size` bytes at `p`. A value is cut as far as its type goes: a primitive
  // field is taken whole (separators in it make it malformed), a primitive
  // component whole, a component of a composite component by sub-component;
  // a part beyond the type's last is malformed and not looked into.
  // A separator inside a value that its type does not cut (1 component, 2
  // sub-component): noted, and the value is looked at when it ends.
  // The next separator the walk cuts is a component's or a repetition's,
  // which take the next check from the part or the field, not from noted_.
  void not_cut(Cursor &at, int inside) {
    inside_ |= inside;
    if (at.value != &noted_) {
      noted_value_ = at.value;
      at.value = &noted_;
    }
  }
  [[gnu::always_inline]] void separator(Cursor &at, int kind, const char *p, size_t size) {
    switch (kind) {
    case 3:
      if (!at.part->first) [[unlikely]]
        return not_cut(at, 2);
      end_value(at, p);
      at.value = at.value->next;
      ++at.sub;
      break;
    case 2:
      if (!at.field->first) [[unlikely]]
        return not_cut(at, 1);
      end_value(at, p);
      at.part = at.part->next;
      ++at.component;
      at.value = at.part->head;
      at.sub = 1;
      break;
    default:
      end_value(at, p);
      at.part = at.field->head;
      ++at.repetition;
      at.component = at.sub = 1;
      at.value = at.part->head;
    }
    at.leaf = p + size;
  }

  // Checks every value of a field checked by `c` in one pass over its text
  // and returns its number of repetitions. Separators are found sixteen
  // bytes at a time.
  size_t field(const ValueCheck &c, std::string_view text) {
    return single_ ? cut<true>(c, text) : cut<false>(c, text);
  }

  template <bool Single> size_t cut(const ValueCheck &c, std::string_view text) {
    const char *begin = text.data(), *end = begin + text.size(), *next = begin;
    Cursor at;
    start(at, c, begin);
    each_mark<3>(begin, end, [&](const char *p) __attribute__((always_inline)) {
      size_t size = 1;
      int kind;
      if constexpr (Single) {
        kind = kind_[static_cast<unsigned char>(*p)];
      } else {
        if (p < next) // the second byte of a two-byte separator
          return;
        kind = delimiter_at(p, end, size);
        next = p + 1;
        if (kind == 0)
          return;
      }
      const char *was = at.leaf;
      separator(at, kind, p, size);
      if (at.leaf != was)
        next = at.leaf;
    });
    end_value(at, end);
    return at.repetition + 1;
  }

  // The check of field `def` of `seg`: OBX-5's is of the type OBX-2 names,
  // made again only when OBX-2 names another type than in the OBX before
  // (the observations of a message are mostly of one type).
  const ValueCheck &field_check(const FieldCheck &def, const SegmentView &seg) {
    if (def.observation) [[unlikely]] {
      const std::string_view named = observation_name(seg);
      if (observed_for_ != &def || named != observed_named_) {
        observed_ = v_.value_check(defs_, observation_type(named, def.value.type), def.value.name);
        observed_.settle();
        observed_for_ = &def;
        observed_named_ = named;
      }
      return observed_;
    }
    return def.value;
  }

  // The values of fields [first, ...) of `seg`, from `start` (where the
  // first begins) to `stop` (where the last present one ends), in one pass
  // over the text: field separators end a field and begin the next. The
  // walk holds its place (compiled with the definitions), where the leaf
  // begins, the repetition and the field: a value passes when it is no
  // longer than its place's gate for the separator that ends it, or reads
  // as its check says; anything else (a finding to make, a separator not
  // cut) goes out of line.
  // A field is empty when the byte before its end is a field separator.
  void walk(const std::vector<FieldCheck> &fields, const SegmentView &seg, size_t first,
            const char *stop, const char *start) {
    const FieldCheck *def = &fields[first];
    fields_ = fields.data();
    seg_ = &seg;
    const WalkStep *step = def->walk;
    const char *leaf = start;
    uint32_t repetition = 0;
    const char field_byte = first_[3];
    auto close = [&](const char *end) __attribute__((always_inline)) {
      if (end[-1] == field_byte) {
        if (def->cardinality.min > 0)
          missing(*def);
        return;
      }
      if (end - leaf > step->gate[0] && !quiet(step, 0, leaf, end))
        end_field(step, end, leaf, repetition, *def);
      if (repetition >= def->repetitions)
        repeats(repetition + 1, *def);
    };
    each_mark<4>(start, stop, [&](const char *p) __attribute__((always_inline)) {
      const int kind = kind_[static_cast<unsigned char>(*p)] - 1;
      if (kind == 3) {
        close(p);
        ++def;
        step = def->walk;
        leaf = p + 1;
        repetition = 0;
        return;
      }
      if (p - leaf > step->gate[kind] && !quiet(step, kind, leaf, p)) [[unlikely]] {
        const Road at = off_road(step, kind, p, leaf, repetition, *def);
        step = at.step;
        leaf = at.leaf;
      } else {
        step = step->next[kind];
        leaf = p + 1;
      }
      repetition += kind == 0;
    });
    close(stop);
  }

  // Whether the value [leaf, end), longer than its place's gate for a
  // separator of kind `kind`, ends there without a finding: it is cut there
  // (a gate of -1 is a separator that is not, or a place the walk has still
  // to make) and reads as its check says.
  [[gnu::always_inline]] bool quiet(const WalkStep *step, int kind, const char *leaf, const char *end) const {
    return step->gate[kind] >= 0 && passes(*step->value, {leaf, static_cast<size_t>(end - leaf)});
  }

  // The cursor at `step` of field `def`, for a value from `leaf`: the
  // numbers a place does not hold (past its type's parts) counted back.
  Cursor cursor(const WalkStep *step, const char *leaf, uint32_t repetition, const FieldCheck &def) {
    Cursor at;
    if (step == &WalkStep::later) {
      start(at, field_check(def, *seg_), leaf);
      at.repetition = repetition;
      return at;
    }
    const bool noted = step == &noted_step_;
    if (noted)
      step = held_;
    at.field = def.observation ? &observed_ : &def.value;
    at.part = step->part;
    at.value = noted ? &noted_ : step->value;
    at.leaf = leaf;
    at.repetition = repetition;
    at.component = step->component;
    at.sub = step->sub;
    if (!at.component || !at.sub) [[unlikely]] { // back to the repetition's start
      uint32_t components = 0, subs = 0;
      for (const char *q = leaf - 1;; --q) {
        const int kind = kind_[static_cast<unsigned char>(*q)];
        if (kind == 4 || kind == 1)
          break;
        components += kind == 2;
        subs += kind == 3 && !components;
      }
      if (!at.component)
        at.component = components + 1;
      if (!at.sub)
        at.sub = subs + 1;
    }
    return at;
  }

  // The place `at` stands at in field `def`, now that it is no longer at `was`.
  const WalkStep *place_of(const Cursor &at, const WalkStep *was, int kind) {
    if (was == &WalkStep::later) {
      const WalkStep *head = at.field->walk;
      if (!head) {
        observed_step_.alone(*at.field);
        head = &observed_step_;
      }
      // The separator moved the cursor from the field's first place.
      if (at.value == &noted_) {
        held_ = head;
        return &noted_step_;
      }
      return head->next[kind];
    }
    if (was == &noted_step_)
      was = held_;
    if (at.value == &noted_) {
      held_ = was;
      return &noted_step_;
    }
    return was->next[kind];
  }

  struct Road {
    const WalkStep *step;
    const char *leaf;
  };
  // A separator of kind `kind` (0-based) at `p` that the walk's place sends
  // out of line: the exact rules of separator(), then the place they lead to.
  [[gnu::noinline]] Road off_road(const WalkStep *step, int kind, const char *p, const char *leaf,
                                  uint32_t repetition, const FieldCheck &def) {
    field_ = static_cast<size_t>(&def - fields_) + 1;
    Cursor at = cursor(step, leaf, repetition, def);
    separator(at, kind + 1, p, 1);
    return {place_of(at, step, kind), at.leaf};
  }

  // The field's last value, ending at `end`, that its place sends out of line.
  [[gnu::noinline]] void end_field(const WalkStep *step, const char *end, const char *leaf,
                                   uint32_t repetition, const FieldCheck &def) {
    field_ = static_cast<size_t>(&def - fields_) + 1;
    end_value(cursor(step, leaf, repetition, def), end);
  }

  // A value passes() refused, [at.leaf, end): the explicit null "" is no
  // finding; past the type's parts it is malformed; read, or holding
  // separators it does not cut, it is checked as a primitive; otherwise it
  // is too long.
  [[gnu::cold, gnu::noinline]] void look(Cursor at, const char *end) {
    const std::string_view text(at.leaf, static_cast<size_t>(end - at.leaf));
    const ValueCheck &v = at.value == &noted_ ? *noted_value_ : *at.value;
    repetition_ = at.repetition;
    parts_[0] = at.component;
    parts_[1] = at.sub;
    const int depth = !at.field->first ? 0 : at.part->first ? 2 : 1;
    if (text != "\"\"") {
      if (v.beyond) {
        const ValueCheck &owner = depth == 1 ? *at.field : *at.part;
        beyond(owner.composite, owner.count, text, depth);
      } else if (inside_ || v.reads) {
        primitive(v, text, depth, plain(v, text) ? 0 : -1); // passes() said no
      } else if (v.limit && text.size() > v.limit) {
        too_long(v, text, depth);
      }
    }
    inside_ = 0;
  }

  // The location of the value being checked: its field repetition and the
  // first `depth` component numbers.
  Place where(int depth) const { return place(field_, repetition_, depth, parts_); }

  // "Value 'text' of location" and the rest of a finding's text, in one
  // allocation of its size.
  static std::string value_of(std::string_view text, std::string_view location,
                              std::initializer_list<std::string_view> rest) {
    static constexpr std::string_view value = "Value '", of = "' of ";
    size_t size = value.size() + text.size() + of.size() + location.size();
    for (std::string_view part : rest)
      size += part.size();
    std::string s(size, '\0');
    char *p = s.data();
    auto put = [&p](std::string_view piece) __attribute__((always_inline)) {
      std::memcpy(p, piece.data(), piece.size());
      p += piece.size();
    };
    put(value);
    put(text);
    put(of);
    put(location);
    for (std::string_view part : rest)
      put(part);
    return s;
  }

  // A finding whose text value_of writes.
  void add_value(bool error, uint16_t code, const Place &location, std::string_view text,
                 std::initializer_list<std::string_view> rest, std::string_view name) {
    add(error, code, location.view(), value_of(text, location.view(), rest), name);
  }

  // A value past the last component of `type`, which has `count`.
  [[gnu::cold, gnu::noinline]] void beyond(uint16_t type, size_t count, std::string_view text,
                                           int depth) {
    add_value(true, 102, where(depth), text,
              {" is beyond the ", std::to_string(count), " components of ", defs_.type_name(type)}, {});
  }

  // `well` is 1 or 0 when well_formed is known to say true or false, else -1.
  [[gnu::noinline]] void primitive(const ValueCheck &c, std::string_view text, int depth, int well) {
    // A primitive has no parts: a field holding components, or a component
    // holding sub-components, is malformed (its text reaches here whole, and
    // the walk noted the separators inside it).
    if (inside_ && ((depth == 0 && (inside_ & 1)) || (depth < 2 && (inside_ & 2))) && !c.open)
      return has_parts(c, text, depth);
    if (c.limit && text.size() > c.limit)
      too_long(c, text, depth);
    if (well < 0 ? well_formed(c, text) : well)
      return;
    if (c.kind == Primitive::id || c.kind == Primitive::is)
      not_in_table(c, text, depth);
    else
      malformed(c, text, depth);
  }

  // Whether a value read as `c`'s kind is what that kind allows: a number,
  // a date or time, a value of the table.
  [[gnu::always_inline]] static bool well_formed(const ValueCheck &c, std::string_view text) {
    switch (c.kind) {
    case Primitive::nm: return is_number(text);
    case Primitive::si: return is_digits(text);
    case Primitive::dt: return is_date(text);
    case Primitive::tm: return is_time(text);
    case Primitive::dtm: return is_date_time(text);
    case Primitive::id:
    case Primitive::is: return !c.values || c.values->contains(text);
    default: return true;
    }
  }

  [[gnu::cold, gnu::noinline]] void has_parts(const ValueCheck &c, std::string_view text, int depth) {
    const char *parts = depth == 0 && (inside_ & 1) ? "components" : "sub-components";
    add_value(true, 102, where(depth), text, {" has ", parts, "; ", defs_.type_name(c.type), " has none"},
              c.name);
  }

  [[gnu::cold, gnu::noinline]] void too_long(const ValueCheck &c, std::string_view text, int depth) {
    const Place location = where(depth);
    std::string message = "Value of " + std::string(location.view()) + " is " +
                          std::to_string(text.size()) + " characters long; " +
                          defs_.type_name(c.type) + " allows " + std::to_string(c.limit);
    add(false, 104, location.view(), std::move(message), c.name);
  }

  [[gnu::cold, gnu::noinline]] void malformed(const ValueCheck &c, std::string_view text, int depth) {
    add_value(true, 102, where(depth), text, {" is not a valid ", defs_.type_name(c.type)}, c.name);
  }

  // IS tables are user-defined, and coded elements name coding systems that
  // sites extend (table 0396): only an ID field is an error.
  [[gnu::cold, gnu::noinline]] void not_in_table(const ValueCheck &c, std::string_view text, int depth) {
    add_value(c.kind == Primitive::id && depth == 0, 103, where(depth), text,
              {" is not in table ", defs_.table_name(c.table)}, c.name);
  }

  const Definitions &defs_;
  const VersionDefinitions &v_;
  const Message &m_;
  std::vector<Finding> &out_;
  [[maybe_unused]] const char *text_end_; // of the message's text (read by the SSE2 scan alone)
  std::string_view name_; // the segment's name
  size_t segment_repetition_ = 0;
  size_t field_ = 0, repetition_ = 0;
  int inside_ = 0;      // separators inside the value being cut: 1 component, 2 sub-component
  size_t parts_[2] = {0, 0}; // 1-based component and sub-component of the value
  uint8_t kind_[256] = {};   // by first byte: 1 repetition, 2 component, 3 sub-component separator, 4 field
  char first_[4] = {};       // the first bytes of those separators, then the field separator's
#if defined(__SSE2__)
  __m128i wanted_[4];        // each of first_ in every byte, made once for the message
#endif
  bool single_ = true;       // all three are one byte long
  bool whole_ = false;       // and so is the field separator, which none shares: kind 4
  ValueCheck observed_;      // OBX-5's, typed by OBX-2
  const ValueCheck noted_{};  // the check of a value holding a separator it does not cut
  const ValueCheck *noted_value_ = nullptr; // and the value's own check then
  const FieldCheck *observed_for_ = nullptr; // the field and OBX-2 text observed_ was made for
  const FieldCheck *fields_ = nullptr; // of the segment walked, and the segment
  const SegmentView *seg_ = nullptr;
  WalkStep noted_step_;                // the walk's place in a value holding a separator it does not cut
  const WalkStep *held_ = nullptr;     // and the value's own place then
  WalkStep observed_step_;             // OBX-5's place when OBX-2 names a primitive
  std::string_view observed_named_;
};

// The repetition (0-based) of each segment among the segments of its name,
// given in message order. Messages hold few names: the first sixteen are
// searched in a short list, more in a hash map.
class SegmentRepetitions {
public:
  size_t next(std::string_view name) {
    if (many_.empty()) {
      // A name of three bytes is compared as its key, without a call to memcmp.
      const uint32_t key = VersionDefinitions::segment_key(name);
      for (size_t i = 0; i < size_; ++i)
        if (few_[i].key == key && (key != 0 || few_[i].name() == name))
          return ++few_[i].count;
      if (size_ < std::size(few_)) {
        few_[size_++] = {name.data(), name.size(), key, 0};
        return 0;
      }
      for (const Seen &seen : few_)
        many_.emplace(seen.name(), seen.count);
    }
    auto [it, first] = many_.try_emplace(name, 0);
    return first ? 0 : ++it->second;
  }

private:
  struct Seen { // plain members: the room is not cleared for each call
    const char *data;
    size_t size;
    uint32_t key; // segment_key(name): 0 unless three bytes
    size_t count;
    std::string_view name() const { return {data, size}; }
  };
  Seen few_[16]; // the first size_ in use
  size_t size_ = 0;
  std::unordered_map<std::string_view, size_t> many_;
};

std::string element_path(const MessageStructure &s, uint32_t node, std::string_view name) {
  std::string path = group_path(s, node);
  return path.append("/").append(name);
}

void check_cardinality(const MessageStructure &s, const VersionDefinitions &v,
                       std::vector<Finding> &out) {
  for (uint32_t n = 0; n < s.nodes.size(); ++n) {
    const GroupNode &node = s.nodes[n];
    if (!node.def)
      continue;
    const std::span<const uint32_t> counts = s.counts_of(node);
    for (size_t i = 0; i < counts.size(); ++i) {
      const StructureElement &e = node.def->children[i];
      const uint32_t count = counts[i];
      const bool missing = count < e.cardinality.min;
      if (!missing && e.cardinality.allows(count))
        continue;
      const char *what = e.group ? "Group " : "Segment ";
      const std::string_view name = e.group ? std::string_view{} : v.element(e.name, 0, nullptr).name;
      out.push_back({true, 100, element_path(s, n, e.name),
                     missing ? what + e.name + " is missing" +
                                   (node.def == s.nodes[0].def ? "" : " from group " + std::string(node.name))
                             : what + e.name + " occurs " + std::to_string(count) + " times; at most " +
                                   std::to_string(e.cardinality.max) + " allowed",
                     name});
    }
  }
}

// The message's structure, matched into room the thread keeps from one call
// to the next. Out of line, so that the caller reads the thread's copy
// through the pointer returned instead of asking for its address again.
[[gnu::noinline]] const MessageStructure &matched_structure(const Message &message,
                                                             const MessageKind &kind) {
  thread_local MessageStructure kept;
  match_structure(message, kind, kept);
  return kept;
}

} // namespace

std::string group_path(const MessageStructure &s, uint32_t node) {
  if (node == 0)
    return {};
  const GroupNode &n = s.nodes[node];
  std::string path = group_path(s, n.parent);
  path.append("/").append(n.name);
  if (n.repetition)
    path.append("(").append(std::to_string(n.repetition)).append(")");
  return path;
}

std::vector<Finding> validate_message(const Definitions &defs, const Message &message,
                                      std::string_view version, bool strict) {
  std::vector<Finding> out;
  validate_message(defs, message, version, strict, out);
  return out;
}

void validate_message(const Definitions &defs, const Message &message, std::string_view version,
                      bool strict, std::vector<Finding> &out) {
  const MessageKind kind = message_kind(defs, message, version);
  if (kind.version.empty()) { // every version requires MSH-12
    out.push_back({true, 101, "MSH-12", "Required field MSH-12 is missing", "Version ID"});
    return;
  }
  if (!kind.definitions) {
    // A version these definitions do not hold may well be valid.
    out.push_back({strict, 203, "MSH-12", "Unsupported version '" + kind.version + "'", ""});
    return;
  }
  const VersionDefinitions &v = *kind.definitions;
  auto header_name = [&](uint64_t field, uint64_t component) {
    const uint64_t index[3] = {field, component, 0};
    return v.element("MSH", 2, index).name;
  };
  if (!kind.structure) {
    const std::string prefix = kind.type + "_";
    bool type_known = false;
    for (const auto &entry : v.structures)
      type_known = type_known || entry.first.starts_with(prefix);
    if (type_known)
      out.push_back({true, 201, "MSH-9-2",
                     "Unsupported event '" + kind.event + "' of message type " + kind.type,
                     header_name(9, 2)});
    else // HL7 leaves message types beginning with Z to each site
      out.push_back({strict || !kind.type.starts_with('Z'), 200, "MSH-9-1",
                     "Unsupported message type '" + kind.type + "'", header_name(9, 1)});
  }
  const MessageStructure &structure = matched_structure(message, kind);
  SegmentRepetitions seen;
  Validator validator(defs, *kind.definitions, message, out);
  size_t next_unexpected = 0;
  for (uint32_t i = 0; i < message.segment_count(); ++i) {
    std::string_view name = segment_name(message, i);
    const size_t repetition = seen.next(name);
    if (next_unexpected < structure.unexpected.size() && structure.unexpected[next_unexpected] == i) {
      ++next_unexpected;
      if (!name.starts_with('Z')) { // Z segments are a site's own: allowed anywhere
        const std::string label = Validator::label(name, repetition);
        out.push_back({true, 100, label,
                       "Segment " + label + " is not expected here in " + structure.name,
                       v.element(name, 0, nullptr).name});
      }
    }
    validator.segment(i, repetition);
  }
  check_cardinality(structure, v, out);
}

} // namespace vellomar
