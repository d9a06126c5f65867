"""Terser paths: msg[path] and msg.get(path)."""

import pytest
from hypothesis import given, strategies as st

import vellomar

BASE = "MSH|^~\\&|SENDER|FAC|RECV|FAC|20230101||ADT^A01|123|P|2.5\rPID|1||MRN||DOE^JOHN"
RICH = BASE[:BASE.index("\r")] + "\rPID|1||A^B~C^D||DOE&JR^JOHN\rOBX|1||first\rOBX|2||second"
PATH_TYPE = "argument 'path': '{}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize(
    "text, path, expected",
    [
        (BASE, "PID-5", "DOE^JOHN"), (BASE, "PID-5-2", "JOHN"), (BASE, "PID-5-1-1", "DOE"),
        (BASE, "PID", "PID"), (BASE, "PID(0)", "PID"), (BASE, "MSH-1", "|"),
        (BASE, "MSH-2", "^~\\&"), (BASE, "MSH-9-2", "A01"), (BASE, "MSH-10", "123"),
        (BASE, "PID-+5", "DOE^JOHN"), (BASE, "PID-005", "DOE^JOHN"),
        (BASE, "PID-5-1-1-x", "DOE"), (BASE, "PID-2-1-1", ""),
        (RICH, "PID-5", "DOE&JR^JOHN"), (RICH, "PID-5-1", "DOE&JR"), (RICH, "PID-5-1-2", "JR"),
        (RICH, "PID-3", "A^B~C^D"), (RICH, "PID-3-2", "B"),
        (RICH, "OBX-3", "first"), (RICH, "OBX(1)-3", "second"), (RICH, "OBX(+01)-3", "second"),
        (RICH, "OBX()-3", "first"), (RICH, "OBX(+)-3", "first"), (RICH, "OBX(x)-3", "first"),
        (RICH, "OBX(99999999999999999999)-3", "first"), (RICH, "OBX(1)tail-3", "second"),
        ("MSH|^~\\&|A\\F\\B^C", "MSH-3-1", "A|B"), ("MSH|^~\\&|x\r|lone", "-1", "lone"),
    ],
)
def test_path_selects(text, path, expected):
    msg = vellomar.parse(text)
    assert msg[path] == msg.get(path) == msg.get(path=path) == expected


@pytest.mark.parametrize(
    "path, exc, message",
    [
        ("", ValueError, "Empty terser path"),
        ("ZZZ(3)-x", KeyError, "Segment 'ZZZ' not found"),
        ("pid-5", KeyError, "Segment 'pid' not found"),
        ("-5", KeyError, "Segment '' not found"),
        ("PID(1)", IndexError, "Segment 'PID' repetition 1 not found (have 1)"),
        ("PID(18446744073709551615)", IndexError,
         "Segment 'PID' repetition 18446744073709551615 not found (have 1)"),
        ("PID--1", ValueError, "Invalid field index: ''"),
        ("PID- 5", ValueError, "Invalid field index: ' 5'"),
        ("PID-++5", ValueError, "Invalid field index: '++5'"),
        ("PID-3(2)", ValueError, "Invalid field index: '3(2)'"),
        ("PID-18446744073709551616", ValueError, "Invalid field index: '18446744073709551616'"),
        ("PID-18446744073709551615", IndexError,
         "Field index 18446744073709551615 out of range (1..5)"),
        ("PID-5-", ValueError, "Invalid component index: ''"),
        ("PID-5-1-z", ValueError, "Invalid sub-component index: 'z'"),
        ("PID-0", IndexError, "Field index 0 out of range (1..5)"),
        ("PID-99-x", IndexError, "Field index 99 out of range (1..5)"),
        ("PID-5-3", IndexError, "Component index 3 out of range (1..2)"),
        ("PID-5-0-x", IndexError, "Component index 0 out of range (1..2)"),
        ("PID-5-1-2", IndexError, "Sub-component index 2 out of range (1..1)"),
        ("MSH-1-1-2", IndexError, "Sub-component index 2 out of range (1..1)"),
        ("PID(1-3", KeyError, "Segment 'PID(1' not found"),
        ("PID(-1)-3", KeyError, "Segment 'PID(' not found"),
        ("P)ID(1", ValueError, "Invalid segment repetition: 'P)ID(1'"),
        (")(-1", ValueError, "Invalid segment repetition: ')('"),
    ],
)
def test_path_errors(path, exc, message):
    msg = vellomar.parse(BASE)
    for lookup in (msg.__getitem__, msg.get):
        with pytest.raises(exc) as info:
            lookup(path)
        assert info.value.args == (message,)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda m: m[5], PATH_TYPE.format("int")),
        (lambda m: m.get(None), PATH_TYPE.format("NoneType")),
        (lambda m: m.get(), "Message.get() missing 1 required positional argument: 'path'"),
        (lambda m: m.get("PID", "x", q=1), "Message.get() takes 1 positional arguments but 2 were given"),
        (lambda m: m.get(p=None), "Message.get() got an unexpected keyword argument 'p'"),
        (lambda m: m.get(1, path="PID"), "Message.get() got multiple values for argument 'path'"),
    ],
)
def test_path_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(vellomar.parse(BASE))
    assert str(info.value) == message


def test_get_signature_and_doc():
    assert vellomar.Message.get.__text_signature__ == "($self, path)"
    assert vellomar.Message.get.__doc__ == "Terser path access method. Same as bracket notation."


@given(st.text(alphabet="PIDOBXMSH()+-0123456789x ", max_size=12))
def test_any_path_answers_or_raises_a_lookup_error(path):
    try:
        assert isinstance(vellomar.parse(RICH)[path], str)
    except (ValueError, KeyError, IndexError) as error:
        assert len(error.args) == 1
