// Batch files: several messages one after another, optionally wrapped in
// file and batch envelopes (FHS, BHS, ..., BTS, FTS) and in MLLP frames.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parser.hpp"
#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// Cuts a stream of bytes, fed in chunks of any size, into message texts; the
// one routine behind split_batch, parse_batch and the streaming reader, so
// that they cut alike whatever the chunk boundaries. The rules: the stream is
// trimmed of White_Space at its start, and its last text at its end as
// trim_message_text trims a text; it is split into lines at CR and LF, and
// before every start block 0x0B followed by "MSH" wherever it stands (a frame
// starts a message, as on the wire, even where its end block has no CR after
// it); a start block opening a line and an end block closing it are dropped,
// so that MLLP-framed messages can follow one another; envelope segments are
// skipped wherever they stand; every line that opens_message() starts a new
// text, and the lines of a text are joined by single carriage returns. Lines
// before the first MSH line form a text of their own.
//
// Memory: the bytes of the text being collected and of the line being
// completed; lines that lie inside the current chunk are kept as views and
// copied once, into a text of exactly the right size, when it closes.
class BatchCutter {
public:
  // Hands over the next bytes of the stream. They must stay valid and
  // unchanged until next() has returned false.
  void feed(std::string_view chunk);
  // No bytes follow: next() now also returns the last text.
  void finish() { finished_ = true; }
  // Sets `text` to the next complete text and `offset` to the stream offset
  // of its first byte that a White_Space trim keeps, and returns true;
  // returns false when the bytes fed so far hold no further complete text.
  bool next(std::string &text, uint64_t &offset);
  // The same text as a view: into the chunk fed, where the text lies there
  // as it is (lines one CR apart and nothing the line rules drop), else into
  // `buffer`, which next() above fills. The view is valid until the next
  // call of next() or feed().
  bool next(std::string_view &text, uint64_t &offset, std::string &buffer);
  // The end offsets within the text of the lines of the last text that next()
  // above viewed in the chunk (the last one is the text's size); empty when it
  // was not viewed there. Found on the way: an index need not look for them.
  std::span<const uint32_t> line_ends() const { return text_line_ends_; }

private:
  bool next_in_place(std::string_view &text, uint64_t &offset);
  bool next_raw_line(std::string_view &line, uint64_t &at);
  void load_block(size_t block);
  bool next_line(std::string_view &line, uint64_t &at);
  bool take_line(std::string_view line, uint64_t at, std::string &text, uint64_t &offset);
  bool close_text(std::string &text, uint64_t &offset);
  void keep_lines();
  size_t next_break(bool &framed);

  bool finished_ = false;
  bool closed_ = false;
  bool at_start_ = true;   // no line holding more than White_Space yet

  std::string_view chunk_;
  size_t pos_ = 0;     // first byte of chunk_ not yet cut into lines
  uint64_t base_ = 0;  // stream offset of chunk_[0]
  // The 64-byte block of chunk_ at block_ that next_break() reads: bit i of
  // line_ends_ (start_blocks_) is set when byte block_ + i is a CR or LF (a
  // start block). loaded_ is false until a block of chunk_ is read.
  size_t block_ = 0;
  uint64_t line_ends_ = 0, start_blocks_ = 0;
  bool loaded_ = false;
  bool framed_ = true;       // the last raw line may hold a start block after its first byte
  std::string partial_; // an unfinished line carried over from earlier chunks
  uint64_t partial_at_ = 0;
  bool partial_used_ = false; // partial_ was completed into a line of chunk_
  // The part of a line after a frame start inside it: the next line, a view
  // into chunk_ or partial_ like the line it was cut from.
  std::string_view rest_;
  uint64_t rest_at_ = 0;

  // The current text: `owned_` joins its lines from earlier chunks, `lines_`
  // views the later ones; `size_` is the joined size of both.
  std::string owned_;
  std::vector<std::string_view> lines_;
  size_t size_ = 0;
  uint64_t text_at_ = 0;
  bool located_ = false; // text_at_ is known: a line kept more than White_Space
  std::vector<uint32_t> text_line_ends_; // of the text next_in_place() viewed
};

