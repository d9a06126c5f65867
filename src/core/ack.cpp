#include "ack.hpp"

namespace vellomar {

Result<std::string> make_ack(const Message &message, std::string_view ack_code,
                             std::string_view text, std::string_view timestamp) {
  SegmentView msh;
  if (!message.find_segment("MSH", msh))
    return segment_not_found("MSH");

  // Raw text of MSH-`number`, or `fallback` when the header is shorter. MSH-1
  // is the field separator itself.
  auto raw_field = [&](size_t number, std::string_view fallback) {
    return number <= msh.field_count() ? msh.field_at(number - 1).text : fallback;
  };
  const std::string_view separator = raw_field(1, "|");
  const std::string_view encoding = raw_field(2, "^~\\&");
  const std::string_view sending_application = raw_field(3, "");
  const std::string_view sending_facility = raw_field(4, "");
  const std::string_view receiving_application = raw_field(5, "");
  const std::string_view receiving_facility = raw_field(6, "");
  const std::string_view control_id = raw_field(10, "");
  const std::string_view version = raw_field(12, "2.5");

  const std::string_view parts[] = {
      "MSH", separator, encoding, separator, receiving_application, separator,
      receiving_facility, separator, sending_application, separator,
      sending_facility, separator, timestamp, separator, separator, "ACK", separator,
      "ACK", control_id, separator, "P", separator, version, "\r", "MSA", separator,
      ack_code, separator, control_id, separator, text};
  size_t size = 0;
  for (std::string_view part : parts)
    size += part.size();
  std::string out;
  out.reserve(size);
  for (std::string_view part : parts)
    out.append(part);
  return out;
}

} // namespace vellomar
