// Timestamps: the White_Space trim, split_timezone, parse_date and
// parse_datetime on arbitrary bytes. Oracles: the trim stays inside its input
// and is idempotent; results are in range (a valid calendar date and clock, an
// offset within a day); every failure is a ValueError with a documented text.
#include <string>

#include "check.hpp"
#include "text.hpp"
#include "timestamp.hpp"

using namespace vellomar;

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size), trimmed = trim_white_space(raw);
  FUZZ_CHECK(trimmed.data() >= raw.data() && trimmed.data() + trimmed.size() <= raw.data() + raw.size(), raw);
  FUZZ_CHECK(trim_white_space(trimmed) == trimmed, raw);
  SplitTimestamp split = split_timezone(raw);
  FUZZ_CHECK(split.body.data() == trimmed.data() &&
                 split.offset_minutes.has_value() == (split.body.size() + 5 == trimmed.size()), raw);
  auto starts = [](const Error &e, std::initializer_list<std::string_view> texts) {
    bool found = false;
    for (auto t : texts)
      found = found || e.message.starts_with(t);
    return found && e.kind == ErrorKind::value_error;
  };
  auto date = parse_date(raw);
  FUZZ_CHECK(date ? (date.value().year >= -999 && date.value().year <= 9999 && date.value().month >= 0 &&
                     date.value().month <= 99 && date.value().day >= 0 && date.value().day <= 99)
                  : starts(date.error(), {"Timestamp too short for date: '", "Invalid year in '", "Invalid month in '",
                                          "Invalid day in '"}), raw);
  auto stamp = parse_datetime(raw);
  if (!stamp) {
    FUZZ_CHECK(starts(stamp.error(), {"Timestamp too short: '", "Invalid year in '", "Invalid date: ",
                                      "Invalid time: ", "Invalid timezone offset: "}), stamp.error().message);
    return 0;
  }
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const DateTimeParts &t = stamp.value();
  FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= days[t.month - 1] && t.hour >= 0 &&
                 t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59 &&
                 t.microsecond >= 0 && t.microsecond <= 999999 &&
                 (!t.offset_minutes || (*t.offset_minutes >= -1439 && *t.offset_minutes <= 1439)), raw);
  return 0;
}
