// The message parser: text of one HL7 v2 message to its record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// Parses one message, removing an MLLP frame first. Fails (ValueError) with
// one of "Empty message", "No segments found", "Message must start with MSH
// segment, got: '...'" and "MSH segment too short to extract encoding
// characters", checked in that order. Any text that passes them parses.
Result<Message> parse_message(std::string_view raw);

// The same, taking over `raw` as the message's raw text instead of copying
// it (unless a frame has to be cut off).
Result<Message> parse_message(std::string &&raw);

// The names of the segments whose fields a reader looks up, MSH among them.
using SegmentNames = std::vector<std::string>;

// The same, for a reader that looks up only the segments `only` names: the
// others are indexed as segments without fields (null unless `only` is).
Result<Message> parse_message(std::string &&raw, const SegmentNames *only);

} // namespace vellomar
