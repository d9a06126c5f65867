"""Tables of HL7 v2 messages: columns chosen by terser paths, built in C++."""

from __future__ import annotations

import codecs
import functools
import importlib
import os
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from typing import IO, Any, Literal, Union

from . import _ops
from .structure import load_definitions
from ._core import Message
from .charsets import codec_of, fixed_codec
from .read import MessageError, without_bom

__all__ = ["table", "table_batches", "Table", "REASON_COLUMN", "PROVENANCE_COLUMNS"]

Source = Union[str, bytes, "os.PathLike[str]", IO[bytes], Message, Iterable[Any]]

# The column that holds why a message kept with errors="keep" did not parse
# (null in the rows of good messages), and the provenance columns: the
# message's file, its 1-based number in the file and the byte offset where
# it starts. A path column of the same name is refused.
REASON_COLUMN = "error"
PROVENANCE_COLUMNS = ("source_file", "source_message", "source_offset")

_FULL = object()  # the batch's budget is reached

# A batch's budget unless told otherwise: rows, and bytes of column data.
BATCH_ROWS = 65536
BATCH_BYTES = 64 << 20


def batch_budget(batch_rows: int, batch_bytes: int) -> tuple[int, int]:
    """The budget of a batch of rows, checked (both must be positive)."""
    if batch_rows < 1 or batch_bytes < 1:
        raise ValueError("batch_rows and batch_bytes must be positive")
    return batch_rows, batch_bytes


def _in_one_read(data: bytes) -> tuple[Callable[[int], bytes], int]:
    """read() of bytes in memory, past a byte order mark that opens them, and
    the number of bytes passed over. It hands over all of them in its first
    call: the state views a chunk as long as it cuts it, so the bytes are not
    copied again chunk by chunk (as io.BytesIO's reads would)."""
    skip = len(codecs.BOM_UTF8) if data.startswith(codecs.BOM_UTF8) else 0
    chunks = [data[skip:] if skip else data]
    return (lambda size: chunks.pop() if chunks else b""), skip


def _is_text(source: str) -> bool:
    # A str holding a line break or an MLLP start block, or beginning like a
    # message or batch, is text; anything else names a file, and so does a
    # single line that is the name of an existing file ("MSH_feed.hl7").
    if "\r" in source or "\n" in source or "\x0b" in source:
        return True
    return source.lstrip()[:3] in ("MSH", "FHS", "BHS") and not os.path.isfile(source)


class Table:
    """Columns of strings (None where a message lacks what a path selects),
    then the reason column with errors="keep" and the provenance columns
    (source_message and source_offset are 64-bit integers) when asked for.

    `errors` lists the bad messages left out (errors="skip") or kept as rows
    (errors="keep"), each a MessageError naming the file, the message's
    number in it, its byte offset and the reason.

    Implements the Arrow PyCapsule interface (`__arrow_c_stream__`), so
    pyarrow, polars and DuckDB read it without a copy; `to_pydict()` and
    `to_pylist()` need no Arrow library; `to_pandas()` goes through pyarrow.
    """

    __slots__ = ("_state", "column_names", "errors")

    def __init__(self, state: _ops.TableState, names: list[str]) -> None:
        self._state = state
        self.column_names = names
        self.errors: list[MessageError] = state.errors()

    @property
    def num_rows(self) -> int:
        return self._state.rows()

    def __len__(self) -> int:
        return self._state.rows()

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        return self._state.arrow_stream(requested_schema)

    def to_pydict(self) -> dict[str, list[Any]]:
        return self._state.to_pydict()

    def to_pylist(self) -> list[dict[str, Any]]:
        return self._state.to_pylist()

    def to_pandas(self) -> Any:
        """A pandas DataFrame of the table, through pyarrow (which must be
        installed: pip install 'vellomar[arrow]')."""
        pyarrow: Any = importlib.import_module("pyarrow")  # an optional dependency
        return pyarrow.table(self).to_pandas()

    def __repr__(self) -> str:
        return f"Table(columns={self.column_names!r}, rows={self.num_rows})"


def table(
    source: Source,
    columns: Mapping[str, str] | Sequence[str],
    *,
    rows: str | None = None,
    errors: Literal["raise", "skip", "keep"] = "raise",
    encoding: str | None = None,
    fallback_encoding: str | None = None,
    provenance: bool = False,
) -> Table:
    """A table of the messages of `source`: text, bytes, a path, a binary
    file, a Message, or an iterable of messages and paths.

    `columns` maps column names to terser paths, or is a list of paths named
    by themselves (a path given twice names its second column "PATH (2)").
    One row per message, or with `rows="OBX"` one row per OBX segment: paths
    on that segment read from the occurrence (one naming a repetition, such
    as "OBX(0)-3", from that occurrence of the message), other paths from the
    nearest group enclosing the row that holds their segment when the
    message's structure is known, else from the message.
    A missing segment, field or component is None; a malformed path raises
    ValueError before anything is read.

    A message that does not parse or decode raises MessageError with
    errors="raise"; errors="skip" leaves it out and errors="keep" gives it
    one row of nulls with the reason in the column "error"; both list it in
    `Table.errors`. Each message is decoded by its MSH-18 (UTF-8 where it
    names none), or every one with `encoding`; `fallback_encoding` decodes a
    message that would be UTF-8 but is not (archives mixing UTF-8 with
    undeclared Latin-1). `provenance=True` adds the columns source_file,
    source_message (1-based number in the file) and source_offset (byte
    offset); they are null for Message objects, and the file is null for
    text and bytes.
    """
    build = _Build(columns, rows, errors, encoding, fallback_encoding, provenance, None)
    for _ in build.feed(build.source_of(source)):
        pass  # no budget: never full
    return build.take()


