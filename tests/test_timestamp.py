import datetime as dt

import pytest
from hypothesis import given
from hypothesis import strategies as st

from vellomar import _core


def tz(minutes):
    return dt.timezone(dt.timedelta(minutes=minutes))


@pytest.mark.parametrize(
    "raw, expected",
    [
        ("2023", dt.datetime(2023, 1, 1)),
        ("20230101", dt.datetime(2023, 1, 1)),
        ("202301011230", dt.datetime(2023, 1, 1, 12, 30)),
        ("20230101120000.123", dt.datetime(2023, 1, 1, 12, 0, 0, 123000)),
        ("20230101120000.1234567", dt.datetime(2023, 1, 1, 12, 0, 0, 123456)),
        ("20230101120000.5", dt.datetime(2023, 1, 1, 12, 0, 0, 500000)),
        ("20230101120000.+1", dt.datetime(2023, 1, 1, 12, 0, 0, 10000)),
        ("20230101120000.12a", dt.datetime(2023, 1, 1, 12)),
        ("20230101120000.", dt.datetime(2023, 1, 1, 12)),
        ("20230101120000,5", dt.datetime(2023, 1, 1, 12)),
        ("20230101120000.12é4567", dt.datetime(2023, 1, 1, 12)),
        ("  20230101  ", dt.datetime(2023, 1, 1)),
        ("\u3000\x8520230101\u2028", dt.datetime(2023, 1, 1)),
        ("2023 ", dt.datetime(2023, 1, 1)),
        ("2023AB01", dt.datetime(2023, 1, 1)),
        ("2023-01-01", dt.datetime(2023, 1, 1, 1)),
        ("2023+1+2+3+4+5", dt.datetime(2023, 1, 2, 3, 4, 5)),
        ("+023", dt.datetime(23, 1, 1)),
        ("202302011", dt.datetime(2023, 2, 1)),
        ("20240229", dt.datetime(2024, 2, 29)),
        ("20000229", dt.datetime(2000, 2, 29)),
        ("20230101120000-0500", dt.datetime(2023, 1, 1, 12, tzinfo=tz(-300))),
        ("20230101120000+0000", dt.datetime(2023, 1, 1, 12, tzinfo=tz(0))),
        ("20230101120000+2359", dt.datetime(2023, 1, 1, 12, tzinfo=tz(1439))),
        ("20230101120000+0099", dt.datetime(2023, 1, 1, 12, tzinfo=tz(99))),
        ("20230101120000+-1-5", dt.datetime(2023, 1, 1, 12, tzinfo=tz(-65))),
        ("20230101-0530", dt.datetime(2023, 1, 1, tzinfo=tz(-330))),
        ("20230101+05", dt.datetime(2023, 1, 1)),
        ("2023010101+05", dt.datetime(2023, 1, 1, 1)),
    ],
)
def test_parse_datetime(raw, expected):
    result = _core.parse_datetime(raw)
    assert type(result) is dt.datetime
    assert result == expected
    assert result.tzinfo == expected.tzinfo
    assert result.replace(tzinfo=None) == expected.replace(tzinfo=None)


@pytest.mark.parametrize(
    "raw, expected",
    [
        ("20230115", dt.date(2023, 1, 15)),
        ("20230115123000.5+0100", dt.date(2023, 1, 15)),
        ("2023+115", dt.date(2023, 1, 15)),
        ("20230101+05", dt.date(2023, 1, 1)),
        ("20230101XXXXXX", dt.date(2023, 1, 1)),
        ("\t20240229\n", dt.date(2024, 2, 29)),
    ],
)
def test_parse_date(raw, expected):
    result = _core.parse_date(raw)
    assert type(result) is dt.date
    assert result == expected


DATETIME_ERRORS = [
        ("202", "Timestamp too short: '202'"),
        (" 20 +0100 ", "Timestamp too short: '20 '"),
        ("\x1c20230101", "Invalid year in '\x1c20230101'"),
        ("\u200b20230101", "Invalid year in '\u200b20230101'"),
        ("２０２３0101", "Invalid year in '２０２３0101'"),
        ("20X3-0100", "Invalid year in '20X3'"),
        ("20231301", "Invalid date: 2023-13-1"),
        ("20230230", "Invalid date: 2023-2-30"),
        ("2023+0", "Invalid date: 2023-0-1"),
        ("19000229", "Invalid date: 1900-2-29"),
        ("-0011301", "Invalid date: -1-13-1"),
        ("-1000229", "Invalid date: -100-2-29"),
        ("202302291", "Invalid date: 2023-2-29"),
        ("20230101250000", "Invalid time: 25:0:0.0"),
        ("20230101126000.5", "Invalid time: 12:60:0.500000"),
        ("20230101120099", "Invalid time: 12:0:99.0"),
        ("20231301250000+9999", "Invalid date: 2023-13-1"),
        ("20230101250000+9999", "Invalid time: 25:0:0.0"),
        ("20230101120000+2400", "Invalid timezone offset: 1440 minutes"),
        ("20230101120000-2400", "Invalid timezone offset: -1440 minutes"),
]

