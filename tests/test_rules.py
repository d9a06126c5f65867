"""One rule per concern: every road that cuts, decodes, splits, answers and
escapes decides as the others do."""

import asyncio
import io
import zlib
from unittest import mock

import pytest
from hypothesis import example, given, settings, strategies as st

import vellomar
from conftest import raises, tree
from vellomar import _ranges, mllp
from vellomar.cli.edit import rewrite
from vellomar.table import range_batches

SB, EB, BOM = b"\x0b", b"\x1c", b"\xef\xbb\xbf"
CODECS = {"": "utf-8", "UNICODE UTF-8": "utf-8", "8859/1": "latin-1"}
FRAMINGS = {
    "lines": lambda ms: b"\r".join(ms), "crlf": lambda ms: b"\r\n".join(m.replace(b"\r", b"\r\n") for m in ms),
    "framed": lambda ms: b"".join(SB + m + EB + b"\r" for m in ms), "no cr": lambda ms: b"".join(SB + m + EB for m in ms),
    "space": lambda ms: b" ".join(SB + m + EB for m in ms), "nul": lambda ms: b"".join(SB + m + EB + b"\0" for m in ms),
    "nul line": lambda ms: b"".join(SB + m + EB + b"\r\0" for m in ms),
    # Files that each begin with a byte order mark, joined.
    "bom": lambda ms: b"".join(BOM + m + b"\r\n" for m in ms), "bom cr": lambda ms: b"\r".join(BOM + m for m in ms),
    "bom framed": lambda ms: b"".join(SB + BOM + m + EB + b"\r" for m in ms),
    "bom, frame": lambda ms: b"".join(BOM + SB + m + EB + b"\r" for m in ms),
}


def message(n, charset):
    text = f"MSH|^~\\&|S|F|R|F|2024||ADT^A01|{n}|P|2.5{'|' * 6}{charset}\rPID|1||{n}||Zoë^Ann"
    return text.encode(CODECS[charset])


def seen(messages):
    return [(m["MSH-10"], m["MSH-18"], m["PID-5-1"]) for m in messages]


def ranged(data, start, end):
    """The rows of bytes [start, end) of `data`, as a reader's task makes them."""
    (table,) = range_batches(lambda: io.BytesIO(data), "-", start, end, ["MSH-10", "MSH-18", "PID-5-1"])
    return [tuple(row.values()) for row in table.to_pylist()]


def by_ranges(data, step):
    """The rows of `data` made range by range, as vellomar.dask makes them."""
    file, found = io.BytesIO(data), []
    for offset in range(0, len(data), step):
        found += ranged(data, *_ranges.message_range(file, offset, offset + step, len(data)))
    return found


async def by_listener(data, count):
    got = []
    async with mllp.serve(got.append, port=0) as server:
        reader, writer = await asyncio.open_connection("127.0.0.1", server.port)
        writer.write(data)
        for _ in range(count):
            await reader.readuntil(EB)
        writer.close()
    return got


@settings(max_examples=60)
@given(st.lists(st.sampled_from(sorted(CODECS)), min_size=1, max_size=4), st.sampled_from(sorted(FRAMINGS)),
       st.sampled_from([b"", b" \r\n\t", BOM]), st.integers(1, 90))
def test_every_road_sees_the_same_messages(charsets, framing, lead, step):
    data = lead + FRAMINGS[framing]([message(n, c) for n, c in enumerate(charsets)])
    expected = [(str(n), c, "Zoë") for n, c in enumerate(charsets)]
    assert seen(vellomar.read(io.BytesIO(data))) == expected
    assert by_ranges(data, step) == expected
    assert seen(vellomar.read(io.BytesIO(rewrite(data, lambda m: m)))) == expected  # a no-op edit
    if SB in data:
        assert seen(asyncio.run(asyncio.wait_for(by_listener(data, len(charsets)), 30))) == expected


