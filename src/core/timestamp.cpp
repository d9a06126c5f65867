#include "timestamp.hpp"

#include <string>

#include "text.hpp"

namespace vellomar {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An unsigned two-byte piece (month, day, hour, minute, second): two digits,
// or "+" and one digit.
std::optional<int> read_unsigned2(std::string_view piece) {
  if (piece.size() != 2 || !is_digit(piece[1]))
    return std::nullopt;
  if (is_digit(piece[0]))
    return (piece[0] - '0') * 10 + (piece[1] - '0');
  if (piece[0] == '+')
    return piece[1] - '0';
  return std::nullopt;
}

// A signed two-byte offset piece: two digits, or "+" or "-" and one digit.
std::optional<int> read_offset2(std::string_view piece) {
  if (piece.size() == 2 && piece[0] == '-' && is_digit(piece[1]))
    return -(piece[1] - '0');
  return read_unsigned2(piece);
}

// The four-byte year piece: four digits, or "+" or "-" and three digits.
std::optional<int> read_year(std::string_view piece) {
  if (piece.size() != 4)
    return std::nullopt;
  int value = 0;
  for (size_t i = 1; i < 4; ++i) {
    if (!is_digit(piece[i]))
      return std::nullopt;
    value = value * 10 + (piece[i] - '0');
  }
  if (is_digit(piece[0]))
    return (piece[0] - '0') * 1000 + value;
  if (piece[0] == '+')
    return value;
  if (piece[0] == '-')
    return -value;
  return std::nullopt;
}

// Six bytes of fraction: six digits, or "+" and five digits.
std::optional<int> read_microsecond(std::string_view six) {
  size_t start = six[0] == '+' ? 1 : 0;
  int value = 0;
  for (size_t i = start; i < 6; ++i) {
    if (!is_digit(six[i]))
      return std::nullopt;
    value = value * 10 + (six[i] - '0');
  }
  return value;
}

// Bytes [from, from + 2) of `body` as an unsigned piece when the body is long
// enough, else `fallback`; an unreadable piece also gives `fallback`.
int piece_or(std::string_view body, size_t from, int fallback) {
  if (body.size() < from + 2)
    return fallback;
  return read_unsigned2(body.substr(from, 2)).value_or(fallback);
}

bool is_leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

Error value_error(std::string message) {
  return Error{ErrorKind::value_error, std::move(message)};
}

// "{prefix}'{text}'"
Error quoted_error(std::string_view prefix, std::string_view text) {
  std::string message;
  message.reserve(prefix.size() + text.size() + 2);
  message.append(prefix).append("'").append(text).append("'");
  return value_error(std::move(message));
}

} // namespace

bool is_valid_date(int year, int month, int day) {
  static constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1)
    return false;
  int days = month_days[month - 1] + (month == 2 && is_leap_year(year) ? 1 : 0);
  return day <= days;
}

SplitTimestamp split_timezone(std::string_view text) {
  std::string_view t = trim_white_space(text);
  const size_t n = t.size();
  if (n < 5)
    return {t, std::nullopt};
  char sign = t[n - 5];
  if (sign != '+' && sign != '-')
    return {t, std::nullopt};
  auto hours = read_offset2(t.substr(n - 4, 2));
  auto minutes = read_offset2(t.substr(n - 2, 2));
  if (!hours || !minutes)
    return {t, std::nullopt};
  int offset = *hours * 60 + *minutes;
  return {t.substr(0, n - 5), sign == '-' ? -offset : offset};
}

Result<DateParts> parse_date(std::string_view raw) {
  std::string_view body = split_timezone(raw).body;
  if (body.size() < 8)
    return quoted_error("Timestamp too short for date: ", raw);
  auto year = read_year(body.substr(0, 4));
  if (!year)
    return quoted_error("Invalid year in ", raw);
  auto month = read_unsigned2(body.substr(4, 2));
  if (!month)
    return quoted_error("Invalid month in ", raw);
  auto day = read_unsigned2(body.substr(6, 2));
  if (!day)
    return quoted_error("Invalid day in ", raw);
  return DateParts{*year, *month, *day};
}

Result<DateTimeParts> parse_datetime(std::string_view raw) {
  SplitTimestamp split = split_timezone(raw);
  std::string_view body = split.body;
  const size_t n = body.size();
  if (n < 4)
    return quoted_error("Timestamp too short: ", body);
  auto year = read_year(body.substr(0, 4));
  if (!year)
    return quoted_error("Invalid year in ", body);

  DateTimeParts t{};
  t.year = *year;
  t.month = piece_or(body, 4, 1);
  t.day = piece_or(body, 6, 1);
  if (!is_valid_date(t.year, t.month, t.day))
    return value_error("Invalid date: " + std::to_string(t.year) + "-" +
                       std::to_string(t.month) + "-" + std::to_string(t.day));

  t.hour = piece_or(body, 8, 0);
  t.minute = piece_or(body, 10, 0);
  t.second = piece_or(body, 12, 0);
  t.microsecond = 0;
  if (n >= 16 && body[14] == '.') {
    // The first six characters of the fraction, padded with "0"; a
    // non-ASCII character among them makes it unreadable either way, so
    // bytes serve as well as characters.
    std::string six(body.substr(15, 6));
    six.resize(6, '0');
    t.microsecond = read_microsecond(six).value_or(0);
  }
  if (t.hour > 23 || t.minute > 59 || t.second > 59)
    return value_error("Invalid time: " + std::to_string(t.hour) + ":" +
                       std::to_string(t.minute) + ":" + std::to_string(t.second) +
                       "." + std::to_string(t.microsecond));

  if (split.offset_minutes) {
    int m = *split.offset_minutes;
    if (m < -1439 || m > 1439)
      return value_error("Invalid timezone offset: " + std::to_string(m) + " minutes");
    t.offset_minutes = m;
  }
  return t;
}

} // namespace vellomar
