// HL7 v2 timestamps: YYYY[MM[DD[HH[MM[SS[.S[S[S[S[S[S]]]]]]]]]][+/-ZZZZ].
// The core reads the numbers; the module builds the Python date and datetime
// objects from them.
#pragma once

#include <optional>
#include <string_view>

#include "result.hpp"

namespace vellomar {

struct SplitTimestamp {
  std::string_view body;               // trimmed, offset removed
  std::optional<int> offset_minutes;   // east of UTC positive
};

// Trims White_Space from both ends and splits off a trailing offset of the
// form sign, hours piece, minutes piece ("+0530" is 330, "-0500" is -300).
// No range check: "+9999" is 6039. Without a readable offset the body is the
// whole trimmed text.
SplitTimestamp split_timezone(std::string_view text);

// Whether the day exists in the proleptic Gregorian calendar (year 0 and
// negative years are valid here).
bool is_valid_date(int year, int month, int day);

struct DateParts {
  int year, month, day;
};

struct DateTimeParts {
  int year, month, day, hour, minute, second, microsecond;
  std::optional<int> offset_minutes;
};

// The date of a timestamp; the offset and everything after the eighth byte
// are ignored. Fails (ValueError) with "Timestamp too short for date: '...'",
// "Invalid year in '...'", "Invalid month in '...'" or "Invalid day in
// '...'", quoting `raw` as passed. The calendar is not checked.
Result<DateParts> parse_date(std::string_view raw);

// A full or partial timestamp: from four bytes on, unreadable pieces after
// the year take their defaults. Fails (ValueError) with "Timestamp too short:
// '...'" or "Invalid year in '...'" (quoting the trimmed body), "Invalid
// date: y-m-d", "Invalid time: h:m:s.us" or "Invalid timezone offset: m
// minutes", checked in that order. Years outside 1..9999 pass.
Result<DateTimeParts> parse_datetime(std::string_view raw);

} // namespace vellomar
