// The state of a record as one compact text from which an equal record is
// rebuilt, for pickling.
//
// A message's state is "M" followed by its raw text: raw is the text after
// frame removal, and it never begins with a start block byte (its first line
// begins with "MSH"), so parsing it again gives the same tree.
//
// A segment, field or component keeps its own raw text and its message's five
// encoding characters, without which the text cannot be cut: a kind letter
// ("S", "F" or "C"), "1" for the literal MSH-1 field or component and "0"
// otherwise, the five characters in their UTF-8 form, then the text.
#pragma once

#include <string>
#include <string_view>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

std::string record_state(const Message &message);
std::string record_state(const Segment &segment);
std::string record_state(const Field &field);
std::string record_state(const Component &component);

enum class RecordKind : char {
  message = 'M',
  segment = 'S',
  field = 'F',
  component = 'C'
};

// A state taken apart; `text` points into the state that was read.
struct RecordState {
  RecordKind kind = RecordKind::message;
  bool literal = false;
  EncodingCharacters enc;
  std::string_view text;
};

// Fails (ValueError "Invalid record state") for a text that no record_state
// call can have written.
Result<RecordState> read_record_state(std::string_view state);

// The segment of one line cut with `enc`, as the parser makes it. Fails
// (ValueError "Invalid record state") for a line too long for the record.
Result<Segment> segment_of_line(std::string_view line, const EncodingCharacters &enc);

} // namespace vellomar
