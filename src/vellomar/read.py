"""Streaming reading of files of HL7 v2 messages of any size."""

from __future__ import annotations

import codecs
import os
from collections.abc import Callable, Iterator
from typing import IO, Literal

from . import _ops
from ._ranges import readable_size
from ._core import Message
from .charsets import codec_of, fixed_codec

__all__ = ["read", "Reader", "MessageError"]


class MessageError(ValueError):
    """A message of a source that does not decode or parse.

    `ordinal` is its 1-based position among the messages of the source,
    `offset` the byte offset of its first byte in the source, `file` the
    source's file name where it has one (else None), `reason` the cause.
    """

    def __init__(self, ordinal: int, offset: int, reason: str, file: str | None = None) -> None:
        where = f"Message {ordinal} at byte {offset}: {reason}"
        super().__init__(where if file is None else f"{file}: {where}")
        self.ordinal = ordinal
        self.offset = offset
        self.reason = reason
        self.file = file

    def __reduce__(self) -> tuple[type[MessageError], tuple[int, int, str, str | None]]:
        return (type(self), (self.ordinal, self.offset, self.reason, self.file))


def without_bom(
    read: Callable[[int], bytes],
) -> tuple[Callable[[int], bytes], Callable[[int, int, str], MessageError], int]:
    """`read` past a UTF-8 byte order mark that opens the stream (no part of
    its first message, which would otherwise not start with MSH), the error
    type for the state, counting offsets from the stream's own start, and
    the number of bytes passed over."""
    head = read(3)
    # Reads may be short; a text file's str is left for the state to refuse.
    while isinstance(head, bytes) and 0 < len(head) < 3 and (more := read(3 - len(head))):
        head += more
    if head == codecs.BOM_UTF8:
        return read, lambda ordinal, offset, reason: MessageError(ordinal, offset + 3, reason), 3
    pending = [head] if head else []

    def read_on(size: int) -> bytes:
        return pending.pop() + read(size) if pending else read(size)

    return read_on, MessageError, 0


def _bounded(file: IO[bytes], path: str | os.PathLike[str]) -> Callable[[int], bytes]:
    """`file.read`, stopping at the end of what a log written by another
    process holds durably (the listener's store); the whole file otherwise."""
    size = os.fstat(file.fileno()).st_size
    left = readable_size(path, size)
    if left == size:
        return file.read

    def read(count: int) -> bytes:
        nonlocal left
        data = file.read(min(count, left))
        left -= len(data)
        return data

    return read


def open_stream(
    source: str | os.PathLike[str] | IO[bytes],
) -> tuple[IO[bytes] | None, Callable[[int], bytes], Callable[[int, int, str], MessageError], int]:
    """The stream of messages of `source` (a path, opened here, or a binary
    file): the file opened (None for a file given), its `read` past a byte
    order mark that opens it, the error type counting offsets from the
    stream's own start, and the bytes passed over. Every road that reads a
    source's messages starts here."""
    file: IO[bytes] | None = None
    read: Callable[[int], bytes]
    if isinstance(source, (str, os.PathLike)):
        file = open(source, "rb", buffering=0)  # noqa: SIM115 (the caller closes it)
        read = _bounded(file, source)
    else:
        read = source.read
    try:
        return (file, *without_bom(read))
    except BaseException:
        if file is not None:
            file.close()
        raise


class Reader:
    """The messages of a source, read in chunks and cut as `parse_batch` cuts
    a batch; memory stays bounded by the largest message.

    After each message: `ordinal` and `offset` of the message last returned
    (or raised), `position` the bytes read from the source so far, `skipped`
    the bad messages passed over with errors="skip".
    """

    __slots__ = ("_state", "_file", "_skipped_bytes")

    def __init__(
        self,
        source: str | os.PathLike[str] | IO[bytes],
        *,
        encoding: str | None = None,
        errors: Literal["raise", "skip"] = "raise",
    ) -> None:
        self._file: IO[bytes] | None = None
        if errors not in ("raise", "skip"):
            raise ValueError(f"errors must be 'raise' or 'skip', not {errors!r}")
        codec = fixed_codec(encoding)
        self._file, read, error_type, self._skipped_bytes = open_stream(source)
        # The state closes the file it reads at the end itself, so that a
        # `for` loop can run on it directly, without a Python call per message.
        close = None if self._file is None else self._file.close
        self._state = _ops.read_messages(
            read, close, codec_of, codec, errors == "skip", error_type
        )

    def __iter__(self) -> Iterator[Message]:
        return self._state

    def __next__(self) -> Message:
        return next(self._state)

    def close(self) -> None:
        """Closes the file that the reader opened (not a file object it was
        given); the reader closes it itself at the end of the file."""
        if self._file is not None:
            self._file.close()

    def __enter__(self) -> Reader:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    @property
    def ordinal(self) -> int:
        return self._state.ordinal

    @property
    def offset(self) -> int:
        return self._state.offset + self._skipped_bytes

    @property
    def position(self) -> int:
        return self._state.position + self._skipped_bytes

    @property
    def skipped(self) -> int:
        return self._state.skipped


def read(
    source: str | os.PathLike[str] | IO[bytes],
    *,
    encoding: str | None = None,
    errors: Literal["raise", "skip"] = "raise",
) -> Reader:
    """Iterate the messages of a file: plain, batch (FHS/BHS/BTS/FTS) or
    MLLP-framed, of any size.

    `source` is a path or a binary file object. With `encoding=None` each
    message is decoded by its MSH-18 (UTF-8 when it names none), otherwise
    with `encoding`. A bad message raises `MessageError` when reached and the
    reader goes on with the next one; `errors="skip"` passes over bad
    messages and counts them in `reader.skipped`.
    """
    return Reader(source, encoding=encoding, errors=errors)
