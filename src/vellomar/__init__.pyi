"""vellomar: a fast HL7 v2 message parser with a C++ core.

Everything public comes from the extension module :mod:`vellomar._core`.
"""

from ._core import (
    Component as Component,
    Field as Field,
    Message as Message,
    MessageIterator as MessageIterator,
    Segment as Segment,
    SegmentIterator as SegmentIterator,
    parse as parse,
    parse_batch as parse_batch,
    parse_date as parse_date,
    parse_datetime as parse_datetime,
)

__all__ = [
    "Message",
    "Segment",
    "Field",
    "Component",
    "MessageIterator",
    "SegmentIterator",
    "parse",
    "parse_batch",
    "parse_datetime",
    "parse_date",
]

__version__: str
