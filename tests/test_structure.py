import concurrent.futures
import gc
import pickle
import sys

import pytest

import vellomar

MSH = "MSH|^~\\&|LAB|HOSP|EHR|HOSP|20240306101500||{type}|C1|P|{version}"
# Two patients; the first with two orders. NTEs on the patient, each order
# and each observation.
ORU = "\r".join([
    MSH.format(type="ORU^R01^ORU_R01", version="2.5.1"),
    "PID|1||MRN1||DOE^JANE", "NTE|1||patient note",
    "ORC|RE|O1", "OBR|1|O1||CBC^CBC panel", "NTE|1||order 1 note",
    "OBX|1|NM|HGB^Hemoglobin||13.5|g/dL|||||F", "NTE|1||hemolysed sample",
    "OBX|2|NM|WBC^Leukocytes||6.1|10*9/L|||||F",
    "OBR|2|O2||CHEM^Chemistry", "OBX|1|NM|GLU^Glucose||5.4|mmol/L|||||F", "NTE|1||fasting",
    "OBX|2|NM|CRE^Creatinine||80|umol/L|||||F", "ZDS|custom",
    "PID|2||MRN2||ROE^RICHARD", "OBR|1|O3||K^Potassium", "OBX|1|NM|K^Potassium||4.1|mmol/L|||||F",
])
ADT = "\r".join([
    MSH.format(type="ADT^A01^ADT_A01", version="2.5.1"), "EVN|A01|20240305140700",
    "PID|1||100234^^^H^MR||NGUYEN^LINH||19840412|F", "PV1|1|I|4W^412^B",
])
ORM = "\r".join([
    MSH.format(type="ORM^O01", version="2.3.1"), "PID|1||MRN1||DOE^JANE",
    "ORC|NW|O1|||||^^^20240308", "OBR|1|O1||CT^CT head|||||||||||||||||||||||^^^20240308",
])


def tree(group):
    out = []
    for child in group.children:
        if isinstance(child, vellomar.Group):
            out.append((child.name, tree(child)))
        else:
            out.append(f"{child.name}{child.index}" + ("" if child.expected else "!"))
    return out


def test_groups_of_a_multi_patient_oru():
    root = vellomar.structure(ORU)
    observation = lambda *segments: ("OBSERVATION", list(segments))  # noqa: E731
    assert (root.name, root.known) == ("ORU_R01", True)
    assert vellomar.Group(root.name, root.children) == root  # a group built by hand is of a known structure
    assert vellomar.SegmentRef("MSH", 0) == root.children[0]  # ... a segment, expected where it stands
    assert (root.segments, root.groups) == ([root.children[0]], list(root.children[1:]))
    assert {root: 1}[vellomar.Group(root.name, root.children)] == 1  # hashable, equal by value, all through
    assert tree(root) == ["MSH0", ("PATIENT_RESULT", [
        ("PATIENT", ["PID1", "NTE2"]),
        ("ORDER_OBSERVATION", ["ORC3", "OBR4", "NTE5", observation("OBX6", "NTE7"),
                               observation("OBX8")]),
        ("ORDER_OBSERVATION", ["OBR9", observation("OBX10", "NTE11"),
                               observation("OBX12", "ZDS13!")])]),
        ("PATIENT_RESULT", [("PATIENT", ["PID14"]),
                            ("ORDER_OBSERVATION", ["OBR15", observation("OBX16")])])]


