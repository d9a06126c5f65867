"""Birth dates reach FHIR at the precision sent (YYYY, YYYY-MM, YYYY-MM-DD),
from a date or a date and time; a value that is no time stamp is left out."""

import calendar
import datetime
import decimal
import json
import math
import re

import pytest
from hypothesis import example, given, strategies as st

import vellomar.fhir as fhir

MESSAGE = "MSH|^~\\&|A|B|C|D|20240110120000||ADT^A01|X1|P|2.5.1\rPID|1||ID1||DOE||{}"


def birth_date(value):
    m = re.fullmatch(r"(\d{4})(\d\d)?(\d\d)?(\d\d)?(\d\d)?(\d\d)?(\.\d+)?([+-]\d{4})?", value)
    if not m or (m[7] and not m[6]):  # a fraction only after the seconds
        return None
    year, month, day, hour, minute, second = (int(g) if g else d for g, d in zip(m.groups()[:6], [0, 1, 1, 0, 0, 0]))
    offset = int(m[8][1:3]) * 60 + int(m[8][3:]) if m[8] else 0
    if not (year >= 1 and 1 <= month <= 12 and 1 <= day <= calendar.monthrange(year, month)[1] and hour < 24
            and minute < 60 and second < 60 and offset < 1440):
        return None
    return "-".join(g for g in m.groups()[:3] if g)


two = st.integers(0, 99).map("{:02d}".format)


@given(st.tuples(st.sampled_from(["0000", "0001", "1900", "2000", "2023", "2024"]), st.lists(two, max_size=5).map("".join),
                 st.sampled_from(["", ".5"]), st.sampled_from(["", "+0500", "-2400"])).map("".join))
@example("20240230")
@example("00000101")
@example("20241231235959")  # the clock's last second, and each piece one past it
@example("2024123124")
@example("202412312360")
@example("20241231235960")
def test_birth_dates(value):
    # written as FHIR takes it, or left out and reported
    converted = fhir.convert(MESSAGE.format(value))
    (patient,) = [e["resource"] for e in json.loads(converted.json)["entry"]
                  if e["resource"]["resourceType"] == "Patient"]
    assert patient.get("birthDate") == birth_date(value)
    assert (f"PID-7 '{value}' (not a date or time)" in converted.unmapped) == (birth_date(value) is None)


OML = ("MSH|^~\\&|A|B|C|D|20240101||OML^O21^OML_O21|1|P|2.5.1\rPID|1||P1\rORC|NW|O1\rTQ1|1|||{}\r"
       "OBR|1|O1||CBC^CBC^L")


def time_of_day(value):
    m = re.fullmatch(r"(\d\d)(\d\d)?(\d\d)?([+-]\d{4})?", value)
    if not m or int(m[1]) > 23 or int(m[2] or 0) > 59 or int(m[3] or 0) > 59:
        return None
    return f"{m[1]}:{m[2] or '00'}:{m[3] or '00'}"


@given(st.tuples(st.lists(two, max_size=4).map("".join), st.sampled_from(["", "+0500"]),
                 st.sampled_from(["", "^9"])).map("".join))
@example("2400")
@example("235960")
@example("2359")
@example("23^9")  # the time read within its component, not from the bytes after it
@example("2359^9")
def test_times_of_day(value):
    # TQ1-4 (TM) of an order reaches its ServiceRequest as occurrenceTiming.repeat.timeOfDay.
    bundle = fhir.to_dict(OML.format(value))
    (request,) = [e["resource"] for e in bundle["entry"] if e["resource"]["resourceType"] == "ServiceRequest"]
    expected = time_of_day(value.partition("^")[0])
    assert request.get("occurrenceTiming", {}).get("repeat", {}).get("timeOfDay") == ([expected] if expected else None)


