import datetime as dt

import pytest

from vellomar import _core

HEADER = "MSH|^~\\&|A|B|C|D|20230101||ADT^A01|1|P|2.5\r"


def test_timestamps_do_not_look_up_the_datetime_module_per_call(monkeypatch):
    real_datetime, real_date = dt.datetime, dt.date
    monkeypatch.setattr(dt, "datetime", type("Shadow", (dt.datetime,), {}))
    monkeypatch.setattr(dt, "date", type("ShadowDate", (dt.date,), {}))
    assert type(_core.parse_datetime("20230101120000-0500")) is real_datetime
    assert type(_core.parse_date("20230101")) is real_date