// Where a message starts, the one rule of the cutter and of the splitting of
// files into ranges (vellomar's Dask reader): at a line that begins with
// "MSH", with or without a start block in front, and at a start block followed
// by "MSH" wherever it stands. A line begins after a CR or an LF. A UTF-8
// byte-order mark directly before the "MSH" (after the start block, if any)
// belongs to no message: files that each begin with one are often joined
// into one, and the mark must not hide the message after it.
//
// The number of bytes before "MSH" in a line that opens a message (a start
// block, a byte-order mark, both in that order, or none), or npos when the
// line (as the cutter cuts lines) opens none.
inline size_t message_head(std::string_view line) {
  size_t at = !line.empty() && line.front() == '\x0b' ? 1 : 0;
  if (line.size() < at + 3)
    return std::string_view::npos;
  if (line[at] == '\xEF') {
    if (line.size() < at + 6 || line[at + 1] != '\xBB' || line[at + 2] != '\xBF')
      return std::string_view::npos;
    at += 3;
  }
  return line[at] == 'M' && line[at + 1] == 'S' && line[at + 2] == 'H' ? at
                                                                      : std::string_view::npos;
}
// Whether a line opens a message.
inline bool opens_message(std::string_view line) {
  return message_head(line) != std::string_view::npos;
}
// A byte-order mark alone on a line (one before a frame's start block) is
// dropped as the mark before "MSH" is.
inline bool is_byte_order_mark(std::string_view line) { return line == "\xEF\xBB\xBF"; }
// The position of the first start block followed by "MSH" (or by a
// byte-order mark and "MSH") at or after `from`
// in `text`, or npos: where the cutter ends a line that does not end at a
// line break.
size_t frame_start(std::string_view text, size_t from);
// The first position p >= max(from, 1) of `data` at which a message starts,
// judged by the bytes from data[p - 1] on (a line end before it, or none);
// npos when none does before the end of `data`. A start whose bytes run past
// the end of `data` is not found: a caller reading a stream in pieces keeps
// the last four bytes of one piece in front of the next.
size_t next_message_start(std::string_view data, size_t from);

// The text of one message's bytes `data` (a frame's or a file's) as the
// cutter reads it: without a byte-order mark before its MSH, or before or
// after its frame's start block (the start block stays: the parser takes a
// frame whole). `kept` holds the text where it must be copied.
std::string_view one_message_text(std::string_view data, std::string &kept);

// Cuts a whole batch into message texts.
std::vector<std::string> split_batch(std::string_view raw);

// Makes a text of the cutter ready to parse: trims the view of White_Space, and at
// its end of NUL bytes too and of an end block just before what is trimmed
// there (the bytes that stand between frames in a capture), and returns
// whether it begins with "MSH". Only the text of the lines before
// the first MSH line can fail, and it is then skipped.
bool trim_message_text(std::string_view &text);

// Parses every message of a batch, in order, and hands each to `take`
// (called with a Message &&) as soon as it is parsed, while its bytes are
// still in the cache; `take` returns false to stop there (the caller keeps
// its own reason). The first message that fails stops the batch with
// ValueError "Error parsing message in batch: " followed by the parser's
// error text.
template <class Take> std::optional<Error> parse_batch_each(std::string_view raw, Take &&take) {
  BatchCutter cutter;
  cutter.feed(raw);
  cutter.finish();
  std::string_view text;
  std::string buffer;
  uint64_t offset = 0;
  while (cutter.next(text, offset, buffer)) {
    if (!trim_message_text(text))
      continue;
    // Copied once, into the message's own text of the right size.
    auto parsed = parse_message(text);
    if (!parsed)
      return Error{ErrorKind::value_error,
                   "Error parsing message in batch: " + parsed.error().message};
    if (!take(std::move(parsed).value()))
      break;
  }
  return std::nullopt;
}

} // namespace vellomar
