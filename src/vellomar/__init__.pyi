"""vellomar: a fast HL7 v2 message parser with a C++ core.

The message classes and parse functions come from the extension module
:mod:`vellomar._core`; the package adds its own functions beside them.
"""

from collections.abc import Mapping
from typing import Literal

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
from . import dask as dask
from . import mllp as mllp
from .charsets import decode as decode
from .read import MessageError as MessageError, Reader as Reader, read as read
from .table import Table as Table, table as table, table_batches as table_batches
from .writer import write as write
from .compose import new_message as new_message
from .structure import (
    Finding as Finding,
    Group as Group,
    SegmentRef as SegmentRef,
    ack as ack,
    describe as describe,
    get as get,
    structure as structure,
    validate as validate,
)

class PanicException(BaseException): ...

def edit(message: Message, changes: Mapping[str, str | None]) -> Message: ...
def values(message: Message, path: str) -> list[str]: ...
def er7(message: Message, path: str) -> str: ...
def escape(
    text: str, delimiters: Message | str, line_ends: Literal["escape", "space"] = "escape"
) -> str: ...

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
    "PanicException",
    "decode",
    "edit",
    "values",
    "escape",
    "read",
    "write",
    "Reader",
    "MessageError",
    "table",
    "table_batches",
    "Table",
    "structure",
    "validate",
    "describe",
    "get",
    "ack",
    "Finding",
    "Group",
    "SegmentRef",
    "er7",
    "new_message",
]

__version__: str