@pytest.mark.parametrize("text, expected", [
    # An unknown structure is one flat group, named by type and event.
    (MSH.format(type="ZZZ^Z01", version="2.5.1") + "\rPID|1", ("ZZZ_Z01", False, ["MSH0", "PID1"])),
    # ADT^A08 without MSH-9-3 shares ADT_A01; PID out of place goes where it stands.
    (ADT.replace("ADT^A01^ADT_A01", "ADT^A08") + "\rPID|2", ("ADT_A01", True,
                                                             ["MSH0", "EVN1", "PID2", "PV13", "PID4!"])),
    (ADT.replace("2.5.1", "9.9"), ("ADT_A01", False, ["MSH0", "EVN1", "PID2", "PV13"])),
    # a version spelled otherwise is the version it plainly names
    (ADT.replace("2.5.1", "V2.5.1"), ("ADT_A01", True, ["MSH0", "EVN1", "PID2", "PV13"])),
    # Names of other lengths and bytes, and indexes past 255, in both kinds of group.
    (ADT + "\rZZZZ|1\r漢|2\rPV1|3", ("ADT_A01", True,
                                   ["MSH0", "EVN1", "PID2", "PV13", "ZZZZ4!", "漢5!", "PV16!"])),
    (MSH.format(type="ZZZ^Z01", version="2.5.1") + "\rNTE|1" * 300,
     ("ZZZ_Z01", False, ["MSH0"] + [f"NTE{i}" for i in range(1, 301)])),
    # 2.3's OBR opens two groups (ORDER_DETAIL and its choice): more groups than segments
    (MSH.format(type="ORM^O01", version="2.3") + "\rPID|1" + "\rORC|NW\rOBR|1" * 3,
     ("ORM_O01", True, ["MSH0", ("PATIENT", ["PID1"])] + [
         ("ORDER", [f"ORC{i}", ("ORDER_DETAIL", [("CHOICE", [f"OBR{i + 1}"])])]) for i in (2, 4, 6)])),
    # An OML's ORC after an SPM may open a prior result's ORDER_PRIOR or the next ORDER: the next ORDER
    # when the ORDER_PRIOR leaves a segment after it without a place, or a required group out (its
    # OBSERVATION_PRIOR at the message's end), the prior result when it does neither.
    *[(MSH.format(type="OML^O21^OML_O21", version="2.5.1") + "\rPID|1\rORC|NW|1\rOBR|1\rSPM|1\rORC|NW|2\rOBR|2\r"
       + last, ("OML_O21", True, ["MSH0", ("PATIENT", ["PID1"]),
                                  ("ORDER", ["ORC2", ("OBSERVATION_REQUEST", ["OBR3", ("SPECIMEN", ["SPM4"])] + prior)])]
                + after)) for last, prior, after in [
        ("SPM|1", [], [("ORDER", ["ORC5", ("OBSERVATION_REQUEST", ["OBR6", ("SPECIMEN", ["SPM7"])])])]),
        ("", [], [("ORDER", ["ORC5", ("OBSERVATION_REQUEST", ["OBR6"])])]),
        ("OBX|1", [("PRIOR_RESULT", [("ORDER_PRIOR", ["ORC5", "OBR6", ("OBSERVATION_PRIOR", ["OBX7"])])])], [])]],
])
def test_flat_and_shared_structures(text, expected):
    # in a thread of its own, whose match room starts empty: sized by this message alone
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        root = pool.submit(vellomar.structure, text).result(timeout=60)
    assert (root.name, root.known, tree(root)) == expected


@pytest.mark.parametrize("path, value", [
    ("/PATIENT_RESULT/ORDER_OBSERVATION(1)/OBSERVATION(1)/OBX-5", "80"),
    ("/PATIENT_RESULT(1)/ORDER_OBSERVATION/OBR-4-2", "Potassium"),
    ("/PATIENT_RESULT/PATIENT/NTE-3", "patient note"),
    ("/MSH-9-2", "R01"),
    ("OBX(2)-5", "5.4"),
])
def test_get_through_groups(path, value):
    assert vellomar.get(ORU, path) == value


@pytest.mark.parametrize("path, error", [
    ("/PATIENT_RESULT(2)/PID-3", IndexError("Group 'PATIENT_RESULT' repetition 2 not found (have 2)")),
    ("/VISIT/PV1-2", KeyError("Group 'VISIT' not found")),
    ("/PATIENT_RESULT/PATIENT/PID(1)-3", IndexError("Segment 'PID' repetition 1 not found (have 1)")),
    ("/PATIENT_RESULT/OBX-3", KeyError("Segment 'OBX' not found")),
    ("/PATIENT_RESULT/PATIENT/PID-99", IndexError("Field index 99 out of range (1..5)")),
    ("/PATIENT RESULT/PID-3", ValueError("Invalid group: 'PATIENT RESULT'")),
    ("/PATIENT_RESULT/P ID-3", ValueError("Invalid segment name: 'P ID'")),
])
def test_get_through_groups_fails(path, error):
    with pytest.raises(type(error)) as raised:
        vellomar.get(ORU, path)
    assert raised.value.args == error.args


