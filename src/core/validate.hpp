// Validation of a message against the HL7 definitions of its version: the
// order and cardinality of its segments and groups, required fields, field
// repetitions, primitive formats (NM, SI, DT, TM, DTM and the time stamp of
// TS), ID and IS values against their HL7 tables, and primitive lengths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "definitions.hpp"
#include "records.hpp"
#include "structure.hpp"

namespace vellomar {

// One finding. `code` is from HL7 table 0357 (100 segment sequence, 101
// required field missing, 102 data type, 103 table value not found, 104
// value too long, 200/201/203 unsupported message type, event, version).
struct Finding {
  bool error; // else a warning
  uint16_t code;
  std::string location; // a path: "PID-7", "OBX(2)-5-1", "/PATIENT_RESULT/ORDER_OBSERVATION(1)/OBR"
  std::string text;
  std::string_view name; // the element's name in the definitions (which outlive it), or empty
};

// The findings for `message`, read as `version` when it is not empty (else
// as its MSH-12 says), in message order. Never fails: a message that breaks
// every rule still yields its findings. A version the definitions do not
// hold and a message type beginning with Z (a site's own) are warnings,
// errors when `strict`.
std::vector<Finding> validate_message(const Definitions &defs, const Message &message,
                                      std::string_view version, bool strict = false);
// The same, appended to `out` (a caller validating message after message
// clears one vector and keeps its room).
void validate_message(const Definitions &defs, const Message &message, std::string_view version,
                      bool strict, std::vector<Finding> &out);

// The path of a group occurrence: "/PATIENT_RESULT/ORDER_OBSERVATION(1)", ""
// for the message itself; repetitions 0-based and left out when 0.
std::string group_path(const MessageStructure &structure, uint32_t node);

} // namespace vellomar
