#include "edit.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "delimiters.hpp"
#include "escape.hpp"
#include "parser.hpp"
#include "terser.hpp"

namespace vellomar {
namespace {

// Larger numbers would pad a message by megabytes; no HL7 structure has
// anywhere near this many elements.
constexpr uint64_t max_number = 65535;

Error value_error(std::string_view what, std::string_view text) {
  std::string message(what);
  message.append(": '").append(text).append("'");
  return Error{ErrorKind::value_error, std::move(message)};
}

Error invalid_index(std::string_view what, std::string_view piece) {
  std::string message = "Invalid ";
  message.append(what).append(" index");
  return value_error(message, piece);
}

// A path of the edit grammar, read but not yet resolved against a message.
struct EditPath {
  std::string_view name;
  uint64_t segment_repetition = 0;
  bool append = false;
  size_t numbers = 0;        // 1 field, 2 component, 3 sub-component
  uint64_t number[3] = {};   // 1-based field, component, sub-component
  bool has_repetition = false;
  uint64_t repetition = 0;   // 0-based field repetition
};

// Reads a number at path[i] (an optional "+", then digits) into `out` and
// moves i past it; false when there is none or it lies outside low..max_number.
inline bool take_number(std::string_view path, size_t &i, uint64_t low, uint64_t &out) {
  if (path.substr(i).starts_with('+'))
    ++i;
  const size_t end = std::min(path.find_first_not_of("0123456789", i), path.size());
  uint64_t value = 0; // no digits, or too many for 64 bits: an error
  if (std::from_chars(path.data() + i, path.data() + end, value).ec != std::errc() || value < low ||
      value > max_number)
    return false;
  i = end;
  out = value;
  return true;
}

// Reads `path` into `out` in one pass, without copies; returns the error when
// it is malformed (no Result: a path is read per change, and most are fine).
// With `segment_alone`, a path may end after its segment part (numbers 0).
std::optional<Error> parse_edit_path(std::string_view path, EditPath &out,
                                     bool segment_alone = false) {
  if (path.empty())
    return Error{ErrorKind::value_error, "Empty terser path"};
  const size_t n = path.size();
  auto piece_at = [&](size_t start) {
    const size_t hyphen = path.find('-', start);
    return path.substr(start, hyphen == std::string_view::npos ? hyphen : hyphen - start);
  };
  auto in_name = [](char c) { return c != '-' && c != '(' && c != ')'; };
  size_t i = 0;
  // Most paths begin with a three-character name and a hyphen.
  if (n > 3 && path[3] == '-' && in_name(path[0]) && in_name(path[1]) && in_name(path[2]))
    i = 3;
  while (i < n && in_name(path[i]))
    ++i;
  out.name = path.substr(0, i);
  if (i < n && path[i] != '-') { // "(n)" or "(+)" must close the segment piece
    bool valid = path[i++] == '(';
    if (valid && path.substr(i, 2) == "+)") {
      out.append = true;
      i += 2;
    } else {
      valid = valid && take_number(path, i, 0, out.segment_repetition) && i < n && path[i++] == ')';
    }
    if (!valid || (i < n && path[i] != '-'))
      return value_error("Invalid segment repetition", piece_at(0));
  }
  if (i == n && !segment_alone)
    return value_error("Path names no field", path);
  static constexpr std::string_view what[] = {"field", "component", "sub-component"};
  for (size_t k = 0; k < 3 && i < n; ++k) {
    const size_t start = ++i; // past the hyphen
    bool valid = take_number(path, i, 1, out.number[k]);
    if (valid && k == 0 && i < n && path[i] == '(') {
      out.has_repetition = true;
      valid = take_number(path, ++i, 0, out.repetition) && out.repetition < max_number &&
              i < n && path[i++] == ')';
    }
    if (!valid || (i < n && path[i] != '-'))
      return invalid_index(what[k], piece_at(start));
    out.numbers = k + 1;
  }
  if (i < n)
    return value_error("Path has more than four parts", path);
  if (!is_segment_name(out.name)) // "pid-5" is malformed, not a segment a message lacks
    return value_error("Invalid segment name", out.name);
  return std::nullopt;
}

// Whether a segment numbers its fields from the field separator (MSH-1) on.
bool numbers_from_separator(std::string_view name) { return name.substr(0, 3) == "MSH"; }

// One change resolved against the message. `index` holds 0-based piece
// numbers down the levels of the line: the field (the name is piece 0), the
// field repetition, the component and the sub-component; the first `depth`
// are used, and the value replaces the piece that the last one names.
struct Target {
  size_t segment; // index in the message; count + k for the k-th appended one
  size_t depth;
  uint32_t index[4];
  std::string_view name;
  std::string_view path;
  std::string_view value; // escaped: the given text itself, or a piece of a buffer
  size_t escaped_at;      // where in that buffer, or npos
  size_t escaped_size;
};

bool operator<(const Target &a, const Target &b) {
  return a.segment < b.segment ||
         (a.segment == b.segment &&
          std::lexicographical_compare(a.index, a.index + a.depth, b.index, b.index + b.depth));
}

// `outer` names the same element as `inner` or one that contains it.
bool contains(const Target &outer, const Target &inner) {
  return outer.segment == inner.segment && outer.depth <= inner.depth &&
         std::equal(outer.index, outer.index + outer.depth, inner.index);
}

// The output, written through a cursor into a buffer sized beforehand to an
// upper bound: one allocation, and no capacity checks on the way.
struct Writer {
  char *p;
  void put(std::string_view text) {
    if (!text.empty())
      std::memcpy(p, text.data(), text.size());
    p += text.size();
  }
};

// Appends `text` (a piece at `level`, cut at delimiters[level]) with the
// changes [begin, end) applied; they all lie inside it and are sorted. A piece
// missing from the text is taken as empty and reached by padding.
void rewrite(Writer &out, std::string_view text, const Delimiter *const *delimiters,
             size_t level, const Target *begin, const Target *end) {
  if (begin->depth == level) { // the piece itself (alone: conflicts were refused)
    out.put(begin->value);
    return;
  }
  const Delimiter &d = *delimiters[level];
  size_t copied = 0; // text[0, copied) is in `out`
  size_t start = 0;  // start of piece `index` in text, while `present`
  size_t index = 0;
  bool present = true;
  for (const Target *group = begin; group != end;) {
    const uint32_t want = group->index[level];
    const Target *group_end = group;
    while (group_end != end && group_end->index[level] == want)
      ++group_end;
    for (; index < want; ++index) {
      if (present) {
        const size_t hit = find_delimiter(text, d, start);
        if (hit == std::string_view::npos) {
          out.put(text.substr(copied));
          copied = text.size();
          present = false;
        } else {
          start = hit + d.size;
        }
      }
      if (!present)
        out.put(d.view());
    }
    std::string_view piece;
    if (present) {
      const size_t piece_end = std::min(find_delimiter(text, d, start), text.size());
      out.put(text.substr(copied, start - copied));
      piece = text.substr(start, piece_end - start);
      // `start` stays at this piece: the next group's search steps over it.
      copied = piece_end;
    }
    rewrite(out, piece, delimiters, level + 1, group, group_end);
    group = group_end;
  }
  if (present)
    out.put(text.substr(copied));
}

// The same for a field with one change, the common case: the element's range
// is found level by level and the field written as the text before it, any
// padding, the value and the text after it.
void rewrite_one(Writer &out, std::string_view text, const Delimiter *const *delimiters,
                 const Target &t) {
  size_t start = 0;         // the piece reached so far: text[start, end)
  size_t end = text.size();
  for (size_t level = 1; level < t.depth; ++level) {
    const Delimiter &d = *delimiters[level];
    const std::string_view within = text.substr(0, end);
    uint32_t index = 0;
    for (size_t hit; index < t.index[level]; ++index, start = hit + d.size)
      if ((hit = find_delimiter(within, d, start)) == std::string_view::npos)
        break;
    if (index < t.index[level]) { // missing: padded at the end of the piece reached
      out.put(within);
      for (; index < t.index[level]; ++index)
        out.put(d.view());
      for (size_t deeper = level + 1; deeper < t.depth; ++deeper)
        for (uint32_t k = 0; k < t.index[deeper]; ++k)
          out.put(delimiters[deeper]->view());
      out.put(t.value);
      out.put(text.substr(end));
      return;
    }
    end = std::min(find_delimiter(within, d, start), end);
  }
  out.put(text.substr(0, start));
  out.put(t.value);
  out.put(text.substr(end));
}

// Where the output's fields end (offsets from `base`), for the new index,
// written into room reserved beforehand.
struct FieldEnds {
  const char *base;
  uint32_t *p;
  void at(const Writer &out) { *p++ = static_cast<uint32_t>(out.p - base); }
  // Stored fields [from, to) of a line whose text from `copied` on has not
  // been written yet: they land where `out` stands now, plus their distance.
  void shifted(const Writer &out, size_t copied, const uint32_t *line_ends, size_t from,
               size_t to) {
    const auto shift = static_cast<uint32_t>(static_cast<size_t>(out.p - base) - copied);
    size_t k = from;
#if defined(__SSE2__)
    // Most of a message's field ends pass through here: four at a time.
    const __m128i add = _mm_set1_epi32(static_cast<int>(shift));
    for (; k + 4 <= to; k += 4, p += 4)
      _mm_storeu_si128(reinterpret_cast<__m128i *>(p),
                       _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(line_ends + k)), add));
#endif
    for (; k < to; ++k)
      *p++ = line_ends[k] + shift;
  }
};