def _two_byte(text):
    # MSH-2 "§\\&" is the bytes C2 A7: the component separator U+00C2 (Â) and
    # the repetition separator U+00A7 (§), each two bytes in the text.
    return text.replace("^", "Â").replace("~", "§").replace("Â§\\&", "§\\&", 1)


def findings(text, **options):
    return [(f.severity[0], f.code, f.location) for f in vellomar.validate(text, **options)]


@pytest.mark.parametrize("text, expected", [
    (ORU, []),
    (ADT, []),
    (ADT.replace("ADT^A01^ADT_A01", "ADT^A08"), []),
    (ORM, []),
    (ORM + "\rZZ1|x", []),  # Z segments are allowed anywhere
    # segment sequence: missing, out of place, too many
    (ADT.replace("\rEVN|A01|20240305140700", ""), [("e", 100, "/EVN")]),
    (ADT + "\rEVN|A01|20240305", [("e", 100, "EVN(1)")]),
    (ORU.replace("ORC|RE|O1\rOBR|1|O1||CBC^CBC panel\r", ""),
     [("e", 100, "OBX"), ("e", 100, "OBX(1)")]),
    (ADT + "\rABCD|1\rABCD|2", [("e", 100, "ABCD"), ("e", 100, "ABCD(1)")]),  # a name of four bytes counted too
    # required field, repetitions, formats, tables, lengths
    (ADT.replace("PID|1||100234^^^H^MR|", "PID|1|||"), [("e", 101, "PID-3")]),
    (ADT.replace("19840412|F", "19840412~19850101|F"), [("e", 102, "PID-7")]),
    (ADT.replace("19840412", "19840230"), [("e", 102, "PID-7-1")]),
    (ADT.replace("PID|1|", "PID|one|"), [("e", 102, "PID-1")]),
    (ORU.replace("||13.5|", "||13.5|").replace("OBX|1|NM|HGB", "OBX|x|NM|HGB"), [("e", 102, "OBX-1")]),
    (ADT.replace("EVN|A01", "EVN|A99"), [("e", 103, "EVN-1")]),
    (ADT.replace("|P|2.5.1", "|Q|2.5.1"), [("w", 103, "MSH-11-1")]),
    (ADT.replace("19840412|F", "19840412|Q"), [("w", 103, "PID-8")]),
    (ADT.replace("NGUYEN^LINH", "N" * 200 + "^LINH"), [("w", 104, "PID-5-1-1")]),
    # unsupported type, event, version
    (ADT.replace("ADT^A01^ADT_A01", "XYZ^A01"), [("e", 200, "MSH-9-1"), ("w", 103, "MSH-9-1")]),
    (ADT.replace("ADT^A01^ADT_A01", "ADT^A99"), [("e", 201, "MSH-9-2"), ("w", 103, "MSH-9-2")]),
    # parts a type does not have: sub-components in a primitive component,
    # components beyond a composite's or in a primitive, OBX-5 as OBX-2 says
    (ADT.replace("100234^^^H^MR", "100234^HOSP&1.2.3&ISO^^H^MR"), [("e", 102, "PID-3-2")]),
    (ORU.replace("HGB^Hemoglobin", "HGB^Hemoglobin^L^^^^X"), [("e", 102, "OBX-3-7")]),
    (ADT.replace("100234^^^H^MR", "100234^^^H&1.2.3&ISO&X&Y^MR"),
     [("e", 102, "PID-3-4-4"), ("e", 102, "PID-3-4-5")]),
    (ADT.replace("19840412|F", "19840412|F^X"), [("e", 102, "PID-8")]),
    (ORU.replace("||13.5|", "||high|"), [("e", 102, "OBX-5")]),
    (ORU.replace("|NM|HGB^Hemoglobin||13.5|", "|CE|HGB^Hemoglobin||A^B^^^^^X|"), [("e", 102, "OBX-5-7")]),
    # a type the version lacks (CWE before 2.5): OBX-5 of any type
    (ORU.replace("|NM|HGB^Hemoglobin||13.5|", "|CWE|HGB^Hemoglobin||A^B^^^^^^^^X|").replace("|2.5.1", "|2.3"),
     [("e", 102, "MSH-9-3"), ("e", 101, "ORC-7"), ("e", 101, "OBR-27"), ("e", 101, "OBR(1)-27"),
      ("e", 101, "OBR(2)-27")]),
    # coding systems HL7 gives as patterns or leaves local, against one it does not know
    (ORU.replace("HGB^Hemoglobin", "HGB^Hemoglobin^HL70001").replace("|g/dL|", "|g/dL^^99LAB|")
     .replace("CBC^CBC panel", "CBC^CBC panel^local"), []),
    (ORU.replace("HGB^Hemoglobin", "HGB^Hemoglobin^XX"), [("w", 103, "OBX-3-3")]),
    # separators of two bytes in UTF-8, beside characters sharing their first byte
    (_two_byte(ADT), []),
    (_two_byte(ADT.replace("NGUYEN^LINH", "NGUYEN¢Ã^LINH")), []),
    (_two_byte(ADT.replace("100234^^^H^MR", "100234^HOSP&1.2.3&ISO^^H^MR")), [("e", 102, "PID-3-2")]),
    (_two_byte(ADT.replace("19840412|F", "19840412~19850101|F")), [("e", 102, "PID-7")]),
])
def test_validate(text, expected):
    assert findings(text) == expected