DATE_ERRORS = [
        ("2023011", "Timestamp too short for date: '2023011'"),
        (" 2023011 ", "Timestamp too short for date: ' 2023011 '"),
        ("2023011+0100", "Timestamp too short for date: '2023011+0100'"),
        ("2O230101", "Invalid year in '2O230101'"),
        ("2023-01-01", "Invalid month in '2023-01-01'"),
        ("202301-1", "Invalid day in '202301-1'"),
        ("2023010é", "Invalid day in '2023010é'"),
]


@pytest.mark.parametrize(
    "function, raw, message",
    [(_core.parse_datetime, raw, message) for raw, message in DATETIME_ERRORS]
    + [(_core.parse_date, raw, message) for raw, message in DATE_ERRORS],
)
def test_timestamp_errors(function, raw, message):
    with pytest.raises(ValueError) as info:
        function(raw)
    assert type(info.value) is ValueError
    assert info.value.args == (message,)


def raised_by(call):
    with pytest.raises(Exception) as info:
        call()
    return type(info.value), info.value.args


# Checks this module leaves to the datetime constructors.
@pytest.mark.parametrize(
    "function, raw, constructor",
    [
        (_core.parse_date, "20231301", lambda: dt.date(2023, 13, 1)),
        (_core.parse_date, "20230230", lambda: dt.date(2023, 2, 30)),
        (_core.parse_date, "00000101", lambda: dt.date(0, 1, 1)),
        (_core.parse_date, "-0010101", lambda: dt.date(-1, 1, 1)),
        (_core.parse_datetime, "00000101", lambda: dt.datetime(0, 1, 1)),
        (_core.parse_datetime, "-4000229", lambda: dt.datetime(-400, 2, 29)),
    ],
)
def test_datetime_exceptions_pass_through(function, raw, constructor):
    assert raised_by(lambda: function(raw)) == raised_by(constructor)


@given(
    st.datetimes(min_value=dt.datetime(1, 1, 1)),
    st.one_of(st.none(), st.integers(-1439, 1439)),
)
def test_full_timestamps_round_trip(value, offset):
    text = value.strftime("%Y%m%d%H%M%S.%f").rjust(21, "0")
    if offset is not None:
        sign = "-" if offset < 0 else "+"
        text += "%s%02d%02d" % (sign, abs(offset) // 60, abs(offset) % 60)
        value = value.replace(tzinfo=tz(offset))
    result = _core.parse_datetime(text)
    assert result == value and result.tzinfo == value.tzinfo
    assert _core.parse_date(text) == value.date()


@pytest.mark.parametrize("function", [_core.parse_datetime, _core.parse_date])
def test_arguments(function):
    name = function.__name__
    assert function.__text_signature__ == "(raw)"
    assert function(raw="20230101").year == 2023
    cases = [
        ((), {}, f"{name}() missing 1 required positional argument: 'raw'"),
        ((1,), {}, "argument 'raw': 'int' object cannot be converted to 'PyString'"),
        (("a", "b"), {}, f"{name}() takes 1 positional arguments but 2 were given"),
        ((), {"text": "x"}, f"{name}() got an unexpected keyword argument 'text'"),
    ]
    for args, kwargs, message in cases:
        with pytest.raises(TypeError) as info:
            function(*args, **kwargs)
        assert info.value.args == (message,)


def test_docstrings():
    assert _core.parse_date.__doc__ == (
        "Parse an HL7v2 timestamp into just a Python `datetime.date`."
    )
    assert _core.parse_datetime.__doc__ == (
        "Parse an HL7v2 timestamp string into a Python `datetime.datetime`.\n\n"
        "Handles full and partial timestamps:\n"
        '- `"20230101"` \u2192 `datetime(2023, 1, 1)`\n'
        '- `"20230101120000"` \u2192 `datetime(2023, 1, 1, 12, 0, 0)`\n'
        '- `"20230101120000.123"` \u2192 `datetime(2023, 1, 1, 12, 0, 0, 123000)`\n'
        '- `"20230101120000-0500"` \u2192 `datetime(2023, 1, 1, 12, 0, 0, tzinfo=...)`'
    )
