// The HL7 v2 definitions that structures and validation walk: message
// structures with their groups, the events that share a structure, segment
// fields, composite types, primitive lengths and HL7 tables, per version.
//
// They are read once from the package's data file (generated from reference
// data by tools/definitions.py; the format is described there) into records
// that the versions sharing a definition share.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "result.hpp"

namespace vellomar {

// How often an element may occur; max 0 means without limit.
struct Cardinality {
  uint32_t min = 1;
  uint32_t max = 1;
  bool allows(uint64_t count) const { return max == 0 || count <= max; }
};

struct GroupDef;

// A segment name's three bytes as one number; 0 for a name of any other
// length (and for three NUL bytes, so that 0 always asks for the name itself).
inline uint32_t segment_code(std::string_view id) {
  if (id.size() != 3)
    return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(id[0])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
         static_cast<unsigned char>(id[2]);
}

// A segment of a group, or a child group (`group` set).
struct StructureElement {
  std::string name;
  Cardinality cardinality;
  const GroupDef *group = nullptr;
};

struct GroupDef {
  std::string name;
  std::vector<StructureElement> children;
  // The segments that can come first in the group: the first child's, and the
  // next child's while the ones before are optional.
  std::vector<std::string> starts;

  // What a match reads, made by finish() once the children are known: for
  // each child in order, the names it may begin with (a segment's own, a
  // group's starts) with the child's number, so that the place of a segment
  // is the first entry of its code from where the search resumes.
  struct Entry {
    uint32_t code;  // segment_code of the name
    uint32_t child;
  };
  std::vector<Entry> entries;
  std::vector<std::string_view> entry_names; // read only for code 0
  // Each child's group (null for a segment) and where the search resumes
  // once it is taken: its own first entry when it may repeat, else the next
  // child's.
  struct Place {
    const GroupDef *group;
    uint32_t resume;
  };
  std::vector<Place> places;
  // For each child, the required children (cardinality min above 0) before
  // it, and last, of all: the required ones between two children are a
  // subtraction.
  std::vector<uint32_t> required_before;
  uint32_t widest = 0; // the most children of this group or any within it
  uint32_t depth = 0;  // the most groups open at once within it, itself included
  // The first entry at or after `from` that `segment` (whose code is
  // `code`) matches, or nullptr.
  const Entry *find(uint32_t from, uint32_t code, std::string_view segment) const {
    const Entry *e = entries.data() + from, *end = entries.data() + entries.size();
    if (code != 0) {
      for (; e != end; ++e)
        if (e->code == code)
          return e;
      return nullptr;
    }
    for (; e != end; ++e) // a name not of three bytes
      if (e->code == 0 && entry_names[e - entries.data()] == segment)
        return e;
    return nullptr;
  }
  // Sets starts, entries, places, required_before, widest and depth; each
  // child group finished before.
  void finish();
};

// The primitive types whose values validation reads; every other type is
// `other` (a composite, or text).
enum class Primitive : uint8_t { other, nm, si, dt, tm, dtm, id, is, ts };

// A field, component or sub-component: its type and HL7 table, as numbers
// given by Definitions (table 0: none), so that validation looks them up
// by index.
struct TypeRef {
  uint16_t type = 0;
  uint16_t table = 0;
};

// A text of 1 to 7 bytes as one integer: the length in the top byte, then
// the bytes in order, read in two loads that may overlap (no loop: this runs
// for every coded value a validation reads, and for the names in a header).
inline uint64_t short_code(std::string_view value) {
  const size_t n = value.size();
  const auto *p = reinterpret_cast<const unsigned char *>(value.data());
  uint64_t bytes; // byte i of the value at bits 8i
  if (n >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      head = __builtin_bswap32(head);
      tail = __builtin_bswap32(tail);
    }
    bytes = head | uint64_t{tail} << 8 * (n - 4);
  } else {
    bytes = p[0] | uint64_t{p[n / 2]} << 8 * (n / 2) | uint64_t{p[n - 1]} << 8 * (n - 1);
  }
  return uint64_t{n} << 56 | __builtin_bswap64(bytes) >> 8;
}
inline bool has_short_code(std::string_view value) { return value.size() - 1 < 7; }

