#include "terser.hpp"

#include <algorithm>
#include <bit>
#include <optional>

#include "index.hpp"

namespace vellomar {
namespace {

Error invalid_index(std::string_view what, std::string_view piece) {
  std::string message = "Invalid ";
  message.append(what).append(" index: '").append(piece).append("'");
  return Error{ErrorKind::value_error, std::move(message)};
}

// The first four pieces of a path cut at every "-"; later pieces are never
// looked at.
struct PathPieces {
  std::string_view piece[4];
  size_t count = 0;
};

PathPieces cut_path(std::string_view path) {
  PathPieces out;
  size_t start = 0;
  while (out.count < 4) {
    size_t hyphen = path.find('-', start);
    if (hyphen == std::string_view::npos) {
      out.piece[out.count++] = path.substr(start);
      break;
    }
    out.piece[out.count++] = path.substr(start, hyphen - start);
    start = hyphen + 1;
  }
  return out;
}

// Segment part: "NAME" or "NAME(rep)..."; an unreadable repetition is 0.
std::optional<Error> read_segment_part(std::string_view part, std::string_view &name,
                                       uint64_t &repetition) {
  name = part;
  repetition = 0;
  size_t open = part.find('(');
  size_t close = part.find(')');
  if (open != std::string_view::npos && close != std::string_view::npos) {
    if (close < open) {
      std::string text = "Invalid segment repetition: '";
      text.append(part).append("'");
      return Error{ErrorKind::value_error, std::move(text)};
    }
    name = part.substr(0, open);
    if (!parse_path_number(part.substr(open + 1, close - open - 1), repetition))
      repetition = 0;
  }
  return std::nullopt;
}

// Piece `index` (0-based) of `text` cut at `d`; false when it has fewer.
bool piece_at(std::string_view text, const Delimiter &d, uint64_t index, std::string_view &out) {
  size_t start = 0;
  for (uint64_t i = 0; i < index; ++i) {
    const size_t hit = find_delimiter(text, d, start);
    if (hit == std::string_view::npos)
      return false;
    start = hit + d.size;
  }
  const size_t end = find_delimiter(text, d, start);
  out = text.substr(start, end == std::string_view::npos ? end : end - start);
  return true;
}

// Component `index` (0-based) of the first repetition of `text`, for
// one-byte delimiters: one walk that stops at the component's end, where
// cutting the first repetition first read the whole field up to its first
// repetition separator; false when the repetition has fewer components.
// Not inlined: inside select_value the count lived on the stack, and each
// delimiter found waited on a store and a reload of it. Where the bytes up to
// `readable_end` may be read past the text's end (a table reading a message
// where it stands), 16 of them are compared at a time: a field is mostly
// shorter, and the byte loop cost about five instructions a byte.
[[gnu::noinline]] bool component_at(std::string_view text, char component, char repetition,
                                    uint64_t index, std::string_view &out,
                                    const char *readable_end) {
  const char *p = text.data(), *const end = p + text.size();
  const char *start = p;
#if defined(__SSE2__)
  if (readable_end) {
    const auto comp = static_cast<unsigned char>(component);
    const auto rep = static_cast<unsigned char>(repetition);
    for (; p < end && block16_before(p, readable_end); p += 16) {
      const auto *const block = reinterpret_cast<const unsigned char *>(p);
      const auto left = static_cast<size_t>(end - p);
      const uint32_t inside = first_bytes16(left);
      const uint32_t reps = equal_bytes16(block, rep) & inside;
      // Only the components before the first repetition separator count.
      const uint32_t before = reps ? (reps & (~reps + 1)) - 1 : inside;
      uint32_t comps = equal_bytes16(block, comp) & before;
      for (; comps && index; comps &= comps - 1, --index)
        start = p + std::countr_zero(comps) + 1;
      if (index == 0 && comps) {
        out = std::string_view(start, static_cast<size_t>(p + std::countr_zero(comps) - start));
        return true;
      }
      if (reps) {
        if (index != 0)
          return false;
        out = std::string_view(start, static_cast<size_t>(p + std::countr_zero(reps) - start));
        return true;
      }
    }
    p = std::min(p, end); // the last block may reach past the text
  }
#else
  (void)readable_end;
#endif
  for (; p < end && *p != repetition; ++p) {
    if (*p != component)
      continue;
    if (index == 0)
      break;
    --index;
    start = p + 1;
  }
  if (index != 0)
    return false;
  out = std::string_view(start, static_cast<size_t>(p - start));
  return true;
}

constexpr std::string_view index_names[3] = {"field", "component", "sub-component"};

} // namespace

Result<TerserPath> parse_terser_path(std::string_view path) {
  if (path.empty())
    return Error{ErrorKind::value_error, "Empty terser path"};
  const PathPieces pieces = cut_path(path);
  TerserPath out;
  std::string_view name;
  if (auto error = read_segment_part(pieces.piece[0], name, out.repetition))
    return std::move(*error);
  out.segment = std::string(name);
  out.depth = pieces.count - 1;
  for (size_t i = 0; i < out.depth; ++i)
    if (!parse_path_number(pieces.piece[i + 1], out.index[i]) || out.index[i] == 0)
      return invalid_index(index_names[i], pieces.piece[i + 1]);
  return out;
}

bool select_value(const SegmentView &segment, const TerserPath &path, std::string &scratch,
                  std::string_view &out) {
  if (path.depth == 0) {
    out = segment.name;
    return true;
  }
  if (path.index[0] > segment.field_count())
    return false;
  return select_in_field(segment.field_at(path.index[0] - 1), path, scratch, out);
}

bool select_in_field(const FieldView &field, const TerserPath &path, std::string &scratch,
                     std::string_view &out, const char *readable_end) {
  // A value of up to 16 bytes is looked at for the escape character in one
  // compare where the bytes after it may be read: for its first byte, which
  // an escape of any length holds, so a value without it holds no escape.
  auto decoded = [&](std::string_view text) {
#if defined(__SSE2__)
    if (readable_end && text.size() <= 16 &&
        block16_before(text.data(), readable_end) &&
        !(equal_bytes16(reinterpret_cast<const unsigned char *>(text.data()),
                        static_cast<unsigned char>(field.enc->escape.bytes[0])) &
          first_bytes16(text.size())))
      return text;
#endif
    return decoded_view(text, *field.enc, scratch);
  };
  if (path.depth == 1) {
    out = field.literal ? field.text : decoded(field.text);
    return true;
  }
  // A walk to the wanted piece, which is missing when the delimiters run out
  // first: one scan instead of a count and a cut.
  ComponentView component{{}, field.enc, field.literal};
  if (field.literal) {
    if (path.index[1] != 1)
      return false;
    component.text = field.text;
  } else if (field.enc->component.size == 1 && field.enc->repetition.size == 1) {
    if (!component_at(field.text, field.enc->component.bytes[0], field.enc->repetition.bytes[0],
                      path.index[1] - 1, component.text, readable_end))
      return false;
  } else if (!piece_at(field.first_repetition(), field.enc->component, path.index[1] - 1,
                       component.text)) {
    return false;
  }
  if (path.depth == 2) {
    out = component.literal ? component.text : decoded(component.text);
    return true;
  }
  if (component.literal) {
    out = component.text;
    return path.index[2] == 1;
  }
  if (!piece_at(component.text, component.enc->sub_component, path.index[2] - 1, out))
    return false;
  out = decoded_view(out, *component.enc, scratch);
  return true;
}

bool parse_path_number(std::string_view text, uint64_t &out) {
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  if (text.empty())
    return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10)
      return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

size_t segment_index(const Message &message, std::string_view name, uint64_t repetition,
                     size_t &count) {
  // One pass over the segments, stopping at the requested repetition.
  count = 0;
  const char *const raw = message.raw.data();
  for (size_t i = 0, n = message.segment_count(); i < n; ++i) {
    const SegmentEntry &e = message.segments[i];
    if (e.name_length != name.size())
      continue;
    // Names are a few bytes: compared in place, not by a call.
    size_t k = 0;
    while (k < name.size() && raw[e.offset + k] == name[k])
      ++k;
    if (k == name.size() && count++ == repetition)
      return i;
  }
  return no_segment;
}

Result<size_t> find_segment(const Message &message, std::string_view name,
                            uint64_t repetition) {
  size_t count = 0;
  const size_t index = segment_index(message, name, repetition, count);
  if (index != no_segment)
    return index;
  if (count == 0)
    return segment_not_found(name);
  std::string text = "Segment '";
  text.append(name)
      .append("' repetition ")
      .append(std::to_string(repetition))
      .append(" not found (have ")
      .append(std::to_string(count))
      .append(")");
  return Error{ErrorKind::index_error, std::move(text)};
}

Result<std::string_view> terser_get(const Message &message, std::string_view path,
                                    std::string &scratch) {
  if (path.empty())
    return Error{ErrorKind::value_error, "Empty terser path"};
  const PathPieces pieces = cut_path(path);

  std::string_view name;
  uint64_t repetition = 0;
  if (auto error = read_segment_part(pieces.piece[0], name, repetition))
    return std::move(*error);

  auto selected = find_segment(message, name, repetition);
  if (!selected)
    return std::move(selected).error();
  const SegmentView segment = message.segment_at(selected.value());
  if (pieces.count == 1)
    return segment.name;

  uint64_t number = 0;
  if (!parse_path_number(pieces.piece[1], number))
    return invalid_index("field", pieces.piece[1]);
  const size_t field_count = segment.field_count();
  if (number == 0 || number > field_count)
    return index_out_of_range("Field", number, field_count);
  const FieldView field = segment.field_at(number - 1);
  if (pieces.count == 2)
    return field.value(scratch);

  if (!parse_path_number(pieces.piece[2], number))
    return invalid_index("component", pieces.piece[2]);
  const size_t component_count = field.component_count();
  if (number == 0 || number > component_count)
    return index_out_of_range("Component", number, component_count);
  const ComponentView component = field.component_at(number - 1);
  if (pieces.count == 3)
    return component.value(scratch);

  if (!parse_path_number(pieces.piece[3], number))
    return invalid_index("sub-component", pieces.piece[3]);
  return component.sub_component(number, scratch);
}

Result<FieldView> header_field(const Message &message, uint64_t number) {
  SegmentView msh;
  if (!message.find_segment("MSH", msh))
    return segment_not_found("MSH");
  if (number == 0 || number > msh.field_count())
    return index_out_of_range("Field", number, msh.field_count());
  return msh.field_at(number - 1);
}

bool is_segment_name(std::string_view name) {
  auto name_char = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
  return name.size() == 3 && std::all_of(name.begin(), name.end(), name_char);
}

std::optional<Error> check_terser_path(std::string_view path) {
  Result<TerserPath> parsed = parse_terser_path(path);
  if (!parsed)
    return std::move(parsed).error();
  const std::string_view part = path.substr(0, path.find('-'));
  const std::string_view name = part.substr(0, part.find('('));
  if (!is_segment_name(name)) {
    std::string text = "Invalid segment name: '";
    text.append(name).append("'");
    return Error{ErrorKind::value_error, std::move(text)};
  }
  uint64_t repetition = 0;
  if (part.size() > 3 &&
      (part.back() != ')' || !parse_path_number(part.substr(4, part.size() - 5), repetition))) {
    std::string text = "Invalid segment repetition: '";
    text.append(part).append("'");
    return Error{ErrorKind::value_error, std::move(text)};
  }
  return std::nullopt;
}

} // namespace vellomar