# More than one separator inside a value whose type lacks parts: its own check named.
@pytest.mark.parametrize("text, expected", [
    (ADT.replace("19840412|F", "19840412|F^X^Y"),
     ("PID-8", "Value 'F^X^Y' of PID-8 has components; IS has none", "Administrative Sex")),
    (ADT.replace("100234^^^H^MR", "100234^HOSP&1.2.3&ISO^^H^MR"),
     ("PID-3-2", "Value 'HOSP&1.2.3&ISO' of PID-3-2 has sub-components; ST has none", "Check Digit")),
])
def test_validate_texts_of_parts_a_type_lacks(text, expected):
    assert [(f.location, f.text, f.name) for f in vellomar.validate(text)] == [expected]


def _adt(version, structure="^ADT_A01"):
    # PID-29 and PID-30 (death date and indicator) and the DG1 fields after
    # the places that later versions withdrew.
    return "\r".join([
        MSH.format(type="ADT^A01" + structure, version=version), "EVN|A01|20240305140700",
        "PID|1||100234^^^H^MR||NGUYEN^LINH||19840412|F" + "|" * 21 + "20240101|Y",
        "PV1|1|I|4W^412^B", "DG1|1||I10^Hypertension^I10||20240305|A" + "|" * 9 + "1",
    ])


@pytest.mark.parametrize("text, strict, expected", [
    *((_adt(v, s), True, []) for v, s in [("2.3", ""), ("2.5.1", "^ADT_A01"), ("2.6", "^ADT_A01"),
                                          ("2.7", "^ADT_A01"), ("2.8", "^ADT_A01")]),
    # versions the definitions lack and a site's own message types
    (ADT.replace("2.5.1", "2.9"), False, [("w", 203, "MSH-12")]),
    (ADT.replace("2.5.1", "2.9"), True, [("e", 203, "MSH-12")]),
    # read as the version it names: its spelling is no value of table 0104
    (ADT.replace("2.5.1", "V2.5.1"), True, [("w", 103, "MSH-12-1")]),
    (ADT.replace("|2.5.1", "|"), False, [("e", 101, "MSH-12")]),
    (ADT.replace("ADT^A01^ADT_A01", "ZAB^Z01^ZAB_Z01"), False, [("w", 200, "MSH-9-1")]),
    (ADT.replace("ADT^A01^ADT_A01", "ZAB^Z01^ZAB_Z01"), True, [("e", 200, "MSH-9-1")]),
])
def test_validate_versions_and_strictness(text, strict, expected):
    assert findings(text, strict=strict) == expected


