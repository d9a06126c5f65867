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
import functools
import glob
import json
import logging
import os
import re
import time
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

from ._ranges import grown_range, message_range, readable_size
from .table import BATCH_BYTES, BATCH_ROWS, PROVENANCE_COLUMNS, batch_budget, count_range, range_batches

__all__ = ["HL7DataSource", "register"]

_log = logging.getLogger("vellomar.spark")

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
    ``columnNameOfCorruptRecord``, ``encoding``, ``fallbackEncoding``,
    ``provenance``, ``blocksize``, ``batchBytes`` and, for streams,
    ``startingOffsets`` (earliest, latest) and ``quietSeconds``.
    """

    @classmethod
    def name(cls) -> str:
        return "hl7"

    def schema(self) -> StructType:
        return _Options.parse(self.options).schema()

    def reader(self, schema: StructType) -> DataSourceReader:
        return _BatchReader(_Options.parse(self.options, schema))

    def streamReader(self, schema: StructType) -> DataSourceStreamReader:
        return _StreamReader(_Options.parse(self.options, schema))


# ---------------------------------------------------------------- options


@dataclasses.dataclass
class _Options:
    """The options of a read, checked on the driver before any task runs
    (made by `parse` alone, which gives every field with its default)."""

    paths: list[str]
    columns: dict[str, str]
    rows: str | None
    mode: str
    corrupt_column: str
    encoding: str | None
    fallback_encoding: str | None
    provenance: bool
    blocksize: int
    batch_bytes: int
    latest: bool
    quiet_seconds: float
    fhir: bool
    mapping: tuple[str, ...]
    zone: str | None

    @classmethod
    def parse(cls, options: Mapping[str, str], schema: StructType | None = None) -> _Options:
        # Spark's options are case-insensitive: look them up in lower case.
        given = {key.lower(): value for key, value in options.items()}
        fhir = _flag(given.get("fhir", "false"), "fhir")
        if fhir and ("columns" in given or "rows" in given):
            raise ValueError("the option fhir gives the columns resourceType, id and resource: "
                             "give no columns or rows")
        for option in ("mapping", "zone"):
            if option in given and not fhir:
                raise ValueError(f"the option {option} is for the option fhir")
        if "columns" not in given and not fhir:
            raise ValueError("the hl7 source needs the option columns, such as 'id=MSH-10,mrn=PID-3-1'")
        mode = given.get("mode", "PERMISSIVE").upper()
        if mode not in _MODES:
            raise ValueError(f"mode must be PERMISSIVE, DROPMALFORMED or FAILFAST, not {given['mode']!r}")
        starting = given.get("startingoffsets", "earliest").lower()
        if starting not in ("earliest", "latest"):
            raise ValueError(f"startingOffsets must be earliest or latest, not {given['startingoffsets']!r}")
        options = cls(
            paths=_paths(given),
            columns={} if fhir else _parse_columns(given["columns"]),
            rows=given.get("rows") or None,
            mode=mode,
            corrupt_column=given.get("columnnameofcorruptrecord", "_corrupt_record"),
            encoding=given.get("encoding") or None,
            fallback_encoding=given.get("fallbackencoding") or None,
            provenance=_flag(given.get("provenance", "false"), "provenance"),
            blocksize=_parse_bytes(given.get("blocksize", "64MiB"), "blocksize"),
            batch_bytes=_parse_bytes(given.get("batchbytes", str(BATCH_BYTES)), "batchBytes"),
            latest=starting == "latest",
            quiet_seconds=_parse_seconds(given.get("quietseconds", "2"), "quietSeconds"),
            fhir=fhir,
            mapping=tuple(path.strip() for path in given.get("mapping", "").split(",") if path.strip()),
            zone=given.get("zone") or None,
        )
        if fhir:
            if options.mapping or options.zone:  # read on the driver too: a bad table or zone fails here
                from .fhir import Mapping

                Mapping.load(options.mapping, zone=options.zone)
            return options
        # Paths, rows, codecs and column names are checked as the table
        # checks them, before anything is read (an empty table reads nothing).
        vellomar.table([], **options.table_options())
        names = options.schema().fieldNames()
        if len(set(names)) < len(names):
            raise ValueError(f"column names must differ: {names}")
        if schema is not None and schema != options.schema():
            # A schema given to the reader (spark.read.schema) would only
            # repeat, or contradict, what the options say.
            raise ValueError(
                f"the hl7 source's schema follows from its options: {options.schema().simpleString()}, "
                f"not {schema.simpleString()}"
            )
        return options

    def table_options(self) -> dict[str, Any]:
        errors = {"PERMISSIVE": "keep", "DROPMALFORMED": "skip", "FAILFAST": "raise"}[self.mode]
        # The table gets the paths alone (a column named by its path), so
        # that no name of ours meets its reason or provenance names; the
        # columns are renamed by position, in the order of schema().
        return dict(columns=list(self.columns.values()), rows=self.rows, errors=errors, encoding=self.encoding,
                    fallback_encoding=self.fallback_encoding, provenance=self.provenance)

    def schema(self) -> StructType:
        if self.fhir:
            return StructType([StructField(name, StringType())
                               for name in ("resourceType", "id", "resource")])
        # The table's order: path columns, the reason of a bad message kept
        # (Spark's corrupt record column), the provenance columns.
        fields = [StructField(name, StringType()) for name in self.columns]
        if self.mode == "PERMISSIVE":
            fields.append(StructField(self.corrupt_column, StringType()))
        if self.provenance:
            file, message, offset = PROVENANCE_COLUMNS
            fields += [StructField(file, StringType()), StructField(message, LongType()),
                       StructField(offset, LongType())]
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


def _parse_seconds(text: str, name: str) -> float:
    try:
        seconds = float(text)
    except ValueError:
        seconds = -1.0
    if not 0 <= seconds < float("inf"):
        raise ValueError(f"{name} must be a number of seconds such as '2' or '0.5', not {text!r}")
    return seconds


def _parse_bytes(text: str, name: str) -> int:
    found = _BYTES.fullmatch(text)
    if not found or float(found[1]) < 1:
        raise ValueError(f"{name} must be a positive size such as '64MiB', not {text!r}")
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


@dataclasses.dataclass
class _Span:
    """Bytes [begin, end) of a file to read, both message boundaries, with
    the number of messages of the file before `begin`."""

    path: str
    begin: int
    end: int
    before: int = 0


# A block: the messages that start in bytes [begin, end) of a span.
_Block = tuple[_Span, int, int]


class _Blocks(InputPartition):
    """One task: blocks of one or more files, about `blocksize` bytes."""

    def __init__(self, blocks: list[_Block]) -> None:
        super().__init__(blocks)
        self.blocks = blocks


def _partitions(spans: Sequence[_Span], blocksize: int) -> list[_Blocks]:
    """Tasks for spans of files: a large span is cut into blocks of
    `blocksize`, small ones share a task."""
    tasks: list[_Blocks] = []
    current: list[_Block] = []
    filled = 0
    for span in spans:
        for offset in range(span.begin, span.end, blocksize):
            length = min(blocksize, span.end - offset)
            if current and filled + length > blocksize:
                tasks.append(_Blocks(current))
                current, filled = [], 0
            current.append((span, offset, offset + length))
            filled += length
    if current:
        tasks.append(_Blocks(current))
    return tasks


def _read(options: _Options, partition: _Blocks) -> Iterator[Any]:
    """The Arrow record batches of a task, each within the batch budget
    (BATCH_ROWS rows, batchBytes bytes of column data): a task's memory is
    bounded by the budget, not by the size of its blocks."""
    if options.fhir:
        yield from _read_fhir(options, partition)
        return
    schema = options.arrow_schema()
    table_options = options.table_options()
    budget = batch_budget(BATCH_ROWS, options.batch_bytes)
    for span, begin, end in partition.blocks:
        open_file = functools.partial(open, span.path, "rb")
        with open_file() as file:
            start, stop = message_range(file, begin, end, span.end)
        if start >= stop:
            continue
        # Message numbers count from the file's start: the span knows those
        # before it, the cutter counts those between the span and the block.
        before = span.before + count_range(open_file, span.begin, start) if options.provenance else None
        for table in range_batches(open_file, span.path, start, stop, before=before, budget=budget,
                                   **table_options):
            data = _pa.table(table).rename_columns(schema.names)
            # large_string to string keeps the value bytes and narrows the
            # offsets to 32 bits, which a slice of rows keeps within bounds
            # where a batch of one message's many rows could pass them
            # (rows="OBX" repeats message values).
            for offset in range(0, len(data), BATCH_ROWS):
                yield from data.slice(offset, BATCH_ROWS).cast(schema).to_batches()


@functools.lru_cache(maxsize=4)
def _mapping(paths: tuple[str, ...], stamps: tuple[tuple[int, int], ...], zone: str | None) -> object:
    """A user's tables (and zone) compiled once per Python worker, which
    Spark reuses from task to task; `stamps` (size and modification time of
    each file) makes a changed file load anew."""
    from . import fhir

    return fhir._maps(fhir.Mapping.load(paths, zone=zone))


def _read_fhir(options: _Options, partition: _Blocks) -> Iterator[Any]:
    """The FHIR resources of the messages of a task's blocks, one row each
    (see vellomar.fhir), as Arrow record batches made from the core's NDJSON
    without a Python object per resource. A bad message fails the task with
    mode FAILFAST; otherwise it is logged (logger "vellomar.spark", on the
    executor) and left out."""
    from . import fhir
    from ._fhir_bulk import arrow_rows, range_lines
    from .read import MessageError

    fhir._load()
    maps = None
    if options.mapping or options.zone:
        stamps = tuple((info.st_size, info.st_mtime_ns) for info in map(os.stat, options.mapping))
        maps = _mapping(options.mapping, stamps, options.zone)
    schema = options.arrow_schema()

    def bad(error: MessageError) -> None:
        if options.mode == "FAILFAST":
            raise error
        _log.warning("%s", error)

    for span, begin, end in partition.blocks:
        with open(span.path, "rb") as file:
            start, stop = message_range(file, begin, end, span.end)
        for lines, _ in range_lines(lambda: open(span.path, "rb"), span.path, start, stop, maps,
                                 options.encoding, bad):
            yield from arrow_rows(lines).cast(schema).to_batches()


class _BatchReader(DataSourceReader):
    def __init__(self, options: _Options) -> None:
        self.options = options

    def partitions(self) -> Sequence[InputPartition]:
        spans = [
            _Span(path, 0, readable_size(path, os.path.getsize(path)))
            for path in _files(self.options.paths)
        ]
        return _partitions(spans, self.options.blocksize)

    def read(self, partition: InputPartition) -> Iterator[Any]:
        assert isinstance(partition, _Blocks)
        return _read(self.options, partition)


# ------------------------------------------------------------- streaming


class _StreamReader(DataSourceStreamReader):
    """Offsets are {"files": {path: [byte offset, messages before it]}}, the
    offset at a message boundary; a file not named yet is read from its
    start."""

    def __init__(self, options: _Options) -> None:
        self.options = options
        self._latest: dict[str, Any] | None = None

    def _ends(self, known: Mapping[str, list[int]]) -> dict[str, list[int]]:
        ends = dict(known)
        for path in _files(self.options.paths, missing_ok=True):
            status = os.stat(path)
            size = readable_size(path, status.st_size)
            done, messages = known.get(path, (0, 0))
            if size < done:
                raise ValueError(
                    f"{path} holds {size} bytes, fewer than the {done} already read: it was truncated or replaced"
                )
            if size > done:
                # An unframed file's last message is read once the file has
                # not changed for quietSeconds: its writer may be between two
                # segments of it, and nothing in the bytes says otherwise.
                quiet = time.time() - status.st_mtime >= self.options.quiet_seconds
                with open(path, "rb") as file:
                    start, end = grown_range(file, done, size, quiet)
                # The cutter's count, so that message numbers go on from one
                # batch to the next.
                ends[path] = [end, messages + count_range(functools.partial(open, path, "rb"), start, end)]
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
        spans = []
        for path, (stop, _) in sorted(end["files"].items()):
            begin, before = start["files"].get(path, (0, 0))
            spans.append(_Span(path, begin, stop, before))  # nothing new: a span of no blocks
        return _partitions(spans, self.options.blocksize)

    def read(self, partition: InputPartition) -> Iterator[Any]:
        assert isinstance(partition, _Blocks)
        return _read(self.options, partition)