def table_batches(
    source: Source,
    columns: Mapping[str, str] | Sequence[str],
    *,
    rows: str | None = None,
    errors: Literal["raise", "skip", "keep"] = "raise",
    encoding: str | None = None,
    fallback_encoding: str | None = None,
    provenance: bool = False,
    batch_rows: int = BATCH_ROWS,
    batch_bytes: int = BATCH_BYTES,
) -> Iterator[Table]:
    """The table of `source` (as `table` makes it) in consecutive Tables, so
    that memory is bounded by a batch rather than by the input.

    A batch ends after the message that brings it to `batch_rows` rows or
    `batch_bytes` bytes of column data (one message with more rows than
    that makes a batch alone); the last one may be smaller, and there is at
    least one, even for no rows. Each batch's `errors` lists the bad
    messages met while it was built. Arguments are checked at the call, the
    input is read as the batches are taken.
    """
    build = _Build(columns, rows, errors, encoding, fallback_encoding, provenance,
                   batch_budget(batch_rows, batch_bytes))
    return build.batches(build.feed(build.source_of(source)))


def _column_names(columns: Mapping[str, str] | Sequence[str]) -> tuple[list[str], list[str]]:
    if isinstance(columns, Mapping):
        return list(columns), list(columns.values())
    if isinstance(columns, str):
        raise TypeError("columns must be a mapping or a list of paths, not a str")
    paths = list(columns)
    names: list[str] = []
    seen: dict[str, int] = {}
    for path in paths:  # a path given twice keeps both its columns
        seen[path] = seen.get(path, 0) + 1
        names.append(path if seen[path] == 1 else f"{path} ({seen[path]})")
    return names, paths


class _Build:
    """A table being built from sources, in batches when given a budget."""

    def __init__(
        self,
        columns: Mapping[str, str] | Sequence[str],
        rows: str | None,
        errors: str,
        encoding: str | None,
        fallback_encoding: str | None,
        provenance: bool,
        budget: tuple[int, int] | None,
    ) -> None:
        if errors not in ("raise", "skip", "keep"):
            raise ValueError(f"errors must be 'raise', 'skip' or 'keep', not {errors!r}")
        names, paths = _column_names(columns)
        extra = [REASON_COLUMN] * (errors == "keep") + list(PROVENANCE_COLUMNS) * bool(provenance)
        for name in extra:
            if name in names:
                raise ValueError(
                    f"column name {name!r} is taken by the "
                    f"{'reason' if name == REASON_COLUMN else 'provenance'} column: "
                    "give the path another name")
        self.names = names + extra
        self.encoding = fixed_codec(encoding)
        self.fallback = fixed_codec(fallback_encoding)
        if rows is not None:  # rows read their group's segments (see row_segment)
            load_definitions()
        self.state = _ops.table_state(self.names, paths, rows, errors, provenance, budget)

    def take(self) -> Table:
        """The rows so far, as a Table; the build goes on with none."""
        return Table(self.state.split(), self.names)

    def batches(self, fills: Iterator[None]) -> Iterator[Table]:
        """The batches of the rows that `fills` adds (it yields whenever the
        batch is full): at least one, the last one possibly smaller."""
        taken = False
        for _ in fills:
            taken = True
            yield self.take()
        last = self.take()
        if last.num_rows or last.errors or not taken:
            yield last

    def source_of(self, source: Any) -> Any:
        # Checked at the call, before the generators run.
        if not isinstance(source, (str, bytes, bytearray, memoryview, os.PathLike, Message,
                                   Iterable)) and not hasattr(source, "read"):
            raise TypeError(f"cannot read a table from {type(source).__name__!r}")
        return source

    def stream(
        self,
        read: Callable[[int], bytes] | str,
        name: str | None,
        *,
        encoding: str | None = None,
        before: int = 0,
        offset: int = 0,
        limit: int | None = None,
        past_bom: bool = False,
    ) -> Iterator[None]:
        """Adds the messages of a byte stream, yielding whenever the batch is
        full. `name` is its file's; `before` counts the messages of the file
        before the stream, which starts at byte `offset` of the file and
        holds `limit` bytes (None: up to its end); `past_bom`: `read` already
        starts after any byte order mark. `read` may instead be a str
        holding the whole stream."""
        # A byte order mark opens a file, never a range after its start.
        if offset == 0 and not past_bom and not isinstance(read, str):
            read, _, offset = without_bom(read)
            limit = None if limit is None else max(limit - offset, 0)
        error_type = MessageError if name is None else functools.partial(MessageError, file=name)
        self.state.open(read, codec_of, encoding or self.encoding, self.fallback, error_type,
                        (name, before, offset, limit))
        while not self.state.fill():
            yield

    def feed(self, source: Any) -> Iterator[None]:
        """Adds the messages of `source`, yielding whenever the batch is full."""
        if isinstance(source, str) and _is_text(source):
            if source.isascii():  # its own UTF-8 form, which the state views in place
                yield from self.stream(source, None, encoding="utf-8")  # no BOM: ASCII
                return
            read, skip = _in_one_read(source.encode())
            yield from self.stream(read, None, encoding="utf-8", offset=skip, past_bom=True)
        elif isinstance(source, (bytes, bytearray, memoryview)):
            read, skip = _in_one_read(source if type(source) is bytes else bytes(source))
            yield from self.stream(read, None, offset=skip, past_bom=True)
        elif isinstance(source, (str, os.PathLike)):
            with open(source, "rb", buffering=0) as file:
                yield from self.stream(file.read, os.fsdecode(source))
        elif hasattr(source, "read"):
            name = getattr(source, "name", None)
            yield from self.stream(source.read, name if isinstance(name, str) else None)
        elif isinstance(source, Message):  # (itself an iterable, of its segments)
            yield from self.feed((source,))
        elif isinstance(source, Iterable):
            items = iter(source)
            while (item := self.state.add_messages(items, _FULL)) is not None:
                if item is _FULL:
                    yield
                else:
                    yield from self.feed(item)
        else:
            raise TypeError(f"cannot read a table from {type(source).__name__!r}")


