import datetime as dt
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

from vellomar import _core

HEADER = "MSH|^~\\&|A|B|C|D|20230101||ADT^A01|1|P|2.5\r"


def test_timestamps_do_not_look_up_the_datetime_module_per_call(monkeypatch):
    real_datetime, real_date = dt.datetime, dt.date
    monkeypatch.setattr(dt, "datetime", type("Shadow", (dt.datetime,), {}))
    monkeypatch.setattr(dt, "date", type("ShadowDate", (dt.date,), {}))
    assert type(_core.parse_datetime("20230101120000-0500")) is real_datetime
    assert type(_core.parse_date("20230101")) is real_date


@pytest.mark.parametrize("tail", ["a", "é\x80\xff" * 999, "€\u0800\uffff" * 99, "😀\U0010ffff" * 99])
@pytest.mark.parametrize("function", [_core.parse, _core.parse_batch])
def test_parsing_leaves_no_utf8_copy_on_the_text(function, tail):
    text = HEADER + "PID|1||" + tail
    size = sys.getsizeof(text)
    function(text)
    assert sys.getsizeof(text) == size


@given(st.text())
def test_a_parsed_text_is_kept_as_given(tail):
    text = HEADER + "NTE|" + tail
    assert _core.parse(text).raw == text
