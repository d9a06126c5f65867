#include "batch.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "index.hpp"
#include "mllp.hpp"
#include "parser.hpp"
#include "roads.hpp"
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
[[gnu::always_inline]] inline bool is_envelope(std::string_view line) {
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

// The end of a text without what stands between frames: White_Space and NUL
// bytes, and an end block just before them (an end block that ends a line
// goes with the line's frame). Trimming twice trims as much as once.
std::string_view trim_text_end(std::string_view text) {
  auto trim = [](std::string_view view) {
    for (;;) {
      view = trim_white_space_end(view);
      if (view.empty() || view.back() != '\0')
        return view;
      view.remove_suffix(1);
    }
  };
  std::string_view trimmed = trim(text);
  if (trimmed.size() < text.size() && !trimmed.empty() && trimmed.back() == mllp_end_block)
    trimmed = trim(trimmed.substr(0, trimmed.size() - 1));
  return trimmed;
}

// The control bytes (0x00 to 0x1F) of a block of at most 64 that
// next_in_place() looks at: bit i is set when block[i] is one. The bytes the
// line rules act on (CR, LF, start block, end block) are all control bytes,
// and nearly every control byte of a message is a CR: one compare a lane
// finds them all, and the byte behind each bit tells which it is.
#if defined(__SSE2__)
[[gnu::always_inline]] inline uint64_t control_lane(const unsigned char *block, int k) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * k));
  return static_cast<uint64_t>(static_cast<uint32_t>(
             _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v))))
         << (16 * k);
}
#endif

[[gnu::always_inline]] inline uint64_t control_bytes(const unsigned char *block, size_t len) {
#if defined(__SSE2__)
  // Four 16-byte lanes, written out: the compiler kept a counted loop.
  if (len == 64)
    return control_lane(block, 0) | control_lane(block, 1) | control_lane(block, 2) |
           control_lane(block, 3);
#endif
  uint64_t out = 0;
  for (size_t i = 0; i != len; ++i)
    if (block[i] <= 0x1F)
      out |= uint64_t{1} << i;
  return out;
}

} // namespace

void BatchCutter::feed(std::string_view chunk) {
  chunk_ = chunk;
  pos_ = 0;
  loaded_ = false; // next_break() reads its first block on first use
}

// Reads the 64-byte block of chunk_ from `block` on (fewer at its end) into
// the masks of its line ends and start blocks.
void BatchCutter::load_block(size_t block) {
  const SpecialBytes found =
      special_bytes(reinterpret_cast<const unsigned char *>(chunk_.data()) + block,
                    std::min<size_t>(64, chunk_.size() - block), mllp_start_block, block);
  block_ = block;
  line_ends_ = found.lines;
  start_blocks_ = found.separators;
  loaded_ = true;
}

// The first CR or LF at or after pos_ (< chunk_.size()) in chunk_, or its size
// when none; `framed` tells whether a start block lies after pos_ and before
// it. The bytes are read 64 at a time, once each, for both kinds: lines are
// short, and a call to memchr per line (and another per kind) costs more
// than the search itself.
size_t BatchCutter::next_break(bool &framed) {
  const size_t n = chunk_.size();
  size_t block = pos_ & ~size_t{63};
  if (!loaded_ || block != block_)
    load_block(block);
  uint64_t at_or_after = ~uint64_t{0} << (pos_ - block);
  uint64_t after = at_or_after << 1;
  framed = false;
  for (;;) {
    const uint64_t ends = line_ends_ & at_or_after;
    if (ends) {
      const uint64_t before_end = (ends & (~ends + 1)) - 1;
      framed = framed || (start_blocks_ & after & before_end) != 0;
      return block + static_cast<size_t>(std::countr_zero(ends));
    }
    framed = framed || (start_blocks_ & after) != 0;
    block += 64;
    if (block >= n)
      return n;
    load_block(block);
    at_or_after = after = ~uint64_t{0};
  }
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
  } else {
    framed_ = true; // unless next_raw_line knows better
    if (!next_raw_line(line, at))
      return false;
  }
  const size_t cut = framed_ ? frame_start(line, 1) : std::string_view::npos;
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
  bool framed = true;
  while (pos_ < chunk_.size()) {
    const size_t end = next_break(framed);
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
      framed_ = framed;
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
        framed_ = framed; // of the last search, from this line's start to the end
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
  if (partial_.empty()) // (pos_ is at most the chunk's size)
    partial_at_ = base_ + pos_;
  partial_.append(chunk_.substr(pos_));
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
  // The trim at the end of the stream: the last text loses its end as
  // trim_message_text trims it (White_Space, NUL bytes and an end block
  // before them), whole and not line by line, so that a stream cut at a
  // message start gives the texts of the whole.
  if (!close_text(text, offset))
    return false;
  text.resize(trim_text_end(text).size());
  return !text.empty();
}

bool BatchCutter::next(std::string_view &text, uint64_t &offset, std::string &buffer) {
  if (next_in_place(text, offset))
    return true;
  text_line_ends_.clear();
  if (!next(buffer, offset))
    return false;
  text = buffer;
  return true;
}