def range_batches(
    open_file: Callable[[], IO[bytes]],
    name: str,
    start: int,
    end: int,
    columns: Mapping[str, str] | Sequence[str],
    *,
    before: int | None = None,
    budget: tuple[int, int] | None = None,
    rows: str | None = None,
    errors: Literal["raise", "skip", "keep"] = "raise",
    encoding: str | None = None,
    fallback_encoding: str | None = None,
    provenance: bool = False,
) -> Iterator[Table]:
    """The table of the messages in bytes [start, end) of a file, numbered
    and placed as in the whole file: messages counted and offsets measured
    from the file's start, the file named `name` in errors and provenance;
    in batches of at most `budget` (rows, bytes, as `batch_budget` gives
    it; a batch ends as in `table_batches`), or in one batch with None (a
    Dask partition). (Package-internal: the road of the Dask and Spark
    readers.)

    `open_file()` opens the file for binary reading, seekable; `start` and
    `end` are message starts, as the range splitter finds them, or the
    file's ends. `before` is the number of messages of the file before
    `start`; None counts them with a pass of the cutter over bytes [0,
    start), with no decoding or parsing: done first when provenance asks for
    message numbers, otherwise only when a bad message must be named.
    Arguments are checked at the call, the file is read as batches are taken.
    """
    build = _Build(columns, rows, errors, encoding, fallback_encoding, provenance, budget)
    return _range_batches(build, open_file, name, start, end, before, provenance)


def _range_batches(
    build: _Build,
    open_file: Callable[[], IO[bytes]],
    name: str,
    start: int,
    end: int,
    before: int | None,
    provenance: bool,
) -> Iterator[Table]:
    @functools.cache  # counted at most once
    def count_before() -> int:
        return before if before is not None else count_range(open_file, 0, start)

    known = count_before() if provenance else before
    with open_file() as file:
        file.seek(start)
        fills = build.stream(file.read, name, before=known or 0, offset=start, limit=end - start)
        try:
            for batch in build.batches(fills):
                if known is None and batch.errors:
                    shift = count_before()
                    batch.errors[:] = [MessageError(e.ordinal + shift, e.offset, e.reason, name)
                                       for e in batch.errors]
                yield batch
        except MessageError as error:
            if known is not None:
                raise
            raise MessageError(error.ordinal + count_before(), error.offset, error.reason,
                               name) from None


def count_range(open_file: Callable[[], IO[bytes]], start: int, end: int) -> int:
    """The number of messages in bytes [start, end) of a file (message
    starts, as for `range_batches`), cut as tables cut them but neither decoded
    nor parsed: a pass at the cutter's speed."""
    if end <= start:
        return 0
    with open_file() as file:
        file.seek(start)
        read: Callable[[int], bytes] = file.read
        skipped = 0
        if start == 0:
            read, _, skipped = without_bom(read)
        return _ops.count_messages(read, max(end - start - skipped, 0))
