#include "record_state.hpp"

#include "delimiters.hpp"

#include <cstdint>
#include <vector>

namespace vellomar {
namespace {

Error invalid_state() { return Error{ErrorKind::value_error, "Invalid record state"}; }

std::string header(RecordKind kind, bool literal, const EncodingCharacters &enc,
                   size_t text_size) {
  std::string out;
  out.reserve(12 + text_size);
  out.push_back(static_cast<char>(kind));
  out.push_back(literal ? '1' : '0');
  append_written(out, enc);
  return out;
}

} // namespace

std::string record_state(const Message &message) {
  std::string out;
  out.reserve(1 + message.raw.size());
  out.push_back(static_cast<char>(RecordKind::message));
  return out.append(message.raw);
}

std::string record_state(const Segment &segment) {
  const SegmentView v = segment.view();
  const char *start = v.name.data();
  const char *end = v.stored ? v.base + v.ends[v.stored - 1] : start + v.name.size();
  const auto size = static_cast<size_t>(end - start);
  return header(RecordKind::segment, false, *v.enc, size).append(start, size);
}

std::string record_state(const Field &field) {
  const FieldView v = field.view();
  return header(RecordKind::field, v.literal, *v.enc, v.text.size()).append(v.text);
}

std::string record_state(const Component &component) {
  const ComponentView v = component.view();
  return header(RecordKind::component, v.literal, *v.enc, v.text.size()).append(v.text);
}

Result<RecordState> read_record_state(std::string_view state) {
  RecordState out;
  if (state.empty())
    return invalid_state();
  const char kind = state[0];
  if (kind == static_cast<char>(RecordKind::message)) {
    out.text = state.substr(1);
    return out;
  }
  if (kind != 'S' && kind != 'F' && kind != 'C')
    return invalid_state();
  out.kind = static_cast<RecordKind>(kind);
  // (not empty: the kind was read) the kind alone, or no literal flag after it
  if (state.size() == 1 || (state[1] != '0' && state[1] != '1') ||
      (state[1] == '1' && out.kind == RecordKind::segment))
    return invalid_state();
  out.literal = state[1] == '1';
  size_t pos = 2;
  for (Delimiter *d : {&out.enc.field, &out.enc.component, &out.enc.repetition,
                       &out.enc.escape, &out.enc.sub_component})
    if (!read_written_delimiter(state, pos, *d))
      return invalid_state();
  out.text = state.substr(pos);
  return out;
}

Result<Segment> segment_of_line(std::string_view line, const EncodingCharacters &enc) {
  if (!indexable(line.size()))
    return invalid_state();
  // As the parser cuts a line: the first piece is the name, every further
  // piece a stored field, recorded by its end offset.
  std::vector<uint32_t> ends;
  size_t name_length = 0;
  bool first = true;
  cut(line, enc.field, [&](std::string_view piece) {
    const auto end = static_cast<size_t>(piece.data() - line.data()) + piece.size();
    if (first)
      name_length = end;
    else
      ends.push_back(static_cast<uint32_t>(end));
    first = false;
  });
  const SegmentView view{line.substr(0, name_length), line.data(), ends.data(),
                         ends.size(),  is_msh_line(line, !ends.empty()), &enc};
  return Segment::copy_of(view);
}

} // namespace vellomar
