"""HL7 v2 archives and live feeds as Spark DataFrames: the data source ``hl7``.

``register(spark)`` adds the Python data source ``hl7`` (PySpark 4 or newer)
to a session. A batch read cuts every file into byte ranges of about
``blocksize`` bytes at message starts (the cutting that Dask's reader uses),
packs small files together, and makes each range's table with the core, as
Arrow record batches: no Python object per value on the executors.

A streaming read follows a directory, a glob or one growing file (such as
the store of ``vellomar listen``). Its offsets are, per file, byte offsets
that lie at message boundaries, and a micro-batch only takes whole messages,
so that a query restarted from its checkpoint neither skips nor repeats one.
"""

from __future__ import annotations

import dataclasses
import glob
import json
import os
import re
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

try:
    import pyarrow as _pa
    from pyspark.sql.datasource import (
        DataSource,
        DataSourceReader,
        DataSourceStreamReader,
        InputPartition,
    )
    from pyspark.sql.types import LongType, StringType, StructField, StructType
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        "vellomar.spark needs pyspark 4 or newer and pyarrow: pip install 'vellomar[spark]'"
    ) from error

import vellomar

__all__ = ["HL7DataSource", "register"]

_MODES = ("PERMISSIVE", "DROPMALFORMED", "FAILFAST")
_BYTES = re.compile(r"\s*(\d+(?:\.\d*)?)\s*([kmgt]?)(i?)b?\s*", re.IGNORECASE)
_NAME = re.compile(r"[^\s,=]+")


def register(spark: Any) -> None:
    """Adds the data source ``hl7`` to the session ``spark``."""
    spark.dataSource.register(HL7DataSource)


class HL7DataSource(DataSource):
    """``spark.read.format("hl7")`` and ``spark.readStream.format("hl7")``.

    Options: ``columns`` (required: "name=PATH,..." or "PATH,...", or the
    same as JSON), ``rows``, ``mode`` (PERMISSIVE, DROPMALFORMED, FAILFAST),
    ``columnNameOfCorruptRecord``, ``encoding``, ``provenance``,
    ``blocksize`` and, for streams, ``startingOffsets`` (earliest, latest).
    """

    @classmethod
    def name(cls) -> str:
        return "hl7"

    def schema(self) -> StructType:
        return _Options.parse(self.options).schema()

    def reader(self, schema: StructType) -> DataSourceReader:
        return _BatchReader(_Options.parse(self.options))

    def streamReader(self, schema: StructType) -> DataSourceStreamReader:
        return _StreamReader(_Options.parse(self.options))


# ---------------------------------------------------------------- options


@dataclasses.dataclass(frozen=True)
class _Options:
    """The options of a read, checked on the driver before any task runs."""

    paths: list[str]
    columns: dict[str, str]
    rows: str | None = None
    mode: str = "PERMISSIVE"
    corrupt_column: str = "_corrupt_record"
    encoding: str | None = None
    provenance: bool = False
    blocksize: int = 64 << 20
    latest: bool = False

    @classmethod
    def parse(cls, options: Mapping[str, str]) -> _Options:
        # Spark's options are case-insensitive: look them up in lower case.
        given = {key.lower(): value for key, value in options.items()}
        if "columns" not in given:
            raise ValueError("the hl7 source needs the option columns, such as 'id=MSH-10,mrn=PID-3-1'")
        mode = given.get("mode", "PERMISSIVE").upper()
        if mode not in _MODES:
            raise ValueError(f"mode must be PERMISSIVE, DROPMALFORMED or FAILFAST, not {given['mode']!r}")
        starting = given.get("startingoffsets", "earliest").lower()
        if starting not in ("earliest", "latest"):
            raise ValueError(f"startingOffsets must be earliest or latest, not {given['startingoffsets']!r}")
        columns = _parse_columns(given["columns"])
        # The paths and rows are checked as the table checks them, before
        # anything is read (an empty table costs no file access).
        vellomar.table([], columns, rows=given.get("rows") or None)
        options = cls(
            paths=_paths(given),
            columns=columns,
            rows=given.get("rows") or None,
            mode=mode,
            corrupt_column=given.get("columnnameofcorruptrecord", "_corrupt_record"),
            encoding=given.get("encoding") or None,
            provenance=_flag(given.get("provenance", "false"), "provenance"),
            blocksize=_parse_bytes(given.get("blocksize", "64MiB")),
            latest=starting == "latest",
        )
        names = [field.name for field in options.schema().fields]
        if len(set(names)) < len(names):
            raise ValueError(f"column names must differ: {names}")
        return options

    def schema(self) -> StructType:
        fields = [StructField(name, StringType()) for name in self.columns]
        if self.provenance:
            fields += [
                StructField("_file", StringType()),
                StructField("_message", LongType()),
                StructField("_offset", LongType()),
            ]
        if self.mode == "PERMISSIVE":
            fields.append(StructField(self.corrupt_column, StringType()))
        return StructType(fields)

    def arrow_schema(self) -> Any:
        # Spark takes strings as Arrow `string` (32-bit offsets); the core's
        # columns are `large_string` and are cast batch by batch.
        types = {StringType(): _pa.string(), LongType(): _pa.int64()}
        return _pa.schema([(field.name, types[field.dataType]) for field in self.schema().fields])


