"""Decoding of HL7 v2 bytes by the character set the message names in MSH-18."""

from __future__ import annotations

import codecs
import re

from . import _ops
from ._core import Message

__all__ = ["decode", "charset_of", "codec_of"]

# MSH-18 names in use (HL7 table 0211 and common variants) and their codecs.
# Any other name is tried as a Python codec name ("UTF-8", "windows-1252").
_HL7_CHARSETS = {
    "ASCII": "ascii",
    "ISO IR6": "ascii",
    "ISO IR100": "latin-1",
    "ISO IR192": "utf-8",
    "ISO IR87": "iso2022_jp",
    "ISO IR159": "iso2022_jp_2",
    "UNICODE": "utf-8",
    "UNICODE UTF-8": "utf-8",
    "UNICODE UTF-16": "utf-16",
    "UNICODE UTF-32": "utf-32",
    "GB 18030-2000": "gb18030",
    "KS X 1001": "euc_kr",
    "BIG-5": "big5",
}
_ISO_8859 = re.compile(r"8859/(\d{1,2})")


def charset_of(data: bytes | Message) -> str | None:
    """The character set named in MSH-18 of the first MSH segment of `data`
    (its first repetition and component, stripped), or None when there is none."""
    return _ops.charset_of(data)


# Names seen so far and their codecs: a name is looked up once, not once a
# message. Bounded: the names come from the data.
_KNOWN: dict[str, str] = {}


def codec_for(charset: str) -> str:
    """The Python codec for an MSH-18 character set name; LookupError names it
    when neither HL7 nor Python knows it."""
    known = _KNOWN.get(charset)
    if known is None:
        known = _codec_for(charset)
        if len(_KNOWN) < 256:
            _KNOWN[charset] = known
    return known


def _codec_for(charset: str) -> str:
    name = " ".join(charset.upper().split())
    if name in _HL7_CHARSETS:
        return _HL7_CHARSETS[name]
    iso = _ISO_8859.fullmatch(name)
    candidate = f"iso8859-{iso.group(1)}" if iso else charset
    try:
        return codecs.lookup(candidate).name
    except LookupError:
        raise LookupError(f"Unknown character set in MSH-18: '{charset}'") from None


def fixed_codec(encoding: str | None) -> str | None:
    """A caller's `encoding` by the name Python gives its codec (None, to
    read each message's MSH-18, stays None); LookupError for one Python
    does not know. The one spelling every road hands the core."""
    return None if encoding is None else codecs.lookup(encoding).name


def codec_of(data: bytes | Message, encoding: str | None = None, default: str = "utf-8") -> str:
    """The codec of the message that `data` holds (its bytes, or the first
    message of a stream; or a Message, by its header): `encoding` when one is given, else the codec of the character
    set named in MSH-18 of its first MSH segment (the core's reader), else
    `default`. The one rule for every road that decodes or encodes a message;
    LookupError names an MSH-18 that neither HL7 nor Python knows."""
    if encoding is not None:
        return encoding
    charset = charset_of(data)
    return codec_for(charset) if charset else default


def decode(data: bytes, default: str = "utf-8") -> str:
    """Decode HL7 v2 bytes with the character set named in MSH-18, or with
    `default` when the first MSH segment names none.

    Bytes that do not decode raise UnicodeDecodeError (its `start` is the
    offset of the first bad byte); an unknown MSH-18 name raises LookupError.
    """
    return data.decode(codec_of(data, None, default))
