"""Terser paths: msg[path] and msg.get(path)."""

import pytest
from hypothesis import given, strategies as st

import vellomar
from conftest import raises

BASE = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\rPID|1||MRN||DOE^JOHN"
V, K, I = ((lambda text, e=e: (e, (text,))) for e in (ValueError, KeyError, IndexError))
RICH = BASE[:BASE.index("\r")] + "\rPID|1||A^B~C^D||DOE&JR^JOHN\rOBX|1||first\rOBX|2||se\\F\\c^&x"


PATHS = [
    (BASE, "PID-5", "DOE^JOHN"), (BASE, "PID-5-2", "JOHN"), (BASE, "PID-5-1-1", "DOE"), (BASE, "PID", "PID"),
    (BASE, "PID(0)", "PID"), (BASE, "MSH-1", "|"), (BASE, "MSH-2", "^~\\&"), (BASE, "MSH-9-2", "A01"),
    (BASE, "PID-+5", "DOE^JOHN"), (BASE, "PID-005", "DOE^JOHN"), (BASE, "PID-5-1-1-x", "DOE"),
    (BASE, "PID-2-1-1", ""), (RICH, "PID-5-1", "DOE&JR"), (RICH, "PID-5-1-2", "JR"), (RICH, "PID-3", "A^B~C^D"),
    (RICH, "PID-3-2", "B"), (RICH, "OBX-3", "first"), (RICH, "OBX(1)-3", "se|c^&x"), (RICH, "OBX(+01)-3-1", "se|c"),
    (RICH, "OBX()-3", "first"), (RICH, "OBX(+)-3", "first"), (RICH, "OBX(x)-3", "first"),
    (RICH, "OBX(99999999999999999999)-3", "first"), (RICH, "OBX(1)tail-3-2-2", "x"),
    ("MSH|^~\\&|A\\F\\B^C", "MSH-3-1", "A|B"), ("MSH|^~\\&|x\r|lone", "-1", "lone"),
    (BASE, "", V("Empty terser path")), (BASE, "ZZZ(3)-x", K("Segment 'ZZZ' not found")),
    (BASE, "pid-5", K("Segment 'pid' not found")), (BASE, "-5", K("Segment '' not found")),
    (BASE, "PID(1)", I("Segment 'PID' repetition 1 not found (have 1)")),
    (RICH, "OBX(2)", I("Segment 'OBX' repetition 2 not found (have 2)")),
    (BASE, "PID(18446744073709551615)", I("Segment 'PID' repetition 18446744073709551615 not found (have 1)")),
    (BASE, "PID--1", V("Invalid field index: ''")), (BASE, "PID- 5", V("Invalid field index: ' 5'")),
    (BASE, "PID-++5", V("Invalid field index: '++5'")), (BASE, "PID-3(2)", V("Invalid field index: '3(2)'")),
    (BASE, "PID-18446744073709551616", V("Invalid field index: '18446744073709551616'")),
    (BASE, "PID-18446744073709551615", I("Field index 18446744073709551615 out of range (1..5)")),
    (BASE, "PID-5-", V("Invalid component index: ''")), (BASE, "PID-5-1-z", V("Invalid sub-component index: 'z'")),
    (BASE, "PID-0", I("Field index 0 out of range (1..5)")), (BASE, "PID-99-x", I("Field index 99 out of range (1..5)")),
    (BASE, "PID-5-3", I("Component index 3 out of range (1..2)")),
    (BASE, "PID-5-0-x", I("Component index 0 out of range (1..2)")),
    (BASE, "PID-5-1-2", I("Sub-component index 2 out of range (1..1)")),
    (BASE, "PID-5-1-0", I("Sub-component index 0 out of range (1..1)")),
    (BASE, "MSH-1-1-2", I("Sub-component index 2 out of range (1..1)")),
    (BASE, "PID(1-3", K("Segment 'PID(1' not found")), (BASE, "PID(-1)-3", K("Segment 'PID(' not found")),
    (BASE, "P)ID(1", V("Invalid segment repetition: 'P)ID(1'")), (BASE, ")(-1", V("Invalid segment repetition: ')('")),
]


@pytest.mark.parametrize("text, path, expected", PATHS)
def test_paths(text, path, expected):
    msg = vellomar.parse(text)
    for lookup in (msg.__getitem__, msg.get, lambda p: msg.get(path=p)):
        assert (raises(lambda: lookup(path)) or lookup(path)) == expected


def navigate(msg, name, repetition, numbers):
    """The string a path selects, found through the navigation methods."""
    found = msg.segments_by_name(name)[repetition]
    for number, step in zip(numbers, ("field", "component", "sub_component")):
        found = getattr(found, step)(number)
    return found if isinstance(found, str) else found.value if numbers else found.name


@given(st.sampled_from([("MSH", 0), ("PID", 0), ("OBX", 0), ("OBX", 1)]), st.lists(st.integers(0, 6), max_size=3),
       st.sampled_from(["", "+", "00"]))
def test_paths_agree_with_navigation(segment, numbers, pad):
    msg = vellomar.parse(RICH)
    name, repetition = segment
    path = "-".join([f"{name}({pad}{repetition})"] + [pad + str(n) for n in numbers])
    assert (raises(lambda: msg[path]) or msg[path]) == (raises(lambda: navigate(msg, name, repetition, numbers))
                                                         or navigate(msg, name, repetition, numbers))
