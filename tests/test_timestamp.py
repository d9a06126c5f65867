"""parse_datetime() and parse_date()."""

import datetime as dt

import pytest
from hypothesis import given, strategies as st

from conftest import raises
from vellomar import parse_date, parse_datetime

D, T = dt.datetime, dt.date
DT, DA = parse_datetime, parse_date
WHITE_SPACE = [chr(c) for c in [*range(9, 14), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B), 0x2028, 0x2029,
                                0x202F, 0x205F, 0x3000]]
NEIGHBOURS = [chr(c) for c in [8, 14, 0x1C, 0x1F, 0x21, 0x84, 0x86, 0x9F, 0xA1, 0x167F, 0x1681, 0x180E, 0x1FFF,
                               0x200B, 0x2027, 0x202A, 0x202E, 0x2030, 0x205E, 0x2060, 0x2FFF, 0x3001, 0xFEFF]]


def tz(minutes): return dt.timezone(dt.timedelta(minutes=minutes))  # noqa: E704


VALUES = [
    (DT, "2023", D(2023, 1, 1)), (DT, "202301011230", D(2023, 1, 1, 12, 30)),
    (DT, "20230101120000.123", D(2023, 1, 1, 12, 0, 0, 123000)),
    (DT, "20230101120000.1234567", D(2023, 1, 1, 12, 0, 0, 123456)),
    (DT, "20230101120000.+1", D(2023, 1, 1, 12, 0, 0, 10000)),
    *[(DT, "20230101120000" + tail, D(2023, 1, 1, 12)) for tail in (".12a", ".", ",5", ".12é4567")],
    (DT, "\u3000\x8520230101\u2028", D(2023, 1, 1)), (DT, "2023AB01", D(2023, 1, 1)),
    (DT, "2023-01-01", D(2023, 1, 1, 1)), (DT, "2023+1+2+3+4+5", D(2023, 1, 2, 3, 4, 5)),
    (DT, "+023", D(23, 1, 1)), (DT, "202302011", D(2023, 2, 1)),
    (DT, "20240229", D(2024, 2, 29)), (DT, "20000229", D(2000, 2, 29)),
    (DT, "20230101120000+0099", D(2023, 1, 1, 12, tzinfo=tz(99))),
    (DT, "20230101120000-2359", D(2023, 1, 1, 12, tzinfo=tz(-1439))),
    (DT, "20230101120000+-1-5", D(2023, 1, 1, 12, tzinfo=tz(-65))), (DT, "20230101-0530", D(2023, 1, 1, tzinfo=tz(-330))),
    (DT, "20230101+05", D(2023, 1, 1)), (DT, "2023010101+05", D(2023, 1, 1, 1)),
    *[(DT, "20230101120000" + tail, D(2023, 1, 1, 12)) for tail in ("+05ZZ", "+ZZ30")],  # no offset
    (DA, "20230115123000.5+0100", T(2023, 1, 15)), (DA, "2023+115", T(2023, 1, 15)),
    (DA, "20230101XXXXXX", T(2023, 1, 1)), (DA, "\t20240229\n", T(2024, 2, 29)),
]


@pytest.mark.parametrize("function, raw, expected", VALUES)
def test_values(function, raw, expected):
    result = function(raw=raw)
    assert (result, type(result), getattr(result, "tzinfo", None)) == (expected, type(expected), getattr(expected, "tzinfo", None))


ERRORS = [
    (DT, "202", "Timestamp too short: '202'"), (DT, " 20 +0100 ", "Timestamp too short: '20 '"),
    (DT, "\x1c20230101", "Invalid year in '\x1c20230101'"),
    (DT, "２０２３0101", "Invalid year in '２０２３0101'"), (DT, "20X3-0100", "Invalid year in '20X3'"),
    (DT, "20231301", "Invalid date: 2023-13-1"), (DT, "20230230", "Invalid date: 2023-2-30"),
    (DT, "2023+0", "Invalid date: 2023-0-1"), (DT, "19000229", "Invalid date: 1900-2-29"),
    (DT, "-0011301", "Invalid date: -1-13-1"), (DT, "-1000229", "Invalid date: -100-2-29"),
    (DT, "202302291", "Invalid date: 2023-2-29"), (DT, "20230101250000", "Invalid time: 25:0:0.0"),
    (DT, "20230101126000.5", "Invalid time: 12:60:0.500000"), (DT, "20230101120099", "Invalid time: 12:0:99.0"),
    (DT, "20231301250000+9999", "Invalid date: 2023-13-1"), (DT, "20230101250000+9999", "Invalid time: 25:0:0.0"),
    (DT, "20230101120000+2400", "Invalid timezone offset: 1440 minutes"),
    (DT, "20230101120000-2400", "Invalid timezone offset: -1440 minutes"),
    (DA, "2023011", "Timestamp too short for date: '2023011'"),
    (DA, " 2023011 ", "Timestamp too short for date: ' 2023011 '"),
    (DA, "2023011+0100", "Timestamp too short for date: '2023011+0100'"),
    (DA, "2O230101", "Invalid year in '2O230101'"), (DA, "2023-01-01", "Invalid month in '2023-01-01'"),
    (DA, "202301-1", "Invalid day in '202301-1'"), (DA, "2023010é", "Invalid day in '2023010é'"),
]


@pytest.mark.parametrize("function, raw, message", ERRORS)
def test_errors(function, raw, message):
    assert raises(lambda: function(raw)) == (ValueError, (message,))


@pytest.mark.parametrize("function, raw, constructor", [
    (DA, "20231301", lambda: T(2023, 13, 1)), (DA, "20230230", lambda: T(2023, 2, 30)),
    (DA, "00000101", lambda: T(0, 1, 1)), (DA, "-0010101", lambda: T(-1, 1, 1)),
    (DT, "00000101", lambda: D(0, 1, 1)), (DT, "-4000229", lambda: D(-400, 2, 29)),
])
def test_datetime_exceptions_pass_through(function, raw, constructor):
    assert raises(lambda: function(raw)) == raises(constructor)


@pytest.mark.parametrize("char", WHITE_SPACE + NEIGHBOURS, ids=lambda c: f"U+{ord(c):04X}")
def test_white_space_trimmed_from_both_ends(char):
    space = char in WHITE_SPACE
    assert raises(lambda: parse_datetime(char + "2023")) == (None if space else (ValueError, (f"Invalid year in '{char}2023'",)))
    assert raises(lambda: parse_datetime("202" + char))[1] == (("Timestamp too short: '202'",) if space else
                                                             (f"Invalid year in '202{char}'",))


@given(st.datetimes(min_value=D(1, 1, 1)), st.one_of(st.none(), st.integers(-1439, 1439)))
def test_full_timestamps_round_trip(value, offset):
    text = value.strftime("%Y%m%d%H%M%S.%f").rjust(21, "0")
    if offset is not None:
        text += "%s%02d%02d" % ("-" if offset < 0 else "+", abs(offset) // 60, abs(offset) % 60)
        value = value.replace(tzinfo=tz(offset))
    result = parse_datetime(text)
    assert (result, result.tzinfo, parse_date(text)) == (value, value.tzinfo, value.date())
