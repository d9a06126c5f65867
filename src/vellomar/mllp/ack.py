"""What a frame's bytes mean and what answers them: the codec of a message,
its parse from bytes, and the acknowledgements (AA, AE, AR) built by the core."""

from __future__ import annotations

import re

from .. import _ops
from .._core import Message, parse
from ..charsets import codec_of
from .framing import wrap

# The header of an AR for a frame whose own MSH cannot be read.
_MINIMAL_MSH = "MSH|^~\\&|"
_LINES = re.compile(r"[\r\n]+")


def message_codec(data: bytes, encoding: str | None) -> str:
    """The codec of the message bytes `data`: `encoding` when given, else the
    one its MSH-18 names, else UTF-8 (the package's one rule). LookupError for
    an unknown MSH-18."""
    return codec_of(data, encoding)


def parse_bytes(data: bytes, codec: str) -> Message:
    """The message of the bytes `data` in `codec`, decoded and parsed by the
    core as the reader does (UTF-8 checked and parsed in place); ValueError
    with the decoder's or the parser's text."""
    return _ops.parse_bytes(data, codec)


def escape(text: str, raw: str) -> str:
    """`text` made safe for one field of the message `raw`: the delimiters its
    header declares written as escape sequences (F, S, R, E, T) and its line
    ends as spaces (the package's one escaper)."""
    return _ops.escape_answer(text, raw)


def reject(text: str, error: str) -> str:
    """The AR acknowledgement for the message `text` that could not be taken,
    with `error` in MSA-3: its header comes from the first readable MSH line
    of `text`, or from a minimal MSH when there is none."""
    for line in _LINES.split(text[:65536]):
        if line.startswith("MSH") and len(line) >= 8:
            header = parse(line)
            break
    else:
        header = parse(_MINIMAL_MSH)
    return header.ack("AR", escape(error, header.raw))


def error_ack(message: Message, code: str, error: str) -> str:
    """The `code` (AE) acknowledgement of `message` with `error` in MSA-3."""
    return message.ack(code, escape(error, message.raw))


def encode(text: str, codec: str) -> bytes:
    """The frame carrying the acknowledgement `text` in the codec of the
    message it answers (characters that codec lacks become '?')."""
    return wrap(text.encode(codec, "replace"))
