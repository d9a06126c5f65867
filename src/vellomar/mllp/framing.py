"""MLLP framing without I/O: a state machine fed the bytes of one connection
as they arrive, returning what they complete.

On the wire each message travels as 0x0B, the message bytes, 0x1C 0x0D.
Bytes outside a frame are skipped (and counted), 0x1C without the 0x0D is
accepted, a 0x0B inside a frame starts a new frame (the one begun is lost),
and a frame longer than the limit is reported with its head only, never
buffered past the limit. No sockets and no event loop here: every framing
rule can be checked by feeding bytes.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Union

START = b"\x0b"
END = b"\x1c"
CR = b"\r"
_CR = 0x0D


@dataclass(frozen=True, slots=True)
class Frame:
    """A whole frame: the message bytes between 0x0B and 0x1C."""

    data: bytes


@dataclass(frozen=True, slots=True)
class Skipped:
    """`count` bytes that belonged to no whole frame."""

    count: int


@dataclass(frozen=True, slots=True)
class Oversized:
    """A frame longer than the limit: `head` holds its first bytes (enough
    to read its MSH for the AR that answers it)."""

    head: bytes


Event = Union[Frame, Skipped, Oversized]


def wrap(data: bytes) -> bytes:
    """The frame that carries the message bytes `data`."""
    return b"".join((START, data, END, CR))


class Framer:
    """Cuts the bytes of one connection into frames."""

    __slots__ = ("_limit", "_buffer", "_in_frame", "_oversized", "_after_end")

    def __init__(self, max_message_bytes: int) -> None:
        self._limit = max_message_bytes
        self._buffer = bytearray()  # a frame begun in an earlier chunk
        self._in_frame = False
        self._oversized = False
        self._after_end = False  # an end block ended the last chunk

    @property
    def in_frame(self) -> bool:
        """True while a frame has begun and not ended."""
        return self._in_frame

    def feed(self, data: bytes | bytearray, size: int | None = None) -> list[Event]:
        """The events that `data` (its first `size` bytes), the next bytes
        received, complete, in order. Consecutive skipped bytes are reported
        as one event. Frames are copies: `data` may be reused afterwards."""
        events: list[Event] = []
        skipped = 0
        position = 0
        size = len(data) if size is None else size
        view = memoryview(data)
        if self._after_end and size:
            # The 0x0D after an end block that came at the end of a chunk.
            self._after_end = False
            position = 1 if data[0] == _CR else 0
        limit = self._limit
        buffer = self._buffer
        while position < size:
            if not self._in_frame:
                start = data.find(START, position, size)
                if start < 0:
                    skipped += size - position
                    break
                skipped += start - position
                self._in_frame = True
                position = start + 1
                continue
            end = data.find(END, position, size)
            stop = size if end < 0 else end
            restart = data.find(START, position, stop)
            if restart >= 0:
                # A new start block before the end: the frame so far is lost.
                skipped += 1 + len(buffer) + restart - position
                buffer.clear()
                self._oversized = False
                position = restart + 1
                continue
            if skipped:
                events.append(Skipped(skipped))
                skipped = 0
            if end >= 0 and not buffer and end - position <= limit:
                # The whole frame in this chunk: one copy, straight out.
                events.append(Frame(bytes(view[position:end])))
            else:
                if not self._oversized:
                    room = limit - len(buffer)
                    if stop - position > room:
                        # Keep the head (its MSH answers the AR); drop the rest.
                        buffer += view[position : position + room]
                        self._oversized = True
                    else:
                        buffer += view[position:stop]
                if end < 0:
                    break
                events.append(Oversized(bytes(buffer)) if self._oversized else Frame(bytes(buffer)))
                buffer.clear()
                self._oversized = False
            self._in_frame = False
            position = end + 1
            if position < size:
                if data[position] == _CR:
                    position += 1
            else:
                self._after_end = True
        if skipped:
            events.append(Skipped(skipped))
        return events
