"""Changing messages: edit, values, escape and the `edit` command."""

import datetime
import pathlib
import re
from types import MappingProxyType

import pytest
from hypothesis import given, strategies as st

import vellomar
from vellomar import cli

from conftest import ADT, CORPUS_FILES, raises

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
PID = "PID|1||MRN||DOE^JOHN~SMITH^JANE"
ODD = "Delimiters must be five distinct ASCII punctuation characters, got: "


@given(st.text(), st.sampled_from(["MSH|^~\\&", "MSH#$*@!", "MSH|^~\\&#"]))
def test_escape_round_trip(text, header):
    message = vellomar.parse(header)
    escaped = vellomar.escape(text, message)
    assert vellomar.parse(f"{header}\rZZZ{header[3]}{escaped}").segments[1].field(1).value == text
    assert header[3] != "|" or vellomar.escape(text, header[4:]) == escaped
    one_line = vellomar.escape(text.replace("\r", " ").replace("\n", " "), message)
    assert vellomar.escape(text, message, line_ends="space") == one_line


@given(st.text(), st.sampled_from(["MSH.^~\\&", "MSH|^~\\&", "MSH#$*@!"]))
def test_edit_indexes_as_the_parser(text, header):
    # a "." field separator too, where a line feed is written \X0A\
    out = vellomar.edit(vellomar.parse(f"{header}\rPID{header[3]}1"), {"PID-3-2": text, "ZZZ(+)-2": text})
    assert (out.to_json(), out["PID-3-2"]) == (vellomar.parse(out.raw).to_json(), text)

@pytest.mark.parametrize(
    "changes, pid",
    [
        ({"PID-5-1": "O|BRIEN"}, "PID|1||MRN||O\\F\\BRIEN^JOHN~SMITH^JANE"),
        ({"PID-5": "A^B\r\n\\"}, "PID|1||MRN||A\\S\\B\\X0D\\\\.br\\\\E\\"),
        ({"PID-5": None, "PID-1": ""}, "PID|||MRN||"),
        ({"PID-8": "F"}, PID + "|||F"),
        ({"PID-3-4-2": "X"}, "PID|1||MRN^^^&X||DOE^JOHN~SMITH^JANE"),
        ({"PID-5(1)-2": "ANN", "PID-5-3": "Q"}, "PID|1||MRN||DOE^JOHN^Q~SMITH^ANN"),
        ({"PID-5(3)": "X", "PID(0)-3(1)": "Y"}, "PID|1||MRN~Y||DOE^JOHN~SMITH^JANE~~X"),
        ({"ZZZ(+)-2": "a", "ZZZ(+)-1-2": "b", "ZZ1(+)-1": ""}, PID + "\rZZZ|^b|a\rZZ1|"),
    ],
)
def test_edit_splices(msg, changes, pid):
    out = vellomar.edit(msg, changes)
    assert (out.raw, out.to_json()) == (ADT.split("\r")[0] + "\r" + pid, vellomar.parse(out.raw).to_json())


