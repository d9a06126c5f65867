"""Hostile and very large input: huge messages, segments, fields and values,
long escape runs, megabyte paths, every class of code point, lone surrogates.

Each case must give the exact documented result without crashing; none of
them is timed here (bench/scaling.py checks that the time grows linearly).
"""

import json

import pytest
from hypothesis import given, settings, strategies as st

import vellomar

HEADER = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ADT^A01|1|P|2.5"
MEGA = 1_000_000


def value_of(text, header="MSH|^~\\&"):
    """The decoded value of `text` as ZZZ-1."""
    return vellomar.parse(header + "\rZZZ|" + text)["ZZZ-1"]


def test_fifty_megabyte_message():
    segment = "OBX|1|TX|CODE^Text^L||" + "x" * 200 + "\\F\\y|F\r"
    count = 50 * MEGA // len(segment) + 1
    raw = HEADER + "\r" + segment * count + "ZZZ|last"
    assert len(raw) > 50 * MEGA
    msg = vellomar.parse(raw)
    assert len(msg) == count + 2
    assert msg[f"OBX({count - 1})-5"] == "x" * 200 + "|y"
    assert msg["OBX(0)-3-2"] == "Text"
    assert msg["ZZZ-1"] == "last"
    assert len(msg.segments_by_name("OBX")) == count


def test_segment_with_a_million_fields():
    msg = vellomar.parse(HEADER + "\rZZZ|" + "|".join(map(str, range(MEGA))))
    seg = msg.segment("ZZZ")
    assert len(seg) == MEGA
    assert seg.field(MEGA).value == str(MEGA - 1)
    assert msg[f"ZZZ-{MEGA}"] == str(MEGA - 1)
    assert sum(1 for _ in seg) == MEGA
    with pytest.raises(IndexError) as info:
        seg[MEGA + 1]
    assert info.value.args == (f"Field index {MEGA + 1} out of range (1..{MEGA})",)


def test_field_with_a_million_components():
    msg = vellomar.parse(HEADER + "\rZZZ|" + "^".join(["c"] * (MEGA - 1) + ["last&sub"]))
    field = msg.segment("ZZZ").field(1)
    assert len(field) == MEGA
    assert field[MEGA].sub_components == ["last", "sub"]
    assert msg[f"ZZZ-1-{MEGA}-2"] == "sub"
    components = field.components
    assert len(components) == MEGA and components[-2].value == "c"
    assert len(msg.to_dict()["segments"][1]["fields"][0]["components"]) == MEGA


