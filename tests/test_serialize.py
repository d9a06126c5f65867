import json
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vellomar import _core

ADT = "MSH|^~\\&|SEND|FAC\rPID|1||MRN||DOE^JOHN~ROE^JANE\rZZZ"


# The complete records, read through the public properties.
def field_record(f):
    return {
        "value": f.value,
        "components": [
            {"value": c.value, "sub_components": c.sub_components} for c in f.components
        ],
        "repetitions": [field_record(r) for r in f.repetitions],
    }


def message_record(msg):
    segments = [{"name": s.name, "fields": [field_record(f) for f in s.fields]} for s in msg]
    return {"raw": msg.raw, "segments": segments}


# The reduced dictionary form, read through the same properties.
def field_dict(f):
    d = {"value": f.value, "components": [c.value for c in f.components]}
    if f.repetitions:
        d["repetitions"] = [field_dict(r) for r in f.repetitions]
    return d


def segment_dict(s):
    return {"name": s.name, "fields": [field_dict(f) for f in s.fields]}


# Characters that exercise every escape class of the writer and every
# delimiter of the parser.
ALPHABET = list("|^~\\&#aXF.S") + [
    "\x00", "\x01", "\x08", "\t", "\x0b", "\x0c", "\x1b", "\x1c", "\x1f",
    '"', "/", "\x7f", "\x85", "é", "\u2028", "\U0001f600",
]
HEADERS = ["MSH|^~\\&", "MSH#^~\\&", "MSH|^~\\|", "MSH\xa6^~\\&", "MSH|^~\\&#"]


@st.composite
def messages(draw):
    head = draw(st.sampled_from(HEADERS)) + draw(st.text(st.sampled_from(ALPHABET)))
    pieces = st.sampled_from(ALPHABET + ["\r", "\n", "MSH", "PID|"])
    rest = "".join(draw(st.lists(pieces)))
    return _core.parse(head + "\r" + rest)


@settings(max_examples=400, deadline=None)
@given(messages())
def test_serialization_matches_the_public_tree(msg):
    assert msg.to_json() == json.dumps(message_record(msg), indent=2, ensure_ascii=False)
    # json.dumps of the dicts compares the key order too.
    dumped = json.dumps(msg.to_dict())
    assert dumped == json.dumps({"segments": [segment_dict(s) for s in msg]})
    for s in msg:
        assert json.dumps(s.to_dict()) == json.dumps(segment_dict(s))


EXAMPLE_SEGMENT = """\
    {
      "name": "ZZ1",
      "fields": [
        {
          "value": "a^b",
          "components": [
            {
              "value": "a",
              "sub_components": [
                "a"
              ]
            },
            {
              "value": "b",
              "sub_components": [
                "b"
              ]
            }
          ],
          "repetitions": []
        }
      ]
    }"""


def test_json_text_layout():
    text = _core.parse("MSH|^~\\&\rZZ1|a^b").to_json()
    assert text.startswith('{\n  "raw": "MSH|^~\\\\&\\rZZ1|a^b",\n  "segments": [\n    {\n')
    assert text.endswith("\n" + EXAMPLE_SEGMENT + "\n  ]\n}")


@pytest.mark.parametrize(
    "value, written",
    [
        ("\r\t\x01\x1b", '"\\r\\t\\u0001\\u001b"'),
        ('say "hi" \\E\\', '"say \\"hi\\" \\\\"'),
        ("é/\x7f\u2028", '"é/\x7f\u2028"'),
    ],
)
def test_json_string_escapes(value, written):
    text = _core.parse("MSH|^~\\&\rZ1|" + value.replace("\r", "\\X0D\\")).to_json()
    assert '"value": ' + written + ",\n" in text.split('"name": "Z1"')[1]


@pytest.mark.parametrize(
    "text, expected",
    [
        ("A&B^C", {"value": "A&B^C", "components": ["A&B", "C"]}),
        ("A^B~C", {"value": "A^B~C", "components": ["A", "B"], "repetitions": [
            {"value": "A^B", "components": ["A", "B"]},
            {"value": "C", "components": ["C"]},
        ]}),
    ],
)
def test_field_to_dict(text, expected):
    d = _core.parse("MSH|^~\\&\rPID|" + text).segment("PID").field(1).to_dict()
    assert json.dumps(d) == json.dumps(expected)


def test_segment_without_fields():
    msg = _core.parse(ADT)
    assert msg.to_dict()["segments"][2] == {"name": "ZZZ", "fields": []}
    assert '"name": "ZZZ",\n      "fields": []\n' in msg.to_json()


def test_to_dict_returns_new_objects():
    msg = _core.parse(ADT)
    first, second = msg.to_dict(), msg.to_dict()
    assert first == second and first is not second
    first["segments"][1]["fields"].clear()
    assert second == msg.to_dict()
    assert len(second["segments"][1]["fields"]) == 5


@pytest.mark.parametrize(
    "method, doc",
    [
        (_core.Message.to_dict, "Serialize the entire message to a Python dict."),
        (_core.Message.to_json, "Serialize the entire message to a JSON string."),
        (_core.Segment.to_dict, "Serialize to a Python dict."),
        (_core.Field.to_dict, "Serialize to a Python dict."),
    ],
)
def test_method_docs(method, doc):
    assert method.__doc__ == doc
    assert method.__text_signature__ == "($self)"


def test_no_arguments_and_no_component_to_dict():
    msg = _core.parse(ADT)
    with pytest.raises(TypeError):
        msg.to_dict(1)
    with pytest.raises(TypeError):
        msg.to_json(indent=2)
    assert not hasattr(msg.segment("PID").field(5).component(1), "to_dict")


CORPUS = Path("/work/shared/corpus")


@pytest.mark.skipif(not CORPUS.is_dir(), reason="no sample corpus")
def test_corpus_json_matches_the_public_tree():
    for path in sorted(CORPUS.glob("*.hl7")):
        for msg in _core.parse_batch(path.read_bytes().decode("latin-1")):
            expected = json.dumps(message_record(msg), indent=2, ensure_ascii=False)
            assert msg.to_json() == expected, path.name