def by_growth(data, sizes):
    """The rows of `data` read as a stream reads a growing file: when the
    file holds `size` bytes, up to the end of its last whole message."""
    done, found = 0, []
    # Bytes past `size` are there, not yet the reader's; the last read is of
    # the finished file.
    for size, quiet in [(size, False) for size in sorted(sizes)] + [(len(data), True)]:
        start, done = _ranges.grown_range(io.BytesIO(data), done, size, quiet)
        found += ranged(data, start, done)
    return found


@given(st.lists(st.sampled_from(sorted(CODECS)), min_size=1, max_size=4),
       st.sampled_from(sorted(FRAMINGS)), st.lists(st.integers(0, 25000), max_size=6),
       st.sampled_from([b"", b"\rNTE|1||" + b"x" * 5000]))  # longer than the tail first looked at
def test_a_growing_file_gives_each_message_once(charsets, framing, sizes, note):
    # A frame being written is left for a later read, then read whole once.
    data = FRAMINGS[framing]([message(n, c) + note for n, c in enumerate(charsets)])
    assert by_growth(data, [min(size, len(data)) for size in sizes]) == [
        (str(n), c, "Zoë") for n, c in enumerate(charsets)]


STORE = b"".join(SB + message(n, "") + EB + b"\r\n" for n in range(12))  # as the listener's store writes


@given(st.integers(0, len(STORE)))
def test_whole_end_takes_closed_frames(cut):
    # Every closed frame with the CR LF after it, nothing of one being written.
    closed = STORE[:cut].rfind(EB) + 1
    assert _ranges.whole_end(io.BytesIO(STORE), cut) == (min(closed + 2, cut) if closed else 0)


@pytest.mark.parametrize("size", [_ranges._TAIL, _ranges._TAIL + 1, 2 * _ranges._TAIL + 1])
def test_whole_end_looks_back_to_the_file_start(size):
    # One message being written, longer than the first look-back (the last
    # look-backs start at byte 1): none of it is whole yet.
    data = (b"MSH|^~\\&|A\rNTE|1||" + b"x" * size)[:size]
    assert _ranges.whole_end(io.BytesIO(data), size) == 0


LINES = b"MSH|^~\\&|A\rPID|1\rMSH|^~\\&|B\rPID|2\r"  # messages at 0 and 17, 34 bytes


@pytest.mark.parametrize("data, last", [
    (STORE + SB + message(12, ""), len(STORE)),  # a last frame never closed
    (LINES + b"NTE|1||\x0bMSH in a note\r", 17),  # a start block and MSH inside a note
])
def test_a_quiet_file_is_whole_to_its_end(data, last):
    assert _ranges.whole_end(io.BytesIO(data), len(data), quiet=True) == len(data)
    # ... and, still growing, nothing of its last message (from `last` on) is
    assert _ranges.whole_end(io.BytesIO(data), len(data)) <= last


@pytest.mark.parametrize("size, quiet, end", [
    (34, False, 17),  # a line end followed by nothing: another segment may follow
    (34, True, 34),   # ... unless the writer has stopped
    (17, False, 0),   # "MSH|^~\&|A\rPID|1\r": the same in the first message
    (32, False, 17),  # "PID|2" being written
    (32, True, 32),   # a finished file's last line without its line end
    (20, False, 17),  # a line end followed by the next message's "MSH"
    (19, False, 0),   # "MS" may begin an MSA segment of the first message
    (14, False, 0),   # "PI" after the first line end
    (35, False, 34),  # a start block after a line end: the next message's frame
    (36, False, 34),
    (38, False, 34),  # the next message's frame begun: the unframed ones before it are whole
])
def test_whole_end_of_unframed_messages(size, quiet, end):
    # The bytes past `size` are there, and a next message begins after them.
    assert _ranges.whole_end(io.BytesIO(LINES + b"\x0bMSH"), size, quiet) == end


