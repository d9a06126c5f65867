#include "terser.hpp"

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

} // namespace

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

Result<size_t> find_segment(const Message &message, std::string_view name,
                            uint64_t repetition) {
  // One pass over the segments, stopping at the requested repetition; the
  // count of those carrying the name is needed only when there is none.
  size_t count = 0;
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

  // Segment part: "NAME" or "NAME(rep)..."; an unreadable repetition is 0.
  std::string_view segment_part = pieces.piece[0];
  std::string_view name = segment_part;
  uint64_t repetition = 0;
  size_t open = segment_part.find('(');
  size_t close = segment_part.find(')');
  if (open != std::string_view::npos && close != std::string_view::npos) {
    if (close < open) {
      std::string text = "Invalid segment repetition: '";
      text.append(segment_part).append("'");
      return Error{ErrorKind::value_error, std::move(text)};
    }
    name = segment_part.substr(0, open);
    if (!parse_path_number(segment_part.substr(open + 1, close - open - 1), repetition))
      repetition = 0;
  }

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

} // namespace vellomar
