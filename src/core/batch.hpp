// Batch files: several messages one after another, optionally wrapped in
// file and batch envelopes (FHS, BHS, ..., BTS, FTS) and in MLLP frames.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// Cuts a stream of bytes, fed in chunks of any size, into message texts; the
// one routine behind split_batch, parse_batch and the streaming reader, so
// that they cut alike whatever the chunk boundaries. The rules: the stream is
// trimmed of White_Space and split into lines at CR and LF; a start block
// 0x0B opening a line and an end block 0x1C closing it are dropped, so that
// MLLP-framed messages can follow one another; envelope segments are skipped
// wherever they stand; every line beginning with "MSH" starts a new text, and
// the lines of a text are joined by single carriage returns. Lines before the
// first MSH line form a text of their own.
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
  // of its first byte that a White_Space trim keeps, and returns true; returns false when the bytes fed so
  // far hold no further complete text.
  bool next(std::string &text, uint64_t &offset);

private:
  bool next_line(std::string_view &line, uint64_t &at);
  bool take_line(std::string_view line, uint64_t at, std::string &text, uint64_t &offset);
  bool close_text(std::string &text, uint64_t &offset);
  void keep_lines();
  size_t next_break();

  bool finished_ = false;
  bool closed_ = false;
  bool at_start_ = true;   // no line holding more than White_Space yet

  std::string_view chunk_;
  size_t pos_ = 0;     // first byte of chunk_ not yet cut into lines
  uint64_t base_ = 0;  // stream offset of chunk_[0]
  size_t cr_ = 0, lf_ = 0; // next CR and LF at or after pos_ (cached)
  bool searched_ = false;   // cr_ and lf_ hold search results for chunk_
  std::string partial_; // an unfinished line carried over from earlier chunks
  uint64_t partial_at_ = 0;
  bool partial_used_ = false; // partial_ was completed into a line of chunk_

  // The current text: `owned_` joins its lines from earlier chunks, `lines_`
  // views the later ones; `size_` is the joined size of both.
  std::string owned_;
  std::vector<std::string_view> lines_;
  size_t size_ = 0;
  uint64_t text_at_ = 0;
  bool located_ = false; // text_at_ is known: a line kept more than White_Space

  // The trim at the end of the stream reaches back to the last line that
  // holds more than White_Space: the current text is cut back to just after
  // it, and when that line ended in White_Space its own trimmed form (which
  // may lose an end block) is put in place of what was appended.
  size_t last_end_ = 0;  // size_ just after that line
  size_t last_start_ = 0; // size_ before it, separator included
  bool last_tail_ = false; // it was appended and ended in White_Space
};

// Cuts a whole batch into message texts.
std::vector<std::string> split_batch(std::string_view raw);

// Makes a text of the cutter ready to parse: trims it of White_Space and
// returns whether it begins with "MSH". Only the text of the lines before
// the first MSH line can fail, and it is then skipped.
bool trim_message_text(std::string &text);

// Parses every message of a batch, in order; the first message that fails stops the batch with
// ValueError "Error parsing message in batch: " followed by the parser's
// error text.
Result<std::vector<Message>> parse_batch(std::string_view raw);

} // namespace vellomar
