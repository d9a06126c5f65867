#include "batch.hpp"

#include "mllp.hpp"
#include "parser.hpp"
#include "text.hpp"

namespace vellomar {
namespace {

bool starts_with(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

// FHS, BHS, BTS and FTS lines are dropped wherever they stand.
bool is_envelope(std::string_view line) {
  if (line.size() < 3 || (line[0] != 'F' && line[0] != 'B'))
    return false;
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
  // The lines of the message being collected, joined by carriage returns into
  // one string of exactly the right size when the next MSH line (or the end)
  // closes it.
  std::vector<std::string_view> lines;
  auto close_message = [&] {
    if (lines.empty())
      return;
    size_t size = lines.size() - 1;
    for (std::string_view line : lines)
      size += line.size();
    std::string text;
    text.reserve(size);
    for (std::string_view line : lines) {
      if (!text.empty())
        text.push_back('\r');
      text.append(line);
    }
    texts.push_back(std::move(text));
    lines.clear();
  };
  LineSplitter splitter(trim_white_space(raw));
  std::string_view line;
  while (splitter.next(line)) {
    line = unframed(line);
    if (line.empty() || is_envelope(line))
      continue;
    if (starts_with(line, "MSH"))
      close_message();
    lines.push_back(line);
  }
  close_message();
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
