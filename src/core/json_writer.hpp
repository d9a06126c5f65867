// The JSON text of a whole message: every member of every record, indented by
// two spaces, the same text that Python's
// json.dumps(value, indent=2, ensure_ascii=False) gives for the equivalent
// nested dicts and lists.
//
//   Message   {"raw", "segments"}
//   Segment   {"name", "fields"}
//   Field     {"value", "components", "repetitions"}  (all always present)
//   Component {"value", "sub_components"}
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "records.hpp"

namespace vellomar {

// Writes the message in one pass into one buffer. Never fails: the records
// hold valid UTF-8 only, so every value can be written. Strings escape the
// quotation mark and backslash with a backslash, use \b \t \n \f \r, write
// any other byte below 0x20 as \u00xx (lower-case hex) and everything else,
// "/" and U+007F included, as it is.
struct JsonText {
  std::unique_ptr<char[]> data;
  size_t size = 0;
  bool ascii = true; // no byte of 0x80 or above: the text is its own Latin-1 form
  std::string_view view() const { return {data.get(), size}; }
};
JsonText write_message_json(const Message &message);

} // namespace vellomar