def _parse_columns(text: str) -> dict[str, str]:
    """Columns as "name=PATH, PATH, ..." (a path alone names itself) or as
    JSON: an object of names to paths or a list of paths."""
    text = text.strip()
    if text[:1] in ("{", "["):
        try:
            value = json.loads(text)
        except json.JSONDecodeError as error:
            raise ValueError(f"columns is not valid JSON: {error}") from None
        if isinstance(value, list):
            value = {path: path for path in value}
        if not all(isinstance(item, str) for pair in value.items() for item in pair):
            raise ValueError("columns in JSON must be an object of names to paths or a list of paths")
        return dict(value)
    columns: dict[str, str] = {}
    for item in text.split(","):
        name, equals, path = (part.strip() for part in item.partition("="))
        path = path if equals else name
        if not _NAME.fullmatch(name) or not _NAME.fullmatch(path):
            raise ValueError(f"columns must read 'name=PATH,...' or 'PATH,...', not {text!r}")
        if name in columns:
            raise ValueError(f"column {name!r} is named twice")
        columns[name] = path
    return columns


def _parse_bytes(text: str) -> int:
    found = _BYTES.fullmatch(text)
    if not found or float(found[1]) < 1:
        raise ValueError(f"blocksize must be a positive size such as '64MiB', not {text!r}")
    unit = (1024 if found[3] else 1000) ** "_kmgt".index((found[2] or "_").lower())
    return int(float(found[1]) * unit)


def _flag(text: str, name: str) -> bool:
    if text.lower() not in ("true", "false"):
        raise ValueError(f"{name} must be true or false, not {text!r}")
    return text.lower() == "true"


def _paths(given: Mapping[str, str]) -> list[str]:
    # load("a") sets the option path; load(["a", "b"]) sets paths to a JSON list.
    if "paths" in given:
        paths = json.loads(given["paths"])
    elif "path" in given:
        paths = [given["path"]]
    else:
        raise ValueError("the hl7 source needs a path: load('archive/*.hl7')")
    return [path.removeprefix("file://") if path.startswith("file:///") else path for path in paths]


def _files(paths: Sequence[str], *, missing_ok: bool = False) -> list[str]:
    """The files named by paths, glob patterns and directories (read
    recursively, without names that start with "." or "_", as Spark's file
    sources skip them), sorted within each pattern or directory."""
    files: list[str] = []
    for path in paths:
        if glob.has_magic(path):
            found = sorted(p for p in glob.glob(path, recursive=True) if os.path.isfile(p))
        elif os.path.isdir(path):
            found = sorted(
                os.path.join(top, name)
                for top, dirs, names in os.walk(path)
                for name in names
                if not name.startswith((".", "_"))
                and not any(part.startswith((".", "_")) for part in os.path.relpath(top, path).split(os.sep) if part != ".")
            )
        else:
            found = [path] if os.path.isfile(path) else []
        if not found and not missing_ok:
            raise FileNotFoundError(f"no file matches {path!r}")
        files.extend(found)
    return files


# --------------------------------------------------------------- reading


# A block: the messages that start in [begin, end) of a file, counting only
# up to `limit`, a message boundary (the file's size or a stream's offset).
Block = tuple[str, int, int, int]


class _Blocks(InputPartition):
    """One task: blocks of one or more files, about `blocksize` bytes."""

    def __init__(self, blocks: list[Block]) -> None:
        super().__init__(blocks)
        self.blocks = blocks


def _partitions(spans: Sequence[tuple[str, int, int]], blocksize: int) -> list[_Blocks]:
    """Tasks for the byte spans (path, begin, end) of files: a large span is
    cut into blocks of `blocksize`, small ones share a task."""
    tasks: list[_Blocks] = []
    current: list[Block] = []
    filled = 0
    for path, begin, end in spans:
        for offset in range(begin, end, blocksize):
            length = min(blocksize, end - offset)
            if current and filled + length > blocksize:
                tasks.append(_Blocks(current))
                current, filled = [], 0
            current.append((path, offset, offset + length, end))
            filled += length
    if current:
        tasks.append(_Blocks(current))
    return tasks


def _read(options: _Options, partition: _Blocks) -> Iterator[Any]:
    schema = options.arrow_schema()
    for path, begin, end, limit in partition.blocks:
        with open(path, "rb") as file:
            start = min(_message_start(file, begin, limit), limit)
            stop = min(_message_start(file, end, limit), limit)
            if start >= stop:
                continue
            file.seek(start)
            table = vellomar.table(_Range(file, stop - start), options.columns, rows=options.rows)
        data = _pa.table(table)
        columns = {
            field.name: data[field.name] if field.name in data.column_names else _pa.nulls(len(data), field.type)
            for field in schema
        }
        # One cast per block: large_string to string keeps the value bytes
        # and narrows the offsets.
        yield from _pa.table(columns).cast(schema).to_batches()


