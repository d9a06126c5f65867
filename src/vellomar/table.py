"""Tables of HL7 v2 messages: columns chosen by terser paths, built in C++."""

from __future__ import annotations

import io
import os
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import IO, Any, Union

from . import _ops
from ._core import Message
from .charsets import codec_of
from .read import MessageError, without_bom

__all__ = ["table", "Table"]

Source = Union[str, bytes, "os.PathLike[str]", IO[bytes], Message, Iterable[Any]]


def _is_text(source: str) -> bool:
    # A str holding a line break or beginning like a message or batch is
    # text; anything else names a file.
    head = source.lstrip()[:3]
    return "\r" in source or "\n" in source or head in ("MSH", "FHS", "BHS") or head[:1] == "\x0b"


class Table:
    """Columns of strings (None where a message lacks what a path selects).

    Implements the Arrow PyCapsule interface (`__arrow_c_stream__`), so
    pyarrow, polars and DuckDB read it without a copy; `to_pydict()` and
    `to_pylist()` need no Arrow library.
    """

    __slots__ = ("_state", "column_names")

    def __init__(self, state: _ops.TableState, names: list[str]) -> None:
        self._state = state
        self.column_names = names

    @property
    def num_rows(self) -> int:
        return self._state.rows()

    def __len__(self) -> int:
        return self._state.rows()

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        return self._state.arrow_stream(requested_schema)

    def to_pydict(self) -> dict[str, list[str | None]]:
        return self._state.to_pydict()

    def to_pylist(self) -> list[dict[str, str | None]]:
        return self._state.to_pylist()

    def __repr__(self) -> str:
        return f"Table(columns={self.column_names!r}, rows={self.num_rows})"


def table(
    source: Source,
    columns: Mapping[str, str] | Sequence[str],
    *,
    rows: str | None = None,
) -> Table:
    """A table of the messages of `source`: text, bytes, a path, a binary
    file, a Message, or an iterable of messages and paths.

    `columns` maps column names to terser paths, or is a list of paths named
    by themselves. One row per message, or with `rows="OBX"` one row per OBX
    segment: paths on that segment read from the occurrence, other paths from
    its message. A missing segment, field or component is None; a malformed
    path raises ValueError before anything is read; a message that does not
    parse or decode raises MessageError.
    """
    if isinstance(columns, Mapping):
        names, paths = list(columns), list(columns.values())
    elif isinstance(columns, str):
        raise TypeError("columns must be a mapping or a list of paths, not a str")
    else:
        paths = list(columns)
        names = list(paths)
    state = _ops.table_state(names, paths, rows)
    _add(state, source)
    return Table(state, names)


def _add_stream(state: _ops.TableState, read: Callable[[int], bytes]) -> None:
    read, error_type, _ = without_bom(read)
    state.add_stream(read, codec_of, None, error_type)


def _add(state: _ops.TableState, source: Any) -> None:
    if isinstance(source, str) and _is_text(source):
        state.add_text(source, MessageError)
    elif isinstance(source, (bytes, bytearray, memoryview)):
        _add_stream(state, io.BytesIO(source).read)
    elif isinstance(source, (str, os.PathLike)):
        with open(source, "rb", buffering=0) as file:
            _add_stream(state, file.read)
    elif hasattr(source, "read"):
        _add_stream(state, source.read)
    elif isinstance(source, Message):
        state.add_messages(iter((source,)))
    elif isinstance(source, Iterable):
        items = iter(source)
        while (item := state.add_messages(items)) is not None:
            _add(state, item)
    else:
        raise TypeError(f"cannot read a table from {type(source).__name__!r}")