// Appends text[copied, line_end) with the changes [begin, end) applied to its
// fields, updating `copied`, and records where every field of the new line
// ends. The line's stored fields end at `ends` (offsets in `text`), the first
// one starting at `first_start`; the changes are sorted and piece p of the
// line (p >= 1) is stored field p - 1. The fields are found through the index
// and no field separator is ever written inside a field, so the new line's
// fields end where the old ones did (shifted) or where a change or padding
// wrote them.
void rewrite_fields(Writer &out, FieldEnds &new_ends, std::string_view text, size_t &copied,
                    size_t line_end, const uint32_t *ends, size_t stored, size_t first_start,
                    const Delimiter *const *delimiters, const Target *begin, const Target *end) {
  const Delimiter &separator = *delimiters[0];
  size_t last = stored; // the last piece in the output so far, once past the stored ones
  size_t recorded = 0;  // stored fields whose end is recorded
  for (const Target *group = begin; group != end;) {
    const uint32_t piece = group->index[0];
    const Target *group_end = group;
    while (group_end != end && group_end->index[0] == piece)
      ++group_end;
    std::string_view field;
    if (piece <= stored) {
      new_ends.shifted(out, copied, ends, recorded, piece - 1);
      const size_t start = piece == 1 ? first_start : ends[piece - 2] + separator.size;
      out.put(text.substr(copied, start - copied));
      field = text.substr(start, ends[piece - 1] - start);
      copied = ends[piece - 1];
    } else {
      new_ends.shifted(out, copied, ends, recorded, stored);
      out.put(text.substr(copied, line_end - copied));
      copied = line_end;
      for (; last < piece; ++last) {
        out.put(separator.view());
        if (last + 1 < piece)
          new_ends.at(out); // an empty padding field ends where the next begins
      }
    }
    recorded = piece;
    if (group_end - group == 1)
      rewrite_one(out, field, delimiters, *group);
    else
      rewrite(out, field, delimiters, 1, group, group_end);
    new_ends.at(out);
    group = group_end;
  }
  new_ends.shifted(out, copied, ends, std::min(recorded, stored), stored);
}

} // namespace