// The common layout, cut without going line by line: the current text is
// its MSH line alone, viewed in the chunk just before the CR at pos_ - 1, and
// its other lines follow one CR apart up to a line that opens a message, with
// no LF, start block, end block, empty line or envelope line among them.
// Those lines are then exactly the text that take_line() and close_text()
// would join, so the text is viewed where it stands, and the next text is
// left as take_line() leaves it: its MSH line alone in lines_. Anything else
// (including a text that reaches the end of the chunk) returns false with the
// state untouched, and the line by line road handles it.
bool BatchCutter::next_in_place(std::string_view &text, uint64_t &offset) {
  if (lines_.size() != 1 || !owned_.empty() || !rest_.empty() || pos_ == 0)
    return false;
  const char *const data = chunk_.data();
  const size_t n = chunk_.size();
  const std::string_view head = lines_[0];
  if (head.data() < data || head.data() + head.size() != data + pos_ - 1 ||
      data[pos_ - 1] != '\r')
    return false;
  size_t text_end = std::string_view::npos;
  // Reads the line after the CR at `cr`: false where the fast road cannot
  // go on; else notes where the text ends when the line opens a message.
  auto line_after = [&](size_t cr) {
    // A line that begins with a non-ASCII byte may be a byte-order mark
    // before MSH, which the line road drops.
    if (cr + 4 > n || data[cr + 1] == '\r' || data[cr + 1] == '\xEF')
      return false;
    const std::string_view line = chunk_.substr(cr + 1, 3);
    if (is_envelope(line))
      return false;
    if (opens_message(line))
      text_end = cr;
    return true;
  };
  if (!line_after(pos_ - 1))
    return false;
  text_line_ends_.assign(1, static_cast<uint32_t>(data + pos_ - 1 - head.data()));
  for (size_t p = pos_; p < n; p += 64) {
    uint64_t controls =
        control_bytes(reinterpret_cast<const unsigned char *>(data) + p, std::min<size_t>(64, n - p));
    for (; controls; controls &= controls - 1) {
      const size_t cr = p + static_cast<size_t>(std::countr_zero(controls));
      if (data[cr] != '\r') {
        // An LF or a frame byte is for the line road; another control byte
        // (a tab) is text.
        if (data[cr] == '\n' || data[cr] == mllp_start_block || data[cr] == mllp_end_block)
          return false;
        continue;
      }
      if (text_end != std::string_view::npos) {
        // The end of the next text's MSH line.
        text = std::string_view(head.data(), static_cast<size_t>(data + text_end - head.data()));
        offset = text_at_;
        lines_[0] = chunk_.substr(text_end + 1, cr - text_end - 1);
        size_ = lines_[0].size();
        text_at_ = base_ + text_end + 1;
        located_ = true;
        pos_ = cr + 1;
        took(Road::batch_in_place);
        return true;
      }
      text_line_ends_.push_back(static_cast<uint32_t>(data + cr - head.data()));
      if (!line_after(cr))
        return false;
    }
  }
  return false;
}

// Handles one line; returns true when it closed a text into `text`.
bool BatchCutter::take_line(std::string_view line, uint64_t at, std::string &text,
                            uint64_t &offset) {
  if (at_start_) {
    // The trim at the start of the stream.
    if (may_start_white_space(static_cast<unsigned char>(line.front())) &&
        trim_white_space(line).empty())
      return false;
    std::string_view trimmed = trim_white_space_start(line);
    at += line.size() - trimmed.size();
    line = trimmed;
    at_start_ = false;
  }
  line = unframed(line, at);
  if (line.empty() || is_envelope(line) || is_byte_order_mark(line))
    return false;
  bool closed = false;
  if (const size_t head = message_head(line); head != std::string_view::npos) {
    line.remove_prefix(head); // a byte-order mark
    at += head;
    closed = close_text(text, offset);
  }
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
  size_ += line.size() + (size_ ? 1 : 0);
  lines_.push_back(line);
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
  offset = text_at_;
  return true;
}

std::string_view one_message_text(std::string_view data, std::string &kept) {
  if (data.size() > 3 && is_byte_order_mark(data.substr(0, 3)) && data[3] == '\x0b')
    data.remove_prefix(3); // a mark before the frame, as on a line of its own
  const size_t head = message_head(data);
  if (head == std::string_view::npos || head == 0)
    return data;
  if (data.front() != '\x0b')
    return data.substr(head);
  if (head == 1)
    return data;
  kept.assign(1, '\x0b').append(data.substr(head));
  return kept;
}

size_t frame_start(std::string_view text, size_t from) {
  for (size_t at = text.find(mllp_start_block, from); at != std::string_view::npos;
       at = text.find(mllp_start_block, at + 1))
    if (opens_message(text.substr(at)))
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

bool trim_message_text(std::string_view &text) {
  text = trim_text_end(trim_white_space_start(text));
  return starts_with(text, "MSH");
}

} // namespace vellomar