@pytest.mark.parametrize(
    "changes, error, text",
    [
        ({"MSH-2": "x"}, ValueError, "MSH-1 and MSH-2 hold the delimiters and cannot be set: 'MSH-2'"),
        ({"PID-5": "x", "PID-5(1)-1": "y"}, ValueError, "Conflicting changes: 'PID-5' and 'PID-5(1)-1'"),
        ({"PID-5-1": "x", "PID-05(0)-1": "y"}, ValueError, "Conflicting changes: 'PID-5-1' and 'PID-05(0)-1'"),
        ({"ZZZ(+)-1": "x", "ZZZ(+)-1-1": "y"}, ValueError, "Conflicting changes: 'ZZZ(+)-1' and 'ZZZ(+)-1-1'"),
        ({"ZZZ-1": "x"}, KeyError, "Segment 'ZZZ' not found"),
        ({"PID(1)-1": "x"}, IndexError, "Segment 'PID' repetition 1 not found (have 1)"),
        ({"": "x"}, ValueError, "Empty terser path"),
        ({"PID": "x"}, ValueError, "Path names no field: 'PID'"),
        ({"PID(x)-1": "x"}, ValueError, "Invalid segment repetition: 'PID(x)'"),
        ({"PID(+)x-1": "x"}, ValueError, "Invalid segment repetition: 'PID(+)x'"),
        ({"PID-0": "x"}, ValueError, "Invalid field index: '0'"),
        ({"PID-3(1": "x"}, ValueError, "Invalid field index: '3(1'"),
        ({"PID-65536": "x"}, ValueError, "Invalid field index: '65536'"),
        ({"PID-1(65535)": "x"}, ValueError, "Invalid field index: '1(65535)'"),
        ({"PID-1-x": "x"}, ValueError, "Invalid component index: 'x'"),
        ({"PID-1-1-": "x"}, ValueError, "Invalid sub-component index: ''"),
        ({"PID-1-1-1-1": "x"}, ValueError, "Path has more than four parts: 'PID-1-1-1-1'"),
        ({"Z|Z(+)-1": "x"}, ValueError, "Invalid segment name: 'Z|Z'"),
        ({"pid-5": "x"}, ValueError, "Invalid segment name: 'pid'"),
        ({"MSH(+)-3": "x"}, ValueError, "An MSH segment cannot be appended: 'MSH(+)-3'"),
        ({"PID-1": 1}, TypeError, "argument 'changes': 'int' object cannot be converted to 'PyString'"),
        ([], TypeError, "argument 'changes': 'list' object is not a mapping"),
        ({1: "x"}, TypeError, "argument 'changes': 'int' object cannot be converted to 'PyString'"),
        (MappingProxyType({"PID-1": "x", "ZZZ-1": "x"}), KeyError, "Segment 'ZZZ' not found"),  # any mapping
        (type("Pairs", (), {"items": lambda self: [("PID-1",)]})(), TypeError, "argument 'changes': items() must give pairs"),
    ],
)
def test_edit_errors(msg, changes, error, text):
    with pytest.raises(error) as raised:
        vellomar.edit(msg, changes)
    assert raised.value.args == (text,)


# A path into the example ADT (segment name and repetition, field, then
# optional field repetition, component and sub-component), reaching past the
# end of each level, with the value to store.
EXAMPLE = vellomar.parse((EXAMPLES / "adt_a01.hl7").read_text())
NAMES = [(s.name, n) for s in EXAMPLE for n in range(len(EXAMPLE.segments_by_name(s.name)))]
PATHS = st.tuples(
    st.sampled_from(NAMES), st.integers(3, 30), st.one_of(st.none(), st.integers(0, 3)),
    st.one_of(st.none(), st.integers(1, 6)), st.one_of(st.none(), st.integers(1, 3)),
)


@given(st.lists(st.tuples(PATHS, st.one_of(st.none(), st.text())), max_size=4))
def test_edit_round_trip(changes):
    targets, edits = {}, {}
    for ((name, n), field, rep, comp, sub), value in changes:
        targets.setdefault((name, n, field), (rep, comp, sub if comp else None, value))
    for (name, n, field), (rep, comp, sub, value) in targets.items():
        path = f"{name}({n})-{field}" + (f"({rep})" if rep is not None else "")
        edits[path + "".join(f"-{i}" for i in (comp, sub) if i)] = value
    out = vellomar.edit(EXAMPLE, edits)
    assert out.to_json() == vellomar.parse(out.raw).to_json()
    for (name, n, field), (rep, comp, sub, value) in targets.items():
        getter, value = f"{name}({n})-{field}" + "".join(f"-{i}" for i in (comp, sub) if i), value or ""
        node = out.segments_by_name(name)[n].field(field)
        if rep is not None:
            assert vellomar.values(out, getter)[rep] == value
            node = (node.repetitions or [node])[rep]
        elif comp is None:
            assert out[getter] == value
        node = node.component(comp) if comp else node
        assert (node.sub_components[sub - 1] if sub else node.value) == value
    # Lines that no change names keep their bytes; in the others, so do the
    # fields that no change names.
    lines = zip(NAMES, re.split("[\r\n]+", EXAMPLE.raw), re.split("[\r\n]+", out.raw), EXAMPLE, out)
    for (name, n), line, new_line, before, after in lines:
        if not any(key[:2] == (name, n) for key in targets):
            assert new_line == line
        for field in range(1, len(before) + 1):
            if (name, n, field) not in targets:
                assert after.field(field).to_dict() == before.field(field).to_dict()


@pytest.mark.parametrize("count", [16, 17])
def test_edit_many_changes_at_once(msg, count):
    # as many changes as are kept without a heap allocation, and one more
    changes = {f"PID-{field}": f"v{field}" for field in range(2, count + 2)}
    edited = vellomar.edit(msg, changes)
    assert [edited[path] for path in changes] == list(changes.values())


@pytest.mark.parametrize("path", ["PID-65535", "PID-1(65534)", "PID-1-65535", "PID-1-1-65535"])
def test_edit_reaches_the_largest_numbers(msg, path):
    assert vellomar.values(vellomar.edit(msg, {path: "x"}), path.replace("(65534)", ""))[-1] == "x"