// The values of an HL7 table. Values are mostly codes of a few bytes: those
// of up to seven bytes are kept as integers (the bytes and the length
// packed) in an open-addressed hash set, so that a lookup is one or two
// integer compares; longer ones as sorted strings. Values the table gives as patterns ("~HL7nnnn": a head
// matched in any case, then one digit per n, one letter or digit per z, x
// or s, any other byte as written; "*" any rest) are tried when no value
// matches.
class CodeTable {
public:
  void add(std::string_view value);
  void finish(); // after the last add
  bool contains(std::string_view value) const {
    if (value.size() - 1 < 7) { // a code of 1 to 7 bytes, the most common
      const uint64_t code = short_code(value);
      for (size_t i = slot(code); codes_[i] != 0; i = (i + 1) & (codes_.size() - 1))
        if (codes_[i] == code)
          return true;
      return has_pattern_for(value[0]) && matches_short(code);
    }
    return contains_other(value);
  }
  // Some value is a template of codes, a placeholder in angle brackets
  // (table 0335's "Q<integer>H" for Q6H), which contains() does not
  // match: the table cannot tell every code it holds.
  bool templated() const { return templated_; }

private:
  // Whether some pattern's head begins with `c` (in any case).
  bool has_pattern_for(char c) const {
    const auto byte = static_cast<unsigned char>(c);
    return pattern_starts_[byte >> 6] >> (byte & 63) & 1;
  }
  bool contains_other(std::string_view value) const;
  bool matches_pattern(std::string_view value) const;
  // The same for a value of 1 to 7 bytes, read from its packed code.
  bool matches_short(uint64_t code) const;
  // A pattern cut where its placeholders begin (a lower-case letter after
  // the first byte, or "*"): the head upper-cased, then the rest.
  struct Pattern {
    std::string head, tail;
    bool any_rest = false; // the tail is "*"
    bool matches(std::string_view value) const;
  };
  // A pattern as it applies to a packed code of 1 to 7 bytes (one exists for
  // each pattern that can match one): the length's bounds, the bytes it fixes
  // as a mask and their wanted bits (a head letter's case bit out of the
  // mask), and by byte position those that must be a digit or a letter or
  // digit. Byte i of the value is at bit 48 - 8i of the code.
  struct ShortPattern {
    uint64_t mask = 0, want = 0;
    uint8_t min_length = 0, max_length = 0;
    uint8_t digits = 0, alnums = 0; // bit i: byte i
  };
  size_t slot(uint64_t code) const { return static_cast<size_t>((code * 0x9E3779B97F4A7C15ull) >> shift_); }
  std::vector<uint64_t> codes_; // while reading; then the slots (0: empty)
  bool empty_value_ = false;    // "" packs to 0, the empty slot
  bool templated_ = false;
  unsigned shift_ = 63;
  std::vector<std::string> long_values_;
  std::vector<Pattern> patterns_;
  std::vector<ShortPattern> short_patterns_; // made by finish()
  uint64_t pattern_starts_[4] = {}; // by byte: some pattern's head begins with it
};

// The names of a segment or composite type: [0] its own, then those of its
// fields or components by number (empty where the data has none).
using Names = std::vector<std::string>;


// What the definitions say about one element of a segment: its name (empty
// when none is known) and its type and table numbers (0 when none).
struct ElementInfo {
  std::string_view name;
  uint16_t type = 0;
  uint16_t table = 0;
};

struct FieldDef {
  TypeRef type;
  Cardinality cardinality;
};

struct WalkStep;

// What validation checks of a value at one place of a segment (a field, a
// component or a sub-component), compiled once per version from its
// definitions: the walk reads it where it stands instead of looking the
// type's components, length, primitive kind and table up by number for each
// value.
struct ValueCheck {
  // The checks of its components by position (those of the type `composite`),
  // null when it has none and is checked as a primitive. They are followed
  // by one that stands for every part past the last (`beyond`).
  const std::vector<ValueCheck> *parts = nullptr;
  const ValueCheck *first = nullptr; // parts->data(), or null
  // The check of its first part, or itself when it has none: set by
  // settle() where the check is kept, as a copy would point at the original.
  const ValueCheck *head = nullptr;
  void settle() { head = first ? first : this; }
  const ValueCheck *next = nullptr;  // as a part: the next part's check (beyond's: itself)
  const CodeTable *values = nullptr; // an ID or IS value's table, when the version has it
  std::string_view name;             // the element's name, or empty
  uint32_t limit = 0;                // the maximum length, 0 for none
  // A value of at most this many bytes needs no look: none for a value that
  // is read or lies beyond the type's parts, else its limit.
  uint32_t quiet = 0;
  uint16_t count = 0; // the number of parts
  // The type a value is checked as (the time stamp of a TS: DTM), its table.
  uint16_t type = 0;
  uint16_t table = 0;
  uint16_t composite = 0; // the type whose components `parts` are
  Primitive kind = Primitive::other;
  bool open = false;  // values may take any shape: a withdrawn field's placeholder, varies
  bool reads = false; // its text is read (a number, date, time or table value), not only measured
  bool beyond = false; // it stands for the parts past the last of `composite`
  const WalkStep *walk = nullptr; // the first place of `composite`'s walk, null when not composite
};

