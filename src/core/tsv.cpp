#include "tsv.hpp"

#include "table.hpp"

namespace vellomar {
namespace {

void append_escaped(std::string_view value, std::string &out) {
  // Values rarely hold a character to escape: one scan, then one copy.
  size_t at = value.find_first_of("\\\t\r\n");
  if (at == std::string_view::npos) {
    out.append(value);
    return;
  }
  out.append(value.substr(0, at));
  for (char c : value.substr(at)) {
    switch (c) {
    case '\\': out.append("\\\\"); break;
    case '\t': out.append("\\t"); break;
    case '\r': out.append("\\r"); break;
    case '\n': out.append("\\n"); break;
    default: out.push_back(c);
    }
  }
}

} // namespace

void append_tsv_line(const Message &message, const std::vector<TerserPath> &paths,
                     std::string &out) {
  std::string scratch;
  std::string_view value;
  SegmentView segment;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i > 0)
      out.push_back('\t');
    const TerserPath &path = paths[i];
    if (find_segment(message, path.segment, path.repetition, segment) &&
        select_value(segment, path, scratch, value))
      append_escaped(value, out);
  }
  out.push_back('\n');
}

} // namespace vellomar
