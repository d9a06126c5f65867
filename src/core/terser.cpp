#include "terser.hpp"

#include <algorithm>

namespace vellomar {
namespace {

Error invalid_index(std::string_view what, std::string_view piece) {
  std::string message = "Invalid ";
  message.append(what).append(" index: '").append(piece).append("'");
  return Error{ErrorKind::value_error, std::move(message)};
}

// The decoded value of a field or component as an owned string.
template <class View> std::string owned_value(const View &view) {
  std::string scratch;
  return std::string(view.value(scratch));
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

Result<std::string> terser_get(const Message &message, std::string_view path) {
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

  // One pass over the segments: how many carry the name, and which one is
  // the requested repetition.
  size_t count = 0;
  size_t selected = 0;
  for (size_t i = 0, n = message.segment_count(); i < n; ++i) {
    if (message.segment_at(i).name == name) {
      if (count == repetition)
        selected = i;
      ++count;
    }
  }
  if (count == 0)
    return segment_not_found(name);
  if (repetition >= count) {
    std::string text = "Segment '";
    text.append(name)
        .append("' repetition ")
        .append(std::to_string(repetition))
        .append(" not found (have ")
        .append(std::to_string(count))
        .append(")");
    return Error{ErrorKind::index_error, std::move(text)};
  }
  const SegmentView segment = message.segment_at(selected);
  if (pieces.count == 1)
    return std::string(segment.name);

  uint64_t number = 0;
  if (!parse_path_number(pieces.piece[1], number))
    return invalid_index("field", pieces.piece[1]);
  const size_t field_count = segment.field_count();
  if (number == 0 || number > field_count)
    return index_out_of_range("Field", number, field_count);
  const FieldView field = segment.field_at(number - 1);
  if (pieces.count == 2)
    return owned_value(field);

  if (!parse_path_number(pieces.piece[2], number))
    return invalid_index("component", pieces.piece[2]);
  const size_t component_count = field.component_count();
  if (number == 0 || number > component_count)
    return index_out_of_range("Component", number, component_count);
  const ComponentView component = field.component_at(number - 1);
  if (pieces.count == 3)
    return owned_value(component);

  if (!parse_path_number(pieces.piece[3], number))
    return invalid_index("sub-component", pieces.piece[3]);
  return component.sub_component(number);
}

Result<FieldView> header_field(const Message &message, uint64_t number) {
  SegmentView msh;
  if (!message.find_segment("MSH", msh))
    return segment_not_found("MSH");
  if (number == 0 || number > msh.field_count())
    return index_out_of_range("Field", number, msh.field_count());
  return msh.field_at(number - 1);
}

std::optional<Error> check_terser_path(std::string_view path) {
  if (path.empty())
    return Error{ErrorKind::value_error, "Empty terser path"};
  const PathPieces pieces = cut_path(path);
  const std::string_view segment_part = pieces.piece[0];
  const std::string_view name = segment_part.substr(0, segment_part.find('('));
  auto name_char = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
  if (name.size() != 3 || !std::all_of(name.begin(), name.end(), name_char)) {
    std::string text = "Invalid segment name: '";
    text.append(name).append("'");
    return Error{ErrorKind::value_error, std::move(text)};
  }
  uint64_t number = 0;
  if (segment_part.size() > name.size() &&
      (segment_part.back() != ')' ||
       !parse_path_number(segment_part.substr(4, segment_part.size() - 5), number))) {
    std::string text = "Invalid segment repetition: '";
    text.append(segment_part).append("'");
    return Error{ErrorKind::value_error, std::move(text)};
  }
  static constexpr std::string_view what[] = {"field", "component", "sub-component"};
  for (size_t i = 1; i < pieces.count; ++i)
    if (!parse_path_number(pieces.piece[i], number))
      return invalid_index(what[i - 1], pieces.piece[i]);
  return std::nullopt;
}

} // namespace vellomar
