"""vellomar.mllp.framing: bytes in, frames and skipped counts out, no server."""

import pytest
from hypothesis import given, strategies as st

from vellomar.mllp.framing import Frame, Framer, Oversized, Skipped, wrap

A, B = b"MSH|^~\\&|A", b"MSH|^~\\&|B"


@pytest.mark.parametrize(
    "chunks, expected",
    [
        ([wrap(A) + wrap(B)], [Frame(A), Frame(B)]),
        ([b"noise" + wrap(A)], [Skipped(5), Frame(A)]),
        ([b"\x0b" + A + b"\x1c" + wrap(B)], [Frame(A), Frame(B)]),  # 0x1C without 0x0D
        ([b"\x0bMSH|cut" + wrap(A)], [Skipped(8), Frame(A)]),  # a start block restarts
        ([b"\x0b" + A[:4], A[4:] + b"\x1c", b"\r\x0b" + B + b"\x1c\r"], [Frame(A), Frame(B)]),
        ([wrap(A)[:-1], b"\r"], [Frame(A)]),  # the 0x0D of the last chunk's end block
        ([wrap(A)[:-1], b"x"], [Frame(A), Skipped(1)]),
        ([b"\x0b" + b"x" * 30 + b"\x1c" + wrap(A)], [Oversized(b"x" * 16), Frame(A)]),
        ([b"\x0b" + b"x" * 10, b"y" * 10, b"z\x1c"], [Oversized(b"x" * 10 + b"y" * 6)]),
        ([b"\x0b" + b"x" * 10, b"\x0b" + A + b"\x1c"], [Skipped(11), Frame(A)]),
        ([b"", b"\r\n"], [Skipped(2)]),
    ],
)
def test_framer_events(chunks, expected):
    framer = Framer(16)
    assert [event for chunk in chunks for event in framer.feed(chunk)] == expected
    assert not framer.in_frame


@given(st.lists(st.binary(max_size=40).filter(lambda m: b"\x0b" not in m and b"\x1c" not in m)),
       st.lists(st.integers(1, 50)))
def test_frames_come_out_whole_however_the_stream_is_cut(messages, cuts):
    stream, chunks = b"".join(map(wrap, messages)), []
    for cut in cuts:
        chunks.append(stream[:cut])
        stream = stream[cut:]
    framer = Framer(40)
    events = [event for chunk in [*chunks, stream] for event in framer.feed(chunk)]
    assert events == [Frame(m) for m in messages]
