"""Writing messages to a file so that `vellomar.read` gives them back one for one."""

from __future__ import annotations

import io
import os
from collections.abc import Callable, Iterable
from typing import IO, Literal, cast

from . import _ops
from ._core import Message, parse
from ._files import AtomicFile, write_all
from .charsets import codec_of, fixed_codec
from .read import MessageError

__all__ = ["write"]

_LINE_ENDS = ("\r", "\n", "\r\n")
# Messages are handed to the file in pieces of about this size.
_BATCH = 1 << 20


def write(
    target: str | os.PathLike[str] | IO[bytes],
    messages: Iterable[Message | str] | Message | str,
    *,
    framing: Literal["mllp"] | None = None,
    line_end: str = "\r",
    encoding: str | None = None,
) -> int:
    """Write messages to a file, the inverse of `read`; the number written.

    Every segment is followed by `line_end` ("\\r", "\\n" or "\\r\\n"), the last
    one included, so that messages never run into each other; with
    `framing="mllp"` each message is an MLLP frame (0x0B, text, 0x1C 0x0D).
    Each message is encoded with the codec its MSH-18 names (UTF-8 when it
    names none), as `read` decodes it, unless `encoding` names one codec for
    all. `messages` holds `Message` objects and message texts (parsed first);
    one message may be given alone.

    `target` is a binary file object or a path. A path is written to a
    temporary file beside it that replaces it only when every message was
    written: on any error the file keeps its old content. A message that
    cannot be encoded raises `MessageError` naming its number and the byte
    offset where it would have started.
    """
    if framing not in (None, "mllp"):
        raise ValueError(f"framing must be None or 'mllp', not {framing!r}")
    if line_end not in _LINE_ENDS:
        raise ValueError(f"line_end must be '\\r', '\\n' or '\\r\\n', not {line_end!r}")
    fixed = fixed_codec(encoding)
    items = cast(
        "Iterable[Message | str]",
        (messages,) if isinstance(messages, (Message, str)) else messages,
    )
    if isinstance(target, (str, os.PathLike)):
        with AtomicFile(target) as file:
            return _write_all(file.write, items, framing == "mllp", line_end, fixed)
    if isinstance(target, io.TextIOBase):
        raise TypeError("write() needs a binary file: open it with mode 'wb'")
    put = target.write
    return _write_all(lambda data: write_all(put, data), items, framing == "mllp", line_end, fixed)


def _write_all(
    put: Callable[[bytes], object],
    messages: Iterable[Message | str],
    framed: bool,
    line_end: str,
    fixed: str | None,
) -> int:
    pending: list[bytes] = []
    size = offset = count = 0
    for count, message in enumerate(messages, 1):  # noqa: B007 (count is returned)
        try:
            if isinstance(message, str):
                message = parse(message)
            elif not isinstance(message, Message):
                raise TypeError(
                    f"write() takes Message objects and str texts, not '{type(message).__name__}'"
                )
            codec = codec_of(message, fixed)
            data = _ops.message_bytes(message, line_end, framed, codec)
        except (ValueError, LookupError) as error:
            raise MessageError(count, offset + size, str(error)) from None
        pending.append(data)
        size += len(data)
        if size >= _BATCH:
            put(b"".join(pending))
            pending.clear()
            offset, size = offset + size, 0
    if pending:
        put(b"".join(pending))
    return count
