"""Byte ranges of HL7 v2 files that hold whole messages, for readers that
share one large file among several workers (vellomar.dask, vellomar.spark).

As a CSV reader cuts at line ends, a range boundary is moved forward to the
next message start, decided by the core's cutter rule (a line beginning with
MSH, with or without an MLLP start block, or a start block followed by MSH
wherever it stands; a byte order mark before MSH belongs to no message): each message belongs to the range in which it starts,
the ranges together hold every message of the file exactly once, and each
range cut on its own gives the messages that reading the whole file gives.
A file still being written ends, for a reader, after its last whole message
(`whole_end`), so that one written in two goes wholly into the later read.
"""

from __future__ import annotations

import os
import zlib
from typing import Any

from . import _ops

__all__ = ["message_start", "message_range", "grown_range", "whole_end", "readable_size"]

# The bytes kept from one read to the next: a start cut in two is found whole
# (the byte before a start and the first six bytes of a "\x0b\xef\xbb\xbfMSH").
_KEEP = 7
_SCAN = 1 << 16  # bytes read at a time while looking for a message start
_TAIL = 1 << 12  # whole_end first looks for the last message start in this many bytes


def message_start(file: Any, offset: int, size: int) -> int:
    """The offset of the first message start at or after ``offset`` in the
    first ``size`` bytes of the binary ``file``, or ``size`` when there is
    none (bytes the file has gained past ``size`` are not the range's)."""
    if offset <= 0 or offset >= size:
        return min(max(offset, 0), size)
    # From the byte before `offset`, which tells whether a line starts there.
    at = offset - 1
    file.seek(at)
    data = b""
    while (want := min(_SCAN, size - at - len(data))) > 0 and (chunk := file.read(want)):
        data += chunk
        found = _ops.message_start(data)
        if found != -1:
            return at + found
        keep = min(len(data), _KEEP)
        at += len(data) - keep
        data = data[len(data) - keep :]
    return size


def message_range(file: Any, begin: int, end: int, size: int) -> tuple[int, int]:
    """The bytes [start, stop) of the messages that start in bytes [begin,
    end) of the first ``size`` bytes of ``file``: the range a reader's task
    reads for that block, both ends moved to message starts."""
    return message_start(file, begin, size), message_start(file, end, size)


def grown_range(file: Any, done: int, size: int, quiet: bool = False) -> tuple[int, int]:
    """The bytes [start, end) to read next from a growing file of which
    ``done`` bytes (up to a message boundary) are read and ``size`` are
    there now: the whole messages after ``done`` (none: start == end)."""
    end = max(whole_end(file, size, quiet), done)
    return message_start(file, done, end), end


def whole_end(file: Any, size: int, quiet: bool = False) -> int:
    """The end of the last whole message among the first ``size`` bytes of a
    file that may be growing: a message is whole once its MLLP frame is
    closed (past its 0x1C and a CR and LF after it) or, unframed, once the
    next message begins after a line end ("MSH" or a start block), or once
    the file is ``quiet`` (its writer has stopped). A line end alone says
    nothing: a writer may be between two segments of the message, and a
    segment taken for the next message's start would be lost; so are the
    first one or two letters of a line ("MS" may begin an MSA segment)."""
    begin = max(size - _TAIL, 0)
    # the last message start, looking back twice as far each time
    while (last := message_start(file, begin, size)) == size and begin > 0:
        begin = max(2 * begin - size, 0)
    while last < size and (following := message_start(file, last + 1, size)) < size:
        last = following
    if last >= size or quiet:
        # Nothing but bytes between messages; or the writer has stopped, and
        # whatever its last bytes are (a frame never closed, a 0x0B and MSH
        # inside a note), they are the last message's.
        return size
    file.seek(last)
    data: bytes = file.read(size - last)
    if data[:1] == b"\x0b":
        # A frame ends at its 0x1C, which appears nowhere else: before it
        # closes, all before its start is whole (closed frames, or unframed
        # messages the frame follows). With the CR and LF after it (the
        # store's), so that a file of whole frames is read to its end.
        found = data.rfind(b"\x1c")
        if found == -1:
            # Unless the start block stands inside a line (a note's byte):
            # the message it sits in is not whole yet.
            file.seek(max(last - 1, 0))
            return last if last == 0 or file.read(1) in (b"\r", b"\n") else 0
        after = data[found + 1 : found + 3]
        return last + found + 1 + len(after) - len(after.lstrip(b"\r\n"))
    line_end = max(data.rfind(b"\r"), data.rfind(b"\n")) + 1
    rest = data[line_end:]
    if line_end and rest and (b"\x0bMSH".startswith(rest) or rest == b"MSH"):
        return last + line_end
    return last


# A log whose writer says how far it is durable (the listener's store) has
# that length in a file of this suffix beside it.
DURABLE_SUFFIX = ".durable"
_READS = 3  # reads of a durable length caught half written before giving up


def published(length: int) -> bytes:
    """The text of a durable-length file: the length and its CRC-32, so that
    a reader never takes a write it caught half done."""
    digits = b"%020d" % length
    return b"%s %08x\n" % (digits, zlib.crc32(digits))


def readable_size(path: str | os.PathLike[str], size: int) -> int:
    """The bytes of the file at ``path``, now ``size`` bytes long, that a
    reader may take: all of them, or, for a log whose writer publishes its
    durable length beside it, no more than that length (what lies past it
    may still be taken back)."""
    durable = os.fspath(path) + DURABLE_SUFFIX
    for _ in range(_READS):
        try:
            with open(durable, "rb") as file:
                text = file.read(64)
        except FileNotFoundError:
            return size
        digits, _, check = text.partition(b" ")
        if len(digits) == 20 and digits.isdigit() and check.strip() == b"%08x" % zlib.crc32(digits):
            return min(size, int(digits))
        if not text:
            return 0  # made, not yet written: nothing durable
    raise ValueError(f"{durable}: not a durable length: {text[:64]!r}")