@pytest.mark.parametrize(
    "raw, decoded",
    [
        # Empty sequences are kept whole; an odd escape is left unterminated.
        ("\\" * MEGA, "\\" * MEGA),
        ("\\" * (MEGA + 1), "\\" * (MEGA + 1)),
        ("\\E\\" * MEGA, "\\" * MEGA),
        ("\\F" * MEGA, ("|F" * (MEGA // 2))),
        ("a\\" + "X41" * MEGA, "a\\" + "X41" * MEGA),
        ("\\X" + "41" * MEGA + "\\", "A" * MEGA),
        ("\\X" + "4" * (2 * MEGA + 1) + "\\", "D" * MEGA),
        ("\\X" + "ZZ41" * MEGA + "\\", "A" * MEGA),
        ("\\X" + "E9" * MEGA + "\\", "\u00e9" * MEGA),
        ("\\Z" + "q" * MEGA + "\\", "\\Z" + "q" * MEGA + "\\"),
    ],
    ids=["empty-seqs", "odd-escapes", "escaped-escapes", "F-runs", "unterminated",
         "hex", "hex-odd", "hex-invalid-pairs", "hex-latin1", "unknown-long"],
)
def test_million_escape_characters(raw, decoded):
    assert value_of(raw) == decoded


def test_batch_of_a_hundred_thousand_messages():
    count = 100_000
    raw = "FHS|^~\\&\rBHS|^~\\&\r" + "".join(
        f"MSH|^~\\&|A|B|C|D|20230101||ADT^A01|{i}|P|2.5\rPID|1||{i}\r" for i in range(count)
    ) + "BTS|1\rFTS|1"
    messages = vellomar.parse_batch(raw)
    assert len(messages) == count
    assert messages[-1].control_id == str(count - 1)
    assert messages[12345]["PID-3"] == "12345"
    bad = raw.replace("MSH|^~\\&|A|B|C|D|20230101||ADT^A01|99999|P|2.5", "MSH|^", 1)
    with pytest.raises(ValueError) as info:
        vellomar.parse_batch(bad)
    assert info.value.args == (
        "Error parsing message in batch: MSH segment too short to extract encoding characters",)


@pytest.mark.parametrize(
    "path, kind, result",
    [
        ("PID-" + "0" * MEGA + "5", None, "DOE^JOHN"),
        ("PID-+" + "0" * MEGA + "5-2", None, "JOHN"),
        ("PID(" + "9" * MEGA + ")-3", None, "MRN"),  # too large: repetition 0
        ("PID-5-1-1-" + "x" * MEGA, None, "DOE"),
        ("P" * MEGA, KeyError, "Segment '" + "P" * MEGA + "' not found"),
        ("PID-" + "9" * MEGA, ValueError, "Invalid field index: '" + "9" * MEGA + "'"),
        ("PID-5-" + "9" * 20, ValueError, "Invalid component index: '" + "9" * 20 + "'"),
        ("-" * MEGA, KeyError, "Segment '' not found"),
    ],
    ids=["zeros", "plus-zeros", "huge-repetition", "ignored-tail", "long-name",
         "huge-field", "twenty-digits", "hyphens"],
)
def test_megabyte_terser_paths(path, kind, result):
    msg = vellomar.parse(HEADER + "\rPID|1||MRN||DOE^JOHN")
    if kind is None:
        assert msg[path] == result
        assert msg.get(path=path) == result
    else:
        with pytest.raises(kind) as info:
            msg[path]
        assert type(info.value) is kind and info.value.args == (result,)


@pytest.mark.parametrize(
    "raw, names, values",
    [
        # NUL is an ordinary character everywhere.
        ("MSH|^~\\&|a\x00b\rZ\x00Z|\x00", ["MSH", "Z\x00Z"], ["\x00"]),
        # Every mix of lone and paired CR and LF ends a line; blank lines vanish.
        ("MSH|^~\\&\rA|1\nB|2\r\nC|3\n\rD|4\r\r\n\n\rE|5\n", ["MSH", "A", "B", "C", "D", "E"], ["5"]),
        # Characters outside the BMP pass through values, names and escapes.
        ("MSH|^~\\&\r\U0001F600|\U0001D11E^\U0010FFFF\\F\\", ["MSH", "\U0001F600"],
         ["\U0001D11E^\U0010FFFF|"]),
        # Other control characters and U+007F are ordinary.
        ("MSH|^~\\&\rZ|\x01\x0b\x1c\x1f\x7f\u2028", ["MSH", "Z"], ["\x01\x0b\x1c\x1f\x7f\u2028"]),
    ],
    ids=["nul", "line-ends", "non-bmp", "controls"],
)
def test_code_point_classes(raw, names, values):
    msg = vellomar.parse(raw)
    assert [s.name for s in msg] == names
    assert [f.value for f in msg.segments[-1]] == values
    assert json.loads(msg.to_json())["raw"] == raw


@pytest.mark.parametrize("code", range(0x80, 0x100))
def test_latin1_header_byte_as_field_separator(code):
    # The fourth byte of "MSH" + chr(code) is the UTF-8 lead byte 0xC2 or 0xC3,
    # which stands for the character U+00C2 or U+00C3. Only U+00C3 is then
    # found in the text (as C3 83); otherwise every line is one segment
    # named after the whole line, without fields.
    ch = chr(code)
    msg = vellomar.parse(f"MSH{ch}^~\\&{ch}A\rPID{ch}1")
    if ch == "\u00c3":
        assert [(s.name, len(s)) for s in msg] == [("MSH", 3), ("PID", 1)]
        assert msg["MSH-1"] == ch and msg["PID-1"] == "1"
    else:
        assert [(s.name, len(s)) for s in msg] == [(f"MSH{ch}^~\\&{ch}A", 0), (f"PID{ch}1", 0)]


@pytest.mark.parametrize("code", range(0x80, 0x100))
def test_hex_escape_of_every_latin1_code(code):
    assert value_of(f"\\X{code:02X}\\\\X{code:02x}\\") == chr(code) * 2


LONE = "MSH|^~\\&|A\ud800B"


@pytest.mark.parametrize(
    "call",
    [
        lambda m: vellomar.parse(LONE),
        lambda m: vellomar.parse_batch(LONE),
        lambda m: vellomar.parse_datetime("2023\udfff"),
        lambda m: vellomar.parse_date("\ud83d20230101"),
        lambda m: m.segment("P\udc00"),
        lambda m: m.segments_by_name("\ud800"),
        lambda m: m.get("PID-\ud800"),
        lambda m: m["\ud800"],
        lambda m: m.ack("\ud800"),
        lambda m: m.ack("AA", "\udfff"),
    ],
    ids=["parse", "parse_batch", "parse_datetime", "parse_date", "segment",
         "segments_by_name", "get", "subscript", "ack_code", "ack_text"],
)
def test_lone_surrogates_raise_the_interpreters_encode_error(call):
    msg = vellomar.parse(HEADER)
    with pytest.raises(UnicodeEncodeError) as info:
        call(msg)
    assert type(info.value) is UnicodeEncodeError
    assert info.value.encoding == "utf-8" and info.value.reason == "surrogates not allowed"


def tree(msg):
    return [(s.name, [(f.value, [(c.value, c.sub_components) for c in f.components],
                       [r.value for r in f.repetitions]) for f in s]) for s in msg]


def json_tree(doc):
    def field(f):
        return (f["value"], [(c["value"], c["sub_components"]) for c in f["components"]],
                [r["value"] for r in f["repetitions"]])
    return [(s["name"], [field(f) for f in s["fields"]]) for s in doc["segments"]]


HL7ISH = st.text(
    alphabet=st.sampled_from(list("MSH|^~\\&\r\nXF.brEZ0123456789+-é\x00\x0b\x1c") + ["😀", "\u00a6"]),
    max_size=80,
)

ERRORS = ("Empty message", "No segments found",
          "MSH segment too short to extract encoding characters")


@settings(max_examples=300, deadline=None)
@given(body=HL7ISH, header=st.sampled_from(["MSH|^~\\&", "MSH#^~\\&", "MSH|^~é&", "", "MSH"]))
def test_arbitrary_text_parses_or_fails_with_a_parser_error(body, header):
    raw = header + body
    try:
        msg = vellomar.parse(raw)
    except ValueError as e:
        assert type(e) is ValueError
        (text,) = e.args
        assert text in ERRORS or text.startswith("Message must start with MSH segment, got: '")
        return
    doc = json.loads(msg.to_json())
    assert doc["raw"] == msg.raw
    assert json_tree(doc) == tree(msg)


@settings(max_examples=200, deadline=None)
@given(path=st.text(alphabet=st.sampled_from(list("PIDOBX()-+0123456789x")), max_size=24))
def test_arbitrary_paths_answer_or_raise_documented_errors(path):
    msg = vellomar.parse(HEADER + "\rPID|1||MRN||DOE^JOHN&JR\rOBX|1\rOBX|2")
    try:
        assert isinstance(msg[path], str)
    except (ValueError, KeyError, IndexError) as e:
        assert len(e.args) == 1 and isinstance(e.args[0], str)


def test_every_ascii_character_in_values_survives_json():
    text = "".join(map(chr, range(128))).replace("\r", "").replace("\n", "")
    msg = vellomar.parse(HEADER + "\rZZZ|" + text + "\r" + text)
    doc = json.loads(msg.to_json())
    assert doc["raw"] == msg.raw
    assert json_tree(doc) == tree(msg)