// A place of the walk over a field's text, compiled once per composite type
// (and for each field of a primitive type): the cursor the walk would hold
// there, and for each separator (repetition, component, sub-component) the
// longest value that may end at it unlooked-at and the place it leads to.
// The walk then carries a pointer to its place, the leaf's start and the
// repetition count: the checks of the field, its part and its value are
// read from the place only when a value needs a look.
struct WalkStep {
  // A value ending at separator k (0 repetition, 1 component, 2
  // sub-component) of at most gate[k] bytes passes unread; a longer one is
  // read (a number, date or table value), and looked at out of line when it
  // does not pass. -1 sends every separator out of line (it is not cut here,
  // or the place stands for one made when the walk gets there).
  int64_t gate[3] = {-1, -1, -1};
  const WalkStep *next[3] = {};
  const ValueCheck *part = nullptr, *value = nullptr;
  // 1-based; 0 past the type's last part, where the walk counts them again.
  uint32_t component = 1, sub = 1;
  // The place of a primitive field checked by `v`, whose values are taken whole.
  void alone(const ValueCheck &v);
  // A place every separator leaves through the walk's out-of-line road:
  // OBX-5's, until OBX-2 has given its type.
  static const WalkStep later;
};

struct FieldCheck {
  ValueCheck value;
  Cardinality cardinality;
  uint32_t repetitions = 0; // the most allowed, UINT32_MAX for no limit
  bool observation = false; // OBX-5, of the type OBX-2 names
  // Where the walk begins: own, a composite's first place, or WalkStep::later
  // (OBX-5). Set where the check is kept, as own points at its value.
  const WalkStep *walk = nullptr;
  WalkStep own{}; // the place of a primitive field
};

struct SegmentChecks {
  std::vector<FieldCheck> fields;
  size_t required_end = 0; // one past the last required field
};

class Definitions;

// Hash lookups by string_view without making a string.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};
template <class T>
using TextMap = std::unordered_map<std::string, T, TextHash, std::equal_to<>>;

// The meanings of the values of an HL7 table that the data explains.
using Meanings = TextMap<std::string>;

struct VersionDefinitions {
  std::string name;                      // "2.5.1"
  TextMap<const GroupDef *> structures; // the root group of each
  TextMap<std::string> shared_events;   // ADT_A08 -> ADT_A01
  // By segment name packed as segment_key does.
  std::unordered_map<uint32_t, const std::vector<FieldDef> *> segments;
  // By type number: its components when composite, its maximum length (0: no limit).
  std::vector<const std::vector<TypeRef> *> composites;
  std::vector<uint32_t> lengths;
  // By table number: its values.
  std::vector<const CodeTable *> tables;
  // Names: by segment key, by composite type number, by table number.
  std::unordered_map<uint32_t, const Names *> segment_names;
  std::vector<const Names *> composite_names;
  std::vector<const std::string *> table_titles;
  std::vector<const Meanings *> table_meanings;

  // The element that `index` (field, component, sub-component, 1-based; the
  // first `depth` of them) selects in segment `segment`: depth 0 is the
  // segment itself. `field_type`, when not 0, stands for the field's own type
  // (OBX-5 takes the type OBX-2 names). A component of a primitive is the
  // primitive itself when it is the first, unknown otherwise.
  ElementInfo element(std::string_view segment, size_t depth, const uint64_t *index,
                      uint16_t field_type = 0) const;
  // The meaning of `value` in table `table`, or null (also for a value the
  // version's table does not hold).
  const std::string *meaning(uint16_t table, std::string_view value) const;

  // The fields of a segment, or null for a name the version does not define.
  const std::vector<FieldDef> *segment(std::string_view id) const {
    auto it = segments.find(segment_key(id));
    return it == segments.end() ? nullptr : it->second;
  }
  // Segment names are three bytes; any other length is no key of the map.
  static uint32_t segment_key(std::string_view id) { return segment_code(id); }

  template <class T> static T find(const TextMap<T> &map, std::string_view key) {
    auto it = map.find(key);
    return it == map.end() ? T{} : it->second;
  }
  template <class T> static T at(const std::vector<T> &by_number, uint16_t number) {
    return number < by_number.size() ? by_number[number] : T{};
  }
  // The checks of the fields of a segment, or null for a name the version
  // does not define; compiled for the whole version when first asked for.
  const SegmentChecks *field_checks(const Definitions &defs, std::string_view id) const;
  // The checks of a value of type `type` as a field (OBX-5, typed by OBX-2),
  // named `element`.
  ValueCheck value_check(const Definitions &defs, uint16_t type, std::string_view element) const;

