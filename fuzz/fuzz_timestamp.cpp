// Timestamps: the White_Space trim, split_timezone, parse_date and
// parse_datetime on arbitrary bytes. Oracles: the trim stays inside its input
// and is idempotent; a datetime is a valid calendar date and clock with an
// offset within a day; every failure is a ValueError with a documented text.
#include "check.hpp"
#include "text.hpp"
#include "timestamp.hpp"

using namespace vellomar;

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size),
      trimmed = trim_white_space(raw);
  SplitTimestamp split = split_timezone(raw);
  FUZZ_CHECK(raw.find(trimmed) != raw.npos && trim_white_space(trimmed) == trimmed &&
                 split.body.data() == trimmed.data() &&
                 split.offset_minutes.has_value() ==
                     (split.body.size() + 5 == trimmed.size()),
             raw);
  auto date = parse_date(raw);
  auto stamp = parse_datetime(raw);
  for (const Error *e :
       {date ? nullptr : &date.error(), stamp ? nullptr : &stamp.error()})
    FUZZ_CHECK(!e || (e->kind == ErrorKind::value_error &&
                      (e->message.starts_with("Invalid ") ||
                       e->message.starts_with("Timestamp too short"))),
               raw);
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const DateTimeParts t =
      stamp ? stamp.value() : DateTimeParts{2000, 1, 1, 0, 0, 0, 0, {}};
  FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= days[t.month - 1] &&
                 t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
                 t.second >= 0 && t.second <= 59 && t.microsecond >= 0 &&
                 t.microsecond <= 999999 &&
                 (!t.offset_minutes ||
                  (*t.offset_minutes >= -1439 && *t.offset_minutes <= 1439)),
             raw);
  return 0;
}