def test_edit_nothing_keeps_the_text():
    for path in CORPUS_FILES + [EXAMPLES / "adt_a01.hl7"]:
        for message in vellomar.parse_batch(path.read_text(errors="replace")):
            refused = raises(lambda: vellomar.escape("", message))  # a header without "&", say
            assert raises(lambda: vellomar.edit(message, {})) == refused
            assert refused or vellomar.edit(message, {}).raw == message.raw


@pytest.mark.parametrize(
    "path, result",
    [
        ("PID-5", ["DOE^JOHN", "SMITH^JANE"]),
        ("PID-5-1", ["DOE", "SMITH"]),
        ("PID-5-3-2", ["", ""]),
        ("PID-9", []),
        ("MSH-1", ["|"]),
        ("ZZZ-1", []),
        ("PID(1)-5", []),
        ("pid-5", ValueError("Invalid segment name: 'pid'")),
        ("PID-5(1)", ValueError("Path names a field repetition: 'PID-5(1)'")),
    ],
)
def test_values(msg, path, result):
    if isinstance(result, Exception):
        with pytest.raises(type(result)) as raised:
            vellomar.values(msg, path)
        assert raised.value.args == result.args
    else:
        assert vellomar.values(msg, path) == result


def test_values_follow_repetitions():
    for message in [EXAMPLE, *(m for p in CORPUS_FILES for m in vellomar.parse_batch(p.read_text(errors="replace")))]:
        for index, segment in enumerate(message):
            n = [s.name for s in message.segments[:index]].count(segment.name)
            for number, field in enumerate(segment.fields, 1):
                expected = [r.value for r in field.repetitions] or [field.value]
                assert vellomar.values(message, f"{segment.name}({n})-{number}") == expected


@pytest.mark.parametrize(
    "delimiters, error, text",
    [
        ("^~", ValueError, "Delimiters need four characters (MSH-2), got: '^~'"),
        ("^~\\\u20ac", ValueError, ODD + "'|^~\\\u00e2'"),
        ("\u00a7~\\&", ValueError, ODD + "'|\u00c2\u00a7~\\'"),  # read as the parser reads MSH-2
        (1, TypeError, "argument 'delimiters': 'int' object cannot be converted to 'Message'"),
        (("^~\\&", "br"), ValueError, "line_ends must be 'escape' or 'space', not 'br'"),
        (("^~\\&", 3), TypeError, "argument 'line_ends': 'int' object cannot be converted to 'PyString'"),
        ("\ud800~\\&", UnicodeEncodeError, ("utf-8", "\ud800~\\&", 0, 1, "surrogates not allowed")),
    ],
)
def test_escape_errors(delimiters, error, text):
    with pytest.raises(error) as raised:
        vellomar.escape("x", *(delimiters if isinstance(delimiters, tuple) else (delimiters,)))
    assert raised.value.args == (text if isinstance(text, tuple) else (text,))


@pytest.mark.parametrize("name", ["adt_batch.hl7", "orm_o01_mllp.hl7", "adt_a01.hl7"])
def test_cli_edit_keeps_the_form(tmp_path, name):
    data = (EXAMPLES / name).read_bytes()
    out = tmp_path / "out.hl7"
    status = cli.main(["edit", "-o", str(out), "MSH-4=GOODHEALTH", "--", str(EXAMPLES / name)])
    assert (status, out.read_bytes()) == (0, data)
    assert cli.main(["edit", "-o", str(out), "PID-19=", "MSH-5=AR|CH", "--", str(EXAMPLES / name)]) == 0
    expected = [vellomar.edit(m, {"PID-19": None, "MSH-5": "AR|CH"}).raw for m in vellomar.parse_batch(data.decode())]
    assert [m.raw for m in vellomar.parse_batch(out.read_text())] == expected


