import datetime as dt
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

from vellomar import _core

HEADER = "MSH|^~\\&|A|B|C|D|20230101||ADT^A01|1|P|2.5\r"


def test_timestamps_do_not_look_up_the_datetime_module_per_call(monkeypatch):
    for name in ("datetime", "date"):
        monkeypatch.setattr(dt, name, type("Shadow", (getattr(dt, name),), {}))
    assert type(_core.parse_datetime("20230101120000-0500")) is dt.datetime.__base__
    assert type(_core.parse_date("20230101")) is dt.date.__base__


@given(st.text())
def test_parse_keeps_the_text_and_leaves_no_utf8_copy_on_it(tail):
    text = HEADER + "NTE|" + tail
    size = sys.getsizeof(text)
    assert _core.parse(text).raw == text
    assert sys.getsizeof(text) == size


@pytest.mark.parametrize("tail", ["é\x80\xff", "€\u0800\uffff", "😀\U0010ffff"])
def test_parse_batch_leaves_no_utf8_copy_on_the_text(tail):
    text = HEADER + "PID|1||" + tail * 99
    size = sys.getsizeof(text)
    _core.parse_batch(text)
    assert sys.getsizeof(text) == size
