#include "batch.hpp"

#include <cstring>

#include "mllp.hpp"
#include "parser.hpp"
#include "text.hpp"

namespace vellomar {
namespace {

// Byte by byte: the prefixes are three letters, too short for a call to memcmp.
bool starts_with(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size())
    return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (line[i] != prefix[i])
      return false;
  return true;
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
// both bytes are ordinary characters. `at` follows the line's first byte.
std::string_view unframed(std::string_view line, uint64_t &at) {
  if (!line.empty() && line.front() == mllp_start_block) {
    line.remove_prefix(1);
    ++at;
  }
  if (!line.empty() && line.back() == mllp_end_block)
    line.remove_suffix(1);
  return line;
}

// Whether a byte can begin a White_Space character (ASCII or the lead byte of
// one of the multi-byte ones): most lines begin with a letter and are known
// to hold more than White_Space without a trim.
bool may_start_white_space(unsigned char b) {
  return (b >= 0x09 && b <= 0x0D) || b == 0x20 || b == 0xC2 || (b >= 0xE1 && b <= 0xE3);
}

size_t position_of(const char *hit, const char *begin, size_t none) {
  return hit ? static_cast<size_t>(hit - begin) : none;
}

} // namespace

void BatchCutter::feed(std::string_view chunk) {
  chunk_ = chunk;
  pos_ = 0;
  // Marked as before the start: next_break() searches on first use.
  cr_ = lf_ = 0;
  searched_ = false;
}

// The first CR or LF at or after pos_ in chunk_ (its size when none); each
// byte kind is searched for once per stretch, not once per line.
size_t BatchCutter::next_break() {
  const char *begin = chunk_.data();
  const size_t n = chunk_.size();
  if (!searched_) {
    searched_ = true;
    cr_ = position_of(static_cast<const char *>(std::memchr(begin, '\r', n)), begin, n);
    lf_ = position_of(static_cast<const char *>(std::memchr(begin, '\n', n)), begin, n);
  }
  if (cr_ < pos_)
    cr_ = position_of(static_cast<const char *>(std::memchr(begin + pos_, '\r', n - pos_)),
                      begin, n);
  if (lf_ < pos_)
    lf_ = position_of(static_cast<const char *>(std::memchr(begin + pos_, '\n', n - pos_)),
                      begin, n);
  return cr_ < lf_ ? cr_ : lf_;
}

// Copies the lines viewed in lines_ into owned_, before the bytes they view
// go away.
void BatchCutter::keep_lines() {
  for (std::string_view line : lines_) {
    if (!owned_.empty())
      owned_.push_back('\r');
    owned_.append(line);
  }
  lines_.clear();
}

// Sets `line` to the next line and `at` to its stream offset: a line as cut
// at line breaks, cut again before every frame start inside it; returns false
// when no complete line is left in what was fed.
bool BatchCutter::next_line(std::string_view &line, uint64_t &at) {
  if (!rest_.empty()) {
    line = rest_;
    at = rest_at_;
    rest_ = {};
  } else if (!next_raw_line(line, at)) {
    return false;
  }
  const size_t cut = frame_start(line, 1);
  if (cut != std::string_view::npos) {
    rest_ = line.substr(cut);
    rest_at_ = at + cut;
    line = line.substr(0, cut);
  }
  return true;
}

// Sets `line` to the next non-empty line between line breaks and `at` to its
// stream offset; returns false when no complete line is left in what was fed.
bool BatchCutter::next_raw_line(std::string_view &line, uint64_t &at) {
  while (pos_ < chunk_.size()) {
    const size_t end = next_break();
    if (end == chunk_.size())
      break;
    const size_t start = pos_;
    pos_ = end + 1;
    if (!partial_.empty() && !partial_used_) {
      partial_.append(chunk_.data() + start, end - start);
      partial_used_ = true;
      line = partial_;
      at = partial_at_;
      return true;
    }
    if (end > start) {
      line = chunk_.substr(start, end - start);
      at = base_ + start;
      return true;
    }
  }
  if (finished_) {
    // The last line of the stream needs no line end.
    if (pos_ < chunk_.size()) {
      const size_t start = pos_;
      pos_ = chunk_.size();
      if (partial_.empty() || partial_used_) {
        line = chunk_.substr(start);
        at = base_ + start;
        return true;
      }
      partial_.append(chunk_.substr(start));
    }
    if (partial_.empty() || partial_used_)
      return false;
    partial_used_ = true;
    line = partial_;
    at = partial_at_;
    return true;
  }
  // The chunk is used up: keep what its remaining bytes and views hold.
  keep_lines();
  if (partial_used_) {
    partial_.clear();
    partial_used_ = false;
  }
  if (pos_ < chunk_.size()) {
    if (partial_.empty())
      partial_at_ = base_ + pos_;
    partial_.append(chunk_.substr(pos_));
  }
  base_ += chunk_.size();
  chunk_ = {};
  pos_ = 0;
  return false;
}

bool BatchCutter::next(std::string &text, uint64_t &offset) {
  std::string_view line;
  uint64_t at = 0;
  while (next_line(line, at))
    if (take_line(line, at, text, offset))
      return true;
  if (!finished_ || closed_)
    return false;
  closed_ = true;
  // The trim at the end of the stream: White_Space after the last line that
  // holds anything else goes, and that line loses its own trailing
  // White_Space before its frame bytes are dropped.
  if (size_ == 0)
    return false;
  std::string last;
  if (last_tail_) {
    keep_lines();
    std::string_view tail(owned_);
    tail = tail.substr(last_start_, last_end_ - last_start_);
    const bool separated = last_start_ > 0;
    if (separated)
      tail.remove_prefix(1);
    tail = trim_white_space_end(tail);
    if (!tail.empty() && tail.back() == mllp_end_block)
      tail.remove_suffix(1);
    last.assign(tail);
    owned_.resize(last_start_);
    size_ = last_start_;
    if (!last.empty()) {
      lines_.push_back(last);
      size_ += last.size() + (separated ? 1 : 0);
    }
  } else if (last_end_ < size_) {
    keep_lines();
    owned_.resize(last_end_);
    size_ = last_end_;
  }
  return close_text(text, offset);
}

// Handles one line; returns true when it closed a text into `text`.
bool BatchCutter::take_line(std::string_view line, uint64_t at, std::string &text,
                            uint64_t &offset) {
  const bool blank = may_start_white_space(static_cast<unsigned char>(line.front())) &&
                     trim_white_space(line).empty();
  if (at_start_) {
    // The trim at the start of the stream.
    if (blank)
      return false;
    std::string_view trimmed = trim_white_space_start(line);
    at += line.size() - trimmed.size();
    line = trimmed;
    at_start_ = false;
  }
  const auto last = static_cast<unsigned char>(line.back());
  const bool tail = !blank && (last <= 0x20 || last >= 0x80) &&
                    trim_white_space_end(line).size() != line.size();
  line = unframed(line, at);
  if (!blank)
    last_tail_ = false;
  if (line.empty() || is_envelope(line)) {
    if (!blank)
      last_end_ = size_;
    return false;
  }
  bool closed = false;
  if (opens_message(line))
    closed = close_text(text, offset);
  if (!located_) {
    // The text's offset is that of its first byte that trimming keeps.
    std::string_view kept = may_start_white_space(static_cast<unsigned char>(line.front()))
                                ? trim_white_space_start(line)
                                : line;
    if (!kept.empty()) {
      text_at_ = at + (line.size() - kept.size());
      located_ = true;
    }
  }
  const size_t before = size_;
  size_ += line.size() + (size_ ? 1 : 0);
  lines_.push_back(line);
  if (!blank) {
    last_start_ = before;
    last_end_ = size_;
    last_tail_ = tail;
  }
  return closed;
}

// Moves the current text, if any, into `text`.
bool BatchCutter::close_text(std::string &text, uint64_t &offset) {
  if (size_ == 0)
    return false;
  if (owned_.empty()) {
    text.clear();
    text.reserve(size_);
  } else {
    text = std::move(owned_);
    owned_.clear();
    text.reserve(size_);
  }
  // Lines that stand one CR apart in the source (the common case) are
  // copied as one run.
  for (size_t i = 0; i < lines_.size();) {
    const char *begin = lines_[i].data();
    const char *end = begin + lines_[i].size();
    for (++i; i < lines_.size() && lines_[i].data() == end + 1 && *end == '\r'; ++i)
      end = lines_[i].data() + lines_[i].size();
    if (!text.empty())
      text.push_back('\r');
    text.append(begin, static_cast<size_t>(end - begin));
  }
  lines_.clear();
  size_ = 0;
  located_ = false;
  last_end_ = last_start_ = 0;
  last_tail_ = false;
  offset = text_at_;
  return true;
}

size_t frame_start(std::string_view text, size_t from) {
  for (size_t at = text.find(mllp_start_block, from); at != std::string_view::npos;
       at = text.find(mllp_start_block, at + 1))
    if (starts_with(text.substr(at + 1), "MSH"))
      return at;
  return std::string_view::npos;
}

size_t next_message_start(std::string_view data, size_t from) {
  if (from == 0)
    from = 1;
  const size_t framed = frame_start(data, from);
  // A line that opens a message before the first frame start.
  const size_t end = framed == std::string_view::npos ? data.size() : framed;
  for (size_t at = from; at < end; ++at) {
    const char before = data[at - 1];
    if ((before == '\r' || before == '\n') && opens_message(data.substr(at)))
      return at;
  }
  return framed;
}

std::vector<std::string> split_batch(std::string_view raw) {
  std::vector<std::string> texts;
  BatchCutter cutter;
  cutter.feed(raw);
  cutter.finish();
  std::string text;
  uint64_t offset = 0;
  while (cutter.next(text, offset))
    texts.push_back(std::move(text));
  return texts;
}

bool trim_message_text(std::string &text) {
  std::string_view trimmed = trim_white_space_start(text);
  // The end: White_Space and NUL bytes, and an end block just before them
  // (these stand between frames; an end block that ends a line was dropped
  // with the line's frame already).
  auto trim_end = [](std::string_view view) {
    for (;;) {
      view = trim_white_space_end(view);
      if (view.empty() || view.back() != '\0')
        return view;
      view.remove_suffix(1);
    }
  };
  std::string_view end_trimmed = trim_end(trimmed);
  if (end_trimmed.size() < trimmed.size() && !end_trimmed.empty() &&
      end_trimmed.back() == mllp_end_block)
    end_trimmed = trim_end(end_trimmed.substr(0, end_trimmed.size() - 1));
  trimmed = end_trimmed;
  if (!starts_with(trimmed, "MSH"))
    return false;
  if (trimmed.data() != text.data())
    text = std::string(trimmed);
  else
    text.resize(trimmed.size());
  return true;
}

Result<std::vector<Message>> parse_batch(std::string_view raw) {
  std::vector<Message> messages;
  BatchCutter cutter;
  cutter.feed(raw);
  cutter.finish();
  std::string text;
  uint64_t offset = 0;
  while (cutter.next(text, offset)) {
    if (!trim_message_text(text))
      continue;
    auto parsed = parse_message(std::move(text));
    if (!parsed)
      return Error{ErrorKind::value_error,
                   "Error parsing message in batch: " + parsed.error().message};
    messages.push_back(std::move(parsed).value());
  }
  return messages;
}

} // namespace vellomar