def test_numbering_agrees_with_hl7apy():
    # Fields by hl7apy's names (PID_29 is PID-29): one it leaves out is a
    # withdrawn field, a placeholder without a type.
    import importlib

    pytest.importorskip("hl7apy")
    versions = ["2.1", "2.2", "2.3", "2.3.1", "2.4", "2.5", "2.5.1", "2.6", "2.7", "2.8", "2.8.1", "2.8.2"]
    for version in versions:
        module = importlib.import_module(f"hl7apy.v{version.replace('.', '_')}.segments")
        references = importlib.import_module(f"hl7apy.v{version.replace('.', '_')}.fields").FIELDS
        message = vellomar.parse(MSH.format(type="ADT^A01", version=version))
        ours, theirs = [], []
        for segment, value in module.SEGMENTS.items():
            fields = value[1:2] and value[1] if value[:1] == ("sequence",) else value
            if segment == "ANYHL7SEGMENT" or not fields:
                continue
            types = {int(f[0].rpartition("_")[2]): references[f[0]][2] for f in fields}
            for number in range(1, max(types) + 2):
                ours.append((segment, number, vellomar.describe(message, f"{segment}-{number}")["type"]))
                theirs.append((segment, number, types.get(number)))
        assert ours == theirs, version


def test_validate_version_option_and_texts():
    # 2.3.1 has no MSH-9-3 component and another PID layout; the option wins over MSH-12.
    assert findings(ADT, version="2.3.1") == []
    text = ADT.replace("19840412|F", "1984|F").replace("^ADT_A01", "")
    assert [str(f) for f in vellomar.validate(text, version="2.3")] == []
    (finding,) = vellomar.validate(ADT.replace("PID|1|", "PID|one|"))
    assert finding == vellomar.Finding("error", 102, "PID-1", "Value 'one' of PID-1 is not a valid SI",
                                       "Set ID PID")


def test_validate_called_by_a_finalizer_while_its_findings_are_made():
    # With the collector run at every other allocation (3.11 runs it inside a call), a
    # finalizer's call lands among the outer call's 81 findings: each call gives its own.
    bad = ADT.replace("PID|1|", "PID|one|") + "".join(f"\rOBX|{i}" for i in range(40))
    calls, inner = [], []

    class Cycle:
        def __del__(self):
            inner.append((calls[-1], vellomar.validate(ADT.replace("PV1|1|", "PV1|two|"))))

    expected = vellomar.validate(bad)
    threshold = gc.get_threshold()
    gc.set_threshold(1, 1)
    try:
        cycle = Cycle()
        cycle.me = cycle
        calls.append("outer")
        del cycle
        outer = vellomar.validate(bad)
        calls.append("after")
    finally:
        gc.set_threshold(*threshold)
    assert len(expected) == 81 and outer == expected
    assert all([f.location for f in found] == ["PV1-1"] for _, found in inner)
    if sys.version_info < (3, 12):  # later versions collect between bytecodes, never inside a call
        assert [during for during, _ in inner] == ["outer"]


def test_validate_raises_as_parse():
    with pytest.raises(ValueError) as raised:
        vellomar.validate("PID|1")
    assert str(raised.value) == "Message must start with MSH segment, got: 'PID|1'"


@pytest.mark.parametrize("args, kwargs, text", [
    ((), {"version": "2.5"}, "validate() missing 1 required positional argument: 'message'"),
    ((ADT, None), {}, "validate() takes 1 positional argument but 2 were given"),
    ((ADT, None, True), {"version": "2.5"}, "validate() takes 1 positional argument but 3 positional"
     " arguments (and 1 keyword-only argument) were given"),
    ((ADT, None), {"strict": True, "version": "2.5"}, "validate() takes 1 positional argument but 2"
     " positional arguments (and 2 keyword-only arguments) were given"),
    ((ADT, None), {"message": ADT}, "validate() got multiple values for argument 'message'"),
    ((ADT, None), {"x": 1}, "validate() got an unexpected keyword argument 'x'"),
    ((b"MSH",), {}, "validate() takes a Message"),
    ((ADT,), {"version": 5}, "argument 'version': 'int' object cannot be converted to 'PyString'"),
])
def test_validate_arguments_worded_as_a_python_function(args, kwargs, text):
    with pytest.raises(TypeError) as raised:
        vellomar.validate(*args, **kwargs)
    assert str(raised.value) == text