Result<Message> edit_message(const Message &message, std::span<const Change> changes) {
  const EncodingCharacters &enc = message.enc;
  // Values written with other delimiters could not be told from the text
  // around them: the result would not read back as edited.
  if (auto error = check_delimiters(enc))
    return std::move(*error);
  SmallVector<Target, 16> pending;
  std::vector<std::string_view> appended;
  const Escaper escaper(enc);
  std::string escaped; // the values that needed escaping, one after another
  size_t value_bytes = 0;
  bool have_last = false;
  std::string_view last_name; // the segment found for the change before
  uint64_t last_repetition = 0;
  size_t last_segment = 0;
  for (const Change &change : changes) {
    EditPath p;
    if (auto error = parse_edit_path(change.path, p))
      return std::move(*error);
    Target t{0, 0, {}, p.name, change.path, {}, std::string_view::npos, 0};
    if (p.append) {
      if (numbers_from_separator(p.name))
        return value_error("An MSH segment cannot be appended", change.path);
      auto known = std::find(appended.begin(), appended.end(), p.name);
      t.segment = message.segment_count() + static_cast<size_t>(known - appended.begin());
      if (known == appended.end())
        appended.push_back(p.name);
    } else if (have_last && p.name == last_name && p.segment_repetition == last_repetition) {
      t.segment = last_segment; // changes to one segment usually come together
    } else {
      auto found = find_segment(message, p.name, p.segment_repetition);
      if (!found)
        return std::move(found).error();
      t.segment = last_segment = found.value();
      last_name = p.name;
      last_repetition = p.segment_repetition;
      have_last = true;
    }
    uint64_t field_piece = p.number[0];
    if (numbers_from_separator(p.name)) {
      if (field_piece <= 2)
        return value_error("MSH-1 and MSH-2 hold the delimiters and cannot be set", change.path);
      --field_piece;
    }
    t.index[0] = static_cast<uint32_t>(field_piece);
    t.index[1] = static_cast<uint32_t>(p.repetition);
    t.index[2] = static_cast<uint32_t>(p.number[1] - (p.numbers > 1));
    t.index[3] = static_cast<uint32_t>(p.number[2] - (p.numbers > 2));
    t.depth = p.numbers == 1 ? (p.has_repetition ? 2 : 1) : p.numbers + 1;
    if (change.value) {
      const std::string_view text = *change.value;
      if (escaper.is_plain(text)) {
        t.value = text;
      } else {
        t.escaped_at = escaped.size();
        escaper.append(escaped, text);
        t.escaped_size = escaped.size() - t.escaped_at;
      }
    }
    value_bytes += t.value.size() + t.escaped_size;
    pending.push_back(t);
  }
  const std::span<Target> targets = pending.items();
  // The buffer is complete: point the escaped values into it.
  for (Target &t : targets)
    if (t.escaped_at != std::string_view::npos)
      t.value = std::string_view(escaped).substr(t.escaped_at, t.escaped_size);

  // Changes usually come in the message's order.
  if (!std::is_sorted(targets.begin(), targets.end()))
    std::stable_sort(targets.begin(), targets.end()); // conflicts named in the given order
  for (size_t i = 1; i < targets.size(); ++i)
    if (contains(targets[i - 1], targets[i])) {
      std::string text = "Conflicting changes: '";
      text.append(targets[i - 1].path).append("' and '").append(targets[i].path).append("'");
      return Error{ErrorKind::value_error, std::move(text)};
    }

  const std::string_view raw = message.raw;
  auto stored_fields = [&](size_t i) -> size_t {
    const size_t end = i + 1 < message.segment_count() ? message.segments[i + 1].first_field
                                                        : message.field_ends.size();
    return end - message.segments[i].first_field;
  };
  // A line ends with its last field, or with its name when it has none.
  auto line_end = [&](size_t i) -> size_t {
    const SegmentEntry &e = message.segments[i];
    const size_t stored = stored_fields(i);
    return stored ? message.field_ends[e.first_field + stored - 1] : e.offset + e.name_length;
  };
  // Appended segments follow the last one, after the line break the message
  // uses after its first segment.
  std::string_view line_break = "\r";
  if (const size_t first_end = line_end(0); first_end < raw.size())
    line_break = raw.compare(first_end, 2, "\r\n") == 0 ? std::string_view("\r\n")
                                                         : std::string_view(raw).substr(first_end, 1);
  const Delimiter *const delimiters[4] = {&enc.field, &enc.repetition, &enc.component,
                                          &enc.sub_component};
  // Padding steps over at most as many delimiters as the indexes count.
  size_t bound = raw.size() + value_bytes + appended.size() * (2 + 3);
  for (const Target &t : targets)
    bound += 2 * (size_t{t.index[0]} + t.index[1] + t.index[2] + t.index[3]);
  std::string text(bound, '\0');
  Writer out{text.data()};
  const char *const base = text.data();

  // The index of the new text is built on the way, as the parser would build
  // it: an untouched segment keeps its entries, moved by the change in length
  // before it; in a changed or appended line the fields end where the old
  // ones did (moved) or where a change or padding wrote them. The delimiters
  // passed check_delimiters above: five distinct ASCII punctuation characters,
  // none a line break, and the escaper writes no delimiter but as its
  // sequence (a line feed as \X0A\ where "." is one): so padding and escaped
  // values start no line or field of their own.
  // The new index, copied with the text into the result's block at the end.
  std::vector<SegmentEntry> segments;
  std::vector<uint32_t> field_ends;
  segments.reserve(message.segment_count() + appended.size());
  // A change adds at most as many fields as its field number.
  size_t field_bound = message.field_ends.size();
  for (const Target &t : targets)
    field_bound += t.index[0] + size_t{1};
  field_ends.resize(field_bound);
  uint32_t *const field_base = field_ends.data();
  FieldEnds new_ends{base, field_base};
  auto add_segment = [&](size_t start, uint32_t name_length) {
    segments.push_back(SegmentEntry{static_cast<uint32_t>(start), name_length,
                                           static_cast<uint32_t>(new_ends.p - field_base)});
  };

  size_t copied = 0;
  const size_t count = message.segment_count();
  const size_t last_end = line_end(count - 1);
  size_t next = 0; // the first segment not yet in the new index
  // Adds the entries of the untouched segments [next, to): their text from
  // `copied` on lands where `out` stands, plus its distance from `copied`.
  auto copy_untouched = [&](size_t to) {
    if (next >= to)
      return;
    const auto shift = static_cast<uint32_t>(static_cast<size_t>(out.p - base) - copied);
    const uint32_t first_field = message.segments[next].first_field;
    const uint32_t end_field = to < count ? message.segments[to].first_field
                                          : static_cast<uint32_t>(message.field_ends.size());
    // Modulo 2**32, like the offsets themselves.
    const uint32_t field_shift = static_cast<uint32_t>(new_ends.p - field_base) - first_field;
    for (size_t k = next; k < to; ++k) {
      const SegmentEntry &e = message.segments[k];
      segments.push_back(
          SegmentEntry{e.offset + shift, e.name_length, e.first_field + field_shift});
    }
    new_ends.shifted(out, copied, message.field_ends.data(), first_field, end_field);
    next = to;
  };
  for (auto group = targets.begin(); group != targets.end();) {
    const size_t i = group->segment;
    auto group_end = group;
    while (group_end != targets.end() && group_end->segment == i)
      ++group_end;
    const Target *first = &*group;
    const Target *last = first + (group_end - group);
    group = group_end;
    if (i >= count) {
      copy_untouched(count);
      out.put(std::string_view(raw).substr(copied, last_end - copied));
      copied = last_end;
      out.put(line_break);
      add_segment(static_cast<size_t>(out.p - base), static_cast<uint32_t>(first->name.size()));
      size_t name_copied = 0;
      rewrite_fields(out, new_ends, first->name, name_copied, first->name.size(), nullptr, 0, 0,
                     delimiters, first, last);
      continue;
    }
    copy_untouched(i);
    const SegmentEntry &e = message.segments[i];
    add_segment(static_cast<size_t>(out.p - base) + (e.offset - copied), e.name_length);
    rewrite_fields(out, new_ends, raw, copied, line_end(i), message.field_ends.data() + e.first_field,
                   stored_fields(i), e.offset + e.name_length + enc.field.size, delimiters, first,
                   last);
    next = i + 1;
  }
  copy_untouched(count);
  out.put(std::string_view(raw).substr(copied));
  text.resize(static_cast<size_t>(out.p - base));
  if (!indexable(text.size()))
    throw std::bad_alloc(); // beyond the 32-bit offsets of the index
  field_ends.resize(static_cast<size_t>(new_ends.p - field_base));
  return Message(text, enc, segments, field_ends);
}

