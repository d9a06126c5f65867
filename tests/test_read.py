import io
from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

import vellomar

CORPUS = Path(__file__).resolve().parents[2] / "shared" / "corpus"
ATOMS = ["MSH|^~\\&|A", "PID|1", "\r", "\n", "\r\n", "\x0b", "\x1c", " ", "\t", "FHS|",
         "BTS|1", "\xa0", "\u2028", "é", "MS", "H", "\x0bMSH|^~\\&|B|\x1c\r"]


class Trickle:  # a binary file that hands out at most `size` bytes per read

    def __init__(self, data: bytes, size: int) -> None:
        self.file, self.size = io.BytesIO(data), size

    def read(self, n: int) -> bytes:
        return self.file.read(min(n, self.size))


@given(st.lists(st.sampled_from(ATOMS), max_size=14).map("".join), st.integers(1, 9))
def test_read_cuts_like_parse_batch(text, size):
    data = text.encode()
    reader, got = vellomar.read(Trickle(data, size)), []
    try:
        for message in reader:
            assert data[reader.offset : reader.offset + 3] == b"MSH"
            got.append(message.raw)
    except vellomar.MessageError as error:
        with pytest.raises(ValueError) as batch_error:
            vellomar.parse_batch(text)
        assert str(batch_error.value) == f"Error parsing message in batch: {error.reason}"
    else:  # (a bad message is raised as soon as the next one begins)
        assert got == [message.raw for message in vellomar.parse_batch(text)]
        assert reader.position == len(data)


def test_read_files_like_parse_batch(tmp_path):
    if not CORPUS.is_dir():
        pytest.skip("sample corpus not present")
    paths = sorted(CORPUS.glob("*.hl7"))
    batch = tmp_path / "batch.hl7"
    batch.write_bytes(b"".join(b"\x0b" + p.read_bytes().strip() + b"\x1c\r\n" for p in paths))
    for path in [*paths, batch]:
        expected = vellomar.parse_batch(vellomar.decode(path.read_bytes()))
        assert [m.raw for m in vellomar.read(path)] == [m.raw for m in expected]


BAD = (b"MSH|^~\\&|a\rPID|\xe9\r\nMSH|^~\\&|b|||||||||||||||XX\r\x0bMSH|^\x1c\r"
       b"MSH|^~\\&|c|||||||||||||||8859/1\rPID|\xe9\r")


@pytest.mark.parametrize(
    "errors, encoding, outcomes",
    [
        ("raise", None, [
            "Message 1 at byte 0: 'utf-8' codec can't decode byte 0xe9 in position 15: "
            "unexpected end of data",
            "Message 2 at byte 18: Unknown character set in MSH-18: 'XX'",
            "Message 3 at byte 47: MSH segment too short to extract encoding characters",
            "MSH|^~\\&|c|||||||||||||||8859/1\rPID|é",
        ]),
        ("raise", "cp1252", [
            "MSH|^~\\&|a\rPID|é",
            "MSH|^~\\&|b|||||||||||||||XX",
            "Message 3 at byte 47: MSH segment too short to extract encoding characters",
            "MSH|^~\\&|c|||||||||||||||8859/1\rPID|é",
        ]),
        ("skip", None, ["MSH|^~\\&|c|||||||||||||||8859/1\rPID|é"]),
    ],
)
def test_read_bad_messages(errors, encoding, outcomes):
    reader, got = vellomar.read(io.BytesIO(BAD), encoding=encoding, errors=errors), []
    while True:
        try:
            got.append(next(reader).raw)
        except vellomar.MessageError as error:
            assert (error.ordinal, error.offset) == (reader.ordinal, reader.offset)
            got.append(str(error))
        except StopIteration:
            break
    assert got == outcomes
    assert reader.skipped == (3 if errors == "skip" else 0)


@pytest.mark.parametrize(
    "source, kwargs, error, text",
    [
        (io.BytesIO(), {"errors": "ignore"}, ValueError,
         "errors must be 'raise' or 'skip', not 'ignore'"),
        (io.BytesIO(), {"encoding": "hl7"}, LookupError, "unknown encoding: hl7"),
        (io.StringIO("MSH"), {}, TypeError,
         "read() returned 'str', not 'bytes': open the file in binary mode"),
    ],
)
def test_read_refuses(source, kwargs, error, text):
    with pytest.raises(error) as raised:
        list(vellomar.read(source, **kwargs))
    assert str(raised.value) == text


@pytest.mark.parametrize("size", [1, 2, 3, 4, 1 << 20])
@pytest.mark.parametrize("marks", [1, 2])  # the file's, and its first message's own
def test_read_passes_over_a_byte_order_mark(size, marks):
    data = b"\xef\xbb\xbf" * marks + b"MSH|^~\\&|A\rMSH|^\rMSH|^~\\&|B"
    reader = vellomar.read(Trickle(data, size))
    assert (next(reader).raw, reader.offset) == ("MSH|^~\\&|A", 3 * marks)
    with pytest.raises(vellomar.MessageError, match=rf"^Message 2 at byte {11 + 3 * marks}: "):
        next(reader)
    assert ([m.raw for m in reader], reader.position) == (["MSH|^~\\&|B"], len(data))
    assert vellomar.table(Trickle(data.replace(b"MSH|^\r", b""), size), ["MSH-3"]).to_pydict() == {"MSH-3": ["A", "B"]}


ROAD_TEXTS = [
    "MSH|^~\\&|A|B|||20240101||ADT^A01|1|P|2.5\rPID|1||123^^^H||Doe^John\rPV1|1|I",
    "MSH|^~\\&#|A|B|||20240101||ADT^A01|2|P|2.5\rPID|1||456^^^H||Roe^Jane",  # five delimiters
    "MSH#^~\\&#A#B###20240101##ORU^R01#3#P#2.5\rPID#1##789\rOBX#1#TX###a\tb",  # a tab is text
    "MSH|^~\\&",  # the shortest header
    "MSH|^~\\&|A|B|||20240101||ADT^A01|5|P|2.5\rEVN|A01\rPID|1||5",
]


@pytest.mark.parametrize("road, run, calls", [
    # the first text is cut line by line, and the last, which ends the chunk
    ("batch_in_place", lambda path: list(vellomar.read(path)), 3),
    ("table_lines", lambda path: vellomar.table(path, ["PID-3"]), 3),
    ("table_text", lambda path: vellomar.table(ROAD_TEXTS, ["PID-3"]), 5),
    ("write_plain", lambda path: vellomar.write(io.BytesIO(), ROAD_TEXTS), 5),
])
def test_fast_roads_are_taken(tmp_path, road, run, calls):
    # A fast road not taken gives the general road's answers, slower: only
    # its count of calls shows it.
    from vellomar import _ops

    path = tmp_path / "five.hl7"
    path.write_bytes("\r".join(ROAD_TEXTS).encode() + b"\r")
    before = _ops.roads()[road]
    run(path)
    assert _ops.roads()[road] - before == calls