@pytest.mark.parametrize("value, start", [
    ("2024011012", "2024-01-10T12:00:00Z"),  # to the hour: minutes and seconds filled in
    ("2024011012+1400", "2024-01-10T12:00:00+14:00"), ("0000011012", None),  # offsets up to 14 hours; year 0 left out
    ("202401101230", "2024-01-10T12:30:00Z"),
    ("20240110123045.12+0100", "2024-01-10T12:30:45.12+01:00"),
    ("2024011012+0200", "2024-01-10T12:00:00+02:00"), ("2024011012+0000", "2024-01-10T12:00:00+00:00"),
    ("20240110", "2024-01-10"),
    ("202401", "2024-01"),  # a year and month, a year: at the precision sent
    ("2024", "2024"),
    ("2024011012+0575", None),  # no offset: left out
    ("20241301", None), ("20240230", None), ("2024011025", None),  # month 13, February 30, hour 25
    ("20990101120000.1234-0500", "2099-01-01T12:00:00.1234-05:00"),  # past 2038, a fraction of four digits
    ("2024011012+1401", None),
])
def test_admit_times(value, start):
    # PV1-44 (DTM) reaches Encounter.period.start as a FHIR dateTime, or is left out and reported.
    converted = fhir.convert(MESSAGE.format("") + "\rPV1|1|I" + "|" * 42 + value)
    (encounter,) = [e["resource"] for e in json.loads(converted.json)["entry"]
                    if e["resource"]["resourceType"] == "Encounter"]
    assert encounter.get("period") == ({"start": start} if start else None)
    assert (f"PV1-44 '{value}' (not a date or time)" in converted.unmapped) == (start is None)


def procedure_end(start, minutes):
    """PR1-5 plus PR1-7 minutes, by Python's calendar: None when no end is written."""
    m = re.fullmatch(r"(\d{12})(\d\d)?(\.\d+)?([+-]\d\d)?(\d\d)?", start)
    if not m or (m[3] and not m[2]) or not re.fullmatch(r"\d{1,9}(\.\d{1,6})?", minutes):
        return None
    try:
        time = datetime.datetime.strptime(m[1] + (m[2] or "00"), "%Y%m%d%H%M%S")
        time += datetime.timedelta(seconds=math.floor(decimal.Decimal(minutes) * 60 + decimal.Decimal("0.5")))
    except (ValueError, OverflowError):  # no day, or past year 9999
        return None
    return time.strftime("%Y-%m-%dT%H:%M:%S") + (m[3] or "") + (f"{m[4]}:{m[5]}" if m[4] else "Z")


@given(st.datetimes(datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31, 23, 59, 59)),
       st.sampled_from(["%Y%m%d%H%M", "%Y%m%d%H%M%S", "%Y%m%d%H%M%S.25"]), st.sampled_from(["", "+0530", "-0500"]),
       st.one_of(st.integers(0, 10**9).map(str), st.decimals(0, 10**6, places=3).map(str)))
@example(datetime.datetime(2024, 12, 31, 23, 59), "%Y%m%d%H%M", "+0100", "1.5")  # into the next year
@example(datetime.datetime(2024, 2, 28, 23, 0), "%Y%m%d%H%M", "", "60")  # a leap day
@example(datetime.datetime(9999, 12, 31, 23, 0), "%Y%m%d%H%M", "", "60")  # past year 9999: no end
@example(datetime.datetime(9999, 12, 31, 22, 0), "%Y%m%d%H%M", "", "60")  # within it
@example(datetime.datetime(2024, 1, 10, 12), "%Y%m%d%H/9", "", "60")  # no digit
@example(datetime.datetime(2024, 1, 10), "%Y%m%d", "", "60")  # a day: no period
@example(datetime.datetime(2024, 1, 10), "0000%m%d%H%M", "", "9999999")  # year 0: none
@example(datetime.datetime(2024, 1, 10), "%Y%m%d%H%M", "", "-5")
def test_procedure_ends(time, form, offset, minutes):
    # PR1-5 of minutes or finer and PR1-7 (minutes) give Procedure.performedPeriod's end.
    start = time.strftime(form) + offset
    bundle = fhir.to_dict(MESSAGE.format("") + f"\rPR1|1||P1^Proc^I10P||{start}|A|{minutes}")
    (procedure,) = [e["resource"] for e in bundle["entry"] if e["resource"]["resourceType"] == "Procedure"]
    assert procedure.get("performedPeriod", {}).get("end") == procedure_end(start, minutes)