class _BatchReader(DataSourceReader):
    def __init__(self, options: _Options) -> None:
        self.options = options

    def partitions(self) -> Sequence[InputPartition]:
        spans = [(path, 0, os.path.getsize(path)) for path in _files(self.options.paths)]
        return _partitions(spans, self.options.blocksize)

    def read(self, partition: InputPartition) -> Iterator[Any]:
        assert isinstance(partition, _Blocks)
        return _read(self.options, partition)


# ------------------------------------------------------------- streaming

_TAIL = 1 << 12  # first look for the last message start in this many bytes


def whole_end(file: Any, size: int) -> int:
    """The end of the last whole record among the first `size` bytes of a
    file that may be growing: a message is whole once its MLLP frame is
    closed (just past its 0x1C) or, unframed, once a line end is followed by
    nothing but the beginning of the next message."""
    window = _TAIL
    while True:  # the last message start, looking back ever further
        last = min(_message_start(file, max(size - window, 0), size), size)
        if last < size or window >= size:
            break
        window *= 2
    while last < size and (following := min(_message_start(file, last + 1, size), size)) < size:
        last = following
    if last >= size:
        return size  # nothing but bytes between messages
    file.seek(last)
    if file.read(1) == b"\x0b":
        # A frame ends at its 0x1C, which appears nowhere else; the last one
        # closes either this message or the one before it.
        at = size
        while at > 0:
            begin = max(at - _SCAN, 0)
            file.seek(begin)
            found = file.read(at - begin).rfind(b"\x1c")
            if found >= 0:
                return begin + found + 1
            at = begin
        return 0
    file.seek(last)
    data = file.read(size - last)
    line_end = max(data.rfind(b"\r"), data.rfind(b"\n")) + 1
    rest = data[line_end:]
    if line_end and (not rest or b"\x0bMSH".startswith(rest) or b"MSH".startswith(rest)):
        return last + line_end
    return last


class _StreamReader(DataSourceStreamReader):
    """Offsets are {"files": {path: byte offset}}, each at a message boundary;
    a file not named yet is read from its start."""

    def __init__(self, options: _Options) -> None:
        self.options = options
        self._latest: dict[str, Any] | None = None

    def _ends(self, known: Mapping[str, int]) -> dict[str, int]:
        ends = dict(known)
        for path in _files(self.options.paths, missing_ok=True):
            size = os.path.getsize(path)
            done = known.get(path, 0)
            if size < done:
                raise ValueError(
                    f"{path} holds {size} bytes, fewer than the {done} already read: it was truncated or replaced"
                )
            if size > done:
                with open(path, "rb") as file:
                    ends[path] = max(whole_end(file, size), done)
        return ends

    def initialOffset(self) -> dict[str, Any]:
        return {"files": self._ends({}) if self.options.latest else {}}

    # Spark 4.2 passes the start and a read limit; older versions pass
    # nothing, and the end of the previous batch is then the one kept here.
    def latestOffset(self, start: dict[str, Any] | None = None, limit: Any = None) -> dict[str, Any]:
        if start is None:
            start = self._latest or self.initialOffset()
        self._latest = {"files": self._ends(start["files"])}
        return self._latest

    def partitions(self, start: dict[str, Any], end: dict[str, Any]) -> Sequence[InputPartition]:
        before = start["files"]
        spans = [(path, before.get(path, 0), stop) for path, stop in sorted(end["files"].items())]
        return _partitions([span for span in spans if span[1] < span[2]], self.options.blocksize)

    def read(self, partition: InputPartition) -> Iterator[Any]:
        assert isinstance(partition, _Blocks)
        return _read(self.options, partition)


# TEMPORARY, until vellomar._ranges holds the cutting that Dask's reader
# uses: the same rule, imported from where it lives now without importing
# Dask. Replaced by `from ._ranges import Range, message_start`.
_START = re.compile(rb"[\r\n](\x0bMSH|MSH)")
_START_LONGEST = 5
_SCAN = 1 << 16


def _message_start(file: Any, offset: int, size: int) -> int:
    if offset <= 0 or offset >= size:
        return min(max(offset, 0), size)
    at = offset - 1
    file.seek(at)
    data = b""
    while chunk := file.read(_SCAN):
        data += chunk
        found = _START.search(data)
        if found:
            return at + found.start(1)
        keep = min(len(data), _START_LONGEST - 1)
        at += len(data) - keep
        data = data[len(data) - keep :]
    return size


class _Range:
    def __init__(self, file: Any, length: int) -> None:
        self._file = file
        self._left = length

    def read(self, size: int = -1) -> bytes:
        size = self._left if size is None or size < 0 else min(size, self._left)
        data = self._file.read(size) if size else b""
        self._left -= len(data)
        return data