@given(st.integers(0, len(LINES) + 25), st.integers(1, 20))
def test_message_start_in_reads_of_any_size(offset, scan):
    # The first message start at or after `offset`, wherever the scan's reads cut the bytes.
    data = LINES + SB + b"MSH|^~\\&|C\r" + EB + b"\rMSH|^~\\&|D\r"  # starts at 0, 17, 34, 48
    with mock.patch.object(_ranges, "_SCAN", scan):
        found = _ranges.message_start(io.BytesIO(data), offset, len(data))
    assert found == min([s for s in (0, 17, 34, 48) if s >= offset] + [len(data)])


PUNCTUATION = [chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum()]


@given(st.lists(st.sampled_from(PUNCTUATION), min_size=5, max_size=5, unique=True), st.text(),
       st.sampled_from(["MSH-3", "MSH-4-2", "MSH-5(1)-2-2", "ZZZ(+)-2"]))
@example(list('.!"#$'), "\n", "MSH-3")  # '.' a delimiter: LF cannot be written \.br\
def test_escape_and_the_parser_agree(delimiters, text, path):
    field, msh2 = delimiters[0], "".join(delimiters[1:])
    msg = vellomar.parse(f"MSH{field}{msh2}{field}A")
    escaped = vellomar.escape(text, msg)
    if field == "|":  # an MSH-2 text goes with the field separator '|'
        assert escaped == vellomar.escape(text, msh2)
    assert vellomar.parse(f"MSH{field}{msh2}{field}{escaped}")["MSH-3"] == text
    out = vellomar.edit(msg, {path: text})  # its text reads back to its own index
    assert tree(vellomar.parse(out.raw)) == tree(out)


ODD = "Delimiters must be five distinct ASCII punctuation characters, got: "


@pytest.mark.parametrize("header, five", [
    ("MSH||~\\&", "||~\\&"), ("MSH|^~\\", "|^~\\|"), ("MSH|^~\\ ", "|^~\\ "), ("MSH|^~\\A", "|^~\\A"), ("MSH|^\r~\\&", None),
    ("MSH|\u00a7~\\&", "|\u00c2\u00a7~\\"),  # MSH-2's bytes, read as the parser reads them
])
def test_odd_delimiters_are_refused(header, five):
    text = header + "|A|B"
    if five is None:  # a line break among them: the header is too short to read
        assert raises(lambda: vellomar.table(text, ["MSH-3"]))[0] is vellomar.MessageError
        return
    error = (ValueError, (ODD + f"'{five}'",))
    message = vellomar.parse(text)
    assert raises(lambda: vellomar.edit(message, {})) == raises(lambda: vellomar.escape("x", message)) == error
    assert raises(lambda: vellomar.table(text, ["MSH-3"])) == (vellomar.MessageError, ("Message 1 at byte 0: " + error[1][0],))
    assert raises(lambda: vellomar.table([message], ["MSH-3"])) == error


@pytest.mark.parametrize("text, expected", [
    (None, 10),  # no durable length: the whole file
    (_ranges.published(4), 4),
    (_ranges.published(99), 10),  # never past the file's size
    (b"", 0),  # made, not yet written
    (_ranges.published(4)[:-2] + b"0\n", "not a durable length: b'00000000000000000004 c3e88630\\n'"),  # a wrong check
    (b"4 %08x\n" % zlib.crc32(b"4"), "not a durable length: b'4 f3b61b38\\n'"),  # not twenty digits
])
def test_readable_size_is_the_durable_length(tmp_path, text, expected):
    (path := tmp_path / "messages.hl7").write_bytes(b"x" * 10)
    if text is not None:
        (tmp_path / "messages.hl7.durable").write_bytes(text)
    if isinstance(expected, str):
        with pytest.raises(ValueError) as raised:
            _ranges.readable_size(path, 10)
        assert str(raised.value) == f"{path}.durable: {expected}"
    else:
        assert _ranges.readable_size(path, 10) == expected


def test_read_stops_at_the_durable_length(tmp_path):
    (path := tmp_path / "messages.hl7").write_bytes(LINES)  # the second message not yet durable
    (tmp_path / "messages.hl7.durable").write_bytes(_ranges.published(17))
    assert [m["MSH-3"] for m in vellomar.read(path)] == ["A"]
