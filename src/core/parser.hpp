// The message parser: text of one HL7 v2 message to its record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// The names of the segments whose fields a reader looks up, MSH among them.
using SegmentNames = std::vector<std::string>;

// Parses one message, removing an MLLP frame first. Fails (ValueError) with
// one of "Empty message", "No segments found", "Message must start with MSH
// segment, got: '...'" and "MSH segment too short to extract encoding
// characters", checked in that order. Any text that passes them parses. The
// message owns a copy of the text inside the frame. For a reader that looks
// up only the segments `only` names (when not null), the others are indexed
// as segments without fields.
Result<Message> parse_message(std::string_view raw, const SegmentNames *only = nullptr);

} // namespace vellomar