def test_validate_pickled_by_name():
    assert pickle.loads(pickle.dumps(vellomar.validate)) is vellomar.validate


@pytest.mark.parametrize("text, version, errors", [
    (ADT.replace("PID|1|", "PID|one|"), "2.5.1",
     ["ERR||PID^1^1^1|102^Value 'one' of PID-1 is not a valid SI^HL70357|E||||Value 'one' of PID-1 is not a valid SI"]),
    (ADT.replace("PID|1|", "PID|a\\F\\b|").replace("2.5.1", "2.3.1"), "2.3.1",
     ["ERR|PID^1^1^102&Value 'a\\E\\F\\E\\b' of PID-1 is not a valid SI&HL70357"]),
    (ORU.split("\rORC")[0], "2.5.1",  # a missing group: no segment to locate
     ["ERR|||100^Group ORDER_OBSERVATION is missing from group PATIENT_RESULT^HL70357|E||||"
      "Group ORDER_OBSERVATION is missing from group PATIENT_RESULT"]),
])
def test_ack_with_error_segments(text, version, errors):
    reply = vellomar.parse(vellomar.ack(text))
    assert reply["MSA-1"] == "AR"
    assert reply.raw.split("\r")[2:] == errors
    assert vellomar.parse(vellomar.ack(ADT))["MSA-1"] == "AA"


@pytest.mark.parametrize("options, texts, status, out", [
    ([], [ADT, ADT.replace("PID|1|", "PID|one|")], 1,
     "F: message 1: valid\nF: message 2: error 102 PID-1: Value 'one' of PID-1 is not a valid SI\n"),
    (["--hl7-version", "2.9", "--strict"], [ADT], 1,
     "F: message 1: error 203 MSH-12: Unsupported version '2.9'\n"),
    (["--json"], [ADT], 0, '[\n  {"file": "F", "message": 1, "findings": []}\n]\n'),
])
def test_validate_command(tmp_path, capsys, monkeypatch, options, texts, status, out):
    from vellomar import cli

    monkeypatch.chdir(tmp_path)
    (tmp_path / "F").write_text("\n".join(texts))
    assert cli.main(["validate", *options, "F"]) == status
    assert capsys.readouterr().out == out


def test_listener_validates():
    import asyncio

    from vellomar import mllp

    handled = []

    async def exchange():
        async with mllp.serve(handled.append, port=0, validate=True) as server:
            good = await mllp.send("127.0.0.1", server.port, ADT)
            bad = await mllp.send("127.0.0.1", server.port, ADT.replace("PID|1|", "PID|one|"))
        return good, bad

    good, bad = asyncio.run(asyncio.wait_for(exchange(), 60))
    assert [m.raw for m in handled] == [ADT]
    assert (good["MSA-1"], len(good.segments)) == ("AA", 2)
    assert (bad["MSA-1"], bad["ERR-3-1"], bad["ERR-2"]) == ("AR", "102", "PID^1^1^1")


@pytest.mark.parametrize("text, expected", [
    # Each row reads its own group first, then the enclosing ones; never a sibling's.
    (ORU, [("MRN1", "CBC panel", "Hemoglobin", "hemolysed sample", "O1", None),
           ("MRN1", "CBC panel", "Leukocytes", "order 1 note", "O1", None),
           ("MRN1", "Chemistry", "Glucose", "fasting", None, None),
           ("MRN1", "Chemistry", "Creatinine", "patient note", None, "custom"),
           ("MRN2", "Potassium", "Potassium", None, None, None)]),
    # An unknown structure reads the message's occurrence, as without groups.
    (ORU.replace("ORU^R01^ORU_R01", "ZRU^Z01"), [
        ("MRN1", "CBC panel", test, "patient note", "O1", "custom")
        for test in ("Hemoglobin", "Leukocytes", "Glucose", "Creatinine", "Potassium")]),
])
def test_rows_read_their_group(text, expected):
    columns = ["PID-3", "OBR-4-2", "OBX-3-2", "NTE-3", "ORC-2", "ZDS-1"]
    rows = vellomar.table(text, columns, rows="OBX").to_pylist()
    assert [tuple(row[c] for c in columns) for row in rows] == expected


