// Timestamps: parse_date, parse_datetime, split_timezone and the White_Space
// trim on arbitrary bytes.
//
// Oracles: results are in range (a checked date and clock, a microsecond
// below one million, an offset within a day); every failure is a ValueError
// with one of the documented texts; on valid UTF-8 the results and error
// texts equal those of the reference model.
#include <string>
#include <string_view>

#include "check.hpp"
#include "reference.hpp"
#include "text.hpp"
#include "timestamp.hpp"

using namespace vellomar;
using fuzz::show;

namespace {

bool starts(const std::string &text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size);

  std::string_view trimmed = trim_white_space(raw);
  FUZZ_CHECK(trimmed.data() >= raw.data() &&
                 trimmed.data() + trimmed.size() <= raw.data() + raw.size(),
             show(raw));
  FUZZ_CHECK(trim_white_space(trimmed) == trimmed, show(raw));
  SplitTimestamp split = split_timezone(raw);
  FUZZ_CHECK(split.body.data() == trimmed.data() && split.body.size() <= trimmed.size(),
             show(raw));
  FUZZ_CHECK(split.offset_minutes.has_value() ==
                 (split.body.size() + 5 == trimmed.size()),
             show(raw));

  auto date = parse_date(raw);
  if (!date) {
    const std::string &text = date.error().message;
    FUZZ_CHECK(date.error().kind == ErrorKind::value_error, text);
    FUZZ_CHECK(starts(text, "Timestamp too short for date: '") ||
                   starts(text, "Invalid year in '") ||
                   starts(text, "Invalid month in '") || starts(text, "Invalid day in '"),
               show(text));
  } else {
    const DateParts &d = date.value();
    FUZZ_CHECK(d.year >= -999 && d.year <= 9999 && d.month >= 0 && d.month <= 99 &&
                   d.day >= 0 && d.day <= 99,
               show(raw));
  }

  auto datetime = parse_datetime(raw);
  if (!datetime) {
    const std::string &text = datetime.error().message;
    FUZZ_CHECK(datetime.error().kind == ErrorKind::value_error, text);
    FUZZ_CHECK(starts(text, "Timestamp too short: '") ||
                   starts(text, "Invalid year in '") || starts(text, "Invalid date: ") ||
                   starts(text, "Invalid time: ") ||
                   starts(text, "Invalid timezone offset: "),
               show(text));
  } else {
    const DateTimeParts &t = datetime.value();
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                   t.day <= days[t.month - 1] && t.hour >= 0 && t.hour <= 23 &&
                   t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59 &&
                   t.microsecond >= 0 && t.microsecond <= 999999,
               show(raw));
    FUZZ_CHECK(!t.offset_minutes ||
                   (*t.offset_minutes >= -1439 && *t.offset_minutes <= 1439),
               show(raw));
  }

  if (!fuzz::valid_utf8(raw))
    return 0;
  FUZZ_CHECK(trimmed == fuzz::ref::trim(raw), show(raw));

  std::string error;
  auto expected_date = fuzz::ref::parse_date(raw, error);
  if (expected_date) {
    FUZZ_CHECK(date.ok() && date.value().year == expected_date->year &&
                   date.value().month == expected_date->month &&
                   date.value().day == expected_date->day,
               show(raw));
  } else {
    FUZZ_CHECK(!date.ok() && date.error().message == error,
               show(raw) + " expected " + show(error));
  }

  error.clear();
  auto expected = fuzz::ref::parse_datetime(raw, error);
  if (expected) {
    FUZZ_CHECK(datetime.ok(),
               show(raw) + " failed with " + show(datetime.error().message));
    const DateTimeParts &t = datetime.value();
    FUZZ_CHECK(t.year == expected->year && t.month == expected->month &&
                   t.day == expected->day && t.hour == expected->hour &&
                   t.minute == expected->minute && t.second == expected->second &&
                   t.microsecond == expected->microsecond &&
                   t.offset_minutes == expected->offset,
               show(raw));
  } else {
    FUZZ_CHECK(!datetime.ok() && datetime.error().message == error,
               show(raw) + " expected " + show(error));
  }
  return 0;
}