def test_pseudonymise_recipe(tmp_path, monkeypatch, capsysbinary):
    monkeypatch.syspath_prepend(str(EXAMPLES))
    import pseudonymise

    (key := tmp_path / "key").write_bytes(b"secret")
    original = vellomar.parse((EXAMPLES / "adt_a01.hl7").read_text())
    (tmp_path / "framed.hl7").write_text(f"\x0b{original.raw}\x1c\r")
    outputs = []
    for name in (EXAMPLES / "adt_a01.hl7", tmp_path / "framed.hl7"):
        assert pseudonymise.main(["--key-file", str(key), str(name)]) == 0
        outputs.append(capsysbinary.readouterr().out.decode())
    assert outputs[1].startswith("\x0b") and outputs[1].endswith("\x1c\r")  # the file keeps its form
    a, b = (vellomar.parse_batch(out)[0] for out in outputs)
    for path in ("PID-3-1", "PID-5-1", "PID-5-2", "PID-11-1", "NK1-2-1"):
        assert a[path] == b[path] != original[path] and a[path][:2] in ("ID", "NA", "AD")  # one patient, one pseudonym
    assert (a["PID-7"][:4], a["MSH-10"], len(a.segments)) == (original["PID-7"][:4], original["MSH-10"], len(original.segments))


LOSSLESS = vellomar.parse("MSH|^~\\&|A|B\rPID|1||x||A\\T\\B&C^D\\S\\E~F\rPID|2|")


@pytest.mark.parametrize("path, expected", [
    ("PID", "PID|1||x||A\\T\\B&C^D\\S\\E~F"), ("PID(1)", "PID|2|"), ("MSH", "MSH|^~\\&|A|B"), ("MSH-1", "|"),
    ("MSH-2", "^~\\&"), ("PID-5", "A\\T\\B&C^D\\S\\E~F"), ("PID-5-1", "A\\T\\B&C"), ("PID-5-1-2", "C"),
    ("PID-5(0)", "A\\T\\B&C^D\\S\\E"), ("PID-5(1)-1", "F"), ("PID-1(0)", "1"), ("PID(1)-2", ""),
    ("ZZZ", (KeyError, ("Segment 'ZZZ' not found",))),
    ("PID(2)", (IndexError, ("Segment 'PID' repetition 2 not found (have 2)",))),
    ("PID-6", (IndexError, ("Field index 6 out of range (1..5)",))),
    ("PID-5-3", (IndexError, ("Component index 3 out of range (1..2)",))),
    ("PID-5-1-3", (IndexError, ("Sub-component index 3 out of range (1..2)",))),
    ("PID-5(2)", (IndexError, ("Field repetition 2 not found (have 2)",))),
    ("PID(+)-1", (ValueError, ("Invalid segment repetition: 'PID(+)'",))),
    ("PID-5-1-1-1", (ValueError, ("Path has more than four parts: 'PID-5-1-1-1'",))),
])
def test_er7_gives_the_text_as_it_stands(path, expected):
    if isinstance(expected, tuple):
        assert raises(lambda: vellomar.er7(LOSSLESS, path)) == expected
    else:
        assert vellomar.er7(LOSSLESS, path) == expected


@given(st.lists(st.text("AB|^~\\&1").map(lambda t: "ZX1|" + t), max_size=4))
def test_er7_segment_lines_rebuild_the_message(lines):
    msg = vellomar.parse("\r".join(["MSH|^~\\&|A", *lines]))
    assert "\r".join(vellomar.er7(msg, f"{s.name}({[t.name for t in msg.segments[:i]].count(s.name)})")
                     for i, s in enumerate(msg.segments)) == msg.raw


@pytest.mark.parametrize("args, options, raw", [
    (["ADT^A01"], {}, "MSH|^~\\&|||||T||ADT^A01|ID|P|2.5.1"),
    ([("ORU", "R01", "ORU_R01")], {"version": "2.8", "processing_id": "T", "sending_application": ("APP", "1.2", "ISO"),
                                   "charset": "UNICODE UTF-8"},
     "MSH|^~\\&|APP^1.2^ISO||||T||ORU^R01^ORU_R01|ID|T|2.8||||||UNICODE UTF-8"),
    (["ACK"], {"time": "2024", "receiving_facility": "A|B"}, "MSH|^~\\&||||A\\F\\B|2024||ACK|ID|P|2.5.1"),
])
def test_new_message(args, options, raw):
    options = {"time": datetime.datetime(2024, 1, 2, 3, 4, 5), "control_id": "ID", **options}
    msg = vellomar.new_message(*args, **options)
    assert msg.raw == raw.replace("|T|", "|20240102030405|", 1)
    assert vellomar.edit(msg, {"PID(+)-5-1": "Doe"}).raw == msg.raw + "\rPID|||||Doe"


def test_new_message_defaults_are_fresh():
    first, second = vellomar.new_message("ADT^A01"), vellomar.new_message("ADT^A01")
    assert re.fullmatch("[0-9a-f]{20}", first.control_id) and first.control_id != second.control_id
    assert vellomar.parse_datetime(first.get("MSH-7")).utcoffset() is not None
