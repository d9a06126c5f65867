// The text of an acknowledgement (ACK) for a parsed message.
#pragma once

#include <string>
#include <string_view>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// The ACK for `message`: an MSH segment with sender and receiver swapped, a
// carriage return, and "MSA|{ack_code}|{control id}|{text}", with no line end
// after it. Fields taken from the first MSH segment (MSH-1 to MSH-6, MSH-10,
// MSH-12) are copied as their raw, undecoded text, so the escape sequences of
// the incoming message stay escape sequences; a field the header lacks takes
// its default ("|", "^~\&", empty, "2.5"). `ack_code` and `text` are written
// verbatim, and `timestamp` (the caller's clock, "%Y%m%d%H%M%S") is MSH-7.
// Fails only with KeyError "Segment 'MSH' not found".
Result<std::string> make_ack(const Message &message, std::string_view ack_code,
                             std::string_view text, std::string_view timestamp);

} // namespace vellomar