def test_definitions_that_do_not_read_fail_with_their_line():
    import subprocess
    import sys

    # A fresh interpreter: the package's own definitions are read once per process.
    script = (
        "from vellomar import _ops\n"
        "for text in ['V 2.5\\nM 1 X [G A', 'V 2.5\\n \\nE 1 ADT_A08', 'V 2.5\\nM 1 X A ]', "
        "'V 2.5\\nS 1 PID SI{1,x}', 'V 2.5\\nS 1 PID SI{1}', 'V 2.5\\nQ 1 X', 'V 2.5\\nL 1 ST x', 'V 2.5 2.6\\nL 4 ST 5']:\n"
        "    try:\n        _ops.load_definitions(text)\n"
        "    except ValueError as error:\n        print(error)\n"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.splitlines() == [
        "Definitions line 2: unclosed group", "Definitions line 3: expected an event and its structure",
        "Definitions line 2: bad group end", "Definitions line 2: bad cardinality", "Definitions line 2: bad cardinality",
        "Definitions line 2: unknown kind", "Definitions line 2: bad length",
        "Definitions line 2: version mask past the versions",
    ]


@pytest.mark.parametrize("text, path, version, expected", [
    (ADT, "PID", None, ("PID", "Patient Identification", None, None, "PID", None)),
    (ADT, "PID(0)-8", None, ("PID-8", "Administrative Sex", "IS", "0001", "F", "Female")),
    (ADT, "PID-3-4-1", None, ("PID-3-4-1", "Namespace ID", "IS", "0300", "H", None)),
    (ADT, "PID-8-1", None, ("PID-8-1", "Administrative Sex", "IS", "0001", "F", "Female")),  # a primitive is its own first component
    # a two-byte repetition separator (Â), whose first byte is also that of é
    (ADT.replace("MSH|^~\\&|", "MSH|^§\\|").replace("|100234^", "|é^"), "PID-3-4-1", None,
     ("PID-3-4-1", "Namespace ID", "IS", "0300", "H", None)),
    (ADT.replace("MSH|^~\\&|", "MSH|§~\\|"), "PID-3-2", None,  # a two-byte component separator (Â), none sent
     ("PID-3-2", "Check Digit", "ST", None, None, None)),
    (ADT, "PID-8-2", None, ("PID-8-2", None, None, None, None, None)),
    (ADT, "PID-3-11", None, ("PID-3-11", None, None, None, None, None)),  # beyond a composite's components
    (ADT, "PID-5-15", None, ("PID-5-15", None, None, None, None, None)),
    (ADT, "PID-30", None, ("PID-30", "Patient Death Indicator", "ID", "0136", None, None)),  # absent
    (ADT, "PID-8", "2.1", ("PID-8", "Sex", "ID", None, "F", None)),
    (_adt("2.8"), "EVN-1", None, ("EVN-1", None, None, None, "A01", None)),  # withdrawn
    (ORU.replace("|NM|HGB^Hemoglobin||13.5|", "|CE|HGB^Hemoglobin||A^B|"), "OBX-5-2", None,
     ("OBX-5-2", "Text", "ST", None, "B", None)),  # OBX-5 is of the type OBX-2 names
    (ORU.replace("OBX|1|NM|HGB^Hemoglobin||13.5|g/dL|||||F", "OBX|1|NM"), "OBX-5", None,
     ("OBX-5", "Observation Value", "NM", None, None, None)),  # OBX-2 the last field sent
    (ADT, "ZZ1-1", None, ("ZZ1-1", None, None, None, None, None)),
    (ADT.replace("2.5.1", "2.9"), "PID-5", None, ("PID-5", None, None, None, "NGUYEN^LINH", None)),
])
def test_describe(text, path, version, expected):
    keys = ("path", "name", "type", "table", "value", "meaning")
    assert vellomar.describe(text, path, version=version) == dict(zip(keys, expected))


def test_describe_fails_for_paths_no_message_answers():
    with pytest.raises(ValueError) as raised:
        vellomar.describe(ADT, "pid-5")
    assert str(raised.value) == "Invalid segment name: 'pid'"