Result<std::vector<std::string>> field_values(const Message &message, std::string_view path) {
  EditPath p;
  if (auto error = parse_edit_path(path, p))
    return std::move(*error);
  if (p.has_repetition)
    return value_error("Path names a field repetition", path);
  if (p.append)
    return value_error("Invalid segment repetition", path.substr(0, path.find('-')));
  // A segment, repetition or field the message lacks has no values, as it
  // has none in a table.
  std::vector<std::string> out;
  size_t count = 0;
  const size_t found = segment_index(message, p.name, p.segment_repetition, count);
  if (found == no_segment)
    return out;
  const SegmentView segment = message.segment_at(found);
  if (p.number[0] > segment.field_count())
    return out;
  const FieldView field = segment.field_at(p.number[0] - 1);
  std::string scratch;
  auto add = [&](const FieldView &repetition) {
    if (p.numbers == 1) {
      out.emplace_back(repetition.value(scratch));
    } else if (p.number[1] > repetition.component_count()) {
      out.emplace_back();
    } else {
      const ComponentView component = repetition.component_at(p.number[1] - 1);
      if (p.numbers == 2)
        out.emplace_back(component.value(scratch));
      else if (p.number[2] > component.sub_component_count())
        out.emplace_back();
      else
        out.emplace_back(component.sub_component(p.number[2], scratch).value());
    }
  };
  if (field.repetition_count() == 0)
    add(field);
  else
    field.for_each_repetition(add);
  return out;
}

