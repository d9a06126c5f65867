// Batch files: several messages one after another, optionally wrapped in
// file and batch envelopes (FHS, BHS, ..., BTS, FTS) and in MLLP frames.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// Cuts a batch into message texts: the input is trimmed of White_Space and
// split into lines at CR and LF; a start block 0x0B opening a line and an end
// block 0x1C closing it are dropped, so that MLLP-framed messages can follow
// one another; envelope segments are skipped wherever they stand; every line
// beginning with "MSH" starts a new text, and the lines of a text are joined
// by single carriage returns. Lines before the first MSH line form a text of
// their own.
std::vector<std::string> split_batch(std::string_view raw);

// Parses every message of a batch, in order. A text that does not begin with
// "MSH" after trimming is dropped; the first message that fails stops the
// batch with ValueError "Error parsing message in batch: " followed by the
// parser's error text.
Result<std::vector<Message>> parse_batch(std::string_view raw);

} // namespace vellomar
