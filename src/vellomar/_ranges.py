"""Byte ranges of HL7 v2 files that hold whole messages, for readers that
share one large file among several workers (vellomar.dask).

As a CSV reader cuts at line ends, a range boundary is moved forward to the
next message start, decided by the core's cutter rule (a line beginning with
MSH, with or without an MLLP start block, or a start block followed by MSH
wherever it stands): each message belongs to the range in which it starts,
the ranges together hold every message of the file exactly once, and each
range cut on its own gives the messages that reading the whole file gives.
"""

from __future__ import annotations

from typing import Any

from . import _ops

__all__ = ["message_start"]

# The bytes kept from one read to the next: a start cut in two is found whole
# (the byte before a start, then up to four bytes of "\x0bMSH").
_KEEP = 4
_SCAN = 1 << 16  # bytes read at a time while looking for a message start


def message_start(file: Any, offset: int, size: int) -> int:
    """The offset of the first message start at or after ``offset`` in the
    binary ``file`` of ``size`` bytes, or ``size`` when there is none."""
    if offset <= 0 or offset >= size:
        return min(max(offset, 0), size)
    # From the byte before `offset`, which tells whether a line starts there.
    at = offset - 1
    file.seek(at)
    data = b""
    while chunk := file.read(_SCAN):
        data += chunk
        found = _ops.message_start(data, 1)
        if found >= 0:
            return at + found
        keep = min(len(data), _KEEP)
        at += len(data) - keep
        data = data[len(data) - keep :]
    return size