Result<std::string_view> element_text(const Message &message, std::string_view path) {
  EditPath p;
  if (auto error = parse_edit_path(path, p, true))
    return std::move(*error);
  if (p.append)
    return value_error("Invalid segment repetition", path.substr(0, path.find('-')));
  auto found = find_segment(message, p.name, p.segment_repetition);
  if (!found)
    return std::move(found).error();
  const SegmentView segment = message.segment_at(found.value());
  if (p.numbers == 0) {
    const char *end = segment.stored ? segment.base + segment.ends[segment.stored - 1]
                                     : segment.name.data() + segment.name.size();
    return std::string_view(segment.name.data(), static_cast<size_t>(end - segment.name.data()));
  }
  if (p.number[0] > segment.field_count())
    return index_out_of_range("Field", p.number[0], segment.field_count());
  FieldView field = segment.field_at(p.number[0] - 1);
  const EncodingCharacters &enc = *field.enc;
  if (p.has_repetition) {
    // A field without repetition separators is its own repetition 0.
    const size_t count = field.literal ? 1 : count_pieces(field.text, enc.repetition);
    if (p.repetition >= count)
      return Error{ErrorKind::index_error, "Field repetition " + std::to_string(p.repetition) +
                                               " not found (have " + std::to_string(count) + ")"};
    if (!field.literal)
      field.text = nth_piece(field.text, enc.repetition, p.repetition);
  }
  if (p.numbers == 1)
    return field.text;
  if (p.number[1] > field.component_count())
    return index_out_of_range("Component", p.number[1], field.component_count());
  const ComponentView component = field.component_at(p.number[1] - 1);
  if (p.numbers == 2)
    return component.text;
  if (p.number[2] > component.sub_component_count())
    return index_out_of_range("Sub-component", p.number[2], component.sub_component_count());
  return component.literal ? component.text
                           : nth_piece(component.text, enc.sub_component, p.number[2] - 1);
}

} // namespace vellomar