  // The root of the structure named `id`, or null: names of 1 to 7 bytes
  // (all of HL7's) by their short code in an open-addressed table, as every
  // message's header asks for one or two.
  const GroupDef *structure(std::string_view id) const {
    if (!has_short_code(id))
      return find(structures, id);
    const uint64_t code = short_code(id);
    for (size_t i = structure_slot(code); structure_slots_[i].first != 0;
         i = (i + 1) & (structure_slots_.size() - 1))
      if (structure_slots_[i].first == code)
        return structure_slots_[i].second;
    return nullptr;
  }
  // Makes the table structure() reads, once the structures are read.
  void index_structures();

  // The structure of a message whose MSH-9 reads type^event^structure: the
  // structure it names when known, else TYPE_EVENT, else the structure that
  // event shares; null when none is known.
  const GroupDef *structure_of(std::string_view type, std::string_view event,
                               std::string_view structure, std::string &structure_name) const;

private:
  std::vector<std::pair<uint64_t, const GroupDef *>> structure_slots_{{0, nullptr}}; // code 0: empty
  unsigned structure_shift_ = 64;
  size_t structure_slot(uint64_t code) const {
    return structure_shift_ == 64 ? 0
                                  : static_cast<size_t>((code * 0x9E3779B97F4A7C15ull) >> structure_shift_);
  }
  struct Checks {
    std::deque<SegmentChecks> segments;
    // By segment key in an open-addressed table (key 0: empty), as a lookup
    // is made for every segment of every message.
    std::vector<std::pair<uint32_t, const SegmentChecks *>> segment_slots;
    unsigned shift = 63;
    size_t slot(uint32_t key) const { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift); }
    std::deque<std::vector<ValueCheck>> composites;                 // their parts
    std::vector<const std::vector<ValueCheck> *> by_type;           // null: not composite
    std::deque<std::vector<WalkStep>> walks;                        // the places of each composite
    std::vector<const WalkStep *> walk_by_type;                     // null: not composite
    uint16_t open_types[3] = {};                                    // varies, "-", WD
  };
  const Checks &checks(const Definitions &defs) const;
  // A value's checks as its type and table give them, once compiled.
  ValueCheck make_check(const Definitions &defs, TypeRef ref, std::string_view element) const;
  // Made once, under the flag, by whichever thread asks first; `ready` is
  // set after, so that later calls read one pointer.
  struct Compiled {
    std::once_flag once;
    std::atomic<const Checks *> ready{nullptr};
  };
  mutable std::unique_ptr<Compiled> compiled_ = std::make_unique<Compiled>();
  mutable std::unique_ptr<Checks> checks_;
};

class Definitions {
public:
  // Reads the data file's text; ValueError "Definitions line {n}: {reason}"
  // for a line that does not read.
  static Result<Definitions> parse(std::string_view text);

  // The definitions of `version` ("2.5.1"), or null.
  const VersionDefinitions *version(std::string_view name) const;
  // The version whose tables' values stand for those of `v` (one of
  // versions()): its own, or, for a version older than every version the
  // data gives table values for (2.1 to 2.3), the first of those. HL7's
  // tables grow by addition and keep a code's meaning, so a later version's
  // values tell an older message's codes as well as its own would.
  const VersionDefinitions &values_version(const VersionDefinitions &v) const;
  const std::vector<VersionDefinitions> &versions() const { return versions_; }

  const std::string &type_name(uint16_t type) const { return type_names_[type]; }
  Primitive primitive(uint16_t type) const { return primitives_[type]; }
  const std::string &table_name(uint16_t table) const { return table_names_[table]; }
  // The number of a type read from the data (0 for one it never names).
  uint16_t type_number_of(std::string_view name) const {
    auto it = type_numbers_.find(name);
    return it == type_numbers_.end() ? 0 : it->second;
  }
  // The number of a table read from the data ("0119"; 0 for one it never
  // names).
  uint16_t table_number_of(std::string_view name) const {
    auto it = table_numbers_.find(name);
    return it == table_numbers_.end() ? 0 : it->second;
  }

private:
  uint16_t type_number(std::string_view name);
  uint16_t table_number(std::string_view name);
  TypeRef read_type(std::string_view token);

  std::vector<VersionDefinitions> versions_;
  std::vector<uint64_t> version_codes_; // short_code of each name (0: not 1 to 7 bytes)
  TextMap<uint16_t> type_numbers_, table_numbers_;
  std::vector<std::string> type_names_{""}, table_names_{""}; // number 0: none
  std::vector<Primitive> primitives_{Primitive::other};
  // Records shared by the versions' maps; a deque keeps their addresses.
  std::deque<GroupDef> groups_;
  std::deque<std::vector<FieldDef>> segments_;
  std::deque<std::vector<TypeRef>> composites_;
  std::deque<CodeTable> tables_;
  std::deque<Names> names_;
  std::deque<std::string> titles_;
  std::deque<Meanings> meanings_;
};

} // namespace vellomar
