"""What validate says of one value: its format for the primitive types and its
membership of a code table, each against a reference of a few lines over
values drawn around the edges (months 12/13, hour 23/24, leap days, codes of
seven bytes, the patterns a table holds)."""

import calendar
import re
from importlib import resources

import pytest
from hypothesis import example, given, settings, strategies as st

import vellomar

MSH = "MSH|^~\\&|A|B|C|D|20240306101500||{}|C1|P|2.5.1\r"
OBX = MSH.format("ORU^R01^ORU_R01") + "PID|1||M||DOE\rOBR|1|O1||CBC\rOBX|1|{type}|X^Y^{code}||{value}|||||F"

CLOCK = r"(?:[01]\d|2[0-3])(?:[0-5]\d(?:[0-5]\d(?:\.\d{1,4})?)?)?"
OFFSET = r"(?:[+-](?:[01]\d|2[0-3])[0-5]\d)?"
SHAPES = {
    "SI": r"\d+",
    "NM": r"[+-]?(?:\d+(?:\.\d*)?|\.\d+)",
    "DT": r"(\d{4})(?:(\d\d)(\d\d)?)?",
    "TM": CLOCK + OFFSET,
    "DTM": r"(\d{4})(?:(\d\d)(?:(\d\d)" + f"(?:{CLOCK})?)?)?" + OFFSET,
}


def well_formed(kind, value):
    match = re.fullmatch(SHAPES[kind], value, re.ASCII)
    if not match or kind in ("SI", "NM", "TM"):
        return bool(match)
    year, month, day = (int(g) if g else None for g in match.groups())
    if month is None:
        return True
    if not 1 <= month <= 12:
        return False
    # Leap years repeat every 400 years, and the calendar module starts at year 1.
    return day is None or 1 <= day <= calendar.monthrange(year + 400, month)[1]


two = st.integers(0, 99).map("{:02d}".format)
year = st.sampled_from(["2024", "2023", "1900", "2000", "0000"]) | st.integers(0, 9999).map("{:04d}".format)
fraction = st.text("0123456789", max_size=5).map(lambda s: "." + s)
offset = st.tuples(st.sampled_from("+-"), two, two).map("".join)
shaped = st.tuples(year, st.lists(two, max_size=6).map("".join), st.just("") | fraction,
                   st.just("") | offset).map("".join)


@settings(max_examples=300)
@given(st.sampled_from(sorted(SHAPES)), shaped | shaped.map(lambda s: s[2:]) | st.text("0123456789+-. x", max_size=14))
@example("DT", "20000229")
@example("DT", "19000229")
@example("DT", "9999")  # the greatest year, 99 in each half
@example("TM", "235959.1234+2359")
@example("NM", "-")  # a sign alone
@example("TM", "235959.")  # a point without a fraction
@example("DTM", "20241231235959")  # the clock's last second, and each piece one past it
@example("DTM", "20241231240000")
@example("DTM", "20241231236000")
@example("DTM", "20241231235960")
def test_values_of_primitive_types(kind, value):
    # the value twice: checked as the next type, then as `kind` (each OBX-5 by its own OBX-2)
    other = sorted(SHAPES)[(sorted(SHAPES).index(kind) + 1) % len(SHAPES)]
    text = OBX.format(type=other, code="L", value=value) + f"\rOBX|2|{kind}|X^Y^L||{value}|||||F"
    bad = [f.text for f in vellomar.validate(text) if f.location.endswith("-5") and f.code == 102]
    expected = [f"Value '{value}' of {where} is not a valid {k}" for where, k in (("OBX-5", other), ("OBX(1)-5", kind))
                if value != "" and not well_formed(k, value)]
    assert bad == expected


ADT = MSH.format("ADT^A01^ADT_A01") + "EVN|{0}|20240305140700\rPID|1||M||DOE||19840412|{1}\rPV1|1|I\rOBX|1|ST|X^Y^{2}||z"
SITES = [("EVN-1", "0003"), ("PID-8", "0001"), ("OBX-3-3", "0396")]
TEXT = resources.files("vellomar").joinpath("definitions", "hl7.txt").read_text("ascii")


def table(name, version=6):  # 2.5.1 is the seventh version of the definitions' V line
    for line in TEXT.splitlines():
        kind, mask, *words = line.split(" ")
        if kind == "T" and words[0] == name and int(mask, 16) >> version & 1:
            return [re.sub(r"%([0-9A-F]{2})", lambda m: chr(int(m[1], 16)), w) for w in words[1:]]


def listed(codes, value):
    # A pattern (~HL7nnnn, ~99*) is a head up to its first lower-case letter
    # or '*', without case, then n a digit, z/x/s a letter or digit, * the rest.
    for code in codes:
        head, tail = re.fullmatch(r"~(.[^a-z*]*)(.*)", code).groups() if code[0] == "~" else (code, "")
        tail = "".join({"n": "[0-9]", "*": ".*"}.get(c, "[A-Za-z0-9]" if c in "zxs" else re.escape(c)) for c in tail)
        if re.fullmatch(f"(?i:{re.escape(head)})" + tail if code[0] == "~" else re.escape(code), value, re.S | re.A):
            return True
    return False


def instances(code):
    letters = st.sampled_from("0123456789aZ_-.é")
    return st.tuples(*(st.text(letters, max_size=3) if c == "*" else letters if c.islower() else
                       st.sampled_from([c, c.lower(), "x"]) for c in code[1:])).map("".join)


@settings(max_examples=300)
@given(st.data())
def test_values_in_code_tables(data):
    at = data.draw(st.sampled_from(range(len(SITES))))
    location, name = SITES[at]
    codes = table(name)
    plain = st.sampled_from([c for c in codes if c[0] != "~"])
    value = data.draw(plain | plain.map(str.lower) | plain.map(lambda c: c + "0") | plain.map(lambda c: c[:-1])
                      | st.sampled_from([c for c in codes if c[0] == "~"] or ["~A"]).flatmap(instances)
                      | st.text("AZ019 é.", max_size=8))
    values = ["A01", "F", "L"]
    values[at] = value
    found = [f.text for f in vellomar.validate(ADT.format(*values)) if f.code == 103 and f.location == location]
    assert found == ([] if value == "" or listed(codes, value) else
                     [f"Value '{value}' of {location} is not in table {name}"])


@pytest.mark.parametrize("at", range(len(SITES)))
def test_every_code_of_a_table_is_in_it(at):
    location, name = SITES[at]
    for code in table(name):
        values = ["A01", "F", "L"]
        values[at] = code.lstrip("~")
        found = [f for f in vellomar.validate(ADT.format(*values)) if f.code == 103 and f.location == location]
        assert found == [] or code[0] == "~", code
