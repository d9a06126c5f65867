#include "batch.hpp"

#include "mllp.hpp"
#include "parser.hpp"
#include "text.hpp"

namespace vellomar {
namespace {

bool starts_with(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

bool is_envelope(std::string_view line) {
  return starts_with(line, "FHS") || starts_with(line, "BHS") ||
         starts_with(line, "BTS") || starts_with(line, "FTS");
}

// A line without the MLLP bytes that frame it: the start block where a frame
// opens the line and the end block where a frame closes it. Inside the line
// both bytes are ordinary characters.
std::string_view unframed(std::string_view line) {
  if (!line.empty() && line.front() == mllp_start_block)
    line.remove_prefix(1);
  if (!line.empty() && line.back() == mllp_end_block)
    line.remove_suffix(1);
  return line;
}

} // namespace

std::vector<std::string> split_batch(std::string_view raw) {
  std::vector<std::string> texts;
  std::string current;
  LineSplitter lines(trim_white_space(raw));
  std::string_view line;
  while (lines.next(line)) {
    line = unframed(line);
    if (line.empty() || is_envelope(line))
      continue;
    if (starts_with(line, "MSH")) {
      if (!current.empty())
        texts.push_back(std::move(current));
      current.assign(line);
      continue;
    }
    if (!current.empty())
      current.push_back('\r');
    current.append(line);
  }
  if (!current.empty())
    texts.push_back(std::move(current));
  return texts;
}

Result<std::vector<Message>> parse_batch(std::string_view raw) {
  std::vector<std::string> texts = split_batch(raw);
  std::vector<Message> messages;
  messages.reserve(texts.size());
  for (std::string &text : texts) {
    std::string_view trimmed = trim_white_space(text);
    // Only lines that stood before the first MSH line can fail this.
    if (!starts_with(trimmed, "MSH"))
      continue;
    if (trimmed.size() != text.size())
      text = std::string(trimmed);
    auto parsed = parse_message(std::move(text));
    if (!parsed)
      return Error{ErrorKind::value_error,
                   "Error parsing message in batch: " + parsed.error().message};
    messages.push_back(std::move(parsed).value());
  }
  return messages;
}

} // namespace vellomar
