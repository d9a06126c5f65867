from pathlib import Path

import pytest

from vellomar import _core

SB, EB = "\x0b", "\x1c"
LINES = ["FHS|^~\\&|A", "BHS|^~\\&|A", "MSH|^~\\&|A|B", "PID|1",
         "MSH|^~\\&|C|D", "PID|2", "BTS|2", "FTS|1"]
TWO_RAWS = ["MSH|^~\\&|A|B\rPID|1", "MSH|^~\\&|C|D\rPID|2"]
ONE = "MSH|^~\\&|A|B\rPID|1||MRN||DOE^JOHN"


def tree(msg):
    return [(s.name, [(f.value, [c.sub_components for c in f.components],
                       [r.value for r in f.repetitions]) for f in s]) for s in msg]


@pytest.mark.parametrize(
    "raw, raws",
    [
        ("", []),
        (" \t\r\n\u3000", []),
        ("ZZZ|1", []),
        ("BHS|1\rBTS|0", []),
        ("\r".join(LINES), TWO_RAWS),
        ("\n".join(LINES), TWO_RAWS),
        ("\r\n\r\n".join(LINES) + "\r\n", TWO_RAWS),
        ("\n\r".join(LINES), TWO_RAWS),
        ("ZZZ|1\rNTE|x\r" + "\r".join(TWO_RAWS), TWO_RAWS),
        ("MSH|^~\\&|A|B\rBHS|x\rPID|1\rFTS\rMSH|^~\\&|C|D\rPID|2", TWO_RAWS),
        ("  MSH|^~\\&|A|B \rPID|1  \r\u2028", ["MSH|^~\\&|A|B \rPID|1"]),
        ("ZZ\rMSH|^~\\&\rFH\rBT", ["MSH|^~\\&\rFH\rBT"]),
        (" MSH|^~\\&|A\rPID|1\r MSH|^~\\&|B", ["MSH|^~\\&|A\rPID|1\r MSH|^~\\&|B"]),
        # MLLP frames: dropped where they open or close a line.
        (SB + "\r".join(TWO_RAWS) + EB + "\r", TWO_RAWS),
        ("".join(SB + r + "\r" + EB + "\r" for r in TWO_RAWS), TWO_RAWS),
        ("".join(SB + r + EB + "\r\n" for r in TWO_RAWS), TWO_RAWS),
        ("\n".join(SB + r + "\n" + EB for r in TWO_RAWS), TWO_RAWS),
        (SB + "FHS|x\r" + SB + TWO_RAWS[0] + EB + "\rFTS|1" + EB, TWO_RAWS[:1]),
        ("MSH|^~\\&|A|B\rPID|1" + SB + "\rNTE|" + EB + "x",
         ["MSH|^~\\&|A|B\rPID|1" + SB + "\rNTE|" + EB + "x"]),
        ("MSH|^~\\&|A|B\r" + SB + SB + "PID|1" + EB + EB,
         ["MSH|^~\\&|A|B\r" + SB + "PID|1" + EB]),
    ],
)
def test_messages_of_a_batch(raw, raws):
    messages = _core.parse_batch(raw)
    assert type(messages) is list
    assert all(type(m) is _core.Message for m in messages)
    assert [m.raw for m in messages] == raws


@pytest.mark.parametrize(
    "raw",
    [ONE, SB + ONE + EB + "\r", SB + ONE + EB, SB + ONE + "\r" + EB + "\r"],
)
def test_single_message_matches_parse(raw):
    [msg] = _core.parse_batch(raw)
    expected = _core.parse(raw)
    assert tree(msg) == tree(expected)
    assert msg.raw == expected.raw.rstrip("\r")


def test_each_message_keeps_its_own_delimiters():
    # Short and long message texts alike carry their own encoding characters.
    long_field = "x" * 40
    raw = "MSH|^~#&|#F#\rMSH#^~\\&#\\F\\\rMSH|^~\\&|" + long_field + "\\S\\"
    assert [m.segments[0].field(3).value for m in _core.parse_batch(raw)] == [
        "|", "#", long_field + "^"]


@pytest.mark.parametrize(
    "raw, error",
    [
        (TWO_RAWS[0] + "\rMSH|^\rPID|2",
         "MSH segment too short to extract encoding characters"),
        (TWO_RAWS[0] + "\rMSH|^~\\&\r" + SB + "MSH|^~" + EB,
         "MSH segment too short to extract encoding characters"),
    ],
)
def test_first_failing_message_stops_the_batch(raw, error):
    with pytest.raises(ValueError) as info:
        _core.parse_batch(raw)
    assert type(info.value) is ValueError
    assert info.value.args == ("Error parsing message in batch: " + error,)


def test_arguments_and_registration():
    assert _core.__all__ == [
        "Message", "Segment", "Field", "Component", "MessageIterator",
        "SegmentIterator", "parse", "parse_batch", "parse_datetime", "parse_date",
    ]
    assert _core.parse_batch.__text_signature__ == "(raw)"
    assert _core.parse_batch.__doc__ == (
        "Parse a batch of HL7v2 messages from a raw string.\n\n"
        "Handles:\n"
        "- FHS/BHS/BTS/FTS wrapped files (batch headers/trailers are stripped)\n"
        "- Multiple messages separated by `MSH` segment headers\n\n"
        "Returns a list of parsed `Message` objects."
    )
    assert [m.raw for m in _core.parse_batch(raw=ONE)] == [ONE]
    with pytest.raises(TypeError) as info:
        _core.parse_batch(b"MSH|")
    assert info.value.args == ("argument 'raw': 'bytes' object cannot be converted to 'PyString'",)
    with pytest.raises(TypeError) as info:
        _core.parse_batch()
    assert info.value.args == ("parse_batch() missing 1 required positional argument: 'raw'",)


CORPUS = Path("/work/shared/corpus")


@pytest.mark.skipif(not CORPUS.is_dir(), reason="no sample corpus")
@pytest.mark.parametrize(
    "name, count",
    [
        ("python-hl7__samples.py__sample_batch.hl7", 1),
        ("python-hl7__samples.py__sample_batch1.hl7", 2),
        ("python-hl7__samples.py__sample_batch2.hl7", 2),
        ("python-hl7__samples.py__sample_batch4.hl7", 1),
        ("python-hl7__samples.py__sample_file1.hl7", 3),
        ("python-hl7__samples.py__sample_file2.hl7", 2),
        ("python-hl7__samples.py__sample_file4.hl7", 1),
        ("python-hl7__samples.py__sample_bad_batch.hl7", 0),
        ("python-hl7__samples.py__sample_bad_file3.hl7", 0),
        ("hapi-hl7v2__example_oml_o21.hl7", 13),
        ("python-hl7__test_client.py__mllp_framed_crlf.hl7", 1),
    ],
)
def test_corpus_batches(name, count):
    text = (CORPUS / name).read_bytes().decode("latin-1")
    messages = _core.parse_batch(text)
    assert len(messages) == count
    for msg in messages:
        assert msg.segments[0].name == "MSH"
        assert not {"FHS", "BHS", "BTS", "FTS"} & {s.name for s in msg}
        assert tree(msg) == tree(_core.parse(msg.raw))
